#ifndef DOSEMAP_SURVEY_LOG_FORMAT_H_
#define DOSEMAP_SURVEY_LOG_FORMAT_H_

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "survey/line_reader.h"
#include "survey/readers.h"

namespace dosemap {

// Takes one record: its line (for a JSON track, its marker's index), its own text (what the
// rejects file shows) and the text the privacy check reads when it is rejected.
using RecordHandler = std::function<void(RecordResult& record, long line, std::string_view text,
                                         std::string_view evidence)>;

// How reading a log ended: of its format to the end, or found not to be of it after all (a JSON
// track that is no JSON, a KML that is not well formed), which is no failure of the program.
struct [[nodiscard]] ReadEnd {
  std::string not_of_format;  // why, in a few words; empty: the log was of its format
};

// The records of one log, as its format reads them.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Hands every record to handle, in the format's order, and says whether the log was of the
  // format. Throws FileError when the log can't be read.
  virtual ReadEnd Read(const RecordHandler& handle) = 0;
};

// The first lines of a log, for telling its format: up to 200 lines that aren't blank, without
// their line ends, and the head's first byte that isn't blank.
struct LogHead {
  explicit LogHead(std::string_view head);
  std::vector<std::string_view> lines;
  char first = '\0';
};

// A device log format, as a row: the loop that tells a log's format and --help read the rows.
struct FormatRow {
  std::string_view name;         // what --from takes; two rows may share one (JSON or TSV)
  std::string_view description;  // one line for --help
  // The index of the head's first line that tells this format, or -1.
  int (*told_by)(const LogHead& head);
  // The parser of a line format, one line at a time; null for a format read otherwise.
  std::unique_ptr<LineParser> (*line_parser)(const ReaderOptions& options);
  // The log's records. reader must outlive the source.
  std::unique_ptr<RecordSource> (*open)(LineReader& reader, const ReaderOptions& options);
  // The own log: its fixed rectangle is a privacy zone.
  bool own_rectangle = false;
  // cpm per µSv/h of the device, for a format that only counts; 0: the log gives doses.
  double cpm_factor = 0;
  // Each record a "$" sentence, comments "#", read by line_parser: the line-for-line copy of the
  // kept records (a cleaned log) can be written of it.
  bool sentences = false;
};

// Every format, in the order a tie on one line is told.
std::span<const FormatRow* const> Formats();

// The format whose telling line comes first in the head (ties in the rows' order), or null.
const FormatRow* DetectFormat(std::string_view head);

// The first row of that name, or null.
const FormatRow* FormatNamed(std::string_view name);

// 1 + the row's place in Formats(), as Measurement::counted_by holds it.
std::uint8_t FormatIndexOf(const FormatRow& format);

// "own, bgeigie, ...": the names --from takes, each once.
std::string FormatNames();

// The records of a line format: each line's records, with the line's number, their place in it
// (Measurement::part) and, unless a record has its own, the line's text. A line longer than
// kMaxLineBytes is one `fields` record.
class LineSource : public RecordSource {
 public:
  LineSource(LineReader& reader, std::unique_ptr<LineParser> parser)
      : reader_(reader), parser_(std::move(parser)) {}
  ReadEnd Read(const RecordHandler& handle) override;

  LineReader& reader() { return reader_; }
  // The parser in the state of the log's start (Read moves it on).
  LineParser& parser() { return *parser_; }

 private:
  LineReader& reader_;
  std::unique_ptr<LineParser> parser_;
};

// A row's open for a line format whose parser is made by Parser.
template <std::unique_ptr<LineParser> (*Parser)(const ReaderOptions&)>
std::unique_ptr<RecordSource> OpenLines(LineReader& reader, const ReaderOptions& options) {
  return std::make_unique<LineSource>(reader, Parser(options));
}

// Helpers of the rows' telling.
bool StartsWith(std::string_view text, std::string_view prefix);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_LOG_FORMAT_H_

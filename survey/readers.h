#ifndef DOSEMAP_SURVEY_READERS_H_
#define DOSEMAP_SURVEY_READERS_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "survey/measurement.h"

namespace dosemap {

struct FormatRow;

struct ReaderOptions {
  // cpm per µSv/h for the formats that only count: --cpm-factor F sets every format's,
  // --cpm-factor FORMAT=F one format's (it wins); else each format's device factor.
  std::optional<double> cpm_factor;
  std::vector<std::pair<std::string, double>> format_cpm_factors;
  std::optional<std::int64_t> utc_offset;  // seconds east of UTC of the own log's local times
  // For a reader that stores records before handing them on (the JSON track): the accuracy
  // check, made as they are read. 0: off. The run sets it from its quality limits.
  double max_accuracy_m = 0;
};

// The factor a format's counts are converted with: the user's for that format, the user's for
// every format, or the format's own.
double CpmFactorOf(const ReaderOptions& options, const FormatRow& format);

// The counting uncertainty of a dose from cpm counts a minute with factor cpm per µSv/h: a
// count N over 60 s is known to ±√N (Poisson), so the dose to dose/√cpm; below one count, the
// dose of one count, 1/factor.
double CountingSigma(double dose_usvh, double cpm, double factor);

// Whether a record reports an accuracy worse than max_m metres (0: the check is off).
bool AccuracyTooPoor(const Measurement& m, double max_m);

// Reads the lines of one log of one format. Each line gives no record (a header, a comment, a
// blank line), one, or for a bGeigie line that lost its line end, several.
class LineParser {
 public:
  virtual ~LineParser() = default;
  // Appends the records of line (without its line end) to results.
  virtual void ParseLine(std::string_view line, std::vector<RecordResult>& results) = 0;
  // A parser in this one's state, to read a later part of the same log on another thread.
  virtual std::unique_ptr<LineParser> Copy() const = 0;
  // How many lines so far changed how the lines after them are read (a header naming the
  // columns). What a copy read holds only while no line before it changed this.
  virtual std::int64_t headers_read() const { return 0; }
};

// A LineParser whose state is its members: Copy copies them.
template <class Self>
class CopyableLineParser : public LineParser {
 public:
  std::unique_ptr<LineParser> Copy() const override {
    return std::make_unique<Self>(static_cast<const Self&>(*this));
  }
};

// The next bytes of a log, however many come; empty at its end.
using ByteSource = std::function<std::string_view()>;
// Takes one marker of a JSON track and the text of its values (what the privacy check reads when
// the marker is rejected).
using MarkerHandler = std::function<void(RecordResult&, std::string_view evidence)>;

// Reads a RadiaCode JSON track as a stream and hands each marker to handle, with its index (from
// 1) as its line: a rejected marker at once, in file order; the kept ones at the end, in time
// order (ties by index). Memory grows with the kept markers only, 48 bytes each. Returns why the
// bytes are not such a track (after the rejected markers read so far), or "" when they are.
[[nodiscard]] std::string ReadRadiacodeJson(const ByteSource& next_bytes,
                                            const ReaderOptions& options,
                                            const MarkerHandler& handle);
// The same over a text in memory: the records in the order handle would take them. Throws
// SurveyError kUnknownFormat when the text is not such a track.
std::vector<RecordResult> ParseRadiacodeJson(std::string_view text, const ReaderOptions& options);

// Shared by the readers: splits text at separator into fields (empty ones kept), trimmed of
// blanks. With quotes, a field in double quotes may hold the separator; the view is what stands
// between the quotes (a doubled quote stays doubled: no reader uses such texts).
void SplitFields(std::string_view text, char separator, bool quotes,
                 std::vector<std::string_view>& fields);

// A number by the number syntax, or nothing.
std::optional<double> NumberIn(std::string_view text);
// The same, also with one decimal comma in place of the point ("37,421"), as exports made under a
// comma locale write numbers.
std::optional<double> CommaNumberIn(std::string_view text);

// The columns of an export that names them in a header line, for formats whose newer versions
// add columns. Until a header is read, each column is where the oldest export has it.
class NamedColumns {
 public:
  struct Column {
    std::string_view name;
    int index;  // -1: not in the header
  };
  explicit NamedColumns(std::vector<Column> columns) : columns_(std::move(columns)) {}
  // Finds each column in the header's fields.
  void ReadHeader(const std::vector<std::string_view>& header);
  // The field of the column (by its position in the constructor's list), or nothing.
  std::optional<std::string_view> Field(const std::vector<std::string_view>& fields,
                                        int column) const;

 private:
  std::vector<Column> columns_;
};

// Reads decimal degrees into result's position when both texts are there and parse, so that
// privacy zones apply whatever else is wrong with the record.
void ReadDecimalPosition(std::optional<std::string_view> latitude,
                         std::optional<std::string_view> longitude, RecordResult& result,
                         bool decimal_comma = false);

// Rejects a kept record with a number that is not finite once converted (as kNumber), then one at
// exactly 0,0 or out of range, in that order.
void CheckPosition(RecordResult& result);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_READERS_H_

// The cleaned log: the kept records' own lines copied out of bGeigie-type and Czech logs, byte for
// byte, so that the measurement database reads them as the device wrote them, checksums and all.
// Records in a privacy zone, rejected records and lines that are no sentence are left out; comment
// lines stay where they stand unless their numbers could be read as a place in a zone.
//
// The run tells the writer which records it kept (their log, line and place in the line); when it
// is finished, the writer reads each log file again and copies what was kept. A bit a line holds
// the kept lines, so memory grows with the lines of the logs, not with their bytes.
#include <memory>
#include <utility>
#include <vector>

#include "maps/map_text.h"
#include "survey/line_reader.h"
#include "survey/log_format.h"
#include "survey/privacy.h"

namespace dosemap {
namespace {

bool Blank(std::string_view text) {
  return text.find_first_not_of(" \t") == std::string_view::npos;
}

bool IsComment(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  return first != std::string_view::npos && text[first] == '#';
}

// What the run kept of one log.
struct KeptRecords {
  std::string path;
  const FormatRow* format = nullptr;
  std::vector<std::uint64_t> first_records;                // bit n: the first record of line n
  std::vector<std::pair<long, std::uint32_t>> later_ones;  // (line, part) of the others, in order
  std::size_t cursor = 0;                                  // the copy's place in later_ones

  void Add(long line, std::uint32_t part) {
    if (part > 0) {
      later_ones.emplace_back(line, part);
      return;
    }
    const std::size_t word = static_cast<std::size_t>(line) / 64;
    if (word >= first_records.size()) first_records.resize(word + 1 + word / 2);
    first_records[word] |= std::uint64_t{1} << (line % 64);
  }
  // Asked in the order of the log's records.
  bool Kept(long line, std::uint32_t part) {
    if (part == 0) {
      const std::size_t word = static_cast<std::size_t>(line) / 64;
      return word < first_records.size() && (first_records[word] >> (line % 64) & 1) != 0;
    }
    const std::pair<long, std::uint32_t> record{line, part};
    while (cursor < later_ones.size() && later_ones[cursor] < record) ++cursor;
    return cursor < later_ones.size() && later_ones[cursor] == record;
  }
};

class CleanedLogWriter : public FormWriter {
 public:
  CleanedLogWriter(ByteSink& sink, const MapOptions& options)
      : sink_(sink), zones_(options.zones), cancel_(options.cancel) {}

  void LogOpened(const OpenLog& log) override {
    logs_.emplace_back();
    logs_.back().path = log.path;
    logs_.back().format = log.format;
  }
  void BeginLog(int log, const std::string&) override {
    current_ = static_cast<std::size_t>(log) < logs_.size() ? &logs_[log] : nullptr;
  }
  void Add(const Measurement& m, int) override {
    if (current_ != nullptr) current_->Add(m.line, m.part);
  }
  void Finish(const DriveStatistics&) override {
    for (KeptRecords& log : logs_) {
      Copy(log);
      log = KeptRecords();  // its bits are no longer needed
    }
  }

 private:
  // A comment stays unless its numbers could be read as a place in a zone.
  bool MayShow(std::string_view comment) const {
    return zones_ == nullptr || zones_->empty() || !MayLieInAnyZone(*zones_, comment);
  }

  // One line out. A line without an end gets "\n" when another follows it.
  void Emit(std::string_view bytes, std::string_view end) {
    if (open_line_) sink_.Write("\n");
    sink_.Write(bytes);
    sink_.Write(end);
    open_line_ = end.empty();
  }

  void Copy(KeptRecords& log) {
    if (log.format == nullptr || log.format->line_parser == nullptr) return;
    // A log that can't be read again is a log's failure; a sink that refuses bytes is the map's,
    // and passes through as the run's other maps' do.
    try {
      LineReader reader(log.path);
      CopyKept(log, reader);
    } catch (const FileError& error) {
      if (error.kind() == FileErrorKind::kWriteFailed) throw;
      throw SurveyError(SurveyErrorKind::kCannotReadLog, error.what());
    }
  }

  void CopyKept(KeptRecords& log, LineReader& reader) {
    // The pieces and records exactly as the run read them: the same reader, the same parser.
    reader.SplitLongLinesBefore('$');
    const std::unique_ptr<LineParser> parser = log.format->line_parser(ReaderOptions{});
    std::vector<RecordResult> results;
    std::string_view piece;
    bool too_long = false;
    long line = 0;
    std::uint32_t part = 0;
    bool in_pieces = false;  // a line over the reader's limit, handed out in pieces
    std::int64_t lines = 0;
    while (reader.NextLine(&piece, &too_long)) {
      if ((++lines & 0xFFF) == 0) ThrowIfCancelled(cancel_);
      const bool first_piece = reader.line_number() != line;
      if (first_piece) line = reader.line_number(), part = 0;
      in_pieces = (in_pieces && !first_piece) || reader.line_continues();
      results.clear();
      if (too_long) {
        results.emplace_back().reason = RejectReason::kFields;
      } else {
        parser->ParseLine(piece, results);
      }
      const std::string_view end = reader.line_end();
      if (results.empty()) {
        if (!Blank(piece) && MayShow(piece)) Emit(piece, end);  // a comment
        continue;
      }
      // Where the records start: before it, a line may hold a comment they were spliced to.
      const std::size_t start =
          results.front().text.empty() ? 0 : results.front().text.data() - piece.data();
      const std::string_view before = piece.substr(0, start);
      bool all_kept = true;
      kept_.clear();
      for (const RecordResult& result : results) {
        const bool kept = log.Kept(line, part++);
        all_kept = all_kept && kept;
        if (kept) kept_.push_back(result.text.empty() ? piece : result.text);
      }
      if (all_kept && !in_pieces && Blank(before)) {
        Emit(piece, end);
        continue;
      }
      // A line that also holds a left-out record: each kept record a line of its own. A piece
      // of a long line knows its end only at its last piece: until then records end with "\n".
      if (first_piece && IsComment(before) && MayShow(before)) Emit(before, end);
      for (const std::string_view record : kept_) Emit(record, end);
    }
  }

  ByteSink& sink_;
  const std::vector<PrivacyZone>* zones_;
  CancelFlag cancel_;
  std::vector<KeptRecords> logs_;
  KeptRecords* current_ = nullptr;
  std::vector<std::string_view> kept_;
  bool open_line_ = false;
};

std::unique_ptr<FormWriter> Write(ByteSink& sink, const std::string&, const MapOptions& options) {
  return std::make_unique<CleanedLogWriter>(sink, options);
}

}  // namespace

const MapFormRow kLogForm = {
    "log",
    {".log", ""},
    "the cleaned log: the kept records' own lines of bGeigie-type and Czech logs, for upload",
    Write,
    MakeStaged<kLogForm>,
    nullptr,
    nullptr,
    nullptr,
    {},
    true};

}  // namespace dosemap

#include "survey/survey_run.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "common/error.h"
#include "common/file_paths.h"
#include "dose/dose_scale.h"
#include "dose/geodesy.h"
#include "survey/parse_ahead.h"
#include "survey/read_ahead.h"

namespace dosemap {
namespace {

// The own log's fixed rectangle, kept off its maps like a zone of the user's.
PrivacyZone OwnLogRectangle() {
  PrivacyZone zone;
  zone.circle = false;
  zone.south = kOwnLogRectangle.south, zone.west = kOwnLogRectangle.west;
  zone.north = kOwnLogRectangle.north, zone.east = kOwnLogRectangle.east;
  return zone;
}

bool Finite(const Measurement& m) {
  return std::isfinite(m.latitude) && std::isfinite(m.longitude) && std::isfinite(m.dose_usvh) &&
         (!m.has_cpm || std::isfinite(m.cpm)) && (!m.has_altitude || std::isfinite(m.altitude));
}

// A record is private when its position lies in a zone; a rejected one also when any reading of
// the numbers of its text could put it in one.
bool Private(const RecordResult& result, const std::vector<PrivacyZone>& zones,
             std::string_view evidence) {
  if (zones.empty()) return false;
  if (result.position_read) {
    const double lat = result.measurement.latitude, lon = result.measurement.longitude;
    // With a bad hemisphere letter any of the four signs may be the true place.
    const int signs = result.sign_unknown ? 4 : 1;
    for (int s = 0; s < signs; ++s) {
      if (InAnyZone(zones, (s & 1) ? -lat : lat, (s & 2) ? -lon : lon)) return true;
    }
  }
  return result.reason != RejectReason::kNone && MayLieInAnyZone(zones, evidence);
}

std::uint64_t FingerprintOf(const RecordResult& result) {
  return result.fingerprint != 0 ? result.fingerprint : FingerprintOf(result.measurement);
}

class Dispatcher {
 public:
  Dispatcher(const SurveyOptions& options, const std::vector<MeasurementSink*>& sinks,
             RejectSink* rejects, DriveStatistics& stats)
      : options_(options), sinks_(sinks), rejects_(rejects), stats_(stats) {}

  void BeginLog(const OpenLog& log, int log_index) {
    zones_ = options_.zones;
    if (log.format->own_rectangle) zones_.push_back(OwnLogRectangle());
    log_ = &log;
    log_index_ = log_index;
    has_last_kept_ = has_pending_ = has_passed_ = false;
    last_passed_record_ = 0;
  }

  // The last record of a log is never judged a GPS jump.
  void EndLog() {
    if (has_pending_) Keep(pending_, pending_record_, pending_step_);
    has_pending_ = false;
  }

  // The judging that needs no record before it: not finite, private (its reason set to
  // kPrivacy), accuracy, duplicate. It may run on the reading thread, ahead of Handle.
  // evidence: what the doubt rule reads.
  void Check(RecordResult& result, std::string_view evidence) {
    const Measurement& m = result.measurement;
    // No map, figure or report ever holds a number that is not finite.
    if (result.reason == RejectReason::kNone && !Finite(m)) result.reason = RejectReason::kNumber;
    if (Private(result, zones_, evidence)) {
      result.reason = RejectReason::kPrivacy;
      return;
    }
    // Outside the period, a record is never a duplicate or a jump: the checks below never see it.
    if (result.reason == RejectReason::kNone && !options_.period.Contains(m.time)) {
      result.outside_period = true;
      return;
    }
    const QualityLimits& limits = options_.quality;
    if (result.reason == RejectReason::kNone && AccuracyTooPoor(m, limits.max_accuracy_m))
      result.reason = RejectReason::kAccuracy;
    if (result.reason == RejectReason::kNone && !limits.keep_duplicates &&
        !seen_.Insert(FingerprintOf(result))) {
      result.reason = RejectReason::kDuplicate;
    }
    result.metres_from_passed = std::numeric_limits<double>::quiet_NaN();
    if (result.reason != RejectReason::kNone) {
      // A record rejected for its accuracy or as a duplicate may have been read far from where
      // it lay (a flipped hemisphere letter): its line goes nowhere when it could be private.
      if (!zones_.empty() && MayLieInAnyZone(zones_, evidence))
        result.reason = RejectReason::kPrivacy;
      return;
    }
    // Most often the record kept last is the one that passed last: the figures' distance is
    // worked out here, off the thread that writes the maps.
    const double cos_latitude = CosLatitude(m.latitude);
    if (has_passed_) {
      result.metres_from_passed =
          GreatCircleMetres(passed_latitude_, passed_longitude_, passed_cos_latitude_, m.latitude,
                            m.longitude, cos_latitude);
    }
    passed_latitude_ = m.latitude, passed_longitude_ = m.longitude;
    passed_cos_latitude_ = cos_latitude;
    has_passed_ = true;
  }

  // Asks for the duplicate check's cells of a record Check will take soon, and keeps the
  // fingerprint for it (only installed when the check is on).
  void Prefetch(RecordResult& result) const {
    if (result.reason != RejectReason::kNone) return;
    if (result.fingerprint == 0) result.fingerprint = FingerprintOf(result.measurement);
    seen_.Prefetch(result.fingerprint);
  }

  // A record that Check has judged. text: the record's text for the rejects file.
  void Handle(RecordResult& result, long line, std::string_view text, std::string_view evidence) {
    Measurement& m = result.measurement;
    if (result.outside_period) {
      stats_.CountOutsidePeriod();
      return;
    }
    ++record_;
    if (result.reason == RejectReason::kPrivacy) {
      CountPrivate(record_);
      return;
    }
    if (result.reason != RejectReason::kNone) {
      Reject(result.reason, line, text);
      return;
    }
    const Step step{last_passed_record_, result.metres_from_passed};
    last_passed_record_ = record_;
    const QualityLimits& limits = options_.quality;
    m.log = log_index_;
    m.line = line;
    if (!(limits.max_speed_kmh > 0)) {
      Keep(m, record_, step);
      return;
    }
    // The record waiting is judged now that the one after it is known.
    if (has_pending_) {
      if (has_last_kept_ && IsGpsJump(last_kept_, pending_, m, limits.max_speed_kmh)) {
        // The doubt rule holds for a jump too: a point thrown off the track may be a home read
        // with the wrong signs.
        if (!zones_.empty() && MayLieInAnyZone(zones_, pending_evidence_)) {
          CountPrivate(pending_record_);
        } else {
          Reject(RejectReason::kGpsJump, pending_.line, pending_text_);
        }
      } else {
        Keep(pending_, pending_record_, pending_step_);
      }
    }
    pending_ = m;
    pending_record_ = record_;
    pending_step_ = step;
    pending_text_.assign(text);
    if (!zones_.empty()) pending_evidence_.assign(evidence);
    has_pending_ = true;
  }

 private:
  void CountPrivate(std::int64_t record) {
    stats_.Reject(RejectReason::kPrivacy);
    last_private_record_ = std::max(last_private_record_, record);
  }

  void Reject(RejectReason reason, long line, std::string_view text) {
    stats_.Reject(reason);
    if (rejects_ != nullptr) rejects_->Reject(log_->name, line, reason, text);
  }

  // A passed record's distance from the one that passed before it, worked out by Check.
  struct Step {
    std::int64_t from_record = 0;  // 0: none
    double metres = std::numeric_limits<double>::quiet_NaN();
  };

  // record: the measurement's place among the log's records, private ones included.
  void Keep(const Measurement& m, std::int64_t record, const Step& step) {
    const int dose_class =
        static_cast<int>(DoseScale{options_.yellow, options_.red}.ClassOf(m.dose_usvh));
    const bool follows = has_last_kept_ && step.from_record == last_kept_record_;
    stats_.Keep(m, dose_class, follows ? step.metres : std::numeric_limits<double>::quiet_NaN());
    // A route never joins two measurements across private records, nor by a line through a zone.
    if (has_last_kept_ &&
        ((last_private_record_ > last_kept_record_ && last_private_record_ < record) ||
         LineMayCrossAnyZone(zones_, last_kept_.latitude, last_kept_.longitude, m.latitude,
                             m.longitude))) {
      for (MeasurementSink* sink : sinks_) sink->Break();
    }
    for (MeasurementSink* sink : sinks_) sink->Add(m, dose_class);
    last_kept_ = m;
    last_kept_record_ = record;
    has_last_kept_ = true;
  }

  const SurveyOptions& options_;
  const std::vector<MeasurementSink*>& sinks_;
  RejectSink* rejects_;
  DriveStatistics& stats_;
  std::vector<PrivacyZone> zones_;
  const OpenLog* log_ = nullptr;
  int log_index_ = 0;
  FingerprintSet seen_;  // the run's records that passed the duplicate check
  Measurement last_kept_, pending_;
  bool has_last_kept_ = false, has_pending_ = false;
  std::string pending_text_, pending_evidence_;
  Step pending_step_;
  // Check's own: where the log's record that passed it last lies.
  bool has_passed_ = false;
  double passed_latitude_ = 0, passed_longitude_ = 0, passed_cos_latitude_ = 1;
  std::int64_t last_passed_record_ = 0;  // Handle's: the record that passed Check last
  // Records of the run in the order they came, to tell where private ones lay between kept ones.
  std::int64_t record_ = 0, pending_record_ = 0, last_kept_record_ = 0, last_private_record_ = 0;
};

}  // namespace

namespace {

// Tells the format of a log whose reader is open: forced, or from its first bytes.
void TellFormat(OpenLog& log, const std::string& path, const FormatRow* forced) {
  const std::string_view head = log.reader->Peek();
  const FormatRow* detected = DetectFormat(head);
  if (forced != nullptr) {
    // Rows may share a name (a RadiaCode track is JSON or tab-separated): the content chooses.
    log.format = detected != nullptr && detected->name == forced->name ? detected : forced;
  } else if (detected != nullptr) {
    log.format = detected;
  } else {
    throw SurveyError(SurveyErrorKind::kUnknownFormat,
                      path + ": not a survey log of a known format (see --from)");
  }
}

}  // namespace

void ThrowIfCancelled(CancelFlag cancel) {
  if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
    throw SurveyError(SurveyErrorKind::kCancelled, "cancelled");
}

namespace {

// Whether file is one of outputs, or the staging file of one ("<output>.XXXXXX", and a
// packer's "<output>.XXXXXX.XXXXXX" beside it).
bool IsOutput(const std::filesystem::path& file,
              const std::vector<std::filesystem::path>& outputs) {
  const std::string name = file.filename().string();
  for (const std::filesystem::path& output : outputs) {
    const std::string output_name = output.filename().string();
    const bool staging =
        name.size() > output_name.size() && name.compare(0, output_name.size(), output_name) == 0 &&
        name[output_name.size()] == '.' &&
        (name.size() == output_name.size() + 7 || name.size() == output_name.size() + 14);
    if (staging ? SamePlace(file.parent_path(), output.parent_path()) : SamePlace(file, output))
      return true;
  }
  return false;
}

// The regular files under folder, by their path under it in byte order, hidden names, links and
// outputs passed over.
std::vector<std::string> FilesUnder(const std::string& folder,
                                    const std::vector<std::filesystem::path>& outputs) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, error), end;
  fs::path at = folder;  // the folder being read, for a message
  for (; !error && it != end; it.increment(error)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    std::error_code ignored;
    const bool is_folder = entry.is_directory(ignored) && !entry.is_symlink(ignored);
    if (is_folder) at = entry.path();
    if (!name.empty() && name[0] == '.') {
      if (is_folder) it.disable_recursion_pending();
      continue;
    }
    if (entry.is_symlink(ignored) || !entry.is_regular_file(ignored)) continue;
    if (!outputs.empty() && IsOutput(entry.path(), outputs)) continue;
    at = entry.path().parent_path();
    files.push_back(entry.path().lexically_relative(folder).generic_string());
  }
  if (error) {
    throw SurveyError(SurveyErrorKind::kCannotReadLog,
                      at.string() + ": cannot read the folder: " + error.message());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

std::vector<OpenLog> OpenLogs(const std::vector<std::string>& paths, const FormatRow* forced,
                              std::int64_t* skipped,
                              const std::vector<std::filesystem::path>& outputs) {
  std::vector<OpenLog> logs;
  for (const std::string& path : paths) {
    std::error_code not_a_folder;
    if (path != "-" && std::filesystem::is_directory(path, not_a_folder)) {
      for (const std::string& file : FilesUnder(path, outputs)) {
        OpenLog log;
        log.path = (std::filesystem::path(path) / file).string();
        log.name = file;
        try {
          log.reader = std::make_unique<LineReader>(log.path);
          TellFormat(log, log.path, forced);
        } catch (const FileError& error) {
          throw SurveyError(SurveyErrorKind::kCannotReadLog, error.what());
        } catch (const SurveyError& error) {
          if (error.kind() != SurveyErrorKind::kUnknownFormat) throw;
          if (skipped != nullptr) ++*skipped;
          continue;
        }
        log.reader.reset();  // a folder may hold more files than may be open at once
        logs.push_back(std::move(log));
      }
      continue;
    }
    OpenLog log;
    log.path = path;
    try {
      log.reader = std::make_unique<LineReader>(path);
      // Maps and rejects name a log by its file name: a shared map tells nothing of the folders.
      log.name = path == "-" ? log.reader->path() : std::filesystem::path(path).filename().string();
      TellFormat(log, path, forced);
    } catch (const FileError& error) {
      throw SurveyError(SurveyErrorKind::kCannotReadLog, error.what());
    }
    logs.push_back(std::move(log));
  }
  return logs;
}

std::vector<std::string> LogFilesUnder(const std::string& folder,
                                       const std::vector<std::filesystem::path>& outputs) {
  return FilesUnder(folder, outputs);
}

OpenLog OpenLogInMemory(const std::string& name, std::string_view bytes, const FormatRow* forced) {
  OpenLog log;
  log.reader = std::make_unique<LineReader>(name, bytes);
  log.name = name;
  TellFormat(log, name, forced);
  return log;
}

void RunSurvey(std::vector<OpenLog>& logs, const SurveyOptions& options,
               const std::vector<MeasurementSink*>& sinks, RejectSink* rejects,
               DriveStatistics& stats, const ProgressCallback& progress, CancelFlag cancel) {
  Dispatcher dispatcher(options, sinks, rejects, stats);
  for (const FormatRow* format : Formats()) {
    if (format->cpm_factor > 0)
      stats.SetCpmFactor(FormatIndexOf(*format), format->name,
                         CpmFactorOf(options.reader, *format));
  }
  stats.set_files(static_cast<std::int64_t>(logs.size()), stats.files_skipped());
  if (options.period.given()) stats.set_period_given();
  std::int64_t total_bytes = 0;
  for (const OpenLog& log : logs) {
    std::error_code error;
    const std::int64_t size =
        log.reader ? log.reader->size()
                   : static_cast<std::int64_t>(std::filesystem::file_size(log.path, error));
    total_bytes = size < 0 || error || total_bytes < 0 ? -1 : total_bytes + size;
  }
  std::int64_t done_bytes = 0;
  std::int64_t records = 0;
  long reported_line = 0;
  for (std::size_t index = 0; index < logs.size(); ++index) {
    OpenLog& log = logs[index];
    const int log_index = static_cast<int>(index);
    if (!log.reader) {
      try {
        log.reader = std::make_unique<LineReader>(log.path);
      } catch (const FileError& error) {
        throw SurveyError(SurveyErrorKind::kCannotReadLog, error.what());
      }
    }
    stats.StartLog();
    for (MeasurementSink* sink : sinks) {
      sink->LogOpened(log);
      sink->BeginLog(log_index, log.name);
    }
    dispatcher.BeginLog(log, log_index);
    try {
      ReaderOptions reader_options = options.reader;
      reader_options.max_accuracy_m = options.quality.max_accuracy_m;
      const std::unique_ptr<RecordSource> source = log.format->open(*log.reader, reader_options);
      // Without the duplicate check nothing is prefetched, and no fingerprint worked out.
      RecordPrefetch prefetch;
      if (!options.quality.keep_duplicates)
        prefetch = [&dispatcher](RecordResult& result) { dispatcher.Prefetch(result); };
      const bool ahead = options.threads > 1;
      // On one thread the records are checked a block at a time when the duplicate check can
      // then ask for its cells ahead; otherwise each is checked as it is handled.
      const bool in_blocks = !ahead && prefetch;
      std::int64_t read_to = 0;  // with reading ahead or in blocks, how far the reading had come
      const RecordCheck check = [&dispatcher](RecordResult& result, std::string_view evidence) {
        dispatcher.Check(result, evidence);
      };
      const RecordHandler handle = [&](RecordResult& result, long line, std::string_view text,
                                       std::string_view evidence) {
        if (!ahead && !in_blocks) dispatcher.Check(result, evidence);
        dispatcher.Handle(result, line, text, evidence);
        if ((++records & 0xFFF) == 0) ThrowIfCancelled(cancel);
        if (progress && (line & 0xFFFF) == 0 && line != reported_line) {
          reported_line = line;
          const std::int64_t bytes =
              done_bytes + (ahead || in_blocks ? read_to : log.reader->bytes_consumed());
          progress(
              {records,
               total_bytes > 0 ? static_cast<double>(bytes) / static_cast<double>(total_bytes) : -1,
               false});
        }
      };
      ReadEnd end;
      LineReader& reader = *log.reader;
      const ReadPosition position = [&reader] { return reader.bytes_consumed(); };
      if (ahead && dynamic_cast<LineSource*>(source.get()) != nullptr) {
        // A line format: its lines are parsed on every core, and checked and handled here.
        end = ParseAhead(*dynamic_cast<LineSource*>(source.get()), options.threads, &read_to, check,
                         handle, prefetch);
      } else if (ahead) {
        end = ReadAhead(*source, position, &read_to, check, handle, prefetch);
      } else if (in_blocks) {
        end = ReadInBlocks(*source, position, &read_to, check, handle, prefetch);
      } else {
        end = source->Read(handle);
      }
      if (!end.not_of_format.empty()) {
        throw SurveyError(SurveyErrorKind::kUnknownFormat, log.reader->path() + ": not a " +
                                                               std::string(log.format->name) +
                                                               " log: " + end.not_of_format);
      }
      dispatcher.EndLog();
    } catch (const FileError& error) {
      // A map that can't take its bytes, or a log that can't give them.
      throw SurveyError(error.kind() == FileErrorKind::kWriteFailed
                            ? SurveyErrorKind::kCannotWriteMap
                            : SurveyErrorKind::kCannotReadLog,
                        error.what());
    }
    done_bytes += log.reader->bytes_consumed();
    log.reader.reset();  // closes the log
  }
  ThrowIfCancelled(cancel);
  if (progress) progress({records, total_bytes > 0 ? 1.0 : -1, false});
}

}  // namespace dosemap

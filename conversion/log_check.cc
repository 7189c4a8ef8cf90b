#include "conversion/log_check.h"

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "common/message_text.h"

namespace dosemap {
namespace {

// A JSON string, invalid UTF-8 replaced rather than refused: a file's name is any bytes.
std::string JsonText(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// One file (or standard input) read on its own: name is what the rejects file calls it.
LogVerdict Judge(const std::string& path, const std::string& shown, const std::string& name,
                 const SurveyOptions& survey, RejectSink* rejects) {
  LogVerdict verdict;
  verdict.file = shown;
  try {
    std::vector<OpenLog> logs = OpenLogs({path}, survey.format);
    if (!name.empty()) logs.front().name = name;
    verdict.format = logs.front().format;
    RunSurvey(logs, survey, {}, rejects, verdict.stats);
  } catch (const SurveyError& error) {
    if (error.kind() != SurveyErrorKind::kCannotReadLog &&
        error.kind() != SurveyErrorKind::kUnknownFormat)
      throw;  // the rejects file, not the log
    verdict.format = nullptr;
    // The line names the file already: the message says why.
    std::string why = error.what();
    if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
    verdict.error = why;
  }
  return verdict;
}

}  // namespace

void CheckLogs(const DriveRequest& request, const std::function<void(const LogVerdict&)>& each) {
  Validate(request);
  SurveyOptions survey = request.survey;
  for (PrivacyZone& zone : ReadZoneFiles(request)) survey.zones.push_back(std::move(zone));
  std::unique_ptr<RejectsFile> rejects;
  std::vector<std::filesystem::path> outputs;
  if (!request.rejects.empty()) {
    try {
      rejects = std::make_unique<RejectsFile>(request.rejects);
    } catch (const FileError& error) {
      throw SurveyError(SurveyErrorKind::kCannotWriteMap, error.what());
    }
    outputs.push_back(request.rejects);
  }
  for (const std::string& path : request.logs) {
    std::error_code not_a_folder;
    if (path == "-" || !std::filesystem::is_directory(path, not_a_folder)) {
      each(Judge(path, path, "", survey, rejects.get()));
      continue;
    }
    std::vector<std::string> files;
    try {
      files = LogFilesUnder(path, outputs);
    } catch (const SurveyError& error) {
      LogVerdict verdict;
      verdict.file = path;
      verdict.error = error.what();
      each(verdict);
      continue;
    }
    for (const std::string& file : files) {
      const std::string full = (std::filesystem::path(path) / file).string();
      each(Judge(full, full, file, survey, rejects.get()));
    }
  }
  if (rejects) {
    try {
      rejects->Finish();
      rejects->Commit();
    } catch (const FileError& error) {
      throw SurveyError(SurveyErrorKind::kCannotWriteMap, error.what());
    }
  }
}

std::string VerdictLine(const LogVerdict& verdict) {
  std::string line = OneLine(verdict.file);
  line += '\t';
  if (!verdict.read()) {
    line += "-\t";
    line += OneLine(verdict.error);
    return line;
  }
  const DriveStatistics& s = verdict.stats;
  line += verdict.format->name;
  line += "\tread " + std::to_string(s.read());
  line += "\tkept " + std::to_string(s.kept());
  line += "\tprivate " + std::to_string(s.privacy());
  line += "\trejected " + std::to_string(s.rejected_total());
  line += '\t';
  std::string reasons;
  for (int r = 1; r < kRejectReasonCount; ++r) {
    const auto reason = static_cast<RejectReason>(r);
    if (reason == RejectReason::kPrivacy || s.rejected(reason) == 0) continue;
    if (!reasons.empty()) reasons += ", ";
    reasons += ReasonName(reason);
    reasons += ' ';
    reasons += std::to_string(s.rejected(reason));
  }
  line += reasons.empty() ? "-" : reasons;
  return line;
}

std::string VerdictJson(const LogVerdict& verdict) {
  std::string json = "{\"file\":" + JsonText(verdict.file);
  if (!verdict.read()) return json + ",\"clean\":false,\"error\":" + JsonText(verdict.error) + "}";
  json += ",\"format\":" + JsonText(std::string(verdict.format->name));
  json += verdict.clean() ? ",\"clean\":true," : ",\"clean\":false,";
  const std::string figures = verdict.stats.Json();
  return json + figures.substr(1);
}

}  // namespace dosemap

// dosemap-convert CSV_BASE KML_BASE [YELLOW RED]: the window's run in the current directory.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/commands.h"
#include "common/staged_file.h"
#include "legacy/convert/conversion_run.h"
#include "maps/kmz.h"

namespace dosemap::cli {
namespace {

class Silent : public Beeper {
 public:
  void Beep() override {}
};

}  // namespace

int LegacyCommand(const LegacyOptions& options) {
  const std::string& csv_base = options.texts[0];
  const std::string& kml_base = options.texts[1];
  const FixedThresholds thresholds(options.texts[2], options.texts[3]);
  TextFiles files;
  Silent beeper;
  RunOutcome outcome;
  int status = 0;
  if (!options.kmz) {
    ClassicMap classic;
    StrictMap strict;
    MapWriter& map = options.strict ? static_cast<MapWriter&>(strict) : classic;
    if (options.strict) RemoveOnInterrupt({ReplacementTempPath(kml_base + ".kml").string()});
    outcome = ConversionRun(files, csv_base, kml_base, thresholds, beeper, map);
  } else {
    // The document goes to a staging file of this run's own, and only a run that opened it packs
    // it: an old KMZ stays byte for byte otherwise.
    const std::string kmz = kml_base + ".kmz";
    if (SameFile(csv_base + ".csv", kmz)) {
      PrintError(kmz + ": is the survey log itself (a link to it); nothing was written");
      return 1;
    }
    // A unique staging document "<kmz>.XXXXXX.kml" beside the KMZ, created empty. The clean-up
    // on signals starts first and the document is known to it as it is made, so an interrupt at
    // any moment leaves none behind.
    RemoveStagingOnInterrupt();
    const std::unique_ptr<StagingPath> staging =
        StagingPath::Create(kmz + ".XXXXXX.kml", StagingKind::kFile, 4);
    if (!staging) {
      PrintError(kmz + ": cannot create: " + std::strerror(errno));
      return 1;
    }
    const std::string document = staging->path().string();
    const std::string document_base = document.substr(0, document.size() - 4);
    StrictMap map(kKmzIconPath, kml_base, /*staged=*/false);
    outcome = ConversionRun(files, csv_base, document_base, thresholds, beeper, map);
    if (outcome.output_opened) {
      try {
        // Staged like every map of the surveyor's path: packed into a staging file, then renamed.
        StagedFile archive(kmz);
        archive.Seal();
        try {
          WriteKmz(archive.staging(),
                   {{"doc.kml", document, {}}, {kKmzIconPath, {}, SquareIconPng()}});
        } catch (const FileError& error) {
          std::string message = error.what();
          const std::string staging = archive.staging().string();
          for (std::size_t at; (at = message.find(staging)) != std::string::npos;)
            message.replace(at, staging.size(), kmz);
          throw FileError(error.kind(), message);
        }
        archive.Commit();
      } catch (const FileError& error) {
        PrintError(error.what());
        status = 1;
      }
    }
    ::unlink(document.c_str());
    // The user knows the map by the KMZ's name, not by its staging document's.
    for (std::size_t at; (at = outcome.message.find(document)) != std::string::npos;) {
      outcome.message.replace(at, document.size(), kmz);
    }
  }
  if (!outcome.reached_end_of_log()) {
    PrintError(outcome.message);
    status = 1;
  }
  if (options.summary && !PrintOut(SummaryLine(outcome) + "\n")) status = 1;
  return status;
}

}  // namespace dosemap::cli

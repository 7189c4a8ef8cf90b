// The KML form: one KML 2.2 document, its icon written beside it.
#include <memory>

#include "maps/kml_document.h"
#include "maps/kmz.h"
#include "textfile/file_error.h"

namespace dosemap {
namespace {

// The icon beside a .kml: "<stem>_files/square.png", and its path relative to the map.
std::string IconFolderName(const std::filesystem::path& out) {
  return out.stem().string() + "_files";
}

std::string IconOf(const std::string& title, const MapOptions& options) {
  return options.icon_url.empty() ? title + "_files/square.png" : options.icon_url;
}

// Refuses a path that is a symbolic link: nothing is written through one.
void RefuseLink(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_symlink(path, error))
    throw FileError(FileErrorKind::kCannotOpen,
                    path.string() + ": is a symbolic link; nothing is written through one");
}

class KmlMap : public SurveyMap {
 public:
  KmlMap(const std::filesystem::path& out, const MapOptions& options)
      : out_(out),
        own_icon_(options.icon_url.empty()),
        folder_(out.parent_path() / IconFolderName(out)),
        file_(CheckedTarget(out, folder_, own_icon_)),
        document_(file_, out.stem().string(), IconOf(out.stem().string(), options)) {}
  void BeginLog(int log, const std::string& name) override { document_.BeginLog(log, name); }
  void Add(const Measurement& m, int dose_class) override { document_.Add(m, dose_class); }
  void Finish(const DriveStatistics& statistics) override {
    document_.Finish(statistics);
    if (own_icon_) StageIcon();
    file_.Close();
  }
  void Commit() override {
    if (icon_) icon_->Commit();
    file_.Commit();
  }

 private:
  // The icon's folder and the icon in it are checked before anything is written.
  static const std::filesystem::path& CheckedTarget(const std::filesystem::path& out,
                                                    const std::filesystem::path& folder,
                                                    bool own_icon) {
    if (own_icon) {
      RefuseLink(folder);
      RefuseLink(folder / "square.png");
    }
    return out;
  }

  void StageIcon() {
    std::error_code error;
    std::filesystem::create_directory(folder_, error);
    if (error)
      throw FileError(FileErrorKind::kWriteFailed,
                      folder_.string() + ": cannot create: " + error.message());
    RefuseLink(folder_);
    icon_ = std::make_unique<StagedFile>(folder_ / "square.png");
    *icon_ << SquareIconPng();
    icon_->Close();
  }

  std::filesystem::path out_;
  bool own_icon_;
  std::filesystem::path folder_;
  StagedFile file_;
  KmlDocument document_;
  std::unique_ptr<StagedFile> icon_;
};

std::unique_ptr<FormWriter> Write(ByteSink& sink, const std::string& title,
                                  const MapOptions& options) {
  return std::make_unique<KmlDocument>(sink, title, IconOf(title, options));
}

std::unique_ptr<SurveyMap> Make(const std::filesystem::path& out, const MapOptions& options) {
  return std::make_unique<KmlMap>(out, options);
}

}  // namespace

const MapFormRow kKmlForm = {
    "kml",
    {".kml", ""},
    "KML 2.2: shared class styles, a folder a log, its icon beside it in OUT_files/",
    Write,
    Make,
    WriteKmlCells,
    MakeStagedGrid<kKmlForm>};

}  // namespace dosemap

// The KML form: one KML 2.2 document, its icon and legend written beside it.
#include <memory>

#include "common/error.h"
#include "maps/kml_document.h"
#include "maps/kmz.h"
#include "maps/legend_image.h"

namespace dosemap {

std::string IconFolderName(const std::filesystem::path& out) {
  return out.stem().string() + "_files";
}

// Refuses a path that is a symbolic link: nothing is written through one.
void RefuseLink(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_symlink(path, error))
    throw FileError(FileErrorKind::kCannotOpen,
                    path.string() + ": is a symbolic link; nothing is written through one");
}

// A picture staged in folder beside the map (made if need be; never through a link), ready for
// Commit.
std::unique_ptr<StagedFile> StagePicture(const std::filesystem::path& folder, const char* name,
                                         std::string_view bytes) {
  std::error_code error;
  std::filesystem::create_directory(folder, error);
  if (error)
    throw FileError(FileErrorKind::kWriteFailed,
                    folder.string() + ": cannot create: " + error.message());
  RefuseLink(folder);
  auto file = std::make_unique<StagedFile>(folder / name);
  *file << bytes;
  file->Close();
  return file;
}

namespace {

// The look of a .kml titled title: our icon and legend beside it, or a web icon and no legend.
KmlLook LookOf(const std::string& title, const MapOptions& options) {
  KmlLook look;
  look.labels = options.labels;
  look.time = options.time;
  if (!options.icon_url.empty()) {
    look.icon = options.icon_url;
  } else {
    look.icon = title + "_files/square.png";
    look.legend = title + "_files/legend.png";
  }
  return look;
}

void Companions(const std::filesystem::path& out, const MapOptions& options,
                std::vector<std::filesystem::path>& files) {
  if (!options.icon_url.empty()) return;
  const std::filesystem::path folder = out.parent_path() / IconFolderName(out);
  files.push_back(folder / "square.png");
  files.push_back(folder / "legend.png");
}

class KmlMap : public SurveyMap {
 public:
  KmlMap(const std::filesystem::path& out, const MapOptions& options)
      : out_(out),
        own_icon_(options.icon_url.empty()),
        folder_(out.parent_path() / IconFolderName(out)),
        file_(CheckedTarget(out, folder_, own_icon_)),
        scale_{options.yellow, options.red},
        document_(file_, out.stem().string(), LookOf(out.stem().string(), options)) {}
  void BeginLog(int log, const std::string& name) override { document_.BeginLog(log, name); }
  void Add(const Measurement& m, int dose_class) override { document_.Add(m, dose_class); }
  void Break() override { document_.Break(); }
  void Finish(const DriveStatistics& statistics) override {
    document_.Finish(statistics);
    if (own_icon_) StageIcons();
    file_.Close();
  }
  void Commit() override {
    if (icon_) icon_->Commit();
    if (legend_) legend_->Commit();
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
      RefuseLink(folder / "legend.png");
    }
    return out;
  }

  void StageIcons() {
    icon_ = StagePicture(folder_, "square.png", SquareIconPng());
    legend_ = StagePicture(folder_, "legend.png", LegendPng(scale_));
  }

  std::filesystem::path out_;
  bool own_icon_;
  std::filesystem::path folder_;
  StagedFile file_;
  DoseScale scale_;
  KmlDocument document_;
  std::unique_ptr<StagedFile> icon_, legend_;
};

// A grid's .kml: its cells, and its legend beside it as the points' map has.
class KmlGridMap : public SurveyMap {
 public:
  KmlGridMap(const std::filesystem::path& out, const MapOptions& options, const GridRequest& grid)
      : own_legend_(options.icon_url.empty()),
        folder_(out.parent_path() / IconFolderName(out)),
        scale_{options.yellow, options.red} {
    if (own_legend_) {
      RefuseLink(folder_);
      RefuseLink(folder_ / "legend.png");
    }
    cells_ = std::make_unique<StagedGridMap>(out, kKmlForm, options, grid);
  }
  void Add(const Measurement&, int) override {}
  void Finish(const DriveStatistics& statistics) override {
    cells_->Finish(statistics);
    if (own_legend_) legend_ = StagePicture(folder_, "legend.png", LegendPng(scale_));
  }
  void Commit() override {
    if (legend_) legend_->Commit();
    cells_->Commit();
  }

 private:
  bool own_legend_;
  std::filesystem::path folder_;
  DoseScale scale_;
  std::unique_ptr<StagedGridMap> cells_;
  std::unique_ptr<StagedFile> legend_;
};

// A comparison's .kml: its cells, and the change legend beside it unless --icon-url is given.
class KmlChangeMap : public SurveyMap {
 public:
  KmlChangeMap(const std::filesystem::path& out, const MapOptions& options,
               const ChangeRequest& change)
      : own_legend_(options.icon_url.empty()),
        folder_(out.parent_path() / IconFolderName(out)),
        change_(change) {
    if (own_legend_) {
      RefuseLink(folder_);
      RefuseLink(folder_ / "legend.png");
    }
    file_ = std::make_unique<StagedFile>(out);
  }
  void Add(const Measurement&, int) override {}
  void Finish(const DriveStatistics&) override {
    const std::string title = file_->target().stem().string();
    *file_ << KmlChangeStart(title, own_legend_ ? title + "_files/legend.png" : "");
    WriteChangeCells(
        change_, [this](const ChangeCell& cell, const CellEdges& edges, const CellChange& change) {
          *file_ << KmlChangePlacemark(cell, edges, change);
        });
    *file_ << kKmlChangeEnd;
    file_->Close();
    if (own_legend_) legend_ = StagePicture(folder_, "legend.png", ChangeLegendPng());
  }
  void Commit() override {
    if (legend_) legend_->Commit();
    file_->Commit();
  }

 private:
  bool own_legend_;
  std::filesystem::path folder_;
  ChangeRequest change_;
  std::unique_ptr<StagedFile> file_;
  std::unique_ptr<StagedFile> legend_;
};

std::unique_ptr<SurveyMap> MakeGrid(const std::filesystem::path& out, const MapOptions& options,
                                    const GridRequest& grid) {
  return std::make_unique<KmlGridMap>(out, options, grid);
}

std::unique_ptr<FormWriter> Write(ByteSink& sink, const std::string& title,
                                  const MapOptions& options) {
  return std::make_unique<KmlDocument>(sink, title, LookOf(title, options));
}

std::unique_ptr<SurveyMap> Make(const std::filesystem::path& out, const MapOptions& options) {
  return std::make_unique<KmlMap>(out, options);
}

const FormOption* const kOptions[] = {&kLabelsOption, &kTimeOption, &kIconUrlOption};

}  // namespace

const MapFormRow kKmlForm = {
    "kml",
    {".kml", ""},
    "KML 2.2: class styles, typed data, a route a log; its icon and legend in OUT_files/",
    Write,
    Make,
    WriteKmlCells,
    MakeGrid,
    Companions,
    kOptions};

std::unique_ptr<SurveyMap> MakeKmlChangeMap(const std::filesystem::path& out,
                                            const MapOptions& options,
                                            const ChangeRequest& change) {
  return std::make_unique<KmlChangeMap>(out, options, change);
}

}  // namespace dosemap

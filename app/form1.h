#ifndef DOSEMAP_APP_FORM1_H_
#define DOSEMAP_APP_FORM1_H_

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/drive_queue.h"
#include "legacy/convert/conversion_run.h"
#include "legacy/settings/settings_file.h"
#include "legacy/textfile/text_files.h"

// The program's one window: four boxes that hold the settings, a button that converts the survey
// log, and their labels. The boxes are the only live copy of the settings; every change of one
// is saved at once. files and beeper must outlive the window.
class Form1 : public QWidget, public dosemap::SettingsBoxes {
  Q_OBJECT

 public:
  Form1(dosemap::TextFiles& files, dosemap::Beeper& beeper, QWidget* parent = nullptr);

  std::string BoxText(dosemap::Box box) const override;
  void SetBoxText(dosemap::Box box, const std::string& text) override;

  // Maps each device log (any format dosemap reads) as "<log without extension>.kmz" and ".html"
  // beside it (the whole file name when two logs of the call share that name), with the
  // thresholds in the boxes and the zones of privacy.txt beside SETT.TXT. The work runs on a
  // thread of its own, behind any still running, with a progress dialog and Cancel; then one box
  // shows what happened (and a warning what failed). A threshold or zone file that is wrong is
  // warned of at once, and nothing runs. What "dosemap FILE..." and a drop onto the window do.
  // The boxes stay as they are.
  void ConvertLogs(const std::vector<std::string>& logs);
  // Writes each bGeigie-type or Czech log's cleaned copy "<name>.clean.<ext>" beside it, with the
  // zones of privacy.txt and no map: the kept records' own lines, ready for upload. The summary
  // box says what was left out; a log of another format is warned of and gets no file. What
  // File > アップロード用に整理…, and a log opened or dropped with Shift held, do.
  void CleanLogs(const std::vector<std::string>& logs);
  // What File > 開く… and アップロード用に整理… ask the logs of: a file dialog unless replaced
  // (tests answer for the user).
  using LogChooser = std::function<std::vector<std::string>(bool clean)>;
  void SetLogChooser(LogChooser chooser) { choose_logs_ = std::move(chooser); }
  // True while logs are being mapped.
  bool ConversionsRunning() const;
  DriveQueue& drive_queue() { return *queue_; }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // While logs are being mapped, a close cancels them first and closes when they have stopped.
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void SaveSettingsOnChange();
  void MakeKmlButtonClick();

 private:
  void CreateControls();
  void ApplyLayout();
  void WireEvents();
  QLineEdit* BoxOf(dosemap::Box box) const;
  void ShowRunFailure(const dosemap::RunOutcome& outcome);
  void ShowWarning(const QString& text);
  void ShowDriveSummary(const QString& text, const std::vector<std::string>& reports);
  void ShowBatchResult(const DriveBatchResult& result);
  // The zone files for the window's drives, or a warning said and false.
  bool ZoneFiles(std::vector<std::string>& zone_files);
  void ChooseLogs(bool clean);

  dosemap::TextFiles& files_;
  dosemap::Beeper& beeper_;
  std::unique_ptr<DriveQueue> queue_;
  bool close_when_done_ = false;

  LogChooser choose_logs_;
  QMenuBar* menu_bar_;
  QWidget* content_;  // the boxes, the button and their labels, below the menu
  QLineEdit* Text1;
  QLineEdit* Text2;
  QLineEdit* Text3;
  QLineEdit* Text5;
  QPushButton* MakeKmlButton;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5[2];
};

#endif  // DOSEMAP_APP_FORM1_H_

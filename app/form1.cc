#include "app/form1.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QMessageBox>
#include <QMimeData>
#include <QPalette>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "common/number_text.h"
#include "conversion/drive_conversion.h"
#include "survey/civil_time.h"

namespace {

constexpr int kTwipsPerPixel = 15;

// "ＭＳ Ｐゴシック" where it is installed, else the proportional IPA Gothic that looks alike.
QFont GothicFont(int points) {
  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                    QStringLiteral("IPAPGothic")});
  font.setPointSize(points);
  return font;
}

enum class FontKind { kWindowDefault, k12, k18 };

struct Placement {
  QWidget* widget;
  int left, top, width, height;  // twips
  FontKind font;
};

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

Form1::Form1(dosemap::TextFiles& files, dosemap::Beeper& beeper, QWidget* parent)
    : QWidget(parent),
      files_(files),
      beeper_(beeper),
      queue_(std::make_unique<DriveQueue>(
          this, [this](const DriveBatchResult& result) { ShowBatchResult(result); })) {
  CreateControls();
  ApplyLayout();
  WireEvents();
  // The load event: the boxes get the stored settings before the window is first shown.
  dosemap::LoadSettings(files_, *this);
}

void Form1::CreateControls() {
  setObjectName(QStringLiteral("Form1"));
  setAcceptDrops(true);
  setWindowTitle(QStringLiteral("CSVからＫＭＬ"));
  menu_bar_ = new QMenuBar(this);
  menu_bar_->setObjectName(QStringLiteral("MenuBar"));
  QMenu* file = menu_bar_->addMenu(QStringLiteral("ファイル(&F)"));
  file->setObjectName(QStringLiteral("FileMenu"));
  file->addAction(QStringLiteral("開く(&O)…"), this, [this] { ChooseLogs(false); })
      ->setObjectName(QStringLiteral("OpenLogs"));
  file->addAction(QStringLiteral("アップロード用に整理(&U)…"), this, [this] { ChooseLogs(true); })
      ->setObjectName(QStringLiteral("CleanForUpload"));
  content_ = new QWidget(this);
  content_->setObjectName(QStringLiteral("Content"));
  const auto box = [this](const char* name, const char* text) {
    auto* edit = new QLineEdit(QString::fromUtf8(text), content_);
    edit->setObjectName(QString::fromUtf8(name));
    return edit;
  };
  const auto label = [this](const char* name, const char* caption) {
    auto* text = new QLabel(QString::fromUtf8(caption), content_);
    text->setObjectName(QString::fromUtf8(name));
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);  // drawn from the top edge, clipped below
    return text;
  };
  Text1 = box("Text1", "Text1");
  Label1 = label("Label1", ".CSV");
  Label2 = label("Label2", "→");
  Text2 = box("Text2", "Text2");
  Label3 = label("Label3", "ｋｍｌ");
  Label4 = label("Label4", "色分け");
  Text3 = box("Text3", "0.19");
  Label5[0] = label("Label5", "μＳｖ/ｈ");
  Label5[0]->setProperty("index", 0);
  MakeKmlButton = new QPushButton(QStringLiteral("ＫＭＬファイル作成"), content_);
  MakeKmlButton->setObjectName(QStringLiteral("KMLファイル作成"));
  // Return and Enter click the focused button, as users expect right after start; it is not
  // the window's default button.
  MakeKmlButton->setAutoDefault(true);
  Text5 = box("Text5", "0.19");
  Label5[1] = label("Label5", "μＳｖ/ｈ");
  Label5[1]->setProperty("index", 1);

  const auto colour_text = [](QLineEdit* edit, QColor colour) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, colour);
    edit->setPalette(palette);
  };
  colour_text(Text3, QColor(0, 192, 0));
  colour_text(Text5, QColor(255, 0, 0));
}

void Form1::ApplyLayout() {
  const Placement table[] = {
      {Text1, 120, 120, 3375, 375, FontKind::k12},
      {Label1, 3480, 240, 495, 255, FontKind::kWindowDefault},
      {Label2, 3960, 120, 735, 255, FontKind::k18},
      {Text2, 4560, 120, 3135, 375, FontKind::k12},
      {Label3, 7800, 240, 855, 255, FontKind::k12},
      {Label4, 240, 840, 735, 255, FontKind::kWindowDefault},
      {Text3, 1560, 720, 975, 495, FontKind::k18},
      {Label5[0], 2640, 960, 1095, 255, FontKind::kWindowDefault},
      {MakeKmlButton, 6240, 720, 1935, 495, FontKind::kWindowDefault},
      {Text5, 1560, 1320, 975, 495, FontKind::k18},
      {Label5[1], 2640, 1560, 1095, 255, FontKind::kWindowDefault},
  };
  for (const Placement& p : table) {
    p.widget->setGeometry(p.left / kTwipsPerPixel, p.top / kTwipsPerPixel, p.width / kTwipsPerPixel,
                          p.height / kTwipsPerPixel);
    if (p.font != FontKind::kWindowDefault)
      p.widget->setFont(GothicFont(p.font == FontKind::k12 ? 12 : 18));
  }
  // The menu above the boxes, which keep their places below it.
  const int bar = menu_bar_->sizeHint().height();
  const QSize content(8970 / kTwipsPerPixel, 1905 / kTwipsPerPixel);
  menu_bar_->setGeometry(0, 0, content.width(), bar);
  content_->setGeometry(0, bar, content.width(), content.height());
  setFixedSize(content.width(), bar + content.height());

  setTabOrder(MakeKmlButton, Text1);
  setTabOrder(Text1, Text2);
  setTabOrder(Text2, Text3);
  setTabOrder(Text3, Text5);
  MakeKmlButton->setFocus();
}

void Form1::WireEvents() {
  for (QLineEdit* edit : {Text1, Text2, Text3, Text5}) {
    connect(edit, &QLineEdit::textChanged, this, &Form1::SaveSettingsOnChange);
  }
  connect(MakeKmlButton, &QPushButton::clicked, this, &Form1::MakeKmlButtonClick);
}

QLineEdit* Form1::BoxOf(dosemap::Box box) const {
  switch (box) {
    case dosemap::Box::kText1:
      return Text1;
    case dosemap::Box::kText2:
      return Text2;
    case dosemap::Box::kText3:
      return Text3;
    case dosemap::Box::kText5:
      return Text5;
  }
  return Text1;
}

std::string Form1::BoxText(dosemap::Box box) const { return BoxOf(box)->text().toStdString(); }

void Form1::SetBoxText(dosemap::Box box, const std::string& text) {
  const QString value = Utf8(text);
  if (BoxOf(box)->text() != value) BoxOf(box)->setText(value);  // textChanged saves at once
}

void Form1::SaveSettingsOnChange() {
  try {
    dosemap::SaveSettings(files_, *this);
  } catch (const dosemap::FileError&) {
    // The old SETT.TXT stays whole; the next change tries again. The window shows no message.
  }
}

void Form1::MakeKmlButtonClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Let the cursor reach the screen; user input waits until the run is over, so the texts read
  // here stay what the run uses.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  const dosemap::FixedThresholds thresholds(BoxText(dosemap::Box::kText3),
                                            BoxText(dosemap::Box::kText5));
  const dosemap::RunOutcome outcome = dosemap::ConversionRun(
      files_, BoxText(dosemap::Box::kText1), BoxText(dosemap::Box::kText2), thresholds, beeper_);
  QApplication::restoreOverrideCursor();
  if (!outcome.reached_end_of_log()) ShowRunFailure(outcome);
}

void Form1::ShowRunFailure(const dosemap::RunOutcome& outcome) {
  using dosemap::RunFailure;
  const QString file = Utf8(outcome.file);
  const QString record = QString::number(outcome.record);
  QString what;
  switch (outcome.failure) {
    case RunFailure::kNone:
      return;
    case RunFailure::kLogNotOpened:
      what = QStringLiteral("調査ログ %1 を開けませんでした。").arg(file);
      break;
    case RunFailure::kLogTooShort:
      what = QStringLiteral("調査ログ %1 に見出しと完全な記録が1件以上ありません。").arg(file);
      break;
    case RunFailure::kOutputNotCreated:
      what = QStringLiteral("ＫＭＬファイル %1 を作成できませんでした。").arg(file);
      break;
    case RunFailure::kRecordUnreadable:
      what = QStringLiteral("調査ログ %1 の記録 %2 を読めませんでした。").arg(file, record);
      break;
    case RunFailure::kYellowThreshold:
      what =
          QStringLiteral("黄色のしきい値が数値ではありません。記録 %2 で変換を止めました（%1）。")
              .arg(file, record);
      break;
    case RunFailure::kRedThreshold:
      what = QStringLiteral("赤のしきい値が数値ではありません。記録 %2 で変換を止めました（%1）。")
                 .arg(file, record);
      break;
    case RunFailure::kCountRateNotNumber:
      what = QStringLiteral("調査ログ %1 の記録 %2 のカウント率（cpm）が数値ではありません。")
                 .arg(file, record);
      break;
    case RunFailure::kWriteFailed:
      what = QStringLiteral("ＫＭＬファイル %1 に書き込めませんでした。").arg(file);
      break;
  }
  // A file name is shown as its characters, never as rich text.
  QMessageBox box(QMessageBox::Warning, windowTitle(),
                  what + QStringLiteral("\n\n") + Utf8(outcome.message), QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

namespace {

constexpr const char* kPrivacyFileName = "privacy.txt";

// A log's maps: "<log without extension>.kmz" and ".html" beside it; when another log of the same
// batch has that name too, the whole file name, so that no map overwrites its neighbour's.
std::vector<std::filesystem::path> MapsOf(const std::string& log,
                                          const std::vector<std::string>& batch) {
  const std::filesystem::path base(log);
  const auto stem_of = [](const std::filesystem::path& path) {
    return std::filesystem::path(path).replace_extension().lexically_normal();
  };
  const auto same = std::count_if(batch.begin(), batch.end(), [&](const std::string& other) {
    return stem_of(other) == stem_of(base);
  });
  if (same > 1) return {std::filesystem::path(log + ".kmz"), std::filesystem::path(log + ".html")};
  return {std::filesystem::path(base).replace_extension(".kmz"),
          std::filesystem::path(base).replace_extension(".html")};
}

}  // namespace

void Form1::dragEnterEvent(QDragEnterEvent* event) {
  if (!event->mimeData()->hasUrls()) return;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (!url.isLocalFile()) return;
  }
  event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
  std::vector<std::string> logs;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) logs.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  event->acceptProposedAction();
  // With Shift held at the drop, the logs are cleaned for upload instead of mapped.
  if (event->modifiers() & Qt::ShiftModifier) return CleanLogs(logs);
  ConvertLogs(logs);
}

void Form1::ChooseLogs(bool clean) {
  std::vector<std::string> logs;
  if (choose_logs_) {
    logs = choose_logs_(clean);
  } else {
    const QStringList chosen = QFileDialog::getOpenFileNames(
        this, clean ? QStringLiteral("アップロード用に整理するログ") : QStringLiteral("開くログ"));
    for (const QString& path : chosen) logs.push_back(QFile::encodeName(path).toStdString());
  }
  if (clean) return CleanLogs(logs);
  ConvertLogs(logs);
}

bool Form1::ZoneFiles(std::vector<std::string>& zone_files) {
  // The user's zones: never skipped silently. Only a file that is not there at all means no zones
  // of the user's own; a link to nothing, a folder or a file that can't be read stops everything.
  const std::filesystem::path privacy = files_.PathOf(kPrivacyFileName);
  struct stat info;
  if (::lstat(privacy.c_str(), &info) == 0 || errno != ENOENT)
    zone_files.push_back(privacy.string());
  try {
    dosemap::DriveRequest request;
    request.zone_files = zone_files;
    dosemap::ReadZoneFiles(request);
  } catch (const dosemap::SurveyError& error) {
    ShowWarning(
        QStringLiteral(
            "プライバシー区域のファイルを読めませんでした。地図を作成しませんでした。\n\n") +
        Utf8(error.what()));
    return false;
  }
  return true;
}

void Form1::CleanLogs(const std::vector<std::string>& logs) {
  if (logs.empty()) return;
  std::vector<std::string> zone_files;
  if (!ZoneFiles(zone_files)) return;
  std::vector<dosemap::DriveRequest> requests;
  for (const std::string& log : logs) {
    dosemap::DriveRequest& request = requests.emplace_back();
    request.logs = {log};
    // drive.LOG -> drive.clean.LOG, drive.log -> drive.clean.log; a log named otherwise (a
    // bGeigie log saved as .txt) -> NAME.clean.LOG, the form's own extension.
    const std::filesystem::path path(log);
    const QString extension = QString::fromStdString(path.extension().string());
    const std::string kept = extension.compare(QStringLiteral(".log"), Qt::CaseInsensitive) == 0
                                 ? extension.toStdString()
                                 : ".LOG";
    request.maps = {std::filesystem::path(path).replace_extension(".clean" + kept)};
    request.zone_files = zone_files;
    request.hotspots.enabled = false;  // a cleaned log lists none
  }
  queue_->Add(std::move(requests));
}

void Form1::ConvertLogs(const std::vector<std::string>& logs) {
  if (logs.empty()) return;
  const dosemap::ParsedNumber yellow = dosemap::ParseNumber(BoxText(dosemap::Box::kText3));
  const dosemap::ParsedNumber red = dosemap::ParseNumber(BoxText(dosemap::Box::kText5));
  if (yellow.status != dosemap::NumberStatus::kNumber) {
    return ShowWarning(
        QStringLiteral("黄色のしきい値が数値ではありません。地図を作成しませんでした。"));
  }
  if (red.status != dosemap::NumberStatus::kNumber) {
    return ShowWarning(
        QStringLiteral("赤のしきい値が数値ではありません。地図を作成しませんでした。"));
  }
  std::vector<std::string> zone_files;
  std::vector<dosemap::DriveRequest> requests;
  for (const std::string& log : logs) {
    dosemap::DriveRequest& request = requests.emplace_back();
    request.logs = {log};
    request.maps = MapsOf(log, logs);
    request.survey.yellow = yellow.value;
    request.survey.red = red.value;
    request.zone_files = zone_files;
  }
  // What concerns every drive is said before any starts; a drive's own fault (a log that is its
  // own map) is said with that drive.
  try {
    dosemap::Validate(requests.front());
  } catch (const dosemap::SurveyError& error) {
    if (error.kind() == dosemap::SurveyErrorKind::kBadThresholds) {
      return ShowWarning(QStringLiteral(
          "黄色のしきい値は赤のしきい値より小さくしてください。地図を作成しませんでした。"));
    }
  }
  if (!ZoneFiles(zone_files)) return;
  for (dosemap::DriveRequest& request : requests) request.zone_files = zone_files;
  queue_->Add(std::move(requests));
}

bool Form1::ConversionsRunning() const { return queue_->busy(); }

void Form1::ShowBatchResult(const DriveBatchResult& result) {
  if (!result.failures.isEmpty()) ShowWarning(result.failures.join(QStringLiteral("\n\n")));
  if (!result.summaries.isEmpty())
    ShowDriveSummary(result.summaries.join(QStringLiteral("\n\n")), result.reports);
  if (close_when_done_) close();
}

void Form1::closeEvent(QCloseEvent* event) {
  if (queue_->busy()) {  // cancel first, then close once the work has stopped
    close_when_done_ = true;
    queue_->Cancel();
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void Form1::ShowWarning(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
  box->setTextFormat(Qt::PlainText);
  box->setObjectName(QStringLiteral("ConversionWarning"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void Form1::ShowDriveSummary(const QString& text, const std::vector<std::string>& reports) {
  auto* box =
      new QMessageBox(QMessageBox::Information, windowTitle(), text, QMessageBox::NoButton, this);
  box->setTextFormat(Qt::PlainText);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box->setObjectName(QStringLiteral("DriveSummary"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  if (!reports.empty()) {  // cleaned logs alone have none
    QPushButton* open = box->addButton(QStringLiteral("レポートを開く"), QMessageBox::ActionRole);
    open->setObjectName(QStringLiteral("OpenReport"));
    // The report opens in the default browser, and the box closes, as any of its buttons does.
    connect(open, &QPushButton::clicked, box, [reports] {
      for (const std::string& report : reports) {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(report))));
      }
    });
  }
  box->addButton(QStringLiteral("閉じる"), QMessageBox::RejectRole)
      ->setObjectName(QStringLiteral("CloseSummary"));
  box->open();
}

#include "app/form1.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace {

using dosemap::testing::TempDir;

using dosemap::testing::CountingBeeper;
using dosemap::testing::SavedLine;

constexpr const char* kLog =
    "Time,Aux,CPM,uSv/h,Lat,Lon,Alt\r\n"
    "2012/07/12 09:29:00,x,100,0.05,35.25,139.5,5\r\n"
    "2012/07/12 09:30:00,,123,0.15,35.5,139.5,10\r\n"
    "2012/07/12 09:30:05,,12,0.04,35.6,139.6,10\r\n";

// A window started in a fresh folder (with the test log when asked), shown and active.
struct Started {
  explicit Started(bool with_log) {
    if (with_log) dir.Write("DATA_0.csv", kLog);
    form = std::make_unique<Form1>(files, beeper);
    form->show();
    active = QTest::qWaitForWindowActive(form.get());
  }
  TempDir dir;
  dosemap::TextFiles files{dir.path()};
  CountingBeeper beeper;
  std::unique_ptr<Form1> form;
  bool active = false;
};

// A log that comes slowly through a pipe: the worker waits on it while the window answers.
struct SlowLog {
  explicit SlowLog(const std::filesystem::path& path) : path_(path) {
    ::mkfifo(path.c_str(), 0600);
  }
  // Opens the writing end (the reader opens on the worker's thread) and sends the first lines.
  void Begin() {
    fd_ = ::open(path_.c_str(), O_WRONLY);
    std::string lines;
    while (lines.size() < 100000) {  // more than the head read to tell the format
      lines +=
          "$BNRDD,2601,2026-11-21T01:30:00Z,28,2,2,A,3725.2600,N,14028.2600,E,210.00,A,9,112*79\n";
    }
    QVERIFY(::write(fd_, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size()));
  }
  void End() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  ~SlowLog() { End(); }
  std::filesystem::path path_;
  int fd_ = -1;
};

class Form1Test : public QObject {
  Q_OBJECT

 private:
  template <typename T>
  T* Child(Form1& form, const char* name) {
    T* child = form.findChild<T*>(QString::fromUtf8(name));
    if (child == nullptr) qFatal("no child %s", name);
    return child;
  }

  // Closes the next message box once it is open and keeps its text.
  void CloseNextMessageBox(QString* text) {
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, [timer, text] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      *text = box->text();
      box->accept();
      timer->deleteLater();
    });
    timer->start(10);
  }

  // The box the window left open (not modal to the application), or null.
  template <typename T = QMessageBox>
  static T* OpenBox(Form1& form, const char* name) {
    return form.findChild<T*>(QString::fromUtf8(name));
  }

  // Waits until the window's logs are mapped (on their thread) and their boxes are up.
  static void WaitForMaps(Form1& form) {
    QTRY_VERIFY_WITH_TIMEOUT(!form.ConversionsRunning(), 60000);
  }

  static void Drop(Form1& form, const QList<QUrl>& urls,
                   Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, modifiers);
    QApplication::sendEvent(&form, &drop);
  }

 private slots:
  void LayoutFollowsTheTable() {
    TempDir dir;
    dosemap::TextFiles files(dir.path());
    CountingBeeper beeper;
    Form1 form(files, beeper);
    QCOMPARE(form.windowTitle(), QStringLiteral("CSVからＫＭＬ"));
    // The boxes keep their places below the menu.
    QWidget* content = Child<QWidget>(form, "Content");
    QWidget* menu = Child<QWidget>(form, "MenuBar");
    QCOMPARE(menu->geometry(), QRect(0, 0, 598, content->y()));
    QVERIFY(content->y() > 0);
    QCOMPARE(content->geometry(), QRect(0, content->y(), 598, 127));
    QCOMPARE(form.size(), QSize(598, content->y() + 127));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    const struct {
      const char* name;
      QRect geometry;
      int points;  // 0: the window's default font
      const char* text;
    } rows[] = {
        {"Text1", {8, 8, 225, 25}, 12, "DATA_0"},
        {"Label1", {232, 16, 33, 17}, 0, ".CSV"},
        {"Label2", {264, 8, 49, 17}, 18, "→"},
        {"Text2", {304, 8, 209, 25}, 12, "DATA_0"},
        {"Label3", {520, 16, 57, 17}, 12, "ｋｍｌ"},
        {"Label4", {16, 56, 49, 17}, 0, "色分け"},
        {"Text3", {104, 48, 65, 33}, 18, "0.11"},
        {"KMLファイル作成", {416, 48, 129, 33}, 0, "ＫＭＬファイル作成"},
        {"Text5", {104, 88, 65, 33}, 18, "0.19"},
    };
    for (const auto& row : rows) {
      QWidget* widget = Child<QWidget>(form, row.name);
      QCOMPARE(widget->geometry(), row.geometry);
      if (row.points != 0) {
        QCOMPARE(widget->font().pointSize(), row.points);
        QVERIFY(widget->font().families().contains(QStringLiteral("IPAPGothic")));
      } else {
        QCOMPARE(widget->font(), form.font());
      }
      const QString text = widget->property("text").toString();
      QCOMPARE(text, QString::fromUtf8(row.text));
    }
    const QList<QLabel*> units = form.findChildren<QLabel*>(QStringLiteral("Label5"));
    QCOMPARE(units.size(), 2);
    QCOMPARE(units[0]->geometry(), QRect(176, 64, 73, 17));
    QCOMPARE(units[1]->geometry(), QRect(176, 104, 73, 17));
    QCOMPARE(Child<QLineEdit>(form, "Text3")->palette().color(QPalette::Text), QColor(0, 192, 0));
    QCOMPARE(Child<QLineEdit>(form, "Text5")->palette().color(QPalette::Text), QColor(255, 0, 0));

    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QWidget* button = Child<QWidget>(form, "KMLファイル作成");
    QCOMPARE(QApplication::focusWidget(), button);
    const char* order[] = {"Text1", "Text2", "Text3", "Text5", "KMLファイル作成"};
    for (const char* name : order) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), Child<QWidget>(form, name));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), Child<QWidget>(form, "Text5"));
    qInfo("12 pt family rendered: %s",
          qPrintable(QFontInfo(Child<QWidget>(form, "Text1")->font()).family()));
  }

  void StartWithoutSettingsWritesTheDefaultsAndTypingSavesEachChange() {
    Started started(false);
    QVERIFY(started.active);
    Form1& form = *started.form;
    const TempDir& dir = started.dir;
    QCOMPARE(dir.Read("SETT.TXT"), SavedLine("DATA_0", "DATA_0", " 11", " 19"));

    QLineEdit* text1 = Child<QLineEdit>(form, "Text1");
    text1->setFocus();
    text1->end(false);
    QTest::keyClick(text1, Qt::Key_X);
    QCOMPARE(dir.Read("SETT.TXT"), SavedLine("DATA_0x", "DATA_0", " 11", " 19"));
    QTest::keyClick(text1, Qt::Key_Backspace);
    QCOMPARE(dir.Read("SETT.TXT"), SavedLine("DATA_0", "DATA_0", " 11", " 19"));

    QLineEdit* text3 = Child<QLineEdit>(form, "Text3");
    text3->setFocus();
    text3->selectAll();
    const struct {
      char key;
      const char* field;
    } keys[] = {{'0', " 0"}, {'.', " 0"}, {'2', " 20"}, {'5', " 25"}};
    for (const auto& key : keys) {
      QTest::keyClick(text3, key.key);
      QCOMPARE(dir.Read("SETT.TXT"), SavedLine("DATA_0", "DATA_0", key.field, " 19"));
    }
    text3->selectAll();
    QTest::keyClick(text3, Qt::Key_Delete);  // an empty box keeps the last good settings
    QCOMPARE(dir.Read("SETT.TXT"), SavedLine("DATA_0", "DATA_0", " 25", " 19"));
  }

  void KeysAndClicksRunTheConversionWithOneBeepEach() {
    Started started(true);
    QVERIFY(started.active);
    Form1& form = *started.form;
    const TempDir& dir = started.dir;
    const CountingBeeper& beeper = started.beeper;

    TempDir reference;
    reference.Write("DATA_0.csv", kLog);
    dosemap::TextFiles reference_files(reference.path());
    CountingBeeper quiet;
    dosemap::ConversionRun(reference_files, "DATA_0", "DATA_0",
                           dosemap::FixedThresholds("0.11", "0.19"), quiet);
    const std::string expected = reference.Read("DATA_0.kml");

    QWidget* button = Child<QWidget>(form, "KMLファイル作成");
    int runs = 0;
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
      std::filesystem::remove(dir.path() / "DATA_0.kml");
      QTest::keyClick(button, key);
      QCOMPARE(beeper.beeps, ++runs);
      QCOMPARE(dir.Read("DATA_0.kml"), expected);
    }
    std::filesystem::remove(dir.path() / "DATA_0.kml");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(beeper.beeps, ++runs);
    QCOMPARE(dir.Read("DATA_0.kml"), expected);
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void DroppedLogsAreMappedBesideThemselvesAndTheBoxesStayAsTheyAre() {
    Started started(false);
    Form1& form = *started.form;
    const TempDir& dir = started.dir;
    std::filesystem::copy_file(DOSEMAP_EXAMPLES "/drive.LOG", dir.path() / "drive.LOG");
    dir.Write("notes.txt", "not a log\n");
    const std::string settings = dir.Read("SETT.TXT");
    Drop(form, {QUrl::fromLocalFile(QString::fromStdString((dir.path() / "drive.LOG").string())),
                QUrl::fromLocalFile(QString::fromStdString((dir.path() / "notes.txt").string()))});
    WaitForMaps(form);
    QVERIFY(dir.Exists("drive.kmz"));
    QVERIFY(dir.Exists("drive.html"));
    QVERIFY(!dir.Exists("notes.kmz"));
    auto* summary = OpenBox(form, "DriveSummary");
    QVERIFY(summary != nullptr);
    QCOMPARE(summary->windowTitle(), form.windowTitle());
    const QString text = summary->text();
    // Reasons by name and code, times in the system's zone (Asia/Tokyo in this test), three digits.
    for (const char* part :
         {"drive.LOG", "地図：drive.kmz、drive.html",
          "採用 117 件、除外 4 件（チェックサム不一致 (checksum) 2、GPS 測位なし (gps_void) 2）",
          "プライバシー区域 0 件", "最高線量 0.656 μSv/h（2026-11-21T10:34:50+09:00）",
          "積算線量 0.0223 μSv",
          "ホットスポット 1 件（1 位 0.656 μSv/h、2026-11-21T10:34:50+09:00、周辺の 5.475 倍）"}) {
      QVERIFY2(text.contains(QString::fromUtf8(part)), qPrintable(text));
    }
    QVERIFY(OpenBox<QPushButton>(form, "OpenReport") != nullptr);
    auto* warning = OpenBox(form, "ConversionWarning");
    QVERIFY(warning != nullptr);
    QVERIFY2(warning->text().contains(QStringLiteral("notes.txt")), qPrintable(warning->text()));
    QCOMPARE(dir.Read("SETT.TXT"), settings);
    QCOMPARE(Child<QLineEdit>(form, "Text1")->text(), QStringLiteral("DATA_0"));
    QCOMPARE(started.beeper.beeps, 0);
  }

  void PrivacyZonesBesideTheSettingsApplyAndABadFileStopsEverything() {
    Started started(false);
    Form1& form = *started.form;
    const TempDir& dir = started.dir;
    std::filesystem::copy_file(DOSEMAP_EXAMPLES "/drive.LOG", dir.path() / "drive.LOG");
    const QString log = QString::fromStdString((dir.path() / "drive.LOG").string());
    dir.Write("privacy.txt", "# home\n37.4457,140.5035,150\n");
    form.ConvertLogs({log.toStdString()});
    WaitForMaps(form);
    auto* summary = OpenBox(form, "DriveSummary");
    QVERIFY(summary != nullptr);
    QVERIFY2(summary->text().contains(QStringLiteral("プライバシー区域 4 件")),
             qPrintable(summary->text()));
    summary->close();
    QTRY_VERIFY(OpenBox(form, "DriveSummary") == nullptr);

    std::filesystem::remove(dir.path() / "drive.kmz");
    dir.Write("privacy.txt", "37.4457,140.5035,150\n37.4457 140.5035\n");
    form.ConvertLogs({log.toStdString()});
    auto* warning = OpenBox(form, "ConversionWarning");
    QVERIFY(warning != nullptr);
    QVERIFY2(warning->text().contains(QStringLiteral("privacy.txt: line 2")),
             qPrintable(warning->text()));
    QVERIFY(!dir.Exists("drive.kmz"));
    QVERIFY(OpenBox(form, "DriveSummary") == nullptr);
    warning->close();
    QTRY_VERIFY(OpenBox(form, "ConversionWarning") == nullptr);

    // A link to nothing or a folder is not "no file": it stops the maps too.
    for (const bool folder : {false, true}) {
      std::filesystem::remove(dir.path() / "privacy.txt");
      if (folder) {
        std::filesystem::create_directory(dir.path() / "privacy.txt");
      } else {
        std::filesystem::create_symlink(dir.path() / "moved.txt", dir.path() / "privacy.txt");
      }
      form.ConvertLogs({log.toStdString()});
      auto* refused = OpenBox(form, "ConversionWarning");
      QVERIFY(refused != nullptr);
      QVERIFY2(refused->text().contains(QStringLiteral("privacy.txt")),
               qPrintable(refused->text()));
      QVERIFY(!dir.Exists("drive.kmz"));
      refused->close();
      QTRY_VERIFY(OpenBox(form, "ConversionWarning") == nullptr);
    }
  }

  void AFileNameIsShownAsItsCharactersNeverAsRichText() {
    Started started(false);
    Form1& form = *started.form;
    const TempDir& dir = started.dir;
    const std::string name = "<h1 style=\"color:red\">ALL CLEAR.LOG";
    std::filesystem::copy_file(DOSEMAP_EXAMPLES "/drive.LOG", dir.path() / name);
    form.ConvertLogs({(dir.path() / name).string()});
    WaitForMaps(form);
    auto* summary = OpenBox(form, "DriveSummary");
    QVERIFY(summary != nullptr);
    QCOMPARE(summary->textFormat(), Qt::PlainText);
    QVERIFY2(summary->text().contains(QString::fromStdString(name)), qPrintable(summary->text()));
    summary->close();
    dir.Write("<b>not a log.txt", "nothing\n");
    form.ConvertLogs({(dir.path() / "<b>not a log.txt").string()});
    WaitForMaps(form);
    auto* warning = OpenBox(form, "ConversionWarning");
    QVERIFY(warning != nullptr);
    QCOMPARE(warning->textFormat(), Qt::PlainText);
    // What the box paints: its label, as plain text, the name's characters shown.
    for (QMessageBox* box : {warning}) {
      auto* shown = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
      QVERIFY(shown != nullptr);
      QCOMPARE(shown->textFormat(), Qt::PlainText);
      QVERIFY2(shown->text().contains(QStringLiteral("<b>not a log.txt")),
               qPrintable(shown->text()));
    }
  }

  void ALongRunShowsItsProgressAndCancelLeavesTheOldMaps() {
    Started started(false);
    Form1& form = *started.form;
    const TempDir& dir = started.dir;
    dir.Write("slow.kmz", "old kmz");
    dir.Write("slow.html", "old html");
    SlowLog log(dir.path() / "slow.LOG");
    form.ConvertLogs({log.path_.string()});
    log.Begin();
    // The window's own timers keep firing while the worker waits on the log.
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(form.drive_queue().dialog() != nullptr, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 10, 20000);
    QVERIFY(form.ConversionsRunning());
    QProgressDialog* dialog = form.drive_queue().dialog();
    QCOMPARE(dialog->windowTitle(), form.windowTitle());
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QVERIFY2(dialog->labelText().contains(QStringLiteral("slow.LOG（1 / 1）")),
             qPrintable(dialog->labelText()));
    // The log's name is plain text in the dialog too.
    auto* label = dialog->findChild<QLabel*>(QStringLiteral("DriveProgressLabel"));
    QVERIFY(label != nullptr);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    // Escape cancels through the dialog's shortcut, which only an active window hears: before
    // that, a busy machine's Escape would only hide the dialog.
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QTest::keyClick(dialog, Qt::Key_Escape);  // as the user cancels
    log.End();
    WaitForMaps(form);
    auto* summary = OpenBox(form, "DriveSummary");
    QVERIFY(summary != nullptr);
    QVERIFY2(summary->text().contains(QStringLiteral("slow.LOG：キャンセル")),
             qPrintable(summary->text()));
    QCOMPARE(dir.Read("slow.kmz"), std::string("old kmz"));
    QCOMPARE(dir.Read("slow.html"), std::string("old html"));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (std::vector<std::string>{"SETT.TXT", "slow.LOG", "slow.html", "slow.kmz"}));
  }

  void TwoLogsOfOneNameGetFourMapsAndLaterLogsQueueBehind() {
    Started started(false);
    Form1& form = *started.form;
    const TempDir& dir = started.dir;
    for (const char* name : {"drive.LOG", "drive.rctrk"})
      std::filesystem::copy_file(std::string(DOSEMAP_EXAMPLES "/") + name, dir.path() / name);
    std::filesystem::copy_file(DOSEMAP_EXAMPLES "/drive.ers", dir.path() / "other.ers");
    form.ConvertLogs({(dir.path() / "drive.LOG").string(), (dir.path() / "drive.rctrk").string()});
    form.ConvertLogs({(dir.path() / "other.ers").string()});  // joins the batch that runs
    WaitForMaps(form);
    for (const char* map :
         {"drive.LOG.kmz", "drive.LOG.html", "drive.rctrk.kmz", "drive.rctrk.html", "other.kmz"})
      QVERIFY2(dir.Exists(map), map);
    QVERIFY(!dir.Exists("drive.kmz"));
    auto* summary = OpenBox(form, "DriveSummary");
    QVERIFY(summary != nullptr);
    QVERIFY2(summary->text().contains(QStringLiteral("地図：drive.rctrk.kmz、drive.rctrk.html")),
             qPrintable(summary->text()));
    QVERIFY2(summary->text().contains(QStringLiteral("other.ers")), qPrintable(summary->text()));
  }

  void ShiftDropAndTheFileMenuCleanLogsForUpload() {
    Started started(false);
    Form1& form = *started.form;
    const TempDir& dir = started.dir;
    std::filesystem::copy_file(DOSEMAP_EXAMPLES "/drive.LOG", dir.path() / "drive.LOG");
    std::filesystem::copy_file(DOSEMAP_EXAMPLES "/drive.ers", dir.path() / "other.ers");
    dir.Write("privacy.txt", "# home\n37.4457,140.5035,150\n");
    const auto url = [&dir](const char* name) {
      return QUrl::fromLocalFile(QString::fromStdString((dir.path() / name).string()));
    };
    Drop(form, {url("drive.LOG"), url("other.ers")}, Qt::ShiftModifier);
    WaitForMaps(form);
    QVERIFY(dir.Exists("drive.clean.LOG"));
    for (const char* none : {"drive.kmz", "drive.html", "other.clean.LOG", "other.kmz"})
      QVERIFY2(!dir.Exists(none), none);
    auto* summary = OpenBox(form, "DriveSummary");
    QVERIFY(summary != nullptr);
    for (const char* part : {"アップロード用ログ：drive.clean.LOG", "採用 113 件、除外 4 件",
                             "チェックサム不一致 (checksum) 2", "プライバシー区域 4 件"}) {
      QVERIFY2(summary->text().contains(QString::fromUtf8(part)), qPrintable(summary->text()));
    }
    QVERIFY(OpenBox<QPushButton>(form, "OpenReport") == nullptr);          // no report was written
    QVERIFY(!summary->text().contains(QStringLiteral("ホットスポット")));  // nor looked for
    auto* warning = OpenBox(form, "ConversionWarning");
    QVERIFY(warning != nullptr);
    QVERIFY2(warning->text().contains(QStringLiteral("other.ers はアップロード用に整理できません")),
             qPrintable(warning->text()));
    // The kept records' own lines: 113 sentences (two on a line that lost its end) and the log's
    // three comment lines.
    const std::string cleaned = dir.Read("drive.clean.LOG");
    QCOMPARE(std::count(cleaned.begin(), cleaned.end(), '$'), 113);
    QCOMPARE(std::count(cleaned.begin(), cleaned.end(), '\n'), 115);
    QVERIFY(cleaned.rfind("# NEW LOG\r\n# format=1.3.6nano\r\n# deadtime=on\r\n$BNRDD,", 0) == 0);
    summary->close();
    warning->close();
    QTRY_VERIFY(OpenBox(form, "DriveSummary") == nullptr);

    // File > アップロード用に整理… asks for the logs (the dialog answered here), then cleans them
    // the same way; File > 開く… maps them.
    std::filesystem::remove(dir.path() / "drive.clean.LOG");
    std::vector<bool> asked;
    form.SetLogChooser([&](bool clean) {
      asked.push_back(clean);
      return std::vector<std::string>{(dir.path() / "drive.LOG").string()};
    });
    Child<QAction>(form, "CleanForUpload")->trigger();
    WaitForMaps(form);
    QCOMPARE(dir.Read("drive.clean.LOG"), cleaned);
    QVERIFY(!dir.Exists("drive.kmz"));
    Child<QAction>(form, "OpenLogs")->trigger();
    WaitForMaps(form);
    QVERIFY(dir.Exists("drive.kmz"));
    QCOMPARE(asked, std::vector<bool>({true, false}));
  }

  void ClosingTheWindowWhileItWorksCancelsFirst() {
    Started started(false);
    Form1& form = *started.form;
    SlowLog log(started.dir.path() / "slow.LOG");
    form.ConvertLogs({log.path_.string()});
    log.Begin();
    QVERIFY(!form.close());  // refused for now: the work is cancelled first
    QVERIFY(form.isVisible());
    log.End();
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 60000);
    QVERIFY(!started.dir.Exists("slow.kmz"));
  }

  void AFailedRunBeepsOnceThenWarnsOnce() {
    Started started(true);
    QVERIFY(started.active);
    Form1& form = *started.form;
    const TempDir& dir = started.dir;
    const CountingBeeper& beeper = started.beeper;
    Child<QLineEdit>(form, "Text3")->setText(QString());

    QString warning;
    CloseNextMessageBox(&warning);
    QTest::mouseClick(Child<QWidget>(form, "KMLファイル作成"), Qt::LeftButton);
    QCOMPARE(beeper.beeps, 1);
    QVERIFY2(warning.contains(QStringLiteral("黄色のしきい値")), qPrintable(warning));
    QVERIFY(warning.contains(QStringLiteral("DATA_0.csv")));
    const std::string kml = dir.Read("DATA_0.kml");
    const std::string tail = " <Placemark>\r\n</Folder>\r\n</Folder>\r\n </kml>\r\n";
    QVERIFY(kml.size() > tail.size());
    QCOMPARE(kml.substr(kml.size() - tail.size()), tail);

    Child<QLineEdit>(form, "Text1")->setText(QStringLiteral("missing"));
    CloseNextMessageBox(&warning);
    QTest::mouseClick(Child<QWidget>(form, "KMLファイル作成"), Qt::LeftButton);
    QCOMPARE(beeper.beeps, 2);
    QVERIFY2(warning.contains(QStringLiteral("missing.csv")), qPrintable(warning));
  }
};

}  // namespace

QTEST_MAIN(Form1Test)
#include "form1_test.moc"

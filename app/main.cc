// dosemap: the window that turns a survey log into a KML map, working in the current directory.
#include <langinfo.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/form1.h"
#include "common/staged_file.h"

namespace {

class SystemBeep : public dosemap::Beeper {
 public:
  void Beep() override { QApplication::beep(); }
};

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Without a UTF-8 character type (an empty environment, LANG=C) Xlib writes the Japanese title
// to WM_NAME as mangled Latin-1, and window managers show that. Only the character type changes:
// numbers never go through the locale.
void UseUtf8CharacterType() {
  if (std::setlocale(LC_ALL, "") == nullptr) {
    // The environment names a locale this machine doesn't have (LANG=ja_JP.UTF-8 before it is
    // generated): every category would stay "C", so the choice must cover them all.
    ::setenv("LC_ALL", "C.UTF-8", 1);
    return;
  }
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr &&
      (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0)) {
    return;
  }
  // QApplication sets the locale from the environment again, so the choice goes there.
  ::setenv(IsSet("LC_ALL") ? "LC_ALL" : "LC_CTYPE", "C.UTF-8", 1);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--version") {
      std::puts("dosemap " DOSEMAP_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(
          "usage: dosemap [--home] [FILE...]\n"
          "The window that turns a survey log into a KML map in the current folder. Each FILE\n"
          "(a device log of any format dosemap-convert reads) is mapped as FILE.kmz and\n"
          "FILE.html beside it; with Shift held as it starts, a bGeigie-type or Czech log is\n"
          "cleaned for upload as NAME.clean.EXT beside it instead. --home works in the home\n"
          "folder, as the desktop menu starts it.\n",
          stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }
  // Qt aborts with a page of text when there is no display; say it in one line instead.
  if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
    std::fputs(
        "dosemap: no display to show the window on (DISPLAY is not set); "
        "use dosemap-convert to convert without a window\n",
        stderr);
    return 1;
  }
  UseUtf8CharacterType();
  // Killed while it maps (a desktop's logout sends SIGTERM or SIGHUP), the window leaves no
  // staging file beside the logs. Before QApplication, which starts threads of its own.
  dosemap::RemoveStagingOnSignals();
  QApplication app(argc, argv);
  QStringList arguments = app.arguments().mid(1);
  const bool in_home = arguments.removeAll(QStringLiteral("--home")) > 0;
  // "dosemap FILE...", as a file manager's "Open with" runs it: the logs are mapped once the
  // window is up, named as they were where the program was started.
  std::vector<std::string> logs;
  for (const QString& argument : arguments) {
    logs.push_back(QFile::encodeName(QFileInfo(argument).absoluteFilePath()).toStdString());
  }
  // From the desktop menu the window works in the home folder, as it does in the current folder
  // from a terminal: that is where SETT.TXT and the logs are.
  if (in_home) {
    const char* home = std::getenv("HOME");
    if (home == nullptr || ::chdir(home) != 0) {
      std::fprintf(stderr, "dosemap: cannot work in the home folder %s\n",
                   home == nullptr ? "(HOME is not set)" : home);
      return 1;
    }
  }
  dosemap::TextFiles files;
  SystemBeep beeper;
  Form1 form(files, beeper);
  form.show();
  // Opened with Shift held, the logs are cleaned for upload instead of mapped.
  const bool clean = QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
  if (!logs.empty()) {
    QTimer::singleShot(0, &form, [&form, logs, clean] {
      if (clean) return form.CleanLogs(logs);
      form.ConvertLogs(logs);
    });
  }
  return app.exec();
}

// dosemap: the window that turns a survey log into a KML map, working in the current directory.
#include <langinfo.h>

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/form1.h"

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
  std::setlocale(LC_ALL, "");
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0)) {
    return;
  }
  // QApplication sets the locale from the environment again, so the choice goes there.
  ::setenv(IsSet("LC_ALL") ? "LC_ALL" : "LC_CTYPE", "C.UTF-8", 1);
}

}  // namespace

int main(int argc, char** argv) {
  // Qt aborts with a page of text when there is no display; say it in one line instead.
  if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
    std::fputs("dosemap: no display to show the window on (DISPLAY is not set); "
               "use dosemap-convert to convert without a window\n",
               stderr);
    return 1;
  }
  UseUtf8CharacterType();
  QApplication app(argc, argv);
  dosemap::TextFiles files;
  SystemBeep beeper;
  Form1 form(files, beeper);
  form.show();
  // "dosemap FILE...", as a file manager's "Open with" runs it: the logs are mapped once the
  // window is up.
  std::vector<std::string> logs;
  for (const QString& argument : app.arguments().mid(1)) logs.push_back(QFile::encodeName(argument).toStdString());
  if (!logs.empty()) QTimer::singleShot(0, &form, [&form, logs] { form.ConvertLogs(logs); });
  return app.exec();
}

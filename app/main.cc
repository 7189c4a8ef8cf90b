// dosemap: the window that turns a survey log into a KML map, working in the current directory.
#include <QApplication>

#include "app/form1.h"

namespace {

class SystemBeep : public dosemap::Beeper {
 public:
  void Beep() override { QApplication::beep(); }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  dosemap::TextFiles files;
  SystemBeep beeper;
  Form1 form(files, beeper);
  form.show();
  return app.exec();
}

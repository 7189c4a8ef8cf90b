// Times one click of the window's button on a given survey log (offscreen), to compare the
// window's run with dosemap-convert's: usage window_run_bench DIR BASE, prints seconds.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>
#include <cstdio>

#include "app/form1.h"

namespace {
class Quiet : public dosemap::Beeper {
 public:
  void Beep() override {}
};
}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: window_run_bench DIR BASE\n");
    return 2;
  }
  dosemap::TextFiles files{std::filesystem::path(argv[1])};
  Quiet quiet;
  Form1 form(files, quiet);
  form.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QString::fromLocal8Bit(argv[2]));
  form.findChild<QLineEdit*>(QStringLiteral("Text2"))
      ->setText(QString::fromLocal8Bit(argv[2]) + "_window");
  QElapsedTimer timer;
  timer.start();
  form.findChild<QPushButton*>()->click();
  std::printf("%.3f\n", timer.nsecsElapsed() / 1e9);
  return 0;
}

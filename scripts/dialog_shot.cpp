// Draws the Open dialog over a window of a given screen size and saves a picture of it,
// for the documentation. Usage: fennwick-dialog-shot OUT.png WIDTH HEIGHT FOLDER [PICK]
#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "ui/flasher_dlg.h"
#include "ui/layout.h"
#include "ui/touch_dialogs.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: fennwick-dialog-shot OUT.png WIDTH HEIGHT FOLDER [PICK]\n");
    return 2;
  }
  QApplication app(argc, argv);
  const int w = std::atoi(argv[2]);
  const int h = std::atoi(argv[3]);
  if (w <= 0 || h <= 0) {
    std::fprintf(stderr, "fennwick-dialog-shot: bad size %sx%s\n", argv[2], argv[3]);
    return 2;
  }
  QWidget screen;
  screen.setWindowFlag(Qt::FramelessWindowHint);
  screen.setGeometry(0, 0, w, h);
  screen.show();
  fennwick::CS19FileDialog dialog(&screen, w, h, fennwick::MakeDialogFont(fennwick::ScaleX(10, w), screen.logicalDpiY()), QString::fromLocal8Bit(argv[4]));
  if (argc > 5) {
    const auto rows = dialog.List()->findItems(QString::fromLocal8Bit(argv[5]), Qt::MatchExactly);
    if (!rows.isEmpty()) dialog.TapRow(dialog.List()->row(rows.first()));
  }
  int code = 0;
  QTimer::singleShot(300, &dialog, [&] {
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
      std::fprintf(stderr, "fennwick-dialog-shot: cannot write %s\n", argv[1]);
      code = 1;
    }
    dialog.reject();
  });
  dialog.exec();
  return code;
}

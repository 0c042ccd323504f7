// The window's tests run headless: the offscreen platform needs no display.
#include <gmock/gmock.h>

#include <QApplication>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleMock(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

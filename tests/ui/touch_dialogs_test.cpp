// The Open dialog and the Start confirmation on the device's small touch screens.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "fakes/temp_dir.h"
#include "ui/layout.h"
#include "ui/touch_dialogs.h"
#include "ui_test_support.h"

namespace fennwick {

namespace {

struct Screen {
  int w, h;
};

class TouchDialogs : public testing::TestWithParam<Screen> {
 protected:
  void SetUp() override {
    // As the main window on the device: frameless over the whole screen.
    screen.setWindowFlag(Qt::FramelessWindowHint);
    screen.setGeometry(0, 0, GetParam().w, GetParam().h);
    screen.show();
    font = MakeDialogFont(ScaleX(10, GetParam().w), 96);
  }
  // Every visible control lies inside the dialog, the dialog inside the screen, and every
  // control a finger uses is at least 20 grid units high (40 px on a 480-line screen).
  void ExpectFitsAndTouchable(QDialog& d, const std::vector<QWidget*>& touched) {
    const QRect screenRect(0, 0, GetParam().w, GetParam().h);
    EXPECT_TRUE(screenRect.contains(d.geometry())) << d.geometry().x() << "," << d.geometry().y() << " "
                                                   << d.width() << "x" << d.height();
    for (QWidget* w : d.findChildren<QWidget*>()) {
      if (!w->isVisible() || w->parentWidget() != &d) continue;
      EXPECT_TRUE(d.rect().contains(w->geometry())) << w->objectName().toStdString();
    }
    for (QWidget* w : touched) {
      EXPECT_TRUE(w->isVisible()) << w->objectName().toStdString();
      EXPECT_GE(w->height(), ScaleY(20, GetParam().h)) << w->objectName().toStdString();
    }
    EXPECT_EQ(d.font().pixelSize(), font.pixelSize());
    EXPECT_EQ(d.font().pointSizeF(), font.pointSizeF());
  }

  QWidget screen;
  QFont font;
};

TEST_P(TouchDialogs, FileDialogFitsTheScreenWithFingerSizedRowsAndCancelWorks) {
  const TempDir tmp;
  const QDir dir(QString::fromStdString(tmp.path));
  for (int i = 0; i < 30; ++i) QFile(dir.filePath(QString("fw%1.S19").arg(i))).open(QIODevice::WriteOnly);
  CS19FileDialog d(&screen, GetParam().w, GetParam().h, font, dir.path());
  d.show();
  ASSERT_EQ(d.List()->count(), 30);
  ExpectFitsAndTouchable(d, {d.UpButton(), d.NameEdit(), d.Filter(), d.OpenButton(), d.CancelButton()});
  EXPECT_GE(d.List()->visualItemRect(d.List()->item(0)).height(), ScaleY(20, GetParam().h));
  EXPECT_TRUE(d.List()->visualItemRect(d.List()->item(0)).bottom() < d.List()->viewport()->height());
  EXPECT_TRUE(d.CancelButton()->isEnabled());
  d.CancelButton()->click();
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_TRUE(d.SelectedFile().isEmpty());
}

TEST_P(TouchDialogs, ConfirmationFitsTheScreenAndCancelIsTheDefault) {
  ConfirmDialog d(&screen, GetParam().w, GetParam().h, font,
                {"The file does not suit the MCU attached.", "The file has no description.",
                 "The file check found 12 problems (see the log)."});
  d.show();
  ExpectFitsAndTouchable(d, {d.ProgramButton(), d.CancelButton()});
  // The text, wrapped, fits above the buttons.
  EXPECT_LE(d.Text()->heightForWidth(d.Text()->width()), d.Text()->height());
  EXPECT_TRUE(d.CancelButton()->isDefault());
  QTimer::singleShot(0, &d, [&] { d.CancelButton()->click(); });
  EXPECT_EQ(d.exec(), QDialog::Rejected);
}

INSTANTIATE_TEST_SUITE_P(Screens, TouchDialogs, testing::Values(Screen{320, 240}, Screen{800, 480}),
                         [](const auto& info) { return std::to_string(info.param.w) + "x" + std::to_string(info.param.h); });

TEST(TouchFileDialog, ListsFoldersAndS19FilesOnlyAndATapGoesInOrPicks) {
  const TempDir tmp;
  const QDir dir(QString::fromStdString(tmp.path));
  QDir(dir.path()).mkdir("sub");
  for (const char* name : {"b.s19", "a.S19", "notes.txt", "sub/inner.S19"}) QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
  QWidget screen;
  screen.setGeometry(0, 0, 320, 240);
  CS19FileDialog d(&screen, 320, 240, screen.font(), dir.path());
  auto names = [&] {
    QStringList n;
    for (int i = 0; i < d.List()->count(); ++i) n << d.List()->item(i)->text();
    return n;
  };
  EXPECT_EQ(names(), (QStringList{"sub", "a.S19", "b.s19"}));
  EXPECT_FALSE(d.OpenButton()->isEnabled()) << "nothing picked yet";

  d.TapRow(0);  // the folder
  EXPECT_EQ(d.Folder(), QDir(dir.filePath("sub")).absolutePath());
  EXPECT_EQ(names(), QStringList{"inner.S19"});
  d.UpButton()->click();
  EXPECT_EQ(d.Folder(), QDir(dir.path()).absolutePath());

  d.TapRow(2);  // b.s19: picked, not yet opened
  EXPECT_EQ(d.NameEdit()->text(), "b.s19");
  EXPECT_TRUE(d.SelectedFile().isEmpty());
  d.NameEdit()->setText("missing.S19");
  d.OpenButton()->click();
  EXPECT_TRUE(d.SelectedFile().isEmpty()) << "a name that is not there keeps the dialog open";
  d.TapRow(1);
  d.TapRow(1);  // a second tap opens
  EXPECT_EQ(d.SelectedFile(), QDir(dir.path()).absoluteFilePath("a.S19"));
  EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST(TouchFileDialog, StartsOnRemovableMediaFirstThenTheLastFilesFolderThenHome) {
  const TempDir tmp;
  const QDir dir(QString::fromStdString(tmp.path));
  for (const char* sub : {"usb1/fw", "usb2", "disk", "home"}) dir.mkpath(sub);
  const QString usb1 = dir.filePath("usb1");
  const QString usb2 = dir.filePath("usb2");
  const QString disk = dir.filePath("disk");
  const QString home = dir.filePath("home");
  const QString gone = dir.filePath("gone");
  struct Case {
    const char* name;
    QString last;
    QStringList mounts;
    QString home;
    QString expected;
  } cases[] = {
      {"LastFilesStickStillIn", usb1 + "/fw/a.S19", {usb2, usb1}, home, usb1 + "/fw"},
      {"StickSwappedForAnother", usb1 + "/fw/a.S19", {usb2}, home, usb2},
      {"StickWinsOverTheDevicesDisk", disk + "/a.S19", {usb2}, home, usb2},
      {"NoStickTheLastFolder", disk + "/a.S19", {}, home, disk},
      {"GoneMediumAndFolderHome", gone + "/a.S19", {gone}, home, home},
      {"NoHomeTheRoot", "", {}, gone, QDir::rootPath()},
      {"EmptyHomeTheRoot", "", {}, "", QDir::rootPath()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartFolder(c.last, c.mounts, c.home), c.expected) << c.name;
  }
  for (const QString& mount : RemovableMounts()) {
    EXPECT_TRUE(mount.startsWith("/media/") || mount.startsWith("/run/media/")) << mount.toStdString();
  }
}

}  // namespace

}  // namespace fennwick

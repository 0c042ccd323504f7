// The dialog as initialisation leaves it: controls, places, font, states, identification.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>

#include "ui_test_support.h"

namespace fennwick {

namespace {

TEST(WindowDialog, ControlsInTemplateOrderWithIdsNamesAndCaptions) {
  CFlasherDlg dlg(WindowOf(320, 240));
  std::vector<QWidget*> order;
  for (QObject* o : dlg.children()) {
    if (auto* w = qobject_cast<QWidget*>(o); w && w->property("controlId").isValid()) order.push_back(w);
  }
  ASSERT_EQ(order.size(), kDialogTemplate.size());
  for (size_t i = 0; i < order.size(); ++i) {
    const auto& t = kDialogTemplate[i];
    SCOPED_TRACE(t.name);
    EXPECT_EQ(order[i]->property("controlId").toInt(), t.id);
    EXPECT_EQ(order[i]->objectName(), QString::fromLatin1(t.name));
    EXPECT_EQ(dlg.GetDlgItem(t.id), order[i]);
    if (auto* b = qobject_cast<QPushButton*>(order[i])) {
      EXPECT_EQ(b->text(), QString::fromLatin1(t.caption));
    }
  }
  EXPECT_TRUE(Button(dlg, IDOK)->isDefault());
  EXPECT_EQ(dlg.GetDlgItem(9999), nullptr);
}

TEST(WindowDialog, InitialisationPlacesEveryControlAsTheLayoutSays) {
  for (auto [W, H] : {std::pair{800, 480}, {320, 240}}) {
    SCOPED_TRACE(testing::Message() << W << "x" << H);
    CFlasherDlg dlg(WindowOf(W, H));
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    EXPECT_EQ(dlg.geometry().size(), QSize(W, H));
    EXPECT_EQ(dlg.pos(), QPoint(0, 0));
    const DialogLayout expected = ComputeLayout(W, H);
    for (const auto& r : expected.controls) {
      QWidget* w = dlg.GetDlgItem(r.id);
      ASSERT_NE(w, nullptr);
      EXPECT_EQ(w->geometry(), QRect(r.x, r.y, r.width, r.height)) << w->objectName().toStdString();
      EXPECT_EQ(w->font(), dlg.DialogFont());
    }
  }
}

TEST(WindowDialog, FontIsArialsMetricTwinWithTheCellHeightOfTheLayout) {
  for (auto [W, cell] : {std::pair{800, 35}, {320, 14}}) {
    CFlasherDlg dlg(WindowOf(W, W * 3 / 5));
    dlg.OnInitDialog();
    const QFont& f = dlg.DialogFont();
    EXPECT_EQ(dlg.Layout().fontCellHeight, cell);
    EXPECT_EQ(QFontInfo(f).family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(f.weight(), QFont::Normal);
    EXPECT_FALSE(f.italic());
    const QFontMetricsF m(f, &dlg);
    EXPECT_NEAR(m.ascent() + m.descent(), cell, 0.75) << "width " << W;
  }
}

TEST(WindowDialog, FirstReadyState) {
  CFlasherDlg dlg(WindowOf(800, 480));
  dlg.OnInitDialog();
  dlg.show();
  for (int id : kHiddenButtons) {
    EXPECT_FALSE(dlg.GetDlgItem(id)->isVisible()) << id;
    EXPECT_TRUE(dlg.GetDlgItem(id)->isEnabled()) << id;
  }
  for (int id : {IDOK, IDC_OPEN, IDC_START, IDC_LOG, IDC_PROGRESS, IDC_TITLE}) {
    EXPECT_TRUE(dlg.GetDlgItem(id)->isVisible()) << id;
  }
  EXPECT_FALSE(Button(dlg, IDC_START)->isEnabled());
  EXPECT_TRUE(Button(dlg, IDC_OPEN)->isEnabled());
  EXPECT_TRUE(Button(dlg, IDOK)->isEnabled());
  EXPECT_EQ(qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_TITLE))->text(), QStringLiteral("Fennwick"));
  EXPECT_TRUE(dlg.LogControl().Text().isEmpty());
  EXPECT_EQ(dlg.ProgressControl().Pos(), 0);
  EXPECT_FALSE(dlg.windowIcon().isNull());
  EXPECT_FALSE(dlg.windowIcon().pixmap(16, 16).isNull());
  EXPECT_FALSE(dlg.windowIcon().pixmap(32, 32).isNull());
  EXPECT_EQ(dlg.State(), CFlasherDlg::JobState::Idle);
}

TEST(WindowDialog, ControlsArePublishedBeforeIdentificationAndItsOutputShows) {
  CFlasherDlg* self = nullptr;
  bool publishedFirst = false;
  DialogSetup s = WindowOf(320, 240);
  s.identify = [&] {
    publishedFirst = g_logEdit == &self->LogControl() && g_progressCtrl == &self->ProgressControl();
    LogPrintf("========Current MCU Information========\r\nVersion: %s", "FNW-107 X\r\n");
  };
  CFlasherDlg dlg(s);
  self = &dlg;
  dlg.OnInitDialog();
  EXPECT_TRUE(publishedFirst);
  EXPECT_EQ(dlg.LogControl().Text(), QStringLiteral("========Current MCU Information========\r\nVersion: FNW-107 X\r\n"));
}

TEST(WindowDialog, DestroyedDialogUnpublishesItsControls) {
  {
    CFlasherDlg dlg(WindowOf(320, 240));
    dlg.OnInitDialog();
    EXPECT_NE(g_logEdit, nullptr);
  }
  EXPECT_EQ(g_logEdit, nullptr);
  EXPECT_EQ(g_progressCtrl, nullptr);
  LogPrintf("nobody listens\r\n");  // must not reach a destroyed control
  SetProgressPos(3);
}

TEST(WindowDialog, FullScreenWindowHasNoFrameAndCoversTheScreen) {
  DialogSetup s = WindowOf(640, 480);
  s.fullScreen = true;
  CFlasherDlg dlg(s);
  dlg.OnInitDialog();
  EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(dlg.geometry(), QRect(0, 0, 640, 480));
}

}  // namespace

}  // namespace fennwick

#include "app/FrForm.h"
#include "ui/FormHints.h"
#include "ui/HintWindow.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QHelpEvent>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

using namespace qav;

TEST(FrFormHints, ToolbarHintsOfEveryWindowAreCentredBalloons) {
  TFrForm w;
  EXPECT_EQ(HintApplication::MainWindow(), &w);
  TFormHints* h = w.FormHints1;
  ASSERT_TRUE(h);
  EXPECT_EQ(h->Font().family(), "MS Sans Serif");
  EXPECT_EQ(h->Font().pixelSize(), 11);
  EXPECT_EQ(h->FontColor(), QToolTip::palette().color(QPalette::ToolTipText));
  EXPECT_EQ(h->TextAlignment, TfhTextAlignment::taCenter);
  EXPECT_EQ(h->TransparencyRate(), 20);
  EXPECT_FALSE(h->Transparent);
  EXPECT_TRUE(h->Active());

  // A second window follows the first one's settings.
  TFrForm second;
  EXPECT_EQ(HintApplication::MainWindow(), &w);
  second.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
  // Delete is disabled once the window shows; its hint still comes.
  for (QToolButton* b : {second.BExit, second.BDel}) {
    const QPoint local = b->rect().center();
    QHelpEvent help(QEvent::ToolTip, local, b->mapToGlobal(local));
    QApplication::sendEvent(b, &help);
    TfhHintWindow* balloon = HintApplication::HintWindow();
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(balloon->isVisible());
    EXPECT_EQ(balloon->FormHints(), h);
    EXPECT_EQ(balloon->Caption(), b->toolTip() + "\r\n");
    EXPECT_FALSE(QToolTip::isVisible());
  }
  EXPECT_FALSE(second.AcDel->isEnabled());
  second.hide();
}

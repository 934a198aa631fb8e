#include "ui/FormHints.h"
#include "ui/HintWindow.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <memory>

using namespace qav;
using D = TfhHintDirection;

namespace {

QRect Screen() {
  return QGuiApplication::primaryScreen()->geometry();
}

bool PlainTipShows(const QString& text) {
  return QToolTip::isVisible() && QToolTip::text() == text;
}

// The toolkit lets its tooltip fade for a moment before it is gone.
void HidePlainTip() {
  QToolTip::hideText();
  EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
}

// A main window carrying hint settings, with a button with a tooltip and a disabled one.
class HintFixture : public testing::Test {
 protected:
  void SetUp() override {
    auto* layout = new QHBoxLayout(&main);
    button = new QToolButton(&main);
    button->setToolTip(QStringLiteral("Exit Program"));
    disabled = new QPushButton(QStringLiteral("Delete"), &main);
    disabled->setToolTip(QStringLiteral("Delete Record"));
    disabled->setEnabled(false);
    layout->addWidget(button);
    layout->addWidget(disabled);
    hints = new TFormHints(&main);
    HintApplication::SetMainWindow(&main);
    main.setGeometry(200, 200, 300, 120);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  }

  void TearDown() override {
    HidePlainTip();
    main.hide();
  }

  TfhHintWindow* Window() { return HintApplication::HintWindow(); }

  // What the toolkit sends when the pointer rests on `w`.
  static void Rest(QWidget* w) {
    const QPoint local = w->rect().center();
    QHelpEvent help(QEvent::ToolTip, local, w->mapToGlobal(local));
    QApplication::sendEvent(w, &help);
  }

  QWidget main;
  QToolButton* button = nullptr;
  QPushButton* disabled = nullptr;
  TFormHints* hints = nullptr;
};

}  // namespace

TEST(FormHints, StartsWithItsInitialSettingsAndBalloonsOn) {
  TFormHints h;
  EXPECT_TRUE(h.Active());
  EXPECT_TRUE(HintApplication::BalloonHints());
  EXPECT_EQ(h.BiDiMode, TfhSimpleBiDiMode::bdLeftToRight);
  EXPECT_EQ(h.ColorBackground, QToolTip::palette().color(QPalette::ToolTipBase));
  EXPECT_EQ(h.ColorBorder, QColor(0, 0, 0));
  EXPECT_EQ(h.ColorShadow, QColor(128, 128, 128));
  EXPECT_EQ(h.Direction, D::dUpRight);
  EXPECT_EQ(h.Font(), QToolTip::font());
  EXPECT_EQ(h.FontColor(), QToolTip::palette().color(QPalette::ToolTipText));
  EXPECT_EQ(h.MaxWidth, 0);
  EXPECT_TRUE(h.Rounded);
  EXPECT_EQ(h.RoundRadius, 18);
  EXPECT_TRUE(h.ShowArrow);
  EXPECT_TRUE(h.ShowShadow);
  EXPECT_EQ(h.TextAlignment, TfhTextAlignment::taNone);
  EXPECT_FALSE(h.Transparent);
  EXPECT_EQ(h.TransparencyRate(), 30);
  EXPECT_FALSE(h.OnShowHint);
  h.SetTransparencyRate(150);
  EXPECT_EQ(h.TransparencyRate(), 100);
  h.SetTransparencyRate(-5);
  EXPECT_EQ(h.TransparencyRate(), 0);
}

TEST_F(HintFixture, ActiveSwitchesBetweenBalloonsAndPlainTooltips) {
  Rest(button);
  ASSERT_TRUE(Window());
  EXPECT_TRUE(Window()->isVisible());
  EXPECT_EQ(Window()->Caption(), "Exit Program");
  EXPECT_FALSE(QToolTip::isVisible());

  hints->SetActive(false);
  EXPECT_EQ(Window(), nullptr);
  Rest(button);
  EXPECT_TRUE(PlainTipShows("Exit Program"));
  HidePlainTip();

  hints->SetActive(true);
  ASSERT_TRUE(Window());
  EXPECT_FALSE(Window()->isVisible());
  // Disabled controls show their hints too.
  Rest(disabled);
  EXPECT_TRUE(Window()->isVisible());
  EXPECT_EQ(Window()->Caption(), "Delete Record");
  EXPECT_FALSE(QToolTip::isVisible());
}

TEST_F(HintFixture, BalloonGoesWhenThePointerLeavesOrTheUserActs) {
  const QEvent::Type events[] = {QEvent::Leave, QEvent::KeyPress, QEvent::MouseButtonPress};
  for (QEvent::Type type : events) {
    Rest(button);
    ASSERT_TRUE(Window()->isVisible()) << type;
    // Resting again on the same control keeps the balloon where it is.
    const QRect at = Window()->geometry();
    Rest(button);
    EXPECT_EQ(Window()->geometry(), at);
    std::unique_ptr<QEvent> event;
    if (type == QEvent::KeyPress)
      event = std::make_unique<QKeyEvent>(type, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    else if (type == QEvent::MouseButtonPress)
      event = std::make_unique<QMouseEvent>(type, QPointF(1, 1), button->mapToGlobal(QPointF(1, 1)),
                                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    else
      event = std::make_unique<QEvent>(type);
    QApplication::sendEvent(button, event.get());
    EXPECT_FALSE(Window()->isVisible()) << type;
  }
}

TEST_F(HintFixture, CentredHintLosesTheBlanksOfItsLines) {
  hints->TextAlignment = TfhTextAlignment::taCenter;
  hints->ShowShadow = false;
  hints->Rounded = false;
  const QString hint = QStringLiteral("        New\r\n        Record");
  TfhHintWindow* w = Window();
  const QRect rect = w->MeasureHint(Screen().width(), hint);
  w->ShowHintAt(rect, hint, QPoint(300, 300));
  ASSERT_TRUE(w->isVisible());
  EXPECT_EQ(w->Caption(), "New\r\nRecord\r\n");

  // Each line's ink is centred in the text rectangle, 8 to W - 13.
  const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRgb background = hints->ColorBackground.rgb();
  const int middle = (8 + img.width() - 13) / 2;
  int lines = 0, first = img.width(), last = -1;
  for (int y = 1; y < img.height() - 15; ++y) {
    int rowFirst = img.width(), rowLast = -1;
    for (int x = 1; x < img.width() - 7; ++x)
      if (img.pixel(x, y) != background)
        rowFirst = std::min(rowFirst, x), rowLast = std::max(rowLast, x);
    if (rowLast >= 0) {
      first = std::min(first, rowFirst);
      last = std::max(last, rowLast);
    } else if (last >= 0) {
      ++lines;
      EXPECT_NEAR((first + last) / 2, middle, 3) << "line " << lines;
      first = img.width();
      last = -1;
    }
  }
  EXPECT_EQ(lines, 2);
}

TEST_F(HintFixture, BalloonIsPlacedAndSizedForItsPlacement) {
  const QRect screen = Screen();
  struct Case {
    const char* name;
    QPoint mouse;
    D placement;
    int extraHeight;
  } cases[] = {
      {"room above", {300, 300}, D::dUpRight, 20},
      {"near the right edge", {screen.right() - 5, 300}, D::dUpLeft, 20},
      {"near the top", {300, 5}, D::dDownRight, 29},
  };
  TfhHintWindow* w = Window();
  const QRect rect = w->MeasureHint(screen.width(), QStringLiteral("Exit Program"));
  for (const Case& c : cases) {
    w->ShowHintAt(rect, QStringLiteral("Exit Program"), c.mouse);
    EXPECT_EQ(w->Placement(), c.placement) << c.name;
    const THintPlacement place = PlaceHint(D::dUpRight, c.mouse, screen, rect.size());
    EXPECT_EQ(w->geometry(),
              QRect(place.TopLeft, QSize(rect.width() + 16, rect.height() + c.extraHeight)))
        << c.name;
    EXPECT_EQ(w->Snapshot().size(), w->size()) << c.name;
  }
}

TEST_F(HintFixture, MeasuresInTheSettingsFontAndWrapsAtTheirMaximumWidth) {
  QFont font = hints->Font();
  font.setPixelSize(11);
  hints->SetFont(font);
  TfhHintWindow* w = Window();
  EXPECT_EQ(w->font().pixelSize(), 11);
  const QString hint = QStringLiteral("Save Record Now");
  const QRect wide = w->MeasureHint(800, hint);
  EXPECT_EQ(wide.width(), QFontMetrics(font).horizontalAdvance(hint) + 6);
  EXPECT_EQ(wide.height(), QFontMetrics(font).height() + 2);
  hints->MaxWidth = 40;
  const QRect narrow = w->MeasureHint(800, hint);
  EXPECT_LE(narrow.width(), 40 + 6);
  EXPECT_GE(narrow.height(), 3 * QFontMetrics(font).height() + 2);
}

TEST_F(HintFixture, OnShowHintCanRefuseOrAskForThePlainTooltip) {
  struct Case {
    bool allow, standard;
    bool balloon, plain;
  } cases[] = {{true, false, true, false}, {false, false, false, false}, {true, true, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.allow << c.standard);
    QWidget* control = nullptr;
    QString asked;
    hints->OnShowHint = [&](TfhHintWindow* sender, QWidget* hintControl, const QString& hint,
                            bool& allow, bool& standard) {
      EXPECT_EQ(sender, Window());
      EXPECT_TRUE(allow);
      EXPECT_FALSE(standard);
      control = hintControl;
      asked = hint;
      allow = c.allow;
      standard = c.standard;
    };
    const QPoint mouse = disabled->mapToGlobal(disabled->rect().center());
    TfhHintWindow* w = Window();
    w->ShowHintAt(w->MeasureHint(800, QStringLiteral("Delete Record")),
                  QStringLiteral("Delete Record"), mouse);
    EXPECT_EQ(control, disabled);
    EXPECT_EQ(asked, "Delete Record");
    EXPECT_EQ(w->isVisible(), c.balloon);
    EXPECT_EQ(w->StandardMode(), c.standard);
    EXPECT_EQ(PlainTipShows("Delete Record"), c.plain);
    HidePlainTip();
    w->hide();
  }
}

// The window keeps no hold on settings that are gone: it shows nothing instead of reading them.
TEST(HintWindow, SettingsThatGoLeaveTheWindowShowingNothing) {
  QWidget main;
  auto* hints = new TFormHints(&main);
  HintApplication::SetMainWindow(&main);
  TfhHintWindow w;
  const QRect rect = w.MeasureHint(800, QStringLiteral("Exit"));
  EXPECT_EQ(w.FormHints(), hints);
  delete hints;
  EXPECT_EQ(w.FormHints(), nullptr);
  // The last settings took the balloons with them.
  EXPECT_FALSE(HintApplication::BalloonHints());
  w.ShowHintAt(rect, QStringLiteral("Exit"), QPoint(300, 300));
  EXPECT_FALSE(w.isVisible());

  HintApplication::SetMainWindow(nullptr);
  EXPECT_EQ(w.MeasureHint(30, QStringLiteral("Exit Program")).height(),
            2 * QFontMetrics(w.font()).height() + 2);
}

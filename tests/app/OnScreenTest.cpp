// What the user sees of start-up and the base window, read off the real widgets: the logo's
// pixels, message boxes that show names as typed, the exit question's colours, where windows
// are placed, and how a termination request ends the program.
#include "app/Application.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FormLogo.h"
#include "app/FrForm.h"
#include "core/Exception.h"
#include "platform/Signals.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <functional>

using namespace qav;

namespace {

// Runs `open` (which shows a modal box through the real dialogs) and hands the box to `inspect`
// while it is up, then closes it with its escape button.
void WithRealBox(const std::function<void()>& open,
                 const std::function<void(QMessageBox&)>& inspect) {
  bool seen = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || seen) return;
    seen = true;
    inspect(*box);
    box->reject();
  });
  poll.start(20);
  open();
  EXPECT_TRUE(seen) << "no message box came up";
}

QLabel* TextLabel(QMessageBox& box) {
  return box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
}

}  // namespace

TEST(OnScreen, TheLogoShowsThePictureNotJustItsBlueBackground) {
  CreateLogo();
  ASSERT_NE(FormLogo, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FormLogo));
  EXPECT_EQ(FormLogo->size(), QSize(301, 166));
  const QImage shot = FormLogo->grab().toImage();
  ReleaseLogo();
  const QRgb blue = qRgb(0, 0, 255);
  int sampled = 0;
  int picture = 0;
  for (int y = 5; y < shot.height(); y += 10)
    for (int x = 5; x < shot.width(); x += 10) {
      ++sampled;
      if (shot.pixel(x, y) != blue) ++picture;
    }
  EXPECT_GT(picture, sampled / 4) << picture << " of " << sampled << " pixels are not blue";
}

TEST(OnScreen, MessageBoxesShowTheirTextAsTypedNeverAsMarkup) {
  const QString markup = QStringLiteral("<h1>big</h1><i>table</i> & <b>x</b>");
  struct Case {
    const char* what;
    std::function<void()> open;
    QString expected;
  };
  const Case cases[] = {
      {"message", [&] { Dialogs::ShowMessage(QStringLiteral("OK !! Exported To ") + markup); },
       QStringLiteral("OK !! Exported To ") + markup},
      {"question", [&] { Dialogs::Confirm(markup, Qt::blue); }, markup},
      {"error",
       [&] {
         DialogRequest r;
         r.kind = DialogRequest::Kind::Error;
         r.text = markup;
         Dialogs::Show(r);
       },
       markup},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WithRealBox(c.open, [&](QMessageBox& box) {
      QLabel* label = TextLabel(box);
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->textFormat(), Qt::PlainText);
      EXPECT_EQ(label->text(), c.expected);
    });
  }

  // The company name as the suite's menu passed it, through the configuration module.
  test::DemoSuiteFolder folder(20);
  TDMConfig config;
  WithRealBox(
      [&] { EXPECT_THROW(config.GetCompanyConfig(QStringLiteral("<h1>big</h1>")), ProgramExit); },
      [&](QMessageBox& box) {
        EXPECT_EQ(TextLabel(box)->textFormat(), Qt::PlainText);
        EXPECT_EQ(TextLabel(box)->text(), QStringLiteral("Not Found Database : <H1>BIG</H1>"));
      });
}

TEST(OnScreen, TheExitQuestionIsWhiteOnTheClassicGreen) {
  TFrForm w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  WithRealBox([&] { w.close(); },
              [&](QMessageBox& box) {
                EXPECT_EQ(TextLabel(box)->text(), QStringLiteral("Exit Program ?"));
                const QImage shot = box.grab().toImage();
                // A corner of the box is its background.
                EXPECT_EQ(QColor(shot.pixel(2, 2)), QColor(0, 128, 0));
                EXPECT_EQ(TextLabel(box)->palette().color(QPalette::WindowText),
                          QColor(255, 255, 255));
              });
  EXPECT_TRUE(w.isVisible());  // answered No
  w.hide();
}

TEST(OnScreen, WindowsAreCentredWithTheirFinalSizeBeforeTheyShow) {
  // The console and the backup window give themselves their own sizes after the base's.
  for (const QSize size : {QSize(792, 573), QSize(546, 127), QSize(632, 421)}) {
    SCOPED_TRACE(size.width());
    TFrForm w;
    w.setFixedSize(size);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(w.size(), size);
    // A few pixels either way are the window frame's; the fault was tens or hundreds.
    EXPECT_LE((w.geometry().center() - desktop.center()).manhattanLength(), 8)
        << "window at " << w.geometry().x() << "," << w.geometry().y();
    w.hide();
  }
}

TEST(OnScreen, OnlyANonEmptyTestDialogScriptAnswersInsteadOfTheUser) {
  qputenv(kTestDialogScriptVariable, "");
  Dialogs::InstallScriptFromEnvironment();
  WithRealBox([] { EXPECT_FALSE(Dialogs::Confirm(QStringLiteral("Overwrite ?"), Qt::blue)); },
              [](QMessageBox& box) { EXPECT_EQ(TextLabel(box)->text(), "Overwrite ?"); });

  qputenv(kTestDialogScriptVariable, "no,yes");
  Dialogs::InstallScriptFromEnvironment();
  EXPECT_FALSE(Dialogs::Confirm(QStringLiteral("Overwrite ?"), Qt::blue));
  EXPECT_TRUE(Dialogs::Confirm(QStringLiteral("Overwrite ?"), Qt::blue));
  Dialogs::SetAnswerer({});
  qunsetenv(kTestDialogScriptVariable);
}

// The termination request ends the process, so it runs in a child process of its own.
TEST(OnScreenDeathTest, ATerminationRequestEndsTheProgramWithoutAskingEvenWithTheQuestionOpen) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(sig);
    EXPECT_EXIT(
        {
          platform::TerminationRequests requests;
          QObject::connect(&requests, &platform::TerminationRequests::Requested,
                           &EndOnTerminationRequest);
          TFrForm w;
          w.show();
          bool asked = false;
          QTimer poll;
          QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box->isVisible() && !asked) {
              asked = true;
              std::raise(sig);
            }
          });
          poll.start(20);
          QTimer::singleShot(0, &w, [&] { w.close(); });  // the user's close: the question
          QTimer::singleShot(60000, [] { std::_Exit(4); });
          const int code = QApplication::exec();
          const bool ended = asked && code == 0 && !w.isVisible() &&
                             !QApplication::activeModalWidget() && TerminationRequested();
          std::_Exit(ended ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
  }
}

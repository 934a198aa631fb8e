#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FrForm.h"

#include <gtest/gtest.h>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using namespace qav;

namespace {

// A window with two edits, counting the base handlers a descendant replaces.
class Window : public TFrForm {
 public:
  Window() {
    auto* layout = new QVBoxLayout(ClientArea());
    first = new QLineEdit(ClientArea());
    second = new QLineEdit(ClientArea());
    layout->addWidget(first);
    layout->addWidget(second);
  }
  void AcNewExecute() override {
    TFrForm::AcNewExecute();
    ++news;
  }
  QLineEdit* first;
  QLineEdit* second;
  int news = 0;
};

// Answers every question with `yes` and remembers what was asked.
class Answers {
 public:
  explicit Answers(bool yes) {
    Dialogs::SetAnswerer([this, yes](const DialogRequest& r) {
      asked.push_back(r);
      DialogReply reply;
      reply.accepted = yes;
      return reply;
    });
  }
  ~Answers() { Dialogs::SetAnswerer({}); }
  std::vector<DialogRequest> asked;
};

void ShowActive(QWidget& w) {
  w.show();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

}  // namespace

TEST(FrForm, ShowingLeavesOnlyTheRecordButtonsAndDisablesSaveDeleteAndChangeCode) {
  Window w;
  ShowActive(w);
  for (QToolButton* b : {w.BHist, w.BCopy, w.BPrint, w.BChgCode}) EXPECT_FALSE(w.ButtonVisible(b));
  for (QToolButton* b : {w.BNew, w.BDel, w.BSave, w.BExit}) EXPECT_TRUE(w.ButtonVisible(b));
  EXPECT_FALSE(w.AcSave->isEnabled());
  EXPECT_FALSE(w.AcDel->isEnabled());
  EXPECT_FALSE(w.AcChgCode->isEnabled());
  EXPECT_TRUE(w.ChgCode->isHidden());
  // The base window's own New step runs on show, not the descendant's replacement.
  EXPECT_EQ(w.news, 0);
  EXPECT_EQ(w.AcNew->text(), "New");
  EXPECT_EQ(w.AcExit->toolTip(), "Exit Program");
  EXPECT_EQ(w.AcExit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
  w.hide();
}

TEST(FrForm, EnterMovesToTheNextFieldWithoutReachingTheEdit) {
  Answers answers(false);
  Window w;
  ShowActive(w);
  w.first->setFocus();
  w.first->setText(QStringLiteral("abc"));
  bool returned = false;
  QObject::connect(w.first, &QLineEdit::returnPressed, [&] { returned = true; });
  QTest::keyClick(w.first, Qt::Key_Return);
  EXPECT_EQ(QApplication::focusWidget(), w.second);
  EXPECT_FALSE(returned);
  EXPECT_EQ(w.first->text(), "abc");
  EXPECT_TRUE(answers.asked.empty());
}

TEST(FrForm, EveryWayOfClosingAsksTheExitQuestionInTheUsersLanguage) {
  TDMConfig config;  // run context: language
  struct Case {
    bool thai;
    bool yes;
    std::function<void(Window&)> close;
    const char* question;
  };
  const Case cases[] = {
      {false, false, [](Window& w) { QTest::keyClick(w.first, Qt::Key_Escape); }, "Exit Program ?"},
      {true, true, [](Window& w) { QTest::keyClick(w.first, Qt::Key_Escape); }, "ออกจากโปรแกรม ?"},
      {false, true, [](Window& w) { w.BExit->click(); }, "Exit Program ?"},
      // Ctrl+X in an edit asks to exit rather than cutting the text.
      {false, false, [](Window& w) { QTest::keyClick(w.first, Qt::Key_X, Qt::ControlModifier); },
       "Exit Program ?"},
      {true, false, [](Window& w) { w.close(); }, "ออกจากโปรแกรม ?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.question);
    config.LanguageThai = c.thai;
    Answers answers(c.yes);
    Window w;
    ShowActive(w);
    w.first->setText(QStringLiteral("keep"));
    w.first->selectAll();
    w.first->setFocus();
    c.close(w);
    ASSERT_EQ(answers.asked.size(), 1u);
    EXPECT_EQ(answers.asked[0].kind, DialogRequest::Kind::Confirm);
    EXPECT_EQ(answers.asked[0].title, "Confirm");
    EXPECT_EQ(answers.asked[0].text, QString::fromUtf8(c.question));
    EXPECT_EQ(answers.asked[0].background, QColor(0, 128, 0));  // green, not lime
    EXPECT_EQ(w.isVisible(), !c.yes);
    EXPECT_EQ(w.first->text(), "keep");
    w.hide();
  }
}

TEST(FrForm, ShortcutsRunOnlyEnabledActionsWithHandlersEvenWhenTheirButtonIsHidden) {
  Answers answers(false);
  Window w;
  ShowActive(w);
  w.first->setFocus();
  int saved = 0;
  QObject::connect(w.AcSave, &QAction::triggered, [&] { ++saved; });
  QTest::keyClick(w.first, Qt::Key_F8);
  QTest::keyClick(w.first, Qt::Key_F10);
  EXPECT_EQ(saved, 0);
  EXPECT_TRUE(answers.asked.empty());

  w.SetButtonVisible(w.BNew, false);
  QTest::keyClick(w.first, Qt::Key_F3);
  EXPECT_EQ(w.news, 1);
  w.AcSave->setEnabled(true);
  QTest::keyClick(w.first, Qt::Key_F10);
  EXPECT_EQ(saved, 1);
  w.hide();
}

TEST(DM, AskConfirmIsTheBlueQuestion) {
  TDM dm;
  for (bool yes : {true, false}) {
    Answers answers(yes);
    EXPECT_EQ(dm.AskConfirm(QStringLiteral("File Exists!! Overwrite this file ?")), yes);
    ASSERT_EQ(answers.asked.size(), 1u);
    EXPECT_EQ(answers.asked[0].background, QColor(Qt::blue));
    EXPECT_EQ(answers.asked[0].foreground, QColor(Qt::white));
  }
}

#pragma once

// A user in front of the real dialogs: while the test blocks in a click that opens modal
// windows, a timer finds each window as it comes up (QApplication::activeModalWidget) and acts
// on it with keys and clicks, in the order the steps were given.
#include <gtest/gtest.h>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>

namespace qav::test {

class RealUser {
 public:
  // How long a step waits for its window before the user gives up and closes what is open.
  static constexpr qint64 kPatienceMs = 90000;

  RealUser() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start();
  }
  ~RealUser() { timer_.stop(); }

  // Acts on the next modal window of type W once `ready` holds for it.
  template <class W>
  void When(std::function<void(W*)> act, std::function<bool(W*)> ready = {}) {
    steps_.push_back(Step{[act, ready](QWidget* w) {
      auto* typed = qobject_cast<W*>(w);
      if (!typed || (ready && !ready(typed))) return false;
      act(typed);
      return true;
    }});
  }

  // The save or open dialog: chooses the type at a one-based position of its type list (0
  // keeps the one shown) with the keyboard, types the name and presses Save or Open.
  void FillFileDialog(const QString& name, int type = 0) {
    When<QFileDialog>([this, name, type](QFileDialog* d) {
      if (type > 0) {
        auto* combo = d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(combo, nullptr);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Home);
        for (int i = 1; i < type; ++i) QTest::keyClick(combo, Qt::Key_Down);
        chosenTypes_ << combo->currentText();
      }
      auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(edit, nullptr);
      edit->setFocus();
      edit->selectAll();
      QTest::keyClicks(edit, name);
      auto* buttons = d->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
      ASSERT_NE(buttons, nullptr);
      // The button rather than Return: the name's completion list may be open.
      QPushButton* accept =
          buttons->button(d->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save
                                                                     : QDialogButtonBox::Open);
      ASSERT_NE(accept, nullptr);
      // An open dialog enables Open once its file list, read in the background, has the name.
      EXPECT_TRUE(QTest::qWaitFor([accept] { return accept->isEnabled(); }, 20000));
      QTest::mouseClick(accept, Qt::LeftButton);
    });
  }

  void CancelFileDialog() {
    When<QFileDialog>([](QFileDialog* d) { QTest::keyClick(d, Qt::Key_Escape); });
  }

  // A message box: its text is kept, and the button whose text is `button` (without the
  // accelerator's "&") is clicked; empty clicks the default button.
  void AnswerMessage(const QString& button = {}) {
    When<QMessageBox>(
        [this, button](QMessageBox* box) {
          messages_ << box->text();
          QAbstractButton* target = box->defaultButton();
          for (QAbstractButton* b : box->buttons())
            if (!button.isEmpty() && b->text().remove(u'&') == button) target = b;
          if (!target && !box->buttons().isEmpty()) target = box->buttons().first();
          ASSERT_NE(target, nullptr);
          QTest::mouseClick(target, Qt::LeftButton);
        },
        [](QMessageBox* box) {
          // Its buttons laid out, so that the click lands on one.
          const QList<QAbstractButton*> buttons = box->buttons();
          return !buttons.isEmpty() &&
                 std::all_of(buttons.begin(), buttons.end(),
                             [](QAbstractButton* b) { return !b->size().isEmpty(); });
        });
  }

  // Every step has been taken.
  bool Done() const { return steps_.empty(); }
  // The texts of the message boxes answered, in order.
  const QStringList& Messages() const { return messages_; }
  // The types chosen in file dialogs, as the dialogs listed them.
  const QStringList& ChosenTypes() const { return chosenTypes_; }
  bool GaveUp() const { return gaveUp_; }

 private:
  struct Step {
    std::function<bool(QWidget*)> tryAct;
  };

  void Look() {
    if (steps_.empty() || busy_) {
      waited_.invalidate();
      return;
    }
    if (!waited_.isValid()) waited_.start();
    QWidget* w = QApplication::activeModalWidget();
    // A window shown but not yet exposed has not laid out its buttons: a click on one would
    // land nowhere, and the step would be spent on a window that stays open.
    if (w && w != last_ && w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed()) {
      busy_ = true;  // an action may run a nested loop in which this timer fires again
      const Step step = steps_.front();
      if (step.tryAct(w)) {
        steps_.pop_front();
        last_ = w;
        waited_.invalidate();
      }
      busy_ = false;
      return;
    }
    if (waited_.elapsed() > kPatienceMs) {
      ADD_FAILURE() << "a window the user waited for did not come";
      gaveUp_ = true;
      steps_.clear();
      if (w) QTest::keyClick(w, Qt::Key_Escape);
    }
  }

  QTimer timer_;
  std::deque<Step> steps_;
  QPointer<QWidget> last_;
  QElapsedTimer waited_;
  QStringList messages_;
  QStringList chosenTypes_;
  bool busy_ = false;
  bool gaveUp_ = false;
};

}  // namespace qav::test

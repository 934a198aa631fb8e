#pragma once

// The console with every dialog the real one, and the keys a user presses: the small page object
// the journeys drive the window through.
#include "console/ResultGrid.h"
#include "db/DataSet.h"
#include "tests/console/ConsoleFixture.h"

#include <QFile>
#include <QLabel>
#include <QTabWidget>
#include <QTest>

namespace qav::test {

class Journey : public Console {
 protected:
  void SetUp() override {
    Console::SetUp();
    Dialogs::SetAnswerer({});  // every dialog is the real one
  }

  QString Caption() const { return window_->PageControl1->tabText(0); }
  QString Status(int panel = 1) const { return window_->StatusPanel(panel)->text(); }

  // Keys as a keyboard with a Thai layout sends them: the character rides on the key event.
  static void Keys(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
      if (c == u'\n') {
        QTest::keyClick(widget, Qt::Key_Return);
      } else if (c.unicode() < 128) {
        QTest::keyClick(widget, c.toLatin1());
      } else {
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
      }
    }
  }
  // A key for the window's shortcuts: the window is the active one again after a dialog, as it
  // is on a desktop.
  void Key(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QApplication::setActiveWindow(window_.get());
    QTest::keyClick(widget, static_cast<Qt::Key>(key), modifiers);
  }
  void Write(const QString& text) {
    window_->Memo1->setFocus();
    Keys(window_->Memo1, text);
  }
  // The memo's text replaced as a user does it (Ctrl+A, then typing), and run with F5.
  void Run(const QString& text) {
    window_->Memo1->setFocus();
    Key(window_->Memo1, Qt::Key_A, Qt::ControlModifier);
    Keys(window_->Memo1, text);
    Key(window_->Memo1, Qt::Key_F5);
  }
  // Waits for the rows of a result still arriving.
  bool Fetched() {
    return QTest::qWaitFor([this] {
      for (TResultGrid* grid : window_->Grids())
        if (grid->DataSource() && grid->DataSource()->Fetching()) return false;
      return true;
    });
  }

  static QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
};

}  // namespace qav::test

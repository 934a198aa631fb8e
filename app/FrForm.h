#pragma once

#include <QIcon>
#include <QMainWindow>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QToolBar;
class QToolButton;
class QKeyEvent;

namespace qav {

class TFormHints;

// The window every window of the program derives from: a toolbar of record actions with
// captions, pictures, hints and shortcut keys, a two-panel status bar, Enter moving to the next
// field, Escape leaving, and the exit question that every way of closing passes through.
// Descendants put their controls into ClientArea() and replace a handler by overriding it,
// calling the base handler first.
class TFrForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TFrForm(QWidget* parent = nullptr);
  ~TFrForm() override;

  QFrame* Panel2;
  QToolBar* ToolBar1;
  QToolButton* BNew;
  QToolButton* BDel;
  QToolButton* BSave;
  QToolButton* BChgCode;
  QToolButton* BHist;
  QToolButton* BCopy;
  QToolButton* BPrint;
  QToolButton* BExit;
  QLineEdit* ChgCode;
  QAction* AcNew;
  QAction* AcDel;
  QAction* AcSave;
  QAction* AcChgCode;
  QAction* AcHist;
  QAction* AcCopy;
  QAction* AcPrint;
  QAction* AcExit;
  std::vector<QIcon> ImageList1;
  // Balloon tooltips; the first window made is the one whose settings every window follows.
  TFormHints* FormHints1;

  // The area under the toolbar panel where a descendant lays out its own controls.
  QWidget* ClientArea() const { return client_; }
  // The status bar's panels: 0 is 200 pixels wide, 1 fills the rest.
  QLabel* StatusPanel(int index) const;

  // Shows or hides a toolbar button; its action, and the action's shortcut, stay as they are.
  void SetButtonVisible(QToolButton* button, bool visible);
  bool ButtonVisible(QToolButton* button) const;

  // Key preview: while on, the window sees every key of its controls first.
  bool KeyPreview() const { return keyPreview_; }
  void SetKeyPreview(bool on) { keyPreview_ = on; }

  virtual void FormShow();
  virtual void AcNewExecute();
  virtual void AcExitExecute();
  // Returns true when the key was used up and must not reach the focused control.
  virtual bool FormKeyDown(int key, Qt::KeyboardModifiers shift);
  // Asks the exit question; false keeps the window open.
  virtual bool FormClose();

  // Centres the window on the desktop with its final size before it first shows.
  void setVisible(bool visible) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAction* MakeAction(const char* name, const QString& caption, const QString& hint, int picture,
                      const QKeySequence& shortcut);
  QToolButton* MakeButton(const char* name, QAction* action);
  void FocusNextControl();
  QAction* ToolbarSlot(QToolButton* button) const;
  bool IsEnabledShortcut(const QKeyEvent& key) const;

  QWidget* client_;
  QLabel* panels_[2];
  bool keyPreview_ = true;
  bool placed_ = false;
};

}  // namespace qav

#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <exception>
#include <functional>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qav {

// The looping picture of the progress window: a sheet flying from one folder to another.
class TExportAnimation : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kLastFrame = 34;

  explicit TExportAnimation(QWidget* parent = nullptr);

  void Start();
  void Stop();
  bool Active() const;
  int Frame() const { return frame_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QTimer* timer_;
  int frame_ = 0;
};

// The modal progress window of an export. The export body runs inside it: it starts when the
// window becomes active, and the window closes itself when the body returns.
class TfrmExportProcess : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmExportProcess(QWidget* parent = nullptr);

  QFrame* Bevel;
  TExportAnimation* Animation = nullptr;
  QLabel* lblStatus;
  QProgressBar* ProgressBar;
  QPushButton* btnCancel;

  // Set by the user (Cancel, Escape, the close box) or by SetExportCancelled.
  bool Cancelled = false;
  // The export body that the window runs once when it becomes active; cleared as it starts.
  std::function<void()> Body;
  // What the body raised; RunInProgressWindow raises it again once the window has closed.
  std::exception_ptr BodyError;
  bool BodyRunning() const { return bodyRunning_; }
  // Shows the window modally until it closes; true while that lasts.
  int RunModal();
  bool InModalLoop() const { return inModalLoop_; }

  virtual void FormCreate();
  virtual void FormActivate();
  virtual void btnCancelClick();

  // UpdateExportProgress's state: when the counter was last shown, and with which status.
  QElapsedTimer SinceShown;
  QString ShownStatus;

 public slots:
  void reject() override;

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FinishModal();

  bool bodyRunning_ = false;
  bool finishing_ = false;
  bool inModalLoop_ = false;
};

// The one progress window of the process. The export component and the writers' record loop
// drive it through these operations.

// Closes an earlier window, creates a new one (invisible), starts its animation and disables
// every other window. A window that cannot be created is reported with "Can't create a process
// dialog"; the result says whether a window exists afterwards.
bool ShowExportProgress(const QString& caption, const QString& status, const QString& cancelCaption,
                        int minimum, int maximum, int position);
// Shows "STATUS (POSITION/MAXIMUM)" and moves the bar, then lets pending events through (so a
// click on Cancel is seen). Does nothing without a window.
void UpdateExportProgress(const QString& status, int position);
// Enables the windows again and frees the window; false when there was none.
bool HideExportProgress();
// The window's cancel flag, or without a window a process-wide one.
bool IsExportCancelled();
void SetExportCancelled(bool cancelled);
// Runs body inside the modal window; without a window, directly. An error of the body closes
// the window and is raised again here.
void RunInProgressWindow(const std::function<void()>& body);
// The current window, or null.
TfrmExportProcess* ExportProgressWindow();

}  // namespace qav

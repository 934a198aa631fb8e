#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace qav {

// The red window that shows an error that escaped a window, closes itself after about nine
// seconds, and offers to mail the report to support.
class TFrShowError : public QDialog {
  Q_OBJECT

 public:
  explicit TFrShowError(QWidget* parent = nullptr);

  QPlainTextEdit* ErrorBox;
  QPushButton* BOk;
  QPushButton* BCancel;
  QLabel* TimeCount;
  QTimer* Timer1;

  QString ErrorText;
  int CountDown = 10;
  bool CountDownStopped = false;

  virtual void FormShow();
  virtual void Timer1Timer();
  virtual void BOkClick();
  virtual void BCancelClick();

  // The report's subject and body lines as BOkClick sends them.
  QString MailSubject() const;
  QString MailBody() const;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace qav

#include "app/FrShowError.h"

#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/LocalMachine.h"
#include "core/ExceptionHandler.h"
#include "core/TextUtil.h"
#include "ui/NamedColors.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

namespace qav {

namespace {

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, int left) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  QFont f = b->font();
  f.setBold(true);
  b->setFont(f);
  b->setCursor(Qt::PointingHandCursor);
  b->setGeometry(left, 70, 75, 25);
  b->setAutoDefault(true);
  return b;
}

}  // namespace

TFrShowError::TFrShowError(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("FrShowError"));
  setWindowTitle(QStringLiteral("Windows Error Message"));
  setFixedSize(344, 101);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  setFont(font);
  QPalette p = palette();
  p.setColor(QPalette::Window, NamedColor(TNamedColor::Red));
  setPalette(p);
  setAutoFillBackground(true);

  ErrorBox = new QPlainTextEdit(this);
  ErrorBox->setObjectName(QStringLiteral("ErrorBox"));
  ErrorBox->setReadOnly(true);
  ErrorBox->setGeometry(0, 0, 344, 65);
  ErrorBox->setStyleSheet(QStringLiteral("QPlainTextEdit { background-color: red; color: %1; }")
                              .arg(palette().color(QPalette::Base).name()));
  ErrorBox->setFocusPolicy(Qt::ClickFocus);

  BOk = Button(this, "BOk", QStringLiteral("Send Error"), 94);
  BCancel = Button(this, "BCancel", QStringLiteral("Don't Send"), 198);
  TimeCount = new QLabel(this);
  TimeCount->setObjectName(QStringLiteral("TimeCount"));
  QFont bold = font;
  bold.setBold(true);
  bold.setPixelSize(16);
  TimeCount->setFont(bold);
  TimeCount->move(32, 75);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { RunEventHandler([this] { Timer1Timer(); }); });
  connect(BOk, &QPushButton::clicked, this, [this] { RunEventHandler([this] { BOkClick(); }); });
  connect(BCancel, &QPushButton::clicked, this,
          [this] { RunEventHandler([this] { BCancelClick(); }); });
  Timer1->start();
}

void TFrShowError::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TFrShowError::FormShow() {
  move(50, 100);
  ErrorBox->setPlainText(ErrorText);
  BCancel->setDefault(true);
  BCancel->setFocus();
  CountDownStopped = false;
  CountDown = 10;
  TimeCount->clear();
}

void TFrShowError::Timer1Timer() {
  if (CountDownStopped) return;
  --CountDown;
  if (CountDown == 1) BCancelClick();
}

void TFrShowError::BCancelClick() {
  close();
}

QString TFrShowError::MailSubject() const {
  return QStringLiteral("Error ") + (DMConfig ? Trim(DMConfig->CompanyDatabase) : QString()) +
         u' ' + (DMConfig ? Trim(DMConfig->MenuCaption) : QString());
}

QString TFrShowError::MailBody() const {
  return QStringLiteral("[User = ") + (DMConfig ? Trim(DMConfig->UserCode) : QString()) +
         QStringLiteral("] ") + u'\r' + QStringLiteral("Local IP = ") + LocalIPAddress() + u'\r' +
         ErrorText;
}

void TFrShowError::BOkClick() {
  CountDownStopped = true;
  // The button waits while the report is on its way: a second press would only repeat it.
  BOk->setEnabled(false);
  QString why;
  if (DMConfig &&
      DMConfig->SendErrorMail(MailSubject(), MailBody(), &why) == TDMConfig::MailOutcome::Failed) {
    // Closing as after a delivery would tell the user the report went out.
    Dialogs::ShowMessage(
        DMConfig->LanguageThai
            ? QStringLiteral("ส่งรายงานข้อผิดพลาดไม่ได้: %1\nรายงานยังอยู่ในบันทึกข้อผิดพลาด").arg(why)
            : QStringLiteral("The error report could not be sent: %1\nThe error "
                             "log keeps the report.")
                  .arg(why));
  }
  close();
}

}  // namespace qav

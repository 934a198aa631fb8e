#include "app/FormLogo.h"

#include "app/JpegImage.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace qav {

TFormLogo* FormLogo = nullptr;

TFormLogo::TFormLogo() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::SplashScreen) {
  setObjectName(QStringLiteral("FormLogo"));
  setFixedSize(301, 166);
  setCursor(Qt::PointingHandCursor);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::blue);
  setPalette(p);
  setAutoFillBackground(true);
  QFile file(QStringLiteral(":/qav/logo.jpg"));
  if (file.open(QIODevice::ReadOnly)) picture_ = DecodeJpeg(file.readAll());
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}

void TFormLogo::ShowAndPaint() {
  show();
  repaint();
  QGuiApplication::sync();
}

void TFormLogo::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!picture_.isNull()) painter.drawImage(rect(), picture_);  // stretched to the window
}

void CreateLogo() {
  ReleaseLogo();
  FormLogo = new TFormLogo;
  FormLogo->ShowAndPaint();
}

void ReleaseLogo() {
  if (!FormLogo) return;
  delete FormLogo;
  FormLogo = nullptr;
}

}  // namespace qav

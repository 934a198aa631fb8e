#include "app/FormLogo.h"

#include "app/JpegImage.h"
#include "ui/NamedColors.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

// The picture is compiled into this static library, and a linker keeps a library's resource
// initialiser only when something calls it: the logo calls it itself. The macro must be used
// outside any namespace.
static void InitLogoResource() {
  Q_INIT_RESOURCE(app);
}

namespace qav {

TFormLogo* FormLogo = nullptr;

TFormLogo::TFormLogo() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::SplashScreen) {
  setObjectName(QStringLiteral("FormLogo"));
  setFixedSize(301, 166);
  setCursor(Qt::PointingHandCursor);
  QPalette p = palette();
  p.setColor(QPalette::Window, NamedColor(TNamedColor::Blue));
  setPalette(p);
  setAutoFillBackground(true);
  InitLogoResource();
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

#include "ui/FormHints.h"

#include "ui/HintWindow.h"

#include <QPalette>
#include <QToolTip>
#include <algorithm>

namespace qav {

namespace {

// The application's balloons live as long as some TFormHints can supply their settings.
int liveFormHints = 0;

}  // namespace

TFormHints::TFormHints(QObject* owner) : QObject(owner) {
  ++liveFormHints;
  const QPalette tips = QToolTip::palette();
  font_ = QToolTip::font();
  fontColor_ = tips.color(QPalette::ToolTipText);
  ColorBackground = tips.color(QPalette::ToolTipBase);
  SetActive(true);
}

TFormHints::~TFormHints() {
  if (--liveFormHints == 0) HintApplication::SetBalloonHints(false);
}

void TFormHints::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  HintApplication::SetBalloonHints(active);
}

void TFormHints::SetFont(const QFont& font) {
  font_ = font;
  ApplyFont();
}

void TFormHints::SetFontColor(const QColor& color) {
  fontColor_ = color;
  ApplyFont();
}

void TFormHints::SetTransparencyRate(int rate) {
  transparencyRate_ = std::clamp(rate, 0, 100);
}

void TFormHints::ApplyFont() {
  if (TfhHintWindow* window = HintApplication::HintWindow()) window->setFont(font_);
}

TBalloonStyle TFormHints::Style() const {
  TBalloonStyle s;
  s.ColorBackground = ColorBackground;
  s.ColorBorder = ColorBorder;
  s.ColorShadow = ColorShadow;
  s.Rounded = Rounded;
  s.RoundRadius = RoundRadius;
  s.ShowArrow = ShowArrow;
  s.ShowShadow = ShowShadow;
  s.Transparent = Transparent;
  s.TransparencyRate = transparencyRate_;
  s.Font = font_;
  s.FontColor = fontColor_;
  s.TextAlignment = TextAlignment;
  s.BiDiMode = BiDiMode;
  return s;
}

}  // namespace qav

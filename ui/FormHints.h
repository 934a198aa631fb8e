#pragma once

#include "ui/Balloon.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace qav {

class TfhHintWindow;

// Asked before each balloon: clearing AllowShowHint shows nothing, setting ShowStandardHint
// shows the toolkit's plain tooltip instead.
using TfhOnShowHint =
    std::function<void(TfhHintWindow* Sender, QWidget* HintControl, const QString& Hint,
                       bool& AllowShowHint, bool& ShowStandardHint)>;

// The balloon hint settings a window carries. While Active, the application shows its tooltips
// as balloons drawn by TfhHintWindow with the settings of the main window's TFormHints; the
// last TFormHints to go takes the balloons with it and leaves the toolkit's plain tooltips.
class TFormHints : public QObject {
  Q_OBJECT

 public:
  explicit TFormHints(QObject* owner = nullptr);
  ~TFormHints() override;

  bool Active() const { return active_; }
  void SetActive(bool active);

  TfhSimpleBiDiMode BiDiMode = TfhSimpleBiDiMode::bdLeftToRight;
  QColor ColorBackground;
  QColor ColorBorder = QColor(0, 0, 0);
  QColor ColorShadow = QColor(128, 128, 128);
  TfhHintDirection Direction = TfhHintDirection::dUpRight;

  const QFont& Font() const { return font_; }
  const QColor& FontColor() const { return fontColor_; }
  // Every change of the font reaches the application's hint window.
  void SetFont(const QFont& font);
  void SetFontColor(const QColor& color);

  // Widest text in pixels; 0 leaves the caller's maximum.
  quint16 MaxWidth = 0;
  bool Rounded = true;
  quint16 RoundRadius = 18;
  bool ShowArrow = true;
  bool ShowShadow = true;
  TfhTextAlignment TextAlignment = TfhTextAlignment::taNone;
  bool Transparent = false;

  int TransparencyRate() const { return transparencyRate_; }
  // Percent of the screen behind that shows through; kept within 0 to 100.
  void SetTransparencyRate(int rate);

  TfhOnShowHint OnShowHint;

  // Gives the application's hint window a copy of Font.
  void ApplyFont();

  // The settings as the balloon's drawing takes them.
  TBalloonStyle Style() const;

 private:
  bool active_ = false;
  QFont font_;
  QColor fontColor_;
  int transparencyRate_ = 30;
};

}  // namespace qav

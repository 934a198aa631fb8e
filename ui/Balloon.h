#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

namespace qav {

// Where the balloon sits relative to the mouse pointer; its arrow points back at the pointer.
enum class TfhHintDirection { dUpRight, dUpLeft, dDownRight, dDownLeft };
enum class TfhSimpleBiDiMode { bdLeftToRight, bdRightToLeft };
// taNone draws like taLeft but leaves the text's lines untouched.
enum class TfhTextAlignment { taNone, taLeft, taRight, taCenter };

// Below the pointer the arrow sits on top of the body.
inline bool ArrowOnTop(TfhHintDirection d) {
  return d == TfhHintDirection::dDownRight || d == TfhHintDirection::dDownLeft;
}

// The window's size for a text rectangle of `text` (as MeasureHint returns it): room for the
// shadow at the right and the bottom, and for the arrow below or, nine pixels taller, on top.
QSize BalloonSize(QSize text, TfhHintDirection placement);

struct THintPlacement {
  QPoint TopLeft;
  TfhHintDirection Direction;
};

// Tries `preferred` first and hands over to a neighbouring placement while the balloon would
// leave `screen` (global coordinates). A balloon that fits nowhere would send the search round
// in a circle: it stops at the first placement that hands back to one already tried, and that
// last placement is used even though the balloon leaves the screen.
THintPlacement PlaceHint(TfhHintDirection preferred, QPoint cursor, const QRect& screen,
                         QSize text);

// With an alignment other than taNone, each line is trimmed of leading and trailing blanks and
// control characters, and every line, the last one too, ends in CR LF. Lines end at CR LF or
// at a bare LF, the line break of the toolkit's own tooltips.
QString CleanHintText(const QString& hint, TfhTextAlignment alignment);

// Everything the drawing of a balloon depends on besides the screen behind it.
struct TBalloonStyle {
  QColor ColorBackground;
  QColor ColorBorder;
  QColor ColorShadow;
  bool Rounded = true;
  int RoundRadius = 18;
  bool ShowArrow = true;
  bool ShowShadow = true;
  bool Transparent = false;
  int TransparencyRate = 30;
  QFont Font;
  QColor FontColor;
  TfhTextAlignment TextAlignment = TfhTextAlignment::taNone;
  TfhSimpleBiDiMode BiDiMode = TfhSimpleBiDiMode::bdLeftToRight;
};

// Draws the balloon over `snapshot` (the screen under the window; its size is the window's) and
// returns the 24-bit result. The window stays rectangular: corners, the shadow's gaps and the
// space beside the arrow keep the snapshot's pixels, which is what makes it look like a balloon.
QImage ComposeImage(const QImage& snapshot, TfhHintDirection placement, const QString& text,
                    const TBalloonStyle& style);

}  // namespace qav

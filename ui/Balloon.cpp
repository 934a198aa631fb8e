#include "ui/Balloon.h"

#include <QPainter>
#include <QPolygonF>
#include <QTextOption>
#include <algorithm>
#include <optional>

namespace qav {

namespace {

using D = TfhHintDirection;

// A rectangle with corner ellipses, as a set of pixels: a pixel belongs to it when its centre
// lies inside. `left`..`right` and `top`..`bottom` are inclusive pixel bounds; `ellipse` is the
// corner ellipse's width and height, 0 or 1 for square corners.
class RoundRect {
 public:
  RoundRect(int left, int top, int right, int bottom, int ellipse)
      : l_(left), t_(top), r_(right + 1), b_(bottom + 1) {
    const int e = std::min({ellipse, r_ - l_, b_ - t_});
    a_ = e >= 2 ? e / 2.0 : 0.0;
  }

  bool Contains(int x, int y) const {
    const double px = x + 0.5, py = y + 0.5;
    if (px < l_ || px > r_ || py < t_ || py > b_) return false;
    if (a_ == 0.0) return true;
    const double dx = px - std::clamp(px, l_ + a_, r_ - a_);
    const double dy = py - std::clamp(py, t_ + a_, b_ - a_);
    return dx * dx + dy * dy <= a_ * a_;
  }

  int Left() const { return l_; }
  int Top() const { return t_; }
  int Right() const { return r_ - 1; }
  int Bottom() const { return b_ - 1; }

 private:
  int l_, t_, r_, b_;
  double a_;
};

bool Dotted(int x, int y) {
  return (x & 1) == (y & 1);
}

// Calls f(x, y) for every pixel of the inclusive box that lies on the image.
template <typename F>
void ForBox(const QImage& img, int x0, int y0, int x1, int y1, F f) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, img.width() - 1);
  y1 = std::min(y1, img.height() - 1);
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) f(x, y);
}

void DrawShadow(QImage& img, int r, int T, QRgb shadow) {
  const int W = img.width(), H = img.height();
  const RoundRect region =
      T == 0 ? RoundRect(10, 8, W - 1, H - 9, r - 1) : RoundRect(10, 23, W - 1, H - 3, r - 1);
  auto dot = [&](int x, int y) {
    if (Dotted(x, y) && region.Contains(x, y)) img.setPixel(x, y, shadow);
  };
  if (T == 0) {
    ForBox(img, W - 14, 8, W, H - 14, dot);
    ForBox(img, 10, H - 14, W, H - 9, dot);
  } else {
    ForBox(img, W - 14, 23, W, H - 8, dot);
    ForBox(img, 10, H - 8, W, H - 2, dot);
  }
}

// The body's outline is the edge of its pixel set, one pixel wide, inside the rectangle.
void DrawBody(QImage& img, int r, int T, QRgb border, QRgb background) {
  const int W = img.width(), H = img.height();
  const RoundRect body =
      T == 0 ? RoundRect(0, 0, W - 7, H - 15, r) : RoundRect(0, 15, W - 7, H - 9, r);
  ForBox(img, body.Left(), body.Top(), body.Right(), body.Bottom(), [&](int x, int y) {
    if (!body.Contains(x, y)) return;
    const bool edge = !body.Contains(x - 1, y) || !body.Contains(x + 1, y) ||
                      !body.Contains(x, y - 1) || !body.Contains(x, y + 1);
    img.setPixel(x, y, edge ? border : background);
  });
}

struct Arrow {
  QPoint P1, P2, P3;
  std::optional<QPolygon> Shadow;
  QRect ShadowBox;
};

Arrow ArrowOf(D placement, int W, int H) {
  switch (placement) {
    case D::dUpRight:
      return {{10, H - 15},
              {20, H - 15},
              {0, H},
              QPolygon({{12, H - 15}, {26, H - 15}, {6, H}}),
              QRect(QPoint(6, H - 15), QPoint(26, H))};
    case D::dUpLeft:
      return {{W - 26, H - 15},
              {W - 16, H - 15},
              {W - 6, H},
              QPolygon({{W - 32, H - 15}, {W - 11, H - 15}, {W - 6, H}}),
              QRect(QPoint(W - 32, H - 15), QPoint(W - 6, H))};
    case D::dDownRight:
      return {{10, 15}, {20, 15}, {0, 0}, std::nullopt, QRect()};
    case D::dDownLeft:
      return {{W - 26, 15},
              {W - 16, 15},
              {W - 6, 0},
              QPolygon({{W - 16, 15}, {W - 10, 15}, {W - 4, 0}}),
              QRect(QPoint(W - 16, 0), QPoint(W - 4, 15))};
  }
  return {};
}

void DrawArrow(QImage& img, D placement, const TBalloonStyle& s) {
  const Arrow a = ArrowOf(placement, img.width(), img.height());
  if (s.ShowShadow && a.Shadow) {
    const QPolygonF triangle(*a.Shadow);
    const QRect& box = a.ShadowBox;
    ForBox(img, box.left(), box.top(), box.right(), box.bottom(), [&](int x, int y) {
      if (Dotted(x, y) && triangle.containsPoint(QPointF(x + 0.5, y + 0.5), Qt::OddEvenFill))
        img.setPixel(x, y, s.ColorShadow.rgb());
    });
  }
  // Opens the body's outline where the arrow joins it; the end point stays, as a line's last
  // pixel is not drawn.
  ForBox(img, a.P1.x(), a.P1.y(), a.P2.x() - 1, a.P1.y(),
         [&](int x, int y) { img.setPixel(x, y, s.ColorBackground.rgb()); });
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::NoPen);
  p.setBrush(s.ColorBackground);
  p.drawPolygon(QPolygon({a.P1, a.P2, a.P3}));
  p.setPen(QPen(s.ColorBorder, 0));
  p.drawLine(a.P2, a.P3);
  p.drawLine(a.P3, a.P1);
}

void Blend(QImage& img, const QImage& snapshot, const QColor& background, int rate) {
  const QRgb bg = background.rgb();
  const int keep = 100 - rate;
  auto mix = [&](int b, int s) { return (keep * b + rate * s) / 100; };
  for (int y = 0; y < img.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < img.width(); ++x) {
      if (line[x] != bg) continue;
      const QRgb s = snapshot.pixel(x, y);
      line[x] = qRgb(mix(qRed(bg), qRed(s)), mix(qGreen(bg), qGreen(s)), mix(qBlue(bg), qBlue(s)));
    }
  }
}

// The toolkit's text layout breaks lines at LF and would draw a CR as a blank.
QString DisplayText(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text;
}

void DrawText(QImage& img, int T, const QString& text, const TBalloonStyle& s) {
  const QRect rect(QPoint(8, 3 + T), QPoint(img.width() - 13, img.height() - 1));
  if (rect.isEmpty() || text.isEmpty()) return;
  Qt::Alignment align = Qt::AlignLeft;
  if (s.TextAlignment == TfhTextAlignment::taRight) align = Qt::AlignRight;
  if (s.TextAlignment == TfhTextAlignment::taCenter) align = Qt::AlignHCenter;
  // Absolute: right-to-left reading changes the order of the text, not the side it keeps to.
  QTextOption option(align | Qt::AlignAbsolute | Qt::AlignTop);
  option.setWrapMode(QTextOption::WordWrap);
  option.setTextDirection(s.BiDiMode == TfhSimpleBiDiMode::bdRightToLeft ? Qt::RightToLeft
                                                                         : Qt::LeftToRight);
  QPainter p(&img);
  p.setClipRect(rect);
  p.setFont(s.Font);
  p.setPen(s.FontColor);
  p.drawText(QRectF(rect), DisplayText(text), option);
}

}  // namespace

QSize BalloonSize(QSize text, TfhHintDirection placement) {
  return {text.width() + 16, text.height() + (ArrowOnTop(placement) ? 29 : 20)};
}

THintPlacement PlaceHint(TfhHintDirection preferred, QPoint cursor, const QRect& screen,
                         QSize text) {
  const int x = cursor.x() - screen.left(), y = cursor.y() - screen.top();
  const int SW = screen.width(), SH = screen.height();
  const int wA = text.width() + 16, hA = text.height() + 20;
  const int wB = text.width() + 16, hB = text.height() + 29;
  bool tried[4] = {};
  D d = preferred;
  for (;;) {
    tried[static_cast<int>(d)] = true;
    std::optional<D> next;
    QPoint corner;
    switch (d) {
      case D::dUpRight:
        if (x + wA > SW)
          next = D::dUpLeft;
        else if (y - 2 - hA < 0)
          next = D::dDownRight;
        corner = {x, y - 2 - hA};
        break;
      case D::dUpLeft:
        if (x + 6 - wA < 0)
          next = D::dUpRight;
        else if (y - 2 - hA < 0)
          next = D::dDownLeft;
        corner = {x + 6 - wA, y - 2 - hA};
        break;
      case D::dDownLeft:
        if (x + 6 - wB < 0)
          next = D::dDownRight;
        else if (y + 6 + hB > SH)
          next = D::dUpLeft;
        corner = {x + 6 - wB, y + 6};
        break;
      case D::dDownRight:
        if (x + wB > SW)
          next = D::dDownLeft;
        else if (y + 6 + hB > SH)
          next = D::dUpRight;
        corner = {x, y + 6};
        break;
    }
    if (!next || tried[static_cast<int>(*next)]) return {corner + screen.topLeft(), d};
    d = *next;
  }
}

QString CleanHintText(const QString& hint, TfhTextAlignment alignment) {
  if (alignment == TfhTextAlignment::taNone || hint.isEmpty()) return hint;
  QString lines = hint;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QString result;
  for (const QString& line : lines.split(QLatin1Char('\n'))) {
    qsizetype from = 0, to = line.size();
    while (from < to && line.at(from).unicode() <= 32) ++from;
    while (to > from && line.at(to - 1).unicode() <= 32) --to;
    result += line.mid(from, to - from) + QStringLiteral("\r\n");
  }
  return result;
}

QImage ComposeImage(const QImage& snapshot, TfhHintDirection placement, const QString& text,
                    const TBalloonStyle& style) {
  const QImage background = snapshot.convertToFormat(QImage::Format_RGB32);
  QImage img = background;
  const int r = style.Rounded ? style.RoundRadius : 0;
  const int T = ArrowOnTop(placement) ? 15 : 0;
  if (style.ShowShadow) DrawShadow(img, r, T, style.ColorShadow.rgb());
  DrawBody(img, r, T, style.ColorBorder.rgb(), style.ColorBackground.rgb());
  if (style.ShowArrow) DrawArrow(img, placement, style);
  if (style.Transparent)
    Blend(img, background, style.ColorBackground, std::clamp(style.TransparencyRate, 0, 100));
  DrawText(img, T, text, style);
  return img;
}

}  // namespace qav

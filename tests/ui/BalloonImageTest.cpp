#include "ui/Balloon.h"

#include <gtest/gtest.h>
#include <QImage>

using namespace qav;
using D = TfhHintDirection;

namespace {

const QRgb kDesktop = qRgb(0, 160, 0);
const QRgb kBackground = qRgb(255, 255, 225);
const QRgb kBorder = qRgb(0, 0, 0);
const QRgb kShadow = qRgb(128, 128, 128);
const D kPlacements[] = {D::dUpRight, D::dUpLeft, D::dDownRight, D::dDownLeft};

TBalloonStyle Style() {
  TBalloonStyle s;
  s.ColorBackground = QColor(kBackground);
  s.ColorBorder = QColor(kBorder);
  s.ColorShadow = QColor(kShadow);
  s.FontColor = Qt::black;
  s.Font.setPixelSize(11);
  return s;
}

// The screen behind a balloon with a 100 x 20 text rectangle.
QImage Desktop(D placement, QRgb colour = kDesktop) {
  QImage img(BalloonSize({100, 20}, placement), QImage::Format_RGB32);
  img.fill(colour);
  return img;
}

// A desktop whose every pixel differs from its neighbours, for blending.
QImage Pattern(D placement) {
  QImage img = Desktop(placement);
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      img.setPixel(x, y, qRgb(x * 7 % 256, y * 13 % 256, (x + y) * 5 % 256));
  return img;
}

int Count(const QImage& img, QRect box, QRgb colour) {
  int n = 0;
  box &= img.rect();
  for (int y = box.top(); y <= box.bottom(); ++y)
    for (int x = box.left(); x <= box.right(); ++x) n += img.pixel(x, y) == colour;
  return n;
}

// The corner of the window the arrow's tip points into, as a 3 x 3 box.
QRect TipBox(D placement, int W, int H) {
  switch (placement) {
    case D::dUpRight:
      return QRect(0, H - 3, 3, 3);
    case D::dUpLeft:
      return QRect(W - 8, H - 3, 3, 3);
    case D::dDownRight:
      return QRect(0, 0, 3, 3);
    case D::dDownLeft:
      return QRect(W - 8, 0, 3, 3);
  }
  return {};
}

}  // namespace

TEST(BalloonImage, ShadowIsDottedAndFallsRightOfAndBelowTheBody) {
  for (D placement : kPlacements) {
    SCOPED_TRACE(static_cast<int>(placement));
    const QImage img = ComposeImage(Desktop(placement), placement, QString(), Style());
    const int W = img.width(), H = img.height();
    const int T = ArrowOnTop(placement) ? 15 : 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (img.pixel(x, y) == kShadow) {
          ASSERT_EQ(x % 2, y % 2) << x << "," << y;
        }
    // Right of the body and below it, away from the rounded corners, every other pixel.
    for (int y = T + 12; y < H - 20; ++y)
      EXPECT_EQ(img.pixel(W - 3, y) == kShadow, (W - 3 + y) % 2 == 0) << y;
    const int below = T == 0 ? H - 11 : H - 5;
    for (int x = 35; x < W - 35; ++x)
      EXPECT_EQ(img.pixel(x, below) == kShadow, (x + below) % 2 == 0) << x;

    TBalloonStyle plain = Style();
    plain.ShowShadow = false;
    EXPECT_EQ(
        Count(ComposeImage(Desktop(placement), placement, QString(), plain), img.rect(), kShadow),
        0);
  }
}

TEST(BalloonImage, ArrowPointsIntoTheCornerOfItsPlacement) {
  TBalloonStyle s = Style();
  s.ShowShadow = false;
  for (D placement : kPlacements) {
    SCOPED_TRACE(static_cast<int>(placement));
    const QImage img = ComposeImage(Desktop(placement), placement, QString(), s);
    for (D corner : kPlacements) {
      const QRect box = TipBox(corner, img.width(), img.height());
      if (corner == placement) {
        EXPECT_GT(Count(img, box, kBorder), 0);
      } else {
        EXPECT_EQ(Count(img, box, kDesktop), 9) << static_cast<int>(corner);
      }
    }
  }
}

TEST(BalloonImage, WithoutArrowItsAreaShowsTheDesktop) {
  TBalloonStyle s = Style();
  s.ShowShadow = false;
  for (D placement : kPlacements) {
    SCOPED_TRACE(static_cast<int>(placement));
    const QImage desktop = Pattern(placement);
    const QImage with = ComposeImage(desktop, placement, QString(), s);
    s.ShowArrow = false;
    const QImage without = ComposeImage(desktop, placement, QString(), s);
    s.ShowArrow = true;
    const int W = with.width(), H = with.height();
    // The arrow lies between the body's edge and the tip's corner, beside the body.
    const int join = ArrowOnTop(placement) ? 15 : H - 15;
    const bool left = placement == D::dUpRight || placement == D::dDownRight;
    const QRect arrow =
        QRect(QPoint(left ? 0 : W - 32, std::min(join, ArrowOnTop(placement) ? 0 : H)),
              QPoint(left ? 26 : W - 4, std::max(join, ArrowOnTop(placement) ? 0 : H - 1)));
    int changed = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        if (with.pixel(x, y) == without.pixel(x, y)) continue;
        ++changed;
        ASSERT_TRUE(arrow.contains(x, y)) << x << "," << y;
        if (y != join) {
          ASSERT_EQ(without.pixel(x, y), desktop.pixel(x, y)) << x << "," << y;
        }
      }
    EXPECT_GT(changed, 40);
  }
}

TEST(BalloonImage, RoundedOffGivesSquareCorners) {
  struct Case {
    bool rounded;
    QRgb corner;
  } cases[] = {{true, kDesktop}, {false, kBorder}};
  for (const Case& c : cases) {
    for (D placement : {D::dUpLeft, D::dDownLeft}) {
      TBalloonStyle s = Style();
      s.Rounded = c.rounded;
      s.ShowShadow = false;
      const QImage img = ComposeImage(Desktop(placement), placement, QString(), s);
      const int top = ArrowOnTop(placement) ? 15 : 0;
      const int bottom = img.height() - (ArrowOnTop(placement) ? 9 : 15);
      const int right = img.width() - 7;
      SCOPED_TRACE(testing::Message() << c.rounded << " " << static_cast<int>(placement));
      EXPECT_EQ(img.pixel(0, top), c.corner);
      EXPECT_EQ(img.pixel(right, top), c.corner);
      EXPECT_EQ(img.pixel(0, bottom), c.corner);
      EXPECT_EQ(img.pixel(right, bottom), c.corner);
      // The edges' middles are outline either way, and nothing lies beyond them.
      EXPECT_EQ(img.pixel(img.width() / 2, top), kBorder);
      EXPECT_EQ(img.pixel(right, (top + bottom) / 2), kBorder);
      EXPECT_EQ(img.pixel(right + 1, (top + bottom) / 2), kDesktop);
      EXPECT_EQ(img.pixel(img.width() / 2, bottom + 1), kDesktop);
    }
  }
}

TEST(BalloonImage, TransparencyBlendsOnlyTheBackgroundWithTheDesktop) {
  for (int rate : {0, 30, 100}) {
    for (D placement : {D::dUpRight, D::dDownLeft}) {
      SCOPED_TRACE(testing::Message() << rate << " " << static_cast<int>(placement));
      const QImage desktop = Pattern(placement);
      TBalloonStyle s = Style();
      const QImage opaque = ComposeImage(desktop, placement, QString(), s);
      s.Transparent = true;
      s.TransparencyRate = rate;
      const QImage blended = ComposeImage(desktop, placement, QString(), s);
      int body = 0;
      for (int y = 0; y < opaque.height(); ++y)
        for (int x = 0; x < opaque.width(); ++x) {
          const QRgb o = opaque.pixel(x, y), b = blended.pixel(x, y), d = desktop.pixel(x, y);
          if (o != kBackground) {
            ASSERT_EQ(b, o) << x << "," << y;
            continue;
          }
          ++body;
          auto mix = [rate](int bg, int dt) { return ((100 - rate) * bg + rate * dt) / 100; };
          const QRgb want =
              qRgb(mix(qRed(o), qRed(d)), mix(qGreen(o), qGreen(d)), mix(qBlue(o), qBlue(d)));
          ASSERT_EQ(b, want) << x << "," << y;
          if (rate == 0) {
            ASSERT_EQ(b, kBackground);
          }
          if (rate == 100) {
            ASSERT_EQ(b, d);
          }
        }
      EXPECT_GT(body, 100 * 20);
    }
  }
}

TEST(BalloonImage, TextKeepsToItsAlignmentWhateverTheReadingOrder) {
  using A = TfhTextAlignment;
  using B = TfhSimpleBiDiMode;
  struct Case {
    A alignment;
    B bidi;
    const char* text;
    int side;  // -1 left, 0 centre, 1 right
  } cases[] = {
      {A::taNone, B::bdLeftToRight, "Exit", -1},
      {A::taLeft, B::bdRightToLeft, "Exit", -1},
      {A::taRight, B::bdLeftToRight, "Exit", 1},
      {A::taCenter, B::bdLeftToRight, "Exit", 0},
      {A::taCenter, B::bdRightToLeft, "บริษัท ทดสอบ จำกัด", 0},
      {A::taRight, B::bdLeftToRight, "บริษัท", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TBalloonStyle s = Style();
    s.TextAlignment = c.alignment;
    s.BiDiMode = c.bidi;
    s.ShowShadow = false;
    s.Rounded = false;
    const QImage img =
        ComposeImage(Desktop(D::dUpRight), D::dUpRight, QString::fromUtf8(c.text), s);
    // Ink: what the text changed inside the body.
    int first = img.width(), last = -1;
    for (int y = 3; y < img.height() - 16; ++y)
      for (int x = 2; x < img.width() - 8; ++x)
        if (img.pixel(x, y) != kBackground) {
          first = std::min(first, x);
          last = std::max(last, x);
        }
    ASSERT_GE(last, first);
    // The text rectangle runs from x 8 to W - 13.
    const int middle = (8 + img.width() - 13) / 2, ink = (first + last) / 2;
    if (c.side < 0) {
      EXPECT_LE(first, 10);
    } else if (c.side > 0) {
      EXPECT_GE(last, img.width() - 16);
    } else {
      EXPECT_NEAR(ink, middle, 3);
    }
  }
}

TEST(BalloonImage, RightToLeftReadingReordersTheText) {
  TBalloonStyle s = Style();
  s.TextAlignment = TfhTextAlignment::taCenter;
  const QImage ltr = ComposeImage(Desktop(D::dUpRight), D::dUpRight, QStringLiteral("Exit!!!!"), s);
  s.BiDiMode = TfhSimpleBiDiMode::bdRightToLeft;
  const QImage rtl = ComposeImage(Desktop(D::dUpRight), D::dUpRight, QStringLiteral("Exit!!!!"), s);
  EXPECT_NE(ltr, rtl);
}

TEST(BalloonImage, CleanUpTrimsEveryLineAndEndsEachWithCrLf) {
  using A = TfhTextAlignment;
  struct Case {
    A alignment;
    const char* hint;
    const char* want;
  } cases[] = {
      {A::taCenter, "  New\r\n  Record  ", "New\r\nRecord\r\n"},
      {A::taLeft, "\t Save\x01\r\n\r\n Close", "Save\r\n\r\nClose\r\n"},
      {A::taRight, " บริษัท \n ทดสอบ จำกัด ", "บริษัท\r\nทดสอบ จำกัด\r\n"},
      {A::taCenter, "Exit\r\n", "Exit\r\n\r\n"},
      {A::taCenter, "", ""},
      {A::taNone, "  New\r\n  Record  ", "  New\r\n  Record  "},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CleanHintText(QString::fromUtf8(c.hint), c.alignment), QString::fromUtf8(c.want))
        << c.hint;
}

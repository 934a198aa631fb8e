#include "ui/Balloon.h"

#include <gtest/gtest.h>

using namespace qav;
using D = TfhHintDirection;

namespace {

const QRect kScreen(0, 0, 800, 600);

struct Case {
  const char* name;
  D preferred;
  QPoint cursor;
  QSize text;
  D placement;
  QPoint topLeft;
  QRect screen = kScreen;
};

}  // namespace

// A 100 x 20 text makes a 116 x 40 window above the pointer and 116 x 49 below it.
TEST(HintPlacement, FollowsThePlacementTable) {
  const QSize t(100, 20);
  const Case cases[] = {
      {"up-right fits", D::dUpRight, {300, 300}, t, D::dUpRight, {300, 258}},
      {"up-right at the right edge exactly", D::dUpRight, {684, 300}, t, D::dUpRight, {684, 258}},
      {"up-right past the right edge", D::dUpRight, {685, 300}, t, D::dUpLeft, {575, 258}},
      {"up-right at the top exactly", D::dUpRight, {300, 42}, t, D::dUpRight, {300, 0}},
      {"up-right past the top", D::dUpRight, {300, 41}, t, D::dDownRight, {300, 47}},
      {"up-left fits", D::dUpLeft, {300, 300}, t, D::dUpLeft, {190, 258}},
      {"up-left past the left edge", D::dUpLeft, {109, 300}, t, D::dUpRight, {109, 258}},
      {"up-left at the left edge exactly", D::dUpLeft, {110, 300}, t, D::dUpLeft, {0, 258}},
      {"up-left past the top", D::dUpLeft, {300, 20}, t, D::dDownLeft, {190, 26}},
      {"down-left fits", D::dDownLeft, {300, 300}, t, D::dDownLeft, {190, 306}},
      {"down-left past the left edge", D::dDownLeft, {50, 300}, t, D::dDownRight, {50, 306}},
      {"down-left at the bottom exactly", D::dDownLeft, {300, 545}, t, D::dDownLeft, {190, 551}},
      {"down-left past the bottom", D::dDownLeft, {300, 546}, t, D::dUpLeft, {190, 504}},
      {"down-right fits", D::dDownRight, {300, 300}, t, D::dDownRight, {300, 306}},
      {"down-right past the right edge", D::dDownRight, {750, 300}, t, D::dDownLeft, {640, 306}},
      {"down-right past the bottom", D::dDownRight, {300, 580}, t, D::dUpRight, {300, 538}},
      // Near the right edge and the top at once: two hand-overs.
      {"up-right in the top-right corner", D::dUpRight, {790, 10}, t, D::dDownLeft, {680, 16}},
      {"up-left in the top-left corner", D::dUpLeft, {0, 0}, t, D::dDownRight, {0, 6}},
      {"on a second screen",
       D::dUpRight,
       {1750, 300},
       t,
       D::dUpLeft,
       {1640, 258},
       QRect(1000, 0, 800, 600)},
      {"below a screen that starts lower",
       D::dUpRight,
       {300, 120},
       t,
       D::dDownRight,
       {300, 126},
       QRect(0, 100, 800, 600)},
  };
  for (const Case& c : cases) {
    const THintPlacement got = PlaceHint(c.preferred, c.cursor, c.screen, c.text);
    EXPECT_EQ(got.Direction, c.placement) << c.name;
    EXPECT_EQ(got.TopLeft, c.topLeft) << c.name;
  }
}

// Hand-overs that come back to a placement already tried stop there, and the last placement
// tried is used although the balloon leaves the screen.
TEST(HintPlacement, StopsWhenTheSearchComesBackToAPlacementTried) {
  const Case cases[] = {
      {"wider than the screen", D::dUpRight, {400, 300}, {900, 20}, D::dUpLeft, {-510, 258}},
      {"wider than the screen, from below",
       D::dDownRight,
       {400, 300},
       {900, 20},
       D::dDownLeft,
       {-510, 306}},
      {"taller than the screen", D::dUpRight, {300, 300}, {100, 700}, D::dDownRight, {300, 306}},
      {"taller than the screen, from the left",
       D::dUpLeft,
       {300, 300},
       {100, 700},
       D::dDownLeft,
       {190, 306}},
      {"larger both ways", D::dUpRight, {400, 300}, {900, 700}, D::dUpLeft, {-510, -422}},
      {"larger both ways, from below",
       D::dDownLeft,
       {400, 300},
       {900, 700},
       D::dDownRight,
       {400, 306}},
  };
  for (const Case& c : cases) {
    const THintPlacement got = PlaceHint(c.preferred, c.cursor, c.screen, c.text);
    EXPECT_EQ(got.Direction, c.placement) << c.name;
    EXPECT_EQ(got.TopLeft, c.topLeft) << c.name;
  }
}

TEST(HintPlacement, BalloonBelowThePointerIsNinePixelsTaller) {
  for (D d : {D::dUpRight, D::dUpLeft}) EXPECT_EQ(BalloonSize({100, 20}, d), QSize(116, 40));
  for (D d : {D::dDownRight, D::dDownLeft}) EXPECT_EQ(BalloonSize({100, 20}, d), QSize(116, 49));
}

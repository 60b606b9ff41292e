// What the knobs, pills, band strip and corner grip draw, probed over a black canvas at
// draw scales 1 and 2.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>

#include "KnobRowTestRig.h"

namespace
{

struct Rgb
{
  int r, g, b;
};
std::ostream& operator<<(std::ostream& os, const Rgb& c)
{
  return os << '(' << c.r << ',' << c.g << ',' << c.b << ')';
}
bool Accent(Rgb c)
{
  return c.g > 150 && c.r < 100;
}
bool Dark(Rgb c)
{
  return std::max({c.r, c.g, c.b}) < 8;
}
// The translucent whites: ring and track (~20-40), dim dot and handle (~55-70), grip (~35).
bool Grey(Rgb c, int lo, int hi)
{
  return std::abs(c.r - c.b) < 8 && c.r >= lo && c.r <= hi;
}

struct KnobRowDrawing : ::testing::TestWithParam<float>, KnobRowTestRig
{
  KnobRowDrawing() : KnobRowTestRig(GetParam()) {}

  Rgb At(float x, float y) const
  {
    int stride = 0;
    const unsigned char* p = g.GetPixels(stride) + static_cast<int>(y * g.GetDrawScale()) * stride +
                             static_cast<int>(x * g.GetDrawScale()) * 4;
    return {p[2], p[1], p[0]};
  }
  // On a knob's ring (half its square less half the track): 0 degrees up, clockwise.
  Rgb OnRing(float cx, float cy, float r, float degrees) const
  {
    const float a = degrees * 3.14159265f / 180.f;
    return At(cx + r * std::sin(a), cy - r * std::cos(a));
  }
};

TEST_P(KnobRowDrawing, KnobArcsRunFromTheirAnchorOnAFaintRingOverTheWholeSweep)
{
  dlg.GetParam(kTilt)->Set(-3.); // -67.5 degrees; AMOUNT at 50 % points up
  Attach();
  g.OnFrame();

  EXPECT_PRED1(Accent, OnRing(172, 366, 37, -120));
  EXPECT_PRED1(Accent, OnRing(172, 366, 37, -10));
  EXPECT_PRED3(Grey, OnRing(172, 366, 37, 10), 12, 60);
  EXPECT_PRED3(Grey, OnRing(172, 366, 37, 125), 12, 60);
  EXPECT_PRED1(Dark, OnRing(172, 366, 37, 180));

  EXPECT_PRED1(Accent, OnRing(272, 374, 27, -45));
  EXPECT_PRED3(Grey, OnRing(272, 374, 27, -80), 12, 60);
  EXPECT_PRED3(Grey, OnRing(272, 374, 27, 45), 12, 60);
}

TEST_P(KnobRowDrawing, PillDotsTheBandStripsSpanAndTheGripInTheirColours)
{
  // High-pass off with its handle at x 260; the low-pass handle at 0.8 of the track (x 505.2).
  dlg.GetParam(kHPOn)->Set(0.);
  dlg.GetParam(kHPFreq)->Set(200.);
  dlg.GetParam(kLPFreq)->Set(1000. * std::pow(20., 0.6));
  Attach();
  g.OnFrame();

  // Not bypassed lights the inverted pill's dot; the HP pill's dot is dim, over its body.
  EXPECT_PRED1(Accent, At(603.5f, 64));
  EXPECT_PRED3(Grey, At(38.3f, 481), 50, 90);
  EXPECT_PRED3(Grey, At(33, 481), 12, 30);
  // The accent runs from the track's left end to the low-pass handle, but not in the centre
  // gap; the faint track goes on beyond; the dim high-pass handle still shows.
  EXPECT_PRED1(Accent, At(200, 481));
  EXPECT_PRED1(Accent, At(495, 481));
  EXPECT_PRED1(Dark, At(360, 481));
  EXPECT_PRED3(Grey, At(520, 481), 10, 30);
  EXPECT_PRED1(Dark, At(520, 477));
  EXPECT_PRED3(Grey, At(260, 477), 40, 70);
  // The grip fills the corner's lower-right half only.
  EXPECT_PRED3(Grey, At(716, 528), 25, 45);
  EXPECT_PRED1(Dark, At(708, 520));
}

INSTANTIATE_TEST_SUITE_P(Scales, KnobRowDrawing, ::testing::Values(1.f, 2.f));

} // namespace

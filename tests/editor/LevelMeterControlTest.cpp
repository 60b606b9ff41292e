// The level meters: track geometry, the peak readout and its colour, the peak line, the
// scale's side, and levels that are not numbers.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "MeterTestSupport.h"

using namespace iplug::igraphics;

namespace
{

bool Reddish(const IColor& c)
{
  return c.R > 150 && c.G < 110 && c.B < 110;
}

struct Meters : ::testing::Test
{
  MeterTestDelegate dlg;
  IGraphics g{dlg, 720, 532, 60, 1.f};
  LevelMeterControl* input = AttachMeter(g, 1);
  LevelMeterControl* output = AttachMeter(g, 2);

  void Send(float peak, float avg)
  {
    LevelMeterControl::Data d;
    d.vals[0] = {peak, avg};
    g.SendControlMsgFromDelegate(2, 0, static_cast<int>(sizeof(d)), &d);
  }
  static float Amp(double db) { return static_cast<float>(std::pow(10., db / 20.)); }
  int RedInReadout()
  {
    int n = 0;
    for (int x = 18; x < 92; ++x)
      for (int y = 328; y < 344; ++y)
        n += Reddish(PixelAt(g, x, y));
    return n;
  }
  // The first and last columns with lit scale text around the "0" label (y 353.2).
  std::pair<int, int> LitColumns(int x0, int x1)
  {
    std::pair<int, int> lit{-1, -1};
    for (int x = x0; x <= x1; ++x)
      for (int y = 348; y <= 358; ++y)
        if (PixelAt(g, x, y).R > 40)
          lit = {lit.first < 0 ? x : lit.first, x};
    return lit;
  }
};

} // namespace

TEST_F(Meters, TracksSitBesideTheScale)
{
  EXPECT_EQ(input->GetTrackBounds(0), IRECT(58, 344, 72, 436));
  EXPECT_EQ(output->GetTrackBounds(0), IRECT(655, 344, 669, 436));
  EXPECT_TRUE(input->GetIgnoreMouse());

  g.OnFrame();
  // Input labels end at their box's right edge (52), output labels start at its left (675).
  const auto inLeft = LitColumns(34, 53), inRight = LitColumns(73, 91);
  const auto outLeft = LitColumns(640, 654), outRight = LitColumns(674, 694);
  EXPECT_GE(inLeft.second, 49);
  EXPECT_EQ(inRight.first, -1);
  ASSERT_GE(outRight.first, 0);
  EXPECT_LE(outRight.first, 677);
  EXPECT_EQ(outLeft.first, -1);
}

TEST_F(Meters, TheReadoutShowsThePeakToATenthInTheOverColourFromZeroDb)
{
  EXPECT_EQ(LevelMeterControl::ReadoutText(-53.5f, -54.f), "-inf");
  EXPECT_EQ(LevelMeterControl::ReadoutText(-53.4f, -54.f), "-53.4 dB");
  EXPECT_EQ(LevelMeterControl::ReadoutText(5.96f, -54.f), "6.0 dB");
  EXPECT_EQ(input->PeakDb(), -54.f); // before the first message

  // +1 dBFS: the line just above the 0 dB tick (436 - 55/60 * 92 = 351.67, tick at 353.2).
  Send(Amp(1.), 0.f);
  EXPECT_EQ(LevelMeterControl::ReadoutText(input->PeakDb(), -54.f), "1.0 dB");
  g.OnFrame();
  EXPECT_EQ(PixelAt(g, 65, 351), IColor(255, 235, 64, 52));
  EXPECT_GT(RedInReadout(), 5);

  // -12 dB at 371.6, (209,250,250,250) over the track's (18,250,250,250) over the window.
  Send(Amp(-12.), 0.f);
  g.OnFrame();
  EXPECT_EQ(RedInReadout(), 0);
  const double track = 10. + 18. / 255. * 240.;
  EXPECT_NEAR(PixelAt(g, 65, 371).R, track + 209. / 255. * (250. - track), 2.);
}

TEST_F(Meters, LevelsAreHeldInTheRangeAndANaNIsSilence)
{
  // +12 dB fills the whole track, with the peak line at its top.
  Send(Amp(12.), Amp(12.));
  EXPECT_EQ(input->PeakDb(), 6.f);
  g.OnFrame();
  EXPECT_EQ(PixelAt(g, 65, 345), kAccent);
  EXPECT_EQ(PixelAt(g, 65, 435), kAccent);
  EXPECT_TRUE(Reddish(PixelAt(g, 65, 344)));

  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  Send(nan, nan);
  EXPECT_EQ(input->GetValue(0), 0.);
  EXPECT_EQ(input->PeakDb(), -54.f);
  Send(inf, -inf);
  EXPECT_EQ(input->PeakDb(), 6.f);
  EXPECT_EQ(input->GetValue(0), 1.);

  // A message of another shape is not a level.
  const double wrong[2] = {0., 0.};
  g.SendControlMsgFromDelegate(2, 0, sizeof(wrong), wrong);
  EXPECT_EQ(input->PeakDb(), 6.f);
}

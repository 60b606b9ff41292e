// The level meters: track geometry, the peak readout and its colour, the peak line, the
// scale's side, and levels that are not numbers.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "LevelMeterControl.h"
#include "MeterTestSupport.h"
#include "Resources.h"

using namespace iplug::igraphics;

namespace
{

using Data = LevelMeterControl::Data;

Data Levels(float peak, float avg)
{
  Data d;
  d.ctrlTag = 2;
  d.vals[0] = {peak, avg};
  return d;
}

float AmplitudeOfDb(double db)
{
  return static_cast<float>(std::pow(10., db / 20.));
}

bool Reddish(const IColor& c)
{
  return c.R > 150 && c.G < 110 && c.B < 110;
}

struct Meters : ::testing::Test
{
  MeterTestDelegate dlg;
  IGraphics g{dlg, 720, 532, 60, 1.f};
  LevelMeterControl* input = nullptr;
  LevelMeterControl* output = nullptr;

  void SetUp() override
  {
    g.SetResources(MorvellanResources());
    g.LoadFont("Roboto-Regular", "Roboto-Regular.ttf");
    g.AttachPanelBackground(kWindowFill);
    input = static_cast<LevelMeterControl*>(g.AttachControl(
      new LevelMeterControl(IRECT(18, 328, 92, 436), MeterStyle(), 16.f, 14.f, ReadoutStyle(), ScaleStyle(), -54.f,
                            6.f, LevelMeterControl::kInput),
      2));
    output = static_cast<LevelMeterControl*>(g.AttachControl(
      new LevelMeterControl(IRECT(640, 328, 704, 436), MeterStyle(), 16.f, 14.f, ReadoutStyle(), ScaleStyle(), -54.f,
                            6.f, LevelMeterControl::kOutput),
      3));
  }
  void Send(int tag, float peak, float avg)
  {
    const Data d = Levels(peak, avg);
    g.SendControlMsgFromDelegate(tag, 0, static_cast<int>(sizeof(d)), &d);
  }
  // The columns holding lit scale text in a row band, as [first, last]; {-1, -1} for none.
  std::pair<int, int> LitColumns(int x0, int x1, int y0, int y1)
  {
    int first = -1, last = -1;
    for (int x = x0; x <= x1; ++x)
      for (int y = y0; y <= y1; ++y)
        if (PixelAt(g, x, y).R > 40)
        {
          if (first < 0)
            first = x;
          last = x;
        }
    return {first, last};
  }
};

} // namespace

TEST_F(Meters, TracksSitBesideTheScaleCentredInWhatIsLeft)
{
  EXPECT_EQ(input->GetTrackBounds(0), IRECT(58, 344, 72, 436));
  EXPECT_EQ(output->GetTrackBounds(0), IRECT(655, 344, 669, 436));
  // Worked out in the constructor already, before any graphics exists.
  LevelMeterControl detached(IRECT(640, 328, 704, 436), MeterStyle(), 16.f, 14.f, ReadoutStyle(), ScaleStyle(),
                             -54.f, 6.f, LevelMeterControl::kOutput);
  EXPECT_EQ(detached.GetTrackBounds(0), IRECT(655, 344, 669, 436));
  EXPECT_TRUE(input->GetIgnoreMouse());
}

TEST_F(Meters, TheReadoutShowsThePeakToATenthOrMinusInfNearTheBottom)
{
  EXPECT_EQ(LevelMeterControl::ReadoutText(-54.f, -54.f), "-inf");
  EXPECT_EQ(LevelMeterControl::ReadoutText(-53.5f, -54.f), "-inf");
  EXPECT_EQ(LevelMeterControl::ReadoutText(-53.4f, -54.f), "-53.4 dB");
  EXPECT_EQ(LevelMeterControl::ReadoutText(-12.f, -54.f), "-12.0 dB");
  EXPECT_EQ(LevelMeterControl::ReadoutText(5.96f, -54.f), "6.0 dB");

  // Before the first message.
  EXPECT_EQ(input->PeakDb(), -54.f);

  // +1 dBFS: 1.0 dB, readout and peak line in the over colour, the line just above the
  // 0 dB tick (0 dB at 436 - 54/60 * 92 = 353.2, +1 dB at 436 - 55/60 * 92 = 351.67).
  Send(2, AmplitudeOfDb(1.), 0.f);
  EXPECT_NEAR(input->PeakDb(), 1.f, 1e-4f);
  EXPECT_EQ(LevelMeterControl::ReadoutText(input->PeakDb(), -54.f), "1.0 dB");
  g.OnFrame();
  EXPECT_EQ(PixelAt(g, 65, 351), IColor(255, 235, 64, 52));
  EXPECT_NE(PixelAt(g, 65, 354), IColor(255, 235, 64, 52));
  int red = 0;
  for (int x = 18; x < 92; ++x)
    for (int y = 328; y < 344; ++y)
      red += Reddish(PixelAt(g, x, y));
  EXPECT_GT(red, 5);

  // Below 0 dB the line and readout are in the plain colours.
  Send(2, AmplitudeOfDb(-12.), 0.f);
  g.OnFrame();
  red = 0;
  for (int x = 18; x < 92; ++x)
    for (int y = 328; y < 344; ++y)
      red += Reddish(PixelAt(g, x, y));
  EXPECT_EQ(red, 0);
  // -12 dB at 436 - 42/60 * 92 = 371.6: (209,250,250,250) over the track's (18,250,250,250)
  // over the window's 10.
  const double track = 10. + 18. / 255. * 240.;
  EXPECT_NEAR(PixelAt(g, 65, 371).R, track + 209. / 255. * (250. - track), 2.);
}

TEST_F(Meters, LevelsAreHeldInTheRangeAndANaNIsSilence)
{
  Send(2, AmplitudeOfDb(12.), AmplitudeOfDb(12.));
  EXPECT_EQ(input->GetValue(0), 1.);
  EXPECT_EQ(input->PeakDb(), 6.f);
  g.OnFrame();
  // The whole track is filled and the peak line sits at its top.
  EXPECT_EQ(PixelAt(g, 65, 345), kAccent);
  EXPECT_EQ(PixelAt(g, 65, 430), kAccent);
  EXPECT_TRUE(Reddish(PixelAt(g, 65, 344)));

  Send(2, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(input->GetValue(0), 0.);
  EXPECT_EQ(input->PeakDb(), -54.f);
  EXPECT_EQ(LevelMeterControl::ReadoutText(input->PeakDb(), -54.f), "-inf");

  Send(2, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity());
  EXPECT_EQ(input->PeakDb(), 6.f);
  EXPECT_EQ(input->GetValue(0), 1.);

  // A message of another shape is not a level.
  const double wrong[2] = {0.5, 0.5};
  g.SendControlMsgFromDelegate(2, 0, sizeof(wrong), wrong);
  EXPECT_EQ(input->PeakDb(), 6.f);
}

TEST_F(Meters, ScaleLabelsAreRightAlignedLeftOfTheInputAndLeftAlignedRightOfTheOutput)
{
  g.OnFrame();
  // The "0" label, centred on y 353.2.
  const auto inLeft = LitColumns(34, 53, 348, 358);
  const auto inRight = LitColumns(73, 91, 348, 358);
  const auto outLeft = LitColumns(640, 654, 348, 358);
  const auto outRight = LitColumns(674, 694, 348, 358);
  ASSERT_GE(inLeft.first, 0);
  EXPECT_GE(inLeft.second, 49); // ends at the label box's right edge, 52
  EXPECT_EQ(inRight.first, -1);
  ASSERT_GE(outRight.first, 0);
  EXPECT_LE(outRight.first, 677); // starts at the label box's left edge, 675
  EXPECT_EQ(outLeft.first, -1);
}

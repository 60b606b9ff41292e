// The display's pictures in both modes at draw scales 1 and 2 against stored PNGs.
#include <gtest/gtest.h>

#include <string>

#include "GoldenImage.h"
#include "ToneDisplayRig.h"

namespace
{

// A display mid-session: a correction in force, measured levels, a narrowed range, three
// target bands on and one off, a tilt, the cut filters on and three pre-EQ bands bent.
void SetScene(DisplayRig& rig)
{
  const float corrections[12] = {3.f, 5.f, 2.f, 0.f, -2.f, -4.f, -1.f, 1.f, 3.f, 2.f, -3.f, -6.f};
  const float levels[12] = {-42.f, -35.f, -30.f, -28.f, -31.f, -33.f, -36.f, -40.f, -45.f, -52.f, -60.f, -75.f};
  for (int k = 0; k < 12; ++k)
  {
    rig.reading.correctionDb[k] = corrections[k];
    rig.reading.levelDb[k] = levels[k];
  }
  rig.reading.aboveThreshold = true;
  rig.reading.hasTarget = true;
  rig.reading.targetName = "Female vocals pop";
  rig.reading.sampleRate = 48000.0;
  rig.reading.hpOn = true;
  rig.reading.hpHz = 40.0;
  rig.reading.lpOn = true;
  rig.reading.lpHz = 18000.0;

  DisplayDelegate& d = rig.dlg;
  d.Set(kRangeLow, 60.0);
  d.Set(kRangeHigh, 12000.0);
  d.Set(kTilt, -0.5);
  d.Set(kLowTarget, 3.0);
  d.Set(kBodyTarget, -2.0);
  d.Set(kPresenceTarget, 2.5);
  d.Set(kAirOn, 0.0);
  d.Set(kPreEq1Gain, 2.0);
  d.Set(kPreEq2Gain, -4.0);
  d.Set(kPreEq3Gain, 3.0);
  d.Set(kPreEq3Q, 1.4);
  d.Set(kPreEq4On, 0.0);
}

std::string GoldenPath(const char* name, float scale)
{
  return std::string(TONE_DISPLAY_GOLDEN_DIR) + "/tone-display-" + name + "-x" + std::to_string(int(scale)) + ".png";
}

void ExpectMatchesGolden(DisplayRig& rig, const char* name, float scale)
{
  ExpectCanvasMatchesGolden(rig.g, GoldenPath(name, scale));
}

struct ToneDisplayGolden : ::testing::TestWithParam<float>
{
};

TEST_P(ToneDisplayGolden, MatchModeWithEveryLayer)
{
  DisplayRig rig(GetParam(), 330);
  SetScene(rig);
  ExpectMatchesGolden(rig, "match", GetParam());
}

TEST_P(ToneDisplayGolden, PreEqModeWithTheBoxOfTheFirstBandReachingAbovethePlot)
{
  DisplayRig rig(GetParam(), 330);
  SetScene(rig);
  rig.Click(360.f, 120.f); // the toggle's PRE-EQ half
  float x, y;
  rig.display->PreEqHandle(0, x, y);
  rig.Click(x, y, iplug::igraphics::IMouseMod(false, true));
  ASSERT_EQ(rig.display->EditorBand(), 0);
  ASSERT_LT(rig.display->BandEditorRect().T, DisplayRig::kT);
  ExpectMatchesGolden(rig, "pre-eq", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Scales, ToneDisplayGolden, ::testing::Values(1.f, 2.f),
                         [](const auto& info) { return "x" + std::to_string(int(info.param)); });

} // namespace

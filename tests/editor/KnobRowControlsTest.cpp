// The pill toggles, the band strip and the corner grip: what a press, a drag or a double
// click sends, and what each follows.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "KnobRowTestRig.h"

using namespace iplug::igraphics;

namespace
{

using Strings = std::vector<std::string>;

struct KnobRow : ::testing::Test, KnobRowTestRig
{
  void SetUp() override { Attach(); }
  void Press(float x, float y, double t) { g.OnMouseDown(x * g.GetDrawScale(), y * g.GetDrawScale(), IMouseMod(true), t); }
  void Move(float px, float py) { g.OnMouseMove(px, py, IMouseMod(true)); }
  void Release(float px, float py) { g.OnMouseUp(px, py, IMouseMod(true)); }
  // The strip's track runs from 118 to 602, its middle at 360.
  static float XAt(double p) { return 118.f + 484.f * static_cast<float>(p); }
};

TEST_F(KnobRow, PillsShowTheTextOfTheStateAndLightByItsInversion)
{
  EXPECT_EQ(bypass->ShownText(), "ACTIVE");
  EXPECT_TRUE(bypass->IsLit());
  Press(640, 60, 0);
  Release(640, 60);
  EXPECT_EQ(dlg.log, (Strings{"begin 22", "send 22", "end 22"}));
  EXPECT_EQ(dlg.Plain(kBypass), 1.);
  EXPECT_EQ(bypass->ShownText(), "BYPASSED");
  EXPECT_FALSE(bypass->IsLit());

  // Switched by the host: the pill follows on the next frame, its text unchanged.
  EXPECT_TRUE(hp->IsLit());
  dlg.GetParam(kHPOn)->Set(0.);
  g.OnFrame();
  EXPECT_EQ(hp->ShownText(), "HP");
  EXPECT_FALSE(hp->IsLit());
}

TEST_F(KnobRow, BandStripHandlesSitLogarithmicallyOnTheirOwnHalvesFromAtLeast1Hz)
{
  EXPECT_DOUBLE_EQ(strip->HandlePos(0), 0.);
  EXPECT_DOUBLE_EQ(strip->HandlePos(1), 1.);
  dlg.GetParam(kHPFreq)->Set(200.);
  EXPECT_NEAR(strip->HandlePos(0), 0.5 * std::log(10.) / std::log(50.), 1e-12);
  dlg.GetParam(kLPFreq)->Set(2000.);
  EXPECT_NEAR(strip->HandlePos(1), 0.5 + 0.5 * std::log(2.) / std::log(20.), 1e-12);

  // 0.1..100 Hz maps as 1..100 Hz: 10 Hz half way, 0.5 Hz at the bottom.
  dlg.GetParam(kHPFreq)->InitFrequency("HP Freq", 10., 0.1, 100., 0.1);
  EXPECT_NEAR(strip->HandlePos(0), 0.25, 1e-12);
  dlg.GetParam(kHPFreq)->Set(0.5);
  EXPECT_DOUBLE_EQ(strip->HandlePos(0), 0.);
  // No width: still a range of 1.0001 : 1.
  dlg.GetParam(kLPFreq)->InitDouble("LP Freq", 50., 50., 50., 1.);
  EXPECT_DOUBLE_EQ(strip->HandlePos(1), 0.5);
}

TEST_F(KnobRow, BandStripAPressAtTheMiddleOfATieTakesTheHighPassHandleToTheTopOfItsRange)
{
  // Ranges that put 4 Hz and 64 Hz exactly at 0.25 and 0.75.
  dlg.GetParam(kHPFreq)->InitFrequency("HP Freq", 4., 1., 16., 0.1);
  dlg.GetParam(kLPFreq)->InitFrequency("LP Freq", 64., 16., 256., 0.1);
  ASSERT_EQ(strip->HandlePos(0), 0.25);
  ASSERT_EQ(strip->HandlePos(1), 0.75);
  EXPECT_EQ(strip->NearestHandle(XAt(0.5) + 1.f), 1);
  Press(XAt(0.5), 481, 0);
  Release(XAt(0.5), 481);
  EXPECT_DOUBLE_EQ(dlg.Plain(kHPFreq), 16.);
  EXPECT_DOUBLE_EQ(dlg.Plain(kLPFreq), 64.);
  // The gesture covers both bound values; only the moved one is sent.
  EXPECT_EQ(dlg.log, (Strings{"begin 17", "begin 19", "send 17", "end 17", "end 19"}));
}

TEST_F(KnobRow, BandStripBothHandlesAtTheGapGoToTheSideOfThePress)
{
  // Both at 1000 Hz, the top of the high-pass range and the bottom of the low-pass one;
  // a press half way along a half sets the geometric middle of that handle's range.
  for (const auto& [pos, moved, still, hz] :
       {std::tuple{0.75, kLPFreq, kHPFreq, 1000. * std::sqrt(20.)}, {0.25, kHPFreq, kLPFreq, 20. * std::sqrt(50.)}})
  {
    dlg.GetParam(kHPFreq)->Set(1000.);
    dlg.GetParam(kLPFreq)->Set(1000.);
    Press(XAt(pos), 481, 1000. * pos);
    Release(XAt(pos), 481);
    EXPECT_NEAR(dlg.Plain(moved), hz, 1e-6) << pos;
    EXPECT_DOUBLE_EQ(dlg.Plain(still), 1000.) << pos;
  }
  // Inside the gap the side of its centre (360) decides; the centre itself is a tie.
  dlg.GetParam(kHPFreq)->Set(1000.);
  dlg.GetParam(kLPFreq)->Set(1000.);
  EXPECT_EQ(strip->NearestHandle(362.f), 1);
  EXPECT_EQ(strip->NearestHandle(360.f), 0);
  // Apart, the nearer one wins: low-pass at 2000 Hz sits at about 0.616, so 0.55 is high-pass.
  dlg.GetParam(kLPFreq)->Set(2000.);
  EXPECT_EQ(strip->NearestHandle(XAt(0.55)), 0);
}

TEST_F(KnobRow, BandStripDragsMapAlongTheHandlesHalfAndStopAtTheGap)
{
  dlg.GetParam(kHPFreq)->Set(100.);
  dlg.GetParam(kLPFreq)->Set(5000.);
  Press(XAt(0.125), 481, 0); // a quarter of the left half
  EXPECT_NEAR(dlg.Plain(kHPFreq), 20. * std::pow(50., 0.25), 1e-6);
  Move(XAt(0.9), 481);
  EXPECT_NEAR(dlg.Plain(kHPFreq), 1000., 1e-9);
  Move(-50, 481);
  EXPECT_NEAR(dlg.Plain(kHPFreq), 20., 1e-9);
  Release(-50, 481);

  Press(XAt(0.875), 481, 1000);
  EXPECT_NEAR(dlg.Plain(kLPFreq), 1000. * std::pow(20., 0.75), 1e-6);
  Move(XAt(0.2), 481);
  EXPECT_NEAR(dlg.Plain(kLPFreq), 1000., 1e-9);
}

TEST_F(KnobRow, BandStripSwitchesAndValuesChangedElsewhereRedrawIt)
{
  g.OnFrame();
  EXPECT_FALSE(strip->IsDirty());
  dlg.SendParameterValueFromUI(kHPOn, 0.);
  EXPECT_TRUE(strip->IsDirty());
  g.OnFrame();
  EXPECT_FALSE(strip->IsDirty());
  dlg.SendParameterValueFromUI(kLPFreq, 0.5);
  EXPECT_TRUE(strip->IsDirty());
  EXPECT_DOUBLE_EQ(strip->GetValue(1), 0.5);
}

TEST_F(KnobRow, CornerTheLargerComponentOfEachMoveScalesTheWindowWithinItsLimits)
{
  Press(712, 524, 0);
  Move(712 + 180, 524);
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 1.25f);
  EXPECT_EQ(dlg.log, (Strings{"resize 900x665"}));
  Move(712 + 780, 524); // 1500 px in all
  EXPECT_EQ(dlg.log.back(), "resize 1440x1064");
  Release(712 + 780, 524);

  Press(712, 524, 1000); // at scale 2: (1424, 1048)
  Move(1424 + 10, 1048 - 50); // +10 beats -50
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 2.f);
  Move(1424 - 2000, 1048 - 2000);
  EXPECT_EQ(dlg.log.back(), "resize 540x399");
  Release(0, 0);

  Press(712, 524, 2000); // at scale 0.75: (534, 393)
  Move(534 + 10, 393 - 50);
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 550.f / 720.f);
}

TEST_F(KnobRow, CornerNoResizeWhileTheClampedScaleStaysAndADoubleClickReturnsToOne)
{
  g.Resize(720, 532, 2.f, false);
  Press(712, 524, 0);
  Move(1424 + 100, 1048 + 40);
  Release(1424 + 100, 1048 + 40);
  EXPECT_TRUE(dlg.log.empty());
  Press(712, 524, 1000);
  Release(1424, 1048);
  Press(712, 524, 1100);
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 1.f);
  EXPECT_EQ(dlg.log, (Strings{"resize 720x532"}));
  // The pointer wobbles up before the release: the scale stays at 1, and grows from there.
  Move(1424, 1047);
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 1.f);
  Move(1434, 1047); // 10 px right: 730 / 720
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 730.f / 720.f);
}

TEST_F(KnobRow, CornerTheCursorBeforeTheGripComesBackWhenThePointerLeavesMidDrag)
{
  g.EnableMouseOver(true);
  g.SetMouseCursor(ECursor::HAND);
  g.OnMouseMove(712, 524, IMouseMod());
  g.OnMouseMove(713, 525, IMouseMod());
  EXPECT_EQ(g.GetMouseCursor(), ECursor::SIZENWSE);
  Press(713, 525, 0);
  Move(600, 525); // left: the vertical 0 wins, no resize
  EXPECT_EQ(g.GetMouseCursor(), ECursor::HAND);
}

} // namespace

// The band strip: where its handles sit, which one a press takes, and how a drag maps
// back to frequencies.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "BandStripControl.h"
#include "IGraphics.h"
#include "KnobRowTestDelegate.h"

using namespace iplug::igraphics;

namespace
{

using Strings = std::vector<std::string>;

// The layout's strip: the track runs from 118 to 602 with its middle at 360.
constexpr float kTrackL = 118.f;
constexpr float kTrackW = 484.f;
constexpr float kY = 481.f;

float XAt(double p)
{
  return kTrackL + kTrackW * static_cast<float>(p);
}

struct BandStrip : ::testing::Test
{
  KnobRowTestDelegate dlg;
  IGraphics g{dlg, 720, 532, 60, 1.f};
  BandStripControl* strip = nullptr;

  void SetUp() override
  {
    auto* c = new BandStripControl(IRECT(112, 471, 608, 491), IColor(18, 250, 250, 250), IColor(255, 21, 232, 121),
                                   IColor(255, 250, 250, 250), IColor(56, 250, 250, 250), kHPOn, kLPOn, 1.f);
    c->SetParamIdx(kHPFreq, 0);
    c->SetParamIdx(kLPFreq, 1);
    strip = static_cast<BandStripControl*>(g.AttachControl(c));
    g.OnFrame();
  }

  void SetPlain(int param, double v) { dlg.GetParam(param)->Set(v); }
  double Plain(int param) const { return dlg.GetParam(param)->Value(); }

  void Press(float x, double t, IMouseMod mod = IMouseMod(true)) { g.OnMouseDown(x, kY, mod, t); }
  void Release(float x) { g.OnMouseUp(x, kY, IMouseMod(true)); }
};

TEST_F(BandStrip, HandlesSitLogarithmicallyEachOnItsOwnHalf)
{
  EXPECT_DOUBLE_EQ(strip->HandlePos(0), 0.);
  EXPECT_DOUBLE_EQ(strip->HandlePos(1), 1.);
  // 200 Hz on 20..1000 Hz: ln 10 / ln 50 of the left half.
  SetPlain(kHPFreq, 200.);
  EXPECT_NEAR(strip->HandlePos(0), 0.5 * std::log(10.) / std::log(50.), 1e-12);
  SetPlain(kLPFreq, 2000.);
  EXPECT_NEAR(strip->HandlePos(1), 0.5 + 0.5 * std::log(2.) / std::log(20.), 1e-12);

  // A range reaching below 1 Hz maps from 1 Hz; 10 Hz is half way to 100 Hz.
  dlg.GetParam(kHPFreq)->InitFrequency("HP Freq", 10., 0.1, 100., 0.1);
  EXPECT_NEAR(strip->HandlePos(0), 0.25, 1e-12);
  SetPlain(kHPFreq, 0.5);
  EXPECT_DOUBLE_EQ(strip->HandlePos(0), 0.);
  // A range with no width still maps, over 1.0001 : 1.
  dlg.GetParam(kLPFreq)->InitDouble("LP Freq", 50., 50., 50., 1.);
  EXPECT_DOUBLE_EQ(strip->HandlePos(1), 0.5);
}

TEST_F(BandStrip, APressAtTheMiddleOfATieTakesTheHighPassHandleToTheTopOfItsRange)
{
  // Ranges whose halves put 4 Hz and 64 Hz exactly at 0.25 and 0.75.
  dlg.GetParam(kHPFreq)->InitFrequency("HP Freq", 4., 1., 16., 0.1);
  dlg.GetParam(kLPFreq)->InitFrequency("LP Freq", 64., 16., 256., 0.1);
  ASSERT_EQ(strip->HandlePos(0), 0.25);
  ASSERT_EQ(strip->HandlePos(1), 0.75);
  EXPECT_EQ(strip->NearestHandle(XAt(0.5)), 0);
  EXPECT_EQ(strip->NearestHandle(XAt(0.5) + 1.f), 1);

  dlg.Clear();
  Press(XAt(0.5), 0);
  EXPECT_EQ(strip->DragHandle(), 0);
  EXPECT_DOUBLE_EQ(Plain(kHPFreq), 16.);
  EXPECT_DOUBLE_EQ(Plain(kLPFreq), 64.);
  Release(XAt(0.5));
  EXPECT_EQ(strip->DragHandle(), -1);
  // Both values are bound: the gesture is bracketed for both, the press sends one.
  EXPECT_EQ(dlg.log, (Strings{"begin 17", "begin 19", "send 17", "end 17", "end 19"}));
}

TEST_F(BandStrip, DraggingMapsAlongTheHandlesHalfAndStopsAtTheGap)
{
  SetPlain(kHPFreq, 100.);
  SetPlain(kLPFreq, 5000.);

  // A quarter of the left half: 20 * 50^0.25 Hz.
  Press(XAt(0.125), 0);
  EXPECT_NEAR(Plain(kHPFreq), 20. * std::pow(50., 0.25), 1e-6);
  g.OnMouseMove(XAt(0.9), kY, IMouseMod(true));
  EXPECT_NEAR(Plain(kHPFreq), 1000., 1e-9);
  g.OnMouseMove(-50.f, kY, IMouseMod(true));
  EXPECT_NEAR(Plain(kHPFreq), 20., 1e-9);
  Release(-50.f);
  EXPECT_DOUBLE_EQ(Plain(kLPFreq), 5000.);

  // The low-pass handle never enters the left half.
  Press(XAt(0.875), 1000);
  EXPECT_NEAR(Plain(kLPFreq), 1000. * std::pow(20., 0.75), 1e-6);
  g.OnMouseMove(XAt(0.2), kY, IMouseMod(true));
  EXPECT_NEAR(Plain(kLPFreq), 1000., 1e-9);
  Release(XAt(0.2));

  // Below 1 Hz the map starts at 1 Hz: a quarter of the half is 100^0.25 Hz.
  dlg.GetParam(kHPFreq)->InitFrequency("HP Freq", 10., 0.1, 100., 0.1);
  Press(XAt(0.125), 2000);
  EXPECT_NEAR(Plain(kHPFreq), std::pow(100., 0.25), 1e-6);
  Release(XAt(0.125));
}

TEST_F(BandStrip, RightPressesGoToTheHostAndADoubleClickRestoresBothDefaults)
{
  SetPlain(kHPFreq, 300.);
  SetPlain(kLPFreq, 3000.);
  dlg.Clear();
  Press(XAt(0.1), 0, IMouseMod(false, true));
  Release(XAt(0.1));
  EXPECT_EQ(dlg.log, (Strings{"menu 17"}));
  EXPECT_DOUBLE_EQ(Plain(kHPFreq), 300.);

  Press(XAt(0.3), 1000);
  Release(XAt(0.3));
  Press(XAt(0.3), 1100);
  Release(XAt(0.3));
  EXPECT_DOUBLE_EQ(Plain(kHPFreq), 20.);
  EXPECT_DOUBLE_EQ(Plain(kLPFreq), 20000.);
}

TEST_F(BandStrip, TheSwitchesAndTheValuesRedrawTheStripWithoutTouchingIt)
{
  g.OnFrame();
  EXPECT_FALSE(strip->IsDirty());
  dlg.SendParameterValueFromUI(kHPOn, 0.);
  EXPECT_TRUE(strip->IsDirty());
  g.OnFrame();
  EXPECT_FALSE(strip->IsDirty());
  dlg.SendParameterValueFromUI(kLPOn, 0.);
  const IRECT drawn = g.OnFrame();
  EXPECT_TRUE(drawn.Intersects(IRECT(112, 471, 608, 491)));

  // A frequency typed elsewhere: the strip takes it on the next frame.
  dlg.SendParameterValueFromUI(kLPFreq, 0.5);
  EXPECT_TRUE(strip->IsDirty());
  EXPECT_DOUBLE_EQ(strip->GetValue(1), 0.5);
}

TEST_F(BandStrip, HoverFollowsTheNearestHandleAndClearsWhenThePointerLeaves)
{
  g.EnableMouseOver(true);
  SetPlain(kHPFreq, 100.);
  SetPlain(kLPFreq, 5000.);
  g.OnMouseMove(XAt(0.1), kY, IMouseMod());
  EXPECT_EQ(strip->HoverHandle(), 0);
  g.OnMouseMove(XAt(0.7), kY, IMouseMod());
  EXPECT_EQ(strip->HoverHandle(), 1);
  g.OnMouseMove(XAt(0.7), 300, IMouseMod());
  EXPECT_EQ(strip->HoverHandle(), -1);
}

} // namespace

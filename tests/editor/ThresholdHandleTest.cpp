// The threshold handle on the input meter: where a press puts the threshold, which
// presses reach it, the double click, where the line is drawn and when the label shows.

#include <gtest/gtest.h>

#include "MeterTestSupport.h"
#include "ThresholdHandle.h"

using namespace iplug::igraphics;

namespace
{

const IColor kLabelFill(255, 20, 20, 20);

struct Threshold : ::testing::Test
{
  MeterTestDelegate dlg;
  IGraphics g{dlg, 720, 532, 60, 1.f};
  LevelMeterControl* meter = AttachMeter(g, 1);
  ThresholdHandle* handle = static_cast<ThresholdHandle*>(
    g.AttachControl(new ThresholdHandle(IRECT(18, 328, 92, 436), kThreshold, IRECT(58, 344, 72, 436), -54.f, 6.f,
                                        kReadoutStyle.WithFGColor(kAccent), kAccent, kLabelFill)));
  double clock = 0.;

  void SetUp() override { g.EnableMouseOver(true); }
  void Press(float x, float y, IMouseMod mod = IMouseMod(true))
  {
    clock += 1000.;
    g.OnMouseDown(x, y, mod, clock);
  }
  void Click(float x, float y, IMouseMod mod = IMouseMod(true))
  {
    Press(x, y, mod);
    g.OnMouseUp(x, y, mod);
  }
  // The normalised threshold (-70..-10 dB) of a level.
  static double Norm(double db) { return (db + 70.) / 60.; }
};

} // namespace

TEST_F(Threshold, APressSetsTheLevelAtItsHeightWithinTheParametersRange)
{
  // The top of the track asks for +6 dB and gets the parameter's maximum.
  Click(80.f, 344.f);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"begin 2", "send 2", "end 2"}));
  // Half way down: -24 dB; dragged below the bottom: -54 dB.
  Press(80.f, 390.f);
  g.OnMouseMove(80.f, 600.f, IMouseMod(true));
  g.OnMouseUp(80.f, 600.f, IMouseMod(true));
  ASSERT_EQ(dlg.sent.size(), 3u);
  EXPECT_DOUBLE_EQ(dlg.sent[0], 1.);
  EXPECT_NEAR(dlg.sent[1], Norm(-24.), 1e-9);
  EXPECT_NEAR(dlg.sent[2], Norm(-54.), 1e-9);

  // x = 71 is on the track: the meter below ignores it. A right press is the host's menu.
  dlg.log.clear();
  Click(71.f, 390.f);
  EXPECT_TRUE(dlg.log.empty());
  Click(80.f, 400.f, IMouseMod(false, true));
  EXPECT_EQ(dlg.log, std::vector<std::string>{"menu 2"});
  Click(72.f, 390.f);
  EXPECT_EQ(dlg.log.size(), 4u);

  // A double click restores -40 dB, and a wobble before the release leaves it there.
  g.OnMouseDown(72.f, 390.f, IMouseMod(true), clock + 100.);
  g.OnMouseMove(73.f, 391.f, IMouseMod(true));
  g.OnMouseUp(73.f, 391.f, IMouseMod(true));
  EXPECT_DOUBLE_EQ(dlg.GetParam(kThreshold)->Value(), -40.);
}

TEST_F(Threshold, TheLineFollowsTheLevelAndStopsAtTheTrackEnds)
{
  EXPECT_FLOAT_EQ(handle->YOfLevel(20.), 344.f);
  EXPECT_FLOAT_EQ(handle->YOfLevel(-24.), 390.f);
  EXPECT_FLOAT_EQ(handle->YOfLevel(-70.), 436.f);

  // -40 dB sits at 344 + 46/60 * 92 = 414.53: the triangle and three dashes from x 56.
  g.OnFrame();
  EXPECT_EQ(PixelAt(g, 82, 414), kAccent);
  EXPECT_NEAR(PixelAt(g, 57, 414).B, kAccent.B, 12);
  EXPECT_NEAR(PixelAt(g, 63, 414).B, kAccent.B, 12);
  EXPECT_LT(PixelAt(g, 60, 414).B, 60);
  // Set by the host below the range: at the bottom of the track.
  g.SetParamValueFromDelegate(kThreshold, 0.);
  g.OnFrame();
  EXPECT_EQ(PixelAt(g, 82, 433), kAccent);
  EXPECT_NE(PixelAt(g, 82, 414), kAccent);
}

TEST_F(Threshold, TheLabelShowsWhileHoveredOrDraggedAndGoesWhenThePointerLeaves)
{
  g.OnFrame();
  EXPECT_EQ(PixelAt(g, 22, 330), kWindowFill);
  g.OnMouseMove(80.f, 400.f, IMouseMod());
  g.OnFrame();
  EXPECT_EQ(PixelAt(g, 22, 330), kLabelFill);

  // Leaving mid-drag hides it; the drag still moves the threshold until the release.
  Press(80.f, 400.f);
  g.OnMouseMove(200.f, 380.f, IMouseMod(true));
  g.OnFrame();
  EXPECT_EQ(PixelAt(g, 22, 330), kWindowFill);
  g.OnMouseMove(200.f, 344.f, IMouseMod(true));
  EXPECT_DOUBLE_EQ(dlg.sent.back(), 1.);
  g.OnMouseUp(200.f, 344.f, IMouseMod(true));
  EXPECT_EQ(dlg.log.back(), "end 2");
}

TEST_F(Threshold, LabelAndTriangleAreDrawnWholeAndLeaveNothingWhenTheyGo)
{
  // "threshold -40.0 dB" (about 93 units) is wider than the strip (18..92): it keeps the
  // strip's left edge and its fill reaches past the right end, and once the pointer leaves
  // all of it is repainted.
  g.OnMouseMove(80.f, 400.f, IMouseMod());
  g.OnFrame();
  EXPECT_TRUE(PixelAt(g, 19, 329) == kLabelFill && PixelAt(g, 108, 329) == kLabelFill);
  EXPECT_TRUE(PixelAt(g, 16, 329) == kWindowFill);
  g.OnMouseMove(300.f, 200.f, IMouseMod());
  g.OnFrame();
  EXPECT_TRUE(PixelAt(g, 19, 329) == kWindowFill && PixelAt(g, 108, 329) == kWindowFill);

  // At -70 dB the line is at the track's bottom (436), the triangle 7 beyond it:
  // (86.2, 429), (75, 436), (86.2, 443). Presses are still taken only right of the track.
  g.SetParamValueFromDelegate(kThreshold, 0.);
  g.OnFrame();
  EXPECT_TRUE(PixelAt(g, 84, 431) == kAccent && PixelAt(g, 84, 440) == kAccent);
  Click(84.f, 440.f);
  Click(10.f, 336.f);
  EXPECT_TRUE(dlg.log.empty());
}

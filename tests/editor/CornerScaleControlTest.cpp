// The corner grip: dragging scales the window, a double click returns to scale 1.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CornerScaleControl.h"
#include "IGraphics.h"
#include "KnobRowTestDelegate.h"

using namespace iplug::igraphics;

namespace
{

using Strings = std::vector<std::string>;

struct CornerScale : ::testing::Test
{
  KnobRowTestDelegate dlg;
  IGraphics g{dlg, 720, 532, 60, 1.f};

  void SetUp() override
  {
    g.AttachControl(new CornerScaleControl(IRECT(706, 518, 718, 530), 720.f, 0.75f, 2.f, IColor(36, 250, 250, 250),
                                           IColor(90, 250, 250, 250)));
  }

  // Presses the grip at the current scale and returns the pixel pressed.
  std::pair<float, float> PressGrip(double t = 0)
  {
    const float s = g.GetDrawScale();
    const std::pair<float, float> p{712.f * s, 524.f * s};
    g.OnMouseDown(p.first, p.second, IMouseMod(true), t);
    return p;
  }
};

TEST_F(CornerScale, DraggingRightGrowsTheWindowByThePixelsDraggedUpToTheLargestScale)
{
  auto [x, y] = PressGrip();
  g.OnMouseMove(x + 180.f, y, IMouseMod(true));
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 1.25f);
  EXPECT_EQ(dlg.log, (Strings{"resize 900x665"}));
  // Another 600 px: 1500 px in all, past 1440.
  g.OnMouseMove(x + 780.f, y, IMouseMod(true));
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 2.f);
  EXPECT_EQ(dlg.log.back(), "resize 1440x1064");
  g.OnMouseUp(x + 780.f, y, IMouseMod(true));

  // Left alone does not shrink (the vertical 0 is larger); left and up does, down to the
  // smallest scale.
  std::tie(x, y) = PressGrip(1000);
  g.OnMouseMove(x - 2000.f, y, IMouseMod(true));
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 2.f);
  g.OnMouseMove(x - 4000.f, y - 2000.f, IMouseMod(true));
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 0.75f);
  EXPECT_EQ(dlg.log.back(), "resize 540x399");
}

TEST_F(CornerScale, TheLargerComponentOfAMoveWins)
{
  auto [x, y] = PressGrip();
  g.OnMouseMove(x + 10.f, y - 50.f, IMouseMod(true));
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 730.f / 720.f);
  g.OnMouseMove(x - 20.f, y + 10.f, IMouseMod(true)); // +60 down beats -30 left
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 790.f / 720.f);
}

TEST_F(CornerScale, ADragThatKeepsTheClampedScaleAsksForNoResize)
{
  g.Resize(720, 532, 2.f, false);
  auto [x, y] = PressGrip();
  g.OnMouseMove(x + 100.f, y + 40.f, IMouseMod(true));
  g.OnMouseMove(x + 30.f, y + 40.f, IMouseMod(true));
  g.OnMouseUp(x + 30.f, y + 40.f, IMouseMod(true));
  EXPECT_TRUE(dlg.log.empty());
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 2.f);
}

TEST_F(CornerScale, ADoubleClickReturnsToScaleOne)
{
  g.Resize(720, 532, 1.5f, false);
  for (double t : {0., 100.})
  {
    auto [x, y] = PressGrip(t);
    g.OnMouseUp(x, y, IMouseMod(true));
  }
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 1.f);
  EXPECT_EQ(dlg.log, (Strings{"resize 720x532"}));
}

TEST_F(CornerScale, TheResizeCursorIsPutBackWhenThePointerLeavesEvenMidDrag)
{
  g.EnableMouseOver(true);
  g.Resize(720, 532, 2.f, false);
  g.SetMouseCursor(ECursor::HAND);
  g.OnMouseMove(1424, 1048, IMouseMod());
  EXPECT_EQ(g.GetMouseCursor(), ECursor::SIZENWSE);
  g.OnMouseMove(1426, 1050, IMouseMod()); // still over: nothing to put back twice
  g.OnMouseDown(1426, 1050, IMouseMod(true), 0);
  g.OnMouseMove(1200, 1050, IMouseMod(true)); // leaves the grip to the left
  EXPECT_EQ(g.GetMouseCursor(), ECursor::HAND);
  g.OnMouseUp(1200, 1050, IMouseMod(true));
  EXPECT_EQ(g.GetMouseCursor(), ECursor::HAND);
}

} // namespace

// The pill toggles: what they show in each state and how a press switches them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IGraphics.h"
#include "KnobRowTestDelegate.h"
#include "PillToggleControl.h"

using namespace iplug::igraphics;

namespace
{

using Strings = std::vector<std::string>;

const IColor kAccent(255, 21, 232, 121);

struct PillToggle : ::testing::Test
{
  KnobRowTestDelegate dlg;
  IGraphics g{dlg, 720, 532, 60, 1.f};
  PillToggleControl* bypass = nullptr;
  PillToggleControl* hp = nullptr;

  void SetUp() override
  {
    const IText t2(11.5f, IColor(255, 250, 250, 250), "Roboto-Regular");
    bypass = static_cast<PillToggleControl*>(g.AttachControl(
      new PillToggleControl(IRECT(592, 49, 696, 79), kBypass, "ACTIVE", "BYPASSED", t2, 1.f, kAccent, true)));
    hp = static_cast<PillToggleControl*>(
      g.AttachControl(new PillToggleControl(IRECT(28, 468, 90, 494), kHPOn, "HP", "HP", t2, 1.f, kAccent, false)));
  }

  void Click(float x, float y, double t, IMouseMod mod = IMouseMod(true))
  {
    g.OnMouseDown(x, y, mod, t);
    g.OnMouseUp(x, y, mod);
  }
};

TEST_F(PillToggle, TheTextFollowsTheParameterAndTheLightFollowsTheInversion)
{
  EXPECT_EQ(bypass->ShownText(), "ACTIVE");
  EXPECT_TRUE(bypass->IsLit());
  dlg.Clear();
  Click(640, 60, 0);
  EXPECT_EQ(dlg.log, (Strings{"begin 22", "send 22", "end 22"}));
  EXPECT_TRUE(dlg.GetParam(kBypass)->Bool());
  EXPECT_EQ(bypass->ShownText(), "BYPASSED");
  EXPECT_FALSE(bypass->IsLit());

  EXPECT_EQ(hp->ShownText(), "HP");
  EXPECT_TRUE(hp->IsLit());
  Click(50, 480, 1000);
  EXPECT_FALSE(dlg.GetParam(kHPOn)->Bool());
  EXPECT_EQ(hp->ShownText(), "HP");
  EXPECT_FALSE(hp->IsLit());
}

TEST_F(PillToggle, RightPressesGoToTheHostAndADoubleClickEndsAtTheDefault)
{
  dlg.Clear();
  Click(640, 60, 0, IMouseMod(false, true));
  EXPECT_EQ(dlg.log, (Strings{"menu 22"}));
  EXPECT_FALSE(dlg.GetParam(kBypass)->Bool());

  // The first press switches on, the second of the pair restores "not bypassed".
  Click(640, 60, 1000);
  Click(640, 60, 1100);
  EXPECT_FALSE(dlg.GetParam(kBypass)->Bool());
  EXPECT_EQ(bypass->ShownText(), "ACTIVE");
}

TEST_F(PillToggle, AHostChangeShowsOnTheNextFrame)
{
  g.OnFrame();
  dlg.GetParam(kHPOn)->Set(0.);
  EXPECT_TRUE(hp->IsDirty());
  EXPECT_FALSE(hp->IsLit());
}

} // namespace

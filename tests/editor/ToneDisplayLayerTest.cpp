// The display's offscreen layers: the pixels they give against drawing everything directly,
// and when they are drawn again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "ToneDisplayRig.h"

namespace
{

// A display with something in every layer: levels, a correction with a cut filter, a
// narrowed range, target bands, a tilt and a bent pre-EQ.
void SetScene(DisplayRig& rig)
{
  for (int k = 0; k < 12; ++k)
  {
    rig.reading.correctionDb[k] = float((k % 5) - 2) * 1.5f;
    rig.reading.levelDb[k] = -30.f - 3.f * float(k);
  }
  rig.reading.aboveThreshold = true;
  rig.reading.hasTarget = true;
  rig.reading.targetName = "Female vocals pop";
  rig.reading.hpOn = true;
  rig.reading.hpHz = 40.0;
  rig.dlg.Set(kRangeLow, 60.0);
  rig.dlg.Set(kRangeHigh, 12000.0);
  rig.dlg.Set(kTilt, -0.5);
  rig.dlg.Set(kLowTarget, 3.0);
  rig.dlg.Set(kPresenceTarget, 2.5);
  rig.dlg.Set(kPreEq1Gain, 2.0);
  rig.dlg.Set(kPreEq3Gain, -4.0);
}

int WorstDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
  int worst = a.size() == b.size() ? 0 : 256;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

struct ToneDisplayLayers : ::testing::TestWithParam<float>
{
};

// A layer is laid over what lies under it in one step where drawing directly blends each
// translucent shape in turn; each way rounds to 8 bits, so a channel may differ by a step or two.
TEST_P(ToneDisplayLayers, GiveThePixelsOfDrawingEverythingDirectly)
{
  constexpr int kRounding = 2;
  DisplayRig layered(GetParam(), 330), direct(GetParam(), 330);
  direct.g.EnableLayers(false);
  for (DisplayRig* rig : {&layered, &direct})
    SetScene(*rig);
  for (bool preEq : {false, true})
  {
    const char* mode = preEq ? "PRE-EQ" : "MATCH";
    for (DisplayRig* rig : {&layered, &direct})
      if (preEq)
      {
        rig->Click(380.f, 120.f); // the toggle's PRE-EQ half
        float x, y;
        rig->display->PreEqHandle(0, x, y);
        rig->Click(x, y, iplug::igraphics::IMouseMod(false, true)); // opens the box of band 1
        ASSERT_EQ(rig->display->EditorBand(), 0);
      }
    // The first frame draws the changed correction directly, the next one keeps it; then the
    // levels move under what is kept.
    for (float level : {-42.f, -42.f, -12.f})
    {
      for (DisplayRig* rig : {&layered, &direct})
        rig->reading.levelDb[4] = level;
      EXPECT_LE(WorstDifference(Frame(layered), Frame(direct)), kRounding) << mode << " " << level;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, ToneDisplayLayers, ::testing::Values(1.f, 2.f),
                         [](const auto& info) { return "x" + std::to_string(int(info.param)); });

// Draws of the grid, correction and marks layers after one frame.
struct Draws
{
  int grid, correction, marks;
  bool operator==(const Draws&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Draws& d)
{
  return os << d.grid << "/" << d.correction << "/" << d.marks;
}

Draws FrameDraws(DisplayRig& rig)
{
  rig.g.OnFrame();
  return {rig.display->GridLayerDraws(), rig.display->CorrectionLayerDraws(), rig.display->MarksLayerDraws()};
}

TEST(ToneDisplayLayers, AreDrawnAgainExactlyWhenWhatTheyShowChanges)
{
  DisplayRig rig(1.f, 330);
  SetScene(rig);
  // The correction is new on the first frame: drawn directly, then kept once it holds. A frame
  // in which nothing moved draws nothing at all.
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 0, 1}));
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 0, 1}));
  // Moving levels, a whole-window redraw and a resize to the same size change nothing kept.
  for (int k = 0; k < 12; ++k)
  {
    rig.reading.levelDb[k] += 5.f;
    EXPECT_EQ(FrameDraws(rig), (Draws{1, 1, 1})) << k;
  }
  rig.g.SetAllControlsDirty();
  rig.g.Resize(720, 330, 1.f, false);
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 1, 1}));
  // An adapting correction is drawn directly while it moves.
  for (float step : {0.05f, 0.1f})
  {
    rig.reading.correctionDb[6] += step;
    EXPECT_EQ(FrameDraws(rig), (Draws{1, 1, 1}));
  }
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 1, 1}));
  rig.reading.levelDb[0] -= 5.f;
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 2, 1}));

  // Each input of the marks: a parameter, the faint pre-EQ, a status line, the mode, the selection.
  rig.dlg.Set(kTilt, 1.0);
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 2, 2}));
  rig.dlg.Set(kPreEq4Gain, 6.0);
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 2, 3}));
  rig.reading.aboveThreshold = false; // HOLDING instead of ADAPTING
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 2, 4}));
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 2, 4}));
  rig.Click(380.f, 120.f);
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 2, 5}));
  float x, y;
  rig.display->PreEqHandle(2, x, y);
  rig.Click(x, y, iplug::igraphics::IMouseMod(false, true));
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 2, 6}));
  // The box is drawn over the layers: opening it again on the same band redraws nothing kept.
  rig.Click(100.f, 290.f); // plot, away from every mark: closes the box
  ASSERT_EQ(rig.display->EditorBand(), -1);
  rig.Click(x, y, iplug::igraphics::IMouseMod(false, true));
  ASSERT_EQ(rig.display->EditorBand(), 2);
  EXPECT_EQ(FrameDraws(rig), (Draws{1, 2, 6}));

  // A new draw scale, window size or place of the display: everything once more.
  rig.g.Resize(720, 330, 2.f, false);
  EXPECT_EQ(FrameDraws(rig), (Draws{2, 3, 7}));
  rig.g.Resize(720, 400, 2.f, false);
  EXPECT_EQ(FrameDraws(rig), (Draws{3, 4, 8}));
  rig.display->SetTargetAndDrawRECTs(iplug::igraphics::IRECT(40.f, 112.f, 690.f, 308.f));
  rig.display->OnResize();
  EXPECT_EQ(FrameDraws(rig), (Draws{4, 5, 9}));
  EXPECT_EQ(FrameDraws(rig), (Draws{4, 5, 9}));
}

} // namespace

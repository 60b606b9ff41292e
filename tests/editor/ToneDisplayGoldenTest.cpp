// The display's pictures in both modes at draw scales 1 and 2 against stored PNGs.
// MORVELLAN_REGENERATE_GOLDEN=1 rewrites them (look at them before committing).
#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

// Compares the canvas with the stored picture: antialiasing and glyph rasterising may move
// a little, nothing else may.
void ExpectMatchesGolden(DisplayRig& rig, const char* name, float scale)
{
  const std::string path = GoldenPath(name, scale);
  const char* regenerate = std::getenv("MORVELLAN_REGENERATE_GOLDEN");
  if (regenerate && *regenerate == '1')
  {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(rig.g.WritePNG(path.c_str()));
    GTEST_SKIP() << "rewrote " << path;
  }

  rig.g.SetAllControlsDirty();
  rig.g.OnFrame();
  int stride = 0;
  const unsigned char* pixels = rig.g.GetPixels(stride);
  cairo_surface_t* golden = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(golden), CAIRO_STATUS_SUCCESS) << path;
  const int w = cairo_image_surface_get_width(golden), h = cairo_image_surface_get_height(golden);
  ASSERT_EQ(w, rig.g.WindowWidth());
  ASSERT_EQ(h, rig.g.WindowHeight());
  cairo_surface_flush(golden);
  const unsigned char* expected = cairo_image_surface_get_data(golden);
  const int goldenStride = cairo_image_surface_get_stride(golden);

  long differing = 0;
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 4; ++x)
    {
      const int d = std::abs(int(pixels[y * stride + x]) - int(expected[y * goldenStride + x]));
      worst = std::max(worst, d);
      if (d > 24)
        ++differing;
    }
  cairo_surface_destroy(golden);
  EXPECT_LE(differing, long(w) * h / 1000) << path << ": worst channel difference " << worst;
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

#pragma once

// Compares what a graphics context drew with a stored PNG. Antialiasing and glyph
// rasterising may move a little between machines; nothing else may. Setting
// MORVELLAN_REGENERATE_GOLDEN=1 rewrites the pictures instead (look at them before
// committing).

#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "IGraphics.h"

inline void ExpectCanvasMatchesGolden(iplug::igraphics::IGraphics& g, const std::string& path)
{
  const char* regenerate = std::getenv("MORVELLAN_REGENERATE_GOLDEN");
  if (regenerate && *regenerate == '1')
  {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(g.WritePNG(path.c_str()));
    GTEST_SKIP() << "rewrote " << path;
  }

  g.SetAllControlsDirty();
  g.OnFrame();
  int stride = 0;
  const unsigned char* pixels = g.GetPixels(stride);
  cairo_surface_t* golden = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(golden), CAIRO_STATUS_SUCCESS) << path;
  const int w = cairo_image_surface_get_width(golden), h = cairo_image_surface_get_height(golden);
  if (w != g.WindowWidth() || h != g.WindowHeight())
  {
    cairo_surface_destroy(golden);
    FAIL() << path << ": " << w << "x" << h << " stored, " << g.WindowWidth() << "x" << g.WindowHeight() << " drawn";
  }
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

// Pixel probes of the Cairo drawing calls, text and SVG, at draw scales 1 and 2.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "FallbackFonts.h"
#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "Resources.h"

using namespace iplug::igraphics;

// Resolving cairo's system sans-serif (the face of last resort) starts fontconfig, which
// keeps a few hundred bytes it never frees, once per process.
extern "C" const char* __lsan_default_suppressions()
{
  return "leak:libfontconfig.so\n";
}

namespace
{

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
const IColor kRed(255, 255, 0, 0);

class DrawFnControl : public IControl
{
public:
  DrawFnControl(const IRECT& r, std::function<void(IGraphics&)> fn) : IControl(r), mFn(std::move(fn)) {}
  void Draw(IGraphics& g) override { mFn(g); }

private:
  std::function<void(IGraphics&)> mFn;
};

struct Pixel
{
  int B, G, R, A;
};

struct InkBox
{
  float L = 1e9f, T = 1e9f, R = -1e9f, B = -1e9f;
  bool Found() const { return R >= L; }
};

// A headless canvas with the embedded fonts loaded, drawn by one function per frame.
class Canvas
{
public:
  Canvas(float scale, int w = 200, int h = 60, bool loadFonts = true)
  : mScale(scale), mGraphics(MakeGraphics(mDelegate, w, h, 60, scale))
  {
    mGraphics->SetResources(MorvellanResources());
    if (loadFonts)
    {
      mGraphics->LoadFont("Roboto-Regular", "Roboto-Regular.ttf");
      mGraphics->LoadFont("RobotoCondensed-Bold", "RobotoCondensed-Bold.ttf");
    }
  }

  IGraphics& G() { return *mGraphics; }

  void Draw(std::function<void(IGraphics&)> fn)
  {
    mGraphics->RemoveAllControls();
    const IRECT all(0.f, 0.f, static_cast<float>(mGraphics->Width()), static_cast<float>(mGraphics->Height()));
    mGraphics->AttachControl(new DrawFnControl(all, std::move(fn)));
    mGraphics->OnFrame();
    // Characters new to the process draw from their system font once it is chosen.
    if (WaitForFallbackFonts(std::chrono::seconds(30)))
      mGraphics->OnFrame();
  }

  // The pixel holding canvas point (x, y).
  Pixel At(float x, float y) const
  {
    int stride = 0;
    const unsigned char* p = mGraphics->GetPixels(stride);
    const int px = static_cast<int>(std::floor(x * mScale)), py = static_cast<int>(std::floor(y * mScale));
    const unsigned char* q = p + py * stride + px * 4;
    return Pixel{q[0], q[1], q[2], q[3]};
  }
  int AlphaAt(float x, float y) const { return At(x, y).A; }

  // Canvas-unit extent of the pixels at least this opaque.
  InkBox Ink(int minAlpha = 64) const
  {
    int stride = 0;
    const unsigned char* p = mGraphics->GetPixels(stride);
    InkBox box;
    for (int y = 0; y < mGraphics->WindowHeight(); ++y)
      for (int x = 0; x < mGraphics->WindowWidth(); ++x)
        if (p[y * stride + x * 4 + 3] >= minAlpha)
        {
          box.L = std::min(box.L, x / mScale);
          box.T = std::min(box.T, y / mScale);
          box.R = std::max(box.R, (x + 1) / mScale);
          box.B = std::max(box.B, (y + 1) / mScale);
        }
    return box;
  }

private:
  iplug::IEditorDelegate mDelegate{0};
  float mScale;
  std::unique_ptr<IGraphics> mGraphics;
};

class Drawing : public ::testing::TestWithParam<float>
{
};

TEST_P(Drawing, FilledRectanglesAreHalfOpenAndExactInColour)
{
  Canvas c(GetParam());
  c.Draw([](IGraphics& g) { g.FillRect(IColor(255, 10, 200, 30), IRECT(10.f, 10.f, 20.f, 20.f)); });
  const Pixel in = c.At(10.f, 10.f);
  EXPECT_EQ(in.A, 255);
  EXPECT_EQ(in.R, 10);
  EXPECT_EQ(in.G, 200);
  EXPECT_EQ(in.B, 30);
  EXPECT_EQ(c.AlphaAt(19.9f, 19.9f), 255);
  // The right and bottom edges are outside, and so is everything before the left/top.
  EXPECT_EQ(c.AlphaAt(20.f, 15.f), 0);
  EXPECT_EQ(c.AlphaAt(15.f, 20.f), 0);
  EXPECT_EQ(c.AlphaAt(9.9f, 15.f), 0);
  EXPECT_EQ(c.AlphaAt(15.f, 9.9f), 0);

  // Premultiplied: half-transparent red is stored as (128, 0, 0, 128); a blend weight of
  // one half halves the alpha again.
  c.Draw([](IGraphics& g) {
    g.FillRect(IColor(128, 255, 0, 0), IRECT(10.f, 10.f, 20.f, 20.f));
    const IBlend half(EBlend::Default, 0.5f);
    g.FillRect(IColor(255, 0, 0, 255), IRECT(30.f, 10.f, 40.f, 20.f), &half);
  });
  EXPECT_EQ(c.At(15.f, 15.f).A, 128);
  EXPECT_EQ(c.At(15.f, 15.f).R, 128);
  EXPECT_EQ(c.At(15.f, 15.f).B, 0);
  EXPECT_NEAR(c.At(35.f, 15.f).A, 127.5, 1.);
  EXPECT_NEAR(c.At(35.f, 15.f).B, 127.5, 1.);
}

TEST_P(Drawing, StrokesAreCentredOnTheOutlineAndLinesHaveButtEnds)
{
  Canvas c(GetParam());
  c.Draw([](IGraphics& g) {
    g.DrawRect(kRed, IRECT(10.f, 10.f, 30.f, 30.f), nullptr, 2.f);
    g.DrawLine(kRed, 50.f, 20.f, 80.f, 20.f, nullptr, 2.f);
  });
  // The 2-unit stroke covers 9..11 around the left edge x = 10.
  EXPECT_EQ(c.AlphaAt(9.5f, 20.f), 255);
  EXPECT_EQ(c.AlphaAt(10.5f, 20.f), 255);
  EXPECT_EQ(c.AlphaAt(8.5f, 20.f), 0);
  EXPECT_EQ(c.AlphaAt(11.5f, 20.f), 0);
  EXPECT_EQ(c.AlphaAt(29.5f, 29.5f), 255);
  EXPECT_EQ(c.AlphaAt(20.f, 20.f), 0);
  // The line covers y 19..21 from x 50 to 80 exactly.
  EXPECT_EQ(c.AlphaAt(65.f, 19.f), 255);
  EXPECT_EQ(c.AlphaAt(65.f, 20.5f), 255);
  EXPECT_EQ(c.AlphaAt(65.f, 21.5f), 0);
  EXPECT_EQ(c.AlphaAt(50.f, 20.f), 255);
  EXPECT_EQ(c.AlphaAt(49.5f, 20.f), 0);
  EXPECT_EQ(c.AlphaAt(80.f, 20.f), 0);
}

TEST_P(Drawing, RoundRectanglesCutTheirCornersAndClampTheRadius)
{
  Canvas c(GetParam());
  c.Draw([](IGraphics& g) {
    g.FillRoundRect(kRed, IRECT(10.f, 10.f, 50.f, 50.f), 10.f);
    // A radius past half the side makes a circle of radius 10 around (80, 30).
    g.FillRoundRect(kRed, IRECT(70.f, 20.f, 90.f, 40.f), 100.f);
    g.DrawRoundRect(kRed, IRECT(110.f, 10.f, 150.f, 50.f), 10.f, nullptr, 2.f);
  });
  // (11, 11) is 12.7 from the corner centre (20, 20): outside. (14, 14) is 8.5: inside.
  EXPECT_EQ(c.AlphaAt(11.f, 11.f), 0);
  EXPECT_EQ(c.AlphaAt(14.f, 14.f), 255);
  EXPECT_EQ(c.AlphaAt(10.f, 30.f), 255);
  EXPECT_EQ(c.AlphaAt(49.5f, 49.f), 0);
  EXPECT_EQ(c.AlphaAt(71.f, 21.f), 0);
  EXPECT_EQ(c.AlphaAt(80.f, 30.f), 255);
  EXPECT_EQ(c.AlphaAt(80.f, 22.f), 255);
  // Outline: the straight side is stroked, the corner point and the inside are not.
  EXPECT_EQ(c.AlphaAt(110.f, 30.f), 255);
  EXPECT_EQ(c.AlphaAt(110.5f, 10.5f), 0);
  EXPECT_EQ(c.AlphaAt(130.f, 30.f), 0);
}

TEST_P(Drawing, ArcsRunClockwiseFromUp)
{
  Canvas c(GetParam());
  const float cx = 50.f, cy = 30.f, r = 20.f;
  auto onArc = [&](float deg) {
    const float a = deg * 3.14159265f / 180.f;
    return c.AlphaAt(cx + r * std::sin(a), cy - r * std::cos(a));
  };
  c.Draw([&](IGraphics& g) { g.DrawArc(kRed, cx, cy, r, 0.f, 90.f, nullptr, 4.f); });
  EXPECT_EQ(onArc(45.f), 255);  // top right
  EXPECT_EQ(onArc(10.f), 255);
  EXPECT_EQ(onArc(135.f), 0);   // bottom right
  EXPECT_EQ(onArc(-45.f), 0);   // top left
  EXPECT_EQ(onArc(225.f), 0);

  // From 270 on round past 0 to 90: the top half.
  c.Draw([&](IGraphics& g) { g.DrawArc(kRed, cx, cy, r, 270.f, 90.f, nullptr, 4.f); });
  EXPECT_EQ(onArc(315.f), 255);
  EXPECT_EQ(onArc(0.f), 255);
  EXPECT_EQ(onArc(45.f), 255);
  EXPECT_EQ(onArc(180.f), 0);

  // Knob sweeps in the negative range.
  c.Draw([&](IGraphics& g) { g.DrawArc(kRed, cx, cy, r, -135.f, -45.f, nullptr, 4.f); });
  EXPECT_EQ(onArc(-90.f), 255);
  EXPECT_EQ(onArc(0.f), 0);
  EXPECT_EQ(onArc(180.f), 0);
}

TEST_P(Drawing, DottedLinesStartOnAtTheirFirstPointOnEveryCall)
{
  Canvas c(GetParam());
  c.Draw([](IGraphics& g) {
    g.DrawDottedLine(kRed, 10.f, 20.f, 40.f, 20.f, nullptr, 2.f, 3.f);
    // A 4-unit line that ends mid-gap, then a line whose pattern must start afresh.
    g.DrawDottedLine(kRed, 10.f, 40.f, 14.f, 40.f, nullptr, 2.f, 3.f);
    g.DrawDottedLine(kRed, 20.f, 40.f, 40.f, 40.f, nullptr, 2.f, 3.f);
    // Drawn right to left: the first dash is at the right end.
    g.DrawDottedLine(kRed, 100.f, 20.f, 70.f, 20.f, nullptr, 2.f, 3.f);
  });
  EXPECT_EQ(c.AlphaAt(10.f, 19.5f), 255);
  EXPECT_EQ(c.AlphaAt(12.9f, 19.5f), 255);
  EXPECT_EQ(c.AlphaAt(13.f, 19.5f), 0);
  EXPECT_EQ(c.AlphaAt(15.9f, 19.5f), 0);
  EXPECT_EQ(c.AlphaAt(16.f, 19.5f), 255);
  EXPECT_EQ(c.AlphaAt(21.f, 19.5f), 0);

  EXPECT_EQ(c.AlphaAt(13.5f, 39.5f), 0);
  EXPECT_EQ(c.AlphaAt(20.5f, 39.5f), 255);
  EXPECT_EQ(c.AlphaAt(23.5f, 39.5f), 0);

  EXPECT_EQ(c.AlphaAt(98.5f, 19.5f), 255);
  EXPECT_EQ(c.AlphaAt(95.5f, 19.5f), 0);
}

TEST_P(Drawing, FilledShapesCoverTheirInsideOnly)
{
  Canvas c(GetParam());
  c.Draw([](IGraphics& g) {
    g.FillCircle(kRed, 20.f, 30.f, 10.f);
    g.FillEllipse(kRed, IRECT(40.f, 20.f, 80.f, 40.f));
    g.FillTriangle(kRed, 90.f, 10.f, 130.f, 10.f, 90.f, 50.f);
    const float xs[] = {140.f, 160.f, 170.f, 150.f};
    const float ys[] = {20.f, 10.f, 30.f, 45.f};
    g.FillConvexPolygon(kRed, xs, ys, 4);
    g.DrawCircle(kRed, 185.f, 30.f, 10.f, nullptr, 2.f);
  });
  EXPECT_EQ(c.AlphaAt(20.f, 30.f), 255);
  EXPECT_EQ(c.AlphaAt(27.f, 30.f), 255);
  EXPECT_EQ(c.AlphaAt(11.f, 21.f), 0); // the pixel's nearest corner is 11.3 from the centre
  EXPECT_EQ(c.AlphaAt(60.f, 30.f), 255);
  EXPECT_EQ(c.AlphaAt(42.f, 30.f), 255); // 18 of the 20-unit half width
  EXPECT_EQ(c.AlphaAt(41.f, 21.f), 0);   // the bounding corner
  EXPECT_EQ(c.AlphaAt(95.f, 15.f), 255);
  EXPECT_EQ(c.AlphaAt(125.f, 45.f), 0);  // beyond the hypotenuse
  EXPECT_EQ(c.AlphaAt(155.f, 25.f), 255);
  EXPECT_EQ(c.AlphaAt(141.f, 11.f), 0);
  EXPECT_EQ(c.AlphaAt(185.f, 20.f), 255);
  EXPECT_EQ(c.AlphaAt(185.f, 30.f), 0);
}

TEST_P(Drawing, PathsFillOnceUnlessPreservedAndEachControlStartsEmpty)
{
  Canvas c(GetParam());
  auto square = [](IGraphics& g, float x) {
    g.PathMoveTo(x, 10.f);
    g.PathLineTo(x + 20.f, 10.f);
    g.PathLineTo(x + 20.f, 30.f);
    g.PathLineTo(x, 30.f);
    g.PathClose();
  };
  c.Draw([&](IGraphics& g) {
    square(g, 10.f);
    IFillOptions keep;
    keep.mPreserve = true;
    g.PathFill(IPattern(kRed), keep);
    g.PathStroke(IPattern(kRed), 4.f);              // outlines the same square
    g.PathFill(IPattern(IColor(255, 0, 0, 255))); // nothing left to fill
    square(g, 50.f);
    g.PathLineTo(kNaN, 20.f);
    g.PathFill(IPattern(kRed)); // a broken path draws nothing
    square(g, 90.f);
    g.PathFill(IPattern(kRed)); // and is gone afterwards
  });
  EXPECT_EQ(c.AlphaAt(20.f, 20.f), 255);
  EXPECT_EQ(c.At(20.f, 20.f).B, 0);
  EXPECT_EQ(c.AlphaAt(8.5f, 20.f), 255); // outside the fill, inside the stroke
  EXPECT_EQ(c.AlphaAt(60.f, 20.f), 0);
  EXPECT_EQ(c.AlphaAt(100.f, 20.f), 255);

  // A path one control leaves unfinished never joins the next control's.
  c.G().RemoveAllControls();
  c.G().AttachControl(new DrawFnControl(IRECT(0.f, 0.f, 200.f, 60.f), [&](IGraphics& g) {
    g.PathMoveTo(10.f, 10.f);
    g.PathLineTo(40.f, 10.f);
    g.PathLineTo(40.f, 40.f);
  }));
  c.G().AttachControl(new DrawFnControl(IRECT(0.f, 0.f, 200.f, 60.f), [&](IGraphics& g) {
    square(g, 100.f);
    g.PathFill(IPattern(kRed));
  }));
  c.G().OnFrame();
  EXPECT_EQ(c.AlphaAt(35.f, 15.f), 0);
  EXPECT_EQ(c.AlphaAt(110.f, 20.f), 255);
}

TEST_P(Drawing, LayersDrawOnceKeepTheirClipAndGoStaleWithTheSurface)
{
  Canvas c(GetParam());
  const IColor blue(255, 0, 0, 255), green(255, 0, 255, 0);
  ILayerPtr layer;
  int drawn = 0;
  c.Draw([&](IGraphics& g) {
    g.PathClipRegion(IRECT(0.f, 0.f, 100.f, 60.f)); // kept by the layer
    if (!g.CheckLayer(layer))
    {
      ++drawn;
      g.StartLayer(IRECT(10.f, 10.f, 150.f, 50.f));
      g.FillRect(kRed, IRECT(20.f, 20.f, 140.f, 40.f));
      g.PathClipRegion(IRECT(20.f, 20.f, 30.f, 40.f)); // inside the layer only
      g.FillRect(blue, IRECT(20.f, 20.f, 140.f, 40.f));
      g.PathClipRegion();
      g.StartLayer(IRECT(60.f, 20.f, 70.f, 40.f)); // a layer within the layer
      g.FillRect(green, IRECT(0.f, 0.f, 200.f, 60.f));
      ILayerPtr inner = g.EndLayer();
      g.DrawLayer(inner);
      layer = g.EndLayer();
    }
    g.DrawLayer(layer);
    g.PathClipRegion();
    g.FillRect(green, IRECT(160.f, 20.f, 180.f, 40.f)); // back on the window, unclipped
    g.StartLayer(IRECT(0.f, 0.f, 200.f, 60.f));        // left open: dropped
    g.FillRect(blue, IRECT(185.f, 20.f, 195.f, 40.f));
  });
  c.G().AttachControl(new DrawFnControl(IRECT(0.f, 0.f, 200.f, 60.f),
                                        [&](IGraphics& g) { g.FillRect(green, IRECT(185.f, 45.f, 195.f, 55.f)); }));
  for (int frame = 0; frame < 2; ++frame)
  {
    c.G().SetAllControlsDirty();
    c.G().OnFrame();
    EXPECT_EQ(drawn, 1);
    EXPECT_EQ(c.At(50.f, 30.f).R, 255);
    EXPECT_EQ(c.At(25.f, 30.f).B, 255);
    EXPECT_EQ(c.At(65.f, 30.f).G, 255);
    EXPECT_EQ(c.AlphaAt(65.f, 45.f), 0);  // outside the inner layer's own rectangle
    EXPECT_EQ(c.AlphaAt(120.f, 30.f), 0); // outside the clip in force at StartLayer
    EXPECT_EQ(c.At(170.f, 30.f).G, 255);
    EXPECT_EQ(c.AlphaAt(190.f, 30.f), 0);
    EXPECT_EQ(c.At(190.f, 50.f).G, 255); // the next control draws on the window
  }
  layer->Invalidate();
  c.G().SetAllControlsDirty();
  c.G().OnFrame();
  EXPECT_EQ(drawn, 2);
  // A new surface, for another size or draw scale, makes every layer stale.
  c.G().Resize(200, 60, GetParam(), false);
  EXPECT_TRUE(c.G().CheckLayer(layer));
  c.G().Resize(200, 60, 2.f * GetParam(), false);
  EXPECT_FALSE(c.G().CheckLayer(layer));
  c.G().OnFrame();
  EXPECT_EQ(drawn, 3);
  c.G().Resize(210, 60, 2.f * GetParam(), false);
  EXPECT_FALSE(c.G().CheckLayer(layer));
}

TEST_P(Drawing, NonFiniteInputDrawsNothingAndLeavesTheContextWorking)
{
  Canvas c(GetParam());
  c.Draw([](IGraphics& g) {
    const IRECT r(10.f, 10.f, 50.f, 50.f);
    const IBlend nanBlend(EBlend::Default, kNaN);
    g.FillRect(kRed, IRECT(kNaN, 10.f, 50.f, 50.f));
    g.FillRect(kRed, IRECT(10.f, 10.f, kInf, 50.f));
    g.FillRect(kRed, r, &nanBlend);
    g.FillRect(kRed, IRECT(50.f, 10.f, 10.f, 50.f)); // right of its left edge: no area
    g.DrawRect(kRed, r, nullptr, kNaN);
    g.FillRoundRect(kRed, r, kNaN);
    g.DrawRoundRect(kRed, r, 5.f, nullptr, -kInf);
    g.FillEllipse(kRed, IRECT(10.f, kNaN, 50.f, 50.f));
    g.DrawEllipse(kRed, r, nullptr, kInf);
    g.FillCircle(kRed, 30.f, 30.f, kNaN);
    g.DrawCircle(kRed, kInf, 30.f, 10.f);
    g.DrawLine(kRed, 10.f, 10.f, kNaN, 50.f);
    g.DrawLine(kRed, 10.f, 10.f, 1e30f, 50.f);
    g.DrawDottedLine(kRed, 10.f, 10.f, 50.f, 50.f, nullptr, 1.f, kNaN);
    g.FillTriangle(kRed, 10.f, 10.f, 50.f, 10.f, 10.f, kNaN);
    const float xs[] = {10.f, 50.f, kNaN}, ys[] = {10.f, 10.f, 50.f};
    g.FillConvexPolygon(kRed, xs, ys, 3);
    g.FillConvexPolygon(kRed, nullptr, ys, 3);
    g.DrawArc(kRed, 30.f, 30.f, 10.f, 0.f, kInf);
    g.DrawArc(kRed, 30.f, 30.f, 10.f, kNaN, 90.f);
    g.DrawText(IText(kNaN, kRed), "MORVELLAN", r);
    g.DrawText(IText(14.f, kRed), "MORVELLAN", IRECT(kNaN, 0.f, 50.f, 50.f));
    g.DrawText(IText(14.f, kRed, nullptr, EAlign::Center, EVAlign::Middle, kNaN), "MORVELLAN", r);
    g.DrawText(IText(1e9f, kRed), "MORVELLAN", r);
    g.DrawSVG(g.LoadSVG("morvellan-lockup.svg"), IRECT(10.f, 10.f, 10.f, 50.f));
    g.DrawSVG(g.LoadSVG("morvellan-lockup.svg"), IRECT(10.f, kNaN, 50.f, 50.f));
    g.DrawSVG(ISVG(), r);
    g.PathMoveTo(kInf, 0.f);
    g.PathLineTo(50.f, 50.f);
    g.PathLineTo(10.f, 50.f);
    g.PathStroke(IPattern(kRed), 2.f);
  });
  EXPECT_FALSE(c.Ink(1).Found());

  // Malformed UTF-8 (a stray continuation byte, a truncated sequence, an encoded
  // surrogate) draws in place of nothing and the same frame keeps drawing afterwards.
  c.Draw([](IGraphics& g) {
    g.DrawText(IText(20.f, kRed), "A\x80" "B\xE2\x80" "C\xED\xA0\x80", IRECT(0.f, 0.f, 100.f, 30.f));
    g.FillRect(kRed, IRECT(150.f, 10.f, 160.f, 20.f));
  });
  EXPECT_EQ(c.AlphaAt(155.f, 15.f), 255);
  const InkBox ink = c.Ink();
  EXPECT_LT(ink.L, 100.f);
  IRECT m;
  EXPECT_GT(c.G().MeasureText(IText(20.f), "\xFF\xFE", m), 0.f);
}

INSTANTIATE_TEST_SUITE_P(Scales, Drawing, ::testing::Values(1.f, 2.f));

class Text : public ::testing::TestWithParam<float>
{
};

// Roboto's own metrics (units per em 2048): hhea ascender 1900, descender 500, capital
// height 1456.
constexpr float kAscent = 1900.f / 2048.f;
constexpr float kDescent = 500.f / 2048.f;

TEST_P(Text, InkLiesInTheMeasuredBoxForEveryAlignment)
{
  Canvas c(GetParam());
  const IText style(25.f, kRed, "Roboto-Regular");
  IRECT box;
  const float w = c.G().MeasureText(style, "MORVELLAN", box);
  const float h = box.B;
  const IRECT bounds(10.f, 5.f, 190.f, 55.f);
  struct Case
  {
    EAlign align;
    EVAlign valign;
    float left;
    float top;
  };
  const Case cases[] = {
    {EAlign::Near, EVAlign::Middle, bounds.L, bounds.MH() - 0.5f * h},
    {EAlign::Center, EVAlign::Middle, bounds.MW() - 0.5f * w, bounds.MH() - 0.5f * h},
    {EAlign::Far, EVAlign::Middle, bounds.R - w, bounds.MH() - 0.5f * h},
    {EAlign::Center, EVAlign::Top, bounds.MW() - 0.5f * w, bounds.T},
    {EAlign::Center, EVAlign::Bottom, bounds.MW() - 0.5f * w, bounds.B - h},
  };
  for (const Case& k : cases)
  {
    c.Draw([&](IGraphics& g) { g.DrawText(style.WithAlign(k.align).WithVAlign(k.valign), "MORVELLAN", bounds); });
    const InkBox ink = c.Ink();
    ASSERT_TRUE(ink.Found());
    EXPECT_GE(ink.L, k.left - 0.5f);
    EXPECT_LE(ink.R, k.left + w + 0.5f);
    EXPECT_GE(ink.T, k.top - 0.5f);
    EXPECT_LE(ink.B, k.top + h + 0.5f);
    // The drawn advance is the measured one: the ink starts and ends within the side
    // bearings of M and N (under a tenth of the size).
    EXPECT_LT(ink.L - k.left, 2.5f);
    EXPECT_LT(k.left + w - ink.R, 2.5f);
    // Capitals sit on the baseline, one ascender below the top of the box.
    EXPECT_NEAR(ink.B, k.top + 25.f * kAscent, 1.f);
  }
}

TEST_P(Text, MeasuresRobotoPlausiblyAndTheSameAtEveryScale)
{
  Canvas c(GetParam());
  Canvas one(1.f);
  IRECT box(5.f, 5.f, 5.f, 5.f);
  const float w = c.G().MeasureText(IText(25.f, kRed, "Roboto-Regular"), "MORVELLAN", box);
  // Nine capitals of about 0.64 em; the line box is ascender + descender.
  EXPECT_GT(w, 135.f);
  EXPECT_LT(w, 165.f);
  EXPECT_EQ(box.L, 0.f);
  EXPECT_EQ(box.T, 0.f);
  EXPECT_FLOAT_EQ(box.R, w);
  EXPECT_NEAR(box.B, 25.f * (kAscent + kDescent), 0.01f);
  IRECT box1;
  EXPECT_NEAR(one.G().MeasureText(IText(25.f, kRed, "Roboto-Regular"), "MORVELLAN", box1), w, 0.01f);

  // Twice the size, twice the width; the condensed bold face is narrower.
  IRECT other;
  EXPECT_NEAR(c.G().MeasureText(IText(50.f, kRed, "Roboto-Regular"), "MORVELLAN", other), 2.f * w, 0.02f);
  EXPECT_LT(c.G().MeasureText(IText(25.f, kRed, "RobotoCondensed-Bold"), "MORVELLAN", other), 0.95f * w);

  // The ellipsis and the middle dot are real glyphs with their own advance.
  const float ab = c.G().MeasureText(IText(25.f, kRed, "Roboto-Regular"), "AB", other);
  EXPECT_GT(c.G().MeasureText(IText(25.f, kRed, "Roboto-Regular"), "A\xC2\xB7" "B", other), ab + 2.f);
  EXPECT_GT(c.G().MeasureText(IText(25.f, kRed, "Roboto-Regular"), "A\xE2\x80\xA6", other),
            c.G().MeasureText(IText(25.f, kRed, "Roboto-Regular"), "A..", other) * 0.8f);
  c.Draw([](IGraphics& g) { g.DrawText(IText(25.f, kRed, "Roboto-Regular"), "\xE2\x80\xA6", IRECT(0, 0, 60, 60)); });
  EXPECT_TRUE(c.Ink().Found());
}

TEST_P(Text, UnknownFontsFallBackToTheFirstLoadedFace)
{
  Canvas c(GetParam());
  IRECT box;
  const float regular = c.G().MeasureText(IText(20.f, kRed, "Roboto-Regular"), "MORVELLAN", box);
  EXPECT_FLOAT_EQ(c.G().MeasureText(IText(20.f, kRed, "No Such Font"), "MORVELLAN", box), regular);
  EXPECT_FLOAT_EQ(c.G().MeasureText(IText(20.f, kRed), "MORVELLAN", box), regular);
  c.Draw([](IGraphics& g) { g.DrawText(IText(20.f, kRed, "No Such Font"), "MORVELLAN", IRECT(0, 0, 200, 60)); });
  EXPECT_TRUE(c.Ink().Found());

  EXPECT_FALSE(c.G().LoadFont("Missing", "Missing.ttf"));
  EXPECT_FALSE(c.G().LoadFont("Broken", "morvellan-lockup.svg"));
  EXPECT_FLOAT_EQ(c.G().MeasureText(IText(20.f, kRed, "Broken"), "MORVELLAN", box), regular);

  // With no font loaded at all text still measures and draws without failing.
  Canvas bare(GetParam(), 200, 60, false);
  EXPECT_GE(bare.G().MeasureText(IText(20.f, kRed), "MORVELLAN", box), 0.f);
  bare.Draw([](IGraphics& g) {
    g.DrawText(IText(20.f, kRed), "MORVELLAN", IRECT(0, 0, 200, 60));
    g.FillRect(kRed, IRECT(0, 0, 5, 5));
  });
  EXPECT_EQ(bare.AlphaAt(1.f, 1.f), 255);
}

// Width of ASCII text in Roboto at a size, from the embedded file's own advances as
// FreeType reads them (units per em 2048).
float RobotoWidth(const char* ascii, float size)
{
  const EmbeddedResource* file = MorvellanResources().Find("Roboto-Regular.ttf");
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (!file || FT_Init_FreeType(&library) != 0)
    return -1.f;
  long units = 0;
  if (FT_New_Memory_Face(library, file->data, static_cast<FT_Long>(file->size), 0, &face) == 0)
    for (const char* p = ascii; *p; ++p)
      if (FT_Load_Char(face, static_cast<unsigned char>(*p), FT_LOAD_NO_SCALE) == 0)
        units += face->glyph->advance.x;
  FT_Done_FreeType(library);
  return static_cast<float>(units) * size / 2048.f;
}

std::vector<unsigned char> Pixels(Canvas& c)
{
  int stride = 0;
  const unsigned char* p = c.G().GetPixels(stride);
  return std::vector<unsigned char>(p, p + stride * c.G().WindowHeight());
}

// Pixels whose coverage differs visibly between two pictures.
int Differing(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
  int n = 0;
  for (std::size_t i = 3; i < a.size() && i < b.size(); i += 4)
    n += std::abs(int(a[i]) - int(b[i])) > 16;
  return n;
}

TEST_P(Text, CharactersRobotoLacksDrawFromASystemFontAndMeasureAsDrawn)
{
  Canvas c(GetParam(), 260, 50);
  const IText style = IText(24.f, kRed, "Roboto-Regular").WithAlign(EAlign::Near);
  const IRECT where(10.f, 0.f, 250.f, 50.f);
  auto picture = [&](const std::string& text) {
    c.Draw([&](IGraphics& g) { g.DrawText(style, text.c_str(), where); });
    return Pixels(c);
  };
  // U+0378 is unassigned, so no font has it: it keeps Roboto's missing-glyph box.
  const auto box = picture("\xCD\xB8");
  EXPECT_GT(Differing(box, picture(" ")), 20);
  // An arrow, a CJK ideograph, Hebrew and Thai each draw a shape of their own.
  for (const char* text : {"\xE2\x86\x92", "\xE4\xB8\xAD", "\xD7\xA9", "\xE0\xB8\x81"})
    EXPECT_GT(Differing(picture(text), box), 20) << text << ": no system font drew it (tools/setup.sh installs them)";

  // A mark drawn after the text lands exactly where the text's measured width ends.
  const std::string mixed = "Vox \xE2\x86\x92 \xE4\xB8\xAD\xE6\x96\x87 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D "
                            "\xE0\xB9\x84\xE0\xB8\x97\xE0\xB8\xA2";
  IRECT extent;
  const float w = c.G().MeasureText(style, mixed.c_str(), extent);
  const auto together = picture(mixed + "|");
  c.Draw([&](IGraphics& g) {
    g.DrawText(style, mixed.c_str(), where);
    g.DrawText(style, "|", IRECT(where.L + w, where.T, where.R + w, where.B));
  });
  EXPECT_EQ(Differing(together, Pixels(c)), 0);

  // ASCII stays in Roboto, also beside characters from elsewhere; a variation selector
  // Roboto lacks draws nothing and takes no room.
  const float ascii = RobotoWidth("Save as 0.9.14", 24.f);
  EXPECT_NEAR(c.G().MeasureText(style, "Save as 0.9.14", extent), ascii, 1e-3f);
  EXPECT_NEAR(c.G().MeasureText(style, "Save as 0.9.14\xE4\xB8\xAD", extent),
              ascii + c.G().MeasureText(style, "\xE4\xB8\xAD", extent), 1e-3f);
  EXPECT_FLOAT_EQ(c.G().MeasureText(style, "A\xEF\xB8\x8F" "B", extent), c.G().MeasureText(style, "AB", extent));
}

INSTANTIATE_TEST_SUITE_P(Scales, Text, ::testing::Values(1.f, 2.f));

TEST(TextFallback, AFrameNeverWaitsForASystemFontAndItsTextRedrawsWhenTheFontArrives)
{
  constexpr float kScale = 2.f;
  const IText style = IText(30.f, kRed, "Roboto-Regular").WithAlign(EAlign::Center);
  const IRECT left(0.f, 0.f, 60.f, 50.f), right(240.f, 0.f, 300.f, 50.f);
  // U+05D0..U+05D2: one system font's, asked for by no other test. U+0379: in no font, Roboto's box.
  const char *alef = "\xD7\x90", *bet = "\xD7\x91", *box = "\xCD\xB9";
  IRECT extent;
  // Text kept in a layer until the layer goes stale, measured on every draw.
  const auto layered = [&](const IRECT& r, const char* s, float& width) {
    return new DrawFnControl(r, [&, r, s, layer = std::make_shared<ILayerPtr>()](IGraphics& g) {
      width = g.MeasureText(style, s, extent);
      if (!g.CheckLayer(*layer))
      {
        g.StartLayer(r);
        g.DrawText(style, s, r);
        *layer = g.EndLayer();
      }
      g.DrawLayer(*layer);
    });
  };
  // The coverage of the pixels under left, and the text's width.
  const auto look = [](const Canvas& c, float width) {
    std::vector<int> a;
    for (int i = 0; i < 120 * 100; ++i)
      a.push_back(c.AlphaAt(static_cast<float>(i % 120) / kScale, static_cast<float>(i / 120) / kScale));
    return std::pair{a, width};
  };
  Canvas reference(kScale, 300, 50);
  const auto settled = [&](const char* s) {
    reference.Draw([&](IGraphics& g) { g.DrawText(style, s, left); });
    return look(reference, reference.G().MeasureText(style, s, extent));
  };
  const auto boxLook = settled(box);
  HoldFallbackFontWorker(true);
  Canvas c(kScale, 300, 50);
  float width = 0.f, nextWidth = 0.f, unused = 0.f;
  c.G().AttachControl(layered(left, alef, width));
  c.G().AttachControl(layered(right, "A", unused));
  c.G().OnFrame(); // would never return if it waited for the held worker
  EXPECT_TRUE(look(c, width) == boxLook);
  const unsigned measured = c.G().TextMeasureGeneration();
  EXPECT_TRUE(c.G().OnFrame().Degenerate());

  HoldFallbackFontWorker(false);
  ASSERT_TRUE(WaitForFallbackFonts(std::chrono::seconds(30)));
  const IRECT drawn = c.G().OnFrame(), leftPixels = left.GetWholePixels(kScale);
  EXPECT_TRUE(drawn.Intersect(leftPixels) == leftPixels && !drawn.Intersects(right.GetWholePixels(kScale)));
  EXPECT_NE(c.G().TextMeasureGeneration(), measured);
  const auto own = settled(alef);
  EXPECT_TRUE(own != boxLook) << "no system font has U+05D0 (tools/setup.sh installs them)";
  EXPECT_TRUE(look(c, width) == own);
  EXPECT_TRUE(c.G().OnFrame().Degenerate());

  // With alef's font open it is bet's stand-in already. Who measured gimel outside a Draw is
  // not known: everything draws again.
  HoldFallbackFontWorker(true);
  Canvas next(kScale, 300, 50);
  next.G().AttachControl(layered(left, bet, nextWidth));
  next.G().OnFrame();
  const auto standIn = look(next, nextWidth);
  next.G().MeasureText(style, "\xD7\x92", extent);
  HoldFallbackFontWorker(false);
  ASSERT_TRUE(WaitForFallbackFonts(std::chrono::seconds(30)));
  EXPECT_EQ(next.G().OnFrame(), IRECT(0.f, 0.f, 300.f * kScale, 50.f * kScale));
  EXPECT_TRUE(standIn == settled(bet));
}

class Svg : public ::testing::TestWithParam<float>
{
};

TEST_P(Svg, LockupHasItsIntrinsicSizeAndDrawsFittedAndCentred)
{
  Canvas c(GetParam());
  const ISVG lockup = c.G().LoadSVG("morvellan-lockup.svg", "px", 72.f);
  ASSERT_TRUE(lockup.IsValid());
  // The artwork's own width="159.4" height="20".
  EXPECT_FLOAT_EQ(lockup.W(), 159.4f);
  EXPECT_FLOAT_EQ(lockup.H(), 20.f);

  // 100 x 40 units: the width limits, scale 100 / 159.4, height 12.55 centred on y = 30.
  c.Draw([&](IGraphics& g) { g.DrawSVG(lockup, IRECT(10.f, 10.f, 110.f, 50.f)); });
  const float s = 100.f / 159.4f;
  InkBox ink = c.Ink();
  ASSERT_TRUE(ink.Found());
  EXPECT_NEAR(ink.L, 10.f + 1.f * s, 0.75f); // the M starts 1 unit in
  EXPECT_NEAR(ink.R, 110.f - 1.f * s, 0.75f);
  EXPECT_NEAR(ink.T, 30.f - 7.f * s, 0.75f); // letters span 3..17 of 20
  EXPECT_NEAR(ink.B, 30.f + 7.f * s, 0.75f);

  // 180 x 9: the height limits, scale 0.45, centred on x = 100.
  c.Draw([&](IGraphics& g) { g.DrawSVG(lockup, IRECT(10.f, 20.f, 190.f, 29.f)); });
  ink = c.Ink();
  ASSERT_TRUE(ink.Found());
  EXPECT_NEAR(0.5f * (ink.L + ink.R), 100.f, 0.75f);
  EXPECT_NEAR(ink.R - ink.L, 157.4f * 0.45f, 1.5f);
  EXPECT_NEAR(ink.T, 20.f + 3.f * 0.45f, 0.75f);
}

TEST(SvgLoading, SizesComeFromWidthAndHeightElseTheViewBoxAndBadFilesAreInvalid)
{
  static const char viewBoxOnly[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 40 10"><rect width="40" height="10"/></svg>)";
  static const char inches[] = R"(<svg xmlns="http://www.w3.org/2000/svg" width="2in" height="1in"/>)";
  static const char notSvg[] = "<html>no</html>";
  const EmbeddedResource items[] = {
    {"a.svg", reinterpret_cast<const unsigned char*>(viewBoxOnly), sizeof(viewBoxOnly) - 1},
    {"b.svg", reinterpret_cast<const unsigned char*>(inches), sizeof(inches) - 1},
    {"c.svg", reinterpret_cast<const unsigned char*>(notSvg), sizeof(notSvg) - 1},
  };
  iplug::IEditorDelegate dlg(0);
  std::unique_ptr<IGraphics> g(MakeGraphics(dlg, 100, 100, 60, 1.f));
  g->SetResources(EmbeddedResources{items, 3});
  const ISVG a = g->LoadSVG("a.svg");
  ASSERT_TRUE(a.IsValid());
  EXPECT_FLOAT_EQ(a.W(), 40.f);
  EXPECT_FLOAT_EQ(a.H(), 10.f);
  // 2 x 1 inches at 72 dpi in px; the same in inches.
  EXPECT_FLOAT_EQ(g->LoadSVG("b.svg", "px", 72.f).W(), 144.f);
  EXPECT_FLOAT_EQ(g->LoadSVG("b.svg", "px", 96.f).H(), 96.f);
  EXPECT_FLOAT_EQ(g->LoadSVG("b.svg", "in", 72.f).W(), 2.f);
  EXPECT_FALSE(g->LoadSVG("c.svg").IsValid());
  EXPECT_FALSE(g->LoadSVG("missing.svg").IsValid());
  EXPECT_EQ(g->LoadSVG("c.svg").W(), 0.f);
}

INSTANTIATE_TEST_SUITE_P(Scales, Svg, ::testing::Values(1.f, 2.f));

TEST(EmbeddedFiles, HoldTheTwoFontsAndTheLockup)
{
  const EmbeddedResources& res = MorvellanResources();
  const EmbeddedResource* regular = res.Find("Roboto-Regular.ttf");
  const EmbeddedResource* bold = res.Find("RobotoCondensed-Bold.ttf");
  const EmbeddedResource* lockup = res.Find("morvellan-lockup.svg");
  ASSERT_TRUE(regular && bold && lockup);
  // TrueType files open with the version 0x00010000.
  const unsigned char sfnt[] = {0, 1, 0, 0};
  EXPECT_EQ(std::memcmp(regular->data, sfnt, 4), 0);
  EXPECT_EQ(std::memcmp(bold->data, sfnt, 4), 0);
  EXPECT_GT(regular->size, 50000u);
  EXPECT_EQ(std::memcmp(lockup->data, "<svg", 4), 0);
  EXPECT_EQ(lockup->data[lockup->size - 1], '\n');
  EXPECT_EQ(res.Find("Roboto-Bold.ttf"), nullptr);
}

} // namespace

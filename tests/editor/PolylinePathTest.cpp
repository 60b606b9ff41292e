// A curve filled as its stroke's outline covers the pixels Cairo's own stroke covers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "PolylinePath.h"

using namespace iplug::igraphics;

namespace
{

class DrawFn : public IControl
{
public:
  DrawFn(std::function<void(IGraphics&)> fn) : IControl(IRECT(0, 0, 300, 200)), mFn(std::move(fn)) {}
  void Draw(IGraphics& g) override { mFn(g); }

private:
  std::function<void(IGraphics&)> mFn;
};

std::vector<unsigned char> Render(std::function<void(IGraphics&)> fn)
{
  iplug::IEditorDelegate dlg(0);
  IGraphics g(dlg, 300, 200, 60, 2.f);
  g.AttachControl(new DrawFn(std::move(fn)));
  g.OnFrame();
  int stride = 0;
  const unsigned char* p = g.GetPixels(stride);
  return std::vector<unsigned char>(p, p + stride * g.WindowHeight());
}

// Pixels whose alpha differs by more than the 0.1 px the merging of nearly straight runs may
// move an edge (at most two of the rasteriser's fifteen rows a pixel).
int Differing(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b, int& inked)
{
  int differing = 0;
  inked = 0;
  for (size_t i = 3; i < a.size(); i += 4)
  {
    inked += a[i] > 0;
    differing += std::abs(int(a[i]) - int(b[i])) > 40;
  }
  return differing;
}

void ExpectSameAsStroke(const std::vector<float>& x, const std::vector<float>& y, float thickness)
{
  const IColor white(255, 255, 255, 255);
  const auto stroked = Render([&](IGraphics& g) {
    g.PathClear();
    g.PathMoveTo(x[0], y[0]);
    for (size_t i = 1; i < x.size(); ++i)
      g.PathLineTo(x[i], y[i]);
    g.PathStroke(IPattern(white), thickness);
  });
  const auto filled = Render([&](IGraphics& g) { polyline::Stroke(g, x.data(), y.data(), int(x.size()), thickness, white); });
  int inked = 0;
  const int differing = Differing(stroked, filled, inked);
  EXPECT_GT(inked, 200);
  EXPECT_LE(differing, inked / 100) << "of " << inked << " inked pixels";
}

TEST(PolylineStroke, CoversWhatTheStrokeCoversOnSmoothAndSharpCurves)
{
  std::vector<float> x, y;
  for (int i = 0; i < 120; ++i)
  {
    x.push_back(10.f + 280.f * i / 119.f);
    y.push_back(100.f - 60.f * std::sin(i * 0.08f) * std::exp(-i / 80.f));
  }
  ExpectSameAsStroke(x, y, 1.5f);
  ExpectSameAsStroke(x, y, 2.f);

  // A narrow spike: turns past the miter limit (bevelled) and inner sides that overshoot.
  for (int i = 0; i < 120; ++i)
  {
    const float d = (x[size_t(i)] - 150.f) / 3.f;
    y[size_t(i)] = 150.f - 120.f / (1.f + d * d);
  }
  ExpectSameAsStroke(x, y, 2.f);

  // A zigzag doubling back on itself, with repeated points.
  x = {20, 60, 40, 80, 80, 80, 100, 140, 60};
  y = {150, 40, 150, 40, 40, 40, 150, 60, 62};
  ExpectSameAsStroke(x, y, 2.f);

  // A hairpin: the outer corner bevelled, the inner sides crossing far past the point.
  ExpectSameAsStroke({20, 200, 20}, {100, 100, 104}, 2.f);
}

TEST(PolylineStroke, MergesStraightRunsAndDrawsNothingForALonePoint)
{
  // 120 points on one line give one segment: the same pixels as a single line.
  std::vector<float> x, y;
  for (int i = 0; i < 120; ++i)
  {
    x.push_back(10.f + 2.f * i);
    y.push_back(30.f + 1.f * i);
  }
  const IColor white(255, 255, 255, 255);
  const auto merged = Render([&](IGraphics& g) { polyline::Stroke(g, x.data(), y.data(), 120, 1.5f, white); });
  const auto line = Render([&](IGraphics& g) { g.DrawLine(white, x[0], y[0], x[119], y[119], nullptr, 1.5f); });
  int inked = 0;
  const int differing = Differing(line, merged, inked);
  EXPECT_EQ(differing, 0);
  EXPECT_GT(inked, 200);

  const float px[] = {50.f, 50.f}, py[] = {50.f, 50.f};
  const auto lone = Render([&](IGraphics& g) { polyline::Stroke(g, px, py, 2, 2.f, white); });
  EXPECT_EQ(Differing(lone, lone, inked), 0);
  EXPECT_EQ(inked, 0);
}

TEST(PolylineDashes, AreTheDashesOfADottedLineRestartingAtEachLine)
{
  const IColor white(255, 255, 255, 255);
  // Horizontal, slanted and a run of short segments like the target curve's.
  std::vector<float> x = {10, 290, 10, 200}, y = {20, 20, 60, 140};
  for (int i = 0; i < 40; ++i)
  {
    x.push_back(20.f + 6.5f * i);
    y.push_back(170.f - 20.f * std::sin(0.3f * i));
  }
  const auto dotted = Render([&](IGraphics& g) {
    g.DrawDottedLine(white, x[0], y[0], x[1], y[1], nullptr, 1.f, 3.f);
    g.DrawDottedLine(white, x[2], y[2], x[3], y[3], nullptr, 1.f, 3.f);
    for (size_t i = 5; i < x.size(); ++i)
      g.DrawDottedLine(white, x[i - 1], y[i - 1], x[i], y[i], nullptr, 1.f, 3.f);
  });
  const auto filled = Render([&](IGraphics& g) {
    g.PathClear();
    polyline::AddDashes(g, x[0], y[0], x[1], y[1], 1.f, 3.f);
    polyline::AddDashes(g, x[2], y[2], x[3], y[3], 1.f, 3.f);
    for (size_t i = 5; i < x.size(); ++i)
      polyline::AddDashes(g, x[i - 1], y[i - 1], x[i], y[i], 1.f, 3.f);
    g.PathFill(IPattern(white));
  });
  int inked = 0;
  // Where two segments' dashes overlap at a shared point, one fill paints once what two
  // strokes paint twice; with opaque paint that changes nothing.
  const int differing = Differing(dotted, filled, inked);
  EXPECT_GT(inked, 500);
  EXPECT_LE(differing, inked / 200);
}

} // namespace

#include "PolylinePath.h"

#include <algorithm>
#include <cmath>

#include "IGraphics.h"

using namespace iplug::igraphics;

namespace polyline
{

namespace
{

constexpr float kFlatness = 0.05f;
constexpr float kMiterLimit = 10.f;
// The display's curves have 120 points; anything past this is ignored.
constexpr int kMaxPoints = 256;
// A dotted line longer than this many dashes is left out rather than stall the frame.
constexpr float kMaxDashes = 10000.f;

bool OnChord(const float* x, const float* y, int a, int b)
{
  const float dx = x[b] - x[a], dy = y[b] - y[a];
  const float length = std::hypot(dx, dy);
  for (int k = a + 1; k < b; ++k)
  {
    const float off = length > 0.f ? std::fabs(dy * (x[k] - x[a]) - dx * (y[k] - y[a])) / length
                                   : std::hypot(x[k] - x[a], y[k] - y[a]);
    if (off > kFlatness)
      return false;
  }
  return true;
}

// The indices of the points worth a segment: the first, the last, and every point that
// bends the line by more than the flatness.
int Simplify(const float* x, const float* y, int n, int* keep)
{
  if (n <= 0)
    return 0;
  int m = 0;
  keep[m++] = 0;
  for (int a = 0; a < n - 1;)
  {
    int e = a + 1;
    while (e + 1 < n && OnChord(x, y, a, e + 1))
      ++e;
    keep[m++] = e;
    a = e;
  }
  return m;
}

struct Side
{
  float x[3 * kMaxPoints];
  float y[3 * kMaxPoints];
  int n = 0;
  void Add(float px, float py)
  {
    x[n] = px;
    y[n] = py;
    ++n;
  }
};

} // namespace

void FillToLine(IGraphics& g, const float* x, const float* y, int n, float left, float right, float lineY,
                const IColor& colour)
{
  int keep[kMaxPoints];
  const int m = Simplify(x, y, std::min(n, kMaxPoints), keep);
  g.PathClear();
  g.PathMoveTo(left, lineY);
  for (int i = 0; i < m; ++i)
    g.PathLineTo(x[keep[i]], y[keep[i]]);
  g.PathLineTo(right, lineY);
  g.PathClose();
  g.PathFill(IPattern(colour));
}

void Stroke(IGraphics& g, const float* x, const float* y, int n, float thickness, const IColor& colour)
{
  g.PathClear();
  int keep[kMaxPoints];
  const int m = Simplify(x, y, std::min(n, kMaxPoints), keep);

  // The kept points without repeats, with each segment's direction and length.
  float px[kMaxPoints], py[kMaxPoints], dx[kMaxPoints], dy[kMaxPoints], len[kMaxPoints];
  int k = 0;
  for (int i = 0; i < m; ++i)
  {
    const float vx = x[keep[i]], vy = y[keep[i]];
    if (k > 0 && vx == px[k - 1] && vy == py[k - 1])
      continue;
    px[k] = vx;
    py[k] = vy;
    ++k;
  }
  if (k < 2 || !(thickness > 0.f))
    return; // a lone point has no stroke with butt ends
  for (int s = 0; s + 1 < k; ++s)
  {
    len[s] = std::hypot(px[s + 1] - px[s], py[s + 1] - py[s]);
    dx[s] = (px[s + 1] - px[s]) / len[s];
    dy[s] = (py[s + 1] - py[s]) / len[s];
  }

  const float h = 0.5f * thickness;
  // Left is the side of the normal (-dy, dx).
  Side left, right;
  left.Add(px[0] - h * dy[0], py[0] + h * dx[0]);
  right.Add(px[0] + h * dy[0], py[0] - h * dx[0]);
  for (int v = 1; v + 1 < k; ++v)
  {
    const float n1x = -dy[v - 1], n1y = dx[v - 1], n2x = -dy[v], n2y = dx[v];
    const float cosHalf = std::sqrt(std::max(0.f, 0.5f * (1.f + n1x * n2x + n1y * n2y)));
    const float mx = n1x + n2x, my = n1y + n2y, ml = std::hypot(mx, my);
    const float miter = cosHalf > 0.f ? h / cosHalf : 0.f;
    const bool outerMitres = cosHalf > 0.f && 1.f / cosHalf <= kMiterLimit && ml > 0.f;
    // The inner offsets meet before either segment ends, except at the sharpest turns.
    const bool innerMeets = outerMitres && miter <= std::min(len[v - 1], len[v]);
    // Turning towards the left normal puts the left side on the inside of the turn.
    const bool leftInner = dx[v] * n1x + dy[v] * n1y > 0.f;
    for (int sideIdx = 0; sideIdx < 2; ++sideIdx)
    {
      Side& side = sideIdx == 0 ? left : right;
      const float sgn = sideIdx == 0 ? 1.f : -1.f;
      const bool inner = (sideIdx == 0) == leftInner;
      if (inner ? innerMeets : outerMitres)
        side.Add(px[v] + sgn * miter * mx / ml, py[v] + sgn * miter * my / ml);
      else
      {
        side.Add(px[v] + sgn * h * n1x, py[v] + sgn * h * n1y);
        if (inner)
          side.Add(px[v], py[v]);
        side.Add(px[v] + sgn * h * n2x, py[v] + sgn * h * n2y);
      }
    }
  }
  const int last = k - 2;
  left.Add(px[k - 1] - h * dy[last], py[k - 1] + h * dx[last]);
  right.Add(px[k - 1] + h * dy[last], py[k - 1] - h * dx[last]);

  g.PathMoveTo(left.x[0], left.y[0]);
  for (int i = 1; i < left.n; ++i)
    g.PathLineTo(left.x[i], left.y[i]);
  for (int i = right.n - 1; i >= 0; --i)
    g.PathLineTo(right.x[i], right.y[i]);
  g.PathClose();
  g.PathFill(IPattern(colour));
}

void AddDashes(IGraphics& g, float x1, float y1, float x2, float y2, float thickness, float dashLen)
{
  const float length = std::hypot(x2 - x1, y2 - y1);
  if (!(length > 0.f) || !(thickness > 0.f) || !(dashLen > 0.f) || length / dashLen > kMaxDashes)
    return;
  const float ux = (x2 - x1) / length, uy = (y2 - y1) / length;
  const float nx = -uy * 0.5f * thickness, ny = ux * 0.5f * thickness;
  for (float on = 0.f; on < length; on += 2.f * dashLen)
  {
    const float off = std::min(on + dashLen, length);
    const float ax = x1 + ux * on, ay = y1 + uy * on, bx = x1 + ux * off, by = y1 + uy * off;
    g.PathMoveTo(ax + nx, ay + ny);
    g.PathLineTo(bx + nx, by + ny);
    g.PathLineTo(bx - nx, by - ny);
    g.PathLineTo(ax - nx, ay - ny);
    g.PathClose();
  }
}

} // namespace polyline

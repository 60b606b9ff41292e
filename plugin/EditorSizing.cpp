#include "EditorSizing.h"

#include "AccentColours.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace morvellan::sizing {

namespace {

// One pass of the rules: clamp to the range, then one side follows the other's aspect.
bool ConstrainOnce(int& width, int& height, float screenScale)
{
  int maxW = kMaxWidth;
  int maxH = kMaxHeight;
  // The maximum only grows with the screen scale; small scales keep the base maximum.
  if (screenScale > 1.0f)
  {
    maxW = RoundToPixels(screenScale * float(kMaxWidth));
    maxH = RoundToPixels(screenScale * float(kMaxHeight));
  }

  const bool inRange = width >= kMinWidth && width <= maxW && height >= kMinHeight && height <= maxH;

  width = std::clamp(width, kMinWidth, maxW);
  height = std::clamp(height, kMinHeight, maxH);
  const int w0 = width;
  const int h0 = height;

  if (float(w0) / float(h0) > kAspect)
    width = RoundToPixels(float(h0) * kAspect);
  else
    height = RoundToPixels(float(w0) / kAspect);

  return inRange && width == w0 && height == h0;
}

// Two passes always settle; the rest is a margin.
constexpr int kMaxSettlingPasses = 4;

} // namespace

bool ConstrainEditorSize(int& width, int& height, float screenScale)
{
  const bool kept = ConstrainOnce(width, height, screenScale);
  // The aspect step can move its own answer by a pixel once more (1067 x 794 gives 1067 x 788,
  // which gives 1066 x 788): the answer is the size the rules keep, so asking again with it
  // changes nothing, and no window walks away from its size a pixel at a time.
  for (int pass = 1; !kept && pass < kMaxSettlingPasses && !ConstrainOnce(width, height, screenScale); ++pass)
  {
  }
  return kept;
}

float DrawScaleFor(int width, int height, float screenScale)
{
  return std::min(float(height) / (screenScale * float(kCanvasHeight)),
                  float(width) / (screenScale * float(kCanvasWidth)));
}

float InitialDrawScale(int editorWidth, int editorHeight, float screenScale)
{
  const float scale = DrawScaleFor(editorWidth, editorHeight, screenScale);
  return scale > 0.0f && std::isfinite(scale) ? scale : 1.0f;
}

EditorSize SavedSizeWithoutEditor(int editorWidth, int editorHeight, float screenScale)
{
  if (!(screenScale > 0.0f))
    screenScale = 1.0f;
  return {RoundToPixels(float(editorWidth) / screenScale), RoundToPixels(float(editorHeight) / screenScale)};
}

EditorSize SavedSizeWithEditor(int canvasWidth, int canvasHeight, float drawScale)
{
  // Rounded, not truncated: 532 times a draw scale taken from a height of 591 comes out as
  // 590.99997, and truncation would shrink the window by a pixel every time a project reopens.
  const float w = float(canvasWidth) * drawScale;
  const float h = float(canvasHeight) * drawScale;
  return {RoundToPixels(std::clamp(w, 0.0f, float(INT_MAX / 2))), RoundToPixels(std::clamp(h, 0.0f, float(INT_MAX / 2)))};
}

EditorSize SanitizeRestoredSize(int width, int height)
{
  if (width >= 1 && height >= 1 && std::fabs(float(width) / float(height) - kAspect) > kRestoreAspectTolerance)
    return {kCanvasWidth, kCanvasHeight};
  return {width, height};
}

EditorSize WindowSizeForRestored(EditorSize restored, float screenScale)
{
  EditorSize size{RoundToPixels(float(restored.width) * screenScale), RoundToPixels(float(restored.height) * screenScale)};
  ConstrainEditorSize(size.width, size.height, screenScale);
  return size;
}

bool KeptEditorSize::Holds(EditorSize now, float nowScale) const
{
  return state.width >= 1 && state.height >= 1 && now == window && nowScale == screenScale;
}

} // namespace morvellan::sizing

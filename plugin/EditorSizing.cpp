#include "EditorSizing.h"

#include "AccentColours.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace morvellan::sizing {

bool ConstrainEditorSize(int& width, int& height, float screenScale)
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
  // The aspect step can move its own result by a pixel once more (1067 x 794 gives 1067 x 788,
  // which gives 1066 x 788); a restored window is one the rule keeps, so a state saved after a
  // restore is the state that was restored. A second pass always settles; the third is a margin.
  for (int pass = 0; pass < 3; ++pass)
    if (ConstrainEditorSize(size.width, size.height, screenScale))
      break;
  return size;
}

} // namespace morvellan::sizing

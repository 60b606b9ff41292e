#include "AccentColours.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace morvellan {

namespace {

constexpr float kCanvasWidth = 720.0f;
constexpr float kCanvasHeight = 532.0f;
constexpr float kDarkestLuminance = 47.0f;
constexpr float kBrightestLuminance = 200.0f;

AccentRgb Row(int index)
{
  const AccentColourRow& row = AccentColourTable[static_cast<size_t>(index)];
  return {row.red, row.green, row.blue};
}

int ScaleChannel(int channel, float factor)
{
  return static_cast<int>(std::clamp(static_cast<float>(channel) * factor, 0.0f, 255.0f));
}

} // namespace

int HostColourFromChannel(std::uint32_t argb)
{
  if ((argb >> 24) == 0)
    return -1;
  return static_cast<int>(argb & 0xFFFFFFu);
}

AccentRgb ClampHostColour(int red, int green, int blue)
{
  const float y = 0.2126f * static_cast<float>(red) + 0.7152f * static_cast<float>(green) +
                  0.0722f * static_cast<float>(blue);
  if (y < 1.0f)
    return Row(kHostAccentIndex);
  float factor = 1.0f;
  if (y < kDarkestLuminance)
    factor = kDarkestLuminance / y;
  else if (y > kBrightestLuminance)
    factor = kBrightestLuminance / y;
  return {ScaleChannel(red, factor), ScaleChannel(green, factor), ScaleChannel(blue, factor)};
}

AccentRgb AccentRgbFor(int accentIndex, int hostColour)
{
  if (accentIndex < 0 || accentIndex > kHostAccentIndex)
    return Row(0);
  if (accentIndex != kHostAccentIndex)
    return Row(accentIndex);
  if (hostColour < 0)
    return Row(kHostAccentIndex);
  return ClampHostColour((hostColour >> 16) & 255, (hostColour >> 8) & 255, hostColour & 255);
}

int RoundToPixels(float value)
{
  if (std::isnan(value))
    return 0;
  const float rounded = std::round(value);
  if (rounded >= float(INT_MAX))
    return INT_MAX;
  if (rounded <= float(INT_MIN))
    return INT_MIN;
  return static_cast<int>(rounded);
}

ScaledEditorSize EditorSizeForScale(float scale)
{
  return {RoundToPixels(scale * kCanvasWidth), RoundToPixels(scale * kCanvasHeight)};
}

float UiScaleOfWindow(float canvasWidth, float drawScale)
{
  return std::trunc(canvasWidth * drawScale) / kCanvasWidth;
}

float UiScaleWithoutEditor(int editorWidth, float screenScale)
{
  if (editorWidth < 1)
    return 1.0f;
  return static_cast<float>(editorWidth) / (screenScale * kCanvasWidth);
}

} // namespace morvellan

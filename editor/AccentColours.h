#pragma once

#include <array>
#include <cstdint>

namespace morvellan {

struct AccentColourRow
{
  const char* name;
  int red;
  int green;
  int blue;
};

// Index 5 follows the host track colour; its row is the colour when the host gives none.
inline constexpr std::array<AccentColourRow, 6> AccentColourTable{{
  {"Green", 21, 232, 121},
  {"Red", 233, 21, 90},
  {"Orange", 255, 122, 0},
  {"Blue", 0, 184, 255},
  {"Purple", 134, 0, 255},
  {"DAW color", 21, 232, 121},
}};

inline constexpr int kHostAccentIndex = 5;

struct WindowScaleRow
{
  const char* name;
  float scale;
};

inline constexpr std::array<WindowScaleRow, 4> WindowScaleTable{{
  {"Window 0.75x", 0.75f},
  {"Window 1x", 1.0f},
  {"Window 1.5x", 1.5f},
  {"Window 2x", 2.0f},
}};

struct AccentRgb
{
  int red;
  int green;
  int blue;

  bool operator==(const AccentRgb&) const = default;
};

// REAPER's I_CUSTOMCOLOR carries a flag in bit 24 when the track has a colour of its own.
inline constexpr std::int32_t kReaperCustomColourFlag = 0x01000000;

// The VST3 channel colour 0xAARRGGBB as 0xRRGGBB, or -1 when it is absent (zero alpha).
int HostColourFromChannel(std::uint32_t argb);

// A host colour brought into the range of luminance 47 to 200; near black
// (luminance below 1) gives the "DAW color" row instead.
AccentRgb ClampHostColour(int red, int green, int blue);

// The accent for an accent index and the host track colour (0xRRGGBB, or -1 for none).
// Indices outside 0..5 draw as index 0.
AccentRgb AccentRgbFor(int accentIndex, int hostColour);

// Window scale arithmetic, free of any window.

// Whole pixels: halves away from zero; a size beyond int saturates (the resize constraint then
// takes the largest window) and NaN gives 0 (the constraint takes the smallest).
int RoundToPixels(float value);

struct ScaledEditorSize
{
  int width;
  int height;
};
// The editor size asked for a scale, before the resize constraint.
ScaledEditorSize EditorSizeForScale(float scale);
// The scale of an open window: its whole-pixel width over the canvas width.
float UiScaleOfWindow(float canvasWidth, float drawScale);
// The scale of a closed editor from its stored size and the screen scale.
float UiScaleWithoutEditor(int editorWidth, float screenScale);

} // namespace morvellan

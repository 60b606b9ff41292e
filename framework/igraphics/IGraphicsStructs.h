#pragma once

// Value types of the drawing layer: rectangles, colours, text styles, blends,
// mouse modifiers and the vector-control style. Everything is in canvas units;
// only the back end multiplies by the draw scale.

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "IPlugConstants.h"

namespace iplug::igraphics
{

constexpr int kNoParameter = -1;
constexpr int kNoValIdx = -1;
using iplug::kNoTag;

enum class EAlign
{
  Near,
  Center,
  Far
};

enum class EVAlign
{
  Top,
  Middle,
  Bottom
};

enum class EDirection
{
  Vertical,
  Horizontal
};

enum class ECursor
{
  ARROW,
  HAND,
  SIZENWSE,
  IBEAM
};

enum class EFileAction
{
  Open,
  Save
};

// Alpha first, each 0..255. Members are public: callers swap the alpha of a copy freely.
struct IColor
{
  int A = 255;
  int R = 0;
  int G = 0;
  int B = 0;

  constexpr IColor() = default;
  constexpr IColor(int a, int r, int g, int b) : A(a), R(r), G(g), B(b) {}

  constexpr bool operator==(const IColor&) const = default;
  // A copy with another alpha.
  constexpr IColor WithAlpha(int a) const { return IColor(a, R, G, B); }
};

inline constexpr IColor COLOR_TRANSPARENT(0, 0, 0, 0);
inline constexpr IColor COLOR_BLACK(255, 0, 0, 0);
inline constexpr IColor COLOR_WHITE(255, 255, 255, 255);
inline constexpr IColor COLOR_GRAY(255, 127, 127, 127);
inline constexpr IColor COLOR_LIGHT_GRAY(255, 240, 240, 240);
inline constexpr IColor COLOR_MID_GRAY(255, 200, 200, 200);
inline constexpr IColor COLOR_DARK_GRAY(255, 70, 70, 70);

// (left, top, right, bottom). The empty rectangle is all four zero.
struct IRECT
{
  float L = 0.f;
  float T = 0.f;
  float R = 0.f;
  float B = 0.f;

  constexpr IRECT() = default;
  constexpr IRECT(float l, float t, float r, float b) : L(l), T(t), R(r), B(b) {}

  constexpr float W() const { return R - L; }
  constexpr float H() const { return B - T; }
  constexpr float MW() const { return 0.5f * (L + R); }
  constexpr float MH() const { return 0.5f * (T + B); }
  constexpr bool Empty() const { return L == 0.f && T == 0.f && R == 0.f && B == 0.f; }
  // Nothing to draw: no width or no height.
  constexpr bool Degenerate() const { return !(R > L) || !(B > T); }
  // Half-open: the left and top edges are inside, the right and bottom edges are not.
  constexpr bool Contains(float x, float y) const { return x >= L && x < R && y >= T && y < B; }
  constexpr bool Intersects(const IRECT& o) const { return L < o.R && o.L < R && T < o.B && o.T < B; }
  constexpr bool operator==(const IRECT&) const = default;

  // A w x h rectangle centred on this one.
  constexpr IRECT GetCentredInside(float w, float h) const
  {
    const float cx = MW(), cy = MH();
    return IRECT(cx - 0.5f * w, cy - 0.5f * h, cx + 0.5f * w, cy + 0.5f * h);
  }
  // Grown by d on every side (shrunk for a negative d).
  constexpr IRECT GetPadded(float d) const { return IRECT(L - d, T - d, R + d, B + d); }
  constexpr IRECT GetTranslated(float dx, float dy) const { return IRECT(L + dx, T + dy, R + dx, B + dy); }
  // Times a draw scale, grown out to whole pixels: every pixel it touches.
  IRECT GetWholePixels(float scale) const
  {
    return IRECT(std::floor(L * scale), std::floor(T * scale), std::ceil(R * scale), std::ceil(B * scale));
  }
  // The smallest rectangle holding both; a degenerate side is ignored.
  IRECT Union(const IRECT& o) const
  {
    if (o.Degenerate())
      return *this;
    if (Degenerate())
      return o;
    return IRECT(std::min(L, o.L), std::min(T, o.T), std::max(R, o.R), std::max(B, o.B));
  }
  // The common part; degenerate when the two do not meet.
  IRECT Intersect(const IRECT& o) const
  {
    return IRECT(std::max(L, o.L), std::max(T, o.T), std::min(R, o.R), std::min(B, o.B));
  }
};

enum class EBlend
{
  Default
};

struct IBlend
{
  EBlend mMethod = EBlend::Default;
  float mWeight = 1.f;

  constexpr IBlend() = default;
  constexpr IBlend(EBlend method, float weight = 1.f) : mMethod(method), mWeight(weight) {}
};

// A solid paint.
struct IPattern
{
  IColor mColor;
  constexpr IPattern(const IColor& color) : mColor(color) {}
};

enum class EFillRule
{
  Winding,
  EvenOdd
};

enum class ELineCap
{
  Butt,
  Round,
  Square
};

enum class ELineJoin
{
  Miter,
  Round,
  Bevel
};

struct IFillOptions
{
  EFillRule mFillRule = EFillRule::Winding;
  bool mPreserve = false; // keep the path after filling
};

struct IStrokeOptions
{
  ELineCap mCapOption = ELineCap::Butt;
  ELineJoin mJoinOption = ELineJoin::Miter;
  float mMiterLimit = 10.f;
  bool mPreserve = false; // keep the path after stroking
};

struct IMouseMod
{
  bool L = false; // left button
  bool R = false; // right button
  bool S = false; // shift
  bool C = false; // control
  bool A = false; // alt

  constexpr IMouseMod() = default;
  constexpr IMouseMod(bool l, bool r = false, bool s = false, bool c = false, bool a = false)
  : L(l), R(r), S(s), C(c), A(a)
  {
  }
};

// The fallback face when a style names no font or one that is not loaded.
inline constexpr const char* kDefaultFontID = "";

// A text style. Size is the em size in canvas units; Middle centres the
// ascender-descender box. TEBG/TEFG colour the in-window text entry.
struct IText
{
  float mSize = 14.f;
  IColor mFGColor = COLOR_BLACK;
  std::string mFont = kDefaultFontID;
  EAlign mAlign = EAlign::Center;
  EVAlign mVAlign = EVAlign::Middle;
  float mAngle = 0.f;
  IColor mTEBGColor = COLOR_WHITE;
  IColor mTEFGColor = COLOR_BLACK;

  IText() = default;
  IText(float size, const IColor& fg = COLOR_BLACK, const char* fontID = nullptr, EAlign align = EAlign::Center,
        EVAlign valign = EVAlign::Middle, float angle = 0.f, const IColor& teBG = COLOR_WHITE,
        const IColor& teFG = COLOR_BLACK)
  : mSize(size)
  , mFGColor(fg)
  , mFont(fontID ? fontID : kDefaultFontID)
  , mAlign(align)
  , mVAlign(valign)
  , mAngle(angle)
  , mTEBGColor(teBG)
  , mTEFGColor(teFG)
  {
  }

  IText WithFGColor(const IColor& c) const { IText t = *this; t.mFGColor = c; return t; }
  IText WithAlign(EAlign a) const { IText t = *this; t.mAlign = a; return t; }
  IText WithVAlign(EVAlign a) const { IText t = *this; t.mVAlign = a; return t; }
  IText WithSize(float s) const { IText t = *this; t.mSize = s; return t; }
};

// Colour slots of the vector controls.
enum EVColor
{
  kBG, // background
  kFG, // foreground / handle / bar
  kPR, // pressed
  kFR, // frame and pointer
  kHL, // highlight (hover overlay)
  kSH, // shadow
  kX1, // extra 1 (value arc)
  kX2,
  kX3,
  kNumVColors
};

struct IVStyle
{
  bool hideCursor = true;
  bool showLabel = true;
  bool showValue = true;
  bool drawFrame = true;
  bool drawShadows = true;
  float frameThickness = 1.f;
  float shadowOffset = 3.f;
  std::array<IColor, kNumVColors> colorSpec{
    IColor(255, 70, 70, 70),    // kBG
    IColor(255, 200, 200, 200), // kFG
    IColor(255, 240, 240, 240), // kPR
    IColor(255, 70, 70, 70),    // kFR
    IColor(30, 255, 255, 255),  // kHL
    IColor(60, 0, 0, 0),        // kSH
    IColor(255, 255, 0, 0),     // kX1
    IColor(255, 0, 255, 0),     // kX2
    IColor(255, 0, 0, 255),     // kX3
  };
  IText labelText = IText(12.f, COLOR_BLACK);
  IText valueText = IText(12.f, COLOR_BLACK);

  const IColor& GetColor(EVColor c) const { return colorSpec[static_cast<size_t>(c)]; }
  IVStyle WithColor(EVColor c, const IColor& color) const { IVStyle s = *this; s.colorSpec[static_cast<size_t>(c)] = color; return s; }
  IVStyle WithShowLabel(bool v) const { IVStyle s = *this; s.showLabel = v; return s; }
  IVStyle WithShowValue(bool v) const { IVStyle s = *this; s.showValue = v; return s; }
  IVStyle WithDrawFrame(bool v) const { IVStyle s = *this; s.drawFrame = v; return s; }
  IVStyle WithDrawShadows(bool v) const { IVStyle s = *this; s.drawShadows = v; return s; }
  IVStyle WithHideCursor(bool v) const { IVStyle s = *this; s.hideCursor = v; return s; }
};

inline const IVStyle DEFAULT_STYLE{};

// A key from the window: a typed character as UTF-8, or one of the editing keys.
enum class EVirtualKey
{
  None,
  Back,
  Delete,
  Return,
  Escape,
  Left,
  Right,
  Home,
  End,
  Tab,
  Up,
  Down
};

struct IKeyPress
{
  std::string utf8; // the character typed, empty for an editing key
  EVirtualKey vk = EVirtualKey::None;
  IMouseMod mods;
};

} // namespace iplug::igraphics

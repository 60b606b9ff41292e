#include "ThresholdHandle.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "IParam.h"

using namespace iplug::igraphics;

namespace
{

constexpr float kDashLength = 3.f;
constexpr float kDashPeriod = 6.f;
// How far the dashes reach past the track on either side.
constexpr float kDashOverhang = 2.f;
constexpr std::size_t kMaxLabelChars = 24;
// The triangle beside the track: its tip, its far side and its half height.
constexpr float kTriangleTip = 3.f;
constexpr float kTriangleBase = 14.2f;
constexpr float kTriangleHalf = 7.f;
// Room kept either side of the label text on its fill.
constexpr float kLabelPad = 3.f;

} // namespace

ThresholdHandle::ThresholdHandle(const IRECT& bounds, int paramIdx, const IRECT& track, float lowDb, float highDb,
                                 const IText& labelStyle, const IColor& accent, const IColor& labelBackground)
: IControl(bounds, paramIdx)
, mTrack(track)
, mLowDb(lowDb)
, mHighDb(highDb)
, mLabelStyle(labelStyle)
, mAccent(accent)
, mLabelBackground(labelBackground)
, mLabelRect(bounds.L, bounds.T, bounds.R, track.T)
{
}

float ThresholdHandle::YOfLevel(double db) const
{
  const double span = std::max(1., static_cast<double>(mHighDb) - mLowDb);
  double t = (mHighDb - db) / span;
  // A NaN level (nothing bound) draws at the bottom, like silence.
  t = std::isnan(t) ? 1. : std::clamp(t, 0., 1.);
  return mTrack.T + mTrack.H() * static_cast<float>(t);
}

double ThresholdHandle::CurrentLevel() const
{
  const iplug::IParam* param = GetParam(0);
  return param ? param->FromNormalized(GetValue(0)) : static_cast<double>(mLowDb);
}

void ThresholdHandle::SetFromY(float y)
{
  const iplug::IParam* param = GetParam(0);
  if (!param || !std::isfinite(y))
    return;
  const double t = std::clamp((static_cast<double>(y) - mTrack.T) / std::max(1.f, mTrack.H()), 0., 1.);
  const double level = mHighDb - std::max(1., static_cast<double>(mHighDb) - mLowDb) * t;
  SetValue(param->ToNormalized(std::clamp(level, param->GetMin(), param->GetMax())), 0);
  SetDirty(true, 0);
}

bool ThresholdHandle::IsHit(float x, float y) const
{
  // The control's own rectangle, not the larger one it draws in.
  return x >= mTrack.R && mTargetRECT.Contains(x, y);
}

void ThresholdHandle::OnAttached()
{
  const IRECT strip(mTargetRECT.L, mTargetRECT.T, mTargetRECT.R, mTrack.T);
  float width = strip.W();
  const iplug::IParam* param = GetParam(0);
  if (param && GetUI())
  {
    // Digits may differ in width, so every level's label is measured at both ends and the
    // default; the label keeps one width whatever the level.
    IRECT extent;
    for (const double level : {param->GetMin(), param->GetMax(), param->GetDefault()})
      width = std::max(width, GetUI()->MeasureText(mLabelStyle, LabelText(level).c_str(), extent) + 2.f * kLabelPad);
  }
  // Wider than the strip, the label grows to the right: left of the strip lies the panel's edge.
  mLabelRect = IRECT(strip.L, strip.T, strip.L + width, strip.B);
  // The triangle stands out half its height past either end of the track.
  const IRECT triangle(mTrack.R + kTriangleTip, mTrack.T - kTriangleHalf, mTrack.R + kTriangleBase,
                       mTrack.B + kTriangleHalf);
  SetRECT(mTargetRECT.Union(mLabelRect).Union(triangle));
}

std::string ThresholdHandle::LabelText(double level)
{
  // to_chars, unlike printf, ignores the host's locale.
  char number[32];
  const auto result = std::to_chars(number, number + sizeof(number), level, std::chars_format::fixed, 1);
  std::string text = "threshold ";
  if (result.ec == std::errc())
    text.append(number, result.ptr);
  text += " dB";
  if (text.size() > kMaxLabelChars)
    text.resize(kMaxLabelChars);
  return text;
}

void ThresholdHandle::OnMouseDown(float, float y, const IMouseMod&)
{
  mResetHeld = false;
  mDragging = true;
  SetFromY(y);
}

void ThresholdHandle::OnMouseUp(float, float, const IMouseMod&)
{
  mResetHeld = false;
  mDragging = false;
  SetDirty(false);
}

void ThresholdHandle::OnMouseDrag(float, float y, float, float, const IMouseMod&)
{
  if (!mResetHeld)
    SetFromY(y);
}

void ThresholdHandle::OnMouseDblClick(float, float, const IMouseMod&)
{
  if (const iplug::IParam* param = GetParam(0))
  {
    SetValue(param->GetDefault(true), 0);
    SetDirty(true, 0);
    mResetHeld = true;
  }
}

void ThresholdHandle::OnMouseOver(float, float, const IMouseMod&)
{
  mHover = true;
  SetDirty(false);
}

void ThresholdHandle::OnMouseOut()
{
  // Leaving mid-drag hides the label; the drag itself goes on until the release.
  mDragging = false;
  mHover = false;
  SetDirty(false);
}

void ThresholdHandle::Draw(IGraphics& g)
{
  const double level = CurrentLevel();
  const float y = YOfLevel(level);

  const float end = mTrack.R + kDashOverhang;
  for (float x = mTrack.L - kDashOverhang; x < end; x += kDashPeriod)
    g.DrawLine(mAccent, x, y, std::min(x + kDashLength, end), y, &mBlend, 1.f);

  const float xs[] = {mTrack.R + kTriangleBase, mTrack.R + kTriangleTip, mTrack.R + kTriangleBase};
  const float ys[] = {y - kTriangleHalf, y, y + kTriangleHalf};
  g.FillConvexPolygon(mAccent, xs, ys, 3, &mBlend);

  if (mDragging || mHover)
  {
    g.FillRect(mLabelBackground, mLabelRect, &mBlend);
    g.DrawText(mLabelStyle, LabelText(level).c_str(), mLabelRect, &mBlend);
  }
}

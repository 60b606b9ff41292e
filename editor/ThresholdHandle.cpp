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
  return x >= mTrack.R && mRECT.Contains(x, y);
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

  const float xs[] = {mTrack.R + 14.2f, mTrack.R + 3.f, mTrack.R + 14.2f};
  const float ys[] = {y - 7.f, y, y + 7.f};
  g.FillConvexPolygon(mAccent, xs, ys, 3, &mBlend);

  if (mDragging || mHover)
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
    const IRECT strip(mRECT.L, mRECT.T, mRECT.R, mTrack.T);
    g.FillRect(mLabelBackground, strip, &mBlend);
    g.DrawText(mLabelStyle, text.c_str(), strip, &mBlend);
  }
}

#include "BandStripControl.h"

#include <algorithm>
#include <cmath>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "IParam.h"

using namespace iplug::igraphics;

namespace
{
// In units of mUnit: the track's inset from the ends, its height, the centre gap and
// the handles' radius.
constexpr float kInset = 6.f;
constexpr float kTrackHeight = 3.f;
constexpr float kGap = 6.f;
constexpr float kHandleRadius = 6.f;
}

BandStripControl::BandStripControl(const IRECT& bounds, const IColor& trackColour, const IColor& spanColour,
                                   const IColor& onColour, const IColor& offColour, int hpOnParam, int lpOnParam,
                                   float unit)
: IControl(bounds)
, mTrackColour(trackColour)
, mSpanColour(spanColour)
, mOnColour(onColour)
, mOffColour(offColour)
, mHPOnParam(hpOnParam)
, mLPOnParam(lpOnParam)
, mUnit(std::isfinite(unit) && unit > 0.f ? unit : 1.f)
{
}

BandStripControl::Track BandStripControl::GetTrack() const
{
  Track t;
  t.left = mRECT.L + kInset * mUnit;
  t.right = mRECT.R - kInset * mUnit;
  t.cy = mRECT.MH();
  t.cx = 0.5f * (t.left + t.right);
  return t;
}

float BandStripControl::PosToX(double p) const
{
  const Track t = GetTrack();
  return t.left + (t.right - t.left) * static_cast<float>(p);
}

double BandStripControl::XToPos(float x) const
{
  const Track t = GetTrack();
  return std::clamp(static_cast<double>(x - t.left) / std::max(1.0, static_cast<double>(t.right - t.left)), 0., 1.);
}

bool BandStripControl::MapRange(int i, double& lo, double& hi) const
{
  const iplug::IParam* param = GetParam(i);
  if (!param)
    return false;
  lo = std::max(1.0, param->GetMin());
  hi = std::max(lo * 1.0001, param->GetMax());
  return true;
}

double BandStripControl::HandlePos(int i) const
{
  const double offset = i == 0 ? 0. : 0.5;
  double lo = 1., hi = 1.;
  if (!MapRange(i, lo, hi))
    return offset;
  const double v = std::clamp(GetParam(i)->Value(), lo, hi);
  const double t = std::clamp(std::log(v / lo) / std::log(hi / lo), 0., 1.);
  return offset + 0.5 * t;
}

int BandStripControl::NearestHandle(float x) const
{
  const double t = XToPos(x);
  const double hp = HandlePos(0), lp = HandlePos(1);
  // Both handles at the gap: the side of the press decides, or the tie would always give
  // the high-pass handle, which cannot move right, and the low-pass one could not be reached.
  if (lp <= hp)
    return t > lp ? 1 : 0;
  return std::fabs(t - lp) < std::fabs(t - hp) ? 1 : 0;
}

bool BandStripControl::SwitchOn(int paramIdx) const
{
  const iplug::IEditorDelegate* dlg = GetDelegate();
  const iplug::IParam* param = dlg ? dlg->GetParam(paramIdx) : nullptr;
  return param && param->Value() >= 0.5;
}

void BandStripControl::OnMouseDown(float x, float y, const IMouseMod& mod)
{
  if (!std::isfinite(x))
    return;
  mDragHandle = NearestHandle(x);
  // The chosen handle jumps to the press at once.
  OnMouseDrag(x, y, 0.f, 0.f, mod);
}

void BandStripControl::OnMouseUp(float, float, const IMouseMod&)
{
  mDragHandle = -1;
}

void BandStripControl::OnMouseDrag(float x, float, float, float, const IMouseMod&)
{
  const int i = mDragHandle;
  double lo = 1., hi = 1.;
  if (i < 0 || !std::isfinite(x) || !MapRange(i, lo, hi))
    return;
  // Each handle owns half the track and stops at the gap.
  const double offset = i == 0 ? 0. : 0.5;
  const double s = std::clamp((XToPos(x) - offset) / 0.5, 0., 1.);
  const double freq = lo * std::pow(hi / lo, s);
  SetValue(GetParam(i)->ToNormalized(freq), i);
  SetDirty(true, i);
}

void BandStripControl::OnMouseOver(float x, float y, const IMouseMod& mod)
{
  const int h = std::isfinite(x) ? NearestHandle(x) : -1;
  if (h != mHoverHandle)
  {
    mHoverHandle = h;
    SetDirty(false);
  }
  IControl::OnMouseOver(x, y, mod);
}

void BandStripControl::OnMouseOut()
{
  mHoverHandle = -1;
  SetDirty(false);
  IControl::OnMouseOut();
}

void BandStripControl::DrawOutsideSpan(IGraphics& g, const IColor& colour, float x0, float x1) const
{
  const Track t = GetTrack();
  const float gapL = t.cx - 0.5f * kGap * mUnit;
  const float gapR = t.cx + 0.5f * kGap * mUnit;
  const float top = t.cy - 0.5f * kTrackHeight * mUnit;
  const float bottom = t.cy + 0.5f * kTrackHeight * mUnit;
  const float leftEnd = std::min(x1, gapL);
  if (leftEnd > x0)
    g.FillRect(colour, IRECT(x0, top, leftEnd, bottom), &mBlend);
  const float rightStart = std::max(x0, gapR);
  if (x1 > rightStart)
    g.FillRect(colour, IRECT(rightStart, top, x1, bottom), &mBlend);
}

void BandStripControl::Draw(IGraphics& g)
{
  mHPOnShown = SwitchOn(mHPOnParam);
  mLPOnShown = SwitchOn(mLPOnParam);
  const Track t = GetTrack();

  DrawOutsideSpan(g, mTrackColour, t.left, t.right);

  const double a = mHPOnShown ? HandlePos(0) : 0.;
  const double b = mLPOnShown ? HandlePos(1) : 1.;
  if (b > a)
    DrawOutsideSpan(g, mSpanColour, PosToX(a), PosToX(b));

  const float r = kHandleRadius * mUnit;
  const bool on[2] = {mHPOnShown, mLPOnShown};
  for (int i = 0; i < 2; ++i)
  {
    const float x = PosToX(HandlePos(i));
    g.FillEllipse(on[i] ? mOnColour : mOffColour, IRECT(x - r, t.cy - r, x + r, t.cy + r), &mBlend);
  }
}

bool BandStripControl::IsDirty()
{
  // A switch pill or a typed frequency changes what the strip shows without touching it.
  const IGraphics* ui = GetUI();
  mWatch.Poll(*this, !(ui && ui->GetCapturedControl() == this));
  if (SwitchOn(mHPOnParam) != mHPOnShown || SwitchOn(mLPOnParam) != mLPOnShown)
    return true;
  return IControl::IsDirty();
}

#include "PillToggleControl.h"

#include <cmath>

#include "IGraphics.h"

using namespace iplug::igraphics;

namespace
{
// The dot's diameter at dot scale 1.
constexpr float kDotSize = 5.f;
// The dot and the text keep this many corner radii from the pill's ends.
constexpr float kEndInset = 0.6f;
}

PillToggleControl::PillToggleControl(const IRECT& bounds, int paramIdx, const char* offText, const char* onText,
                                     const IText& text, float dotScale, const IColor& accent, bool inverted)
: IControl(bounds, paramIdx)
, mLitDotColour(accent.WithAlpha(255))
, mOffText(offText ? offText : "")
, mOnText(onText ? onText : "")
, mTextStyle(text)
, mDotScale(std::isfinite(dotScale) && dotScale > 0.f ? dotScale : 1.f)
, mInverted(inverted)
{
}

void PillToggleControl::OnMouseDown(float, float, const IMouseMod&)
{
  SetValue(IsOn() ? 0. : 1.);
  SetDirty(true, 0);
}

bool PillToggleControl::IsDirty()
{
  // A preset, the host or a typed value may switch the parameter behind the pill's back.
  mWatch.Poll(*this, true);
  return IControl::IsDirty();
}

void PillToggleControl::Draw(IGraphics& g)
{
  const IRECT& r = mRECT;
  const float radius = 0.5f * r.H();
  const float cy = r.MH();
  const bool lit = IsLit();

  g.FillRoundRect(mFillColour, r, radius, &mBlend);
  g.DrawRoundRect(lit ? mLitOutlineColour : mDimOutlineColour, r, radius, &mBlend, 1.f);

  const float d = kDotSize * mDotScale;
  const float dotL = r.L + kEndInset * radius;
  g.FillEllipse(lit ? mLitDotColour : mDimDotColour, IRECT(dotL, cy - 0.5f * d, dotL + d, cy + 0.5f * d), &mBlend);

  g.DrawText(mTextStyle, ShownText().c_str(), IRECT(dotL + d, r.T, r.R - kEndInset * radius, r.B), &mBlend);
}

#include "CornerScaleControl.h"

#include <algorithm>
#include <cmath>

#include "IGraphics.h"

using namespace iplug::igraphics;

CornerScaleControl::CornerScaleControl(const IRECT& bounds, float baseWidth, float minScale, float maxScale,
                                       const IColor& gripColour, const IColor& hoverGripColour)
: IControl(bounds)
, mBaseWidth(std::isfinite(baseWidth) && baseWidth > 0.f ? baseWidth : 720.f)
, mMinScale(std::isfinite(minScale) && minScale > 0.f ? minScale : 0.75f)
, mMaxScale(std::isfinite(maxScale) ? std::max(mMinScale, maxScale) : 2.f)
, mGripColour(gripColour)
, mHoverGripColour(hoverGripColour)
{
}

void CornerScaleControl::OnMouseDown(float, float, const IMouseMod&)
{
  const IGraphics* ui = GetUI();
  if (!ui)
    return;
  mStartWidth = std::trunc(static_cast<float>(ui->Width()) * ui->GetDrawScale());
  mDragAccum = 0.f;
}

void CornerScaleControl::OnMouseDrag(float, float, float dX, float dY, const IMouseMod&)
{
  IGraphics* ui = GetUI();
  if (!ui || !std::isfinite(dX) || !std::isfinite(dY))
    return;
  // The larger component: right or down grows the window; only a move both left and up
  // shrinks it, since a pure left or up move has a zero component, which is the larger.
  mDragAccum += std::max(dX, dY) * ui->GetDrawScale();
  const float s = std::clamp((mStartWidth + mDragAccum) / mBaseWidth, mMinScale, mMaxScale);
  if (s != ui->GetDrawScale())
    ui->Resize(ui->Width(), ui->Height(), s, true);
}

void CornerScaleControl::OnMouseDblClick(float, float, const IMouseMod&)
{
  IGraphics* ui = GetUI();
  if (!ui)
    return;
  ui->Resize(ui->Width(), ui->Height(), 1.f, true);
  // The double click's press holds the mouse too: a drag from here starts at scale 1, not
  // at the first press's width, which would undo the reset on the slightest movement.
  mStartWidth = static_cast<float>(ui->Width());
  mDragAccum = 0.f;
}

void CornerScaleControl::OnMouseOver(float x, float y, const IMouseMod& mod)
{
  if (!mCursorSet)
  {
    if (IGraphics* ui = GetUI())
    {
      mPrevCursor = ui->SetMouseCursor(ECursor::SIZENWSE);
      mCursorSet = true;
    }
  }
  IControl::OnMouseOver(x, y, mod);
}

void CornerScaleControl::OnMouseOut()
{
  if (mCursorSet)
  {
    if (IGraphics* ui = GetUI())
      ui->SetMouseCursor(mPrevCursor);
    mCursorSet = false;
  }
  IControl::OnMouseOut();
}

void CornerScaleControl::Draw(IGraphics& g)
{
  const IRECT& r = mRECT;
  g.FillTriangle(mMouseIsOver ? mHoverGripColour : mGripColour, r.L, r.B, r.R, r.T, r.R, r.B, &mBlend);
}

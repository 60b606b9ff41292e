#include "IVKnobControl.h"

#include <algorithm>
#include <cmath>

#include "IGraphics.h"
#include "ParamValueText.h"

namespace iplug::igraphics
{

namespace
{

constexpr float kPi = 3.14159265358979f;
// The handle sits this far inside the ring, leaving the track visible around it.
constexpr float kHandleInset = 4.f;
constexpr float kPointerThickness = 2.5f;
constexpr float kPointerStart = 0.1f;
// Room around a line of label or value text.
constexpr float kTextPad = 4.f;
// One wheel notch moves the value by this much of the range.
constexpr double kWheelStep = 0.01;

float Finite(float v, float fallback)
{
  return std::isfinite(v) ? v : fallback;
}

} // namespace

IVKnobControl::IVKnobControl(const IRECT& bounds, int paramIdx, const char* label, const IVStyle& style,
                             bool valueIsEditable, bool valueInWidget, float a1, float a2, float aAnchor,
                             EDirection direction, double gearing, float trackSize)
: IControl(bounds, paramIdx)
, mStyle(style)
, mLabel(label ? label : "")
, mValueIsEditable(valueIsEditable)
, mValueInWidget(valueInWidget)
, mAngle1(Finite(a1, -135.f))
, mAngle2(Finite(a2, 135.f))
, mAnchorAngle(Finite(aAnchor, mAngle1))
, mDirection(direction)
, mGearing(std::isfinite(gearing) && gearing > 0. ? gearing : 4.)
, mTrackSize(std::isfinite(trackSize) ? trackSize : 0.f)
{
}

float IVKnobControl::GetAngle() const
{
  return mAngle1 + static_cast<float>(GetValue()) * (mAngle2 - mAngle1);
}

IVKnobControl::Areas IVKnobControl::GetAreas() const
{
  Areas a;
  a.widget = mRECT;
  if (mStyle.showLabel && !mLabel.empty())
  {
    const float h = std::min(mStyle.labelText.mSize + kTextPad, 0.5f * a.widget.H());
    a.label = IRECT(a.widget.L, a.widget.T, a.widget.R, a.widget.T + h);
    a.widget.T += h;
  }
  if (mStyle.showValue)
  {
    if (mValueInWidget)
      a.value = a.widget;
    else
    {
      const float h = std::min(mStyle.valueText.mSize + kTextPad, 0.5f * a.widget.H());
      a.value = IRECT(a.widget.L, a.widget.B - h, a.widget.R, a.widget.B);
      a.widget.B -= h;
    }
  }
  return a;
}

void IVKnobControl::DrawIndicatorTrack(IGraphics& g, float angle, float cx, float cy, float radius)
{
  if (mTrackSize <= 0.f)
    return;
  g.DrawArc(GetColor(kX1), cx, cy, radius, std::min(mAnchorAngle, angle), std::max(mAnchorAngle, angle), &mBlend,
            mTrackSize);
}

void IVKnobControl::Draw(IGraphics& g)
{
  const Areas areas = GetAreas();
  if (GetColor(kBG).A > 0)
    g.FillRect(GetColor(kBG), mRECT, &mBlend);
  if (!areas.label.Degenerate())
    g.DrawText(mStyle.labelText, mLabel.c_str(), areas.label, &mBlend);

  const IRECT& w = areas.widget;
  if (!w.Degenerate())
  {
    const float cx = w.MW(), cy = w.MH();
    const float track = std::max(mTrackSize, 0.f);
    const float ring = 0.5f * std::min(w.W(), w.H()) - 0.5f * track;
    const float angle = GetAngle();
    DrawIndicatorTrack(g, angle, cx, cy, ring);

    const float r = ring - kHandleInset;
    if (r > 0.f)
    {
      if (mStyle.drawShadows && !mPressed)
        g.FillCircle(GetColor(kSH), cx + mStyle.shadowOffset, cy + mStyle.shadowOffset, r, &mBlend);
      g.FillCircle(GetColor(mPressed ? kPR : kFG), cx, cy, r, &mBlend);
      if (mMouseIsOver)
        g.FillCircle(GetColor(kHL), cx, cy, r, &mBlend);
      if (mStyle.drawFrame)
        g.DrawCircle(GetColor(kFR), cx, cy, r, &mBlend, mStyle.frameThickness);

      const float rad = angle * kPi / 180.f;
      const float sx = std::sin(rad), sy = -std::cos(rad);
      g.DrawLine(GetColor(kFR), cx + kPointerStart * r * sx, cy + kPointerStart * r * sy, cx + r * sx, cy + r * sy,
                 &mBlend, kPointerThickness);
    }
  }

  if (!areas.value.Degenerate())
    if (const IParam* param = GetParam())
      g.DrawText(mStyle.valueText, ParamValueText(*param, GetValue(), true).c_str(), areas.value, &mBlend);
}

void IVKnobControl::OnMouseDown(float x, float y, const IMouseMod& mod)
{
  const Areas areas = GetAreas();
  IGraphics* ui = GetUI();
  const IParam* param = GetParam();
  if (mValueIsEditable && mod.L && ui && param && areas.value.Contains(x, y))
  {
    ui->CreateTextEntry(*this, mStyle.valueText, areas.value, ParamValueText(*param, GetValue(), false).c_str(), 0);
    return;
  }
  mPressed = true;
  SetDirty(false);
}

void IVKnobControl::OnMouseUp(float, float, const IMouseMod&)
{
  if (mPressed)
  {
    mPressed = false;
    SetDirty(false);
  }
}

void IVKnobControl::OnMouseDrag(float, float, float dX, float dY, const IMouseMod&)
{
  if (!mPressed)
    return;
  const double travel = 0.5 * mRECT.W() * mGearing;
  const double d = mDirection == EDirection::Vertical ? -dY : dX;
  if (!(travel > 0.) || !std::isfinite(d))
    return;
  SetValue(std::clamp(GetValue() + d / travel, 0., 1.));
  SetDirty(true);
}

void IVKnobControl::OnMouseWheel(float, float, const IMouseMod&, float d)
{
  if (!(d > 0.f) && !(d < 0.f))
    return;
  SetValue(std::clamp(GetValue() + (d > 0.f ? kWheelStep : -kWheelStep), 0., 1.));
  SetDirty(true);
}

bool IVKnobControl::IsDirty()
{
  // While dragged the knob leads; at rest it follows its parameter.
  const IGraphics* ui = GetUI();
  const bool captured = ui && ui->GetCapturedControl() == this;
  // The press can end without a release reaching us (a menu or entry took the mouse).
  if (mPressed && !captured)
  {
    mPressed = false;
    SetDirty(false);
  }
  mWatch.Poll(*this, !captured);
  return IControl::IsDirty();
}

} // namespace iplug::igraphics

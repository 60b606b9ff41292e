#include "IControl.h"

#include <algorithm>
#include <cmath>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "IParam.h"

namespace iplug::igraphics
{

IControl::IControl(const IRECT& bounds, int paramIdx, IActionFunction actionFunc)
: mRECT(bounds)
, mTargetRECT(bounds)
, mActionFunc(std::move(actionFunc))
, mVals(1)
{
  mVals[0].paramIdx = paramIdx;
}

IControl::IControl(const IRECT& bounds, const std::vector<int>& params, IActionFunction actionFunc)
: mRECT(bounds)
, mTargetRECT(bounds)
, mActionFunc(std::move(actionFunc))
{
  for (int p : params)
    mVals.push_back(ValueSlot{p, 0.});
  if (mVals.empty())
    mVals.push_back(ValueSlot{});
}

IControl::~IControl() = default;

void IControl::OnMouseDown(float, float, const IMouseMod&) {}
void IControl::OnMouseUp(float, float, const IMouseMod&) {}
void IControl::OnMouseDrag(float, float, float, float, const IMouseMod&) {}
void IControl::OnMouseWheel(float, float, const IMouseMod&, float) {}

void IControl::OnMouseDblClick(float, float, const IMouseMod&)
{
  SetValueToDefault(kNoValIdx);
}

void IControl::OnMouseOver(float, float, const IMouseMod&)
{
  if (!mMouseIsOver)
  {
    mMouseIsOver = true;
    SetDirty(false);
  }
}

void IControl::OnMouseOut()
{
  if (mMouseIsOver)
  {
    mMouseIsOver = false;
    SetDirty(false);
  }
}

void IControl::SetText(const IText& txt)
{
  mText = txt;
  SetDirty(false);
}

bool IControl::IsHit(float x, float y) const
{
  return mTargetRECT.Contains(x, y);
}

bool IControl::IsDirty()
{
  return mDirty;
}

void IControl::OnPopupMenuSelection(IPopupMenu*, int) {}

void IControl::OnTextEntryCompletion(const char* str, int valIdx)
{
  // The framework parses only for a bound value slot; a control that asked for
  // kNoValIdx reads the text itself.
  const IParam* param = GetParam(valIdx);
  if (!str || valIdx < 0 || !param)
    return;
  double plain = 0.;
  if (!param->StringToValue(str, plain) || !std::isfinite(plain))
    return;
  SetValue(param->ToNormalized(param->Constrain(plain)), valIdx);
  SetDirty(true, valIdx);
}

void IControl::OnMsgFromDelegate(int, int, const void*) {}

void IControl::SetValueFromDelegate(double value, int valIdx)
{
  if (valIdx < 0 || valIdx >= NVals() || !std::isfinite(value))
    return;
  if (mVals[static_cast<size_t>(valIdx)].value != value)
  {
    SetValue(value, valIdx);
    SetDirty(false);
  }
}

int IControl::GetParamIdx(int valIdx) const
{
  return valIdx >= 0 && valIdx < NVals() ? mVals[static_cast<size_t>(valIdx)].paramIdx : kNoParameter;
}

void IControl::SetParamIdx(int paramIdx, int valIdx)
{
  if (valIdx < 0)
    return;
  if (valIdx >= NVals())
    mVals.resize(static_cast<size_t>(valIdx) + 1);
  mVals[static_cast<size_t>(valIdx)].paramIdx = paramIdx;
}

const IParam* IControl::GetParam(int valIdx) const
{
  const IEditorDelegate* dlg = GetDelegate();
  const int paramIdx = GetParamIdx(valIdx);
  return dlg && paramIdx >= 0 ? dlg->GetParam(paramIdx) : nullptr;
}

int IControl::LinkedToParam(int paramIdx) const
{
  for (int v = 0; v < NVals(); ++v)
    if (paramIdx >= 0 && mVals[static_cast<size_t>(v)].paramIdx == paramIdx)
      return v;
  return kNoValIdx;
}

double IControl::GetValue(int valIdx) const
{
  return valIdx >= 0 && valIdx < NVals() ? mVals[static_cast<size_t>(valIdx)].value : 0.;
}

void IControl::SetValue(double value, int valIdx)
{
  if (valIdx < 0 || valIdx >= NVals() || !std::isfinite(value))
    return;
  mVals[static_cast<size_t>(valIdx)].value = std::clamp(value, 0., 1.);
}

void IControl::SetValueToDefault(int valIdx)
{
  for (int v = 0; v < NVals(); ++v)
  {
    if (valIdx != kNoValIdx && v != valIdx)
      continue;
    if (const IParam* param = GetParam(v))
    {
      SetValue(param->GetDefault(true), v);
      SetDirty(true, v);
    }
  }
}

void IControl::SetDirty(bool triggerAction, int valIdx)
{
  mDirty = true;
  if (!triggerAction)
    return;
  if (IEditorDelegate* dlg = GetDelegate())
  {
    for (int v = 0; v < NVals(); ++v)
    {
      if (valIdx != kNoValIdx && v != valIdx)
        continue;
      const int paramIdx = mVals[static_cast<size_t>(v)].paramIdx;
      if (paramIdx >= 0 && dlg->GetParam(paramIdx))
        dlg->SendParameterValueFromUI(paramIdx, mVals[static_cast<size_t>(v)].value);
    }
  }
  if (mActionFunc)
    mActionFunc(this);
}

void IControl::SetRECT(const IRECT& bounds)
{
  mRECT = bounds;
  SetDirty(false);
}

void IControl::SetTargetAndDrawRECTs(const IRECT& bounds)
{
  mRECT = bounds;
  mTargetRECT = bounds;
  SetDirty(false);
}

void IControl::Hide(bool hide)
{
  if (mHide != hide)
  {
    mHide = hide;
    SetDirty(false);
  }
}

void IControl::SetDisabled(bool disabled)
{
  if (mDisabled != disabled)
  {
    mDisabled = disabled;
    SetDirty(false);
  }
}

IEditorDelegate* IControl::GetDelegate() const
{
  return mGraphics ? mGraphics->GetDelegate() : nullptr;
}

} // namespace iplug::igraphics

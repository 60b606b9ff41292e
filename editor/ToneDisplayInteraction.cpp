#include <algorithm>
#include <cmath>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "IParam.h"
#include "ToneDisplayControl.h"
#include "TypedValue.h"

using namespace iplug::igraphics;

namespace
{

// A pre-EQ press moves nothing until the pointer has travelled this far on either axis,
// so a click that selects a band never nudges it.
constexpr float kPreEqDragThreshold = 3.f;
// The analysis range never closes to less than a third of an octave.
const double kMinRangeRatio = std::cbrt(2.0);
constexpr float kQSliderGrab = 6.f;
constexpr double kWheelQStep = 1.1;

} // namespace

// Press

void ToneDisplayControl::OnMouseDown(float x, float y, const IMouseMod& mod)
{
  if (mEditorBand >= 0)
  {
    if (BandEditorRect().Contains(x, y))
    {
      HandleBandEditorPress(x, y);
      return;
    }
    CloseBandEditor();
  }

  if (ModeToggleRect().Contains(x, y))
  {
    SetMode(mMode == kModeMatch ? kModePreEq : kModeMatch);
    return;
  }

  if (mMode == kModePreEq)
  {
    const int k = HitPreEqBand(x, y);
    if (k < 0)
      return;
    if (mod.S)
    {
      ToggleBoolParam(PreEqParam(k, 3));
      return;
    }
    mSelectedPreEqBand = k;
    if (mod.R)
    {
      mEditorBand = k;
      SyncDrawnRect();
      return;
    }
    float hx, hy;
    PreEqHandle(k, hx, hy);
    mDragPreEqBand = k;
    mPressX = x;
    mPressY = y;
    mDragStarted = 0;
    mGrabOffsetX = x - hx;
    mGrabOffsetY = y - hy;
    BeginParam(PreEqParam(k, 0));
    BeginParam(PreEqParam(k, 1));
    return;
  }

  if (!mod.S)
  {
    const int k = TargetLabelAt(x, y);
    if (k >= 0)
    {
      char text[24];
      FormatEntryValue(ParamValue(TargetParam(k, 0)), 1, text);
      OpenTextEntry(TargetParam(k, 0), TargetLabelRect(k), text);
      return;
    }
  }

  const int k = PosToBand(x, y);
  if (k >= 0)
  {
    if (mod.S)
    {
      ToggleBoolParam(TargetParam(k, 2));
      return;
    }
    float hx, hy, px, py;
    TargetHandle(k, hx, hy);
    TargetPoint(k, px, py);
    mDragTargetBand = k;
    mGrabOffsetX = x - hx;
    mGrabOffsetY = y - hy;
    mPressX = x;
    mPressY = y;
    mDragStarted = 0;
    mDragHeld = !(hx == px && hy == py);
    mDragStartFreq = ParamValue(TargetParam(k, 1));
    mDragStartGain = ParamValue(TargetParam(k, 0));
    BeginParam(TargetParam(k, 0));
    BeginParam(TargetParam(k, 1));
    return;
  }

  const int h = HitRangeHandle(x, y);
  if (h >= 0)
  {
    mDragRangeHandle = h;
    mGrabOffsetX = x - XOfFreq(RangeValue(h));
    BeginParam(h == 0 ? mRangeLowParam : mRangeHighParam);
  }
}

bool ToneDisplayControl::HandleBandEditorPress(float x, float y)
{
  const int k = mEditorBand;
  const int shelf = PreEqShelfParam(k);
  if (shelf >= 0)
  {
    for (int j = 0; j < 2; ++j)
    {
      if (ShapeButtonRect(j).Contains(x, y))
      {
        BeginParam(shelf);
        SendParam(shelf, j);
        EndParam(shelf);
        return true;
      }
    }
  }

  for (int row = 0; row < 3; ++row)
  {
    const IRECT field = BandEditorValueRect(row);
    if (!field.Contains(x, y))
      continue;
    static constexpr int kDecimals[] = {0, 1, 2};
    const int param = BandEditorRowParam(row);
    char text[24];
    FormatEntryValue(ParamValue(param), kDecimals[row], text);
    OpenTextEntry(param, field, text);
    return true;
  }

  if (QSliderRect().GetPadded(kQSliderGrab).Contains(x, y))
  {
    mEditorDragField = k;
    BeginParam(PreEqParam(k, 2));
    SetPreEqQ(k, QFromSliderX(x));
    return true;
  }
  return false;
}

// Drag and release

void ToneDisplayControl::OnMouseDrag(float x, float y, float, float, const IMouseMod&)
{
  if (mEditorDragField >= 0)
  {
    SetPreEqQ(mEditorDragField, QFromSliderX(x));
    return;
  }

  if (mDragPreEqBand >= 0)
  {
    if (!mDragStarted && std::fabs(x - mPressX) < kPreEqDragThreshold &&
        std::fabs(y - mPressY) < kPreEqDragThreshold)
      return;
    mDragStarted = 1;
    const double freq = FreqOfX(x - mGrabOffsetX);
    const double gain = std::round(10.0 * GainOfY(y - mGrabOffsetY)) / 10.0;
    SendParam(PreEqParam(mDragPreEqBand, 1), freq);
    SendParam(PreEqParam(mDragPreEqBand, 0), gain);
    return;
  }

  if (mDragRangeHandle >= 0)
  {
    const double freq = FreqOfX(x - mGrabOffsetX);
    if (mDragRangeHandle == 0)
      SendParam(mRangeLowParam, std::min(freq, RangeValue(1) / kMinRangeRatio));
    else
      SendParam(mRangeHighParam, std::max(freq, RangeValue(0) * kMinRangeRatio));
    return;
  }

  if (mDragTargetBand >= 0 && mDragHeld)
  {
    DragHeldTarget(x, y);
    return;
  }

  if (mDragTargetBand >= 0)
  {
    const int freqParam = TargetParam(mDragTargetBand, 1);
    double freq = FreqOfX(x - mGrabOffsetX);
    if (const iplug::IEditorDelegate* dlg = GetDelegate())
      if (const iplug::IParam* param = dlg->GetParam(freqParam))
        freq = std::clamp(freq, param->GetMin(), param->GetMax());
    // The handle sits on the band's gain plus the tilt, so the tilt at the new frequency comes off.
    const double level = GainOfY(y - mGrabOffsetY) - ParamValue(mTiltParam) * std::log2(freq / 1000.0);
    SendParam(freqParam, freq);
    SendParam(TargetParam(mDragTargetBand, 0), std::round(2.0 * level) / 2.0);
  }
}

void ToneDisplayControl::DragHeldTarget(float x, float y)
{
  // The dot stands where the band is not, so the pointer's place says nothing about the band's
  // values: they move by the pointer's travel from the press, at the plot's scale, and a press
  // that does not move leaves them alone.
  if (!mDragStarted && x == mPressX && y == mPressY)
    return;
  mDragStarted = 1;
  const int freqParam = TargetParam(mDragTargetBand, 1);
  const float w = mPlot.W();
  double freq = w > 0.f ? mDragStartFreq * std::pow(1000.0, (x - mPressX) / w) : mDragStartFreq;
  freq = std::clamp(freq, FreqOfX(mPlot.L), FreqOfX(mPlot.R));
  if (const iplug::IEditorDelegate* dlg = GetDelegate())
    if (const iplug::IParam* param = dlg->GetParam(freqParam))
      freq = std::clamp(freq, param->GetMin(), param->GetMax());
  // The level moves with the pointer; the tilt's change with the frequency comes off.
  const double gain = mDragStartGain + (GainOfY(y) - GainOfY(mPressY)) -
                      ParamValue(mTiltParam) * std::log2(freq / mDragStartFreq);
  SendParam(freqParam, freq);
  SendParam(TargetParam(mDragTargetBand, 0), std::round(2.0 * gain) / 2.0);
}

void ToneDisplayControl::OnMouseUp(float, float, const IMouseMod&)
{
  if (mEditorDragField >= 0)
    EndParam(PreEqParam(mEditorDragField, 2));
  mEditorDragField = -1;
  if (mDragPreEqBand >= 0)
  {
    EndParam(PreEqParam(mDragPreEqBand, 0));
    EndParam(PreEqParam(mDragPreEqBand, 1));
  }
  mDragPreEqBand = -1;
  mDragStarted = 0;
  if (mDragRangeHandle >= 0)
    EndParam(mDragRangeHandle == 0 ? mRangeLowParam : mRangeHighParam);
  mDragRangeHandle = -1;
  if (mDragTargetBand >= 0)
  {
    EndParam(TargetParam(mDragTargetBand, 0));
    EndParam(TargetParam(mDragTargetBand, 1));
  }
  mDragTargetBand = -1;
  mDragHeld = false;
}

// Double click and wheel

void ToneDisplayControl::OnMouseDblClick(float x, float y, const IMouseMod& mod)
{
  // The mode toggle has no double click: its second press flips it back. The open box
  // keeps the presses that land on it, as a single press would.
  const bool inBox = mEditorBand >= 0 && BandEditorRect().Contains(x, y);
  if (!inBox && ModeToggleRect().Contains(x, y))
  {
    OnMouseDown(x, y, mod);
    return;
  }

  if (mMode == kModePreEq)
  {
    const int k = HitPreEqBand(x, y);
    if (k < 0)
      return;
    CloseBandEditor();
    ResetParam(PreEqParam(k, 0));
    ResetParam(PreEqParam(k, 1));
    return;
  }

  const int k = PosToBand(x, y);
  if (k >= 0)
  {
    ResetParam(TargetParam(k, 0));
    ResetParam(TargetParam(k, 1));
    return;
  }

  const int h = HitRangeHandle(x, y);
  if (h < 0)
    return;
  const int paramIdx = h == 0 ? mRangeLowParam : mRangeHighParam;
  const iplug::IEditorDelegate* dlg = GetDelegate();
  const iplug::IParam* param = dlg ? dlg->GetParam(paramIdx) : nullptr;
  if (!param)
    return;
  BeginParam(paramIdx);
  SendParam(paramIdx, h == 0 ? param->GetMin() : param->GetMax());
  EndParam(paramIdx);
}

void ToneDisplayControl::OnMouseWheel(float x, float y, const IMouseMod&, float d)
{
  if (mMode != kModePreEq)
    return;
  int band = HitPreEqBand(x, y);
  if (band < 0 && mEditorBand >= 0 && BandEditorRect().Contains(x, y))
    band = mEditorBand;
  if (band < 0)
    return;
  const int qParam = PreEqParam(band, 2);
  const double q = ParamValue(qParam);
  BeginParam(qParam);
  SetPreEqQ(band, d > 0.f ? q * kWheelQStep : q / kWheelQStep);
  EndParam(qParam);
}

// Edits

void ToneDisplayControl::ToggleBoolParam(int paramIdx)
{
  BeginParam(paramIdx);
  SendParam(paramIdx, ParamValue(paramIdx) >= 0.5 ? 0.0 : 1.0);
  EndParam(paramIdx);
}

void ToneDisplayControl::ResetParam(int paramIdx)
{
  const iplug::IEditorDelegate* dlg = GetDelegate();
  const iplug::IParam* param = dlg ? dlg->GetParam(paramIdx) : nullptr;
  if (!param)
    return;
  BeginParam(paramIdx);
  SendParam(paramIdx, param->GetDefault());
  EndParam(paramIdx);
}

void ToneDisplayControl::SetPreEqQ(int band, double q)
{
  SendParam(PreEqParam(band, 2), q);
}

void ToneDisplayControl::OpenTextEntry(int paramIdx, const IRECT& bounds, const char* text)
{
  IGraphics* ui = GetUI();
  if (!ui)
    return;
  mEntryParam = paramIdx;
  const IText style = mCentredTextStyle.WithFGColor(IColor(255, 250, 250, 250)).WithAlign(EAlign::Center);
  ui->CreateTextEntry(*this, style, bounds, text, kNoValIdx);
  mEntryPrefill = ui->GetTextEntryText();
}

void ToneDisplayControl::OnTextEntryCompletion(const char* str, int)
{
  morvellan::plugin::CommitTypedValue(*this, mEntryParam, str, mEntryPrefill);
  mEntryParam = -1;
}

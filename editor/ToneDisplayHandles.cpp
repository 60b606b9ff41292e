#include <algorithm>
#include <cmath>

#include "BandGeometry.h"
#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "IParam.h"
#include "ToneDisplayControl.h"

using namespace iplug::igraphics;

namespace
{

// Squared grab radii of the handles.
constexpr float kTargetGrab2 = 324.f; // 18 units
constexpr float kPreEqGrab2 = 196.f;  // 14 units
// A range line is grabbed this close, and only below the status lines.
constexpr float kRangeLineGrab = 7.f;
constexpr float kStatusBand = 22.f;
// A target dot's radius and half its outline: how far inside the plot its centre stays.
constexpr float kDotReach = 8.f;
// Half the width of a target band's value label.
constexpr float kLabelHalfWidth = 45.f;
// Captions and labels pushed in from the plot's side keep this far from it.
constexpr float kSideMargin = 4.f;

} // namespace

// Target bands

bool ToneDisplayControl::TargetBandOn(int band) const
{
  return ParamValue(TargetParam(band, 2)) >= 0.5;
}

bool ToneDisplayControl::TargetBandActive(int band) const
{
  return TargetBandOn(band) &&
         morvellan::RangeTaper(ParamValue(TargetParam(band, 1)), RangeValue(0), RangeValue(1)) > 0.0;
}

void ToneDisplayControl::TargetPoint(int band, float& x, float& y) const
{
  const double f = ParamValue(TargetParam(band, 1));
  const double gain = ParamValue(TargetParam(band, 0));
  x = XOfFreq(f);
  y = YOfGain(gain + ParamValue(mTiltParam) * std::log2(f / 1000.0));
}

void ToneDisplayControl::TargetHandle(int band, float& x, float& y) const
{
  // A steep tilt puts a band's level far outside the plot: its dot then waits at the edge,
  // whole, where it is seen and taken.
  TargetPoint(band, x, y);
  x = InsetX(x, kDotReach);
  y = InsetY(y, kDotReach);
}

IRECT ToneDisplayControl::TargetLabelRect(int band) const
{
  float x, y;
  TargetHandle(band, x, y);
  const float top = y - 25.f < mPlot.T + kStatusBand ? y + 11.f : y - 25.f;
  const float cx = InsetX(x, kLabelHalfWidth);
  return IRECT(cx - kLabelHalfWidth, top, cx + kLabelHalfWidth, top + 14.f);
}

void ToneDisplayControl::DrawTargetBands(IGraphics& g)
{
  char caption[48];
  for (int k = 0; k < kNumTargetBands; ++k)
  {
    float x, y;
    TargetHandle(k, x, y);
    if (!std::isfinite(x) || !std::isfinite(y))
      continue;
    const bool active = TargetBandActive(k);
    const IRECT dot(x - 7.f, y - 7.f, x + 7.f, y + 7.f);
    g.FillEllipse(active ? mAccent : mBackgroundColour, dot);
    g.DrawEllipse(active ? mBrightColour : mDimColour, dot, nullptr, 2.f);
    if (mMode != kModeMatch)
      continue;
    FormatTargetCaption(k, caption);
    // Near the top edge the caption moves below the dot, clear of the status lines.
    const float yc = mPlot.T + kStatusBand > y - 25.f ? y + 11.f : y - 25.f;
    const IText text = mCentredTextStyle.WithFGColor(active ? mCaptionColour : mDimColour);
    IRECT extent;
    // Near a side the caption is pushed in so that all of it shows.
    const float cx = InsetX(x, g.MeasureText(text, caption, extent) / 2.f + kSideMargin);
    g.DrawText(text, caption, IRECT(cx - 60.f, yc, cx + 60.f, yc + 14.f));
  }
}

int ToneDisplayControl::PosToBand(float x, float y) const
{
  int best = -1;
  float bestD2 = kTargetGrab2;
  for (int k = 0; k < kNumTargetBands; ++k)
  {
    float hx, hy;
    TargetHandle(k, hx, hy);
    const float d2 = (x - hx) * (x - hx) + (y - hy) * (y - hy);
    if (d2 < bestD2)
    {
      bestD2 = d2;
      best = k;
    }
  }
  return best;
}

int ToneDisplayControl::TargetLabelAt(float x, float y) const
{
  for (int k = 0; k < kNumTargetBands; ++k)
  {
    float hx, hy;
    TargetHandle(k, hx, hy);
    if (TargetLabelRect(k).Contains(x, y) && std::fabs(hy - y) > 9.f)
      return k;
  }
  return -1;
}

// Analysis range

double ToneDisplayControl::RangeValue(int handle) const
{
  return ParamValue(handle == 0 ? mRangeLowParam : mRangeHighParam);
}

bool ToneDisplayControl::RangeHandleAtEnd(int handle) const
{
  const iplug::IEditorDelegate* dlg = GetDelegate();
  const iplug::IParam* param = dlg ? dlg->GetParam(handle == 0 ? mRangeLowParam : mRangeHighParam) : nullptr;
  if (!param)
    return true;
  return handle == 0 ? param->Value() <= param->GetMin() * 1.001 : param->Value() >= param->GetMax() * 0.999;
}

IRECT ToneDisplayControl::RangePillRect(int handle) const
{
  const float cx = InsetX(XOfFreq(RangeValue(handle)), 21.f);
  return IRECT(cx - 19.f, mPlot.B - 35.f, cx + 19.f, mPlot.B - 19.f);
}

void ToneDisplayControl::DrawRangeHandles(IGraphics& g)
{
  const IRECT& p = mPlot;
  const float xLo = XOfFreq(RangeValue(0));
  const float xHi = XOfFreq(RangeValue(1));
  const float margins[2][2] = {{p.L, xLo}, {xHi, p.R}};
  for (const auto& m : margins)
  {
    const float a = m[0], b = m[1];
    if (!(b - a >= 1.f))
      continue;
    g.FillRect(mShadeColour, IRECT(a, p.T + 1.f, b, p.B - 1.f));
    if (b - a > 90.f)
      g.DrawText(mTextStyle.WithAlign(EAlign::Center).WithFGColor(mDimTextColour), "UNTOUCHED",
                 IRECT(a, p.MH() + 30.f, b, p.MH() + 44.f));
  }

  char label[16];
  for (int h = 0; h < 2; ++h)
  {
    const double v = RangeValue(h);
    const float x = XOfFreq(v);
    const bool atEnd = RangeHandleAtEnd(h);
    if (!atEnd)
      g.DrawLine(mAccent, x, p.T + 24.f, x, p.B, nullptr, 1.5f);
    const IRECT pill = RangePillRect(h);
    g.FillRoundRect(mBackgroundColour, pill, 8.f);
    g.DrawRoundRect(atEnd ? mDimColour : mAccent, pill, 8.f, nullptr, 1.5f);
    FormatFrequencyLabel(v, label);
    g.DrawText(mCentredTextStyle.WithFGColor(atEnd ? mDimColour : mHandleLabelColour), label, pill);
  }
}

int ToneDisplayControl::HitRangeHandle(float x, float y) const
{
  float best = kRangeLineGrab;
  int result = -1;
  for (int h = 0; h < 2; ++h)
  {
    if (RangePillRect(h).Contains(x, y))
      return h;
    const float d = std::fabs(x - XOfFreq(RangeValue(h)));
    if (!RangeHandleAtEnd(h) && y > mPlot.T + kStatusBand && d < best)
    {
      best = d;
      result = h;
    }
  }
  return result;
}

// Pre-EQ bands

void ToneDisplayControl::PreEqHandle(int band, float& x, float& y) const
{
  x = XOfFreq(ParamValue(PreEqParam(band, 1)));
  y = YOfGain(ParamValue(PreEqParam(band, 0)));
}

int ToneDisplayControl::HitPreEqBand(float x, float y) const
{
  int best = -1;
  float bestD2 = kPreEqGrab2;
  for (int k = 0; k < kNumPreEqBands; ++k)
  {
    float hx, hy;
    PreEqHandle(k, hx, hy);
    const float d2 = (x - hx) * (x - hx) + (y - hy) * (y - hy);
    if (d2 < bestD2)
    {
      bestD2 = d2;
      best = k;
    }
  }
  return best;
}

void ToneDisplayControl::DrawPreEqBands(IGraphics& g)
{
  char number[2] = {0, 0};
  char label[32];
  for (int k = 0; k < kNumPreEqBands; ++k)
  {
    float x, y;
    PreEqHandle(k, x, y);
    if (!std::isfinite(x) || !std::isfinite(y))
      continue;
    const bool on = ParamValue(PreEqParam(k, 3)) >= 0.5;
    const bool lit = on && k == mSelectedPreEqBand;
    const IColor& oc = on ? mPreEqColour : mDimColour;
    const IRECT disc(x - 8.f, y - 8.f, x + 8.f, y + 8.f);
    g.FillEllipse(lit ? mPreEqColour : mBackgroundColour, disc);
    g.DrawEllipse(oc, disc, nullptr, 2.f);
    number[0] = static_cast<char>('1' + k);
    g.DrawText(mCentredTextStyle.WithFGColor(lit ? mBackgroundColour : oc), number, disc);

    FormatPreEqLabel(k, label);
    const IColor& lc = on ? mPreEqLabelColour : mDimColour;
    const float yl = mPlot.T + kStatusBand > y - 26.f ? y + 12.f : y - 26.f;
    const IText text = mCentredTextStyle.WithFGColor(lc);
    IRECT extent;
    const float w = g.MeasureText(text, label, extent);
    // Icon and text together are centred on the disc, or pushed in from the plot's side.
    const float x0 = InsetX(x, (w + 16.f) / 2.f + kSideMargin) - (w + 16.f) / 2.f;
    const int shelf = PreEqShelfParam(k);
    DrawBandShapeIcon(g, x0, yl + 7.f, lc, shelf >= 0 && ParamValue(shelf) >= 0.5, k != 0);
    g.DrawText(text, label, IRECT(x0 + 16.f, yl, x0 + 16.f + w + 2.f, yl + 14.f));
  }
}

void ToneDisplayControl::DrawBandShapeIcon(IGraphics& g, float x0, float yc, const IColor& colour, bool shelf,
                                           bool high)
{
  const float yA = yc - 3.5f, yB = yc + 3.5f;
  g.PathClear();
  if (!shelf)
  {
    g.PathMoveTo(x0, yB);
    g.PathLineTo(x0 + 3.f, yB);
    g.PathCubicBezierTo(x0 + 5.f, yB, x0 + 4.5f, yA, x0 + 6.f, yA);
    g.PathCubicBezierTo(x0 + 7.5f, yA, x0 + 7.f, yB, x0 + 9.f, yB);
    g.PathLineTo(x0 + 12.f, yB);
  }
  else
  {
    // A high shelf rises from low to high; a low shelf falls.
    const float from = high ? yB : yA, to = high ? yA : yB;
    g.PathMoveTo(x0, from);
    g.PathLineTo(x0 + 3.5f, from);
    g.PathCubicBezierTo(x0 + 6.f, from, x0 + 6.f, to, x0 + 8.5f, to);
    g.PathLineTo(x0 + 12.f, to);
  }
  g.PathStroke(IPattern(colour), 1.4f);
}

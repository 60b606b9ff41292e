#include "ToneDisplayControl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "IParam.h"

using namespace iplug::igraphics;

namespace
{

constexpr double kMinFreq = 20.0;
constexpr double kDecades = 3.0; // 20 Hz .. 20 kHz
constexpr double kDefaultSampleRate = 48000.0;
// Levels below this are drawn on the bottom edge, which is also where an unmeasured band sits.
constexpr float kLevelFloorDb = -80.f;
// The frame loop lets every control's antialiased edges reach this far past its rectangle;
// the plot's contents get the same, so an open box changes nothing about them.
constexpr float kEdgeAllowance = 0.75f;
// A pre-EQ disc's radius and half its outline.
constexpr float kDiscReach = 9.f;

// v held within lo..hi; the middle when the span is empty.
float HoldWithin(float v, float lo, float hi)
{
  if (!(lo <= hi))
    return (lo + hi) / 2.f;
  // Written out rather than std::clamp, so a v that is no number lands on the low side.
  return std::max(lo, std::min(v, hi));
}

} // namespace

ToneDisplayControl::Reading::Reading(Reading&& other) noexcept
{
  *this = std::move(other);
}

ToneDisplayControl::Reading& ToneDisplayControl::Reading::operator=(Reading&& other) noexcept
{
  if (this == &other)
    return *this;
  std::copy(std::begin(other.correctionDb), std::end(other.correctionDb), correctionDb);
  std::copy(std::begin(other.levelDb), std::end(other.levelDb), levelDb);
  aboveThreshold = other.aboveThreshold;
  idle = other.idle;
  bypassed = other.bypassed;
  learning = other.learning;
  hasTarget = other.hasTarget;
  analysing = other.analysing;
  progress = other.progress;
  targetName = std::move(other.targetName);
  message = std::move(other.message);
  // A moved-from std::string is only "valid"; the record promises empty.
  other.targetName.clear();
  other.message.clear();
  sampleRate = other.sampleRate;
  hpOn = other.hpOn;
  lpOn = other.lpOn;
  hpHz = other.hpHz;
  lpHz = other.lpHz;
  return *this;
}

ToneDisplayControl::ToneDisplayControl(const IRECT& bounds, int firstTargetParam, int tiltParam, int rangeLowParam,
                                       int rangeHighParam, int firstPreEqParam, int preEq1ShelfParam,
                                       int preEq4ShelfParam, const IColor& accent, const IText& textStyle,
                                       const IText& centredTextStyle, ReadingFunc getReading)
: IControl(bounds)
, mAccent(accent)
, mTextStyle(textStyle)
, mCentredTextStyle(centredTextStyle)
, mGetReading(std::move(getReading))
, mFirstTargetParam(firstTargetParam)
, mTiltParam(tiltParam)
, mRangeLowParam(rangeLowParam)
, mRangeHighParam(rangeHighParam)
, mFirstPreEqParam(firstPreEqParam)
, mPreEq1ShelfParam(preEq1ShelfParam)
, mPreEq4ShelfParam(preEq4ShelfParam)
, mPlot(bounds)
{
  SetTextEntryLength(16);
}

ToneDisplayControl::~ToneDisplayControl() = default;

// Mapping

float ToneDisplayControl::XOfFreq(double hz) const
{
  return mPlot.L + mPlot.W() * static_cast<float>(std::log10(hz / kMinFreq) / kDecades);
}

double ToneDisplayControl::FreqOfX(float x) const
{
  const float w = mPlot.W();
  const double u = w > 0.f ? std::clamp(static_cast<double>((x - mPlot.L) / w), 0.0, 1.0) : 0.0;
  return kMinFreq * std::pow(1000.0, u);
}

float ToneDisplayControl::YOfGain(double db) const
{
  return mPlot.MH() - (mPlot.H() / 2.f - 6.f) * static_cast<float>(db / 20.0);
}

double ToneDisplayControl::GainOfY(float y) const
{
  const double half = mPlot.H() / 2.0 - 6.0;
  return half != 0.0 ? 20.0 * (mPlot.MH() - y) / half : 0.0;
}

float ToneDisplayControl::YOfLevel(double db) const
{
  const double t = std::isnan(db) ? 0.0 : std::clamp((db + 80.0) / 70.0, 0.0, 1.0);
  return mPlot.B - (mPlot.H() - 8.f) * static_cast<float>(t);
}

double ToneDisplayControl::CurveFreq(int i)
{
  return kMinFreq * std::pow(1000.0, i / double(kCurvePoints - 1));
}

float ToneDisplayControl::CurveX(int i) const
{
  return mPlot.L + mPlot.W() * static_cast<float>(i) / static_cast<float>(kCurvePoints - 1);
}

float ToneDisplayControl::InsetX(float x, float inset) const
{
  return HoldWithin(x, mPlot.L + inset, mPlot.R - inset);
}

float ToneDisplayControl::InsetY(float y, float inset) const
{
  return HoldWithin(y, mPlot.T + inset, mPlot.B - inset);
}

// The reading

ToneDisplayControl::Reading ToneDisplayControl::Sanitised(Reading reading)
{
  // A band the engine reports nothing usable for contributes nothing: no correction, no level.
  for (float& g : reading.correctionDb)
    if (!std::isfinite(g))
      g = 0.f;
  for (float& l : reading.levelDb)
    if (!std::isfinite(l))
      l = kLevelFloorDb;
  reading.progress = std::isfinite(reading.progress) ? std::clamp(reading.progress, 0.f, 1.f) : 0.f;
  if (!std::isfinite(reading.sampleRate) || reading.sampleRate <= 0.0)
    reading.sampleRate = kDefaultSampleRate;
  if (!std::isfinite(reading.hpHz) || reading.hpHz <= 0.0)
    reading.hpOn = false;
  if (!std::isfinite(reading.lpHz) || reading.lpHz <= 0.0)
    reading.lpOn = false;
  return reading;
}

// The frame

void ToneDisplayControl::PullReading()
{
  Reading fresh;
  if (mGetReading)
    mGetReading(fresh);
  mFrameReading = Sanitised(std::move(fresh));
  GatherInputs(mFrameReading, mFrameInputs);
  mFramePulled = true;
}

void ToneDisplayControl::Draw(IGraphics& g)
{
  // The frame loop asked IsDirty just before, which pulled this frame's reading.
  if (!mFramePulled)
    PullReading();
  mFramePulled = false;
  const Reading& reading = mFrameReading;

  // Only the band editor box may reach past the plot; curves beyond +-20 dB stop at its edge.
  const IRECT plotClip = PlotClip();
  g.PathClipRegion(plotClip);
  if (!g.CheckLayer(mGridLayer))
  {
    g.StartLayer(plotClip);
    g.FillRect(mBackgroundColour, mPlot);
    g.DrawRect(mFrameColour, mPlot, nullptr, 1.f);
    DrawGrid(g);
    mGridLayer = g.EndLayer();
    ++mGridLayerDraws;
  }
  g.DrawLayer(mGridLayer);
  DrawMeasuredLevels(g, reading);
  DrawCorrectionCurve(g, reading);
  CheckMarksInputs(mFrameInputs.marks);
  // The marks keep to the plot too, all but the pre-EQ discs on its sides, which show whole.
  const IRECT marksClip = MarksClip();
  g.PathClipRegion(marksClip);
  if (!g.CheckLayer(mMarksLayer))
  {
    g.StartLayer(marksClip);
    DrawMarks(g, reading);
    mMarksLayer = g.EndLayer();
    ++mMarksLayerDraws;
  }
  g.DrawLayer(mMarksLayer);
  g.PathClipRegion();
  if (mEditorBand >= 0)
    DrawBandEditor(g);
  mDrawnInputs = mFrameInputs;
  mEverDrawn = true;
}

IRECT ToneDisplayControl::PlotClip() const
{
  return mPlot.GetPadded(kEdgeAllowance);
}

IRECT ToneDisplayControl::PreEqDiscReach() const
{
  IRECT reach;
  if (mMode != kModePreEq)
    return reach;
  for (int k = 0; k < kNumPreEqBands; ++k)
  {
    float x, y;
    PreEqHandle(k, x, y);
    if (std::isfinite(x) && std::isfinite(y))
      reach = reach.Union(IRECT(x, y, x, y).GetPadded(kDiscReach));
  }
  return reach;
}

IRECT ToneDisplayControl::MarksClip() const
{
  const IRECT discs = PreEqDiscReach();
  return discs.Degenerate() ? PlotClip() : PlotClip().Union(discs.GetPadded(kEdgeAllowance));
}

void ToneDisplayControl::DrawMarks(IGraphics& g, const Reading& reading)
{
  const IRECT plotClip = PlotClip();
  g.PathClipRegion(plotClip);
  DrawTargetCurve(g);
  DrawRangeHandles(g);
  if (mMode == kModeMatch)
    DrawPreEqResponse(g, reading.sampleRate, false);
  DrawTargetBands(g);
  if (mMode == kModePreEq)
  {
    g.FillRect(mPreEqOverlayColour, IRECT(mPlot.L + 1.f, mPlot.T + 1.f, mPlot.R - 1.f, mPlot.B - 1.f));
    DrawPreEqResponse(g, reading.sampleRate, true);
    // A disc at 20 Hz or 20 kHz is centred on the plot's side; its labels are pushed inside.
    g.PathClipRegion(MarksClip());
    DrawPreEqBands(g);
    g.PathClipRegion(plotClip);
  }
  DrawStatusText(g, reading);
  DrawModeToggle(g);
}

namespace
{

// Bit for bit, so that a value that is no number compares equal to itself.
template <class T>
bool SameBits(const T& a, const T& b)
{
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

} // namespace

void ToneDisplayControl::GatherMarksInputs(const Reading& reading, MarksInputs& out) const
{
  size_t n = 0;
  for (int i = 0; i < 3 * kNumTargetBands; ++i)
    out.params[n++] = ParamValue(mFirstTargetParam + i);
  for (int p : {mTiltParam, mRangeLowParam, mRangeHighParam, mPreEq1ShelfParam, mPreEq4ShelfParam})
    out.params[n++] = ParamValue(p);
  for (int i = 0; i < 4 * kNumPreEqBands; ++i)
    out.params[n++] = ParamValue(mFirstPreEqParam + i);
  out.mode = mMode;
  out.selectedPreEqBand = mSelectedPreEqBand;
  out.sampleRate = reading.sampleRate;
  out.left = AdaptationStatus(reading);
  out.right = TargetStatus(reading);
}

void ToneDisplayControl::GatherInputs(const Reading& reading, DisplayInputs& out) const
{
  GatherMarksInputs(reading, out.marks);
  for (int k = 0; k < kNumBands; ++k)
  {
    out.levelY[size_t(k)] = YOfLevel(reading.levelDb[k]);
    out.correctionDb[size_t(k)] = reading.correctionDb[k];
  }
  out.hpHz = reading.hpOn ? reading.hpHz : 0.0;
  out.lpHz = reading.lpOn ? reading.lpHz : 0.0;
  out.editorBand = mEditorBand;
  out.rect = mRECT;
  out.plot = mPlot;
}

bool ToneDisplayControl::SameMarks(const MarksInputs& a, const MarksInputs& b)
{
  return SameBits(a.params, b.params) && a.mode == b.mode && a.selectedPreEqBand == b.selectedPreEqBand &&
         SameBits(a.sampleRate, b.sampleRate) && a.left == b.left && a.right == b.right;
}

bool ToneDisplayControl::SameInputs(const DisplayInputs& a, const DisplayInputs& b)
{
  return SameMarks(a.marks, b.marks) && SameBits(a.levelY, b.levelY) && SameBits(a.correctionDb, b.correctionDb) &&
         SameBits(a.hpHz, b.hpHz) && SameBits(a.lpHz, b.lpHz) && a.editorBand == b.editorBand && a.rect == b.rect &&
         a.plot == b.plot;
}

void ToneDisplayControl::CheckMarksInputs(const MarksInputs& now)
{
  if (SameMarks(now, mMarksInputs))
    return;
  mMarksInputs = now;
  if (mMarksLayer)
    mMarksLayer->Invalidate();
}

IRECT ToneDisplayControl::ModeToggleRect() const
{
  const float cx = mPlot.MW();
  return IRECT(cx - 62.f, mPlot.T + 5.f, cx + 62.f, mPlot.T + 21.f);
}

void ToneDisplayControl::DrawModeToggle(IGraphics& g)
{
  const IRECT pill = ModeToggleRect();
  const float cx = mPlot.MW();
  const IRECT matchHalf(pill.L, pill.T, cx, pill.B);
  const IRECT preEqHalf(cx, pill.T, pill.R, pill.B);
  const bool match = mMode == kModeMatch;

  g.FillRoundRect(mBackgroundColour, pill, 8.f);
  g.DrawRoundRect(mDimColour, pill, 8.f, nullptr, 1.f);
  if (match)
    g.FillRoundRect(mAccent, matchHalf, 8.f);
  else
    g.FillRoundRect(mPreEqColour, preEqHalf, 8.f);

  const IText centred = mTextStyle.WithAlign(EAlign::Center);
  g.DrawText(centred.WithFGColor(match ? mBackgroundColour : mDimTextColour), "MATCH", matchHalf);
  g.DrawText(centred.WithFGColor(match ? mDimTextColour : mBackgroundColour), "PRE-EQ", preEqHalf);
}

// The drawn rectangle

bool ToneDisplayControl::IsDirty()
{
  SyncDrawnRect();
  PullReading();
  // A frame that would draw exactly what is on screen is left out: with no audio, or audio
  // that moves nothing, the display costs only this comparison.
  const bool moved = !mEverDrawn || !SameInputs(mFrameInputs, mDrawnInputs);
  return moved || IControl::IsDirty();
}

bool ToneDisplayControl::IsHit(float x, float y) const
{
  // A disc at 20 Hz or 20 kHz is centred on the plot's edge, outside the half-open plot.
  return mPlot.Contains(x, y) || (mEditorBand >= 0 && BandEditorRect().Contains(x, y)) ||
         (mMode == kModePreEq && HitPreEqBand(x, y) >= 0);
}

void ToneDisplayControl::OnResize()
{
  // The target rectangle, not mRECT: while the box is open mRECT also covers the box.
  if (!(mPlot == mTargetRECT))
  {
    mGridLayer.reset();
    mCorrectionLayer.reset();
    mMarksLayer.reset();
  }
  mPlot = mTargetRECT;
  SyncDrawnRect();
}

void ToneDisplayControl::SyncDrawnRect()
{
  // The box of an outer band near 0 dB pokes out above the plot, and a pre-EQ disc at 20 Hz or
  // 20 kHz past its side; the frame loop clips each control to its own rectangle, so the
  // rectangle covers them while they are shown.
  IRECT wanted = mPlot.Union(PreEqDiscReach());
  if (mEditorBand >= 0)
    wanted = wanted.Union(BandEditorRect());
  if (!(wanted == mRECT))
    SetRECT(wanted);
}

void ToneDisplayControl::SetMode(EMode mode)
{
  mMode = mode;
  CloseBandEditor();
}

void ToneDisplayControl::CloseBandEditor()
{
  mEditorBand = -1;
  SyncDrawnRect();
}

// Parameters

double ToneDisplayControl::ParamValue(int paramIdx) const
{
  const iplug::IEditorDelegate* dlg = GetDelegate();
  const iplug::IParam* param = dlg ? dlg->GetParam(paramIdx) : nullptr;
  return param ? param->Value() : 0.0;
}

void ToneDisplayControl::BeginParam(int paramIdx)
{
  iplug::IEditorDelegate* dlg = GetDelegate();
  if (dlg && dlg->GetParam(paramIdx))
    dlg->BeginInformHostOfParamChangeFromUI(paramIdx);
}

void ToneDisplayControl::EndParam(int paramIdx)
{
  iplug::IEditorDelegate* dlg = GetDelegate();
  if (dlg && dlg->GetParam(paramIdx))
    dlg->EndInformHostOfParamChangeFromUI(paramIdx);
}

void ToneDisplayControl::SendParam(int paramIdx, double plainValue)
{
  iplug::IEditorDelegate* dlg = GetDelegate();
  const iplug::IParam* param = dlg ? dlg->GetParam(paramIdx) : nullptr;
  if (!param || std::isnan(plainValue))
    return;
  const double clamped = std::clamp(plainValue, param->GetMin(), param->GetMax());
  dlg->SendParameterValueFromUI(paramIdx, param->ToNormalized(clamped));
}

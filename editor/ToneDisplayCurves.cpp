#include <algorithm>
#include <cmath>

#include "BandGeometry.h"
#include "IGraphics.h"
#include "PolylinePath.h"
#include "ToneDisplayControl.h"

using namespace iplug::igraphics;
using morvellan::BiquadCoefficients;

namespace
{

constexpr double kGridFreqs[] = {50, 100, 200, 500, 1000, 2000, 5000, 10000};
constexpr int kGridGains[] = {12, 6, -6, -12};
// The correction curve and the pre-EQ response stop here, clear of the filters' last octave.
constexpr double kCurveFloorDb = -23.0;
// Far off the plot yet finite, for filters designed at an absurd sample rate.
constexpr double kCurveCeilingDb = 200.0;
constexpr double kPreEqLimitDb = 23.0;
// Target bands are Gaussians in octaves: 2 * 0.7^2, as the engine's desired curve.
constexpr double kTargetSpread = 0.98;

} // namespace

// Grid and levels

void ToneDisplayControl::DrawGrid(IGraphics& g)
{
  const IRECT& p = mPlot;
  const IText label = mTextStyle.WithFGColor(mGridLabelColour);
  char buf[16];
  for (double f : kGridFreqs)
  {
    const float x = XOfFreq(f);
    g.DrawLine(mGridColour, x, p.T, x, p.B, nullptr, 1.f);
    FormatGridFrequency(f, buf);
    g.DrawText(label.WithAlign(EAlign::Near), buf, IRECT(x + 3.f, p.B - 16.f, x + 40.f, p.B - 3.f));
  }
  for (int db : kGridGains)
  {
    const float y = YOfGain(db);
    g.DrawDottedLine(mGridColour, p.L, y, p.R, y, nullptr, 1.f, 3.f);
    FormatGridGain(db, buf);
    g.DrawText(label.WithAlign(EAlign::Far), buf, IRECT(p.R - 40.f, y - 7.f, p.R - 6.f, y + 7.f));
  }
  g.DrawLine(mZeroLineColour, p.L, p.MH(), p.R, p.MH(), nullptr, 1.f);
}

void ToneDisplayControl::DrawMeasuredLevels(IGraphics& g, const Reading& reading)
{
  const IRECT& p = mPlot;
  g.PathClear();
  g.PathMoveTo(p.L, p.B);
  g.PathLineTo(p.L, YOfLevel(reading.levelDb[0]));
  for (int k = 0; k < kNumBands; ++k)
    g.PathLineTo(XOfFreq(morvellan::kBandCentresHz[size_t(k)]), YOfLevel(reading.levelDb[k]));
  g.PathLineTo(p.R, YOfLevel(reading.levelDb[kNumBands - 1]));
  g.PathLineTo(p.R, p.B);
  g.PathClose();
  g.PathFill(IPattern(mLevelFillColour));
}

// Correction curve

bool ToneDisplayControl::UpdateCorrectionCurve(const Reading& reading)
{
  const double fs = reading.sampleRate;
  const double hp = reading.hpOn ? reading.hpHz : 0.0;
  const double lp = reading.lpOn ? reading.lpHz : 0.0;
  bool same = fs == mCachedSampleRate && hp == mCachedHpHz && lp == mCachedLpHz;
  for (int k = 0; k < kNumBands && same; ++k)
    same = reading.correctionDb[k] == mCachedGains[k];
  if (same)
    return false;

  std::copy(std::begin(reading.correctionDb), std::end(reading.correctionDb), mCachedGains);
  mCachedSampleRate = fs;
  mCachedHpHz = hp;
  mCachedLpHz = lp;
  ++mCurveComputations;

  BiquadCoefficients sections[kNumBands + 2];
  int n = 0;
  // The engine's corner limits: the upper one first, so a very low rate still gives 10 Hz.
  const auto corner = [fs](double hz) { return std::max(std::min(hz, 0.45 * fs), 10.0); };
  if (hp > 0.0)
    sections[n++] = morvellan::DesignHighPass(corner(hp), fs);
  if (lp > 0.0)
    sections[n++] = morvellan::DesignLowPass(corner(lp), fs);
  for (int k = 0; k < kNumBands; ++k)
  {
    const double gain = reading.correctionDb[k];
    if (gain != 0.0 && morvellan::IsBandEnabled(k, fs))
      sections[n++] = morvellan::DesignPeaking(morvellan::kBandCentresHz[size_t(k)], gain, morvellan::kBandQ, fs);
  }

  for (int i = 0; i < kCurvePoints; ++i)
  {
    const double fe = std::min(CurveFreq(i), 0.49 * fs);
    const morvellan::ResponsePoint point = morvellan::MakeResponsePoint(fe, fs);
    double sum = 0.0;
    for (int s = 0; s < n; ++s)
      sum += morvellan::MagnitudeDbAt(sections[s], point);
    // A sum that is no number (a filter designed at an absurd sample rate) sits on the floor.
    mCurveDb[i] = std::isnan(sum) ? kCurveFloorDb : std::clamp(sum, kCurveFloorDb, kCurveCeilingDb);
  }
  return true;
}

void ToneDisplayControl::DrawCorrectionCurve(IGraphics& g, const Reading& reading)
{
  // While the engine adapts the curve changes from frame to frame and is drawn as it is;
  // once it holds still it is kept offscreen, where it costs a copy instead of a fill of
  // every row it crosses.
  if (UpdateCorrectionCurve(reading))
  {
    mCorrectionLayer.reset();
    DrawCorrectionShapes(g);
    return;
  }
  if (!g.CheckLayer(mCorrectionLayer))
  {
    g.StartLayer(CorrectionBounds());
    DrawCorrectionShapes(g);
    mCorrectionLayer = g.EndLayer();
    ++mCorrectionLayerDraws;
  }
  g.DrawLayer(mCorrectionLayer);
}

IRECT ToneDisplayControl::CorrectionBounds() const
{
  // The rows between the curve's extremes and 0 dB, and as far again as a mitred join
  // of the 1.5 unit stroke can reach past a point (10 times its half width).
  constexpr float kJoinReach = 8.f;
  float top = YOfGain(0.0), bottom = top;
  for (double db : mCurveDb)
  {
    top = std::min(top, YOfGain(db));
    bottom = std::max(bottom, YOfGain(db));
  }
  const IRECT plotClip = PlotClip();
  return IRECT(plotClip.L, std::max(plotClip.T, top - kJoinReach), plotClip.R,
               std::min(plotClip.B, bottom + kJoinReach));
}

void ToneDisplayControl::DrawCorrectionShapes(IGraphics& g)
{
  const IRECT& p = mPlot;
  const float y0 = YOfGain(0.0);
  float x[kCurvePoints], boost[kCurvePoints], cut[kCurvePoints], curve[kCurvePoints];
  bool anyBoost = false, anyCut = false;
  for (int i = 0; i < kCurvePoints; ++i)
  {
    x[i] = CurveX(i);
    curve[i] = YOfGain(mCurveDb[i]);
    boost[i] = YOfGain(std::max(mCurveDb[i], 0.0));
    cut[i] = YOfGain(std::min(mCurveDb[i], 0.0));
    anyBoost = anyBoost || mCurveDb[i] > 0.0;
    anyCut = anyCut || mCurveDb[i] < 0.0;
  }

  // An area with nothing on one side of 0 dB has no area to fill.
  if (anyBoost)
    polyline::FillToLine(g, x, boost, kCurvePoints, p.L, p.R, y0, mAccent.WithAlpha(71));
  if (anyCut)
    polyline::FillToLine(g, x, cut, kCurvePoints, p.L, p.R, y0, mCutFillColour);

  polyline::Stroke(g, x, curve, kCurvePoints, 1.5f, mCorrectionColour);
}

// Target curve

void ToneDisplayControl::ComputeTargetCurve(double (&out)[kCurvePoints]) const
{
  const double tilt = ParamValue(mTiltParam);
  double gains[kNumTargetBands];
  double freqs[kNumTargetBands];
  int n = 0;
  for (int k = 0; k < kNumTargetBands; ++k)
  {
    if (!TargetBandOn(k))
      continue;
    gains[n] = ParamValue(TargetParam(k, 0));
    freqs[n] = ParamValue(TargetParam(k, 1));
    ++n;
  }
  for (int i = 0; i < kCurvePoints; ++i)
  {
    const double f = CurveFreq(i);
    double t = tilt * std::log2(f / 1000.0);
    for (int b = 0; b < n; ++b)
    {
      const double octaves = std::log2(f / freqs[b]);
      t += gains[b] * std::exp(-(octaves * octaves) / kTargetSpread);
    }
    out[i] = t;
  }
}

void ToneDisplayControl::DrawTargetCurve(IGraphics& g)
{
  double t[kCurvePoints];
  ComputeTargetCurve(t);
  // A dotted segment between each pair of points, its dashes starting afresh at each point,
  // all filled at once: 119 dashed strokes would cost Cairo several times as much.
  g.PathClear();
  float px = CurveX(0), py = YOfGain(t[0]);
  for (int i = 1; i < kCurvePoints; ++i)
  {
    const float x = CurveX(i), y = YOfGain(t[i]);
    if (std::isfinite(py) && std::isfinite(y))
      polyline::AddDashes(g, px, py, x, y, 1.f, 3.f);
    px = x;
    py = y;
  }
  g.PathFill(IPattern(mTargetColour));
}

// Pre-EQ response

bool ToneDisplayControl::PreEqBandActive(int band) const
{
  // A NaN gain is "not 0", as the comparison reads.
  return ParamValue(PreEqParam(band, 3)) >= 0.5 && ParamValue(PreEqParam(band, 0)) != 0.0;
}

int ToneDisplayControl::PreEqShelfParam(int band) const
{
  if (band == 0)
    return mPreEq1ShelfParam;
  if (band == kNumPreEqBands - 1)
    return mPreEq4ShelfParam;
  return -1;
}

BiquadCoefficients ToneDisplayControl::DesignPreEqBand(int band, double sampleRate) const
{
  const double f = std::min(0.45 * sampleRate, ParamValue(PreEqParam(band, 1)));
  const double gain = ParamValue(PreEqParam(band, 0));
  const double q = ParamValue(PreEqParam(band, 2));
  const int shelf = PreEqShelfParam(band);
  if (shelf >= 0 && ParamValue(shelf) >= 0.5)
    return morvellan::DesignShelf(band != 0, f, gain, q, sampleRate);
  return morvellan::DesignPeaking(f, gain, q, sampleRate);
}

bool ToneDisplayControl::ComputePreEqResponse(double sampleRate, double (&out)[kCurvePoints]) const
{
  BiquadCoefficients sections[kNumPreEqBands];
  int n = 0;
  for (int k = 0; k < kNumPreEqBands; ++k)
    if (PreEqBandActive(k))
      sections[n++] = DesignPreEqBand(k, sampleRate);
  if (n == 0)
    return false;
  for (int i = 0; i < kCurvePoints; ++i)
  {
    const double fe = std::min(CurveFreq(i), 0.49 * sampleRate);
    const morvellan::ResponsePoint point = morvellan::MakeResponsePoint(fe, sampleRate);
    double sum = 0.0;
    for (int s = 0; s < n; ++s)
    {
      // A band whose design came out not-a-number adds nothing rather than poison the curve.
      const double db = morvellan::MagnitudeDbAt(sections[s], point);
      if (!std::isnan(db))
        sum += db;
    }
    out[i] = std::isnan(sum) ? 0.0 : std::clamp(sum, -kPreEqLimitDb, kPreEqLimitDb);
  }
  return true;
}

void ToneDisplayControl::DrawPreEqResponse(IGraphics& g, double sampleRate, bool full)
{
  double r[kCurvePoints];
  if (!ComputePreEqResponse(sampleRate, r))
  {
    if (!full)
      return;
    std::fill(std::begin(r), std::end(r), 0.0);
  }
  const IRECT& p = mPlot;
  float x[kCurvePoints], y[kCurvePoints];
  for (int i = 0; i < kCurvePoints; ++i)
  {
    x[i] = CurveX(i);
    y[i] = YOfGain(r[i]);
  }
  if (full)
  {
    polyline::FillToLine(g, x, y, kCurvePoints, p.L, p.R, YOfGain(0.0), mPreEqColour.WithAlpha(45));
    polyline::Stroke(g, x, y, kCurvePoints, 2.f, mPreEqColour);
  }
  else
    polyline::Stroke(g, x, y, kCurvePoints, 1.5f, mPreEqColour.WithAlpha(114));
}

#include "ToneEngine.h"

#include <algorithm>
#include <cmath>

namespace morvellan {

namespace {

// Gaussians of 0.7 and 0.55 octave, written as the decimal values the target bands were tuned with.
constexpr double kTargetSpread = 0.9799999999999999;
constexpr double kExclusionSpread = 0.6050000000000001;
constexpr double kSpeedBase = 0.028571428571428574; // 1/35

} // namespace

ToneEngine::ToneEngine()
{
  for (int k = 0; k < kNumBands; ++k)
  {
    centreOctaves[k] = std::log2(kBandCentresHz[k] / 1000.0);
    centrePoints[k] = MakeResponsePoint(kBandCentresHz[k], sampleRate);
  }
}

double ToneEngine::LearnStepsNeeded() const { return std::max(1.0, sampleRate * 3.0 / 32.0); }

double ToneEngine::LimitCorner(double hz) const
{
  // The upper limit is tested first, so a rate below 22.2 Hz still yields 10 Hz.
  hz = std::min(hz, 0.45 * sampleRate);
  return std::max(hz, 10.0);
}

void ToneEngine::Prepare(double fs)
{
  // A host that reports no usable rate leaves the engine as it was.
  if (!std::isfinite(fs) || fs <= 0.0)
    return;
  sampleRate = fs;
  for (int k = 0; k < kNumBands; ++k)
  {
    bandEnabled[k] = IsBandEnabled(k, fs);
    if (!bandEnabled[k])
      continue;
    const BiquadCoefficients bp = DesignBandPass(kBandCentresHz[k], kBandQ, fs);
    analysisStage1[k].SetCoefficients(bp);
    analysisStage2[k].SetCoefficients(bp);
    bandShape[k] = MakeBandShape(kBandCentresHz[k], kBandQ, fs);
  }
  for (int k = 0; k < kNumBands; ++k)
    centrePoints[k] = MakeResponsePoint(kBandCentresHz[k], fs);

  BuildCorrectionMatrix();
  ComputeBandCalibration();

  inputPowerCoef = 1.0 - std::exp(-1.0 / (0.01 * fs));
  bandPowerCoef = 1.0 - std::exp(-1.0 / (0.015 * fs));
  outputGainCoef = 1.0 - std::exp(-1.0 / (0.01 * fs));
  noiseFloorCoef = 1.0 - std::exp(-32.0 / (2.0 * fs));

  lookback = static_cast<std::int32_t>(std::clamp(std::lround(fs * 0.05 / 32.0), 1L, 511L));
  guard = static_cast<std::int32_t>(std::max(1L, std::lround(fs * 0.015 / 32.0)));

  hpCurrentHz = 0.0;
  preEqInitialised = false;
  prepared = true;

  Configure();
  ResetState();
}

void ToneEngine::ApplySettings(const ToneEngineSettings& s)
{
  for (int k = 0; k < kNumPreEqBands; ++k)
    if (s.preEqBands[k].shelf != settings.preEqBands[k].shelf)
      preEqForceRedesign = true;
  settings = s;
  Configure();
}

BiquadCoefficients ToneEngine::DesignPreEqBand(int band, const PreEqValues& v) const
{
  if (band == 0 && settings.preEqBands[0].shelf)
    return DesignShelf(false, v.freqHz, v.gainDb, v.q, sampleRate);
  if (band == kNumPreEqBands - 1 && settings.preEqBands[kNumPreEqBands - 1].shelf)
    return DesignShelf(true, v.freqHz, v.gainDb, v.q, sampleRate);
  return DesignPeaking(v.freqHz, v.gainDb, v.q, sampleRate);
}

void ToneEngine::Configure()
{
  const double fs = sampleRate;
  const double s = std::clamp(settings.speed, 0.0, 1.0);
  const double f = std::pow(kSpeedBase, s);

  const double analysisTime = std::clamp(f * 5.6 * 0.2, 0.05, 0.4);
  analysisCoef = 1.0 - std::exp(-32.0 / (fs * analysisTime));
  attackCoef = 1.0 - std::exp(-32.0 / (fs * 5.6 * f));
  releaseCoef = 1.0 - std::exp(-32.0 / (fs * std::max(0.1, 5.6 * f * 0.1)));

  hpTargetHz = LimitCorner(settings.hpFreqHz);
  lpTargetHz = LimitCorner(settings.lpFreqHz);
  if (hpCurrentHz <= 0.0)
    DesignCutFilters(hpTargetHz, lpTargetHz);

  outputGainTarget = std::pow(10.0, settings.outputDb / 20.0);

  for (int k = 0; k < kNumPreEqBands; ++k)
  {
    const ToneEngineSettings::PreEqBand& band = settings.preEqBands[k];
    preEqTarget[k] = {LimitCorner(band.freqHz), band.on ? band.gainDb : 0.0, std::clamp(band.q, 0.1, 20.0)};
  }
  if (!preEqInitialised)
  {
    preEqCurrent = preEqTarget;
    DesignPreEq();
    preEqInitialised = true;
  }

  // Responses of the cut filters and the pre-EQ at their targets, designed once for all bands.
  const BiquadCoefficients hp = DesignHighPass(hpTargetHz, fs);
  const BiquadCoefficients lp = DesignLowPass(lpTargetHz, fs);
  std::array<BiquadCoefficients, kNumPreEqBands> pre{};
  std::array<bool, kNumPreEqBands> preUsed{};
  if (settings.respect != 0.0)
    for (int k = 0; k < kNumPreEqBands; ++k)
      if (preEqTarget[k].gainDb != 0.0)
      {
        pre[k] = DesignPreEqBand(k, preEqTarget[k]);
        preUsed[k] = true;
      }

  for (int i = 0; i < kNumBands; ++i)
  {
    const double c = kBandCentresHz[i];
    double targetSum = 0.0;
    double exclusion = 1.0;
    for (const ToneEngineSettings::TargetBand& tb : settings.targetBands)
    {
      const double oct = std::log2(c / tb.freqHz);
      if (tb.on)
        targetSum += tb.gainDb * std::exp(-(oct * oct) / kTargetSpread);
      else
        exclusion *= 1.0 - std::exp(-(oct * oct) / kExclusionSpread);
    }
    exclusionWeight[i] = exclusion;
    rangeWeight[i] = RangeTaper(c, settings.rangeLowHz, settings.rangeHighHz);

    double cutDb = 0.0;
    double preEqDb = 0.0;
    if (bandEnabled[i])
    {
      if (settings.hpOn)
        cutDb += MagnitudeDbAt(hp, centrePoints[i]);
      if (settings.lpOn)
        cutDb += MagnitudeDbAt(lp, centrePoints[i]);
      for (int k = 0; k < kNumPreEqBands; ++k)
        if (preUsed[k])
          preEqDb += MagnitudeDbAt(pre[k], centrePoints[i]);
    }
    desiredCurve[i] = targetSum + settings.tiltDbPerOct * centreOctaves[i];
    desiredCompensated[i] = desiredCurve[i] + cutDb + settings.respect * preEqDb;
  }
}

void ToneEngine::DesignCutFilters(double hpHz, double lpHz)
{
  hpCurrentHz = hpHz;
  lpCurrentHz = lpHz;
  const BiquadCoefficients hp = DesignHighPass(hpHz, sampleRate);
  const BiquadCoefficients lp = DesignLowPass(lpHz, sampleRate);
  for (int c = 0; c < kMaxProcessedChannels; ++c)
  {
    highPass[c].SetCoefficients(hp);
    lowPass[c].SetCoefficients(lp);
  }
}

void ToneEngine::DesignPreEq()
{
  preEqActive = false;
  for (int k = 0; k < kNumPreEqBands; ++k)
  {
    const BiquadCoefficients coefs = DesignPreEqBand(k, preEqCurrent[k]);
    for (int c = 0; c < kMaxProcessedChannels; ++c)
      preEq[c][k].SetCoefficients(coefs);
    if (preEqCurrent[k].gainDb != 0.0)
      preEqActive = true;
  }
  // Idle sections are skipped while processing; clearing them lets them start clean later.
  if (!preEqActive)
    for (auto& channel : preEq)
      for (BiquadSection& section : channel)
        section.ClearState();
}

void ToneEngine::BuildCorrectionMatrix()
{
  using Matrix = std::array<Row, kNumBands>;
  Matrix a{};
  for (int i = 0; i < kNumBands; ++i)
    for (int j = 0; j < kNumBands; ++j)
    {
      if (bandEnabled[i] && bandEnabled[j])
        a[i][j] = BiquadMagnitudeDb(DesignPeaking(6.0, bandShape[j]), kBandCentresHz[i], sampleRate) / 6.0;
      else
        a[i][j] = (i == j) ? 1.0 : 0.0;
    }

  // Gauss-Jordan on [A | I] with partial pivoting. Each row of A is strictly diagonally dominant,
  // so no pivot comes near zero.
  Matrix inv{};
  for (int i = 0; i < kNumBands; ++i)
    inv[i][i] = 1.0;
  for (int k = 0; k < kNumBands; ++k)
  {
    int pivotRow = k;
    for (int r = k + 1; r < kNumBands; ++r)
      if (std::fabs(a[r][k]) > std::fabs(a[pivotRow][k]))
        pivotRow = r;
    std::swap(a[k], a[pivotRow]);
    std::swap(inv[k], inv[pivotRow]);
    const double pivot = a[k][k];
    for (int j = 0; j < kNumBands; ++j)
    {
      a[k][j] /= pivot;
      inv[k][j] /= pivot;
    }
    for (int r = 0; r < kNumBands; ++r)
    {
      if (r == k)
        continue;
      const double factor = a[r][k];
      for (int j = 0; j < kNumBands; ++j)
      {
        a[r][j] -= factor * a[k][j];
        inv[r][j] -= factor * inv[k][j];
      }
    }
  }
  correctionMatrix = inv;
}

void ToneEngine::ComputeBandCalibration()
{
  if (calibrationRate == sampleRate)
    return;
  calibrationRate = sampleRate;
  constexpr int kPoints = 4000;
  const double lo = std::log(10.0);
  const double hi = std::log(0.499 * sampleRate);
  const double step = (hi - lo) / kPoints;
  for (int i = 0; i < kNumBands; ++i)
  {
    bandCalibrationDb[i] = 0.0;
    if (!bandEnabled[i])
      continue;
    const BiquadCoefficients h = DesignBandPass(kBandCentresHz[i], kBandQ, sampleRate);
    double sum = 0.0;
    for (int n = 0; n < kPoints; ++n)
    {
      const double f = std::exp(lo + (n + 0.5) * step);
      const double power = std::pow(10.0, BiquadMagnitudeDb(h, f, sampleRate) / 10.0);
      sum += power * power * step; // two identical stages in series
    }
    bandCalibrationDb[i] = 10.0 * std::log10(sum);
  }
}

void ToneEngine::ResetState()
{
  for (int k = 0; k < kNumBands; ++k)
  {
    analysisStage1[k].ClearState();
    analysisStage2[k].ClearState();
    bandPower[k] = 0.0;
    measuredBalance[k] = -1000.0;
    smoothedBandPower[k] = -1.0;
    smoothedBandDb[k] = -1000.0;
    noiseFloorDb[k] = -1000.0;
    designedGainDb[k] = 0.0;
    currentGainDb[k] = 0.0;
    learnSums[k] = 0.0;
    for (auto& channel : correction)
      channel[k].ResetToIdentity();
  }
  for (int c = 0; c < kMaxProcessedChannels; ++c)
  {
    highPass[c].ClearState();
    lowPass[c].ClearState();
    for (BiquadSection& section : preEq[c])
      section.ClearState();
  }
  outputGain = outputGainTarget = std::pow(10.0, settings.outputDb / 20.0);
  learning = false;
  learnCount = 0;
  historyIndex = 0;
  aboveCount = 0;
  belowCount = 0;
  sampleCounter = 0;
  inputPower = 0.0;
  eqActive = false;
  aboveThreshold = false;
}

} // namespace morvellan

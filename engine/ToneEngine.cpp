#include "ToneEngine.h"

#include <algorithm>
#include <cmath>

namespace morvellan {

namespace {

// Gaussians of 0.7 and 0.55 octave, written as the decimal values the target bands were tuned with.
constexpr double kTargetSpread = 0.9799999999999999;
constexpr double kExclusionSpread = 0.6050000000000001;
constexpr double kSpeedBase = 0.028571428571428574; // 1/35

// What a pre-EQ band's design and response depend on.
std::array<double, 4> PreEqKey(const ToneEngine::PreEqValues& v, bool shelf)
{
  return {v.freqHz, v.gainDb, v.q, shelf ? 1.0 : 0.0};
}

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
  {
    centrePoints[k] = MakeResponsePoint(kBandCentresHz[k], fs);
    control.peakCosW0[k] = bandShape[k].cosW0;
    control.peakAlpha[k] = bandShape[k].alpha;
    control.enabledBits[k] = bandEnabled[k] ? -1 : 0;
    control.middleBits[k] = bandEnabled[k] && IsMiddleBand(k) ? -1 : 0;
  }
  control.middleCount = 0;
  for (int k = kFirstMiddleBand; k <= kLastMiddleBand; ++k)
    control.middleCount += bandEnabled[k] ? 1 : 0;
  // Filter designs and responses depend on the rate; the target and range weights do not.
  highPassCurve.valid = lowPassCurve.valid = false;
  for (CachedCurve& curve : preEqCurves)
    curve.valid = false;
  hpDesignedHz = lpDesignedHz = -1.0;
  preEqDesignedValid.fill(false);

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

void ToneEngine::Prepare(double fs, const ToneEngineSettings& s)
{
  settings = s;
  Prepare(fs);
}

void ToneEngine::SettleGlides()
{
  DesignCutFilters(hpTargetHz, lpTargetHz);
  preEqCurrent = preEqTarget;
  DesignPreEq();
  outputGain = outputGainTarget;
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

  for (int j = 0; j < kNumTargetBands; ++j)
  {
    CachedCurve& curve = targetCurves[j];
    const std::array<double, 4> key = {settings.targetBands[j].freqHz, 0.0, 0.0, 0.0};
    if (curve.Matches(key))
      continue;
    for (int i = 0; i < kNumBands; ++i)
    {
      const double oct = std::log2(kBandCentresHz[i] / key[0]);
      curve.values[i] = std::exp(-(oct * oct) / kTargetSpread);
      curve.extra[i] = 1.0 - std::exp(-(oct * oct) / kExclusionSpread);
    }
    curve.key = key;
    curve.valid = true;
  }
  const std::array<double, 4> rangeKey = {settings.rangeLowHz, settings.rangeHighHz, 0.0, 0.0};
  if (!rangeCurve.Matches(rangeKey))
  {
    for (int i = 0; i < kNumBands; ++i)
      rangeCurve.values[i] = RangeTaper(kBandCentresHz[i], rangeKey[0], rangeKey[1]);
    rangeCurve.key = rangeKey;
    rangeCurve.valid = true;
  }

  // Responses of the cut filters and the pre-EQ at their targets.
  const Row* hp = settings.hpOn ? &CutCurve(highPassCurve, true, hpTargetHz) : nullptr;
  const Row* lp = settings.lpOn ? &CutCurve(lowPassCurve, false, lpTargetHz) : nullptr;
  std::array<const Row*, kNumPreEqBands> pre{};
  if (settings.respect != 0.0)
    for (int k = 0; k < kNumPreEqBands; ++k)
    {
      const PreEqValues& v = preEqTarget[k];
      if (v.gainDb == 0.0)
        continue;
      CachedCurve& curve = preEqCurves[k];
      const std::array<double, 4> key = PreEqKey(v, settings.preEqBands[k].shelf);
      if (!curve.Matches(key))
      {
        const BiquadCoefficients c = DesignPreEqBand(k, v);
        for (int i = 0; i < kNumBands; ++i)
          curve.values[i] = bandEnabled[i] ? MagnitudeDbAt(c, centrePoints[i]) : 0.0;
        curve.key = key;
        curve.valid = true;
      }
      pre[k] = &curve.values;
    }

  for (int i = 0; i < kNumBands; ++i)
  {
    double targetSum = 0.0;
    double exclusion = 1.0;
    for (int j = 0; j < kNumTargetBands; ++j)
    {
      const ToneEngineSettings::TargetBand& tb = settings.targetBands[j];
      if (tb.on)
        targetSum += tb.gainDb * targetCurves[j].values[i];
      else
        exclusion *= targetCurves[j].extra[i];
    }
    exclusionWeight[i] = exclusion;
    rangeWeight[i] = rangeCurve.values[i];

    double cutDb = 0.0;
    double preEqDb = 0.0;
    if (bandEnabled[i])
    {
      if (hp)
        cutDb += (*hp)[i];
      if (lp)
        cutDb += (*lp)[i];
      for (int k = 0; k < kNumPreEqBands; ++k)
        if (pre[k])
          preEqDb += (*pre[k])[i];
    }
    desiredCurve[i] = targetSum + settings.tiltDbPerOct * centreOctaves[i];
    desiredCompensated[i] = desiredCurve[i] + cutDb + settings.respect * preEqDb;
  }
}

const ToneEngine::Row& ToneEngine::CutCurve(CachedCurve& cache, bool high, double cornerHz)
{
  const std::array<double, 4> key = {cornerHz, 0.0, 0.0, 0.0};
  if (!cache.Matches(key))
  {
    const BiquadCoefficients c = high ? DesignHighPass(cornerHz, sampleRate) : DesignLowPass(cornerHz, sampleRate);
    for (int i = 0; i < kNumBands; ++i)
      cache.values[i] = bandEnabled[i] ? MagnitudeDbAt(c, centrePoints[i]) : 0.0;
    cache.key = key;
    cache.valid = true;
  }
  return cache.values;
}

void ToneEngine::DesignCutFilters(double hpHz, double lpHz)
{
  hpCurrentHz = hpHz;
  lpCurrentHz = lpHz;
  if (hpHz != hpDesignedHz)
  {
    const BiquadCoefficients hp = DesignHighPass(hpHz, sampleRate);
    for (BiquadSection& section : highPass)
      section.SetCoefficients(hp);
    hpDesignedHz = hpHz;
    preSectionsRedesigned = true;
  }
  if (lpHz != lpDesignedHz)
  {
    const BiquadCoefficients lp = DesignLowPass(lpHz, sampleRate);
    for (BiquadSection& section : lowPass)
      section.SetCoefficients(lp);
    lpDesignedHz = lpHz;
    preSectionsRedesigned = true;
  }
}

void ToneEngine::DesignPreEq()
{
  preEqActive = false;
  for (int k = 0; k < kNumPreEqBands; ++k)
  {
    const PreEqValues& v = preEqCurrent[k];
    const std::array<double, 4> key = PreEqKey(v, settings.preEqBands[k].shelf);
    if (!preEqDesignedValid[k] || preEqDesigned[k] != key)
    {
      const BiquadCoefficients coefs = DesignPreEqBand(k, v);
      for (int c = 0; c < kMaxProcessedChannels; ++c)
        preEq[c][k].SetCoefficients(coefs);
      preEqDesigned[k] = key;
      preEqDesignedValid[k] = true;
      preSectionsRedesigned = true;
    }
    if (v.gainDb != 0.0)
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
  // Column j: the response of band j's peak at 6 dB, per dB, at every band centre.
  Matrix a{};
  for (int j = 0; j < kNumBands; ++j)
  {
    const BiquadCoefficients peak = DesignPeaking(6.0, bandShape[j]);
    for (int i = 0; i < kNumBands; ++i)
    {
      if (bandEnabled[i] && bandEnabled[j])
        a[i][j] = MagnitudeDbAt(peak, centrePoints[i]) / 6.0;
      else
        a[i][j] = (i == j) ? 1.0 : 0.0;
    }
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
  for (int i = 0; i < kNumBands; ++i)
    for (int j = 0; j < kNumBands; ++j)
      control.correctionColumns[j][i] = inv[i][j];
  control.gainTargetsValid = false;
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
  std::array<BiquadCoefficients, kNumBands> h{};
  for (int i = 0; i < kNumBands; ++i)
    if (bandEnabled[i])
      h[i] = DesignBandPass(kBandCentresHz[i], kBandQ, sampleRate);
  // The bands share the frequency grid, so each point's frequency and trigonometry serve all of
  // them; 10^(dB/10) of a magnitude in dB is the squared magnitude itself. Each band still sums
  // its points in order.
  Row sum{};
  for (int n = 0; n < kPoints; ++n)
  {
    const ResponsePoint point = MakeResponsePoint(std::exp(lo + (n + 0.5) * step), sampleRate);
    for (int i = 0; i < kNumBands; ++i)
    {
      if (!bandEnabled[i])
        continue;
      const double power = SquaredMagnitudeAt(h[i], point);
      sum[i] += power * power * step; // two identical stages in series
    }
  }
  for (int i = 0; i < kNumBands; ++i)
  {
    bandCalibrationDb[i] = bandEnabled[i] ? 10.0 * std::log10(sum[i]) : 0.0;
    control.calibrationFactor[i] = std::pow(10.0, -bandCalibrationDb[i] / 10.0);
  }
}

void ToneEngine::ResetState()
{
  ClearFilterStates();
  for (int k = 0; k < kNumBands; ++k)
  {
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
  outputGain = outputGainTarget = std::pow(10.0, settings.outputDb / 20.0);
  learning = false;
  learnCount = 0;
  historyIndex = 0;
  aboveCount = 0;
  belowCount = 0;
  sampleCounter = 0;
  eqActive = false;
  aboveThreshold = false;
}

} // namespace morvellan

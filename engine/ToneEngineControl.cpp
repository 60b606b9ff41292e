#include "ToneEngine.h"

#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace morvellan {

namespace {

// Counters saturate instead of wrapping: a signal that stays above the threshold for weeks must
// keep qualifying.
void CountUp(std::int32_t& counter)
{
  if (counter < std::numeric_limits<std::int32_t>::max())
    ++counter;
}

// The control step's per-band arithmetic runs on the twelve bands as vectors without branches:
// each lane computes what the one-band rule computes and a mask picks the result. Pairs where SSE2
// is all there is (wider vectors would pass through memory), four lanes with AVX.
constexpr std::int64_t kAbs = 0x7fffffffffffffffll;

template <typename V>
struct BandLanes
{
  using Mask = typename vector_math_detail::Lanes<V>::Mask;
  static constexpr int kLanes = int(sizeof(V) / sizeof(double));
  static constexpr int kCount = kNumBands / kLanes;
  V q[kCount];
};

template <typename V>
inline __attribute__((always_inline)) BandLanes<V> Load(const std::array<double, kNumBands>& row)
{
  BandLanes<V> v;
  std::memcpy(v.q, row.data(), sizeof v.q);
  return v;
}

template <typename V>
inline __attribute__((always_inline)) void Store(const BandLanes<V>& v, std::array<double, kNumBands>& row)
{
  std::memcpy(row.data(), v.q, sizeof v.q);
}

template <typename V, typename M>
inline __attribute__((always_inline)) void Pick(const M& mask, const V& a, V& b)
{
  b = (V)((mask & (M)a) | (~mask & (M)b));
}

int ControlIsa()
{
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
    return 2;
  return __builtin_cpu_supports("avx2") ? 1 : 0;
}

// Chosen when the module loads, so the audio thread never runs a guarded first-time initialisation.
const int kControlIsa = ControlIsa();

double GlideGeometric(double current, double target)
{
  const double next = current * std::pow(target / current, 0.05);
  return std::fabs(next / target - 1.0) < 0.001 ? target : next;
}

} // namespace

BandBalance ComputeBalance(const std::array<double, kNumBands>& powers, const std::array<bool, kNumBands>& enabled)
{
  std::array<double, kNumBands> levels;
  for (int k = 0; k < kNumBands; ++k)
    levels[k] = powers[k] + 1e-30;
  Log10Batch(levels, levels);
  double sum = 0.0;
  int count = 0;
  for (int k = 0; k < kNumBands; ++k)
  {
    if (!enabled[k])
      continue;
    levels[k] = 10.0 * levels[k];
    if (IsMiddleBand(k))
    {
      sum += levels[k];
      ++count;
    }
  }
  const double mean = sum / std::max(count, 1);
  BandBalance result{};
  for (int k = 0; k < kNumBands; ++k)
    result[k] = enabled[k] ? levels[k] - mean : 0.0;
  return result;
}

void ToneEngine::GlideCutFilters()
{
  if (hpCurrentHz == hpTargetHz && lpCurrentHz == lpTargetHz)
    return;
  // Corners that were never designed have nothing to glide from (a geometric step from 0 Hz is NaN).
  if (!(hpCurrentHz > 0.0) || !(lpCurrentHz > 0.0))
  {
    DesignCutFilters(hpTargetHz, lpTargetHz);
    return;
  }
  DesignCutFilters(GlideGeometric(hpCurrentHz, hpTargetHz), GlideGeometric(lpCurrentHz, lpTargetHz));
}

void ToneEngine::GlidePreEq()
{
  bool moved = false;
  for (int k = 0; k < kNumPreEqBands; ++k)
  {
    PreEqValues& cur = preEqCurrent[k];
    const PreEqValues& target = preEqTarget[k];
    if (cur == target)
      continue;
    moved = true;
    cur.freqHz = GlideGeometric(cur.freqHz, target.freqHz);
    cur.q = GlideGeometric(cur.q, target.q);
    const double gain = cur.gainDb + (target.gainDb - cur.gainDb) * 0.05;
    cur.gainDb = std::fabs(gain - target.gainDb) < 0.01 ? target.gainDb : gain;
  }
  if (moved || preEqForceRedesign)
  {
    preEqForceRedesign = false;
    DesignPreEq();
  }
}

template <typename V>
inline __attribute__((always_inline)) void ToneEngine::ControlStepOn()
{
  using Lanes = BandLanes<V>;
  using PairMask = typename Lanes::Mask;
  constexpr int kLanes = Lanes::kLanes;
  constexpr int kPairs = Lanes::kCount;

  GlideCutFilters();
  GlidePreEq();

  // A NaN or infinite input sample would otherwise stay in every filter state, and from there in the
  // levels and gains, until the next reset. It shows in the input power within this step.
  if (!std::isfinite(inputPower))
    ClearFilterStates();

  // The input level and the twelve band levels in one call, with the powers of the delayed levels
  // beside them when this step may qualify (the delayed row is never the one written below).
  const int delayedRow = (historyIndex + 1 - lookback + kHistoryRows) % kHistoryRows;
  const bool mayQualify = aboveCount >= lookback + guard;
  std::array<double, 16> logs;
  for (int k = 0; k < kNumBands; ++k)
    logs[k] = bandPower[k] + 1e-30;
  logs[kNumBands] = inputPower + 1e-30;
  for (int k = kNumBands + 1; k < 16; ++k)
    logs[k] = 1.0;
  Row powers;
  if (mayQualify)
  {
    for (int k = 0; k < kNumBands; ++k)
      powers[k] = levelHistory[delayedRow][k] / 10.0;
    Log10AndExp10Batch(logs, logs, powers, powers);
  }
  else
    Log10Batch(logs, logs);
  aboveThreshold = 10.0 * logs[kNumBands] > settings.thresholdDb;

  PairMask enabled[kPairs];
  for (int q = 0; q < kPairs; ++q)
    for (int i = 0; i < kLanes; ++i)
      enabled[q][i] = bandEnabled[kLanes * q + i] ? -1 : 0;
  int middleCount = 0;
  for (int k = kFirstMiddleBand; k <= kLastMiddleBand; ++k)
    middleCount += bandEnabled[k] ? 1 : 0;

  Row d;
  {
    Lanes level;
    std::memcpy(level.q, logs.data(), sizeof level.q);
    const Lanes calibration = Load<V>(bandCalibrationDb);
    for (int q = 0; q < kPairs; ++q)
      level.q[q] = (V)(enabled[q] & (PairMask)(10.0 * level.q[q] - calibration.q[q]));
    Store(level, d);
  }
  latestBandDb = d;

  historyIndex = (historyIndex + 1) % kHistoryRows;
  levelHistory[historyIndex] = d;

  if (aboveThreshold)
  {
    CountUp(aboveCount);
    belowCount = 0;
  }
  else
  {
    aboveCount = 0;
    CountUp(belowCount);
  }

  // Read the history 50 ms late, and only when everything since well before that row was above the
  // threshold, so onsets and tails of loud passages never reach the averages.
  const bool qualifies = aboveCount > lookback + guard;

  if (qualifies)
  {
    const Lanes x = Load<V>(levelHistory[delayedRow]);
    const Lanes p = Load<V>(powers);
    Lanes sums = Load<V>(learnSums), power = Load<V>(smoothedBandPower), db = Load<V>(smoothedBandDb);
    for (int q = 0; q < kPairs; ++q)
    {
      if (learning)
        Pick(enabled[q], sums.q[q] + p.q[q], sums.q[q]);
      V nextPower = power.q[q] + (p.q[q] - power.q[q]) * analysisCoef;
      Pick(power.q[q] < 0.0, p.q[q], nextPower);
      Pick(enabled[q], nextPower, power.q[q]);
      V nextDb = db.q[q] + (x.q[q] - db.q[q]) * analysisCoef;
      Pick(db.q[q] <= -1000.0, x.q[q], nextDb);
      Pick(enabled[q], nextDb, db.q[q]);
    }
    Store(sums, learnSums);
    Store(power, smoothedBandPower);
    Store(db, smoothedBandDb);
    measuredBalance = ComputeBalance(smoothedBandPower, bandEnabled);
  }
  else if (belowCount > lookback)
  {
    const Lanes level = Load<V>(d);
    Lanes floor = Load<V>(noiseFloorDb);
    for (int q = 0; q < kPairs; ++q)
    {
      V next = floor.q[q] + (level.q[q] - floor.q[q]) * noiseFloorCoef;
      Pick(floor.q[q] <= -1000.0, level.q[q], next);
      Pick(enabled[q], next, floor.q[q]);
    }
    Store(floor, noiseFloorDb);
  }

  if (learning && qualifies)
  {
    CountUp(learnCount);
    if (static_cast<double>(learnCount) >= LearnStepsNeeded())
    {
      const BandBalance learned = ComputeBalance(learnSums, bandEnabled);
      for (int k = 0; k < kNumBands; ++k)
      {
        if (bandEnabled[k])
        {
          targetRelative[k] = learned[k] - desiredCompensated[k];
          targetAbsolute[k] = learned[k] - (desiredCompensated[k] - desiredCurve[k]);
        }
        else
        {
          targetRelative[k] = 0.0;
          targetAbsolute[k] = 0.0;
        }
      }
      hasTarget = true;
      learning = false;
      ++learnsCompleted;
    }
  }

  const double amount = settings.amount;
  Lanes err{};
  double errSum = 0.0;
  double shiftSum = 0.0; // how far the desired curve moved over the middle bands since the target was set
  if (measuredBalance[0] > -1000.0)
  {
    const Lanes relative = Load<V>(targetRelative), desired = Load<V>(desiredCompensated), measured = Load<V>(measuredBalance);
    for (int q = 0; q < kPairs; ++q)
      err.q[q] = (V)(enabled[q] & (PairMask)(amount * (relative.q[q] + desired.q[q] - measured.q[q])));
    for (int k = kFirstMiddleBand; k <= kLastMiddleBand; ++k)
      if (bandEnabled[k])
      {
        errSum += err.q[k / kLanes][k % kLanes];
        shiftSum += targetRelative[k] + desiredCurve[k] - targetAbsolute[k];
      }
  }
  const double meanErr = (errSum - amount * shiftSum) / std::max(middleCount, 1);

  Row w;
  {
    const double maxBoost = settings.maxBoostDb;
    const double maxCut = -settings.maxCutDb;
    const Lanes floor = Load<V>(noiseFloorDb), db = Load<V>(smoothedBandDb), exclusion = Load<V>(exclusionWeight),
                  range = Load<V>(rangeWeight);
    Lanes weighted;
    for (int q = 0; q < kPairs; ++q)
    {
      V e = err.q[q] - meanErr;
      V limited = e;
      Pick(e < maxCut, V{} + maxCut, limited);
      Pick(e > maxBoost, V{} + maxBoost, limited);
      e = limited;
      // Boosting a band that barely rises above its own noise floor would only lift noise.
      V margin = (db.q[q] - floor.q[q] - 6.0) / 12.0;
      Pick(margin < 0.0, V{}, margin);
      Pick(margin > 1.0, V{} + 1.0, margin);
      const V boost = maxBoost * margin;
      V capped = boost;
      Pick(e < boost, e, capped);
      Pick((e > 0.0) & (floor.q[q] > -1000.0) & (db.q[q] > -1000.0), capped, e);
      weighted.q[q] = (V)(enabled[q] & (PairMask)(e * exclusion.q[q] * range.q[q]));
    }
    Store(weighted, w);
  }

  // The matrix product, column by column so that it runs on whole rows; each band still sums its
  // terms from j = 0 up. The same weighted errors give the same targets, so they are kept.
  if (!gainTargetsValid || std::memcmp(&w, &gainTargetInput, sizeof w) != 0)
  {
    Row sum;
    ColumnsTimes(correctionColumns, w, sum);
    Lanes target = Load<V>(sum);
    for (int q = 0; q < kPairs; ++q)
    {
      V limited = target.q[q];
      Pick(target.q[q] < -kMaxBandGainDb, V{} - kMaxBandGainDb, limited);
      Pick(kMaxBandGainDb < target.q[q], V{} + kMaxBandGainDb, limited);
      target.q[q] = (V)(enabled[q] & (PairMask)limited);
    }
    Store(target, gainTargets);
    gainTargetInput = w;
    gainTargetsValid = true;
  }

  // Each gain glides towards its target; a section is redesigned only when its gain moved far
  // enough or landed, so a settled gain keeps its coefficients.
  const Lanes target = Load<V>(gainTargets), designed = Load<V>(designedGainDb);
  Lanes current = Load<V>(currentGainDb);
  unsigned redesign = 0;
  bool anyGain = false;
  for (int q = 0; q < kPairs; ++q)
  {
    const V t = target.q[q];
    const V cur = current.q[q];
    const PairMask abs = PairMask{} + kAbs; // clears the sign bit
    const V curAbs = (V)((PairMask)cur & abs), tAbs = (V)((PairMask)t & abs);
    V coef = V{} + attackCoef;
    Pick((curAbs > tAbs) | (cur * t < 0.0), V{} + releaseCoef, coef);
    const V step = (cur + (t - cur) * coef) - cur;
    V delta = step;
    Pick(step < -0.05, V{} - 0.05, delta);
    Pick(0.05 < step, V{} + 0.05, delta);
    V next = cur + delta;
    const V gap = t - next;
    Pick((V)((PairMask)gap & abs) < 0.005, t, next);
    current.q[q] = next;
    const V moved = next - designed.q[q];
    const PairMask again =
        ((V)((PairMask)moved & abs) >= 0.01) | ((next == t) & (next != designed.q[q]));
    for (int i = 0; i < kLanes; ++i)
    {
      if (again[i])
        redesign |= 1u << (kLanes * q + i);
      else if (designed.q[q][i] != 0.0)
        anyGain = true;
    }
  }
  Store(current, currentGainDb);
  for (int k = 0; redesign != 0; ++k, redesign >>= 1)
  {
    if (!(redesign & 1u))
      continue;
    const double next = currentGainDb[k];
    designedGainDb[k] = next;
    const BiquadCoefficients coefs = DesignPeaking(next, bandShape[k]);
    for (auto& channel : correction)
      channel[k].SetCoefficients(coefs);
    if (next != 0.0)
      anyGain = true;
  }

  // Flat correction is bypassed; its sections restart from silence when it comes back.
  if (!anyGain && eqActive)
    for (auto& channel : correction)
      for (BiquadSection& section : channel)
        section.ClearState();
  eqActive = anyGain;
}

void ToneEngine::ControlStep()
{
  kControlIsa == 2 ? ControlStepAvx512() : kControlIsa == 1 ? ControlStepAvx2() : ControlStepBaseline();
}

void ToneEngine::ControlStepBaseline() { ControlStepOn<Double2>(); }
__attribute__((target("avx2"))) void ToneEngine::ControlStepAvx2() { ControlStepOn<Double4>(); }
__attribute__((target("avx512f,avx512vl"))) void ToneEngine::ControlStepAvx512() { ControlStepOn<Double4>(); }

void ToneEngine::ClearFilterStates()
{
  for (int c = 0; c < kMaxProcessedChannels; ++c)
  {
    highPass[c].ClearState();
    lowPass[c].ClearState();
    for (BiquadSection& section : preEq[c])
      section.ClearState();
    for (BiquadSection& section : correction[c])
      section.ClearState();
  }
  for (int k = 0; k < kNumBands; ++k)
  {
    analysisStage1[k].ClearState();
    analysisStage2[k].ClearState();
    bandPower[k] = 0.0;
  }
  inputPower = 0.0;
  filterStatesCleared = true;
}

void ToneEngine::SetTargetBalance(const BandBalance& t)
{
  for (int k = 0; k < kNumBands; ++k)
    targetRelative[k] = bandEnabled[k] ? t[k] - desiredCurve[k] : 0.0;
  targetAbsolute = t;
  hasTarget = true;
}

void ToneEngine::RestoreTarget(const BandBalance& relative, const BandBalance& absolute)
{
  targetRelative = relative;
  targetAbsolute = absolute;
  hasTarget = true;
  learning = false;
}

void ToneEngine::ClearLearnedTarget()
{
  targetRelative.fill(0.0);
  targetAbsolute.fill(0.0);
  hasTarget = false;
}

void ToneEngine::StartLearning()
{
  learning = true;
  learnCount = 0;
  learnSums.fill(0.0);
}

void ToneEngine::StopLearning() { learning = false; }

} // namespace morvellan

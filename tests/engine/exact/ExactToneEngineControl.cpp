#include "ExactToneEngine.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace morvellan::exact {

namespace {

// Counters saturate instead of wrapping: a signal that stays above the threshold for weeks must
// keep qualifying.
void CountUp(std::int32_t& counter)
{
  if (counter < std::numeric_limits<std::int32_t>::max())
    ++counter;
}

double GlideGeometric(double current, double target)
{
  const double next = current * std::pow(target / current, 0.05);
  return std::fabs(next / target - 1.0) < 0.001 ? target : next;
}

} // namespace

BandBalance ComputeBalance(const std::array<double, kNumBands>& powers, const std::array<bool, kNumBands>& enabled)
{
  std::array<double, kNumBands> levels{};
  double sum = 0.0;
  int count = 0;
  for (int k = 0; k < kNumBands; ++k)
  {
    if (!enabled[k])
      continue;
    levels[k] = 10.0 * std::log10(powers[k] + 1e-30);
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

void ToneEngine::ControlStep()
{
  GlideCutFilters();
  GlidePreEq();

  // A NaN or infinite input sample would otherwise stay in every filter state, and from there in the
  // levels and gains, until the next reset. It shows in the input power within this step.
  if (!std::isfinite(inputPower))
    ClearFilterStates();

  aboveThreshold = 10.0 * std::log10(inputPower + 1e-30) > settings.thresholdDb;

  Row d{};
  int middleCount = 0;
  for (int k = 0; k < kNumBands; ++k)
  {
    if (!bandEnabled[k])
      continue;
    d[k] = 10.0 * std::log10(bandPower[k] + 1e-30) - bandCalibrationDb[k];
    if (IsMiddleBand(k))
      ++middleCount;
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
  const int delayedRow = (historyIndex - lookback + kHistoryRows) % kHistoryRows;
  const bool qualifies = aboveCount > lookback + guard;

  for (int k = 0; k < kNumBands; ++k)
  {
    if (!bandEnabled[k])
      continue;
    if (qualifies)
    {
      const double x = levelHistory[delayedRow][k];
      const double p = std::pow(10.0, x / 10.0);
      if (learning)
        learnSums[k] += p;
      smoothedBandPower[k] =
          smoothedBandPower[k] < 0.0 ? p : smoothedBandPower[k] + (p - smoothedBandPower[k]) * analysisCoef;
      smoothedBandDb[k] = smoothedBandDb[k] <= -1000.0 ? x : smoothedBandDb[k] + (x - smoothedBandDb[k]) * analysisCoef;
    }
    else if (belowCount > lookback)
    {
      noiseFloorDb[k] = noiseFloorDb[k] <= -1000.0 ? d[k] : noiseFloorDb[k] + (d[k] - noiseFloorDb[k]) * noiseFloorCoef;
    }
  }

  if (qualifies)
    measuredBalance = ComputeBalance(smoothedBandPower, bandEnabled);

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
  Row err{};
  double errSum = 0.0;
  double shiftSum = 0.0; // how far the desired curve moved over the middle bands since the target was set
  if (measuredBalance[0] > -1000.0)
  {
    for (int k = 0; k < kNumBands; ++k)
    {
      if (!bandEnabled[k])
        continue;
      err[k] = amount * (targetRelative[k] + desiredCompensated[k] - measuredBalance[k]);
      if (IsMiddleBand(k))
      {
        errSum += err[k];
        shiftSum += targetRelative[k] + desiredCurve[k] - targetAbsolute[k];
      }
    }
  }
  const double meanErr = (errSum - amount * shiftSum) / std::max(middleCount, 1);

  Row w{};
  for (int k = 0; k < kNumBands; ++k)
  {
    if (!bandEnabled[k])
      continue;
    double e = err[k] - meanErr;
    if (e > settings.maxBoostDb)
      e = settings.maxBoostDb;
    else if (e < -settings.maxCutDb)
      e = -settings.maxCutDb;
    // Boosting a band that barely rises above its own noise floor would only lift noise.
    if (e > 0.0 && noiseFloorDb[k] > -1000.0 && smoothedBandDb[k] > -1000.0)
    {
      const double q = std::clamp((smoothedBandDb[k] - noiseFloorDb[k] - 6.0) / 12.0, 0.0, 1.0);
      e = std::min(settings.maxBoostDb * q, e);
    }
    w[k] = e * exclusionWeight[k] * rangeWeight[k];
  }

  bool anyGain = false;
  for (int k = 0; k < kNumBands; ++k)
  {
    double t = 0.0;
    if (bandEnabled[k])
    {
      for (int j = 0; j < kNumBands; ++j)
        t += correctionMatrix[k][j] * w[j];
      t = std::clamp(t, -kMaxBandGainDb, kMaxBandGainDb);
    }
    const double cur = currentGainDb[k];
    const double coef = (std::fabs(cur) > std::fabs(t) || cur * t < 0.0) ? releaseCoef : attackCoef;
    const double delta = std::clamp((cur + (t - cur) * coef) - cur, -0.05, 0.05);
    double next = cur + delta;
    if (std::fabs(t - next) < 0.005)
      next = t;
    currentGainDb[k] = next;

    if (std::fabs(next - designedGainDb[k]) >= 0.01 || (next == t && next != designedGainDb[k]))
    {
      designedGainDb[k] = next;
      const BiquadCoefficients coefs = exact::DesignPeaking(next, bandShape[k]);
      for (auto& channel : correction)
        channel[k].SetCoefficients(coefs);
    }
    if (designedGainDb[k] != 0.0)
      anyGain = true;
  }

  // Flat correction is bypassed; its sections restart from silence when it comes back.
  if (!anyGain && eqActive)
    for (auto& channel : correction)
      for (BiquadSection& section : channel)
        section.ClearState();
  eqActive = anyGain;
}

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

} // namespace morvellan::exact

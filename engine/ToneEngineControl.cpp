#include "ToneEngine.h"

#include "TargetRegion.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <limits>

namespace morvellan {

namespace {

// Each instruction set's copy of the lane routines and the control step's band arithmetic.
namespace control_baseline {
#define MV_LANE_FMA 0
#include "VectorLanes.inl"
#undef MV_LANE_FMA
#include "ControlLanes.inl"
} // namespace control_baseline

MV_TARGET_BEGIN_AVX2
namespace control_avx2 {
#define MV_LANE_FMA 1
#include "VectorLanes.inl"
#undef MV_LANE_FMA
#include "ControlLanes.inl"
} // namespace control_avx2
MV_TARGET_END

MV_TARGET_BEGIN_AVX512
namespace control_avx512 {
#define MV_LANE_FMA 1
#include "VectorLanes.inl"
#undef MV_LANE_FMA
#include "ControlLanes.inl"
} // namespace control_avx512
MV_TARGET_END

int ControlIsa()
{
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("fma"))
    return 2;
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 1 : 0;
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

void ToneEngine::ControlStep()
{
  GlideCutFilters();
  GlidePreEq();
  // A NaN or infinite input sample would otherwise stay in every filter state, and from there in the
  // levels and gains, until the next reset. It shows in the input power within this step.
  if (!std::isfinite(inputPower))
    ClearFilterStates();
  if (analysisOnly)
    PublishAnalysis();
  else
    kControlIsa == 2 ? ControlStepAvx512() : kControlIsa == 1 ? ControlStepAvx2() : ControlStepBaseline();
  if (stepListener)
    stepListener(stepListenerContext, *this);
}

void ToneEngine::PublishAnalysis()
{
  aboveThreshold = AboveGate(inputPower, control.GatePowerFor(settings.thresholdDb));
  for (int k = 0; k < kNumBands; ++k)
    latestBandPower[k] = bandEnabled[k] ? (bandPower[k] + 1e-30) * control.calibrationFactor[k] : 1.0;
}

void ToneEngine::ControlStepBaseline() { control_baseline::Step<Double2>(*this, control); }
void ToneEngine::ControlStepAvx2() { control_avx2::Step<Double4>(*this, control); }
void ToneEngine::ControlStepAvx512() { control_avx512::Step<Double8>(*this, control); }

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

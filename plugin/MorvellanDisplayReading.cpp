#include "DisplayReading.h"

#include "Morvellan.h"

namespace
{

constexpr double kFallbackSampleRate = 48000.0;

} // namespace

void FillToneDisplayReading(Morvellan& plug, ToneDisplayControl::Reading& reading)
{
  reading = ToneDisplayControl::Reading();

  for (int k = 0; k < morvellan::kNumBands; ++k)
  {
    reading.correctionDb[k] = plug.mBandLevels[0][size_t(k)].load(std::memory_order_relaxed);
    reading.levelDb[k] = plug.mBandLevels[1][size_t(k)].load(std::memory_order_relaxed);
  }

  const auto value = [&plug](int idx) { return plug.GetParam(idx)->Value(); };
  reading.aboveThreshold = plug.mAboveThreshold.load(std::memory_order_relaxed) != 0;
  reading.idle = value(kAmount) <= 0.0;
  reading.bypassed = value(kBypass) >= 0.5;
  reading.learning = plug.mLearning.load(std::memory_order_relaxed) != 0;
  reading.progress = plug.mLearnProgress.load(std::memory_order_relaxed);

  // One attempt: a snapshot being written reads as no target for this frame only.
  morvellan::BalanceCopy target;
  reading.hasTarget = plug.TryReadLearnedTarget(target) && target.valid;

  reading.analysing = plug.mReferenceState.load(std::memory_order_acquire) == 1;
  {
    std::lock_guard<std::mutex> lock(plug.mMutex);
    reading.targetName = plug.mTargetSourceName;
    // Read again under the lock, so the state and its error text belong together.
    if (plug.mReferenceState.load(std::memory_order_acquire) == 2)
      reading.message = "COULD NOT LEARN: " + plug.mReferenceError;
  }

  const double fs = plug.GetSampleRate();
  reading.sampleRate = fs > 0.0 ? fs : kFallbackSampleRate;

  reading.hpOn = value(kHPOn) >= 0.5;
  reading.hpHz = value(kHPFreq);
  reading.lpOn = value(kLPOn) >= 0.5;
  reading.lpHz = value(kLPFreq);
}

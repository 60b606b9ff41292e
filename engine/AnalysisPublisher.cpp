#include "AnalysisPublisher.h"

#include "ToneEngine.h"

#include <algorithm>
#include <cmath>

namespace morvellan {

void AnalysisPublisher::Publish(const ToneEngine& engine)
{
  for (int k = 0; k < kNumBands; ++k)
  {
    mBandLevels[0][k].store(static_cast<float>(engine.designedGainDb[k]), std::memory_order_relaxed);
    mBandLevels[1][k].store(static_cast<float>(10.0 * std::log10(engine.bandPower[k] + 1e-30)),
                            std::memory_order_relaxed);
  }
  mAboveThreshold.store(engine.aboveThreshold ? 1 : 0, std::memory_order_relaxed);
  mLearning.store(engine.learning ? 1 : 0, std::memory_order_relaxed);
  mLearnProgress.store(static_cast<float>(std::min(1.0, engine.learnCount / engine.LearnStepsNeeded())),
                       std::memory_order_relaxed);

  // Only reaching the learn count completes a learn: a cancel, a bypass, a host reset or a restored
  // target also end learning, and none of them may look like a finished learn.
  const bool completed = mCompletionsSeen && engine.learnsCompleted != mLearnsCompleted;
  mLearnsCompleted = engine.learnsCompleted;
  mCompletionsSeen = true;

  const bool learningEnded = mWasLearning && !engine.learning;
  if (learningEnded || completed || engine.hasTarget != mHadTarget || mTargetsChanged)
  {
    // A failed write (only possible if some other thread wrongly wrote too) is retried next block.
    mTargetsChanged = !mLearnedTarget.TryWrite(engine.targetRelative, engine.targetAbsolute, engine.hasTarget);
  }
  // The event goes out after the target, so a reader that sees it finds the new target.
  if (completed)
    mLearnFinished.store(1, std::memory_order_release);

  mHadTarget = engine.hasTarget;
  mWasLearning = engine.learning;
}

} // namespace morvellan

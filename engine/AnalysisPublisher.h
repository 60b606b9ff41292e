#pragma once

#include "BalanceSnapshot.h"
#include "BandGeometry.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace morvellan {

class ToneEngine;

// What the audio thread publishes for the editor after each block: correction gains, band levels,
// learn progress, two status flags, a learn-completed event and the engine's target. The audio
// thread is the only writer of all of it; other threads read single values and take the event by
// exchange. Targets going the other way travel through TargetHandOver.
class AnalysisPublisher
{
public:
  // Audio thread, once per block after the engine ran or the audio passed through.
  void Publish(const ToneEngine& engine);
  // Audio thread: a hand-over or request changed the engine's target during this block.
  void MarkTargetsChanged() { mTargetsChanged = true; }

  // Any thread.
  float BandGainDb(int band) const { return mBandLevels[0][band].load(std::memory_order_relaxed); }
  float BandLevelDb(int band) const { return mBandLevels[1][band].load(std::memory_order_relaxed); }
  float LearnProgress() const { return mLearnProgress.load(std::memory_order_relaxed); }
  bool AboveThreshold() const { return mAboveThreshold.load(std::memory_order_relaxed) != 0; }
  bool Learning() const { return mLearning.load(std::memory_order_relaxed) != 0; }
  // True once per learn from the input that reached its step count; cancels and resets never count.
  bool TakeLearnFinished() { return mLearnFinished.exchange(0, std::memory_order_acq_rel) != 0; }
  const BalanceSnapshot& LearnedTarget() const { return mLearnedTarget; }

private:
  std::array<std::array<std::atomic<float>, kNumBands>, 2> mBandLevels{}; // row 0 gains, row 1 raw levels
  std::atomic<float> mLearnProgress{0.0f};
  std::atomic<std::uint8_t> mAboveThreshold{0};
  std::atomic<std::uint8_t> mLearning{0};
  std::atomic<std::uint8_t> mLearnFinished{0};
  BalanceSnapshot mLearnedTarget;

  // Audio-thread bookkeeping.
  bool mWasLearning = false;
  bool mHadTarget = false;
  bool mTargetsChanged = false;
  bool mCompletionsSeen = false;
  std::uint32_t mLearnsCompleted = 0;
};

} // namespace morvellan

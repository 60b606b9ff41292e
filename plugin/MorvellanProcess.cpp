#include "Morvellan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <xmmintrin.h>

namespace {

// Flush-to-zero and denormals-are-zero for one block, then the caller's mode again.
class DenormalGuard
{
public:
  DenormalGuard() : mSaved(_mm_getcsr()) { _mm_setcsr(mSaved | kFlushToZero | kDenormalsAreZero); }
  ~DenormalGuard() { _mm_setcsr(mSaved); }
  DenormalGuard(const DenormalGuard&) = delete;
  DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
  static constexpr unsigned kFlushToZero = 0x8000;
  static constexpr unsigned kDenormalsAreZero = 0x0040;
  unsigned mSaved;
};

bool On(const iplug::IParam* p) { return p->Value() >= 0.5; }

// Takes a request or pending byte. Nearly every block finds it clear, and a plain load then
// spares the block a locked exchange.
bool TakeFlag(std::atomic<std::uint8_t>& flag)
{
  return flag.load(std::memory_order_relaxed) != 0 && flag.exchange(0, std::memory_order_acq_rel) != 0;
}

} // namespace

void Morvellan::OnReset()
{
  // The reset starts at the instance's own settings: gliding from the engine's previous ones (the
  // defaults, on a first activation) would play the first tens of milliseconds wrongly.
  mEngine.Prepare(GetSampleRate(), GetEngineSettings());
  mParamsApplied = false;
  mInputMeterSender.Reset(GetSampleRate());
  mOutputMeterSender.Reset(GetSampleRate());
  mMeterMixFrames = std::max(1, GetBlockSize());
}

morvellan::ToneEngineSettings Morvellan::GetEngineSettings() const
{
  auto v = [this](int i) { return GetParam(i)->Value(); };
  auto on = [this](int i) { return On(GetParam(i)); };

  morvellan::ToneEngineSettings s;
  s.amount = v(kAmount) / 100.0;
  s.speed = v(kSpeed) / 100.0;
  s.thresholdDb = v(kThreshold);
  s.maxBoostDb = v(kMaxBoost);
  s.maxCutDb = v(kMaxCut);

  constexpr int kTargetBandFirst[morvellan::kNumTargetBands] = {kLowTarget, kBodyTarget, kPresenceTarget, kAirTarget};
  for (int b = 0; b < morvellan::kNumTargetBands; ++b)
  {
    const int gain = kTargetBandFirst[b];
    s.targetBands[b].gainDb = v(gain);
    s.targetBands[b].freqHz = v(gain + 1);
    s.targetBands[b].on = on(gain + 2);
  }

  s.hpOn = on(kHPOn);
  s.hpFreqHz = v(kHPFreq);
  s.lpOn = on(kLPOn);
  s.lpFreqHz = v(kLPFreq);
  s.outputDb = v(kOutput);
  s.tiltDbPerOct = v(kTilt);
  s.rangeLowHz = v(kRangeLow);
  s.rangeHighHz = v(kRangeHigh);

  constexpr int kPreEqFirst[morvellan::kNumPreEqBands] = {kPreEq1Gain, kPreEq2Gain, kPreEq3Gain, kPreEq4Gain};
  for (int b = 0; b < morvellan::kNumPreEqBands; ++b)
  {
    const int gain = kPreEqFirst[b];
    s.preEqBands[b].gainDb = v(gain);
    s.preEqBands[b].freqHz = v(gain + 1);
    s.preEqBands[b].q = v(gain + 2);
    s.preEqBands[b].on = on(gain + 3);
    s.preEqBands[b].shelf = false;
  }
  s.preEqBands[0].shelf = on(kPreEq1Shelf);
  s.preEqBands[3].shelf = on(kPreEq4Shelf);
  s.respect = v(kPreEqRespect) / 100.0;
  return s;
}

void Morvellan::ProcessBlock(iplug::sample** inputs, iplug::sample** outputs, int nFrames)
{
  DenormalGuard denormals;

  TakeHandOvers();
  const bool bypassed = On(GetParam(kBypass));
  TakeRequests(bypassed);
  ApplySettingsIfChanged();

  const int nIn = NChannelsConnected(iplug::kInput);
  const int nOut = NChannelsConnected(iplug::kOutput);
  const int n = std::min(nIn, nOut);

  FeedMeter(mInputMeterSender, inputs, nIn, nFrames, kCtrlTagInputMeter);

  if (!bypassed && n >= 1)
  {
    mEngine.ProcessSamples(inputs, outputs, n, nFrames);
    for (int c = n; c < nOut; ++c)
      std::memcpy(outputs[c], outputs[0], sizeof(iplug::sample) * std::size_t(std::max(0, nFrames)));
  }
  else
  {
    morvellan::PassThroughChannels(inputs, nIn, outputs, nOut, nFrames);
  }

  FeedMeter(mOutputMeterSender, outputs, nOut, nFrames, kCtrlTagOutputMeter);
  PublishAnalysis();
}

bool Morvellan::TakeHandOver(std::atomic<std::uint8_t>& pending, const morvellan::BalanceSnapshot& record,
                             morvellan::BalanceCopy& copy)
{
  if (!TakeFlag(pending))
    return false;
  if (record.TryRead(copy))
    return true;
  // Being written right now: the next block tries again.
  pending.store(1, std::memory_order_release);
  return false;
}

void Morvellan::TakeHandOvers()
{
  morvellan::BalanceCopy copy;

  if (TakeHandOver(mRestoredTargetPending, mRestoredTarget, copy))
  {
    if (copy.valid && mRestoredLegacy.load(std::memory_order_acquire))
      mEngine.SetTargetBalance(copy.relative);
    else if (copy.valid)
      mEngine.RestoreTarget(copy.relative, copy.absolute);
    else
      mEngine.ClearLearnedTarget();
    mTargetsChanged = true;
  }

  if (TakeFlag(mClearTargetRequest))
  {
    mTargetEditUnpublished |= mEngine.hasTarget;
    mEngine.ClearLearnedTarget();
  }

  // A file-learned or loaded target counts whatever its valid byte says.
  if (TakeHandOver(mReferenceTargetPending, mReferenceTarget, copy))
  {
    mEngine.SetTargetBalance(copy.relative);
    mTargetsChanged = true;
    mTargetEditUnpublished = true;
  }
  if (TakeHandOver(mLoadedTargetPending, mLoadedTarget, copy))
  {
    mEngine.SetTargetBalance(copy.relative);
    mTargetsChanged = true;
    mTargetEditUnpublished = true;
  }
}

void Morvellan::TakeRequests(bool bypassed)
{
  mLearnStopped = false;

  // A request taken while bypassed is dropped, not deferred.
  if (TakeFlag(mLearnFromInputRequest) && !bypassed)
    mEngine.StartLearning();

  if (TakeFlag(mCancelLearnRequest) && mEngine.learning)
  {
    mEngine.StopLearning();
    mLearnStopped = true;
  }

  if (bypassed && mEngine.learning)
  {
    mEngine.StopLearning();
    mLearnStopped = true;
  }
}

void Morvellan::ApplySettingsIfChanged()
{
  // Parameters that have not moved since they were last read need no reading.
  const std::uint32_t changes = ParamChangeCount();
  if (mParamsApplied && changes == mParamChangesRead)
    return;
  mParamChangesRead = changes;
  const morvellan::ToneEngineSettings fresh = GetEngineSettings();
  if (mParamsApplied && fresh == mAppliedSettings)
    return;
  mEngine.ApplySettings(fresh);
  // Nothing has sounded since the reset, so settings that changed in between (a state restored
  // after activation) take effect at once as well.
  if (!mParamsApplied)
    mEngine.SettleGlides();
  mAppliedSettings = fresh;
  mParamsApplied = true;
}

void Morvellan::FeedMeter(iplug::IPeakAvgSender<1>& sender, iplug::sample** channels, int nChannels, int nFrames,
                          int controlTag)
{
  if (nChannels < 1 || nFrames < 1 || !channels)
    return;
  if (nChannels == 1 || nFrames > mMeterMixFrames)
  {
    // One channel, or a block larger than the reset promised: channel 0 alone.
    sender.ProcessBlock(channels, nFrames, controlTag, 1, 0);
    return;
  }
  sender.ProcessMix(channels, nChannels, nFrames, controlTag);
}

void Morvellan::PublishAnalysis()
{
  for (int k = 0; k < morvellan::kNumBands; ++k)
  {
    mBandLevels[0][k].store(float(mEngine.designedGainDb[k]), std::memory_order_relaxed);
    // A band whose power has not moved (bypassed, or no engine channel) keeps its level.
    const double power = mEngine.bandPower[k];
    if (power != mPublishedBandPower[k])
    {
      mPublishedBandPower[k] = power;
      mBandLevels[1][k].store(float(10.0 * std::log10(power + 1e-30)), std::memory_order_relaxed);
    }
  }
  mAboveThreshold.store(mEngine.aboveThreshold ? 1 : 0, std::memory_order_relaxed);
  mLearning.store(mEngine.learning ? 1 : 0, std::memory_order_relaxed);
  const double needed = std::max(1.0, mEngine.sampleRate * 3.0 / 32.0);
  mLearnProgress.store(float(std::min(1.0, double(mEngine.learnCount) / needed)), std::memory_order_relaxed);

  // Only a learn that reached its count is an event; a stop, a reset or a restore is not.
  const bool learnCompleted = mEngine.learnsCompleted != mLearnsCompletedSeen && mEngine.hasTarget;
  mLearnsCompletedSeen = mEngine.learnsCompleted;

  const bool learnEnded = mWasLearning && !mEngine.learning;
  mTargetEditUnpublished |= learnCompleted;
  if (learnEnded || learnCompleted || mEngine.hasTarget != mHadTarget || mTargetsChanged)
  {
    // The state restore may be writing the record right now; then publish next block.
    mTargetsChanged = !mLearnedTarget.TryWrite(mEngine.targetRelative, mEngine.targetAbsolute, mEngine.hasTarget);
  }
  // Counted once whoever reads the count finds the edited target published.
  if (mTargetEditUnpublished && !mTargetsChanged)
  {
    mTargetEdits.fetch_add(1, std::memory_order_release);
    mTargetEditUnpublished = false;
  }
  // After the target, so whoever sees the event finds the new target.
  if (learnCompleted)
    mLearnFinished.store(true, std::memory_order_release);

  mHadTarget = mEngine.hasTarget;
  mWasLearning = mEngine.learning;
}

#include "ReferenceLearner.h"

#include "LearnerSteps.h"
#include "ReferenceFileReader.h"

#include <exception>
#include <limits>
#include <thread>

namespace morvellan {
namespace {

using namespace learner;

enum class Outcome
{
  kLearned,
  kFailed,
  kUndecided
};

// Learns while the file is still being decoded. The gate's threshold follows from the whole
// file's 90th-percentile block level, known only at the end, so each step is judged against an
// estimate from the blocks so far: steps well above or below it are settled at once (keeping only
// their sums and the input power nearest the estimate), steps near it are kept whole until the
// threshold is known. Should the final threshold contradict a settled step, or too many steps lie
// near it, the outcome is undecided and the whole buffer is learned from again.
class FollowingLearner
{
public:
  explicit FollowingLearner(double fs)
    : mFs(fs), mBlocks(BlockLength(fs)), mEngine(MakeAnalysisEngine(fs, 0.0)), mFirstCounted(FirstCountedStep(fs))
  {
    mPending.resize(kSpan);
    mEngine->stepListenerContext = this;
    mEngine->stepListener = [](void* self, const ToneEngine& e) { static_cast<FollowingLearner*>(self)->OnStep(e); };
  }

  void Feed(const float* x, std::size_t n)
  {
    mFed += n;
    while (n > 0 && mDecidable)
    {
      const std::size_t take = std::min(n, kSpan - mPendingCount);
      mBlocks.Add(x, take);
      for (std::size_t i = 0; i < take; ++i)
        mPending[mPendingCount + i] = Finite(x[i]);
      mPendingCount += take;
      x += take;
      n -= take;
      if (mBlocks.Count() >= mNextEstimateAt)
        Estimate();
      if (mPendingCount == kSpan)
        Run(kSpan);
    }
  }

  Outcome Finish(std::size_t total, BandBalance& out, std::string& error)
  {
    if (!mDecidable || total != mFed || total < std::size_t(kMinBlocks) * BlockLength(mFs))
      return Outcome::kUndecided;
    Run(mPendingCount / kControlInterval * kControlInterval);
    const double l90 = mBlocks.Percentile90(mScratch);
    if (l90 < kSilentDb || !mDecidable)
      return Outcome::kUndecided;
    const double gate = GatePower(l90 - kGateBelowL90Db);
    if ((mAnyAbove && !AboveGate(mLowestAbove, gate)) || (mAnyBelow && AboveGate(mHighestBelow, gate)))
      return Outcome::kUndecided;
    LoudSums loud = mSettled;
    for (const Record& r : mNear)
      if (AboveGate(r.inputPower, gate))
        loud.Add(r.powers);
    return BalanceFromSums(loud, mFs, *mEngine, out, error) ? Outcome::kLearned : Outcome::kFailed;
  }

private:
  static constexpr std::size_t kSpan = 128 * kControlInterval;
  // 2 in power, 3 dB either side of the estimated gate.
  static constexpr double kNearRatio = 2.0;
  // 1.7 MB of steps near the gate at most.
  static constexpr std::size_t kMaxNear = 16384;

  struct Record
  {
    double inputPower;
    ToneEngine::Row powers;
  };

  void Run(std::size_t n)
  {
    if (n == 0)
      return;
    const float* inputs[1] = {mPending.data()};
    float* outputs[1] = {mPending.data()};
    mEngine->ProcessSamples(inputs, outputs, 1, int(n));
    std::copy(mPending.begin() + std::ptrdiff_t(n), mPending.begin() + std::ptrdiff_t(mPendingCount), mPending.begin());
    mPendingCount -= n;
  }

  void Estimate()
  {
    const std::size_t count = mBlocks.Count();
    mNextEstimateAt = std::max(count + 10, count + count / 16);
    const double gate = GatePower(mBlocks.Percentile90(mScratch) - kGateBelowL90Db);
    mAbove = gate * kNearRatio;
    mBelow = gate / kNearRatio;
  }

  void OnStep(const ToneEngine& e)
  {
    if (mStep++ < mFirstCounted || !mDecidable)
      return;
    const double p = e.inputPower;
    if (p > mAbove)
    {
      mSettled.Add(e.latestBandPower);
      mLowestAbove = mAnyAbove ? std::min(mLowestAbove, p) : p;
      mAnyAbove = true;
    }
    else if (p < mBelow)
    {
      mHighestBelow = mAnyBelow ? std::max(mHighestBelow, p) : p;
      mAnyBelow = true;
    }
    else if (mNear.size() < kMaxNear)
      mNear.push_back({p, e.latestBandPower});
    else
      mDecidable = false;
  }

  double mFs;
  BlockLevels mBlocks;
  std::unique_ptr<ToneEngine> mEngine;
  std::int64_t mFirstCounted;
  std::int64_t mStep = 0;
  std::vector<float> mPending;
  std::size_t mPendingCount = 0;
  std::size_t mFed = 0;
  std::vector<double> mScratch;

  // Until the first estimate every step counts as near.
  std::size_t mNextEstimateAt = 10;
  double mAbove = std::numeric_limits<double>::infinity();
  double mBelow = -std::numeric_limits<double>::infinity();
  bool mDecidable = true;
  LoudSums mSettled;
  bool mAnyAbove = false, mAnyBelow = false;
  double mLowestAbove = 0.0, mHighestBelow = 0.0;
  std::vector<Record> mNear;
};

} // namespace

bool LearnTargetFromFile(const std::string& pathUtf8, BandBalance& out, std::string& error)
{
  AudioData audio;
  DecodeFollower follower;
  audio.follower = &follower;
  bool decoded = false, finished = false;
  std::string decodeError;
  std::exception_ptr decodeFailure;
  std::thread decoder([&] {
    bool ok = false;
    try
    {
      ok = LoadAudioFile(pathUtf8, audio, decodeError, kReferenceMaxSeconds);
    }
    catch (...)
    {
      decodeFailure = std::current_exception();
    }
    {
      const std::lock_guard<std::mutex> lock(follower.lock);
      decoded = ok;
      finished = true;
    }
    follower.arrived.notify_all();
  });
  struct Joiner
  {
    std::thread& thread;
    ~Joiner()
    {
      if (thread.joinable())
        thread.join();
    }
  } joiner{decoder};

  // Analyse each stretch while the decoder fills the next.
  std::unique_ptr<FollowingLearner> learner;
  std::vector<float> stretch(DecodeFollower::kStretch);
  std::size_t consumed = 0;
  for (;;)
  {
    std::size_t n = 0;
    double fs = 0.0;
    {
      std::unique_lock<std::mutex> lock(follower.lock);
      follower.arrived.wait(lock, [&] { return finished || audio.samples.size() >= consumed + stretch.size(); });
      if (audio.samples.size() <= consumed)
        break;
      n = std::min(stretch.size(), audio.samples.size() - consumed);
      std::copy_n(audio.samples.data() + consumed, n, stretch.data());
      fs = audio.sampleRate;
    }
    if (!learner && RateIsUsable(fs))
      learner = std::make_unique<FollowingLearner>(fs);
    if (learner)
      learner->Feed(stretch.data(), n);
    consumed += n;
  }
  decoder.join();
  audio.follower = nullptr;
  if (decodeFailure)
    std::rethrow_exception(decodeFailure);
  if (!decoded)
  {
    error = decodeError;
    return false;
  }
  if (learner)
    switch (learner->Finish(audio.samples.size(), out, error))
    {
    case Outcome::kLearned:
      return true;
    case Outcome::kFailed:
      return false;
    case Outcome::kUndecided:
      break;
    }
  return LearnTargetFromSamples(audio.samples, audio.sampleRate, out, error);
}

} // namespace morvellan

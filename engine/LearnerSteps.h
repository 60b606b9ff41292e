#pragma once

#include "BandGeometry.h"
#include "ToneEngine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The steps a target learn is made of, shared by learning from a whole buffer and learning while
// a file is still being decoded, so both give the same answers.

namespace morvellan::learner {

constexpr int kMinBlocks = 40;          // 40 blocks of 50 ms: two seconds
constexpr double kSilentDb = -80.0;     // 90th-percentile block level below this is silence
constexpr double kGateBelowL90Db = 20.0;

// A sample that is not a number would poison every filter state after it; it counts as silence.
inline float Finite(float x) { return std::isfinite(x) ? x : 0.0f; }

inline bool RateIsUsable(double fs) { return std::isfinite(fs) && fs >= 1.0; }
inline std::size_t BlockLength(double fs) { return std::size_t(std::max(fs * 0.05, 1.0)); }

// The first control step whose 32-sample chunk starts after the half-second warm-up.
inline std::int64_t FirstCountedStep(double fs)
{
  const std::size_t warmUp = std::size_t(fs * 0.5);
  return std::int64_t((warmUp + kControlInterval - 1) / kControlInterval);
}

// Levels of whole 50 ms blocks, fed in pieces of any length; a partial block at the end is left out.
class BlockLevels
{
public:
  explicit BlockLevels(std::size_t blockLength) : mBlockLength(blockLength) {}

  void Add(const float* x, std::size_t n)
  {
    for (std::size_t i = 0; i < n; ++i)
    {
      const double v = Finite(x[i]);
      mSum += v * v;
      if (++mFill == mBlockLength)
      {
        mLevels.push_back(10.0 * std::log10(mSum / double(mBlockLength) + 1e-30));
        mSum = 0.0;
        mFill = 0;
      }
    }
  }

  std::size_t Count() const { return mLevels.size(); }

  // The level at index ⌊count·9/10⌋ in ascending order; `scratch` keeps its storage between calls.
  double Percentile90(std::vector<double>& scratch) const
  {
    scratch.assign(mLevels.begin(), mLevels.end());
    const auto at = scratch.begin() + std::ptrdiff_t(scratch.size() * 9 / 10);
    std::nth_element(scratch.begin(), at, scratch.end());
    return *at;
  }

private:
  std::size_t mBlockLength;
  std::size_t mFill = 0;
  double mSum = 0.0;
  std::vector<double> mLevels;
};

// A fresh engine that only analyses: amount 0, so the correction stays flat, and the gate at
// `thresholdDb`. It is large (the level history), so it lives on the heap rather than a stack.
std::unique_ptr<ToneEngine> MakeAnalysisEngine(double fs, double thresholdDb);

// The summed band powers of the loud steps after the warm-up.
struct LoudSums
{
  std::array<double, kNumBands> sums{};
  std::int64_t count = 0;

  void Add(const ToneEngine::Row& powers)
  {
    for (int k = 0; k < kNumBands; ++k)
      sums[std::size_t(k)] += powers[std::size_t(k)];
    ++count;
  }
};

// The balance of the loud steps, or false with the error for too little loud material.
bool BalanceFromSums(const LoudSums& loud, double fs, const ToneEngine& engine, BandBalance& out,
                     std::string& error);

} // namespace morvellan::learner

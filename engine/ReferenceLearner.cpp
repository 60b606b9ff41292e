#include "ReferenceLearner.h"

#include "ToneEngine.h"
#include "ToneEngineSettings.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace morvellan {
namespace {

// A sample that is not a number would poison every filter state after it; it counts as silence.
inline float Finite(float x) { return std::isfinite(x) ? x : 0.0f; }

constexpr int kMinBlocks = 40;          // 40 blocks of 50 ms: two seconds
constexpr double kSilentDb = -80.0;     // 90th-percentile block level below this is silence
constexpr double kGateBelowL90Db = 20.0;
constexpr double kMinLoudSeconds = 2.0;

} // namespace

bool LearnTargetFromSamples(const std::vector<float>& samples, double fs, BandBalance& out, std::string& error)
{
  if (!std::isfinite(fs) || fs < 1.0)
  {
    error = "the file's sample rate is not usable";
    return false;
  }

  const std::size_t blockLength = std::size_t(std::max(fs * 0.05, 1.0));
  if (samples.size() < std::size_t(kMinBlocks) * blockLength)
  {
    error = "the file is too short to learn from";
    return false;
  }

  const std::size_t blockCount = samples.size() / blockLength;
  std::vector<double> levels(blockCount);
  for (std::size_t j = 0; j < blockCount; ++j)
  {
    const float* block = samples.data() + j * blockLength;
    double sumSq = 0.0;
    for (std::size_t i = 0; i < blockLength; ++i)
    {
      const double x = Finite(block[i]);
      sumSq += x * x;
    }
    levels[j] = 10.0 * std::log10(sumSq / double(blockLength) + 1e-30);
  }
  const auto l90At = levels.begin() + std::ptrdiff_t(blockCount * 9 / 10);
  std::nth_element(levels.begin(), l90At, levels.end());
  const double l90 = *l90At;
  if (l90 < kSilentDb)
  {
    error = "the file is silent or too quiet to learn from";
    return false;
  }

  // Large (the level history), so it lives on the heap rather than the worker's stack.
  auto engine = std::make_unique<ToneEngine>();
  engine->Prepare(fs);
  ToneEngineSettings settings;
  settings.amount = 0.0;
  settings.thresholdDb = l90 - kGateBelowL90Db;
  engine->ApplySettings(settings);
  // Only the gate and the current band levels are read here, never the delayed averages. A guard
  // that no run of loud steps can outlast spares the engine keeping them; nothing read below
  // depends on them (with amount 0 the correction stays flat).
  engine->guard = std::numeric_limits<std::int32_t>::max() - engine->lookback;

  std::array<double, kNumBands> sums{};
  std::int64_t count = 0;
  const std::size_t warmUp = std::size_t(fs * 0.5);
  float chunk[kControlInterval];
  float scratch[kControlInterval];
  const float* inputs[1] = {chunk};
  float* outputs[1] = {scratch};
  for (std::size_t pos = 0; pos + kControlInterval <= samples.size(); pos += kControlInterval)
  {
    for (int i = 0; i < kControlInterval; ++i)
      chunk[i] = Finite(samples[pos + std::size_t(i)]);
    // Exactly one control step ends each chunk, so the gate and levels below are this chunk's.
    engine->ProcessSamples(inputs, outputs, 1, kControlInterval);
    if (pos >= warmUp && engine->aboveThreshold)
    {
      // 10^(level/10) as the engine's control step has it for its own averages.
      for (int k = 0; k < kNumBands; ++k)
        sums[std::size_t(k)] += engine->latestBandPower[std::size_t(k)];
      ++count;
    }
  }

  if (double(count) * kControlInterval / fs < kMinLoudSeconds)
  {
    error = "less than two seconds of the file was loud enough to learn from";
    return false;
  }

  // Bands disabled at this rate measured nothing; masking them keeps them at 0 dB and out of the mean.
  const BandBalance balance = ComputeBalance(sums, engine->bandEnabled);
  for (double v : balance)
    if (!std::isfinite(v))
    {
      error = "the file could not be analysed";
      return false;
    }
  out = balance;
  return true;
}

} // namespace morvellan

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

  // Each control step ends one chunk of 32 samples; the gate and levels it leaves are that chunk's.
  struct Tally
  {
    std::array<double, kNumBands> sums{};
    std::int64_t count = 0;
    std::int64_t step = 0;
    std::int64_t firstCountedStep = 0;
  } tally;
  // Steps whose chunk starts at or after the warm-up of half a second.
  const std::size_t warmUp = std::size_t(fs * 0.5);
  tally.firstCountedStep = std::int64_t((warmUp + kControlInterval - 1) / kControlInterval);
  engine->stepListenerContext = &tally;
  engine->stepListener = [](void* context, const ToneEngine& e) {
    Tally& t = *static_cast<Tally*>(context);
    if (t.step++ >= t.firstCountedStep && e.aboveThreshold)
    {
      // 10^(level/10) as the engine's control step has it for its own averages.
      for (int k = 0; k < kNumBands; ++k)
        t.sums[std::size_t(k)] += e.latestBandPower[std::size_t(k)];
      ++t.count;
    }
  };

  // Many steps per call spare the engine packing its filters for every chunk. The final partial
  // chunk is left out.
  constexpr std::size_t kSpan = 128 * kControlInterval;
  const std::size_t end = samples.size() / kControlInterval * kControlInterval;
  std::vector<float> span(kSpan);
  const float* inputs[1] = {span.data()};
  float* outputs[1] = {span.data()};
  for (std::size_t pos = 0; pos < end; pos += kSpan)
  {
    const std::size_t len = std::min(kSpan, end - pos);
    for (std::size_t i = 0; i < len; ++i)
      span[i] = Finite(samples[pos + i]);
    engine->ProcessSamples(inputs, outputs, 1, int(len));
  }
  const std::array<double, kNumBands>& sums = tally.sums;
  const std::int64_t count = tally.count;

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

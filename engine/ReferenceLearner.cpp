#include "ReferenceLearner.h"

#include "LearnerSteps.h"
#include "ToneEngine.h"
#include "ToneEngineSettings.h"

#include <cmath>

namespace morvellan {

namespace learner {

std::unique_ptr<ToneEngine> MakeAnalysisEngine(double fs, double thresholdDb)
{
  auto engine = std::make_unique<ToneEngine>();
  engine->Prepare(fs);
  ToneEngineSettings settings;
  settings.amount = 0.0;
  settings.thresholdDb = thresholdDb;
  engine->ApplySettings(settings);
  // Only the gate and the calibrated band powers are read (with amount 0 the correction stays flat).
  engine->analysisOnly = true;
  return engine;
}

bool BalanceFromSums(const LoudSums& loud, double fs, const ToneEngine& engine, BandBalance& out,
                     std::string& error)
{
  constexpr double kMinLoudSeconds = 2.0;
  if (double(loud.count) * kControlInterval / fs < kMinLoudSeconds)
  {
    error = "less than two seconds of the file was loud enough to learn from";
    return false;
  }
  // Bands disabled at this rate measured nothing; masking them keeps them at 0 dB and out of the mean.
  const BandBalance balance = ComputeBalance(loud.sums, engine.bandEnabled);
  for (double v : balance)
    if (!std::isfinite(v))
    {
      error = "the file could not be analysed";
      return false;
    }
  out = balance;
  return true;
}

} // namespace learner

bool LearnTargetFromSamples(const std::vector<float>& samples, double fs, BandBalance& out, std::string& error)
{
  using namespace learner;
  if (!RateIsUsable(fs))
  {
    error = "the file's sample rate is not usable";
    return false;
  }
  const std::size_t blockLength = BlockLength(fs);
  if (samples.size() < std::size_t(kMinBlocks) * blockLength)
  {
    error = "the file is too short to learn from";
    return false;
  }

  BlockLevels blocks(blockLength);
  blocks.Add(samples.data(), samples.size());
  std::vector<double> scratch;
  const double l90 = blocks.Percentile90(scratch);
  if (l90 < kSilentDb)
  {
    error = "the file is silent or too quiet to learn from";
    return false;
  }

  const auto engine = MakeAnalysisEngine(fs, l90 - kGateBelowL90Db);
  // Each control step ends one chunk of 32 samples; the gate and levels it leaves are that chunk's.
  struct Tally
  {
    LoudSums loud;
    std::int64_t step = 0;
    std::int64_t firstCounted = 0;
  } tally;
  tally.firstCounted = FirstCountedStep(fs);
  engine->stepListenerContext = &tally;
  engine->stepListener = [](void* context, const ToneEngine& e) {
    Tally& t = *static_cast<Tally*>(context);
    // latestBandPower is 10^(level/10) as the control step has it for its own averages.
    if (t.step++ >= t.firstCounted && e.aboveThreshold)
      t.loud.Add(e.latestBandPower);
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
  return BalanceFromSums(tally.loud, fs, *engine, out, error);
}

} // namespace morvellan

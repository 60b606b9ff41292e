#include "BenchAudio.h"
#include "ToneEngine.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

using namespace morvellan;

namespace {

using benchaudio::kBlock;
using benchaudio::kBlocksInSignal;
using benchaudio::kRate;
using benchaudio::Neutral;
using benchaudio::Noise;
using benchaudio::Worst;

enum class Mode
{
  kNeutral,
  kWorst,
  kWorstChanging
};

void ProcessStereo(benchmark::State& state, Mode mode, ToneEngine::Kernel kernel = ToneEngine::Kernel::kBlocked)
{
  const std::size_t frames = static_cast<std::size_t>(kBlock) * kBlocksInSignal;
  std::vector<double> inL = Noise(frames, 1), inR = Noise(frames, 2);
  std::vector<double> outL(kBlock), outR(kBlock);
  auto engine = std::make_unique<ToneEngine>();
  engine->kernel = kernel;
  engine->Prepare(kRate);
  ToneEngineSettings settings = mode == Mode::kNeutral ? Neutral() : Worst();
  engine->ApplySettings(settings);
  // Let the correction settle so that every correction filter is running.
  for (int b = 0; b < kBlocksInSignal * 3; ++b)
  {
    const std::size_t at = static_cast<std::size_t>(b % kBlocksInSignal) * kBlock;
    const double* in[2] = {inL.data() + at, inR.data() + at};
    double* out[2] = {outL.data(), outR.data()};
    engine->ProcessSamples(in, out, 2, kBlock);
  }
  if (mode != Mode::kNeutral && !engine->eqActive)
    state.SkipWithError("the correction did not engage");

  int block = 0;
  for (auto _ : state)
  {
    if (mode == Mode::kWorstChanging)
    {
      // One setting moves every block, as when the host automates a knob; the knob changes too.
      const double nudge = (block & 4) ? 1.0 : -1.0;
      switch (block & 3)
      {
      case 0:
        settings.tiltDbPerOct += 0.05 * nudge;
        break;
      case 1:
        settings.targetBands[1].freqHz *= 1.0 + 0.01 * nudge;
        break;
      case 2:
        settings.preEqBands[1].gainDb += 0.1 * nudge;
        break;
      default:
        settings.hpFreqHz *= 1.0 + 0.01 * nudge;
        break;
      }
      engine->ApplySettings(settings);
    }
    const std::size_t at = static_cast<std::size_t>(block % kBlocksInSignal) * kBlock;
    const double* in[2] = {inL.data() + at, inR.data() + at};
    double* out[2] = {outL.data(), outR.data()};
    engine->ProcessSamples(in, out, 2, kBlock);
    benchmark::DoNotOptimize(outL.data());
    benchmark::DoNotOptimize(outR.data());
    benchmark::ClobberMemory();
    ++block;
  }
  benchaudio::ReportAudioSpeed(state);
}

void BM_Neutral(benchmark::State& state) { ProcessStereo(state, Mode::kNeutral); }
void BM_WorstPath(benchmark::State& state) { ProcessStereo(state, Mode::kWorst); }
void BM_WorstPathSettingEveryBlock(benchmark::State& state) { ProcessStereo(state, Mode::kWorstChanging); }

// The worst path through each kernel, for comparison (the plain loop is the reference the others match).
void BM_WorstPathKernel(benchmark::State& state)
{
  ProcessStereo(state, Mode::kWorst, static_cast<ToneEngine::Kernel>(state.range(0)));
}

// One control step of a settled worst-path engine: levels, gate, averages, the matrix and the gains.
void BM_ControlStep(benchmark::State& state)
{
  const std::size_t frames = static_cast<std::size_t>(kBlock) * kBlocksInSignal;
  std::vector<double> inL = Noise(frames, 1), inR = Noise(frames, 2);
  std::vector<double> outL(kBlock), outR(kBlock);
  auto engine = std::make_unique<ToneEngine>();
  engine->Prepare(kRate);
  engine->ApplySettings(Worst());
  for (int b = 0; b < kBlocksInSignal * 3; ++b)
  {
    const std::size_t at = static_cast<std::size_t>(b % kBlocksInSignal) * kBlock;
    const double* in[2] = {inL.data() + at, inR.data() + at};
    double* out[2] = {outL.data(), outR.data()};
    engine->ProcessSamples(in, out, 2, kBlock);
  }
  if (!engine->eqActive)
    state.SkipWithError("the correction did not engage");
  for (auto _ : state)
  {
    engine->ControlStep();
    benchmark::DoNotOptimize(engine->currentGainDb.data());
    benchmark::ClobberMemory();
  }
}

void BM_PrepareNewRate(benchmark::State& state)
{
  auto engine = std::make_unique<ToneEngine>();
  bool flip = false;
  for (auto _ : state)
  {
    // Alternating rates, so the band calibration is recomputed every time.
    engine->Prepare(flip ? 44100.0 : 48000.0);
    flip = !flip;
    benchmark::DoNotOptimize(engine->correctionMatrix[0][0]);
  }
}

void BM_PrepareSameRate(benchmark::State& state)
{
  auto engine = std::make_unique<ToneEngine>();
  for (auto _ : state)
  {
    engine->Prepare(48000.0);
    benchmark::DoNotOptimize(engine->correctionMatrix[0][0]);
  }
}

} // namespace

BENCHMARK(BM_Neutral)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstPath)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstPathSettingEveryBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstPathKernel)
    ->Unit(benchmark::kMicrosecond)
    ->ArgName("kernel")
    ->Arg(static_cast<int>(ToneEngine::Kernel::kPlain))
    ->Arg(static_cast<int>(ToneEngine::Kernel::kBlockedBaseline))
    ->Arg(static_cast<int>(ToneEngine::Kernel::kBlockedAvx2))
    ->Arg(static_cast<int>(ToneEngine::Kernel::kBlockedAvx512));
BENCHMARK(BM_ControlStep)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_PrepareNewRate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareSameRate)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

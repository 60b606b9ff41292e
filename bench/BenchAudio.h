#pragma once

// What the engine and the whole-plug-in benchmarks share: the signal, the block and the settings
// of each processing path, so that the two measure the same work.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "ToneEngineSettings.h"

namespace benchaudio {

constexpr double kRate = 48000.0;
constexpr int kBlock = 512;
constexpr int kBlocksInSignal = 94; // about one second, looped

inline std::vector<double> Noise(std::size_t n, std::uint64_t seed)
{
  std::vector<double> out(n);
  std::uint64_t s = seed;
  double lp = 0.0;
  for (double& v : out)
  {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    const double white = static_cast<double>(s >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    lp += (white - lp) * 0.02;
    v = 0.2 * white + 0.8 * lp; // a bass-heavy mix, so the correction has work to do
  }
  return out;
}

inline morvellan::ToneEngineSettings Neutral()
{
  morvellan::ToneEngineSettings s;
  s.amount = 0.0;
  return s;
}

// Cut filters on, a pre-EQ gain, Amount 100 % with a tilt (all 12 correction filters run), output gain.
inline morvellan::ToneEngineSettings Worst()
{
  morvellan::ToneEngineSettings s;
  s.amount = 1.0;
  s.hpOn = true;
  s.hpFreqHz = 40.0;
  s.lpOn = true;
  s.lpFreqHz = 18000.0;
  s.preEqBands[1].gainDb = 3.0;
  s.tiltDbPerOct = 3.0;
  s.outputDb = -2.0;
  s.thresholdDb = -70.0;
  return s;
}

// Seconds of audio per second of CPU time, and CPU nanoseconds per (stereo) frame.
inline void ReportAudioSpeed(benchmark::State& state, int framesPerIteration = kBlock)
{
  const double frames = static_cast<double>(state.iterations()) * framesPerIteration;
  state.counters["realtime_x"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
  state.counters["ns_per_frame"] =
      benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace benchaudio

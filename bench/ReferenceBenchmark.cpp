// Learning from an 8-minute stereo 48 kHz reference in each format: wall time and peak heap.
// The files are generated once per run in a temporary folder and removed at exit.

#include "ReferenceFileReader.h"
#include "ReferenceLearner.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <malloc.h>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Heap use of C++ allocations (the mono buffer, the learner's engine and block levels).
std::atomic<std::size_t> gHeapNow{0};
std::atomic<std::size_t> gHeapPeak{0};

void NoteAlloc(std::size_t bytes)
{
  const std::size_t now = gHeapNow.fetch_add(bytes) + bytes;
  std::size_t peak = gHeapPeak.load();
  while (now > peak && !gHeapPeak.compare_exchange_weak(peak, now))
  {
  }
}

} // namespace

void* operator new(std::size_t bytes)
{
  void* p = std::malloc(bytes);
  if (!p)
    throw std::bad_alloc();
  NoteAlloc(malloc_usable_size(p));
  return p;
}
namespace {
void FreeCounted(void* p) noexcept
{
  if (p)
    gHeapNow.fetch_sub(malloc_usable_size(p));
  std::free(p);
}
} // namespace
void operator delete(void* p) noexcept { FreeCounted(p); }
void operator delete(void* p, std::size_t) noexcept { FreeCounted(p); }

namespace {

constexpr int kRate = 48000;
constexpr int kSeconds = 480;

struct Format
{
  const char* name;
  int format;
};
constexpr Format kFormats[] = {
    {"reference.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"reference.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {"reference.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {"reference.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
};

struct Folder
{
  Folder()
  {
    std::string pattern = (std::filesystem::temp_directory_path() / "mvrefbench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
      throw std::runtime_error("mkdtemp failed");
    root = pattern;
  }
  ~Folder()
  {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::filesystem::path root;
};

Folder& BenchFolder()
{
  static Folder folder;
  return folder;
}

// Two independent bass-heavy noises (white noise plus a one-pole low-pass), written in 1-second chunks.
std::string ReferenceFile(const Format& f)
{
  const std::string path = (BenchFolder().root / f.name).string();
  if (std::filesystem::exists(path))
    return path;
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = f.format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file)
    throw std::runtime_error(std::string("cannot write ") + path);
  std::vector<float> chunk(2 * kRate);
  std::uint32_t seed = 1;
  double lowL = 0, lowR = 0;
  for (int s = 0; s < kSeconds; ++s)
  {
    for (int t = 0; t < kRate; ++t)
    {
      seed = seed * 1664525u + 1013904223u;
      const double a = double(seed) / 2147483648.0 - 1.0;
      seed = seed * 1664525u + 1013904223u;
      const double b = double(seed) / 2147483648.0 - 1.0;
      lowL += (a - lowL) * 0.02;
      lowR += (b - lowR) * 0.02;
      chunk[std::size_t(2 * t)] = float(0.2 * a + 2.0 * lowL);
      chunk[std::size_t(2 * t + 1)] = float(0.2 * b + 2.0 * lowR);
    }
    sf_writef_float(file, chunk.data(), kRate);
  }
  sf_close(file);
  return path;
}

void BM_LearnFromReference(benchmark::State& state)
{
  const Format& format = kFormats[state.range(0)];
  const std::string path = ReferenceFile(format);
  std::size_t peakAbove = 0;
  std::size_t monoBytes = 0;
  {
    morvellan::AudioData audio;
    std::string error;
    morvellan::LoadAudioFile(path, audio, error, morvellan::kReferenceMaxSeconds);
    monoBytes = audio.samples.capacity() * sizeof(float);
  }
  for (auto _ : state)
  {
    const std::size_t base = gHeapNow.load();
    gHeapPeak.store(base);
    std::string error;
    morvellan::BandBalance balance{};
    if (!morvellan::LearnTargetFromFile(path, balance, error))
    {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(balance);
    peakAbove = gHeapPeak.load() - base;
  }
  state.SetLabel(format.name);
  state.counters["mono_MB"] = double(monoBytes) / 1e6;
  state.counters["peak_heap_MB"] = double(peakAbove) / 1e6;
  state.counters["extra_heap_MB"] = (double(peakAbove) - double(monoBytes)) / 1e6;
}

// The two halves apart: decoding alone, and learning from samples already in memory.
void BM_DecodeOnly(benchmark::State& state)
{
  const std::string path = ReferenceFile(kFormats[state.range(0)]);
  for (auto _ : state)
  {
    morvellan::AudioData audio;
    std::string error;
    benchmark::DoNotOptimize(morvellan::LoadAudioFile(path, audio, error, morvellan::kReferenceMaxSeconds));
  }
  state.SetLabel(kFormats[state.range(0)].name);
}

void BM_LearnOnly(benchmark::State& state)
{
  morvellan::AudioData audio;
  std::string error;
  morvellan::LoadAudioFile(ReferenceFile(kFormats[0]), audio, error, morvellan::kReferenceMaxSeconds);
  for (auto _ : state)
  {
    morvellan::BandBalance balance{};
    benchmark::DoNotOptimize(morvellan::LearnTargetFromSamples(audio.samples, audio.sampleRate, balance, error));
  }
}

} // namespace

BENCHMARK(BM_DecodeOnly)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_LearnOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_LearnFromReference)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

BENCHMARK_MAIN();

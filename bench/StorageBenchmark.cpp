// Costs on the UI thread: the idle callback at 50 calls a second, listing and
// picking preset files, and one atomic file write.

#include "Listing.h"
#include "Morvellan.h"
#include "PresetFile.h"
#include "StoredFiles.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace morvellan::offline;

namespace {

fs::path FreshFolder(const char* name)
{
  fs::path folder = fs::temp_directory_path() / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

const std::vector<uint8_t> kState(640, 0x5A);

// A current preset, nothing changed: every call compares the 72 values.
void BM_IdleWithCurrentPreset(benchmark::State& state)
{
  const fs::path data = FreshFolder("mvbench-idle");
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  auto* plug = static_cast<Morvellan*>(MakePlug(iplug::InstanceInfo{}));
  plug->SavePreset("Bench", false);
  plug->OnIdle();
  for (auto _ : state)
    plug->OnIdle();
  benchmark::DoNotOptimize(plug->mPresetModified);
  plug->release();
  fs::remove_all(data);
}
BENCHMARK(BM_IdleWithCurrentPreset)->Unit(benchmark::kMicrosecond);

// Opening the preset menu reads every file again.
void BM_ListPresets(benchmark::State& state)
{
  const fs::path folder = FreshFolder("mvbench-list");
  std::string error;
  for (int i = 0; i < state.range(0); ++i)
    WritePresetFile(kPresetFormat, folder, std::string("Preset ").append(std::to_string(i)), kState, error);
  for (auto _ : state)
    benchmark::DoNotOptimize(ListPresetFiles(kPresetFormat, folder));
  fs::remove_all(folder);
}
BENCHMARK(BM_ListPresets)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// The worst case of the numbered-name scan: all 1000 candidates hold other presets.
void BM_PresetFilePathFullScan(benchmark::State& state)
{
  const fs::path folder = FreshFolder("mvbench-scan");
  std::string error;
  const std::string text = FormatPresetText(kPresetFormat, "someone else", kState);
  WriteTextFileAtomic(folder / "Warm.mvpreset", text, error);
  for (int n = 1; n < 1000; ++n)
    WriteTextFileAtomic(folder / (std::string("Warm-").append(std::to_string(n)) + ".mvpreset"), text, error);
  for (auto _ : state)
    benchmark::DoNotOptimize(PresetFilePath(kPresetFormat, folder, "Warm"));
  fs::remove_all(folder);
}
BENCHMARK(BM_PresetFilePathFullScan)->Unit(benchmark::kMillisecond);

// One save: temporary file, flush to disk, rename.
void BM_WriteTextFileAtomic(benchmark::State& state)
{
  const fs::path folder = FreshFolder("mvbench-write");
  const std::string text = FormatPresetText(kPresetFormat, "Warm", kState);
  std::string error;
  for (auto _ : state)
    benchmark::DoNotOptimize(WriteTextFileAtomic(folder / "Warm.mvpreset", text, error));
  fs::remove_all(folder);
}
BENCHMARK(BM_WriteTextFileAtomic)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

// A large session sitting idle: 128 initialised instances with no editor and no audio. Reports
// the process's threads and the share of one core its threads use while nothing happens.

#include "Morvellan.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

int ThreadCount()
{
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task"))
    ++n;
  return n;
}

double CpuSeconds()
{
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

void BM_IdleSession(benchmark::State& state)
{
  const fs::path data = fs::temp_directory_path() / "mvbench-session";
  fs::remove_all(data);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  // Never the maker's server: a closed local port.
  setenv("HALVORSTED_UPDATES_URL", "http://127.0.0.1:9/updates.json", 1);
  const int instances = int(state.range(0));
  const auto seconds = std::chrono::seconds(10);
  for (auto _ : state)
  {
    const int threadsBefore = ThreadCount();
    std::vector<iplug::IPlugVST3*> plugs;
    for (int i = 0; i < instances; ++i)
    {
      plugs.push_back(MakePlug(iplug::InstanceInfo{}));
      plugs.back()->initialize(nullptr);
    }
    // Past the update check's first round, so only the steady idle load is measured.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const int threads = ThreadCount();
    const double cpuStart = CpuSeconds();
    std::this_thread::sleep_for(seconds);
    const double cpu = CpuSeconds() - cpuStart;
    for (auto* plug : plugs)
    {
      plug->terminate();
      plug->release();
    }
    state.counters["threads_added"] = threads - threadsBefore;
    state.counters["cpu_percent"] = 100.0 * cpu / double(seconds.count());
  }
  fs::remove_all(data);
}
BENCHMARK(BM_IdleSession)->Arg(1)->Arg(128)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();

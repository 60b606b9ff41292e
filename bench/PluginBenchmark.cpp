// The whole plug-in as a host runs it: IAudioProcessor::process on 512-frame stereo blocks, with
// the host's ProcessData and the automation it sends in the input parameter queues, at 32-bit and
// 64-bit samples. The paths are the engine benchmark's (same signal, same settings, as parameters),
// so the two runs side by side show what everything around the engine costs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "BenchAudio.h"
#include "IPeakAvgSender.h"
#include "Morvellan.h"
#include "Vst3TestObjects.h"

#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/vstspeaker.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using benchaudio::kBlock;
using benchaudio::kBlocksInSignal;
using benchaudio::kRate;

namespace {

// The parameter values that make the plug-in configure its engine with these settings.
std::vector<std::pair<int, double>> ParameterValues(const morvellan::ToneEngineSettings& s)
{
  std::vector<std::pair<int, double>> v = {
      {kAmount, s.amount * 100.0},
      {kSpeed, s.speed * 100.0},
      {kThreshold, s.thresholdDb},
      {kMaxBoost, s.maxBoostDb},
      {kMaxCut, s.maxCutDb},
      {kHPOn, s.hpOn ? 1.0 : 0.0},
      {kHPFreq, s.hpFreqHz},
      {kLPOn, s.lpOn ? 1.0 : 0.0},
      {kLPFreq, s.lpFreqHz},
      {::kOutput, s.outputDb},
      {kTilt, s.tiltDbPerOct},
      {kRangeLow, s.rangeLowHz},
      {kRangeHigh, s.rangeHighHz},
      {kPreEqRespect, s.respect * 100.0},
      {kPreEq1Shelf, s.preEqBands[0].shelf ? 1.0 : 0.0},
      {kPreEq4Shelf, s.preEqBands[3].shelf ? 1.0 : 0.0},
  };
  constexpr int kTargetFirst[] = {kLowTarget, kBodyTarget, kPresenceTarget, kAirTarget};
  for (int b = 0; b < morvellan::kNumTargetBands; ++b)
  {
    const auto& band = s.targetBands[static_cast<std::size_t>(b)];
    v.insert(v.end(), {{kTargetFirst[b], band.gainDb}, {kTargetFirst[b] + 1, band.freqHz},
                       {kTargetFirst[b] + 2, band.on ? 1.0 : 0.0}});
  }
  constexpr int kPreEqFirst[] = {kPreEq1Gain, kPreEq2Gain, kPreEq3Gain, kPreEq4Gain};
  for (int b = 0; b < morvellan::kNumPreEqBands; ++b)
  {
    const auto& band = s.preEqBands[static_cast<std::size_t>(b)];
    v.insert(v.end(), {{kPreEqFirst[b], band.gainDb}, {kPreEqFirst[b] + 1, band.freqHz},
                       {kPreEqFirst[b] + 2, band.q}, {kPreEqFirst[b] + 3, band.on ? 1.0 : 0.0}});
  }
  return v;
}

enum class Path
{
  kNeutral,
  kWorst,
  kBypassed,     // the plug-in's own Bypass parameter over the worst path's settings
  kHostBypassed, // the host's bypass (the VST3 bypass parameter)
};

template <class T>
struct HostBuffers
{
  HostBuffers()
  {
    const std::size_t frames = static_cast<std::size_t>(kBlock) * kBlocksInSignal;
    const std::vector<double> left = benchaudio::Noise(frames, 1), right = benchaudio::Noise(frames, 2);
    in[0].assign(left.begin(), left.end());
    in[1].assign(right.begin(), right.end());
    for (auto& o : out)
      o.assign(static_cast<std::size_t>(kBlock), T(0));
  }
  // Points the buses at block b of the looped signal.
  void Point(int b)
  {
    const std::size_t at = static_cast<std::size_t>(b % kBlocksInSignal) * kBlock;
    for (int c = 0; c < 2; ++c)
    {
      inPtrs[c] = in[c].data() + at;
      outPtrs[c] = out[c].data();
    }
  }
  std::vector<T> in[2], out[2];
  T* inPtrs[2] = {};
  T* outPtrs[2] = {};
};

template <class T>
void ProcessThroughHost(benchmark::State& state, Path path)
{
  constexpr bool k64 = std::is_same_v<T, double>;
  auto* plug = static_cast<Morvellan*>(MakePlug(iplug::InstanceInfo{}));
  IAudioProcessor* processor = plug;
  IComponent* component = nullptr;
  IEditController* controller = nullptr;
  processor->queryInterface(IComponent::iid, reinterpret_cast<void**>(&component));
  processor->queryInterface(IEditController::iid, reinterpret_cast<void**>(&controller));

  component->initialize(nullptr);
  SpeakerArrangement stereo = SpeakerArr::kStereo;
  processor->setBusArrangements(&stereo, 1, &stereo, 1);
  ProcessSetup setup{kRealtime, k64 ? kSample64 : kSample32, kBlock, kRate};
  processor->setupProcessing(setup);
  component->setActive(true);
  processor->setProcessing(true);

  HostBuffers<T> buffers;
  AudioBusBuffers inBus{}, outBus{};
  inBus.numChannels = outBus.numChannels = 2;
  // The host's queues are filled before the loop; the loop itself allocates nothing.
  testhost::ParameterChanges changes;
  ProcessData data = testhost::OneBusProcessData(inBus, outBus, setup.symbolicSampleSize, kBlock, &changes);

  auto normalized = [&](int index, double plain) {
    return controller->plainParamToNormalized(static_cast<ParamID>(index), plain);
  };
  auto run = [&](int b) {
    buffers.Point(b);
    if constexpr (k64)
    {
      inBus.channelBuffers64 = buffers.inPtrs;
      outBus.channelBuffers64 = buffers.outPtrs;
    }
    else
    {
      inBus.channelBuffers32 = buffers.inPtrs;
      outBus.channelBuffers32 = buffers.outPtrs;
    }
    processor->process(data);
  };

  // The first block carries the whole setting, as a host starting playback sends it.
  const morvellan::ToneEngineSettings settings = path == Path::kNeutral ? benchaudio::Neutral() : benchaudio::Worst();
  for (const auto& [index, plain] : ParameterValues(settings))
    changes.Add(static_cast<ParamID>(index), 0, normalized(index, plain));
  changes.Add(kBypass, 0, path == Path::kBypassed ? 1.0 : 0.0);
  changes.Add(iplug::IPlugVST3::kBypassParamID, 0, path == Path::kHostBypassed ? 1.0 : 0.0);
  run(0);

  // From then on every block carries three automated parameters that hold their values.
  changes.queues.clear();
  changes.Add(kAmount, 0, normalized(kAmount, settings.amount * 100.0));
  changes.Add(kTilt, 0, normalized(kTilt, settings.tiltDbPerOct));
  changes.Add(::kOutput, 0, normalized(::kOutput, settings.outputDb));

  // Let the correction settle so that every correction filter is running.
  for (int b = 1; b < kBlocksInSignal * 3; ++b)
    run(b);
  if (path == Path::kWorst && !(plug->mEngine.eqActive && plug->mEngine.preEqActive && plug->mEngine.settings.hpOn &&
                                plug->mEngine.settings.lpOn && plug->mEngine.outputGain != 1.0))
    state.SkipWithError("the worst path is not running");

  int block = 0;
  for (auto _ : state)
  {
    run(block++);
    benchmark::DoNotOptimize(buffers.out[0].data());
    benchmark::DoNotOptimize(buffers.out[1].data());
    benchmark::ClobberMemory();
  }
  benchaudio::ReportAudioSpeed(state);

  processor->setProcessing(false);
  component->setActive(false);
  component->terminate();
  controller->release();
  component->release();
  plug->release();
}

void BM_PluginNeutral(benchmark::State& state)
{
  state.range(0) == 64 ? ProcessThroughHost<double>(state, Path::kNeutral)
                       : ProcessThroughHost<float>(state, Path::kNeutral);
}
void BM_PluginWorstPath(benchmark::State& state)
{
  state.range(0) == 64 ? ProcessThroughHost<double>(state, Path::kWorst) : ProcessThroughHost<float>(state, Path::kWorst);
}
void BM_PluginBypassed(benchmark::State& state)
{
  state.range(0) == 64 ? ProcessThroughHost<double>(state, Path::kBypassed)
                       : ProcessThroughHost<float>(state, Path::kBypassed);
}
void BM_PluginHostBypassed(benchmark::State& state)
{
  state.range(0) == 64 ? ProcessThroughHost<double>(state, Path::kHostBypassed)
                       : ProcessThroughHost<float>(state, Path::kHostBypassed);
}

// Both level meters over a stereo block, as the audio callback feeds them (input and output),
// with the queue emptied every 20 ms of audio as the idle timer does.
void BM_Meters(benchmark::State& state)
{
  const std::size_t frames = static_cast<std::size_t>(kBlock) * kBlocksInSignal;
  const std::vector<double> left = benchaudio::Noise(frames, 1), right = benchaudio::Noise(frames, 2);
  iplug::IPeakAvgSender<1> input(-90.0, true, 5.f, 1.f, 100.f, 500.f), output(-90.0, true, 5.f, 1.f, 100.f, 500.f);
  input.Reset(kRate);
  output.Reset(kRate);
  iplug::IEditorDelegate ui(0);
  int block = 0;
  for (auto _ : state)
  {
    const std::size_t at = static_cast<std::size_t>(block % kBlocksInSignal) * kBlock;
    const double* in[2] = {left.data() + at, right.data() + at};
    const double* out[2] = {right.data() + at, left.data() + at};
    input.ProcessMix(in, 2, kBlock, kCtrlTagInputMeter);
    output.ProcessMix(out, 2, kBlock, kCtrlTagOutputMeter);
    if (++block % 2 == 0)
    {
      input.TransmitData(ui);
      output.TransmitData(ui);
    }
  }
  benchaudio::ReportAudioSpeed(state);
}

} // namespace

BENCHMARK(BM_PluginNeutral)->ArgName("bits")->Arg(32)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PluginWorstPath)->ArgName("bits")->Arg(32)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PluginBypassed)->ArgName("bits")->Arg(32)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PluginHostBypassed)->ArgName("bits")->Arg(32)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Meters)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

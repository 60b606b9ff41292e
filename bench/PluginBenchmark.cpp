// The whole plug-in as a host runs it: IAudioProcessor::process on 512-frame stereo blocks, with
// the host's ProcessData and the automation it sends in the input parameter queues, at 32-bit and
// 64-bit samples. The paths are the engine benchmark's (same signal, same settings, as parameters),
// so the two runs side by side show what everything around the engine costs.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "BenchAudio.h"
#include "IPeakAvgSender.h"
#include "Morvellan.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/vstspeaker.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using benchaudio::kBlock;
using benchaudio::kBlocksInSignal;
using benchaudio::kRate;

namespace {

// Host-side parameter queues of fixed capacity, refilled before each block the way a host's are:
// nothing is allocated per block.
class HostQueue : public IParamValueQueue
{
public:
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return 1; }
  uint32 PLUGIN_API release() override { return 1; }
  ParamID PLUGIN_API getParameterId() override { return id; }
  int32 PLUGIN_API getPointCount() override { return count; }
  tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, ParamValue& value) override
  {
    if (index < 0 || index >= count)
      return kResultFalse;
    sampleOffset = points[static_cast<std::size_t>(index)].first;
    value = points[static_cast<std::size_t>(index)].second;
    return kResultTrue;
  }
  tresult PLUGIN_API addPoint(int32 sampleOffset, ParamValue value, int32& index) override
  {
    if (count >= static_cast<int32>(points.size()))
      return kResultFalse;
    index = count;
    points[static_cast<std::size_t>(count++)] = {sampleOffset, value};
    return kResultTrue;
  }

  ParamID id = 0;
  int32 count = 0;
  std::array<std::pair<int32, ParamValue>, 4> points{};
};

class HostChanges : public IParameterChanges
{
public:
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return 1; }
  uint32 PLUGIN_API release() override { return 1; }
  int32 PLUGIN_API getParameterCount() override { return count; }
  IParamValueQueue* PLUGIN_API getParameterData(int32 index) override
  {
    return index >= 0 && index < count ? &queues[static_cast<std::size_t>(index)] : nullptr;
  }
  IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override
  {
    for (int32 i = 0; i < count; ++i)
      if (queues[static_cast<std::size_t>(i)].id == id)
      {
        index = i;
        return &queues[static_cast<std::size_t>(i)];
      }
    if (count >= static_cast<int32>(queues.size()))
      return nullptr;
    index = count;
    HostQueue& q = queues[static_cast<std::size_t>(count++)];
    q.id = id;
    q.count = 0;
    return &q;
  }

  void Clear() { count = 0; }
  void Add(ParamID id, int32 offset, ParamValue value)
  {
    int32 index = 0;
    if (IParamValueQueue* q = addParameterData(id, index))
      q->addPoint(offset, value, index);
  }

private:
  std::array<HostQueue, 64> queues{};
  int32 count = 0;
};

// The parameter values that make the plug-in configure its engine with these settings.
std::vector<std::pair<int, double>> ParameterValues(const morvellan::ToneEngineSettings& s)
{
  std::vector<std::pair<int, double>> v = {
      {kAmount, s.amount * 100.0},   {kSpeed, s.speed * 100.0},      {kThreshold, s.thresholdDb},
      {kMaxBoost, s.maxBoostDb},     {kMaxCut, s.maxCutDb},          {kHPOn, s.hpOn ? 1.0 : 0.0},
      {kHPFreq, s.hpFreqHz},         {kLPOn, s.lpOn ? 1.0 : 0.0},    {kLPFreq, s.lpFreqHz},
      {::kOutput, s.outputDb},         {kTilt, s.tiltDbPerOct},        {kRangeLow, s.rangeLowHz},
      {kRangeHigh, s.rangeHighHz},   {kPreEqRespect, s.respect * 100.0},
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
  HostChanges changes;
  ProcessData data{};
  data.processMode = kRealtime;
  data.symbolicSampleSize = setup.symbolicSampleSize;
  data.numSamples = kBlock;
  data.numInputs = data.numOutputs = 1;
  data.inputs = &inBus;
  data.outputs = &outBus;
  data.inputParameterChanges = &changes;

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
  changes.Clear();
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

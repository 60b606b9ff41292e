#pragma once

// A tiny plug-in on the framework: output = input x "Gain" (a second, non-automatable
// switch does nothing). It counts the framework's calls so tests can see them.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "IPlugVST3.h"

namespace testplug
{

enum EParams
{
  kGain = 0,
  kHidden,
  kNumParams
};

inline iplug::Config MakeConfig()
{
  iplug::Config c;
  c.nParams = kNumParams;
  c.nPresets = 1;
  c.channelIOStr = "1-1 2-2";
  c.pluginName = "TestPlug";
  c.productName = "TestPlug";
  c.mfrName = "Tests";
  c.plugWidth = 300;
  c.plugHeight = 200;
  return c;
}

// Observations that outlive an instance.
struct Probe
{
  std::atomic<int> idleCalls{0};
  std::atomic<bool> inIdle{false};
  std::atomic<bool> overlap{false};         // a UI entry ran while OnIdle was running
  std::atomic<bool> idleAfterDtor{false};   // OnIdle ran once destruction had begun
  std::atomic<bool> destroying{false};
  std::atomic<int> destroyed{0};
  std::atomic<int> idleSleepMs{0};
};

inline Probe& GetProbe()
{
  static Probe probe;
  return probe;
}

class TestPlug final : public iplug::IPlugVST3
{
public:
  explicit TestPlug(const iplug::InstanceInfo& info = {}) : iplug::IPlugVST3(info, MakeConfig())
  {
    GetParam(kGain)->InitDouble("Gain", 1., 0., 4., 0.01, "x");
    GetParam(kHidden)->InitBool("Hidden", false, "", iplug::IParam::kFlagCannotAutomate);
  }

  ~TestPlug() override
  {
    GetProbe().destroying = true;
    // Long enough that a still-running timer would call OnIdle in here.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    GetProbe().destroyed++;
    GetProbe().destroying = false;
  }

  void ProcessBlock(iplug::sample** inputs, iplug::sample** outputs, int nFrames) override
  {
    const double g = GetParam(kGain)->Value();
    const int nIn = NChannelsConnected(iplug::kInput);
    const int nOut = NChannelsConnected(iplug::kOutput);
    lastIn = nIn;
    lastOut = nOut;
    lastFrames = nFrames;
    ++blocks;
    for (int c = 0; c < nOut; ++c)
      for (int s = 0; s < nFrames; ++s)
        outputs[c][s] = c < nIn ? inputs[c][s] * g : 0.;
  }

  void OnReset() override
  {
    ++resets;
    resetRate = GetSampleRate();
    resetBlock = GetBlockSize();
  }

  void OnIdle() override
  {
    Probe& p = GetProbe();
    if (p.destroying)
      p.idleAfterDtor = true;
    p.inIdle = true;
    if (p.idleSleepMs > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(p.idleSleepMs.load()));
    p.idleCalls++;
    p.inIdle = false;
  }

  void OnParamChangeUI(int paramIdx, iplug::EParamSource source) override
  {
    if (GetProbe().inIdle)
      GetProbe().overlap = true;
    if (paramIdx == kGain && source == iplug::kHost)
      gainChangesSeenByUI++;
  }

  void OnParamChange(int paramIdx, iplug::EParamSource source, int) override
  {
    lastChanged = paramIdx;
    lastSource = source;
  }

  // "SetGain" with an int attribute "value" sets the gain and answers with "done" = 1.
  bool OnHostMessage(const char* messageId, Steinberg::Vst::IAttributeList* attributes) override
  {
    if (std::string(messageId) != "SetGain" || !attributes)
      return false;
    Steinberg::int64 value = 0;
    if (attributes->getInt("value", value) != Steinberg::kResultTrue)
      return false;
    GetParam(kGain)->Set(static_cast<double>(value));
    attributes->setInt("done", 1);
    return true;
  }

  // Test access to the host-informing side.
  using iplug::IPlugVST3::GetComponentHandler;

  int lastIn = -1, lastOut = -1, lastFrames = -1, blocks = 0, resets = 0, resetBlock = 0;
  double resetRate = 0.;
  std::atomic<int> gainChangesSeenByUI{0};
  int lastChanged = -1;
  iplug::EParamSource lastSource = iplug::kUnknown;
};

} // namespace testplug

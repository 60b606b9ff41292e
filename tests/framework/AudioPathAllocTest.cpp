#include <atomic>
#include <vector>

#include <gtest/gtest.h>

#include "IPeakAvgSender.h"
#include "TestPlug.h"
#include "Vst3TestObjects.h"

#include "AllocCounter.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace
{

using alloccount::CountScope;
using alloccount::gAllocations;

template <class T>
void ProcessMany(testplug::TestPlug& plug, int32 sampleSize)
{
  const int n = 1000; // above the block size, so the framework splits it
  std::vector<std::vector<T>> in(2, std::vector<T>(n, T(0.25))), out(2, std::vector<T>(n));
  T* inPtrs[2] = {in[0].data(), in[1].data()};
  T* outPtrs[2] = {out[0].data(), out[1].data()};
  AudioBusBuffers inBus{}, outBus{};
  inBus.numChannels = outBus.numChannels = 2;
  if constexpr (std::is_same_v<T, float>)
  {
    inBus.channelBuffers32 = inPtrs;
    outBus.channelBuffers32 = outPtrs;
  }
  else
  {
    inBus.channelBuffers64 = inPtrs;
    outBus.channelBuffers64 = outPtrs;
  }
  testhost::ParameterChanges changes;
  changes.Add(testplug::kGain, 3, 0.5);
  changes.Add(iplug::IPlugVST3::kBypassParamID, 0, 0.);
  ProcessData data{};
  data.symbolicSampleSize = sampleSize;
  data.numSamples = n;
  data.numInputs = data.numOutputs = 1;
  data.inputs = &inBus;
  data.outputs = &outBus;
  data.inputParameterChanges = &changes;

  CountScope counting;
  for (int i = 0; i < 50; ++i)
  {
    changes.queues[1].points[0].second = (i % 3 == 0) ? 1. : 0.; // toggle the host bypass now and then
    data.numSamples = (i % 7 == 0) ? 0 : n;
    plug.process(data);
  }
}

TEST(AudioPath, ProcessAllocatesNothing)
{
  if (!alloccount::kActive)
    GTEST_SKIP() << "the sanitizer owns operator new in this build";
  auto* plug = new testplug::TestPlug();
  ProcessSetup setup{kRealtime, kSample32, 256, 48000.};
  ASSERT_EQ(plug->setupProcessing(setup), kResultOk);
  ASSERT_EQ(plug->setActive(true), kResultOk);
  ASSERT_EQ(plug->setProcessing(true), kResultOk);
  gAllocations = 0;
  ProcessMany<float>(*plug, kSample32);
  ProcessMany<double>(*plug, kSample64);
  EXPECT_EQ(gAllocations, 0);
  plug->release();
}

TEST(AudioPath, MeterSenderAllocatesNothing)
{
  if (!alloccount::kActive)
    GTEST_SKIP() << "the sanitizer owns operator new in this build";
  iplug::IPeakAvgSender<1> sender;
  sender.Reset(48000.);
  std::vector<double> signal(4096, 0.5);
  const double* chans[1] = {signal.data()};
  gAllocations = 0;
  {
    CountScope counting;
    for (int i = 0; i < 100; ++i)
      sender.ProcessBlock(chans, 4096, 2, 1, 0);
  }
  EXPECT_EQ(gAllocations, 0);
}

// The counter itself works: an allocation in a counting scope is seen.
TEST(AudioPath, CounterSeesAllocations)
{
  if (!alloccount::kActive)
    GTEST_SKIP() << "the sanitizer owns operator new in this build";
  gAllocations = 0;
  {
    CountScope counting;
    auto* p = new std::vector<int>(10);
    delete p;
  }
  EXPECT_GE(gAllocations, 2);
}

} // namespace

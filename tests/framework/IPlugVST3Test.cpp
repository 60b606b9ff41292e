#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pluginterfaces/vst/vstspeaker.h"

#include "TestPlug.h"
#include "Vst3TestObjects.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using testplug::TestPlug;

namespace
{

std::u16string U16(const TChar* s)
{
  std::u16string out;
  for (; *s; ++s)
    out += static_cast<char16_t>(*s);
  return out;
}

// Channel buffers of one bus for either sample size.
template <class T>
struct Bus
{
  Bus(int nChans, int nFrames) : data(static_cast<size_t>(nChans), std::vector<T>(static_cast<size_t>(nFrames)))
  {
    for (auto& ch : data)
      ptrs.push_back(ch.data());
  }
  AudioBusBuffers Buffers()
  {
    AudioBusBuffers b{};
    b.numChannels = static_cast<int32>(ptrs.size());
    if constexpr (std::is_same_v<T, float>)
      b.channelBuffers32 = ptrs.data();
    else
      b.channelBuffers64 = ptrs.data();
    return b;
  }
  std::vector<std::vector<T>> data;
  std::vector<T*> ptrs;
};

class PlugFixture : public ::testing::Test
{
protected:
  void SetUp() override { plug = new TestPlug(); }
  void TearDown() override { plug->release(); }

  void Activate(int32 sampleSize, int32 maxBlock = 256, double rate = 48000.)
  {
    ProcessSetup setup{kRealtime, sampleSize, maxBlock, rate};
    ASSERT_EQ(plug->setupProcessing(setup), kResultOk);
    ASSERT_EQ(plug->setActive(true), kResultOk);
    ASSERT_EQ(plug->setProcessing(true), kResultOk);
  }

  template <class T>
  tresult Run(Bus<T>* in, Bus<T>* out, int nFrames, IParameterChanges* changes = nullptr)
  {
    AudioBusBuffers inBuf = in ? in->Buffers() : AudioBusBuffers{};
    AudioBusBuffers outBuf = out ? out->Buffers() : AudioBusBuffers{};
    ProcessData data{};
    data.processMode = kRealtime;
    data.symbolicSampleSize = std::is_same_v<T, float> ? kSample32 : kSample64;
    data.numSamples = nFrames;
    data.numInputs = in ? 1 : 0;
    data.numOutputs = out ? 1 : 0;
    data.inputs = in ? &inBuf : nullptr;
    data.outputs = out ? &outBuf : nullptr;
    data.inputParameterChanges = changes;
    const tresult r = plug->process(data);
    lastSilence = outBuf.silenceFlags;
    return r;
  }

  TestPlug* plug = nullptr;
  uint64 lastSilence = 0;
};

TEST_F(PlugFixture, BusArrangementsFollowTheChannelIOString)
{
  EXPECT_EQ(plug->getBusCount(kAudio, kInput), 1);
  EXPECT_EQ(plug->getBusCount(kAudio, kOutput), 1);
  EXPECT_EQ(plug->getBusCount(kEvent, kInput), 0);
  SpeakerArrangement arr = 0;
  ASSERT_EQ(plug->getBusArrangement(kOutput, 0, arr), kResultOk);
  EXPECT_EQ(arr, SpeakerArr::kStereo); // the widest layout by default
  EXPECT_EQ(plug->getBusArrangement(kOutput, 1, arr), kInvalidArgument);

  SpeakerArrangement mono = SpeakerArr::kMono, stereo = SpeakerArr::kStereo, surround = SpeakerArr::k51;
  EXPECT_EQ(plug->setBusArrangements(&mono, 1, &mono, 1), kResultTrue);
  BusInfo info{};
  ASSERT_EQ(plug->getBusInfo(kAudio, kInput, 0, info), kResultOk);
  EXPECT_EQ(info.channelCount, 1);
  EXPECT_EQ(info.busType, kMain);
  EXPECT_EQ(U16(info.name), u"Input");

  // Layouts the plug-in does not declare are refused and leave the current one.
  EXPECT_EQ(plug->setBusArrangements(&mono, 1, &stereo, 1), kResultFalse);
  EXPECT_EQ(plug->setBusArrangements(&surround, 1, &surround, 1), kResultFalse);
  SpeakerArrangement two[2] = {stereo, stereo};
  EXPECT_EQ(plug->setBusArrangements(two, 2, two, 2), kResultFalse);
  EXPECT_EQ(plug->setBusArrangements(&stereo, 1, &stereo, 0), kResultFalse);
  ASSERT_EQ(plug->getBusArrangement(kInput, 0, arr), kResultOk);
  EXPECT_EQ(arr, SpeakerArr::kMono);

  EXPECT_EQ(plug->setBusArrangements(&stereo, 1, &stereo, 1), kResultTrue);
  // Not while active.
  ASSERT_EQ(plug->setActive(true), kResultOk);
  EXPECT_EQ(plug->setBusArrangements(&mono, 1, &mono, 1), kResultFalse);
  ASSERT_EQ(plug->setActive(false), kResultOk);
  EXPECT_EQ(plug->setBusArrangements(&mono, 1, &mono, 1), kResultTrue);
}

TEST_F(PlugFixture, SetupAndActivationReachOnReset)
{
  EXPECT_EQ(plug->canProcessSampleSize(kSample32), kResultTrue);
  EXPECT_EQ(plug->canProcessSampleSize(kSample64), kResultTrue);
  EXPECT_EQ(plug->canProcessSampleSize(7), kResultFalse);
  EXPECT_EQ(plug->getLatencySamples(), 0u);
  EXPECT_EQ(plug->getTailSamples(), kNoTail);

  ProcessSetup bad{kRealtime, kSample32, 0, 48000.};
  EXPECT_EQ(plug->setupProcessing(bad), kResultFalse);
  bad = {kRealtime, kSample32, 128, std::numeric_limits<double>::quiet_NaN()};
  EXPECT_EQ(plug->setupProcessing(bad), kResultFalse);

  Activate(kSample64, 333, 96000.);
  EXPECT_EQ(plug->resets, 1);
  EXPECT_EQ(plug->resetRate, 96000.);
  EXPECT_EQ(plug->resetBlock, 333);
  // Setup may not change while processing.
  ProcessSetup again{kRealtime, kSample32, 64, 44100.};
  EXPECT_EQ(plug->setupProcessing(again), kResultFalse);
  plug->setProcessing(false);
  plug->setActive(false);
}

TEST_F(PlugFixture, Process32And64BitWithParameterChangesFirst)
{
  for (int32 size : {kSample32, kSample64})
  {
    Activate(size, 256);
    testhost::ParameterChanges changes;
    changes.Add(testplug::kGain, 100, 0.5); // gain 2, applied before the block
    const int n = 700;                       // more than the block size: processed in pieces
    auto check = [&](auto& in, auto& out) {
      for (int c = 0; c < 2; ++c)
        for (int s = 0; s < n; ++s)
          in.data[static_cast<size_t>(c)][static_cast<size_t>(s)] = static_cast<float>((s % 37) - 18) / 32.f + c;
      ASSERT_EQ(Run(&in, &out, n, &changes), kResultOk);
      for (int c = 0; c < 2; ++c)
        for (int s = 0; s < n; ++s)
          ASSERT_EQ(out.data[static_cast<size_t>(c)][static_cast<size_t>(s)],
                    2 * ((static_cast<float>((s % 37) - 18) / 32.f) + c))
            << "channel " << c << " frame " << s;
    };
    if (size == kSample32)
    {
      Bus<float> in(2, n), out(2, n);
      check(in, out);
    }
    else
    {
      Bus<double> in(2, n), out(2, n);
      check(in, out);
    }
    EXPECT_DOUBLE_EQ(plug->GetParam(testplug::kGain)->Value(), 2.);
    EXPECT_EQ(plug->lastChanged, testplug::kGain);
    EXPECT_EQ(plug->lastSource, iplug::kHost);
    EXPECT_LE(plug->lastFrames, 256);
    EXPECT_EQ(plug->lastIn, 2);
    EXPECT_EQ(plug->lastOut, 2);
    plug->setProcessing(false);
    plug->setActive(false);
  }
}

TEST_F(PlugFixture, InPlaceBuffersReadTheInputBeforeWriting)
{
  Activate(kSample64, 64);
  plug->GetParam(testplug::kGain)->Set(3.);
  Bus<double> io(2, 64);
  for (int s = 0; s < 64; ++s)
    io.data[0][static_cast<size_t>(s)] = io.data[1][static_cast<size_t>(s)] = s;
  ASSERT_EQ(Run(&io, &io, 64), kResultOk);
  for (int s = 0; s < 64; ++s)
    EXPECT_EQ(io.data[0][static_cast<size_t>(s)], 3. * s);
}

TEST_F(PlugFixture, MonoLayoutAndMissingBuses)
{
  SpeakerArrangement mono = SpeakerArr::kMono;
  ASSERT_EQ(plug->setBusArrangements(&mono, 1, &mono, 1), kResultTrue);
  Activate(kSample32, 128);
  plug->GetParam(testplug::kGain)->Set(0.5);
  Bus<float> in(1, 100), out(1, 100);
  in.data[0].assign(100, 0.25f);
  ASSERT_EQ(Run(&in, &out, 100), kResultOk);
  EXPECT_EQ(plug->lastIn, 1);
  EXPECT_EQ(plug->lastOut, 1);
  EXPECT_EQ(out.data[0][99], 0.125f);

  // A host that hands more channels than the layout: only the layout's are used, the rest is silenced.
  Bus<float> in3(3, 16), out3(3, 16);
  for (auto& ch : in3.data)
    ch.assign(16, 1.f);
  out3.data[2].assign(16, 9.f);
  ASSERT_EQ(Run(&in3, &out3, 16), kResultOk);
  EXPECT_EQ(plug->lastIn, 1);
  EXPECT_EQ(out3.data[0][0], 0.5f);
  EXPECT_EQ(out3.data[2][5], 0.f);

  // No input bus at all.
  ASSERT_EQ(Run<float>(nullptr, &out, 100), kResultOk);
  EXPECT_EQ(plug->lastIn, 0);
  EXPECT_EQ(out.data[0][0], 0.f);

  // A null channel pointer counts as no channel.
  in.ptrs[0] = nullptr;
  ASSERT_EQ(Run(&in, &out, 100), kResultOk);
  EXPECT_EQ(plug->lastIn, 0);
}

TEST_F(PlugFixture, ZeroFrameAndParameterOnlyCalls)
{
  Activate(kSample32);
  testhost::ParameterChanges changes;
  changes.Add(testplug::kGain, 0, 0.75);
  ASSERT_EQ(Run<float>(nullptr, nullptr, 0, &changes), kResultOk);
  EXPECT_DOUBLE_EQ(plug->GetParam(testplug::kGain)->Value(), 3.);
  EXPECT_EQ(plug->blocks, 0);

  Bus<float> in(2, 8), out(2, 8);
  testhost::ParameterChanges more;
  more.Add(testplug::kGain, 0, 0.25);
  ASSERT_EQ(Run(&in, &out, 0, &more), kResultOk);
  EXPECT_DOUBLE_EQ(plug->GetParam(testplug::kGain)->Value(), 1.);
  EXPECT_EQ(plug->blocks, 0);

  // Unknown ids, empty queues and non-finite values are ignored.
  testhost::ParameterChanges odd;
  odd.Add(12345, 0, 1.);
  int32 index;
  odd.addParameterData(testplug::kGain, index);
  odd.Add(iplug::IPlugVST3::kBypassParamID, 0, std::numeric_limits<double>::quiet_NaN());
  ASSERT_EQ(Run(&in, &out, 8, &odd), kResultOk);
  EXPECT_DOUBLE_EQ(plug->GetParam(testplug::kGain)->Value(), 1.);
  EXPECT_FALSE(plug->GetBypassed());
}

TEST_F(PlugFixture, HostBypassPassesAudioThroughAndFlagsSilence)
{
  Activate(kSample32, 64);
  plug->GetParam(testplug::kGain)->Set(2.);
  Bus<float> in(2, 64), out(2, 64);
  for (auto& ch : in.data)
    for (size_t s = 0; s < ch.size(); ++s)
      ch[s] = static_cast<float>(s) / 64.f;
  testhost::ParameterChanges on;
  on.Add(iplug::IPlugVST3::kBypassParamID, 0, 1.);
  ASSERT_EQ(Run(&in, &out, 64, &on), kResultOk);
  EXPECT_TRUE(plug->GetBypassed());
  EXPECT_EQ(plug->getParamNormalized(iplug::IPlugVST3::kBypassParamID), 1.);
  EXPECT_EQ(out.data[1], in.data[1]);
  EXPECT_EQ(lastSilence, 0u);

  testhost::ParameterChanges off;
  off.Add(iplug::IPlugVST3::kBypassParamID, 0, 0.);
  for (auto& ch : in.data)
    ch.assign(64, 0.f);
  in.data[1][3] = 0.5f;
  ASSERT_EQ(Run(&in, &out, 64, &off), kResultOk);
  EXPECT_FALSE(plug->GetBypassed());
  EXPECT_EQ(lastSilence, 1u); // channel 0 silent, channel 1 not
  EXPECT_EQ(out.data[1][3], 1.f);
}

TEST_F(PlugFixture, ParameterInfoAndConversions)
{
  ASSERT_EQ(plug->getParameterCount(), 3);
  ParameterInfo info{};
  ASSERT_EQ(plug->getParameterInfo(0, info), kResultOk);
  EXPECT_EQ(info.id, 0u);
  EXPECT_EQ(U16(info.title), u"Gain");
  EXPECT_EQ(U16(info.units), u"x");
  EXPECT_EQ(info.stepCount, 0);
  EXPECT_DOUBLE_EQ(info.defaultNormalizedValue, 0.25);
  EXPECT_TRUE(info.flags & ParameterInfo::kCanAutomate);

  ASSERT_EQ(plug->getParameterInfo(1, info), kResultOk);
  EXPECT_EQ(U16(info.title), u"Hidden");
  EXPECT_EQ(info.stepCount, 1);
  EXPECT_FALSE(info.flags & ParameterInfo::kCanAutomate);

  ASSERT_EQ(plug->getParameterInfo(2, info), kResultOk);
  EXPECT_EQ(info.id, iplug::IPlugVST3::kBypassParamID);
  EXPECT_TRUE(info.flags & ParameterInfo::kIsBypass);
  EXPECT_TRUE(info.flags & ParameterInfo::kCanAutomate);
  EXPECT_EQ(info.stepCount, 1);

  EXPECT_EQ(plug->getParameterInfo(3, info), kInvalidArgument);
  EXPECT_EQ(plug->getParameterInfo(-1, info), kInvalidArgument);

  String128 text{};
  ASSERT_EQ(plug->getParamStringByValue(0, 0.5, text), kResultOk);
  EXPECT_EQ(U16(text), u"2.00");
  ASSERT_EQ(plug->getParamStringByValue(1, 1., text), kResultOk);
  EXPECT_EQ(U16(text), u"on");
  EXPECT_EQ(plug->getParamStringByValue(99, 0., text), kInvalidArgument);

  TChar typed[] = {'3', '.', '0', 0};
  ParamValue v = 0.;
  ASSERT_EQ(plug->getParamValueByString(0, typed, v), kResultOk);
  EXPECT_DOUBLE_EQ(v, 0.75);
  TChar junk[] = {'x', 0};
  EXPECT_EQ(plug->getParamValueByString(0, junk, v), kResultFalse);

  EXPECT_DOUBLE_EQ(plug->normalizedParamToPlain(0, 0.5), 2.);
  EXPECT_DOUBLE_EQ(plug->plainParamToNormalized(0, 1.), 0.25);
  EXPECT_DOUBLE_EQ(plug->normalizedParamToPlain(1, 0.6), 1.);
}

TEST_F(PlugFixture, HostAndEditorParameterCalls)
{
  testhost::RecordingHandler handler;
  ASSERT_EQ(plug->setComponentHandler(&handler), kResultOk);
  EXPECT_EQ(handler.refs, 2u);

  ASSERT_EQ(plug->setParamNormalized(0, 0.5), kResultOk);
  EXPECT_DOUBLE_EQ(plug->GetParam(0)->Value(), 2.);
  EXPECT_DOUBLE_EQ(plug->getParamNormalized(0), 0.5);
  EXPECT_EQ(plug->setParamNormalized(0, std::numeric_limits<double>::quiet_NaN()), kInvalidArgument);
  EXPECT_DOUBLE_EQ(plug->GetParam(0)->Value(), 2.);
  EXPECT_EQ(plug->setParamNormalized(77, 0.5), kInvalidArgument);
  EXPECT_TRUE(handler.events.empty()); // host-made changes are not echoed to the host

  plug->BeginInformHostOfParamChangeFromUI(1);
  plug->SendParameterValueFromUI(1, 0.9);
  plug->EndInformHostOfParamChangeFromUI(1);
  EXPECT_EQ(handler.events, (std::vector<std::string>{"begin 1", "perform 1", "end 1"}));
  EXPECT_EQ(handler.lastValue, 1.); // the snapped value
  EXPECT_EQ(plug->lastSource, iplug::kUI);

  plug->SetLatency(12);
  EXPECT_EQ(plug->getLatencySamples(), 12u);
  EXPECT_EQ(handler.events.back(), "restart " + std::to_string(kLatencyChanged));

  plug->SendParameterValueFromUI(42, 0.5); // no such parameter: nothing happens
  EXPECT_EQ(handler.events.size(), 4u);

  ASSERT_EQ(plug->terminate(), kResultOk);
  EXPECT_EQ(handler.refs, 1u);
}

TEST_F(PlugFixture, ChannelContextIsKept)
{
  testhost::AttributeList list;
  const TChar name[] = {'V', 'o', 'x', 0};
  list.setString(ChannelContext::kChannelNameKey, name);
  list.setInt(ChannelContext::kChannelIndexKey, 2);
  list.setInt(ChannelContext::kChannelColorKey, 0xFF112233);
  ASSERT_EQ(plug->setChannelContextInfos(&list), kResultOk);
  EXPECT_EQ(plug->GetChannelContext().name, "Vox");
  EXPECT_EQ(plug->GetChannelContext().index, 2);
  EXPECT_EQ(plug->GetChannelContext().colour, 0xFF112233u);

  testhost::AttributeList empty; // a later call without a name clears it
  ASSERT_EQ(plug->setChannelContextInfos(&empty), kResultOk);
  EXPECT_EQ(plug->GetChannelContext().name, "");
  EXPECT_EQ(plug->GetChannelContext().colour, 0u);
  EXPECT_EQ(plug->setChannelContextInfos(nullptr), kInvalidArgument);
}

TEST_F(PlugFixture, OneObjectAnswersEveryInterface)
{
  void* obj = nullptr;
  ASSERT_EQ(plug->queryInterface(IAudioProcessor::iid, &obj), kResultOk);
  EXPECT_EQ(obj, static_cast<IAudioProcessor*>(plug));
  static_cast<FUnknown*>(static_cast<IAudioProcessor*>(obj))->release();
  ASSERT_EQ(plug->queryInterface(IEditController::iid, &obj), kResultOk);
  EXPECT_EQ(obj, static_cast<IEditController*>(plug));
  plug->release();
  ASSERT_EQ(plug->queryInterface(ChannelContext::IInfoListener::iid, &obj), kResultOk);
  plug->release();
  ASSERT_EQ(plug->queryInterface(IProcessContextRequirements::iid, &obj), kResultOk);
  plug->release();
  ASSERT_EQ(plug->queryInterface(FUnknown::iid, &obj), kResultOk);
  EXPECT_EQ(obj, static_cast<IComponent*>(plug));
  plug->release();
  EXPECT_EQ(plug->queryInterface(IComponentHandler::iid, &obj), kNoInterface);
  EXPECT_EQ(obj, nullptr);
  TUID cid;
  EXPECT_EQ(plug->getControllerClassId(cid), kResultFalse);
  EXPECT_EQ(plug->createView("editor"), nullptr);
  EXPECT_EQ(plug->addRef(), 2u);
  EXPECT_EQ(plug->release(), 1u);
}

TEST_F(PlugFixture, HostMessagesReachThePlugIn)
{
  void* obj = nullptr;
  ASSERT_EQ(plug->queryInterface(IConnectionPoint::iid, &obj), kResultOk);
  auto* cp = static_cast<IConnectionPoint*>(obj);
  EXPECT_EQ(cp->connect(cp), kResultOk);

  testhost::Message setGain("SetGain");
  setGain.attributes.setInt("value", 3);
  ASSERT_EQ(cp->notify(&setGain), kResultOk);
  EXPECT_DOUBLE_EQ(plug->GetParam(testplug::kGain)->Value(), 3.);
  int64 done = 0;
  EXPECT_EQ(setGain.attributes.getInt("done", done), kResultTrue);
  EXPECT_EQ(done, 1);

  testhost::Message unknown("Nope");
  EXPECT_EQ(cp->notify(&unknown), kResultFalse);
  testhost::Message missing("SetGain"); // no attribute: the handler refuses it
  EXPECT_EQ(cp->notify(&missing), kResultFalse);
  testhost::Message noId(nullptr);
  EXPECT_EQ(cp->notify(&noId), kInvalidArgument);
  EXPECT_EQ(cp->notify(nullptr), kInvalidArgument);
  EXPECT_EQ(cp->disconnect(cp), kResultOk);
  plug->release();
}

// State

std::vector<uint8_t> DoubleBytes(std::initializer_list<double> values)
{
  std::vector<uint8_t> out;
  for (double v : values)
  {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i)
      out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  }
  return out;
}

TEST_F(PlugFixture, StateIsTheParameterValuesAsLittleEndianDoubles)
{
  plug->GetParam(0)->Set(1.5);
  testhost::MemoryStream out;
  out.maxWrite = 5; // a stream that accepts a few bytes at a time
  ASSERT_EQ(plug->getState(&out), kResultOk);
  // 1.5 = 0x3FF8000000000000, then 0.0, then the host bypass (off).
  const std::vector<uint8_t> expected = {0, 0, 0, 0, 0, 0, 0xF8, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(out.data, expected);

  testhost::MemoryStream in(DoubleBytes({3.0, 1.0}));
  ASSERT_EQ(plug->setState(&in), kResultOk);
  EXPECT_DOUBLE_EQ(plug->GetParam(0)->Value(), 3.0);
  EXPECT_DOUBLE_EQ(plug->GetParam(1)->Value(), 1.0);
  EXPECT_EQ(plug->setComponentState(&in), kResultOk);
  EXPECT_EQ(plug->setState(nullptr), kInvalidArgument);
  EXPECT_EQ(plug->getState(nullptr), kInvalidArgument);
}

TEST_F(PlugFixture, HostBypassTravelsWithTheState)
{
  testhost::ParameterChanges on;
  on.Add(iplug::IPlugVST3::kBypassParamID, 0, 1.);
  ProcessData data{};
  data.symbolicSampleSize = kSample32;
  data.inputParameterChanges = &on;
  ASSERT_EQ(plug->process(data), kResultOk);
  testhost::MemoryStream saved;
  ASSERT_EQ(plug->getState(&saved), kResultOk);
  ASSERT_EQ(saved.data.size(), 20u);
  EXPECT_EQ(std::vector<uint8_t>(saved.data.end() - 4, saved.data.end()), (std::vector<uint8_t>{1, 0, 0, 0}));

  auto* other = new TestPlug();
  saved.pos = 0;
  ASSERT_EQ(other->setState(&saved), kResultOk);
  EXPECT_EQ(other->getParamNormalized(iplug::IPlugVST3::kBypassParamID), 1.);

  // A chunk without the trailer, or with a strange one, restores bypass off.
  for (const auto& tail : {std::vector<uint8_t>{}, std::vector<uint8_t>{7, 0, 0, 0}, std::vector<uint8_t>{1, 0}})
  {
    auto bytes = DoubleBytes({1.0, 0.0});
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    testhost::MemoryStream in(bytes);
    ASSERT_EQ(other->setState(&in), kResultOk);
    EXPECT_FALSE(other->GetBypassed()) << tail.size() << " trailing bytes";
  }
  other->release();
}

TEST_F(PlugFixture, DamagedStateChangesNothingAndReportsFailure)
{
  plug->GetParam(0)->Set(1.25);
  for (size_t n : {size_t(0), size_t(3), size_t(12), size_t(15)})
  {
    auto bytes = DoubleBytes({4.0, 1.0});
    bytes.resize(n);
    testhost::MemoryStream in(bytes);
    EXPECT_EQ(plug->setState(&in), kResultFalse) << n << " bytes";
    EXPECT_DOUBLE_EQ(plug->GetParam(0)->Value(), 1.25) << n << " bytes";
    EXPECT_DOUBLE_EQ(plug->GetParam(1)->Value(), 0.) << n << " bytes";
  }
  // Non-finite and out-of-range values never become parameter values.
  testhost::MemoryStream nan(DoubleBytes({std::numeric_limits<double>::quiet_NaN(), 1e300}));
  ASSERT_EQ(plug->setState(&nan), kResultOk);
  EXPECT_DOUBLE_EQ(plug->GetParam(0)->Value(), 1.); // the default
  EXPECT_DOUBLE_EQ(plug->GetParam(1)->Value(), 1.); // clamped
  testhost::MemoryStream inf(DoubleBytes({-std::numeric_limits<double>::infinity(), 0.}));
  ASSERT_EQ(plug->setState(&inf), kResultOk);
  EXPECT_DOUBLE_EQ(plug->GetParam(0)->Value(), 1.);
}

TEST_F(PlugFixture, StateChangesReachTheHostOnceThroughHandler2)
{
  testhost::DirtyRecordingHandler handler;
  testhost::RecordingHandler plain;
  testhost::Message unknown("Nope");
  testhost::MemoryStream state(DoubleBytes({2.0, 0.0}));
  ASSERT_EQ(plug->setComponentHandler(&handler), kResultOk);
  plug->notify(&unknown);
  EXPECT_TRUE(handler.Take().empty());
  // Two marks are one report, on the host's next call, which keeps its own answer; a state the
  // host set is no news to it.
  plug->MarkStateChanged();
  plug->MarkStateChanged();
  ASSERT_EQ(plug->setParamNormalized(testplug::kGain, 0.25), kResultOk);
  EXPECT_EQ(plug->notify(&unknown), kResultFalse);
  EXPECT_EQ(handler.Take(), std::vector{std::this_thread::get_id()});
  plug->MarkStateChanged();
  ASSERT_EQ(plug->setState(&state), kResultOk);
  plug->notify(&unknown);
  EXPECT_TRUE(handler.Take().empty());
  // Without a handler the change waits; one without IComponentHandler2 drops it.
  plug->setComponentHandler(nullptr);
  plug->MarkStateChanged();
  plug->notify(&unknown);
  EXPECT_TRUE(plug->StateChangePending());
  plug->setComponentHandler(&plain);
  plug->notify(&unknown);
  EXPECT_FALSE(plug->StateChangePending());
  EXPECT_TRUE(plain.events.empty());
  plug->setComponentHandler(nullptr);
  EXPECT_EQ(handler.refs, 1u);
}

// Threads

TEST(IPlugVST3Threads, IdleTimerRunsWithoutAnEditorAndStopsBeforeDestruction)
{
  auto& probe = testplug::GetProbe();
  probe.idleCalls = 0;
  probe.idleAfterDtor = false;
  const int destroyedBefore = probe.destroyed;

  auto* plug = new TestPlug();
  EXPECT_FALSE(plug->IdleTimerRunning());
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(probe.idleCalls, 0); // not before the host initialises the instance

  ASSERT_EQ(plug->initialize(nullptr), kResultOk);
  EXPECT_TRUE(plug->IdleTimerRunning());
  EXPECT_EQ(plug->initialize(nullptr), kResultOk); // a null context twice is harmless
  const auto start = std::chrono::steady_clock::now();
  while (probe.idleCalls < 5 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GE(probe.idleCalls, 5);

  // Released without terminate, while the timer runs: it must be stopped before ~TestPlug.
  plug->release();
  EXPECT_EQ(probe.destroyed, destroyedBefore + 1);
  EXPECT_FALSE(probe.idleAfterDtor);
  const int after = probe.idleCalls;
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(probe.idleCalls, after);
}

TEST(IPlugVST3Threads, IdleNeverOverlapsHostCallsOnTheUIThread)
{
  auto& probe = testplug::GetProbe();
  probe.overlap = false;
  probe.idleSleepMs = 3;
  auto* plug = new TestPlug();
  ASSERT_EQ(plug->initialize(nullptr), kResultOk);
  const int startCalls = probe.idleCalls;
  const auto start = std::chrono::steady_clock::now();
  int i = 0;
  while (probe.idleCalls < startCalls + 10 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
  {
    plug->setParamNormalized(0, (i++ % 10) / 10.);
    std::this_thread::yield();
  }
  probe.idleSleepMs = 0;
  EXPECT_GE(probe.idleCalls, startCalls + 10);
  EXPECT_FALSE(probe.overlap);
  ASSERT_EQ(plug->terminate(), kResultOk);
  EXPECT_FALSE(plug->IdleTimerRunning());
  plug->release();
}

TEST(IPlugVST3Threads, AutomationReachesTheUISideOnTheTimer)
{
  auto* plug = new TestPlug();
  ProcessSetup setup{kRealtime, kSample32, 64, 48000.};
  ASSERT_EQ(plug->setupProcessing(setup), kResultOk);
  ASSERT_EQ(plug->setActive(true), kResultOk);
  testhost::ParameterChanges changes;
  changes.Add(testplug::kGain, 0, 0.5);
  ProcessData data{};
  data.symbolicSampleSize = kSample32;
  data.inputParameterChanges = &changes;
  ASSERT_EQ(plug->process(data), kResultOk);
  EXPECT_EQ(plug->gainChangesSeenByUI, 0); // not on the audio thread
  ASSERT_EQ(plug->initialize(nullptr), kResultOk);
  for (int i = 0; i < 250 && plug->gainChangesSeenByUI == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(plug->gainChangesSeenByUI, 1);
  plug->release();
}

TEST(IPlugVST3Threads, AudioThreadRunsWhileTheUIThreadHoldsTheLock)
{
  auto* plug = new TestPlug();
  ProcessSetup setup{kRealtime, kSample32, 64, 48000.};
  ASSERT_EQ(plug->setupProcessing(setup), kResultOk);
  ASSERT_EQ(plug->setActive(true), kResultOk);
  std::atomic<bool> processed{false};
  {
    std::lock_guard<std::recursive_mutex> ui(plug->GetUILock());
    std::thread audio([&] {
      std::vector<float> buf(64, 0.5f);
      float* chans[2] = {buf.data(), buf.data()};
      AudioBusBuffers bus{};
      bus.numChannels = 2;
      bus.channelBuffers32 = chans;
      ProcessData data{};
      data.symbolicSampleSize = kSample32;
      data.numSamples = 64;
      data.numInputs = data.numOutputs = 1;
      data.inputs = data.outputs = &bus;
      plug->process(data);
      processed = true;
    });
    audio.join(); // would hang if process() took the UI lock
  }
  EXPECT_TRUE(processed);
  plug->release();
}

} // namespace

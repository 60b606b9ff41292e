// The audio thread, the host's UI thread and the idle timer working on one instance at once.
// Run under -fsanitize=thread to see the races; the checks here catch lost or torn hand-overs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "pluginterfaces/gui/iplugview.h"

#include "EditorCallbacks.h"
#include "SharedThread.h"
#include "TestPlug.h"
#include "Vst3TestObjects.h"

namespace {

std::vector<std::uint8_t> Save(TestPlug& plug)
{
  iplug::IByteChunk chunk;
  EXPECT_TRUE(plug.SerializeState(chunk));
  return {chunk.GetData(), chunk.GetData() + chunk.Size()};
}

int Load(TestPlug& plug, const std::vector<std::uint8_t>& bytes)
{
  iplug::IByteChunk chunk;
  chunk.PutBytes(bytes.data(), int(bytes.size()));
  return plug.UnserializeState(chunk, 0);
}

morvellan::BandBalance Flat(double value)
{
  morvellan::BandBalance b;
  b.fill(value);
  return b;
}

int ThreadCount()
{
  int n = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
    ++n;
  return n;
}

bool WaitFor(const std::function<bool()>& condition)
{
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20); !condition();)
  {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Counts its idle calls and any that come once its destruction has begun.
constexpr int kMaxCounted = 64;
std::atomic<int> gIdleCalls[kMaxCounted];
std::atomic<bool> gDestroying[kMaxCounted];
std::atomic<int> gIdleWhileDestroyed{0};

class CountingPlug : public TestPlug
{
public:
  explicit CountingPlug(int id) : mId(id)
  {
    gIdleCalls[mId] = 0;
    gDestroying[mId] = false;
  }
  ~CountingPlug() override
  {
    gDestroying[mId] = true;
    StopIdleTimer();
  }
  void OnIdle() override
  {
    if (gDestroying[mId])
      ++gIdleWhileDestroyed;
    ++gIdleCalls[mId];
    TestPlug::OnIdle();
  }

private:
  const int mId;
};

bool EachHasIdled(int count, int times)
{
  for (int i = 0; i < count; ++i)
    if (gIdleCalls[i].load() < times)
      return false;
  return true;
}

} // namespace

TEST(Threads, AudioRunsOnWhileTheUiSavesRestoresAndHandsOver)
{
  TestPlug plug;
  plug.Setup(48000.0, 128, 2, 2);
  ASSERT_EQ(plug.initialize(nullptr), Steinberg::kResultOk);
  ASSERT_TRUE(plug.IdleTimerRunning());

  std::atomic<bool> stop{false};
  std::atomic<int> blocks{0};
  std::atomic<bool> allFinite{true};
  std::thread audio([&] {
    const TestPlug::Channels in = {Noise(128, 0.5, 1), Noise(128, 0.5, 2)};
    for (int i = 0; !stop.load(); ++i)
    {
      const TestPlug::Channels out = plug.Run(in, 2, 128);
      for (const auto& channel : out)
        for (double v : channel)
          if (!std::isfinite(v))
            allFinite = false;
      blocks.fetch_add(1);
    }
  });

  const auto start = Save(plug);
  for (int round = 0; round < 300; ++round)
  {
    // What the host and the editor do, each under the UI lock like every host call.
    std::lock_guard lock(plug.GetUILock());
    plug.Set(kAmount, double(round % 100));
    plug.Set(kBypass, round % 7 == 0 ? 1.0 : 0.0);
    if (round % 3 == 0)
      plug.mLearnFromInputRequest = 1;
    if (round % 5 == 0)
      plug.mCancelLearnRequest = 1;
    const auto bytes = Save(plug);
    ASSERT_EQ(Load(plug, round % 2 ? bytes : start), int((round % 2 ? bytes : start).size()));
    plug.mLoadedTarget.Write(Flat(round), Flat(round), true);
    plug.mLoadedTargetPending = 1;
  }

  // No learn still running may replace the last hand-over.
  {
    std::lock_guard lock(plug.GetUILock());
    plug.Set(kBypass, 0.0);
    plug.mCancelLearnRequest = 1;
  }
  // A hand-over read while it was being written is taken a block later, after any taken in
  // between; so the last one is made only once every earlier one and every request is taken.
  // A block that starts after the last write reads every record whole, so zeros seen two whole
  // blocks later are final.
  for (;;)
  {
    const int before = blocks.load();
    while (blocks.load() < before + 2)
      std::this_thread::yield();
    if (plug.mRestoredTargetPending.load() == 0 && plug.mLoadedTargetPending.load() == 0 &&
        plug.mLearnFromInputRequest.load() == 0 && plug.mCancelLearnRequest.load() == 0)
      break;
  }

  // The last hand-over wins once the audio thread has taken it.
  {
    std::lock_guard lock(plug.GetUILock());
    plug.mLoadedTarget.Write(Flat(-4.0), Flat(-4.0), true);
    plug.mLoadedTargetPending = 1;
  }
  const int seen = blocks.load();
  while (blocks.load() < seen + 3 || plug.mLoadedTargetPending.load() != 0)
    std::this_thread::yield();
  stop = true;
  audio.join();
  plug.terminate();

  EXPECT_TRUE(allFinite.load());
  morvellan::BalanceCopy target;
  ASSERT_TRUE(plug.TryReadLearnedTarget(target));
  EXPECT_TRUE(target.valid);
  EXPECT_EQ(target.absolute, Flat(-4.0));
  // Whatever the threads did, the state still round-trips byte for byte.
  TestPlug other;
  const auto finalBytes = Save(plug);
  ASSERT_EQ(Load(other, finalBytes), int(finalBytes.size()));
  EXPECT_EQ(Save(other), finalBytes);
}

// A host that reconfigures without waiting for the process() call in flight on its audio thread:
// set-up alone (refused while active), deactivation, set-up and activation, and reactivation,
// 300 rounds each. No call may crash or come out torn: each is whole at the instance's settings
// or, when it met a reconfigure, silent.
TEST(Threads, ReconfiguringWhileABlockIsInFlight)
{
  using namespace Steinberg::Vst;
  TestPlug plug;
  plug.SetNeutral();
  plug.Set(::kOutput, -6.0);
  ProcessSetup setup{kRealtime, kSample32, 4096, 48000.0};
  ASSERT_EQ(plug.setupProcessing(setup), Steinberg::kResultOk);
  ASSERT_EQ(plug.setActive(true), Steinberg::kResultOk);
  const std::vector<double> noise = Noise(4096, 0.5, 3);
  std::atomic<bool> stop{false};
  std::atomic<int> calls{0}, torn{0};
  std::thread audio([&] {
    std::vector<float> buffer(4096);
    float* channels[1] = {buffer.data()};
    AudioBusBuffers bus;
    bus.numChannels = 1;
    bus.channelBuffers32 = channels;
    ProcessData data;
    data.numSamples = 4096;
    data.numInputs = data.numOutputs = 1;
    data.inputs = data.outputs = &bus;
    for (; !stop.load(); ++calls)
    {
      std::copy(noise.begin(), noise.end(), buffer.begin());
      plug.process(data);
      int whole = 0, silent = 0;
      for (std::size_t t = 0; t < buffer.size(); ++t)
      {
        whole += buffer[t] == float(double(float(noise[t])) * std::pow(10.0, -6.0 / 20.0));
        silent += buffer[t] == 0.0f;
      }
      torn += whole != 4096 && silent != 4096;
    }
  });

  for (int round = 0; round < 900; ++round)
  {
    for (int i = 0, seen = calls.load(); i < 1000000 && calls.load() == seen; ++i)
      std::this_thread::yield();
    ProcessSetup next{kRealtime, kSample32, 512 << (round % 3), 44100.0 * (1 + round % 3)};
    plug.setProcessing(false);
    // While active a different set-up is refused; the other orders go through.
    const bool done = round < 300 ? plug.setupProcessing(next) == Steinberg::kResultFalse
                                  : plug.setActive(false) == Steinberg::kResultOk &&
                                        (round >= 600 || plug.setupProcessing(next) == Steinberg::kResultOk) &&
                                        plug.setActive(true) == Steinberg::kResultOk;
    EXPECT_TRUE(done) << "round " << round;
    plug.setProcessing(true);
  }
  stop = true;
  audio.join();
  EXPECT_EQ(torn.load(), 0);
}

TEST(Threads, AStateChangeWithTheEditorClosedIsToldOnTheHostsNextCallNeverFromTheTimer)
{
  testhost::DirtyRecordingHandler handler;
  TestPlug plug;
  ASSERT_EQ(plug.setComponentHandler(&handler), Steinberg::kResultOk);
  ASSERT_EQ(plug.initialize(nullptr), Steinberg::kResultOk);
  {
    std::lock_guard<std::recursive_mutex> lock(plug.GetUILock());
    SetAccentColourIndex(plug, 3);
  }
  ASSERT_TRUE(WaitFor([&] { return plug.StateChangePending(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(5 * iplug::IPlugVST3::kIdleIntervalMs));
  EXPECT_TRUE(handler.Take().empty());
  plug.createView("editor")->release();
  EXPECT_EQ(handler.Take(), std::vector{std::this_thread::get_id()});
  EXPECT_EQ(plug.terminate(), Steinberg::kResultOk);
}

TEST(Threads, OneIdleTimerAndOneUpdateThreadServeEveryInstance)
{
  // A sanitizer's runtime starts a thread of its own with the process's first one.
  std::thread([] {}).join();
  const int before = ThreadCount();
  std::vector<CountingPlug*> plugs;
  const auto add = [&] {
    plugs.push_back(new CountingPlug(int(plugs.size())));
    ASSERT_EQ(plugs.back()->initialize(nullptr), Steinberg::kResultOk);
  };
  add();
  const int withOne = ThreadCount();
  EXPECT_LE(withOne - before, 2); // the idle timer and the update thread
  while (plugs.size() < kMaxCounted)
    add();
  EXPECT_LE(ThreadCount(), withOne + 1);
  ASSERT_TRUE(WaitFor([] { return EachHasIdled(kMaxCounted, 3); }));

  // Released while the timer runs, each one alone and most while others still idle: never
  // called once its destruction began, and the last one takes the shared threads with it.
  for (auto* plug : plugs)
    plug->release();
  plugs.clear();
  EXPECT_EQ(gIdleWhileDestroyed.load(), 0);
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() == before; }));

  // The module's exit ends the shared threads even for an instance a host left behind,
  // which then idles no more; a later instance starts them again.
  add();
  ASSERT_TRUE(WaitFor([] { return EachHasIdled(1, 2); }));
  iplug::RunModuleExitHooks();
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() == before; }));
  const int idled = gIdleCalls[0].load();
  add();
  ASSERT_TRUE(WaitFor([] { return gIdleCalls[1].load() >= 2; }));
  EXPECT_EQ(gIdleCalls[0].load(), idled);
  for (auto* plug : plugs)
    plug->release();
  EXPECT_EQ(gIdleWhileDestroyed.load(), 0);
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() == before; }));
}

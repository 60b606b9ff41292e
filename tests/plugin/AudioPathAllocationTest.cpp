// The audio callback must not allocate or take a lock, and a reset must survive running out
// of memory. This suite replaces the global allocation functions and pthread_mutex_lock with
// counting (or failing) versions, armed only around the calls under test, so it lives in an
// executable of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

#include <dlfcn.h>
#include <pthread.h>

#include "TestPlug.h"

namespace {

thread_local bool tArmed = false;
thread_local bool tOutOfMemory = false;
std::atomic<int> gAllocations{0};
std::atomic<int> gLocks{0};

void* Allocate(std::size_t size)
{
  if (tOutOfMemory)
    throw std::bad_alloc();
  if (tArmed)
    ++gAllocations;
  if (void* p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}

struct Armed
{
  Armed() { tArmed = true; }
  ~Armed() { tArmed = false; }
};

} // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
  try
  {
    return Allocate(size);
  }
  catch (...)
  {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using LockFunction = int (*)(pthread_mutex_t*);
LockFunction gRealLock = nullptr;

LockFunction RealLock()
{
  if (!gRealLock)
    gRealLock = reinterpret_cast<LockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
  return gRealLock;
}

// Resolved before main, while only one thread runs.
[[gnu::constructor]] void ResolveRealLock() { RealLock(); }

} // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex)
{
  if (tArmed)
    ++gLocks;
  return RealLock()(mutex);
}

TEST(AudioPath, TheHooksSeeAllocationsAndLocks)
{
  // Without this the test below could pass by counting nothing.
  std::mutex m;
  int* p = nullptr;
  {
    Armed armed;
    p = new int(3);
    m.lock();
    m.unlock();
  }
  delete p;
  EXPECT_EQ(gAllocations.exchange(0), 1);
  EXPECT_GE(gLocks.exchange(0), 1);
}

TEST(AudioPath, ProcessBlockNeitherAllocatesNorLocks)
{
  TestPlug plug;
  plug.Setup(48000.0, 512, 2, 2);

  constexpr int kMaxFrames = 2048;
  std::vector<double> in0 = Noise(kMaxFrames, 0.5, 1), in1 = Noise(kMaxFrames, 0.5, 2);
  std::vector<double> out0(kMaxFrames), out1(kMaxFrames), out2(kMaxFrames);
  double* inputs[3] = {in0.data(), in1.data(), in0.data()};
  double* outputs[3] = {out0.data(), out1.data(), out2.data()};

  morvellan::BandBalance balance{};
  balance.fill(1.5);
  const int frameCounts[] = {512, 1, 33, 0, 2048, 480};
  const int changing[] = {kAmount, kTilt, kHPFreq, kPreEq1Shelf, kPreEq2Gain, kOutput, kSpeed, kRangeLow};

  int allocations = 0, locks = 0;
  for (int block = 0; block < 600; ++block)
  {
    // Work handed over between blocks, as the UI thread and the worker would.
    const int p = changing[block % 8];
    const auto* param = plug.GetParam(p);
    plug.Set(p, block % 2 ? param->GetMin() : param->GetMax());
    plug.Set(kBypass, block % 50 == 49 ? 1.0 : 0.0);
    if (block % 40 == 1)
      plug.mLearnFromInputRequest = 1;
    if (block % 40 == 20)
      plug.mCancelLearnRequest = 1;
    if (block % 97 == 5)
      plug.mClearTargetRequest = 1;
    if (block % 31 == 3)
    {
      plug.mReferenceTarget.Write(balance, balance, true);
      plug.mReferenceTargetPending = 1;
    }
    if (block % 53 == 7)
    {
      plug.mLoadedTarget.Write(balance, balance, true);
      plug.mLoadedTargetPending = 1;
    }
    if (block % 71 == 9)
    {
      plug.mRestoredLegacy = block % 2 == 0;
      plug.mRestoredTarget.Write(balance, balance, block % 3 != 0);
      plug.mRestoredTargetPending = 1;
    }
    const int nIn = 1 + block % 3, nOut = 1 + (block / 3) % 3;
    plug.SetChannels(nIn, nOut);
    {
      Armed armed;
      plug.ProcessBlock(inputs, outputs, frameCounts[block % 6]);
    }
    allocations += gAllocations.exchange(0);
    locks += gLocks.exchange(0);
  }
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(locks, 0);
}

TEST(AudioPath, AResetWithoutMemoryStillLeavesAWorkingPlugin)
{
  TestPlug plug;
  plug.Setup(48000.0, 256, 2, 2);

  // The host activates with a larger block while memory is exhausted.
  tOutOfMemory = true;
  bool threw = false;
  try
  {
    plug.Setup(48000.0, 1024, 2, 2);
  }
  catch (...)
  {
    threw = true;
  }
  tOutOfMemory = false;
  EXPECT_FALSE(threw);

  // The meters mix without memory of their own: opposite channels cancel.
  std::vector<double> left = Noise(1024, 0.5, 3), right(left.size());
  for (std::size_t t = 0; t < left.size(); ++t)
    right[t] = -left[t];
  std::vector<double> out0(1024), out1(1024);
  double* inputs[2] = {left.data(), right.data()};
  double* outputs[2] = {out0.data(), out1.data()};
  plug.Set(kBypass, 1.0);
  for (int block = 0; block < 10; ++block)
    plug.ProcessBlock(inputs, outputs, 1024);
  plug.OnIdle();
  ASSERT_TRUE(plug.meters[kCtrlTagInputMeter].seen);
  EXPECT_EQ(plug.meters[kCtrlTagInputMeter].peak, 0.0f);
  EXPECT_EQ(out0, left);
}

// Proves that the audio path allocates nothing and takes no lock: every allocation and every mutex
// lock in this process is counted while the window is open.
#include "BalanceSnapshot.h"
#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <pthread.h>

namespace {

std::atomic<bool> gWindowOpen{false};
std::atomic<long> gAllocations{0};
std::atomic<long> gLocks{0};

void NoteAllocation()
{
  if (gWindowOpen.load(std::memory_order_relaxed))
    gAllocations.fetch_add(1, std::memory_order_relaxed);
}

void NoteLock()
{
  if (gWindowOpen.load(std::memory_order_relaxed))
    gLocks.fetch_add(1, std::memory_order_relaxed);
}

void* CountedAlloc(std::size_t n)
{
  NoteAllocation();
  if (void* p = std::malloc(n ? n : 1))
    return p;
  throw std::bad_alloc();
}

void* CountedAlignedAlloc(std::size_t n, std::align_val_t a)
{
  NoteAllocation();
  void* p = nullptr;
  if (posix_memalign(&p, static_cast<std::size_t>(a), n ? n : 1) != 0)
    throw std::bad_alloc();
  return p;
}

} // namespace

void* operator new(std::size_t n) { return CountedAlloc(n); }
void* operator new[](std::size_t n) { return CountedAlloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
  NoteAllocation();
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
  NoteAllocation();
  return std::malloc(n ? n : 1);
}
void* operator new(std::size_t n, std::align_val_t a) { return CountedAlignedAlloc(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return CountedAlignedAlloc(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

// malloc itself: through the sanitizer's hooks in sanitizer builds, by interposition otherwise.
#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
namespace {
void MallocHook(const volatile void*, std::size_t) { NoteAllocation(); }
void FreeHook(const volatile void*) {}
const int gHooksInstalled = __sanitizer_install_malloc_and_free_hooks(MallocHook, FreeHook);
} // namespace
#else
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t n)
{
  NoteAllocation();
  return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size)
{
  NoteAllocation();
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n)
{
  NoteAllocation();
  return __libc_realloc(p, n);
}
}
#endif

// Locks: every mutex and read-write lock in the process goes through these. The real functions
// are looked up once at start-up, outside any counting window.
namespace {
template <typename Fn>
Fn Next(const char* name)
{
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}
using MutexFn = int (*)(pthread_mutex_t*);
using RwFn = int (*)(pthread_rwlock_t*);
const MutexFn gMutexLock = Next<MutexFn>("pthread_mutex_lock");
const MutexFn gMutexTryLock = Next<MutexFn>("pthread_mutex_trylock");
const RwFn gReadLock = Next<RwFn>("pthread_rwlock_rdlock");
const RwFn gWriteLock = Next<RwFn>("pthread_rwlock_wrlock");
} // namespace

extern "C" {
int pthread_mutex_lock(pthread_mutex_t* m)
{
  NoteLock();
  return gMutexLock(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m)
{
  NoteLock();
  return gMutexTryLock(m);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l)
{
  NoteLock();
  return gReadLock(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l)
{
  NoteLock();
  return gWriteLock(l);
}
}

using namespace morvellan;
using namespace morvellan::test;

namespace {

struct Window
{
  Window()
  {
    gAllocations = 0;
    gLocks = 0;
    gWindowOpen = true;
  }
  ~Window() { gWindowOpen = false; }
};

} // namespace

TEST(AudioPath, TheCountersSeeAllocationsAndLocks)
{
  std::mutex m;
  {
    Window w;
    auto* p = new int(3);
    delete p;
    void* raw = std::malloc(16);
    std::free(raw);
    std::lock_guard<std::mutex> lock(m);
  }
  EXPECT_GE(gAllocations.load(), 2);
  EXPECT_GE(gLocks.load(), 1);
}

TEST(AudioPath, ProcessingAllocatesNothingAndTakesNoLock)
{
  auto engine = std::make_unique<ToneEngine>();
  auto handOver = std::make_unique<BalanceSnapshot>();
  auto published = std::make_unique<BalanceSnapshot>();
  std::atomic<std::uint8_t> pending{0};
  engine->Prepare(48000.0);
  const Channels input = BassyPinkStereo(48000, 48000.0);
  std::vector<double> outL(48000), outR(48000);
  std::vector<float> inF(48000), outF(48000);
  for (std::size_t i = 0; i < inF.size(); ++i)
    inF[i] = static_cast<float>(input[0][i]);
  BandBalance target{};
  target[2] = 3.0;
  handOver->Write(target, target, true);
  pending = 1;
  ToneEngineSettings s = WorstPathSettings();
  BalanceCopy copy;

  {
    Window w;
    int block = 0;
    for (std::size_t pos = 0; pos + 512 <= 48000; pos += 512, ++block)
    {
      // What the audio callback does around the engine: take a hand-over, publish the target.
      if (pending.exchange(0) != 0 && handOver->TryRead(copy))
        engine->SetTargetBalance(copy.relative);
      // A setting moves every block, a shelf flips now and then, learning starts and stops.
      s.tiltDbPerOct = (block % 4) * 0.5;
      s.preEqBands[0].shelf = (block % 10) < 5;
      s.hpFreqHz = 30.0 + block;
      s.targetBands[1].freqHz = 300.0 + block;
      engine->ApplySettings(s);
      if (block == 10)
        engine->StartLearning();
      if (block == 60)
        engine->StopLearning();
      if (block == 70)
        engine->ClearLearnedTarget();
      if (block == 80)
        engine->RestoreTarget(target, target);
      const double* in[2] = {input[0].data() + pos, input[1].data() + pos};
      double* out[2] = {outL.data() + pos, outR.data() + pos};
      engine->ProcessSamples(in, out, 2, 512);
      const float* inFloat[1] = {inF.data() + pos};
      float* outFloat[1] = {outF.data() + pos};
      engine->ProcessSamples(inFloat, outFloat, 1, 512);
      PassThroughChannels(in, 2, out, 2, 512);
      published->TryWrite(engine->targetRelative, engine->targetAbsolute, engine->hasTarget);
    }
  }
  EXPECT_EQ(gAllocations.load(), 0);
  EXPECT_EQ(gLocks.load(), 0);
  EXPECT_TRUE(engine->eqActive); // the whole path, correction included, was exercised
}

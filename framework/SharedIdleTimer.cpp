#include "SharedIdleTimer.h"

#include "SharedThread.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace iplug
{

struct SharedIdleTimer::Entry
{
  Tick tick;
  // Both under the timer's mutex.
  bool removed = false;
  int running = 0;
};

namespace
{

using Handle = SharedIdleTimer::Handle;

struct TimerState
{
  std::mutex mutex;
  std::condition_variable wake;     // the thread's sleep; changes of generation
  std::condition_variable finished; // a tick that was under way has returned
  std::vector<Handle> entries;
  SharedThread thread;
};

// Never destroyed: a static destructor at unload must not pull the state from under a thread.
TimerState& State()
{
  static auto* state = new TimerState;
  return *state;
}

thread_local const SharedIdleTimer::Entry* tRunningHere = nullptr;

// One try of one entry; true when it is done for this period. Runs the tick unlocked.
bool TryTick(TimerState& s, std::unique_lock<std::mutex>& lock, SharedIdleTimer::Entry& entry, uint64_t generation)
{
  if (entry.removed || s.thread.Ended(generation))
    return true;
  ++entry.running;
  lock.unlock();
  bool done = true;
  tRunningHere = &entry;
  try
  {
    done = entry.tick();
  }
  catch (...)
  {
    // An exception must not end the host process from our thread.
  }
  tRunningHere = nullptr;
  lock.lock();
  if (--entry.running == 0 && entry.removed)
    s.finished.notify_all();
  return done;
}

void TimerLoop(uint64_t generation)
{
  TimerState& s = State();
  const auto period = std::chrono::milliseconds(SharedIdleTimer::kPeriodMs);
  const auto stopped = [&] { return s.thread.Ended(generation); };
  auto next = std::chrono::steady_clock::now() + period;
  std::vector<Handle> due;
  std::unique_lock<std::mutex> lock(s.mutex);
  while (!stopped())
  {
    if (s.wake.wait_until(lock, next, stopped))
      break;
    next += period;
    const auto now = std::chrono::steady_clock::now();
    if (next < now) // fell behind (a long tick): don't try to catch up
      next = now + period;

    // A tick whose UI lock is taken is tried again each millisecond; the others go on meanwhile.
    due.assign(s.entries.begin(), s.entries.end());
    for (int attempt = 0; !due.empty() && attempt < SharedIdleTimer::kPeriodMs; ++attempt)
    {
      if (attempt > 0 && s.wake.wait_for(lock, std::chrono::milliseconds(1), stopped))
        break;
      std::erase_if(due, [&](const Handle& entry) { return TryTick(s, lock, *entry, generation); });
    }
    due.clear();
  }
}

} // namespace

SharedIdleTimer::Handle SharedIdleTimer::Register(Tick tick)
{
  TimerState& s = State();
  auto entry = std::make_shared<Entry>();
  entry->tick = std::move(tick);
  AddModuleExitHook(&SharedIdleTimer::Shutdown);
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.thread.Start(&TimerLoop))
    return nullptr;
  s.entries.push_back(entry);
  return entry;
}

void SharedIdleTimer::Unregister(const Handle& handle)
{
  if (!handle)
    return;
  TimerState& s = State();
  std::thread last;
  {
    std::unique_lock<std::mutex> lock(s.mutex);
    handle->removed = true;
    std::erase(s.entries, handle);
    // A tick under way ends first: after this nothing of the instance runs on the timer.
    if (tRunningHere != handle.get())
      s.finished.wait(lock, [&] { return handle->running == 0; });
    if (s.entries.empty())
      last = s.thread.End(s.wake);
  }
  SharedThread::Join(last);
}

void SharedIdleTimer::Shutdown()
{
  TimerState& s = State();
  std::thread last;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const Handle& entry : s.entries)
      entry->removed = true;
    s.entries.clear();
    last = s.thread.End(s.wake);
  }
  SharedThread::Join(last);
}

} // namespace iplug

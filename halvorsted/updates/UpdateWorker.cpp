#include "halvorsted/updates/UpdateWorker.h"

#include "SharedThread.h"

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace halvorsted::updates {

struct UpdateWorker::Slot
{
  std::shared_ptr<UpdateCheck> check;
  std::chrono::milliseconds interval;
  std::chrono::steady_clock::time_point due; // under the worker's mutex
};

namespace {

using Clock = std::chrono::steady_clock;
using SlotPtr = std::shared_ptr<UpdateWorker::Slot>;

struct WorkerState
{
  std::mutex mutex;
  std::condition_variable wake; // a slot came or went, or the thread's generation ended
  std::vector<SlotPtr> slots;
  iplug::SharedThread thread;
};

// Never destroyed: a static destructor at unload must not pull the state from under the thread.
WorkerState& State()
{
  static auto* state = new WorkerState;
  return *state;
}

void WorkerLoop(uint64_t generation)
{
  // A write to a server that hung up must fail with EPIPE here, not raise SIGPIPE in the host.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  WorkerState& s = State();
  std::unique_lock<std::mutex> lock(s.mutex);
  while (!s.thread.Ended(generation))
  {
    const auto first = std::min_element(s.slots.begin(), s.slots.end(),
                                        [](const SlotPtr& a, const SlotPtr& b) { return a->due < b->due; });
    if (first == s.slots.end())
    {
      s.wake.wait(lock);
      continue;
    }
    // A copy: the slot may go while the thread waits.
    if (const auto due = (*first)->due; Clock::now() < due)
    {
      // Woken early by a new slot or the end, the choice is made again.
      s.wake.wait_until(lock, due);
      continue;
    }
    // The round runs unlocked on the thread's own references, so a Stop meanwhile only cancels.
    SlotPtr slot = *first;
    lock.unlock();
    try
    {
      RunUpdateCheck(*slot->check);
    }
    catch (...)
    {
      // Nothing may leave the thread; the check tries again next round.
    }
    lock.lock();
    slot->due = Clock::now() + slot->interval;
  }
}

// Module exit: every check comes off, its request cancelled, and the thread is joined.
void ShutdownWorker()
{
  WorkerState& s = State();
  std::thread last;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const SlotPtr& slot : s.slots)
      slot->check->CancelRequests();
    s.slots.clear();
    last = s.thread.End(s.wake);
  }
  iplug::SharedThread::Join(last);
}

} // namespace

UpdateWorker::~UpdateWorker()
{
  Stop();
}

bool UpdateWorker::Start(std::shared_ptr<UpdateCheck> check, std::chrono::milliseconds firstDelay,
                         std::chrono::milliseconds interval)
{
  if (!check || mSlot)
    return false;
  try
  {
    iplug::AddModuleExitHook(&ShutdownWorker);
    auto slot = std::make_shared<Slot>();
    slot->check = std::move(check);
    slot->interval = interval;
    slot->due = Clock::now() + firstDelay;
    WorkerState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    // No thread: the plug-in simply runs without update checks.
    if (!s.thread.Start(&WorkerLoop))
      return false;
    s.slots.push_back(slot);
    s.wake.notify_all();
    mSlot = std::move(slot);
    return true;
  }
  catch (...)
  {
    return false;
  }
}

void UpdateWorker::Stop()
{
  if (!mSlot)
    return;
  // A request under way for this check ends now; a round of another check goes on.
  mSlot->check->CancelRequests();
  WorkerState& s = State();
  std::thread last;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    std::erase(s.slots, mSlot);
    if (s.slots.empty())
      last = s.thread.End(s.wake);
  }
  iplug::SharedThread::Join(last);
  mSlot.reset();
}

} // namespace halvorsted::updates

#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <thread>
#include <utility>

namespace iplug
{

// A thread that many instances share, kept under its owner's mutex: the first user starts
// it, the last one ends it and joins it outside the mutex. A thread runs while the generation
// it was started with is current, so a new one may start while the old one winds down.
class SharedThread
{
public:
  // Starts body(generation) unless a thread runs. False when none could be started.
  template <class Body>
  bool Start(Body body)
  {
    if (mThread.joinable())
      return true;
    const uint64_t generation = ++mGeneration;
    try
    {
      mThread = std::thread(std::move(body), generation);
      return true;
    }
    catch (const std::exception&)
    {
      return false;
    }
  }

  bool Ended(uint64_t generation) const { return mGeneration != generation; }

  // Ends the running thread's generation and wakes it where it waits; join the result unlocked.
  std::thread End(std::condition_variable& wake)
  {
    ++mGeneration;
    wake.notify_all();
    return std::move(mThread);
  }

  // Joins, or detaches when the caller is that thread itself (it ends once it returns).
  static void Join(std::thread& thread)
  {
    if (!thread.joinable())
      return;
    if (thread.get_id() == std::this_thread::get_id())
      thread.detach();
    else
      thread.join();
  }

private:
  std::thread mThread;
  uint64_t mGeneration = 0;
};

// Functions that end shared threads when the module's last reference goes (ExitDll), so
// no thread of ours runs on, even for instances a host left behind. Each runs once per exit.
void AddModuleExitHook(void (*hook)());
// Called by ExitDll.
void RunModuleExitHooks();

} // namespace iplug

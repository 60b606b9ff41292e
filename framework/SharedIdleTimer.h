#pragma once

#include <functional>
#include <memory>

namespace iplug
{

// The process's one idle timer thread, shared by every instance: a session of many instances
// costs one thread and one wake-up per period, not one of each per instance. The thread starts
// with the first registration and is joined when the last one leaves or the module exits.
class SharedIdleTimer
{
public:
  static constexpr int kPeriodMs = 20;

  struct Entry;
  using Handle = std::shared_ptr<Entry>;
  // One idle step of one instance. False when it cannot run now (its UI lock is taken); it is
  // tried again every millisecond for up to one period, and otherwise skipped for that period.
  using Tick = std::function<bool()>;

  // Ticks every period from the next one on. Null when no thread could be started.
  static Handle Register(Tick tick);
  // Once this returns the tick is never called again and no call of it is under way, unless
  // the caller is that call itself. Joins the thread with the last registration. Null is a no-op.
  static void Unregister(const Handle& handle);
  // Module exit: every registration ends and the thread is joined, even when a host left
  // instances behind; a later registration starts a new thread.
  static void Shutdown();
};

} // namespace iplug

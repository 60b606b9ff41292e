#pragma once

// A run loop of our own on a thread, for a host that offers none. Its callbacks run on
// that thread, so the handlers must take the plug-in's UI lock themselves. Private to
// the framework.

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "pluginterfaces/gui/iplugview.h"

namespace iplug::igraphics
{

class PrivateRunLoop final : public Steinberg::Linux::IRunLoop
{
public:
  PrivateRunLoop();
  // Stops and joins the thread: never call it from a handler.
  ~PrivateRunLoop();
  PrivateRunLoop(const PrivateRunLoop&) = delete;
  PrivateRunLoop& operator=(const PrivateRunLoop&) = delete;

  bool Running() const { return mThread.joinable(); }
  // Asks the thread to end without waiting for it (safe from a handler).
  void RequestStop();

  // Owned by whoever made it: reference counting never deletes it.
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
  Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
  Steinberg::uint32 PLUGIN_API release() override { return 1; }

  Steinberg::tresult PLUGIN_API registerEventHandler(Steinberg::Linux::IEventHandler* handler,
                                                     Steinberg::Linux::FileDescriptor fd) override;
  Steinberg::tresult PLUGIN_API unregisterEventHandler(Steinberg::Linux::IEventHandler* handler) override;
  Steinberg::tresult PLUGIN_API registerTimer(Steinberg::Linux::ITimerHandler* handler,
                                              Steinberg::Linux::TimerInterval milliseconds) override;
  Steinberg::tresult PLUGIN_API unregisterTimer(Steinberg::Linux::ITimerHandler* handler) override;

private:
  struct FdEntry
  {
    Steinberg::Linux::IEventHandler* handler;
    int fd;
  };
  struct TimerEntry
  {
    Steinberg::Linux::ITimerHandler* handler;
    int intervalMs;
    long long dueMs;
  };

  void Loop();
  void Wake();

  std::mutex mMutex;
  std::vector<FdEntry> mFds;
  std::vector<TimerEntry> mTimers;
  std::atomic<bool> mStop{false};
  int mWakePipe[2] = {-1, -1};
  std::thread mThread;
};

} // namespace iplug::igraphics

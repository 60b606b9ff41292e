#include "PrivateRunLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>

using namespace Steinberg;

namespace iplug::igraphics
{

namespace
{

long long NowMs()
{
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

PrivateRunLoop::PrivateRunLoop()
{
  if (pipe2(mWakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
  {
    mWakePipe[0] = mWakePipe[1] = -1;
    return;
  }
  try
  {
    mThread = std::thread([this] { Loop(); });
  }
  catch (...)
  {
    // No thread: the view stays without timers rather than failing the host.
  }
}

PrivateRunLoop::~PrivateRunLoop()
{
  RequestStop();
  if (mThread.joinable())
  {
    if (mThread.get_id() == std::this_thread::get_id())
      mThread.detach();
    else
      mThread.join();
  }
  for (int fd : mWakePipe)
    if (fd >= 0)
      close(fd);
}

void PrivateRunLoop::RequestStop()
{
  mStop = true;
  Wake();
}

void PrivateRunLoop::Wake()
{
  if (mWakePipe[1] >= 0)
  {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(mWakePipe[1], &byte, 1);
  }
}

tresult PLUGIN_API PrivateRunLoop::queryInterface(const TUID iid, void** obj)
{
  if (!obj)
    return kInvalidArgument;
  if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid))
  {
    *obj = static_cast<Linux::IRunLoop*>(this);
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

tresult PLUGIN_API PrivateRunLoop::registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd)
{
  if (!handler || fd < 0)
    return kInvalidArgument;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mFds.push_back({handler, fd});
  }
  Wake();
  return kResultTrue;
}

tresult PLUGIN_API PrivateRunLoop::unregisterEventHandler(Linux::IEventHandler* handler)
{
  std::lock_guard<std::mutex> lock(mMutex);
  const auto before = mFds.size();
  std::erase_if(mFds, [handler](const FdEntry& e) { return e.handler == handler; });
  return mFds.size() != before ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API PrivateRunLoop::registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds)
{
  if (!handler || milliseconds == 0)
    return kInvalidArgument;
  const int interval = static_cast<int>(std::min<Linux::TimerInterval>(milliseconds, INT_MAX));
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mTimers.push_back({handler, interval, NowMs() + interval});
  }
  Wake();
  return kResultTrue;
}

tresult PLUGIN_API PrivateRunLoop::unregisterTimer(Linux::ITimerHandler* handler)
{
  std::lock_guard<std::mutex> lock(mMutex);
  const auto before = mTimers.size();
  std::erase_if(mTimers, [handler](const TimerEntry& e) { return e.handler == handler; });
  return mTimers.size() != before ? kResultTrue : kResultFalse;
}

void PrivateRunLoop::Loop()
{
  std::vector<pollfd> polled;
  std::vector<Linux::IEventHandler*> ready;
  std::vector<Linux::ITimerHandler*> due;
  while (!mStop)
  {
    int timeout = 100;
    polled.assign(1, pollfd{mWakePipe[0], POLLIN, 0});
    std::vector<FdEntry> fds;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      fds = mFds;
      const long long now = NowMs();
      for (const TimerEntry& t : mTimers)
        timeout = static_cast<int>(std::clamp<long long>(t.dueMs - now, 0, timeout));
    }
    for (const FdEntry& e : fds)
      polled.push_back(pollfd{e.fd, POLLIN, 0});
    if (poll(polled.data(), polled.size(), timeout) < 0)
      continue;
    if (mStop)
      break;
    if (polled[0].revents)
    {
      char drain[64];
      while (read(mWakePipe[0], drain, sizeof(drain)) > 0)
      {
      }
    }

    ready.clear();
    for (size_t i = 1; i < polled.size(); ++i)
      if (polled[i].revents)
        ready.push_back(fds[i - 1].handler);
    due.clear();
    {
      std::lock_guard<std::mutex> lock(mMutex);
      const long long now = NowMs();
      for (TimerEntry& t : mTimers)
        if (t.dueMs <= now)
        {
          due.push_back(t.handler);
          t.dueMs = std::max(t.dueMs + t.intervalMs, now + 1);
        }
    }
    // A handler may unregister others (or itself): each is checked again just before
    // its call.
    for (auto* h : ready)
    {
      bool still;
      int fd = -1;
      {
        std::lock_guard<std::mutex> lock(mMutex);
        auto it = std::find_if(mFds.begin(), mFds.end(), [h](const FdEntry& e) { return e.handler == h; });
        still = it != mFds.end();
        if (still)
          fd = it->fd;
      }
      if (still && !mStop)
        h->onFDIsSet(fd);
    }
    for (auto* h : due)
    {
      bool still;
      {
        std::lock_guard<std::mutex> lock(mMutex);
        still = std::any_of(mTimers.begin(), mTimers.end(), [h](const TimerEntry& e) { return e.handler == h; });
      }
      if (still && !mStop)
        h->onTimer();
    }
  }
}

} // namespace iplug::igraphics

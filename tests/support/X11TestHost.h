#pragma once

// A fake VST3 host for editor views in a real X server (a private Xvfb): a run loop the
// test pumps itself and a frame whose resizeView resizes the host window and answers
// with onSize.

#include <chrono>
#include <functional>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pluginterfaces/gui/iplugview.h"

#include "X11Host.h"

namespace testsupport
{

using namespace Steinberg;

// The host's run loop, pumped by the test on its own thread.
class TestRunLoop : public Linux::IRunLoop
{
public:
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    if (FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid))
    {
      *obj = this;
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return ++refs; }
  uint32 PLUGIN_API release() override { return --refs; }
  tresult PLUGIN_API registerEventHandler(Linux::IEventHandler* h, Linux::FileDescriptor fd) override
  {
    fds[h] = fd;
    return kResultTrue;
  }
  tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler* h) override
  {
    return fds.erase(h) ? kResultTrue : kResultFalse;
  }
  tresult PLUGIN_API registerTimer(Linux::ITimerHandler* h, Linux::TimerInterval ms) override
  {
    timers[h] = ms;
    return kResultTrue;
  }
  tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* h) override
  {
    return timers.erase(h) ? kResultTrue : kResultFalse;
  }

  void Pump()
  {
    for (auto [h, fd] : std::map<Linux::IEventHandler*, int>(fds))
      h->onFDIsSet(fd);
    for (auto [h, ms] : std::map<Linux::ITimerHandler*, Linux::TimerInterval>(timers))
      h->onTimer();
  }

  std::map<Linux::IEventHandler*, int> fds;
  std::map<Linux::ITimerHandler*, Linux::TimerInterval> timers;
  uint32 refs = 1;
};

// The frame a host gives the view; resizeView resizes the host window and calls onSize
// back inside the request, as hosts do.
class TestFrame : public IPlugFrame
{
public:
  TestFrame(Display* d, Window parent, TestRunLoop* loop) : display(d), parent(parent), loop(loop) {}
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    if (loop && FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid))
    {
      loop->addRef();
      *obj = loop;
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return 2; }
  uint32 PLUGIN_API release() override { return 1; }
  tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* r) override
  {
    requests.push_back({r->getWidth(), r->getHeight()});
    if (refuse)
      return kResultFalse;
    XResizeWindow(display, parent, static_cast<unsigned>(r->getWidth()), static_cast<unsigned>(r->getHeight()));
    XSync(display, False);
    return view->onSize(r);
  }
  Display* display;
  Window parent;
  TestRunLoop* loop;
  bool refuse = false;
  std::vector<std::pair<int, int>> requests;
};

// The X connection with what a host does to a view: attach it, pump its loop.
class X11TestHost : public X11Host
{
public:
  // A view made by createView, framed and attached to parent; null when any step fails.
  static IPlugView* AttachView(IPlugView* view, IPlugFrame* frame, Window parent)
  {
    if (!view)
      return nullptr;
    view->setFrame(frame);
    if (view->attached(reinterpret_cast<void*>(parent), kPlatformTypeX11EmbedWindowID) != kResultOk)
    {
      view->release();
      return nullptr;
    }
    return view;
  }

  // Pumps the loop until done() or the deadline.
  bool PumpUntil(TestRunLoop& loop, const std::function<bool()>& done, int ms = 3000)
  {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline)
    {
      loop.Pump();
      XSync(display, False);
      if (done())
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
};

} // namespace testsupport

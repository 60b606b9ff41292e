#pragma once

// A fake VST3 host for editor views in a real X server (a private Xvfb): a run loop the
// test pumps itself, a frame whose resizeView resizes the host window and answers with
// onSize, and a connection that looks at windows and pixels as another X client would.

#include <chrono>
#include <functional>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pluginterfaces/gui/iplugview.h"

#include "XvfbServer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

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

// The test's own connection to the private X server, and what it looks at through it.
// Mixed into a fixture, which calls Connect from its SetUp.
class X11Host
{
public:
  X11Host() = default;
  ~X11Host()
  {
    if (display)
      XCloseDisplay(display);
  }
  X11Host(const X11Host&) = delete;
  X11Host& operator=(const X11Host&) = delete;

  // False when no X server could be started (the test is then skipped).
  bool Connect()
  {
    if (!XvfbServer::Shared().Running())
      return false;
    display = XOpenDisplay(nullptr);
    return display != nullptr;
  }

  Window MakeParent(int w, int h)
  {
    const Window win = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(w),
                                           static_cast<unsigned>(h), 0, 0, 0);
    XMapWindow(display, win);
    XSync(display, False);
    return win;
  }

  // A view made by createView, framed and attached to parent; null when any step fails.
  IPlugView* AttachView(IPlugView* view, IPlugFrame* frame, Window parent)
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

  std::vector<Window> Children(Window w)
  {
    Window root = 0, up = 0;
    Window* kids = nullptr;
    unsigned n = 0;
    std::vector<Window> out;
    if (XQueryTree(display, w, &root, &up, &kids, &n))
    {
      out.assign(kids, kids + n);
      if (kids)
        XFree(kids);
    }
    return out;
  }

  // 0xRRGGBB of one pixel of w as the server has it.
  unsigned long PixelAt(Window w, int x, int y)
  {
    XImage* image = XGetImage(display, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
      return 0xFFFFFFFF;
    const unsigned long p = XGetPixel(image, 0, 0) & 0xFFFFFF;
    XDestroyImage(image);
    return p;
  }

  // How many pixels of w are exactly rgb (0xRRGGBB); -1 when w cannot be read.
  long CountPixels(Window w, unsigned long rgb)
  {
    XWindowAttributes a{};
    XGetWindowAttributes(display, w, &a);
    XImage* image = XGetImage(display, w, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height),
                              AllPlanes, ZPixmap);
    if (!image)
      return -1;
    long n = 0;
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x)
        n += (XGetPixel(image, x, y) & 0xFFFFFF) == rgb ? 1 : 0;
    XDestroyImage(image);
    return n;
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

  std::pair<int, int> SizeOf(Window w)
  {
    XWindowAttributes a{};
    XGetWindowAttributes(display, w, &a);
    return {a.width, a.height};
  }

  // The view resizes on its own connection: the server may see that after our query.
  bool WaitForSize(Window w, int width, int height)
  {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (;;)
    {
      if (SizeOf(w) == std::make_pair(width, height))
        return true;
      if (std::chrono::steady_clock::now() > deadline)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // A press and release as the server would send them.
  void Press(Window child, unsigned button, int x, int y)
  {
    XEvent e{};
    e.xbutton.type = ButtonPress;
    e.xbutton.display = display;
    e.xbutton.window = child;
    e.xbutton.button = button;
    e.xbutton.x = x;
    e.xbutton.y = y;
    e.xbutton.time = static_cast<Time>(1000 + 1000 * (++mPresses)); // far apart: never a double click
    e.xbutton.same_screen = True;
    XSendEvent(display, child, False, ButtonPressMask, &e);
    e.xbutton.type = ButtonRelease;
    XSendEvent(display, child, False, ButtonReleaseMask, &e);
    XSync(display, False);
  }

  Display* display = nullptr;

private:
  int mPresses = 0;
};

#define SKIP_WITHOUT_X_SERVER()                                                                              \
  if (!Connect())                                                                                              \
  GTEST_SKIP() << "no X server could be started (Xvfb missing?)"

} // namespace testsupport

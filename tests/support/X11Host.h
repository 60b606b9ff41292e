#pragma once

// The test's own connection to a private Xvfb: windows and pixels as another X client
// sees them, and input sent as the server would deliver it.

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

// Before Xlib, whose None macro would break it.
#include <gtest/gtest.h>

#include "XvfbServer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace testsupport
{

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

  std::pair<int, int> SizeOf(Window w)
  {
    XWindowAttributes a{};
    XGetWindowAttributes(display, w, &a);
    return {a.width, a.height};
  }

  // Windows resized on other connections: the server may see that after our query.
  bool WaitForSize(Window w, int width, int height, std::chrono::seconds timeout = std::chrono::seconds(3))
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
      if (SizeOf(w) == std::make_pair(width, height))
        return true;
      if (std::chrono::steady_clock::now() > deadline)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // A button or motion event of the left button (or another) as the server would send it.
  void Send(Window w, int type, int x, int y, unsigned state = 0, unsigned button = Button1)
  {
    XEvent e{};
    e.xbutton.type = type;
    e.xbutton.display = display;
    e.xbutton.window = w;
    e.xbutton.root = DefaultRootWindow(display);
    e.xbutton.button = button;
    e.xbutton.state = state;
    e.xbutton.x = x;
    e.xbutton.y = y;
    e.xbutton.time = static_cast<Time>(1000 + 1000 * (++mPresses)); // far apart: never a double click
    e.xbutton.same_screen = True;
    const long mask = type == ButtonPress ? ButtonPressMask : type == ButtonRelease ? ButtonReleaseMask : PointerMotionMask;
    XSendEvent(display, w, False, mask, &e);
    XFlush(display);
  }

  // A press and release.
  void Press(Window w, unsigned button, int x, int y)
  {
    Send(w, ButtonPress, x, y, 0, button);
    Send(w, ButtonRelease, x, y, 0, button);
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

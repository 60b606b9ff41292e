#include "X11Window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/XShm.h>
#include <X11/keysym.h>
#include <cairo-xlib.h>
#include <cairo.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

// Xlib's None would clash with EVirtualKey::None.
#undef None
constexpr unsigned long kXNone = 0L;

namespace iplug::igraphics
{

namespace
{

// Xlib's error handler is one per process and its default ends the process. While we
// talk to our connection, errors on it are counted instead; errors on any other
// connection (the host's) still reach the handler that was there before.
class ErrorTrap
{
public:
  ErrorTrap(Display* display, int& counter) : mLock(Mutex())
  {
    State& s = GetState();
    if (s.depth++ == 0)
      s.previous = XSetErrorHandler(&Handler);
    s.trapped.push_back({display, &counter});
  }

  ~ErrorTrap()
  {
    State& s = GetState();
    s.trapped.pop_back();
    if (--s.depth == 0)
      XSetErrorHandler(s.previous);
  }

  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

private:
  struct Trapped
  {
    Display* display;
    int* counter;
  };
  struct State
  {
    int depth = 0;
    XErrorHandler previous = nullptr;
    std::vector<Trapped> trapped;
  };

  static std::recursive_mutex& Mutex()
  {
    static std::recursive_mutex mutex;
    return mutex;
  }
  static State& GetState()
  {
    static State state;
    return state;
  }
  static int Handler(Display* display, XErrorEvent* error)
  {
    State& s = GetState();
    for (const Trapped& t : s.trapped)
      if (t.display == display)
      {
        ++*t.counter;
        return 0;
      }
    return s.previous ? s.previous(display, error) : 0;
  }

  std::lock_guard<std::recursive_mutex> mLock;
};

void AppendUtf8(std::string& out, unsigned long cp)
{
  if (cp < 0x80)
    out += static_cast<char>(cp);
  else if (cp < 0x800)
  {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  else if (cp < 0x10000)
  {
    if (cp >= 0xD800 && cp < 0xE000)
      return;
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  else if (cp < 0x110000)
  {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Without an input context: Latin-1 keysyms are their own code points, and keysyms
// 0x01000000 + U carry the code point U.
std::string KeysymToUtf8(KeySym sym)
{
  std::string out;
  if ((sym >= 0x20 && sym <= 0x7E) || (sym >= 0xA0 && sym <= 0xFF))
    AppendUtf8(out, sym);
  else if (sym >= 0x01000100 && sym <= 0x0110FFFF)
    AppendUtf8(out, sym - 0x01000000);
  return out;
}

EVirtualKey VirtualKeyOf(KeySym sym)
{
  switch (sym)
  {
    case XK_BackSpace: return EVirtualKey::Back;
    case XK_Delete:
    case XK_KP_Delete: return EVirtualKey::Delete;
    case XK_Return:
    case XK_KP_Enter: return EVirtualKey::Return;
    case XK_Escape: return EVirtualKey::Escape;
    case XK_Left:
    case XK_KP_Left: return EVirtualKey::Left;
    case XK_Right:
    case XK_KP_Right: return EVirtualKey::Right;
    case XK_Home:
    case XK_KP_Home: return EVirtualKey::Home;
    case XK_End:
    case XK_KP_End: return EVirtualKey::End;
    case XK_Tab:
    case XK_ISO_Left_Tab: return EVirtualKey::Tab;
    default: return EVirtualKey::None;
  }
}

IMouseMod ModsOf(unsigned int state, bool left, bool right)
{
  return IMouseMod(left, right, (state & ShiftMask) != 0, (state & ControlMask) != 0, (state & Mod1Mask) != 0);
}

// A size we asked the server for, with the serial of that request.
struct RequestedSize
{
  unsigned long serial;
  int width;
  int height;
};

// Beyond this many unanswered requests the oldest are forgotten (a request that changed
// nothing may never be answered).
constexpr size_t kMaxRequestedSizes = 64;

// A configure notice reports the server's state as of the request with its serial: the
// notices of all our requests up to that one have arrived. It is our own when it reports
// one of those sizes, and then says nothing new: later requests are on their way.
bool TakeOwnNotice(std::vector<RequestedSize>& requested, unsigned long serial, int width, int height)
{
  bool own = false;
  auto done = requested.begin();
  for (; done != requested.end() && done->serial <= serial; ++done)
    own = own || (done->width == width && done->height == height);
  requested.erase(requested.begin(), done);
  return own;
}

} // namespace

struct X11Window::Impl
{
  Display* display = nullptr;
  Window window = 0;
  bool windowAlive = false;
  Visual* visual = nullptr;
  int width = 0;
  int height = 0;
  int depth = 0;
  GC gc = nullptr;
  // 32-bit pixels with red, green and blue bytes where ARGB32 keeps them: our pixels
  // go up as they are. Other visuals go through cairo, which converts.
  bool directUpload = false;
  // A shared-memory image the server reads our pixels from, when it offers MIT-SHM
  // on this connection; sized to the canvas pixels.
  bool shmUsable = false;
  XShmSegmentInfo shm{};
  XImage* shmImage = nullptr;
  cairo_surface_t* surface = nullptr;
  XIM im = nullptr;
  XIC ic = nullptr;
  Cursor cursors[4] = {0, 0, 0, 0};
  // The background as 0xRRGGBB, the window's background pixel.
  unsigned long background = 0;
  int errors = 0;
  // Our resizes whose configure notice has not come back yet.
  std::vector<RequestedSize> requested;
  // The windows we lie in, up to (not including) the root, each watched for maps, unmaps,
  // reparenting and its window manager state.
  std::vector<Window> ancestors;
  bool viewable = false;
  // Something happened that may have changed viewable / the chain of ancestors.
  bool checkViewable = false;
  bool rewalk = false;
  Atom wmState = 0;
  Atom netWmState = 0;
  Atom netWmStateHidden = 0;
};

X11Window::X11Window() : mImpl(std::make_unique<Impl>()) {}

X11Window::~X11Window()
{
  Close();
}

bool X11Window::IsOpen() const
{
  return mImpl->display != nullptr;
}

int X11Window::ConnectionFd() const
{
  return mImpl->display ? ConnectionNumber(mImpl->display) : -1;
}

unsigned long X11Window::WindowId() const
{
  return mImpl->window;
}

unsigned long X11Window::TopLevelWindow() const
{
  Impl& d = *mImpl;
  if (!d.display || !d.windowAlive)
    return 0;
  ErrorTrap trap(d.display, d.errors);
  if (d.rewalk)
  {
    d.rewalk = false;
    WatchAncestors(d);
  }
  // A window manager's frame sits between the client and the root: the client is the
  // one the manager marks, and the one a dialog must name.
  for (auto it = d.ancestors.rbegin(); it != d.ancestors.rend(); ++it)
  {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const bool managed = XGetWindowProperty(d.display, *it, d.wmState, 0, 0, False, AnyPropertyType, &type, &format,
                                            &items, &after, &data) == Success &&
                         type != 0;
    if (data)
      XFree(data);
    if (managed)
      return *it;
  }
  return d.ancestors.empty() ? 0 : d.ancestors.back();
}

int X11Window::Width() const
{
  return mImpl->width;
}

int X11Window::Height() const
{
  return mImpl->height;
}

int X11Window::ErrorCount() const
{
  return mImpl->errors;
}

bool X11Window::Open(unsigned long parent, int width, int height)
{
  Close();
  if (parent == 0)
    return false;
  Impl& d = *mImpl;
  d.display = XOpenDisplay(nullptr);
  if (!d.display)
    return false;
  d.width = std::max(1, width);
  d.height = std::max(1, height);
  {
    ErrorTrap trap(d.display, d.errors);
    const int screen = DefaultScreen(d.display);
    d.visual = DefaultVisual(d.display, screen);
    d.depth = DefaultDepth(d.display, screen);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(d.display, screen);
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            LeaveWindowMask | KeyPressMask | StructureNotifyMask | FocusChangeMask;
    // The default visual's depth, not the parent's: a host parent of another depth
    // would otherwise refuse us.
    attributes.colormap = DefaultColormap(d.display, screen);
    attributes.border_pixel = 0;
    d.window = XCreateWindow(d.display, static_cast<Window>(parent), 0, 0, static_cast<unsigned>(d.width),
                             static_cast<unsigned>(d.height), 0, DefaultDepth(d.display, screen), InputOutput,
                             d.visual, CWBackPixel | CWEventMask | CWColormap | CWBorderPixel, &attributes);
    XSync(d.display, False);
    if (d.window == 0 || d.errors > 0)
    {
      if (d.window)
        XDestroyWindow(d.display, d.window);
      d.window = 0;
    }
  }
  if (d.window == 0)
  {
    Close();
    return false;
  }
  d.windowAlive = true;

  ErrorTrap trap(d.display, d.errors);
  // XEmbed: version 0, mapped. Embedders that follow the protocol read this.
  const Atom xembedInfo = XInternAtom(d.display, "_XEMBED_INFO", False);
  const long info[2] = {0, 1};
  XChangeProperty(d.display, d.window, xembedInfo, xembedInfo, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(info), 2);

  d.im = XOpenIM(d.display, nullptr, nullptr, nullptr);
  if (d.im)
  {
    d.ic = XCreateIC(d.im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, d.window,
                     XNFocusWindow, d.window, nullptr);
    if (!d.ic)
    {
      XCloseIM(d.im);
      d.im = nullptr;
    }
  }

  d.wmState = XInternAtom(d.display, "WM_STATE", False);
  d.netWmState = XInternAtom(d.display, "_NET_WM_STATE", False);
  d.netWmStateHidden = XInternAtom(d.display, "_NET_WM_STATE_HIDDEN", False);
  WatchAncestors(d);

  d.gc = XCreateGC(d.display, d.window, 0, nullptr);
  d.directUpload = d.visual->c_class == TrueColor && (d.depth == 24 || d.depth == 32) &&
                   d.visual->red_mask == 0xFF0000 && d.visual->green_mask == 0xFF00 && d.visual->blue_mask == 0xFF;
  if (d.directUpload)
  {
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(d.display, &count);
    bool thirtyTwo = false;
    for (int i = 0; i < count; ++i)
      if (formats[i].depth == d.depth)
        thirtyTwo = formats[i].bits_per_pixel == 32;
    if (formats)
      XFree(formats);
    d.directUpload = thirtyTwo;
  }
  if (!d.directUpload)
    d.surface = cairo_xlib_surface_create(d.display, d.window, d.visual, d.width, d.height);
  d.shmUsable = d.directUpload && XShmQueryExtension(d.display);
  return true;
}

void X11Window::Close()
{
  Impl& d = *mImpl;
  if (!d.display)
    return;
  {
    ErrorTrap trap(d.display, d.errors);
    if (d.surface)
    {
      cairo_surface_finish(d.surface);
      cairo_surface_destroy(d.surface);
      d.surface = nullptr;
    }
    ReleaseSharedImage(d);
    d.requested.clear();
    // The connection's selections on the host's windows end with it.
    d.ancestors.clear();
    d.viewable = false;
    d.checkViewable = false;
    d.rewalk = false;
    if (d.gc)
      XFreeGC(d.display, d.gc);
    d.gc = nullptr;
    if (d.ic)
      XDestroyIC(d.ic);
    d.ic = nullptr;
    if (d.im)
      XCloseIM(d.im);
    d.im = nullptr;
    for (Cursor& c : d.cursors)
    {
      if (c)
        XFreeCursor(d.display, c);
      c = 0;
    }
    if (d.window && d.windowAlive)
      XDestroyWindow(d.display, d.window);
    d.window = 0;
    d.windowAlive = false;
    // Errors of the requests above arrive here, still inside the trap.
    XSync(d.display, False);
    XCloseDisplay(d.display);
  }
  d.display = nullptr;
}

void X11Window::Map()
{
  Impl& d = *mImpl;
  if (!d.display || !d.windowAlive)
    return;
  ErrorTrap trap(d.display, d.errors);
  XMapWindow(d.display, d.window);
  XFlush(d.display);
  d.checkViewable = true;
}

void X11Window::WatchAncestors(Impl& d)
{
  // Selected before anything is asked about them: a change after this point sends an event.
  std::vector<Window> chain;
  Window w = d.window;
  for (int depth = 0; depth < 64; ++depth)
  {
    Window root = 0, parent = 0;
    Window* kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d.display, w, &root, &parent, &kids, &n))
      break;
    if (kids)
      XFree(kids);
    if (parent == 0 || parent == root)
      break;
    chain.push_back(parent);
    w = parent;
  }
  for (Window old : d.ancestors)
    if (std::find(chain.begin(), chain.end(), old) == chain.end())
      XSelectInput(d.display, old, NoEventMask);
  for (Window a : chain)
    XSelectInput(d.display, a, StructureNotifyMask | PropertyChangeMask);
  d.ancestors = std::move(chain);
}

bool X11Window::Minimised(Impl& d, unsigned long window)
{
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool minimised = false;
  // ICCCM: the window manager's state of a top-level window, IconicState (3) when minimised.
  if (XGetWindowProperty(d.display, window, d.wmState, 0, 1, False, d.wmState, &type, &format, &count, &after,
                         &data) == Success &&
      data)
  {
    minimised = type == d.wmState && format == 32 && count >= 1 && reinterpret_cast<long*>(data)[0] == 3;
    XFree(data);
    data = nullptr;
  }
  // EWMH: window managers that keep a minimised window mapped say so here.
  if (!minimised && XGetWindowProperty(d.display, window, d.netWmState, 0, 64, False, XA_ATOM, &type, &format,
                                       &count, &after, &data) == Success &&
      data)
  {
    if (type == XA_ATOM && format == 32)
      for (unsigned long i = 0; i < count && !minimised; ++i)
        minimised = static_cast<Atom>(reinterpret_cast<long*>(data)[i]) == d.netWmStateHidden;
    XFree(data);
  }
  return minimised;
}

bool X11Window::QueryViewable(Impl& d)
{
  if (d.rewalk)
  {
    d.rewalk = false;
    WatchAncestors(d);
  }
  XWindowAttributes attributes{};
  // A window that cannot be asked about is drawn: when in doubt, show.
  if (!XGetWindowAttributes(d.display, d.window, &attributes))
    return true;
  if (attributes.map_state != IsViewable)
    return false;
  for (Window a : d.ancestors)
    if (Minimised(d, a))
      return false;
  return true;
}

void X11Window::Resize(int width, int height)
{
  Impl& d = *mImpl;
  if (!d.display || !d.windowAlive || width < 1 || height < 1)
    return;
  if (width == d.width && height == d.height)
    return;
  ErrorTrap trap(d.display, d.errors);
  d.width = width;
  d.height = height;
  if (d.requested.size() >= kMaxRequestedSizes)
    d.requested.erase(d.requested.begin());
  d.requested.push_back({NextRequest(d.display), width, height});
  XResizeWindow(d.display, d.window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (d.surface)
    cairo_xlib_surface_set_size(d.surface, width, height);
  XFlush(d.display);
}

bool X11Window::NextEvent(WindowEvent& out)
{
  Impl& d = *mImpl;
  if (!d.display)
    return false;
  ErrorTrap trap(d.display, d.errors);
  for (;;)
  {
    if (XPending(d.display) == 0)
    {
      // Once the queue is empty: what all those notices add up to.
      if (!d.checkViewable || !d.windowAlive)
        return false;
      d.checkViewable = false;
      const bool viewable = QueryViewable(d);
      if (viewable == d.viewable)
        continue;
      d.viewable = viewable;
      out = WindowEvent();
      out.type = viewable ? WindowEvent::Type::Shown : WindowEvent::Type::Hidden;
      return true;
    }
    XEvent e;
    XNextEvent(d.display, &e);
    if (XFilterEvent(&e, kXNone))
      continue;
    switch (e.type)
    {
      case MapNotify:
      case UnmapNotify:
      case DestroyNotify:
        d.checkViewable = true;
        break;
      case ReparentNotify:
        d.checkViewable = true;
        d.rewalk = true;
        break;
      case PropertyNotify:
        if (e.xproperty.atom == d.wmState || e.xproperty.atom == d.netWmState)
          d.checkViewable = true;
        break;
      default:
        break;
    }
    if (e.xany.window != d.window)
      continue;
    out = WindowEvent();
    switch (e.type)
    {
      case ButtonPress:
      {
        const unsigned b = e.xbutton.button;
        out.x = static_cast<float>(e.xbutton.x);
        out.y = static_cast<float>(e.xbutton.y);
        out.timeMs = static_cast<double>(e.xbutton.time);
        if (b == Button4 || b == Button5)
        {
          out.type = WindowEvent::Type::Wheel;
          out.delta = b == Button4 ? 1.f : -1.f;
          out.mod = ModsOf(e.xbutton.state, false, false);
          return true;
        }
        if (b != Button1 && b != Button3)
          continue;
        out.type = WindowEvent::Type::MouseDown;
        out.mod = ModsOf(e.xbutton.state, b == Button1, b == Button3);
        return true;
      }
      case ButtonRelease:
      {
        const unsigned b = e.xbutton.button;
        if (b != Button1 && b != Button3)
          continue;
        out.type = WindowEvent::Type::MouseUp;
        out.x = static_cast<float>(e.xbutton.x);
        out.y = static_cast<float>(e.xbutton.y);
        out.timeMs = static_cast<double>(e.xbutton.time);
        out.mod = ModsOf(e.xbutton.state, b == Button1, b == Button3);
        return true;
      }
      case MotionNotify:
      {
        // Only the latest position of a burst matters.
        while (XCheckTypedWindowEvent(d.display, d.window, MotionNotify, &e))
        {
        }
        out.type = WindowEvent::Type::MouseMove;
        out.x = static_cast<float>(e.xmotion.x);
        out.y = static_cast<float>(e.xmotion.y);
        out.timeMs = static_cast<double>(e.xmotion.time);
        out.mod = ModsOf(e.xmotion.state, (e.xmotion.state & Button1Mask) != 0, (e.xmotion.state & Button3Mask) != 0);
        return true;
      }
      case LeaveNotify:
        if (e.xcrossing.mode != NotifyNormal)
          continue;
        out.type = WindowEvent::Type::Leave;
        return true;
      case KeyPress:
      {
        char buffer[64] = {};
        KeySym sym = NoSymbol;
        int n = 0;
        if (d.ic)
        {
          Status status = 0;
          n = Xutf8LookupString(d.ic, &e.xkey, buffer, static_cast<int>(sizeof(buffer)) - 1, &sym, &status);
          if (status != XLookupChars && status != XLookupBoth)
            n = 0;
          if (status == XLookupNone || status == XBufferOverflow)
            sym = NoSymbol;
        }
        else
        {
          XLookupString(&e.xkey, buffer, static_cast<int>(sizeof(buffer)) - 1, &sym, nullptr);
          n = -1;
        }
        out.type = WindowEvent::Type::Key;
        out.timeMs = static_cast<double>(e.xkey.time);
        out.key.mods = ModsOf(e.xkey.state, false, false);
        out.key.vk = VirtualKeyOf(sym);
        if (out.key.vk == EVirtualKey::None)
        {
          if (n > 0)
            out.key.utf8.assign(buffer, static_cast<size_t>(std::min<int>(n, sizeof(buffer) - 1)));
          else if (n < 0)
            out.key.utf8 = KeysymToUtf8(sym);
          // Control characters are not text.
          if (out.key.utf8.empty() || static_cast<unsigned char>(out.key.utf8[0]) < 0x20 || out.key.utf8[0] == 0x7F)
            continue;
        }
        return true;
      }
      case Expose:
        out.type = WindowEvent::Type::Exposed;
        out.rect = IRECT(static_cast<float>(e.xexpose.x), static_cast<float>(e.xexpose.y),
                         static_cast<float>(e.xexpose.x + e.xexpose.width),
                         static_cast<float>(e.xexpose.y + e.xexpose.height));
        return true;
      case ConfigureNotify:
        if (e.xconfigure.window != d.window)
          continue;
        // A notice of a size we asked for, arriving after we asked for the next one, must
        // not take the window back to it.
        if (TakeOwnNotice(d.requested, e.xconfigure.serial, e.xconfigure.width, e.xconfigure.height))
          continue;
        if (e.xconfigure.width == d.width && e.xconfigure.height == d.height)
          continue;
        d.width = e.xconfigure.width;
        d.height = e.xconfigure.height;
        if (d.surface)
          cairo_xlib_surface_set_size(d.surface, d.width, d.height);
        out.type = WindowEvent::Type::Resized;
        out.width = d.width;
        out.height = d.height;
        return true;
      case DestroyNotify:
        if (e.xdestroywindow.window != d.window)
          continue;
        d.windowAlive = false;
        out.type = WindowEvent::Type::Destroyed;
        return true;
      case FocusIn:
        if (d.ic)
          XSetICFocus(d.ic);
        continue;
      case FocusOut:
        if (d.ic)
          XUnsetICFocus(d.ic);
        continue;
      default:
        continue;
    }
  }
}

void X11Window::Paint(const unsigned char* pixels, int stride, int pixelWidth, int pixelHeight, const IRECT& rect)
{
  Impl& d = *mImpl;
  if (!d.display || !d.windowAlive || !pixels)
    return;
  const IRECT area = rect.Intersect(IRECT(0.f, 0.f, static_cast<float>(d.width), static_cast<float>(d.height)));
  if (area.Degenerate())
    return;
  ErrorTrap trap(d.display, d.errors);
  if (d.directUpload)
    PutPixels(d, pixels, stride, pixelWidth, pixelHeight, area);
  else if (d.surface)
    CairoPutPixels(d, pixels, stride, pixelWidth, pixelHeight, area);
  // A window larger than the canvas shows the background beyond it.
  const int x0 = static_cast<int>(std::floor(area.L));
  const int y0 = static_cast<int>(std::floor(area.T));
  const int x1 = static_cast<int>(std::ceil(area.R));
  const int y1 = static_cast<int>(std::ceil(area.B));
  if (x1 > pixelWidth)
    XClearArea(d.display, d.window, std::max(x0, pixelWidth), y0, static_cast<unsigned>(x1 - std::max(x0, pixelWidth)),
               static_cast<unsigned>(y1 - y0), False);
  if (y1 > pixelHeight)
    XClearArea(d.display, d.window, x0, std::max(y0, pixelHeight), static_cast<unsigned>(x1 - x0),
               static_cast<unsigned>(y1 - std::max(y0, pixelHeight)), False);
  XFlush(d.display);
}

void X11Window::SetBackground(const IColor& color)
{
  Impl& d = *mImpl;
  const unsigned long rgb = (static_cast<unsigned long>(color.R & 255) << 16) |
                            (static_cast<unsigned long>(color.G & 255) << 8) | static_cast<unsigned long>(color.B & 255);
  if (!d.display || !d.windowAlive || rgb == d.background)
    return;
  d.background = rgb;
  XColor c{};
  c.red = static_cast<unsigned short>(color.R & 255) * 257;
  c.green = static_cast<unsigned short>(color.G & 255) * 257;
  c.blue = static_cast<unsigned short>(color.B & 255) * 257;
  ErrorTrap trap(d.display, d.errors);
  // A true-colour visual answers from its masks; others take the nearest in the colormap.
  if (!XAllocColor(d.display, DefaultColormap(d.display, DefaultScreen(d.display)), &c))
    c.pixel = BlackPixel(d.display, DefaultScreen(d.display));
  XSetWindowBackground(d.display, d.window, c.pixel);
}

void X11Window::PutPixels(Impl& d, const unsigned char* pixels, int stride, int pixelWidth, int pixelHeight,
                          const IRECT& area)
{
  const int x0 = static_cast<int>(std::floor(area.L));
  const int y0 = static_cast<int>(std::floor(area.T));
  const int x1 = static_cast<int>(std::ceil(area.R));
  const int y1 = static_cast<int>(std::ceil(area.B));
  const int w = std::min(x1, pixelWidth) - x0;
  const int h = std::min(y1, pixelHeight) - y0;
  if (w > 0 && h > 0 && d.shmUsable && SharedImageFor(d, pixelWidth, pixelHeight))
  {
    XImage* image = d.shmImage;
    for (int y = y0; y < y0 + h; ++y)
      std::memcpy(image->data + static_cast<ptrdiff_t>(y) * image->bytes_per_line + 4 * x0,
                  pixels + static_cast<ptrdiff_t>(y) * stride + 4 * x0, static_cast<size_t>(4 * w));
    XShmPutImage(d.display, d.window, d.gc, image, x0, y0, x0, y0, static_cast<unsigned>(w), static_cast<unsigned>(h),
                 False);
    // The server reads the segment later: the next frame must not write it before then.
    XSync(d.display, False);
  }
  else if (w > 0 && h > 0)
  {
    // Wraps the pixels without copying; Xlib sends the rectangle and swaps bytes if the
    // server's order differs from ours.
    XImage* image = XCreateImage(d.display, d.visual, static_cast<unsigned>(d.depth), ZPixmap, 0,
                                 reinterpret_cast<char*>(const_cast<unsigned char*>(pixels)),
                                 static_cast<unsigned>(pixelWidth), static_cast<unsigned>(pixelHeight), 32, stride);
    if (image)
    {
      const uint32_t probe = 1;
      image->byte_order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? LSBFirst : MSBFirst;
      XInitImage(image);
      XPutImage(d.display, d.window, d.gc, image, x0, y0, x0, y0, static_cast<unsigned>(w), static_cast<unsigned>(h));
      image->data = nullptr; // ours, not Xlib's to free
      XDestroyImage(image);
    }
  }
}

bool X11Window::SharedImageFor(Impl& d, int pixelWidth, int pixelHeight)
{
  if (d.shmImage && d.shmImage->width == pixelWidth && d.shmImage->height == pixelHeight)
    return true;
  ReleaseSharedImage(d);
  XImage* image = XShmCreateImage(d.display, d.visual, static_cast<unsigned>(d.depth), ZPixmap, nullptr, &d.shm,
                                  static_cast<unsigned>(pixelWidth), static_cast<unsigned>(pixelHeight));
  if (!image)
  {
    d.shmUsable = false;
    return false;
  }
  d.shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(image->height),
                       IPC_CREAT | 0600);
  void* address = d.shm.shmid >= 0 ? shmat(d.shm.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
  if (address == reinterpret_cast<void*>(-1))
  {
    if (d.shm.shmid >= 0)
      shmctl(d.shm.shmid, IPC_RMID, nullptr);
    XDestroyImage(image);
    d.shmUsable = false;
    return false;
  }
  d.shm.shmaddr = image->data = static_cast<char*>(address);
  d.shm.readOnly = False;
  const int errorsBefore = d.errors;
  XShmAttach(d.display, &d.shm);
  XSync(d.display, False);
  // Marked for removal now: the segment goes once both sides have let go of it.
  shmctl(d.shm.shmid, IPC_RMID, nullptr);
  d.shmImage = image;
  if (d.errors != errorsBefore)
  {
    // A server on another machine (or in another namespace) cannot see the segment.
    ReleaseSharedImage(d);
    d.shmUsable = false;
    return false;
  }
  return true;
}

void X11Window::ReleaseSharedImage(Impl& d)
{
  if (!d.shmImage)
    return;
  XShmDetach(d.display, &d.shm);
  XSync(d.display, False);
  shmdt(d.shm.shmaddr);
  d.shmImage->data = nullptr;
  XDestroyImage(d.shmImage);
  d.shmImage = nullptr;
  d.shm = XShmSegmentInfo{};
}

void X11Window::CairoPutPixels(Impl& d, const unsigned char* pixels, int stride, int pixelWidth, int pixelHeight,
                               const IRECT& area)
{
  // Only where there are pixels: the rest is the window's background.
  const double left = std::floor(area.L);
  const double top = std::floor(area.T);
  const double right = std::min<double>(std::ceil(area.R), pixelWidth);
  const double bottom = std::min<double>(std::ceil(area.B), pixelHeight);
  if (right <= left || bottom <= top)
    return;
  // The pixels are only read: cairo's image surface over them never writes.
  cairo_surface_t* source = cairo_image_surface_create_for_data(const_cast<unsigned char*>(pixels),
                                                                CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight, stride);
  cairo_t* cr = cairo_create(d.surface);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, source, 0., 0.);
  cairo_rectangle(cr, left, top, right - left, bottom - top);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(source);
  cairo_surface_flush(d.surface);
}

void X11Window::SetCursor(ECursor cursor)
{
  Impl& d = *mImpl;
  if (!d.display || !d.windowAlive)
    return;
  ErrorTrap trap(d.display, d.errors);
  int slot = 0;
  unsigned shape = XC_left_ptr;
  switch (cursor)
  {
    case ECursor::HAND: slot = 1; shape = XC_hand2; break;
    case ECursor::SIZENWSE: slot = 2; shape = XC_bottom_right_corner; break;
    case ECursor::IBEAM: slot = 3; shape = XC_xterm; break;
    case ECursor::ARROW: break;
  }
  if (!d.cursors[slot])
    d.cursors[slot] = XCreateFontCursor(d.display, shape);
  XDefineCursor(d.display, d.window, d.cursors[slot]);
  XFlush(d.display);
}

void X11Window::FocusKeyboard()
{
  Impl& d = *mImpl;
  if (!d.display || !d.windowAlive)
    return;
  ErrorTrap trap(d.display, d.errors);
  // An unviewable window refuses the focus (BadMatch): absorbed by the trap.
  XSetInputFocus(d.display, d.window, RevertToParent, CurrentTime);
  if (d.ic)
    XSetICFocus(d.ic);
  XFlush(d.display);
}

} // namespace iplug::igraphics

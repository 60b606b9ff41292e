#include "X11Window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>
#include <cairo-xlib.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
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

} // namespace

struct X11Window::Impl
{
  Display* display = nullptr;
  Window window = 0;
  bool windowAlive = false;
  Visual* visual = nullptr;
  int width = 0;
  int height = 0;
  cairo_surface_t* surface = nullptr;
  XIM im = nullptr;
  XIC ic = nullptr;
  Cursor cursors[4] = {0, 0, 0, 0};
  int errors = 0;
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

  d.surface = cairo_xlib_surface_create(d.display, d.window, d.visual, d.width, d.height);
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
  while (XPending(d.display) > 0)
  {
    XEvent e;
    XNextEvent(d.display, &e);
    if (XFilterEvent(&e, kXNone))
      continue;
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
  return false;
}

void X11Window::Paint(const unsigned char* pixels, int stride, int pixelWidth, int pixelHeight, const IRECT& rect)
{
  Impl& d = *mImpl;
  if (!d.display || !d.windowAlive || !d.surface || !pixels)
    return;
  const IRECT area = rect.Intersect(IRECT(0.f, 0.f, static_cast<float>(d.width), static_cast<float>(d.height)));
  if (area.Degenerate())
    return;
  ErrorTrap trap(d.display, d.errors);
  // The pixels are only read: cairo's image surface over them never writes.
  cairo_surface_t* source = cairo_image_surface_create_for_data(const_cast<unsigned char*>(pixels),
                                                                CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight, stride);
  cairo_t* cr = cairo_create(d.surface);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, source, 0., 0.);
  cairo_rectangle(cr, std::floor(area.L), std::floor(area.T), std::ceil(area.R) - std::floor(area.L),
                  std::ceil(area.B) - std::floor(area.T));
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(source);
  cairo_surface_flush(d.surface);
  XFlush(d.display);
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

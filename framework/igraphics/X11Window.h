#pragma once

// The editor's child window on its own X connection. Private to the framework: no X11
// type appears here, window ids travel as the XID integers they are.

#include <memory>

#include "IGraphicsStructs.h"

namespace iplug::igraphics
{

// One input or window event, already in the editor's terms. Positions are window pixels.
struct WindowEvent
{
  enum class Type
  {
    MouseDown,
    MouseUp,
    MouseMove,
    Wheel,
    Leave,
    Key,
    Exposed, // rect needs repainting
    Resized, // someone else resized our window to width x height
    Destroyed,
    Shown,  // it can be seen: it and every window it lies in are mapped, none minimised
    Hidden  // it, or a window it lies in, was unmapped or minimised
  };
  Type type = Type::MouseMove;
  float x = 0.f;
  float y = 0.f;
  IMouseMod mod;
  double timeMs = 0.;
  float delta = 0.f;
  IKeyPress key;
  IRECT rect;
  int width = 0;
  int height = 0;
};

class X11Window
{
public:
  X11Window();
  ~X11Window();
  X11Window(const X11Window&) = delete;
  X11Window& operator=(const X11Window&) = delete;

  // Connects to the display and makes an unmapped child of parent. False when either
  // fails; the object is then closed.
  bool Open(unsigned long parent, int width, int height);
  // Everything goes, the display last. Safe when the parent (and so our window) was
  // already destroyed by someone else.
  void Close();
  bool IsOpen() const;

  // The connection's descriptor for the run loop (-1 when closed).
  int ConnectionFd() const;
  unsigned long WindowId() const;
  // The top-level window that holds ours: the client window a window manager manages
  // (the one with WM_STATE), else the ancestor just below the root; 0 when closed.
  unsigned long TopLevelWindow() const;
  int Width() const;
  int Height() const;

  void Map();
  void Resize(int width, int height);

  // The next translated event, false when nothing is queued (reads whatever the
  // connection has, so also drains events that arrived without the descriptor waking us).
  bool NextEvent(WindowEvent& event);

  // Uploads rect (window pixels) from premultiplied ARGB32 pixels of pixelWidth x
  // pixelHeight; window area outside them shows the background. Flushes.
  void Paint(const unsigned char* pixels, int stride, int pixelWidth, int pixelHeight, const IRECT& rect);
  // The colour the window shows where no pixels are (black until set); its alpha is ignored.
  void SetBackground(const IColor& color);

  void SetCursor(ECursor cursor);
  // Takes the keyboard focus (a text entry opened).
  void FocusKeyboard();

  // X errors on this connection since it opened (each was absorbed, never fatal).
  int ErrorCount() const;

private:
  struct Impl;
  static void PutPixels(Impl& d, const unsigned char* pixels, int stride, int pixelWidth, int pixelHeight,
                        const IRECT& area);
  static bool SharedImageFor(Impl& d, int pixelWidth, int pixelHeight);
  static void ReleaseSharedImage(Impl& d);
  static void CairoPutPixels(Impl& d, const unsigned char* pixels, int stride, int pixelWidth, int pixelHeight,
                             const IRECT& area);
  static void WatchAncestors(Impl& d);
  static bool QueryViewable(Impl& d);
  static bool Minimised(Impl& d, unsigned long window);
  std::unique_ptr<Impl> mImpl;
};

} // namespace iplug::igraphics

#include "EditorView.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "IPlugVST3.h"
#include "CairoBackend.h"
#include "PrivateRunLoop.h"
#include "X11Window.h"

using namespace Steinberg;

namespace iplug::igraphics
{

namespace
{

// VST3's virtual key codes and modifier bits (keycodes.h), for hosts that send keys
// through onKeyDown.
enum Vst3Key : int16
{
  kVst3Back = 1,
  kVst3Tab = 2,
  kVst3Return = 4,
  kVst3Escape = 6,
  kVst3End = 9,
  kVst3Home = 10,
  kVst3Left = 11,
  kVst3Right = 13,
  kVst3Enter = 19,
  kVst3Delete = 22
};
constexpr int16 kVst3ShiftKey = 1 << 0;
constexpr int16 kVst3AltKey = 1 << 1;
constexpr int16 kVst3ControlKey = 1 << 3;

constexpr int kFallbackFps = 60;

IKeyPress KeyFromVst3(char16 key, int16 keyCode, int16 modifiers)
{
  IKeyPress k;
  k.mods = IMouseMod(false, false, (modifiers & kVst3ShiftKey) != 0, (modifiers & kVst3ControlKey) != 0,
                     (modifiers & kVst3AltKey) != 0);
  switch (keyCode)
  {
    case kVst3Back: k.vk = EVirtualKey::Back; return k;
    case kVst3Tab: k.vk = EVirtualKey::Tab; return k;
    case kVst3Return:
    case kVst3Enter: k.vk = EVirtualKey::Return; return k;
    case kVst3Escape: k.vk = EVirtualKey::Escape; return k;
    case kVst3End: k.vk = EVirtualKey::End; return k;
    case kVst3Home: k.vk = EVirtualKey::Home; return k;
    case kVst3Left: k.vk = EVirtualKey::Left; return k;
    case kVst3Right: k.vk = EVirtualKey::Right; return k;
    case kVst3Delete: k.vk = EVirtualKey::Delete; return k;
    default: break;
  }
  const auto cp = static_cast<uint32_t>(static_cast<uint16_t>(key));
  // A lone UTF-16 unit: surrogate halves and control characters are not text.
  if (cp < 0x20 || cp == 0x7F || (cp >= 0xD800 && cp < 0xE000))
    return k;
  if (cp < 0x80)
    k.utf8 += static_cast<char>(cp);
  else if (cp < 0x800)
  {
    k.utf8 += static_cast<char>(0xC0 | (cp >> 6));
    k.utf8 += static_cast<char>(0x80 | (cp & 0x3F));
  }
  else
  {
    k.utf8 += static_cast<char>(0xE0 | (cp >> 12));
    k.utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    k.utf8 += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return k;
}

} // namespace

EditorView::EditorView(IPlugVST3& plug) : mPlug(plug)
{
  mPlug.addRef();
}

EditorView::~EditorView()
{
  std::unique_ptr<PrivateRunLoop> loop;
  {
    std::lock_guard<std::recursive_mutex> lock(mPlug.GetUILock());
    // A host that releases the view without removing it first.
    Detach();
    mRetiredGraphics.reset();
    loop = std::move(mPrivateLoop);
    if (mFrame)
      mFrame->release();
    mFrame = nullptr;
  }
  loop.reset();
  mPlug.release();
}

template <class F>
void EditorView::WithUILock(F&& f)
{
  std::unique_lock<std::recursive_mutex> lock(mPlug.GetUILock(), std::defer_lock);
  if (mOnPrivateLoop)
  {
    // Our own thread must never hold up a removal that waits for it.
    while (!lock.try_lock())
    {
      if (mDetaching)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  else
    lock.lock();
  try
  {
    f();
  }
  catch (...)
  {
    // Nothing thrown by a control may reach the host's loop.
  }
}

// FUnknown

tresult PLUGIN_API EditorView::queryInterface(const TUID iid, void** obj)
{
  if (!obj)
    return kInvalidArgument;
  using FUnknownPrivate::iidEqual;
  void* found = nullptr;
  if (iidEqual(iid, FUnknown::iid) || iidEqual(iid, IPlugView::iid))
    found = static_cast<IPlugView*>(this);
  else if (iidEqual(iid, IPlugViewContentScaleSupport::iid))
    found = static_cast<IPlugViewContentScaleSupport*>(this);
  else if (iidEqual(iid, Linux::IEventHandler::iid))
    found = static_cast<Linux::IEventHandler*>(this);
  else if (iidEqual(iid, Linux::ITimerHandler::iid))
    found = static_cast<Linux::ITimerHandler*>(this);
  if (!found)
  {
    *obj = nullptr;
    return kNoInterface;
  }
  addRef();
  *obj = found;
  return kResultOk;
}

uint32 PLUGIN_API EditorView::addRef()
{
  return ++mRefs;
}

uint32 PLUGIN_API EditorView::release()
{
  const uint32 left = --mRefs;
  if (left == 0)
    delete this;
  return left;
}

// IPlugView

tresult PLUGIN_API EditorView::isPlatformTypeSupported(FIDString type)
{
  return type && std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API EditorView::attached(void* parent, FIDString type)
{
  if (!parent || isPlatformTypeSupported(type) != kResultTrue)
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mPlug.GetUILock());
  // One editor at a time: a second view of the same instance stays empty.
  if (mAttached || mPlug.GetUI() || !mPlug.mMakeGraphicsFunc)
    return kResultFalse;

  auto window = std::make_unique<X11Window>();
  std::unique_ptr<IGraphics> graphics;
  try
  {
    graphics.reset(mPlug.mMakeGraphicsFunc());
  }
  catch (...)
  {
  }
  if (!graphics)
    return kResultFalse;
  if (mScreenScale > 0.f)
    graphics->SetScreenScale(mScreenScale);
  // The size the host gave, else the one the plug-in keeps, else the canvas's own; the
  // sizing rules read the new graphics (its screen scale), so it is the plug-in's first.
  int width = mHostWidth;
  int height = mHostHeight;
  if (width < 1 || height < 1)
  {
    width = mPlug.GetEditorWidth();
    height = mPlug.GetEditorHeight();
  }
  if (width < 1 || height < 1)
  {
    width = graphics->WindowWidth();
    height = graphics->WindowHeight();
  }
  mPlug.SetGraphics(graphics.get());
  int allowedWidth = width;
  int allowedHeight = height;
  Constrain(allowedWidth, allowedHeight);
  if (!window->Open(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(parent)), allowedWidth, allowedHeight))
  {
    mPlug.SetGraphics(nullptr);
    return kResultFalse;
  }

  mWindow = std::move(window);
  mGraphics = std::move(graphics);
  mWidth = allowedWidth;
  mHeight = allowedHeight;
  mHostWidth = 0;
  mHostHeight = 0;
  mAttached = true;
  mDetaching = false;
  mExposed = IRECT();
  mViewable = false;
  mShowPending = false;
  mGraphics->SetPlatform(this);
  try
  {
    ++mDispatchDepth;
    // The draw scale follows the window's size, whoever chose it.
    mPlug.OnParentWindowResize(allowedWidth, allowedHeight);
    if (mPlug.mLayoutFunc)
      mPlug.mLayoutFunc(mGraphics.get());
    mPlug.SendCurrentParamValuesFromDelegate();
    --mDispatchDepth;
  }
  catch (...)
  {
    --mDispatchDepth;
    Detach();
    return kResultFalse;
  }

  // The idle callback moves to our timer, due one period after the thread last ran it.
  mPlug.AttachEditorView(this);
  mNextIdle = mPlug.LastIdleTime() + std::chrono::milliseconds(IPlugVST3::kIdleIntervalMs);

  Linux::IRunLoop* loop = nullptr;
  if (mFrame)
    mFrame->queryInterface(Linux::IRunLoop::iid, reinterpret_cast<void**>(&loop));
  if (!loop && mPlug.GetHostContext())
    mPlug.GetHostContext()->queryInterface(Linux::IRunLoop::iid, reinterpret_cast<void**>(&loop));
  if (!loop)
  {
    mPrivateLoop = std::make_unique<PrivateRunLoop>();
    mOnPrivateLoop = true;
    loop = mPrivateLoop.get();
  }
  mRunLoop = loop;
  const int fps = mGraphics->FPS() > 0 ? mGraphics->FPS() : kFallbackFps;
  mRunLoop->registerEventHandler(this, mWindow->ConnectionFd());
  mRunLoop->registerTimer(this, static_cast<Linux::TimerInterval>(std::max(1, 1000 / fps)));
  mWindow->Map();
  // The host's window was made for a size the rules did not keep.
  if (allowedWidth != width || allowedHeight != height)
    AskHostForSize(allowedWidth, allowedHeight);
  return kResultOk;
}

tresult PLUGIN_API EditorView::removed()
{
  std::unique_ptr<PrivateRunLoop> loop;
  {
    std::lock_guard<std::recursive_mutex> lock(mPlug.GetUILock());
    Detach();
    loop = std::move(mPrivateLoop);
  }
  // Joined outside the lock its thread may be waiting for.
  loop.reset();
  mOnPrivateLoop = false;
  return kResultOk;
}

void EditorView::Detach()
{
  if (!mAttached)
    return;
  mAttached = false;
  mDetaching = true;
  if (mGraphics)
  {
    mGraphics->SetPlatform(nullptr);
    // Closes an open menu or text entry first: no completion reaches a control that goes.
    // A removal from inside one of our own dispatches (a host closing the editor from a
    // control's callback) leaves the controls to the graphics' destruction once the
    // callback has returned.
    if (mDispatchDepth == 0)
      mGraphics->RemoveAllControls();
  }
  mPlug.SetGraphics(nullptr);
  if (mDispatchDepth > 0)
    mRetiredGraphics = std::move(mGraphics);
  else
    mGraphics.reset();
  mPlug.DetachEditorView(this);
  if (mRunLoop)
  {
    mRunLoop->unregisterEventHandler(this);
    mRunLoop->unregisterTimer(this);
    if (mRunLoop != mPrivateLoop.get())
      mRunLoop->release();
    mRunLoop = nullptr;
  }
  if (mPrivateLoop)
    mPrivateLoop->RequestStop();
  if (mWindow)
    mWindow->Close();
  mExposed = IRECT();
}

tresult PLUGIN_API EditorView::onWheel(float distance)
{
  tresult result = kResultFalse;
  WithUILock([&] {
    if (!mAttached || !mGraphics || distance == 0.f || !std::isfinite(distance))
      return;
    ++mDispatchDepth;
    mGraphics->OnMouseWheel(mPointerX, mPointerY, IMouseMod(), distance > 0.f ? 1.f : -1.f);
    --mDispatchDepth;
    result = kResultTrue;
  });
  return result;
}

tresult PLUGIN_API EditorView::onKeyDown(char16 key, int16 keyCode, int16 modifiers)
{
  tresult result = kResultFalse;
  WithUILock([&] {
    if (!mAttached || !mGraphics)
      return;
    const IKeyPress k = KeyFromVst3(key, keyCode, modifiers);
    if (k.vk == EVirtualKey::None && k.utf8.empty())
      return;
    ++mDispatchDepth;
    const bool used = mGraphics->OnKeyDown(k);
    --mDispatchDepth;
    result = used ? kResultTrue : kResultFalse;
  });
  return result;
}

tresult PLUGIN_API EditorView::onKeyUp(char16, int16, int16)
{
  return kResultFalse;
}

tresult PLUGIN_API EditorView::getSize(ViewRect* size)
{
  if (!size)
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mPlug.GetUILock());
  int width = mWidth;
  int height = mHeight;
  if (width < 1 || height < 1)
  {
    width = mPlug.GetEditorWidth();
    height = mPlug.GetEditorHeight();
  }
  if (width < 1 || height < 1)
  {
    width = mPlug.GetConfig().plugWidth;
    height = mPlug.GetConfig().plugHeight;
  }
  *size = ViewRect(0, 0, width, height);
  return kResultTrue;
}

tresult PLUGIN_API EditorView::onSize(ViewRect* newSize)
{
  if (!newSize)
    return kInvalidArgument;
  const int width = newSize->getWidth();
  const int height = newSize->getHeight();
  if (width < 1 || height < 1)
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mPlug.GetUILock());
  int allowedWidth = width;
  int allowedHeight = height;
  Constrain(allowedWidth, allowedHeight);
  if (!mAttached)
  {
    // Before attached: the size the child window will be made with, decided again then
    // (a screen scale may come in between).
    mHostWidth = width;
    mHostHeight = height;
    mWidth = allowedWidth;
    mHeight = allowedHeight;
    return kResultTrue;
  }
  ApplySize(allowedWidth, allowedHeight);
  if (mAttached && (allowedWidth != width || allowedHeight != height))
    AskHostForSize(allowedWidth, allowedHeight);
  return kResultTrue;
}

void EditorView::Constrain(int& width, int& height) const
{
  // The rules' aspect step can move its own answer by a pixel once more; a size they
  // keep is one the host can be given back without another correction.
  for (int pass = 0; pass < 3 && !mPlug.ConstrainEditorResize(width, height); ++pass)
  {
  }
}

bool EditorView::AskHostForSize(int width, int height)
{
  // A host that answers a request with onSize of another size is not asked again from
  // inside its answer.
  if (!mFrame || mAskingHost)
    return false;
  mAskingHost = true;
  ViewRect rect(0, 0, width, height);
  // The host answers with onSize, often before this returns (the lock is recursive).
  const bool accepted = mFrame->resizeView(this, &rect) == kResultTrue;
  mAskingHost = false;
  return accepted;
}

void EditorView::ApplySize(int width, int height)
{
  ++mDispatchDepth;
  mPlug.OnParentWindowResize(width, height);
  --mDispatchDepth;
  if (!mAttached)
    return;
  mWidth = width;
  mHeight = height;
  mWindow->Resize(width, height);
}

void EditorView::ResizeFromEditor(int width, int height)
{
  if (!mAttached)
    return;
  Constrain(width, height);
  const bool accepted = AskHostForSize(width, height);
  if (mAttached && (!accepted || mWidth != width || mHeight != height))
    ApplySize(width, height);
}

tresult PLUGIN_API EditorView::onFocus(TBool)
{
  return kResultOk;
}

tresult PLUGIN_API EditorView::setFrame(IPlugFrame* frame)
{
  std::lock_guard<std::recursive_mutex> lock(mPlug.GetUILock());
  if (frame == mFrame)
    return kResultTrue;
  if (frame)
    frame->addRef();
  if (mFrame)
    mFrame->release();
  mFrame = frame;
  return kResultTrue;
}

tresult PLUGIN_API EditorView::canResize()
{
  return mPlug.GetConfig().plugHostResize ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API EditorView::checkSizeConstraint(ViewRect* rect)
{
  if (!rect)
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mPlug.GetUILock());
  int width = rect->getWidth();
  int height = rect->getHeight();
  Constrain(width, height);
  rect->right = rect->left + width;
  rect->bottom = rect->top + height;
  return kResultTrue;
}

// IPlugViewContentScaleSupport

tresult PLUGIN_API EditorView::setContentScaleFactor(ScaleFactor factor)
{
  if (!std::isfinite(factor) || factor <= 0.f)
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mPlug.GetUILock());
  mScreenScale = factor;
  if (!mAttached || !mGraphics)
  {
    // The plug-in's kept size follows, so getSize and the first window have it; a size
    // the host set meets the rules of the new scale.
    mPlug.OnHostScreenScale(factor);
    if (mHostWidth > 0 && mHostHeight > 0)
    {
      mWidth = mHostWidth;
      mHeight = mHostHeight;
      Constrain(mWidth, mHeight);
    }
    return kResultTrue;
  }
  if (factor == mGraphics->GetScreenScale())
    return kResultTrue;
  // The user's draw scale stays: the window takes the pixels the new density needs,
  // within the sizing rules (whose largest size grows with it).
  mGraphics->SetScreenScale(factor);
  mPlug.OnHostScreenScale(factor);
  ResizeFromEditor(mGraphics->WindowWidth(), mGraphics->WindowHeight());
  return kResultTrue;
}

// Run loop

void PLUGIN_API EditorView::onFDIsSet(Linux::FileDescriptor)
{
  WithUILock([&] {
    if (mAttached)
      ProcessEvents();
  });
}

void PLUGIN_API EditorView::onTimer()
{
  WithUILock([&] {
    if (!mAttached)
      return;
    // Xlib may hold events it read along with a reply: the descriptor stays quiet for them.
    ProcessEvents();
    RunIdleIfDue();
    // Only the host's own loop runs on its UI thread; our private one must not call it.
    if (!mOnPrivateLoop)
    {
      ++mDispatchDepth;
      mPlug.InformHostOfStateChange();
      --mDispatchDepth;
    }
    if (!mAttached || !mGraphics)
      return;
    ++mDispatchDepth;
    // Nobody sees a hidden window: it draws nothing until it is shown again, but what
    // completes on the UI thread still does.
    IRECT drawn;
    if (mViewable)
      drawn = mGraphics->OnFrame();
    else
      mGraphics->RunCompletions();
    --mDispatchDepth;
    if (mAttached && mGraphics && mViewable)
    {
      if (mShowPending)
      {
        drawn = IRECT(0.f, 0.f, static_cast<float>(mWidth), static_cast<float>(mHeight));
        mShowPending = false;
        mExposed = IRECT();
      }
      if (!drawn.Degenerate())
        PaintFromGraphics(drawn);
    }
    if (mDispatchDepth == 0)
      mRetiredGraphics.reset();
  });
}

void EditorView::RunIdleIfDue()
{
  if (!mPlug.IdleTimerRunning())
    return;
  using namespace std::chrono;
  const auto now = steady_clock::now();
  // Due within half a frame counts as due: a 16 ms timer then averages 20 ms idles.
  const auto halfFrame = milliseconds(500 / std::max(1, mGraphics ? mGraphics->FPS() : kFallbackFps));
  if (now + halfFrame < mNextIdle)
    return;
  mNextIdle += milliseconds(IPlugVST3::kIdleIntervalMs);
  if (mNextIdle < now)
    mNextIdle = now + milliseconds(IPlugVST3::kIdleIntervalMs);
  ++mDispatchDepth;
  mPlug.RunIdleTick();
  --mDispatchDepth;
}

void EditorView::ProcessEvents()
{
  ++mDispatchDepth;
  WindowEvent e;
  while (mAttached && mGraphics && mWindow->NextEvent(e))
  {
    switch (e.type)
    {
      case WindowEvent::Type::MouseDown:
        mPointerX = e.x;
        mPointerY = e.y;
        mGraphics->OnMouseDown(e.x, e.y, e.mod, e.timeMs);
        break;
      case WindowEvent::Type::MouseUp:
        mPointerX = e.x;
        mPointerY = e.y;
        mGraphics->OnMouseUp(e.x, e.y, e.mod);
        break;
      case WindowEvent::Type::MouseMove:
        mPointerX = e.x;
        mPointerY = e.y;
        mGraphics->OnMouseMove(e.x, e.y, e.mod);
        break;
      case WindowEvent::Type::Wheel:
        mPointerX = e.x;
        mPointerY = e.y;
        mGraphics->OnMouseWheel(e.x, e.y, e.mod, e.delta);
        break;
      case WindowEvent::Type::Leave:
        mGraphics->OnMouseOutOfWindow();
        break;
      case WindowEvent::Type::Key:
        mGraphics->OnKeyDown(e.key);
        break;
      case WindowEvent::Type::Exposed:
        mExposed = mExposed.Union(e.rect);
        break;
      case WindowEvent::Type::Resized:
        // The host resized our window itself, without onSize.
        if (e.width != mWidth || e.height != mHeight)
        {
          mWidth = e.width;
          mHeight = e.height;
          mPlug.OnParentWindowResize(e.width, e.height);
        }
        break;
      case WindowEvent::Type::Destroyed:
        break;
      case WindowEvent::Type::Shown:
        mViewable = true;
        mShowPending = true;
        mGraphics->SetAllControlsDirty();
        break;
      case WindowEvent::Type::Hidden:
        mViewable = false;
        break;
    }
  }
  --mDispatchDepth;
  // Exposures of a window whose pixels are stale wait for the frame that draws everything.
  if (mAttached && mGraphics && mViewable && !mShowPending && !mExposed.Degenerate())
  {
    PaintFromGraphics(mExposed);
    mExposed = IRECT();
  }
  if (mDispatchDepth == 0)
    mRetiredGraphics.reset();
}

void EditorView::PaintFromGraphics(const IRECT& pixelRect)
{
  int stride = 0;
  const unsigned char* pixels = mGraphics->GetPixels(stride);
  const CairoBackend& backend = mGraphics->Backend();
  mWindow->SetBackground(mGraphics->GetBackgroundColor());
  mWindow->Paint(pixels, stride, backend.PixelWidth(), backend.PixelHeight(), pixelRect);
  ++mPaintCount;
}

// IGraphicsPlatform

void EditorView::SetCursor(ECursor cursor)
{
  if (mAttached && mWindow)
    mWindow->SetCursor(cursor);
}

void EditorView::RequestKeyboardFocus()
{
  if (mAttached && mWindow)
    mWindow->FocusKeyboard();
}

unsigned long EditorView::HostTopLevelWindow()
{
  return mAttached && mWindow ? mWindow->TopLevelWindow() : 0;
}

} // namespace iplug::igraphics

#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

#include "IGraphics.h"

namespace iplug
{
class IPlugVST3;
}

namespace iplug::igraphics
{

class X11Window;
class PrivateRunLoop;

// The editor as a VST3 view: an X11 child of the host's window with a graphics context
// of the plug-in's making, fed by the host's run loop (the descriptor of our X
// connection and a frame timer). Every entry point takes the plug-in's UI lock. While
// attached, the plug-in's idle callback runs from our timer on the host's UI thread.
// The view keeps the plug-in alive until its last release.
class EditorView final : public Steinberg::IPlugView,
                         public Steinberg::IPlugViewContentScaleSupport,
                         public Steinberg::Linux::IEventHandler,
                         public Steinberg::Linux::ITimerHandler,
                         private IGraphicsPlatform
{
public:
  explicit EditorView(IPlugVST3& plug);

  // The editor resized itself (a scale from its menu or grip) to width x height pixels:
  // ask the host, or resize on our own when there is no host frame or it refuses.
  void ResizeFromEditor(int width, int height);
  bool IsAttached() const { return mAttached; }
  // Whether the window can be seen; while it cannot, frames draw nothing.
  bool Viewable() const { return mViewable; }
  // Uploads to the window so far: frames that drew something, and exposures.
  int PaintCount() const { return mPaintCount; }

  // FUnknown
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
  Steinberg::uint32 PLUGIN_API addRef() override;
  Steinberg::uint32 PLUGIN_API release() override;

  // IPlugView
  Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) override;
  Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) override;
  Steinberg::tresult PLUGIN_API removed() override;
  Steinberg::tresult PLUGIN_API onWheel(float distance) override;
  Steinberg::tresult PLUGIN_API onKeyDown(Steinberg::char16 key, Steinberg::int16 keyCode,
                                          Steinberg::int16 modifiers) override;
  Steinberg::tresult PLUGIN_API onKeyUp(Steinberg::char16 key, Steinberg::int16 keyCode,
                                        Steinberg::int16 modifiers) override;
  Steinberg::tresult PLUGIN_API getSize(Steinberg::ViewRect* size) override;
  Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) override;
  Steinberg::tresult PLUGIN_API onFocus(Steinberg::TBool state) override;
  Steinberg::tresult PLUGIN_API setFrame(Steinberg::IPlugFrame* frame) override;
  Steinberg::tresult PLUGIN_API canResize() override;
  Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) override;

  // IPlugViewContentScaleSupport
  Steinberg::tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) override;

  // Linux::IEventHandler: our X connection has data.
  void PLUGIN_API onFDIsSet(Steinberg::Linux::FileDescriptor fd) override;
  // Linux::ITimerHandler: the frame timer.
  void PLUGIN_API onTimer() override;

private:
  ~EditorView() override;

  // IGraphicsPlatform
  void SetCursor(ECursor cursor) override;
  void RequestKeyboardFocus() override;
  unsigned long HostTopLevelWindow() override;

  // With the UI lock held.
  void ProcessEvents();
  void PaintFromGraphics(const IRECT& pixelRect);
  // The sizing rules, applied until they keep their answer.
  void Constrain(int& width, int& height) const;
  // resizeView; true when the host took the size.
  bool AskHostForSize(int width, int height);
  // The window and the draw scale to an allowed size.
  void ApplySize(int width, int height);
  void Detach();
  void RunIdleIfDue();
  template <class F>
  void WithUILock(F&& f);

  IPlugVST3& mPlug;
  std::atomic<Steinberg::uint32> mRefs{1};
  Steinberg::IPlugFrame* mFrame = nullptr;
  Steinberg::Linux::IRunLoop* mRunLoop = nullptr;
  std::unique_ptr<PrivateRunLoop> mPrivateLoop;
  std::atomic<bool> mOnPrivateLoop{false};
  std::atomic<bool> mDetaching{false};
  std::unique_ptr<X11Window> mWindow;
  std::unique_ptr<IGraphics> mGraphics;
  // Set while events or a frame are being dispatched: a removal from inside one
  // leaves the graphics context to be deleted once it unwinds.
  int mDispatchDepth = 0;
  std::unique_ptr<IGraphics> mRetiredGraphics;
  bool mAttached = false;
  bool mAskingHost = false;
  // The window's size (before attached: the size it will open at).
  int mWidth = 0;
  int mHeight = 0;
  // A size the host set before attached (0: none).
  int mHostWidth = 0;
  int mHostHeight = 0;
  float mPointerX = 0.f;
  float mPointerY = 0.f;
  // A content scale the host set (0: none yet).
  float mScreenScale = 0.f;
  IRECT mExposed;
  bool mViewable = false;
  // Shown again after being hidden: what it holds is stale until the next frame has drawn
  // everything, and then the whole window is uploaded.
  bool mShowPending = false;
  int mPaintCount = 0;
  std::chrono::steady_clock::time_point mNextIdle;
};

} // namespace iplug::igraphics

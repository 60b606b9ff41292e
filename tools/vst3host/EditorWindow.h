#pragma once
// The host's top-level X11 window for a plug-in view: the parent the view embeds
// into, the IPlugFrame it resizes through, and screenshots of what it shows.

#include "HostRunLoop.h"

#include <pluginterfaces/gui/iplugview.h>

#include <memory>
#include <string>

namespace mvhost {

class EditorWindow final : public Steinberg::IPlugFrame,
                           public Steinberg::Linux::IEventHandler,
                           public Steinberg::Linux::ITimerHandler {
public:
    explicit EditorWindow(HostRunLoop& loop);
    ~EditorWindow();
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    // Connects to the X server and shows a window of that size; false with a reason.
    bool Open(int width, int height, const std::string& title, std::string& error);
    // The X window id, as IPlugView::attached takes it.
    void* ParentHandle() const;
    int Width() const { return mWidth; }
    int Height() const { return mHeight; }
    // True once the user closed the window (or it went away).
    bool Closed() const { return mClosed; }

    // The view that resizeView and user resizes talk to (not owned).
    void SetView(Steinberg::IPlugView* view) { mView = view; }
    // A resize as a user's drag ends: the view constrains the size, the window takes
    // it, the view is told.
    void ResizeAsUser(int width, int height);

    // The window's pixels as a PNG file.
    bool SaveScreenshot(const std::string& path, std::string& error);

    // X errors that reached the host's error handler (none should).
    static int XErrors();

    // Stack-owned: reference counting never deletes it.
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

    // IPlugFrame: the host window takes the size, then the view hears onSize.
    Steinberg::tresult PLUGIN_API resizeView(Steinberg::IPlugView* view, Steinberg::ViewRect* newSize) override;
    // Our own connection's events, from the run loop.
    void PLUGIN_API onFDIsSet(Steinberg::Linux::FileDescriptor fd) override;
    void PLUGIN_API onTimer() override;

private:
    struct Impl;
    struct Requested {
        unsigned long serial;
        int width;
        int height;
    };

    void ProcessEvents();
    // True when a configure notice with this serial reports a size we asked for.
    bool TakeOwnNotice(unsigned long serial, int width, int height);
    // Asks for the size and waits a little for the answer; the size the window has then.
    Steinberg::ViewRect SetSize(int width, int height);

    HostRunLoop& mLoop;
    std::unique_ptr<Impl> mImpl;
    Steinberg::IPlugView* mView = nullptr;
    int mWidth = 0;
    int mHeight = 0;
    bool mClosed = false;
};

} // namespace mvhost

#include "EditorWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <deque>

namespace mvhost {

using namespace Steinberg;

namespace {

int gXErrors = 0;

// Beyond this many unanswered resizes the oldest are forgotten: a request that changed
// nothing may never be answered.
constexpr std::size_t kMaxRequested = 64;

int CountXError(Display* display, XErrorEvent* error)
{
    ++gXErrors;
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    std::fprintf(stderr, "mvhost: X error: %s (request %d)\n", text, error->request_code);
    return 0;
}

// The bits of one colour channel under its mask, scaled to 0..255.
unsigned Channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0) {
        return 0;
    }
    int shift = 0;
    while (((mask >> shift) & 1) == 0) {
        ++shift;
    }
    const unsigned long max = mask >> shift;
    return static_cast<unsigned>(((pixel & mask) >> shift) * 255 / max);
}

} // namespace

struct EditorWindow::Impl {
    Display* display = nullptr;
    Window window = 0;
    Atom deleteWindow = 0;
    XErrorHandler previousHandler = nullptr;
    // Sizes we asked the server for and the serials of those requests, until the notice
    // that answers them arrives.
    std::deque<Requested> requested;
};

bool EditorWindow::TakeOwnNotice(unsigned long serial, int width, int height)
{
    // The notice carries the serial of the last request of ours the server had handled:
    // every earlier request of ours has had its notice by now.
    auto& requested = mImpl->requested;
    bool own = false;
    while (!requested.empty() && requested.front().serial <= serial) {
        own = own || (requested.front().width == width && requested.front().height == height);
        requested.pop_front();
    }
    return own;
}

EditorWindow::EditorWindow(HostRunLoop& loop) : mLoop(loop), mImpl(std::make_unique<Impl>()) {}

EditorWindow::~EditorWindow()
{
    if (mImpl->display == nullptr) {
        return;
    }
    mLoop.unregisterEventHandler(this);
    mLoop.unregisterTimer(this);
    if (mImpl->window != 0) {
        XDestroyWindow(mImpl->display, mImpl->window);
    }
    XSync(mImpl->display, False);
    XCloseDisplay(mImpl->display);
    XSetErrorHandler(mImpl->previousHandler);
}

int EditorWindow::XErrors()
{
    return gXErrors;
}

bool EditorWindow::Open(int width, int height, const std::string& title, std::string& error)
{
    Impl& d = *mImpl;
    d.display = XOpenDisplay(nullptr);
    if (d.display == nullptr) {
        error = "cannot open the X display (is DISPLAY set?)";
        return false;
    }
    // Errors that the plug-in does not absorb itself land here and are counted.
    d.previousHandler = XSetErrorHandler(&CountXError);
    mWidth = width;
    mHeight = height;
    d.window = XCreateSimpleWindow(d.display, DefaultRootWindow(d.display), 0, 0,
                                   static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                   BlackPixel(d.display, DefaultScreen(d.display)),
                                   BlackPixel(d.display, DefaultScreen(d.display)));
    XSelectInput(d.display, d.window, StructureNotifyMask);
    XStoreName(d.display, d.window, title.c_str());
    d.deleteWindow = XInternAtom(d.display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d.display, d.window, &d.deleteWindow, 1);
    XMapWindow(d.display, d.window);
    XSync(d.display, False);
    mLoop.registerEventHandler(this, ConnectionNumber(d.display));
    // Xlib may queue events without the descriptor waking us: drain them on a timer too.
    mLoop.registerTimer(this, 50);
    return true;
}

void* EditorWindow::ParentHandle() const
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(mImpl->window));
}

tresult PLUGIN_API EditorWindow::queryInterface(const TUID iid, void** obj)
{
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
        *obj = static_cast<IPlugFrame*>(this);
        return kResultOk;
    }
    // Hosts hand out their run loop through the frame.
    if (FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid)) {
        *obj = static_cast<Linux::IRunLoop*>(&mLoop);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

void EditorWindow::SetSize(int width, int height)
{
    if (mImpl->display == nullptr || width < 1 || height < 1) {
        return;
    }
    mWidth = width;
    mHeight = height;
    if (mImpl->requested.size() >= kMaxRequested) {
        mImpl->requested.pop_front();
    }
    mImpl->requested.push_back({NextRequest(mImpl->display), width, height});
    XResizeWindow(mImpl->display, mImpl->window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(mImpl->display);
}

tresult PLUGIN_API EditorWindow::resizeView(IPlugView* view, ViewRect* newSize)
{
    if (view == nullptr || newSize == nullptr) {
        return kInvalidArgument;
    }
    SetSize(newSize->getWidth(), newSize->getHeight());
    return view->onSize(newSize);
}

void EditorWindow::ResizeAsUser(int width, int height)
{
    ViewRect rect(0, 0, width, height);
    if (mView != nullptr) {
        mView->checkSizeConstraint(&rect);
    }
    SetSize(rect.getWidth(), rect.getHeight());
    if (mView != nullptr) {
        mView->onSize(&rect);
    }
}

void PLUGIN_API EditorWindow::onFDIsSet(Linux::FileDescriptor)
{
    ProcessEvents();
}

void PLUGIN_API EditorWindow::onTimer()
{
    ProcessEvents();
}

void EditorWindow::ProcessEvents()
{
    Impl& d = *mImpl;
    if (d.display == nullptr) {
        return;
    }
    while (XPending(d.display) > 0) {
        XEvent e;
        XNextEvent(d.display, &e);
        if (e.type == ClientMessage && static_cast<Atom>(e.xclient.data.l[0]) == d.deleteWindow) {
            mClosed = true;
        } else if (e.type == DestroyNotify && e.xdestroywindow.window == d.window) {
            mClosed = true;
            d.window = 0;
        } else if (e.type == ConfigureNotify && e.xconfigure.window == d.window) {
            // A notice of a size we asked for is no new request, even when we have asked
            // for another since: taking it for one would send the view back to it.
            const int width = e.xconfigure.width;
            const int height = e.xconfigure.height;
            if (!TakeOwnNotice(e.xconfigure.serial, width, height) && (width != mWidth || height != mHeight)) {
                // A window manager's resize: the view has its say, as in any host.
                ResizeAsUser(width, height);
            }
        }
    }
}

bool EditorWindow::SaveScreenshot(const std::string& path, std::string& error)
{
    Impl& d = *mImpl;
    if (d.display == nullptr || d.window == 0) {
        error = "the window is gone";
        return false;
    }
    XSync(d.display, False);
    XImage* image = XGetImage(d.display, d.window, 0, 0, static_cast<unsigned>(mWidth),
                              static_cast<unsigned>(mHeight), AllPlanes, ZPixmap);
    if (image == nullptr) {
        error = "could not read the window's pixels";
        return false;
    }
    cairo_surface_t* png = cairo_image_surface_create(CAIRO_FORMAT_RGB24, mWidth, mHeight);
    unsigned char* data = cairo_image_surface_get_data(png);
    const int stride = cairo_image_surface_get_stride(png);
    for (int y = 0; y < mHeight; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < mWidth; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            row[x] = (Channel(p, image->red_mask) << 16) | (Channel(p, image->green_mask) << 8) |
                     Channel(p, image->blue_mask);
        }
    }
    cairo_surface_mark_dirty(png);
    XDestroyImage(image);
    const cairo_status_t status = cairo_surface_write_to_png(png, path.c_str());
    cairo_surface_destroy(png);
    if (status != CAIRO_STATUS_SUCCESS) {
        error = "could not write " + path;
        return false;
    }
    return true;
}

} // namespace mvhost

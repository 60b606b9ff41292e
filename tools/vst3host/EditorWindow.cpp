#include "EditorWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <poll.h>

#include <chrono>
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

// A window manager takes the window over when it is mapped and decides every size the window
// asks for afterwards. Without one the server answers at once; a manager that says nothing
// in this time is not waited for any longer.
constexpr auto kMapTimeout = std::chrono::milliseconds(2000);
constexpr auto kAnswerTimeout = std::chrono::milliseconds(500);

// The window's wish for its size, read by window managers; without it some keep the size the
// window was mapped at.
void HintSize(Display* display, Window window, int width, int height)
{
    XSizeHints* hints = XAllocSizeHints();
    if (hints == nullptr) {
        return;
    }
    hints->flags = PSize;
    hints->width = width;
    hints->height = height;
    XSetWMNormalHints(display, window, hints);
    XFree(hints);
}

// An event of this type for this window, from after the request with serial `after`.
struct Awaited {
    Window window;
    int type;
    unsigned long after;
};

Bool IsAwaited(Display*, XEvent* e, XPointer arg)
{
    const auto* a = reinterpret_cast<const Awaited*>(arg);
    return e->type == a->type && e->xany.window == a->window && e->xany.serial >= a->after ? True : False;
}

// Takes the awaited event off the queue; false when none came before the deadline. Other
// events stay queued, in order, for the run loop.
bool WaitFor(Display* display, Awaited awaited, std::chrono::steady_clock::time_point deadline, XEvent& out)
{
    XFlush(display);
    for (;;) {
        if (XCheckIfEvent(display, &out, &IsAwaited, reinterpret_cast<XPointer>(&awaited))) {
            return true;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) > 0) {
            // Reads what arrived into the queue.
            XEventsQueued(display, QueuedAfterReading);
        }
    }
}

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
    // The serial of our latest request: a notice from before it is the past.
    unsigned long lastRequest = 0;
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
    HintSize(d.display, d.window, width, height);
    d.deleteWindow = XInternAtom(d.display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d.display, d.window, &d.deleteWindow, 1);
    const unsigned long mapSerial = NextRequest(d.display);
    XMapWindow(d.display, d.window);
    // Mapped only once a window manager has taken the window: sizes asked for before then
    // would meet the one it was mapped at.
    XEvent mapped;
    WaitFor(d.display, {d.window, MapNotify, mapSerial}, std::chrono::steady_clock::now() + kMapTimeout, mapped);
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

ViewRect EditorWindow::SetSize(int width, int height)
{
    Impl& d = *mImpl;
    if (d.display == nullptr || d.window == 0 || width < 1 || height < 1 || (width == mWidth && height == mHeight)) {
        return ViewRect(0, 0, mWidth, mHeight);
    }
    HintSize(d.display, d.window, width, height);
    if (d.requested.size() >= kMaxRequested) {
        d.requested.pop_front();
    }
    const unsigned long serial = NextRequest(d.display);
    d.requested.push_back({serial, width, height});
    d.lastRequest = serial;
    XResizeWindow(d.display, d.window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    // The answer: at once from the server; from a window manager maybe after a notice of its
    // own (settling a window it has just taken), or of another size it chose instead. Its last
    // word in the time it has is the size.
    const int askedWidth = width;
    const int askedHeight = height;
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    XEvent notice;
    while (WaitFor(d.display, {d.window, ConfigureNotify, serial}, deadline, notice)) {
        TakeOwnNotice(notice.xconfigure.serial, notice.xconfigure.width, notice.xconfigure.height);
        width = notice.xconfigure.width;
        height = notice.xconfigure.height;
        if (width == askedWidth && height == askedHeight) {
            break;
        }
    }
    mWidth = width;
    mHeight = height;
    return ViewRect(0, 0, width, height);
}

tresult PLUGIN_API EditorWindow::resizeView(IPlugView* view, ViewRect* newSize)
{
    if (view == nullptr || newSize == nullptr) {
        return kInvalidArgument;
    }
    ViewRect granted = SetSize(newSize->getWidth(), newSize->getHeight());
    return view->onSize(&granted);
}

void EditorWindow::ResizeAsUser(int width, int height)
{
    ViewRect rect(0, 0, width, height);
    if (mView != nullptr) {
        mView->checkSizeConstraint(&rect);
    }
    ViewRect granted = SetSize(rect.getWidth(), rect.getHeight());
    if (mView != nullptr) {
        mView->onSize(&granted);
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
            // for another since: taking it for one would send the view back to it. One from
            // before our latest request (a window manager settling the window it just took)
            // is overtaken by that request's answer.
            const int width = e.xconfigure.width;
            const int height = e.xconfigure.height;
            const bool stale = e.xconfigure.serial < d.lastRequest;
            if (!TakeOwnNotice(e.xconfigure.serial, width, height) && !stale && (width != mWidth || height != mHeight)) {
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

// mvhost's editor window in a private X server, and its headless snapshot.

#include "MvhostRun.h"
#include "X11Host.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::string Temp(const std::string& name)
{
    return (std::filesystem::temp_directory_path() /
            ("mvhost-editor-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

// A PNG read back by cairo: its size and one pixel as 0xRRGGBB.
struct Png {
    int width = 0;
    int height = 0;
    cairo_surface_t* surface = nullptr;

    explicit Png(const std::string& path) : surface(cairo_image_surface_create_from_png(path.c_str()))
    {
        if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
            width = cairo_image_surface_get_width(surface);
            height = cairo_image_surface_get_height(surface);
        }
    }
    ~Png() { cairo_surface_destroy(surface); }
    std::uint32_t At(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            return 0xFFFFFFFF;
        }
        const unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        return *reinterpret_cast<const std::uint32_t*>(row + 4 * x) & 0xFFFFFF;
    }
};

// The window background of the layout, (255, 10, 10, 10).
constexpr std::uint32_t kBackground = 0x0A0A0A;

// mvhost's top-level window and the plug-in's child in it, as another X client sees them.
struct MvhostWindows : testsupport::X11Host {
    Window top = 0;
    Window child = 0;

    // Waits until mvhost shows its window with the plug-in's child in it.
    bool Find(std::chrono::seconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (child == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            for (const Window w : Children(DefaultRootWindow(display))) {
                char* name = nullptr;
                if (XFetchName(display, w, &name) && name != nullptr &&
                    std::string(name) == "mvhost: Morvellan" && !Children(w).empty()) {
                    top = w;
                    child = Children(w)[0];
                }
                XFree(name);
            }
        }
        return child != 0;
    }
};

// A window manager of a common kind, on its own connection: it maps a top-level window at
// once, settles it 150 ms later at the size it was mapped with, and only then grants what was
// asked meanwhile. It records every size asked for.
struct TinyWindowManager : testsupport::X11Host {
    std::vector<std::pair<int, int>> asked;
    std::jthread thread;

    TinyWindowManager()
    {
        if (!Connect()) {
            return;
        }
        XSelectInput(display, DefaultRootWindow(display), SubstructureRedirectMask);
        XSync(display, False);
        thread = std::jthread([this](std::stop_token stop) {
            for (XEvent e; !stop.stop_requested(); std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
                while (XPending(display) > 0) {
                    XNextEvent(display, &e);
                    if (e.type == MapRequest) {
                        const auto [width, height] = SizeOf(e.xmaprequest.window);
                        XMapWindow(display, e.xmaprequest.window);
                        XFlush(display);
                        std::this_thread::sleep_for(std::chrono::milliseconds(150));
                        XMoveResizeWindow(display, e.xmaprequest.window, 16, 16, static_cast<unsigned>(width),
                                          static_cast<unsigned>(height));
                    } else if (e.type == ConfigureRequest) {
                        asked.emplace_back(e.xconfigurerequest.width, e.xconfigurerequest.height);
                        XResizeWindow(display, e.xconfigurerequest.window,
                                      static_cast<unsigned>(e.xconfigurerequest.width),
                                      static_cast<unsigned>(e.xconfigurerequest.height));
                    }
                }
                XFlush(display);
            }
        });
    }
};

} // namespace

TEST(MvhostEditor, UnderAWindowManagerTheWindowTakesTheSizeItHintsAndAsksForOnce)
{
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    // 720 x 532 times 1.5; and 399 x 1.3533834 = 540.
    for (const auto& [option, width, height] : {std::tuple{"--scale 1.5", 1080, 798}, {"--resize 540x399", 540, 399}}) {
        SCOPED_TRACE(option);
        TinyWindowManager wm;
        MvhostWindows w;
        if (wm.display == nullptr || !w.Connect()) {
            GTEST_SKIP() << "no X server could be started (Xvfb missing?)";
        }
        CliRun r;
        std::jthread host([&] {
            r = Mvhost("editor " + std::string(MORVELLAN_BUNDLE_PATH) + " " + option + " --seconds 1", "timeout 60 ");
        });
        ASSERT_TRUE(w.Find(std::chrono::seconds(20)));
        EXPECT_TRUE(w.WaitForSize(w.child, width, height));
        XSizeHints hints{};
        long supplied = 0;
        EXPECT_TRUE(XGetWMNormalHints(w.display, w.top, &hints, &supplied) && (hints.flags & PSize));
        EXPECT_EQ(std::make_pair(hints.width, hints.height), std::make_pair(width, height));
        host.join();
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("Editor size: " + std::to_string(width) + "x" + std::to_string(height)), std::string::npos)
            << r.out;
        // Asked once, and not taken back to the size it was mapped at by the settling.
        wm.thread = {};
        EXPECT_EQ(wm.asked, (std::vector<std::pair<int, int>>{{width, height}}));
    }
}

TEST(MvhostEditor, OpensResizesReopensFiftyTimesAndSavesAScreenshot)
{
    if (!testsupport::XvfbServer::Shared().Running()) {
        GTEST_SKIP() << "no X server could be started (Xvfb missing?)";
    }
    const std::string shot = Temp("window.png");
    const CliRun r = Mvhost("editor " + std::string(MORVELLAN_BUNDLE_PATH) +
                            " --seconds 0.5 --resize 1000x600 --cycles 50 --play noise --screenshot " + shot);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Opened the editor at 720x532"), std::string::npos) << r.out;
    // 600 high allows 600 x 1.3533834 = 812.03 wide: the aspect rule rounds to 812.
    EXPECT_NE(r.out.find("Resized to 1000x600: the editor took 812x600"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Closed and reopened the editor 50 times"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Editor size: 812x600"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("X error"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Played "), std::string::npos) << r.out;

    const Png png(shot);
    EXPECT_EQ(png.width, 812);
    EXPECT_EQ(png.height, 600);
    // Beyond 720 x 532 the background shows only if the draw scale followed the window
    // (600 / 532 = 1.128); at scale 1 these pixels would be the window's black.
    EXPECT_EQ(png.At(810, 300), kBackground);
    EXPECT_EQ(png.At(5, 590), kBackground);
    EXPECT_EQ(png.At(5, 40), kBackground);
    std::filesystem::remove(shot);
}

TEST(MvhostEditor, AFastCornerDragEndsAtTheLastPointerPositionAndNothingResizesAfterTheRelease)
{
    // A window that goes before we look is a failure to report, not a reason to exit.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    MvhostWindows w;
    ASSERT_TRUE(w.Connect());
    const std::string shot = Temp("drag.png");
    CliRun r;
    std::jthread host([&] {
        // Two windows that bounce sizes between them would never let it end.
        r = Mvhost("editor " + std::string(MORVELLAN_BUNDLE_PATH) + " --scale 2 --seconds 12 --screenshot " + shot,
                   "timeout 60 ");
    });
    ASSERT_TRUE(w.Find(std::chrono::seconds(20)));
    ASSERT_TRUE(w.WaitForSize(w.child, 1440, 1064, std::chrono::seconds(10)));

    // The grip spans (706, 518)-(718, 530) on the canvas: its middle (712, 524) is at
    // (1424, 1048) at scale 2 and at (1068, 786) at scale 1.5. A drag of 360 pixels changes
    // the width by 360; its 60 steps 3 ms apart come faster than the two windows settle.
    const auto drag = [&](int x, int y, int by, int width, int height) {
        w.Send(w.child, ButtonPress, x, y);
        for (int step = 0; step < 60; ++step) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            x += by / 60;
            y += by / 60;
            w.Send(w.child, MotionNotify, x, y, Button1Mask);
        }
        w.Send(w.child, ButtonRelease, x, y, Button1Mask);
        // Both windows end there (the plug-in's child follows the host's window on a
        // connection of its own); 1080 / 1.3533834 = 798.
        EXPECT_TRUE(w.WaitForSize(w.top, width, height));
        EXPECT_TRUE(w.WaitForSize(w.child, width, height));
    };
    drag(1424, 1048, -360, 1080, 798);
    drag(1068, 786, 360, 1440, 1064);
    drag(1424, 1048, -360, 1080, 798);

    // ... and stay there.
    std::vector<std::pair<int, int>> seen[2];
    const Window windows[2] = {w.top, w.child};
    const auto watchUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(1200);
    while (std::chrono::steady_clock::now() < watchUntil) {
        for (int i = 0; i < 2; ++i) {
            const auto size = w.SizeOf(windows[i]);
            if (seen[i].empty() || seen[i].back() != size) {
                seen[i].push_back(size);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    host.join();
    for (const auto& sizes : seen) {
        EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{1080, 798}}));
    }
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Editor size: 1080x798"), std::string::npos) << r.out;

    // The editor fills the window at draw scale 1.5: the background reaches every edge.
    const Png png(shot);
    EXPECT_EQ(png.width, 1080);
    EXPECT_EQ(png.height, 798);
    for (const auto& [px, py] : {std::pair{3, 60}, {1077, 300}, {5, 795}, {540, 796}}) {
        EXPECT_EQ(png.At(px, py), kBackground) << px << "," << py;
    }
    std::filesystem::remove(shot);
}

TEST(MvhostEditor, WithoutADisplayTheEditorCommandFailsCleanly)
{
    const CliRun r = Mvhost("editor " + std::string(MORVELLAN_BUNDLE_PATH) + " --seconds 0.1", "env -u DISPLAY ");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("cannot open the X display"), std::string::npos) << r.out;
}

TEST(MvhostEditor, SnapshotDrawsTheEditorWithoutAnXServer)
{
    const std::string out = Temp("snapshot.png");
    CliRun r = Mvhost("snapshot " + std::string(MORVELLAN_BUNDLE_PATH) + " --scale 2 --seconds 1 --out " + out,
                      "env -u DISPLAY ");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Wrote the editor at draw scale 2 to " + out), std::string::npos) << r.out;
    const Png png(out);
    EXPECT_EQ(png.width, 1440);
    EXPECT_EQ(png.height, 1064);
    EXPECT_EQ(png.At(4, 120), kBackground);
    EXPECT_EQ(png.At(1430, 600), kBackground);

    r = Mvhost("snapshot " + std::string(MORVELLAN_BUNDLE_PATH) + " --scale 9 --out " + out);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("--scale takes a draw scale from 0.25 to 4"), std::string::npos) << r.out;
    r = Mvhost("snapshot " + std::string(MORVELLAN_BUNDLE_PATH) + " --out /nonexistent-folder/x.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("no snapshot: could not write /nonexistent-folder/x.png"), std::string::npos) << r.out;
    std::filesystem::remove(out);
}

// mvhost's editor window in a private X server, and its headless snapshot.

#include "MvhostRun.h"
#include "XvfbServer.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

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

} // namespace

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

// mvhost editor: the plug-in's view in a window of our own, on our own run loop.

#include "CommandLine.h"
#include "Commands.h"
#include "EditorWindow.h"
#include "HostRunLoop.h"
#include "RealtimePlayer.h"
#include "SessionSetup.h"

#include <pluginterfaces/base/smartpointer.h>
#include <pluginterfaces/gui/iplugview.h>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace mvhost::cli {

using namespace Steinberg;
using Clock = std::chrono::steady_clock;

namespace {

// The frames a reopened view gets before it is closed again.
constexpr auto kCycleOpenTime = std::chrono::milliseconds(60);
// Painting after the last resize settles within a few frames.
constexpr auto kSettleTime = std::chrono::milliseconds(150);

bool ParseSize(const std::string& text, int& width, int& height)
{
    const auto x = text.find('x');
    return x != std::string::npos && ParseWholeNumber(text.substr(0, x), 1, 16384, width) &&
           ParseWholeNumber(text.substr(x + 1), 1, 16384, height);
}

// A view made, framed and attached to the window; null after printing why not.
IPtr<IPlugView> OpenView(PluginInstance& instance, EditorWindow& window)
{
    IPtr<IPlugView> view = owned(instance.Controller()->createView(Vst::ViewType::kEditor));
    if (!view) {
        Fail("the plug-in has no editor");
        return nullptr;
    }
    view->setFrame(&window);
    window.SetView(view.get());
    if (view->attached(window.ParentHandle(), kPlatformTypeX11EmbedWindowID) != kResultOk) {
        Fail("the plug-in's editor did not open in the window");
        window.SetView(nullptr);
        view->setFrame(nullptr);
        return nullptr;
    }
    return view;
}

void CloseView(IPtr<IPlugView>& view, EditorWindow& window)
{
    view->removed();
    view->setFrame(nullptr);
    window.SetView(nullptr);
    view = nullptr;
}

ViewRect SizeOf(IPlugView& view)
{
    ViewRect size;
    view.getSize(&size);
    return size;
}

} // namespace

int RunEditor(const std::vector<std::string>& args)
{
    if (args.empty()) {
        return Fail("editor needs a bundle path");
    }
    Options options;
    std::string error;
    if (!ParseOptions(args, 1,
                      {"--seconds", "--scale", "--screenshot", "--resize", "--play", "--learn", "--cycles",
                       "--class"},
                      {}, options, error)) {
        return Fail(error);
    }
    double seconds = -1.0;
    if (const auto* s = options.Get("--seconds"); s && !ParseNumber(*s, 0.05, 86400, seconds)) {
        return Fail("--seconds takes a time from 0.05 to 86400 s");
    }
    double scale = 0.0;
    if (const auto* s = options.Get("--scale"); s && !ParseNumber(*s, 0.25, 4, scale)) {
        return Fail("--scale takes a factor from 0.25 to 4");
    }
    int resizeW = 0;
    int resizeH = 0;
    if (const auto* r = options.Get("--resize"); r && !ParseSize(*r, resizeW, resizeH)) {
        return Fail("--resize takes a size such as 1000x600");
    }
    int cycles = 0;
    if (const auto* c = options.Get("--cycles"); c && !ParseWholeNumber(*c, 0, 10000, cycles)) {
        return Fail("--cycles takes a whole number from 0 to 10000");
    }

    KeptPlugin plugin;
    if (!OpenKeptPlugin(args[0], options, plugin)) {
        return 1;
    }
    PluginInstance* const instance = plugin.instance.get();
    if (const auto* path = options.Get("--learn"); path && !LearnReference(*instance, *path, error)) {
        return Fail(error);
    }
    RealtimePlayer player;
    if (const auto* source = options.Get("--play")) {
        Audio input;
        if (!LoadInputAudio(*source, 20.0, input, error) || !player.Start(*instance, std::move(input), 512, error)) {
            return Fail(error);
        }
        std::printf("Playing %s through the plug-in\n", source->c_str());
    }

    HostRunLoop loop;
    EditorWindow window(loop);
    IPtr<IPlugView> probe = owned(instance->Controller()->createView(Vst::ViewType::kEditor));
    if (!probe) {
        return Fail("the plug-in has no editor");
    }
    if (probe->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID) != kResultTrue) {
        return Fail("the plug-in's editor does not embed in X11 windows");
    }
    const ViewRect opening = SizeOf(*probe);
    probe = nullptr;
    if (!window.Open(opening.getWidth(), opening.getHeight(), "mvhost: " + plugin.info->name, error)) {
        return Fail(error);
    }
    IPtr<IPlugView> view = OpenView(*instance, window);
    if (!view) {
        return 1;
    }
    std::printf("Opened the editor at %dx%d\n", opening.getWidth(), opening.getHeight());

    if (scale > 0.0) {
        window.ResizeAsUser(static_cast<int>(std::lround(opening.getWidth() * scale)),
                            static_cast<int>(std::lround(opening.getHeight() * scale)));
    }
    if (resizeW > 0) {
        window.ResizeAsUser(resizeW, resizeH);
        const ViewRect got = SizeOf(*view);
        std::printf("Resized to %dx%d: the editor took %dx%d\n", resizeW, resizeH, got.getWidth(),
                    got.getHeight());
    }
    for (int i = 0; i < cycles && !window.Closed(); ++i) {
        CloseView(view, window);
        view = OpenView(*instance, window);
        if (!view) {
            return 1;
        }
        loop.RunUntil(Clock::now() + kCycleOpenTime, [&] { return window.Closed(); });
    }
    if (cycles > 0) {
        std::printf("Closed and reopened the editor %d times\n", cycles);
    }

    const auto runFor = seconds > 0.0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))
                                      : Clock::duration::max() / 2;
    const auto settle = options.Get("--screenshot") ? std::max<Clock::duration>(runFor, kSettleTime) : runFor;
    loop.RunUntil(Clock::now() + settle, [&] { return window.Closed(); });

    const ViewRect last = SizeOf(*view);
    std::printf("Editor size: %dx%d\n", last.getWidth(), last.getHeight());
    if (const auto* path = options.Get("--screenshot")) {
        if (window.Closed()) {
            return Fail("the window was closed before the screenshot");
        }
        if (!window.SaveScreenshot(*path, error)) {
            return Fail(error);
        }
        std::printf("Saved a screenshot (%dx%d) to %s\n", window.Width(), window.Height(), path->c_str());
    }
    CloseView(view, window);
    if (const int marks = instance->Handler().DirtyMarks(); marks > 0) {
        std::printf("The plug-in said %d time%s that its saved state changed\n", marks, marks == 1 ? "" : "s");
    }
    if (player.BlocksPlayed() > 0) {
        std::printf("Played %lld blocks\n", player.BlocksPlayed());
    }
    player.Stop();
    if (loop.HandlerCount() != 2) {
        return Fail("the plug-in left handlers on the run loop after its editor closed");
    }
    if (EditorWindow::XErrors() > 0) {
        return Fail(std::to_string(EditorWindow::XErrors()) + " X errors reached the host");
    }
    return 0;
}

} // namespace mvhost::cli

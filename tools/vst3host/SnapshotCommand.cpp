// mvhost snapshot: the plug-in draws its editor into a PNG file, with no X server.

#include "CommandLine.h"
#include "Commands.h"
#include "HostMessage.h"
#include "Render.h"
#include "SessionSetup.h"

#include <cstdio>

namespace mvhost::cli {

int RunSnapshot(const std::vector<std::string>& args)
{
    if (args.empty()) {
        return Fail("snapshot needs a bundle path");
    }
    Options options;
    std::string error;
    if (!ParseOptions(args, 1, {"--out", "--scale", "--in", "--seconds", "--learn", "--set", "--load-state", "--class"},
                      {}, options, error)) {
        return Fail(error);
    }
    const std::string* out = options.Get("--out");
    if (out == nullptr) {
        return Fail("snapshot needs --out FILE");
    }
    double scale = 1.0;
    if (const auto* s = options.Get("--scale"); s && !ParseNumber(*s, 0.25, 4, scale)) {
        return Fail("--scale takes a draw scale from 0.25 to 4");
    }
    double seconds = 5.0;
    if (const auto* s = options.Get("--seconds"); s && !ParseNumber(*s, 0.01, 600, seconds)) {
        return Fail("--seconds takes a length from 0.01 to 600 s");
    }

    KeptPlugin plugin;
    if (!OpenKeptPlugin(args[0], options, plugin)) {
        return 1;
    }
    PluginInstance* const instance = plugin.instance.get();
    if (const auto* path = options.Get("--load-state"); path && !LoadStateFile(*instance, *path)) {
        return 1;
    }
    if (const auto* path = options.Get("--learn"); path && !LearnReference(*instance, *path, error)) {
        return Fail(error);
    }
    for (const auto& [key, value] : options.values) {
        if (key == "--set" && !ApplySetting(*instance, value, error)) {
            return Fail(error);
        }
    }
    // Audio first, so the meters and the display have something to show.
    const std::string* in = options.Get("--in");
    if (in != nullptr || options.Get("--seconds") != nullptr) {
        Audio input;
        Audio output;
        if (!LoadInputAudio(in ? *in : "noise", seconds, input, error) ||
            !Render(*instance, input, RenderOptions{}, output, error)) {
            return Fail(error);
        }
        std::printf("Rendered %.1f s of %s\n", static_cast<double>(input.Frames()) / input.sampleRate,
                    in ? in->c_str() : "noise");
    }

    AttributeList attributes;
    attributes.SetText("path", *out);
    attributes.setFloat("scale", scale);
    if (SendMessage(*instance, "iplug.EditorSnapshot", attributes) != Steinberg::kResultOk) {
        return Fail("the plug-in does not draw editor snapshots");
    }
    Steinberg::int64 ok = 0;
    attributes.getInt("ok", ok);
    if (ok != 1) {
        Steinberg::Vst::TChar text[1024] = {};
        attributes.getString("error", text, sizeof text);
        return Fail("no snapshot: " + ToUtf8(text, 1024));
    }
    std::printf("Wrote the editor at draw scale %g to %s\n", scale, out->c_str());
    return 0;
}

} // namespace mvhost::cli

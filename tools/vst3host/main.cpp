// mvhost: a small command-line VST3 host for Linux bundles.
//
// Each subcommand is one entry in kCommands; a new one is a function with the
// same signature and a line in the table.

#include "AudioFile.h"
#include "Module.h"
#include "PluginInstance.h"
#include "Render.h"
#include "Signal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace mvhost;

struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    int (*run)(const std::vector<std::string>& args);
};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "mvhost: %s\n", message.c_str());
    return 1;
}

// Options after the bundle path: "--name value" pairs and bare flags.
struct Options {
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::string> flags;

    const std::string* Get(const std::string& name) const
    {
        const std::string* found = nullptr;
        for (const auto& [key, value] : values) {
            if (key == name) {
                found = &value;
            }
        }
        return found;
    }
    bool Has(const std::string& flag) const
    {
        for (const auto& f : flags) {
            if (f == flag) {
                return true;
            }
        }
        return false;
    }
};

bool ParseOptions(const std::vector<std::string>& args, std::size_t from,
                  const std::vector<std::string>& withValue,
                  const std::vector<std::string>& bare, Options& options, std::string& error)
{
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool known = false;
        for (const auto& name : withValue) {
            if (arg == name) {
                if (i + 1 >= args.size()) {
                    error = arg + " needs a value";
                    return false;
                }
                options.values.emplace_back(arg, args[++i]);
                known = true;
                break;
            }
        }
        for (const auto& name : bare) {
            if (!known && arg == name) {
                options.flags.push_back(arg);
                known = true;
            }
        }
        if (!known) {
            error = "unknown option " + arg;
            return false;
        }
    }
    return true;
}

bool ParseNumber(const std::string& text, double low, double high, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && std::isfinite(value) &&
           value >= low && value <= high;
}

std::unique_ptr<Module> LoadBundle(const std::string& path)
{
    std::string error;
    auto module = Module::Load(path, error);
    if (!module) {
        Fail(error);
    }
    return module;
}

const ClassInfo* PickClass(const Module& module, const Options& options)
{
    const ClassInfo* info = nullptr;
    if (const auto* name = options.Get("--class")) {
        info = module.FindClass(*name);
        if (info == nullptr) {
            Fail("the bundle has no class named \"" + *name + "\"");
        }
    } else {
        info = module.FirstAudioClass();
        if (info == nullptr) {
            Fail("the bundle has no audio effect class");
        }
    }
    return info;
}

std::string FlagNames(int32 flags)
{
    std::string out;
    auto add = [&](int32 bit, const char* name) {
        if ((flags & bit) != 0) {
            out += out.empty() ? "" : ",";
            out += name;
        }
    };
    add(Steinberg::Vst::ParameterInfo::kCanAutomate, "automate");
    add(Steinberg::Vst::ParameterInfo::kIsReadOnly, "read-only");
    add(Steinberg::Vst::ParameterInfo::kIsWrapAround, "wrap");
    add(Steinberg::Vst::ParameterInfo::kIsList, "list");
    add(Steinberg::Vst::ParameterInfo::kIsHidden, "hidden");
    add(Steinberg::Vst::ParameterInfo::kIsProgramChange, "program");
    add(Steinberg::Vst::ParameterInfo::kIsBypass, "bypass");
    return out.empty() ? "-" : out;
}

int RunInfo(const std::vector<std::string>& args)
{
    if (args.empty()) {
        return Fail("info needs a bundle path");
    }
    Options options;
    std::string error;
    if (!ParseOptions(args, 1, {"--class"}, {}, options, error)) {
        return Fail(error);
    }
    auto module = LoadBundle(args[0]);
    if (!module) {
        return 1;
    }
    const auto& f = module->Info();
    std::printf("Factory\n  vendor: %s\n  url: %s\n  email: %s\n  flags: 0x%x\n", f.vendor.c_str(),
                f.url.c_str(), f.email.c_str(), static_cast<unsigned>(f.flags));
    for (const auto& c : module->Classes()) {
        std::printf("Class \"%s\"\n  category: %s\n  class ID: %s\n  cardinality: %d\n",
                    c.name.c_str(), c.category.c_str(), FormatClassId(c.cid).c_str(),
                    c.cardinality);
        if (c.hasInfo2) {
            std::printf("  sub-categories: %s\n  vendor: %s\n  version: %s\n  SDK version: %s\n"
                        "  class flags: 0x%x\n",
                        c.subCategories.c_str(), c.vendor.c_str(), c.version.c_str(),
                        c.sdkVersion.c_str(), static_cast<unsigned>(c.classFlags));
        }
    }
    const ClassInfo* info = PickClass(*module, options);
    if (info == nullptr) {
        return 1;
    }
    auto instance = module->CreateInstance(*info, error);
    if (!instance) {
        return Fail(error);
    }
    const auto params = instance->Parameters();
    std::printf("Parameters of \"%s\" (%zu)\n", info->name.c_str(), params.size());
    std::printf("  %5s  %-26s %-7s %12s %6s  %s\n", "id", "title", "units", "default", "steps",
                "flags");
    for (const auto& p : params) {
        const double plain = instance->NormalizedToPlain(p.id, p.defaultNormalized);
        std::printf("  %5u  %-26s %-7s %12.6g %6d  %s\n", p.id, p.title.c_str(),
                    p.units.c_str(), plain, p.stepCount, FlagNames(p.flags).c_str());
    }
    return 0;
}

bool ReadBytes(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

void PrintBandTable(const Audio& input, const Audio& output)
{
    // The second half, after the correction has had time to settle.
    const std::size_t frames = input.Frames();
    const std::size_t begin = frames / 2;
    const auto in = MeasureBandLevels(input, begin, frames);
    const auto out = MeasureBandLevels(output, begin, frames);
    std::printf("\nBand levels over the last %.1f s (dB)\n", (frames - begin) / input.sampleRate);
    std::printf("  %10s %9s %9s %9s\n", "centre Hz", "input", "output", "change");
    double inLow = INFINITY, inHigh = -INFINITY, outLow = INFINITY, outHigh = -INFINITY;
    for (std::size_t b = 0; b < kNumBands; ++b) {
        if (std::isnan(in[b]) || std::isnan(out[b])) {
            std::printf("  %10.2f %9s %9s %9s\n", kBandCentresHz[b], "-", "-", "-");
            continue;
        }
        std::printf("  %10.2f %9.1f %9.1f %+9.1f\n", kBandCentresHz[b], in[b], out[b],
                    out[b] - in[b]);
        inLow = std::min(inLow, in[b]);
        inHigh = std::max(inHigh, in[b]);
        outLow = std::min(outLow, out[b]);
        outHigh = std::max(outHigh, out[b]);
    }
    std::printf("  spread (highest - lowest band): input %.1f dB, output %.1f dB\n",
                inHigh - inLow, outHigh - outLow);
}

int RunRender(const std::vector<std::string>& args)
{
    if (args.empty()) {
        return Fail("render needs a bundle path");
    }
    Options options;
    std::string error;
    if (!ParseOptions(args, 1,
                      {"--in", "--out", "--set", "--block", "--rate", "--seconds", "--load-state",
                       "--save-state", "--class"},
                      {"--double"}, options, error)) {
        return Fail(error);
    }
    RenderOptions render;
    render.doublePrecision = options.Has("--double");
    double number = 0.0;
    if (const auto* block = options.Get("--block")) {
        if (!ParseNumber(*block, 1, 65536, number) || number != std::floor(number)) {
            return Fail("--block takes a whole number from 1 to 65536");
        }
        render.blockSize = static_cast<int32>(number);
    }

    auto module = LoadBundle(args[0]);
    if (!module) {
        return 1;
    }
    const ClassInfo* info = PickClass(*module, options);
    if (info == nullptr) {
        return 1;
    }
    auto instance = module->CreateInstance(*info, error);
    if (!instance) {
        return Fail(error);
    }

    Audio input;
    if (const auto* in = options.Get("--in")) {
        if (!ReadAudioFile(*in, input, error)) {
            return Fail(error);
        }
    } else {
        double rate = 48000.0;
        double seconds = 20.0;
        if (const auto* r = options.Get("--rate"); r && !ParseNumber(*r, 8000, 384000, rate)) {
            return Fail("--rate takes a sample rate from 8000 to 384000 Hz");
        }
        if (const auto* s = options.Get("--seconds");
            s && !ParseNumber(*s, 0.01, 3600, seconds)) {
            return Fail("--seconds takes a length from 0.01 to 3600 s");
        }
        input = MakeTiltedNoise(rate, seconds, 2, 1);
        std::printf("Input: %.1f s of stereo pink noise with a bass tilt at %.0f Hz\n", seconds,
                    rate);
    }

    if (const auto* path = options.Get("--load-state")) {
        std::vector<std::uint8_t> bytes;
        if (!ReadBytes(*path, bytes)) {
            return Fail("could not read the state file " + *path);
        }
        if (instance->SetState(bytes) != Steinberg::kResultOk) {
            return Fail("the plug-in refused the state in " + *path);
        }
    }
    for (const auto& [key, value] : options.values) {
        if (key == "--set" && !ApplySetting(*instance, value, error)) {
            return Fail(error);
        }
    }
    std::printf("Rendering through \"%s\" in blocks of %d (%s samples)\n", info->name.c_str(),
                render.blockSize, render.doublePrecision ? "64-bit" : "32-bit");
    Audio output;
    if (!Render(*instance, input, render, output, error)) {
        return Fail(error);
    }
    if (const auto* out = options.Get("--out")) {
        if (!WriteWavFile(*out, output, render.doublePrecision, error)) {
            return Fail(error);
        }
        std::printf("Wrote %s\n", out->c_str());
    }
    if (const auto* path = options.Get("--save-state")) {
        std::vector<std::uint8_t> bytes;
        if (!instance->GetState(bytes, error)) {
            return Fail(error);
        }
        if (!WriteBytes(*path, bytes)) {
            return Fail("could not write the state file " + *path);
        }
        std::printf("Saved the state (%zu bytes) to %s\n", bytes.size(), path->c_str());
    }
    PrintBandTable(input, output);
    return 0;
}

int RunHelp(const std::vector<std::string>& args);

const Command kCommands[] = {
    {"info", "info BUNDLE [--class NAME]",
     "factory and class information and the parameter list", RunInfo},
    {"render", "render BUNDLE [options]",
     "run audio through the plug-in and compare band levels\n"
     "      --in FILE          input audio (default: generated tilted pink noise)\n"
     "      --out FILE         write the output as a WAV file\n"
     "      --set NAME=VALUE   set a parameter (plain value, or text such as on/off)\n"
     "      --block N          block size (default 512)\n"
     "      --double           process 64-bit samples\n"
     "      --rate HZ          rate of the generated input (default 48000)\n"
     "      --seconds S        length of the generated input (default 20)\n"
     "      --load-state FILE  restore a saved state before rendering\n"
     "      --save-state FILE  save the state after rendering\n"
     "      --class NAME       the class to use (default: the first audio effect)",
     RunRender},
    {"help", "help", "this text", RunHelp},
};

int RunHelp(const std::vector<std::string>&)
{
    std::printf("usage: mvhost COMMAND ...\n\n");
    for (const auto& c : kCommands) {
        std::printf("  %s\n      %s\n", c.usage, c.summary);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        RunHelp({});
        return 2;
    }
    const std::string_view name = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& c : kCommands) {
        if (name == c.name) {
            return c.run(args);
        }
    }
    std::fprintf(stderr, "mvhost: unknown command \"%s\"\n", argv[1]);
    RunHelp({});
    return 2;
}

// mvhost render: audio through the plug-in, band levels before and after.

#include "AudioFile.h"
#include "CommandLine.h"
#include "Commands.h"
#include "HostMessage.h"
#include "PluginInstance.h"
#include "Render.h"
#include "SessionSetup.h"
#include "Signal.h"

#include <cmath>
#include <cstdio>

namespace mvhost::cli {

namespace {

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

// Asks the plug-in to run one of its preset actions; its failure text comes back
// in the message's "error" attribute.
bool SendPresetMessage(PluginInstance& instance, const char* id, const char* key,
                       const std::string& value, AttributeList& attributes, std::string& error)
{
    attributes.SetText(key, value);
    if (SendMessage(instance, id, attributes) != Steinberg::kResultOk) {
        error = "the plug-in does not load or save presets by message";
        return false;
    }
    if (attributes.GetText("error", error)) {
        return false;
    }
    return true;
}

} // namespace

int RunRender(const std::vector<std::string>& args)
{
    if (args.empty()) {
        return Fail("render needs a bundle path");
    }
    Options options;
    std::string error;
    if (!ParseOptions(args, 1,
                      {"--in", "--out", "--set", "--block", "--rate", "--seconds", "--load-state",
                       "--save-state", "--load-preset", "--save-preset", "--learn", "--class"},
                      {"--double"}, options, error)) {
        return Fail(error);
    }
    RenderOptions render;
    render.doublePrecision = options.Has("--double");
    if (const auto* block = options.Get("--block")) {
        int blockSize = 0;
        if (!ParseWholeNumber(*block, 1, 65536, blockSize)) {
            return Fail("--block takes a whole number from 1 to 65536");
        }
        render.blockSize = blockSize;
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
            s && !ParseNumber(*s, 0.01, 600, seconds)) {
            return Fail("--seconds takes a length from 0.01 to 600 s");
        }
        if (rate * seconds > static_cast<double>(kMaxAudioFrames)) {
            return Fail("the generated input would be too long; use fewer --seconds");
        }
        input = MakeTiltedNoise(rate, seconds, 2, 1);
        std::printf("Input: %.1f s of stereo pink noise with a bass tilt at %.0f Hz\n", seconds,
                    rate);
    }

    if (const auto* path = options.Get("--load-state")) {
        if (!LoadStateFile(*instance, *path)) {
            return 1;
        }
    }
    if (const auto* path = options.Get("--load-preset")) {
        AttributeList attributes;
        if (!SendPresetMessage(*instance, "MorvellanLoadPreset", "path", *path, attributes, error)) {
            return Fail(error);
        }
        std::printf("Loaded the preset file %s\n", path->c_str());
    }
    if (const auto* path = options.Get("--learn"); path && !LearnReference(*instance, *path, error)) {
        return Fail(error);
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
    if (const auto* name = options.Get("--save-preset")) {
        AttributeList attributes;
        if (!SendPresetMessage(*instance, "MorvellanSavePreset", "name", *name, attributes, error)) {
            return Fail(error);
        }
        // The plug-in names the file only when it saved one: a blank name saves nothing.
        std::string file;
        if (attributes.GetText("path", file)) {
            std::printf("Saved the preset \"%s\" to %s\n", name->c_str(), file.c_str());
        } else {
            std::printf("Saved no preset: the name \"%s\" is blank\n", name->c_str());
        }
    }
    PrintBandTable(input, output);
    return 0;
}

} // namespace mvhost::cli

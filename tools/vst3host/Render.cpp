#include "Render.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace mvhost {

using namespace Steinberg;

namespace {

std::string Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

template <typename Sample>
bool RenderBlocks(PluginInstance& instance, const Audio& input, int32 blockSize, Audio& output,
                  std::string& error)
{
    const std::size_t channels = input.channels.size();
    const std::size_t frames = input.Frames();
    std::vector<std::vector<Sample>> in(channels, std::vector<Sample>(static_cast<std::size_t>(blockSize)));
    std::vector<std::vector<Sample>> out(channels, std::vector<Sample>(static_cast<std::size_t>(blockSize)));
    std::vector<Sample*> inPtrs(channels);
    std::vector<Sample*> outPtrs(channels);
    for (std::size_t c = 0; c < channels; ++c) {
        inPtrs[c] = in[c].data();
        outPtrs[c] = out[c].data();
    }
    output.sampleRate = input.sampleRate;
    output.channels.assign(channels, std::vector<double>(frames));
    for (std::size_t pos = 0; pos < frames; pos += static_cast<std::size_t>(blockSize)) {
        const std::size_t n = std::min(frames - pos, static_cast<std::size_t>(blockSize));
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::size_t i = 0; i < n; ++i) {
                in[c][i] = static_cast<Sample>(input.channels[c][pos + i]);
            }
        }
        const tresult result =
            instance.Process(inPtrs.data(), static_cast<int32>(channels), outPtrs.data(),
                             static_cast<int32>(channels), static_cast<int32>(n));
        if (result != kResultOk) {
            error = "the plug-in failed to process the block at frame " + std::to_string(pos);
            return false;
        }
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::size_t i = 0; i < n; ++i) {
                output.channels[c][pos + i] = static_cast<double>(out[c][i]);
            }
        }
    }
    return true;
}

} // namespace

bool ApplySetting(PluginInstance& instance, std::string_view setting, std::string& error)
{
    const auto eq = setting.find('=');
    if (eq == std::string_view::npos) {
        error = "expected Name=Value, got \"" + std::string(setting) + "\"";
        return false;
    }
    const std::string name = Trim(setting.substr(0, eq));
    const std::string value = Trim(setting.substr(eq + 1));
    const auto param = instance.FindParameter(name);
    if (!param) {
        error = "no parameter named \"" + name + "\"";
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const double plain = std::strtod(value.c_str(), &end);
    double normalized = 0.0;
    if (!value.empty() && end != nullptr && *end == '\0' && errno == 0 && std::isfinite(plain)) {
        normalized = instance.PlainToNormalized(param->id, plain);
    } else {
        Vst::String128 text{};
        WidenToString128(value, text);
        if (instance.Controller() == nullptr ||
            instance.Controller()->getParamValueByString(param->id, text, normalized) !=
                kResultOk) {
            error = "\"" + value + "\" is not a value of " + name;
            return false;
        }
    }
    if (!std::isfinite(normalized)) {
        error = "the plug-in gave no normalised value for " + name + "=" + value;
        return false;
    }
    instance.SetParameter(param->id, std::clamp(normalized, 0.0, 1.0));
    return true;
}

bool Render(PluginInstance& instance, const Audio& input, const RenderOptions& options,
            Audio& output, std::string& error)
{
    if (input.channels.empty() || input.Frames() == 0) {
        error = "the input holds no audio";
        return false;
    }
    if (options.blockSize < 1) {
        error = "the block size must be at least 1";
        return false;
    }
    ProcessSettings settings;
    settings.sampleRate = input.sampleRate;
    settings.maxBlockSize = options.blockSize;
    settings.doublePrecision = options.doublePrecision;
    settings.inputChannels = static_cast<int32>(input.channels.size());
    settings.outputChannels = settings.inputChannels;
    if (!instance.Configure(settings, error) || !instance.Start(error)) {
        return false;
    }
    const bool ok = options.doublePrecision
                        ? RenderBlocks<double>(instance, input, options.blockSize, output, error)
                        : RenderBlocks<float>(instance, input, options.blockSize, output, error);
    instance.Stop();
    return ok;
}

} // namespace mvhost

#pragma once
// Running audio through a plug-in instance the way a host's engine does.

#include "PluginInstance.h"
#include "Signal.h"

#include <string>
#include <string_view>

namespace mvhost {

struct RenderOptions {
    int32 blockSize = 512;
    bool doublePrecision = false;
};

// Sets a parameter from "Name=Value": a number is a plain value converted by
// the plug-in's own plainParamToNormalized; other text goes through the
// plug-in's getParamValueByString ("on", "off", …).
bool ApplySetting(PluginInstance& instance, std::string_view setting, std::string& error);

// Sets up the instance for the input's channels and rate, processes the whole
// input in blocks of the given size (the last one shorter) and switches
// processing off again. The output has as many channels as the input.
bool Render(PluginInstance& instance, const Audio& input, const RenderOptions& options,
            Audio& output, std::string& error);

} // namespace mvhost

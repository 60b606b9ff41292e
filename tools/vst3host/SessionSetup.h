#pragma once
// What the editor and snapshot commands do to an instance before it is shown: learn
// a target from a reference file, and find the audio to run through it.

#include "PluginInstance.h"
#include "Signal.h"

#include <string>

namespace mvhost::cli {

// The plug-in's own reference-file learning, waited for; false with the reason.
bool LearnReference(PluginInstance& instance, const std::string& path, std::string& error);

// "noise" gives that many seconds of generated stereo pink noise with a bass tilt at
// 48 kHz; anything else is an audio file to read.
bool LoadInputAudio(const std::string& source, double seconds, Audio& audio, std::string& error);

} // namespace mvhost::cli

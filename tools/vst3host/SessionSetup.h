#pragma once
// What the editor and snapshot commands do before the editor is shown: keep the
// bundle loaded, learn a target from a reference file, find the audio to play.

#include "PluginInstance.h"
#include "Signal.h"

#include <string>

namespace mvhost::cli {

// Keeps the loaded bundle in the process until it ends, as hosts do. The drawing
// libraries an editor brings in keep caches for the life of the process; unloading
// them at exit would only turn those caches into leaks for a leak checker.
void KeepLoaded(const std::string& bundle);

// The plug-in's own reference-file learning, waited for; false with the reason.
bool LearnReference(PluginInstance& instance, const std::string& path, std::string& error);

// "noise" gives that many seconds of generated stereo pink noise with a bass tilt at
// 48 kHz; anything else is an audio file to read.
bool LoadInputAudio(const std::string& source, double seconds, Audio& audio, std::string& error);

} // namespace mvhost::cli

#pragma once
// What the editor and snapshot commands do before the editor is shown: keep the
// bundle loaded, learn a target from a reference file, find the audio to play.

#include "CommandLine.h"
#include "Module.h"
#include "PluginInstance.h"
#include "Signal.h"

#include <memory>
#include <string>

namespace mvhost::cli {

// A loaded bundle and an instance of the class the options pick; the instance goes first.
struct KeptPlugin
{
    std::unique_ptr<Module> module;
    const ClassInfo* info = nullptr; // owned by the module
    std::unique_ptr<PluginInstance> instance;
};

// Loads the bundle and keeps it in the process until it ends, as hosts do: the drawing
// libraries an editor brings in keep caches for the life of the process, and unloading
// them at exit would only turn those caches into leaks for a leak checker. False after
// printing why not.
bool OpenKeptPlugin(const std::string& bundle, const Options& options, KeptPlugin& out);

// The plug-in's own reference-file learning, waited for; false with the reason.
bool LearnReference(PluginInstance& instance, const std::string& path, std::string& error);

// "noise" gives that many seconds of generated stereo pink noise with a bass tilt at
// 48 kHz; anything else is an audio file to read.
bool LoadInputAudio(const std::string& source, double seconds, Audio& audio, std::string& error);

} // namespace mvhost::cli

#include "SessionSetup.h"

#include "AudioFile.h"
#include "HostMessage.h"
#include "Module.h"

#include <dlfcn.h>

#include <cstdio>

namespace mvhost::cli {

bool OpenKeptPlugin(const std::string& bundle, const Options& options, KeptPlugin& out)
{
    out.module = LoadBundle(bundle);
    if (!out.module) {
        return false;
    }
    // Only marks the module the bundle's load already brought in; loads nothing new.
    dlopen(BinaryPathOf(bundle).c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    out.info = PickClass(*out.module, options);
    if (out.info == nullptr) {
        return false;
    }
    std::string error;
    out.instance = out.module->CreateInstance(*out.info, error);
    if (!out.instance) {
        Fail(error);
        return false;
    }
    return true;
}

bool LearnReference(PluginInstance& instance, const std::string& path, std::string& error)
{
    AttributeList attributes;
    attributes.SetText("path", path);
    attributes.setInt("wait", 1);
    if (SendMessage(instance, "MorvellanLearnReference", attributes) != Steinberg::kResultOk) {
        error = "the plug-in does not learn from reference files by message";
        return false;
    }
    if (attributes.GetText("error", error)) {
        error = "could not learn from " + path + ": " + error;
        return false;
    }
    std::string source;
    attributes.GetText("source", source);
    std::printf("Learned the target from %s\n", source.c_str());
    return true;
}

bool LoadInputAudio(const std::string& source, double seconds, Audio& audio, std::string& error)
{
    if (source != "noise") {
        return ReadAudioFile(source, audio, error);
    }
    constexpr double kRate = 48000.0;
    if (!(seconds > 0.0) || kRate * seconds > static_cast<double>(kMaxAudioFrames)) {
        error = "the generated input would be too long";
        return false;
    }
    audio = MakeTiltedNoise(kRate, seconds, 2, 1);
    return true;
}

} // namespace mvhost::cli

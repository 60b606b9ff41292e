// mvhost: a small command-line VST3 host for Linux bundles.
//
// Each subcommand is one entry in kCommands (see Commands.h).

#include "Commands.h"

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace mvhost::cli;

struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    int (*run)(const std::vector<std::string>& args);
};

int RunHelp(const std::vector<std::string>& args);

const Command kCommands[] = {
    {"info", "info BUNDLE [--class NAME] [--load-state FILE]",
     "factory and class information and the parameters (current values from a saved state)",
     RunInfo},
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
     "      --load-preset FILE load a preset file through the plug-in before rendering\n"
     "      --learn FILE       learn the target from a reference recording (WAV, AIFF,\n"
     "                         MP3 or FLAC) through the plug-in before rendering\n"
     "      --save-preset NAME save the plug-in's preset under NAME after rendering\n"
     "                         (in $XDG_DATA_HOME/Morvellan/Presets)\n"
     "      --class NAME       the class to use (default: the first audio effect)",
     RunRender},
    {"editor", "editor BUNDLE [options]",
     "show the plug-in's editor in a window of its own (needs an X display)\n"
     "      --seconds S        close after S seconds (default: when the window is closed)\n"
     "      --scale S          open at S times the editor's opening size\n"
     "      --resize WxH       then resize the window as a user would; the editor's\n"
     "                         sizing rules decide the size it ends at\n"
     "      --cycles N         close and reopen the editor N times first\n"
     "      --screenshot FILE  save the window as a PNG file before closing\n"
     "      --play FILE|noise  run audio through the plug-in in real time meanwhile\n"
     "      --learn FILE       learn the target from a reference recording first\n"
     "      --class NAME       the class to use (default: the first audio effect)",
     RunEditor},
    {"snapshot", "snapshot BUNDLE --out FILE [options]",
     "the plug-in draws its editor into a PNG file (no X display needed)\n"
     "      --scale S          draw scale, 0.25 to 4 (default 1)\n"
     "      --in FILE          render this audio through the plug-in first\n"
     "      --seconds S        render S seconds of generated noise first\n"
     "      --learn FILE       learn the target from a reference recording first\n"
     "      --set NAME=VALUE   set a parameter\n"
     "      --load-state FILE  restore a saved state first\n"
     "      --class NAME       the class to use (default: the first audio effect)",
     RunSnapshot},
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
            try {
                return c.run(args);
            } catch (const std::exception& e) {
                // Out of memory on a huge input, and the like: say so, no crash.
                std::fprintf(stderr, "mvhost: %s\n", e.what());
                return 1;
            }
        }
    }
    std::fprintf(stderr, "mvhost: unknown command \"%s\"\n", argv[1]);
    RunHelp({});
    return 2;
}

#include "CommandLine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace mvhost::cli {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "mvhost: %s\n", message.c_str());
    return 1;
}

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

bool ParseWholeNumber(const std::string& text, int low, int high, int& value)
{
    double number = 0.0;
    if (!ParseNumber(text, low, high, number) || number != std::floor(number)) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
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

bool LoadStateFile(PluginInstance& instance, const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    if (!ReadBytes(path, bytes)) {
        Fail("could not read the state file " + path);
        return false;
    }
    if (instance.SetState(bytes) != Steinberg::kResultOk) {
        Fail("the plug-in refused the state in " + path);
        return false;
    }
    return true;
}

} // namespace mvhost::cli

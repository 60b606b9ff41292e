#pragma once
// What every mvhost subcommand shares: option parsing, messages, loading
// the bundle and picking its class, and state files.

#include "Module.h"
#include "PluginInstance.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace mvhost::cli {

// Prints "mvhost: <message>" to standard error and gives the exit status 1.
int Fail(const std::string& message);

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

// Reads args[from..] into options; only the names listed are accepted.
bool ParseOptions(const std::vector<std::string>& args, std::size_t from,
                  const std::vector<std::string>& withValue,
                  const std::vector<std::string>& bare, Options& options, std::string& error);

// A number string within [low, high].
bool ParseNumber(const std::string& text, double low, double high, double& value);

// A whole number string within [low, high].
bool ParseWholeNumber(const std::string& text, int low, int high, int& value);

// The bundle, or null after printing why not.
std::unique_ptr<Module> LoadBundle(const std::string& path);

// The class named by --class, else the first audio effect; null after
// printing why not.
const ClassInfo* PickClass(const Module& module, const Options& options);

bool ReadBytes(const std::string& path, std::vector<std::uint8_t>& bytes);
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Gives the instance the state saved in a file (--load-state); false after
// printing why not.
bool LoadStateFile(PluginInstance& instance, const std::string& path);

} // namespace mvhost::cli

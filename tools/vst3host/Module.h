#pragma once
// Loading a Linux .vst3 bundle: dlopen, ModuleEntry, the factory, ModuleExit.

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/base/smartpointer.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace mvhost {

class PluginInstance;

struct FactoryInfo {
    std::string vendor;
    std::string url;
    std::string email;
    Steinberg::int32 flags = 0;
};

struct ClassInfo {
    std::array<std::uint8_t, 16> cid{};
    std::string name;
    std::string category;
    Steinberg::int32 cardinality = 0;
    // From IPluginFactory2, when the factory offers it.
    bool hasInfo2 = false;
    std::string subCategories;
    std::string vendor;
    std::string version;
    std::string sdkVersion;
    Steinberg::uint32 classFlags = 0;
};

// The class ID as its four 32-bit words, the way the SDK prints them.
std::string FormatClassId(const std::array<std::uint8_t, 16>& cid);

// The shared object inside a bundle folder (Contents/x86_64-linux/<name>.so);
// a path to a .so file is taken as it is.
std::filesystem::path BinaryPathOf(const std::filesystem::path& bundle);

class Module {
public:
    // Loads the bundle and calls its ModuleEntry; null with an error text on failure.
    static std::unique_ptr<Module> Load(const std::filesystem::path& bundle, std::string& error);
    ~Module();

    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const FactoryInfo& Info() const { return mInfo; }
    const std::vector<ClassInfo>& Classes() const { return mClasses; }
    Steinberg::IPluginFactory* Factory() const { return mFactory.get(); }
    void* Handle() const { return mHandle; }

    // The first audio-effect class ("Audio Module Class"), or null.
    const ClassInfo* FirstAudioClass() const;
    const ClassInfo* FindClass(const std::string& name) const;

    // Creates, initialises and wires up one instance of a class.
    std::unique_ptr<PluginInstance> CreateInstance(const ClassInfo& info, std::string& error) const;

private:
    Module() = default;
    bool ReadFactory(std::string& error);

    void* mHandle = nullptr;
    bool mEntered = false;
    Steinberg::IPtr<Steinberg::IPluginFactory> mFactory;
    FactoryInfo mInfo;
    std::vector<ClassInfo> mClasses;
};

} // namespace mvhost

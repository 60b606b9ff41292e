#pragma once
// Shared set-up for the tests that load the built Morvellan bundle through
// the host library, plus a hand-rolled reader and writer of the state layout
// so expected bytes never come from the plug-in itself.

#include "Module.h"
#include "PluginInstance.h"
#include "Signal.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace bundle_test {

inline constexpr int kParams = 46;

// The 46 parameters as the product defines them: title, units, default,
// minimum, maximum, and the kind of value mapping.
enum class Mapping { Linear, Exponential, Switch };
struct ParamRow {
    const char* title;
    const char* units;
    double defaultValue;
    double min;
    double max;
    Mapping mapping;
};
extern const std::array<ParamRow, kParams> kParamTable;

// Indices used by the tests.
namespace idx {
enum : int {
    kAmount = 0, kSpeed = 1, kThreshold = 2, kMaxBoost = 3, kLowTarget = 5, kLowFreq = 6,
    kHPFreq = 17, kHPOn = 18, kLPOn = 20, kOutput = 21, kBypass = 22, kTilt = 23,
    kUnusedAutoGain = 24, kRangeLow = 25, kPreEq1Gain = 27, kPreEq1Q = 29, kPreEq2Gain = 31,
    kPreEq3Gain = 35, kPreEq4Gain = 39, kPreEqRespect = 45
};
} // namespace idx

// Little-endian chunk writer (int32, double, length-prefixed string).
class ChunkWriter {
public:
    ChunkWriter& Int(std::int32_t v) { return Raw(&v, 4); }
    ChunkWriter& U32(std::uint32_t v) { return Raw(&v, 4); }
    ChunkWriter& Dbl(double v) { return Raw(&v, 8); }
    ChunkWriter& Str(const std::string& s)
    {
        Int(static_cast<std::int32_t>(s.size()));
        return Raw(s.data(), s.size());
    }
    ChunkWriter& Raw(const void* p, std::size_t n)
    {
        const auto* b = static_cast<const std::uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
        return *this;
    }
    std::vector<std::uint8_t> bytes;
};

// The current (version 5) layout, read field by field.
struct SavedState {
    std::uint32_t magic = 0;
    std::int32_t version = 0, accent = 0, width = 0, height = 0, hasTarget = 0;
    std::array<double, 12> relative{};
    std::string source;
    std::array<double, kParams> params{};
    std::array<double, 12> absolute{};
    std::int32_t bypass = 0, count = 0, bypass2 = 0;
    std::string preset;
    std::int32_t modified = 0;
    std::size_t size = 0; // bytes the layout took
};
// False when the bytes do not hold a complete version-5 layout.
bool ParseState(const std::vector<std::uint8_t>& bytes, SavedState& state);

// The magic: "MVS1" as a big-endian word, stored little-endian.
inline constexpr std::uint32_t kMagic = 0x4D565331u;

// Every parameter at its default, as the product defines them.
std::array<double, kParams> DefaultValues();

// A version-5 chunk with the given fields.
std::vector<std::uint8_t> MakeChunkV5(const std::array<double, kParams>& params, int accent,
                                      int hasTarget, const std::array<double, 12>& relative,
                                      const std::array<double, 12>& absolute,
                                      const std::string& source, const std::string& preset,
                                      int modified, int width = 720, int height = 532);

std::string BundlePath();

// Loads the bundle once for the whole test program.
class BundleTest : public ::testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

protected:
    static mvhost::Module& GetModule();
    static const mvhost::ClassInfo& Class();

    // A fresh, initialised instance (not yet set up for processing).
    std::unique_ptr<mvhost::PluginInstance> NewInstance() const;
    // Set up and started for the given layout.
    std::unique_ptr<mvhost::PluginInstance> StartedInstance(int inChannels, int outChannels,
                                                            bool doubles, int maxBlock = 4096,
                                                            double rate = 48000.0) const;

    static Steinberg::Vst::ParamID IdOf(const mvhost::PluginInstance& instance, int index);
    // Plain value to normalised through the plug-in, then to the host as an edit.
    static void SetPlain(mvhost::PluginInstance& instance, int index, double plain);
    static std::vector<std::uint8_t> StateOf(const mvhost::PluginInstance& instance);
    static SavedState ParsedStateOf(const mvhost::PluginInstance& instance);

    // Sets Amount 0, cut filters off, pre-EQ gains 0, Output 0 dB.
    static void SetNeutral(mvhost::PluginInstance& instance);

private:
    static std::unique_ptr<mvhost::Module> sModule;
};

} // namespace bundle_test

#include "BundleFixture.h"

#include <cmath>
#include <cstdlib>

namespace bundle_test {

using Mapping::Exponential;
using Mapping::Linear;
using Mapping::Switch;

const std::array<ParamRow, kParams> kParamTable = {{
    {"Amount", "%", 50, 0, 100, Linear},
    {"Speed", "%", 50, 0, 100, Linear},
    {"Analysis Threshold", "dB", -40, -70, -10, Linear},
    {"Max Boost", "dB", 6, 0, 12, Linear},
    {"Max Cut", "dB", 9, 0, 18, Linear},
    {"Low Target", "dB", 0, -18, 18, Linear},
    {"Low Freq", "Hz", 120, 60, 300, Exponential},
    {"Low On", "", 1, 0, 1, Switch},
    {"Body Target", "dB", 0, -18, 18, Linear},
    {"Body Freq", "Hz", 300, 150, 800, Exponential},
    {"Body On", "", 1, 0, 1, Switch},
    {"Presence Target", "dB", 0, -18, 18, Linear},
    {"Presence Freq", "Hz", 3000, 1000, 6000, Exponential},
    {"Presence On", "", 1, 0, 1, Switch},
    {"Air Target", "dB", 0, -18, 18, Linear},
    {"Air Freq", "Hz", 10000, 6000, 16000, Exponential},
    {"Air On", "", 1, 0, 1, Switch},
    {"HP Freq", "Hz", 20, 20, 1000, Exponential},
    {"HP On", "", 1, 0, 1, Switch},
    {"LP Freq", "Hz", 20000, 1000, 20000, Exponential},
    {"LP On", "", 1, 0, 1, Switch},
    {"Output", "dB", 0, -24, 24, Linear},
    {"Bypass", "", 0, 0, 1, Switch},
    {"Tilt", "dB/oct", 0, -6, 6, Linear},
    {"Unused (was Auto Gain)", "", 0, 0, 1, Switch},
    {"Range Low", "Hz", 20, 20, 20000, Exponential},
    {"Range High", "Hz", 20000, 20, 20000, Exponential},
    {"Pre-EQ 1 Gain", "dB", 0, -18, 18, Linear},
    {"Pre-EQ 1 Freq", "Hz", 100, 20, 20000, Exponential},
    {"Pre-EQ 1 Q", "", 0.707, 0.3, 10, Exponential},
    {"Pre-EQ 1 On", "", 1, 0, 1, Switch},
    {"Pre-EQ 2 Gain", "dB", 0, -18, 18, Linear},
    {"Pre-EQ 2 Freq", "Hz", 400, 20, 20000, Exponential},
    {"Pre-EQ 2 Q", "", 1.0, 0.3, 10, Exponential},
    {"Pre-EQ 2 On", "", 1, 0, 1, Switch},
    {"Pre-EQ 3 Gain", "dB", 0, -18, 18, Linear},
    {"Pre-EQ 3 Freq", "Hz", 2500, 20, 20000, Exponential},
    {"Pre-EQ 3 Q", "", 1.0, 0.3, 10, Exponential},
    {"Pre-EQ 3 On", "", 1, 0, 1, Switch},
    {"Pre-EQ 4 Gain", "dB", 0, -18, 18, Linear},
    {"Pre-EQ 4 Freq", "Hz", 8000, 20, 20000, Exponential},
    {"Pre-EQ 4 Q", "", 0.707, 0.3, 10, Exponential},
    {"Pre-EQ 4 On", "", 1, 0, 1, Switch},
    {"Pre-EQ 1 Shelf", "", 1, 0, 1, Switch},
    {"Pre-EQ 4 Shelf", "", 1, 0, 1, Switch},
    {"Pre-EQ Respect", "%", 50, 0, 100, Linear},
}};

std::array<double, kParams> DefaultValues()
{
    std::array<double, kParams> values{};
    for (int i = 0; i < kParams; ++i) {
        values[static_cast<std::size_t>(i)] = kParamTable[static_cast<std::size_t>(i)].defaultValue;
    }
    return values;
}

namespace {

class ChunkReader {
public:
    explicit ChunkReader(const std::vector<std::uint8_t>& b) : bytes(b) {}
    bool Int(std::int32_t& v) { return Raw(&v, 4); }
    bool U32(std::uint32_t& v) { return Raw(&v, 4); }
    bool Dbl(double& v) { return Raw(&v, 8); }
    bool Str(std::string& s)
    {
        std::int32_t n = 0;
        if (!Int(n) || n < 0 || static_cast<std::size_t>(n) > bytes.size() - pos) {
            return false;
        }
        s.assign(reinterpret_cast<const char*>(bytes.data() + pos), static_cast<std::size_t>(n));
        pos += static_cast<std::size_t>(n);
        return true;
    }
    bool Raw(void* p, std::size_t n)
    {
        if (n > bytes.size() - pos) {
            return false;
        }
        std::memcpy(p, bytes.data() + pos, n);
        pos += n;
        return true;
    }
    const std::vector<std::uint8_t>& bytes;
    std::size_t pos = 0;
};

} // namespace

bool ParseState(const std::vector<std::uint8_t>& bytes, SavedState& s)
{
    ChunkReader r(bytes);
    bool ok = r.U32(s.magic) && r.Int(s.version) && r.Int(s.accent) && r.Int(s.width) &&
              r.Int(s.height) && r.Int(s.hasTarget);
    for (auto& v : s.relative) {
        ok = ok && r.Dbl(v);
    }
    ok = ok && r.Str(s.source);
    for (int i = 0; i < 24; ++i) {
        ok = ok && r.Dbl(s.params[static_cast<std::size_t>(i)]);
    }
    for (auto& v : s.absolute) {
        ok = ok && r.Dbl(v);
    }
    ok = ok && r.Int(s.bypass) && r.Int(s.count) && s.count == 22;
    for (int i = 24; i < kParams; ++i) {
        ok = ok && r.Dbl(s.params[static_cast<std::size_t>(i)]);
    }
    ok = ok && r.Int(s.bypass2) && r.Str(s.preset) && r.Int(s.modified);
    s.size = r.pos;
    return ok && s.magic == kMagic && s.version == 5;
}

std::vector<std::uint8_t> MakeChunkV5(const std::array<double, kParams>& params, int accent,
                                      int hasTarget, const std::array<double, 12>& relative,
                                      const std::array<double, 12>& absolute,
                                      const std::string& source, const std::string& preset,
                                      int modified, int width, int height)
{
    ChunkWriter w;
    w.U32(kMagic).Int(5).Int(accent).Int(width).Int(height).Int(hasTarget);
    for (double v : relative) {
        w.Dbl(v);
    }
    w.Str(source);
    for (int i = 0; i < 24; ++i) {
        w.Dbl(params[static_cast<std::size_t>(i)]);
    }
    for (double v : absolute) {
        w.Dbl(v);
    }
    w.Int(0).Int(22);
    for (int i = 24; i < kParams; ++i) {
        w.Dbl(params[static_cast<std::size_t>(i)]);
    }
    w.Int(0).Str(preset).Int(modified);
    return w.bytes;
}

std::string BundlePath()
{
    return MORVELLAN_BUNDLE_PATH;
}

std::unique_ptr<mvhost::Module> BundleTest::sModule;

void BundleTest::SetUpTestSuite()
{
    // Instances check for updates; keep them on a closed local port even
    // when this program runs outside ctest.
    ::setenv("HALVORSTED_UPDATES_URL", "http://127.0.0.1:9/updates.json", 0);
    if (!sModule) {
        std::string error;
        sModule = mvhost::Module::Load(BundlePath(), error);
        ASSERT_NE(sModule, nullptr) << error;
    }
}

void BundleTest::TearDownTestSuite()
{
    sModule.reset();
}

mvhost::Module& BundleTest::GetModule()
{
    return *sModule;
}

const mvhost::ClassInfo& BundleTest::Class()
{
    const auto* info = sModule->FirstAudioClass();
    EXPECT_NE(info, nullptr);
    return *info;
}

std::unique_ptr<mvhost::PluginInstance> BundleTest::NewInstance() const
{
    std::string error;
    auto instance = sModule->CreateInstance(Class(), error);
    EXPECT_NE(instance, nullptr) << error;
    return instance;
}

std::unique_ptr<mvhost::PluginInstance> BundleTest::StartedInstance(int inChannels, int outChannels,
                                                                    bool doubles, int maxBlock,
                                                                    double rate) const
{
    auto instance = NewInstance();
    if (!instance) {
        return nullptr;
    }
    mvhost::ProcessSettings settings;
    settings.sampleRate = rate;
    settings.maxBlockSize = maxBlock;
    settings.doublePrecision = doubles;
    settings.inputChannels = inChannels;
    settings.outputChannels = outChannels;
    std::string error;
    EXPECT_TRUE(instance->Configure(settings, error)) << error;
    EXPECT_TRUE(instance->Start(error)) << error;
    return instance;
}

Steinberg::Vst::ParamID BundleTest::IdOf(const mvhost::PluginInstance& instance, int index)
{
    const auto params = instance.Parameters();
    EXPECT_LT(static_cast<std::size_t>(index), params.size());
    return params.at(static_cast<std::size_t>(index)).id;
}

void BundleTest::SetPlain(mvhost::PluginInstance& instance, int index, double plain)
{
    const auto id = IdOf(instance, index);
    instance.SetParameter(id, instance.PlainToNormalized(id, plain));
}

std::vector<std::uint8_t> BundleTest::StateOf(const mvhost::PluginInstance& instance)
{
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(instance.GetState(bytes, error)) << error;
    return bytes;
}

SavedState BundleTest::ParsedStateOf(const mvhost::PluginInstance& instance)
{
    SavedState state;
    EXPECT_TRUE(ParseState(StateOf(instance), state));
    return state;
}

void BundleTest::SetNeutral(mvhost::PluginInstance& instance)
{
    SetPlain(instance, idx::kAmount, 0.0);
    SetPlain(instance, idx::kHPOn, 0.0);
    SetPlain(instance, idx::kLPOn, 0.0);
    SetPlain(instance, idx::kOutput, 0.0);
    for (int gain : {idx::kPreEq1Gain, idx::kPreEq2Gain, idx::kPreEq3Gain, idx::kPreEq4Gain}) {
        SetPlain(instance, gain, 0.0);
    }
}

} // namespace bundle_test

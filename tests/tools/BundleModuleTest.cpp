// Loading the bundle: module entry and exit, exports, factory and class data,
// and the parameter list a host sees.

#include "BundleFixture.h"
#include "Render.h"

#include <pluginterfaces/base/ipluginbase.h>

#include <cmath>
#include <cstdio>
#include <set>

using namespace bundle_test;
using namespace Steinberg;

namespace {

std::set<std::string> ExportedSymbols(const std::string& binary)
{
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + binary + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return names;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64], type[8], name[900];
        if (std::sscanf(line, "%63s %7s %899s", address, type, name) == 3 &&
            std::string("TWDBRVi").find(type[0]) != std::string::npos) {
            std::string symbol = name;
            symbol = symbol.substr(0, symbol.find('@'));
            names.insert(symbol);
        }
    }
    pclose(pipe);
    return names;
}

} // namespace

using ModuleLoadTest = BundleTest;

TEST_F(ModuleLoadTest, ExportsOnlyTheModuleEntryPoints)
{
    const auto names = ExportedSymbols(mvhost::BinaryPathOf(BundlePath()).string());
    EXPECT_EQ(names, (std::set<std::string>{"GetPluginFactory", "ModuleEntry", "ModuleExit"}));
}

TEST_F(ModuleLoadTest, SecondLoadAndUnloadLeaveTheFirstWorking)
{
    // dlopen hands back the same image, so ModuleEntry runs twice and the
    // module must count: the second ModuleExit may not tear down the first.
    for (int round = 0; round < 2; ++round) {
        std::string error;
        auto second = mvhost::Module::Load(BundlePath(), error);
        ASSERT_NE(second, nullptr) << error;
        ASSERT_NE(second->FirstAudioClass(), nullptr);
        auto instance = second->CreateInstance(*second->FirstAudioClass(), error);
        ASSERT_NE(instance, nullptr) << error;
        instance.reset();
        second.reset();
        auto first = NewInstance();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->Parameters().size(), 47u);
    }
}

TEST_F(ModuleLoadTest, FactoryAndClassData)
{
    const auto& f = GetModule().Info();
    EXPECT_EQ(f.vendor, "Halvorsted");
    EXPECT_EQ(f.email, "");
    EXPECT_EQ(f.flags, PFactoryInfo::kUnicode);

    ASSERT_EQ(GetModule().Classes().size(), 1u);
    const auto& c = GetModule().Classes()[0];
    EXPECT_EQ(c.name, "Morvellan");
    EXPECT_EQ(c.category, "Audio Module Class");
    EXPECT_EQ(c.cardinality, PClassInfo::kManyInstances);
    ASSERT_TRUE(c.hasInfo2);
    EXPECT_EQ(c.subCategories, "Fx|EQ");
    EXPECT_EQ(c.vendor, "");
    EXPECT_EQ(c.version, "0.9.14");
    EXPECT_EQ(c.sdkVersion, "VST 3.8.1");
    EXPECT_EQ(c.classFlags, 2u);
    // 0xF2AEE70D, 0x00DE4F4E, "Hlvd", "Mrvn"; Linux UIDs keep each word big-endian.
    const std::array<std::uint8_t, 16> expected = {0xF2, 0xAE, 0xE7, 0x0D, 0x00, 0xDE, 0x4F, 0x4E,
                                                   'H',  'l',  'v',  'd',  'M',  'r',  'v',  'n'};
    EXPECT_EQ(c.cid, expected);
    EXPECT_EQ(mvhost::FormatClassId(c.cid), "F2AEE70D 00DE4F4E 486C7664 4D72766E");

    // The UTF-16 view of the same class.
    FUnknownPtr<IPluginFactory3> factory3(GetModule().Factory());
    ASSERT_TRUE(factory3);
    PClassInfoW w{};
    ASSERT_EQ(factory3->getClassInfoUnicode(0, &w), kResultOk);
    EXPECT_EQ(mvhost::ToUtf8(w.name, PClassInfo::kNameSize), "Morvellan");
    EXPECT_EQ(mvhost::ToUtf8(w.version, PClassInfo2::kVersionSize), "0.9.14");
    EXPECT_EQ(0, std::memcmp(w.cid, expected.data(), 16));
    EXPECT_NE(factory3->getClassInfoUnicode(1, &w), kResultOk);
}

TEST_F(ModuleLoadTest, CreatesNothingForAnUnknownClassOrInterface)
{
    TUID wrong = {};
    void* obj = reinterpret_cast<void*>(1);
    EXPECT_NE(GetModule().Factory()->createInstance(wrong, Vst::IComponent::iid, &obj), kResultOk);
    EXPECT_EQ(obj, nullptr);

    TUID cid;
    std::memcpy(cid, Class().cid.data(), 16);
    obj = reinterpret_cast<void*>(1);
    EXPECT_NE(GetModule().Factory()->createInstance(cid, IPluginFactory::iid, &obj), kResultOk);
    EXPECT_EQ(obj, nullptr);
}

using ParameterListTest = BundleTest;

TEST_F(ParameterListTest, TitlesUnitsFlagsAndDefaults)
{
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    const auto params = instance->Parameters();
    ASSERT_EQ(params.size(), 47u); // 46 of the plug-in and the host bypass
    std::set<Vst::ParamID> ids;
    for (int i = 0; i < kParams; ++i) {
        const auto& p = params[static_cast<std::size_t>(i)];
        const auto& row = kParamTable[static_cast<std::size_t>(i)];
        SCOPED_TRACE(row.title);
        ids.insert(p.id);
        EXPECT_EQ(p.title, row.title);
        EXPECT_EQ(p.units, row.units);
        const bool automatable = i != idx::kUnusedAutoGain && i != idx::kPreEqRespect;
        EXPECT_EQ((p.flags & Vst::ParameterInfo::kCanAutomate) != 0, automatable);
        EXPECT_EQ(p.flags & Vst::ParameterInfo::kIsBypass, 0);
        if (row.mapping == Mapping::Switch) {
            EXPECT_EQ(p.stepCount, 1);
        }
        const double plain = instance->NormalizedToPlain(p.id, p.defaultNormalized);
        EXPECT_NEAR(plain, row.defaultValue, 1e-9 * std::max(1.0, std::abs(row.defaultValue)));
        // A fresh instance sits at its defaults.
        EXPECT_DOUBLE_EQ(instance->Normalized(p.id), p.defaultNormalized);
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(kParams));
    const auto& bypass = params[46];
    EXPECT_NE(bypass.flags & Vst::ParameterInfo::kIsBypass, 0);
    EXPECT_EQ(bypass.stepCount, 1);
    EXPECT_EQ(ids.count(bypass.id), 0u);
}

TEST_F(ParameterListTest, ValueMappingsFollowEachParametersShape)
{
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    for (int i = 0; i < kParams; ++i) {
        const auto& row = kParamTable[static_cast<std::size_t>(i)];
        SCOPED_TRACE(row.title);
        const auto id = IdOf(*instance, i);
        EXPECT_NEAR(instance->PlainToNormalized(id, row.min), 0.0, 1e-12);
        EXPECT_NEAR(instance->PlainToNormalized(id, row.max), 1.0, 1e-12);
        if (row.mapping == Mapping::Switch) {
            EXPECT_EQ(instance->ValueText(id, 0.0), "off");
            EXPECT_EQ(instance->ValueText(id, 1.0), "on");
            continue;
        }
        // A value a third of the way in on the parameter's own scale.
        double value = 0.0;
        double expected = 1.0 / 3.0;
        if (row.mapping == Mapping::Linear) {
            value = row.min + (row.max - row.min) / 3.0;
        } else {
            value = row.min * std::pow(row.max / row.min, 1.0 / 3.0);
        }
        EXPECT_NEAR(instance->PlainToNormalized(id, value), expected, 1e-9);
        EXPECT_NEAR(instance->NormalizedToPlain(id, expected), value,
                    1e-9 * std::max(1.0, std::abs(value)));
    }
}

TEST_F(ParameterListTest, HostSetsParametersByNameInPlainUnits)
{
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    std::string error;
    ASSERT_TRUE(mvhost::ApplySetting(*instance, "Amount=80", error)) << error;
    ASSERT_TRUE(mvhost::ApplySetting(*instance, " low freq = 240 ", error)) << error;
    ASSERT_TRUE(mvhost::ApplySetting(*instance, "HP On=off", error)) << error;
    EXPECT_NEAR(instance->Plain(IdOf(*instance, idx::kAmount)), 80.0, 1e-9);
    EXPECT_NEAR(instance->Normalized(IdOf(*instance, idx::kLowFreq)),
                std::log(240.0 / 60.0) / std::log(300.0 / 60.0), 1e-9);
    EXPECT_EQ(instance->Normalized(IdOf(*instance, idx::kHPOn)), 0.0);

    EXPECT_FALSE(mvhost::ApplySetting(*instance, "Nonexistent=1", error));
    EXPECT_NE(error.find("Nonexistent"), std::string::npos);
    EXPECT_FALSE(mvhost::ApplySetting(*instance, "Amount", error));
    EXPECT_FALSE(mvhost::ApplySetting(*instance, "Amount=lots", error));
    // The failed settings left the earlier value alone.
    EXPECT_NEAR(instance->Plain(IdOf(*instance, idx::kAmount)), 80.0, 1e-9);
}

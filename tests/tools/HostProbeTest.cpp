// The host with a plug-in whose processor and controller are separate
// objects (the probe bundle built beside these tests).

#include "HostMessage.h"
#include "Module.h"
#include "PluginInstance.h"
#include "Render.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace mvhost;
using namespace Steinberg;

namespace {

constexpr Vst::ParamID kGainId = 7;

std::unique_ptr<PluginInstance> MakeProbe(std::unique_ptr<Module>& module)
{
    std::string error;
    module = Module::Load(PROBE_BUNDLE_PATH, error);
    EXPECT_NE(module, nullptr) << error;
    if (!module) {
        return nullptr;
    }
    const ClassInfo* info = module->FirstAudioClass();
    EXPECT_NE(info, nullptr);
    auto instance = info ? module->CreateInstance(*info, error) : nullptr;
    EXPECT_NE(instance, nullptr) << error;
    return instance;
}

// Asks the controller what it has seen.
void Report(PluginInstance& instance, int64& activations, double& gain, int64& connected)
{
    FUnknownPtr<Vst::IConnectionPoint> point(instance.Controller());
    ASSERT_TRUE(point);
    IPtr<Vst::IMessage> message = owned(NewHostMessage());
    message->setMessageID("report");
    ASSERT_EQ(point->notify(message.get()), kResultOk);
    message->getAttributes()->getInt("activations", activations);
    message->getAttributes()->getFloat("gain", gain);
    message->getAttributes()->getInt("connected", connected);
}

std::vector<float> RunOnce(PluginInstance& instance, const std::vector<float>& input)
{
    std::vector<float> left(input.size()), right(input.size());
    float* in[2] = {const_cast<float*>(input.data()), const_cast<float*>(input.data())};
    float* out[2] = {left.data(), right.data()};
    EXPECT_EQ(instance.Process(in, 2, out, 2, static_cast<int32>(input.size())), kResultOk);
    EXPECT_EQ(left, right);
    return left;
}

} // namespace

TEST(HostProbeTest, PicksTheProcessorClassAndMakesItsController)
{
    std::unique_ptr<Module> module;
    auto instance = MakeProbe(module);
    ASSERT_NE(instance, nullptr);
    ASSERT_EQ(module->Classes().size(), 2u);
    EXPECT_EQ(module->Classes()[0].category, "Component Controller Class");
    EXPECT_EQ(module->FirstAudioClass()->name, "Probe");
    EXPECT_EQ(module->Info().vendor, "Probe Works");
    EXPECT_FALSE(instance->SingleObject());
    ASSERT_NE(instance->Controller(), nullptr);
    const auto params = instance->Parameters();
    ASSERT_EQ(params.size(), 1u);
    EXPECT_EQ(params[0].id, kGainId);
    EXPECT_EQ(params[0].title, "Gain");
    // The controller started from the processor's state, and they are connected.
    EXPECT_EQ(instance->Normalized(kGainId), 0.5);
    int64 activations = -1, connected = -1;
    double gain = 0;
    Report(*instance, activations, gain, connected);
    EXPECT_EQ(activations, 0);
    EXPECT_EQ(connected, 1);
    instance.reset();
}

TEST(HostProbeTest, ProcessorReachesControllerThroughAHostMadeMessage)
{
    std::unique_ptr<Module> module;
    auto instance = MakeProbe(module);
    ASSERT_NE(instance, nullptr);
    std::string error;
    ProcessSettings settings;
    ASSERT_TRUE(instance->Configure(settings, error)) << error;
    ASSERT_TRUE(instance->Start(error)) << error;
    int64 activations = 0, connected = 0;
    double gain = 0;
    Report(*instance, activations, gain, connected);
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(gain, 0.5);
    // Refused layouts are reported as such.
    instance->Stop();
    settings.inputChannels = 1;
    settings.outputChannels = 1;
    EXPECT_FALSE(instance->Configure(settings, error));
    settings.inputChannels = 2;
    settings.outputChannels = 2;
    settings.doublePrecision = true;
    EXPECT_FALSE(instance->Configure(settings, error));
    EXPECT_NE(error.find("64-bit"), std::string::npos) << error;
    instance.reset();
}

TEST(HostProbeTest, StateGoesToBothHalves)
{
    std::unique_ptr<Module> module;
    auto instance = MakeProbe(module);
    ASSERT_NE(instance, nullptr);
    double quarter = 0.25;
    std::vector<std::uint8_t> bytes(8);
    std::memcpy(bytes.data(), &quarter, 8);
    ASSERT_EQ(instance->SetState(bytes), kResultOk);
    EXPECT_EQ(instance->Normalized(kGainId), 0.25);
    std::vector<std::uint8_t> back;
    std::string error;
    ASSERT_TRUE(instance->GetState(back, error)) << error;
    EXPECT_EQ(back, bytes);
    // A refused state reaches neither half.
    double tooLoud = 3.0;
    std::memcpy(bytes.data(), &tooLoud, 8);
    EXPECT_NE(instance->SetState(bytes), kResultOk);
    EXPECT_EQ(instance->Normalized(kGainId), 0.25);
}

TEST(HostProbeTest, EditsReachTheProcessorOnTheNextBlock)
{
    std::unique_ptr<Module> module;
    auto instance = MakeProbe(module);
    ASSERT_NE(instance, nullptr);
    std::string error;
    ASSERT_TRUE(instance->Configure(ProcessSettings{}, error)) << error;
    ASSERT_TRUE(instance->Start(error)) << error;
    const std::vector<float> input = {1.0f, -0.5f, 0.25f, 0.0f};

    // The default gain of one half.
    std::vector<float> out = RunOnce(*instance, input);
    EXPECT_EQ(out, (std::vector<float>{0.5f, -0.25f, 0.125f, 0.0f}));

    // A knob move on the controller side, reported through the handler.
    FUnknownPtr<Vst::IConnectionPoint> point(instance->Controller());
    ASSERT_TRUE(point);
    IPtr<Vst::IMessage> edit = owned(NewHostMessage());
    edit->setMessageID("edit");
    edit->getAttributes()->setFloat("value", 0.75);
    ASSERT_EQ(point->notify(edit.get()), kResultOk);
    EXPECT_EQ(instance->Handler().OpenGestures(), 0);
    out = RunOnce(*instance, input);
    EXPECT_EQ(out, (std::vector<float>{0.75f, -0.375f, 0.1875f, 0.0f}));

    // A setting by name, in the plug-in's plain units (percent here).
    ASSERT_TRUE(ApplySetting(*instance, "gain=12.5", error)) << error;
    EXPECT_EQ(instance->Normalized(kGainId), 0.125);
    out = RunOnce(*instance, input);
    EXPECT_EQ(out, (std::vector<float>{0.125f, -0.0625f, 0.03125f, 0.0f}));
    // The probe has no value texts: a word is refused, not guessed.
    EXPECT_FALSE(ApplySetting(*instance, "Gain=loud", error));
    instance.reset();
}

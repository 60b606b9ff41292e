#pragma once
// One plug-in instance seen from the host: component, processor and
// controller, wired in the order VST3 hosts follow.

#include "HostObjects.h"

#include <pluginterfaces/base/smartpointer.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mvhost {

struct ParameterInfo {
    Steinberg::Vst::ParamID id = 0;
    std::string title;
    std::string shortTitle;
    std::string units;
    int32 stepCount = 0;
    double defaultNormalized = 0.0;
    int32 unitId = 0;
    int32 flags = 0;
};

struct ProcessSettings {
    double sampleRate = 48000.0;
    int32 maxBlockSize = 512;
    bool doublePrecision = false;
    int32 inputChannels = 2;
    int32 outputChannels = 2;
    int32 processMode = Steinberg::Vst::kRealtime;
};

// A speaker arrangement for a plain channel count (mono, stereo, or that
// many unnamed speakers).
Steinberg::Vst::SpeakerArrangement ArrangementFor(int32 channels);

// UTF-16 text from the VST3 interfaces as UTF-8.
std::string ToUtf8(const Steinberg::Vst::TChar* text, size_t maxChars);

class PluginInstance {
public:
    PluginInstance(Steinberg::IPtr<Steinberg::Vst::IComponent> component,
                   Steinberg::IPtr<Steinberg::Vst::IEditController> controller,
                   bool singleObject, Steinberg::IPtr<HostApplication> host,
                   Steinberg::IPtr<ComponentHandler> handler);
    ~PluginInstance();

    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    Steinberg::Vst::IComponent* Component() const { return mComponent.get(); }
    Steinberg::Vst::IAudioProcessor* Processor() const { return mProcessor.get(); }
    Steinberg::Vst::IEditController* Controller() const { return mController.get(); }
    ComponentHandler& Handler() const { return *mHandler; }
    bool SingleObject() const { return mSingleObject; }

    // Parameters, as the controller lists them.
    std::vector<ParameterInfo> Parameters() const;
    // By title or short title, ignoring case.
    std::optional<ParameterInfo> FindParameter(std::string_view title) const;
    double PlainToNormalized(Steinberg::Vst::ParamID id, double plain) const;
    double NormalizedToPlain(Steinberg::Vst::ParamID id, double normalized) const;
    double Normalized(Steinberg::Vst::ParamID id) const;
    double Plain(Steinberg::Vst::ParamID id) const;
    std::string ValueText(Steinberg::Vst::ParamID id, double normalized) const;

    // As a host does for an automation or knob change: the controller learns
    // it at once, the processor with the next block's parameter changes.
    void SetParameter(Steinberg::Vst::ParamID id, double normalized);

    // Bus arrangement, bus activation, sample size and setupProcessing; only
    // while inactive. False with a reason when the plug-in refuses.
    bool Configure(const ProcessSettings& settings, std::string& error);
    const ProcessSettings& Settings() const { return mSettings; }
    // setActive(true) then setProcessing(true).
    bool Start(std::string& error);
    // setProcessing(false) then setActive(false).
    void Stop();
    bool Active() const { return mActive; }
    bool Processing() const { return mProcessing; }

    // One block on bus 0 in both directions; pending parameter changes go
    // with it. Channel counts are what the caller passes, so tests can pass
    // counts that differ from the arrangement.
    tresult Process(float* const* inputs, int32 numIn, float* const* outputs, int32 numOut,
                    int32 frames);
    tresult Process(double* const* inputs, int32 numIn, double* const* outputs, int32 numOut,
                    int32 frames);
    // A block made by the caller; pending parameter changes and the process
    // context are filled in when the caller left them empty.
    tresult ProcessRaw(Steinberg::Vst::ProcessData& data);

    bool GetState(std::vector<std::uint8_t>& bytes, std::string& error) const;
    // The component's setState (and the controller's setComponentState when
    // it is a separate object); the plug-in's result is returned.
    tresult SetState(const std::vector<std::uint8_t>& bytes);

    // Lets go of the instance without switching processing and activation
    // off first (terminate and release still run). Used to check that a
    // plug-in survives hosts that do so.
    void ReleaseWithoutStopping();

private:
    void Shutdown(bool orderly);
    template <typename Sample>
    tresult ProcessBuses(Sample* const* inputs, int32 numIn, Sample* const* outputs, int32 numOut,
                         int32 frames);

    Steinberg::IPtr<Steinberg::Vst::IComponent> mComponent;
    Steinberg::IPtr<Steinberg::Vst::IAudioProcessor> mProcessor;
    Steinberg::IPtr<Steinberg::Vst::IEditController> mController;
    Steinberg::IPtr<Steinberg::Vst::IConnectionPoint> mComponentPoint;
    Steinberg::IPtr<Steinberg::Vst::IConnectionPoint> mControllerPoint;
    bool mSingleObject = true;
    Steinberg::IPtr<HostApplication> mHost;
    Steinberg::IPtr<ComponentHandler> mHandler;

    ProcessSettings mSettings;
    bool mConfigured = false;
    // Read in Configure: bus queries are not for the audio thread.
    bool mHasInputBus = true;
    bool mActive = false;
    bool mProcessing = false;
    bool mReleased = false;

    std::mutex mPendingMutex;
    std::vector<ParameterEdit> mPending;
    ParameterChanges mChanges;
    ParameterChanges mOutputChanges;
    Steinberg::Vst::ProcessContext mContext{};
};

} // namespace mvhost

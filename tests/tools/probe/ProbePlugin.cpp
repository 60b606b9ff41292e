// A tiny VST3 plug-in with its processor and controller as separate
// objects, used to check the host's handling of such plug-ins: controller
// creation, connection points, host-made messages, state hand-over and
// forwarding of controller edits to the processor.

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>
#include <pluginterfaces/vst/vstspeaker.h>

#include <algorithm>
#include <atomic>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr ParamID kGainId = 7;
const FUID kProcessorCid(0x11111111, 0x22222222, 0x33333333, 0x44444444);
const FUID kControllerCid(0x55555555, 0x66666666, 0x77777777, 0x88888888);

std::atomic<int> gEntries{0};

void Copy(char8* dst, const char* src, size_t size)
{
    std::strncpy(dst, src, size - 1);
    dst[size - 1] = 0;
}

void CopyW(TChar* dst, const char* src, size_t size)
{
    size_t i = 0;
    for (; src[i] != 0 && i + 1 < size; ++i) {
        dst[i] = static_cast<TChar>(src[i]);
    }
    dst[i] = 0;
}

// Reference counting shared by the probe's objects.
#define PROBE_REFCOUNT                                                                  \
    uint32 PLUGIN_API addRef() override { return ++mRefs; }                             \
    uint32 PLUGIN_API release() override                                                \
    {                                                                                   \
        const uint32 left = --mRefs;                                                    \
        if (left == 0) {                                                                \
            delete this;                                                                \
        }                                                                               \
        return left;                                                                    \
    }                                                                                   \
    std::atomic<uint32> mRefs{1};

IMessage* MakeMessage(FUnknown* hostContext, const char* id)
{
    FUnknownPtr<IHostApplication> host(hostContext);
    if (!host) {
        return nullptr;
    }
    TUID cid;
    TUID iid;
    std::memcpy(cid, IMessage::iid.toTUID(), 16);
    std::memcpy(iid, IMessage::iid.toTUID(), 16);
    void* obj = nullptr;
    if (host->createInstance(cid, iid, &obj) != kResultOk || obj == nullptr) {
        return nullptr;
    }
    auto* message = static_cast<IMessage*>(obj);
    message->setMessageID(id);
    return message;
}

class Processor final : public IComponent, public IAudioProcessor, public IConnectionPoint {
public:
    PROBE_REFCOUNT

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, IComponent::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginBase::iid) ||
            FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            *obj = static_cast<IComponent*>(this);
        } else if (FUnknownPrivate::iidEqual(iid, IAudioProcessor::iid)) {
            *obj = static_cast<IAudioProcessor*>(this);
        } else if (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid)) {
            *obj = static_cast<IConnectionPoint*>(this);
        } else {
            *obj = nullptr;
            return kNoInterface;
        }
        addRef();
        return kResultOk;
    }

    // IPluginBase
    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        mHost = context;
        return kResultOk;
    }
    tresult PLUGIN_API terminate() override
    {
        mHost = nullptr;
        return kResultOk;
    }

    // IComponent
    tresult PLUGIN_API getControllerClassId(TUID classId) override
    {
        std::memcpy(classId, kControllerCid.toTUID(), 16);
        return kResultOk;
    }
    tresult PLUGIN_API setIoMode(IoMode) override { return kResultOk; }
    int32 PLUGIN_API getBusCount(MediaType type, BusDirection) override
    {
        return type == kAudio ? 1 : 0;
    }
    tresult PLUGIN_API getBusInfo(MediaType type, BusDirection dir, int32 index,
                                  BusInfo& bus) override
    {
        if (type != kAudio || index != 0) {
            return kInvalidArgument;
        }
        bus.mediaType = kAudio;
        bus.direction = dir;
        bus.channelCount = 2;
        CopyW(bus.name, "Main", 128);
        bus.busType = kMain;
        bus.flags = BusInfo::kDefaultActive;
        return kResultOk;
    }
    tresult PLUGIN_API getRoutingInfo(RoutingInfo&, RoutingInfo&) override { return kNotImplemented; }
    tresult PLUGIN_API activateBus(MediaType, BusDirection, int32, TBool) override { return kResultOk; }
    tresult PLUGIN_API setActive(TBool state) override
    {
        // Tell the controller, through a message the host makes.
        if (state && mPeer != nullptr) {
            if (IMessage* message = MakeMessage(mHost, "activated")) {
                message->getAttributes()->setFloat("gain", mGain);
                mPeer->notify(message);
                message->release();
            }
        }
        return kResultOk;
    }
    tresult PLUGIN_API setState(IBStream* state) override
    {
        double gain = 0;
        int32 got = 0;
        if (state == nullptr || state->read(&gain, 8, &got) != kResultOk || got != 8 ||
            !(gain >= 0.0 && gain <= 1.0)) {
            return kResultFalse;
        }
        mGain = gain;
        return kResultOk;
    }
    tresult PLUGIN_API getState(IBStream* state) override
    {
        double gain = mGain;
        return state != nullptr ? state->write(&gain, 8, nullptr) : kInvalidArgument;
    }

    // IAudioProcessor
    tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                          SpeakerArrangement* outputs, int32 numOuts) override
    {
        if (numIns != 1 || numOuts != 1 || inputs[0] != SpeakerArr::kStereo ||
            outputs[0] != SpeakerArr::kStereo) {
            return kResultFalse;
        }
        return kResultTrue;
    }
    tresult PLUGIN_API getBusArrangement(BusDirection, int32 index, SpeakerArrangement& arr) override
    {
        if (index != 0) {
            return kInvalidArgument;
        }
        arr = SpeakerArr::kStereo;
        return kResultOk;
    }
    tresult PLUGIN_API canProcessSampleSize(int32 size) override
    {
        return size == kSample32 ? kResultTrue : kResultFalse;
    }
    uint32 PLUGIN_API getLatencySamples() override { return 0; }
    tresult PLUGIN_API setupProcessing(ProcessSetup&) override { return kResultOk; }
    tresult PLUGIN_API setProcessing(TBool) override { return kResultOk; }
    tresult PLUGIN_API process(ProcessData& data) override
    {
        if (auto* changes = data.inputParameterChanges) {
            for (int32 i = 0; i < changes->getParameterCount(); ++i) {
                IParamValueQueue* queue = changes->getParameterData(i);
                int32 offset = 0;
                ParamValue value = 0;
                if (queue != nullptr && queue->getParameterId() == kGainId &&
                    queue->getPoint(queue->getPointCount() - 1, offset, value) == kResultOk) {
                    mGain = value;
                }
            }
        }
        if (data.numSamples <= 0 || data.numInputs < 1 || data.numOutputs < 1) {
            return kResultOk;
        }
        const int32 channels = std::min(data.inputs[0].numChannels, data.outputs[0].numChannels);
        for (int32 c = 0; c < channels; ++c) {
            const float* in = data.inputs[0].channelBuffers32[c];
            float* out = data.outputs[0].channelBuffers32[c];
            for (int32 s = 0; s < data.numSamples; ++s) {
                out[s] = static_cast<float>(in[s] * mGain);
            }
        }
        return kResultOk;
    }
    uint32 PLUGIN_API getTailSamples() override { return 0; }

    // IConnectionPoint
    tresult PLUGIN_API connect(IConnectionPoint* other) override
    {
        mPeer = other;
        return kResultOk;
    }
    tresult PLUGIN_API disconnect(IConnectionPoint*) override
    {
        mPeer = nullptr;
        return kResultOk;
    }
    tresult PLUGIN_API notify(IMessage*) override { return kResultFalse; }

private:
    ~Processor() = default;
    FUnknown* mHost = nullptr;
    IConnectionPoint* mPeer = nullptr;
    double mGain = 0.5;
};

class Controller final : public IEditController, public IConnectionPoint {
public:
    PROBE_REFCOUNT

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, IEditController::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginBase::iid) ||
            FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            *obj = static_cast<IEditController*>(this);
        } else if (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid)) {
            *obj = static_cast<IConnectionPoint*>(this);
        } else {
            *obj = nullptr;
            return kNoInterface;
        }
        addRef();
        return kResultOk;
    }

    tresult PLUGIN_API initialize(FUnknown*) override { return kResultOk; }
    tresult PLUGIN_API terminate() override { return kResultOk; }

    tresult PLUGIN_API setComponentState(IBStream* state) override
    {
        double gain = 0;
        int32 got = 0;
        if (state == nullptr || state->read(&gain, 8, &got) != kResultOk || got != 8) {
            return kResultFalse;
        }
        mGain = gain;
        return kResultOk;
    }
    tresult PLUGIN_API setState(IBStream*) override { return kResultOk; }
    tresult PLUGIN_API getState(IBStream*) override { return kResultOk; }
    int32 PLUGIN_API getParameterCount() override { return 1; }
    tresult PLUGIN_API getParameterInfo(int32 index, ParameterInfo& info) override
    {
        if (index != 0) {
            return kInvalidArgument;
        }
        info = {};
        info.id = kGainId;
        CopyW(info.title, "Gain", 128);
        CopyW(info.shortTitle, "G", 128);
        CopyW(info.units, "x", 128);
        info.defaultNormalizedValue = 0.5;
        info.flags = ParameterInfo::kCanAutomate;
        return kResultOk;
    }
    tresult PLUGIN_API getParamStringByValue(ParamID, ParamValue, String128) override
    {
        return kNotImplemented;
    }
    tresult PLUGIN_API getParamValueByString(ParamID, TChar*, ParamValue&) override
    {
        return kNotImplemented;
    }
    // Plain values are percent.
    ParamValue PLUGIN_API normalizedParamToPlain(ParamID, ParamValue v) override { return v * 100.0; }
    ParamValue PLUGIN_API plainParamToNormalized(ParamID, ParamValue v) override { return v / 100.0; }
    ParamValue PLUGIN_API getParamNormalized(ParamID id) override { return id == kGainId ? mGain : 0.0; }
    tresult PLUGIN_API setParamNormalized(ParamID id, ParamValue value) override
    {
        if (id != kGainId) {
            return kInvalidArgument;
        }
        mGain = value;
        return kResultOk;
    }
    tresult PLUGIN_API setComponentHandler(IComponentHandler* handler) override
    {
        mHandler = handler;
        return kResultOk;
    }
    IPlugView* PLUGIN_API createView(FIDString) override { return nullptr; }

    // IConnectionPoint: "activated" from the processor is counted; "edit"
    // (from a test) makes the controller report a knob move to the host.
    tresult PLUGIN_API connect(IConnectionPoint* other) override
    {
        mPeer = other;
        return kResultOk;
    }
    tresult PLUGIN_API disconnect(IConnectionPoint*) override
    {
        mPeer = nullptr;
        return kResultOk;
    }
    tresult PLUGIN_API notify(IMessage* message) override
    {
        if (message == nullptr || message->getMessageID() == nullptr) {
            return kInvalidArgument;
        }
        if (std::strcmp(message->getMessageID(), "activated") == 0) {
            ++mActivations;
            message->getAttributes()->getFloat("gain", mReportedGain);
            return kResultOk;
        }
        if (std::strcmp(message->getMessageID(), "edit") == 0 && mHandler != nullptr) {
            double value = 0;
            message->getAttributes()->getFloat("value", value);
            mHandler->beginEdit(kGainId);
            mHandler->performEdit(kGainId, value);
            mHandler->endEdit(kGainId);
            mGain = value;
            return kResultOk;
        }
        if (std::strcmp(message->getMessageID(), "report") == 0) {
            // Answers what it has seen, in the message's own attributes.
            message->getAttributes()->setInt("activations", mActivations);
            message->getAttributes()->setFloat("gain", mReportedGain);
            message->getAttributes()->setInt("connected", mPeer != nullptr ? 1 : 0);
            return kResultOk;
        }
        return kResultFalse;
    }

private:
    ~Controller() = default;
    IComponentHandler* mHandler = nullptr;
    IConnectionPoint* mPeer = nullptr;
    double mGain = 0.5;
    int64 mActivations = 0;
    double mReportedGain = -1.0;
};

class Factory final : public IPluginFactory2 {
public:
    PROBE_REFCOUNT

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, IPluginFactory2::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginFactory::iid) ||
            FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            addRef();
            *obj = static_cast<IPluginFactory2*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override
    {
        *info = PFactoryInfo();
        Copy(info->vendor, "Probe Works", PFactoryInfo::kNameSize);
        info->flags = PFactoryInfo::kNoFlags;
        return kResultOk;
    }
    int32 PLUGIN_API countClasses() override { return 2; }
    tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override
    {
        PClassInfo2 full{};
        if (getClassInfo2(index, &full) != kResultOk) {
            return kInvalidArgument;
        }
        std::memcpy(info->cid, full.cid, 16);
        info->cardinality = full.cardinality;
        std::memcpy(info->category, full.category, sizeof info->category);
        std::memcpy(info->name, full.name, sizeof info->name);
        return kResultOk;
    }
    tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) override
    {
        if (index < 0 || index > 1) {
            return kInvalidArgument;
        }
        *info = PClassInfo2();
        // The controller comes first, so the host must pick by category.
        const bool processor = index == 1;
        std::memcpy(info->cid, (processor ? kProcessorCid : kControllerCid).toTUID(), 16);
        info->cardinality = PClassInfo::kManyInstances;
        Copy(info->category, processor ? kVstAudioEffectClass : kVstComponentControllerClass,
             PClassInfo::kCategorySize);
        Copy(info->name, processor ? "Probe" : "Probe Controller", PClassInfo::kNameSize);
        Copy(info->subCategories, "Fx", PClassInfo2::kSubCategoriesSize);
        Copy(info->version, "1.2.3", PClassInfo2::kVersionSize);
        Copy(info->sdkVersion, kVstVersionString, PClassInfo2::kVersionSize);
        return kResultOk;
    }
    tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override
    {
        *obj = nullptr;
        FUnknown* made = nullptr;
        if (FUnknownPrivate::iidEqual(cid, kProcessorCid.toTUID())) {
            made = static_cast<IComponent*>(new Processor());
        } else if (FUnknownPrivate::iidEqual(cid, kControllerCid.toTUID())) {
            made = static_cast<IEditController*>(new Controller());
        } else {
            return kInvalidArgument;
        }
        const tresult r = made->queryInterface(iid, obj);
        made->release();
        return r;
    }

private:
    ~Factory() = default;
};

} // namespace

extern "C" {

__attribute__((visibility("default"))) IPluginFactory* PLUGIN_API GetPluginFactory()
{
    return gEntries.load() > 0 ? new Factory() : nullptr;
}

__attribute__((visibility("default"))) bool ModuleEntry(void*)
{
    ++gEntries;
    return true;
}

__attribute__((visibility("default"))) bool ModuleExit()
{
    --gEntries;
    return true;
}

} // extern "C"

#include "PluginInstance.h"

#include <pluginterfaces/vst/vstspeaker.h>

#include <algorithm>
#include <cctype>

namespace mvhost {

using namespace Steinberg;
using namespace Steinberg::Vst;

SpeakerArrangement ArrangementFor(int32 channels)
{
    if (channels <= 0) {
        return SpeakerArr::kEmpty;
    }
    if (channels == 1) {
        return SpeakerArr::kMono;
    }
    if (channels == 2) {
        return SpeakerArr::kStereo;
    }
    // That many speakers, lowest bits first.
    return channels >= 64 ? ~SpeakerArrangement{0}
                          : (SpeakerArrangement{1} << channels) - 1;
}

std::string ToUtf8(const TChar* text, size_t maxChars)
{
    std::string out;
    if (text == nullptr) {
        return out;
    }
    for (size_t i = 0; i < maxChars && text[i] != 0; ++i) {
        char32_t c = static_cast<char16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < maxChars) {
            const char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

PluginInstance::PluginInstance(IPtr<IComponent> component, IPtr<IEditController> controller,
                               bool singleObject, IPtr<HostApplication> host,
                               IPtr<ComponentHandler> handler)
    : mComponent(std::move(component)),
      mController(std::move(controller)),
      mSingleObject(singleObject),
      mHost(std::move(host)),
      mHandler(std::move(handler))
{
    FUnknownPtr<IAudioProcessor> processor(mComponent.get());
    mProcessor = processor.getInterface();

    if (mController) {
        mController->setComponentHandler(mHandler.get());
    }
    if (!mSingleObject && mController) {
        // Separate controller: connect the two and give it the component's state.
        FUnknownPtr<IConnectionPoint> componentPoint(mComponent.get());
        FUnknownPtr<IConnectionPoint> controllerPoint(mController.get());
        if (componentPoint && controllerPoint) {
            mComponentPoint = componentPoint.getInterface();
            mControllerPoint = controllerPoint.getInterface();
            mComponentPoint->connect(mControllerPoint.get());
            mControllerPoint->connect(mComponentPoint.get());
        }
        std::vector<std::uint8_t> state;
        std::string ignored;
        if (GetState(state, ignored)) {
            IPtr<MemoryStream> stream = owned(new MemoryStream(std::move(state)));
            mController->setComponentState(stream.get());
        }
    }
    mContext.state = ProcessContext::kPlaying | ProcessContext::kTempoValid |
                     ProcessContext::kTimeSigValid;
    mContext.tempo = 120.0;
    mContext.timeSigNumerator = 4;
    mContext.timeSigDenominator = 4;
}

PluginInstance::~PluginInstance()
{
    Shutdown(true);
}

void PluginInstance::ReleaseWithoutStopping()
{
    Shutdown(false);
}

void PluginInstance::Shutdown(bool orderly)
{
    if (mReleased) {
        return;
    }
    mReleased = true;
    if (orderly) {
        Stop();
    }
    if (mComponentPoint && mControllerPoint) {
        mComponentPoint->disconnect(mControllerPoint.get());
        mControllerPoint->disconnect(mComponentPoint.get());
    }
    mComponentPoint = nullptr;
    mControllerPoint = nullptr;
    if (mController) {
        mController->setComponentHandler(nullptr);
        if (!mSingleObject) {
            mController->terminate();
        }
    }
    if (mComponent) {
        mComponent->terminate();
    }
    mProcessor = nullptr;
    mController = nullptr;
    mComponent = nullptr;
    mActive = false;
    mProcessing = false;
}

std::vector<ParameterInfo> PluginInstance::Parameters() const
{
    std::vector<ParameterInfo> out;
    if (!mController) {
        return out;
    }
    const int32 count = mController->getParameterCount();
    for (int32 i = 0; i < count; ++i) {
        Vst::ParameterInfo raw{};
        if (mController->getParameterInfo(i, raw) != kResultOk) {
            continue;
        }
        ParameterInfo info;
        info.id = raw.id;
        info.title = ToUtf8(raw.title, 128);
        info.shortTitle = ToUtf8(raw.shortTitle, 128);
        info.units = ToUtf8(raw.units, 128);
        info.stepCount = raw.stepCount;
        info.defaultNormalized = raw.defaultNormalizedValue;
        info.unitId = raw.unitId;
        info.flags = raw.flags;
        out.push_back(std::move(info));
    }
    return out;
}

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::optional<ParameterInfo> PluginInstance::FindParameter(std::string_view title) const
{
    const auto params = Parameters();
    for (const auto& p : params) {
        if (SameIgnoringCase(p.title, title)) {
            return p;
        }
    }
    for (const auto& p : params) {
        if (!p.shortTitle.empty() && SameIgnoringCase(p.shortTitle, title)) {
            return p;
        }
    }
    return std::nullopt;
}

double PluginInstance::PlainToNormalized(ParamID id, double plain) const
{
    return mController ? mController->plainParamToNormalized(id, plain) : 0.0;
}

double PluginInstance::NormalizedToPlain(ParamID id, double normalized) const
{
    return mController ? mController->normalizedParamToPlain(id, normalized) : 0.0;
}

double PluginInstance::Normalized(ParamID id) const
{
    return mController ? mController->getParamNormalized(id) : 0.0;
}

double PluginInstance::Plain(ParamID id) const
{
    return NormalizedToPlain(id, Normalized(id));
}

std::string PluginInstance::ValueText(ParamID id, double normalized) const
{
    String128 text{};
    if (!mController || mController->getParamStringByValue(id, normalized, text) != kResultOk) {
        return {};
    }
    return ToUtf8(text, 128);
}

void PluginInstance::SetParameter(ParamID id, double normalized)
{
    if (mController) {
        mController->setParamNormalized(id, normalized);
    }
    std::lock_guard<std::mutex> lock(mPendingMutex);
    mPending.push_back({id, normalized});
}

bool PluginInstance::Configure(const ProcessSettings& settings, std::string& error)
{
    if (!mProcessor) {
        error = "the plug-in has no audio processor";
        return false;
    }
    if (mActive) {
        error = "the plug-in must be inactive to change its set-up";
        return false;
    }
    const int32 inBuses = mComponent->getBusCount(kAudio, kInput);
    const int32 outBuses = mComponent->getBusCount(kAudio, kOutput);
    if (outBuses < 1) {
        error = "the plug-in has no audio output";
        return false;
    }
    // Bus 0 takes the requested layout; further buses keep theirs.
    std::vector<SpeakerArrangement> ins(static_cast<size_t>(std::max(inBuses, 0)));
    std::vector<SpeakerArrangement> outs(static_cast<size_t>(outBuses));
    for (int32 i = 0; i < inBuses; ++i) {
        mProcessor->getBusArrangement(kInput, i, ins[static_cast<size_t>(i)]);
    }
    for (int32 i = 0; i < outBuses; ++i) {
        mProcessor->getBusArrangement(kOutput, i, outs[static_cast<size_t>(i)]);
    }
    if (inBuses > 0) {
        ins[0] = ArrangementFor(settings.inputChannels);
    }
    outs[0] = ArrangementFor(settings.outputChannels);
    if (mProcessor->setBusArrangements(ins.data(), inBuses, outs.data(), outBuses) != kResultTrue) {
        error = "the plug-in does not accept " + std::to_string(settings.inputChannels) +
                " input and " + std::to_string(settings.outputChannels) + " output channels";
        return false;
    }
    if (inBuses > 0) {
        mComponent->activateBus(kAudio, kInput, 0, true);
    }
    mComponent->activateBus(kAudio, kOutput, 0, true);

    const int32 sampleSize = settings.doublePrecision ? kSample64 : kSample32;
    if (mProcessor->canProcessSampleSize(sampleSize) != kResultTrue) {
        error = settings.doublePrecision ? "the plug-in cannot process 64-bit samples"
                                         : "the plug-in cannot process 32-bit samples";
        return false;
    }
    ProcessSetup setup{settings.processMode, sampleSize, settings.maxBlockSize,
                       settings.sampleRate};
    if (mProcessor->setupProcessing(setup) != kResultOk) {
        error = "the plug-in refused the processing set-up";
        return false;
    }
    mSettings = settings;
    mHasInputBus = inBuses > 0;
    mConfigured = true;
    mContext.sampleRate = settings.sampleRate;
    return true;
}

bool PluginInstance::Start(std::string& error)
{
    if (!mConfigured) {
        error = "the plug-in is not set up";
        return false;
    }
    if (!mActive) {
        if (mComponent->setActive(true) != kResultOk) {
            error = "the plug-in could not be activated";
            return false;
        }
        mActive = true;
    }
    if (!mProcessing) {
        // Some plug-ins answer kNotImplemented here; that still means go.
        const tresult r = mProcessor->setProcessing(true);
        if (r != kResultOk && r != kNotImplemented) {
            error = "the plug-in could not start processing";
            return false;
        }
        mProcessing = true;
    }
    return true;
}

void PluginInstance::Stop()
{
    if (mProcessing && mProcessor) {
        mProcessor->setProcessing(false);
    }
    mProcessing = false;
    if (mActive && mComponent) {
        mComponent->setActive(false);
    }
    mActive = false;
}

template <typename Sample>
tresult PluginInstance::ProcessBuses(Sample* const* inputs, int32 numIn, Sample* const* outputs,
                                     int32 numOut, int32 frames)
{
    AudioBusBuffers in;
    AudioBusBuffers out;
    in.numChannels = numIn;
    out.numChannels = numOut;
    if constexpr (sizeof(Sample) == 8) {
        in.channelBuffers64 = const_cast<Sample**>(inputs);
        out.channelBuffers64 = const_cast<Sample**>(outputs);
    } else {
        in.channelBuffers32 = const_cast<Sample**>(inputs);
        out.channelBuffers32 = const_cast<Sample**>(outputs);
    }
    // Tell the plug-in which input channels are all zeros.
    for (int32 c = 0; c < numIn && c < 64; ++c) {
        const Sample* samples = inputs[c];
        if (samples != nullptr &&
            std::all_of(samples, samples + frames, [](Sample s) { return s == Sample(0); })) {
            in.silenceFlags |= uint64{1} << c;
        }
    }
    ProcessData data;
    data.processMode = mSettings.processMode;
    data.symbolicSampleSize = sizeof(Sample) == 8 ? kSample64 : kSample32;
    data.numSamples = frames;
    data.numInputs = mHasInputBus ? 1 : 0;
    data.numOutputs = 1;
    data.inputs = data.numInputs > 0 ? &in : nullptr;
    data.outputs = &out;
    return ProcessRaw(data);
}

tresult PluginInstance::Process(float* const* inputs, int32 numIn, float* const* outputs,
                                int32 numOut, int32 frames)
{
    return ProcessBuses(inputs, numIn, outputs, numOut, frames);
}

tresult PluginInstance::Process(double* const* inputs, int32 numIn, double* const* outputs,
                                int32 numOut, int32 frames)
{
    return ProcessBuses(inputs, numIn, outputs, numOut, frames);
}

tresult PluginInstance::ProcessRaw(ProcessData& data)
{
    if (!mProcessor) {
        return kNotInitialized;
    }
    mChanges.Clear();
    mOutputChanges.Clear();
    {
        std::lock_guard<std::mutex> lock(mPendingMutex);
        for (const auto& edit : mPending) {
            mChanges.Add(edit.id, edit.value, 0);
        }
        mPending.clear();
    }
    // Edits the controller reported go to the processor too.
    for (const auto& edit : mHandler->TakeEdits()) {
        mChanges.Add(edit.id, edit.value, 0);
    }
    if (data.inputParameterChanges == nullptr) {
        data.inputParameterChanges = &mChanges;
    }
    if (data.outputParameterChanges == nullptr) {
        data.outputParameterChanges = &mOutputChanges;
    }
    if (data.processContext == nullptr) {
        data.processContext = &mContext;
    }
    const tresult result = mProcessor->process(data);
    mContext.projectTimeSamples += data.numSamples;
    mContext.continousTimeSamples += data.numSamples;
    return result;
}

bool PluginInstance::GetState(std::vector<std::uint8_t>& bytes, std::string& error) const
{
    IPtr<MemoryStream> stream = owned(new MemoryStream());
    if (!mComponent || mComponent->getState(stream.get()) != kResultOk) {
        error = "the plug-in did not give its state";
        return false;
    }
    bytes = stream->Data();
    return true;
}

tresult PluginInstance::SetState(const std::vector<std::uint8_t>& bytes)
{
    if (!mComponent) {
        return kNotInitialized;
    }
    IPtr<MemoryStream> stream = owned(new MemoryStream(bytes));
    const tresult result = mComponent->setState(stream.get());
    if (result == kResultOk && !mSingleObject && mController) {
        IPtr<MemoryStream> again = owned(new MemoryStream(bytes));
        mController->setComponentState(again.get());
    }
    return result;
}

} // namespace mvhost

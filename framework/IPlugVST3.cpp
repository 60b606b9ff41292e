#include "IPlugVST3.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstattributes.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstunits.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include "SampleKernels.h"
#include "Vst3Strings.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace iplug
{

namespace
{

SpeakerArrangement ArrangementFor(int nChans)
{
  switch (nChans)
  {
    case 1: return SpeakerArr::kMono;
    case 2: return SpeakerArr::kStereo;
    default: return SpeakerArr::kEmpty;
  }
}

// A host handing us a hostile stream cannot make us hold more than this.
constexpr int64_t kMaxStateBytes = 64 * 1024 * 1024;

} // namespace

IPlugVST3::IPlugVST3(const InstanceInfo& info, const Config& config)
: IPlugProcessor(config)
, IEditorDelegate(config.nParams)
, mConfig(config)
{
  (void)info;
  mEditorWidth = config.plugWidth;
  mEditorHeight = config.plugHeight;

  // Start with the widest layout the plug-in declares (stereo for "1-1 2-2").
  IOConfig widest{};
  for (const auto& io : mIOConfigs)
    if (ArrangementFor(io.nIn) != SpeakerArr::kEmpty && ArrangementFor(io.nOut) != SpeakerArr::kEmpty &&
        io.nIn + io.nOut > widest.nIn + widest.nOut)
      widest = io;
  mInputArr = ArrangementFor(widest.nIn);
  mOutputArr = ArrangementFor(widest.nOut);
  mInConnected = widest.nIn;
  mOutConnected = widest.nOut;
  PrepareBuffers();
}

IPlugVST3::~IPlugVST3()
{
  StopIdleTimer();
  if (mComponentHandler)
    mComponentHandler->release();
  if (mHostContext)
    mHostContext->release();
}

// Idle timer

void IPlugVST3::StartIdleTimer()
{
  std::lock_guard<std::mutex> lock(mTimerMutex);
  if (mIdleTimer)
    return;
  // No thread: the plug-in runs without idle calls rather than failing to load.
  mIdleTimer = SharedIdleTimer::Register([this] { return TryIdleTick(); });
  mIdleTimerRunning = mIdleTimer != nullptr;
}

void IPlugVST3::StopIdleTimer()
{
  // Held throughout, so a second caller also returns only once no tick of ours runs.
  std::lock_guard<std::mutex> lock(mTimerMutex);
  mIdleTimerRunning = false;
  SharedIdleTimer::Unregister(mIdleTimer);
  mIdleTimer.reset();
}

void IPlugVST3::RunIdleTick()
{
  mLastIdle = std::chrono::steady_clock::now();
  int paramIdx;
  while (mParamChangesFromProcessor.Pop(paramIdx))
  {
    OnParamChangeUI(paramIdx, kHost);
    SendParameterValueFromDelegate(paramIdx);
  }
  OnIdle();
}

bool IPlugVST3::TryIdleTick()
{
  // Never block on the UI lock: a host thread that holds it while it stops the timer
  // would otherwise deadlock with us, and the other instances would wait too.
  std::unique_lock<std::recursive_mutex> uiLock(mUILock, std::try_to_lock);
  if (!uiLock.owns_lock())
    return false;
  // An open editor runs the idle steps on the host's UI thread instead.
  if (!mIdleOnHostLoop)
    RunIdleTick();
  return true;
}

// Parameters and state

bool IPlugVST3::SerializeParams(IByteChunk& chunk) const
{
  for (int i = 0; i < NParams(); ++i)
  {
    const double v = GetParam(i)->Value();
    if (chunk.Put(&v) <= 0)
      return false;
  }
  return true;
}

int IPlugVST3::UnserializeParams(const IByteChunk& chunk, int startPos)
{
  const int64_t bytes = static_cast<int64_t>(NParams()) * static_cast<int64_t>(sizeof(double));
  if (!chunk.Holds(startPos, bytes))
    return -1;
  int pos = startPos;
  for (int i = 0; i < NParams(); ++i)
  {
    double v = 0.;
    pos = chunk.Get(&v, pos);
    GetParam(i)->Set(v);
  }
  InformParamsRecalled();
  return pos;
}

void IPlugVST3::InformParamsRecalled()
{
  for (int i = 0; i < NParams(); ++i)
  {
    OnParamChange(i, kPresetRecall, -1);
    OnParamChangeUI(i, kPresetRecall);
    SendParameterValueFromDelegate(i);
  }
}

void IPlugVST3::SetLatency(int samples)
{
  mLatency = samples;
  if (mComponentHandler)
    mComponentHandler->restartComponent(kLatencyChanged);
}

void IPlugVST3::SendParameterValueFromUI(int paramIdx, double normalizedValue)
{
  IParam* param = GetParam(paramIdx);
  if (!param)
    return;
  // Re-sending the value a parameter already holds must not move it by a rounding step
  // on the way through its normalised form.
  if (normalizedValue != param->GetNormalized())
    param->SetNormalized(normalizedValue);
  OnParamChange(paramIdx, kUI, -1);
  InformHostOfParamChange(paramIdx, param->GetNormalized());
}

void IPlugVST3::BeginInformHostOfParamChange(int paramIdx)
{
  if (mComponentHandler && GetParam(paramIdx))
    mComponentHandler->beginEdit(static_cast<ParamID>(paramIdx));
}

void IPlugVST3::InformHostOfParamChange(int paramIdx, double normalizedValue)
{
  if (mComponentHandler && GetParam(paramIdx))
    mComponentHandler->performEdit(static_cast<ParamID>(paramIdx), normalizedValue);
}

void IPlugVST3::EndInformHostOfParamChange(int paramIdx)
{
  if (mComponentHandler && GetParam(paramIdx))
    mComponentHandler->endEdit(static_cast<ParamID>(paramIdx));
}

// FUnknown

tresult PLUGIN_API IPlugVST3::queryInterface(const TUID iid, void** obj)
{
  if (!obj)
    return kInvalidArgument;
  using FUnknownPrivate::iidEqual;
  void* found = nullptr;
  if (iidEqual(iid, FUnknown::iid) || iidEqual(iid, IPluginBase::iid) || iidEqual(iid, IComponent::iid))
    found = static_cast<IComponent*>(this);
  else if (iidEqual(iid, IAudioProcessor::iid))
    found = static_cast<IAudioProcessor*>(this);
  else if (iidEqual(iid, IEditController::iid))
    found = static_cast<IEditController*>(this);
  else if (iidEqual(iid, ChannelContext::IInfoListener::iid))
    found = static_cast<ChannelContext::IInfoListener*>(this);
  else if (iidEqual(iid, IProcessContextRequirements::iid))
    found = static_cast<IProcessContextRequirements*>(this);
  else if (iidEqual(iid, IConnectionPoint::iid))
    found = static_cast<IConnectionPoint*>(this);
  if (!found)
  {
    *obj = nullptr;
    return kNoInterface;
  }
  addRef();
  *obj = found;
  return kResultOk;
}

uint32 PLUGIN_API IPlugVST3::addRef()
{
  return ++mRefCount;
}

uint32 PLUGIN_API IPlugVST3::release()
{
  const uint32 left = --mRefCount;
  if (left == 0)
  {
    // The timer must be gone before any destructor runs, derived ones included.
    StopIdleTimer();
    delete this;
  }
  return left;
}

// IPluginBase

tresult PLUGIN_API IPlugVST3::initialize(FUnknown* context)
{
  {
    std::lock_guard<std::recursive_mutex> lock(mUILock);
    if (mHostContext)
      return kResultFalse;
    if (context)
    {
      context->addRef();
      mHostContext = context;
    }
  }
  StartIdleTimer();
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::terminate()
{
  StopIdleTimer();
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  if (mComponentHandler)
  {
    mComponentHandler->release();
    mComponentHandler = nullptr;
  }
  if (mHostContext)
  {
    mHostContext->release();
    mHostContext = nullptr;
  }
  return kResultOk;
}

// IComponent

tresult PLUGIN_API IPlugVST3::getControllerClassId(TUID classId)
{
  // Processor and controller are this one object: there is no separate controller class.
  (void)classId;
  return kResultFalse;
}

tresult PLUGIN_API IPlugVST3::setIoMode(IoMode mode)
{
  (void)mode;
  return kNotImplemented;
}

int32 PLUGIN_API IPlugVST3::getBusCount(MediaType type, BusDirection dir)
{
  if (type != kAudio)
    return 0;
  for (const auto& io : mIOConfigs)
    if ((dir == kInput ? io.nIn : io.nOut) > 0)
      return 1;
  return 0;
}

tresult PLUGIN_API IPlugVST3::getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus)
{
  if (type != kAudio || index != 0 || index >= getBusCount(type, dir))
    return kInvalidArgument;
  std::memset(&bus, 0, sizeof(bus));
  bus.mediaType = kAudio;
  bus.direction = dir;
  bus.channelCount = SpeakerArr::getChannelCount(dir == kInput ? mInputArr : mOutputArr);
  Utf8ToUtf16(dir == kInput ? "Input" : "Output", bus.name, 128);
  bus.busType = kMain;
  bus.flags = BusInfo::kDefaultActive;
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo)
{
  (void)inInfo;
  (void)outInfo;
  return kNotImplemented;
}

tresult PLUGIN_API IPlugVST3::activateBus(MediaType type, BusDirection dir, int32 index, TBool state)
{
  if (type != kAudio || index != 0 || index >= getBusCount(type, dir))
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  ReconfigureScope scope(*this);
  if (!scope.Clear())
    return kResultFalse;
  (dir == kInput ? mInputBusActive : mOutputBusActive) = state != 0;
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::setActive(TBool state)
{
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  if (state)
  {
    ReconfigureScope scope(*this);
    if (!scope.Clear())
      return kResultFalse;
    mInConnected = mInputBusActive ? SpeakerArr::getChannelCount(mInputArr) : 0;
    mOutConnected = mOutputBusActive ? SpeakerArr::getChannelCount(mOutputArr) : 0;
    PrepareBuffers();
    OnReset();
  }
  mActive = state != 0;
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::setState(IBStream* state)
{
  if (!state)
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  IByteChunk chunk;
  char buffer[16384];
  for (;;)
  {
    int32 got = 0;
    const tresult r = state->read(buffer, static_cast<int32>(sizeof(buffer)), &got);
    if (got <= 0 || got > static_cast<int32>(sizeof(buffer)))
      break;
    if (chunk.Size() + static_cast<int64_t>(got) > kMaxStateBytes)
      return kResultFalse;
    chunk.PutBytes(buffer, got);
    if (r != kResultOk)
      break;
  }
  int pos = -1;
  try
  {
    pos = UnserializeState(chunk, 0);
  }
  catch (...)
  {
  }
  // Whatever the restore applied came from the host: it is no change to report back.
  try
  {
    OnStateRestoredByHost();
  }
  catch (...)
  {
  }
  mStateChangePending.store(false, std::memory_order_release);
  if (pos < 0)
    return kResultFalse;
  // getState appends the host bypass after the plug-in's chunk; older chunks lack it (off).
  int32_t bypass = 0;
  if (chunk.Get(&bypass, pos) < 0 || (bypass != 0 && bypass != 1))
    bypass = 0;
  mBypassed.store(bypass == 1, std::memory_order_relaxed);
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getState(IBStream* state)
{
  if (!state)
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  IByteChunk chunk;
  try
  {
    if (!SerializeState(chunk))
      return kResultFalse;
  }
  catch (...)
  {
    return kResultFalse;
  }
  const int32_t bypass = GetBypassed() ? 1 : 0;
  if (chunk.Put(&bypass) <= 0)
    return kResultFalse;
  int32 done = 0;
  while (done < chunk.Size())
  {
    int32 written = 0;
    const tresult r = state->write(chunk.GetData() + done, chunk.Size() - done, &written);
    if (r != kResultOk || written <= 0)
      return kResultFalse;
    done += written;
  }
  return kResultOk;
}

// IAudioProcessor

int IPlugVST3::ChannelsOf(SpeakerArrangement arr) const
{
  if (arr == SpeakerArr::kMono)
    return 1;
  if (arr == SpeakerArr::kStereo)
    return 2;
  return -1;
}

bool IPlugVST3::ArrangementAllowed(int nIn, int nOut) const
{
  for (const auto& io : mIOConfigs)
    if (io.nIn == nIn && io.nOut == nOut)
      return true;
  return false;
}

tresult PLUGIN_API IPlugVST3::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                 SpeakerArrangement* outputs, int32 numOuts)
{
  if (numIns != 1 || numOuts != 1 || !inputs || !outputs)
    return kResultFalse;
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  if (mActive)
    return kResultFalse;
  const int nIn = ChannelsOf(inputs[0]);
  const int nOut = ChannelsOf(outputs[0]);
  if (nIn < 0 || nOut < 0 || !ArrangementAllowed(nIn, nOut))
    return kResultFalse;
  ReconfigureScope scope(*this);
  if (!scope.Clear())
    return kResultFalse;
  mInputArr = inputs[0];
  mOutputArr = outputs[0];
  mInConnected = nIn;
  mOutConnected = nOut;
  return kResultTrue;
}

tresult PLUGIN_API IPlugVST3::getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr)
{
  if (index != 0 || index >= getBusCount(kAudio, dir))
    return kInvalidArgument;
  arr = dir == kInput ? mInputArr : mOutputArr;
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::canProcessSampleSize(int32 symbolicSampleSize)
{
  return symbolicSampleSize == kSample32 || symbolicSampleSize == kSample64 ? kResultTrue : kResultFalse;
}

uint32 PLUGIN_API IPlugVST3::getLatencySamples()
{
  return static_cast<uint32>(std::max(0, mLatency));
}

tresult PLUGIN_API IPlugVST3::setupProcessing(ProcessSetup& setup)
{
  if (canProcessSampleSize(setup.symbolicSampleSize) != kResultTrue)
    return kResultFalse;
  if (!(setup.sampleRate > 0.) || !std::isfinite(setup.sampleRate) || setup.maxSamplesPerBlock < 1)
    return kResultFalse;
  // Scratch is sized to the block; hosts that send more get it in pieces.
  const int blockSize = std::min(setup.maxSamplesPerBlock, 1 << 16);
  const bool realtime = setup.processMode != kOffline;
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  if (mActive || mProcessing)
  {
    // A set-up takes effect at activation, and the rules allow a new one only while inactive:
    // an active instance can only confirm the one it runs with.
    const bool inForce = setup.sampleRate == mSampleRate && blockSize == mBlockSize &&
                         setup.symbolicSampleSize == mSampleSize && realtime == mRealtime;
    return inForce ? kResultOk : kResultFalse;
  }
  ReconfigureScope scope(*this);
  if (!scope.Clear())
    return kResultFalse;
  mSampleRate = setup.sampleRate;
  mBlockSize = blockSize;
  mSampleSize = setup.symbolicSampleSize;
  mRealtime = realtime;
  PrepareBuffers();
  return kResultOk;
}

IPlugVST3::ReconfigureScope::ReconfigureScope(IPlugVST3& plug) : mPlug(plug)
{
  std::atomic<uint32_t>& gate = mPlug.mAudioGate;
  gate.fetch_add(kReconfigureStep, std::memory_order_acq_rel);
  const auto deadline = std::chrono::steady_clock::now() + kReconfigureWait;
  for (int tries = 0; gate.load(std::memory_order_acquire) & kAudioClaimed; ++tries)
  {
    if (std::chrono::steady_clock::now() > deadline)
    {
      mClear = false;
      return;
    }
    // A block is a few milliseconds at most: spin briefly, then sleep in small steps.
    if (tries < 64)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

IPlugVST3::ReconfigureScope::~ReconfigureScope()
{
  mPlug.mAudioGate.fetch_sub(kReconfigureStep, std::memory_order_release);
}

tresult PLUGIN_API IPlugVST3::setProcessing(TBool state)
{
  mProcessing = state != 0;
  return kResultOk;
}

void IPlugVST3::PrepareBuffers()
{
  int maxChans = 1;
  for (const auto& io : mIOConfigs)
    maxChans = std::max({maxChans, io.nIn, io.nOut});
  const size_t frames = static_cast<size_t>(std::max(1, mBlockSize));
  mInScratch.assign(static_cast<size_t>(maxChans), std::vector<sample>(frames, 0.));
  mOutScratch.assign(static_cast<size_t>(maxChans), std::vector<sample>(frames, 0.));
  mInPtrs.assign(static_cast<size_t>(maxChans), nullptr);
  mOutPtrs.assign(static_cast<size_t>(maxChans), nullptr);
}

void IPlugVST3::ApplyParameterChanges(IParameterChanges* changes)
{
  if (!changes)
    return;
  const int32 count = changes->getParameterCount();
  for (int32 i = 0; i < count; ++i)
  {
    IParamValueQueue* queue = changes->getParameterData(i);
    if (!queue)
      continue;
    const int32 points = queue->getPointCount();
    int32 offset = 0;
    ParamValue value = 0.;
    if (points <= 0 || queue->getPoint(points - 1, offset, value) != kResultTrue)
      continue;
    const ParamID id = queue->getParameterId();
    if (id == kBypassParamID)
    {
      if (std::isfinite(value))
        mBypassed.store(value >= 0.5, std::memory_order_relaxed);
    }
    else if (IParam* param = GetParam(static_cast<int>(id)))
    {
      param->SetNormalized(value);
      OnParamChange(static_cast<int>(id), kHost, offset);
      mParamChangesFromProcessor.Push(static_cast<int>(id)); // dropped when full: the value is set anyway
    }
  }
}

namespace
{

// Whether n samples from a share memory with n samples from any of the outputs.
bool OverlapsOutputs(const double* a, double* const* outputs, int nOut, int offset, int n)
{
  const auto begin = reinterpret_cast<std::uintptr_t>(a);
  const auto end = reinterpret_cast<std::uintptr_t>(a + n);
  for (int c = 0; c < nOut; ++c)
  {
    const auto outBegin = reinterpret_cast<std::uintptr_t>(outputs[c] + offset);
    const auto outEnd = reinterpret_cast<std::uintptr_t>(outputs[c] + offset + n);
    if (begin < outEnd && outBegin < end)
      return true;
  }
  return false;
}

} // namespace

template <class T>
void IPlugVST3::ProcessAudio(ProcessData& data, int nIn, int nOut)
{
  T** in = nIn > 0 ? reinterpret_cast<T**>(data.inputs[0].channelBuffers32) : nullptr;
  T** out = nOut > 0 ? reinterpret_cast<T**>(data.outputs[0].channelBuffers32) : nullptr;
  constexpr bool kDouble = std::is_same_v<T, double>;

  for (int done = 0; done < data.numSamples;)
  {
    const int n = std::min(data.numSamples - done, std::max(1, mBlockSize));
    for (int c = 0; c < nIn; ++c)
    {
      sample* scratch = mInScratch[static_cast<size_t>(c)].data();
      const T* src = in[c] + done;
      if constexpr (kDouble)
      {
        // The callback never sees an input alias an output: host inputs that share memory
        // with an output (processing in place) are copied, the others are read where they lie.
        if (OverlapsOutputs(src, out, nOut, done, n))
          std::memcpy(scratch, src, sizeof(sample) * static_cast<size_t>(n));
        else
          scratch = const_cast<sample*>(src);
      }
      else
        kernels::Convert(src, scratch, n);
      mInPtrs[static_cast<size_t>(c)] = scratch;
    }
    for (int c = 0; c < nOut; ++c)
    {
      if constexpr (kDouble)
        mOutPtrs[static_cast<size_t>(c)] = out[c] + done;
      else
        mOutPtrs[static_cast<size_t>(c)] = mOutScratch[static_cast<size_t>(c)].data();
    }

    mInConnected = nIn;
    mOutConnected = nOut;
    if (GetBypassed())
      PassThroughBuffers(mInPtrs.data(), nIn, mOutPtrs.data(), nOut, n);
    else
      ProcessBlock(mInPtrs.data(), mOutPtrs.data(), n);

    if constexpr (!kDouble)
      for (int c = 0; c < nOut; ++c)
        kernels::Convert(mOutScratch[static_cast<size_t>(c)].data(), out[c] + done, n);
    done += n;
  }
}

tresult PLUGIN_API IPlugVST3::process(ProcessData& data)
{
  ApplyParameterChanges(data.inputParameterChanges);

  if (data.numSamples <= 0)
    return kResultOk; // a parameter-only call
  if (data.symbolicSampleSize != kSample32 && data.symbolicSampleSize != kSample64)
    return kInvalidArgument;
  const bool is64 = data.symbolicSampleSize == kSample64;

  // Count only channels that exist on both sides of the contract: the bus layout and
  // the buffers the host actually passed.
  auto usable = [is64](AudioBusBuffers* buses, int32 numBuses, bool active, int layoutChans) {
    if (!buses || numBuses < 1 || !active)
      return 0;
    AudioBusBuffers& bus = buses[0];
    void** chans = is64 ? reinterpret_cast<void**>(bus.channelBuffers64)
                        : reinterpret_cast<void**>(bus.channelBuffers32);
    if (!chans)
      return 0;
    const int n = std::min<int>(bus.numChannels, layoutChans);
    int ok = 0;
    while (ok < n && chans[ok])
      ++ok;
    return ok;
  };
  uint32_t idle = 0;
  if (!mAudioGate.compare_exchange_strong(idle, kAudioClaimed, std::memory_order_acquire, std::memory_order_relaxed))
  {
    // The host is reconfiguring: silence rather than a wait, or audio without its processing.
    FinishOutputs(data, 0, is64);
    return kResultOk;
  }
  const int maxChans = static_cast<int>(mInScratch.size());
  const int nIn = std::min(maxChans, usable(data.inputs, data.numInputs, mInputBusActive,
                                            SpeakerArr::getChannelCount(mInputArr)));
  const int nOut = std::min(maxChans, usable(data.outputs, data.numOutputs, mOutputBusActive,
                                             SpeakerArr::getChannelCount(mOutputArr)));

  if (is64)
    ProcessAudio<double>(data, nIn, nOut);
  else
    ProcessAudio<float>(data, nIn, nOut);
  mAudioGate.fetch_and(~kAudioClaimed, std::memory_order_release);

  // Extra host channels we were not given a layout for get silence.
  FinishOutputs(data, nOut, is64);
  return kResultOk;
}

void IPlugVST3::FinishOutputs(ProcessData& data, int nOut, bool is64)
{
  if (data.outputs && data.numOutputs >= 1)
  {
    AudioBusBuffers& bus = data.outputs[0];
    bus.silenceFlags = 0;
    for (int32 c = 0; c < bus.numChannels && c < 64; ++c)
    {
      bool silent = true;
      if (is64)
      {
        double* ch = bus.channelBuffers64 ? bus.channelBuffers64[c] : nullptr;
        if (!ch)
          continue;
        if (c >= nOut)
          std::fill(ch, ch + data.numSamples, 0.);
        for (int32 s = 0; s < data.numSamples && silent; ++s)
          silent = ch[s] == 0.;
      }
      else
      {
        float* ch = bus.channelBuffers32 ? bus.channelBuffers32[c] : nullptr;
        if (!ch)
          continue;
        if (c >= nOut)
          std::fill(ch, ch + data.numSamples, 0.f);
        for (int32 s = 0; s < data.numSamples && silent; ++s)
          silent = ch[s] == 0.f;
      }
      if (silent)
        bus.silenceFlags |= uint64(1) << c;
    }
  }
}

uint32 PLUGIN_API IPlugVST3::getTailSamples()
{
  return kNoTail;
}

// IEditController

tresult PLUGIN_API IPlugVST3::setComponentState(IBStream* state)
{
  // The component state was already applied by setState: this object is both halves.
  (void)state;
  return kResultOk;
}

int32 PLUGIN_API IPlugVST3::getParameterCount()
{
  return NParams() + 1;
}

tresult PLUGIN_API IPlugVST3::getParameterInfo(int32 paramIndex, ParameterInfo& info)
{
  if (paramIndex < 0 || paramIndex > NParams())
    return kInvalidArgument;
  std::memset(&info, 0, sizeof(info));
  info.unitId = kRootUnitId;
  if (paramIndex == NParams())
  {
    info.id = kBypassParamID;
    Utf8ToUtf16("Bypass", info.title, 128);
    Utf8ToUtf16("Bypass", info.shortTitle, 128);
    info.stepCount = 1;
    info.defaultNormalizedValue = 0.;
    info.flags = ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass;
    return kResultOk;
  }
  const IParam* param = GetParam(paramIndex);
  info.id = static_cast<ParamID>(paramIndex);
  Utf8ToUtf16(param->GetName(), info.title, 128);
  Utf8ToUtf16(param->GetName(), info.shortTitle, 128);
  Utf8ToUtf16(param->GetLabel(), info.units, 128);
  info.stepCount = param->GetNumSteps();
  info.defaultNormalizedValue = param->GetDefault(true);
  info.flags = param->GetCanAutomate() ? ParameterInfo::kCanAutomate : 0;
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getParamStringByValue(ParamID id, ParamValue valueNormalized, String128 string)
{
  if (!string)
    return kInvalidArgument;
  if (id == kBypassParamID)
  {
    Utf8ToUtf16(valueNormalized >= 0.5 ? "on" : "off", string, 128);
    return kResultOk;
  }
  const IParam* param = GetParam(static_cast<int>(id));
  if (!param)
    return kInvalidArgument;
  WDL_String text;
  param->GetDisplay(valueNormalized, true, text);
  Utf8ToUtf16(text.Get(), string, 128);
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getParamValueByString(ParamID id, TChar* string, ParamValue& valueNormalized)
{
  if (!string)
    return kInvalidArgument;
  const std::string text = Utf16ToUtf8(string, 128);
  if (id == kBypassParamID)
  {
    if (text == "on" || text == "1")
      valueNormalized = 1.;
    else if (text == "off" || text == "0")
      valueNormalized = 0.;
    else
      return kResultFalse;
    return kResultOk;
  }
  const IParam* param = GetParam(static_cast<int>(id));
  if (!param)
    return kInvalidArgument;
  double plain = 0.;
  if (!param->StringToValue(text.c_str(), plain))
    return kResultFalse;
  valueNormalized = param->ToNormalized(plain);
  return kResultOk;
}

ParamValue PLUGIN_API IPlugVST3::normalizedParamToPlain(ParamID id, ParamValue valueNormalized)
{
  if (id == kBypassParamID)
    return valueNormalized >= 0.5 ? 1. : 0.;
  const IParam* param = GetParam(static_cast<int>(id));
  return param ? param->FromNormalized(valueNormalized) : valueNormalized;
}

ParamValue PLUGIN_API IPlugVST3::plainParamToNormalized(ParamID id, ParamValue plainValue)
{
  if (id == kBypassParamID)
    return plainValue >= 0.5 ? 1. : 0.;
  const IParam* param = GetParam(static_cast<int>(id));
  return param ? param->ToNormalized(plainValue) : plainValue;
}

ParamValue PLUGIN_API IPlugVST3::getParamNormalized(ParamID id)
{
  if (id == kBypassParamID)
    return GetBypassed() ? 1. : 0.;
  const IParam* param = GetParam(static_cast<int>(id));
  return param ? param->GetNormalized() : 0.;
}

tresult PLUGIN_API IPlugVST3::setParamNormalized(ParamID id, ParamValue value)
{
  if (!std::isfinite(value))
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  // The host's UI thread, by the rules: a good moment to report what changed meanwhile.
  InformHostOfStateChange();
  if (id == kBypassParamID)
  {
    mBypassed.store(value >= 0.5, std::memory_order_relaxed);
    return kResultOk;
  }
  IParam* param = GetParam(static_cast<int>(id));
  if (!param)
    return kInvalidArgument;
  param->SetNormalized(value);
  OnParamChange(static_cast<int>(id), kHost, -1);
  OnParamChangeUI(static_cast<int>(id), kHost);
  SendParameterValueFromDelegate(static_cast<int>(id));
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::setComponentHandler(IComponentHandler* handler)
{
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  if (handler == mComponentHandler)
    return kResultOk;
  if (handler)
    handler->addRef();
  if (mComponentHandler)
    mComponentHandler->release();
  mComponentHandler = handler;
  return kResultOk;
}

// ChannelContext::IInfoListener

tresult PLUGIN_API IPlugVST3::setChannelContextInfos(IAttributeList* list)
{
  if (!list)
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  HostChannelInfo ctx;
  String128 name{};
  if (list->getString(ChannelContext::kChannelNameKey, name, sizeof(name)) == kResultTrue)
  {
    name[127] = 0; // a host that fills the whole buffer still gives us a terminated name
    ctx.name = Utf16ToUtf8(name, 128);
  }
  int64 value = 0;
  if (list->getInt(ChannelContext::kChannelIndexKey, value) == kResultTrue)
    ctx.index = value;
  if (list->getInt(ChannelContext::kChannelColorKey, value) == kResultTrue)
    ctx.colour = static_cast<uint32_t>(value);
  mChannelContext = std::move(ctx);
  return kResultOk;
}

// IConnectionPoint

tresult PLUGIN_API IPlugVST3::connect(IConnectionPoint* other)
{
  return other ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API IPlugVST3::disconnect(IConnectionPoint* other)
{
  return other ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API IPlugVST3::notify(IMessage* message)
{
  if (!message)
    return kInvalidArgument;
  const char* id = message->getMessageID();
  if (!id)
    return kInvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  tresult result = kResultFalse;
  try
  {
    if (std::strcmp(id, kEditorSnapshotMessageID) == 0)
      result = HandleEditorSnapshot(message->getAttributes()) ? kResultOk : kInvalidArgument;
    else
      result = OnHostMessage(id, message->getAttributes()) ? kResultOk : kResultFalse;
  }
  catch (...)
  {
    result = kResultFalse;
  }
  // A message may have changed the state itself (a preset loaded for the host, say).
  InformHostOfStateChange();
  return result;
}

void IPlugVST3::InformHostOfStateChange()
{
  try
  {
    CheckForStateChanges();
  }
  catch (...)
  {
  }
  // Without a handler yet the change waits for one; a handler that cannot hear it drops it.
  if (!mComponentHandler || !mStateChangePending.exchange(false, std::memory_order_acq_rel))
    return;
  IComponentHandler2* handler2 = nullptr;
  if (mComponentHandler->queryInterface(IComponentHandler2::iid, reinterpret_cast<void**>(&handler2)) != kResultOk ||
      !handler2)
    return;
  handler2->setDirty(true);
  handler2->release();
}

} // namespace iplug

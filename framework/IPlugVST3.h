#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstchannelcontextinfo.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"

#include "Config.h"
#include "IByteChunk.h"
#include "IEditorDelegate.h"
#include "IParam.h"
#include "IPlugProcessor.h"
#include "IPlugQueue.h"
#include "SharedIdleTimer.h"

namespace iplug
{

namespace igraphics
{
class EditorView;
}

// What the host's channel context told us about the track we sit on.
struct HostChannelInfo
{
  std::string name;      // UTF-8, empty when the host gave none
  int64_t index = 0;     // as the host gave it
  uint32_t colour = 0;   // 0xAARRGGBB; 0 when the host gave none
};

// A single-component VST3 effect: one object is the component, the audio processor
// and the edit controller. Plug-ins derive from it and override ProcessBlock,
// OnReset, SerializeState, UnserializeState, OnIdle and friends.
//
// Threads: process() runs on the audio thread and never takes a lock. Every host entry
// that changes or reads state (state, parameter setting, activation, bus layout, channel
// context, messages) and the idle timer run under one UI lock, so OnIdle never overlaps
// them. Pure lookups (parameter info, value conversions) read fixed or atomic data unlocked.
class IPlugVST3 : public IPlugProcessor,
                  public IEditorDelegate,
                  public Steinberg::Vst::IComponent,
                  public Steinberg::Vst::IAudioProcessor,
                  public Steinberg::Vst::IEditController,
                  public Steinberg::Vst::ChannelContext::IInfoListener,
                  public Steinberg::Vst::IProcessContextRequirements,
                  public Steinberg::Vst::IConnectionPoint
{
public:
  // The VST3 id of the framework's own bypass parameter; plug-in parameters use their index.
  static constexpr Steinberg::Vst::ParamID kBypassParamID = 0x7FFF0001;
  // How often the idle timer calls OnIdle.
  static constexpr int kIdleIntervalMs = SharedIdleTimer::kPeriodMs;
  // A host message that renders the editor headless to a PNG file: binary "path"
  // (UTF-8) and float "scale" (the draw scale, default 1) in; int "ok" and, on failure,
  // string "error" out. Refused while an editor window is open.
  static constexpr const char* kEditorSnapshotMessageID = "iplug.EditorSnapshot";

  IPlugVST3(const InstanceInfo& info, const Config& config);
  ~IPlugVST3() override;

  // The plug-in's UI-thread heartbeat, called every kIdleIntervalMs under the UI lock
  // once the host has initialised the instance, editor or not: from the one timer thread
  // all instances share, or while an editor is open from its timer on the host's UI
  // thread. Just before it, parameter changes that arrived with the audio go on to
  // OnParamChangeUI and to the editor's controls.
  virtual void OnIdle() {}

  // State as a chunk. SerializeState appends; UnserializeState reads from startPos and
  // returns the position after the last byte read, or -1 when the chunk was refused.
  // The defaults store the parameter values (SerializeParams / UnserializeParams).
  virtual bool SerializeState(IByteChunk& chunk) { return SerializeParams(chunk); }
  virtual int UnserializeState(const IByteChunk& chunk, int startPos) { return UnserializeParams(chunk, startPos); }

  // All parameter values as doubles in index order.
  bool SerializeParams(IByteChunk& chunk) const;
  // Reads NParams() doubles from startPos. A chunk too short for all of them changes
  // nothing and gives -1; each value goes through the parameter's Constrain.
  int UnserializeParams(const IByteChunk& chunk, int startPos);
  // After a restore: every parameter's OnParamChange and OnParamChangeUI, as a preset recall.
  void InformParamsRecalled();

  // A parameter changed (host automation on the audio thread, host or UI calls on the
  // UI thread, or a restore). Must be real-time safe.
  virtual void OnParamChange(int paramIdx, EParamSource source, int sampleOffset = -1)
  {
    (void)paramIdx; (void)source; (void)sampleOffset;
  }

  // A message a host sent through IConnectionPoint::notify, on the UI thread under the
  // UI lock. attributes is the message's own list (may be null); a handler may write its
  // answer into it. Return false for an ID the plug-in does not know.
  virtual bool OnHostMessage(const char* messageId, Steinberg::Vst::IAttributeList* attributes)
  {
    (void)messageId; (void)attributes;
    return false;
  }

  // The saved state changed without a parameter edit (something only the chunk carries): the
  // host hears of it (IComponentHandler2::setDirty) the next time it calls us on its UI thread.
  // Any thread; the host is never called from here.
  void MarkStateChanged() { mStateChangePending.store(true, std::memory_order_release); }
  bool StateChangePending() const { return mStateChangePending.load(std::memory_order_acquire); }

  // Stops the idle timer and waits for a running OnIdle. Idempotent. The instance
  // calls it before it is destroyed; a derived class that can be deleted directly
  // calls it first thing in its destructor.
  void StopIdleTimer();
  bool IdleTimerRunning() const { return mIdleTimerRunning; }
  // A view is attached to a host's window: the graphics is that window's, not a snapshot's.
  bool EditorViewAttached() const { return mEditorView != nullptr; }

  // The UI lock (recursive): taken by every UI-thread host entry and by the timer.
  std::recursive_mutex& GetUILock() { return mUILock; }

  // Host track information from the channel context; read on the UI thread.
  const HostChannelInfo& GetChannelContext() const { return mChannelContext; }

  const Config& GetConfig() const { return mConfig; }
  void SetLatency(int samples) override;

  // IEditorDelegate: from the editor to the plug-in and the host.
  void SendParameterValueFromUI(int paramIdx, double normalizedValue) override;
  void BeginInformHostOfParamChangeFromUI(int paramIdx) override { BeginInformHostOfParamChange(paramIdx); }
  void EndInformHostOfParamChangeFromUI(int paramIdx) override { EndInformHostOfParamChange(paramIdx); }
  void BeginInformHostOfParamChange(int paramIdx) override;
  void InformHostOfParamChange(int paramIdx, double normalizedValue) override;
  void EndInformHostOfParamChange(int paramIdx) override;
  // With an open window and needsPlatformResize: constrained, then asked of the host.
  void EditorResizeFromUI(int width, int height, bool needsPlatformResize) override;
  // The host's context menu (IComponentHandler3) for the parameter; nothing without one.
  void PopupHostContextMenuForParam(int paramIdx, float x, float y) override;

  // FUnknown
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
  Steinberg::uint32 PLUGIN_API addRef() override;
  Steinberg::uint32 PLUGIN_API release() override;

  // IPluginBase (reached through IComponent and IEditController alike)
  Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
  Steinberg::tresult PLUGIN_API terminate() override;

  // IComponent
  Steinberg::tresult PLUGIN_API getControllerClassId(Steinberg::TUID classId) override;
  Steinberg::tresult PLUGIN_API setIoMode(Steinberg::Vst::IoMode mode) override;
  Steinberg::int32 PLUGIN_API getBusCount(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir) override;
  Steinberg::tresult PLUGIN_API getBusInfo(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                           Steinberg::int32 index, Steinberg::Vst::BusInfo& bus) override;
  Steinberg::tresult PLUGIN_API getRoutingInfo(Steinberg::Vst::RoutingInfo& inInfo,
                                               Steinberg::Vst::RoutingInfo& outInfo) override;
  Steinberg::tresult PLUGIN_API activateBus(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                            Steinberg::int32 index, Steinberg::TBool state) override;
  Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) override;
  // IComponent and IEditController: one object, one state: the plug-in's chunk
  // (SerializeState) followed by the host bypass as an int32 (1 or 0).
  Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) override;
  Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) override;

  // IAudioProcessor
  Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs, Steinberg::int32 numIns,
                                                   Steinberg::Vst::SpeakerArrangement* outputs,
                                                   Steinberg::int32 numOuts) override;
  Steinberg::tresult PLUGIN_API getBusArrangement(Steinberg::Vst::BusDirection dir, Steinberg::int32 index,
                                                  Steinberg::Vst::SpeakerArrangement& arr) override;
  Steinberg::tresult PLUGIN_API canProcessSampleSize(Steinberg::int32 symbolicSampleSize) override;
  Steinberg::uint32 PLUGIN_API getLatencySamples() override;
  Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
  Steinberg::tresult PLUGIN_API setProcessing(Steinberg::TBool state) override;
  Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
  Steinberg::uint32 PLUGIN_API getTailSamples() override;

  // IProcessContextRequirements
  Steinberg::uint32 PLUGIN_API getProcessContextRequirements() override { return 0; }

  // IEditController
  Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream* state) override;
  Steinberg::int32 PLUGIN_API getParameterCount() override;
  Steinberg::tresult PLUGIN_API getParameterInfo(Steinberg::int32 paramIndex,
                                                 Steinberg::Vst::ParameterInfo& info) override;
  Steinberg::tresult PLUGIN_API getParamStringByValue(Steinberg::Vst::ParamID id,
                                                      Steinberg::Vst::ParamValue valueNormalized,
                                                      Steinberg::Vst::String128 string) override;
  Steinberg::tresult PLUGIN_API getParamValueByString(Steinberg::Vst::ParamID id, Steinberg::Vst::TChar* string,
                                                      Steinberg::Vst::ParamValue& valueNormalized) override;
  Steinberg::Vst::ParamValue PLUGIN_API normalizedParamToPlain(Steinberg::Vst::ParamID id,
                                                               Steinberg::Vst::ParamValue valueNormalized) override;
  Steinberg::Vst::ParamValue PLUGIN_API plainParamToNormalized(Steinberg::Vst::ParamID id,
                                                               Steinberg::Vst::ParamValue plainValue) override;
  Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized(Steinberg::Vst::ParamID id) override;
  Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value) override;
  Steinberg::tresult PLUGIN_API setComponentHandler(Steinberg::Vst::IComponentHandler* handler) override;
  Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) override;

  // ChannelContext::IInfoListener
  Steinberg::tresult PLUGIN_API setChannelContextInfos(Steinberg::Vst::IAttributeList* list) override;

  // IConnectionPoint: hosts reach OnHostMessage through notify. Processor and controller
  // are one object, so there is no peer to keep.
  Steinberg::tresult PLUGIN_API connect(Steinberg::Vst::IConnectionPoint* other) override;
  Steinberg::tresult PLUGIN_API disconnect(Steinberg::Vst::IConnectionPoint* other) override;
  Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) override;

protected:
  // Where the plug-in notices changes of its saved state that came without a parameter edit and
  // calls MarkStateChanged: under the UI lock, just before a pending change goes to the host.
  virtual void CheckForStateChanges() {}
  // The host set the whole state (setState), under the UI lock: what the plug-in holds now is
  // what the host holds, so nothing before it is news to the host.
  virtual void OnStateRestoredByHost() {}

  // The host context passed to initialize (not owned; valid until terminate).
  Steinberg::FUnknown* GetHostContext() const { return mHostContext; }
  Steinberg::Vst::IComponentHandler* GetComponentHandler() const { return mComponentHandler; }

private:
  friend class igraphics::EditorView;

  void StartIdleTimer();
  // The shared timer's step for this instance: false when the UI lock is taken.
  bool TryIdleTick();
  // One idle step: parameter changes from the audio thread to the UI side, then
  // OnIdle. With the UI lock held, from the timer thread or an open editor's timer.
  void RunIdleTick();
  std::chrono::steady_clock::time_point LastIdleTime() const { return mLastIdle; }
  // While a view is attached its timer runs the idle steps and the thread skips them.
  void AttachEditorView(igraphics::EditorView* view);
  void DetachEditorView(igraphics::EditorView* view);
  // On the host's UI thread with the UI lock held: a pending state change goes to the host,
  // once, through IComponentHandler2. A host without one hears nothing.
  void InformHostOfStateChange();
  bool HandleEditorSnapshot(Steinberg::Vst::IAttributeList* attributes);
  bool WriteEditorSnapshot(const std::string& path, double scale, std::string& error);
  // Sizes the per-channel scratch for the current block size (never on the audio thread).
  void PrepareBuffers();

  // process() and the host calls that change what it reads (set-up, activation, buses) meet
  // here, since hosts do not always wait for a call in flight before reconfiguring. A process()
  // call claims the audio with one compare-and-swap and never waits: while a reconfigure holds
  // the gate it writes silence instead. A reconfigure bars new calls and waits on its own thread,
  // for a bounded time, for a claimed call to end.
  class ReconfigureScope
  {
  public:
    explicit ReconfigureScope(IPlugVST3& plug);
    ~ReconfigureScope();
    ReconfigureScope(const ReconfigureScope&) = delete;
    ReconfigureScope& operator=(const ReconfigureScope&) = delete;
    // False when the call in flight did not end in time: the caller must change nothing.
    bool Clear() const { return mClear; }

  private:
    IPlugVST3& mPlug;
    bool mClear = true;
  };
  static constexpr uint32_t kAudioClaimed = 1;
  static constexpr uint32_t kReconfigureStep = 2;
  static constexpr std::chrono::milliseconds kReconfigureWait{2000};
  // Output channels from nOut on get silence, and silent outputs are flagged.
  static void FinishOutputs(Steinberg::Vst::ProcessData& data, int nOut, bool is64);
  void ApplyParameterChanges(Steinberg::Vst::IParameterChanges* changes);
  // Runs ProcessBlock (or the host bypass) over at most mBlockSize frames at a time.
  template <class T>
  void ProcessAudio(Steinberg::Vst::ProcessData& data, int nIn, int nOut);
  int ChannelsOf(Steinberg::Vst::SpeakerArrangement arr) const;
  bool ArrangementAllowed(int nIn, int nOut) const;

  const Config mConfig;
  std::atomic<Steinberg::uint32> mRefCount{1};
  Steinberg::FUnknown* mHostContext = nullptr;
  Steinberg::Vst::IComponentHandler* mComponentHandler = nullptr;

  std::recursive_mutex mUILock;
  std::mutex mTimerMutex; // serialises starting and stopping the idle timer
  SharedIdleTimer::Handle mIdleTimer;
  std::atomic<bool> mIdleTimerRunning{false};
  // Written under the UI lock.
  std::chrono::steady_clock::time_point mLastIdle;
  igraphics::EditorView* mEditorView = nullptr;
  std::atomic<bool> mIdleOnHostLoop{false};
  std::atomic<bool> mStateChangePending{false};

  Steinberg::Vst::SpeakerArrangement mInputArr = 0;
  Steinberg::Vst::SpeakerArrangement mOutputArr = 0;
  bool mInputBusActive = true;
  bool mOutputBusActive = true;
  bool mActive = false;
  std::atomic<bool> mProcessing{false};
  // kAudioClaimed while a process() call runs, plus kReconfigureStep per reconfigure holding it.
  std::atomic<uint32_t> mAudioGate{0};
  Steinberg::int32 mSampleSize = Steinberg::Vst::kSample32;

  // Scratch: double copies of the inputs, and double outputs for 32-bit hosts.
  std::vector<std::vector<sample>> mInScratch;
  std::vector<std::vector<sample>> mOutScratch;
  std::vector<sample*> mInPtrs;
  std::vector<sample*> mOutPtrs;

  HostChannelInfo mChannelContext;

  // Indices of parameters the host automated in process(), for OnParamChangeUI on the timer.
  IPlugQueue<int, 512> mParamChangesFromProcessor;
};

} // namespace iplug

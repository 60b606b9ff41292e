#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BalanceSnapshot.h"
#include "EditorSizing.h"
#include "IPeakAvgSender.h"
#include "IPlugVST3.h"
#include "MorvellanIds.h"
#include "ReaperHost.h"
#include "StateChunk.h"
#include "ToneEngine.h"
#include "ToneEngineSettings.h"
#include "WDL_String.h"

namespace halvorsted::updates {
class UpdateCheck;
class UpdateWorker;
}

namespace morvellan::offline {
struct SavedTarget;
struct PresetFile;
}

// One plug-in instance: the tone engine on the audio thread, the hand-overs through which the
// UI thread and the reference-file worker reach it, and the state shared with the editor.
//
// Threads: ProcessBlock runs on the audio thread and never locks, allocates or waits. The state
// calls, OnIdle, the editor and the preset/target actions run on the UI thread (the framework
// serialises them). One reference-file worker at a time writes mReferenceTarget and, under
// mMutex, the source name or the error.
class Morvellan : public iplug::IPlugVST3
{
public:
  using Bands = morvellan::BandBalance;

  explicit Morvellan(const iplug::InstanceInfo& info);
  ~Morvellan() override;

  // IPluginBase / IComponent / IEditController
  Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
  Steinberg::tresult PLUGIN_API terminate() override;

  // IPlugProcessor (audio thread)
  void ProcessBlock(iplug::sample** inputs, iplug::sample** outputs, int nFrames) override;
  void OnReset() override;

  // State (UI thread)
  bool SerializeState(iplug::IByteChunk& chunk) override;
  int UnserializeState(const iplug::IByteChunk& chunk, int startPos) override;

  // Idle timer (UI thread, every 20 ms, editor open or not)
  void OnIdle() override;

  // Saved-state changes the host hears of (UI lock): what the chunk carries beyond the
  // parameters and the editor size, compared with what the host last knew.
  void CheckForStateChanges() override;
  void OnStateRestoredByHost() override;

  // Editor sizing (UI thread)
  bool ConstrainEditorResize(int& width, int& height) const override;
  void OnParentWindowResize(int width, int height) override;
  void OnHostScreenScale(float scale) override;

  // Engine settings from the current parameter values.
  morvellan::ToneEngineSettings GetEngineSettings() const;

  // Reference-file learning (UI thread starts it; the worker runs the body).
  void StartFileLearning(const std::string& path);
  void FileLearningWorker(std::string path);
  // A target from elsewhere (a state, a saved target) names its source and ends a failed analysis.
  void SetTargetSource(std::string name);
  // Host message kLearnReferenceMessage (binary "path"; int "wait" non-zero to wait for the worker):
  // starts learning from that file. Answers "error" on failure and, after a wait, the target's "source".
  static constexpr const char* kLearnReferenceMessage = "MorvellanLearnReference";
  bool HandleReferenceMessage(const char* messageId, Steinberg::Vst::IAttributeList* attributes);

  // Preset and target actions (UI thread). Each entry reports what went wrong
  // in a message box while the editor is open and never throws.
  static std::filesystem::path PresetFolder();
  static std::filesystem::path TargetFolder();
  std::vector<morvellan::offline::PresetFile> UserPresets();
  std::vector<morvellan::offline::SavedTarget> UserTargets();
  void LoadPreset(const morvellan::offline::PresetFile& preset);
  void SavePreset(const std::string& name, bool confirm);
  void DeletePreset(const morvellan::offline::PresetFile& preset);
  // The preset bar's save: at once, or queued for the idle callback when it must ask first.
  void QueuePresetSave(const std::string& name);
  void LoadTarget(const morvellan::offline::SavedTarget& target);
  void SaveTarget(const std::string& name);
  void DeleteTarget(const morvellan::offline::SavedTarget& target);
  // Host messages kLoadPresetMessage (binary "path") and kSavePresetMessage (binary "name"):
  // the preset actions for a host without an editor. A failure's text comes back as "error",
  // a saved preset's file as "path". False for any other message.
  static constexpr const char* kLoadPresetMessage = "MorvellanLoadPreset";
  static constexpr const char* kSavePresetMessage = "MorvellanSavePreset";
  bool HandlePresetMessage(const char* messageId, Steinberg::Vst::IAttributeList* attributes);
  // Host messages: each handler answers the IDs it knows.
  bool OnHostMessage(const char* messageId, Steinberg::Vst::IAttributeList* attributes) override;

  // Idle-callback helpers (UI thread).
  std::vector<double> TakeCompareSnapshot();
  std::string GetPresetNameLocked();

  // Learned target as the editor sees it: one read attempt, false when busy.
  bool TryReadLearnedTarget(morvellan::BalanceCopy& copy) const { return mLearnedTarget.TryRead(copy); }

  // REAPER helpers for the idle callback; each is false or null outside REAPER.
  void* GetReaperTrack() const;
  // Reads the track's name into a zero-filled 512-byte buffer and terminates it ourselves.
  bool GetReaperTrackName(void* track, std::string& name) const;
  // The host track's colour (0xRRGGBB, -1 for none) and its label ("#3: Vox", empty for none),
  // from REAPER when it offers them, else from the VST3 channel context. REAPER is asked on
  // its UI thread only.
  int ReadHostTrackColour() const;
  std::string ReadHostTrackLabel() const;

private:
  void ReleaseReaperHost();

  // Audio-thread steps of ProcessBlock.
  void TakeHandOvers();
  void TakeRequests(bool bypassed);
  void ApplySettingsIfChanged();
  void FeedMeter(iplug::IPeakAvgSender<1>& sender, iplug::sample** channels, int nChannels, int nFrames,
                 int controlTag);
  void PublishAnalysis();
  // Reads a hand-over whose pending byte is set; re-arms the byte when the record was busy.
  static bool TakeHandOver(std::atomic<std::uint8_t>& pending, const morvellan::BalanceSnapshot& record,
                           morvellan::BalanceCopy& copy);

  // The learned target for a save: a consistent copy, or the last consistent one.
  morvellan::BalanceCopy ReadLearnedTargetForSave();

  // Action bodies: they report expected failures themselves.
  void LoadPresetImpl(const morvellan::offline::PresetFile& preset);
  void SavePresetImpl(const std::string& name, bool confirm);
  void DeletePresetImpl(const morvellan::offline::PresetFile& preset);
  void LoadTargetImpl(const morvellan::offline::SavedTarget& target);
  void SaveTargetImpl(const std::string& name);
  // The last steps of a target save, once nothing stands in the way (or the user said Yes).
  void WriteTargetInForce(const std::string& trimmedName, const morvellan::BandBalance& values);
  void DeleteTargetImpl(const morvellan::offline::SavedTarget& target);
  // Clears the modified mark and asks the idle callback for a new baseline; a restored
  // state's own mark shows until that baseline is taken.
  void ResetPresetMark(bool restoredModified);

  // Idle-callback steps (UI thread).
  void UpdatePresetModified();
  void UpdateStatusLine();
  // Editor controls by tag; false or nothing while no editor is open.
  bool SetEditorControlText(int tag, const std::string& text);
  void RedrawEditorControl(int tag);
  void RebuildEditor();
  // Restores the accent, the editor size, the parameters, the names and the target from a chunk.
  void ApplyRestoredState(const morvellan::state::RestoredState& restored);
  // The part of the chunk the host cannot see change: the target (by the audio thread's count of
  // its edits, so a restored target settling in the engine is none, and by the chunks applied),
  // names, mark and accent.
  struct StateSignature
  {
    std::uint32_t targetEdits = 0;
    std::uint32_t restores = 0;
    int accent = 0;
    bool modified = false;
    std::string sourceName;
    std::string presetName;
  };
  StateSignature TakeStateSignature();
  bool StateMatches(const StateSignature& known);
  // A target on its way to the audio thread, or a finished learn the idle callback has not named.
  bool StateChangeInFlight() const;

  // Screen scale of the open editor, else the last one seen.
  float CurrentScreenScale() const;
  // The editor size the state records.
  morvellan::sizing::EditorSize SavedEditorSize() const;

public:
  // Members are public to the plug-in's own source files (idle, actions, worker, editor callbacks);
  // the comment on each says which thread may touch it.
  float mScreenScale = 1.0f; // UI
  morvellan::ToneEngine mEngine; // audio
  morvellan::ToneEngineSettings mAppliedSettings; // audio
  bool mParamsApplied = false; // audio: false forces the next block to configure the engine
  std::uint32_t mParamChangesRead = 0; // audio: the parameter change count the settings were read at
  bool mWasLearning = false;   // audio
  bool mHadTarget = false;     // audio
  bool mTargetsChanged = false; // audio: the engine's target changed and is not yet published
  bool mLearnStopped = false;  // audio
  std::atomic<bool> mLearnFinished{false}; // audio sets, idle takes
  iplug::IPeakAvgSender<1> mInputMeterSender;
  iplug::IPeakAvgSender<1> mOutputMeterSender;
  int mMeterMixFrames = 0; // audio: blocks up to the reset's size are metered as the channels' mix
  // Row 0: correction gains (dB); row 1: measured band levels (dB). Audio writes, UI reads.
  std::array<std::array<std::atomic<float>, morvellan::kNumBands>, 2> mBandLevels{};
  // Audio: the band powers row 1 was last computed from; NaN until the first block publishes.
  std::array<double, morvellan::kNumBands> mPublishedBandPower;
  std::atomic<float> mLearnProgress{0.0f};
  std::atomic<std::uint8_t> mAboveThreshold{0};
  std::atomic<std::uint8_t> mLearning{0};
  std::atomic<std::uint8_t> mLearnFromInputRequest{0};
  std::atomic<std::uint8_t> mCancelLearnRequest{0};
  std::atomic<std::uint8_t> mClearTargetRequest{0};
  std::atomic<std::uint8_t> mRestoredTargetPending{0};
  morvellan::BalanceSnapshot mLearnedTarget; // written by the audio thread and the state restore
  morvellan::BalanceSnapshot mRestoredTarget; // UI writes, audio reads
  std::atomic<bool> mRestoredLegacy{false};  // the restored target came from a version-1 state
  std::thread mLearnThread;
  // Tests: run on the reference-file worker after its last write into the instance.
  std::function<void()> mLearnWorkerDoneHook;
  std::atomic<int> mReferenceState{0}; // 0 idle or succeeded, 1 analysing, 2 failed
  std::atomic<std::uint8_t> mReferenceTargetPending{0};
  morvellan::BalanceSnapshot mReferenceTarget; // worker writes, audio reads
  std::mutex mMutex; // guards mTargetSourceName, mReferenceError, mPresetName
  std::string mTargetSourceName;
  std::string mReferenceError;
  std::string mStatusText; // UI
  morvellan::BalanceSnapshot mLoadedTarget; // UI writes, audio reads
  std::atomic<std::uint8_t> mLoadedTargetPending{0};
  std::optional<std::string> mPendingTargetSave; // UI
  std::string mPresetName;
  std::vector<double> mPresetBaseline; // UI
  bool mPresetModified = false;        // UI
  std::atomic<bool> mTakeBaseline{false};
  bool mRestoredModified = false;      // UI
  std::string mBaselineSourceName;     // UI
  bool mShownModified = false;         // UI
  std::optional<std::string> mPendingPresetSave; // UI
  int mRestoredEditorWidth = 0;  // UI
  int mRestoredEditorHeight = 0; // UI
  morvellan::sizing::KeptEditorSize mKeptEditorSize; // UI: the saved size the window was made from
  std::shared_ptr<halvorsted::updates::UpdateCheck> mUpdateCheck;
  std::unique_ptr<halvorsted::updates::UpdateWorker> mUpdateWorker; // mUpdateCheck's rounds on the shared thread
  std::atomic<int> mAccentIndex{0};
  std::atomic<bool> mAccentDirty{false};
  int mAccentRebuildsAsked = 0; // UI: accent changes the idle callback took, each rebuilding an open editor
  int mHostTrackColour = -1; // UI
  WDL_String mHostTrackLabel; // UI
  morvellan::IReaperHostApplication* mReaperHost = nullptr; // holds one reference until terminate
  morvellan::ReaperGetSetMediaTrackInfoString mGetSetMediaTrackInfoString = nullptr;
  morvellan::ReaperGetMediaTrackInfoValue mGetMediaTrackInfoValue = nullptr;
  morvellan::ReaperColorFromNative mColorFromNative = nullptr;

  // Beyond the table above.
  // UI: the last target copy a save read consistently, used when the record stays busy.
  morvellan::BalanceCopy mLastSavedTarget;
  // Audio: the engine's completed-learn count last seen, so only a completed learn raises mLearnFinished.
  std::uint32_t mLearnsCompletedSeen = 0;
  // Audio: the engine's target changed by a learn, a clear, a reference or a loaded target (not
  // a restore) and is not yet published; mTargetEdits counts those once published.
  bool mTargetEditUnpublished = false;
  std::atomic<std::uint32_t> mTargetEdits{0};
  // UI: chunks applied (a preset load, a host restore); the host's own restores are known to it.
  std::uint32_t mStateRestores = 0;
  // UI lock: the state the host last knew, and since when a change waits for its target.
  StateSignature mKnownState;
  std::optional<std::chrono::steady_clock::time_point> mStateChangeHeldSince;
};

// The factory's create function: one instance, built under a process-wide mutex.
iplug::IPlugVST3* MakePlug(const iplug::InstanceInfo& info);

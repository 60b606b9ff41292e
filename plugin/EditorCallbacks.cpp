#include "EditorCallbacks.h"

#include <algorithm>
#include <exception>
#include <filesystem>

#include "AccentColour.h"
#include "AccentColours.h"
#include "DisplayReading.h"
#include "EditorLayout.h"
#include "EditorSizing.h"
#include "IGraphics.h"
#include "Morvellan.h"
#include "Resources.h"
#include "ReferenceFileReader.h"
#include "TargetFile.h"
#include "UiScale.h"
#include "halvorsted/controls/UpdatePillControl.h"
#include "halvorsted/updates/UpdateCheck.h"

using namespace iplug::igraphics;

namespace
{

constexpr int kFramesPerSecond = 60;
constexpr int kReferenceAnalysing = 1;
constexpr int kReferenceFailed = 2;
const IRECT kTitleHome(28.f, 48.f, 428.f, 82.f);
constexpr float kTitleGap = 10.f;

// A new target request makes an old analysis failure moot: its text is cleared, and the
// failure with it, or the display would go on reporting a failure with no reason.
void ForgetFailedAnalysis(Morvellan& plug, bool clearSource)
{
  {
    std::lock_guard<std::mutex> lock(plug.mMutex);
    if (clearSource)
      plug.mTargetSourceName.clear();
    plug.mReferenceError.clear();
  }
  int failed = kReferenceFailed;
  plug.mReferenceState.compare_exchange_strong(failed, 0);
}

template <class List>
auto FindByName(List&& list, const std::string& name)
{
  return std::find_if(list.begin(), list.end(), [&](const auto& item) { return item.name == name; });
}

} // namespace

float GetUiScaleCallback(Morvellan& plug)
{
  return GetUiScale(plug);
}

void SetUiScaleCallback(Morvellan& plug, float scale)
{
  SetUiScale(plug, scale);
}

int GetAccentColourIndex(Morvellan& plug)
{
  return plug.mAccentIndex.load();
}

void SetAccentColourIndex(Morvellan& plug, int index)
{
  if (index < 0 || index >= int(morvellan::AccentColourTable.size()))
    index = 0;
  if (plug.mAccentIndex.exchange(index) != index)
    plug.mAccentDirty.store(true);
}

bool HasLearnedTarget(Morvellan& plug)
{
  morvellan::BalanceCopy copy;
  return plug.TryReadLearnedTarget(copy) && copy.valid;
}

void RequestClearLearnedTarget(Morvellan& plug)
{
  ForgetFailedAnalysis(plug, true);
  plug.mClearTargetRequest.store(1);
}

void AddUpdateMenuItems(halvorsted::controls::UpdatePillControl& pill, IPopupMenu& menu)
{
  const bool enabled = pill.GetUpdateCheck() && pill.GetUpdateCheck()->IsEnabled();
  menu.AddItem("Check for updates", -1, enabled ? IPopupMenu::Item::kChecked : IPopupMenu::Item::kNoFlags);
  menu.AddSeparator();
}

void OnUpdateMenuChoice(halvorsted::controls::UpdatePillControl& pill, int choice)
{
  if (choice != 0 || !pill.GetUpdateCheck())
    return;
  pill.GetUpdateCheck()->SetEnabled(!pill.GetUpdateCheck()->IsEnabled());
  pill.SetDirty(false);
}

LearnPillControl::State GetLearnPillState(Morvellan& plug)
{
  LearnPillControl::State state;
  state.learning = plug.mLearning.load() != 0;
  state.hasTarget = HasLearnedTarget(plug);
  state.analysing = plug.mReferenceState.load() == kReferenceAnalysing;
  state.progress = plug.mLearnProgress.load();
  return state;
}

void RequestLearnFromInput(Morvellan& plug)
{
  ForgetFailedAnalysis(plug, false);
  plug.mLearnFromInputRequest.store(1);
}

void ChooseReferenceFile(Morvellan& plug)
{
  IGraphics* ui = plug.GetUI();
  if (!ui)
    return;
  WDL_String fileName, path;
  ui->PromptForFile(fileName, path, EFileAction::Open, "wav wave aif aiff aifc mp3 flac",
                    [&plug](const WDL_String& file, const WDL_String& folder) { LearnFromReferenceFile(plug, file, folder); });
}

void LearnFromReferenceFile(Morvellan& plug, const WDL_String& fileName, const WDL_String&)
{
  if (fileName.GetLength() == 0)
    return;
  try
  {
    plug.StartFileLearning(fileName.Get());
  }
  catch (const std::exception&)
  {
    // No thread could be made: the plug-in reports that itself; the host carries on.
  }
}

void RequestCancelLearning(Morvellan& plug)
{
  plug.mCancelLearnRequest.store(1);
}

std::vector<morvellan::offline::SavedTarget> ListUserTargets(Morvellan& plug)
{
  return plug.UserTargets();
}

std::vector<morvellan::offline::SavedTarget> ListFactoryTargets()
{
  return morvellan::offline::FactoryTargets();
}

std::string GetDefaultTargetName(Morvellan& plug)
{
  return DefaultTargetName(plug);
}

void ApplySavedTarget(Morvellan& plug, const morvellan::offline::SavedTarget& target)
{
  plug.LoadTarget(target);
}

void RequestSaveTarget(Morvellan& plug, const std::string& name)
{
  plug.mPendingTargetSave = name;
}

void DeleteSavedTarget(Morvellan& plug, const morvellan::offline::SavedTarget& target)
{
  plug.DeleteTarget(target);
}

std::vector<std::string> ListPresetNames(Morvellan& plug)
{
  std::vector<std::string> names;
  for (const auto& preset : plug.UserPresets())
    names.push_back(preset.name);
  return names;
}

std::string GetCurrentPresetName(Morvellan& plug)
{
  return plug.GetPresetNameLocked();
}

void SelectPresetByName(Morvellan& plug, const std::string& name)
{
  const auto presets = plug.UserPresets();
  const auto it = FindByName(presets, name);
  if (it != presets.end())
    plug.LoadPreset(*it);
}

void SavePresetAs(Morvellan& plug, const std::string& name)
{
  plug.QueuePresetSave(name);
}

void DeletePresetByName(Morvellan& plug, const std::string& name)
{
  const auto presets = plug.UserPresets();
  const auto it = FindByName(presets, name);
  if (it != presets.end())
    plug.DeletePreset(*it);
}

bool PresetBarFlag(Morvellan& plug)
{
  return plug.mPresetModified || plug.mRestoredModified;
}

void FitTitleToUpdatePill(Morvellan& plug, const IRECT& pill)
{
  IGraphics* ui = plug.GetUI();
  IControl* title = ui ? ui->GetControlWithTag(kCtrlTagTitle) : nullptr;
  if (!title)
    return;
  const IRECT bounds = pill.Empty() ? kTitleHome : IRECT(kTitleHome.L, kTitleHome.T, pill.L - kTitleGap, kTitleHome.B);
  title->SetTargetAndDrawRECTs(bounds);
  title->OnResize();
  ui->SetAllControlsDirty();
}

std::string DefaultTargetName(Morvellan& plug)
{
  std::string source;
  {
    std::lock_guard<std::mutex> lock(plug.mMutex);
    source = plug.mTargetSourceName;
  }
  if (source.empty())
    return "Learned target";
  if (morvellan::IsSupportedAudioFile(source))
    return std::filesystem::path(source).stem().string(); // bytes as they are: names are UTF-8
  return source;
}

KebabMenuCallbacks MakeKebabMenuCallbacks(Morvellan& plug, halvorsted::controls::UpdatePillControl* pill)
{
  KebabMenuCallbacks c;
  c.getUiScale = [&plug] { return GetUiScaleCallback(plug); };
  c.setUiScale = [&plug](float s) { SetUiScaleCallback(plug, s); };
  c.getAccentIndex = [&plug] { return GetAccentColourIndex(plug); };
  c.setAccentIndex = [&plug](int i) { SetAccentColourIndex(plug, i); };
  c.hasLearnedTarget = [&plug] { return HasLearnedTarget(plug); };
  c.clearLearnedTarget = [&plug] { RequestClearLearnedTarget(plug); };
  if (pill)
  {
    c.addExtraItems = [pill](IPopupMenu& menu) { AddUpdateMenuItems(*pill, menu); };
    c.extraChoice = [pill](int choice) { OnUpdateMenuChoice(*pill, choice); };
  }
  return c;
}

LearnPillCallbacks MakeLearnPillCallbacks(Morvellan& plug)
{
  LearnPillCallbacks c;
  c.state = [&plug] { return GetLearnPillState(plug); };
  c.learnFromInput = [&plug] { RequestLearnFromInput(plug); };
  c.chooseReferenceFile = [&plug] { ChooseReferenceFile(plug); };
  c.cancelLearning = [&plug] { RequestCancelLearning(plug); };
  c.clearLearnedTarget = [&plug] { RequestClearLearnedTarget(plug); };
  c.userTargets = [&plug] { return ListUserTargets(plug); };
  c.factoryTargets = [] { return ListFactoryTargets(); };
  c.defaultTargetName = [&plug] { return GetDefaultTargetName(plug); };
  c.applyTarget = [&plug](const morvellan::offline::SavedTarget& t) { ApplySavedTarget(plug, t); };
  c.saveTarget = [&plug](const std::string& name) { RequestSaveTarget(plug, name); };
  c.deleteTarget = [&plug](const morvellan::offline::SavedTarget& t) { DeleteSavedTarget(plug, t); };
  return c;
}

halvorsted::controls::PresetBarControl::Callbacks MakePresetBarCallbacks(Morvellan& plug)
{
  halvorsted::controls::PresetBarControl::Callbacks c;
  c.listPresetNames = [&plug] { return ListPresetNames(plug); };
  c.currentPresetName = [&plug] { return GetCurrentPresetName(plug); };
  c.selectPreset = [&plug](const std::string& n) { SelectPresetByName(plug, n); };
  c.savePreset = [&plug](const std::string& n) { SavePresetAs(plug, n); };
  c.deletePreset = [&plug](const std::string& n) { DeletePresetByName(plug, n); };
  c.isModified = [&plug] { return PresetBarFlag(plug); };
  return c;
}

IGraphics* MakeGraphics(Morvellan& plug)
{
  using namespace morvellan::sizing;
  const float scale = InitialDrawScale(plug.GetEditorWidth(), plug.GetEditorHeight(), plug.mScreenScale);
  IGraphics* g = iplug::igraphics::MakeGraphics(plug, kCanvasWidth, kCanvasHeight, kFramesPerSecond, scale);
  // The last screen scale seen: a window opened without a word from the host about it
  // still fills the size the plug-in keeps.
  g->SetScreenScale(plug.mScreenScale);
  g->SetResources(MorvellanResources());
  return g;
}

EditorHooks MakeEditorHooks(Morvellan& plug)
{
  EditorHooks hooks;
  hooks.accent = AccentColour(plug);
  hooks.hostTrackLabel = plug.mHostTrackLabel.Get();
  hooks.updateCheck = plug.mUpdateCheck.get();
  hooks.fitTitleToUpdatePill = [&plug](const IRECT& r) { FitTitleToUpdatePill(plug, r); };
  hooks.kebabMenu = [&plug](halvorsted::controls::UpdatePillControl* pill) { return MakeKebabMenuCallbacks(plug, pill); };
  hooks.presetBar = MakePresetBarCallbacks(plug);
  hooks.learnPill = MakeLearnPillCallbacks(plug);
  hooks.toneDisplayReading = [&plug](ToneDisplayControl::Reading& r) { FillToneDisplayReading(plug, r); };
  return hooks;
}

void RunLayout(Morvellan& plug, IGraphics& g)
{
  LayoutEditor(g, MakeEditorHooks(plug));
  // The next idle call sends the status line to the new, empty control.
  plug.mStatusText.clear();
}

#pragma once

// The callbacks through which the editor's controls reach the plug-in. Controls hold no
// pointer to the plug-in: the layout builds these bundles and hands them over. UI thread.

#include <string>
#include <vector>

#include "IGraphicsStructs.h"
#include "KebabMenuControl.h"
#include "LearnPillControl.h"
#include "halvorsted/controls/PresetBarControl.h"
#include "StoredRecords.h"
#include "WDL_String.h"

class Morvellan;
struct EditorHooks;

namespace iplug::igraphics
{
class IGraphics;
}

namespace halvorsted::controls
{
class UpdatePillControl;
}

// Main menu.
float GetUiScaleCallback(Morvellan& plug);
void SetUiScaleCallback(Morvellan& plug, float scale);
int GetAccentColourIndex(Morvellan& plug);
void SetAccentColourIndex(Morvellan& plug, int index);
bool HasLearnedTarget(Morvellan& plug);
void RequestClearLearnedTarget(Morvellan& plug);
void AddUpdateMenuItems(halvorsted::controls::UpdatePillControl& pill, iplug::igraphics::IPopupMenu& menu);
void OnUpdateMenuChoice(halvorsted::controls::UpdatePillControl& pill, int choice);

// Learn pill.
LearnPillControl::State GetLearnPillState(Morvellan& plug);
void RequestLearnFromInput(Morvellan& plug);
void ChooseReferenceFile(Morvellan& plug);
void LearnFromReferenceFile(Morvellan& plug, const WDL_String& fileName, const WDL_String& path);
void RequestCancelLearning(Morvellan& plug);
std::vector<morvellan::offline::SavedTarget> ListUserTargets(Morvellan& plug);
std::vector<morvellan::offline::SavedTarget> ListFactoryTargets();
std::string GetDefaultTargetName(Morvellan& plug);
void ApplySavedTarget(Morvellan& plug, const morvellan::offline::SavedTarget& target);
void RequestSaveTarget(Morvellan& plug, const std::string& name);
void DeleteSavedTarget(Morvellan& plug, const morvellan::offline::SavedTarget& target);

// Preset bar.
std::vector<std::string> ListPresetNames(Morvellan& plug);
std::string GetCurrentPresetName(Morvellan& plug);
void SelectPresetByName(Morvellan& plug, const std::string& name);
void SavePresetAs(Morvellan& plug, const std::string& name);
void DeletePresetByName(Morvellan& plug, const std::string& name);
bool PresetBarFlag(Morvellan& plug);

// The update pill's rectangle changed: keep the title clear of it.
void FitTitleToUpdatePill(Morvellan& plug, const iplug::igraphics::IRECT& pill);

// The save dialog's proposal: the source file's stem, a loaded target's label, or "Learned target".
std::string DefaultTargetName(Morvellan& plug);

// The bundles, as the layout hands them over.
KebabMenuCallbacks MakeKebabMenuCallbacks(Morvellan& plug, halvorsted::controls::UpdatePillControl* pill);
LearnPillCallbacks MakeLearnPillCallbacks(Morvellan& plug);
halvorsted::controls::PresetBarControl::Callbacks MakePresetBarCallbacks(Morvellan& plug);

// The editor's graphics context for the plug-in's current size and screen scale.
iplug::igraphics::IGraphics* MakeGraphics(Morvellan& plug);

// Everything the layout takes from the plug-in, read now.
EditorHooks MakeEditorHooks(Morvellan& plug);

// Lays the window out for the plug-in; the next idle call then sends it the status line.
void RunLayout(Morvellan& plug, iplug::igraphics::IGraphics& g);

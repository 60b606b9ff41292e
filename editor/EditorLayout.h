#pragma once

#include <functional>
#include <string>

#include "AccentColours.h"
#include "IGraphicsStructs.h"
#include "KebabMenuControl.h"
#include "LearnPillControl.h"
#include "ToneDisplayControl.h"
#include "halvorsted/controls/PresetBarControl.h"

namespace iplug::igraphics
{
class IGraphics;
}

namespace halvorsted::controls
{
class UpdatePillControl;
}

namespace halvorsted::updates
{
class UpdateCheck;
}

// Everything the window takes from the plug-in: a few values read once per layout run and
// the bundles of callbacks the controls keep. The layout never sees the plug-in itself.
struct EditorHooks
{
  morvellan::AccentRgb accent;
  std::string hostTrackLabel; // empty: the title names the product
  halvorsted::updates::UpdateCheck* updateCheck = nullptr;
  std::function<void(const iplug::igraphics::IRECT&)> fitTitleToUpdatePill;
  // The main menu's bundle; its update items reach the check through the pill.
  std::function<KebabMenuCallbacks(halvorsted::controls::UpdatePillControl*)> kebabMenu;
  halvorsted::controls::PresetBarControl::Callbacks presetBar;
  LearnPillCallbacks learnPill;
  ToneDisplayControl::ReadingFunc toneDisplayReading;
};

// Builds the whole window: fonts, background and every control, attached in order.
// Runs when the editor opens and again after an accent change.
void LayoutEditor(iplug::igraphics::IGraphics& g, const EditorHooks& hooks);

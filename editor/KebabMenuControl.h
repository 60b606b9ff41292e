#pragma once

#include <functional>
#include <string>

#include "IControl.h"
#include "IPopupMenu.h"

// How the main menu reaches the plug-in. Any member may be empty.
struct KebabMenuCallbacks
{
  std::function<float()> getUiScale;
  std::function<void(float)> setUiScale;
  std::function<int()> getAccentIndex;
  std::function<void(int)> setAccentIndex;
  std::function<bool()> hasLearnedTarget;
  std::function<void()> clearLearnedTarget;
  std::function<void(iplug::igraphics::IPopupMenu&)> addExtraItems;
  std::function<void(int)> extraChoice;
};

// The main menu: no area of its own (never hit, draws nothing); the preset bar's menu
// button opens it through BuildMainMenu.
class KebabMenuControl : public iplug::igraphics::IControl
{
public:
  // Positions in the menu.
  static constexpr int kFirstAccentItem = 0;
  static constexpr int kFirstScaleItem = 7;
  static constexpr int kClearTargetItem = 12;
  static constexpr int kFirstExtraItem = 14;

  KebabMenuControl(KebabMenuCallbacks callbacks, const char* versionText);

  // Builds the menu afresh and opens it at bounds.
  void BuildMainMenu(const iplug::igraphics::IRECT& bounds);

  void Draw(iplug::igraphics::IGraphics&) override {}
  void OnPopupMenuSelection(iplug::igraphics::IPopupMenu* pSelectedMenu, int valIdx) override;

  iplug::igraphics::IPopupMenu& Menu() { return mMenu; }

private:
  KebabMenuCallbacks mCallbacks;
  std::string mVersionText;
  iplug::igraphics::IPopupMenu mMenu{"", 0, false};
};

#pragma once

#include <functional>
#include <string>
#include <vector>

#include "IControl.h"
#include "IGraphics.h"
#include "IPopupMenu.h"

// A control that records what the in-window menu and text entry hand it. The record
// lives outside the control, so a test can still read it after the control is gone.
struct ControlRecord
{
  struct Selection
  {
    iplug::igraphics::IPopupMenu* menu;
    int chosenIdx;
    int valIdx;
  };
  std::vector<Selection> selections;
  std::vector<std::string> texts;
  std::vector<int> textValIdx;
  int presses = 0;
  bool destroyed = false;
};

class RecordingControl : public iplug::igraphics::IControl
{
public:
  RecordingControl(const iplug::igraphics::IRECT& bounds, ControlRecord& record)
  : IControl(bounds), mRecord(record)
  {
  }
  ~RecordingControl() override { mRecord.destroyed = true; }

  void Draw(iplug::igraphics::IGraphics&) override {}

  void OnMouseDown(float, float, const iplug::igraphics::IMouseMod&) override
  {
    ++mRecord.presses;
    if (onPress)
      onPress(*this);
  }

  void OnPopupMenuSelection(iplug::igraphics::IPopupMenu* menu, int valIdx) override
  {
    mRecord.selections.push_back({menu, menu ? menu->GetChosenItemIdx() : -1, valIdx});
    if (onSelection)
      onSelection(*this, menu);
  }

  void OnTextEntryCompletion(const char* str, int valIdx) override
  {
    mRecord.texts.emplace_back(str ? str : "(null)");
    mRecord.textValIdx.push_back(valIdx);
  }

  std::function<void(RecordingControl&)> onPress;
  std::function<void(RecordingControl&, iplug::igraphics::IPopupMenu*)> onSelection;

private:
  ControlRecord& mRecord;
};

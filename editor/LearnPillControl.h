#pragma once

#include <functional>
#include <string>
#include <vector>

#include "IControl.h"
#include "IPopupMenu.h"
#include "StoredRecords.h"

// What the pill shows, pulled from the plug-in every frame.
struct LearnPillState
{
  bool learning = false;
  bool hasTarget = false;
  bool analysing = false;
  float progress = 0.f;
};

// How the learn pill reaches the plug-in. Any member may be empty.
struct LearnPillCallbacks
{
  using Target = morvellan::offline::SavedTarget;

  std::function<LearnPillState()> state;
  std::function<void()> learnFromInput;
  std::function<void()> chooseReferenceFile;
  std::function<void()> cancelLearning;
  std::function<void()> clearLearnedTarget;
  std::function<std::vector<Target>()> userTargets;
  std::function<std::vector<Target>()> factoryTargets;
  std::function<std::string()> defaultTargetName;
  std::function<void(const Target&)> applyTarget;
  std::function<void(const std::string&)> saveTarget;
  std::function<void(const Target&)> deleteTarget;
};

// The header's pill: shows the learning state and opens the target menu on any click.
class LearnPillControl : public iplug::igraphics::IControl
{
public:
  using State = LearnPillState;

  // Menu tags: factory target i, user target i to load, user target i to delete.
  static constexpr int kFactoryTag = 30000;
  static constexpr int kLoadTag = 10000;
  static constexpr int kDeleteTag = 20000;

  LearnPillControl(const iplug::igraphics::IRECT& bounds, const iplug::igraphics::IText& pillText,
                   const iplug::igraphics::IText& entryText, const iplug::igraphics::IColor& accent,
                   LearnPillCallbacks callbacks);

  void OnMouseDown(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnPopupMenuSelection(iplug::igraphics::IPopupMenu* pSelectedMenu, int valIdx) override;
  void OnTextEntryCompletion(const char* str, int valIdx) override;
  void Draw(iplug::igraphics::IGraphics& g) override;
  // True when the state it shows moved since it was drawn, or it was marked.
  bool IsDirty() override;

  // The text for a state ("LEARNING 42%", "ANALYSING", "LEARNED", "LEARN TARGET").
  static std::string LabelFor(const State& state);

private:
  State PullState() const;
  // What a state looks like: equal keys draw the same pill.
  struct Look
  {
    bool active = false;
    bool learning = false;
    bool analysing = false;
    bool hasTarget = false;
    float progress = 0.f;
    bool operator==(const Look&) const = default;
  };
  static Look LookOf(const State& state);

  iplug::igraphics::IText mPillText;
  iplug::igraphics::IText mEntryText;
  iplug::igraphics::IColor mAccent;
  LearnPillCallbacks mCallbacks;
  iplug::igraphics::IPopupMenu mMenu{"", 0, false};
  std::vector<morvellan::offline::SavedTarget> mUserTargets;
  std::vector<morvellan::offline::SavedTarget> mFactoryTargets;
  iplug::igraphics::IColor mFillColour{255, 20, 20, 20};
  iplug::igraphics::IColor mIdleOutlineColour{56, 250, 250, 250};
  iplug::igraphics::IColor mActiveOutlineColour{107, 250, 250, 250};
  iplug::igraphics::IColor mIdleDotColour{56, 250, 250, 250};
  State mFrameState;
  bool mFramePulled = false;
  Look mDrawnLook;
  bool mEverDrawn = false;
};

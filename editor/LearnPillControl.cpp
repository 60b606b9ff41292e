#include "LearnPillControl.h"

#include <algorithm>
#include <cmath>

#include "IGraphics.h"

using namespace iplug::igraphics;

namespace
{

constexpr int kEntryLength = 80;
constexpr float kDotSize = 5.f;

// Progress as the pill may show it: NaN reads as nothing done yet.
float ShownProgress(float progress)
{
  return std::isfinite(progress) ? std::clamp(progress, 0.f, 1.f) : 0.f;
}

} // namespace

LearnPillControl::LearnPillControl(const IRECT& bounds, const IText& pillText, const IText& entryText,
                                   const IColor& accent, LearnPillCallbacks callbacks)
: IControl(bounds)
, mPillText(pillText)
, mEntryText(entryText)
, mAccent(accent)
, mCallbacks(std::move(callbacks))
{
  // A double click means nothing here; its second press opens the menu like the first.
  SetDblAsSingleClick(true);
}

LearnPillControl::State LearnPillControl::PullState() const
{
  return mCallbacks.state ? mCallbacks.state() : State{};
}

std::string LearnPillControl::LabelFor(const State& state)
{
  if (state.learning)
    return "LEARNING " + std::to_string(int(ShownProgress(state.progress) * 100.f + 0.5f)) + "%";
  if (state.analysing)
    return "ANALYSING";
  if (state.hasTarget)
    return "LEARNED";
  return "LEARN TARGET";
}

LearnPillControl::Look LearnPillControl::LookOf(const State& state)
{
  Look look;
  look.active = state.learning || state.hasTarget || state.analysing;
  look.learning = state.learning;
  look.analysing = state.analysing;
  look.hasTarget = state.hasTarget;
  // The progress shows only while learning (the label's percentage and the dot's alpha).
  look.progress = state.learning ? ShownProgress(state.progress) : 0.f;
  return look;
}

bool LearnPillControl::IsDirty()
{
  mFrameState = PullState();
  mFramePulled = true;
  return !mEverDrawn || !(LookOf(mFrameState) == mDrawnLook) || IControl::IsDirty();
}

void LearnPillControl::Draw(IGraphics& g)
{
  // The frame loop asked IsDirty just before, which pulled this frame's state.
  const State state = mFramePulled ? mFrameState : PullState();
  mFramePulled = false;
  mDrawnLook = LookOf(state);
  mEverDrawn = true;
  const bool active = mDrawnLook.active;
  const float r = 0.5f * mRECT.H();
  g.FillRoundRect(mFillColour, mRECT, r);
  g.DrawRoundRect(active ? mActiveOutlineColour : mIdleOutlineColour, mRECT, r, nullptr, 1.f);

  const float d = 0.6f * r;
  const float cy = mRECT.MH();
  IColor dot = active ? mAccent : mIdleDotColour;
  if (state.learning)
    dot.A = int(ShownProgress(state.progress) * 145.f + 110.f);
  g.FillEllipse(dot, IRECT(mRECT.L + d, cy - 0.5f * kDotSize, mRECT.L + d + kDotSize, cy + 0.5f * kDotSize));

  const std::string label = LabelFor(state);
  g.DrawText(mPillText, label.c_str(), IRECT(mRECT.L + d + kDotSize, mRECT.T, mRECT.R - d, mRECT.B));
}

void LearnPillControl::OnMouseDown(float, float, const IMouseMod&)
{
  const State state = PullState();
  const bool busy = state.learning || state.analysing;
  const int busyFlag = busy ? IPopupMenu::Item::kDisabled : IPopupMenu::Item::kNoFlags;
  mMenu.Clear();

  mMenu.AddItem("Learn from input", -1, busyFlag);
  mMenu.AddItem("Learn from reference file\xE2\x80\xA6", -1, busyFlag);
  mMenu.AddSeparator();

  mFactoryTargets = mCallbacks.factoryTargets ? mCallbacks.factoryTargets() : std::vector<morvellan::offline::SavedTarget>{};
  auto* factory = new IPopupMenu("", 0, false);
  for (size_t i = 0; i < mFactoryTargets.size(); ++i)
    factory->AddItem(mFactoryTargets[i].name.c_str(), kFactoryTag + int(i), busyFlag);
  mMenu.AddItem("Factory targets", factory,
                mFactoryTargets.empty() || busy ? IPopupMenu::Item::kDisabled : IPopupMenu::Item::kNoFlags);

  mUserTargets = mCallbacks.userTargets ? mCallbacks.userTargets() : std::vector<morvellan::offline::SavedTarget>{};
  auto* load = new IPopupMenu("", 0, false);
  auto* remove = new IPopupMenu("", 0, false);
  for (size_t i = 0; i < mUserTargets.size(); ++i)
  {
    load->AddItem(mUserTargets[i].name.c_str(), kLoadTag + int(i), busyFlag);
    remove->AddItem(mUserTargets[i].name.c_str(), kDeleteTag + int(i));
  }
  mMenu.AddItem("Load target", load,
                mUserTargets.empty() || busy ? IPopupMenu::Item::kDisabled : IPopupMenu::Item::kNoFlags);
  mMenu.AddItem("Save target\xE2\x80\xA6", -1,
                state.hasTarget && !busy ? IPopupMenu::Item::kNoFlags : IPopupMenu::Item::kDisabled);
  mMenu.AddItem("Delete target", remove,
                mUserTargets.empty() ? IPopupMenu::Item::kDisabled : IPopupMenu::Item::kNoFlags);

  if (state.learning || state.hasTarget)
  {
    mMenu.AddSeparator();
    mMenu.AddItem(state.learning ? "Cancel learning" : "Clear learned target (use the balanced target)");
  }

  if (IGraphics* ui = GetUI())
    ui->CreatePopupMenu(*this, mMenu, mRECT);
}

void LearnPillControl::OnPopupMenuSelection(IPopupMenu* pSelectedMenu, int)
{
  if (!pSelectedMenu)
    return;
  const IPopupMenu::Item* item = pSelectedMenu->GetChosenItem();
  if (!item)
    return;

  const int tag = item->GetTag();
  const auto inRange = [tag](int first, size_t count) { return tag >= first && tag < first + int(count); };
  if (inRange(kFactoryTag, mFactoryTargets.size()))
  {
    if (mCallbacks.applyTarget)
      mCallbacks.applyTarget(mFactoryTargets[size_t(tag - kFactoryTag)]);
    return;
  }
  if (inRange(kLoadTag, mUserTargets.size()))
  {
    if (mCallbacks.applyTarget)
      mCallbacks.applyTarget(mUserTargets[size_t(tag - kLoadTag)]);
    return;
  }
  if (inRange(kDeleteTag, mUserTargets.size()))
  {
    if (mCallbacks.deleteTarget)
      mCallbacks.deleteTarget(mUserTargets[size_t(tag - kDeleteTag)]);
    return;
  }

  const std::string text = item->GetText();
  if (text == "Save target\xE2\x80\xA6")
  {
    const std::string initial = mCallbacks.defaultTargetName ? mCallbacks.defaultTargetName() : std::string();
    SetTextEntryLength(kEntryLength);
    if (IGraphics* ui = GetUI())
      ui->CreateTextEntry(*this, mEntryText, IRECT(mRECT.R - 300.f, mRECT.T + 3.f, mRECT.R, mRECT.B - 3.f),
                          initial.c_str(), kNoValIdx);
  }
  else if (text == "Learn from input")
  {
    if (mCallbacks.learnFromInput)
      mCallbacks.learnFromInput();
  }
  else if (text == "Learn from reference file\xE2\x80\xA6")
  {
    if (mCallbacks.chooseReferenceFile)
      mCallbacks.chooseReferenceFile();
  }
  else if (text == "Cancel learning")
  {
    if (mCallbacks.cancelLearning)
      mCallbacks.cancelLearning();
  }
  else if (text == "Clear learned target (use the balanced target)")
  {
    if (mCallbacks.clearLearnedTarget)
      mCallbacks.clearLearnedTarget();
  }
}

void LearnPillControl::OnTextEntryCompletion(const char* str, int)
{
  if (str && mCallbacks.saveTarget)
    mCallbacks.saveTarget(str);
}

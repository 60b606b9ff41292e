#include "PresetBarControl.h"

#include <algorithm>
#include <cmath>

#include "EllipsisFit.h"
#include "IGraphics.h"

namespace halvorsted::controls
{

using namespace iplug::igraphics;

namespace
{

enum EColour
{
  kButtonFill = 0,
  kOutline,
  kText,
  kDimText,
  kHoverFill,
  kWarning
};

constexpr const char* kModifiedMark = "*";

// Room kept above and below the row of buttons.
float RowInset(const IRECT& bounds)
{
  return std::max(2.f, 0.18f * bounds.H());
}

std::string TrimSpacesAndTabs(const std::string& text)
{
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos)
    return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

} // namespace

PresetBarControl::PresetBarControl(const IRECT& bounds, Style style, Callbacks callbacks, OpenMenuFunc openMenu)
: IControl(bounds)
, mStyle(std::move(style))
, mCallbacks(std::move(callbacks))
, mOpenMenu(std::move(openMenu))
{
  // No part means anything by a double click: quick clicks step, arm and delete.
  SetDblAsSingleClick(true);
}

PresetBarControl::~PresetBarControl() = default;

std::array<IRECT, 7> PresetBarControl::PartRects() const
{
  std::array<IRECT, 7> parts{};
  const IRECT& b = mRECT;
  const float inset = RowInset(b);
  const float top = b.T + inset;
  const float bottom = b.B - inset;
  const float s = bottom - top;
  const float wide = 3.4f * s;
  const float gap = 0.16f * s;

  float left = b.L + mStyle.paddingLeft;
  float right = b.R - mStyle.paddingRight;
  if (mOpenMenu)
  {
    // The menu button reaches a little into the right padding.
    parts[kMenu - 1] = IRECT(right - 0.73f * s, top, right + 0.27f * s, bottom);
    right -= 1.23f * s;
  }
  left -= 0.28f * s;
  if (!mStyle.title.empty())
    left += 120.f * mStyle.scale;

  const float fixed = 2.5f * s + 3.f * wide + 2.f * gap;
  const float nameWidth = std::max(s, std::min(210.f * mStyle.scale + fixed, right - left) - fixed);

  float x = left;
  auto next = [&](int part, float width) {
    parts[static_cast<size_t>(part - 1)] = IRECT(x, top, x + width, bottom);
    x += width;
  };
  next(kPrevious, s);
  next(kName, nameWidth);
  next(kNext, s);
  x += 0.5f * s;
  next(kSave, wide);
  x += gap;
  next(kSaveAs, wide);
  x += gap;
  next(kDelete, wide);
  return parts;
}

int PresetBarControl::HitPart(float x, float y) const
{
  const auto parts = PartRects();
  const int last = mOpenMenu ? kMenu : kDelete;
  for (int part = kPrevious; part <= last; ++part)
  {
    const IRECT& r = parts[static_cast<size_t>(part - 1)];
    if (!r.Empty() && r.Contains(x, y))
      return part;
  }
  return kNone;
}

std::vector<std::string> PresetBarControl::RefreshPresetList()
{
  mNames = mCallbacks.listPresetNames ? mCallbacks.listPresetNames() : std::vector<std::string>{};
  mHasPresets = !mNames.empty();
  mLoaded = true;
  return mNames;
}

std::string PresetBarControl::CurrentName() const
{
  return mCallbacks.currentPresetName ? mCallbacks.currentPresetName() : std::string();
}

// Input

void PresetBarControl::OnMouseDown(float x, float y, const IMouseMod&)
{
  const int part = HitPart(x, y);
  const std::string current = CurrentName();

  if (part != kDelete)
  {
    if (!mPendingDelete.empty())
    {
      mPendingDelete.clear();
      SetDirty(false);
    }
    switch (part)
    {
    case kPrevious:
      StepPreset(-1);
      break;
    case kNext:
      StepPreset(+1);
      break;
    case kName:
      OpenPresetMenu();
      break;
    case kSave:
      if (!current.empty() && mCallbacks.savePreset)
        mCallbacks.savePreset(current);
      SetDirty(false);
      break;
    case kSaveAs:
      PromptForName();
      break;
    case kMenu:
      if (mOpenMenu)
        mOpenMenu(PartRects()[kMenu - 1]);
      break;
    default:
      break;
    }
    return;
  }

  if (current.empty())
    return;
  if (mPendingDelete == current)
  {
    mPendingDelete.clear();
    if (mCallbacks.deletePreset)
      mCallbacks.deletePreset(current);
    RefreshPresetList();
  }
  else
  {
    mPendingDelete = current;
  }
  SetDirty(false);
}

void PresetBarControl::OnMouseOver(float x, float y, const IMouseMod&)
{
  const int part = HitPart(x, y);
  if (part == mHoveredPart)
    return;
  // Entering the control fetches the list again, so files added elsewhere show up.
  if (mHoveredPart == kNone)
    RefreshPresetList();
  if (mHoveredPart == kDelete && part != kDelete)
    mPendingDelete.clear();
  mHoveredPart = part;
  SetDirty(false);
}

void PresetBarControl::OnMouseOut()
{
  if (mHoveredPart == kNone && mPendingDelete.empty())
    return;
  mHoveredPart = kNone;
  mPendingDelete.clear();
  SetDirty(false);
}

void PresetBarControl::StepPreset(int direction)
{
  const std::vector<std::string> names = RefreshPresetList();
  if (names.empty())
    return;
  const int n = static_cast<int>(names.size());
  const auto found = std::find(names.begin(), names.end(), CurrentName());
  int index;
  if (found != names.end())
    index = (direction + static_cast<int>(found - names.begin()) + n) % n;
  else
    index = direction < 1 ? n - 1 : 0;
  if (mCallbacks.selectPreset)
    mCallbacks.selectPreset(names[static_cast<size_t>(index)]);
  SetDirty(false);
}

void PresetBarControl::OpenPresetMenu()
{
  mMenuNames = RefreshPresetList();
  if (mMenuNames.empty())
    return;
  const std::string current = CurrentName();
  mMenu.Clear();
  for (const std::string& name : mMenuNames)
    mMenu.AddItem(name.c_str(), -1, name == current ? IPopupMenu::Item::kChecked : IPopupMenu::Item::kNoFlags);
  if (IGraphics* ui = GetUI())
    ui->CreatePopupMenu(*this, mMenu, PartRects()[kName - 1]);
}

void PresetBarControl::OnPopupMenuSelection(IPopupMenu* pSelectedMenu, int)
{
  if (!pSelectedMenu)
    return;
  const int index = pSelectedMenu->GetChosenItemIdx();
  // The list may have changed on disk since the menu was built: the snapshot decides.
  if (index < 0 || index >= static_cast<int>(mMenuNames.size()))
    return;
  if (mCallbacks.selectPreset)
    mCallbacks.selectPreset(mMenuNames[static_cast<size_t>(index)]);
  SetDirty(false);
}

void PresetBarControl::PromptForName()
{
  IGraphics* ui = GetUI();
  if (!ui)
    return;
  const IRECT name = PartRects()[kName - 1];
  const float width = std::max(220.f * mStyle.scale, name.W());
  const IRECT bounds(name.MW() - 0.5f * width, name.T, name.MW() + 0.5f * width, name.B);
  SetTextEntryLength(80);
  ui->CreateTextEntry(*this, mStyle.text, bounds, CurrentName().c_str(), kNoValIdx);
}

void PresetBarControl::OnTextEntryCompletion(const char* str, int)
{
  if (!str || !mCallbacks.savePreset)
    return;
  const std::string name = TrimSpacesAndTabs(str);
  if (name.empty())
    return;
  mCallbacks.savePreset(name);
  RefreshPresetList();
  SetDirty(false);
}

bool PresetBarControl::IsDirty()
{
  // A preset loaded or saved under another name does not always change the modified
  // mark, which is all the plug-in tells the bar about.
  std::string current = CurrentName();
  if (current != mShownName)
  {
    mShownName = std::move(current);
    SetDirty(false);
    return true;
  }
  return IControl::IsDirty();
}

// Drawing

std::string PresetBarControl::FitNameText(IGraphics& g, const IText& style, const std::string& name, float width)
{
  // A system font arriving for the name's characters may change its width.
  if (name == mFitSource && std::fabs(width - mFitWidth) < 0.5f && mFitMeasures == g.TextMeasureGeneration())
    return mFitted;
  mFitSource = name;
  mFitWidth = width;
  mFitMeasures = g.TextMeasureGeneration();
  mFitted = FitWithEllipsis(name, width, [&](const std::string& text) {
    IRECT extent;
    return g.MeasureText(style, text.c_str(), extent);
  });
  return mFitted;
}

void PresetBarControl::Draw(IGraphics& g)
{
  if (!mLoaded)
    RefreshPresetList();
  const std::string current = CurrentName();
  const bool hasName = !current.empty();
  mShownName = current;

  const auto& colours = mStyle.colours;
  const IRECT& b = mRECT;
  const auto parts = PartRects();
  const float inset = RowInset(b);

  g.FillRect(mStyle.background, b, &mBlend);
  g.FillRect(mStyle.bottomLine, IRECT(b.L, b.B - 1.f, b.R, b.B), &mBlend);

  if (!mStyle.title.empty())
  {
    const IRECT titleRect(b.L + mStyle.paddingLeft, b.T, parts[kPrevious - 1].L - inset, b.B);
    if (titleRect.W() > 0.f)
      g.DrawText(mStyle.text.WithFGColor(colours[kDimText]).WithAlign(EAlign::Near), mStyle.title.c_str(), titleRect);
  }

  const IRECT& field = parts[kName - 1];
  const float radius = 0.25f * field.H();
  g.FillRoundRect(colours[kButtonFill], field, radius, &mBlend);
  if (mHoveredPart == kName)
    g.FillRoundRect(colours[kHoverFill], field, radius, &mBlend);
  g.DrawRoundRect(colours[kOutline], field, radius, &mBlend, 1.f);

  const IRECT nameArea(field.L + inset, field.T, field.R - inset, field.B);
  const IText centred = mStyle.text.WithAlign(EAlign::Center);
  if (hasName)
  {
    const IText style = centred.WithFGColor(colours[kText]);
    const bool modified = mCallbacks.isModified && mCallbacks.isModified();
    // The mark is measured first so that shortening never pushes it out of the field.
    float markWidth = 0.f;
    if (modified)
    {
      IRECT extent;
      markWidth = g.MeasureText(style, kModifiedMark, extent);
    }
    std::string shown = FitNameText(g, style, current, nameArea.W() - markWidth);
    if (modified)
      shown += kModifiedMark;
    g.DrawText(style, shown.c_str(), nameArea);
  }
  else
  {
    g.DrawText(centred.WithFGColor(colours[kDimText]), "no preset", nameArea);
  }

  DrawButtonFrame(g, parts[kPrevious - 1], true, mHoveredPart == kPrevious, mHasPresets);
  DrawButtonFrame(g, parts[kNext - 1], false, mHoveredPart == kNext, mHasPresets);

  const bool armed = hasName && mPendingDelete == current;
  DrawButtonLabel(g, parts[kSave - 1], "Save", mHoveredPart == kSave, hasName, false);
  DrawButtonLabel(g, parts[kSaveAs - 1], "Save as", mHoveredPart == kSaveAs, true, false);
  DrawButtonLabel(g, parts[kDelete - 1], armed ? "Sure?" : "Delete", mHoveredPart == kDelete, hasName, armed);

  if (mOpenMenu)
    DrawGlyph(g, parts[kMenu - 1], mHoveredPart == kMenu);
}

void PresetBarControl::DrawButtonFrame(IGraphics& g, const IRECT& r, bool pointsLeft, bool hovered, bool enabled)
{
  const auto& colours = mStyle.colours;
  if (hovered && enabled)
    g.FillRoundRect(colours[kHoverFill], r, 0.25f * r.H(), &mBlend);
  const float cx = r.MW(), cy = r.MH();
  const float dx = 0.22f * r.W(), dy = 0.26f * r.H();
  const IColor& colour = enabled ? colours[kText] : colours[kDimText];
  if (pointsLeft)
    g.FillTriangle(colour, cx + dx, cy - dy, cx + dx, cy + dy, cx - dx, cy, &mBlend);
  else
    g.FillTriangle(colour, cx - dx, cy - dy, cx - dx, cy + dy, cx + dx, cy, &mBlend);
}

void PresetBarControl::DrawButtonLabel(IGraphics& g, const IRECT& r, const char* label, bool hovered, bool enabled,
                                       bool armed)
{
  const auto& colours = mStyle.colours;
  const float radius = 0.25f * r.H();
  g.FillRoundRect(colours[kButtonFill], r, radius, &mBlend);
  if (hovered && enabled)
    g.FillRoundRect(colours[kHoverFill], r, radius, &mBlend);
  g.DrawRoundRect(armed ? colours[kWarning] : colours[kOutline], r, radius, &mBlend, 1.f);
  const IColor& text = !enabled ? colours[kDimText] : armed ? colours[kWarning] : colours[kText];
  g.DrawText(mStyle.text.WithAlign(EAlign::Center).WithFGColor(text), label, r);
}

void PresetBarControl::DrawGlyph(IGraphics& g, const IRECT& r, bool hovered)
{
  const auto& colours = mStyle.colours;
  if (hovered)
    g.FillRoundRect(colours[kHoverFill], r, 0.25f * r.H(), &mBlend);
  const float t = std::max(1.f, 0.085f * r.H());
  const float cx = r.MW(), cy = r.MH();
  const float halfLength = 0.23f * r.W();
  const IColor& colour = hovered ? colours[kText] : colours[kDimText];
  for (const float offset : {-0.21f, 0.f, 0.21f})
  {
    const float y = cy + offset * r.H();
    g.FillRoundRect(colour, IRECT(cx - halfLength, y - 0.5f * t, cx + halfLength, y + 0.5f * t), 0.5f * t, &mBlend);
  }
}

} // namespace halvorsted::controls

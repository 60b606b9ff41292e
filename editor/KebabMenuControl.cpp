#include "KebabMenuControl.h"

#include <cmath>

#include "AccentColours.h"
#include "IGraphics.h"

using namespace iplug::igraphics;

namespace
{

// A window scale within this of a row's scale checks that row.
constexpr float kScaleMatch = 0.02f;

} // namespace

KebabMenuControl::KebabMenuControl(KebabMenuCallbacks callbacks, const char* versionText)
: IControl(IRECT())
, mCallbacks(std::move(callbacks))
, mVersionText(versionText ? versionText : "")
{
}

void KebabMenuControl::BuildMainMenu(const IRECT& bounds)
{
  mMenu.Clear();

  const int current = mCallbacks.getAccentIndex ? mCallbacks.getAccentIndex() : 0;
  for (int i = 0; i < int(morvellan::AccentColourTable.size()); ++i)
    mMenu.AddItem(morvellan::AccentColourTable[size_t(i)].name, -1,
                  i == current ? IPopupMenu::Item::kChecked : IPopupMenu::Item::kNoFlags);
  mMenu.AddSeparator();

  const float scale = mCallbacks.getUiScale ? mCallbacks.getUiScale() : 1.f;
  for (const auto& row : morvellan::WindowScaleTable)
    mMenu.AddItem(row.name, -1,
                  std::fabs(scale - row.scale) < kScaleMatch ? IPopupMenu::Item::kChecked : IPopupMenu::Item::kNoFlags);
  mMenu.AddSeparator();

  const bool hasTarget = mCallbacks.hasLearnedTarget && mCallbacks.hasLearnedTarget();
  mMenu.AddItem("Clear learned target (use the balanced target)", -1,
                hasTarget ? IPopupMenu::Item::kNoFlags : IPopupMenu::Item::kDisabled);
  mMenu.AddSeparator();

  if (mCallbacks.addExtraItems)
    mCallbacks.addExtraItems(mMenu);

  mMenu.AddItem(("Morvellan " + mVersionText).c_str(), -1, IPopupMenu::Item::kDisabled);

  if (IGraphics* ui = GetUI())
    ui->CreatePopupMenu(*this, mMenu, bounds);
}

void KebabMenuControl::OnPopupMenuSelection(IPopupMenu* pSelectedMenu, int)
{
  if (!pSelectedMenu)
    return;
  const int p = pSelectedMenu->GetChosenItemIdx();
  const int accents = int(morvellan::AccentColourTable.size());
  const int scales = int(morvellan::WindowScaleTable.size());
  if (p >= kFirstAccentItem && p < kFirstAccentItem + accents)
  {
    if (mCallbacks.setAccentIndex)
      mCallbacks.setAccentIndex(p - kFirstAccentItem);
  }
  else if (p >= kFirstScaleItem && p < kFirstScaleItem + scales)
  {
    if (mCallbacks.setUiScale)
      mCallbacks.setUiScale(morvellan::WindowScaleTable[size_t(p - kFirstScaleItem)].scale);
  }
  else if (p == kClearTargetItem)
  {
    if (mCallbacks.clearLearnedTarget)
      mCallbacks.clearLearnedTarget();
  }
  else if (p == kFirstExtraItem || p == kFirstExtraItem + 1)
  {
    if (mCallbacks.extraChoice)
      mCallbacks.extraChoice(p - kFirstExtraItem);
  }
}

#include "IPopupMenu.h"

namespace iplug::igraphics
{

IPopupMenu::Item::Item(const char* str, int flags, int tag) : mText(str ? str : ""), mFlags(flags), mTag(tag) {}

IPopupMenu::Item::Item(const char* str, IPopupMenu* pSubMenu, int flags)
: mText(str ? str : "")
, mFlags(flags)
, mSubmenu(pSubMenu)
{
}

void IPopupMenu::Item::SetEnabled(bool enabled)
{
  mFlags = enabled ? (mFlags & ~kDisabled) : (mFlags | kDisabled);
}

void IPopupMenu::Item::SetChecked(bool checked)
{
  mFlags = checked ? (mFlags | kChecked) : (mFlags & ~kChecked);
}

IPopupMenu::IPopupMenu(const char* rootTitle, int prefix, bool multicheck)
: mRootTitle(rootTitle ? rootTitle : "")
, mPrefix(prefix)
, mMultiCheck(multicheck)
{
}

IPopupMenu::~IPopupMenu() = default;

IPopupMenu::Item* IPopupMenu::GetItem(int index)
{
  return index >= 0 && index < NItems() ? mItems[static_cast<size_t>(index)].get() : nullptr;
}

const IPopupMenu::Item* IPopupMenu::GetItem(int index) const
{
  return index >= 0 && index < NItems() ? mItems[static_cast<size_t>(index)].get() : nullptr;
}

const char* IPopupMenu::GetItemText(int index) const
{
  const Item* item = GetItem(index);
  return item ? item->GetText() : "";
}

IPopupMenu::Item* IPopupMenu::AddItem(Item* pItem)
{
  if (!pItem)
    return nullptr;
  mItems.emplace_back(pItem);
  return pItem;
}

IPopupMenu::Item* IPopupMenu::AddItem(const char* str, int tag, int flags)
{
  return AddItem(new Item(str, flags, tag));
}

IPopupMenu::Item* IPopupMenu::AddItem(const char* str, IPopupMenu* pSubMenu, int flags)
{
  return AddItem(new Item(str, pSubMenu, flags));
}

IPopupMenu::Item* IPopupMenu::AddSeparator()
{
  return AddItem(new Item("", Item::kSeparator));
}

void IPopupMenu::Clear()
{
  mItems.clear();
  mChosenItemIdx = -1;
}

} // namespace iplug::igraphics

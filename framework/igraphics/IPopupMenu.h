#pragma once

#include <memory>
#include <string>
#include <vector>

namespace iplug::igraphics
{

// A menu as the controls build it: items with a text, a tag and flags, separators,
// and submenus that the parent owns. The window shows it (IGraphics::CreatePopupMenu)
// and, after a choice, hands the (sub)menu holding the chosen item to the receiver
// with its chosen index set; positions count separators.
class IPopupMenu
{
public:
  class Item
  {
  public:
    enum Flags
    {
      kNoFlags = 0,
      kDisabled = 1 << 0,
      kTitle = 1 << 1,
      kChecked = 1 << 2,
      kSeparator = 1 << 3
    };

    Item(const char* str, int flags = kNoFlags, int tag = -1);
    // Takes ownership of the submenu.
    Item(const char* str, IPopupMenu* pSubMenu, int flags = kNoFlags);

    const char* GetText() const { return mText.c_str(); }
    int GetTag() const { return mTag; }
    int GetFlags() const { return mFlags; }
    bool GetEnabled() const { return !(mFlags & kDisabled); }
    bool GetChecked() const { return (mFlags & kChecked) != 0; }
    bool GetIsSeparator() const { return (mFlags & kSeparator) != 0; }
    bool GetIsTitle() const { return (mFlags & kTitle) != 0; }
    IPopupMenu* GetSubmenu() const { return mSubmenu.get(); }
    // A separator, a title or a disabled item cannot be chosen; an item with a submenu opens it.
    bool GetChoosable() const { return GetEnabled() && !GetIsSeparator() && !GetIsTitle() && !mSubmenu; }

    void SetText(const char* str) { mText = str ? str : ""; }
    void SetTag(int tag) { mTag = tag; }
    void SetEnabled(bool enabled);
    void SetChecked(bool checked);

  private:
    std::string mText;
    int mFlags = kNoFlags;
    int mTag = -1;
    std::unique_ptr<IPopupMenu> mSubmenu;
  };

  explicit IPopupMenu(const char* rootTitle = "", int prefix = 0, bool multicheck = false);
  ~IPopupMenu();
  IPopupMenu(const IPopupMenu&) = delete;
  IPopupMenu& operator=(const IPopupMenu&) = delete;

  int NItems() const { return static_cast<int>(mItems.size()); }
  // nullptr for an index out of range.
  Item* GetItem(int index);
  const Item* GetItem(int index) const;
  const char* GetItemText(int index) const;

  Item* AddItem(Item* pItem); // takes ownership
  Item* AddItem(const char* str, int tag = -1, int flags = Item::kNoFlags);
  Item* AddItem(const char* str, IPopupMenu* pSubMenu, int flags = Item::kNoFlags); // takes ownership
  Item* AddSeparator();

  // Removes every item (and their submenus) and forgets the last choice.
  void Clear();

  const char* GetRootTitle() const { return mRootTitle.c_str(); }
  int GetPrefix() const { return mPrefix; }
  bool GetMultiCheck() const { return mMultiCheck; }

  // The position of the last choice in this menu, -1 for none.
  int GetChosenItemIdx() const { return mChosenItemIdx; }
  void SetChosenItemIdx(int index) { mChosenItemIdx = index; }
  // The chosen item, nullptr for none or an index out of range.
  Item* GetChosenItem() { return GetItem(mChosenItemIdx); }

private:
  std::string mRootTitle;
  int mPrefix = 0;
  bool mMultiCheck = false;
  int mChosenItemIdx = -1;
  std::vector<std::unique_ptr<Item>> mItems;
};

} // namespace iplug::igraphics

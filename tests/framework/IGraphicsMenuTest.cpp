// The in-window popup menu, driven through IGraphics as the window drives it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>

#include "FallbackFonts.h"
#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "RecordingControl.h"
#include "Resources.h"

using namespace iplug::igraphics;

namespace
{

// Item rows: 20 units, separators 9, 4 units of padding above the first. A menu with
// short texts is 96 units wide and opens under its anchor, left-aligned with it.
class MenuTest : public ::testing::Test
{
protected:
  MenuTest() : dlg(0), g(dlg, 720, 532, 60, 1.f)
  {
    g.SetResources(MorvellanResources());
    g.LoadFont("Roboto-Regular", "Roboto-Regular.ttf");
    IPopupMenu* sub = new IPopupMenu();
    sub->AddItem("One", 41);
    sub->AddSeparator();
    sub->AddItem("Three", 42);
    menu.AddItem("Alpha", 100);                                   // y 34..54
    menu.AddSeparator();                                          // y 54..63
    menu.AddItem("Beta", 101, IPopupMenu::Item::kDisabled);       // y 63..83
    menu.AddItem("More", sub);                                    // y 83..103
    menu.AddItem("Gamma", 103, IPopupMenu::Item::kChecked);       // y 103..123
    menu.AddItem("Delta", 104, IPopupMenu::Item::kChecked);       // y 123..143
    button = Attach(IRECT(10.f, 10.f, 110.f, 30.f), buttonRecord);
    button->onPress = [this](RecordingControl& c) { c.GetUI()->CreatePopupMenu(c, menu, c.GetRECT(), 7); };
    below = Attach(IRECT(300.f, 300.f, 400.f, 400.f), belowRecord);
  }

  RecordingControl* Attach(const IRECT& r, ControlRecord& record)
  {
    return static_cast<RecordingControl*>(g.AttachControl(new RecordingControl(r, record)));
  }

  void Press(float x, float y) { g.OnMouseDown(x, y, IMouseMod(true), time += 1000.); }
  void Release(float x, float y) { g.OnMouseUp(x, y, IMouseMod(true)); }
  void Click(float x, float y)
  {
    Press(x, y);
    Release(x, y);
  }
  void OpenMenu()
  {
    Click(20.f, 20.f);
    ASSERT_TRUE(g.IsMenuOpen());
  }
  void Key(EVirtualKey vk) { g.OnKeyDown(IKeyPress{"", vk, IMouseMod()}); }

  iplug::IEditorDelegate dlg;
  IGraphics g;
  IPopupMenu menu;
  ControlRecord buttonRecord, belowRecord;
  RecordingControl* button = nullptr;
  RecordingControl* below = nullptr;
  double time = 0.;
};

TEST_F(MenuTest, ClickOnSubmenuItemDeliversTheSubmenuWithItsPositionCountingSeparators)
{
  OpenMenu();
  EXPECT_TRUE(buttonRecord.selections.empty());
  EXPECT_EQ(g.GetOpenMenu(), &menu);

  // Hovering "More" opens its submenu beside the root (x 105..201), first row level with it.
  g.OnMouseMove(40.f, 93.f, IMouseMod());
  Click(130.f, 122.f); // "Three": below "One" and the separator
  ASSERT_EQ(buttonRecord.selections.size(), 1u);
  IPopupMenu* sub = menu.GetItem(3)->GetSubmenu();
  EXPECT_EQ(buttonRecord.selections[0].menu, sub);
  EXPECT_EQ(buttonRecord.selections[0].chosenIdx, 2);
  EXPECT_EQ(buttonRecord.selections[0].valIdx, 7);
  EXPECT_EQ(sub->GetChosenItem()->GetTag(), 42);
  EXPECT_FALSE(g.IsMenuOpen());

  // A root item after the separator: position 4, delivered with the root.
  OpenMenu();
  Click(40.f, 113.f);
  ASSERT_EQ(buttonRecord.selections.size(), 2u);
  EXPECT_EQ(buttonRecord.selections[1].menu, &menu);
  EXPECT_EQ(buttonRecord.selections[1].chosenIdx, 4);
  EXPECT_EQ(std::string(menu.GetChosenItem()->GetText()), "Gamma");
}

TEST_F(MenuTest, DisabledItemsSeparatorsAndSubmenuParentsAreNeverChosen)
{
  OpenMenu();
  Click(40.f, 73.f); // "Beta", disabled
  Click(40.f, 58.f); // the separator
  Click(40.f, 93.f); // "More" opens its submenu, chooses nothing
  Click(40.f, 32.f); // the padding above "Alpha"
  EXPECT_TRUE(buttonRecord.selections.empty());
  EXPECT_TRUE(g.IsMenuOpen());

  EXPECT_FALSE(g.ChooseFromOpenMenu({2}));
  EXPECT_FALSE(g.ChooseFromOpenMenu({1}));
  EXPECT_FALSE(g.ChooseFromOpenMenu({3}));
  EXPECT_FALSE(g.ChooseFromOpenMenu({3, 1}));
  EXPECT_FALSE(g.ChooseFromOpenMenu({6}));
  EXPECT_FALSE(g.ChooseFromOpenMenu({0, 0})); // "Alpha" has no submenu
  EXPECT_TRUE(buttonRecord.selections.empty());
  g.DismissMenu();

  // A disabled submenu parent does not open: its items are out of reach.
  menu.GetItem(3)->SetEnabled(false);
  OpenMenu();
  g.OnMouseMove(40.f, 93.f, IMouseMod());
  Click(130.f, 122.f); // where "Three" would be: outside every open menu
  ASSERT_EQ(buttonRecord.selections.size(), 2u);
  EXPECT_EQ(buttonRecord.selections[1].menu, nullptr);
  EXPECT_FALSE(g.IsMenuOpen());
}

TEST_F(MenuTest, OnlyAPressAndReleaseMadeInsideTheMenuChoose)
{
  // The opening press drags onto "Alpha" and is released there: nothing is chosen.
  Press(20.f, 20.f);
  ASSERT_TRUE(g.IsMenuOpen());
  g.OnMouseMove(40.f, 44.f, IMouseMod(true));
  Release(40.f, 44.f);
  EXPECT_TRUE(buttonRecord.selections.empty());
  EXPECT_TRUE(g.IsMenuOpen());

  // A press on one item released on another chooses nothing either.
  Press(40.f, 44.f);
  Release(40.f, 113.f);
  EXPECT_TRUE(buttonRecord.selections.empty());

  Click(40.f, 133.f);
  ASSERT_EQ(buttonRecord.selections.size(), 1u);
  EXPECT_EQ(buttonRecord.selections[0].chosenIdx, 5);
}

TEST_F(MenuTest, PressOutsideDismissesAndIsConsumedEscapeDismissesToo)
{
  OpenMenu();
  Click(350.f, 350.f);
  ASSERT_EQ(buttonRecord.selections.size(), 1u);
  EXPECT_EQ(buttonRecord.selections[0].menu, nullptr);
  EXPECT_EQ(buttonRecord.selections[0].valIdx, 7);
  EXPECT_EQ(belowRecord.presses, 0);
  EXPECT_FALSE(g.IsMenuOpen());

  OpenMenu();
  Key(EVirtualKey::Escape);
  ASSERT_EQ(buttonRecord.selections.size(), 2u);
  EXPECT_EQ(buttonRecord.selections[1].menu, nullptr);

  OpenMenu();
  g.DismissMenu();
  ASSERT_EQ(buttonRecord.selections.size(), 3u);
  EXPECT_EQ(buttonRecord.selections[2].menu, nullptr);

  // With the menu gone, presses reach the controls again.
  Click(350.f, 350.f);
  EXPECT_EQ(belowRecord.presses, 1);
}

TEST_F(MenuTest, KeysMoveOverChoosableRowsAndChoose)
{
  OpenMenu();
  Key(EVirtualKey::Down); // Alpha
  Key(EVirtualKey::Down); // over the separator and the disabled Beta: More
  Key(EVirtualKey::Right); // opens More, first row: One
  Key(EVirtualKey::Down); // over the separator: Three
  Key(EVirtualKey::Return);
  ASSERT_EQ(buttonRecord.selections.size(), 1u);
  EXPECT_EQ(buttonRecord.selections[0].menu, menu.GetItem(3)->GetSubmenu());
  EXPECT_EQ(buttonRecord.selections[0].chosenIdx, 2);

  OpenMenu();
  Key(EVirtualKey::Up); // wraps to the last row: Delta
  Key(EVirtualKey::Return);
  ASSERT_EQ(buttonRecord.selections.size(), 2u);
  EXPECT_EQ(buttonRecord.selections[1].chosenIdx, 5);
}

TEST_F(MenuTest, StaysInsideTheCanvasAndSubmenusFlipLeftAtTheRightEdge)
{
  // Anchored at the bottom right, 96 x 117 does not fit below: it opens above the
  // anchor (y 383..500) and moves left to end at the canvas edge (x 624..720).
  button->SetTargetAndDrawRECTs(IRECT(680.f, 500.f, 715.f, 530.f));
  Press(690.f, 510.f);
  Release(690.f, 510.f);
  ASSERT_TRUE(g.IsMenuOpen());
  // "More" at y 436..456; its submenu has no room on the right: x 529..625.
  g.OnMouseMove(650.f, 446.f, IMouseMod());
  Click(540.f, 436.f + 29.f + 5.f); // "Three", 29 units under "More"'s top
  ASSERT_EQ(buttonRecord.selections.size(), 1u);
  EXPECT_EQ(buttonRecord.selections[0].chosenIdx, 2);

  Press(690.f, 510.f);
  Release(690.f, 510.f);
  Click(630.f, 390.f); // "Alpha", the first row of the raised menu
  ASSERT_EQ(buttonRecord.selections.size(), 2u);
  EXPECT_EQ(buttonRecord.selections[1].menu, &menu);
  EXPECT_EQ(buttonRecord.selections[1].chosenIdx, 0);
}

TEST_F(MenuTest, AMenuTallerThanTheCanvasScrollsWithTheWheel)
{
  // 40 rows: 4 + 800 + 4 = 808 units, shown 532 high from the top, scrolling up to 276.
  menu.Clear();
  for (int i = 0; i < 40; ++i)
    menu.AddItem(("Row " + std::to_string(i)).c_str(), i);
  OpenMenu();
  g.OnMouseWheel(40.f, 100.f, IMouseMod(), -1.f); // one notch down: 40 units
  Click(40.f, 20.f);                                // content y 60: row 2
  ASSERT_EQ(buttonRecord.selections.size(), 1u);
  EXPECT_EQ(buttonRecord.selections[0].chosenIdx, 2);

  OpenMenu();
  for (int i = 0; i < 30; ++i)
    g.OnMouseWheel(40.f, 100.f, IMouseMod(), -1.f);
  Click(40.f, 520.f); // content y 796: the last row
  ASSERT_EQ(buttonRecord.selections.size(), 2u);
  EXPECT_EQ(buttonRecord.selections[1].chosenIdx, 39);
}

TEST_F(MenuTest, AChoiceMayOpenATextEntryOrAnotherMenu)
{
  button->onSelection = [](RecordingControl& c, IPopupMenu* m) {
    if (m && m->GetChosenItemIdx() == 0)
      c.GetUI()->CreateTextEntry(c, IText(12.f), IRECT(10.f, 40.f, 200.f, 60.f), "name", 3);
  };
  OpenMenu();
  Click(40.f, 44.f);
  EXPECT_FALSE(g.IsMenuOpen());
  ASSERT_TRUE(g.IsTextEntryOpen());
  EXPECT_EQ(g.GetTextEntryText(), "name");
  g.CommitTextEntry("Saved name");
  ASSERT_EQ(buttonRecord.texts.size(), 1u);
  EXPECT_EQ(buttonRecord.texts[0], "Saved name");
  EXPECT_EQ(buttonRecord.textValIdx[0], 3);

  IPopupMenu second;
  second.AddItem("Only");
  button->onSelection = [&second](RecordingControl& c, IPopupMenu* m) {
    if (m == nullptr || m != &second)
      c.GetUI()->CreatePopupMenu(c, second, IRECT(200.f, 200.f, 250.f, 220.f), 9);
  };
  OpenMenu();
  Click(40.f, 133.f);
  ASSERT_TRUE(g.IsMenuOpen());
  EXPECT_EQ(g.GetOpenMenu(), &second);
  Click(210.f, 230.f);
  EXPECT_EQ(buttonRecord.selections.back().menu, &second);
  EXPECT_EQ(buttonRecord.selections.back().valIdx, 9);
  EXPECT_FALSE(g.IsMenuOpen());
}

TEST_F(MenuTest, RemovingAllControlsClosesTheMenuAndEntryWithoutCallingThem)
{
  OpenMenu();
  g.OnMouseMove(40.f, 93.f, IMouseMod());
  g.RemoveAllControls();
  EXPECT_TRUE(buttonRecord.destroyed);
  EXPECT_FALSE(g.IsMenuOpen());
  EXPECT_TRUE(buttonRecord.selections.empty());
  // Nothing of the old menu answers any more.
  Click(130.f, 122.f);
  g.OnFrame();
  EXPECT_TRUE(buttonRecord.selections.empty());

  ControlRecord record;
  RecordingControl* entryOwner = Attach(IRECT(10.f, 10.f, 110.f, 30.f), record);
  g.CreateTextEntry(*entryOwner, IText(12.f), entryOwner->GetRECT(), "abc");
  ASSERT_TRUE(g.IsTextEntryOpen());
  g.RemoveAllControls();
  EXPECT_TRUE(record.destroyed);
  EXPECT_FALSE(g.IsTextEntryOpen());
  g.OnKeyDown(IKeyPress{"", EVirtualKey::Return, IMouseMod()});
  Click(300.f, 300.f);
  EXPECT_TRUE(record.texts.empty());
}

TEST_F(MenuTest, RepaintsTheMenuAreaWhenItOpensChangesAndCloses)
{
  g.OnFrame();
  OpenMenu();
  // The frame repaints (in pixels at scale 1) the menu's box 10..106 x 30..147.
  const IRECT opened = g.OnFrame();
  EXPECT_LE(opened.L, 10.f);
  EXPECT_LE(opened.T, 30.f);
  EXPECT_GE(opened.R, 106.f);
  EXPECT_GE(opened.B, 147.f);
  EXPECT_TRUE(g.OnFrame().Degenerate());

  g.OnMouseMove(40.f, 93.f, IMouseMod()); // the submenu appears: 105..201 x 79..136
  const IRECT withSub = g.OnFrame();
  EXPECT_GE(withSub.R, 201.f);
  EXPECT_GE(withSub.B, 136.f);

  g.DismissMenu();
  const IRECT closed = g.OnFrame();
  EXPECT_LE(closed.L, 10.f);
  EXPECT_GE(closed.R, 201.f);
  EXPECT_GE(closed.B, 147.f);
}

TEST_F(MenuTest, AMenuOpenedBeforeItsSystemFontArrivesTakesTheWidthItsTextNeedsThen)
{
  // Eight CJK ideographs, an em each: 96 units at 12, beside the check (22) and arrow (20) columns.
  const char* wide = "\xE4\xB8\x80\xE4\xBA\x8C\xE4\xB8\x89\xE5\x9B\x9B\xE4\xBA\x94\xE5\x85\xAD\xE4\xB8\x83\xE5\x85\xAB";
  menu.AddItem(wide, 105);
  HoldFallbackFontWorker(true);
  g.OnFrame();
  OpenMenu();
  const IRECT held = g.OnFrame();
  HoldFallbackFontWorker(false);
  ASSERT_TRUE(WaitForFallbackFonts(std::chrono::seconds(30)));
  IRECT extent;
  const float textW = g.MeasureText(IText(12.f, COLOR_WHITE, "Roboto-Regular"), wide, extent);
  EXPECT_NEAR(textW, 96.f, 6.f) << "no system font has CJK (tools/setup.sh installs them)";
  const float right = 10.f + std::ceil(22.f + textW + 20.f);
  EXPECT_LT(held.R, right - 10.f);
  // The next frame widens it where it stands: closing it repaints just that box.
  g.OnFrame();
  g.DismissMenu();
  const IRECT closed = g.OnFrame();
  EXPECT_TRUE(closed.L <= 10.f && closed.R >= right && closed.R <= right + 2.f) << closed.L << " " << closed.R;
}

} // namespace

// The main menu and the learn pill's target menu: their items in each state, and what a
// choice does.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "KebabMenuControl.h"
#include "LearnPillControl.h"

using namespace iplug::igraphics;

namespace
{

// "text" with a trailing marker per flag, "-" for a separator.
std::vector<std::string> Describe(IPopupMenu& menu)
{
  std::vector<std::string> rows;
  for (int i = 0; i < menu.NItems(); ++i)
  {
    const auto* item = menu.GetItem(i);
    if (item->GetIsSeparator())
    {
      rows.push_back("-");
      continue;
    }
    std::string row = item->GetText();
    if (item->GetChecked())
      row += " [x]";
    if (!item->GetEnabled())
      row += " (off)";
    if (item->GetSubmenu())
      row += " >";
    rows.push_back(row);
  }
  return rows;
}

void Choose(IControl& c, IPopupMenu& menu, int position)
{
  menu.SetChosenItemIdx(position);
  c.OnPopupMenuSelection(&menu, kNoValIdx);
}

struct MainMenu : ::testing::Test
{
  iplug::IEditorDelegate dlg{0};
  IGraphics g{dlg, 720, 532, 60, 1.f};
  float scale = 1.f;
  int accent = 0;
  bool hasTarget = false;
  std::vector<std::string> calls;
  KebabMenuControl* kebab = nullptr;

  void SetUp() override
  {
    KebabMenuCallbacks c;
    c.getUiScale = [this] { return scale; };
    c.setUiScale = [this](float s) { calls.push_back("scale " + std::to_string(s).substr(0, 4)); };
    c.getAccentIndex = [this] { return accent; };
    c.setAccentIndex = [this](int i) { calls.push_back("accent " + std::to_string(i)); };
    c.hasLearnedTarget = [this] { return hasTarget; };
    c.clearLearnedTarget = [this] { calls.push_back("clear"); };
    c.addExtraItems = [](IPopupMenu& m) {
      m.AddItem("Check for updates", -1, IPopupMenu::Item::kChecked);
      m.AddSeparator();
    };
    c.extraChoice = [this](int i) { calls.push_back("extra " + std::to_string(i)); };
    kebab = static_cast<KebabMenuControl*>(g.AttachControl(new KebabMenuControl(c, "0.9.14")));
  }
};

TEST_F(MainMenu, ListsAccentsScalesClearingUpdatesAndTheVersionInFixedPositions)
{
  accent = 3;
  scale = 1.49f;
  kebab->BuildMainMenu(IRECT(681, 5, 701, 26));
  EXPECT_EQ(Describe(kebab->Menu()),
            (std::vector<std::string>{"Green", "Red", "Orange", "Blue [x]", "Purple", "DAW color", "-",
                                      "Window 0.75x", "Window 1x", "Window 1.5x [x]", "Window 2x", "-",
                                      "Clear learned target (use the balanced target) (off)", "-",
                                      "Check for updates [x]", "-", "Morvellan 0.9.14 (off)"}));

  scale = 1.47f; // more than 0.02 from every row
  hasTarget = true;
  kebab->BuildMainMenu(IRECT());
  for (int row = 7; row <= 10; ++row)
    EXPECT_FALSE(kebab->Menu().GetItem(row)->GetChecked()) << row;
  EXPECT_TRUE(kebab->Menu().GetItem(12)->GetEnabled());
}

TEST_F(MainMenu, EachPositionDoesItsOwnThingAndTheRestNothing)
{
  kebab->BuildMainMenu(IRECT());
  IPopupMenu& m = kebab->Menu();
  for (int p : {0, 5, 6, 7, 10, 11, 12, 13, 14, 15, 16})
    Choose(*kebab, m, p);
  kebab->OnPopupMenuSelection(nullptr, kNoValIdx);
  EXPECT_EQ(calls, (std::vector<std::string>{"accent 0", "accent 5", "scale 0.75", "scale 2.00", "clear", "extra 0",
                                             "extra 1"}));
}

struct LearnMenu : ::testing::Test
{
  iplug::IEditorDelegate dlg{0};
  IGraphics g{dlg, 720, 532, 60, 1.f};
  LearnPillControl::State state;
  std::vector<morvellan::offline::SavedTarget> users;
  std::vector<std::string> calls;
  LearnPillControl* pill = nullptr;
  IPopupMenu* menu = nullptr;
  double clock = 0.;

  void SetUp() override
  {
    LearnPillCallbacks c;
    c.state = [this] { return state; };
    c.learnFromInput = [this] { calls.push_back("input"); };
    c.chooseReferenceFile = [this] { calls.push_back("file"); };
    c.cancelLearning = [this] { calls.push_back("cancel"); };
    c.clearLearnedTarget = [this] { calls.push_back("clear"); };
    c.userTargets = [this] { return users; };
    c.factoryTargets = [] {
      morvellan::offline::SavedTarget t;
      t.name = "Male speech";
      t.factory = true;
      return std::vector<morvellan::offline::SavedTarget>{t};
    };
    c.applyTarget = [this](const morvellan::offline::SavedTarget& t) { calls.push_back("apply " + t.name); };
    c.deleteTarget = [this](const morvellan::offline::SavedTarget& t) { calls.push_back("delete " + t.name); };
    pill = static_cast<LearnPillControl*>(g.AttachControl(
        new LearnPillControl(IRECT(470, 49, 582, 79), IText(11.5f), IText(13.f), IColor(255, 21, 232, 121), c)));
  }

  // Opens the pill's menu as a click does and describes it.
  std::vector<std::string> Open()
  {
    clock += 1000.; // never a double click
    g.OnMouseDown(500, 60, IMouseMod(true), clock);
    menu = g.GetOpenMenu();
    return menu ? Describe(*menu) : std::vector<std::string>{};
  }
};

TEST_F(LearnMenu, OffersWhatTheStateAllows)
{
  EXPECT_EQ(Open(), (std::vector<std::string>{"Learn from input", "Learn from reference file\xE2\x80\xA6", "-",
                                               "Factory targets >", "Load target (off) >",
                                               "Save target\xE2\x80\xA6 (off)", "Delete target (off) >"}));
  g.DismissMenu();

  users.resize(1);
  users[0].name = "Mine";
  state = {false, false, true, 0.f}; // analysing a file
  EXPECT_EQ(Open(), (std::vector<std::string>{"Learn from input (off)",
                                               "Learn from reference file\xE2\x80\xA6 (off)", "-",
                                               "Factory targets (off) >", "Load target (off) >",
                                               "Save target\xE2\x80\xA6 (off)", "Delete target >"}));
  g.DismissMenu();

  state = {false, true, false, 0.f}; // a target held
  auto rows = Open();
  EXPECT_EQ(std::vector<std::string>(rows.end() - 2, rows.end()),
            (std::vector<std::string>{"-", "Clear learned target (use the balanced target)"}));
  EXPECT_EQ(rows[5], "Save target\xE2\x80\xA6");
  g.DismissMenu();

  state = {true, true, false, 0.5f}; // learning with a target held
  rows = Open();
  EXPECT_EQ(std::vector<std::string>(rows.end() - 2, rows.end()), (std::vector<std::string>{"-", "Cancel learning"}));
}

TEST_F(LearnMenu, ChoicesReachTheirCallbacksByTagOrText)
{
  users.resize(2);
  users[0].name = "First";
  users[1].name = "Second";
  state = {false, true, false, 0.f};
  const std::vector<std::vector<int>> choices{{3, 0}, {4, 1}, {6, 0}, {0}, {1}, {8}};
  for (const auto& path : choices)
  {
    Open();
    ASSERT_TRUE(g.ChooseFromOpenMenu(path));
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"apply Male speech", "apply Second", "delete First", "input", "file",
                                             "clear"}));

  // A tag beyond the cached lists, or a text nobody knows, does nothing.
  calls.clear();
  IPopupMenu stale;
  stale.AddItem("Male speech", LearnPillControl::kFactoryTag + 1);
  stale.AddItem("Something else");
  Choose(*pill, stale, 0);
  Choose(*pill, stale, 1);
  EXPECT_TRUE(calls.empty());
}

TEST(LearnPillLabel, FollowsLearningAnalysingAndTheTargetInThatOrder)
{
  EXPECT_EQ(LearnPillControl::LabelFor({true, true, true, 0.424f}), "LEARNING 42%");
  EXPECT_EQ(LearnPillControl::LabelFor({true, false, false, 1.f}), "LEARNING 100%");
  EXPECT_EQ(LearnPillControl::LabelFor({true, false, false, -0.f / 0.f}), "LEARNING 0%");
  EXPECT_EQ(LearnPillControl::LabelFor({false, true, true, 0.f}), "ANALYSING");
  EXPECT_EQ(LearnPillControl::LabelFor({false, true, false, 0.f}), "LEARNED");
  EXPECT_EQ(LearnPillControl::LabelFor({}), "LEARN TARGET");
}

} // namespace

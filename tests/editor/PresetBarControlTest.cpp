// The maker's preset bar: its part geometry, stepping, the list menu, the two-click
// delete, the name prompt and redrawing on a change of preset.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "halvorsted/controls/EllipsisFit.h"
#include "halvorsted/controls/PresetBarControl.h"

using namespace iplug::igraphics;
using halvorsted::controls::PresetBarControl;

namespace
{

// What the bar asked of the plug-in.
struct FakePresets
{
  std::vector<std::string> names;
  std::string current;
  bool modified = false;
  int listCalls = 0;
  std::vector<std::string> selected, saved, deleted;

  PresetBarControl::Callbacks Callbacks()
  {
    PresetBarControl::Callbacks c;
    c.listPresetNames = [this] { ++listCalls; return names; };
    c.currentPresetName = [this] { return current; };
    c.selectPreset = [this](const std::string& n) { selected.push_back(n); };
    c.savePreset = [this](const std::string& n) { saved.push_back(n); };
    c.deletePreset = [this](const std::string& n) { deleted.push_back(n); };
    c.isModified = [this] { return modified; };
    return c;
  }
};

PresetBarControl::Style BarStyle()
{
  PresetBarControl::Style s;
  s.colours = {IColor(255, 20, 20, 20), IColor(77, 250, 250, 250), IColor(255, 250, 250, 250),
               IColor(107, 250, 250, 250), IColor(20, 250, 250, 250), IColor(255, 255, 157, 46)};
  s.text = IText(11.f, IColor(255, 250, 250, 250), "Roboto-Regular");
  s.background = IColor(255, 17, 17, 17);
  s.bottomLine = IColor(26, 250, 250, 250);
  s.paddingLeft = 28.f;
  s.paddingRight = 24.f;
  return s;
}

void ExpectRect(const IRECT& r, float l, float t, float rr, float b)
{
  EXPECT_NEAR(r.L, l, 0.005f);
  EXPECT_NEAR(r.T, t, 0.005f);
  EXPECT_NEAR(r.R, rr, 0.005f);
  EXPECT_NEAR(r.B, b, 0.005f);
}

struct PresetBar : ::testing::Test
{
  iplug::IEditorDelegate dlg{1};
  IGraphics g{dlg, 720, 532, 60, 1.f};
  FakePresets presets;
  int menuOpens = 0;
  PresetBarControl* bar = nullptr;
  double clock = 0.;

  void SetUp() override
  {
    presets.names = {"Air", "Body", "Crisp"};
    bar = static_cast<PresetBarControl*>(g.AttachControl(
      new PresetBarControl(IRECT(0, 0, 720, 32), BarStyle(), presets.Callbacks(), [this](const IRECT&) { ++menuOpens; }),
      4));
    g.EnableMouseOver(true);
  }
  IRECT Part(int p) const { return bar->PartRects()[size_t(p - 1)]; }
  // Far apart in time, so two clicks never make a double click.
  void ClickPart(int p)
  {
    const IRECT r = Part(p);
    clock += 1000.;
    g.OnMouseDown(r.MW(), r.MH(), IMouseMod(true), clock);
    g.OnMouseUp(r.MW(), r.MH(), IMouseMod(true));
  }
  void HoverPart(int p) { g.OnMouseMove(Part(p).MW(), Part(p).MH(), IMouseMod()); }
};

} // namespace

TEST_F(PresetBar, PartsOfTheFullWidthBarLieWhereTheirSizesPutThem)
{
  // inset 0.18 * 32 = 5.76, s = 20.48, name field 210 wide at scale 1.
  ExpectRect(Part(1), 22.27f, 5.76f, 42.75f, 26.24f);
  ExpectRect(Part(2), 42.75f, 5.76f, 252.75f, 26.24f);
  ExpectRect(Part(3), 252.75f, 5.76f, 273.23f, 26.24f);
  ExpectRect(Part(4), 283.47f, 5.76f, 353.10f, 26.24f);
  ExpectRect(Part(5), 356.37f, 5.76f, 426.01f, 26.24f);
  ExpectRect(Part(6), 429.28f, 5.76f, 498.92f, 26.24f);
  ExpectRect(Part(7), 681.05f, 5.76f, 701.53f, 26.24f);

  // Half-open parts; the space between the arrow and "Save" is no part.
  EXPECT_EQ(bar->HitPart(22.27f, 16.f), 1);
  EXPECT_EQ(bar->HitPart(22.26f, 16.f), 0);
  EXPECT_EQ(bar->HitPart(30.f, 5.77f), 1);
  EXPECT_EQ(bar->HitPart(30.f, 26.25f), 0);
  EXPECT_EQ(bar->HitPart(278.f, 16.f), 0);
  EXPECT_EQ(bar->HitPart(701.52f, 16.f), 7);
  EXPECT_EQ(bar->HitPart(701.54f, 16.f), 0);

  // No menu callback: no menu button, and the name field takes what a narrow bar leaves
  // (376 - 22.2656 - 266.6496 = 87.08).
  PresetBarControl narrow(IRECT(0, 0, 400, 32), BarStyle(), {});
  ExpectRect(narrow.PartRects()[6], 0, 0, 0, 0);
  ExpectRect(narrow.PartRects()[1], 42.75f, 5.76f, 129.83f, 26.24f);
  EXPECT_EQ(narrow.HitPart(0.f, 0.f), 0);

  // A title moves the row right by 120 units.
  auto titled = BarStyle();
  titled.title = "PRESETS";
  PresetBarControl withTitle(IRECT(0, 0, 720, 32), titled, {}, [](const IRECT&) {});
  ExpectRect(withTitle.PartRects()[0], 142.27f, 5.76f, 162.75f, 26.24f);
}

TEST_F(PresetBar, ArrowsStepThroughTheListWrappingAtBothEnds)
{
  presets.current = "Crisp";
  ClickPart(3);
  presets.current = "Air";
  ClickPart(1);
  presets.current = "Body";
  ClickPart(3);
  // A current name that is not listed steps to the last name backwards, the first forwards.
  presets.current = "Gone";
  ClickPart(1);
  ClickPart(3);
  EXPECT_EQ(presets.selected, (std::vector<std::string>{"Air", "Crisp", "Crisp", "Crisp", "Air"}));

  // With no presets the arrows and the name field do nothing.
  presets.names.clear();
  presets.selected.clear();
  ClickPart(1);
  ClickPart(3);
  ClickPart(2);
  EXPECT_TRUE(presets.selected.empty());
  EXPECT_FALSE(g.IsMenuOpen());
}

TEST_F(PresetBar, TheNameFieldListsPresetsAsTheyWereWhenTheMenuOpened)
{
  presets.current = "Body";
  ClickPart(2);
  ASSERT_TRUE(g.IsMenuOpen());
  IPopupMenu* menu = g.GetOpenMenu();
  ASSERT_EQ(menu->NItems(), 3);
  EXPECT_STREQ(menu->GetItemText(2), "Crisp");
  EXPECT_FALSE(menu->GetItem(0)->GetChecked());
  EXPECT_TRUE(menu->GetItem(1)->GetChecked());

  // A preset added on disk meanwhile does not shift the choice.
  presets.names.insert(presets.names.begin(), "Aardvark");
  EXPECT_TRUE(g.ChooseFromOpenMenu({2}));
  EXPECT_EQ(presets.selected, std::vector<std::string>{"Crisp"});

  ClickPart(2);
  g.DismissMenu();
  EXPECT_EQ(presets.selected.size(), 1u);
}

TEST_F(PresetBar, DeleteNeedsASecondClickThatNothingElseCameBetween)
{
  presets.current = "Body";
  ClickPart(6);
  EXPECT_TRUE(presets.deleted.empty());
  const int listsBefore = presets.listCalls;
  ClickPart(6);
  EXPECT_EQ(presets.deleted, std::vector<std::string>{"Body"});
  EXPECT_GT(presets.listCalls, listsBefore);

  // A click on another part disarms.
  presets.deleted.clear();
  ClickPart(6);
  ClickPart(4);
  ClickPart(6);
  EXPECT_TRUE(presets.deleted.empty());

  // So does moving off the armed button (it is armed by the last click above).
  HoverPart(6);
  HoverPart(5);
  ClickPart(6);
  EXPECT_TRUE(presets.deleted.empty());

  // And the mouse leaving the bar.
  g.OnMouseOutOfWindow();
  ClickPart(6);
  EXPECT_TRUE(presets.deleted.empty());

  // A change of preset: the armed name is no longer the current one.
  presets.current = "Air";
  ClickPart(6);
  EXPECT_TRUE(presets.deleted.empty());
  ClickPart(6);
  EXPECT_EQ(presets.deleted, std::vector<std::string>{"Air"});

  // Nothing to delete without a current preset.
  presets.current.clear();
  ClickPart(6);
  ClickPart(6);
  EXPECT_EQ(presets.deleted.size(), 1u);
}

TEST_F(PresetBar, SaveUsesTheCurrentNameAndSaveAsPromptsForATrimmedOne)
{
  ClickPart(4);
  EXPECT_TRUE(presets.saved.empty());
  presets.current = "Body";
  ClickPart(4);
  EXPECT_EQ(presets.saved, std::vector<std::string>{"Body"});
  EXPECT_FALSE(g.IsTextEntryOpen());

  // The prompt is 220 wide around the name field's centre (42.75 + 105 = 147.75).
  presets.saved.clear();
  ClickPart(5);
  ASSERT_TRUE(g.IsTextEntryOpen());
  EXPECT_EQ(g.GetTextEntryText(), "Body");
  ExpectRect(*g.GetTextEntryBounds(), 37.75f, 5.76f, 257.75f, 26.24f);
  g.CommitTextEntry(" \t \t ");
  EXPECT_TRUE(presets.saved.empty());

  ClickPart(5);
  g.CommitTextEntry("\t  Late night mix \t");
  EXPECT_EQ(presets.saved, std::vector<std::string>{"Late night mix"});

  // Names up to 80 characters get through the prompt.
  ClickPart(5);
  g.CommitTextEntry(std::string(100, 'x').c_str());
  ASSERT_EQ(presets.saved.size(), 2u);
  EXPECT_EQ(presets.saved[1], std::string(80, 'x'));
}

TEST_F(PresetBar, AChangeOfPresetNameRedrawsTheBarWithoutAnyMarkChange)
{
  presets.current = "Air";
  g.OnFrame();
  EXPECT_TRUE(g.OnFrame().Degenerate());

  // Restored from the host or saved under another name: only the name differs.
  presets.current = "Body";
  const IRECT drawn = g.OnFrame();
  EXPECT_FALSE(drawn.Degenerate());
  EXPECT_LE(drawn.T, 0.f);
  EXPECT_GE(drawn.B, 32.f);
  EXPECT_TRUE(g.OnFrame().Degenerate());
}

TEST(EllipsisFit, NamesAreShortenedAtCharacterBoundaries)
{
  using halvorsted::controls::FitWithEllipsis;
  // Ten units a character, whatever its byte length.
  auto measure = [](const std::string& s) {
    float w = 0.f;
    for (unsigned char c : s)
      if ((c & 0xC0) != 0x80)
        w += 10.f;
    return w;
  };
  const std::string name = "Bj\xC3\xB6rk \xE2\x86\x92 live"; // "Björk → live", 12 characters
  EXPECT_EQ(FitWithEllipsis(name, 120.f, measure), name);
  // Room for 8 characters keeps all three bytes of the arrow; one unit less drops them all.
  EXPECT_EQ(FitWithEllipsis(name, 80.f, measure), "Bj\xC3\xB6rk \xE2\x86\x92\xE2\x80\xA6");
  EXPECT_EQ(FitWithEllipsis(name, 79.f, measure), "Bj\xC3\xB6rk \xE2\x80\xA6");
  // A cut right after the two-byte "ö" keeps both its bytes.
  EXPECT_EQ(FitWithEllipsis(name, 40.f, measure), "Bj\xC3\xB6\xE2\x80\xA6");
  EXPECT_EQ(FitWithEllipsis(name, 10.f, measure), "\xE2\x80\xA6");
  EXPECT_EQ(FitWithEllipsis(name, 3.f, measure), "\xE2\x80\xA6");
}

// The maker's preset bar: part geometry, stepping, the list menu, the two-click delete,
// the name prompt, redrawing on a change of preset, and shortened names.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "halvorsted/controls/EllipsisFit.h"
#include "halvorsted/controls/PresetBarControl.h"

using namespace iplug::igraphics;
using halvorsted::controls::PresetBarControl;
using Names = std::vector<std::string>;

namespace
{

PresetBarControl::Style BarStyle()
{
  PresetBarControl::Style s;
  s.text = IText(11.f, IColor(255, 250, 250, 250));
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
  Names names{"Air", "Body", "Crisp"};
  std::string current;
  int listCalls = 0;
  Names selected, saved, deleted;
  PresetBarControl* bar = nullptr;
  double clock = 0.;

  void SetUp() override
  {
    PresetBarControl::Callbacks c;
    c.listPresetNames = [this] { ++listCalls; return names; };
    c.currentPresetName = [this] { return current; };
    c.selectPreset = [this](const std::string& n) { selected.push_back(n); };
    c.savePreset = [this](const std::string& n) { saved.push_back(n); };
    c.deletePreset = [this](const std::string& n) { deleted.push_back(n); };
    bar = static_cast<PresetBarControl*>(
      g.AttachControl(new PresetBarControl(IRECT(0, 0, 720, 32), BarStyle(), c, [](const IRECT&) {}), 4));
    g.EnableMouseOver(true);
  }
  IRECT Part(int p) const { return bar->PartRects()[size_t(p - 1)]; }
  // Far apart in time, so two clicks never make a double click.
  void ClickPart(int p)
  {
    clock += 1000.;
    g.OnMouseDown(Part(p).MW(), Part(p).MH(), IMouseMod(true), clock);
    g.OnMouseUp(Part(p).MW(), Part(p).MH(), IMouseMod(true));
  }
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
  // Half-open parts; the space before "Save" is no part.
  EXPECT_EQ(bar->HitPart(22.27f, 16.f), 1);
  EXPECT_EQ(bar->HitPart(22.26f, 16.f), 0);
  EXPECT_EQ(bar->HitPart(30.f, 26.25f), 0);
  EXPECT_EQ(bar->HitPart(278.f, 16.f), 0);
  EXPECT_EQ(bar->HitPart(701.52f, 16.f), 7);

  // Without a menu callback there is no menu button, and a narrow bar leaves the name
  // field 376 - 22.27 - 266.65 = 87.08 units.
  PresetBarControl narrow(IRECT(0, 0, 400, 32), BarStyle(), {});
  ExpectRect(narrow.PartRects()[6], 0, 0, 0, 0);
  ExpectRect(narrow.PartRects()[1], 42.75f, 5.76f, 129.83f, 26.24f);
}

TEST_F(PresetBar, ArrowsAndTheListSelectPresets)
{
  current = "Crisp";
  ClickPart(3); // wraps to the first
  current = "Air";
  ClickPart(1); // wraps to the last
  current = "Gone";
  ClickPart(1); // not listed: backwards gives the last, forwards the first
  ClickPart(3);
  EXPECT_EQ(selected, (Names{"Air", "Crisp", "Crisp", "Air"}));

  // The menu checks the current name; a preset added meanwhile does not shift the choice.
  selected.clear();
  current = "Body";
  ClickPart(2);
  ASSERT_TRUE(g.IsMenuOpen());
  ASSERT_EQ(g.GetOpenMenu()->NItems(), 3);
  EXPECT_TRUE(g.GetOpenMenu()->GetItem(1)->GetChecked());
  EXPECT_FALSE(g.GetOpenMenu()->GetItem(2)->GetChecked());
  names.insert(names.begin(), "Aardvark");
  EXPECT_TRUE(g.ChooseFromOpenMenu({2}));
  EXPECT_EQ(selected, Names{"Crisp"});

  // With no presets the arrows and the name field do nothing.
  names.clear();
  ClickPart(1);
  ClickPart(3);
  ClickPart(2);
  EXPECT_EQ(selected.size(), 1u);
  EXPECT_FALSE(g.IsMenuOpen());
}

TEST_F(PresetBar, DeleteNeedsASecondClickThatNothingElseCameBetween)
{
  current = "Body";
  ClickPart(6);
  EXPECT_TRUE(deleted.empty());
  const int lists = listCalls;
  ClickPart(6);
  EXPECT_EQ(deleted, Names{"Body"});
  EXPECT_GT(listCalls, lists);

  ClickPart(6);
  ClickPart(4); // a click elsewhere disarms
  ClickPart(6);
  g.OnMouseMove(Part(5).MW(), Part(5).MH(), IMouseMod()); // so does moving off the button
  ClickPart(6);
  g.OnMouseOutOfWindow(); // and leaving the bar
  ClickPart(6);
  current = "Air"; // armed for another name
  ClickPart(6);
  EXPECT_EQ(deleted, Names{"Body"});
  ClickPart(6);
  EXPECT_EQ(deleted, (Names{"Body", "Air"}));

  current.clear();
  ClickPart(6);
  ClickPart(6);
  EXPECT_EQ(deleted.size(), 2u);
}

TEST_F(PresetBar, SaveUsesTheCurrentNameAndSaveAsPromptsForATrimmedOne)
{
  ClickPart(4);
  current = "Body";
  ClickPart(4);
  EXPECT_EQ(saved, Names{"Body"});
  EXPECT_FALSE(g.IsTextEntryOpen());

  // 220 wide around the name field's centre, 147.75.
  ClickPart(5);
  ASSERT_TRUE(g.IsTextEntryOpen());
  EXPECT_EQ(g.GetTextEntryText(), "Body");
  ExpectRect(*g.GetTextEntryBounds(), 37.75f, 5.76f, 257.75f, 26.24f);
  g.CommitTextEntry(" \t \t ");
  ClickPart(5);
  g.CommitTextEntry("\t  Late night mix \t");
  ClickPart(5);
  g.CommitTextEntry(std::string(100, 'x').c_str());
  EXPECT_EQ(saved, (Names{"Body", "Late night mix", std::string(80, 'x')}));
}

TEST_F(PresetBar, AChangeOfPresetNameAloneRedrawsTheBar)
{
  current = "Air";
  g.OnFrame();
  EXPECT_TRUE(g.OnFrame().Degenerate());
  // A host restore or a save under another name: the modified mark stays as it was.
  current = "Body";
  const IRECT drawn = g.OnFrame();
  EXPECT_LE(drawn.T, 0.f);
  EXPECT_GE(drawn.B, 32.f);
  EXPECT_TRUE(g.OnFrame().Degenerate());
}

TEST(EllipsisFit, NamesAreShortenedAtCharacterBoundaries)
{
  using halvorsted::controls::FitWithEllipsis;
  // Ten units a character, whatever its byte length.
  auto measure = [](const std::string& s) {
    return 10.f * float(std::count_if(s.begin(), s.end(), [](unsigned char c) { return (c & 0xC0) != 0x80; }));
  };
  const std::string name = "Bj\xC3\xB6rk \xE2\x86\x92 live"; // 12 characters
  EXPECT_EQ(FitWithEllipsis(name, 120.f, measure), name);
  // Room for 8 characters keeps all three bytes of the arrow; one unit less drops them all.
  EXPECT_EQ(FitWithEllipsis(name, 80.f, measure), "Bj\xC3\xB6rk \xE2\x86\x92\xE2\x80\xA6");
  EXPECT_EQ(FitWithEllipsis(name, 79.f, measure), "Bj\xC3\xB6rk \xE2\x80\xA6");
  EXPECT_EQ(FitWithEllipsis(name, 40.f, measure), "Bj\xC3\xB6\xE2\x80\xA6");
  EXPECT_EQ(FitWithEllipsis(name, 3.f, measure), "\xE2\x80\xA6");
}

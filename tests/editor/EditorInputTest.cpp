// Quick clicks on controls that have no double click, and value entries committed
// untouched, over the plug-in's own parameter table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LearnPillControl.h"
#include "PlatformServices.h"
#include "TempFolder.h"
#include "ToneDisplayRig.h"
#include "ValueCaptionControl.h"
#include "halvorsted/controls/PresetBarControl.h"
#include "halvorsted/controls/UpdatePillControl.h"
#include "halvorsted/updates/UpdateCheck.h"

using namespace iplug::igraphics;
using Names = std::vector<std::string>;

namespace
{

// A press 100 ms after the last one on the same spot: the framework's double click.
void QuickClick(DisplayRig& rig, const IRECT& r)
{
  rig.clock += 100.0;
  rig.g.OnMouseDown(r.MW(), r.MH(), IMouseMod(true), rig.clock);
  rig.g.OnMouseUp(r.MW(), r.MH(), IMouseMod(true));
}

void ClickTwiceQuickly(DisplayRig& rig, const IRECT& r)
{
  rig.Click(r.MW(), r.MH());
  QuickClick(rig, r);
}

TEST(QuickClicks, CountTwiceOnControlsWithoutADoubleClickAndTheDisplaysResetsStay)
{
  TempFolder temp; // the update pill's offer, outliving the controls
  WriteBytes(temp.Path() / "updates.json",
             halvorsted::updates::BuildStateText({1, R"({"morvellan":{"version":"0.9.15","page":"/get"}})"}));
  halvorsted::updates::UpdateCheck check({"morvellan", "0.9.14", temp.Path(), "", nullptr,
                                          [](const std::string&) { return halvorsted::platform::HttpResult{}; },
                                          nullptr});
  DisplayRig rig;
  const IText text(11.f, IColor(255, 250, 250, 250), "Roboto-Regular");

  Names names{"A", "B", "C", "D"}, deleted, opened;
  std::string current = "A";
  int menus = 0;
  halvorsted::controls::PresetBarControl::Callbacks bar;
  bar.listPresetNames = [&] { return names; };
  bar.currentPresetName = [&] { return current; };
  bar.selectPreset = [&](const std::string& n) { current = n; };
  bar.deletePreset = [&](const std::string& n) { deleted.push_back(n); };
  auto* presets = new halvorsted::controls::PresetBarControl(IRECT(0, 0, 720, 32), {}, bar,
                                                             [&](const IRECT&) { ++menus; });
  rig.g.AttachControl(presets);
  const auto parts = presets->PartRects();
  ClickTwiceQuickly(rig, parts[2]); // next arrow
  EXPECT_EQ(current, "C");
  ClickTwiceQuickly(rig, parts[5]); // "Delete", then "Sure?"
  EXPECT_EQ(deleted, Names{"C"});
  ClickTwiceQuickly(rig, parts[6]); // menu button
  EXPECT_EQ(menus, 2);

  ClickTwiceQuickly(rig, rig.display->ModeToggleRect()); // flipped twice, back to MATCH
  EXPECT_EQ(rig.display->Mode(), ToneDisplayControl::kModeMatch);
  // A target band's dot still resets to its defaults on a double click.
  rig.dlg.Set(kLowTarget, 6.0);
  rig.dlg.Set(kLowFreq, 80.0);
  float x, y;
  rig.display->TargetHandle(0, x, y);
  rig.DoubleClick(x, y);
  EXPECT_DOUBLE_EQ(rig.dlg.Get(kLowTarget), 0.0);
  EXPECT_NEAR(rig.dlg.Get(kLowFreq), 120.0, 1e-9);

  // The learn pill's menu: opened, closed by a press on the pill, opened again, all quickly.
  auto* learn = new LearnPillControl(IRECT(470, 49, 582, 79), text, text, IColor(255, 92, 200, 255), {});
  rig.g.AttachControl(learn);
  ClickTwiceQuickly(rig, learn->GetRECT());
  EXPECT_FALSE(rig.g.IsMenuOpen());
  QuickClick(rig, learn->GetRECT());
  EXPECT_TRUE(rig.g.IsMenuOpen());
  rig.g.DismissMenu();

  auto* update = new halvorsted::controls::UpdatePillControl(IRECT(300, 49, 460, 79), {{}, {}, {}, text}, &check, {});
  rig.g.AttachControl(update);
  rig.g.OnFrame();
  ScopedOpenUrlHook hook([&](const std::string& url) { return opened.push_back(url), true; });
  ClickTwiceQuickly(rig, update->GetPillRect());
  EXPECT_EQ(opened, Names(2, "https://www.halvorsted.com/get"));
}

TEST(UntouchedEntries, SendNothingAndKeepTheValue)
{
  DisplayRig rig;
  const IText text(11.5f, IColor(107, 250, 250, 250), "Roboto-Regular");
  auto* amount = new morvellan::plugin::ValueCaptionControl(IRECT(117, 423, 227, 437), kAmount, text);
  auto* hp = new morvellan::plugin::ValueCaptionControl(IRECT(14, 498, 104, 512), kHPFreq, text);
  rig.g.AttachControl(amount);
  rig.g.AttachControl(hp);
  rig.dlg.Set(kAmount, 12.5);
  rig.dlg.Set(kHPFreq, 141.421);
  rig.g.OnFrame();
  const IKeyPress enter{"", EVirtualKey::Return, IMouseMod()};

  // Enter on the prefill, then a press elsewhere on it. The press that opens an entry on a
  // bound caption is the framework's gesture; the commits are what is looked at.
  rig.Click(amount->GetRECT().MW(), amount->GetRECT().MH());
  EXPECT_EQ(rig.g.GetTextEntryText(), "12");
  rig.dlg.events.clear();
  rig.g.OnKeyDown(enter);
  EXPECT_TRUE(rig.dlg.events.empty());
  rig.Click(hp->GetRECT().MW(), hp->GetRECT().MH());
  EXPECT_EQ(rig.g.GetTextEntryText(), "141.4");
  rig.dlg.events.clear();
  rig.Click(360.f, 520.f);
  EXPECT_FALSE(rig.g.IsTextEntryOpen());
  // The display's box: its frequency field's prefill "141".
  rig.dlg.Set(kPreEq2Freq, 141.421);
  rig.Click(rig.display->ModeToggleRect().R - 2.f, rig.display->ModeToggleRect().MH());
  float x, y;
  rig.display->PreEqHandle(1, x, y);
  rig.Click(x, y, IMouseMod(false, true));
  rig.Click(rig.display->BandEditorValueRect(0).MW(), rig.display->BandEditorValueRect(0).MH());
  EXPECT_EQ(rig.g.GetTextEntryText(), "141");
  rig.g.OnKeyDown(enter);
  EXPECT_TRUE(rig.dlg.events.empty());
  EXPECT_DOUBLE_EQ(rig.dlg.Get(kAmount), 12.5);
  EXPECT_DOUBLE_EQ(rig.dlg.Get(kHPFreq), 141.421);
  EXPECT_DOUBLE_EQ(rig.dlg.Get(kPreEq2Freq), 141.421);

  // Edited text is sent, even when it names the same number.
  rig.Click(hp->GetRECT().MW(), hp->GetRECT().MH());
  rig.dlg.events.clear();
  rig.g.CommitTextEntry("141.40");
  EXPECT_EQ(rig.dlg.Trace(), "b17 s17 e17");
}

} // namespace

// Quick clicks on controls that have no double click, and value entries committed
// untouched, over the plug-in's own parameter table.
#include <gtest/gtest.h>

#include <memory>
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

// A second press 100 ms after the last one, on the same spot: the framework's double click.
void QuickClick(DisplayRig& rig, float x, float y)
{
  rig.clock += 100.0;
  rig.g.OnMouseDown(x, y, IMouseMod(true), rig.clock);
  rig.g.OnMouseUp(x, y, IMouseMod(true));
}

// Clicked once, then once more at once.
void ClickTwiceQuickly(DisplayRig& rig, const IRECT& r)
{
  rig.Click(r.MW(), r.MH());
  QuickClick(rig, r.MW(), r.MH());
}

TEST(QuickClicks, CountTwiceOnControlsWithoutADoubleClickAndTheDisplaysResetsStay)
{
  // Outlives the controls: the update pill reads it.
  TempFolder temp;
  WriteBytes(temp.Path() / "updates.json",
             halvorsted::updates::BuildStateText(
               {1, "{\"morvellan\":{\"version\":\"0.9.15\",\"page\":\"/morvellan/get\"}}"}));
  halvorsted::updates::UpdateCheck::Config config;
  config.productSlug = "morvellan";
  config.currentVersion = "0.9.14";
  config.dataFolder = temp.Path();
  config.httpGet = [](const std::string&) { return halvorsted::platform::HttpResult{}; };
  halvorsted::updates::UpdateCheck check(std::move(config));

  DisplayRig rig;
  const IText text(11.f, IColor(255, 250, 250, 250), "Roboto-Regular");

  // The preset bar: each part answers a second quick click as a click.
  Names names{"A", "B", "C", "D"}, deleted;
  std::string current = "A";
  int menus = 0;
  halvorsted::controls::PresetBarControl::Callbacks bar;
  bar.listPresetNames = [&] { return names; };
  bar.currentPresetName = [&] { return current; };
  bar.selectPreset = [&](const std::string& n) { current = n; };
  bar.deletePreset = [&](const std::string& n) { deleted.push_back(n); };
  halvorsted::controls::PresetBarControl::Style barStyle;
  barStyle.text = text;
  barStyle.paddingLeft = 28.f;
  barStyle.paddingRight = 24.f;
  auto* presets = new halvorsted::controls::PresetBarControl(IRECT(0, 0, 720, 32), barStyle, bar,
                                                             [&](const IRECT&) { ++menus; });
  rig.g.AttachControl(presets);
  const auto parts = presets->PartRects();
  ClickTwiceQuickly(rig, parts[2]); // next arrow
  EXPECT_EQ(current, "C");
  ClickTwiceQuickly(rig, parts[0]); // previous arrow
  EXPECT_EQ(current, "A");
  ClickTwiceQuickly(rig, parts[5]); // "Delete", then "Sure?"
  EXPECT_EQ(deleted, Names{"A"});
  ClickTwiceQuickly(rig, parts[6]); // menu button
  EXPECT_EQ(menus, 2);

  // The display's mode toggle flips twice, back to MATCH.
  const IRECT toggle = rig.display->ModeToggleRect();
  ClickTwiceQuickly(rig, toggle);
  EXPECT_EQ(rig.display->Mode(), ToneDisplayControl::kModeMatch);

  // A target band's dot still resets on a double click: its gain and frequency defaults.
  rig.dlg.Set(kLowTarget, 6.0);
  rig.dlg.Set(kLowFreq, 80.0);
  float x, y;
  rig.display->TargetHandle(0, x, y);
  rig.DoubleClick(x, y);
  EXPECT_DOUBLE_EQ(rig.dlg.Get(kLowTarget), 0.0);
  EXPECT_NEAR(rig.dlg.Get(kLowFreq), 120.0, 1e-9);

  // The learn pill: open, close by pressing the pill again, open again, all quickly.
  LearnPillCallbacks learn;
  auto* pill = new LearnPillControl(IRECT(470, 49, 582, 79), text, text, IColor(255, 92, 200, 255), learn);
  rig.g.AttachControl(pill);
  ClickTwiceQuickly(rig, pill->GetRECT());
  EXPECT_FALSE(rig.g.IsMenuOpen());
  QuickClick(rig, pill->GetRECT().MW(), pill->GetRECT().MH());
  EXPECT_TRUE(rig.g.IsMenuOpen());
  rig.g.DismissMenu();

  // The update pill opens its page on each of two quick clicks.
  auto* update = new halvorsted::controls::UpdatePillControl(
    IRECT(300, 49, 460, 79), {IColor(255, 252, 120, 92), IColor(255, 253, 146, 124), IColor(255, 10, 10, 10), text},
    &check, nullptr);
  rig.g.AttachControl(update);
  rig.g.OnFrame();
  ASSERT_FALSE(update->GetPillRect().Empty());
  Names opened;
  ScopedOpenUrlHook hook([&](const std::string& url) {
    opened.push_back(url);
    return true;
  });
  ClickTwiceQuickly(rig, update->GetPillRect());
  EXPECT_EQ(opened, Names(2, "https://www.halvorsted.com/morvellan/get"));
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

  // Enter on the prefilled text. (The press that opens an entry is a gesture of the
  // framework's own, for the bound caption; the commit is what is looked at.)
  rig.Click(amount->GetRECT().MW(), amount->GetRECT().MH());
  ASSERT_TRUE(rig.g.IsTextEntryOpen());
  EXPECT_EQ(rig.g.GetTextEntryText(), "12");
  rig.dlg.events.clear();
  rig.g.OnKeyDown(IKeyPress{"", EVirtualKey::Return, IMouseMod()});
  EXPECT_FALSE(rig.g.IsTextEntryOpen());
  EXPECT_TRUE(rig.dlg.events.empty());
  // A press elsewhere commits the entry too.
  rig.Click(hp->GetRECT().MW(), hp->GetRECT().MH());
  ASSERT_TRUE(rig.g.IsTextEntryOpen());
  EXPECT_EQ(rig.g.GetTextEntryText(), "141.4");
  rig.dlg.events.clear();
  rig.Click(360.f, 520.f);
  EXPECT_FALSE(rig.g.IsTextEntryOpen());
  EXPECT_TRUE(rig.dlg.events.empty());
  EXPECT_DOUBLE_EQ(rig.dlg.Get(kAmount), 12.5);
  EXPECT_DOUBLE_EQ(rig.dlg.Get(kHPFreq), 141.421);

  // The display's box: the frequency field's prefill "141" left as it is.
  rig.dlg.Set(kPreEq2Freq, 141.421);
  rig.Click(rig.display->ModeToggleRect().R - 2.f, rig.display->ModeToggleRect().MH());
  float x, y;
  rig.display->PreEqHandle(1, x, y);
  rig.Click(x, y, IMouseMod(false, true));
  const IRECT field = rig.display->BandEditorValueRect(0);
  rig.Click(field.MW(), field.MH());
  ASSERT_EQ(rig.g.GetTextEntryText(), "141");
  rig.dlg.events.clear();
  rig.g.OnKeyDown(IKeyPress{"", EVirtualKey::Return, IMouseMod()});
  EXPECT_TRUE(rig.dlg.events.empty());
  EXPECT_DOUBLE_EQ(rig.dlg.Get(kPreEq2Freq), 141.421);

  // Text that was edited, even back to a number, is sent.
  rig.Click(hp->GetRECT().MW(), hp->GetRECT().MH());
  rig.dlg.events.clear();
  rig.g.CommitTextEntry("141.40");
  EXPECT_EQ(rig.dlg.Trace(), "b17 s17 e17");
  EXPECT_NEAR(rig.dlg.Get(kHPFreq), 141.4, 1e-9);
}

} // namespace

// The in-window text entry, driven through IGraphics as the window drives it.
#include <gtest/gtest.h>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "RecordingControl.h"
#include "Resources.h"

using namespace iplug::igraphics;

namespace
{

class TextEntryTest : public ::testing::Test
{
protected:
  TextEntryTest() : dlg(0), g(dlg, 720, 532, 60, 1.f)
  {
    // Text in any style measures with the embedded face, the same on every machine.
    g.SetResources(MorvellanResources());
    g.LoadFont("Roboto-Regular", "Roboto-Regular.ttf");
    owner = static_cast<RecordingControl*>(g.AttachControl(new RecordingControl(kBox, ownerRecord)));
    other = static_cast<RecordingControl*>(
      g.AttachControl(new RecordingControl(IRECT(300.f, 300.f, 400.f, 400.f), otherRecord)));
  }

  void Open(const char* initial, int maxChars = 16)
  {
    owner->SetTextEntryLength(maxChars);
    g.CreateTextEntry(*owner, IText(12.f), kBox, initial, 5);
    ASSERT_TRUE(g.IsTextEntryOpen());
  }
  void Type(const char* utf8, IMouseMod mods = IMouseMod()) { g.OnKeyDown(IKeyPress{utf8, EVirtualKey::None, mods}); }
  void Key(EVirtualKey vk, IMouseMod mods = IMouseMod()) { g.OnKeyDown(IKeyPress{"", vk, mods}); }

  const IRECT kBox{20.f, 20.f, 220.f, 44.f};
  iplug::IEditorDelegate dlg;
  IGraphics g;
  ControlRecord ownerRecord, otherRecord;
  RecordingControl* owner = nullptr;
  RecordingControl* other = nullptr;
};

TEST_F(TextEntryTest, TypingReplacesTheInitialTextAndReturnOrTabCommitsItUntrimmed)
{
  Open("old name");
  EXPECT_EQ(g.GetTextEntryText(), "old name");
  ASSERT_NE(g.GetTextEntryBounds(), nullptr);
  EXPECT_EQ(*g.GetTextEntryBounds(), kBox);
  Type(" ");
  Type("x");
  Type(" ");
  EXPECT_TRUE(ownerRecord.texts.empty());
  Key(EVirtualKey::Return);
  ASSERT_EQ(ownerRecord.texts.size(), 1u);
  EXPECT_EQ(ownerRecord.texts[0], " x ");
  EXPECT_EQ(ownerRecord.textValIdx[0], 5);
  EXPECT_FALSE(g.IsTextEntryOpen());
  EXPECT_EQ(g.GetTextEntryBounds(), nullptr);

  Open("12,5 dB");
  Key(EVirtualKey::Tab);
  ASSERT_EQ(ownerRecord.texts.size(), 2u);
  EXPECT_EQ(ownerRecord.texts[1], "12,5 dB");

  // Escape closes with no call at all.
  Open("kept");
  Type("q");
  Key(EVirtualKey::Escape);
  EXPECT_FALSE(g.IsTextEntryOpen());
  EXPECT_EQ(ownerRecord.texts.size(), 2u);
  // Keys after closing go nowhere.
  EXPECT_FALSE(g.OnKeyDown(IKeyPress{"", EVirtualKey::Return, IMouseMod()}));
  EXPECT_EQ(ownerRecord.texts.size(), 2u);
}

TEST_F(TextEntryTest, TheLengthLimitCountsCharactersNotBytes)
{
  // "€" is three bytes and "é" two; each counts once.
  Open("\u20ac\u20ac\u20ac\u20ac", 3);
  EXPECT_EQ(g.GetTextEntryText(), "\u20ac\u20ac\u20ac");
  Type("a"); // replaces the selection
  Type("\u00e9");
  Type("\u20ac");
  Type("b"); // a fourth character: ignored
  EXPECT_EQ(g.GetTextEntryText(), "a\u00e9\u20ac");

  // Erasing takes whole characters; a pasted run is let in as far as it fits.
  Key(EVirtualKey::Back);
  EXPECT_EQ(g.GetTextEntryText(), "a\u00e9");
  Type("xyz");
  EXPECT_EQ(g.GetTextEntryText(), "a\u00e9x");
  Key(EVirtualKey::Left);
  Key(EVirtualKey::Back);
  EXPECT_EQ(g.GetTextEntryText(), "ax");

  g.CommitTextEntry("\u00e9\u00e9\u00e9\u00e9\u00e9");
  ASSERT_EQ(ownerRecord.texts.size(), 1u);
  EXPECT_EQ(ownerRecord.texts[0], "\u00e9\u00e9\u00e9");
}

TEST_F(TextEntryTest, EditingKeysMoveTheCaretAndControlCharactersAreRefused)
{
  Open("abc");
  Key(EVirtualKey::End);
  Key(EVirtualKey::Left);
  Key(EVirtualKey::Left);
  Type("X"); // a|bc
  EXPECT_EQ(g.GetTextEntryText(), "aXbc");
  Key(EVirtualKey::Home);
  Key(EVirtualKey::Delete);
  EXPECT_EQ(g.GetTextEntryText(), "Xbc");
  Key(EVirtualKey::Right);
  Key(EVirtualKey::Back);
  EXPECT_EQ(g.GetTextEntryText(), "bc");
  Key(EVirtualKey::End);
  Key(EVirtualKey::Left, IMouseMod(false, false, true)); // Shift selects the "c"
  Type("Z");
  EXPECT_EQ(g.GetTextEntryText(), "bZ");
  Key(EVirtualKey::Delete); // nothing after the caret
  Key(EVirtualKey::Home);
  Key(EVirtualKey::Back); // nothing before it
  EXPECT_EQ(g.GetTextEntryText(), "bZ");

  Type("\x1b");
  Type("\t");
  Type("1\n2");
  Type("\x7f");
  Type("\xc2\x85"); // U+0085, a C1 line break
  Type("\xff");     // not UTF-8
  Type("q", IMouseMod(false, false, false, true)); // Ctrl+Q types nothing
  EXPECT_EQ(g.GetTextEntryText(), "12bZ");
  Type("a", IMouseMod(false, false, false, true)); // Ctrl+A selects all
  Type("new");
  EXPECT_EQ(g.GetTextEntryText(), "new");
}

TEST_F(TextEntryTest, APressOutsideCommitsAndGoesOnToTheControlThere)
{
  Open("typed");
  g.OnMouseDown(100.f, 30.f, IMouseMod(true), 0.); // inside: only the caret moves
  g.OnMouseUp(100.f, 30.f, IMouseMod(true));
  EXPECT_TRUE(g.IsTextEntryOpen());
  EXPECT_EQ(ownerRecord.presses, 0);

  g.OnMouseDown(350.f, 350.f, IMouseMod(true), 1000.);
  g.OnMouseUp(350.f, 350.f, IMouseMod(true));
  EXPECT_FALSE(g.IsTextEntryOpen());
  ASSERT_EQ(ownerRecord.texts.size(), 1u);
  EXPECT_EQ(ownerRecord.texts[0], "typed");
  EXPECT_EQ(otherRecord.presses, 1);
}

TEST_F(TextEntryTest, AClickInsidePlacesTheCaretAtTheNearestCharacterBoundary)
{
  // Centred, so the text starts half its width left of the box's middle.
  const IText style(12.f, COLOR_WHITE, "Roboto-Regular", EAlign::Center);
  IRECT extent;
  const float left = kBox.MW() - 0.5f * g.MeasureText(style, "Learned", extent);
  const float lea = left + g.MeasureText(style, "Lea", extent);
  const float lear = left + g.MeasureText(style, "Lear", extent);
  ASSERT_GT(lear, lea);

  const auto clickAndType = [&](float x) {
    g.CreateTextEntry(*owner, style, kBox, "Learned");
    g.OnMouseDown(x, kBox.MH(), IMouseMod(true), 0.);
    g.OnMouseUp(x, kBox.MH(), IMouseMod(true));
    Type("X");
    return g.GetTextEntryText();
  };
  EXPECT_EQ(clickAndType(lea + 0.3f * (lear - lea)), "LeaXrned");
  EXPECT_EQ(clickAndType(lea + 0.7f * (lear - lea)), "LearXned");
  EXPECT_EQ(clickAndType(kBox.L + 1.f), "XLearned");
  EXPECT_EQ(clickAndType(kBox.R - 1.f), "LearnedX");
  EXPECT_TRUE(ownerRecord.texts.empty());
}

} // namespace

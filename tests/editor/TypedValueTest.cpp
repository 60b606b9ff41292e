// Numbers typed into the editor, and the value caption that takes them.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "KnobRowTestRig.h"
#include "TypedValue.h"

using namespace iplug::igraphics;
using morvellan::plugin::CommitTypedValue;
using morvellan::plugin::ParseTypedValue;

namespace
{

using Strings = std::vector<std::string>;

struct TypedValues : ::testing::Test, KnobRowTestRig
{
  void SetUp() override { Attach(); }

  // The plain value one commit leaves; the log holds what it sent.
  double Commit(int param, const char* text)
  {
    dlg.log.clear();
    CommitTypedValue(*lpCaption, param, text);
    return dlg.Plain(param);
  }
};

TEST_F(TypedValues, CommasThousandsAndUnitsReadAsOneGestureClampedToTheRange)
{
  EXPECT_NEAR(Commit(kOutput, "12,5"), 12.5, 1e-9);
  EXPECT_EQ(dlg.log, (Strings{"begin 21", "send 21", "end 21"}));
  EXPECT_NEAR(Commit(kOutput, "-3 dB"), -3., 1e-9);
  EXPECT_NEAR(Commit(kOutput, "\t+.5"), 0.5, 1e-9);
  for (const char* text : {"1.5k", "1.5K", "1.5 k", "1,5k", "1500 Hz"})
  {
    Commit(kLPFreq, text);
    // Sent on the parameter's log scale over 1000..20000 Hz.
    EXPECT_NEAR(dlg.lastSent, std::log(1.5) / std::log(20.), 1e-9) << text;
  }
  EXPECT_NEAR(Commit(kLPFreq, "2k5"), 2000., 1e-6);
  EXPECT_DOUBLE_EQ(Commit(kLPFreq, "99999"), 20000.);
  EXPECT_DOUBLE_EQ(Commit(kOutput, "-100"), -24.);
  // Beyond what a double holds: the nearest end, or zero for the tiny.
  EXPECT_DOUBLE_EQ(Commit(kOutput, "1e999"), 24.);
  EXPECT_DOUBLE_EQ(Commit(kOutput, "-1e999k"), -24.);
  EXPECT_DOUBLE_EQ(Commit(kOutput, "0.0001e-400"), 0.);
}

TEST_F(TypedValues, TextThatIsNotADecimalNumberSendsNothing)
{
  Commit(kOutput, "7");
  for (const char* text : {"", " ", "k", "abc", "dB 3", "nan", "-nan", "inf", "Infinity", "0x10", "-0X1p3", "+", ".",
                           "--3", ", k"})
  {
    EXPECT_EQ(Commit(kOutput, text), 7.) << '"' << text << '"';
    EXPECT_TRUE(dlg.log.empty()) << '"' << text << '"';
  }
  EXPECT_FALSE(ParseTypedValue(nullptr).second);
  // Nowhere to send: a negative index, a control that is not attached.
  CommitTypedValue(*lpCaption, -1, "3");
  morvellan::plugin::ValueCaptionControl loose(IRECT(0, 0, 10, 10), kOutput, IText(10.f));
  CommitTypedValue(loose, kOutput, "3");
  EXPECT_TRUE(dlg.log.empty());
}

TEST_F(TypedValues, TheHostsNumericLocaleChangesNothing)
{
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
    GTEST_SKIP() << "no German locale installed";
  // The C library's own reader would stop "12.5" at the point here.
  const auto point = ParseTypedValue("12.5");
  const auto comma = ParseTypedValue("2,5k");
  std::setlocale(LC_NUMERIC, before.c_str());
  EXPECT_EQ(point, std::make_pair(12.5, true));
  EXPECT_EQ(comma, std::make_pair(2500., true));
}

TEST_F(TypedValues, OnlyALeftPressOpensTheEntryWithTheValueAndItsTextIsCommitted)
{
  EXPECT_EQ(lpCaption->GetTextEntryLength(), 16);
  EXPECT_STREQ(lpCaption->GetTooltip(), "Click to type a value");

  g.OnMouseDown(650, 505, IMouseMod(false, true), 0);
  g.OnMouseDown(650, 505, IMouseMod(false, false), 500); // a middle press reaches the caption
  g.OnMouseUp(650, 505, IMouseMod(false, false));
  EXPECT_FALSE(g.IsTextEntryOpen());
  EXPECT_EQ(dlg.log, (Strings{"menu 19", "begin 19", "end 19"}));

  g.OnMouseDown(650, 505, IMouseMod(true), 1000);
  g.OnMouseUp(650, 505, IMouseMod(true));
  ASSERT_TRUE(g.IsTextEntryOpen());
  // The number alone, so the text reads back as it is.
  EXPECT_EQ(g.GetTextEntryText(), "20000.0");
  EXPECT_EQ(*g.GetTextEntryBounds(), lpCaption->GetRECT());

  dlg.log.clear();
  g.CommitTextEntry("1,5 kHz");
  EXPECT_EQ(dlg.log, (Strings{"begin 19", "send 19", "end 19"}));
  EXPECT_NEAR(dlg.Plain(kLPFreq), 1500., 1e-6);
  g.OnFrame();
  EXPECT_DOUBLE_EQ(lpCaption->GetValue(), dlg.GetParam(kLPFreq)->GetNormalized());
}

} // namespace

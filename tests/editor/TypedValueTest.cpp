// Numbers typed into the editor, and the value caption that takes them.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "IGraphics.h"
#include "KnobRowTestDelegate.h"
#include "TypedValue.h"
#include "ValueCaptionControl.h"

using namespace iplug::igraphics;
using morvellan::plugin::CommitTypedValue;
using morvellan::plugin::ParseTypedValue;
using morvellan::plugin::ValueCaptionControl;

namespace
{

using Strings = std::vector<std::string>;

struct TypedValues : ::testing::Test
{
  KnobRowTestDelegate dlg;
  IGraphics g{dlg, 720, 532, 60, 1.f};
  IControl* caption = nullptr;

  void SetUp() override { caption = g.AttachControl(new ValueCaptionControl(IRECT(14, 498, 104, 512), kHPFreq, IText(11.5f))); }

  // The plain value one commit sets, or NaN when nothing was sent.
  double Commit(int param, const char* text)
  {
    dlg.Clear();
    CommitTypedValue(*caption, param, text);
    if (dlg.sends.empty())
      return std::nan("");
    return dlg.GetParam(param)->FromNormalized(dlg.sends.back().normalized);
  }
};

TEST_F(TypedValues, CommasSuffixesAndUnitsReadAsThePartsOfANumberTheyAre)
{
  EXPECT_NEAR(Commit(kOutput, "12,5"), 12.5, 1e-9);
  EXPECT_NEAR(Commit(kOutput, "-3 dB"), -3., 1e-9);
  EXPECT_NEAR(Commit(kOutput, "  +4.5"), 4.5, 1e-9);
  EXPECT_NEAR(Commit(kOutput, ".5"), 0.5, 1e-9);
  for (const char* text : {"1.5k", "1.5K", "1.5 k", "1,5k", "2k5", "1500 Hz"})
  {
    const double expected = std::string(text) == "2k5" ? 2000. : 1500.;
    // The frequency goes out on the parameter's log scale: 1000..20000 Hz.
    dlg.Clear();
    CommitTypedValue(*caption, kLPFreq, text);
    ASSERT_EQ(dlg.sends.size(), 1u) << text;
    EXPECT_NEAR(dlg.sends[0].normalized, std::log(expected / 1000.) / std::log(20.), 1e-9) << text;
  }
}

TEST_F(TypedValues, AnAcceptedValueIsOneGestureAndOutOfRangeNumbersStopAtTheEnds)
{
  dlg.Clear();
  CommitTypedValue(*caption, kOutput, "6");
  EXPECT_EQ(dlg.log, (Strings{"begin 21", "send 21", "end 21"}));

  dlg.Clear();
  CommitTypedValue(*caption, kLPFreq, "99999");
  EXPECT_EQ(dlg.log, (Strings{"begin 19", "send 19", "end 19"}));
  EXPECT_DOUBLE_EQ(dlg.sends[0].normalized, 1.);
  EXPECT_DOUBLE_EQ(dlg.GetParam(kLPFreq)->Value(), 20000.);

  EXPECT_DOUBLE_EQ(Commit(kOutput, "-100"), -24.);
  // Past the double range: the nearest end; far below it: zero.
  EXPECT_DOUBLE_EQ(Commit(kOutput, "1e999"), 24.);
  EXPECT_DOUBLE_EQ(Commit(kOutput, "-1e999k"), -24.);
  EXPECT_DOUBLE_EQ(Commit(kOutput, "1e-999"), 0.);
  EXPECT_DOUBLE_EQ(Commit(kOutput, "0.0000001e-400"), 0.);
  EXPECT_NEAR(Commit(kOutput, "123456e-5"), 1.23456, 1e-9);
}

TEST_F(TypedValues, TextThatIsNotADecimalNumberSendsNothing)
{
  for (const char* text : {"", " ", "k", " k", "abc", "dB 3", "nan", "NaN", "-nan", "inf", "-inf", "Infinity",
                           "0x10", "0X1p3", "-0x1.8p1", "+", "-", ".", "--3", "+-3", ", k"})
  {
    dlg.Clear();
    CommitTypedValue(*caption, kOutput, text);
    EXPECT_TRUE(dlg.log.empty()) << '"' << text << '"';
    EXPECT_FALSE(ParseTypedValue(text).second) << '"' << text << '"';
  }
  EXPECT_FALSE(ParseTypedValue(nullptr).second);

  // Nowhere to send: a negative index, a control that is not attached.
  dlg.Clear();
  CommitTypedValue(*caption, -1, "3");
  ValueCaptionControl loose(IRECT(0, 0, 10, 10), kOutput, IText());
  CommitTypedValue(loose, kOutput, "3");
  EXPECT_TRUE(dlg.log.empty());
}

TEST_F(TypedValues, TheHostsNumericLocaleChangesNothing)
{
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE.utf8"))
    GTEST_SKIP() << "no German locale installed";
  // Under this locale the C library's own reader would stop "12.5" at the point.
  const auto comma = ParseTypedValue("12,5");
  const auto point = ParseTypedValue("12.5");
  const auto thousands = ParseTypedValue("2,5k");
  std::setlocale(LC_NUMERIC, before.c_str());
  EXPECT_TRUE(comma.second && point.second && thousands.second);
  EXPECT_DOUBLE_EQ(comma.first, 12.5);
  EXPECT_DOUBLE_EQ(point.first, 12.5);
  EXPECT_DOUBLE_EQ(thousands.first, 2500.);
}

TEST_F(TypedValues, ALeftPressOnTheCaptionOpensAnEntryWithTheValueAndTheEntryCommitsIt)
{
  auto* lp = g.AttachControl(new ValueCaptionControl(IRECT(616, 498, 706, 512), kLPFreq, IText(11.5f)));
  EXPECT_EQ(lp->GetTextEntryLength(), 16);
  EXPECT_STREQ(lp->GetTooltip(), "Click to type a value");

  // A right press belongs to the host: its menu of the parameter, no entry.
  g.OnMouseDown(650, 505, IMouseMod(false, true), 0);
  g.OnMouseUp(650, 505, IMouseMod(false, true));
  EXPECT_FALSE(g.IsTextEntryOpen());
  EXPECT_EQ(dlg.log, (Strings{"menu 19"}));

  g.OnMouseDown(650, 505, IMouseMod(true), 1000);
  g.OnMouseUp(650, 505, IMouseMod(true));
  ASSERT_TRUE(g.IsTextEntryOpen());
  // The number only, as the parameter shows it: no unit to type over.
  EXPECT_EQ(g.GetTextEntryText(), "20000.0");
  EXPECT_EQ(*g.GetTextEntryBounds(), IRECT(616, 498, 706, 512));

  dlg.Clear();
  g.CommitTextEntry("1,5 kHz");
  EXPECT_EQ(dlg.log, (Strings{"begin 19", "send 19", "end 19"}));
  EXPECT_NEAR(dlg.GetParam(kLPFreq)->Value(), 1500., 1e-6);
  g.OnFrame();
  EXPECT_DOUBLE_EQ(lp->GetValue(), dlg.GetParam(kLPFreq)->GetNormalized());

  // Text that is no number leaves the value as it was.
  g.OnMouseDown(650, 505, IMouseMod(true), 2000);
  g.OnMouseUp(650, 505, IMouseMod(true));
  ASSERT_TRUE(g.IsTextEntryOpen());
  EXPECT_EQ(g.GetTextEntryText(), "1500.0");
  dlg.Clear();
  g.CommitTextEntry("loud");
  EXPECT_TRUE(dlg.log.empty());
  EXPECT_NEAR(dlg.GetParam(kLPFreq)->Value(), 1500., 1e-6);
}

} // namespace

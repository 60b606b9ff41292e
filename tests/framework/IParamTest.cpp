#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "IParam.h"

using iplug::IParam;

namespace
{

TEST(IParam, LinearDoubleMapsStraightAndClamps)
{
  IParam p;
  p.InitDouble("Output", 0., -24., 24., 0.1, "dB");
  EXPECT_STREQ(p.GetName(), "Output");
  EXPECT_STREQ(p.GetLabel(), "dB");
  EXPECT_DOUBLE_EQ(p.Value(), 0.);
  EXPECT_DOUBLE_EQ(p.GetDefault(true), 0.5);
  EXPECT_DOUBLE_EQ(p.ToNormalized(-24.), 0.);
  EXPECT_DOUBLE_EQ(p.ToNormalized(12.), 0.75);
  EXPECT_DOUBLE_EQ(p.FromNormalized(0.25), -12.);
  // Out of range on either side is clamped, not extrapolated.
  EXPECT_DOUBLE_EQ(p.ToNormalized(100.), 1.);
  EXPECT_DOUBLE_EQ(p.FromNormalized(-3.), -24.);
  p.Set(30.);
  EXPECT_DOUBLE_EQ(p.Value(), 24.);
  p.SetNormalized(0.5);
  EXPECT_DOUBLE_EQ(p.Value(), 0.);
  // A continuous parameter is not snapped to its step.
  p.Set(1.234);
  EXPECT_DOUBLE_EQ(p.Value(), 1.234);
  EXPECT_EQ(p.GetNumSteps(), 0);
  EXPECT_TRUE(p.GetCanAutomate());
}

TEST(IParam, ExponentialShapeIsGeometric)
{
  IParam f;
  f.InitFrequency("Low Freq", 120., 60., 300.);
  EXPECT_STREQ(f.GetLabel(), "Hz");
  EXPECT_EQ(f.Unit(), IParam::kUnitFrequency);
  EXPECT_EQ(f.GetShapeKind(), IParam::Shape::kExp);
  // Halfway along the normalised range is the geometric mean of the ends.
  EXPECT_NEAR(f.FromNormalized(0.5), std::sqrt(60. * 300.), 1e-9);
  EXPECT_NEAR(f.ToNormalized(120.), std::log(120. / 60.) / std::log(300. / 60.), 1e-12);
  // Round trip over the whole range.
  for (double v : {60., 75.5, 120., 299.9, 300.})
    EXPECT_NEAR(f.FromNormalized(f.ToNormalized(v)), v, 1e-9 * v);

  IParam q;
  q.InitDouble("Pre-EQ 1 Q", 0.707, 0.3, 10., 0.01, "", 0, "", IParam::ShapeExp());
  EXPECT_STREQ(q.GetLabel(), "");
  EXPECT_NEAR(q.FromNormalized(0.5), std::sqrt(0.3 * 10.), 1e-9);
  EXPECT_NEAR(q.GetDefault(true), std::log(0.707 / 0.3) / std::log(10. / 0.3), 1e-12);
}

TEST(IParam, ExponentialWithNonPositiveMinimumStaysFinite)
{
  IParam p;
  p.InitDouble("odd", 0., 0., 10., 0.1, "", 0, "", IParam::ShapeExp());
  for (double n : {0., 0.3, 1.})
    EXPECT_TRUE(std::isfinite(p.FromNormalized(n)));
  EXPECT_DOUBLE_EQ(p.ToNormalized(5.), 0.5);
}

TEST(IParam, BoolIsASteppedSwitchWithTexts)
{
  IParam s;
  s.InitBool("HP On", true);
  EXPECT_EQ(s.Type(), IParam::kTypeBool);
  EXPECT_TRUE(s.GetStepped());
  EXPECT_EQ(s.GetNumSteps(), 1);
  EXPECT_DOUBLE_EQ(s.GetDefault(), 1.);
  EXPECT_STREQ(s.GetLabel(), "");
  EXPECT_EQ(s.NDisplayTexts(), 2);
  EXPECT_STREQ(s.GetDisplayText(0.), "off");
  EXPECT_STREQ(s.GetDisplayText(1.), "on");
  // Values snap to 0 or 1 at the midpoint.
  s.Set(0.49);
  EXPECT_DOUBLE_EQ(s.Value(), 0.);
  EXPECT_FALSE(s.Bool());
  s.SetNormalized(0.51);
  EXPECT_DOUBLE_EQ(s.Value(), 1.);
  WDL_String text;
  s.GetDisplay(0.7, false, text);
  EXPECT_STREQ(text.Get(), "on");
  s.GetDisplay(0.2, true, text);
  EXPECT_STREQ(text.Get(), "off");
}

TEST(IParam, NotAFiniteNumberGivesTheDefault)
{
  IParam p;
  p.InitDouble("Amount", 50., 0., 100., 1., "%");
  p.Set(20.);
  p.Set(std::numeric_limits<double>::quiet_NaN());
  EXPECT_DOUBLE_EQ(p.Value(), 50.);
  p.Set(20.);
  p.Set(std::numeric_limits<double>::infinity());
  EXPECT_DOUBLE_EQ(p.Value(), 50.);
  p.SetNormalized(std::numeric_limits<double>::quiet_NaN());
  EXPECT_DOUBLE_EQ(p.Value(), 50.);
  EXPECT_DOUBLE_EQ(p.ToNormalized(std::numeric_limits<double>::quiet_NaN()), 0.5);
}

TEST(IParam, FlagsReachTheAccessors)
{
  IParam p;
  p.InitBool("Unused (was Auto Gain)", false, "", IParam::kFlagCannotAutomate);
  EXPECT_FALSE(p.GetCanAutomate());
  IParam r;
  r.InitDouble("Pre-EQ Respect", 50., 0., 100., 1., "%", IParam::kFlagCannotAutomate);
  EXPECT_FALSE(r.GetCanAutomate());
  EXPECT_STREQ(r.GetGroup(), "");
}

TEST(IParam, DisplayUsesTheStepsDecimals)
{
  struct Case
  {
    double step, value;
    const char* expected;
  } cases[] = {
    {1., 49.6, "50"}, {0.5, -40.25, "-40.2"}, {0.1, 1000.04, "1000.0"}, {0.01, 0.7071, "0.71"},
    {0.1, -0.04, "0.0"}, // no "-0.0"
  };
  for (const auto& c : cases)
  {
    IParam p;
    p.InitDouble("x", 0., -10000., 10000., c.step);
    WDL_String text;
    p.GetDisplay(c.value, false, text);
    EXPECT_STREQ(text.Get(), c.expected) << "step " << c.step << " value " << c.value;
  }
}

TEST(IParam, TextToValue)
{
  IParam p;
  p.InitDouble("Tilt", 0., -6., 6., 0.1, "dB/oct");
  double v = 99.;
  EXPECT_TRUE(p.StringToValue("-3.5 dB/oct", v));
  EXPECT_DOUBLE_EQ(v, -3.5);
  EXPECT_FALSE(p.StringToValue("abc", v));
  EXPECT_FALSE(p.StringToValue("nan", v));
  EXPECT_DOUBLE_EQ(v, -3.5);

  IParam s;
  s.InitBool("Bypass", false);
  EXPECT_TRUE(s.StringToValue("on", v));
  EXPECT_DOUBLE_EQ(v, 1.);
}

TEST(IParam, TextsIgnoreTheHostsNumericLocale)
{
  // A host that switched the process to a comma locale still sees and types points.
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
    GTEST_SKIP() << "no German locale on this machine";
  IParam p;
  p.InitDouble("Gain", 0., -24., 24., 0.1, "dB");
  WDL_String text;
  p.GetDisplay(12.5, false, text);
  double v = 0.;
  const bool parsed = p.StringToValue("-3.5", v);
  std::setlocale(LC_NUMERIC, before.c_str());
  EXPECT_STREQ(text.Get(), "12.5");
  EXPECT_TRUE(parsed);
  EXPECT_DOUBLE_EQ(v, -3.5);
}

TEST(IParam, DefaultOutsideRangeIsClamped)
{
  IParam p;
  p.InitDouble("x", 50., 0., 10., 1.);
  EXPECT_DOUBLE_EQ(p.GetDefault(), 10.);
  EXPECT_DOUBLE_EQ(p.Value(), 10.);
}

} // namespace

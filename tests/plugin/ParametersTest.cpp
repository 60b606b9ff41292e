#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <set>
#include <string>

#include "Parameters.h"

using iplug::IParam;
using morvellan::DeclareParameter;
using morvellan::kParamTable;

namespace {

struct Declared
{
  Declared()
  {
    for (int i = 0; i < kNumParams; ++i)
      DeclareParameter(params[i], kParamTable[i]);
  }
  std::array<IParam, kNumParams> params;
};

// Host-visible names in index order, as hosts and saved projects know them.
const char* const kExpectedNames[kNumParams] = {
  "Amount", "Speed", "Analysis Threshold", "Max Boost", "Max Cut",
  "Low Target", "Low Freq", "Low On", "Body Target", "Body Freq", "Body On",
  "Presence Target", "Presence Freq", "Presence On", "Air Target", "Air Freq", "Air On",
  "HP Freq", "HP On", "LP Freq", "LP On", "Output", "Bypass", "Tilt", "Unused (was Auto Gain)",
  "Range Low", "Range High",
  "Pre-EQ 1 Gain", "Pre-EQ 1 Freq", "Pre-EQ 1 Q", "Pre-EQ 1 On",
  "Pre-EQ 2 Gain", "Pre-EQ 2 Freq", "Pre-EQ 2 Q", "Pre-EQ 2 On",
  "Pre-EQ 3 Gain", "Pre-EQ 3 Freq", "Pre-EQ 3 Q", "Pre-EQ 3 On",
  "Pre-EQ 4 Gain", "Pre-EQ 4 Freq", "Pre-EQ 4 Q", "Pre-EQ 4 On",
  "Pre-EQ 1 Shelf", "Pre-EQ 4 Shelf", "Pre-EQ Respect"};

} // namespace

TEST(Parameters, NamesAndOrderMatchTheHostInterface)
{
  Declared d;
  std::set<std::string> seen;
  for (int i = 0; i < kNumParams; ++i)
  {
    EXPECT_STREQ(d.params[i].GetName(), kExpectedNames[i]) << "index " << i;
    EXPECT_TRUE(seen.insert(d.params[i].GetName()).second) << "duplicate name at " << i;
    EXPECT_STREQ(d.params[i].GetGroup(), "");
  }
  EXPECT_STREQ(d.params[kUnusedAutoGain].GetName(), "Unused (was Auto Gain)");
}

TEST(Parameters, OnlyThePlaceholderAndRespectAreHiddenFromAutomation)
{
  Declared d;
  for (int i = 0; i < kNumParams; ++i)
  {
    const bool hidden = i == kUnusedAutoGain || i == kPreEqRespect;
    EXPECT_EQ(d.params[i].GetCanAutomate(), !hidden) << kExpectedNames[i];
    EXPECT_FALSE(d.params[i].GetMeta()) << kExpectedNames[i];
  }
}

TEST(Parameters, DefaultsAreInsideTheirRangesAndSurviveTheConstraint)
{
  Declared d;
  for (int i = 0; i < kNumParams; ++i)
  {
    const IParam& p = d.params[i];
    EXPECT_LE(p.GetMin(), p.GetDefault()) << p.GetName();
    EXPECT_GE(p.GetMax(), p.GetDefault()) << p.GetName();
    EXPECT_EQ(p.Constrain(p.GetDefault()), p.GetDefault()) << p.GetName();
    EXPECT_EQ(p.Value(), p.GetDefault()) << p.GetName();
  }
}

TEST(Parameters, FiltersAndPreEqStartNeutralButSwitchedOn)
{
  Declared d;
  EXPECT_EQ(d.params[kHPOn].Value(), 1.0);
  EXPECT_EQ(d.params[kHPFreq].Value(), 20.0);
  EXPECT_EQ(d.params[kLPOn].Value(), 1.0);
  EXPECT_EQ(d.params[kLPFreq].Value(), 20000.0);
  EXPECT_EQ(d.params[kBypass].Value(), 0.0);
  EXPECT_EQ(d.params[kUnusedAutoGain].Value(), 0.0);
  const int gains[] = {kPreEq1Gain, kPreEq2Gain, kPreEq3Gain, kPreEq4Gain};
  const int ons[] = {kPreEq1On, kPreEq2On, kPreEq3On, kPreEq4On};
  const double freqs[] = {100.0, 400.0, 2500.0, 8000.0};
  const double qs[] = {0.707, 1.0, 1.0, 0.707};
  for (int b = 0; b < 4; ++b)
  {
    EXPECT_EQ(d.params[gains[b]].Value(), 0.0);
    EXPECT_EQ(d.params[ons[b]].Value(), 1.0);
    EXPECT_EQ(d.params[gains[b] + 1].Value(), freqs[b]);
    EXPECT_DOUBLE_EQ(d.params[gains[b] + 2].Value(), qs[b]);
  }
  EXPECT_EQ(d.params[kPreEq1Shelf].Value(), 1.0);
  EXPECT_EQ(d.params[kPreEq4Shelf].Value(), 1.0);
  EXPECT_EQ(d.params[kPreEqRespect].Value(), 50.0);
  // The range edges are independent: nothing keeps low below high.
  EXPECT_EQ(d.params[kRangeLow].GetMin(), d.params[kRangeHigh].GetMin());
  EXPECT_EQ(d.params[kRangeLow].GetMax(), d.params[kRangeHigh].GetMax());
  d.params[kRangeLow].Set(15000.0);
  d.params[kRangeHigh].Set(100.0);
  EXPECT_EQ(d.params[kRangeLow].Value(), 15000.0);
  EXPECT_EQ(d.params[kRangeHigh].Value(), 100.0);
}

TEST(Parameters, KindsShowTheirUnitsShapesAndTexts)
{
  Declared d;
  for (int i = 0; i < kNumParams; ++i)
  {
    const IParam& p = d.params[i];
    const std::string name = p.GetName();
    if (name.ends_with(" On") || name.ends_with(" Shelf") || name == "Bypass" || i == kUnusedAutoGain)
    {
      EXPECT_EQ(p.Type(), IParam::kTypeBool) << name;
      EXPECT_STREQ(p.GetDisplayText(0.0), "off") << name;
      EXPECT_STREQ(p.GetDisplayText(1.0), "on") << name;
      EXPECT_STREQ(p.GetLabel(), "") << name;
      EXPECT_EQ(p.Constrain(0.7), 1.0) << name;
      EXPECT_EQ(p.Constrain(0.2), 0.0) << name;
    }
    else if (name.ends_with(" Freq") || name.starts_with("Range "))
    {
      EXPECT_EQ(p.Unit(), IParam::kUnitFrequency) << name;
      EXPECT_STREQ(p.GetLabel(), "Hz") << name;
      EXPECT_EQ(p.GetShapeKind(), IParam::Shape::kExp) << name;
      EXPECT_DOUBLE_EQ(p.GetStep(), 0.1) << name;
      // Exponential: the geometric middle of the range sits at the middle of the knob.
      EXPECT_NEAR(p.ToNormalized(std::sqrt(p.GetMin() * p.GetMax())), 0.5, 1e-3) << name;
    }
    else if (name.ends_with(" Q"))
    {
      EXPECT_EQ(p.GetShapeKind(), IParam::Shape::kExp) << name;
      EXPECT_STREQ(p.GetLabel(), "") << name;
      EXPECT_EQ(p.GetMin(), 0.3);
      EXPECT_EQ(p.GetMax(), 10.0);
    }
    else
    {
      EXPECT_EQ(p.Type(), IParam::kTypeDouble) << name;
      EXPECT_EQ(p.GetShapeKind(), IParam::Shape::kLinear) << name;
      EXPECT_NEAR(p.ToNormalized(0.5 * (p.GetMin() + p.GetMax())), 0.5, 1e-12) << name;
    }
  }
  EXPECT_STREQ(d.params[kTilt].GetLabel(), "dB/oct");
  EXPECT_STREQ(d.params[kAmount].GetLabel(), "%");
  EXPECT_STREQ(d.params[kThreshold].GetLabel(), "dB");
  EXPECT_EQ(d.params[kThreshold].GetMin(), -70.0);
  EXPECT_EQ(d.params[kThreshold].GetMax(), -10.0);
  EXPECT_EQ(d.params[kThreshold].Value(), -40.0);
  EXPECT_EQ(d.params[kMaxCut].GetMax(), 18.0);
  EXPECT_EQ(d.params[kOutput].GetMin(), -24.0);
}

TEST(Parameters, RangesStepsAndDefaultsOfTheContinuousParameters)
{
  // index, default, min, max, step: as hosts and saved projects know them.
  struct Row
  {
    int index;
    double def, lo, hi, step;
  };
  const Row rows[] = {
    {kAmount, 50, 0, 100, 1},          {kSpeed, 50, 0, 100, 1},
    {kThreshold, -40, -70, -10, 0.5},  {kMaxBoost, 6, 0, 12, 0.5},
    {kMaxCut, 9, 0, 18, 0.5},          {kLowTarget, 0, -18, 18, 0.5},
    {kLowFreq, 120, 60, 300, 0.1},     {kBodyTarget, 0, -18, 18, 0.5},
    {kBodyFreq, 300, 150, 800, 0.1},   {kPresenceTarget, 0, -18, 18, 0.5},
    {kPresenceFreq, 3000, 1000, 6000, 0.1}, {kAirTarget, 0, -18, 18, 0.5},
    {kAirFreq, 10000, 6000, 16000, 0.1}, {kHPFreq, 20, 20, 1000, 0.1},
    {kLPFreq, 20000, 1000, 20000, 0.1}, {kOutput, 0, -24, 24, 0.1},
    {kTilt, 0, -6, 6, 0.1},            {kRangeLow, 20, 20, 20000, 0.1},
    {kRangeHigh, 20000, 20, 20000, 0.1}, {kPreEq1Gain, 0, -18, 18, 0.1},
    {kPreEq1Freq, 100, 20, 20000, 0.1}, {kPreEq1Q, 0.707, 0.3, 10, 0.01},
    {kPreEq2Gain, 0, -18, 18, 0.1},    {kPreEq2Freq, 400, 20, 20000, 0.1},
    {kPreEq2Q, 1.0, 0.3, 10, 0.01},    {kPreEq3Gain, 0, -18, 18, 0.1},
    {kPreEq3Freq, 2500, 20, 20000, 0.1}, {kPreEq3Q, 1.0, 0.3, 10, 0.01},
    {kPreEq4Gain, 0, -18, 18, 0.1},    {kPreEq4Freq, 8000, 20, 20000, 0.1},
    {kPreEq4Q, 0.707, 0.3, 10, 0.01},  {kPreEqRespect, 50, 0, 100, 1},
  };
  Declared d;
  for (const Row& r : rows)
  {
    const IParam& p = d.params[r.index];
    EXPECT_DOUBLE_EQ(p.GetDefault(), r.def) << p.GetName();
    EXPECT_DOUBLE_EQ(p.GetMin(), r.lo) << p.GetName();
    EXPECT_DOUBLE_EQ(p.GetMax(), r.hi) << p.GetName();
    EXPECT_DOUBLE_EQ(p.GetStep(), r.step) << p.GetName();
    EXPECT_EQ(p.Type(), IParam::kTypeDouble) << p.GetName();
  }
  // Every parameter that is not a switch has a row above.
  int switches = 0;
  for (int i = 0; i < kNumParams; ++i)
    switches += d.params[i].Type() == IParam::kTypeBool ? 1 : 0;
  EXPECT_EQ(int(std::size(rows)) + switches, kNumParams);
}

#include "Parameters.h"

namespace morvellan {
namespace {

constexpr ParamSpec Percent(EParams i, const char* name, double def)
{
  return {i, name, ParamKind::kDouble, def, 0.0, 100.0, 1.0, "%", false, true};
}
constexpr ParamSpec Db(EParams i, const char* name, double def, double lo, double hi, double step)
{
  return {i, name, ParamKind::kDouble, def, lo, hi, step, "dB", false, true};
}
constexpr ParamSpec Freq(EParams i, const char* name, double def, double lo, double hi)
{
  return {i, name, ParamKind::kFrequency, def, lo, hi, 0.1, "Hz", true, true};
}
constexpr ParamSpec Switch(EParams i, const char* name, bool on)
{
  return {i, name, ParamKind::kSwitch, on ? 1.0 : 0.0, 0.0, 1.0, 1.0, "", false, true};
}
constexpr ParamSpec Q(EParams i, const char* name, double def)
{
  return {i, name, ParamKind::kDouble, def, 0.3, 10.0, 0.01, "", true, true};
}
constexpr ParamSpec NotAutomatable(ParamSpec spec)
{
  spec.automatable = false;
  return spec;
}

constexpr std::array<ParamSpec, kNumParams> kTable = {{
  Percent(kAmount, "Amount", 50.0),
  Percent(kSpeed, "Speed", 50.0),
  Db(kThreshold, "Analysis Threshold", -40.0, -70.0, -10.0, 0.5),
  Db(kMaxBoost, "Max Boost", 6.0, 0.0, 12.0, 0.5),
  Db(kMaxCut, "Max Cut", 9.0, 0.0, 18.0, 0.5),

  Db(kLowTarget, "Low Target", 0.0, -18.0, 18.0, 0.5),
  Freq(kLowFreq, "Low Freq", 120.0, 60.0, 300.0),
  Switch(kLowOn, "Low On", true),
  Db(kBodyTarget, "Body Target", 0.0, -18.0, 18.0, 0.5),
  Freq(kBodyFreq, "Body Freq", 300.0, 150.0, 800.0),
  Switch(kBodyOn, "Body On", true),
  Db(kPresenceTarget, "Presence Target", 0.0, -18.0, 18.0, 0.5),
  Freq(kPresenceFreq, "Presence Freq", 3000.0, 1000.0, 6000.0),
  Switch(kPresenceOn, "Presence On", true),
  Db(kAirTarget, "Air Target", 0.0, -18.0, 18.0, 0.5),
  Freq(kAirFreq, "Air Freq", 10000.0, 6000.0, 16000.0),
  Switch(kAirOn, "Air On", true),

  Freq(kHPFreq, "HP Freq", 20.0, 20.0, 1000.0),
  Switch(kHPOn, "HP On", true),
  Freq(kLPFreq, "LP Freq", 20000.0, 1000.0, 20000.0),
  Switch(kLPOn, "LP On", true),
  Db(kOutput, "Output", 0.0, -24.0, 24.0, 0.1),
  Switch(kBypass, "Bypass", false),
  {kTilt, "Tilt", ParamKind::kDouble, 0.0, -6.0, 6.0, 0.1, "dB/oct", false, true},
  // Kept for its index and its place in saved states; nothing reads it.
  NotAutomatable(Switch(kUnusedAutoGain, "Unused (was Auto Gain)", false)),
  Freq(kRangeLow, "Range Low", 20.0, 20.0, 20000.0),
  Freq(kRangeHigh, "Range High", 20000.0, 20.0, 20000.0),

  Db(kPreEq1Gain, "Pre-EQ 1 Gain", 0.0, -18.0, 18.0, 0.1),
  Freq(kPreEq1Freq, "Pre-EQ 1 Freq", 100.0, 20.0, 20000.0),
  Q(kPreEq1Q, "Pre-EQ 1 Q", 0.707),
  Switch(kPreEq1On, "Pre-EQ 1 On", true),
  Db(kPreEq2Gain, "Pre-EQ 2 Gain", 0.0, -18.0, 18.0, 0.1),
  Freq(kPreEq2Freq, "Pre-EQ 2 Freq", 400.0, 20.0, 20000.0),
  Q(kPreEq2Q, "Pre-EQ 2 Q", 1.0),
  Switch(kPreEq2On, "Pre-EQ 2 On", true),
  Db(kPreEq3Gain, "Pre-EQ 3 Gain", 0.0, -18.0, 18.0, 0.1),
  Freq(kPreEq3Freq, "Pre-EQ 3 Freq", 2500.0, 20.0, 20000.0),
  Q(kPreEq3Q, "Pre-EQ 3 Q", 1.0),
  Switch(kPreEq3On, "Pre-EQ 3 On", true),
  Db(kPreEq4Gain, "Pre-EQ 4 Gain", 0.0, -18.0, 18.0, 0.1),
  Freq(kPreEq4Freq, "Pre-EQ 4 Freq", 8000.0, 20.0, 20000.0),
  Q(kPreEq4Q, "Pre-EQ 4 Q", 0.707),
  Switch(kPreEq4On, "Pre-EQ 4 On", true),
  Switch(kPreEq1Shelf, "Pre-EQ 1 Shelf", true),
  Switch(kPreEq4Shelf, "Pre-EQ 4 Shelf", true),
  NotAutomatable(Percent(kPreEqRespect, "Pre-EQ Respect", 50.0)),
}};

constexpr bool RowsInIndexOrder()
{
  for (int i = 0; i < kNumParams; ++i)
    if (kTable[i].index != i)
      return false;
  return true;
}
static_assert(RowsInIndexOrder(), "parameter rows out of order");

} // namespace

const std::array<ParamSpec, kNumParams>& kParamTable = kTable;

void DeclareParameter(iplug::IParam& param, const ParamSpec& spec)
{
  const int flags = spec.automatable ? 0 : iplug::IParam::kFlagCannotAutomate;
  switch (spec.kind)
  {
  case ParamKind::kFrequency:
    param.InitFrequency(spec.name, spec.defaultValue, spec.minValue, spec.maxValue, spec.step, flags);
    break;
  case ParamKind::kSwitch:
    param.InitBool(spec.name, spec.defaultValue >= 0.5, spec.label, flags);
    break;
  case ParamKind::kDouble:
    if (spec.exponential)
      param.InitDouble(spec.name, spec.defaultValue, spec.minValue, spec.maxValue, spec.step, spec.label, flags, "",
                       iplug::IParam::ShapeExp());
    else
      param.InitDouble(spec.name, spec.defaultValue, spec.minValue, spec.maxValue, spec.step, spec.label, flags, "",
                       iplug::IParam::ShapeLinear());
    break;
  }
}

} // namespace morvellan

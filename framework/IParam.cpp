#include "IParam.h"

#include "ClassicLocale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace iplug
{

namespace
{

// Decimals needed to show a multiple of step exactly (0.5 -> 1, 0.01 -> 2, 1 -> 0).
int PrecisionForStep(double step)
{
  if (!(step > 0.) || !std::isfinite(step))
    return 0;
  for (int p = 0; p < 6; ++p)
  {
    const double scaled = step * std::pow(10., p);
    if (std::fabs(scaled - std::round(scaled)) < 1e-6 * std::max(1., scaled))
      return p;
  }
  return 6;
}

bool UsesExp(IParam::Shape::EKind kind, double minVal, double maxVal)
{
  return kind == IParam::Shape::kExp && minVal > 0. && maxVal > minVal;
}

} // namespace

void IParam::Init(EParamType type, const char* name, double defaultVal, double minVal, double maxVal, double step,
                  const char* label, int flags, const char* group, const Shape& shape, EParamUnit unit)
{
  mType = type;
  mName = name ? name : "";
  mLabel = label ? label : "";
  mGroup = group ? group : "";
  mFlags = flags;
  mUnit = unit;
  mShape = shape;
  if (maxVal < minVal)
    std::swap(minVal, maxVal);
  mMin = minVal;
  mMax = maxVal;
  mStep = step > 0. ? step : 1.;
  mDisplayPrecision = PrecisionForStep(mStep);
  mDisplayTexts.clear();
  // The default itself goes through Constrain so that it is a reachable value; one that is
  // not finite becomes the minimum, which Constrain hands back as the default so far.
  mDefault = mMin;
  mDefault = Constrain(defaultVal);
  Store(mDefault);
}

void IParam::InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                        const char* label, int flags, const char* group, const Shape& shape, EParamUnit unit)
{
  Init(kTypeDouble, name, defaultVal, minVal, maxVal, step, label, flags, group, shape, unit);
}

void IParam::InitFrequency(const char* name, double defaultVal, double minVal, double maxVal, double step,
                           int flags, const char* group)
{
  Init(kTypeDouble, name, defaultVal, minVal, maxVal, step, "Hz", flags, group, ShapeExp(), kUnitFrequency);
}

void IParam::InitBool(const char* name, bool defaultVal, const char* label, int flags, const char* group,
                      const char* offText, const char* onText)
{
  Init(kTypeBool, name, defaultVal ? 1. : 0., 0., 1., 1., label, flags | kFlagStepped, group, ShapeLinear(),
       kUnitCustom);
  SetDisplayText(0., offText ? offText : "");
  SetDisplayText(1., onText ? onText : "");
}

double IParam::Constrain(double value) const
{
  if (!std::isfinite(value))
    return mDefault;
  double v = std::clamp(value, mMin, mMax);
  if (GetStepped())
    v = std::clamp(mMin + std::round((v - mMin) / mStep) * mStep, mMin, mMax);
  return v;
}

double IParam::ToNormalized(double value) const
{
  if (!(mMax > mMin))
    return 0.;
  const double v = std::isfinite(value) ? std::clamp(value, mMin, mMax) : mDefault;
  double n;
  if (UsesExp(mShape.kind, mMin, mMax))
    n = std::log(v / mMin) / std::log(mMax / mMin);
  else
    n = (v - mMin) / (mMax - mMin);
  return std::clamp(n, 0., 1.);
}

double IParam::FromNormalized(double normalized) const
{
  if (!std::isfinite(normalized))
    return mDefault;
  const double n = std::clamp(normalized, 0., 1.);
  double v;
  if (UsesExp(mShape.kind, mMin, mMax))
    v = mMin * std::exp(n * std::log(mMax / mMin));
  else
    v = mMin + n * (mMax - mMin);
  return Constrain(v);
}

int IParam::GetNumSteps() const
{
  if (!GetStepped() || !(mMax > mMin))
    return 0;
  return static_cast<int>(std::lround((mMax - mMin) / mStep));
}

void IParam::SetDisplayText(double value, const char* text)
{
  for (auto& entry : mDisplayTexts)
  {
    if (entry.value == value)
    {
      entry.text = text ? text : "";
      return;
    }
  }
  mDisplayTexts.push_back({value, text ? text : ""});
}

const char* IParam::GetDisplayText(double value) const
{
  for (const auto& entry : mDisplayTexts)
    if (entry.value == value)
      return entry.text.c_str();
  return nullptr;
}

void IParam::GetDisplay(double value, bool normalized, WDL_String& display, bool withDisplayText) const
{
  if (normalized)
    value = FromNormalized(value);

  if (withDisplayText)
  {
    // Display texts belong to the snapped value, so 0.7 on a switch reads "on".
    if (const char* text = GetDisplayText(GetStepped() ? Constrain(value) : value))
    {
      display.Set(text);
      return;
    }
  }

  double shown = (mFlags & kFlagNegateDisplay) ? -value : value;
  // Avoid "-0.0" for values that round to zero.
  const double scale = std::pow(10., mDisplayPrecision);
  if (std::round(shown * scale) == 0.)
    shown = 0.;
  if ((mFlags & kFlagSignDisplay) && shown > 0.)
    display.SetFormatted(64, "+%.*f", mDisplayPrecision, shown);
  else
    display.SetFormatted(64, "%.*f", mDisplayPrecision, shown);
}

bool IParam::StringToValue(const char* text, double& value) const
{
  if (!text)
    return false;
  for (const auto& entry : mDisplayTexts)
  {
    if (entry.text == text)
    {
      value = entry.value;
      return true;
    }
  }
  char* end = nullptr;
  const ScopedClassicLocale classic;
  const double v = std::strtod(text, &end);
  if (end == text || !std::isfinite(v))
    return false;
  value = (mFlags & kFlagNegateDisplay) ? -v : v;
  return true;
}

} // namespace iplug

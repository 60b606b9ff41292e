#include "TypedValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "IControl.h"
#include "IEditorDelegate.h"
#include "IParam.h"

namespace morvellan::plugin
{

namespace
{

bool IsBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
  return c >= '0' && c <= '9';
}

// For a decimal the double range cannot hold: true when it is too small rather than too
// large, judged by the power of ten of its first significant digit.
bool TooSmallForDouble(const char* first, const char* last)
{
  long lead = 0;
  bool seenPoint = false;
  bool seenDigit = false;
  long intDigits = 0;
  long fracDigits = 0;
  const char* p = first;
  for (; p != last && (IsDigit(*p) || *p == '.'); ++p)
  {
    if (*p == '.')
    {
      seenPoint = true;
      continue;
    }
    if (seenPoint)
      ++fracDigits;
    else
      ++intDigits;
    if (!seenDigit && *p != '0')
    {
      seenDigit = true;
      lead = seenPoint ? -fracDigits : intDigits;
    }
  }
  if (!seenDigit)
    return true;
  // lead: the digit's place from the left of the integer part, or minus its place after the point.
  const long magnitude = lead < 0 ? lead : intDigits - lead;
  long exponent = 0;
  if (p != last && (*p == 'e' || *p == 'E'))
  {
    ++p;
    const bool negative = p != last && *p == '-';
    if (p != last && (*p == '-' || *p == '+'))
      ++p;
    for (; p != last && IsDigit(*p); ++p)
      exponent = std::min(exponent * 10 + (*p - '0'), 100000L);
    if (negative)
      exponent = -exponent;
  }
  return magnitude + exponent < 0;
}

} // namespace

std::pair<double, bool> ParseTypedValue(const char* text)
{
  if (!text)
    return {0., false};

  std::string s(text);
  std::replace(s.begin(), s.end(), ',', '.');

  const char* p = s.c_str();
  const char* end = p + s.size();
  while (p != end && IsBlank(*p))
    ++p;

  // Only plain decimals: a sign, then a digit or a point. This refuses "nan", "inf",
  // a lone "k" and anything else that is not a number before it reaches the parser.
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-'))
  {
    negative = *p == '-';
    ++p;
  }
  if (p == end || !(IsDigit(*p) || *p == '.'))
    return {0., false};
  // Hexadecimal numbers ("0x10", "0x1p3") are not a way users write values.
  if (p[0] == '0' && p + 1 != end && (p[1] == 'x' || p[1] == 'X'))
    return {0., false};

  double value = 0.;
  // from_chars reads like the C library in the classic locale, whatever locale the host set.
  const auto [next, ec] = std::from_chars(p, end, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range)
    value = TooSmallForDouble(p, next) ? 0. : std::numeric_limits<double>::max();
  else if (ec != std::errc())
    return {0., false};

  const char* q = next;
  while (q != end && IsBlank(*q))
    ++q;
  if (q != end && (*q == 'k' || *q == 'K'))
    value = std::min(value * 1000., std::numeric_limits<double>::max());

  if (!std::isfinite(value))
    return {0., false};
  return {negative ? -value : value, true};
}

void CommitTypedValue(iplug::igraphics::IControl& control, int paramIdx, const char* text,
                      const std::string& prefill)
{
  if (text && !prefill.empty() && prefill == text)
    return;
  const auto [value, ok] = ParseTypedValue(text);
  if (!ok)
    return;
  iplug::IEditorDelegate* dlg = control.GetDelegate();
  if (!dlg || paramIdx < 0)
    return;
  const iplug::IParam* param = dlg->GetParam(paramIdx);
  if (!param)
    return;
  const double normalized = param->ToNormalized(std::clamp(value, param->GetMin(), param->GetMax()));
  dlg->BeginInformHostOfParamChangeFromUI(paramIdx);
  dlg->SendParameterValueFromUI(paramIdx, normalized);
  dlg->EndInformHostOfParamChangeFromUI(paramIdx);
}

} // namespace morvellan::plugin

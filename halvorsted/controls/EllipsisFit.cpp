#include "EllipsisFit.h"

#include "Vst3Strings.h"

namespace halvorsted::controls
{

namespace
{

constexpr const char* kEllipsis = "\xE2\x80\xA6"; // U+2026

} // namespace

std::string FitWithEllipsis(const std::string& text, float width, const TextMeasure& measure)
{
  if (!measure || width >= measure(text))
    return text;
  std::string head = text;
  while (!head.empty())
  {
    // Drop the whole last character, never only some of its bytes.
    head.resize(iplug::Utf8BoundaryAtOrBefore(head.c_str(), head.size() - 1));
    const std::string candidate = head + kEllipsis;
    if (width >= measure(candidate))
      return candidate;
  }
  return kEllipsis;
}

} // namespace halvorsted::controls

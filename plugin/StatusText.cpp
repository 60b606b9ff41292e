#include "StatusText.h"

#include "Vst3Strings.h"

namespace morvellan {

namespace {

constexpr size_t kShownBytes = 28;
constexpr size_t kCutBytes = 27;
constexpr size_t kMaxLabelBytes = 560;
constexpr const char* kEllipsis = "\xE2\x80\xA6";
constexpr const char* kDot = " \xC2\xB7 ";

} // namespace

std::string TruncateUtf8WithEllipsis(const std::string& text)
{
  if (text.size() <= kShownBytes)
    return text;
  return text.substr(0, iplug::Utf8BoundaryAtOrBefore(text.c_str(), kCutBytes)) + kEllipsis;
}

std::string StatusLineText(bool targetValid, const std::string& sourceName)
{
  std::string text = std::string("Morvellan ") + MORVELLAN_VERSION_STRING + kDot + "0 samples latency" + kDot +
                     "target: ";
  if (!targetValid)
    text += "balanced";
  else if (sourceName.empty())
    text += "learned from input";
  else
    text += "learned from " + TruncateUtf8WithEllipsis(sourceName);
  return text;
}

std::string TrackLabelText(std::int64_t number, const std::string& name)
{
  // Appended rather than concatenated: GCC 12 warns falsely on "#" + to_string in release builds.
  std::string label = "#";
  label += std::to_string(number);
  if (name.empty())
    return label;
  label += ": " + name;
  if (label.size() > kMaxLabelBytes)
    label.resize(iplug::Utf8BoundaryAtOrBefore(label.c_str(), kMaxLabelBytes));
  return label;
}

} // namespace morvellan

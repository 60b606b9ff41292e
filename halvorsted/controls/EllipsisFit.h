#pragma once

#include <functional>
#include <string>

namespace halvorsted::controls
{

// The width a text would take when drawn.
using TextMeasure = std::function<float(const std::string&)>;

// text itself when it fits width; otherwise the longest start of it, cut at a UTF-8
// character boundary, that fits with "…" appended; "…" alone when nothing does.
std::string FitWithEllipsis(const std::string& text, float width, const TextMeasure& measure);

} // namespace halvorsted::controls

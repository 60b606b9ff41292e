#pragma once

#include <cstdint>
#include <string>

namespace morvellan {

// Text of at most 28 bytes unchanged; longer text cut after at most 27 bytes on
// a UTF-8 character boundary, followed by "…".
std::string TruncateUtf8WithEllipsis(const std::string& text);

// "Morvellan <version> · 0 samples latency · target: <what>".
std::string StatusLineText(bool targetValid, const std::string& sourceName);

// "#n" or "#n: name", as the title shows the host track.
std::string TrackLabelText(std::int64_t number, const std::string& name);

} // namespace morvellan

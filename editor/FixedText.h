#pragma once

namespace morvellan
{

// True when a written number (an optional sign, digits, a point) is zero: "-0.0", "0".
bool IsZeroText(const char* first, const char* last);

// value with a fixed count of decimals, as std::to_chars writes it (the host's locale
// plays no part), except that a value that reads as zero has no sign: -0.04 at one
// decimal is "0.0", never "-0.0". Returns the end of the text, or first when it does
// not fit in [first, last). Writes no terminator.
char* WriteFixed(char* first, char* last, double value, int decimals);

} // namespace morvellan

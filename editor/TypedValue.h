#pragma once

#include <string>
#include <utility>

namespace iplug::igraphics
{
class IControl;
}

namespace morvellan::plugin
{

// The one rule for numbers typed into the editor: a comma is a decimal point, leading
// white space is skipped, a following "k" or "K" (after optional white space) means
// thousands, anything after that is ignored. Independent of the host's locale. Text
// that does not start with a finite decimal number fails.
std::pair<double, bool> ParseTypedValue(const char* text);

// Parses text and, on success, sends the value (clamped to the parameter's range) to
// paramIdx as one gesture: Begin, Send, End. Nothing happens on failure, without a
// delegate or for a negative index, nor when text is the entry's prefill left untouched:
// the prefill is the value rounded for reading, and committing it would change the value.
void CommitTypedValue(iplug::igraphics::IControl& control, int paramIdx, const char* text,
                      const std::string& prefill = {});

} // namespace morvellan::plugin

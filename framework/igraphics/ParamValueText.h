#pragma once

#include <string>

namespace iplug
{
class IParam;
}

namespace iplug::igraphics
{

// What a control shows for a parameter at a normalised value: the parameter's display
// (a display text such as "on" where one is registered), followed by " " and its unit
// label when withLabel and the label is not empty.
std::string ParamValueText(const IParam& param, double normalizedValue, bool withLabel);

} // namespace iplug::igraphics

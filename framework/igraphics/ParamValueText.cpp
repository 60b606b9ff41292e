#include "ParamValueText.h"

#include "IParam.h"
#include "WDL_String.h"

namespace iplug::igraphics
{

std::string ParamValueText(const IParam& param, double normalizedValue, bool withLabel)
{
  WDL_String display;
  param.GetDisplay(normalizedValue, true, display);
  std::string text = display.Get();
  const char* label = param.GetLabel();
  if (withLabel && label && *label)
  {
    text += ' ';
    text += label;
  }
  return text;
}

} // namespace iplug::igraphics

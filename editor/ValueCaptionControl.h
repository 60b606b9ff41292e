#pragma once

#include <string>

#include "ICaptionControl.h"

namespace morvellan::plugin
{

// A parameter's value and unit as text; a left click opens a short entry in which the
// user types a new value in the parameter's own units (see ParseTypedValue).
class ValueCaptionControl : public iplug::igraphics::ICaptionControl
{
public:
  ValueCaptionControl(const iplug::igraphics::IRECT& bounds, int paramIdx, const iplug::igraphics::IText& text);

  void OnMouseDown(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnTextEntryCompletion(const char* str, int valIdx) override;

private:
  // The entry's text as it opened.
  std::string mPrefill;
};

} // namespace morvellan::plugin

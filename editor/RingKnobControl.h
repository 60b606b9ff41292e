#pragma once

#include "IVKnobControl.h"

// The knob of the knob row: the framework's vector knob whose value arc lies on a faint
// ring over the whole sweep, so the knob's travel is visible at any value.
class RingKnobControl : public iplug::igraphics::IVKnobControl
{
public:
  RingKnobControl(const iplug::igraphics::IRECT& bounds, int paramIdx, const char* label,
                  const iplug::igraphics::IVStyle& style, bool valueIsEditable, bool valueInWidget, float a1, float a2,
                  float aAnchor, iplug::igraphics::EDirection direction, double gearing, float trackSize,
                  const iplug::igraphics::IColor& ringColour = iplug::igraphics::IColor(41, 250, 250, 250));

  void DrawIndicatorTrack(iplug::igraphics::IGraphics& g, float angle, float cx, float cy, float radius) override;

private:
  iplug::igraphics::IColor mRingColour;
};

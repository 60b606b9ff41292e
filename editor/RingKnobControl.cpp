#include "RingKnobControl.h"

#include "IGraphics.h"

using namespace iplug::igraphics;

RingKnobControl::RingKnobControl(const IRECT& bounds, int paramIdx, const char* label, const IVStyle& style,
                                 bool valueIsEditable, bool valueInWidget, float a1, float a2, float aAnchor,
                                 EDirection direction, double gearing, float trackSize, const IColor& ringColour)
: IVKnobControl(bounds, paramIdx, label, style, valueIsEditable, valueInWidget, a1, a2, aAnchor, direction, gearing,
                trackSize)
, mRingColour(ringColour)
{
}

void RingKnobControl::DrawIndicatorTrack(IGraphics& g, float angle, float cx, float cy, float radius)
{
  if (mTrackSize > 0.f)
    g.DrawArc(mRingColour, cx, cy, radius, mAngle1, mAngle2, &mBlend, mTrackSize);
  IVKnobControl::DrawIndicatorTrack(g, angle, cx, cy, radius);
}

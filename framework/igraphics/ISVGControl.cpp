#include "ISVGControl.h"

#include "IGraphics.h"

namespace iplug::igraphics
{

ISVGControl::ISVGControl(const IRECT& bounds, const ISVG& svg, bool /*useLayer*/) : IControl(bounds), mSVG(svg)
{
  SetIgnoreMouse(true);
}

void ISVGControl::Draw(IGraphics& g)
{
  if (mSVG.IsValid())
    g.DrawSVG(mSVG, mRECT, &mBlend);
}

} // namespace iplug::igraphics

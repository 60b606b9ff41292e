#include "IPanelControl.h"

#include "IGraphics.h"

namespace iplug::igraphics
{

IPanelControl::IPanelControl(const IRECT& bounds, const IColor& color) : IControl(bounds), mColor(color)
{
  SetIgnoreMouse(true);
}

void IPanelControl::Draw(IGraphics& g)
{
  g.FillRect(mColor, mRECT, &mBlend);
}

} // namespace iplug::igraphics

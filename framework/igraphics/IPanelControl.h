#pragma once

#include "IControl.h"

namespace iplug::igraphics
{

// A filled rectangle that ignores the mouse.
class IPanelControl : public IControl
{
public:
  IPanelControl(const IRECT& bounds, const IColor& color);

  void Draw(IGraphics& g) override;

private:
  IColor mColor;
};

} // namespace iplug::igraphics

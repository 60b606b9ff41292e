#pragma once

#include "IControl.h"
#include "ISVG.h"

namespace iplug::igraphics
{

// Artwork fitted into its rectangle, keeping its aspect. Ignores the mouse.
class ISVGControl : public IControl
{
public:
  // useLayer is accepted for callers that ask for a cached bitmap; the artwork is
  // always drawn from the document, which keeps it sharp at every draw scale.
  ISVGControl(const IRECT& bounds, const ISVG& svg, bool useLayer = false);

  void Draw(IGraphics& g) override;

private:
  ISVG mSVG;
};

} // namespace iplug::igraphics

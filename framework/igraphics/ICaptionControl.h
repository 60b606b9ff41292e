#pragma once

#include "BoundParamWatch.h"
#include "IControl.h"

namespace iplug::igraphics
{

// A parameter's value as text ("440 Hz", "on") in mText's style over a background.
// A left press opens a text entry prefilled with the value; the typed text is parsed by
// the parameter when committed. Double clicks arrive as presses.
class ICaptionControl : public IControl
{
public:
  ICaptionControl(const IRECT& bounds, int paramIdx, const IText& text = IText(),
                  const IColor& bgColor = COLOR_TRANSPARENT, bool showParamLabel = true);

  void Draw(IGraphics& g) override;
  void OnMouseDown(float x, float y, const IMouseMod& mod) override;
  bool IsDirty() override;

protected:
  IColor mBGColor;
  bool mShowParamLabel;

private:
  BoundParamWatch mWatch;
};

} // namespace iplug::igraphics

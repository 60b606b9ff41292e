#include "ICaptionControl.h"

#include "IGraphics.h"
#include "ParamValueText.h"

namespace iplug::igraphics
{

ICaptionControl::ICaptionControl(const IRECT& bounds, int paramIdx, const IText& text, const IColor& bgColor,
                                 bool showParamLabel)
: IControl(bounds, paramIdx)
, mBGColor(bgColor)
, mShowParamLabel(showParamLabel)
{
  mText = text;
  SetDblAsSingleClick(true);
}

void ICaptionControl::Draw(IGraphics& g)
{
  if (mBGColor.A > 0)
    g.FillRect(mBGColor, mRECT, &mBlend);
  if (const IParam* param = GetParam())
    g.DrawText(mText, ParamValueText(*param, GetValue(), mShowParamLabel).c_str(), mRECT, &mBlend);
}

void ICaptionControl::OnMouseDown(float, float, const IMouseMod& mod)
{
  IGraphics* ui = GetUI();
  const IParam* param = GetParam();
  if (!mod.L || !ui || !param)
    return;
  // The entry is prefilled without the unit, so the text reads back as a number.
  ui->CreateTextEntry(*this, mText, mRECT, ParamValueText(*param, GetValue(), false).c_str(), 0);
}

bool ICaptionControl::IsDirty()
{
  mWatch.Poll(*this, true);
  return IControl::IsDirty();
}

} // namespace iplug::igraphics

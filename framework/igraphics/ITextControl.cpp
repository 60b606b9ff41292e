#include "ITextControl.h"

#include "IGraphics.h"

namespace iplug::igraphics
{

ITextControl::ITextControl(const IRECT& bounds, const char* str, const IText& text, const IColor& bgColor)
: IControl(bounds)
, mStr(str ? str : "")
, mBGColor(bgColor)
{
  mText = text;
  SetIgnoreMouse(true);
}

void ITextControl::Draw(IGraphics& g)
{
  if (mBGColor.A > 0)
    g.FillRect(mBGColor, mRECT, &mBlend);
  if (!mStr.empty())
    g.DrawText(mText, mStr.c_str(), mRECT, &mBlend);
}

void ITextControl::SetStr(const char* str)
{
  const char* s = str ? str : "";
  if (mStr == s)
    return;
  mStr = s;
  SetDirty(false);
}

} // namespace iplug::igraphics

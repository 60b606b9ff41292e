#pragma once

#include <string>

#include "IControl.h"

namespace iplug::igraphics
{

// A line of text in mText's style over an optional background. Ignores the mouse.
class ITextControl : public IControl
{
public:
  ITextControl(const IRECT& bounds, const char* str = "", const IText& text = IText(),
               const IColor& bgColor = COLOR_TRANSPARENT);

  void Draw(IGraphics& g) override;

  // Redraws only when the text differs, so a caller may set it every idle tick.
  void SetStr(const char* str);
  const char* GetStr() const { return mStr.c_str(); }

protected:
  std::string mStr;
  IColor mBGColor;
};

} // namespace iplug::igraphics

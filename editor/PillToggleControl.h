#pragma once

#include <string>

#include "BoundParamWatch.h"
#include "IControl.h"

// A pill-shaped switch for one boolean parameter: a dot and a text, lit with the accent
// while the parameter is on (or while it is off, when inverted). Any press toggles it.
class PillToggleControl : public iplug::igraphics::IControl
{
public:
  PillToggleControl(const iplug::igraphics::IRECT& bounds, int paramIdx, const char* offText, const char* onText,
                    const iplug::igraphics::IText& text, float dotScale, const iplug::igraphics::IColor& accent,
                    bool inverted);

  void OnMouseDown(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void Draw(iplug::igraphics::IGraphics& g) override;
  bool IsDirty() override;

  bool IsOn() const { return GetValue() > 0.5; }
  bool IsLit() const { return IsOn() != mInverted; }
  // The text for the parameter's state, whatever the inversion.
  const std::string& ShownText() const { return IsOn() ? mOnText : mOffText; }

private:
  iplug::igraphics::IColor mFillColour{255, 20, 20, 20};
  iplug::igraphics::IColor mDimOutlineColour{56, 250, 250, 250};
  iplug::igraphics::IColor mLitOutlineColour{107, 250, 250, 250};
  iplug::igraphics::IColor mLitDotColour;
  iplug::igraphics::IColor mDimDotColour{56, 250, 250, 250};
  std::string mOffText;
  std::string mOnText;
  iplug::igraphics::IText mTextStyle;
  float mDotScale;
  bool mInverted;
  iplug::igraphics::BoundParamWatch mWatch;
};

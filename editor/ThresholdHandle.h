#pragma once

#include <string>

#include "IControl.h"

// Shows and sets the analysis threshold on the input meter: a dashed line across the
// meter's track at the threshold's level and a triangle beside it to drag. Only the
// column right of the track takes the mouse, so the meter below stays untouched.
class ThresholdHandle : public iplug::igraphics::IControl
{
public:
  using IRECT = iplug::igraphics::IRECT;
  using IText = iplug::igraphics::IText;
  using IColor = iplug::igraphics::IColor;

  // track and lowDb..highDb are the input meter's, so the line sits at the meter level
  // the threshold stands for.
  ThresholdHandle(const IRECT& bounds, int paramIdx, const IRECT& track, float lowDb, float highDb,
                  const IText& labelStyle, const IColor& accent, const IColor& labelBackground);

  void OnMouseDown(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseUp(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseDrag(float x, float y, float dX, float dY, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseDblClick(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOver(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOut() override;
  void Draw(iplug::igraphics::IGraphics& g) override;
  bool IsHit(float x, float y) const override;
  // Grows the drawn rectangle over the label and the triangle, which reach past the control.
  void OnAttached() override;

  // The height on the track of a level in dB, held within the track.
  float YOfLevel(double db) const;

private:
  void SetFromY(float y);
  // The threshold's plain value: the parameter's, or the bottom of the range unbound.
  double CurrentLevel() const;
  static std::string LabelText(double level);

  IRECT mTrack;
  float mLowDb;
  float mHighDb;
  IText mLabelStyle;
  IColor mAccent;
  IColor mLabelBackground;
  // Where the label is drawn: the strip above the track, widened to the widest label.
  IRECT mLabelRect;
  bool mDragging = false;
  bool mHover = false;
  // The mouse is held after a double click: moving it must not undo the reset.
  bool mResetHeld = false;
};

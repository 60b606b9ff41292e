#pragma once

#include <string>

#include "BoundParamWatch.h"
#include "IControl.h"

namespace iplug::igraphics
{

// A rotary knob in the vector style: a value arc on a ring, a round handle and a pointer,
// with an optional label above and value text below (or inside the knob). Angles are
// degrees, 0 pointing up, clockwise; the value 0..1 sweeps from a1 to a2 and the arc
// grows from the anchor angle. Dragging along the direction changes the value by one
// full range per (width / 2 * gearing) units.
class IVKnobControl : public IControl
{
public:
  IVKnobControl(const IRECT& bounds, int paramIdx, const char* label = "", const IVStyle& style = DEFAULT_STYLE,
                bool valueIsEditable = false, bool valueInWidget = false, float a1 = -135.f, float a2 = 135.f,
                float aAnchor = -135.f, EDirection direction = EDirection::Vertical, double gearing = 4.,
                float trackSize = 2.f);

  void Draw(IGraphics& g) override;
  // The value arc on a ring of the given radius, between the anchor and the value's angle.
  virtual void DrawIndicatorTrack(IGraphics& g, float angle, float cx, float cy, float radius);

  void OnMouseDown(float x, float y, const IMouseMod& mod) override;
  void OnMouseUp(float x, float y, const IMouseMod& mod) override;
  void OnMouseDrag(float x, float y, float dX, float dY, const IMouseMod& mod) override;
  void OnMouseWheel(float x, float y, const IMouseMod& mod, float d) override;
  bool IsDirty() override;

  // The angle the current value points at.
  float GetAngle() const;

protected:
  // Where the parts go inside mRECT: the label strip, the knob itself, the value strip.
  struct Areas
  {
    IRECT label;
    IRECT widget;
    IRECT value;
  };
  Areas GetAreas() const;
  const IColor& GetColor(EVColor c) const { return mStyle.GetColor(c); }

  IVStyle mStyle;
  std::string mLabel;
  bool mValueIsEditable;
  bool mValueInWidget;
  float mAngle1;
  float mAngle2;
  float mAnchorAngle;
  EDirection mDirection;
  double mGearing;
  float mTrackSize;
  bool mPressed = false;

private:
  BoundParamWatch mWatch;
};

} // namespace iplug::igraphics

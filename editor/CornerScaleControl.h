#pragma once

#include "IControl.h"

// The grip in the window's bottom-right corner: dragging it scales the whole window
// between the smallest and largest scale, a double click returns to scale 1. The canvas
// keeps its size; only the draw scale changes.
class CornerScaleControl : public iplug::igraphics::IControl
{
public:
  CornerScaleControl(const iplug::igraphics::IRECT& bounds, float baseWidth, float minScale, float maxScale,
                     const iplug::igraphics::IColor& gripColour, const iplug::igraphics::IColor& hoverGripColour);

  void OnMouseDown(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseDrag(float x, float y, float dX, float dY, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseDblClick(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOver(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOut() override;
  void Draw(iplug::igraphics::IGraphics& g) override;

private:
  float mBaseWidth;
  float mMinScale;
  float mMaxScale;
  iplug::igraphics::IColor mGripColour;
  iplug::igraphics::IColor mHoverGripColour;
  float mStartWidth = 0.f;  // window width in pixels when the drag began
  float mDragAccum = 0.f;   // pixels dragged since the press
  bool mCursorSet = false;  // the resize cursor is ours to take back
  iplug::igraphics::ECursor mPrevCursor = iplug::igraphics::ECursor::ARROW;
};

#pragma once

#include "BoundParamWatch.h"
#include "IControl.h"

// The high-pass and low-pass corners on one horizontal track: the high-pass handle on the
// left half, the low-pass handle on the right, each logarithmic over its own parameter's
// range, with the span between them in the accent. The layout binds value 0 to the
// high-pass frequency and value 1 to the low-pass frequency (SetParamIdx) before attaching;
// the on/off switches are only read.
class BandStripControl : public iplug::igraphics::IControl
{
public:
  BandStripControl(const iplug::igraphics::IRECT& bounds, const iplug::igraphics::IColor& trackColour,
                   const iplug::igraphics::IColor& spanColour, const iplug::igraphics::IColor& onColour,
                   const iplug::igraphics::IColor& offColour, int hpOnParam, int lpOnParam, float unit = 1.f);

  void OnMouseDown(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseUp(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseDrag(float x, float y, float dX, float dY, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOver(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOut() override;
  void Draw(iplug::igraphics::IGraphics& g) override;
  bool IsDirty() override;

  // Where handle i (0 high-pass, 1 low-pass) sits on the track, 0..1: 0..0.5 for the
  // high-pass handle, 0.5..1 for the low-pass one.
  double HandlePos(int i) const;
  // The handle closer to x; a tie goes to the high-pass handle. With both handles at the
  // gap, x right of it takes the low-pass handle.
  int NearestHandle(float x) const;
  // Fills [x0, x1] at the track's height, leaving out the gap between the halves.
  void DrawOutsideSpan(iplug::igraphics::IGraphics& g, const iplug::igraphics::IColor& colour, float x0,
                       float x1) const;

  int DragHandle() const { return mDragHandle; }
  int HoverHandle() const { return mHoverHandle; }

private:
  struct Track
  {
    float left;
    float right;
    float cy;
    float cx;
  };
  Track GetTrack() const;
  float PosToX(double p) const;
  // 0..1 along the track for x.
  double XToPos(float x) const;
  bool SwitchOn(int paramIdx) const;
  // The frequency range a handle spreads over: from at least 1 Hz, at least 1.0001 : 1.
  bool MapRange(int i, double& lo, double& hi) const;

  iplug::igraphics::IColor mTrackColour;
  iplug::igraphics::IColor mSpanColour;
  iplug::igraphics::IColor mOnColour;
  iplug::igraphics::IColor mOffColour;
  int mHPOnParam;
  int mLPOnParam;
  float mUnit;
  int mDragHandle = -1;
  int mHoverHandle = -1;
  bool mHPOnShown = false;
  bool mLPOnShown = false;
  iplug::igraphics::BoundParamWatch mWatch;
};

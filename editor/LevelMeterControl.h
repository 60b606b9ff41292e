#pragma once

#include <string>

#include "IVPeakAvgMeterControl.h"

// A vertical level meter: the average as a bar, the held peak as a line with its value
// in dB above the track, and a dB scale on the outer side. It ignores the mouse so
// presses reach the threshold handle lying over the input meter.
class LevelMeterControl : public iplug::igraphics::IVPeakAvgMeterControl<1>
{
public:
  using IRECT = iplug::igraphics::IRECT;
  using IText = iplug::igraphics::IText;
  using IColor = iplug::igraphics::IColor;

  // The side the scale is drawn on follows the meter's place in the window.
  enum EKind
  {
    kNoScale = 0,
    kInput = 1,  // scale on the left
    kOutput = 2  // scale on the right
  };

  LevelMeterControl(const IRECT& bounds, const iplug::igraphics::IVStyle& style, float topInset, float barWidth,
                    const IText& readoutStyle, const IText& scaleStyle, float lowDb, float highDb, int kind);

  void OnMsgFromDelegate(int msgTag, int dataSize, const void* pData) override;
  void Draw(iplug::igraphics::IGraphics& g) override;
  void DrawPeak(iplug::igraphics::IGraphics& g, const IRECT& trackRect, int chIdx, bool aboveBaseValue) override;
  void MakeTrackRects(const IRECT& bounds) override;

  // The held peak in dB, within the meter's range; its bottom for silence.
  float PeakDb() const;
  // "-inf" for a peak within half a dB of the bottom of the range, else "%.1f dB".
  static std::string ReadoutText(float peakDb, float lowDb);

private:
  void DrawScale(iplug::igraphics::IGraphics& g, const IRECT& track);

  IColor mPeakColour{209, 250, 250, 250};
  IColor mOverColour{255, 235, 64, 52};
  IColor mTrackColour{18, 250, 250, 250};
  IColor mTickColour{33, 250, 250, 250};
  float mTopInset;
  float mBarWidth;
  IText mReadoutStyle;
  IText mScaleStyle;
  int mKind;
};

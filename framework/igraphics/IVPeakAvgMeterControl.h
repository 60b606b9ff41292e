#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "IControl.h"
#include "IGraphics.h"
#include "IPeakAvgSender.h"

namespace iplug::igraphics
{

// How an amplitude maps onto a meter's range.
enum class EResponse
{
  Linear, // the amplitude between those of lowDb and highDb
  Log     // its level in dB between lowDb and highDb
};

// A bar meter of MAXNC channels fed by an IPeakAvgSender through the delegate. Each
// channel's value (0..1 of the range) is its average level; its peak position is kept
// unclamped (below 0 or -inf when under the range, above 1 when over it). Vertical bars
// fill from the bottom, horizontal ones from the left.
template <int MAXNC = 1>
class IVPeakAvgMeterControl : public IControl
{
  static_assert(MAXNC >= 1);

public:
  using Data = ISenderData<MAXNC, std::pair<float, float>>;

  IVPeakAvgMeterControl(const IRECT& bounds, const char* label = "", const IVStyle& style = DEFAULT_STYLE,
                        EDirection dir = EDirection::Vertical, EResponse response = EResponse::Log,
                        float lowDb = -72.f, float highDb = 12.f, std::initializer_list<int> markers = {})
  : IControl(bounds, std::vector<int>(MAXNC, kNoParameter))
  , mStyle(style)
  , mLabel(label ? label : "")
  , mDirection(dir)
  , mResponse(response)
  , mLowDb(std::isfinite(lowDb) ? lowDb : -72.f)
  , mHighDb(std::isfinite(highDb) && highDb > mLowDb ? highDb : mLowDb + 1.f)
  , mMarkers(markers)
  {
    mPeakPositions.fill(kSilence);
    IVPeakAvgMeterControl::MakeTrackRects(mRECT);
  }

  void Draw(IGraphics& g) override
  {
    if (GetColor(kBG).A > 0)
      g.FillRect(GetColor(kBG), mRECT, &mBlend);
    for (int c = 0; c < MAXNC; ++c)
    {
      const IRECT& track = mTrackBounds[static_cast<size_t>(c)];
      if (track.Degenerate())
        continue;
      const float v = static_cast<float>(GetValue(c));
      if (v > 0.f)
        g.FillRect(GetColor(kFG), FilledPart(track, v), &mBlend);
      for (int db : mMarkers)
      {
        const float q = Position(static_cast<float>(db));
        if (q >= 0.f && q <= 1.f)
          DrawLineAcross(g, GetColor(kFR), track, q);
      }
      DrawPeak(g, track, c, GetPeakPosition(c) > v);
    }
    const IRECT label = LabelBounds(mRECT);
    if (!label.Degenerate())
      g.DrawText(mStyle.labelText, mLabel.c_str(), label, &mBlend);
    if (mStyle.drawFrame)
      g.DrawRect(GetColor(kFR), mRECT, &mBlend, mStyle.frameThickness);
  }

  // A thin line at the channel's peak; nothing while the peak is below the range.
  virtual void DrawPeak(IGraphics& g, const IRECT& trackRect, int chIdx, bool aboveBaseValue)
  {
    (void)aboveBaseValue;
    const float q = GetPeakPosition(chIdx);
    if (!(q >= 0.f))
      return;
    DrawLineAcross(g, GetColor(kFR), trackRect, std::min(q, 1.f));
  }

  // Lays out one track per channel below the label, side by side (vertical) or stacked.
  virtual void MakeTrackRects(const IRECT& bounds)
  {
    IRECT area = bounds;
    if (const IRECT label = LabelBounds(bounds); !label.Degenerate())
      area.T = label.B;
    const bool vertical = mDirection == EDirection::Vertical;
    const float length = vertical ? area.W() : area.H();
    const float size = (length - kTrackGap * (MAXNC - 1)) / MAXNC;
    for (int c = 0; c < MAXNC; ++c)
    {
      const float start = (vertical ? area.L : area.T) + c * (size + kTrackGap);
      mTrackBounds[static_cast<size_t>(c)] = vertical ? IRECT(start, area.T, start + size, area.B)
                                                      : IRECT(area.L, start, area.R, start + size);
    }
  }

  void OnAttached() override { MakeTrackRects(mRECT); }
  void OnResize() override { MakeTrackRects(mRECT); }

  // Takes the sender's (peak, average) amplitudes; a message of any other size is not ours.
  void OnMsgFromDelegate(int /*msgTag*/, int dataSize, const void* pData) override
  {
    if (IsDisabled() || !pData || dataSize != static_cast<int>(sizeof(Data)))
      return;
    const Data& d = *static_cast<const Data*>(pData);
    const int n = std::clamp(d.nChans, 0, MAXNC);
    bool changed = false;
    for (int i = 0; i < n; ++i)
    {
      const int ch = d.chanOffset + i;
      if (ch < 0 || ch >= MAXNC)
        continue;
      const auto [peak, avg] = d.vals[static_cast<size_t>(i)];
      const float peakPos = PositionOfAmplitude(peak);
      const double before = GetValue(ch);
      float& held = mPeakPositions[static_cast<size_t>(ch)];
      // Not-a-number never equals itself: a NaN position counts as unchanged when it was one.
      changed = changed || !(peakPos == held || (std::isnan(peakPos) && std::isnan(held)));
      held = peakPos;
      SetValue(std::clamp(PositionOfAmplitude(avg), 0.f, 1.f), ch);
      changed = changed || GetValue(ch) != before;
    }
    // The same levels again (silence) leave the meter as it is drawn.
    if (changed)
      SetDirty(false);
  }

  // Where an amplitude falls in the range, unclamped; silence (0 or NaN) is -inf in Log.
  float PositionOfAmplitude(float amp) const
  {
    const float a = std::isnan(amp) ? 0.f : std::fabs(amp);
    if (mResponse == EResponse::Linear)
    {
      const float lo = AmpOfDb(mLowDb), hi = AmpOfDb(mHighDb);
      return (a - lo) / (hi - lo);
    }
    return Position(static_cast<float>(kDbPerNeper * std::log(static_cast<double>(a))));
  }

  float GetPeakPosition(int chIdx) const
  {
    return chIdx >= 0 && chIdx < MAXNC ? mPeakPositions[static_cast<size_t>(chIdx)] : kSilence;
  }
  const IRECT& GetTrackBounds(int chIdx) const { return mTrackBounds[static_cast<size_t>(std::clamp(chIdx, 0, MAXNC - 1))]; }
  float GetLowDb() const { return mLowDb; }
  float GetHighDb() const { return mHighDb; }

protected:
  const IColor& GetColor(EVColor c) const { return mStyle.GetColor(c); }

  IVStyle mStyle;
  std::string mLabel;
  EDirection mDirection;
  EResponse mResponse;
  float mLowDb;
  float mHighDb;
  std::vector<int> mMarkers;
  std::array<IRECT, MAXNC> mTrackBounds{};
  std::array<float, MAXNC> mPeakPositions{};

private:
  static constexpr float kSilence = -std::numeric_limits<float>::infinity();
  // 20 / ln(10): dB of an amplitude from its natural logarithm.
  static constexpr double kDbPerNeper = 8.685889638065037;
  static constexpr float kTrackGap = 2.f;
  static constexpr float kLabelPad = 4.f;

  static float AmpOfDb(float db) { return std::pow(10.f, db / 20.f); }

  // A level in dB as a position of the range.
  float Position(float db) const { return (db - mLowDb) / (mHighDb - mLowDb); }

  IRECT LabelBounds(const IRECT& bounds) const
  {
    if (!mStyle.showLabel || mLabel.empty())
      return IRECT();
    const float h = std::min(mStyle.labelText.mSize + kLabelPad, 0.5f * bounds.H());
    return IRECT(bounds.L, bounds.T, bounds.R, bounds.T + h);
  }

  // The part of a track up to position q (0..1).
  IRECT FilledPart(const IRECT& track, float q) const
  {
    if (mDirection == EDirection::Vertical)
      return IRECT(track.L, track.B - q * track.H(), track.R, track.B);
    return IRECT(track.L, track.T, track.L + q * track.W(), track.B);
  }

  // A one-unit line across a track at position q, kept inside the track at the ends.
  void DrawLineAcross(IGraphics& g, const IColor& color, const IRECT& track, float q)
  {
    if (mDirection == EDirection::Vertical)
    {
      const float y = std::clamp(track.B - q * track.H(), track.T + 0.5f, track.B - 0.5f);
      g.FillRect(color, IRECT(track.L, y - 0.5f, track.R, y + 0.5f), &mBlend);
    }
    else
    {
      const float x = std::clamp(track.L + q * track.W(), track.L + 0.5f, track.R - 0.5f);
      g.FillRect(color, IRECT(x - 0.5f, track.T, x + 0.5f, track.B), &mBlend);
    }
  }
};

} // namespace iplug::igraphics

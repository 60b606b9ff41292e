#include "LevelMeterControl.h"

#include <algorithm>
#include <cmath>

#include "FixedText.h"

using namespace iplug::igraphics;

namespace
{

// 20 / ln(10): dB of an amplitude from its natural logarithm.
constexpr double kDbPerLn = 8.685889638065037;
// Room beside the track for the scale.
constexpr float kScaleWidth = 20.f;
constexpr int kScaleLevels[] = {0, -12, -24, -36, -48};

} // namespace

LevelMeterControl::LevelMeterControl(const IRECT& bounds, const IVStyle& style, float topInset, float barWidth,
                                     const IText& readoutStyle, const IText& scaleStyle, float lowDb, float highDb,
                                     int kind)
: IVPeakAvgMeterControl<1>(bounds, "", style, EDirection::Vertical, EResponse::Log, lowDb, highDb, {})
, mTopInset(topInset)
, mBarWidth(barWidth)
, mReadoutStyle(readoutStyle)
, mScaleStyle(scaleStyle)
, mKind(kind)
{
  SetIgnoreMouse(true);
  MakeTrackRects(mRECT);
}

void LevelMeterControl::OnMsgFromDelegate(int, int dataSize, const void* pData)
{
  if (IsDisabled() || !pData || dataSize != static_cast<int>(sizeof(Data)))
    return;
  const Data& d = *static_cast<const Data*>(pData);
  // Positions in the range, held within 0..1: a NaN level from a misbehaving signal path
  // reads as silence, an infinite one as the top.
  auto position = [this](float amplitude) {
    if (std::isnan(amplitude))
      return 0.f;
    const double db = kDbPerLn * std::log(std::fabs(static_cast<double>(amplitude)));
    const double q = (db - mLowDb) / (mHighDb - mLowDb);
    return std::isnan(q) ? 0.f : static_cast<float>(std::clamp(q, 0., 1.));
  };
  // As drawn: a peak below the range (none yet) shows as one at its bottom.
  const auto shown = [](float q) { return std::clamp(q, 0.f, 1.f); };
  const float peakBefore = shown(mPeakPositions[0]);
  const double valueBefore = GetValue(0);
  const int n = std::clamp(d.nChans, 0, 1);
  for (int i = 0; i < n; ++i)
  {
    if (d.chanOffset + i != 0)
      continue;
    const auto [peak, avg] = d.vals[static_cast<size_t>(i)];
    mPeakPositions[0] = position(peak);
    SetValue(position(avg), 0);
  }
  // Silence, or levels below the scale, arrive again and again and change nothing shown.
  if (shown(mPeakPositions[0]) != peakBefore || GetValue(0) != valueBefore)
    SetDirty(false);
}

float LevelMeterControl::PeakDb() const
{
  const float q = GetPeakPosition(0);
  if (std::isnan(q))
    return mLowDb;
  return mLowDb + (mHighDb - mLowDb) * std::clamp(q, 0.f, 1.f);
}

std::string LevelMeterControl::ReadoutText(float peakDb, float lowDb)
{
  if (!(peakDb > lowDb + 0.5f))
    return "-inf";
  // A peak just below 0 dB reads 0.0 dB, not -0.0 dB.
  char buffer[48];
  char* end = morvellan::WriteFixed(buffer, buffer + sizeof(buffer), peakDb, 1);
  if (end == buffer)
    return "-inf";
  return std::string(buffer, end) + " dB";
}

void LevelMeterControl::MakeTrackRects(const IRECT& bounds)
{
  IRECT area(bounds.L, bounds.T + mTopInset, bounds.R, bounds.B);
  if (mKind == kInput)
    area.L += kScaleWidth;
  else if (mKind == kOutput)
    area.R -= kScaleWidth;
  const float half = 0.5f * mBarWidth;
  mTrackBounds[0] = IRECT(area.MW() - half, area.T, area.MW() + half, area.B);
}

void LevelMeterControl::Draw(IGraphics& g)
{
  const IRECT& track = GetTrackBounds(0);
  g.FillRect(mTrackColour, track, &mBlend);
  IVPeakAvgMeterControl<1>::Draw(g);
  DrawScale(g, track);

  const float peakDb = PeakDb();
  IText readout = mReadoutStyle.WithAlign(EAlign::Center);
  if (peakDb >= 0.f)
    readout = readout.WithFGColor(mOverColour);
  g.DrawText(readout, ReadoutText(peakDb, mLowDb).c_str(), IRECT(mRECT.L, mRECT.T, mRECT.R, mRECT.T + mTopInset),
             &mBlend);
}

void LevelMeterControl::DrawPeak(IGraphics& g, const IRECT& trackRect, int chIdx, bool)
{
  const float position = GetPeakPosition(chIdx);
  const float q = std::isnan(position) ? 0.f : std::clamp(position, 0.f, 1.f);
  if (q < 0.0001f)
    return;
  const float y = trackRect.B - trackRect.H() * q;
  const float h = 0.5f * std::max(1.f, 0.12f * trackRect.W());
  g.FillRect(PeakDb() >= 0.f ? mOverColour : mPeakColour, IRECT(trackRect.L, y - h, trackRect.R, y + h), &mBlend);
}

void LevelMeterControl::DrawScale(IGraphics& g, const IRECT& track)
{
  if (mKind != kInput && mKind != kOutput)
    return;
  const bool input = mKind == kInput;
  const float span = std::max(1.f, mHighDb - mLowDb);
  const float x1 = input ? track.L - 5.f : track.R + 1.f;
  const IText style = mScaleStyle.WithAlign(input ? EAlign::Far : EAlign::Near);
  for (const int level : kScaleLevels)
  {
    const float y = track.B - (static_cast<float>(level) - mLowDb) / span * track.H();
    g.DrawLine(mTickColour, x1, y, x1 + 4.f, y, &mBlend, 1.f);
    const IRECT label = input ? IRECT(track.L - 22.f, y - 6.f, track.L - 6.f, y + 6.f)
                              : IRECT(track.R + 6.f, y - 6.f, track.R + 22.f, y + 6.f);
    g.DrawText(style, std::to_string(level).c_str(), label, &mBlend);
  }
}

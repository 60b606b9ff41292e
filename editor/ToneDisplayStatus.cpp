#include <algorithm>
#include <cmath>
#include <string>

#include "IGraphics.h"
#include "ToneDisplayControl.h"

using namespace iplug::igraphics;

namespace
{

constexpr const char* kMiddleDot = "\xC2\xB7";   // U+00B7
constexpr const char* kEllipsis = "\xE2\x80\xA6"; // U+2026

} // namespace

ToneDisplayControl::StatusLine ToneDisplayControl::AdaptationStatus(const Reading& reading)
{
  if (reading.bypassed)
    return {"BYPASSED", StatusTone::Dim};
  if (reading.idle)
    return {"IDLE", StatusTone::Dim};
  if (reading.aboveThreshold)
    return {"ADAPTING", StatusTone::Bright};
  return {std::string("HOLDING ") + kMiddleDot + " BELOW THRESHOLD", StatusTone::Dim};
}

ToneDisplayControl::StatusLine ToneDisplayControl::TargetStatus(const Reading& reading)
{
  if (reading.learning)
  {
    const float p = std::isfinite(reading.progress) ? std::clamp(reading.progress, 0.f, 1.f) : 0.f;
    return {"LEARNING " + std::to_string(static_cast<int>(p * 100.f + 0.5f)) + "%", StatusTone::Dim};
  }
  if (reading.analysing)
    return {std::string("ANALYSING REFERENCE FILE") + kEllipsis, StatusTone::Dim};
  if (!reading.message.empty())
    return {reading.message, StatusTone::Error};
  const std::string prefix = std::string("TARGET ") + kMiddleDot + " ";
  if (reading.hasTarget)
    return {prefix + (reading.targetName.empty() ? "LEARNED FROM INPUT" : reading.targetName), StatusTone::Accent};
  return {prefix + "BALANCED", StatusTone::Dim};
}

void ToneDisplayControl::DrawStatusText(IGraphics& g, const Reading& reading)
{
  const IRECT& p = mPlot;
  const auto colour = [this](StatusTone tone) -> const IColor& {
    switch (tone)
    {
    case StatusTone::Bright:
      return mHandleLabelColour;
    case StatusTone::Accent:
      return mAccent;
    case StatusTone::Error:
      return mErrorColour;
    case StatusTone::Dim:
      break;
    }
    return mDimTextColour;
  };

  const StatusLine left = AdaptationStatus(reading);
  const bool adapting = left.tone == StatusTone::Bright;
  g.FillCircle(adapting ? mAccent : mIdleDotColour, p.L + 13.f, p.T + 13.f, 3.f);
  g.DrawText(mTextStyle.WithAlign(EAlign::Near).WithFGColor(colour(left.tone)), left.text.c_str(),
             IRECT(p.L + 22.f, p.T + 6.f, p.L + 300.f, p.T + 20.f));

  const StatusLine right = TargetStatus(reading);
  g.DrawText(mTextStyle.WithAlign(EAlign::Far).WithFGColor(colour(right.tone)), right.text.c_str(),
             IRECT(p.R - 420.f, p.T + 6.f, p.R - 10.f, p.T + 20.f));
}

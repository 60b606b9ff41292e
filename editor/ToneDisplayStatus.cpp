#include <algorithm>
#include <cmath>
#include <string>

#include "IGraphics.h"
#include "ToneDisplayControl.h"
#include "halvorsted/controls/EllipsisFit.h"

using namespace iplug::igraphics;

namespace
{

constexpr const char* kMiddleDot = "\xC2\xB7";   // U+00B7
constexpr const char* kEllipsis = "\xE2\x80\xA6"; // U+2026
// Free space kept between a status line and the mode toggle.
constexpr float kToggleClearance = 6.f;

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

  // Each line keeps to its side of the mode toggle: a long target name or error is
  // shortened with an ellipsis rather than run under the toggle and over the other line.
  const IRECT toggle = ModeToggleRect();
  const auto fitted = [&g](const IText& style, const std::string& text, float width) {
    return halvorsted::controls::FitWithEllipsis(text, width, [&](const std::string& candidate) {
      IRECT extent;
      return g.MeasureText(style, candidate.c_str(), extent);
    });
  };

  const StatusLine left = AdaptationStatus(reading);
  const bool adapting = left.tone == StatusTone::Bright;
  g.FillCircle(adapting ? mAccent : mIdleDotColour, p.L + 13.f, p.T + 13.f, 3.f);
  const IText leftStyle = mTextStyle.WithAlign(EAlign::Near).WithFGColor(colour(left.tone));
  const IRECT leftRect(p.L + 22.f, p.T + 6.f, p.L + 300.f, p.T + 20.f);
  const float leftRoom = std::min(leftRect.R, toggle.L - kToggleClearance) - leftRect.L;
  g.DrawText(leftStyle, fitted(leftStyle, left.text, leftRoom).c_str(), leftRect);

  const StatusLine right = TargetStatus(reading);
  const IText rightStyle = mTextStyle.WithAlign(EAlign::Far).WithFGColor(colour(right.tone));
  const IRECT rightRect(p.R - 420.f, p.T + 6.f, p.R - 10.f, p.T + 20.f);
  const float rightRoom = rightRect.R - std::max(rightRect.L, toggle.R + kToggleClearance);
  g.DrawText(rightStyle, fitted(rightStyle, right.text, rightRoom).c_str(), rightRect);
}

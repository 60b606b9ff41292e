#include <algorithm>
#include <cmath>

#include "IGraphics.h"
#include "ToneDisplayControl.h"

using namespace iplug::igraphics;

namespace
{

constexpr float kBoxWidth = 160.f;
constexpr double kMinQ = 0.3;
constexpr double kQSpan = 100.0 / 3.0; // 10 / 0.3
const char* const kRowLabels[] = {"Freq", "Gain", "Q"};

bool ShelfCapable(int band)
{
  return band == 0 || band == ToneDisplayControl::kNumPreEqBands - 1;
}

// Room above the rows taken by the shape buttons.
float RowsTop(int band)
{
  return ShelfCapable(band) ? 32.f : 8.f;
}

} // namespace

IRECT ToneDisplayControl::BandEditorRectFor(int band) const
{
  if (band < 0 || band >= kNumPreEqBands)
    return IRECT();
  const float h = RowsTop(band) + 54.f + 6.f;
  const float cx = InsetX(XOfFreq(ParamValue(PreEqParam(band, 1))), 84.f);
  const float yb = YOfGain(ParamValue(PreEqParam(band, 0)));
  float top = yb + 14.f;
  if (top + h > mPlot.B - 4.f)
    top = yb - 14.f - h;
  return IRECT(cx - kBoxWidth / 2.f, top, cx + kBoxWidth / 2.f, top + h);
}

int ToneDisplayControl::BandEditorRowParam(int row) const
{
  static constexpr int kFieldOfRow[] = {1, 0, 2};
  return PreEqParam(mEditorBand, kFieldOfRow[std::clamp(row, 0, 2)]);
}

IRECT ToneDisplayControl::BandEditorRect() const
{
  return BandEditorRectFor(mEditorBand);
}

IRECT ToneDisplayControl::BandEditorRowRect(int row) const
{
  if (mEditorBand < 0)
    return IRECT();
  const IRECT box = BandEditorRect();
  const float rowT = box.T + RowsTop(mEditorBand) + 18.f * row;
  return IRECT(box.L + 10.f, rowT, box.R - 8.f, rowT + 16.f);
}

IRECT ToneDisplayControl::BandEditorValueRect(int row) const
{
  if (mEditorBand < 0)
    return IRECT();
  const IRECT field = BandEditorRowRect(row);
  return IRECT(field.R - (row == 2 ? 38.f : 66.f), field.T, field.R, field.B);
}

IRECT ToneDisplayControl::ShapeButtonRect(int button) const
{
  if (!ShelfCapable(mEditorBand))
    return IRECT();
  const IRECT box = BandEditorRect();
  const float l = box.L + 10.f + 40.f * button;
  return IRECT(l, box.T + 8.f, l + 34.f, box.T + 26.f);
}

IRECT ToneDisplayControl::QSliderRect() const
{
  if (mEditorBand < 0)
    return IRECT();
  const IRECT box = BandEditorRect();
  const float cy = box.T + RowsTop(mEditorBand) + 36.f + 8.f;
  return IRECT(box.L + 26.f, cy - 3.f, box.R - 54.f, cy + 3.f);
}

double ToneDisplayControl::QSliderPosition(double q)
{
  const double t = std::log(q / kMinQ) / std::log(kQSpan);
  return std::isnan(t) ? 0.0 : std::clamp(t, 0.0, 1.0);
}

double ToneDisplayControl::QFromSliderX(float x) const
{
  const IRECT track = QSliderRect();
  const double u = std::clamp(static_cast<double>(x - track.L) / std::max(1.0, static_cast<double>(track.W())), 0.0, 1.0);
  return kMinQ * std::pow(kQSpan, u);
}

void ToneDisplayControl::DrawBandEditor(IGraphics& g)
{
  const int band = mEditorBand;
  const IRECT box = BandEditorRect();
  g.FillRoundRect(mEditorFillColour, box, 6.f);
  g.DrawRoundRect(mPreEqColour.WithAlpha(153), box, 6.f, nullptr, 1.f);

  if (ShelfCapable(band))
  {
    const int chosen = ParamValue(PreEqShelfParam(band)) >= 0.5 ? 1 : 0;
    for (int j = 0; j < 2; ++j)
    {
      const IRECT button = ShapeButtonRect(j);
      const bool lit = j == chosen;
      g.FillRoundRect(lit ? mPreEqColour : mBackgroundColour, button, 4.f);
      g.DrawRoundRect(lit ? mPreEqColour : mDimColour, button, 4.f, nullptr, 1.f);
      DrawBandShapeIcon(g, button.MW() - 6.f, button.MH(), lit ? mBackgroundColour : mPreEqLabelColour, j == 1,
                        band != 0);
    }
  }

  const IText label = mCentredTextStyle.WithAlign(EAlign::Near).WithFGColor(mPreEqLabelColour);
  const IText value = mCentredTextStyle.WithFGColor(mPreEqLabelColour);
  char text[24];
  for (int row = 0; row < 3; ++row)
  {
    g.DrawText(label, kRowLabels[row], BandEditorRowRect(row));
    const IRECT valueBox = BandEditorValueRect(row);
    g.DrawRoundRect(mDimColour.WithAlpha(153), valueBox, 3.f, nullptr, 1.f);
    FormatBandEditorValue(row, ParamValue(BandEditorRowParam(row)), text);
    g.DrawText(value, text, valueBox);
  }

  const IRECT track = QSliderRect();
  const float knobX = track.L + track.W() * static_cast<float>(QSliderPosition(ParamValue(PreEqParam(band, 2))));
  g.FillRoundRect(mDimColour, IRECT(track.L, track.T + 1.5f, track.R, track.B - 1.5f), 1.5f);
  g.FillRoundRect(mPreEqColour, IRECT(track.L, track.T + 1.5f, knobX, track.B - 1.5f), 1.5f);
  g.FillCircle(mPreEqColour, knobX, track.MH(), 5.f);
}

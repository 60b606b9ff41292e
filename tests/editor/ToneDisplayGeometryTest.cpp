// The display's mapping, labels, status lines, hit areas and band editor box geometry.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>

#include "LevelMeterControl.h"
#include "ToneDisplayRig.h"

using iplug::igraphics::IRECT;
using Reading = ToneDisplayControl::Reading;
using Tone = ToneDisplayControl::StatusTone;

namespace
{

constexpr float kW = DisplayRig::kR - DisplayRig::kL; // 660
constexpr float kMid = 210.f;

TEST(ToneDisplayMapping, FrequencyAndGainMapBothWays)
{
  DisplayRig rig;
  const ToneDisplayControl& d = *rig.display;
  EXPECT_FLOAT_EQ(d.XOfFreq(20.0), DisplayRig::kL);
  EXPECT_FLOAT_EQ(d.XOfFreq(20000.0), DisplayRig::kR);
  EXPECT_NEAR(d.XOfFreq(200.0), DisplayRig::kL + kW / 3.f, 1e-3);
  EXPECT_NEAR(d.XOfFreq(2000.0), DisplayRig::kL + 2.f * kW / 3.f, 1e-3);
  EXPECT_NEAR(d.FreqOfX(DisplayRig::kL + kW / 2.f), 20.0 * std::sqrt(1000.0), 1e-6 * 632.0);
  EXPECT_DOUBLE_EQ(d.FreqOfX(0.f), 20.0); // clamped to the plot
  EXPECT_DOUBLE_EQ(d.FreqOfX(900.f), 20000.0);

  // +-20 dB lie 6 units inside the top and bottom; 92 units per 20 dB.
  EXPECT_FLOAT_EQ(d.YOfGain(20.0), DisplayRig::kT + 6.f);
  EXPECT_FLOAT_EQ(d.YOfGain(-20.0), DisplayRig::kB - 6.f);
  EXPECT_FLOAT_EQ(d.YOfGain(0.0), kMid);
  EXPECT_NEAR(d.GainOfY(kMid - 46.f), 10.0, 1e-9);
  EXPECT_NEAR(d.GainOfY(d.YOfGain(-7.3)), -7.3, 1e-5);

  // Levels: -80 dB and below on the bottom edge, -10 and above 8 below the top, unmeasured at the bottom.
  EXPECT_FLOAT_EQ(d.YOfLevel(-80.0), DisplayRig::kB);
  EXPECT_FLOAT_EQ(d.YOfLevel(-300.0), DisplayRig::kB);
  EXPECT_FLOAT_EQ(d.YOfLevel(-10.0), DisplayRig::kT + 8.f);
  EXPECT_FLOAT_EQ(d.YOfLevel(0.0), DisplayRig::kT + 8.f);
  EXPECT_FLOAT_EQ(d.YOfLevel(-45.0), DisplayRig::kB - 94.f);
  EXPECT_FLOAT_EQ(d.YOfLevel(std::nan("")), DisplayRig::kB);

  EXPECT_DOUBLE_EQ(ToneDisplayControl::CurveFreq(0), 20.0);
  EXPECT_NEAR(ToneDisplayControl::CurveFreq(119), 20000.0, 1e-9);
  EXPECT_FLOAT_EQ(d.CurveX(119), DisplayRig::kR);
}

TEST(ToneDisplayLabels, NumbersReadAsWrittenWhateverTheLocale)
{
  // A host may switch to a locale whose decimal point is a comma; the labels keep the point.
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");

  char f[16];
  const std::pair<double, const char*> range[] = {{20.0, "20"},    {250.0, "250"},   {999.6, "1000"},
                                                  {1000.0, "1.0k"}, {9949.0, "9.9k"}, {9950.0, "10k"},
                                                  {20000.0, "20k"}};
  for (const auto& [hz, text] : range)
  {
    ToneDisplayControl::FormatFrequencyLabel(hz, f);
    EXPECT_STREQ(f, text) << hz;
  }
  ToneDisplayControl::FormatGridFrequency(500.0, f);
  EXPECT_STREQ(f, "500");
  ToneDisplayControl::FormatGridFrequency(10000.0, f);
  EXPECT_STREQ(f, "10k");
  ToneDisplayControl::FormatGridGain(12, f);
  EXPECT_STREQ(f, "+12");
  ToneDisplayControl::FormatGridGain(-6, f);
  EXPECT_STREQ(f, "-6");

  char v[24];
  const std::tuple<int, double, const char*> box[] = {{0, 999.9, "1000 Hz"},    {0, 1000.0, "1.00 kHz"},
                                                      {0, 12500.0, "12.50 kHz"}, {1, 0.0, "+0.0 dB"},
                                                      {1, -1.5, "-1.5 dB"},      {2, 0.707, "0.71"}};
  for (const auto& [row, value, text] : box)
  {
    ToneDisplayControl::FormatBandEditorValue(row, value, v);
    EXPECT_STREQ(v, text) << row << " " << value;
  }

  DisplayRig rig;
  rig.dlg.Set(kPresenceTarget, 2.5);
  rig.dlg.Set(kAirTarget, -3.0);
  rig.dlg.Set(kRangeHigh, 5000.0); // the low band's 120 Hz stays inside, the air band's 10 kHz is out
  rig.dlg.Set(kBodyOn, 0.0);
  char caption[48];
  rig.display->FormatTargetCaption(2, caption);
  EXPECT_STREQ(caption, "PRESENCE  +2.5");
  rig.display->FormatTargetCaption(3, caption);
  EXPECT_STREQ(caption, "AIR  OUTSIDE");
  rig.display->FormatTargetCaption(1, caption);
  EXPECT_STREQ(caption, "BODY  OFF");
  rig.display->FormatTargetCaption(0, caption);
  EXPECT_STREQ(caption, "LOW  0.0");
  rig.dlg.Set(kRangeHigh, 20000.0);
  rig.display->FormatTargetCaption(3, caption);
  EXPECT_STREQ(caption, "AIR  -3.0");

  rig.dlg.Set(kPreEq3Gain, 3.0);
  rig.dlg.Set(kPreEq2On, 0.0);
  char label[32];
  rig.display->FormatPreEqLabel(2, label);
  EXPECT_STREQ(label, "2.5k  +3.0");
  rig.display->FormatPreEqLabel(1, label);
  EXPECT_STREQ(label, "OFF");

  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ToneDisplayStatus, LinesFollowTheirPrecedence)
{
  Reading r;
  EXPECT_EQ(ToneDisplayControl::AdaptationStatus(r).text, "HOLDING \xC2\xB7 BELOW THRESHOLD");
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).text, "TARGET \xC2\xB7 BALANCED");
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).tone, Tone::Dim);

  r.aboveThreshold = true;
  EXPECT_EQ(ToneDisplayControl::AdaptationStatus(r).text, "ADAPTING");
  EXPECT_EQ(ToneDisplayControl::AdaptationStatus(r).tone, Tone::Bright);
  r.idle = true;
  EXPECT_EQ(ToneDisplayControl::AdaptationStatus(r).text, "IDLE");
  EXPECT_EQ(ToneDisplayControl::AdaptationStatus(r).tone, Tone::Dim);
  r.bypassed = true;
  EXPECT_EQ(ToneDisplayControl::AdaptationStatus(r).text, "BYPASSED");
  EXPECT_EQ(ToneDisplayControl::AdaptationStatus(r).tone, Tone::Dim);

  r.hasTarget = true;
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).text, "TARGET \xC2\xB7 LEARNED FROM INPUT");
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).tone, Tone::Accent);
  r.targetName = "my Mix \xE2\x80\x94 a long name that is never shortened or upper-cased";
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).text, "TARGET \xC2\xB7 " + r.targetName);
  r.message = "COULD NOT LEARN: the file is too short to learn from";
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).text, r.message);
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).tone, Tone::Error);
  r.analysing = true;
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).text, "ANALYSING REFERENCE FILE\xE2\x80\xA6");
  r.learning = true;
  r.progress = 0.995f;
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).text, "LEARNING 100%");
  r.progress = 0.004f;
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).text, "LEARNING 0%");
  r.progress = 0.42f;
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).text, "LEARNING 42%");
  r.progress = std::nanf("");
  EXPECT_EQ(ToneDisplayControl::TargetStatus(r).text, "LEARNING 0%");
}

TEST(ToneDisplayStatus, LongLinesAreShortenedToTheirSideOfTheToggle)
{
  for (float scale : {1.f, 2.f})
  {
    DisplayRig rig(scale);
    rig.reading.hasTarget = true;
    rig.reading.targetName = "Warm vocal \xE2\x80\x94 " + std::string(80, 'W');
    rig.g.OnFrame();
    int stride = 0;
    const unsigned char* px = rig.g.GetPixels(stride);
    // Pixels of the target line's colour, the rig's accent (92,200,255), far bluer than the
    // grey around it, along the status row (T + 6 .. T + 20) between two canvas x.
    const auto accent = [&](float x0, float x1) {
      int n = 0;
      for (int y = int((DisplayRig::kT + 6.f) * scale); y < int((DisplayRig::kT + 20.f) * scale); ++y)
        for (int x = int(x0 * scale); x < int(x1 * scale); ++x)
          n += px[y * stride + x * 4] - px[y * stride + x * 4 + 2] > 40;
      return n;
    };
    const IRECT toggle = rig.display->ModeToggleRect(); // 298 .. 422
    EXPECT_EQ(accent(DisplayRig::kL + 1.f, toggle.L - 1.f), 0) << scale;
    EXPECT_EQ(accent(toggle.R + 1.f, toggle.R + 6.f), 0) << scale;
    EXPECT_GT(accent(toggle.R + 6.f, toggle.R + 16.f), 0) << scale; // shortened, not dropped
  }
}

TEST(ZeroReadouts, ValuesThatReadAsZeroShowNoMinus)
{
  for (const auto& [db, text] : {std::pair{-0.049f, "0.0 dB"}, {0.04f, "0.0 dB"}, {-0.06f, "-0.1 dB"}})
    EXPECT_EQ(LevelMeterControl::ReadoutText(db, -54.f), text) << db;

  // The box signs every gain, the captions and labels only those that read above zero.
  DisplayRig rig;
  char box[24], caption[48], label[32];
  for (const auto& [db, boxText, gainText] :
       {std::tuple{-0.04, "+0.0 dB", "0.0"}, {0.04, "+0.0 dB", "0.0"}, {-0.06, "-0.1 dB", "-0.1"}})
  {
    ToneDisplayControl::FormatBandEditorValue(1, db, box);
    EXPECT_STREQ(box, boxText) << db;
    rig.dlg.Set(kLowTarget, db);
    rig.display->FormatTargetCaption(0, caption);
    EXPECT_EQ(std::string(caption), std::string("LOW  ") + gainText) << db;
    rig.dlg.Set(kPreEq3Gain, db);
    rig.display->FormatPreEqLabel(2, label);
    EXPECT_EQ(std::string(label), std::string("2.5k  ") + gainText) << db;
  }
}

TEST(ToneDisplayReadingRecord, DefaultsAndMovesAsDescribed)
{
  Reading r;
  EXPECT_EQ(r.sampleRate, 48000.0);
  EXPECT_EQ(r.hpHz, 20.0);
  EXPECT_EQ(r.lpHz, 20000.0);
  r.targetName = "a target name longer than any small-string buffer";
  r.message = "short";
  r.levelDb[3] = -12.f;
  Reading moved(std::move(r));
  EXPECT_TRUE(r.targetName.empty());
  EXPECT_TRUE(r.message.empty());
  EXPECT_EQ(moved.message, "short");
  EXPECT_EQ(moved.levelDb[3], -12.f);
}

TEST(ToneDisplayHitAreas, RangePillsWinOverLinesAndBandsOverRanges)
{
  DisplayRig rig;
  ToneDisplayControl& d = *rig.display;
  // Defaults: both handles at their ends, pills pushed inside the plot, lines not grabbable.
  EXPECT_EQ(d.RangePillRect(0), IRECT(DisplayRig::kL + 2.f, 273.f, DisplayRig::kL + 40.f, 289.f));
  EXPECT_EQ(d.RangePillRect(1), IRECT(DisplayRig::kR - 40.f, 273.f, DisplayRig::kR - 2.f, 289.f));
  EXPECT_EQ(d.HitRangeHandle(DisplayRig::kL + 1.f, 200.f), -1);
  EXPECT_EQ(d.HitRangeHandle(DisplayRig::kL + 2.f, 273.f), 0);
  EXPECT_EQ(d.HitRangeHandle(DisplayRig::kL + 40.f, 280.f), -1); // right edge is outside
  EXPECT_EQ(d.HitRangeHandle(DisplayRig::kL + 20.f, 289.f), -1); // bottom edge is outside

  rig.dlg.Set(kRangeLow, 1000.0);
  rig.dlg.Set(kRangeHigh, 1100.0);
  const float xLo = d.XOfFreq(1000.0), xHi = d.XOfFreq(1100.0); // 9.1 units apart
  EXPECT_EQ(d.HitRangeHandle(xLo + 4.f, 200.f), 0);
  EXPECT_EQ(d.HitRangeHandle(xHi - 4.f, 200.f), 1);
  EXPECT_EQ(d.HitRangeHandle(xLo + 4.f, DisplayRig::kT + 20.f), -1); // among the status lines
  EXPECT_EQ(d.HitRangeHandle(xHi + 7.f, 200.f), -1);
  // Overlapping pills: the low one is tested first.
  EXPECT_EQ(d.HitRangeHandle(xHi, 280.f), 0);

  // A target band dot takes a press before a range line under it.
  rig.dlg.Set(kPresenceFreq, 1050.0);
  float bx, by;
  d.TargetHandle(2, bx, by);
  EXPECT_EQ(d.PosToBand(bx, by + 10.f), 2);
  EXPECT_EQ(d.PosToBand(bx, by + 18.f), -1); // 18 units is outside the dot's reach
  rig.Down(bx, by + 10.f);
  EXPECT_EQ(rig.dlg.Trace(), "b11 b12");
  rig.Up(bx, by + 10.f);

  // Pre-EQ discs: 14 units, the nearer of two wins, a later one only when strictly nearer.
  rig.dlg.Set(kPreEq2Freq, 1000.0);
  rig.dlg.Set(kPreEq3Freq, 1000.0);
  float px, py;
  d.PreEqHandle(1, px, py);
  EXPECT_EQ(d.HitPreEqBand(px + 13.f, py), 1);
  EXPECT_EQ(d.HitPreEqBand(px + 14.f, py), -1);
  rig.dlg.Set(kPreEq3Gain, 1.0);
  EXPECT_EQ(d.HitPreEqBand(px, py - 3.f), 2);
}

TEST(ToneDisplayBandEditorBox, GeometryFollowsTheBandAndStaysInsideTheSides)
{
  DisplayRig rig;
  ToneDisplayControl& d = *rig.display;
  rig.Click(380.f, 120.f);
  ASSERT_EQ(d.Mode(), ToneDisplayControl::kModePreEq);
  EXPECT_TRUE(d.BandEditorRect().Empty());

  // Band 2 (400 Hz, 0 dB): 68 high, below its disc, rows from 8 below the top.
  float x, y;
  d.PreEqHandle(1, x, y);
  rig.Click(x, y, iplug::igraphics::IMouseMod(false, true));
  ASSERT_EQ(d.EditorBand(), 1);
  EXPECT_EQ(d.SelectedPreEqBand(), 1);
  IRECT box = d.BandEditorRect();
  EXPECT_FLOAT_EQ(box.H(), 68.f);
  EXPECT_FLOAT_EQ(box.W(), 160.f);
  EXPECT_FLOAT_EQ(box.T, kMid + 14.f);
  EXPECT_FLOAT_EQ(box.MW(), x);
  EXPECT_FLOAT_EQ(d.BandEditorRowRect(0).T, box.T + 8.f);
  EXPECT_EQ(d.BandEditorValueRect(2), IRECT(box.R - 46.f, box.T + 44.f, box.R - 8.f, box.T + 60.f));
  EXPECT_TRUE(d.ShapeButtonRect(0).Empty());
  EXPECT_EQ(d.QSliderRect(), IRECT(box.L + 26.f, box.T + 49.f, box.R - 54.f, box.T + 55.f));

  // Band 1 (100 Hz, 0 dB): 92 high, would end lower than 4 above the bottom, so it opens above.
  d.PreEqHandle(0, x, y);
  rig.Click(x, y, iplug::igraphics::IMouseMod(false, true));
  ASSERT_EQ(d.EditorBand(), 0);
  box = d.BandEditorRect();
  EXPECT_FLOAT_EQ(box.H(), 92.f);
  EXPECT_FLOAT_EQ(box.B, kMid - 14.f);
  EXPECT_EQ(d.ShapeButtonRect(1), IRECT(box.L + 50.f, box.T + 8.f, box.L + 84.f, box.T + 26.f));
  EXPECT_FLOAT_EQ(d.BandEditorRowRect(0).T, box.T + 32.f);

  // A band on the left edge gets a box held 4 units inside the side.
  rig.dlg.Set(kPreEq1Freq, 20.0);
  EXPECT_FLOAT_EQ(d.BandEditorRect().L, DisplayRig::kL + 4.f);
  rig.dlg.Set(kPreEq1Freq, 20000.0);
  EXPECT_FLOAT_EQ(d.BandEditorRect().R, DisplayRig::kR - 4.f);

  // The Q slider: 0.3 at the left end, 10 at the right, 1 at about 34 %.
  EXPECT_DOUBLE_EQ(ToneDisplayControl::QSliderPosition(0.3), 0.0);
  EXPECT_DOUBLE_EQ(ToneDisplayControl::QSliderPosition(10.0), 1.0);
  EXPECT_NEAR(ToneDisplayControl::QSliderPosition(1.0), std::log(1.0 / 0.3) / std::log(100.0 / 3.0), 1e-12);
  EXPECT_NEAR(ToneDisplayControl::QSliderPosition(1.0), 0.344, 0.001);
  const IRECT track = d.QSliderRect();
  EXPECT_NEAR(d.QFromSliderX(track.L - 50.f), 0.3, 1e-12);
  EXPECT_NEAR(d.QFromSliderX(track.R), 10.0, 1e-9);
}

TEST(ToneDisplayBandEditorBox, BoxReachingOutsideThePlotIsDrawnAndClickable)
{
  DisplayRig rig;
  ToneDisplayControl& d = *rig.display;
  rig.dlg.Set(kPreEq1Gain, 2.5); // the disc just high enough for the box to open above it
  rig.dlg.Set(kPreEq1Shelf, 0.0);
  rig.Click(380.f, 120.f);
  float x, y;
  d.PreEqHandle(0, x, y);
  rig.Click(x, y, iplug::igraphics::IMouseMod(false, true));
  const IRECT box = d.BandEditorRect();
  ASSERT_LT(d.ShapeButtonRect(1).MH(), DisplayRig::kT); // the shape buttons' middles lie above the plot

  rig.g.OnFrame();
  const IRECT drawn = d.GetRECT();
  EXPECT_FLOAT_EQ(drawn.T, box.T);
  EXPECT_EQ(d.PlotRect(), IRECT(DisplayRig::kL, DisplayRig::kT, DisplayRig::kR, DisplayRig::kB));
  // The box's fill (24,24,24) shows above the plot, over the panel (20,20,20).
  int stride = 0;
  const unsigned char* px = rig.g.GetPixels(stride);
  const unsigned char* above = px + int(box.T + 5.f) * stride + int(box.MW()) * 4;
  EXPECT_NEAR(above[2], 24, 1);

  rig.dlg.events.clear();
  const IRECT shelf = d.ShapeButtonRect(1);
  rig.Click(shelf.MW(), shelf.MH());
  EXPECT_EQ(rig.dlg.Trace(), "b43 s43 e43");
  EXPECT_EQ(rig.dlg.Get(kPreEq1Shelf), 1.0);
  EXPECT_EQ(d.EditorBand(), 0);

  // Closing the box shrinks the control back to the plot, and the area above is repainted.
  rig.Click(600.f, 280.f);
  EXPECT_EQ(d.EditorBand(), -1);
  rig.g.OnFrame();
  EXPECT_EQ(d.GetRECT(), d.PlotRect());
  EXPECT_FALSE(d.IsHit(shelf.MW(), shelf.MH()));
  px = rig.g.GetPixels(stride);
  above = px + int(box.T + 5.f) * stride + int(box.MW()) * 4;
  EXPECT_EQ(above[2], 20);
}

TEST(ToneDisplayBandEditorBox, WhileTheBoxReachesAboveThePlotNothingElseDoes)
{
  // Bells of +18 dB at 700 Hz and 1.2 kHz sum past +20 dB (held at +23, y 104.2, above the
  // plot's top at 112) and a tilt of -6 dB/oct lifts the target past it below 100 Hz; the
  // box of band 4 (8 kHz, 0 dB) opens above its disc: top 210 - 14 - 92 = 104.
  DisplayRig rig(1.f, 330);
  for (auto [param, value] : {std::pair{kPreEq2Gain, 18.0}, {kPreEq2Freq, 700.0}, {kPreEq3Gain, 18.0},
                              {kPreEq3Freq, 1200.0}, {kTilt, -6.0}})
    rig.dlg.Set(param, value);
  rig.Click(380.f, 120.f);
  float x, y;
  rig.display->PreEqHandle(3, x, y);
  rig.Click(x, y, iplug::igraphics::IMouseMod(false, true));
  ASSERT_FLOAT_EQ(rig.display->BandEditorRect().T, 104.f);
  rig.g.OnFrame();
  int stride = 0;
  const unsigned char* px = rig.g.GetPixels(stride);
  // Above the plot the panel (20,20,20) shows over the bells (900 Hz, x 393.7) and the
  // target (50 Hz, x 117.6); the box's fill (24,24,24) shows beside them.
  for (int row = 105; row < 111; ++row)
    EXPECT_TRUE(px[row * stride + 393 * 4] == 20 && px[row * stride + 117 * 4] == 20) << row;
  EXPECT_NEAR(px[108 * stride + int(x) * 4], 24, 1);
}

TEST(ToneDisplayBandEditorBox, ResizingKeepsThePlotAndANarrowPlotCentresTheBoxAndPills)
{
  DisplayRig rig;
  ToneDisplayControl& d = *rig.display;
  rig.Click(380.f, 120.f);
  float x, y;
  d.PreEqHandle(0, x, y);
  rig.Click(x, y, iplug::igraphics::IMouseMod(false, true));
  rig.g.OnFrame();
  ASSERT_LT(d.GetRECT().T, DisplayRig::kT); // the drawn rectangle covers the box above the plot

  // A resize that moves nothing leaves the plot as it was, whatever the box covers.
  d.OnResize();
  EXPECT_EQ(d.PlotRect(), IRECT(DisplayRig::kL, DisplayRig::kT, DisplayRig::kR, DisplayRig::kB));

  // A plot narrower than the box and the pills: both sit on its middle.
  d.SetTargetAndDrawRECTs(IRECT(100.f, 112.f, 130.f, 308.f));
  d.OnResize();
  EXPECT_FLOAT_EQ(d.BandEditorRect().MW(), 115.f);
  EXPECT_FLOAT_EQ(d.RangePillRect(0).MW(), 115.f);
  EXPECT_FLOAT_EQ(d.RangePillRect(1).MW(), 115.f);
  rig.g.OnFrame();
}

} // namespace

// Presses, drags, double clicks, the wheel and typed values on the display, seen from the
// host side: the gestures it hears and the values it is sent.
#include <gtest/gtest.h>

#include <cmath>

#include "ToneDisplayRig.h"

using iplug::igraphics::IMouseMod;
using iplug::igraphics::IRECT;

namespace
{

const IMouseMod kLeft(true);
const IMouseMod kRight(false, true);
const IMouseMod kShiftLeft(true, false, true);
constexpr float kPreEqHalfX = 380.f, kToggleY = 120.f;

struct ToneDisplayInteraction : ::testing::Test
{
  DisplayRig rig;
  ToneDisplayControl& d = *rig.display;
  DisplayDelegate& dlg = rig.dlg;

  void ToPreEq()
  {
    rig.Click(kPreEqHalfX, kToggleY);
    ASSERT_EQ(d.Mode(), ToneDisplayControl::kModePreEq);
    dlg.events.clear();
  }
  void PreEqDisc(int band, float& x, float& y) { d.PreEqHandle(band, x, y); }
  int Red(int x, int y) const
  {
    int stride = 0;
    return rig.g.GetPixels(stride)[y * stride + x * 4 + 2];
  }
  // Light ink (red above 120) drawn in rows y0..y1 and columns x0..x1, ends excluded.
  bool InkIn(int x0, int x1, int y0, int y1) const
  {
    for (int row = y0; row < y1; ++row)
      for (int col = x0; col < x1; ++col)
        if (Red(col, row) > 120)
          return true;
    return false;
  }
  double LastSent(int param) const
  {
    for (auto it = dlg.events.rbegin(); it != dlg.events.rend(); ++it)
      if (it->kind == 's' && it->param == param)
        return it->value;
    return std::nan("");
  }
};

TEST_F(ToneDisplayInteraction, ToggleSwitchesModesAndClosesTheBoxInOnePress)
{
  rig.Click(340.f, kToggleY); // MATCH half while in MATCH: still flips
  EXPECT_EQ(d.Mode(), ToneDisplayControl::kModePreEq);
  float x, y;
  PreEqDisc(2, x, y);
  rig.Click(x, y, kRight);
  ASSERT_EQ(d.EditorBand(), 2);
  rig.Click(kPreEqHalfX, kToggleY);
  EXPECT_EQ(d.Mode(), ToneDisplayControl::kModeMatch);
  EXPECT_EQ(d.EditorBand(), -1);
  EXPECT_TRUE(dlg.events.empty());
}

TEST_F(ToneDisplayInteraction, PreEqPressesSelectOpenToggleAndDragPastAThreshold)
{
  ToPreEq();
  float x, y;
  PreEqDisc(0, x, y);

  // Shift switches the band off without selecting it or opening its box.
  rig.Click(x, y, kShiftLeft);
  EXPECT_EQ(dlg.Trace(), "b30 s30 e30");
  EXPECT_NEAR(dlg.Get(kPreEq1On), 0.0, 1e-9);
  EXPECT_EQ(d.SelectedPreEqBand(), -1);
  EXPECT_EQ(d.EditorBand(), -1);

  // The right button selects and opens, and starts no drag.
  dlg.events.clear();
  rig.Click(x, y, kRight);
  EXPECT_EQ(d.SelectedPreEqBand(), 0);
  EXPECT_EQ(d.EditorBand(), 0);
  EXPECT_TRUE(dlg.events.empty());

  // A press that moves 2 units changes nothing; its release still ends both gestures.
  PreEqDisc(1, x, y);
  rig.Down(x + 2.f, y + 1.f);
  EXPECT_EQ(d.EditorBand(), -1); // a press outside the box closed it
  rig.Move(x + 4.f, y + 3.f);
  rig.Up(x + 4.f, y + 3.f);
  EXPECT_EQ(dlg.Trace(), "b31 b32 e31 e32");
  EXPECT_NEAR(dlg.Get(kPreEq2Freq), 400.0, 1e-9);

  // Past 3 units the disc follows, keeping the grab offset; the gain in tenths of a dB.
  dlg.events.clear();
  rig.Down(x + 2.f, y + 1.f);
  rig.Move(d.XOfFreq(1000.0) + 2.f, d.YOfGain(3.14) + 1.f);
  rig.Up(0.f, 0.f);
  EXPECT_EQ(dlg.Trace(), "b31 b32 s32 s31 e31 e32");
  EXPECT_NEAR(dlg.Get(kPreEq2Freq), 1000.0, 0.05);
  EXPECT_NEAR(dlg.Get(kPreEq2Gain), 3.1, 1e-9);
  EXPECT_EQ(d.SelectedPreEqBand(), 1);
}

TEST_F(ToneDisplayInteraction, TargetBandDragsSnapToHalfDecibelsAboveTheTilt)
{
  dlg.Set(kTilt, 1.0);
  dlg.Set(kPresenceFreq, 2000.0); // one octave above 1 kHz: the tilt adds 1 dB there
  float x, y;
  d.TargetHandle(2, x, y);
  EXPECT_FLOAT_EQ(y, d.YOfGain(1.0));

  // 3.3 dB at 2 kHz, less the tilt's 1 dB, is 2.3: the nearest half dB is 2.5.
  rig.Down(x, y, kRight); // the right button drags a target band like the left
  rig.Move(x, d.YOfGain(3.3));
  EXPECT_NEAR(dlg.Get(kPresenceTarget), 2.5, 1e-9);
  EXPECT_NEAR(dlg.Get(kPresenceFreq), 2000.0, 0.1);
  // Dragged far left the frequency stops at the band's own minimum, and the tilt there counts.
  rig.Move(d.XOfFreq(100.0), d.YOfGain(0.0));
  EXPECT_NEAR(dlg.Get(kPresenceFreq), 1000.0, 1e-9);
  EXPECT_NEAR(dlg.Get(kPresenceTarget), 0.0, 1e-9);
  rig.Up(0.f, 0.f);
  EXPECT_EQ(dlg.Trace(), "b11 b12 s12 s11 s12 s11 e11 e12");

  // Shift switches the band instead of dragging it.
  dlg.events.clear();
  d.TargetHandle(0, x, y);
  rig.Down(x, y, kShiftLeft);
  rig.Move(x + 30.f, y);
  rig.Up(x + 30.f, y);
  EXPECT_EQ(dlg.Trace(), "b7 s7 e7");
  EXPECT_NEAR(dlg.Get(kLowOn), 0.0, 1e-9);
  EXPECT_NEAR(dlg.Get(kLowFreq), 120.0, 1e-9);
}

TEST_F(ToneDisplayInteraction, TargetDotsBeyondThePlotWaitWholeAtItsEdgeAndMoveByThePointersTravel)
{
  // Tilt -6 dB/oct: LOW +18 dB at 120 Hz stands at 36.35 dB (y 42.8), PRESENCE -18 dB at
  // 3 kHz at -27.5 dB (y 336.5), AIR -12 dB at 16 kHz (x 668.7) at -36 dB: all outside the
  // plot (112..308). A dot's centre stays 8 units (radius 7, half its outline) inside.
  for (auto [param, value] : {std::pair{kTilt, -6.0}, {kLowTarget, 18.0}, {kPresenceTarget, -18.0},
                              {kAirTarget, -12.0}, {kAirFreq, 16000.0}})
    dlg.Set(param, value);
  float x, y, lowX, lowY;
  d.TargetHandle(0, lowX, lowY);
  d.TargetHandle(2, x, y);
  EXPECT_TRUE(lowY == 120.f && y == 300.f);

  // Drawn there, with its caption above it, and AIR's caption ends inside the right side.
  rig.g.OnFrame();
  EXPECT_EQ(Red(int(x), 300), 92); // the accent (92,200,255) fills the dot
  EXPECT_TRUE(InkIn(int(x) - 40, int(x) + 40, 276, 289) && InkIn(620, 686, 276, 289));
  EXPECT_FALSE(InkIn(687, 690, 276, 289));

  // A held dot's place says nothing of its band: a drag moves the band by the pointer's travel,
  // 20 dB per 92 units (half the plot's 196 less 6); 66 units sideways (a tenth of the width) is
  // 120 * 1000^0.1 = 239.43 Hz, where the tilt is 5.98 dB lower, so 8 dB becomes 13.98, 14 to the
  // half dB. A press and release without a move sends nothing.
  dlg.events.clear();
  rig.Down(lowX, lowY);
  rig.Move(lowX, lowY);
  rig.Up(lowX, lowY);
  EXPECT_EQ(dlg.Trace(), "b5 b6 e5 e6");
  struct Step { float dx, dy; double gain, freq; };
  for (const auto& drag : {std::vector<Step>{{0.f, 2.f, 17.5, 120.}, {0.f, -3.f, 18., 120.}, {0.f, 46.f, 8., 120.}},
                           std::vector<Step>{{66.f, 0.f, 14., 239.43}, {0.f, -46.f, 18., 120.}}})
  {
    rig.Down(lowX, lowY);
    for (const Step& step : drag)
    {
      rig.Move(lowX + step.dx, lowY + step.dy);
      EXPECT_NEAR(dlg.Get(kLowTarget), step.gain, 1e-9) << step.dx << ", " << step.dy;
      EXPECT_NEAR(dlg.Get(kLowFreq), step.freq, step.freq == 120. ? 0. : 0.01) << step.dx << ", " << step.dy;
    }
    rig.Up(lowX + drag.back().dx, lowY + drag.back().dy);
    d.TargetHandle(0, x, y); // 8 dB stands at 26.35 dB, above the plot like 18
    EXPECT_TRUE(x == lowX && y == lowY);
  }
}

TEST_F(ToneDisplayInteraction, DiscsOnThePlotsSidesTakePressesAllOverAndKeepTheirLabelsInside)
{
  // Bands 1 and 4 at 20 Hz and 20 kHz sit on the plot's sides (x 30, 690) at 0 dB (y 210),
  // half outside the plot; band 2 is at 400 Hz. Any press on a disc selects it.
  dlg.Set(kPreEq1Freq, 20.0);
  dlg.Set(kPreEq4Freq, 20000.0);
  ToPreEq();
  const float mid = d.XOfFreq(400.0);
  for (auto [x, band] : {std::pair{690.f, 3}, {mid, 1}, {697.f, 3}, {23.f, 0}})
  {
    rig.Click(x, 213.f);
    EXPECT_EQ(d.SelectedPreEqBand(), band) << x;
  }
  dlg.events.clear();
  rig.Click(697.f, 150.f); // off the discs, outside the plot: nothing
  EXPECT_TRUE(dlg.events.empty());

  // Their labels (rows 184..198) are pushed in to end 4 units inside the sides: all shows.
  rig.g.OnFrame();
  EXPECT_TRUE(InkIn(33, 90, 185, 198) && InkIn(630, 688, 185, 198));
  EXPECT_FALSE(InkIn(30, 33, 185, 198) || InkIn(688, 690, 185, 198));

  // Past the sides the discs show whole, and nothing else does: band 1, selected, filled amber
  // (240,163,58) out to x 22; band 4's ring out to 698, with the right half of its number.
  EXPECT_TRUE(Red(25, 210) == 240 && Red(25, 203) == 240);
  EXPECT_TRUE(InkIn(696, 699, 207, 213) && InkIn(690, 694, 205, 215));
  for (const int x0 : {14, 690})
    EXPECT_FALSE(InkIn(x0, x0 + 16, 113, 200) || InkIn(x0, x0 + 16, 221, 308)) << x0;
  rig.Click(300.f, kToggleY); // MATCH: no disc is left outside
  rig.g.OnFrame();
  EXPECT_FALSE(InkIn(14, 30, 200, 221) || InkIn(690, 706, 200, 221));
}

TEST_F(ToneDisplayInteraction, RangeHandlesStayAThirdOfAnOctaveApart)
{
  dlg.Set(kRangeHigh, 2000.0);
  const IRECT lowPill = d.RangePillRect(0);
  rig.Down(lowPill.MW(), lowPill.MH());
  rig.Move(600.f, lowPill.MH());
  EXPECT_NEAR(dlg.Get(kRangeLow), 2000.0 / std::cbrt(2.0), 1e-6);
  rig.Up(600.f, lowPill.MH());
  EXPECT_EQ(dlg.Trace(), "b25 s25 e25");

  // The high handle by its line: grabbed 5 units right of it, it keeps that offset.
  dlg.events.clear();
  const float xHi = d.XOfFreq(2000.0);
  rig.Down(xHi + 5.f, 200.f);
  rig.Move(d.XOfFreq(3000.0) + 5.f, 150.f);
  EXPECT_NEAR(dlg.Get(kRangeHigh), 3000.0, 0.5);
  rig.Move(0.f, 150.f);
  EXPECT_NEAR(dlg.Get(kRangeHigh), 2000.0, 1e-6); // 1587.4 * 2^(1/3)
  rig.Up(0.f, 150.f);
  EXPECT_EQ(dlg.events.back().kind, 'e');
  EXPECT_EQ(dlg.events.back().param, kRangeHigh);
}

TEST_F(ToneDisplayInteraction, DoubleClicksResetValuesButNeverQOnOrShape)
{
  dlg.Set(kLowTarget, 5.0);
  dlg.Set(kLowFreq, 80.0); // clear of the body band's caption, which would take the press
  float x, y;
  d.TargetHandle(0, x, y);
  rig.DoubleClick(x, y);
  EXPECT_NEAR(dlg.Get(kLowTarget), 0.0, 1e-9);
  EXPECT_NEAR(dlg.Get(kLowFreq), 120.0, 1e-9);
  EXPECT_EQ(dlg.Trace(), "b5 b6 e5 e6 b5 s5 e5 b6 s6 e6");

  // A range line goes to its end, the minimum for the low handle.
  dlg.events.clear();
  dlg.Set(kRangeLow, 500.0);
  rig.DoubleClick(d.XOfFreq(500.0), 200.f);
  EXPECT_NEAR(dlg.Get(kRangeLow), 20.0, 1e-9);

  ToPreEq();
  dlg.Set(kPreEq3Gain, 4.0);
  dlg.Set(kPreEq3Freq, 1000.0);
  dlg.Set(kPreEq3Q, 3.0);
  dlg.Set(kPreEq3On, 1.0);
  d.PreEqHandle(2, x, y);
  rig.Click(x, y, kRight);
  ASSERT_EQ(d.EditorBand(), 2);
  rig.DoubleClick(x, y);
  EXPECT_EQ(d.EditorBand(), -1);
  EXPECT_NEAR(dlg.Get(kPreEq3Gain), 0.0, 1e-9);
  EXPECT_NEAR(dlg.Get(kPreEq3Freq), 2500.0, 1e-9);
  EXPECT_NEAR(dlg.Get(kPreEq3Q), 3.0, 1e-9);
  EXPECT_NEAR(dlg.Get(kPreEq3On), 1.0, 1e-9);
}

TEST_F(ToneDisplayInteraction, WheelStepsQByTenPercentWithinItsRangeInPreEqModeOnly)
{
  float x, y;
  d.PreEqHandle(1, x, y); // band 2, Q 1.0
  rig.Wheel(x, y, 1.f);
  EXPECT_TRUE(dlg.events.empty()); // MATCH mode: nothing

  ToPreEq();
  rig.Wheel(x, y, 1.f);
  EXPECT_NEAR(dlg.Get(kPreEq2Q), 1.1, 1e-9);
  EXPECT_EQ(dlg.Trace(), "b33 s33 e33");
  rig.Wheel(x, y, -1.f);
  rig.Wheel(x, y, -1.f);
  EXPECT_NEAR(dlg.Get(kPreEq2Q), 1.0 / 1.1, 1e-12);
  dlg.Set(kPreEq2Q, 9.5);
  rig.Wheel(x, y, 1.f);
  EXPECT_NEAR(dlg.Get(kPreEq2Q), 10.0, 1e-9);

  // Over the open box (not over a disc) the wheel works the box's band.
  rig.Click(x, y, kRight);
  const IRECT box = d.BandEditorRect();
  dlg.Set(kPreEq2Q, 2.0);
  rig.Wheel(box.R - 4.f, box.B - 4.f, -1.f);
  EXPECT_NEAR(dlg.Get(kPreEq2Q), 2.0 / 1.1, 1e-12);
}

TEST_F(ToneDisplayInteraction, TypedValuesOpenOverTheirFieldsAndCommitInTheParametersUnits)
{
  // MATCH: the caption of a band opens an entry for its gain, without the tilt.
  dlg.Set(kTilt, 2.0);
  dlg.Set(kBodyTarget, -1.5);
  const IRECT label = d.TargetLabelRect(1);
  rig.Click(label.MW(), label.T + 2.f);
  ASSERT_TRUE(rig.g.IsTextEntryOpen());
  EXPECT_EQ(rig.g.GetTextEntryText(), "-1.5");
  EXPECT_EQ(*rig.g.GetTextEntryBounds(), label);
  EXPECT_EQ(d.EntryParam(), kBodyTarget);
  rig.g.CommitTextEntry("2,5");
  EXPECT_NEAR(dlg.Get(kBodyTarget), 2.5, 1e-9);
  EXPECT_EQ(dlg.Trace(), "b8 s8 e8");
  EXPECT_EQ(d.EntryParam(), -1);

  // PRE-EQ box: each value field with its own format.
  ToPreEq();
  float x, y;
  d.PreEqHandle(3, x, y);
  rig.Click(x, y, kRight);
  const char* prefills[] = {"8000", "0.0", "0.71"};
  for (int row = 0; row < 3; ++row)
  {
    const IRECT field = d.BandEditorValueRect(row);
    rig.Click(field.MW(), field.MH());
    ASSERT_TRUE(rig.g.IsTextEntryOpen()) << row;
    EXPECT_EQ(rig.g.GetTextEntryText(), prefills[row]);
    rig.g.CancelTextEntry();
  }
  const IRECT freq = d.BandEditorValueRect(0);
  rig.Click(freq.MW(), freq.MH());
  rig.g.CommitTextEntry("1.2k");
  EXPECT_NEAR(dlg.Get(kPreEq4Freq), 1200.0, 1e-9);
  EXPECT_EQ(d.EditorBand(), 3); // the box stays open

  // Text that is no number changes nothing.
  dlg.events.clear();
  const IRECT q = d.BandEditorValueRect(2);
  rig.Click(q.MW(), q.MH());
  rig.g.CommitTextEntry("abc");
  EXPECT_TRUE(dlg.events.empty());
}

TEST_F(ToneDisplayInteraction, QSliderAndShapeButtonsOfTheBox)
{
  ToPreEq();
  float x, y;
  d.PreEqHandle(3, x, y);
  rig.Click(x, y, kRight);
  const IRECT track = d.QSliderRect();

  // A press 5 units under the track still takes it; the drag follows to either end.
  rig.Down(track.L, track.B + 5.f);
  EXPECT_NEAR(dlg.Get(kPreEq4Q), 0.3, 1e-9);
  rig.Move(track.L + track.W() * 0.5f, 0.f);
  EXPECT_NEAR(dlg.Get(kPreEq4Q), 0.3 * std::sqrt(100.0 / 3.0), 1e-6);
  rig.Move(track.R + 40.f, 0.f);
  EXPECT_NEAR(dlg.Get(kPreEq4Q), 10.0, 1e-9);
  rig.Up(track.R + 40.f, 0.f);
  EXPECT_EQ(dlg.Trace(), "b41 s41 s41 s41 e41");
  EXPECT_EQ(d.EditorBand(), 3);

  // 7 units under it is the box's empty space: nothing, and the box stays open.
  dlg.events.clear();
  rig.Click(track.L, track.B + 7.f);
  EXPECT_TRUE(dlg.events.empty());
  EXPECT_EQ(d.EditorBand(), 3);

  const IRECT bell = d.ShapeButtonRect(0);
  rig.Click(bell.L, bell.T);
  EXPECT_EQ(dlg.Trace(), "b44 s44 e44");
  EXPECT_NEAR(dlg.Get(kPreEq4Shelf), 0.0, 1e-9);
}

} // namespace

// The stock controls: knob gestures and drawing, meter messages and bars, captions, text.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ICaptionControl.h"
#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "ITextControl.h"
#include "IVKnobControl.h"
#include "IVPeakAvgMeterControl.h"

using namespace iplug;
using namespace iplug::igraphics;

namespace
{

enum
{
  kGain,   // -24..24 dB, default 0 (normalised 0.5)
  kSwitch, // off/on
  kAmount, // 0..100 %, default 0
  kNumTestParams
};

class TestDelegate : public IEditorDelegate
{
public:
  TestDelegate() : IEditorDelegate(kNumTestParams)
  {
    GetParam(kGain)->InitDouble("Gain", 0., -24., 24., 0.1, "dB");
    GetParam(kSwitch)->InitBool("Switch", false);
    GetParam(kAmount)->InitDouble("Amount", 0., 0., 100., 0.1, "%");
  }
  void BeginInformHostOfParamChangeFromUI(int p) override { log.push_back("begin " + std::to_string(p)); }
  void EndInformHostOfParamChangeFromUI(int p) override { log.push_back("end " + std::to_string(p)); }
  void SendParameterValueFromUI(int p, double v) override
  {
    IEditorDelegate::SendParameterValueFromUI(p, v);
    log.push_back("send " + std::to_string(p));
  }
  std::vector<std::string> log;
};

const IColor kRed(255, 255, 0, 0);
const IColor kBlue(255, 0, 0, 255);
const IColor kGreen(255, 0, 255, 0);
const IColor kGrey(255, 40, 40, 40);

IVStyle PlainStyle()
{
  return DEFAULT_STYLE.WithShowLabel(false)
    .WithShowValue(false)
    .WithDrawFrame(false)
    .WithDrawShadows(false)
    .WithColor(kBG, COLOR_TRANSPARENT)
    .WithColor(kFG, kBlue)
    .WithColor(kPR, kGreen)
    .WithColor(kFR, COLOR_WHITE)
    .WithColor(kHL, COLOR_TRANSPARENT)
    .WithColor(kX1, kRed);
}

// The drawn colour at a canvas point (opaque pixels, so premultiplication changes nothing).
IColor PixelAt(const IGraphics& g, float x, float y)
{
  int stride = 0;
  const unsigned char* px = g.GetPixels(stride);
  const int ix = static_cast<int>(x * g.GetDrawScale()), iy = static_cast<int>(y * g.GetDrawScale());
  const unsigned char* p = px + iy * stride + ix * 4;
  return IColor(p[3], p[2], p[1], p[0]);
}

// Antialiased edges and pixel centres off the exact point blend a little.
::testing::AssertionResult Near(const IColor& got, const IColor& want)
{
  const int d = std::max({std::abs(got.R - want.R), std::abs(got.G - want.G), std::abs(got.B - want.B)});
  if (d <= 64)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got (" << got.A << "," << got.R << "," << got.G << "," << got.B << ")";
}

// A point at a distance from a centre in the knob's angle convention (0 up, clockwise).
std::pair<float, float> AtAngle(float cx, float cy, float r, float degrees)
{
  const float a = degrees * 3.14159265f / 180.f;
  return {cx + r * std::sin(a), cy - r * std::cos(a)};
}

struct Harness
{
  explicit Harness(float scale = 1.f) : g(dlg, 200, 150, 60, scale) { dlg.SetGraphics(&g); }
  ~Harness() { dlg.SetGraphics(nullptr); }

  template <class C>
  C* Attach(C* c, int tag = kNoTag)
  {
    return static_cast<C*>(g.AttachControl(c, tag));
  }
  // Canvas units in, window pixels to the graphics context.
  void Down(float x, float y, double t = 0.) { g.OnMouseDown(x * S(), y * S(), IMouseMod(true), t); }
  void Move(float x, float y) { g.OnMouseMove(x * S(), y * S(), IMouseMod(true)); }
  void Up(float x, float y) { g.OnMouseUp(x * S(), y * S(), IMouseMod(true)); }
  float S() const { return g.GetDrawScale(); }
  double Param(int p) const { return dlg.GetParam(p)->Value(); }

  TestDelegate dlg;
  IGraphics g;
};

IVKnobControl* MakeKnob(const IRECT& r, int param, float anchor = -135.f, EDirection dir = EDirection::Vertical,
                        float track = 2.f)
{
  return new IVKnobControl(r, param, "", PlainStyle(), false, false, -135.f, 135.f, anchor, dir, 4., track);
}

} // namespace

TEST(IVKnobControl, ADragOfHalfTheWidthTimesGearingSweepsTheWholeRangeBracketedByOneGesture)
{
  for (float scale : {1.f, 2.f})
  {
    Harness h(scale);
    // 56 wide at gearing 4: 112 units from one end to the other.
    auto* knob = h.Attach(MakeKnob(IRECT(20, 20, 76, 76), kAmount));
    h.Down(48, 48);
    for (int i = 1; i <= 4; ++i)
      h.Move(48, 48 - 14.f * i);
    EXPECT_NEAR(knob->GetValue(), 0.5, 1e-6) << scale;
    for (int i = 5; i <= 8; ++i)
      h.Move(48, 48 - 14.f * i);
    EXPECT_NEAR(knob->GetValue(), 1.0, 1e-6);
    EXPECT_NEAR(h.Param(kAmount), 100., 1e-9);
    h.Move(48, 48 - 200.f); // past the top: stays at the end
    EXPECT_EQ(knob->GetValue(), 1.0);
    h.Move(48, 48 - 200.f + 28.f); // down lowers at once, nothing was stored past the end
    EXPECT_NEAR(knob->GetValue(), 0.75, 1e-6);
    h.Move(48, 400.f);
    EXPECT_EQ(knob->GetValue(), 0.0);
    h.Up(48, 400.f);

    std::vector<std::string> expected{"begin 2"};
    expected.insert(expected.end(), 11, "send 2"); // every move sends, even at an end
    expected.push_back("end 2");
    EXPECT_EQ(h.dlg.log, expected);
  }
}

TEST(IVKnobControl, AHorizontalKnobFollowsTheXMovementAndIgnoresY)
{
  Harness h;
  auto* knob = h.Attach(MakeKnob(IRECT(20, 20, 76, 76), kAmount, -135.f, EDirection::Horizontal));
  h.Down(48, 48);
  h.Move(48 + 28.f, 48 - 50.f);
  h.Up(48 + 28.f, 48 - 50.f);
  EXPECT_NEAR(knob->GetValue(), 0.25, 1e-6);
}

TEST(IVKnobControl, EachWheelNotchMovesOnePercentAsAGestureOfItsOwn)
{
  Harness h;
  auto* knob = h.Attach(MakeKnob(IRECT(20, 20, 76, 76), kAmount));
  for (int i = 0; i < 3; ++i)
    h.g.OnMouseWheel(48, 48, IMouseMod(), 1.f);
  h.g.OnMouseWheel(48, 48, IMouseMod(), -1.f);
  EXPECT_NEAR(knob->GetValue(), 0.02, 1e-9);
  EXPECT_NEAR(h.Param(kAmount), 2.0, 1e-9);
  h.g.OnMouseWheel(48, 48, IMouseMod(), -1.f);
  h.g.OnMouseWheel(48, 48, IMouseMod(), -1.f);
  h.g.OnMouseWheel(48, 48, IMouseMod(), -1.f);
  EXPECT_EQ(knob->GetValue(), 0.0);
  ASSERT_EQ(h.dlg.log.size(), 7u * 3u);
  EXPECT_EQ(h.dlg.log[0], "begin 2");
  EXPECT_EQ(h.dlg.log[1], "send 2");
  EXPECT_EQ(h.dlg.log[2], "end 2");
}

TEST(IVKnobControl, ADoubleClickReturnsToTheDefaultAndAValueSetElsewhereMovesTheKnob)
{
  Harness h;
  auto* knob = h.Attach(MakeKnob(IRECT(20, 20, 76, 76), kGain));
  EXPECT_NEAR(knob->GetValue(), 0.5, 1e-9); // attached at the parameter's value

  // Typed into a caption, say: the parameter moves without the knob being told.
  h.dlg.SendParameterValueFromUI(kGain, 0.75);
  h.g.OnFrame();
  EXPECT_NEAR(knob->GetValue(), 0.75, 1e-9);
  EXPECT_NEAR(h.Param(kGain), 12., 1e-9);

  h.dlg.log.clear();
  h.Down(40, 40, 1000.);
  h.Up(40, 40);
  h.Down(40, 40, 1200.);
  h.Up(40, 40);
  EXPECT_NEAR(knob->GetValue(), 0.5, 1e-9);
  EXPECT_NEAR(h.Param(kGain), 0., 1e-9);
  EXPECT_EQ(h.dlg.log, (std::vector<std::string>{"begin 0", "end 0", "begin 0", "send 0", "end 0"}));
}

TEST(IVKnobControl, TheArcRunsFromTheAnchorToTheValueUnderAHandleAndPointer)
{
  for (float scale : {1.f, 2.f})
  {
    Harness h(scale);
    h.g.AttachPanelBackground(COLOR_BLACK);
    // 100 square, track 6: ring radius 47 (the track covers 44..50), handle radius 43.
    auto* fromMin = h.Attach(MakeKnob(IRECT(0, 0, 100, 100), kAmount, -135.f, EDirection::Vertical, 6.f));
    h.Attach(MakeKnob(IRECT(100, 0, 200, 100), kGain, 0.f, EDirection::Vertical, 6.f));
    h.dlg.GetParam(kAmount)->Set(75.); // 0.75: 67.5 degrees
    h.dlg.GetParam(kGain)->Set(-12.);  // 0.25: -67.5 degrees
    h.dlg.SendCurrentParamValuesFromDelegate();
    h.g.OnFrame();

    auto probe = [&](float cx, float r, float deg) {
      const auto [x, y] = AtAngle(cx, 50, r, deg);
      return PixelAt(h.g, x, y);
    };
    for (float deg : {-130.f, -90.f, 0.f, 60.f})
      EXPECT_TRUE(Near(probe(50, 47, deg), kRed)) << deg << " at scale " << scale;
    for (float deg : {75.f, 90.f, 180.f})
      EXPECT_TRUE(Near(probe(50, 47, deg), COLOR_BLACK)) << deg;
    for (float deg : {-60.f, -20.f})
      EXPECT_TRUE(Near(probe(150, 47, deg), kRed)) << deg;
    for (float deg : {-90.f, 20.f, 120.f})
      EXPECT_TRUE(Near(probe(150, 47, deg), COLOR_BLACK)) << deg;

    EXPECT_TRUE(Near(probe(50, 25, 67.5f), COLOR_WHITE)); // pointer, 0.1..1.0 of the handle
    EXPECT_TRUE(Near(probe(50, 40, 67.5f), COLOR_WHITE));
    EXPECT_TRUE(Near(probe(50, 2, 67.5f), kBlue)); // the pointer starts a tenth of the way out
    EXPECT_TRUE(Near(probe(50, 25, 67.5f + 180.f), kBlue));
    EXPECT_TRUE(Near(probe(50, 42, 67.5f + 180.f), kBlue)); // handle radius 43

    h.Down(50, 50 + 20);
    h.g.OnFrame();
    EXPECT_TRUE(Near(probe(50, 25, 67.5f + 180.f), kGreen)); // pressed
    h.Up(50, 50 + 20);
    h.g.OnFrame();
    EXPECT_TRUE(Near(probe(50, 25, 67.5f + 180.f), kBlue));
    EXPECT_NEAR(fromMin->GetValue(), 0.75, 1e-9);
  }
}

namespace
{

using Meter = IVPeakAvgMeterControl<1>;

void Send(TestDelegate& dlg, int tag, float peak, float avg)
{
  Meter::Data d;
  d.ctrlTag = tag;
  d.vals[0] = {peak, avg};
  dlg.SendControlMsgFromDelegate(tag, kUpdateMessage, static_cast<int>(sizeof d), &d);
}

} // namespace

TEST(IVPeakAvgMeterControl, AmplitudesBecomePositionsOfTheDbRange)
{
  Harness h;
  auto* m = h.Attach(new Meter(IRECT(10, 10, 30, 110), "", PlainStyle(), EDirection::Vertical, EResponse::Log, -54.f,
                               6.f, {}),
                     2);
  EXPECT_EQ(m->GetValue(), 0.);
  EXPECT_EQ(m->GetPeakPosition(0), -INFINITY); // nothing heard yet

  Send(h.dlg, 2, 1.f, 1.f); // 0 dB
  EXPECT_NEAR(m->GetValue(), 54. / 60., 1e-6);
  EXPECT_NEAR(m->GetPeakPosition(0), 54. / 60., 1e-6);

  h.g.OnFrame();
  Send(h.dlg, 2, 4.f, 0.5f); // +12.04 dB, -6.02 dB
  EXPECT_TRUE(m->IsDirty());
  EXPECT_NEAR(m->GetValue(), (-6.0206 + 54.) / 60., 1e-5);
  EXPECT_NEAR(m->GetPeakPosition(0), (12.0412 + 54.) / 60., 1e-5); // over the top, kept
  Send(h.dlg, 2, 0.f, 100.f);
  EXPECT_EQ(m->GetValue(), 1.);
  EXPECT_EQ(m->GetPeakPosition(0), -INFINITY);
  Send(h.dlg, 2, NAN, NAN);
  EXPECT_EQ(m->GetValue(), 0.);
  EXPECT_EQ(m->GetPeakPosition(0), -INFINITY);

  // Not a message of ours, or a disabled meter: nothing changes.
  Meter::Data d;
  d.vals[0] = {1.f, 1.f};
  h.dlg.SendControlMsgFromDelegate(2, kUpdateMessage, static_cast<int>(sizeof d) - 1, &d);
  h.dlg.SendControlMsgFromDelegate(2, kUpdateMessage, static_cast<int>(sizeof d), nullptr);
  m->SetDisabled(true);
  Send(h.dlg, 2, 1.f, 1.f);
  EXPECT_EQ(m->GetValue(), 0.);

  // Two channels, each from its own pair; a linear meter spans the amplitudes of its dB ends.
  IVPeakAvgMeterControl<2> two(IRECT(0, 0, 20, 100), "", PlainStyle(), EDirection::Vertical, EResponse::Linear,
                               -54.f, 6.f);
  IVPeakAvgMeterControl<2>::Data d2;
  d2.vals = {{{1.f, 1.f}, {0.5f, 0.5f}}};
  two.OnMsgFromDelegate(kUpdateMessage, static_cast<int>(sizeof d2), &d2);
  const double lo = std::pow(10., -54. / 20.), hi = std::pow(10., 6. / 20.);
  EXPECT_NEAR(two.GetValue(0), (1. - lo) / (hi - lo), 1e-5);
  EXPECT_NEAR(two.GetValue(1), (0.5 - lo) / (hi - lo), 1e-5);
}

namespace
{

// Replaces the track layout the way a derived meter does.
class NarrowMeter : public Meter
{
public:
  using Meter::Meter;
  void MakeTrackRects(const IRECT& b) override { mTrackBounds[0] = IRECT(b.L + 5, b.T, b.L + 10, b.B); }
};

} // namespace

TEST(IVPeakAvgMeterControl, TheBarFillsFromTheBottomWithAPeakLineInItsTrack)
{
  for (float scale : {1.f, 2.f})
  {
    Harness h(scale);
    const IVStyle style = PlainStyle().WithColor(kBG, kGrey).WithColor(kFG, kGreen);
    h.Attach(new Meter(IRECT(20, 20, 40, 120), "", style, EDirection::Vertical, EResponse::Log, -54.f, 6.f), 2);
    h.Attach(new NarrowMeter(IRECT(60, 20, 80, 120), "", style, EDirection::Vertical, EResponse::Log, -54.f, 6.f), 3);
    // Average -24 dB: half the range, up to y 70. Peak -0.3 dB: 0.895 of it, a line
    // one unit thick centred on y 30.5.
    const float peak = std::pow(10.f, -0.3f / 20.f), avg = std::pow(10.f, -24.f / 20.f);
    Send(h.dlg, 2, peak, avg);
    Send(h.dlg, 3, peak, avg);
    h.g.OnFrame();

    EXPECT_EQ(PixelAt(h.g, 30, 110), kGreen) << scale;
    EXPECT_EQ(PixelAt(h.g, 30, 71), kGreen);
    EXPECT_EQ(PixelAt(h.g, 30, 68), kGrey);
    EXPECT_EQ(PixelAt(h.g, 30, 30.5f), COLOR_WHITE);
    EXPECT_EQ(PixelAt(h.g, 30, 29.5f), kGrey);
    EXPECT_EQ(PixelAt(h.g, 30, 31.5f), kGrey);

    EXPECT_EQ(PixelAt(h.g, 67, 110), kGreen); // only inside the replaced track
    EXPECT_EQ(PixelAt(h.g, 62, 110), kGrey);
    EXPECT_EQ(PixelAt(h.g, 75, 110), kGrey);
    EXPECT_EQ(PixelAt(h.g, 67, 30.5f), COLOR_WHITE);
  }
}

namespace
{

// Whether two equally sized canvas areas hold the same pixels, and whether the first holds any ink.
bool SamePixels(const IGraphics& g, const IRECT& a, const IRECT& b, bool& inked)
{
  int stride = 0;
  const unsigned char* px = g.GetPixels(stride);
  const int s = static_cast<int>(g.GetDrawScale());
  inked = false;
  for (int y = 0; y < static_cast<int>(a.H()) * s; ++y)
    for (int x = 0; x < static_cast<int>(a.W()) * s; ++x)
    {
      const unsigned char* p = px + (static_cast<int>(a.T) * s + y) * stride + (static_cast<int>(a.L) * s + x) * 4;
      const unsigned char* q = px + (static_cast<int>(b.T) * s + y) * stride + (static_cast<int>(b.L) * s + x) * 4;
      inked = inked || p[0] || p[1] || p[2];
      if (std::memcmp(p, q, 4) != 0)
        return false;
    }
  return true;
}

} // namespace

TEST(ICaptionControl, ShowsTheDisplayTextOrValueAndLabelAsThatTextWouldDraw)
{
  Harness h(2.f);
  h.g.AttachPanelBackground(COLOR_BLACK);
  const IText style(12.f, COLOR_WHITE);
  h.dlg.GetParam(kGain)->Set(12.5);
  h.dlg.GetParam(kSwitch)->Set(1.);
  h.Attach(new ICaptionControl(IRECT(0, 0, 100, 20), kGain, style));
  h.Attach(new ITextControl(IRECT(0, 20, 100, 40), "12.5 dB", style));
  h.Attach(new ITextControl(IRECT(0, 40, 100, 60), "12.5", style));
  h.Attach(new ICaptionControl(IRECT(100, 0, 200, 20), kSwitch, style));
  h.Attach(new ITextControl(IRECT(100, 20, 200, 40), "on", style));
  h.Attach(new ICaptionControl(IRECT(100, 40, 200, 60), kGain, style, COLOR_TRANSPARENT, false));
  h.g.OnFrame();

  bool inked = false;
  EXPECT_TRUE(SamePixels(h.g, IRECT(0, 0, 100, 20), IRECT(0, 20, 100, 40), inked));
  EXPECT_TRUE(inked);
  EXPECT_FALSE(SamePixels(h.g, IRECT(0, 0, 100, 20), IRECT(0, 40, 100, 60), inked));
  EXPECT_TRUE(SamePixels(h.g, IRECT(100, 0, 200, 20), IRECT(100, 20, 200, 40), inked));
  EXPECT_TRUE(inked);
  EXPECT_TRUE(SamePixels(h.g, IRECT(100, 40, 200, 60), IRECT(0, 40, 100, 60), inked)); // label turned off
}

TEST(ICaptionControl, ALeftPressOpensAnEntryWithTheValueWhoseCommitSetsTheParameter)
{
  Harness h;
  h.dlg.GetParam(kGain)->Set(12.5);
  auto* caption = h.Attach(new ICaptionControl(IRECT(0, 0, 100, 20), kGain, IText(12.f)));
  h.g.OnFrame();

  h.Down(50, 10, 1000.);
  h.Up(50, 10);
  ASSERT_TRUE(h.g.IsTextEntryOpen());
  EXPECT_EQ(h.g.GetTextEntryText(), "12.5");
  h.g.CommitTextEntry("-3");
  EXPECT_NEAR(h.Param(kGain), -3., 1e-9);
  EXPECT_TRUE(caption->IsDirty());

  // A second press straight after is a press too: the entry opens again, no reset.
  h.g.OnFrame();
  h.Down(50, 10, 2000.);
  h.Up(50, 10);
  h.g.CancelTextEntry();
  h.Down(50, 10, 2100.);
  h.Up(50, 10);
  EXPECT_TRUE(h.g.IsTextEntryOpen());
  EXPECT_NEAR(h.Param(kGain), -3., 1e-9);
  h.g.CancelTextEntry();

  // The host moves the parameter: the caption takes the value and redraws.
  h.g.OnFrame();
  h.dlg.GetParam(kGain)->Set(6.);
  h.dlg.SendParameterValueFromDelegate(kGain);
  EXPECT_TRUE(caption->IsDirty());
  EXPECT_NEAR(caption->GetValue(), 0.625, 1e-9);
}

TEST(ITextControl, SetStrRedrawsOnlyForNewTextAndPressesPassThrough)
{
  Harness h;
  auto* knob = h.Attach(MakeKnob(IRECT(0, 0, 56, 56), kAmount));
  auto* text = h.Attach(new ITextControl(IRECT(0, 0, 56, 56), "READY"));
  h.g.OnFrame();
  EXPECT_FALSE(text->IsDirty());
  text->SetStr("READY");
  EXPECT_FALSE(text->IsDirty());
  text->SetStr("BUSY");
  EXPECT_TRUE(text->IsDirty());
  EXPECT_STREQ(text->GetStr(), "BUSY");
  h.g.OnFrame();
  text->SetStr(nullptr);
  EXPECT_TRUE(text->IsDirty());
  EXPECT_STREQ(text->GetStr(), "");

  h.Down(28, 28);
  h.Move(28, 0);
  h.Up(28, 0);
  EXPECT_NEAR(knob->GetValue(), 0.25, 1e-6); // the text on top let the knob have it
}

#include "EditorLayout.h"

#include "AccentColour.h"
#include "BandStripControl.h"
#include "CornerScaleControl.h"
#include "DisplayReading.h"
#include "EditorCallbacks.h"
#include "EditorSizing.h"
#include "IGraphics.h"
#include "IPanelControl.h"
#include "ISVGControl.h"
#include "ITextControl.h"
#include "KebabMenuControl.h"
#include "LearnPillControl.h"
#include "LevelMeterControl.h"
#include "Morvellan.h"
#include "PillToggleControl.h"
#include "halvorsted/controls/PresetBarControl.h"
#include "Resources.h"
#include "RingKnobControl.h"
#include "ThresholdHandle.h"
#include "ToneDisplayControl.h"
#include "halvorsted/controls/UpdatePillControl.h"
#include "ValueCaptionControl.h"

using namespace iplug::igraphics;

namespace
{

constexpr int kFramesPerSecond = 60;
constexpr const char* kRegular = "Roboto-Regular";
constexpr const char* kCondensedBold = "RobotoCondensed-Bold";
constexpr const char* kVersionText = MORVELLAN_VERSION_STRING;

const IColor kWhite(255, 250, 250, 250);
const IColor kEntryBackground(255, 30, 30, 30);
const IColor kFaint(18, 250, 250, 250);
const IColor kPanel(255, 20, 20, 20);

// The window's text styles, named by what they show.
struct Styles
{
  IText title{25.f, kWhite, kCondensedBold, EAlign::Near};
  IText pill{11.5f, kWhite, kRegular, EAlign::Center};
  IText meterCaption{10.5f, IColor(107, 250, 250, 250), kRegular, EAlign::Center};
  IText knobLabel{13.5f, kWhite, kRegular, EAlign::Center};
  IText valueCaption{11.5f, IColor(107, 250, 250, 250), kRegular, EAlign::Center};
  IText displaySmall{10.f, IColor(107, 250, 250, 250), kRegular, EAlign::Near};
  IText displayText{10.f, kWhite, kRegular, EAlign::Center};
  IText artworkFallback{15.f, IColor(107, 250, 250, 250), kCondensedBold, EAlign::Center};
  IText status{10.f, IColor(77, 250, 250, 250), kRegular, EAlign::Center};
  IText presetBar{11.f, kWhite, kRegular, EAlign::Center, EVAlign::Middle, 0.f, kEntryBackground, kWhite};
  IText learnEntry{13.f, kWhite, kRegular, EAlign::Near, EVAlign::Middle, 0.f, kEntryBackground, kWhite};
  IText meterReadout{11.5f, kWhite, kRegular, EAlign::Center};
  IText meterScale{8.5f, IColor(77, 250, 250, 250), kRegular, EAlign::Near};
};

IVStyle KnobStyle(const IColor& accent)
{
  return DEFAULT_STYLE.WithColor(kBG, COLOR_TRANSPARENT)
      .WithDrawFrame(false)
      .WithDrawShadows(false)
      .WithShowLabel(false)
      .WithShowValue(false)
      .WithHideCursor(false)
      .WithColor(kFG, IColor(255, 30, 30, 30))
      .WithColor(kPR, IColor(255, 34, 34, 34))
      .WithColor(kFR, kWhite)
      .WithColor(kX1, accent);
}

IVStyle MeterStyle(const IColor& accent)
{
  return DEFAULT_STYLE.WithColor(kBG, COLOR_TRANSPARENT)
      .WithDrawFrame(false)
      .WithDrawShadows(false)
      .WithShowLabel(false)
      .WithShowValue(false)
      .WithColor(kFG, accent)
      .WithColor(kFR, kWhite)
      .WithColor(kHL, kFaint);
}

void AttachMeterCaption(IGraphics& g, float centreX, float y, const char* text, const IText& style)
{
  g.AttachControl(new ITextControl(IRECT(centreX - 55.f, y + 32.f, centreX + 55.f, y + 47.f), text, style));
}

// A knob centred on (x, cy), with its label and value caption in the rows below the knobs.
void AttachKnob(IGraphics& g, const Styles& styles, const IVStyle& knobStyle, int param, float x, float cy,
                float size, const char* label, bool centreAnchored)
{
  constexpr float kLabelRow = 374.f;
  const IRECT square(x - 0.5f * size, cy - 0.5f * size, x + 0.5f * size, cy + 0.5f * size);
  g.AttachControl(new RingKnobControl(square, param, "", knobStyle, false, false, -135.f, 135.f,
                                      centreAnchored ? 0.f : -135.f, EDirection::Vertical, 4.0, 2.f,
                                      IColor(41, 250, 250, 250)));
  AttachMeterCaption(g, x, kLabelRow, label, styles.knobLabel);
  g.AttachControl(new morvellan::plugin::ValueCaptionControl(IRECT(x - 55.f, 423.f, x + 55.f, 437.f), param,
                                                             styles.valueCaption));
}

halvorsted::controls::PresetBarControl::Style PresetBarStyle(const Styles& styles)
{
  halvorsted::controls::PresetBarControl::Style s;
  s.colours = {IColor(255, 20, 20, 20), IColor(77, 250, 250, 250), kWhite, IColor(107, 250, 250, 250),
               IColor(20, 250, 250, 250), IColor(255, 255, 157, 46)};
  s.text = styles.presetBar;
  s.scale = 1.f;
  s.title = "";
  s.background = IColor(255, 17, 17, 17);
  s.bottomLine = IColor(26, 250, 250, 250);
  s.paddingLeft = 28.f;
  s.paddingRight = 24.f;
  return s;
}

void AttachArtwork(IGraphics& g, const Styles& styles)
{
  constexpr float kHeight = 18.f;
  const ISVG svg = g.LoadSVG("morvellan-lockup.svg", "px", 72.f);
  if (svg.IsValid() && svg.H() > 0.f)
  {
    const float w = svg.W() * kHeight / svg.H();
    g.AttachControl(new ISVGControl(IRECT(360.f - 0.5f * w, 496.f, 360.f + 0.5f * w, 496.f + kHeight), svg, false));
  }
  else
  {
    g.AttachControl(new ITextControl(IRECT(220.f, 496.f, 500.f, 514.f), "MORVELLAN", styles.artworkFallback));
  }
}

} // namespace

IGraphics* MakeGraphics(Morvellan& plug)
{
  using namespace morvellan::sizing;
  const float scale = InitialDrawScale(plug.GetEditorWidth(), plug.GetEditorHeight(), plug.mScreenScale);
  IGraphics* g = iplug::igraphics::MakeGraphics(plug, kCanvasWidth, kCanvasHeight, kFramesPerSecond, scale);
  // The last screen scale seen: a window opened without a word from the host about it
  // still fills the size the plug-in keeps.
  g->SetScreenScale(plug.mScreenScale);
  g->SetResources(MorvellanResources());
  return g;
}

void LayoutEditor(Morvellan& plug, IGraphics& g)
{
  // A font that fails to load draws in the fallback face.
  g.LoadFont(kRegular, "Roboto-Regular.ttf");
  g.LoadFont(kCondensedBold, "RobotoCondensed-Bold.ttf");
  g.SetLayoutOnResize(false);
  g.AttachPanelBackground(IColor(255, 10, 10, 10));
  g.EnableMouseOver(true);

  const morvellan::AccentRgb rgb = AccentColour(plug);
  const IColor accent(255, rgb.red, rgb.green, rgb.blue);
  const Styles styles;
  const IVStyle knobStyle = KnobStyle(accent);

  g.AttachControl(new IPanelControl(IRECT(14, 96, 706, 456), kPanel));

  const std::string title = plug.mHostTrackLabel.GetLength() > 0 ? plug.mHostTrackLabel.Get() : "MORVELLAN";
  g.AttachControl(new ITextControl(IRECT(28, 48, 428, 82), title.c_str(), styles.title), kCtrlTagTitle);

  // The update pill is made first: the main menu's update items reach the check through it.
  halvorsted::controls::UpdatePillControl::Style pillStyle{IColor(255, 252, 120, 92), IColor(255, 253, 146, 124),
                                                           IColor(255, 10, 10, 10), styles.pill};
  auto* updatePill = new halvorsted::controls::UpdatePillControl(
      IRECT(300, 49, 460, 79), pillStyle, plug.mUpdateCheck.get(),
      [&plug](const IRECT& r) { FitTitleToUpdatePill(plug, r); });

  auto* kebab = static_cast<KebabMenuControl*>(
      g.AttachControl(new KebabMenuControl(MakeKebabMenuCallbacks(plug, updatePill), kVersionText)));

  g.AttachControl(new halvorsted::controls::PresetBarControl(IRECT(0, 0, 720, 32), PresetBarStyle(styles),
                                                            MakePresetBarCallbacks(plug),
                                                            [kebab](const IRECT& r) { kebab->BuildMainMenu(r); }),
                  kCtrlTagPresetBar);

  g.AttachControl(
      new LearnPillControl(IRECT(470, 49, 582, 79), styles.pill, styles.learnEntry, accent, MakeLearnPillCallbacks(plug)));
  g.AttachControl(new PillToggleControl(IRECT(592, 49, 696, 79), kBypass, "ACTIVE", "BYPASSED", styles.pill, 1.f,
                                        accent, true));
  g.AttachControl(updatePill);

  g.AttachControl(new ToneDisplayControl(IRECT(30, 112, 690, 308), kLowTarget, kTilt, kRangeLow, kRangeHigh,
                                         kPreEq1Gain, kPreEq1Shelf, kPreEq4Shelf, accent, styles.displaySmall,
                                         styles.displayText,
                                         [&plug](ToneDisplayControl::Reading& r) { FillToneDisplayReading(plug, r); }));

  const IVStyle meterStyle = MeterStyle(accent);
  AttachMeterCaption(g, 65.f, 282.f, "IN", styles.meterCaption);
  g.AttachControl(new LevelMeterControl(IRECT(18, 328, 92, 436), meterStyle, 16.f, 14.f, styles.meterReadout,
                                        styles.meterScale, -54.f, 6.f, 1),
                  kCtrlTagInputMeter);
  g.AttachControl(new ThresholdHandle(IRECT(18, 328, 92, 436), kThreshold, IRECT(58, 344, 72, 436), -54.f, 6.f,
                                      styles.meterReadout.WithFGColor(accent), accent, IColor(255, 20, 20, 20)));
  g.AttachControl(new IPanelControl(IRECT(106, 332, 107, 442), kFaint));

  AttachKnob(g, styles, knobStyle, kAmount, 172.f, 366.f, 76.f, "AMOUNT", false);
  AttachKnob(g, styles, knobStyle, kTilt, 272.f, 374.f, 56.f, "TILT", true);
  AttachKnob(g, styles, knobStyle, kSpeed, 360.f, 374.f, 56.f, "SPEED", false);
  AttachKnob(g, styles, knobStyle, kMaxBoost, 448.f, 374.f, 56.f, "BOOST", false);
  AttachKnob(g, styles, knobStyle, kMaxCut, 536.f, 374.f, 56.f, "CUT", false);
  g.AttachControl(new IPanelControl(IRECT(576, 332, 577, 442), kFaint));
  AttachKnob(g, styles, knobStyle, kOutput, 618.f, 374.f, 56.f, "OUTPUT", true);

  AttachMeterCaption(g, 662.f, 282.f, "OUT", styles.meterCaption);
  g.AttachControl(new LevelMeterControl(IRECT(640, 328, 704, 436), meterStyle, 16.f, 14.f, styles.meterReadout,
                                        styles.meterScale, -54.f, 6.f, 2),
                  kCtrlTagOutputMeter);

  g.AttachControl(new PillToggleControl(IRECT(28, 468, 90, 494), kHPOn, "HP", "HP", styles.pill, 1.f, accent, false));
  g.AttachControl(new PillToggleControl(IRECT(630, 468, 692, 494), kLPOn, "LP", "LP", styles.pill, 1.f, accent, false));

  auto* strip = new BandStripControl(IRECT(112, 471, 608, 491), kFaint, IColor(255, accent.R, accent.G, accent.B),
                                     kWhite, IColor(56, 250, 250, 250), kHPOn, kLPOn, 1.f);
  strip->SetParamIdx(kHPFreq, 0);
  strip->SetParamIdx(kLPFreq, 1);
  g.AttachControl(strip);

  for (const auto& [bounds, param] : {std::pair{IRECT(14, 498, 104, 512), kHPFreq}, std::pair{IRECT(616, 498, 706, 512), kLPFreq}})
    g.AttachControl(new morvellan::plugin::ValueCaptionControl(bounds, param, styles.valueCaption));

  AttachArtwork(g, styles);
  g.AttachControl(new ITextControl(IRECT(14, 516, 706, 530), "", styles.status), kCtrlTagStatus);
  g.AttachControl(new CornerScaleControl(IRECT(706, 518, 718, 530), 720.f, 0.75f, 2.f, IColor(36, 250, 250, 250),
                                         IColor(90, 250, 250, 250)));

  // The next idle call sends the status line to the new, empty control.
  plug.mStatusText.clear();
}

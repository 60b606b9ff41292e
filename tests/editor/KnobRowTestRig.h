#pragma once

// The knob row's controls as the layout places them, over a delegate whose parameters
// have the plug-in's ranges and which records what reaches the host side.

#include <string>
#include <vector>

#include "BandStripControl.h"
#include "CornerScaleControl.h"
#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "IParam.h"
#include "MorvellanIds.h"
#include "PillToggleControl.h"
#include "Resources.h"
#include "RingKnobControl.h"
#include "ValueCaptionControl.h"

class KnobRowTestDelegate : public iplug::IEditorDelegate
{
public:
  KnobRowTestDelegate() : IEditorDelegate(kNumParams)
  {
    GetParam(kAmount)->InitDouble("Amount", 50., 0., 100., 1., "%");
    GetParam(kOutput)->InitDouble("Output", 0., -24., 24., 0.1, "dB");
    GetParam(kTilt)->InitDouble("Tilt", 0., -6., 6., 0.1, "dB/oct");
    GetParam(kHPFreq)->InitFrequency("HP Freq", 20., 20., 1000., 0.1);
    GetParam(kHPOn)->InitBool("HP On", true);
    GetParam(kLPFreq)->InitFrequency("LP Freq", 20000., 1000., 20000., 0.1);
    GetParam(kLPOn)->InitBool("LP On", true);
    GetParam(kBypass)->InitBool("Bypass", false);
  }

  void BeginInformHostOfParamChangeFromUI(int p) override { log.push_back("begin " + std::to_string(p)); }
  void EndInformHostOfParamChangeFromUI(int p) override { log.push_back("end " + std::to_string(p)); }
  void SendParameterValueFromUI(int p, double v) override
  {
    IEditorDelegate::SendParameterValueFromUI(p, v);
    log.push_back("send " + std::to_string(p));
    lastSent = v;
  }
  void PopupHostContextMenuForParam(int p, float, float) override { log.push_back("menu " + std::to_string(p)); }
  void EditorResizeFromUI(int w, int h, bool needsPlatformResize) override
  {
    IEditorDelegate::EditorResizeFromUI(w, h, needsPlatformResize);
    log.push_back("resize " + std::to_string(w) + "x" + std::to_string(h));
  }

  double Plain(int p) const { return GetParam(p)->Value(); }

  std::vector<std::string> log;
  double lastSent = -1.;
};

struct KnobRowTestRig
{
  using IRECT = iplug::igraphics::IRECT;
  using IColor = iplug::igraphics::IColor;

  explicit KnobRowTestRig(float scale = 1.f) : g(dlg, 720, 532, 60, scale)
  {
    // The embedded face: the same text on every machine, and no system font lookup.
    g.SetResources(MorvellanResources());
    g.LoadFont("Roboto-Regular", "Roboto-Regular.ttf");
    g.AttachPanelBackground(IColor(255, 0, 0, 0));
  }

  // Attached in the layout's order once the test has set the parameters it needs.
  void Attach()
  {
    using namespace iplug::igraphics;
    const IText text(11.5f, IColor(255, 250, 250, 250), "Roboto-Regular");
    const IVStyle style = DEFAULT_STYLE.WithColor(kBG, COLOR_TRANSPARENT).WithDrawFrame(false).WithDrawShadows(false)
                            .WithShowLabel(false).WithShowValue(false).WithColor(kFG, IColor(255, 30, 30, 30))
                            .WithColor(kX1, accent);
    const IColor white(255, 250, 250, 250), dim(56, 250, 250, 250);
    bypass = Add(new PillToggleControl(IRECT(592, 49, 696, 79), kBypass, "ACTIVE", "BYPASSED", text, 1.f, accent, true));
    Add(new RingKnobControl(IRECT(134, 328, 210, 404), kAmount, "", style, false, false, -135.f, 135.f, -135.f,
                            EDirection::Vertical, 4., 2.f, IColor(41, 250, 250, 250)));
    Add(new RingKnobControl(IRECT(244, 346, 300, 402), kTilt, "", style, false, false, -135.f, 135.f, 0.f,
                            EDirection::Vertical, 4., 2.f, IColor(41, 250, 250, 250)));
    hp = Add(new PillToggleControl(IRECT(28, 468, 90, 494), kHPOn, "HP", "HP", text, 1.f, accent, false));
    strip = new BandStripControl(IRECT(112, 471, 608, 491), IColor(18, 250, 250, 250), accent, white, dim, kHPOn, kLPOn);
    strip->SetParamIdx(kHPFreq, 0);
    strip->SetParamIdx(kLPFreq, 1);
    Add(strip);
    lpCaption = Add(new morvellan::plugin::ValueCaptionControl(IRECT(616, 498, 706, 512), kLPFreq, text));
    Add(new CornerScaleControl(IRECT(706, 518, 718, 530), 720.f, 0.75f, 2.f, IColor(36, 250, 250, 250),
                               IColor(90, 250, 250, 250)));
  }

  template <class C>
  C* Add(C* c)
  {
    g.AttachControl(c);
    return c;
  }

  const IColor accent{255, 21, 232, 121};
  KnobRowTestDelegate dlg;
  iplug::igraphics::IGraphics g;
  PillToggleControl* bypass = nullptr;
  PillToggleControl* hp = nullptr;
  BandStripControl* strip = nullptr;
  morvellan::plugin::ValueCaptionControl* lpCaption = nullptr;
};

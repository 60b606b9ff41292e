#pragma once

// A tone display attached to a headless graphics context the way the layout places it, with
// the plug-in's own parameter table behind a delegate that records what reaches the host.

#include <memory>
#include <string>
#include <vector>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "IPanelControl.h"
#include "MorvellanIds.h"
#include "Parameters.h"
#include "Resources.h"
#include "ToneDisplayControl.h"

class DisplayDelegate : public iplug::IEditorDelegate
{
public:
  struct Event
  {
    char kind; // 'b' begin, 's' send, 'e' end
    int param;
    double value; // a send's plain value
  };

  DisplayDelegate() : IEditorDelegate(kNumParams)
  {
    for (int i = 0; i < kNumParams; ++i)
    {
      morvellan::DeclareParameter(*GetParam(i), morvellan::kParamTable[size_t(i)]);
      GetParam(i)->SetToDefault();
    }
  }

  void BeginInformHostOfParamChangeFromUI(int p) override { events.push_back({'b', p, 0.0}); }
  void EndInformHostOfParamChangeFromUI(int p) override { events.push_back({'e', p, 0.0}); }
  void SendParameterValueFromUI(int p, double normalized) override
  {
    IEditorDelegate::SendParameterValueFromUI(p, normalized);
    events.push_back({'s', p, GetParam(p)->Value()});
  }

  void Set(int p, double plain) { GetParam(p)->Set(plain); }
  double Get(int p) const { return GetParam(p)->Value(); }

  // "b5 s5 e5": the kinds and parameters in order.
  std::string Trace() const
  {
    std::string t;
    for (const Event& e : events)
      t += (t.empty() ? "" : " ") + std::string(1, e.kind) + std::to_string(e.param);
    return t;
  }

  std::vector<Event> events;
};

struct DisplayRig
{
  static constexpr float kL = 30.f, kT = 112.f, kR = 690.f, kB = 308.f;

  explicit DisplayRig(float scale = 1.f, int canvasH = 532, bool withReading = true)
  : g(dlg, 720, canvasH, 60, scale)
  {
    g.SetResources(MorvellanResources());
    g.LoadFont("Roboto-Regular", "Roboto-Regular.ttf");
    g.LoadFont("RobotoCondensed-Bold", "RobotoCondensed-Bold.ttf");
    g.AttachPanelBackground(iplug::igraphics::IColor(255, 10, 10, 10));
    g.AttachControl(new iplug::igraphics::IPanelControl(iplug::igraphics::IRECT(14.f, 96.f, 706.f, 456.f),
                                                         iplug::igraphics::IColor(255, 20, 20, 20)));
    const iplug::igraphics::IText small(10.f, iplug::igraphics::IColor(107, 250, 250, 250), "Roboto-Regular",
                                        iplug::igraphics::EAlign::Near);
    const iplug::igraphics::IText centred(10.f, iplug::igraphics::IColor(255, 250, 250, 250), "Roboto-Regular",
                                          iplug::igraphics::EAlign::Center);
    ToneDisplayControl::ReadingFunc provider;
    if (withReading)
      provider = [this](ToneDisplayControl::Reading& r) {
        r = reading;
        ++readings;
      };
    display = static_cast<ToneDisplayControl*>(g.AttachControl(new ToneDisplayControl(
      iplug::igraphics::IRECT(kL, kT, kR, kB), kLowTarget, kTilt, kRangeLow, kRangeHigh, kPreEq1Gain, kPreEq1Shelf,
      kPreEq4Shelf, iplug::igraphics::IColor(255, 92, 200, 255), small, centred, std::move(provider))));
  }

  // Mouse in canvas units (window pixels divided by the scale); presses are a second apart
  // unless asked otherwise, so none turns into a double click by accident.
  void Down(float x, float y, iplug::igraphics::IMouseMod mod = iplug::igraphics::IMouseMod(true))
  {
    clock += 1000.0;
    g.OnMouseDown(x * g.GetDrawScale(), y * g.GetDrawScale(), mod, clock);
  }
  void Move(float x, float y, iplug::igraphics::IMouseMod mod = iplug::igraphics::IMouseMod(true))
  {
    g.OnMouseMove(x * g.GetDrawScale(), y * g.GetDrawScale(), mod);
  }
  void Up(float x, float y, iplug::igraphics::IMouseMod mod = iplug::igraphics::IMouseMod(true))
  {
    g.OnMouseUp(x * g.GetDrawScale(), y * g.GetDrawScale(), mod);
  }
  void Click(float x, float y, iplug::igraphics::IMouseMod mod = iplug::igraphics::IMouseMod(true))
  {
    Down(x, y, mod);
    Up(x, y, mod);
  }
  void DoubleClick(float x, float y)
  {
    Click(x, y);
    clock += 100.0;
    g.OnMouseDown(x * g.GetDrawScale(), y * g.GetDrawScale(), iplug::igraphics::IMouseMod(true), clock);
    Up(x, y);
  }
  void Wheel(float x, float y, float d)
  {
    g.OnMouseWheel(x * g.GetDrawScale(), y * g.GetDrawScale(), iplug::igraphics::IMouseMod(), d);
  }

  DisplayDelegate dlg;
  iplug::igraphics::IGraphics g;
  ToneDisplayControl* display = nullptr;
  ToneDisplayControl::Reading reading;
  int readings = 0;
  double clock = 0.0;
};

// Pixels of one whole frame of the rig, as bytes.
inline std::vector<unsigned char> Frame(DisplayRig& rig)
{
  rig.g.SetAllControlsDirty();
  rig.g.OnFrame();
  int stride = 0;
  const unsigned char* p = rig.g.GetPixels(stride);
  return std::vector<unsigned char>(p, p + stride * rig.g.WindowHeight());
}

#pragma once

// What the meter and threshold tests share: a delegate with the plug-in's threshold
// parameter that records what reaches the host, the layout's styles, and pixel reads.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "LevelMeterControl.h"
#include "Resources.h"
#include "plugin/MorvellanIds.h"

class MeterTestDelegate : public iplug::IEditorDelegate
{
public:
  MeterTestDelegate() : iplug::IEditorDelegate(kNumParams)
  {
    GetParam(kThreshold)->InitDouble("Analysis Threshold", -40., -70., -10., 0.5, "dB");
  }
  void BeginInformHostOfParamChangeFromUI(int p) override { log.push_back("begin " + std::to_string(p)); }
  void EndInformHostOfParamChangeFromUI(int p) override { log.push_back("end " + std::to_string(p)); }
  void SendParameterValueFromUI(int p, double v) override
  {
    iplug::IEditorDelegate::SendParameterValueFromUI(p, v);
    log.push_back("send " + std::to_string(p));
    sent.push_back(v);
  }
  void PopupHostContextMenuForParam(int p, float, float) override { log.push_back("menu " + std::to_string(p)); }

  std::vector<std::string> log;
  std::vector<double> sent;
};

inline const iplug::igraphics::IColor kAccent(255, 71, 160, 240);
inline const iplug::igraphics::IColor kWindowFill(255, 10, 10, 10);
inline const iplug::igraphics::IText kReadoutStyle(11.5f, iplug::igraphics::IColor(255, 250, 250, 250),
                                                   "Roboto-Regular");

// A window with the fonts and background, and an input meter (kind 1) or output meter (kind 2).
inline LevelMeterControl* AttachMeter(iplug::igraphics::IGraphics& g, int kind)
{
  using namespace iplug::igraphics;
  if (g.NControls() == 0)
  {
    g.SetResources(MorvellanResources());
    g.LoadFont("Roboto-Regular", "Roboto-Regular.ttf");
    g.AttachPanelBackground(kWindowFill);
  }
  const IVStyle style = DEFAULT_STYLE.WithShowLabel(false)
                          .WithDrawFrame(false)
                          .WithColor(kBG, COLOR_TRANSPARENT)
                          .WithColor(kFG, kAccent)
                          .WithColor(kFR, IColor(255, 250, 250, 250));
  const IRECT bounds = kind == 1 ? IRECT(18, 328, 92, 436) : IRECT(640, 328, 704, 436);
  const IText scale(8.5f, IColor(77, 250, 250, 250), "Roboto-Regular", EAlign::Near);
  return static_cast<LevelMeterControl*>(
    g.AttachControl(new LevelMeterControl(bounds, style, 16.f, 14.f, kReadoutStyle, scale, -54.f, 6.f, kind), kind + 1));
}

// The drawn pixel at (x, y) of the window; exact for opaque pixels.
inline iplug::igraphics::IColor PixelAt(const iplug::igraphics::IGraphics& g, int x, int y)
{
  int stride = 0;
  const unsigned char* pixels = g.GetPixels(stride);
  std::uint32_t v = 0;
  std::memcpy(&v, pixels + static_cast<std::ptrdiff_t>(y) * stride + 4 * x, sizeof(v));
  return iplug::igraphics::IColor(int(v >> 24), int((v >> 16) & 255), int((v >> 8) & 255), int(v & 255));
}

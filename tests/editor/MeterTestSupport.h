#pragma once

// A delegate with the plug-in's threshold parameter, a recorder of what reaches the host,
// and the styles and pixel reads the meter and threshold tests share.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "IEditorDelegate.h"
#include "IGraphics.h"
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

inline iplug::igraphics::IVStyle MeterStyle()
{
  using namespace iplug::igraphics;
  return DEFAULT_STYLE.WithShowLabel(false)
    .WithShowValue(false)
    .WithDrawFrame(false)
    .WithDrawShadows(false)
    .WithColor(kBG, COLOR_TRANSPARENT)
    .WithColor(kFG, kAccent)
    .WithColor(kFR, IColor(255, 250, 250, 250))
    .WithColor(kHL, IColor(18, 250, 250, 250));
}

inline iplug::igraphics::IText ReadoutStyle()
{
  return iplug::igraphics::IText(11.5f, iplug::igraphics::IColor(255, 250, 250, 250), "Roboto-Regular");
}

inline iplug::igraphics::IText ScaleStyle()
{
  return iplug::igraphics::IText(8.5f, iplug::igraphics::IColor(77, 250, 250, 250), "Roboto-Regular",
                                 iplug::igraphics::EAlign::Near);
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

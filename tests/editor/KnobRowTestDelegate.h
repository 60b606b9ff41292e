#pragma once

// A delegate whose parameters used by the knob row, the pills, the band strip and the
// captions have the plug-in's ranges, and which records what reaches the host side.

#include <string>
#include <vector>

#include "IEditorDelegate.h"
#include "IParam.h"
#include "MorvellanIds.h"

class KnobRowTestDelegate : public iplug::IEditorDelegate
{
public:
  struct Send
  {
    int param;
    double normalized;
  };

  KnobRowTestDelegate() : IEditorDelegate(kNumParams)
  {
    using iplug::IParam;
    GetParam(kAmount)->InitDouble("Amount", 50., 0., 100., 1., "%");
    GetParam(kMaxBoost)->InitDouble("Max Boost", 6., 0., 12., 0.5, "dB");
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
    sends.push_back({p, v});
  }
  void PopupHostContextMenuForParam(int p, float, float) override { log.push_back("menu " + std::to_string(p)); }
  void EditorResizeFromUI(int w, int h, bool needsPlatformResize) override
  {
    IEditorDelegate::EditorResizeFromUI(w, h, needsPlatformResize);
    log.push_back("resize " + std::to_string(w) + "x" + std::to_string(h));
  }

  void Clear()
  {
    log.clear();
    sends.clear();
  }

  std::vector<std::string> log;
  std::vector<Send> sends;
};

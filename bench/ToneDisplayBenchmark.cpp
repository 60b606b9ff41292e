// The tone display redraws every frame: one full frame of it with every curve, at draw
// scales 1 and 2, in both modes, with a steady correction and with one that changes every
// frame (the only time the correction curve is recomputed), and with the measured levels
// moving every frame as they do while audio plays.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "MorvellanIds.h"
#include "Parameters.h"
#include "Resources.h"
#include "ToneDisplayControl.h"

using namespace iplug::igraphics;

namespace
{

class Delegate : public iplug::IEditorDelegate
{
public:
  Delegate() : IEditorDelegate(kNumParams)
  {
    for (int i = 0; i < kNumParams; ++i)
    {
      morvellan::DeclareParameter(*GetParam(i), morvellan::kParamTable[size_t(i)]);
      GetParam(i)->SetToDefault();
    }
    // Every layer has something to draw.
    GetParam(kRangeLow)->Set(60.0);
    GetParam(kRangeHigh)->Set(12000.0);
    GetParam(kTilt)->Set(-0.5);
    GetParam(kLowTarget)->Set(3.0);
    GetParam(kBodyTarget)->Set(-2.0);
    GetParam(kPresenceTarget)->Set(2.5);
    GetParam(kAirTarget)->Set(1.5);
    GetParam(kPreEq1Gain)->Set(2.0);
    GetParam(kPreEq2Gain)->Set(-4.0);
    GetParam(kPreEq3Gain)->Set(3.0);
    GetParam(kPreEq4Gain)->Set(-2.0);
  }
};

struct Scene
{
  explicit Scene(float scale, bool preEq) : graphics(delegate, 720, 532, 60, scale)
  {
    graphics.SetResources(MorvellanResources());
    graphics.LoadFont("Roboto-Regular", "Roboto-Regular.ttf");
    const IText small(10.f, IColor(107, 250, 250, 250), "Roboto-Regular", EAlign::Near);
    const IText centred(10.f, IColor(255, 250, 250, 250), "Roboto-Regular", EAlign::Center);
    for (int k = 0; k < 12; ++k)
    {
      reading.correctionDb[k] = float((k % 5) - 2) * 1.5f;
      reading.levelDb[k] = -30.f - 3.f * float(k);
    }
    reading.aboveThreshold = true;
    reading.hasTarget = true;
    reading.targetName = "Female vocals pop";
    reading.hpOn = reading.lpOn = true;
    reading.hpHz = 40.0;
    reading.lpHz = 18000.0;
    display = static_cast<ToneDisplayControl*>(graphics.AttachControl(
      new ToneDisplayControl(IRECT(30, 112, 690, 308), kLowTarget, kTilt, kRangeLow, kRangeHigh, kPreEq1Gain,
                             kPreEq1Shelf, kPreEq4Shelf, IColor(255, 92, 200, 255), small, centred,
                             [this](ToneDisplayControl::Reading& r) { r = reading; })));
    graphics.OnFrame();
    if (preEq)
    {
      const float s = graphics.GetDrawScale();
      graphics.OnMouseDown(380.f * s, 120.f * s, IMouseMod(true), 0.0);
      graphics.OnMouseUp(380.f * s, 120.f * s, IMouseMod(true));
      float x, y;
      display->PreEqHandle(2, x, y);
      graphics.OnMouseDown(x * s, y * s, IMouseMod(false, true), 1000.0);
      graphics.OnMouseUp(x * s, y * s, IMouseMod(false, true));
    }
  }

  Delegate delegate;
  IGraphics graphics;
  ToneDisplayControl::Reading reading;
  ToneDisplayControl* display = nullptr;
};

// Arguments: draw scale, PRE-EQ mode, correction changing every frame, levels moving every frame.
void BM_ToneDisplayFrame(benchmark::State& state)
{
  Scene scene(float(state.range(0)), state.range(1) != 0);
  const bool adapting = state.range(2) != 0;
  const bool playing = state.range(3) != 0;
  const int before = scene.display->CorrectionCurveComputations();
  float nudge = 0.f;
  long frame = 0;
  for (auto _ : state)
  {
    if (adapting)
    {
      nudge = nudge > 0.5f ? 0.f : nudge + 0.05f;
      scene.reading.correctionDb[4] = 2.f + nudge;
    }
    if (playing)
    {
      ++frame;
      for (int k = 0; k < 12; ++k)
        scene.reading.levelDb[k] = -30.f - 3.f * float(k) + 4.f * std::sin(0.37f * float(frame) + 0.9f * float(k));
    }
    benchmark::DoNotOptimize(scene.graphics.OnFrame());
  }
  state.counters["curve computations per frame"] =
    double(scene.display->CorrectionCurveComputations() - before) / double(state.iterations());
}

} // namespace

BENCHMARK(BM_ToneDisplayFrame)
  ->ArgNames({"scale", "preEq", "adapting", "playing"})
  ->Args({1, 0, 0, 0})
  ->Args({2, 0, 0, 0})
  ->Args({2, 1, 0, 0})
  ->Args({2, 0, 1, 0})
  ->Args({2, 1, 1, 0})
  ->Args({1, 0, 0, 1})
  ->Args({1, 1, 0, 1})
  ->Args({2, 0, 0, 1})
  ->Args({2, 1, 0, 1})
  ->Args({2, 0, 1, 1})
  ->Args({2, 1, 1, 1})
  ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

// The whole window: a full redraw at each draw scale, one frame of an open window in which
// nothing changes but what redraws on every frame (the display and the learn pill), and one
// frame while audio plays (both meters and the display's levels move every frame).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "IGraphics.h"
#include "IPeakAvgSender.h"
#include "Morvellan.h"
#include "MorvellanIds.h"

namespace
{

struct OpenEditor
{
  explicit OpenEditor(float scale)
  {
    plug = static_cast<Morvellan*>(MakePlug(iplug::InstanceInfo{}));
    ui.reset(plug->mMakeGraphicsFunc());
    plug->SetGraphics(ui.get());
    plug->mLayoutFunc(ui.get());
    plug->SendCurrentParamValuesFromDelegate();
    ui->Resize(720, 532, scale, false);
    ui->OnFrame();
  }
  ~OpenEditor()
  {
    ui->RemoveAllControls();
    plug->SetGraphics(nullptr);
    ui.reset();
    plug->release();
  }
  Morvellan* plug = nullptr;
  std::unique_ptr<iplug::igraphics::IGraphics> ui;
};

void BM_FullWindowRedraw(benchmark::State& state)
{
  OpenEditor editor(float(state.range(0)) / 100.f);
  for (auto _ : state)
  {
    editor.ui->SetAllControlsDirty();
    benchmark::DoNotOptimize(editor.ui->OnFrame());
  }
}
BENCHMARK(BM_FullWindowRedraw)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

// At 60 frames a second, the share of one core is this time x 60 per second.
void BM_UnchangingWindowFrame(benchmark::State& state)
{
  OpenEditor editor(float(state.range(0)) / 100.f);
  for (auto _ : state)
    benchmark::DoNotOptimize(editor.ui->OnFrame());
  state.counters["core_share_at_60fps"] =
      benchmark::Counter(double(state.iterations()) / 60.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_UnchangingWindowFrame)->Arg(100)->Unit(benchmark::kMillisecond);

// What the audio thread publishes while music plays, made up on the UI thread: band levels
// that wander by a few dB, a correction that holds or (adapting) moves a little every frame,
// and meter messages as the idle callback hands them on. The plug-in's audio path itself
// does not run.
class PlayingAudio
{
public:
  PlayingAudio(Morvellan& plug, bool adapting) : mPlug(plug), mAdapting(adapting)
  {
    for (size_t k = 0; k < 12; ++k)
      mPlug.mBandLevels[0][k].store(kCorrection[k]);
    mPlug.mAboveThreshold.store(1);
  }

  void NextFrame(iplug::igraphics::IGraphics& ui)
  {
    ++mFrame;
    for (size_t k = 0; k < 12; ++k)
    {
      const double wobble = 4.0 * std::sin(0.37 * double(mFrame) + 0.9 * double(k));
      mPlug.mBandLevels[1][k].store(float(-30.0 - 3.0 * double(k) + wobble));
      if (mAdapting)
        mPlug.mBandLevels[0][k].store(kCorrection[k] + 0.5f * float(std::sin(0.05 * double(mFrame) + double(k))));
    }
    SendMeter(ui, kCtrlTagInputMeter, 0.0);
    SendMeter(ui, kCtrlTagOutputMeter, 1.3);
  }

private:
  void SendMeter(iplug::igraphics::IGraphics& ui, int tag, double phase)
  {
    iplug::IPeakAvgSender<1>::Data d;
    d.ctrlTag = tag;
    const double t = 0.21 * double(mFrame) + phase;
    d.vals[0] = {float(0.5 + 0.3 * std::sin(t)), float(0.15 + 0.1 * std::sin(1.7 * t))};
    ui.SendControlMsgFromDelegate(tag, 0, int(sizeof(d)), &d);
  }

  static constexpr float kCorrection[12] = {3.f, 5.f, 2.f, 0.f, -2.f, -4.f, -1.f, 1.f, 3.f, 2.f, -3.f, -6.f};
  Morvellan& mPlug;
  bool mAdapting;
  long mFrame = 0;
};

// Arguments: draw scale in hundredths, PRE-EQ mode, correction moving every frame.
void BM_PlayingWindowFrame(benchmark::State& state)
{
  OpenEditor editor(float(state.range(0)) / 100.f);
  PlayingAudio audio(*editor.plug, state.range(2) != 0);
  if (state.range(1) != 0)
  {
    // The display's mode toggle: its PRE-EQ half.
    const float s = editor.ui->GetDrawScale();
    editor.ui->OnMouseDown(380.f * s, 120.f * s, iplug::igraphics::IMouseMod(true), 0.0);
    editor.ui->OnMouseUp(380.f * s, 120.f * s, iplug::igraphics::IMouseMod(true));
  }
  audio.NextFrame(*editor.ui);
  editor.ui->OnFrame();
  for (auto _ : state)
  {
    audio.NextFrame(*editor.ui);
    benchmark::DoNotOptimize(editor.ui->OnFrame());
  }
  // Time per frame x 60 frames a second, in per cent of one core.
  state.counters["core_pct_at_60fps"] =
      benchmark::Counter(double(state.iterations()) / 6000.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlayingWindowFrame)
  ->ArgNames({"scale", "preEq", "adapting"})
  ->Args({100, 0, 0})
  ->Args({100, 1, 0})
  ->Args({200, 0, 0})
  ->Args({200, 1, 0})
  ->Args({200, 0, 1})
  ->Args({200, 1, 1})
  ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

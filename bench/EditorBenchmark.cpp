// The whole window: a full redraw at each draw scale, and one frame of an open window in
// which nothing changes but what redraws on every frame (the display and the learn pill).
#include <benchmark/benchmark.h>

#include <memory>

#include "IGraphics.h"
#include "Morvellan.h"

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

} // namespace

BENCHMARK_MAIN();

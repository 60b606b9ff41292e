// The whole window: a full redraw at each draw scale, one frame of an open window in which
// nothing changes, and one frame while audio plays (both meters and the display's levels move
// every frame); and the real window in a private X server, shown and hidden.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <optional>

#include "pluginterfaces/gui/iplugview.h"

#include "EditorView.h"
#include "IGraphics.h"
#include "IPeakAvgSender.h"
#include "Morvellan.h"
#include "MorvellanIds.h"
#include "XvfbServer.h"

#include <X11/Xlib.h>

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

// One sixtieth of a second of an open window with no audio: a frame, and the idle callback
// on five frames in six (every 20 ms). frames_drawn counts the frames that drew anything.
void BM_UnchangingWindowFrame(benchmark::State& state)
{
  OpenEditor editor(float(state.range(0)) / 100.f);
  editor.plug->OnIdle();
  editor.ui->OnFrame();
  long frame = 0, drawn = 0;
  for (auto _ : state)
  {
    if (++frame % 6 != 0)
      editor.plug->OnIdle();
    drawn += editor.ui->OnFrame().Degenerate() ? 0 : 1;
  }
  state.counters["frames_drawn"] = double(drawn);
  // Time per frame x 60 frames a second, in per cent of one core.
  state.counters["core_pct_at_60fps"] =
      benchmark::Counter(double(state.iterations()) / 6000.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_UnchangingWindowFrame)->Arg(100)->Arg(200)->Unit(benchmark::kMicrosecond);

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

// The host side of a real window: a run loop the benchmark pumps and a frame that keeps
// the window's size.
class BenchRunLoop : public Steinberg::Linux::IRunLoop
{
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID, void** obj) override
  {
    *obj = nullptr;
    return Steinberg::kNoInterface;
  }
  Steinberg::uint32 PLUGIN_API addRef() override { return 2; }
  Steinberg::uint32 PLUGIN_API release() override { return 1; }
  Steinberg::tresult PLUGIN_API registerEventHandler(Steinberg::Linux::IEventHandler*,
                                                     Steinberg::Linux::FileDescriptor) override
  {
    return Steinberg::kResultTrue;
  }
  Steinberg::tresult PLUGIN_API unregisterEventHandler(Steinberg::Linux::IEventHandler*) override
  {
    return Steinberg::kResultTrue;
  }
  Steinberg::tresult PLUGIN_API registerTimer(Steinberg::Linux::ITimerHandler* h, Steinberg::Linux::TimerInterval) override
  {
    timer = h;
    return Steinberg::kResultTrue;
  }
  Steinberg::tresult PLUGIN_API unregisterTimer(Steinberg::Linux::ITimerHandler*) override
  {
    timer = nullptr;
    return Steinberg::kResultTrue;
  }
  // The frame timer also reads the window's events.
  void Tick()
  {
    if (timer)
      timer->onTimer();
  }
  Steinberg::Linux::ITimerHandler* timer = nullptr;
};

class BenchFrame : public Steinberg::IPlugFrame
{
public:
  explicit BenchFrame(BenchRunLoop& loop) : mLoop(loop) {}
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override
  {
    if (Steinberg::FUnknownPrivate::iidEqual(iid, Steinberg::Linux::IRunLoop::iid))
    {
      *obj = &mLoop;
      return Steinberg::kResultOk;
    }
    *obj = nullptr;
    return Steinberg::kNoInterface;
  }
  Steinberg::uint32 PLUGIN_API addRef() override { return 2; }
  Steinberg::uint32 PLUGIN_API release() override { return 1; }
  Steinberg::tresult PLUGIN_API resizeView(Steinberg::IPlugView*, Steinberg::ViewRect*) override
  {
    return Steinberg::kResultFalse;
  }

private:
  BenchRunLoop& mLoop;
};

// The plug-in's editor as a VST3 view in a private X server, in a host window that is shown
// or, once drawn, hidden as a host hides a closed plug-in window.
struct OpenWindow
{
  OpenWindow(float scale, bool hidden)
  {
    if (!testsupport::XvfbServer::Shared().Running() || !(display = XOpenDisplay(nullptr)))
      return;
    plug = static_cast<Morvellan*>(MakePlug(iplug::InstanceInfo{}));
    plug->initialize(nullptr);
    const int w = int(720.f * scale), h = int(532.f * scale);
    parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, unsigned(w), unsigned(h), 0, 0, 0);
    XMapWindow(display, parent);
    XSync(display, False);
    view = plug->createView("editor");
    Steinberg::ViewRect size(0, 0, w, h);
    view->onSize(&size);
    view->setFrame(&frame);
    if (view->attached(reinterpret_cast<void*>(parent), Steinberg::kPlatformTypeX11EmbedWindowID) != Steinberg::kResultOk)
      return;
    editor = static_cast<iplug::igraphics::EditorView*>(view);
    Settle([this] { return editor->Viewable() && editor->PaintCount() > 0; });
    if (hidden)
    {
      XUnmapWindow(display, parent);
      XSync(display, False);
      Settle([this] { return !editor->Viewable(); });
    }
  }
  ~OpenWindow()
  {
    if (view)
    {
      view->removed();
      view->release();
    }
    if (plug)
    {
      plug->terminate();
      plug->release();
    }
    if (display)
    {
      XDestroyWindow(display, parent);
      XCloseDisplay(display);
    }
  }
  template <class Done>
  void Settle(Done done)
  {
    for (int i = 0; i < 500 && !done(); ++i)
    {
      XSync(display, False);
      loop.Tick();
    }
  }
  bool Ready() const { return editor != nullptr; }

  Display* display = nullptr;
  Window parent = 0;
  BenchRunLoop loop;
  BenchFrame frame{loop};
  Morvellan* plug = nullptr;
  Steinberg::IPlugView* view = nullptr;
  iplug::igraphics::EditorView* editor = nullptr;
};

// One tick of the host's frame timer (events, the idle callback when due, a frame and its
// upload) with the window shown or hidden, with no audio or with audio moving the meters and
// the display's levels. frames_drawn counts uploads.
void BM_WindowTimerTick(benchmark::State& state)
{
  OpenWindow window(float(state.range(0)) / 100.f, state.range(1) != 0);
  if (!window.Ready())
  {
    state.SkipWithError("no X server");
    return;
  }
  std::optional<PlayingAudio> audio;
  if (state.range(2) != 0)
    audio.emplace(*window.plug, false);
  window.loop.Tick();
  const int paintsBefore = window.editor->PaintCount();
  for (auto _ : state)
  {
    if (audio)
      audio->NextFrame(*window.plug->GetUI());
    window.loop.Tick();
  }
  state.counters["frames_drawn"] = double(window.editor->PaintCount() - paintsBefore);
  state.counters["core_pct_at_60fps"] =
      benchmark::Counter(double(state.iterations()) / 6000.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WindowTimerTick)
  ->ArgNames({"scale", "hidden", "playing"})
  ->Args({100, 0, 0})
  ->Args({200, 0, 0})
  ->Args({100, 0, 1})
  ->Args({100, 1, 1})
  ->Args({200, 0, 1})
  ->Args({200, 1, 1})
  ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

// Cost of one full editor-sized frame (720 x 532 canvas) of a few hundred primitives and
// text at draw scales 1 and 2. `graphics_bench --write-png <folder>` writes the frame at
// both scales instead, to look at.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "Resources.h"

using namespace iplug::igraphics;

namespace
{

constexpr int kWidth = 720;
constexpr int kHeight = 532;
const IColor kText(255, 250, 250, 250);
const IColor kDim(107, 250, 250, 250);
const IColor kAccent(255, 64, 170, 255);

// Knob-like dials, meters, a response display with its grid, captions and the word mark.
class SceneControl : public IControl
{
public:
  explicit SceneControl(const ISVG& lockup)
  : IControl(IRECT(0.f, 0.f, static_cast<float>(kWidth), static_cast<float>(kHeight))), mLockup(lockup)
  {
  }

  void Draw(IGraphics& g) override
  {
    g.FillRect(IColor(255, 24, 24, 27), mRECT);
    DrawDisplay(g, IRECT(30.f, 60.f, 690.f, 256.f));
    for (int i = 0; i < 8; ++i)
      DrawDial(g, 60.f + i * 86.f, 330.f, i / 7.f);
    for (int i = 0; i < 12; ++i)
      DrawMeter(g, IRECT(40.f + i * 14.f, 400.f, 50.f + i * 14.f, 480.f), (i % 5 + 1) / 6.f);
    DrawShapes(g, IRECT(230.f, 396.f, 690.f, 486.f));
    g.DrawText(IText(25.f, kText, "RobotoCondensed-Bold", EAlign::Near), "MORVELLAN Balance", IRECT(30.f, 14.f, 400.f, 46.f));
    g.DrawText(IText(11.f, kText, "Roboto-Regular"), "Preset \xC2\xB7 Warm Master\xE2\x80\xA6", IRECT(430.f, 18.f, 690.f, 42.f));
    g.DrawRoundRect(kDim, IRECT(430.f, 18.f, 690.f, 42.f), 4.f);
    if (mLockup.IsValid())
    {
      const float w = mLockup.W() * 18.f / mLockup.H();
      g.DrawSVG(mLockup, IRECT(360.f - 0.5f * w, 496.f, 360.f + 0.5f * w, 514.f));
    }
  }

private:
  void DrawDisplay(IGraphics& g, const IRECT& r)
  {
    g.FillRoundRect(IColor(255, 32, 32, 36), r, 6.f);
    const IText small(10.f, kDim, "Roboto-Regular", EAlign::Far);
    for (int db = -12; db <= 12; db += 6)
    {
      const float y = r.MH() - db * r.H() / 30.f;
      g.DrawDottedLine(IColor(60, 250, 250, 250), r.L, y, r.R, y, nullptr, 1.f, 3.f);
      char label[8];
      std::snprintf(label, sizeof(label), "%+d", db);
      g.DrawText(small, label, IRECT(r.R - 40.f, y - 7.f, r.R - 6.f, y + 7.f));
    }
    const char* freqs[] = {"50", "100", "200", "500", "1k", "2k", "5k", "10k"};
    for (int i = 0; i < 8; ++i)
    {
      const float x = r.L + (i + 0.5f) * r.W() / 8.f;
      g.DrawLine(IColor(30, 250, 250, 250), x, r.T, x, r.B);
      g.DrawText(IText(10.f, kDim, "Roboto-Regular"), freqs[i], IRECT(x - 20.f, r.B - 16.f, x + 20.f, r.B - 4.f));
    }
    // A response curve as a filled path and its outline, then a dotted target curve.
    auto curve = [&](float x, float phase) { return r.MH() - 40.f * std::sin(x / r.W() * 6.2832f * 1.5f + phase); };
    g.PathMoveTo(r.L, r.B);
    for (int i = 0; i <= 120; ++i)
    {
      const float x = i * r.W() / 120.f;
      g.PathLineTo(r.L + x, curve(x, 0.f));
    }
    g.PathLineTo(r.R, r.B);
    g.PathClose();
    g.PathFill(IPattern(kAccent.WithAlpha(45)));
    for (int i = 1; i <= 120; ++i)
    {
      const float x0 = (i - 1) * r.W() / 120.f, x1 = i * r.W() / 120.f;
      g.DrawLine(kAccent, r.L + x0, curve(x0, 0.f), r.L + x1, curve(x1, 0.f), nullptr, 2.f);
      g.DrawDottedLine(kText, r.L + x0, curve(x0, 0.8f), r.L + x1, curve(x1, 0.8f), nullptr, 1.f, 3.f);
    }
    for (int i = 0; i < 5; ++i)
      g.FillCircle(kText, r.L + (i + 1) * r.W() / 6.f, curve((i + 1) * r.W() / 6.f, 0.f), 5.f);
  }

  void DrawDial(IGraphics& g, float cx, float cy, float value)
  {
    const float angle = -135.f + 270.f * value;
    g.DrawArc(IColor(40, 250, 250, 250), cx, cy, 26.f, -135.f, 135.f, nullptr, 4.f);
    g.DrawArc(kAccent, cx, cy, 26.f, -135.f, angle, nullptr, 4.f);
    g.FillCircle(IColor(255, 60, 60, 66), cx, cy, 20.f);
    g.DrawCircle(IColor(255, 90, 90, 96), cx, cy, 20.f);
    const float a = angle * 3.14159265f / 180.f;
    g.DrawLine(kText, cx + 2.f * std::sin(a), cy - 2.f * std::cos(a), cx + 20.f * std::sin(a), cy - 20.f * std::cos(a),
               nullptr, 2.5f);
    g.DrawText(IText(13.5f, kText, "Roboto-Regular"), "Amount", IRECT(cx - 40.f, cy + 30.f, cx + 40.f, cy + 46.f));
    char value_text[16];
    std::snprintf(value_text, sizeof(value_text), "%.1f dB", value * 12.f - 6.f);
    g.DrawText(IText(11.5f, kDim, "Roboto-Regular"), value_text, IRECT(cx - 40.f, cy - 48.f, cx + 40.f, cy - 34.f));
  }

  void DrawMeter(IGraphics& g, const IRECT& r, float level)
  {
    g.FillRect(IColor(255, 40, 40, 44), r);
    g.FillRect(kAccent, IRECT(r.L, r.B - level * r.H(), r.R, r.B));
    g.FillRect(kText, IRECT(r.L, r.B - level * r.H() - 4.f, r.R, r.B - level * r.H() - 3.f));
  }

  void DrawShapes(IGraphics& g, const IRECT& r)
  {
    g.DrawRect(kDim, r);
    float x = r.L + 10.f;
    const float t = r.T + 10.f, b = r.B - 10.f;
    g.FillRoundRect(kAccent, IRECT(x, t, x + 50.f, b), 10.f);
    x += 60.f;
    g.DrawRoundRect(kText, IRECT(x, t, x + 50.f, b), 10.f, nullptr, 2.f);
    x += 60.f;
    g.FillEllipse(IColor(255, 200, 90, 60), IRECT(x, t, x + 60.f, b));
    g.DrawEllipse(kText, IRECT(x, t, x + 60.f, b), nullptr, 1.5f);
    x += 70.f;
    g.FillTriangle(IColor(255, 90, 200, 120), x, b, x + 25.f, t, x + 50.f, b);
    x += 60.f;
    const float px[] = {x, x + 30.f, x + 50.f, x + 35.f, x + 5.f};
    const float py[] = {t + 20.f, t, t + 25.f, b, b};
    g.FillConvexPolygon(IColor(180, 230, 210, 80), px, py, 5);
    x += 60.f;
    const IBlend half(EBlend::Default, 0.5f);
    g.FillRect(kAccent, IRECT(x, t, x + 40.f, b), &half);
    g.PathMoveTo(x + 50.f, b);
    g.PathCubicBezierTo(x + 60.f, t - 20.f, x + 80.f, b + 20.f, x + 100.f, t);
    IStrokeOptions round;
    round.mCapOption = ELineCap::Round;
    g.PathStroke(IPattern(kText), 3.f, round);
  }

  ISVG mLockup;
};

struct Frame
{
  iplug::IEditorDelegate delegate{0};
  std::unique_ptr<IGraphics> graphics;

  explicit Frame(float scale) : graphics(MakeGraphics(delegate, kWidth, kHeight, 60, scale))
  {
    graphics->SetResources(MorvellanResources());
    graphics->LoadFont("Roboto-Regular", "Roboto-Regular.ttf");
    graphics->LoadFont("RobotoCondensed-Bold", "RobotoCondensed-Bold.ttf");
    graphics->AttachControl(new SceneControl(graphics->LoadSVG("morvellan-lockup.svg", "px", 72.f)));
  }
};

void FullFrame(benchmark::State& state)
{
  Frame frame(static_cast<float>(state.range(0)));
  for (auto _ : state)
  {
    frame.graphics->SetAllControlsDirty();
    benchmark::DoNotOptimize(frame.graphics->OnFrame());
  }
}
BENCHMARK(FullFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Measuring one preset name: Roboto alone (0), or with an arrow, CJK, Hebrew and Thai from
// system fonts (1), whose choice is made once, before the loop, and then kept.
void MeasureName(benchmark::State& state)
{
  Frame frame(1.f);
  const IText style(11.f, kText, "Roboto-Regular");
  const char* name = state.range(0) ? "Vox \xE2\x86\x92 \xE4\xB8\xAD\xE6\x96\x87 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xE0\xB9\x84\xE0\xB8\x97\xE0\xB8\xA2"
                                    : "Vox -> Warm Master take 2";
  IRECT extent;
  frame.graphics->MeasureText(style, name, extent);
  for (auto _ : state)
    benchmark::DoNotOptimize(frame.graphics->MeasureText(style, name, extent));
}
BENCHMARK(MeasureName)->Arg(0)->Arg(1);

} // namespace

int main(int argc, char** argv)
{
  if (argc == 3 && std::strcmp(argv[1], "--write-png") == 0)
  {
    for (float scale : {1.f, 2.f})
    {
      Frame frame(scale);
      const std::string path = std::string(argv[2]) + "/frame-x" + std::to_string(static_cast<int>(scale)) + ".png";
      if (!frame.graphics->WritePNG(path.c_str()))
        return 1;
      std::printf("%s\n", path.c_str());
    }
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

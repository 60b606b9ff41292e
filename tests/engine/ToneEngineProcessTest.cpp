#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace morvellan;
using namespace morvellan::test;

namespace {

bool BitIdentical(const std::vector<double>& a, const std::vector<double>& b)
{
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void ExpectSameAnalysis(const ToneEngine& a, const ToneEngine& b)
{
  EXPECT_EQ(a.bandPower, b.bandPower);
  EXPECT_EQ(a.designedGainDb, b.designedGainDb);
  EXPECT_EQ(a.currentGainDb, b.currentGainDb);
  EXPECT_EQ(a.measuredBalance, b.measuredBalance);
  EXPECT_EQ(a.inputPower, b.inputPower);
  EXPECT_EQ(a.sampleCounter, b.sampleCounter);
  EXPECT_EQ(a.historyIndex, b.historyIndex);
}

} // namespace

TEST(ToneEngineProcess, NeutralSettingsAreBitTransparent)
{
  const double fs = 48000.0;
  const Channels input = {WhiteNoise(48000, 0.9, 1), PinkNoise(48000, 0.5, 2)};
  for (const std::vector<int>& blocks : {std::vector<int>{1}, {31}, {33}, {4096}, {7, 512, 1, 100}})
  {
    ToneEngine engine;
    engine.Prepare(fs);
    engine.ApplySettings(NeutralSettings());
    const Channels out = RunEngine(engine, input, blocks);
    EXPECT_TRUE(BitIdentical(out[0], input[0])) << "block " << blocks[0];
    EXPECT_TRUE(BitIdentical(out[1], input[1])) << "block " << blocks[0];
    EXPECT_FALSE(engine.eqActive);
    EXPECT_GT(engine.bandPower[5], 0.0); // the analysis ran all the same
  }
  // Mono, and 32-bit samples (float -> double -> float is exact).
  ToneEngine mono;
  mono.Prepare(44100.0);
  mono.ApplySettings(NeutralSettings());
  const Channels monoIn = {WhiteNoise(20000, 1.0, 5)};
  EXPECT_TRUE(BitIdentical(RunEngine(mono, monoIn, {64})[0], monoIn[0]));
  ToneEngine floats;
  floats.Prepare(fs);
  floats.ApplySettings(NeutralSettings());
  Channels floatIn = input;
  for (auto& ch : floatIn)
    for (double& v : ch)
      v = static_cast<float>(v);
  const Channels floatOut = RunEngine<float>(floats, floatIn, {33});
  EXPECT_TRUE(BitIdentical(floatOut[0], floatIn[0]));
  EXPECT_TRUE(BitIdentical(floatOut[1], floatIn[1]));
}

TEST(ToneEngineProcess, OutputDoesNotDependOnBlockSizes)
{
  const double fs = 48000.0;
  const Channels input = BassyPinkStereo(96000, fs);
  ToneEngine reference;
  reference.Prepare(fs);
  reference.ApplySettings(WorstPathSettings());
  const Channels expected = RunEngine(reference, input, {96000});
  ASSERT_TRUE(reference.eqActive);
  for (const std::vector<int>& blocks : {std::vector<int>{1}, {31}, {33}, {4096}, {5, 1000, 32, 3}})
  {
    ToneEngine engine;
    engine.Prepare(fs);
    engine.ApplySettings(WorstPathSettings());
    const Channels out = RunEngine(engine, input, blocks);
    EXPECT_TRUE(BitIdentical(out[0], expected[0])) << "block " << blocks[0];
    EXPECT_TRUE(BitIdentical(out[1], expected[1])) << "block " << blocks[0];
    ExpectSameAnalysis(engine, reference);
  }
}

// The chunked, two-lane kernel must reproduce the plain per-frame loop exactly, including while
// settings change between blocks and corners, pre-EQ and output gain glide.
TEST(ToneEngineProcess, FastKernelMatchesThePlainLoopBitForBit)
{
  struct Case
  {
    double fs;
    int channels;
    bool floats;
  };
  for (const Case& c : {Case{48000.0, 2, false}, Case{44100.0, 1, false}, Case{32000.0, 2, true},
                        Case{22050.0, 2, false}, Case{96000.0, 2, false}})
  {
    Channels input = BassyPinkStereo(40000, c.fs);
    input.resize(c.channels);
    auto changeSettings = [](ToneEngine& e, std::size_t pos) {
      ToneEngineSettings s = WorstPathSettings();
      const int step = static_cast<int>(pos / 3000);
      s.outputDb = (step % 3) * 2.0 - 2.0;
      s.hpFreqHz = 40.0 + 20.0 * (step % 4);
      s.preEqBands[1].gainDb = (step % 2) ? 5.0 : 0.0;
      s.preEqBands[0].shelf = (step % 5) != 0;
      s.amount = (step % 7 == 6) ? 0.0 : 1.0;
      // Now and then only the correction runs: no cut filters, no pre-EQ gain.
      if (step % 8 >= 3 && step % 8 <= 5)
      {
        s.hpOn = s.lpOn = false;
        for (auto& band : s.preEqBands)
          band.gainDb = 0.0;
      }
      if (!(e.settings == s))
        e.ApplySettings(s);
    };
    ToneEngine plain;
    plain.kernel = ToneEngine::Kernel::kPlain;
    plain.Prepare(c.fs);
    const std::vector<int> blocks = {3000};
    const Channels a =
        c.floats ? RunEngine<float>(plain, input, blocks, changeSettings) : RunEngine(plain, input, blocks, changeSettings);
    // Kernels this processor lacks fall back to the best it has, so every entry runs something.
    for (ToneEngine::Kernel kernel : {ToneEngine::Kernel::kBlocked, ToneEngine::Kernel::kBlockedBaseline,
                                      ToneEngine::Kernel::kBlockedAvx2, ToneEngine::Kernel::kBlockedAvx512})
    {
      ToneEngine fast;
      fast.kernel = kernel;
      fast.Prepare(c.fs);
      const Channels b =
          c.floats ? RunEngine<float>(fast, input, blocks, changeSettings) : RunEngine(fast, input, blocks, changeSettings);
      for (int ch = 0; ch < c.channels; ++ch)
        EXPECT_TRUE(BitIdentical(a[ch], b[ch]))
            << "rate " << c.fs << " channel " << ch << " kernel " << static_cast<int>(kernel);
      ExpectSameAnalysis(plain, fast);
      EXPECT_EQ(plain.highPass[0].z1, fast.highPass[0].z1);
      EXPECT_EQ(plain.correction[1][4].z2, fast.correction[1][4].z2);
      EXPECT_EQ(plain.analysisStage2[7].z1, fast.analysisStage2[7].z1);
    }
  }
}

TEST(ToneEngineProcess, FloatSamplesFollowTheDoublePath)
{
  Channels input = BassyPinkStereo(20000, 48000.0);
  for (auto& ch : input)
    for (double& v : ch)
      v = static_cast<float>(v);
  ToneEngine d, f;
  for (ToneEngine* e : {&d, &f})
  {
    e->Prepare(48000.0);
    e->ApplySettings(WorstPathSettings());
  }
  const Channels outD = RunEngine(d, input, {256});
  const Channels outF = RunEngine<float>(f, input, {256});
  for (int c = 0; c < 2; ++c)
    for (std::size_t i = 0; i < input[c].size(); ++i)
      ASSERT_EQ(static_cast<float>(outD[c][i]), outF[c][i]) << i;
}

TEST(ToneEngineProcess, ChannelsBeyondTwoAreCopiedAndNotAnalysed)
{
  const Channels stereo = BassyPinkStereo(9600, 48000.0);
  Channels four = stereo;
  four.push_back(WhiteNoise(9600, 0.9, 7));
  four.push_back(Sine(9600, 440.0, 0.5, 48000.0));
  ToneEngine a, b;
  for (ToneEngine* e : {&a, &b})
  {
    e->Prepare(48000.0);
    e->ApplySettings(WorstPathSettings());
  }
  const Channels outA = RunEngine(a, stereo, {128});
  const Channels outB = RunEngine(b, four, {128});
  EXPECT_TRUE(BitIdentical(outA[0], outB[0]));
  EXPECT_TRUE(BitIdentical(outA[1], outB[1]));
  EXPECT_TRUE(BitIdentical(outB[2], four[2]));
  EXPECT_TRUE(BitIdentical(outB[3], four[3]));
  EXPECT_EQ(a.bandPower, b.bandPower);
}

TEST(ToneEngineProcess, MonoAnalysesTheSingleChannel)
{
  const std::vector<double> x = PinkNoise(9600, 0.4, 3);
  ToneEngine mono, stereo;
  for (ToneEngine* e : {&mono, &stereo})
  {
    e->Prepare(48000.0);
    e->ApplySettings(NeutralSettings());
  }
  RunEngine(mono, {x}, {100});
  RunEngine(stereo, {x, x}, {100});
  // (x + x) / 2 and (x² + x²) / 2 are exact, so a duplicated channel reads like the single one.
  EXPECT_EQ(mono.bandPower, stereo.bandPower);
  EXPECT_EQ(mono.inputPower, stereo.inputPower);
}

TEST(ToneEngineProcess, OutputGainGlidesThenSnapsAndUnityIsTransparentAgain)
{
  const double fs = 48000.0;
  ToneEngine engine;
  engine.Prepare(fs);
  ToneEngineSettings s = NeutralSettings();
  engine.ApplySettings(s);
  s.outputDb = -6.0;
  engine.ApplySettings(s);
  EXPECT_EQ(engine.outputGain, 1.0); // no jump
  const std::vector<double> ones(9600, 1.0);
  const Channels out = RunEngine(engine, {ones}, {480});
  const double target = std::pow(10.0, -6.0 / 20.0);
  // A 10 ms one-pole: after 10 ms about 63 % of the way there.
  EXPECT_NEAR(out[0][479], 1.0 + (target - 1.0) * (1.0 - std::exp(-1.0)), 0.01);
  EXPECT_EQ(engine.outputGain, target);
  EXPECT_EQ(out[0].back(), target);

  s.outputDb = 0.0;
  engine.ApplySettings(s);
  const Channels noise = {WhiteNoise(9600, 1.0, 9)};
  const Channels back = RunEngine(engine, noise, {9600});
  EXPECT_EQ(engine.outputGain, 1.0);
  EXPECT_TRUE(std::equal(back[0].begin() + 7000, back[0].end(), noise[0].begin() + 7000));
}

TEST(ToneEngineProcess, ResetSetsOutputGainWithoutGlide)
{
  ToneEngine engine;
  ToneEngineSettings s = NeutralSettings();
  s.outputDb = 6.0;
  engine.ApplySettings(s);
  engine.Prepare(48000.0);
  EXPECT_EQ(engine.outputGain, std::pow(10.0, 6.0 / 20.0));
}

TEST(ToneEngineProcess, BeforePrepareAudioPassesThroughWithoutNaN)
{
  ToneEngine engine;
  ToneEngineSettings s = WorstPathSettings();
  engine.ApplySettings(s);
  const Channels input = BassyPinkStereo(4800, 48000.0);
  const Channels out = RunEngine(engine, input, {100});
  EXPECT_TRUE(BitIdentical(out[0], input[0]));
  EXPECT_TRUE(BitIdentical(out[1], input[1]));
  // A control step run by hand before any Prepare must not poison the cut filters either.
  ToneEngine raw;
  raw.ControlStep();
  EXPECT_TRUE(std::isfinite(raw.hpCurrentHz));
  EXPECT_TRUE(std::isfinite(raw.highPass[0].b0));
  // A rate the host should never report is ignored.
  raw.Prepare(0.0);
  raw.Prepare(NAN);
  EXPECT_FALSE(raw.prepared);
}

TEST(ToneEngineProcess, ZeroFramesAndNoChannelsDoNothing)
{
  ToneEngine engine;
  engine.Prepare(48000.0);
  engine.ApplySettings(WorstPathSettings());
  double sample = 0.25;
  double* ch[1] = {&sample};
  engine.ProcessSamples(ch, ch, 1, 0);
  engine.ProcessSamples(ch, ch, 0, 1);
  engine.ProcessSamples(static_cast<const double* const*>(nullptr), ch, 1, 1);
  EXPECT_EQ(sample, 0.25);
  EXPECT_EQ(engine.sampleCounter, 0);
}

TEST(PassThrough, CopiesFillsAndSilences)
{
  std::vector<double> in0 = {1, 2, 3}, in1 = {4, 5, 6};
  std::vector<double> out0(3, 9), out1(3, 9), out2(3, 9);
  const double* ins[2] = {in0.data(), in1.data()};
  double* outs[3] = {out0.data(), out1.data(), out2.data()};

  PassThroughChannels(ins, 1, outs, 2, 3);
  EXPECT_EQ(out0, in0);
  EXPECT_EQ(out1, in0);

  PassThroughChannels(ins, 2, outs, 3, 3);
  EXPECT_EQ(out1, in1);
  EXPECT_EQ(out2, in0);

  PassThroughChannels(nullptr, 2, outs, 3, 3);
  for (auto* o : {&out0, &out1, &out2})
    EXPECT_EQ(*o, std::vector<double>(3, 0.0));

  out0 = {7, 7, 7};
  PassThroughChannels(ins, 0, outs, 1, 3);
  EXPECT_EQ(out0, std::vector<double>(3, 0.0));

  out0 = {7, 7, 7};
  PassThroughChannels(ins, 2, outs, 1, 0);
  EXPECT_EQ(out0, std::vector<double>(3, 7.0));
}

// A host that hands over a few NaN or infinite samples gets garbage for the control step they fall
// in, and from the next step on finite audio and analysis again, from every kernel alike.
TEST(ToneEngineProcess, NonFiniteInputSamplesSpoilOnlyTheirOwnControlStep)
{
  const double fs = 48000.0;
  Channels input = BassyPinkStereo(96000, fs);
  for (int i = 30000; i < 30005; ++i)
    input[0][i] = NAN;
  input[1][50001] = INFINITY;
  // Steps end every 32 samples from the start, so the spoiled stretches are these two.
  auto spoiled = [](std::size_t i) { return (i >= 29984 && i < 30016) || (i >= 49984 && i < 50016); };
  std::vector<Channels> outputs;
  for (ToneEngine::Kernel kernel : {ToneEngine::Kernel::kPlain, ToneEngine::Kernel::kBlocked,
                                    ToneEngine::Kernel::kBlockedBaseline})
  {
    ToneEngine engine;
    engine.kernel = kernel;
    engine.Prepare(fs);
    engine.ApplySettings(WorstPathSettings());
    outputs.push_back(RunEngine(engine, input, {500}));
    const Channels& out = outputs.back();
    for (int c = 0; c < 2; ++c)
      for (std::size_t i = 0; i < out[c].size(); ++i)
      {
        if (!spoiled(i))
        {
          ASSERT_TRUE(std::isfinite(out[c][i])) << "kernel " << static_cast<int>(kernel) << " channel " << c << " at " << i;
        }
      }
    for (int k = 0; k < kNumBands; ++k)
    {
      EXPECT_TRUE(std::isfinite(engine.bandPower[k]));
      EXPECT_TRUE(std::isfinite(engine.measuredBalance[k]));
      EXPECT_TRUE(std::isfinite(engine.currentGainDb[k]));
      EXPECT_TRUE(std::isfinite(engine.analysisStage2[k].z1));
    }
    EXPECT_TRUE(engine.eqActive);
  }
  for (std::size_t k = 1; k < outputs.size(); ++k)
    for (int c = 0; c < 2; ++c)
      for (std::size_t i = 0; i < input[c].size(); ++i)
      {
        if (!spoiled(i))
        {
          ASSERT_EQ(outputs[k][c][i], outputs[0][c][i]) << k << " " << c << " " << i;
        }
      }
}

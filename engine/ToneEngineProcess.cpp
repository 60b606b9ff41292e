#include "ToneEngine.h"

#include "TargetRegion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <utility>

namespace morvellan {

namespace {

// Lane vectors: the two channels side by side, or four analysis bands. Lane arithmetic is plain IEEE
// double arithmetic, with fused multiply-adds exactly where the one-sample-at-a-time code calls
// std::fma, so every value comes out as that code computes it, whatever instruction set runs it.
using Lanes = double __attribute__((vector_size(16)));
using Quad = double __attribute__((vector_size(32)));

#define MV_INLINE inline __attribute__((always_inline))

// A section on vectors, a1 and a2 stored negated (the plain loop's -a1 and -a2).
template <typename V>
struct VecSection
{
  V b0, b1, b2, na1, na2, z1, z2;
};
using LaneSection = VecSection<Lanes>;

// An analysis band-pass on vectors: b1 is 0 and b2 is -b0.
template <typename V>
struct BandPassLanes
{
  V b0, na1, na2, z1, z2;
};

struct AnalysisQuad
{
  BandPassLanes<Quad> stage1, stage2;
  Quad power;
};

constexpr int kAnalysisQuads = kNumBands / 4;

constexpr int kMaxChain = kNumPreEqBands + 2 + kNumBands;
// Two lanes (the channels) per section, padded to whole eight-lane vectors.
constexpr int kChainLanes = (2 * kMaxChain + 7) / 8 * 8;

// The pre-filters and the correction as one chain, coefficients and states lane by lane: lanes
// 2k and 2k + 1 are section k of the two channels. Lanes past the chain's end hold silent
// identity sections. Kept packed for a whole call; only what a control step changes is rewritten.
struct PackedChain
{
  alignas(64) double b0[kChainLanes];
  alignas(64) double b1[kChainLanes];
  alignas(64) double b2[kChainLanes];
  alignas(64) double na1[kChainLanes];
  alignas(64) double na2[kChainLanes];
  alignas(64) double z1[kChainLanes];
  alignas(64) double z2[kChainLanes];

  MV_INLINE LaneSection Section(int k) const
  {
    LaneSection s;
    std::memcpy(&s.b0, b0 + 2 * k, sizeof(Lanes));
    std::memcpy(&s.b1, b1 + 2 * k, sizeof(Lanes));
    std::memcpy(&s.b2, b2 + 2 * k, sizeof(Lanes));
    std::memcpy(&s.na1, na1 + 2 * k, sizeof(Lanes));
    std::memcpy(&s.na2, na2 + 2 * k, sizeof(Lanes));
    std::memcpy(&s.z1, z1 + 2 * k, sizeof(Lanes));
    std::memcpy(&s.z2, z2 + 2 * k, sizeof(Lanes));
    return s;
  }
  MV_INLINE void SetState(int k, const LaneSection& s)
  {
    std::memcpy(z1 + 2 * k, &s.z1, sizeof(Lanes));
    std::memcpy(z2 + 2 * k, &s.z2, sizeof(Lanes));
  }
  void SetCoefficients(int lane, const BiquadSection& s)
  {
    b0[lane] = s.b0;
    b1[lane] = s.b1;
    b2[lane] = s.b2;
    na1[lane] = -s.a1;
    na2[lane] = -s.a2;
  }
  void Set(int lane, const BiquadSection& s)
  {
    SetCoefficients(lane, s);
    z1[lane] = s.z1;
    z2[lane] = s.z2;
  }
  void SetIdentity(int lane)
  {
    Set(lane, BiquadSection());
  }
};

// One step of a running average, power ← keep·power + take·x with one rounding: keep is 1 - coef
// rounded and take exactly 1 - keep, so a steady input gives back exactly itself.
struct AverageStep
{
  double keep;
  double take;
  explicit AverageStep(double coef) : keep(1.0 - coef), take(1.0 - keep) {}
  double Next(double power, double x) const { return std::fma(power, keep, take * x); }
};

// Everything one chunk of frames (up to the next control step) needs, gathered from the engine.
struct ChunkJob
{
  Lanes* frames;
  int len;
  int n;
  double inv;
  PackedChain* chain;
  int nPre;
  int nCorr;
  AnalysisQuad* analysis;
  double* inputPower;
  AverageStep inputAverage{0.0};
  AverageStep bandAverage{0.0};
};

// The stereo cascade as a wavefront: at step tau section k works on frame tau - k, so all sections
// of both channels advance together in wide vectors (two lanes per section) and the output of each
// feeds the next one lane pair up at the next step. Every section still sees its frames in order
// with the same arithmetic; lanes whose section has no frame at a step keep their state.
template <int W>
struct Wide;
template <>
struct Wide<8>
{
  using V = double __attribute__((vector_size(64)));
  using M = long long __attribute__((vector_size(64)));
  using Half = double __attribute__((vector_size(32)));
  static MV_INLINE void Shift(const V& lo, const V& hi, V& out)
  {
    out = __builtin_shufflevector(lo, hi, 6, 7, 8, 9, 10, 11, 12, 13);
  }
};

using Eight = Wide<8>::V;

namespace baseline {
#define MV_KERNEL_FMA 0
#include "ChunkKernels.inl"
#undef MV_KERNEL_FMA
} // namespace baseline

MV_TARGET_BEGIN_AVX2
namespace avx2 {
#define MV_KERNEL_FMA 1
#include "ChunkKernels.inl"
#undef MV_KERNEL_FMA
} // namespace avx2
MV_TARGET_END

MV_TARGET_BEGIN_AVX512
namespace avx512 {
#define MV_KERNEL_FMA 2
#include "ChunkKernels.inl"
#undef MV_KERNEL_FMA
} // namespace avx512
MV_TARGET_END

void RunChunkBaseline(const ChunkJob& job) { baseline::RunChunk<3, 2>(job); }

__attribute__((target("avx2,fma"))) void RunChunkAvx2(const ChunkJob& job) { avx2::RunChunk<3, 2>(job); }

// AVX-512 brings 32 vector registers, so larger groups stay in registers.
__attribute__((target("avx512f,avx512vl,avx512dq,fma"))) void RunChunkAvx512(const ChunkJob& job) { avx512::RunChunk<6, 8>(job); }

using ChunkKernel = void (*)(const ChunkJob&);

bool Supported(ToneEngine::Kernel kernel)
{
  __builtin_cpu_init();
  switch (kernel)
  {
  case ToneEngine::Kernel::kBlockedAvx512:
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("fma");
  case ToneEngine::Kernel::kBlockedAvx2:
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  default:
    return true;
  }
}

// Chosen when the module loads, so the audio thread never runs a guarded first-time initialisation.
const ChunkKernel kBestKernel = Supported(ToneEngine::Kernel::kBlockedAvx512) ? RunChunkAvx512
                                : Supported(ToneEngine::Kernel::kBlockedAvx2) ? RunChunkAvx2
                                                                              : RunChunkBaseline;

ChunkKernel KernelFor(ToneEngine::Kernel kernel)
{
  switch (kernel)
  {
  case ToneEngine::Kernel::kBlockedBaseline:
    return RunChunkBaseline;
  case ToneEngine::Kernel::kBlockedAvx2:
    return Supported(kernel) ? RunChunkAvx2 : kBestKernel;
  case ToneEngine::Kernel::kBlockedAvx512:
    return Supported(kernel) ? RunChunkAvx512 : kBestKernel;
  default:
    // An engine run from another module's static initialiser may come before the choice is made.
    return kBestKernel ? kBestKernel : RunChunkBaseline;
  }
}

// One glide step per frame towards the output gain's target; it lands exactly once close enough.
MV_INLINE void GlideOutputGain(double& gain, double target, double coef)
{
  if (gain != target)
  {
    gain += (target - gain) * coef;
    if (std::fabs(gain - target) < 1e-6)
      gain = target;
  }
}

template <typename T>
void CopyChannel(const T* in, T* out, int nFrames)
{
  if (in != out && nFrames > 0)
    std::memmove(out, in, sizeof(T) * static_cast<std::size_t>(nFrames));
}

} // namespace

void PassThroughChannels(const double* const* inputs, int nInputs, double* const* outputs, int nOutputs, int nFrames)
{
  if (nFrames < 1 || nOutputs < 1 || !outputs)
    return;
  const int m = inputs ? std::max(0, std::min(nInputs, nOutputs)) : 0;
  for (int c = 0; c < m; ++c)
    CopyChannel(inputs[c], outputs[c], nFrames);
  for (int c = m; c < nOutputs; ++c)
  {
    if (m > 0)
      CopyChannel(outputs[0], outputs[c], nFrames);
    else
      std::fill(outputs[c], outputs[c] + nFrames, 0.0);
  }
}

void ToneEngine::ProcessSamples(const double* const* inputs, double* const* outputs, int nChannels, int nFrames)
{
  ProcessAny(inputs, outputs, nChannels, nFrames);
}

void ToneEngine::ProcessSamples(const float* const* inputs, float* const* outputs, int nChannels, int nFrames)
{
  ProcessAny(inputs, outputs, nChannels, nFrames);
}

template <typename T>
void ToneEngine::ProcessAny(const T* const* inputs, T* const* outputs, int nChannels, int nFrames)
{
  if (nChannels < 1 || !inputs || !outputs)
    return;
  for (int c = kMaxProcessedChannels; c < nChannels; ++c)
    CopyChannel(inputs[c], outputs[c], nFrames);
  if (nFrames < 1)
    return;
  const int n = std::min(nChannels, kMaxProcessedChannels);
  // Until the engine knows its sample rate its filters mean nothing: pass the audio through.
  if (!prepared)
  {
    for (int c = 0; c < n; ++c)
      CopyChannel(inputs[c], outputs[c], nFrames);
    return;
  }
  if (kernel == Kernel::kPlain)
    ProcessPlain(inputs, outputs, n, nFrames);
  else
    ProcessBlocked(inputs, outputs, n, nFrames);
}

template <typename T>
void ToneEngine::ProcessPlain(const T* const* inputs, T* const* outputs, int n, int nFrames)
{
  const double inv = 1.0 / n;
  const AverageStep inputAverage(inputPowerCoef), bandAverage(bandPowerCoef);
  for (int t = 0; t < nFrames; ++t)
  {
    double x[kMaxProcessedChannels] = {};
    double sum = 0.0;
    double sumSq = 0.0;
    for (int c = 0; c < n; ++c)
    {
      double v = static_cast<double>(inputs[c][t]);
      if (settings.hpOn)
        v = highPass[c].Process(v);
      if (settings.lpOn)
        v = lowPass[c].Process(v);
      if (preEqActive)
        for (BiquadSection& section : preEq[c])
          v = section.Process(v);
      x[c] = v;
      if (c == 0)
      {
        sum = v;
        sumSq = v * v;
      }
      else
      {
        sum += v;
        sumSq += v * v;
      }
    }
    const double mono = sum * inv;
    inputPower = inputAverage.Next(inputPower, sumSq * inv);
    for (int k = 0; k < kNumBands; ++k)
    {
      if (!bandEnabled[k])
        continue;
      const double y = analysisStage2[k].ProcessBandPass(analysisStage1[k].ProcessBandPass(mono));
      bandPower[k] = bandAverage.Next(bandPower[k], y * y);
    }
    GlideOutputGain(outputGain, outputGainTarget, outputGainCoef);
    for (int c = 0; c < n; ++c)
    {
      double y = x[c];
      if (eqActive)
        for (int k = 0; k < kNumBands; ++k)
          if (bandEnabled[k])
            y = correction[c][k].Process(y);
      if (outputGain != 1.0)
        y = y * outputGain;
      outputs[c][t] = static_cast<T>(y);
    }
    if (++sampleCounter >= kControlInterval)
    {
      sampleCounter = 0;
      ControlStep();
    }
  }
}

// Same arithmetic as ProcessPlain, reorganised per chunk of frames up to the next control step
// (nothing the chunk's filters read changes before that step): the two channels run side by side,
// the analysis bands four or eight at a time. The chain and the analysis bank stay packed for the
// whole call; after a control step only the sections it redesigned are rewritten.
template <typename T>
void ToneEngine::ProcessBlocked(const T* const* inputs, T* const* outputs, int n, int nFrames)
{
  const ChunkKernel runChunk = KernelFor(kernel);
  const bool stereo = n == 2;
  const int other = stereo ? 1 : 0;
  // Bands are enabled from the lowest up, so the enabled ones are a prefix.
  int nBands = 0;
  while (nBands < kNumBands && bandEnabled[nBands])
    ++nBands;

  Lanes frames[kControlInterval];
  PackedChain chain;
  AnalysisQuad analysis[kAnalysisQuads];
  // The chain's sections for each channel: cut filters, pre-EQ, then the correction.
  BiquadSection* sections[kMaxProcessedChannels][kMaxChain];
  int nPre = 0;
  int nCorr = 0;

  ChunkJob job{};
  job.frames = frames;
  job.n = n;
  job.inv = 1.0 / n;
  job.chain = &chain;
  job.analysis = analysis;
  job.inputPower = &inputPower;
  job.inputAverage = AverageStep(inputPowerCoef);
  job.bandAverage = AverageStep(bandPowerCoef);

  auto packChain = [&] {
    nPre = 0;
    auto add = [&](BiquadSection& s0, BiquadSection& s1) {
      sections[0][nPre] = &s0;
      sections[1][nPre++] = &s1;
    };
    if (settings.hpOn)
      add(highPass[0], highPass[other]);
    if (settings.lpOn)
      add(lowPass[0], lowPass[other]);
    if (preEqActive)
      for (int k = 0; k < kNumPreEqBands; ++k)
        add(preEq[0][k], preEq[other][k]);
    nCorr = eqActive ? nBands : 0;
    for (int k = 0; k < nCorr; ++k)
    {
      sections[0][nPre + k] = &correction[0][k];
      sections[1][nPre + k] = &correction[other][k];
    }
    const int nChain = nPre + nCorr;
    for (int k = 0; k < nChain; ++k)
    {
      chain.Set(2 * k, *sections[0][k]);
      chain.Set(2 * k + 1, *sections[1][k]);
    }
    for (int lane = 2 * nChain; lane < kChainLanes; ++lane)
      chain.SetIdentity(lane);
    job.nPre = nPre;
    job.nCorr = nCorr;
  };
  // States back into the sections, from section `from` up to (not including) `to`.
  auto unpackStates = [&](int from, int to) {
    for (int k = from; k < to; ++k)
    {
      sections[0][k]->z1 = chain.z1[2 * k];
      sections[0][k]->z2 = chain.z2[2 * k];
      if (stereo)
      {
        sections[1][k]->z1 = chain.z1[2 * k + 1];
        sections[1][k]->z2 = chain.z2[2 * k + 1];
      }
    }
  };
  auto reloadCoefficients = [&](int k) {
    chain.SetCoefficients(2 * k, *sections[0][k]);
    chain.SetCoefficients(2 * k + 1, *sections[1][k]);
  };

  // The analysis coefficients change only in Prepare. Disabled bands run as silent identity lanes
  // and are never written back.
  const BiquadSection identity;
  auto packAnalysis = [&] {
    for (int q = 0; q < kAnalysisQuads; ++q)
    {
      const int k = 4 * q;
      for (int stage = 0; stage < 2; ++stage)
      {
        auto section = [&](int i) -> const BiquadSection& {
          return k + i >= nBands ? identity : stage == 0 ? analysisStage1[k + i] : analysisStage2[k + i];
        };
        BandPassLanes<Quad>& out = stage == 0 ? analysis[q].stage1 : analysis[q].stage2;
        out.b0 = Quad{section(0).b0, section(1).b0, section(2).b0, section(3).b0};
        out.na1 = -Quad{section(0).a1, section(1).a1, section(2).a1, section(3).a1};
        out.na2 = -Quad{section(0).a2, section(1).a2, section(2).a2, section(3).a2};
        out.z1 = Quad{section(0).z1, section(1).z1, section(2).z1, section(3).z1};
        out.z2 = Quad{section(0).z2, section(1).z2, section(2).z2, section(3).z2};
      }
      auto power = [&](int i) { return k + i < nBands ? bandPower[k + i] : 0.0; };
      analysis[q].power = Quad{power(0), power(1), power(2), power(3)};
    }
  };
  packChain();
  packAnalysis();

  int start = 0;
  while (start < nFrames)
  {
    const int len = std::min(nFrames - start, std::max(1, kControlInterval - sampleCounter));
    job.len = len;
    {
      const T* in0 = inputs[0] + start;
      const T* in1 = inputs[other] + start;
      for (int t = 0; t < len; ++t)
        frames[t] = Lanes{static_cast<double>(in0[t]), stereo ? static_cast<double>(in1[t]) : 0.0};
    }

    runChunk(job);

    // The control step reads the band powers; the analysis states go back once at the end.
    for (int k = 0; k < nBands; ++k)
      bandPower[k] = analysis[k / 4].power[k % 4];

    // Output gain, one glide step per frame, applied after the correction.
    if (outputGain == outputGainTarget)
    {
      const double gain = outputGain;
      if (gain != 1.0)
        for (int t = 0; t < len; ++t)
          frames[t] *= gain;
    }
    else
      for (int t = 0; t < len; ++t)
      {
        GlideOutputGain(outputGain, outputGainTarget, outputGainCoef);
        if (outputGain != 1.0)
          frames[t] *= outputGain;
      }
    {
      T* out0 = outputs[0] + start;
      T* out1 = outputs[other] + start;
      for (int t = 0; t < len; ++t)
        out0[t] = static_cast<T>(frames[t][0]);
      if (stereo)
        for (int t = 0; t < len; ++t)
          out1[t] = static_cast<T>(frames[t][1]);
    }

    start += len;
    sampleCounter += len;
    if (sampleCounter >= kControlInterval)
    {
      sampleCounter = 0;
      filterStatesCleared = false;
      preSectionsRedesigned = false;
      control.correctionRedesigned = 0;
      const bool eqWasActive = eqActive, preEqWasActive = preEqActive;
      ControlStep();
      if (filterStatesCleared)
      {
        // Every state is zero now, the sections' included.
        packChain();
        packAnalysis();
      }
      else if (eqActive != eqWasActive || preEqActive != preEqWasActive)
      {
        // The chain changes shape. A part that left it was cleared by the step; the rest carries on.
        const int nCut = nPre - (preEqWasActive ? kNumPreEqBands : 0);
        unpackStates(0, nCut);
        if (preEqWasActive && preEqActive)
          unpackStates(nCut, nPre);
        if (eqWasActive && eqActive)
          unpackStates(nPre, nPre + nCorr);
        packChain();
      }
      else
      {
        if (preSectionsRedesigned)
          for (int k = 0; k < nPre; ++k)
            reloadCoefficients(k);
        for (std::uint32_t bits = control.correctionRedesigned; bits != 0; bits &= bits - 1)
        {
          const int k = __builtin_ctz(bits);
          if (k < nCorr)
            reloadCoefficients(nPre + k);
        }
      }
    }
  }
  unpackStates(0, nPre + nCorr);
  for (int k = 0; k < nBands; ++k)
  {
    const AnalysisQuad& q = analysis[k / 4];
    const int lane = k % 4;
    analysisStage1[k].z1 = q.stage1.z1[lane];
    analysisStage1[k].z2 = q.stage1.z2[lane];
    analysisStage2[k].z1 = q.stage2.z1[lane];
    analysisStage2[k].z2 = q.stage2.z2[lane];
  }
}

} // namespace morvellan

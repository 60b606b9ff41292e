#include "ToneEngine.h"

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

template <typename V>
struct VecSection
{
  V b0, b1, b2, a1, a2, z1, z2;
};
using LaneSection = VecSection<Lanes>;
using QuadSection = VecSection<Quad>;

struct AnalysisQuad
{
  QuadSection stage1, stage2;
  Quad power;
};

constexpr int kAnalysisQuads = kNumBands / 4;

// Everything one chunk of frames (up to the next control step) needs, gathered from the engine.
struct ChunkJob
{
  Lanes* frames;
  Lanes* tap; // scratch for the pre-filtered frames when the wavefront kernel runs
  int len;
  int n;
  double inv;
  LaneSection* pre;
  int nPre;
  AnalysisQuad* analysis;
  double* inputPower;
  double inputPowerCoef;
  double bandPowerCoef;
  LaneSection* corr;
  int nCorr;
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
  static MV_INLINE void Join(const Lanes* p, V& out)
  {
    const Half a = __builtin_shufflevector(p[0], p[1], 0, 1, 2, 3);
    const Half b = __builtin_shufflevector(p[2], p[3], 0, 1, 2, 3);
    out = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
  }
  static MV_INLINE void Split(const V& v, Lanes* p)
  {
    p[0] = __builtin_shufflevector(v, v, 0, 1);
    p[1] = __builtin_shufflevector(v, v, 2, 3);
    p[2] = __builtin_shufflevector(v, v, 4, 5);
    p[3] = __builtin_shufflevector(v, v, 6, 7);
  }
};

constexpr int kMaxChain = kNumPreEqBands + 2 + kNumBands;

using Eight = Wide<8>::V;

MV_INLINE void Join(const Quad& a, const Quad& b, Eight& out) { out = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7); }

MV_INLINE void Split(const Eight& v, Quad& a, Quad& b)
{
  a = __builtin_shufflevector(v, v, 0, 1, 2, 3);
  b = __builtin_shufflevector(v, v, 4, 5, 6, 7);
}

MV_INLINE void Join(const QuadSection& a, const QuadSection& b, VecSection<Eight>& out)
{
  Join(a.b0, b.b0, out.b0);
  Join(a.b1, b.b1, out.b1);
  Join(a.b2, b.b2, out.b2);
  Join(a.a1, b.a1, out.a1);
  Join(a.a2, b.a2, out.a2);
  Join(a.z1, b.z1, out.z1);
  Join(a.z2, b.z2, out.z2);
}

// masks[from][to]: all bits set in the lane pairs of sections from..to-1 of one vector.
template <int W>
struct WorkingLanes
{
  alignas(64) long long masks[W / 2 + 1][W / 2 + 1][W];
};

template <int W>
constexpr WorkingLanes<W> MakeWorkingLanes()
{
  WorkingLanes<W> t{};
  for (int from = 0; from <= W / 2; ++from)
    for (int to = 0; to <= W / 2; ++to)
      for (int lane = 0; lane < W; ++lane)
        t.masks[from][to][lane] = (lane / 2 >= from && lane / 2 < to) ? -1ll : 0ll;
  return t;
}

template <int W>
constexpr WorkingLanes<W> kWorkingLanes = MakeWorkingLanes<W>();

namespace baseline {
#define MV_KERNEL_FMA 0
#include "ChunkKernels.inl"
#undef MV_KERNEL_FMA
} // namespace baseline

#pragma GCC push_options
#pragma GCC target("avx2,fma")
namespace avx2 {
#define MV_KERNEL_FMA 1
#include "ChunkKernels.inl"
#undef MV_KERNEL_FMA
} // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f,avx512vl,fma")
namespace avx512 {
#define MV_KERNEL_FMA 2
#include "ChunkKernels.inl"
#undef MV_KERNEL_FMA
} // namespace avx512
#pragma GCC pop_options

void RunChunkBaseline(const ChunkJob& job) { baseline::RunChunk<3, 2>(job); }

__attribute__((target("avx2,fma"))) void RunChunkAvx2(const ChunkJob& job) { avx2::RunChunk<3, 2>(job); }

// AVX-512 brings 32 vector registers, so larger groups stay in registers.
__attribute__((target("avx512f,avx512vl,fma"))) void RunChunkAvx512(const ChunkJob& job) { avx512::RunChunk<6, 8>(job); }

using ChunkKernel = void (*)(const ChunkJob&);

bool Supported(ToneEngine::Kernel kernel)
{
  __builtin_cpu_init();
  switch (kernel)
  {
  case ToneEngine::Kernel::kBlockedAvx512:
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("fma");
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

MV_INLINE LaneSection Pack(const BiquadSection& s0, const BiquadSection& s1)
{
  return {Lanes{s0.b0, s1.b0}, Lanes{s0.b1, s1.b1}, Lanes{s0.b2, s1.b2}, Lanes{s0.a1, s1.a1},
          Lanes{s0.a2, s1.a2}, Lanes{s0.z1, s1.z1}, Lanes{s0.z2, s1.z2}};
}

MV_INLINE void UnpackState(const LaneSection& l, BiquadSection& s0, BiquadSection* s1)
{
  s0.z1 = l.z1[0];
  s0.z2 = l.z2[0];
  if (s1)
  {
    s1->z1 = l.z1[1];
    s1->z2 = l.z2[1];
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
    inputPower += (sumSq * inv - inputPower) * inputPowerCoef;
    for (int k = 0; k < kNumBands; ++k)
    {
      if (!bandEnabled[k])
        continue;
      const double y = analysisStage2[k].Process(analysisStage1[k].Process(mono));
      bandPower[k] = std::fma(std::fma(y, y, -bandPower[k]), bandPowerCoef, bandPower[k]);
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
// the analysis bands four at a time.
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
  Lanes tap[kControlInterval];
  // Pre-filters and correction in one chain, as the wavefront kernel runs them.
  LaneSection chain[kMaxChain];
  LaneSection* const pre = chain;
  AnalysisQuad analysis[kAnalysisQuads];
  BiquadSection* pre0[kNumPreEqBands + 2];
  BiquadSection* pre1[kNumPreEqBands + 2];

  ChunkJob job{};
  job.frames = frames;
  job.tap = tap;
  job.n = n;
  job.inv = 1.0 / n;
  job.pre = pre;
  job.analysis = analysis;
  job.inputPower = &inputPower;
  job.inputPowerCoef = inputPowerCoef;
  job.bandPowerCoef = bandPowerCoef;

  // The analysis coefficients change only in Prepare: pack them, with the states, once per call.
  // Disabled bands run as silent identity lanes and are never written back.
  const BiquadSection identity;
  auto stage1 = [&](int k) -> const BiquadSection& { return k < nBands ? analysisStage1[k] : identity; };
  auto stage2 = [&](int k) -> const BiquadSection& { return k < nBands ? analysisStage2[k] : identity; };
  auto packAnalysis = [&] {
    for (int q = 0; q < kAnalysisQuads; ++q)
    {
      const int k = 4 * q;
      for (int stage = 0; stage < 2; ++stage)
      {
        auto section = [&](int i) -> const BiquadSection& { return stage == 0 ? stage1(k + i) : stage2(k + i); };
        QuadSection& out = stage == 0 ? analysis[q].stage1 : analysis[q].stage2;
        out.b0 = Quad{section(0).b0, section(1).b0, section(2).b0, section(3).b0};
        out.b1 = Quad{section(0).b1, section(1).b1, section(2).b1, section(3).b1};
        out.b2 = Quad{section(0).b2, section(1).b2, section(2).b2, section(3).b2};
        out.a1 = Quad{section(0).a1, section(1).a1, section(2).a1, section(3).a1};
        out.a2 = Quad{section(0).a2, section(1).a2, section(2).a2, section(3).a2};
        out.z1 = Quad{section(0).z1, section(1).z1, section(2).z1, section(3).z1};
        out.z2 = Quad{section(0).z2, section(1).z2, section(2).z2, section(3).z2};
      }
      auto power = [&](int i) { return k + i < nBands ? bandPower[k + i] : 0.0; };
      analysis[q].power = Quad{power(0), power(1), power(2), power(3)};
    }
  };
  packAnalysis();

  int start = 0;
  while (start < nFrames)
  {
    const int len = std::min(nFrames - start, std::max(1, kControlInterval - sampleCounter));
    job.len = len;
    for (int t = 0; t < len; ++t)
      frames[t] = Lanes{static_cast<double>(inputs[0][start + t]),
                        stereo ? static_cast<double>(inputs[1][start + t]) : 0.0};

    int nPre = 0;
    if (settings.hpOn)
    {
      pre0[nPre] = &highPass[0];
      pre1[nPre++] = &highPass[other];
    }
    if (settings.lpOn)
    {
      pre0[nPre] = &lowPass[0];
      pre1[nPre++] = &lowPass[other];
    }
    if (preEqActive)
      for (int k = 0; k < kNumPreEqBands; ++k)
      {
        pre0[nPre] = &preEq[0][k];
        pre1[nPre++] = &preEq[other][k];
      }
    for (int k = 0; k < nPre; ++k)
      pre[k] = Pack(*pre0[k], *pre1[k]);
    job.nPre = nPre;

    const int nCorr = eqActive ? nBands : 0;
    LaneSection* const corr = chain + nPre;
    job.corr = corr;
    for (int k = 0; k < nCorr; ++k)
      corr[k] = Pack(correction[0][k], correction[other][k]);
    job.nCorr = nCorr;

    runChunk(job);

    for (int k = 0; k < nPre; ++k)
      UnpackState(pre[k], *pre0[k], stereo ? pre1[k] : nullptr);
    // The control step reads the band powers; the analysis states go back once at the end.
    for (int k = 0; k < nBands; ++k)
      bandPower[k] = analysis[k / 4].power[k % 4];
    for (int k = 0; k < nCorr; ++k)
      UnpackState(corr[k], correction[0][k], stereo ? &correction[1][k] : nullptr);

    // Output gain, one glide step per frame, applied after the correction.
    for (int t = 0; t < len; ++t)
    {
      GlideOutputGain(outputGain, outputGainTarget, outputGainCoef);
      const double gain = outputGain;
      for (int c = 0; c < n; ++c)
      {
        double y = frames[t][c];
        if (gain != 1.0)
          y = y * gain;
        outputs[c][start + t] = static_cast<T>(y);
      }
    }

    start += len;
    sampleCounter += len;
    if (sampleCounter >= kControlInterval)
    {
      sampleCounter = 0;
      filterStatesCleared = false;
      ControlStep();
      if (filterStatesCleared)
        packAnalysis();
    }
  }
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

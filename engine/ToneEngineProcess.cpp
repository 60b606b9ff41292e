#include "ToneEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace morvellan {

namespace {

// Lane vectors: the two channels side by side, or four analysis bands. Lane arithmetic is plain IEEE
// double arithmetic with no fused multiply-add, so every value comes out exactly as the
// one-sample-at-a-time code computes it, whatever instruction set runs it.
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

// The same three lines as BiquadSection::Process, on vectors; x becomes the output.
template <typename V>
MV_INLINE void Run(VecSection<V>& s, V& x)
{
  const V y = s.b0 * x + s.z1;
  s.z1 = s.b1 * x - s.a1 * y + s.z2;
  s.z2 = s.b2 * x - s.a2 * y;
  x = y;
}

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

// G sections over the chunk, frame by frame: the group's state stays in registers while its
// sections overlap one another in the pipeline.
template <int G>
MV_INLINE void CascadeGroup(LaneSection* sections, Lanes* data, int len)
{
  LaneSection s[G];
  for (int k = 0; k < G; ++k)
    s[k] = sections[k];
  for (int t = 0; t < len; ++t)
  {
    Lanes x = data[t];
#pragma GCC unroll 8
    for (int k = 0; k < G; ++k)
      Run(s[k], x);
    data[t] = x;
  }
  for (int k = 0; k < G; ++k)
    sections[k] = s[k];
}

template <int G>
MV_INLINE void Cascade(LaneSection* sections, int n, Lanes* data, int len)
{
  int k = 0;
  for (; k + G <= n; k += G)
    CascadeGroup<G>(sections + k, data, len);
  if constexpr (G > 1)
    if (n > k)
      Cascade<G - 1>(sections + k, n - k, data, len);
}

// Mono mix, input power average and the 12-band analysis bank, four bands per vector.
MV_INLINE void AnalysisQuads(const ChunkJob& job, const Lanes* frames)
{
  AnalysisQuad a[kAnalysisQuads];
  for (int q = 0; q < kAnalysisQuads; ++q)
    a[q] = job.analysis[q];
  double power = *job.inputPower;
  const Quad coef = {job.bandPowerCoef, job.bandPowerCoef, job.bandPowerCoef, job.bandPowerCoef};
  for (int t = 0; t < job.len; ++t)
  {
    const double x0 = frames[t][0];
    double sum = x0;
    double sumSq = x0 * x0;
    if (job.n == 2)
    {
      const double x1 = frames[t][1];
      sum += x1;
      sumSq += x1 * x1;
    }
    const double m = sum * job.inv;
    power += (sumSq * job.inv - power) * job.inputPowerCoef;
#pragma GCC unroll 3
    for (int q = 0; q < kAnalysisQuads; ++q)
    {
      Quad y = {m, m, m, m};
      Run(a[q].stage1, y);
      Run(a[q].stage2, y);
      a[q].power += (y * y - a[q].power) * coef;
    }
  }
  *job.inputPower = power;
  for (int q = 0; q < kAnalysisQuads; ++q)
    job.analysis[q] = a[q];
}

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

// The analysis bank with bands 0..7 in one eight-lane vector and 8..11 in a four-lane one.
MV_INLINE void AnalysisEight(const ChunkJob& job, const Lanes* frames)
{
  VecSection<Eight> low1, low2;
  Eight lowPower;
  Join(job.analysis[0].stage1, job.analysis[1].stage1, low1);
  Join(job.analysis[0].stage2, job.analysis[1].stage2, low2);
  Join(job.analysis[0].power, job.analysis[1].power, lowPower);
  AnalysisQuad high = job.analysis[2];
  double power = *job.inputPower;
  const double c = job.bandPowerCoef;
  const Quad coef4 = {c, c, c, c};
  const Eight coef8 = {c, c, c, c, c, c, c, c};
  for (int t = 0; t < job.len; ++t)
  {
    const double x0 = frames[t][0];
    double sum = x0;
    double sumSq = x0 * x0;
    if (job.n == 2)
    {
      const double x1 = frames[t][1];
      sum += x1;
      sumSq += x1 * x1;
    }
    const double m = sum * job.inv;
    power += (sumSq * job.inv - power) * job.inputPowerCoef;
    Eight y8 = {m, m, m, m, m, m, m, m};
    Run(low1, y8);
    Run(low2, y8);
    lowPower += (y8 * y8 - lowPower) * coef8;
    Quad y4 = {m, m, m, m};
    Run(high.stage1, y4);
    Run(high.stage2, y4);
    high.power += (y4 * y4 - high.power) * coef4;
  }
  *job.inputPower = power;
  Split(low1.z1, job.analysis[0].stage1.z1, job.analysis[1].stage1.z1);
  Split(low1.z2, job.analysis[0].stage1.z2, job.analysis[1].stage1.z2);
  Split(low2.z1, job.analysis[0].stage2.z1, job.analysis[1].stage2.z1);
  Split(low2.z2, job.analysis[0].stage2.z2, job.analysis[1].stage2.z2);
  Split(lowPower, job.analysis[0].power, job.analysis[1].power);
  job.analysis[2] = high;
}

template <int W>
MV_INLINE void Analysis(const ChunkJob& job, const Lanes* frames)
{
  if constexpr (W == 8)
    AnalysisEight(job, frames);
  else
    AnalysisQuads(job, frames);
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

template <int W, int NV>
MV_INLINE void Wavefront(LaneSection* chain, int nChain, int tap, Lanes* frames, Lanes* tapOut, int len)
{
  using V = typename Wide<W>::V;
  using M = typename Wide<W>::M;
  constexpr int kPairs = NV * W / 2; // sections the vectors hold, padding included
  V b0[NV], b1[NV], b2[NV], a1[NV], a2[NV], z1[NV], z2[NV], y[NV];
  {
    // Whole lane pairs only: narrow stores followed by wide loads would stall the pipeline.
    Lanes f[7][kPairs];
    const Lanes one = {1.0, 1.0};
    const Lanes zero = {0.0, 0.0};
    for (int k = 0; k < kPairs; ++k)
    {
      const bool used = k < nChain;
      const LaneSection& sec = chain[used ? k : 0];
      f[0][k] = used ? sec.b0 : one;
      f[1][k] = used ? sec.b1 : zero;
      f[2][k] = used ? sec.b2 : zero;
      f[3][k] = used ? sec.a1 : zero;
      f[4][k] = used ? sec.a2 : zero;
      f[5][k] = used ? sec.z1 : zero;
      f[6][k] = used ? sec.z2 : zero;
    }
    for (int v = 0; v < NV; ++v)
    {
      const int at = v * W / 2;
      Wide<W>::Join(&f[0][at], b0[v]);
      Wide<W>::Join(&f[1][at], b1[v]);
      Wide<W>::Join(&f[2][at], b2[v]);
      Wide<W>::Join(&f[3][at], a1[v]);
      Wide<W>::Join(&f[4][at], a2[v]);
      Wide<W>::Join(&f[5][at], z1[v]);
      Wide<W>::Join(&f[6][at], z2[v]);
      y[v] = V{};
    }
  }
  alignas(64) double outputs[NV * W];
  const int tapLane = 2 * (tap - 1);
  const int lastLane = 2 * (nChain - 1);
  const int steps = len + nChain - 1;
  for (int tau = 0; tau < steps; ++tau)
  {
    V x[NV];
    V in{};
    if (tau < len)
    {
      in[W - 2] = frames[tau][0];
      in[W - 1] = frames[tau][1];
    }
    Wide<W>::Shift(in, y[0], x[0]);
    for (int v = 1; v < NV; ++v)
      Wide<W>::Shift(y[v - 1], y[v], x[v]);
    // Sections tau - len + 1 .. tau have a frame at this step. Vectors wholly outside that range
    // are skipped, wholly inside run plainly, and only a vector at its edge needs a mask.
    const int firstWorking = tau - len + 1;
    for (int v = 0; v < NV; ++v)
    {
      const int lo = v * W / 2;
      const int hi = lo + W / 2 - 1;
      if (lo > tau || hi < firstWorking)
        continue;
      const V yn = b0[v] * x[v] + z1[v];
      const V z1n = b1[v] * x[v] - a1[v] * yn + z2[v];
      const V z2n = b2[v] * x[v] - a2[v] * yn;
      if (lo >= firstWorking && hi <= tau)
      {
        z1[v] = z1n;
        z2[v] = z2n;
      }
      else
      {
        const int from = std::max(firstWorking - lo, 0);
        const int to = std::min(tau - lo + 1, W / 2);
        M works;
        std::memcpy(&works, kWorkingLanes<W>.masks[from][to], sizeof(M));
        z1[v] = (V)(((M)z1n & works) | ((M)z1[v] & ~works));
        z2[v] = (V)(((M)z2n & works) | ((M)z2[v] & ~works));
      }
      y[v] = yn;
      *reinterpret_cast<V*>(outputs + v * W) = yn;
    }
    const int tapFrame = tau - (tap - 1);
    if (tap > 0 && tapFrame >= 0 && tapFrame < len)
      tapOut[tapFrame] = Lanes{outputs[tapLane], outputs[tapLane + 1]};
    const int outFrame = tau - (nChain - 1);
    if (outFrame >= 0)
      frames[outFrame] = Lanes{outputs[lastLane], outputs[lastLane + 1]};
  }
  Lanes state[2][kPairs];
  for (int v = 0; v < NV; ++v)
  {
    Wide<W>::Split(z1[v], &state[0][v * W / 2]);
    Wide<W>::Split(z2[v], &state[1][v * W / 2]);
  }
  for (int k = 0; k < nChain; ++k)
  {
    chain[k].z1 = state[0][k];
    chain[k].z2 = state[1][k];
  }
}

template <int W, int... NVs>
MV_INLINE void WavefrontN(LaneSection* chain, int nChain, int tap, Lanes* frames, Lanes* tapOut, int len,
                          std::integer_sequence<int, NVs...>)
{
  const int nv = (2 * nChain + W - 1) / W;
  ((nv == NVs + 1 ? Wavefront<W, NVs + 1>(chain, nChain, tap, frames, tapOut, len) : void()), ...);
}

// Below this many frames the wavefront spends too long filling and draining.
constexpr int kWavefrontMinFrames = 12;

template <int G, int W>
MV_INLINE void RunChunk(const ChunkJob& job)
{
  const int nChain = job.nPre + job.nCorr;
  if constexpr (W == 8)
  {
    if (job.n == 2 && job.len >= kWavefrontMinFrames && nChain >= 3)
    {
      constexpr int kMaxVectors = (2 * kMaxChain + W - 1) / W;
      const auto counts = std::make_integer_sequence<int, kMaxVectors>{};
      if (job.nPre == 0)
      {
        Analysis<W>(job, job.frames);
        WavefrontN<W>(job.corr, nChain, 0, job.frames, job.tap, job.len, counts);
      }
      else
      {
        WavefrontN<W>(job.pre, nChain, job.nPre, job.frames, job.tap, job.len, counts);
        Analysis<W>(job, job.tap);
      }
      return;
    }
  }
  Cascade<G>(job.pre, job.nPre, job.frames, job.len);
  Analysis<W>(job, job.frames);
  Cascade<G>(job.corr, job.nCorr, job.frames, job.len);
}

void RunChunkBaseline(const ChunkJob& job) { RunChunk<3, 2>(job); }

__attribute__((target("avx2"))) void RunChunkAvx2(const ChunkJob& job) { RunChunk<3, 2>(job); }

// AVX-512 brings 32 vector registers, so larger groups stay in registers.
__attribute__((target("avx512f,avx512vl"))) void RunChunkAvx512(const ChunkJob& job) { RunChunk<6, 8>(job); }

using ChunkKernel = void (*)(const ChunkJob&);

bool Supported(ToneEngine::Kernel kernel)
{
  __builtin_cpu_init();
  switch (kernel)
  {
  case ToneEngine::Kernel::kBlockedAvx512:
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  case ToneEngine::Kernel::kBlockedAvx2:
    return __builtin_cpu_supports("avx2");
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
      bandPower[k] += (y * y - bandPower[k]) * bandPowerCoef;
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

#include "ToneEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace morvellan {

namespace {

// Two doubles side by side: the two channels, or two analysis bands. Lane arithmetic is plain IEEE
// double arithmetic, so every value comes out exactly as the one-sample-at-a-time code computes it.
using Lanes = double __attribute__((vector_size(16)));

struct LaneSection
{
  Lanes b0, b1, b2, a1, a2, z1, z2;
};

inline Lanes Splat(double v) { return Lanes{v, v}; }

inline LaneSection Pack(const BiquadSection& s0, const BiquadSection& s1)
{
  return {Lanes{s0.b0, s1.b0}, Lanes{s0.b1, s1.b1}, Lanes{s0.b2, s1.b2}, Lanes{s0.a1, s1.a1},
          Lanes{s0.a2, s1.a2}, Lanes{s0.z1, s1.z1}, Lanes{s0.z2, s1.z2}};
}

inline void UnpackState(const LaneSection& l, BiquadSection& s0, BiquadSection* s1)
{
  s0.z1 = l.z1[0];
  s0.z2 = l.z2[0];
  if (s1)
  {
    s1->z1 = l.z1[1];
    s1->z2 = l.z2[1];
  }
}

// The same three lines as BiquadSection::Process, on two lanes.
inline Lanes Run(LaneSection& s, Lanes x)
{
  const Lanes y = s.b0 * x + s.z1;
  s.z1 = s.b1 * x - s.a1 * y + s.z2;
  s.z2 = s.b2 * x - s.a2 * y;
  return y;
}

// A cascade of N sections over a chunk of frames, frame by frame so that the sections of
// neighbouring frames overlap in the pipeline.
template <int N>
void RunCascade(LaneSection* sections, Lanes* data, int len)
{
  if constexpr (N > 0)
  {
    LaneSection s[N];
    for (int k = 0; k < N; ++k)
      s[k] = sections[k];
    for (int t = 0; t < len; ++t)
    {
      Lanes x = data[t];
#pragma GCC unroll 18
      for (int k = 0; k < N; ++k)
        x = Run(s[k], x);
      data[t] = x;
    }
    for (int k = 0; k < N; ++k)
      sections[k] = s[k];
  }
}

template <int... Ns>
void RunCascadeN(int n, LaneSection* sections, Lanes* data, int len, std::integer_sequence<int, Ns...>)
{
  ((n == Ns ? RunCascade<Ns>(sections, data, len) : void()), ...);
}

constexpr int kMaxCascade = kNumPreEqBands + 2 > kNumBands ? kNumPreEqBands + 2 : kNumBands;

void RunCascade(int n, LaneSection* sections, Lanes* data, int len)
{
  RunCascadeN(n, sections, data, len, std::make_integer_sequence<int, kMaxCascade + 1>{});
}

struct AnalysisLanes
{
  LaneSection stage1, stage2;
  Lanes power;
};

// The analysis bank on the mono mix, two bands per lane pair; also keeps the input power average.
template <int Pairs>
void RunAnalysis(AnalysisLanes* pairs, const Lanes* frames, int len, int n, double inv, double& inputPower,
                 double inputPowerCoef, Lanes bandPowerCoef, double* mono)
{
  AnalysisLanes a[Pairs > 0 ? Pairs : 1];
  for (int p = 0; p < Pairs; ++p)
    a[p] = pairs[p];
  double power = inputPower;
  for (int t = 0; t < len; ++t)
  {
    const double x0 = frames[t][0];
    double sum = x0;
    double sumSq = x0 * x0;
    if (n == 2)
    {
      const double x1 = frames[t][1];
      sum += x1;
      sumSq += x1 * x1;
    }
    const double m = sum * inv;
    power += (sumSq * inv - power) * inputPowerCoef;
    mono[t] = m;
    const Lanes x = Splat(m);
#pragma GCC unroll 6
    for (int p = 0; p < Pairs; ++p)
    {
      const Lanes y = Run(a[p].stage2, Run(a[p].stage1, x));
      a[p].power += (y * y - a[p].power) * bandPowerCoef;
    }
  }
  inputPower = power;
  for (int p = 0; p < Pairs; ++p)
    pairs[p] = a[p];
}

template <int... Ps>
void RunAnalysisN(int pairsCount, AnalysisLanes* pairs, const Lanes* frames, int len, int n, double inv,
                  double& inputPower, double inputPowerCoef, Lanes bandPowerCoef, double* mono,
                  std::integer_sequence<int, Ps...>)
{
  ((pairsCount == Ps ? RunAnalysis<Ps>(pairs, frames, len, n, inv, inputPower, inputPowerCoef, bandPowerCoef, mono)
                     : void()),
   ...);
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
    if (outputGain != outputGainTarget)
    {
      outputGain += (outputGainTarget - outputGain) * outputGainCoef;
      if (std::fabs(outputGain - outputGainTarget) < 1e-6)
        outputGain = outputGainTarget;
    }
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
// the analysis bands in pairs.
template <typename T>
void ToneEngine::ProcessBlocked(const T* const* inputs, T* const* outputs, int n, int nFrames)
{
  const double inv = 1.0 / n;
  const bool stereo = n == 2;
  // Bands are enabled from the lowest up, so the enabled ones are a prefix.
  int nBands = 0;
  while (nBands < kNumBands && bandEnabled[nBands])
    ++nBands;

  Lanes frames[kControlInterval];
  double mono[kControlInterval];
  double gains[kControlInterval];
  LaneSection cascade[kMaxCascade];
  AnalysisLanes pairs[kNumBands / 2];

  int start = 0;
  while (start < nFrames)
  {
    const int len = std::min(nFrames - start, std::max(1, kControlInterval - sampleCounter));

    for (int t = 0; t < len; ++t)
      frames[t] = Lanes{static_cast<double>(inputs[0][start + t]),
                        stereo ? static_cast<double>(inputs[1][start + t]) : 0.0};

    // Pre-filters.
    BiquadSection* pre0[kNumPreEqBands + 2];
    BiquadSection* pre1[kNumPreEqBands + 2];
    int nPre = 0;
    const int other = stereo ? 1 : 0;
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
      cascade[k] = Pack(*pre0[k], *pre1[k]);
    RunCascade(nPre, cascade, frames, len);
    for (int k = 0; k < nPre; ++k)
      UnpackState(cascade[k], *pre0[k], stereo ? pre1[k] : nullptr);

    // Analysis of the mono mix.
    const int nPairs = nBands / 2;
    for (int p = 0; p < nPairs; ++p)
    {
      const int k = 2 * p;
      pairs[p].stage1 = Pack(analysisStage1[k], analysisStage1[k + 1]);
      pairs[p].stage2 = Pack(analysisStage2[k], analysisStage2[k + 1]);
      pairs[p].power = Lanes{bandPower[k], bandPower[k + 1]};
    }
    RunAnalysisN(nPairs, pairs, frames, len, n, inv, inputPower, inputPowerCoef, Splat(bandPowerCoef), mono,
                 std::make_integer_sequence<int, kNumBands / 2 + 1>{});
    for (int p = 0; p < nPairs; ++p)
    {
      const int k = 2 * p;
      UnpackState(pairs[p].stage1, analysisStage1[k], &analysisStage1[k + 1]);
      UnpackState(pairs[p].stage2, analysisStage2[k], &analysisStage2[k + 1]);
      bandPower[k] = pairs[p].power[0];
      bandPower[k + 1] = pairs[p].power[1];
    }
    if (nBands % 2)
    {
      const int k = nBands - 1;
      BiquadSection& s1 = analysisStage1[k];
      BiquadSection& s2 = analysisStage2[k];
      double power = bandPower[k];
      for (int t = 0; t < len; ++t)
      {
        const double y = s2.Process(s1.Process(mono[t]));
        power += (y * y - power) * bandPowerCoef;
      }
      bandPower[k] = power;
    }

    // Output gain, one glide step per frame.
    for (int t = 0; t < len; ++t)
    {
      if (outputGain != outputGainTarget)
      {
        outputGain += (outputGainTarget - outputGain) * outputGainCoef;
        if (std::fabs(outputGain - outputGainTarget) < 1e-6)
          outputGain = outputGainTarget;
      }
      gains[t] = outputGain;
    }

    // Correction.
    if (eqActive)
    {
      for (int k = 0; k < nBands; ++k)
        cascade[k] = Pack(correction[0][k], correction[other][k]);
      RunCascade(nBands, cascade, frames, len);
      for (int k = 0; k < nBands; ++k)
        UnpackState(cascade[k], correction[0][k], stereo ? &correction[1][k] : nullptr);
    }

    for (int c = 0; c < n; ++c)
    {
      T* out = outputs[c] + start;
      for (int t = 0; t < len; ++t)
      {
        double y = frames[t][c];
        if (gains[t] != 1.0)
          y = y * gains[t];
        out[t] = static_cast<T>(y);
      }
    }

    start += len;
    sampleCounter += len;
    if (sampleCounter >= kControlInterval)
    {
      sampleCounter = 0;
      ControlStep();
    }
  }
}

} // namespace morvellan

#include "ExactToneEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace morvellan::exact {

namespace {

// One glide step per frame towards the output gain's target; it lands exactly once close enough.
inline void GlideOutputGain(double& gain, double target, double coef)
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
  ProcessPlain(inputs, outputs, n, nFrames);
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

} // namespace morvellan::exact

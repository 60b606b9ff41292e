#pragma once

// The audio path's per-sample loops, compiled for each instruction set; the widest the processor
// has is chosen when the module loads.
namespace iplug::kernels
{

// The largest |x| of a span and its sum of x^2 (RMS) or of |x|.
struct Levels
{
  double peak;
  double sum;
};

// Measures frames [offset, offset + nFrames) of the mean of nChans channels: one channel as it
// is, several summed in channel order and divided by their number; a null channel is silence.
// NaN never becomes the peak.
Levels MeasureSpan(const double* const* channels, int nChans, int offset, int nFrames, bool rms);

// n samples, each converted as static_cast does. The buffers must not overlap.
void Convert(const float* in, double* out, int n);
void Convert(const double* in, float* out, int n);

} // namespace iplug::kernels

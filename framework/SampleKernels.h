#pragma once

#include <limits>

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
// NaN never becomes the peak, but one NaN, infinity or huge value makes the sum or the peak
// unusable: see Measurable.
Levels MeasureSpan(const double* const* channels, int nChans, int offset, int nFrames, bool rms);

// The largest |x| a screened span measures: its square, summed over any span an int can count,
// stays finite.
inline constexpr double kMeasurable = 0x1p480;

// Whether a span's levels are fit to keep: false when a sample in it was no number, infinite or
// beyond kMeasurable. The fast loops do not look for such samples; their sum and peak give them away.
inline bool Measurable(const Levels& levels)
{
  return levels.peak <= kMeasurable && levels.sum <= std::numeric_limits<double>::max();
}

// MeasureSpan with each such frame counted as silence: for the rare span that is not Measurable.
Levels MeasureSpanScreened(const double* const* channels, int nChans, int offset, int nFrames, bool rms);

// n samples, each converted as static_cast does. The buffers must not overlap.
void Convert(const float* in, double* out, int n);
void Convert(const double* in, float* out, int n);

} // namespace iplug::kernels

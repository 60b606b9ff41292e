#pragma once

namespace iplug::meterspans
{

// The largest |x| of a span and its sum of x^2 (RMS) or of |x|.
struct Levels
{
  double peak;
  double sum;
};

// Measures frames [offset, offset + nFrames) of the mean of nChans channels: one channel as it
// is, several summed in channel order and divided by their number; a null channel is silence.
// Vectors of the widest instruction set the processor has; NaN never becomes the peak.
Levels Measure(const double* const* channels, int nChans, int offset, int nFrames, bool rms);

} // namespace iplug::meterspans

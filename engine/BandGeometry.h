#pragma once

#include <array>

namespace morvellan {

constexpr int kNumBands = 12;

// 100 Hz · 2^(2k/3), rounded to two decimals; band index k runs 0..11 everywhere.
constexpr std::array<double, kNumBands> kBandCentresHz = {100.0,   158.74,  251.98,  400.0,   634.96, 1007.94,
                                                         1600.0,  2539.84, 4031.75, 6400.0, 10159.4, 16127.0};
// The largest correction any band may apply, in either direction.
constexpr double kMaxBandGainDb = 24.0;

// Bands 2..8 (251.98 Hz to 4031.75 Hz) form the reference level of every balance.
constexpr int kFirstMiddleBand = 2;
constexpr int kLastMiddleBand = 8;
inline bool IsMiddleBand(int band) { return band >= kFirstMiddleBand && band <= kLastMiddleBand; }

// Two-thirds-octave Q shared by the analysis band-passes and the correction peaks.
extern const double kBandQ;

// A level per band in dB, relative to the mean of the enabled middle bands; 0 for a disabled band.
using BandBalance = std::array<double, kNumBands>;

// A band is analysed and corrected only while its centre sits clearly below Nyquist.
inline bool IsBandEnabled(int band, double sampleRate) { return 0.45 * sampleRate > kBandCentresHz[band]; }

// Weight 0..1 of a frequency against the range between two edges given in either order:
// 1 inside, a raised cosine over one third of an octave beyond each edge, 0 further out.
double RangeTaper(double freqHz, double edgeA, double edgeB);

} // namespace morvellan

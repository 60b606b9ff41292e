#pragma once
// Test signals and the host's own band-level analysis.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mvhost {

// Deinterleaved audio, one vector per channel.
struct Audio {
    double sampleRate = 48000.0;
    std::vector<std::vector<double>> channels;

    std::size_t Frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

inline constexpr std::size_t kNumBands = 12;
// Two thirds of an octave apart, from 100 Hz.
inline constexpr std::array<double, kNumBands> kBandCentresHz = {
    100.0, 158.74, 251.98, 400.0, 634.96, 1007.94,
    1600.0, 2539.84, 4031.75, 6400.0, 10159.4, 16127.0};

// Pink noise (equal energy per octave), one independent stream per channel,
// at -20 dBFS RMS.
Audio MakePinkNoise(double sampleRate, double seconds, int channels, std::uint32_t seed);

// Pink noise with a strong bass tilt: a further 3 dB per octave falling
// towards the top, so the 100 Hz band sits some 22 dB above the 16 kHz one.
Audio MakeTiltedNoise(double sampleRate, double seconds, int channels, std::uint32_t seed);

// Level in dB (mean power over the channels, 0 dB = full-scale square wave)
// of each analysis band over frames [begin, end). A band whose centre lies
// too close to Nyquist reads as NaN.
std::array<double, kNumBands> MeasureBandLevels(const Audio& audio, std::size_t begin,
                                                std::size_t end);

} // namespace mvhost

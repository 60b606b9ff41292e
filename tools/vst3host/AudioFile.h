#pragma once
// Reading and writing audio files through libsndfile.

#include "Signal.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace mvhost {

// Longest audio the host takes in, in frames (over eleven minutes at 48 kHz);
// the whole of it is held in memory several times over.
inline constexpr std::int64_t kMaxAudioFrames = std::int64_t{1} << 25;

// Any format libsndfile reads; false with a reason on failure.
bool ReadAudioFile(const std::filesystem::path& path, Audio& audio, std::string& error);

// A WAV file of 32-bit floats (64-bit when asked).
bool WriteWavFile(const std::filesystem::path& path, const Audio& audio, bool doubles,
                  std::string& error);

} // namespace mvhost

#pragma once
// Reading and writing audio files through libsndfile.

#include "Signal.h"

#include <filesystem>
#include <string>

namespace mvhost {

// Any format libsndfile reads; false with a reason on failure.
bool ReadAudioFile(const std::filesystem::path& path, Audio& audio, std::string& error);

// A WAV file of 32-bit floats (64-bit when asked).
bool WriteWavFile(const std::filesystem::path& path, const Audio& audio, bool doubles,
                  std::string& error);

} // namespace mvhost

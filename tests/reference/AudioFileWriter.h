#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Test audio written by libsndfile, so expected values never come from the reader under test.

namespace morvellan::testing {

// A fresh folder per test, removed with everything in it.
class ScratchFolder
{
public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string Path(const std::string& name) const { return (mRoot / name).string(); }

private:
  std::filesystem::path mRoot;
};

// `format` is a libsndfile format word such as SF_FORMAT_WAV | SF_FORMAT_PCM_16.
// `frameAt` fills one interleaved frame of `channels` samples for frame index t.
void WriteSoundFile(const std::string& path, int format, int sampleRate, int channels, std::uint64_t frames,
                    const std::function<void(std::uint64_t t, float* frame)>& frameAt);

void WriteSoundFile(const std::string& path, int format, int sampleRate, int channels,
                    const std::vector<float>& interleaved);

// 16-bit integers go in unscaled, so a lossless file holds exactly k / 32768 when read as float.
void WriteSoundFile16(const std::string& path, int format, int sampleRate, int channels,
                      const std::vector<std::int16_t>& interleaved);

// FLAC in an Ogg container (libsndfile cannot write one), written by libFLAC's own encoder.
void WriteOggFlac16(const std::string& path, int sampleRate, int channels, const std::vector<std::int16_t>& interleaved);

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

// Pink noise from a fixed seed (Paul Kellet's filter on white noise), peak about 0.5.
std::vector<float> PinkNoise(std::uint64_t frames, std::uint32_t seed);

} // namespace morvellan::testing

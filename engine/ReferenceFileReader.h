#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Reads a reference recording into one mono stream of floats. Runs on the learning worker only.

namespace morvellan {

// Lets another thread read a decode while it runs: while an AudioData names one, every change to
// its samples is made under `lock`, and `arrived` is told each time they pass a multiple of
// kStretch (rarely, so the decoder seldom waits for the lock).
struct DecodeFollower
{
  static constexpr std::size_t kStretch = 65536;
  std::mutex lock;
  std::condition_variable arrived;
};

struct AudioData
{
  std::vector<float> samples; // mono, in file order
  double sampleRate = 0.0;    // 0 until a decoder reported one, always before the first sample
  int channels = 0;
  DecodeFollower* follower = nullptr;
};

constexpr int kReadBlockFrames = 4096;
constexpr double kReferenceMaxSeconds = 480.0;

// What no real recording holds: headers outside these are refused rather than trusted.
constexpr int kReferenceMinSampleRate = 1000;
constexpr int kReferenceMaxSampleRate = 768000;
constexpr int kReferenceMaxChannels = 256;
// The mono buffer never holds more than this, whatever rate the header claims (480 s at 192 kHz, 368 MB).
constexpr std::uint64_t kReferenceMaxSamples = 480ull * 192000ull;

// True with `out` filled, or false with `error` set. Only an allocation failure throws.
bool LoadAudioFile(const std::string& pathUtf8, AudioData& out, std::string& error, double maxSeconds);

// The three decoders, each refusing a file whose contents are not of its own kind.
// True when at least one sample was read.
bool ReadWavFile(const std::string& pathUtf8, AudioData& out, double maxSeconds);
bool ReadMp3File(const std::string& pathUtf8, AudioData& out, double maxSeconds);
bool ReadFlacFile(const std::string& pathUtf8, AudioData& out, double maxSeconds);

// Appends the mean of each frame's channels.
void AppendMonoMixdown(const float* interleaved, std::uint64_t frames, int channels, AudioData& out);

bool IsSupportedAudioFile(const std::string& pathUtf8);

// ".wav" for "Song.WAV"; empty when the file name has no extension.
std::string LowerCaseExtension(const std::string& pathUtf8);

// The file name with its extension, no folders.
std::string FileNameOf(const std::string& pathUtf8);

} // namespace morvellan

#include "AudioFileWriter.h"

#include <FLAC/stream_encoder.h>
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace morvellan::testing {

ScratchFolder::ScratchFolder()
{
  std::string pattern = (std::filesystem::temp_directory_path() / "mvref-XXXXXX").string();
  if (!::mkdtemp(pattern.data()))
    throw std::runtime_error("mkdtemp failed");
  mRoot = pattern;
}

ScratchFolder::~ScratchFolder()
{
  std::error_code ec;
  std::filesystem::remove_all(mRoot, ec);
}

void WriteSoundFile(const std::string& path, int format, int sampleRate, int channels, std::uint64_t frames,
                    const std::function<void(std::uint64_t t, float* frame)>& frameAt)
{
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file)
    throw std::runtime_error("libsndfile cannot write " + path + ": " + sf_strerror(nullptr));
  constexpr std::uint64_t kChunk = 8192;
  std::vector<float> chunk(kChunk * std::size_t(channels));
  for (std::uint64_t start = 0; start < frames; start += kChunk)
  {
    const std::uint64_t n = std::min(kChunk, frames - start);
    for (std::uint64_t t = 0; t < n; ++t)
      frameAt(start + t, chunk.data() + t * std::size_t(channels));
    if (sf_writef_float(file, chunk.data(), sf_count_t(n)) != sf_count_t(n))
    {
      sf_close(file);
      throw std::runtime_error("short write to " + path);
    }
  }
  sf_close(file);
}

void WriteSoundFile(const std::string& path, int format, int sampleRate, int channels,
                    const std::vector<float>& interleaved)
{
  const std::uint64_t frames = interleaved.size() / std::size_t(channels);
  WriteSoundFile(path, format, sampleRate, channels, frames, [&](std::uint64_t t, float* frame) {
    for (int c = 0; c < channels; ++c)
      frame[c] = interleaved[t * std::size_t(channels) + std::size_t(c)];
  });
}

void WriteSoundFile16(const std::string& path, int format, int sampleRate, int channels,
                      const std::vector<std::int16_t>& interleaved)
{
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file)
    throw std::runtime_error("libsndfile cannot write " + path + ": " + sf_strerror(nullptr));
  const sf_count_t frames = sf_count_t(interleaved.size() / std::size_t(channels));
  sf_count_t written = 0;
  const int sub = format & SF_FORMAT_SUBMASK;
  if (sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE)
  {
    // Float files take the value itself; k / 32768 is exact in a float.
    std::vector<float> values(interleaved.size());
    for (std::size_t i = 0; i < values.size(); ++i)
      values[i] = float(interleaved[i]) / 32768.0f;
    written = sf_writef_float(file, values.data(), frames);
  }
  else
    written = sf_writef_short(file, interleaved.data(), frames);
  sf_close(file);
  if (written != frames)
    throw std::runtime_error("short write to " + path);
}

void WriteOggFlac16(const std::string& path, int sampleRate, int channels, const std::vector<std::int16_t>& interleaved)
{
  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  if (!encoder)
    throw std::runtime_error("libFLAC has no encoder");
  FLAC__stream_encoder_set_channels(encoder, unsigned(channels));
  FLAC__stream_encoder_set_bits_per_sample(encoder, 16);
  FLAC__stream_encoder_set_sample_rate(encoder, unsigned(sampleRate));
  const std::vector<FLAC__int32> wide(interleaved.begin(), interleaved.end());
  const bool ok = FLAC__stream_encoder_init_ogg_file(encoder, path.c_str(), nullptr, nullptr) ==
                      FLAC__STREAM_ENCODER_INIT_STATUS_OK &&
                  FLAC__stream_encoder_process_interleaved(encoder, wide.data(), unsigned(wide.size() / std::size_t(channels))) &&
                  FLAC__stream_encoder_finish(encoder);
  FLAC__stream_encoder_delete(encoder);
  if (!ok)
    throw std::runtime_error("libFLAC cannot write " + path);
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<float> PinkNoise(std::uint64_t frames, std::uint32_t seed)
{
  std::vector<float> out(frames);
  std::uint32_t state = seed ? seed : 1u;
  double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
  for (std::uint64_t t = 0; t < frames; ++t)
  {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const double white = double(state) / 2147483648.0 - 1.0;
    b0 = 0.99886 * b0 + white * 0.0555179;
    b1 = 0.99332 * b1 + white * 0.0750759;
    b2 = 0.96900 * b2 + white * 0.1538520;
    b3 = 0.86650 * b3 + white * 0.3104856;
    b4 = 0.55000 * b4 + white * 0.5329522;
    b5 = -0.7616 * b5 - white * 0.0168980;
    const double pink = b0 + b1 + b2 + b3 + b4 + b5 + b6 + white * 0.5362;
    b6 = white * 0.115926;
    out[t] = float(pink * 0.1);
  }
  return out;
}

} // namespace morvellan::testing

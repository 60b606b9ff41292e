#include "AudioFileWriter.h"
#include "ReferenceFileReader.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <sys/stat.h>

using namespace morvellan;
using morvellan::testing::ScratchFolder;
using morvellan::testing::WriteBytes;
using morvellan::testing::WriteSoundFile;
using morvellan::testing::WriteSoundFile16;

namespace {

// What a 16-bit sample k reads as.
float Pcm16(int k) { return float(k) / 32768.0f; }

std::vector<std::int16_t> Ramp16(std::size_t frames, int channels)
{
  std::vector<std::int16_t> v(frames * std::size_t(channels));
  for (std::size_t i = 0; i < v.size(); ++i)
    v[i] = std::int16_t(int((i * 7919) % 60001) - 30000);
  return v;
}

void PutLe16(std::vector<std::uint8_t>& b, std::uint32_t v)
{
  b.push_back(std::uint8_t(v));
  b.push_back(std::uint8_t(v >> 8));
}
void PutLe32(std::vector<std::uint8_t>& b, std::uint32_t v)
{
  PutLe16(b, v & 0xFFFF);
  PutLe16(b, v >> 16);
}
void PutTag(std::vector<std::uint8_t>& b, const char* tag)
{
  for (int i = 0; i < 4; ++i)
    b.push_back(std::uint8_t(tag[i]));
}

// A canonical 16-bit PCM WAV header written out by hand, with whatever the fields claim.
std::vector<std::uint8_t> WavHeader(std::uint32_t channels, std::uint32_t rate, std::uint32_t dataBytes)
{
  std::vector<std::uint8_t> b;
  PutTag(b, "RIFF");
  PutLe32(b, 36 + dataBytes);
  PutTag(b, "WAVE");
  PutTag(b, "fmt ");
  PutLe32(b, 16);
  PutLe16(b, 1);
  PutLe16(b, channels);
  PutLe32(b, rate);
  PutLe32(b, rate * channels * 2);
  PutLe16(b, std::uint32_t(channels * 2));
  PutLe16(b, 16);
  PutTag(b, "data");
  PutLe32(b, dataBytes);
  return b;
}

struct LoadResult
{
  bool ok = false;
  AudioData audio;
  std::string error;
};

LoadResult Load(const std::string& path, double maxSeconds = kReferenceMaxSeconds)
{
  LoadResult r;
  r.ok = LoadAudioFile(path, r.audio, r.error, maxSeconds);
  return r;
}

struct LosslessCase
{
  const char* fileName;
  int format;
};

class LosslessFormats : public ::testing::TestWithParam<LosslessCase>
{
};

} // namespace

TEST_P(LosslessFormats, StereoIsReadSampleExactAsTheMeanOfItsChannels)
{
  ScratchFolder dir;
  const std::string path = dir.Path(GetParam().fileName);
  const std::size_t frames = 10000; // not a multiple of the read block
  const std::vector<std::int16_t> stereo = Ramp16(frames, 2);
  WriteSoundFile16(path, GetParam().format, 44100, 2, stereo);

  const LoadResult r = Load(path);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.audio.sampleRate, 44100.0);
  EXPECT_EQ(r.audio.channels, 2);
  ASSERT_EQ(r.audio.samples.size(), frames);
  for (std::size_t t = 0; t < frames; ++t)
    ASSERT_EQ(r.audio.samples[t], float((double(Pcm16(stereo[2 * t])) + double(Pcm16(stereo[2 * t + 1]))) / 2.0)) << t;
}

INSTANTIATE_TEST_SUITE_P(
    ByExtension, LosslessFormats,
    ::testing::Values(LosslessCase{"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                      LosslessCase{"B.WAV", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                      LosslessCase{"c.wave", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                      LosslessCase{"d.Wave", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16},
                      LosslessCase{"e.wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
                      LosslessCase{"f.wav", SF_FORMAT_W64 | SF_FORMAT_FLOAT},
                      LosslessCase{"g.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                      LosslessCase{"h.AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                      LosslessCase{"i.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
                      LosslessCase{"j.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                      LosslessCase{"Song.FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_24}),
    [](const ::testing::TestParamInfo<LosslessCase>& info) {
      std::string name = info.param.fileName;
      for (char& c : name)
        if (c == '.')
          c = '_';
      return name;
    });

TEST(ReferenceFileReader, FlacInAnOggContainerIsRead)
{
  ScratchFolder dir;
  const std::size_t frames = 10000;
  const std::vector<std::int16_t> stereo = Ramp16(frames, 2);
  for (const char* name : {"ogg.flac", "OGG.FLAC"})
  {
    morvellan::testing::WriteOggFlac16(dir.Path(name), 48000, 2, stereo);
    ASSERT_EQ(morvellan::testing::ReadBytes(dir.Path(name))[0], 'O');
    const LoadResult r = Load(dir.Path(name));
    ASSERT_TRUE(r.ok) << name << ": " << r.error;
    EXPECT_EQ(r.audio.sampleRate, 48000.0);
    EXPECT_EQ(r.audio.channels, 2);
    ASSERT_EQ(r.audio.samples.size(), frames);
    for (std::size_t t = 0; t < frames; ++t)
      ASSERT_EQ(r.audio.samples[t], float((double(Pcm16(stereo[2 * t])) + double(Pcm16(stereo[2 * t + 1]))) / 2.0)) << t;
  }
  // Another codec in the same container is not FLAC.
  WriteSoundFile(dir.Path("vorbis.flac"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1, 20000,
                 [](std::uint64_t t, float* f) { f[0] = float(0.3 * std::sin(double(t) * 0.05)); });
  EXPECT_EQ(Load(dir.Path("vorbis.flac")).error, "could not read vorbis.flac");
}

TEST(ReferenceFileReader, FlacAfterAnId3TagIsRead)
{
  ScratchFolder dir;
  const std::vector<std::int16_t> mono = Ramp16(6000, 1);
  WriteSoundFile16(dir.Path("plain.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, mono);
  // An ID3v2.4 header (its size as four 7-bit bytes) and 100 bytes of tag in front of the stream.
  const std::vector<std::uint8_t> flac = morvellan::testing::ReadBytes(dir.Path("plain.flac"));
  std::vector<std::uint8_t> bytes(10 + 100 + flac.size(), 0);
  const std::uint8_t id3[10] = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 100};
  std::copy(std::begin(id3), std::end(id3), bytes.begin());
  std::copy(flac.begin(), flac.end(), bytes.begin() + 110);
  WriteBytes(dir.Path("tagged.flac"), bytes);

  const LoadResult r = Load(dir.Path("tagged.flac"));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.audio.samples.size(), mono.size());
  for (std::size_t t = 0; t < mono.size(); ++t)
    ASSERT_EQ(r.audio.samples[t], Pcm16(mono[t])) << t;
}

namespace {

// What libsndfile's own float read makes of a file, mixed to the mean of each frame.
std::vector<float> MonoAsLibsndfileReadsIt(const std::string& path)
{
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file)
    return {};
  std::vector<float> frames(std::size_t(info.frames) * std::size_t(info.channels));
  frames.resize(std::size_t(sf_readf_float(file, frames.data(), info.frames)) * std::size_t(info.channels));
  sf_close(file);
  std::vector<float> mono;
  for (std::size_t t = 0; t < frames.size(); t += std::size_t(info.channels))
  {
    double sum = 0.0;
    for (int c = 0; c < info.channels; ++c)
      sum += double(frames[t + std::size_t(c)]);
    mono.push_back(float(sum / info.channels));
  }
  return mono;
}

} // namespace

TEST(ReferenceFileReader, FlacSamplesMatchLibsndfilesFloatRead)
{
  ScratchFolder dir;
  const std::size_t frames = 10000;
  for (const int depth : {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24})
    for (const int channels : {1, 2, 6})
    {
      std::string name = "n";
      name += std::to_string(depth);
      name += '-';
      name += std::to_string(channels);
      name += ".flac";
      const std::string path = dir.Path(name);
      std::uint32_t x = std::uint32_t(depth * 31 + channels);
      WriteSoundFile(path, SF_FORMAT_FLAC | depth, 8000, channels, frames, [&](std::uint64_t, float* f) {
        for (int c = 0; c < channels; ++c)
        {
          x = x * 1664525u + 1013904223u;
          f[c] = float(0.9 * (double(x) / 2147483648.0 - 1.0));
        }
      });
      const std::vector<float> expected = MonoAsLibsndfileReadsIt(path);
      ASSERT_EQ(expected.size(), frames);

      const LoadResult r = Load(path);
      ASSERT_TRUE(r.ok) << path << ": " << r.error;
      EXPECT_EQ(r.audio.channels, channels);
      ASSERT_EQ(r.audio.samples, expected) << path;

      // A stretch that ends inside a coded frame (5000 of 8000 Hz is 0.625 s).
      const LoadResult part = Load(path, 0.625);
      ASSERT_TRUE(part.ok) << part.error;
      ASSERT_EQ(part.audio.samples, std::vector<float>(expected.begin(), expected.begin() + 5000));
    }
}

TEST(ReferenceFileReader, FlacStreamInfoNoRealFileHoldsIsRefused)
{
  ScratchFolder dir;
  WriteSoundFile16(dir.Path("good.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, Ramp16(5000, 1));
  const std::vector<std::uint8_t> good = morvellan::testing::ReadBytes(dir.Path("good.flac"));
  // "fLaC", then the STREAMINFO block whose 20-bit sample rate starts at byte 18.
  ASSERT_EQ(std::string(good.begin(), good.begin() + 4), "fLaC");
  ASSERT_EQ(good[4] & 0x7F, 0);
  ASSERT_EQ((unsigned(good[18]) << 12) | (unsigned(good[19]) << 4) | (unsigned(good[20]) >> 4), 44100u);
  auto withRate = [&](const char* name, std::uint32_t rate) {
    std::vector<std::uint8_t> bytes = good;
    bytes[18] = std::uint8_t(rate >> 12);
    bytes[19] = std::uint8_t(rate >> 4);
    bytes[20] = std::uint8_t((bytes[20] & 0x0F) | ((rate & 0x0F) << 4));
    WriteBytes(dir.Path(name), bytes);
    return Load(dir.Path(name));
  };
  EXPECT_TRUE(withRate("same.flac", 44100).ok);
  EXPECT_EQ(withRate("zero.flac", 0).error, "could not read zero.flac");
  EXPECT_EQ(withRate("fast.flac", 1000000).error, "could not read fast.flac");
  EXPECT_EQ(withRate("slow.flac", 10).error, "could not read slow.flac");
}

TEST(ReferenceFileReader, Mp3IsDecodedAtItsRateWithTheSignalsLevel)
{
  ScratchFolder dir;
  for (const char* name : {"tone.mp3", "TONE.Mp3"})
  {
    const std::string path = dir.Path(name);
    const int rate = 44100;
    const std::uint64_t frames = 2 * 44100;
    // Left and right equal, so the mono mix carries the full sine (amplitude 0.5, RMS 0.3536).
    WriteSoundFile(path, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, rate, 2, frames,
                   [](std::uint64_t t, float* f) { f[0] = f[1] = float(0.5 * std::sin(2 * M_PI * 1000.0 * double(t) / 44100.0)); });

    const LoadResult r = Load(path);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.audio.sampleRate, 44100.0);
    EXPECT_EQ(r.audio.channels, 2);
    // The codec adds at most a few frames of 1152 samples of delay and padding.
    EXPECT_NEAR(double(r.audio.samples.size()), double(frames), 3 * 1152.0);
    double sumSq = 0;
    const std::size_t from = 4096, to = r.audio.samples.size() - 4096;
    for (std::size_t t = from; t < to; ++t)
      sumSq += double(r.audio.samples[t]) * r.audio.samples[t];
    EXPECT_NEAR(std::sqrt(sumSq / double(to - from)), 0.5 / std::sqrt(2.0), 0.01);
  }
}

TEST(ReferenceFileReader, ChannelsAreMixedWithEqualWeights)
{
  ScratchFolder dir;
  // Six distinct channels, and a stereo pair in opposite phase.
  const std::size_t frames = 5000;
  std::vector<float> six(frames * 6), opposite(frames * 2);
  for (std::size_t t = 0; t < frames; ++t)
  {
    for (std::size_t c = 0; c < 6; ++c)
      six[t * 6 + c] = float(std::sin(double(t) * 0.01 * double(c + 1)) * 0.1 * double(c + 1));
    opposite[2 * t] = float(std::sin(double(t) * 0.05) * 0.8);
    opposite[2 * t + 1] = -opposite[2 * t];
  }
  WriteSoundFile(dir.Path("six.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 6, six);
  WriteSoundFile(dir.Path("opposite.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, opposite);

  const LoadResult r6 = Load(dir.Path("six.wav"));
  ASSERT_TRUE(r6.ok) << r6.error;
  EXPECT_EQ(r6.audio.channels, 6);
  ASSERT_EQ(r6.audio.samples.size(), frames);
  for (std::size_t t = 0; t < frames; ++t)
  {
    double sum = 0;
    for (std::size_t c = 0; c < 6; ++c)
      sum += six[t * 6 + c];
    ASSERT_EQ(r6.audio.samples[t], float(sum / 6.0)) << t;
  }

  const LoadResult r2 = Load(dir.Path("opposite.wav"));
  ASSERT_TRUE(r2.ok) << r2.error;
  ASSERT_EQ(r2.audio.samples.size(), frames);
  for (float s : r2.audio.samples)
    ASSERT_EQ(s, 0.0f);
}

TEST(ReferenceFileReader, ReadsExactlyTheRequestedStretch)
{
  ScratchFolder dir;
  // 481 s at 8 kHz: one second more than is ever read.
  const std::string path = dir.Path("long.wav");
  const int rate = 8000;
  const std::uint64_t frames = 481ull * rate;
  WriteSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, 1, frames,
                 [](std::uint64_t t, float* f) { f[0] = Pcm16(int(t % 20000) - 10000); });

  const LoadResult full = Load(path, kReferenceMaxSeconds);
  ASSERT_TRUE(full.ok) << full.error;
  ASSERT_EQ(full.audio.samples.size(), std::size_t(480 * rate));
  EXPECT_EQ(full.audio.samples.back(), Pcm16(int((480ull * rate - 1) % 20000) - 10000));
  // Filled once from the header's length rather than grown by doubling.
  EXPECT_LT(full.audio.samples.capacity(), full.audio.samples.size() + 2 * kReadBlockFrames);

  // A stretch that ends inside a read block, and one that is not a whole number of frames.
  EXPECT_EQ(Load(path, 1.0).audio.samples.size(), std::size_t(8000));
  EXPECT_EQ(Load(path, 0.70001).audio.samples.size(), std::size_t(5600));
}

TEST(ReferenceFileReader, ErrorTextsNameTheFileOrTheExtension)
{
  ScratchFolder dir;
  const std::vector<std::int16_t> tone = Ramp16(4000, 1);
  WriteSoundFile16(dir.Path("song.ogg"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, tone);
  WriteSoundFile16(dir.Path("noextension"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, tone);

  EXPECT_EQ(Load(dir.Path("song.ogg")).error, "unsupported file type .ogg (WAV, AIFF, MP3 or FLAC)");
  EXPECT_EQ(Load(dir.Path("noextension")).error, "unsupported file type  (WAV, AIFF, MP3 or FLAC)");
  EXPECT_EQ(Load(dir.Path("missing.wav")).error, "could not read missing.wav");
  EXPECT_EQ(Load("/no/such/folder/Gone Song.FLAC").error, "could not read Gone Song.FLAC");

  const LoadResult r = Load(dir.Path("missing.mp3"));
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.audio.samples.empty());
  EXPECT_EQ(r.audio.sampleRate, 0.0);
}

TEST(ReferenceFileReader, ContentsMustMatchTheExtension)
{
  ScratchFolder dir;
  const std::vector<std::int16_t> tone = Ramp16(4000, 1);
  WriteSoundFile16(dir.Path("flac-inside.wav"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, tone);
  WriteSoundFile16(dir.Path("wav-inside.flac"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, tone);
  WriteSoundFile16(dir.Path("wav-inside.mp3"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, tone);
  WriteSoundFile16(dir.Path("aiff-inside.wav"), SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 1, tone);

  EXPECT_EQ(Load(dir.Path("flac-inside.wav")).error, "could not read flac-inside.wav");
  EXPECT_EQ(Load(dir.Path("wav-inside.flac")).error, "could not read wav-inside.flac");
  EXPECT_EQ(Load(dir.Path("wav-inside.mp3")).error, "could not read wav-inside.mp3");
  // WAV and AIFF share one reader, as their extensions do.
  EXPECT_TRUE(Load(dir.Path("aiff-inside.wav")).ok);
}

TEST(ReferenceFileReader, BrokenFilesFailCleanly)
{
  ScratchFolder dir;
  const std::vector<std::int16_t> tone = Ramp16(20000, 1);
  for (const auto& [name, format] : {std::pair{"t.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                     std::pair{"t.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                     std::pair{"t.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16}})
  {
    const std::string whole = dir.Path(std::string("whole-") + name);
    WriteSoundFile16(whole, format, 44100, 1, tone);
    const std::vector<std::uint8_t> bytes = morvellan::testing::ReadBytes(whole);

    // Only part of the header.
    const std::string head = dir.Path(std::string("head-") + name);
    WriteBytes(head, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 10));
    EXPECT_EQ(Load(head).error, "could not read " + std::string("head-") + name);

    // The header intact, the body replaced by noise: whatever decodes is finite and bounded.
    std::vector<std::uint8_t> garbled = bytes;
    std::uint32_t x = 12345;
    for (std::size_t i = 64; i < garbled.size(); ++i)
    {
      x = x * 1664525u + 1013904223u;
      garbled[i] = std::uint8_t(x >> 24);
    }
    const std::string noisy = dir.Path(std::string("garbled-") + name);
    WriteBytes(noisy, garbled);
    const LoadResult g = Load(noisy);
    if (g.ok)
      for (float s : g.audio.samples)
        ASSERT_TRUE(std::isfinite(s) && std::fabs(s) <= 1.0f);
    else
      EXPECT_EQ(g.error, "could not read " + std::string("garbled-") + name);
  }

  // Random bytes and an empty file under each extension.
  std::vector<std::uint8_t> random(5000);
  std::uint32_t x = 99;
  for (auto& b : random)
  {
    x = x * 1664525u + 1013904223u;
    b = std::uint8_t(x >> 24);
  }
  for (const char* name : {"r.wav", "r.aif", "r.flac", "r.mp3"})
  {
    WriteBytes(dir.Path(name), random);
    const LoadResult r = Load(dir.Path(name));
    if (r.ok) // a lenient MP3 decoder may find frame syncs in noise
      for (float s : r.audio.samples)
        ASSERT_TRUE(std::isfinite(s));
    else
      EXPECT_EQ(r.error, std::string("could not read ") + name);
  }
  for (const char* name : {"empty.wav", "empty.flac", "empty.mp3"})
  {
    WriteBytes(dir.Path(name), {});
    EXPECT_EQ(Load(dir.Path(name)).error, std::string("could not read ") + name);
  }
}

TEST(ReferenceFileReader, TruncatedDataYieldsWhatIsThere)
{
  ScratchFolder dir;
  const std::vector<std::int16_t> tone = Ramp16(20000, 1);
  const std::string whole = dir.Path("whole.wav");
  WriteSoundFile16(whole, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, tone);
  std::vector<std::uint8_t> bytes = morvellan::testing::ReadBytes(whole);
  ASSERT_EQ(bytes.size(), 44u + 40000u);
  bytes.resize(44 + 2 * 7000);
  WriteBytes(dir.Path("cut.wav"), bytes);

  const LoadResult r = Load(dir.Path("cut.wav"));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.audio.samples.size(), 7000u);
  for (std::size_t t = 0; t < 7000; ++t)
    ASSERT_EQ(r.audio.samples[t], Pcm16(tone[t]));
}

TEST(ReferenceFileReader, HeadersNoRealFileHoldsAreRefused)
{
  ScratchFolder dir;
  std::vector<std::uint8_t> body(2 * 4 * 1000, 0x10);

  auto withHeader = [&](const char* name, std::uint32_t channels, std::uint32_t rate) {
    std::vector<std::uint8_t> bytes = WavHeader(channels, rate, std::uint32_t(body.size()));
    bytes.insert(bytes.end(), body.begin(), body.end());
    WriteBytes(dir.Path(name), bytes);
    return Load(dir.Path(name));
  };

  EXPECT_TRUE(withHeader("plain.wav", 4, 44100).ok);
  EXPECT_EQ(withHeader("fast.wav", 1, 2000000000u).error, "could not read fast.wav");
  EXPECT_EQ(withHeader("fast2.wav", 1, 1000000).error, "could not read fast2.wav");
  EXPECT_EQ(withHeader("slow.wav", 1, 10).error, "could not read slow.wav");
  EXPECT_EQ(withHeader("wide.wav", 1000, 44100).error, "could not read wide.wav");
  EXPECT_EQ(withHeader("none.wav", 0, 44100).error, "could not read none.wav");

  // A data chunk that claims 4 GB over 8000 bytes is read for what it holds.
  std::vector<std::uint8_t> liar = WavHeader(1, 8000, 0xFFFFFFF0u);
  liar.insert(liar.end(), body.begin(), body.end());
  WriteBytes(dir.Path("liar.wav"), liar);
  const LoadResult r = Load(dir.Path("liar.wav"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.audio.samples.size(), body.size() / 2);
  EXPECT_EQ(r.audio.samples[0], float(0x1010) / 32768.0f);
  // Room is made for what the file holds, not for what its header claims.
  EXPECT_LT(r.audio.samples.capacity(), body.size() / 2 + 2 * kReadBlockFrames);
}

TEST(ReferenceFileReader, StrangeStretchesAreBounded)
{
  ScratchFolder dir;
  WriteSoundFile16(dir.Path("x.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, Ramp16(3000, 1));
  for (double seconds : {1e12, std::numeric_limits<double>::infinity()})
  {
    const LoadResult r = Load(dir.Path("x.flac"), seconds);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.audio.samples.size(), 3000u);
    EXPECT_LT(r.audio.samples.capacity(), 3000u + 2 * kReadBlockFrames);
  }
  for (double seconds : {0.0, -5.0, std::nan("")})
    EXPECT_EQ(Load(dir.Path("x.flac"), seconds).error, "could not read x.flac");
}

TEST(ReferenceFileReader, OnlyPlainFilesAreOpened)
{
  ScratchFolder dir;
  std::filesystem::create_directory(dir.Path("folder.wav"));
  EXPECT_EQ(Load(dir.Path("folder.wav")).error, "could not read folder.wav");
  // A NUL inside the name must not open the file named by the bytes before it.
  WriteSoundFile16(dir.Path("real.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, Ramp16(3000, 1));
  const std::string cut = dir.Path("real.wav") + std::string(1, '\0') + ".wav";
  EXPECT_FALSE(Load(cut).ok);
  EXPECT_TRUE(Load(dir.Path("real.wav")).ok);
  // A FIFO would block a decoder forever.
  ASSERT_EQ(::mkfifo(dir.Path("pipe.flac").c_str(), 0600), 0);
  EXPECT_EQ(Load(dir.Path("pipe.flac")).error, "could not read pipe.flac");
}

TEST(ReferenceFileReader, NamesWithSpacesAndNonAsciiCharacters)
{
  ScratchFolder dir;
  const std::string name = "Mix für Öl – 東京 (final).WAV";
  WriteSoundFile16(dir.Path(name), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, Ramp16(3000, 1));
  const LoadResult r = Load(dir.Path(name));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.audio.samples.size(), 3000u);
  EXPECT_EQ(Load(dir.Path("Ünïcode gone.aiff")).error, "could not read Ünïcode gone.aiff");
}

TEST(ReferenceFileReader, ExtensionRules)
{
  EXPECT_EQ(LowerCaseExtension("/a/b/Song.FLAC"), ".flac");
  EXPECT_EQ(LowerCaseExtension("archive.tar.GZ"), ".gz");
  EXPECT_EQ(LowerCaseExtension("noext"), "");
  EXPECT_EQ(LowerCaseExtension("/music/.hidden"), "");
  EXPECT_EQ(LowerCaseExtension(".."), "");
  EXPECT_EQ(LowerCaseExtension("."), "");
  EXPECT_EQ(LowerCaseExtension("folder.wav/track"), "");
  EXPECT_EQ(LowerCaseExtension("trailing."), ".");
  // Only ASCII capitals change; the bytes of "Ä" stay as they are.
  EXPECT_EQ(LowerCaseExtension("x.WÄV"), ".wÄv");

  for (const char* yes : {"a.wav", "a.WAVE", "a.aif", "a.Aiff", "a.AIFC", "a.mp3", "a.flac"})
    EXPECT_TRUE(IsSupportedAudioFile(yes)) << yes;
  for (const char* no : {"a.ogg", "a", "a.wav.txt", ".wav", "a.mp4", "a.fla"})
    EXPECT_FALSE(IsSupportedAudioFile(no)) << no;
}

TEST(ReferenceFileReader, MixdownIgnoresEmptyInput)
{
  AudioData out;
  const float frame[2] = {0.25f, 0.75f};
  AppendMonoMixdown(frame, 0, 2, out);
  AppendMonoMixdown(frame, 1, 0, out);
  EXPECT_TRUE(out.samples.empty());
  AppendMonoMixdown(frame, 1, 2, out);
  ASSERT_EQ(out.samples.size(), 1u);
  EXPECT_EQ(out.samples[0], 0.5f);
}

#include "ReferenceFileReader.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvellan {
namespace {

enum class Container { WavOrAiff, Mp3, Flac };

bool Accepts(Container wanted, int format)
{
  const int major = format & SF_FORMAT_TYPEMASK;
  switch (wanted)
  {
    case Container::WavOrAiff:
      return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_W64 ||
             major == SF_FORMAT_RF64 || major == SF_FORMAT_AIFF;
    case Container::Mp3: return major == SF_FORMAT_MPEG;
    case Container::Flac: return major == SF_FORMAT_FLAC;
  }
  return false;
}

// Frames worth reading: maxSeconds of the file, never more than the buffer cap.
std::uint64_t FrameLimit(double sampleRate, double maxSeconds)
{
  const double wanted = sampleRate * maxSeconds;
  if (!(wanted >= 1.0))
    return 0; // also NaN
  if (wanted >= double(kReferenceMaxSamples))
    return kReferenceMaxSamples;
  return std::uint64_t(wanted);
}

// Owns the descriptor and the decoder, so every early return releases both.
class SndfileReader
{
public:
  explicit SndfileReader(const std::string& path)
  {
    // A name cut short by a NUL byte would open some other file.
    if (path.find('\0') != std::string::npos)
      return;
    // Non-blocking so that opening a FIFO cannot hang the worker; only plain files are read.
    mFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (mFd < 0)
      return;
    struct stat st{};
    if (::fstat(mFd, &st) != 0 || !S_ISREG(st.st_mode))
      return;
    const int flags = ::fcntl(mFd, F_GETFL);
    if (flags < 0 || ::fcntl(mFd, F_SETFL, flags & ~O_NONBLOCK) != 0)
      return;
    mFile = sf_open_fd(mFd, SFM_READ, &mInfo, SF_FALSE);
  }
  ~SndfileReader()
  {
    if (mFile)
      sf_close(mFile);
    if (mFd >= 0)
      ::close(mFd);
  }
  SndfileReader(const SndfileReader&) = delete;
  SndfileReader& operator=(const SndfileReader&) = delete;

  SNDFILE* File() const { return mFile; }
  const SF_INFO& Info() const { return mInfo; }

private:
  int mFd = -1;
  SNDFILE* mFile = nullptr;
  SF_INFO mInfo{};
};

// Filling a fresh 92 MB buffer page by page costs more than decoding into it on some machines;
// huge pages make that a few dozen faults. Only advice: nothing changes when the kernel declines.
void AdviseHugePages(const void* data, std::size_t bytes)
{
  constexpr std::uintptr_t kHuge = std::uintptr_t(1) << 21;
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin)
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

bool ReadWithSndfile(const std::string& path, AudioData& out, double maxSeconds, Container container)
{
  SndfileReader reader(path);
  if (!reader.File())
    return false;
  const SF_INFO& info = reader.Info();
  if (!Accepts(container, info.format))
    return false;
  if (info.samplerate < kReferenceMinSampleRate || info.samplerate > kReferenceMaxSampleRate ||
      info.channels < 1 || info.channels > kReferenceMaxChannels)
    return false;

  out.sampleRate = double(info.samplerate);
  out.channels = info.channels;
  const std::uint64_t maxFrames = FrameLimit(out.sampleRate, maxSeconds);

  // Reserve once from the header's length (with a little slack for estimated MP3 lengths) so the
  // buffer does not double while it fills.
  if (info.frames > 0 && info.frames < SF_COUNT_MAX)
  {
    const std::uint64_t claimed = std::uint64_t(info.frames);
    const std::uint64_t slack = claimed / 64 + std::uint64_t(kReadBlockFrames);
    out.samples.reserve(std::size_t(std::min(maxFrames, claimed + slack)));
    AdviseHugePages(out.samples.data(), out.samples.capacity() * sizeof(float));
  }

  std::vector<float> block(std::size_t(info.channels) * kReadBlockFrames);
  std::uint64_t framesRead = 0;
  while (framesRead < maxFrames)
  {
    const std::uint64_t want = std::min<std::uint64_t>(kReadBlockFrames, maxFrames - framesRead);
    const sf_count_t got = sf_readf_float(reader.File(), block.data(), sf_count_t(want));
    if (got <= 0)
      break;
    AppendMonoMixdown(block.data(), std::uint64_t(got), info.channels, out);
    framesRead += std::uint64_t(got);
  }
  return !out.samples.empty();
}

} // namespace

void AppendMonoMixdown(const float* interleaved, std::uint64_t frames, int channels, AudioData& out)
{
  if (channels < 1 || frames == 0 || interleaved == nullptr)
    return;
  const std::size_t start = out.samples.size();
  out.samples.resize(start + std::size_t(frames));
  float* mono = out.samples.data() + start;
  const std::size_t n = std::size_t(frames);
  // Sum in double in channel order, then divide: the common counts get loops of their own.
  if (channels == 1)
    std::copy(interleaved, interleaved + n, mono);
  else if (channels == 2)
    for (std::size_t t = 0; t < n; ++t)
      mono[t] = float((double(interleaved[2 * t]) + double(interleaved[2 * t + 1])) / 2.0);
  else
  {
    const std::size_t c = std::size_t(channels);
    const double divisor = double(channels);
    for (std::size_t t = 0; t < n; ++t)
    {
      const float* frame = interleaved + t * c;
      double sum = 0.0;
      for (std::size_t i = 0; i < c; ++i)
        sum += double(frame[i]);
      mono[t] = float(sum / divisor);
    }
  }
}

bool ReadWavFile(const std::string& pathUtf8, AudioData& out, double maxSeconds)
{
  return ReadWithSndfile(pathUtf8, out, maxSeconds, Container::WavOrAiff);
}

bool ReadMp3File(const std::string& pathUtf8, AudioData& out, double maxSeconds)
{
  return ReadWithSndfile(pathUtf8, out, maxSeconds, Container::Mp3);
}

bool ReadFlacFile(const std::string& pathUtf8, AudioData& out, double maxSeconds)
{
  return ReadWithSndfile(pathUtf8, out, maxSeconds, Container::Flac);
}

std::string LowerCaseExtension(const std::string& pathUtf8)
{
  std::string ext = std::filesystem::path(pathUtf8).extension().string();
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z')
      c = char(c - 'A' + 'a');
  return ext;
}

std::string FileNameOf(const std::string& pathUtf8)
{
  return std::filesystem::path(pathUtf8).filename().string();
}

bool IsSupportedAudioFile(const std::string& pathUtf8)
{
  const std::string ext = LowerCaseExtension(pathUtf8);
  return ext == ".wav" || ext == ".wave" || ext == ".aif" || ext == ".aiff" || ext == ".aifc" ||
         ext == ".mp3" || ext == ".flac";
}

bool LoadAudioFile(const std::string& pathUtf8, AudioData& out, std::string& error, double maxSeconds)
{
  out.samples = std::vector<float>();
  out.sampleRate = 0.0;
  out.channels = 0;

  const std::string ext = LowerCaseExtension(pathUtf8);
  bool ok = false;
  if (ext == ".wav" || ext == ".wave" || ext == ".aif" || ext == ".aiff" || ext == ".aifc")
    ok = ReadWavFile(pathUtf8, out, maxSeconds);
  else if (ext == ".mp3")
    ok = ReadMp3File(pathUtf8, out, maxSeconds);
  else if (ext == ".flac")
    ok = ReadFlacFile(pathUtf8, out, maxSeconds);
  else
  {
    error = "unsupported file type " + ext + " (WAV, AIFF, MP3 or FLAC)";
    return false;
  }

  if (ok && out.sampleRate > 0.0)
  {
    const std::uint64_t maxFrames = FrameLimit(out.sampleRate, maxSeconds);
    if (out.samples.size() > maxFrames)
      out.samples.resize(std::size_t(maxFrames));
    if (!out.samples.empty())
      return true;
  }
  out.samples = std::vector<float>();
  error = "could not read " + FileNameOf(pathUtf8);
  return false;
}

} // namespace morvellan

#include "ReferenceFileReader.h"

#include <FLAC/stream_decoder.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvellan {
namespace {

enum class Container { WavOrAiff, Mp3 };

bool Accepts(Container wanted, int format)
{
  const int major = format & SF_FORMAT_TYPEMASK;
  switch (wanted)
  {
    case Container::WavOrAiff:
      return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_W64 ||
             major == SF_FORMAT_RF64 || major == SF_FORMAT_AIFF;
    case Container::Mp3: return major == SF_FORMAT_MPEG;
  }
  return false;
}

// Extensions read as WAV or AIFF, lower case.
bool IsWavOrAiffExtension(const std::string& ext)
{
  return ext == ".wav" || ext == ".wave" || ext == ".aif" || ext == ".aiff" || ext == ".aifc";
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

// A descriptor for a plain file, closed when it goes; invalid for anything else.
class PlainFile
{
public:
  explicit PlainFile(const std::string& path)
  {
    // A name cut short by a NUL byte would open some other file.
    if (path.find('\0') != std::string::npos)
      return;
    // Non-blocking so that opening a FIFO cannot hang the worker; only plain files are read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
      return;
    mFd = fd;
    struct stat st{};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
      return;
    mValid = true;
  }
  ~PlainFile()
  {
    if (mFd >= 0)
      ::close(mFd);
  }
  PlainFile(const PlainFile&) = delete;
  PlainFile& operator=(const PlainFile&) = delete;

  int Fd() const { return mValid ? mFd : -1; }

private:
  int mFd = -1;
  bool mValid = false;
};

bool HeaderIsPlausible(long long sampleRate, long long channels)
{
  return sampleRate >= kReferenceMinSampleRate && sampleRate <= kReferenceMaxSampleRate && channels >= 1 &&
         channels <= kReferenceMaxChannels;
}

// Owns the decoder, so every early return releases it (the descriptor is the caller's).
class SndfileReader
{
public:
  explicit SndfileReader(int fd)
  {
    if (fd >= 0)
      mFile = sf_open_fd(fd, SFM_READ, &mInfo, SF_FALSE);
  }
  ~SndfileReader()
  {
    if (mFile)
      sf_close(mFile);
  }
  SndfileReader(const SndfileReader&) = delete;
  SndfileReader& operator=(const SndfileReader&) = delete;

  SNDFILE* File() const { return mFile; }
  const SF_INFO& Info() const { return mInfo; }

private:
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

std::unique_lock<std::mutex> LockSamples(AudioData& out)
{
  return out.follower ? std::unique_lock<std::mutex>(out.follower->lock) : std::unique_lock<std::mutex>();
}

// Wakes a follower once the samples have passed another stretch since `before`.
void TellFollower(AudioData& out, std::size_t before, std::unique_lock<std::mutex>& lock)
{
  if (!out.follower || before / DecodeFollower::kStretch == out.samples.size() / DecodeFollower::kStretch)
    return;
  lock.unlock();
  out.follower->arrived.notify_all();
}

bool ReadWithSndfile(const std::string& path, AudioData& out, double maxSeconds, Container container)
{
  PlainFile file(path);
  SndfileReader reader(file.Fd());
  if (!reader.File())
    return false;
  const SF_INFO& info = reader.Info();
  if (!Accepts(container, info.format) || !HeaderIsPlausible(info.samplerate, info.channels))
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
    const auto lock = LockSamples(out);
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

// FLAC, native or in an Ogg container, decoded by libFLAC straight into the mono mix.
class FlacReader
{
public:
  FlacReader(int fd, AudioData& out, double maxSeconds) : mFd(fd), mOut(out), mMaxSeconds(maxSeconds) {}
  ~FlacReader()
  {
    if (mDecoder)
      FLAC__stream_decoder_delete(mDecoder);
  }
  FlacReader(const FlacReader&) = delete;
  FlacReader& operator=(const FlacReader&) = delete;

  bool Read()
  {
    unsigned char magic[4] = {};
    if (mFd < 0 || ::pread(mFd, magic, sizeof magic, 0) != ssize_t(sizeof magic))
      return false;
    const bool ogg = std::memcmp(magic, "OggS", 4) == 0;
    // A stream that starts with neither marker (nor an ID3 tag the decoder skips) is not FLAC;
    // without this the decoder would hunt through any file for something like a frame sync.
    if (!ogg && std::memcmp(magic, "fLaC", 4) != 0 && std::memcmp(magic, "ID3", 3) != 0)
      return false;

    mDecoder = FLAC__stream_decoder_new();
    if (!mDecoder)
      return false;
    const FLAC__StreamDecoderInitStatus status =
        ogg ? FLAC__stream_decoder_init_ogg_stream(mDecoder, &ReadBytes, nullptr, nullptr, nullptr, nullptr,
                                                   &WriteFrame, &Metadata, &Error, this)
            : FLAC__stream_decoder_init_stream(mDecoder, &ReadBytes, nullptr, nullptr, nullptr, nullptr, &WriteFrame,
                                               &Metadata, &Error, this);
    if (status != FLAC__STREAM_DECODER_INIT_STATUS_OK)
      return false;
    if (!FLAC__stream_decoder_process_until_end_of_metadata(mDecoder) || !mHaveInfo)
      return false;

    mOut.sampleRate = double(mRate);
    mOut.channels = int(mChannels);
    mMaxFrames = FrameLimit(mOut.sampleRate, mMaxSeconds);
    // The stream's own length is exact when it is given at all.
    if (mTotalFrames > 0)
    {
      const auto lock = LockSamples(mOut);
      mOut.samples.reserve(std::size_t(std::min<std::uint64_t>(mMaxFrames, mTotalFrames)));
      AdviseHugePages(mOut.samples.data(), mOut.samples.capacity() * sizeof(float));
    }
    while (mOut.samples.size() < mMaxFrames && !mStop)
    {
      if (!FLAC__stream_decoder_process_single(mDecoder))
        break;
      const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(mDecoder);
      if (state == FLAC__STREAM_DECODER_END_OF_STREAM || state == FLAC__STREAM_DECODER_ABORTED)
        break;
    }
    if (mOutOfMemory)
      throw std::bad_alloc();
    return !mOut.samples.empty();
  }

private:
  static FLAC__StreamDecoderReadStatus ReadBytes(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                                 void* self)
  {
    FlacReader& r = *static_cast<FlacReader*>(self);
    ssize_t got;
    do
      got = ::read(r.mFd, buffer, *bytes);
    while (got < 0 && errno == EINTR);
    if (got <= 0)
    {
      *bytes = 0;
      return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
    *bytes = std::size_t(got);
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }

  static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* self)
  {
    FlacReader& r = *static_cast<FlacReader*>(self);
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO || r.mHaveInfo)
      return;
    const FLAC__StreamMetadata_StreamInfo& info = metadata->data.stream_info;
    if (!HeaderIsPlausible(info.sample_rate, info.channels) || info.bits_per_sample < 4 || info.bits_per_sample > 32)
      return;
    r.mRate = info.sample_rate;
    r.mChannels = info.channels;
    r.mTotalFrames = info.total_samples;
    r.mHaveInfo = true;
  }

  static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

  // Sample for sample what libsndfile's float read and AppendMonoMixdown make of the frame: each
  // integer scaled to float by 2^-(bits-1), then the channels' mean in double.
  static FLAC__StreamDecoderWriteStatus WriteFrame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                   const FLAC__int32* const buffer[], void* self)
  {
    FlacReader& r = *static_cast<FlacReader*>(self);
    const FLAC__FrameHeader& h = frame->header;
    // Frames that disagree with the stream header cannot be mixed like the rest: the file ends there.
    if (!r.mHaveInfo || h.channels != r.mChannels || h.bits_per_sample < 4 || h.bits_per_sample > 32)
    {
      r.mStop = true;
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    auto lock = LockSamples(r.mOut);
    std::vector<float>& mono = r.mOut.samples;
    const std::size_t n = std::min<std::size_t>(h.blocksize, std::size_t(r.mMaxFrames - mono.size()));
    const std::size_t start = mono.size();
    // No exception may unwind through the C decoder: note it and throw once it has returned.
    try
    {
      mono.resize(start + n);
    }
    catch (const std::bad_alloc&)
    {
      r.mOutOfMemory = true;
      r.mStop = true;
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    float* dst = mono.data() + start;
    const float norm = std::ldexp(1.0f, -int(h.bits_per_sample - 1));
    if (h.channels == 1)
      for (std::size_t t = 0; t < n; ++t)
        dst[t] = float(buffer[0][t]) * norm;
    else if (h.channels == 2)
      for (std::size_t t = 0; t < n; ++t)
        dst[t] = float((double(float(buffer[0][t]) * norm) + double(float(buffer[1][t]) * norm)) / 2.0);
    else
    {
      const double divisor = double(h.channels);
      for (std::size_t t = 0; t < n; ++t)
      {
        double sum = 0.0;
        for (unsigned c = 0; c < h.channels; ++c)
          sum += double(float(buffer[c][t]) * norm);
        dst[t] = float(sum / divisor);
      }
    }
    TellFollower(r.mOut, start, lock);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }

  int mFd;
  AudioData& mOut;
  double mMaxSeconds;
  FLAC__StreamDecoder* mDecoder = nullptr;
  bool mHaveInfo = false;
  bool mStop = false;
  bool mOutOfMemory = false;
  unsigned mRate = 0;
  unsigned mChannels = 0;
  std::uint64_t mTotalFrames = 0;
  std::uint64_t mMaxFrames = 0;
};

} // namespace

void AppendMonoMixdown(const float* interleaved, std::uint64_t frames, int channels, AudioData& out)
{
  if (channels < 1 || frames == 0 || interleaved == nullptr)
    return;
  auto lock = LockSamples(out);
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
  TellFollower(out, start, lock);
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
  PlainFile file(pathUtf8);
  FlacReader reader(file.Fd(), out, maxSeconds);
  return reader.Read();
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
  return IsWavOrAiffExtension(ext) || ext == ".mp3" || ext == ".flac";
}

bool LoadAudioFile(const std::string& pathUtf8, AudioData& out, std::string& error, double maxSeconds)
{
  {
    const auto lock = LockSamples(out);
    out.samples = std::vector<float>();
  }
  out.sampleRate = 0.0;
  out.channels = 0;

  const std::string ext = LowerCaseExtension(pathUtf8);
  bool ok = false;
  if (IsWavOrAiffExtension(ext))
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
    const auto lock = LockSamples(out);
    if (out.samples.size() > maxFrames)
      out.samples.resize(std::size_t(maxFrames));
    if (!out.samples.empty())
      return true;
  }
  {
    const auto lock = LockSamples(out);
    out.samples = std::vector<float>();
  }
  error = "could not read " + FileNameOf(pathUtf8);
  return false;
}

} // namespace morvellan

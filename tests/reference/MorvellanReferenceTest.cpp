#include "AudioFileWriter.h"
#include "TestPlug.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

using morvellan::testing::PinkNoise;
using morvellan::testing::ScratchFolder;
using morvellan::testing::WriteSoundFile;

namespace {

constexpr int kAnalysing = 1;
constexpr int kFailed = 2;

// White noise rises 3 dB per octave: each band reads 10·log10(centre) above a common level.
double WhiteNoiseBand(int k)
{
  double mean = 0;
  for (int j = 2; j <= 8; ++j)
    mean += 10.0 * std::log10(morvellan::kBandCentresHz[std::size_t(j)]);
  return 10.0 * std::log10(morvellan::kBandCentresHz[std::size_t(k)]) - mean / 7.0;
}

void WriteWhiteNoise(const std::string& path, int format, int rate, double seconds)
{
  std::uint32_t s = 77;
  WriteSoundFile(path, format, rate, 2, std::uint64_t(rate * seconds), [&](std::uint64_t, float* f) {
    s = s * 1664525u + 1013904223u;
    f[0] = f[1] = float(0.3 * (double(s) / 2147483648.0 - 1.0));
  });
}

void WritePink(const std::string& path, int rate, double seconds)
{
  const std::vector<float> pink = PinkNoise(std::uint64_t(rate * seconds), 5);
  WriteSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, pink);
}

// Waits for the worker to leave the analysing state; the worker always does.
int WaitForWorker(Morvellan& plug)
{
  while (plug.mReferenceState.load() == kAnalysing)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return plug.mReferenceState.load();
}

std::string SourceName(Morvellan& plug)
{
  std::lock_guard<std::mutex> lock(plug.mMutex);
  return plug.mTargetSourceName;
}

std::string Error(Morvellan& plug)
{
  std::lock_guard<std::mutex> lock(plug.mMutex);
  return plug.mReferenceError;
}

class ReferenceWorker : public ::testing::Test
{
protected:
  void SetUp() override
  {
    plug = std::make_unique<TestPlug>();
    plug->Setup(48000.0, 256, 2, 2);
    plug->SetNeutral();
  }

  void RunOneBlock() { plug->Run({Noise(256, 0.1, 1), Noise(256, 0.1, 2)}, 2, 256); }

  ScratchFolder dir;
  std::unique_ptr<TestPlug> plug;
};

} // namespace

TEST_F(ReferenceWorker, EachFormatBecomesTheTargetOfTheNextBlock)
{
  struct Case
  {
    const char* name;
    int format;
    int lastBand; // lossy coding may trim the top band
  };
  for (const Case& c : {Case{"mix.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 11},
                        Case{"Mix für Öl – 東京.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 11},
                        Case{"my reference.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 11},
                        Case{"Ünïcode track.MP3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 10}})
  {
    const std::string path = dir.Path(c.name);
    WriteWhiteNoise(path, c.format, 44100, 6.0);

    plug->StartFileLearning(path);
    ASSERT_EQ(WaitForWorker(*plug), 0) << c.name << ": " << Error(*plug);
    EXPECT_EQ(SourceName(*plug), c.name);
    EXPECT_EQ(Error(*plug), "");
    EXPECT_EQ(plug->mReferenceTargetPending.load(), 1);

    morvellan::BalanceCopy handed;
    ASSERT_TRUE(plug->mReferenceTarget.TryRead(handed));
    EXPECT_TRUE(handed.valid);
    EXPECT_EQ(handed.relative, handed.absolute);
    for (int k = 0; k <= c.lastBand; ++k)
      EXPECT_NEAR(handed.absolute[std::size_t(k)], WhiteNoiseBand(k), 1.0) << c.name << " band " << k;

    RunOneBlock();
    EXPECT_EQ(plug->mReferenceTargetPending.load(), 0);
    EXPECT_TRUE(plug->mEngine.hasTarget);
    EXPECT_EQ(plug->mEngine.targetAbsolute, handed.absolute);
    morvellan::BalanceCopy published;
    ASSERT_TRUE(plug->TryReadLearnedTarget(published));
    EXPECT_EQ(published.absolute, handed.absolute);
  }
}

TEST_F(ReferenceWorker, FailureKeepsTheTargetAndNameAndRecordsWhy)
{
  WriteWhiteNoise(dir.Path("good.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 5.0);
  plug->StartFileLearning(dir.Path("good.wav"));
  ASSERT_EQ(WaitForWorker(*plug), 0) << Error(*plug);
  RunOneBlock();
  const auto target = plug->mEngine.targetAbsolute;

  WriteSoundFile(dir.Path("short.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1,
                 std::vector<float>(48000, 0.25f));
  WriteSoundFile(dir.Path("quiet.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, std::vector<float>(48000 * 4, 0.0f));
  std::vector<float> onlyStart(48000 * 4, 0.0f);
  const std::vector<float> burst = PinkNoise(24000, 3);
  std::copy(burst.begin(), burst.end(), onlyStart.begin());
  WriteSoundFile(dir.Path("only start.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, onlyStart);
  morvellan::testing::WriteBytes(dir.Path("broken.mp3"), {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0});

  const std::pair<std::string, std::string> failures[] = {
      {"song.ogg", "unsupported file type .ogg (WAV, AIFF, MP3 or FLAC)"},
      {"missing.wav", "could not read missing.wav"},
      {"broken.mp3", "could not read broken.mp3"},
      {"short.flac", "the file is too short to learn from"},
      {"quiet.wav", "the file is silent or too quiet to learn from"},
      {"only start.wav", "less than two seconds of the file was loud enough to learn from"},
  };
  for (const auto& [name, error] : failures)
  {
    plug->StartFileLearning(dir.Path(name));
    EXPECT_EQ(WaitForWorker(*plug), kFailed) << name;
    EXPECT_EQ(Error(*plug), error);
    EXPECT_EQ(SourceName(*plug), "good.wav");
    EXPECT_EQ(plug->mReferenceTargetPending.load(), 0);
    RunOneBlock();
    EXPECT_EQ(plug->mEngine.targetAbsolute, target);
  }

  // The next start clears the old error.
  plug->StartFileLearning(dir.Path("good.wav"));
  EXPECT_EQ(Error(*plug), "");
  EXPECT_EQ(WaitForWorker(*plug), 0);
}

TEST_F(ReferenceWorker, AudioRunsOnWhileTheWorkerLearnsAndTakesTheResult)
{
  const std::string path = dir.Path("while playing.flac");
  WriteWhiteNoise(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 6.0);

  // The host's audio thread keeps processing blocks the whole time, as it would while the user works.
  std::atomic<bool> stop{false};
  std::atomic<int> blocks{0};
  std::thread audio([&] {
    const TestPlug::Channels in = {Noise(256, 0.1, 1), Noise(256, 0.1, 2)};
    while (!stop.load())
    {
      plug->Run(in, 2, 256);
      blocks.fetch_add(1);
    }
  });

  plug->StartFileLearning(path);
  while (plug->mReferenceState.load() == kAnalysing)
  {
    // What the editor reads each frame, under the plug-in mutex. The name is stored just before the
    // state leaves analysing, so it may be either; a successful analysis never records an error.
    const std::string name = SourceName(*plug);
    EXPECT_TRUE(name.empty() || name == "while playing.flac") << name;
    EXPECT_EQ(Error(*plug), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (plug->mReferenceTargetPending.load() != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int blocksAfterHandOver = blocks.load() + 2;
  while (blocks.load() < blocksAfterHandOver && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stop = true;
  audio.join();

  ASSERT_EQ(plug->mReferenceState.load(), 0) << Error(*plug);
  EXPECT_EQ(SourceName(*plug), "while playing.flac");
  EXPECT_EQ(plug->mReferenceTargetPending.load(), 0);
  morvellan::BalanceCopy handed;
  ASSERT_TRUE(plug->mReferenceTarget.TryRead(handed));
  EXPECT_TRUE(plug->mEngine.hasTarget);
  EXPECT_EQ(plug->mEngine.targetAbsolute, handed.absolute);
  for (int k = 0; k < morvellan::kNumBands; ++k)
    EXPECT_NEAR(handed.absolute[std::size_t(k)], WhiteNoiseBand(k), 1.0) << "band " << k;
}

TEST_F(ReferenceWorker, OneAnalysisAtATime)
{
  // Long enough that the worker is still busy when the second request arrives.
  WritePink(dir.Path("long.wav"), 48000, 120.0);
  WriteWhiteNoise(dir.Path("other.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 5.0);

  plug->StartFileLearning(dir.Path("long.wav"));
  EXPECT_EQ(plug->mReferenceState.load(), kAnalysing);
  plug->StartFileLearning(dir.Path("other.wav"));
  const bool stillBusy = plug->mReferenceState.load() == kAnalysing;
  ASSERT_EQ(WaitForWorker(*plug), 0) << Error(*plug);
  if (stillBusy)
  {
    EXPECT_EQ(SourceName(*plug), "long.wav");
  }

  // Once it is done, the next start runs.
  plug->StartFileLearning(dir.Path("other.wav"));
  ASSERT_EQ(WaitForWorker(*plug), 0);
  EXPECT_EQ(SourceName(*plug), "other.wav");
}

TEST(ReferenceWorkerLifetime, ReleasingTheInstanceWaitsForARunningAnalysis)
{
  ScratchFolder dir;
  WritePink(dir.Path("long.wav"), 48000, 5.0);
  std::atomic<bool> releasing{false}, workerDone{false};
  {
    auto plug = std::make_unique<TestPlug>();
    plug->Setup(48000.0, 256, 2, 2);
    plug->mLearnWorkerDoneHook = [&] {
      // The worker ends only once the release has begun, and late enough that a release that
      // did not wait would have returned first.
      while (!releasing.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      workerDone = true;
    };
    plug->StartFileLearning(dir.Path("long.wav"));
    EXPECT_EQ(plug->mReferenceState.load(), kAnalysing);
    releasing = true;
  }
  EXPECT_TRUE(workerDone.load());
}

TEST(ReferenceWorkerLifetime, AWorkerThatCannotStartIsAFailure)
{
  ScratchFolder dir;
  WritePink(dir.Path("fine.wav"), 48000, 5.0);
  auto plug = std::make_unique<TestPlug>();
  plug->Setup(48000.0, 256, 2, 2);

  // Ask for thread stacks larger than the address space, so creating the worker fails.
  pthread_attr_t saved, huge;
  ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
  ASSERT_EQ(pthread_attr_init(&huge), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&huge, std::size_t(1) << 50), 0);
  ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
  plug->StartFileLearning(dir.Path("fine.wav"));
  ASSERT_EQ(pthread_setattr_default_np(&saved), 0);
  pthread_attr_destroy(&huge);
  pthread_attr_destroy(&saved);

  EXPECT_EQ(plug->mReferenceState.load(), kFailed);
  EXPECT_EQ(Error(*plug), "could not start the analysis");
  EXPECT_FALSE(plug->mLearnThread.joinable());

  // A later start works normally.
  plug->StartFileLearning(dir.Path("fine.wav"));
  EXPECT_EQ(WaitForWorker(*plug), 0) << Error(*plug);
  EXPECT_EQ(SourceName(*plug), "fine.wav");
}

TEST(ReferenceWorkerLifetime, RunningOutOfMemoryIsAFailureWithItsReason)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' allocators do not honour an address-space limit";
#else
  ScratchFolder dir;
  // A short 192 kHz FLAC whose stream header claims a length past the read cap: the reader makes
  // room for the whole 480 seconds (368 MB), which the limit below does not allow.
  const std::string path = dir.Path("claims long.flac");
  WriteSoundFile(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 192000, 1, PinkNoise(192000 * 3, 9));
  std::vector<std::uint8_t> bytes = morvellan::testing::ReadBytes(path);
  ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "fLaC");
  bytes[21] |= 0x0F; // the 36-bit total length: top four bits, then bytes 22 to 25
  for (std::size_t i = 22; i < 26; ++i)
    bytes[i] = 0xFF;
  morvellan::testing::WriteBytes(path, bytes);

  // In a child process, so that the limit cannot touch the other tests.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0)
  {
    long pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r"))
    {
      if (std::fscanf(f, "%ld", &pages) != 1)
        pages = 0;
      std::fclose(f);
    }
    const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (rlim_t(160) << 20);
    const rlimit rl{limit, limit};
    if (pages == 0 || ::setrlimit(RLIMIT_AS, &rl) != 0)
      ::_exit(10);
    int code = 11;
    {
      TestPlug plug;
      plug.StartFileLearning(path);
      const int state = WaitForWorker(plug);
      if (state == kFailed && Error(plug) == "not enough memory to read the file" && SourceName(plug).empty())
        code = 0;
      else if (state != kFailed)
        code = 12;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

namespace {

// The attribute list a host attaches to a message: binary and integer values by ID.
class Attributes : public Steinberg::Vst::IAttributeList
{
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID, void** obj) override
  {
    *obj = nullptr;
    return Steinberg::kNoInterface;
  }
  Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
  Steinberg::uint32 PLUGIN_API release() override { return 1; }
  Steinberg::tresult PLUGIN_API setInt(AttrID id, Steinberg::int64 value) override
  {
    ints[id] = value;
    return Steinberg::kResultOk;
  }
  Steinberg::tresult PLUGIN_API getInt(AttrID id, Steinberg::int64& value) override
  {
    const auto it = ints.find(id);
    if (it == ints.end())
      return Steinberg::kResultFalse;
    value = it->second;
    return Steinberg::kResultOk;
  }
  Steinberg::tresult PLUGIN_API setFloat(AttrID, double) override { return Steinberg::kResultFalse; }
  Steinberg::tresult PLUGIN_API getFloat(AttrID, double&) override { return Steinberg::kResultFalse; }
  Steinberg::tresult PLUGIN_API setString(AttrID, const Steinberg::Vst::TChar*) override { return Steinberg::kResultFalse; }
  Steinberg::tresult PLUGIN_API getString(AttrID, Steinberg::Vst::TChar*, Steinberg::uint32) override
  {
    return Steinberg::kResultFalse;
  }
  Steinberg::tresult PLUGIN_API setBinary(AttrID id, const void* data, Steinberg::uint32 size) override
  {
    texts[id].assign(static_cast<const char*>(data), size);
    return Steinberg::kResultOk;
  }
  Steinberg::tresult PLUGIN_API getBinary(AttrID id, const void*& data, Steinberg::uint32& size) override
  {
    const auto it = texts.find(id);
    if (it == texts.end())
      return Steinberg::kResultFalse;
    data = it->second.data();
    size = Steinberg::uint32(it->second.size());
    return Steinberg::kResultOk;
  }

  std::map<std::string, std::string> texts;
  std::map<std::string, Steinberg::int64> ints;
};

} // namespace

TEST_F(ReferenceWorker, AHostMessageStartsLearningAndCanWaitForTheResult)
{
  const std::string name = "reference mix – Øre.flac";
  WriteWhiteNoise(dir.Path(name), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 5.0);

  Attributes other;
  EXPECT_FALSE(plug->HandleReferenceMessage("SomethingElse", &other));
  EXPECT_FALSE(plug->HandleReferenceMessage(nullptr, &other));

  Attributes noPath;
  EXPECT_TRUE(plug->HandleReferenceMessage(Morvellan::kLearnReferenceMessage, &noPath));
  EXPECT_EQ(noPath.texts["error"], "the message has no path");
  EXPECT_EQ(plug->mReferenceState.load(), 0);

  Attributes waited;
  waited.texts["path"] = dir.Path(name);
  waited.ints["wait"] = 1;
  ASSERT_TRUE(plug->HandleReferenceMessage(Morvellan::kLearnReferenceMessage, &waited));
  EXPECT_EQ(waited.texts.count("error"), 0u);
  EXPECT_EQ(waited.texts["source"], name);
  EXPECT_EQ(plug->mReferenceState.load(), 0);
  EXPECT_EQ(plug->mReferenceTargetPending.load(), 1);

  Attributes failed;
  failed.texts["path"] = dir.Path("absent.aiff");
  failed.ints["wait"] = 1;
  ASSERT_TRUE(plug->HandleReferenceMessage(Morvellan::kLearnReferenceMessage, &failed));
  EXPECT_EQ(failed.texts["error"], "could not read absent.aiff");

  // Without "wait" the message only starts the worker.
  Attributes started;
  started.texts["path"] = dir.Path(name);
  ASSERT_TRUE(plug->HandleReferenceMessage(Morvellan::kLearnReferenceMessage, &started));
  EXPECT_EQ(started.texts.count("source"), 0u);
  EXPECT_EQ(WaitForWorker(*plug), 0);
}

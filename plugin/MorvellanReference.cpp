#include "Morvellan.h"

#include "ReferenceFileReader.h"
#include "ReferenceLearner.h"

#include <exception>
#include <new>
#include <system_error>

using morvellan::BandBalance;

namespace {

constexpr int kReferenceIdle = 0;
constexpr int kReferenceAnalysing = 1;
constexpr int kReferenceFailed = 2;

void SetError(std::string& error, const char* text) noexcept
{
  try
  {
    error = text;
  }
  catch (...)
  {
    error.clear();
  }
}

// Decodes and learns; any exception becomes an error text, because one escaping a thread ends the host.
bool LearnFromFile(const std::string& path, BandBalance& balance, std::string& error) noexcept
{
  try
  {
    morvellan::AudioData audio;
    return morvellan::LoadAudioFile(path, audio, error, morvellan::kReferenceMaxSeconds) &&
           morvellan::LearnTargetFromSamples(audio.samples, audio.sampleRate, balance, error);
  }
  catch (const std::bad_alloc&)
  {
    SetError(error, "not enough memory to read the file");
  }
  catch (...)
  {
    SetError(error, "the file could not be analysed");
  }
  return false;
}

} // namespace

void Morvellan::StartFileLearning(const std::string& path)
{
  if (mReferenceState.load() == kReferenceAnalysing)
    return;
  if (mLearnThread.joinable())
    mLearnThread.join();
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mReferenceError.clear();
  }
  mReferenceState.store(kReferenceAnalysing);
  try
  {
    mLearnThread = std::thread(&Morvellan::FileLearningWorker, this, path);
  }
  catch (const std::exception&)
  {
    // Without a worker nothing would ever leave the analysing state.
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mReferenceError = "could not start the analysis";
    }
    mReferenceState.store(kReferenceFailed);
  }
}

void Morvellan::FileLearningWorker(std::string path)
{
  BandBalance balance{};
  std::string error;
  const bool learned = LearnFromFile(path, balance, error);
  try
  {
    if (learned)
    {
      std::string name = morvellan::FileNameOf(path);
      // Snapshot, name, pending byte, state: the audio thread sees the byte only after the record is whole.
      mReferenceTarget.Write(balance, balance, true);
      {
        std::lock_guard<std::mutex> lock(mMutex);
        mTargetSourceName = std::move(name);
      }
      mReferenceTargetPending.store(1, std::memory_order_release);
      mReferenceState.store(kReferenceIdle);
      return;
    }
    std::lock_guard<std::mutex> lock(mMutex);
    mReferenceError = std::move(error);
  }
  catch (...)
  {
  }
  mReferenceState.store(kReferenceFailed);
}

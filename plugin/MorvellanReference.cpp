#include "Morvellan.h"

#include "HostMessageText.h"

#include "ReferenceFileReader.h"
#include "ReferenceLearner.h"

#include <exception>
#include <new>
#include <string_view>
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

// Decodes and learns, and names the source; any exception becomes an error text, because one
// escaping a thread ends the host.
bool LearnFromFile(const std::string& path, BandBalance& balance, std::string& name, std::string& error) noexcept
{
  try
  {
    if (!morvellan::LearnTargetFromFile(path, balance, error))
      return false;
    name = morvellan::FileNameOf(path);
    return true;
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

void Morvellan::SetTargetSource(std::string name)
{
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mTargetSourceName = std::move(name);
    mReferenceError.clear();
  }
  // A failed analysis is forgotten with its text; a running one finishes on its own.
  int failed = kReferenceFailed;
  mReferenceState.compare_exchange_strong(failed, kReferenceIdle);
}

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
  std::string name, error;
  const bool learned = LearnFromFile(path, balance, name, error);
  int outcome = kReferenceFailed;
  try
  {
    if (learned)
    {
      // Snapshot, name, pending byte, state: the audio thread sees the byte only after the record is whole.
      mReferenceTarget.Write(balance, balance, true);
      {
        std::lock_guard<std::mutex> lock(mMutex);
        mTargetSourceName = std::move(name);
      }
      mReferenceTargetPending.store(1, std::memory_order_release);
      outcome = kReferenceIdle;
    }
    else
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mReferenceError = std::move(error);
    }
  }
  catch (...)
  {
  }
  mReferenceState.store(outcome);
  if (mLearnWorkerDoneHook)
    mLearnWorkerDoneHook();
}

bool Morvellan::HandleReferenceMessage(const char* messageId, Steinberg::Vst::IAttributeList* attributes)
{
  if (!messageId || std::string_view(messageId) != kLearnReferenceMessage)
    return false;
  std::string path;
  if (!morvellan::ReadMessageText(attributes, "path", path) || path.empty())
  {
    morvellan::WriteMessageText(attributes, "error", "the message has no path");
    return true;
  }
  if (mReferenceState.load() == kReferenceAnalysing)
  {
    morvellan::WriteMessageText(attributes, "error", "an analysis is already running");
    return true;
  }

  StartFileLearning(path);
  Steinberg::int64 wait = 0;
  if (attributes->getInt("wait", wait) != Steinberg::kResultOk || wait == 0)
    return true;
  // The worker never takes the UI lock, so waiting for it here cannot deadlock.
  if (mLearnThread.joinable())
    mLearnThread.join();
  std::string error, source;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    error = mReferenceError;
    source = mTargetSourceName;
  }
  if (mReferenceState.load() == kReferenceFailed)
    morvellan::WriteMessageText(attributes, "error", error);
  else
    morvellan::WriteMessageText(attributes, "source", source);
  return true;
}

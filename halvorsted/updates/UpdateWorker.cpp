#include "halvorsted/updates/UpdateWorker.h"

#include <csignal>
#include <pthread.h>

namespace halvorsted::updates {

UpdateWorker::~UpdateWorker()
{
  Stop();
}

bool UpdateWorker::Start(std::shared_ptr<UpdateCheck> check, std::chrono::milliseconds firstDelay,
                         std::chrono::milliseconds interval)
{
  if (!check || mThread.joinable())
    return false;
  try
  {
    {
      std::lock_guard lock(mMutex);
      mStopping = false;
    }
    mCheck = check;
    mThread = std::thread(&UpdateWorker::Run, this, std::move(check), firstDelay, interval);
    return true;
  }
  catch (...)
  {
    // No thread: the plug-in simply runs without update checks.
    mCheck.reset();
    return false;
  }
}

void UpdateWorker::Stop()
{
  if (!mThread.joinable())
    return;
  {
    std::lock_guard lock(mMutex);
    mStopping = true;
  }
  if (mCheck)
    mCheck->CancelRequests();
  mWake.notify_all();
  mThread.join();
  mCheck.reset();
}

void UpdateWorker::Run(std::shared_ptr<UpdateCheck> check, std::chrono::milliseconds firstDelay,
                       std::chrono::milliseconds interval)
{
  // A write to a server that hung up must fail with EPIPE here, not raise SIGPIPE in the host.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  try
  {
    std::unique_lock lock(mMutex);
    mWake.wait_for(lock, firstDelay, [this] { return mStopping; });
    while (!mStopping)
    {
      lock.unlock();
      RunUpdateCheck(*check);
      lock.lock();
      mWake.wait_for(lock, interval, [this] { return mStopping; });
    }
  }
  catch (...)
  {
    // Nothing may leave a thread function; the check just stops for this instance.
  }
}

} // namespace halvorsted::updates

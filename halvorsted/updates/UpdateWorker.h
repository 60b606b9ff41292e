#pragma once

#include "halvorsted/updates/UpdateCheck.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace halvorsted::updates {

// The background thread that runs RunUpdateCheck now and then while its owner lives. It holds
// its own reference to the update check; Stop (and the destructor) cancels a request under way
// and joins, so the thread never outlives its owner or the module.
class UpdateWorker
{
public:
  // The first round waits a little: hosts that scan plug-ins create and drop instances at once.
  static constexpr std::chrono::milliseconds kDefaultFirstDelay{2'000};
  static constexpr std::chrono::milliseconds kDefaultInterval{60'000};

  UpdateWorker() = default;
  ~UpdateWorker();

  UpdateWorker(const UpdateWorker&) = delete;
  UpdateWorker& operator=(const UpdateWorker&) = delete;

  // Runs a first round after firstDelay, then one every interval. False when no thread could be started.
  bool Start(std::shared_ptr<UpdateCheck> check, std::chrono::milliseconds firstDelay = kDefaultFirstDelay,
             std::chrono::milliseconds interval = kDefaultInterval);
  void Stop();
  bool IsRunning() const { return mThread.joinable(); }

private:
  void Run(std::shared_ptr<UpdateCheck> check, std::chrono::milliseconds firstDelay,
           std::chrono::milliseconds interval);

  std::thread mThread;
  std::shared_ptr<UpdateCheck> mCheck;
  std::mutex mMutex;
  std::condition_variable mWake;
  bool mStopping = false;
};

} // namespace halvorsted::updates

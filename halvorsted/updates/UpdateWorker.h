#pragma once

#include "halvorsted/updates/UpdateCheck.h"

#include <chrono>
#include <memory>

namespace halvorsted::updates {

// A check's place on the process's one update thread, which runs RunUpdateCheck for every
// started check in turn: each after its first delay, then once every interval. The thread
// holds its own reference to a check while it runs a round. Stop (and the destructor) takes
// the check off and cancels its request under way, without waiting for another check's
// round; the last Stop, or the module's exit, joins the thread.
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

  // False when already started or when no thread could be started.
  bool Start(std::shared_ptr<UpdateCheck> check, std::chrono::milliseconds firstDelay = kDefaultFirstDelay,
             std::chrono::milliseconds interval = kDefaultInterval);
  void Stop();
  bool IsRunning() const { return mSlot != nullptr; }

  struct Slot;

private:
  std::shared_ptr<Slot> mSlot;
};

} // namespace halvorsted::updates

#include "BalanceSnapshot.h"

#include <thread>

namespace morvellan {

bool BalanceSnapshot::TryWrite(const BandBalance& relative, const BandBalance& absolute, bool valid)
{
  std::uint32_t seq = mSequence.load(std::memory_order_relaxed);
  if (seq & 1u)
    return false;
  if (!mSequence.compare_exchange_strong(seq, seq + 1u, std::memory_order_acq_rel, std::memory_order_relaxed))
    return false;
  // Keeps the element stores below from becoming visible before the odd counter.
  std::atomic_thread_fence(std::memory_order_release);
  for (int k = 0; k < kNumBands; ++k)
  {
    mRelative[k].store(relative[k], std::memory_order_relaxed);
    mAbsolute[k].store(absolute[k], std::memory_order_relaxed);
  }
  mValid.store(valid, std::memory_order_relaxed);
  mSequence.fetch_add(1u, std::memory_order_release);
  return true;
}

void BalanceSnapshot::Write(const BandBalance& relative, const BandBalance& absolute, bool valid)
{
  while (!TryWrite(relative, absolute, valid))
    std::this_thread::yield();
}

bool BalanceSnapshot::TryRead(BalanceCopy& copy) const
{
  const std::uint32_t before = mSequence.load(std::memory_order_acquire);
  if (before & 1u)
    return false;
  BalanceCopy local;
  for (int k = 0; k < kNumBands; ++k)
  {
    local.relative[k] = mRelative[k].load(std::memory_order_relaxed);
    local.absolute[k] = mAbsolute[k].load(std::memory_order_relaxed);
  }
  local.valid = mValid.load(std::memory_order_relaxed);
  // Keeps the element loads above from moving past the second reading of the counter.
  std::atomic_thread_fence(std::memory_order_acquire);
  if (mSequence.load(std::memory_order_relaxed) != before)
    return false;
  copy = local;
  return true;
}

} // namespace morvellan

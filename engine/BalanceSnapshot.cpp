#include "BalanceSnapshot.h"

#include <thread>

namespace morvellan {

bool BalanceSnapshot::TryWrite(const BandBalance& newRelative, const BandBalance& newAbsolute, bool newValid)
{
  std::uint32_t seq = sequence.load(std::memory_order_relaxed);
  if (seq & 1u)
    return false;
  if (!sequence.compare_exchange_strong(seq, seq + 1u, std::memory_order_acq_rel, std::memory_order_relaxed))
    return false;
  // Keeps the element stores below from becoming visible before the odd counter.
  std::atomic_thread_fence(std::memory_order_release);
  for (int k = 0; k < kNumBands; ++k)
  {
    relative[k].store(newRelative[k], std::memory_order_relaxed);
    absolute[k].store(newAbsolute[k], std::memory_order_relaxed);
  }
  valid.store(newValid, std::memory_order_relaxed);
  sequence.fetch_add(1u, std::memory_order_release);
  return true;
}

void BalanceSnapshot::Write(const BandBalance& newRelative, const BandBalance& newAbsolute, bool newValid)
{
  while (!TryWrite(newRelative, newAbsolute, newValid))
    std::this_thread::yield();
}

bool BalanceSnapshot::TryRead(BalanceCopy& copy) const
{
  const std::uint32_t before = sequence.load(std::memory_order_acquire);
  if (before & 1u)
    return false;
  BalanceCopy local;
  for (int k = 0; k < kNumBands; ++k)
  {
    local.relative[k] = relative[k].load(std::memory_order_relaxed);
    local.absolute[k] = absolute[k].load(std::memory_order_relaxed);
  }
  local.valid = valid.load(std::memory_order_relaxed);
  // Keeps the element loads above from moving past the second reading of the counter.
  std::atomic_thread_fence(std::memory_order_acquire);
  if (sequence.load(std::memory_order_relaxed) != before)
    return false;
  copy = local;
  return true;
}

} // namespace morvellan

#pragma once

#include "BandGeometry.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace morvellan {

// A plain copy of a snapshot's contents.
struct BalanceCopy
{
  BandBalance relative{};
  BandBalance absolute{};
  bool valid = false;
};

// A target passed between threads without a lock (a sequence lock). The counter is odd while a
// write is under way. Writers claim the record by moving the counter from even to odd with a
// compare-exchange, so two writes can never overlap even if two threads try at once; a reader
// never waits and accepts a copy only when the counter was even and unchanged around it.
// Elements are relaxed atomics, ordered by the fences around them, so copies are race-free.
class BalanceSnapshot
{
public:
  // Fails at once, writing nothing, while another writer holds the record. Audio-thread safe.
  bool TryWrite(const BandBalance& newRelative, const BandBalance& newAbsolute, bool newValid);
  // Retries TryWrite until it succeeds; only for threads that may wait (never the audio thread).
  void Write(const BandBalance& newRelative, const BandBalance& newAbsolute, bool newValid);
  // Fails when a write is under way or happened during the copy; the caller tries again later.
  bool TryRead(BalanceCopy& copy) const;

  std::uint32_t Sequence() const { return sequence.load(std::memory_order_acquire); }

private:
  // Lets a test hold a write open, as a writer on another thread does between its two increments.
  friend struct BalanceSnapshotWriteHold;

  std::atomic<std::uint32_t> sequence{0};
  std::array<std::atomic<double>, kNumBands> relative{};
  std::array<std::atomic<double>, kNumBands> absolute{};
  std::atomic<bool> valid{false};

  static_assert(std::atomic<double>::is_always_lock_free);
};

} // namespace morvellan

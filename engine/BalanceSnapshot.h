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
  bool TryWrite(const BandBalance& relative, const BandBalance& absolute, bool valid);
  // Retries TryWrite until it succeeds; only for threads that may wait (never the audio thread).
  void Write(const BandBalance& relative, const BandBalance& absolute, bool valid);
  // Fails when a write is under way or happened during the copy; the caller tries again later.
  bool TryRead(BalanceCopy& copy) const;

  std::uint32_t Sequence() const { return mSequence.load(std::memory_order_acquire); }

private:
  std::atomic<std::uint32_t> mSequence{0};
  std::array<std::atomic<double>, kNumBands> mRelative{};
  std::array<std::atomic<double>, kNumBands> mAbsolute{};
  std::atomic<bool> mValid{false};

  static_assert(std::atomic<double>::is_always_lock_free);
};

// A target handed to the audio thread by one other thread (state restore, file learner, target
// loader). The writer fills the snapshot first and raises the pending byte afterwards; the audio
// thread takes the byte by exchange and reads, re-arming the byte when the read was torn so the
// next block retries. The audio thread thus only reads hand-overs and stays the sole writer of
// whatever it publishes.
class TargetHandOver
{
public:
  // Writer side (not the audio thread).
  void Offer(const BandBalance& relative, const BandBalance& absolute, bool valid);
  // Audio thread: true when a hand-over was pending and a consistent copy was read.
  bool Take(BalanceCopy& copy);
  // Any thread: whether a hand-over waits to be taken.
  bool Pending() const { return mPending.load(std::memory_order_acquire) != 0; }
  // Any thread: the last offered value, without taking it (one try).
  bool TryPeek(BalanceCopy& copy) const { return mSnapshot.TryRead(copy); }

private:
  BalanceSnapshot mSnapshot;
  std::atomic<std::uint8_t> mPending{0};
};

} // namespace morvellan

#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace iplug
{

// Single-producer single-consumer ring buffer of fixed capacity. Push and Pop never
// lock or allocate, so the audio thread can push while the UI thread pops.
template <class T, size_t Capacity>
class IPlugQueue
{
  static_assert(Capacity >= 2, "one slot stays free to tell full from empty");

public:
  // Producer side; false when full (the item is dropped).
  bool Push(const T& item)
  {
    const size_t head = mHead.load(std::memory_order_relaxed);
    const size_t next = (head + 1) % Capacity;
    if (next == mTail.load(std::memory_order_acquire))
      return false;
    mItems[head] = item;
    mHead.store(next, std::memory_order_release);
    return true;
  }

  // Consumer side; false when empty.
  bool Pop(T& item)
  {
    const size_t tail = mTail.load(std::memory_order_relaxed);
    if (tail == mHead.load(std::memory_order_acquire))
      return false;
    item = mItems[tail];
    mTail.store((tail + 1) % Capacity, std::memory_order_release);
    return true;
  }

  size_t ElementsAvailable() const
  {
    const size_t head = mHead.load(std::memory_order_acquire);
    const size_t tail = mTail.load(std::memory_order_acquire);
    return (head + Capacity - tail) % Capacity;
  }

private:
  std::array<T, Capacity> mItems{};
  alignas(64) std::atomic<size_t> mHead{0}; // next slot the producer writes
  alignas(64) std::atomic<size_t> mTail{0}; // next slot the consumer reads
};

} // namespace iplug

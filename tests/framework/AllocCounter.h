#pragma once

#include <atomic>

// Counts operator new calls made on a thread inside a CountScope. Not available under
// AddressSanitizer, which replaces operator new itself.
namespace alloccount
{
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kActive = false;
#else
constexpr bool kActive = true;
#endif

extern std::atomic<int> gAllocations;
void SetCounting(bool on);

struct CountScope
{
  CountScope() { SetCounting(true); }
  ~CountScope() { SetCounting(false); }
};
} // namespace alloccount

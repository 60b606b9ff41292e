#pragma once

#include <atomic>
#include <chrono>

namespace halvorsted::testing {

// Host names ending in this suffix take kSlowLookupTime to resolve and then fail; every other
// name resolves normally. Lets a test put a transfer in the middle of a name lookup.
inline constexpr const char* kSlowLookupSuffix = ".slow-lookup.test";
inline constexpr std::chrono::milliseconds kSlowLookupTime{3'000};

// Lookups of such names that have started and that have ended.
extern std::atomic<int> gSlowLookupsStarted;
extern std::atomic<int> gSlowLookupsEnded;

// Waits until every slow lookup that started has ended (libcurl may have left its thread behind).
bool WaitForSlowLookups(std::chrono::milliseconds limit);

} // namespace halvorsted::testing

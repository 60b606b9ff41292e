#include "SlowLookup.h"

#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <thread>

namespace halvorsted::testing {

std::atomic<int> gSlowLookupsStarted{0};
std::atomic<int> gSlowLookupsEnded{0};

bool WaitForSlowLookups(std::chrono::milliseconds limit)
{
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (gSlowLookupsEnded.load() < gSlowLookupsStarted.load())
  {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The resolver thread still has to tidy up after the call returns.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return true;
}

namespace {

bool IsSlowName(const char* name)
{
  if (name == nullptr)
    return false;
  const size_t length = std::strlen(name);
  const size_t suffix = std::strlen(kSlowLookupSuffix);
  return length > suffix && std::strcmp(name + length - suffix, kSlowLookupSuffix) == 0;
}

} // namespace

} // namespace halvorsted::testing

// Stands in for the C library's resolver in this test program; libcurl's resolver thread calls it.
extern "C" int getaddrinfo(const char* __restrict name, const char* __restrict service,
                           const struct addrinfo* __restrict hints, struct addrinfo** __restrict result)
{
  using namespace halvorsted::testing;
  if (IsSlowName(name))
  {
    ++gSlowLookupsStarted;
    std::this_thread::sleep_for(kSlowLookupTime);
    ++gSlowLookupsEnded;
    return EAI_AGAIN;
  }
  using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
  static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
  if (real == nullptr)
    return EAI_FAIL;
  return real(name, service, hints, result);
}

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace halvorsted::platform {

inline constexpr size_t kMaxHttpBodyBytes = 65536;

struct HttpResult
{
  int32_t status = 0; // 0 when no complete response arrived
  std::string body;   // at most kMaxHttpBodyBytes; empty whenever status is 0
  uint32_t retryAfterSeconds = 0;
};

struct HttpRequestOptions
{
  // Set from another thread to end a transfer under way (and refuse new ones) within about 50 ms.
  const std::atomic<bool>* cancel = nullptr;
  // For tests only: PEM certificates trusted instead of the system's bundle.
  std::string trustedCaPemForTesting;
};

// One blocking GET of an http or https URL; every failure is status 0. Each phase (resolve and
// connect, waiting for data) has timeoutSeconds; the whole exchange gets at most four times that.
HttpResult HttpGet(const std::string& url, uint32_t timeoutSeconds);

HttpResult HttpRequest(const std::string& url, uint32_t timeoutSeconds, const HttpRequestOptions& options = {});

} // namespace halvorsted::platform

#include "halvorsted/http/HttpClient.h"

#include <cstring>
#include <curl/curl.h>
#include <dlfcn.h>
#include <mutex>
#include <string_view>

namespace halvorsted::platform {

namespace {

constexpr const char* kUserAgent = "Halvorsted plug-in";
constexpr size_t kMaxHostChars = 255;
constexpr size_t kMaxPathChars = 2047;
constexpr uint32_t kMaxRetryAfterSeconds = 3600;
constexpr long kPollSliceMs = 50;

void EnsureCurlInitialised()
{
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // With CURLOPT_QUICK_EXIT libcurl detaches a resolver thread whose lookup was cut short; that
    // thread must never run after the host unloads our module and libcurl with it, so libcurl
    // stays loaded for good.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&curl_version), &info) != 0 && info.dli_fname != nullptr)
      dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  });
}

struct Exchange
{
  std::string body;
  uint32_t retryAfterSeconds = 0;
  bool retryAfterSeen = false;
};

size_t OnBodyBytes(char* data, size_t size, size_t count, void* user)
{
  auto* exchange = static_cast<Exchange*>(user);
  const size_t n = size * count;
  // An over-long body is a failure, never a truncated success: a short count aborts the transfer.
  if (n > kMaxHttpBodyBytes - exchange->body.size())
    return 0;
  exchange->body.append(data, n);
  return n;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
  if (text.size() < prefix.size())
    return false;
  for (size_t i = 0; i < prefix.size(); ++i)
  {
    char c = text[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i])
      return false;
  }
  return true;
}

// Only the delay-seconds form counts; an HTTP date or anything odd reads as none.
uint32_t ParseRetryAfter(std::string_view value)
{
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
    value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r' || value.back() == '\n'))
    value.remove_suffix(1);
  if (value.empty() || value.size() > 10)
    return 0;
  uint64_t seconds = 0;
  for (const char c : value)
  {
    if (c < '0' || c > '9')
      return 0;
    seconds = seconds * 10 + static_cast<uint64_t>(c - '0');
  }
  return seconds >= 1 && seconds <= kMaxRetryAfterSeconds ? static_cast<uint32_t>(seconds) : 0;
}

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user)
{
  auto* exchange = static_cast<Exchange*>(user);
  const size_t n = size * count;
  const std::string_view line(data, n);
  if (StartsWithNoCase(line, "http/"))
  {
    // A new response (after an interim 1xx) starts clean.
    exchange->retryAfterSeconds = 0;
    exchange->retryAfterSeen = false;
  }
  else if (StartsWithNoCase(line, "retry-after:") && !exchange->retryAfterSeen)
  {
    // The first Retry-After of a response counts; repeats are ignored.
    exchange->retryAfterSeen = true;
    exchange->retryAfterSeconds = ParseRetryAfter(line.substr(std::strlen("retry-after:")));
  }
  return n;
}

struct UrlHandle
{
  CURLU* handle = curl_url();
  ~UrlHandle() { curl_url_cleanup(handle); }
};

struct HeaderList
{
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
};

// Declared in this order so the transfer leaves the multi handle before either is freed.
struct TransferHandles
{
  CURLM* multi = curl_multi_init();
  CURL* easy = curl_easy_init();
  bool added = false;
  ~TransferHandles()
  {
    if (added)
      curl_multi_remove_handle(multi, easy);
    if (easy != nullptr)
      curl_easy_cleanup(easy);
    if (multi != nullptr)
      curl_multi_cleanup(multi);
  }
};

std::string UrlPart(CURLU* url, CURLUPart part)
{
  char* value = nullptr;
  if (curl_url_get(url, part, &value, 0) != CURLUE_OK || value == nullptr)
    return {};
  std::string copy(value);
  curl_free(value);
  return copy;
}

// Only http and https with a host: the feed address can come from the environment.
bool AcceptUrl(CURLU* url, const std::string& text)
{
  if (text.empty() || std::strlen(text.c_str()) != text.size())
    return false;
  if (curl_url_set(url, CURLUPART_URL, text.c_str(), 0) != CURLUE_OK)
    return false;
  const std::string scheme = UrlPart(url, CURLUPART_SCHEME);
  if (scheme != "http" && scheme != "https")
    return false;
  const std::string host = UrlPart(url, CURLUPART_HOST);
  return !host.empty() && host.size() <= kMaxHostChars && UrlPart(url, CURLUPART_PATH).size() <= kMaxPathChars;
}

bool Cancelled(const HttpRequestOptions& options)
{
  return options.cancel != nullptr && options.cancel->load(std::memory_order_acquire);
}

HttpResult RunRequest(const std::string& url, uint32_t timeoutSeconds, const HttpRequestOptions& options)
{
  HttpResult result;
  if (Cancelled(options))
    return result;
  EnsureCurlInitialised();

  UrlHandle parsed;
  if (parsed.handle == nullptr || !AcceptUrl(parsed.handle, url))
    return result;

  // The header list and the callbacks' data outlive the transfer handles declared after them.
  HeaderList headers;
  headers.list = curl_slist_append(nullptr, "Accept: application/json");
  Exchange exchange;
  TransferHandles handles;
  if (handles.multi == nullptr || handles.easy == nullptr || headers.list == nullptr)
    return result;

  const long phaseMs = static_cast<long>(timeoutSeconds == 0 ? 1 : timeoutSeconds) * 1000;
  CURL* easy = handles.easy;
  bool configured = curl_easy_setopt(easy, CURLOPT_CURLU, parsed.handle) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, phaseMs) == CURLE_OK &&
                    // A stalled server: less than one byte a second for a whole phase.
                    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, phaseMs / 1000) == CURLE_OK &&
                    // A server that drips bytes slowly still ends within the overall deadline.
                    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 4 * phaseMs) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                                     static_cast<curl_off_t>(kMaxHttpBodyBytes)) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK &&
                    // Otherwise a time-out or cancel in the middle of a name lookup waits for the
                    // lookup to finish, however long the system resolver takes.
                    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBodyBytes) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeaderLine) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange) == CURLE_OK;
  if (configured && !options.trustedCaPemForTesting.empty())
  {
    curl_blob blob{const_cast<char*>(options.trustedCaPemForTesting.data()),
                   options.trustedCaPemForTesting.size(), CURL_BLOB_COPY};
    configured = curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob) == CURLE_OK;
  }
  if (!configured || curl_multi_add_handle(handles.multi, easy) != CURLM_OK)
    return result;
  handles.added = true;

  // Driven in short slices so a cancel request ends the transfer promptly.
  int running = 1;
  while (running > 0)
  {
    if (Cancelled(options))
      return result;
    if (curl_multi_perform(handles.multi, &running) != CURLM_OK)
      return result;
    if (running > 0 && curl_multi_poll(handles.multi, nullptr, 0, kPollSliceMs, nullptr) != CURLM_OK)
      return result;
  }

  CURLcode outcome = CURLE_FAILED_INIT;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(handles.multi, &queued))
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
      outcome = message->data.result;
  if (outcome != CURLE_OK)
    return result;

  long status = 0;
  if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status <= 0 || status > 999)
    return result;

  result.status = static_cast<int32_t>(status);
  result.body = std::move(exchange.body);
  result.retryAfterSeconds = exchange.retryAfterSeconds;
  return result;
}

} // namespace

HttpResult HttpRequest(const std::string& url, uint32_t timeoutSeconds, const HttpRequestOptions& options)
{
  try
  {
    return RunRequest(url, timeoutSeconds, options);
  }
  catch (...)
  {
    return {};
  }
}

HttpResult HttpGet(const std::string& url, uint32_t timeoutSeconds)
{
  return HttpRequest(url, timeoutSeconds);
}

} // namespace halvorsted::platform

#include "halvorsted/http/HttpClient.h"

#include "LocalServer.h"
#include "SlowLookup.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>

using halvorsted::platform::HttpGet;
using halvorsted::platform::HttpRequest;
using halvorsted::platform::HttpRequestOptions;
using halvorsted::platform::HttpResult;
using halvorsted::testing::LocalServer;
using halvorsted::testing::MakeSelfSignedIdentity;
using halvorsted::testing::gSlowLookupsStarted;
using halvorsted::testing::kSlowLookupSuffix;
using halvorsted::testing::WaitForSlowLookups;
using namespace std::chrono_literals;

namespace {

LocalServer::Handler Reply(std::string raw)
{
  return [raw](LocalServer::Connection& c, const std::string&) { c.Send(raw); };
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ExpectFailure(const HttpResult& r)
{
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.body.empty());
  EXPECT_EQ(r.retryAfterSeconds, 0u);
}

class HttpClient : public ::testing::Test
{
protected:
  // Requests to 127.0.0.1 must not wander off to a proxy from the environment.
  void SetUp() override
  {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
      unsetenv(name);
  }
};

} // namespace

TEST_F(HttpClient, SendsOneGetWithTheFixedHeadersAndReturnsTheBody)
{
  LocalServer server(Reply(LocalServer::Response(200, "{\"a\":1}")));
  const HttpResult r = HttpGet(server.Url("/updates.json"), 2);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "{\"a\":1}");
  EXPECT_EQ(r.retryAfterSeconds, 0u);

  ASSERT_EQ(server.RequestCount(), 1u);
  const std::string head = server.Requests()[0];
  EXPECT_EQ(head.rfind("GET /updates.json HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: Halvorsted plug-in\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nAccept: application/json\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"), std::string::npos);
  EXPECT_EQ(head.find("Cookie"), std::string::npos);
  EXPECT_EQ(head.find("Accept-Encoding"), std::string::npos);
}

TEST_F(HttpClient, ReturnsEveryStatusWithItsBodyAndFollowsNoRedirect)
{
  {
    LocalServer server(Reply(LocalServer::Response(404, "not here")));
    const HttpResult r = HttpGet(server.Url("/x"), 2);
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body, "not here");
  }
  {
    LocalServer server(Reply(LocalServer::Response(503, "", "Retry-After: 30\r\n")));
    const HttpResult r = HttpGet(server.Url("/x"), 2);
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.retryAfterSeconds, 30u);
  }
  {
    std::string location;
    LocalServer server([&](LocalServer::Connection& c, const std::string&) {
      c.Send(LocalServer::Response(302, "moved", "Location: /elsewhere.json\r\n"));
    });
    const HttpResult r = HttpGet(server.Url("/updates.json"), 2);
    EXPECT_EQ(r.status, 302);
    EXPECT_EQ(r.body, "moved");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.RequestCount(), 1u);
  }
}

TEST_F(HttpClient, BodyCapIsAFailureNeverATruncation)
{
  const std::string exact(65536, 'e');
  {
    LocalServer server(Reply(LocalServer::Response(200, exact)));
    const HttpResult r = HttpGet(server.Url("/"), 2);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, exact);
  }
  {
    LocalServer server(Reply(LocalServer::Response(200, exact + "e")));
    ExpectFailure(HttpGet(server.Url("/"), 2));
  }
  {
    // No length announced: the cap must still hold while the body streams in.
    LocalServer server(Reply("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + exact + "ee"));
    ExpectFailure(HttpGet(server.Url("/"), 2));
  }
  {
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    for (int i = 0; i < 17; ++i)
      chunked += "1000\r\n" + std::string(4096, 'c') + "\r\n";
    chunked += "0\r\n\r\n";
    LocalServer server(Reply(chunked));
    ExpectFailure(HttpGet(server.Url("/"), 2));
  }
}

TEST_F(HttpClient, RetryAfterIsKeptOnlyAsSecondsFromOneTo3600)
{
  const std::pair<std::string, uint32_t> cases[] = {
    {"Retry-After: 120\r\n", 120}, {"retry-after:1\r\n", 1},    {"Retry-After: 3600\r\n", 3600},
    {"Retry-After: 0\r\n", 0},     {"Retry-After: 3601\r\n", 0}, {"Retry-After: -5\r\n", 0},
    {"Retry-After: 12abc\r\n", 0}, {"Retry-After: Wed, 21 Oct 2026 07:28:00 GMT\r\n", 0},
    {"Retry-After: 99999999999999999999\r\n", 0}, {"", 0},
    // The first header of the response counts, whatever follows it.
    {"Retry-After: 5\r\nRetry-After: 7\r\n", 5}, {"Retry-After: 0\r\nRetry-After: 7\r\n", 0},
  };
  for (const auto& [header, expected] : cases)
  {
    LocalServer server(Reply(LocalServer::Response(429, "{}", header)));
    const HttpResult r = HttpGet(server.Url("/"), 2);
    EXPECT_EQ(r.status, 429) << header;
    EXPECT_EQ(r.retryAfterSeconds, expected) << header;
  }

  // An interim response's header does not carry over to the final one.
  {
    LocalServer server(Reply("HTTP/1.1 100 Continue\r\nRetry-After: 50\r\n\r\n" +
                             LocalServer::Response(503, "{}")));
    const HttpResult r = HttpGet(server.Url("/"), 2);
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.retryAfterSeconds, 0u);
  }
  {
    LocalServer server(Reply("HTTP/1.1 100 Continue\r\n\r\n" + LocalServer::Response(503, "{}", "Retry-After: 40\r\n")));
    const HttpResult r = HttpGet(server.Url("/"), 2);
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.retryAfterSeconds, 40u);
  }
}

TEST_F(HttpClient, CutOffOrSilentServersGiveStatusZero)
{
  {
    LocalServer server(Reply("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"partial\""));
    ExpectFailure(HttpGet(server.Url("/"), 2));
  }
  {
    LocalServer server(Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n{\"a\":"));
    ExpectFailure(HttpGet(server.Url("/"), 2));
  }
  {
    LocalServer server(Reply(""));
    ExpectFailure(HttpGet(server.Url("/"), 2));
  }
  {
    LocalServer server(Reply("garbage that is not http\r\n\r\n"));
    ExpectFailure(HttpGet(server.Url("/"), 2));
  }
  {
    // Headers, then silence: the receive phase's time-out ends it.
    LocalServer server([](LocalServer::Connection& c, const std::string&) {
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n{");
      c.WaitForStop(10s);
    });
    const auto start = std::chrono::steady_clock::now();
    ExpectFailure(HttpGet(server.Url("/"), 1));
    EXPECT_LT(SecondsSince(start), 5.0);
  }
  {
    LocalServer server([](LocalServer::Connection& c, const std::string&) { c.WaitForStop(10s); });
    const auto start = std::chrono::steady_clock::now();
    ExpectFailure(HttpGet(server.Url("/"), 1));
    EXPECT_LT(SecondsSince(start), 5.0);
  }
}

TEST_F(HttpClient, ADripFeedingServerMeetsTheOverallDeadline)
{
  LocalServer server([](LocalServer::Connection& c, const std::string&) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
    // A byte every 100 ms keeps well above the stall limit even on a loaded machine.
    while (!c.WaitForStop(100ms))
      if (!c.Send("x"))
        return;
  });
  const auto start = std::chrono::steady_clock::now();
  ExpectFailure(HttpGet(server.Url("/"), 2));
  const double seconds = SecondsSince(start);
  EXPECT_GT(seconds, 4.0); // it was still receiving: only the overall deadline could end it
  EXPECT_LT(seconds, 14.0);
}

TEST_F(HttpClient, CancelEndsATransferUnderWayPromptly)
{
  LocalServer server([](LocalServer::Connection& c, const std::string&) { c.WaitForStop(20s); });
  std::atomic<bool> cancel{false};
  HttpRequestOptions options;
  options.cancel = &cancel;
  std::chrono::steady_clock::time_point cancelledAt;
  std::thread canceller([&] {
    // The transfer is under way once the server holds the request; a loaded machine may take a
    // while to get there. Left alone, the stalled request would end only after 8 s.
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    while (server.RequestCount() == 0 && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(5ms);
    cancelledAt = std::chrono::steady_clock::now();
    cancel = true;
  });
  ExpectFailure(HttpRequest(server.Url("/"), 8, options));
  const auto ended = std::chrono::steady_clock::now();
  canceller.join();
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_LT(std::chrono::duration<double>(ended - cancelledAt).count(), 2.0);

  // Already cancelled: nothing is sent at all.
  ExpectFailure(HttpRequest(server.Url("/"), 8, options));
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(HttpClient, OnlyHttpAndHttpsUrlsWithAHostAreFetched)
{
  LocalServer server(Reply(LocalServer::Response(200, "{}")));
  const std::string port = std::to_string(server.Port());
  const std::string refused[] = {
    "",
    "file:///etc/passwd",
    "FILE:///etc/hostname",
    "ftp://127.0.0.1:" + port + "/updates.json",
    "gopher://127.0.0.1:" + port + "/",
    "dict://127.0.0.1:" + port + "/",
    "127.0.0.1:" + port + "/updates.json",
    "http://",
    "http:///updates.json",
    std::string("http://127.0.0.1:") + port + std::string("/a\0b", 4),
    "http://127.0.0.1:" + port + "/has space",
    "http://" + std::string(300, 'h') + "/",
  };
  for (const auto& url : refused)
    ExpectFailure(HttpGet(url, 1));
  EXPECT_EQ(server.RequestCount(), 0u);

  EXPECT_EQ(HttpGet("HTTP://127.0.0.1:" + port + "/ok", 2).status, 200);
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(HttpClient, HttpsVerifiesTheCertificateAndTrustsAGivenCa)
{
  const auto identity = MakeSelfSignedIdentity();
  LocalServer server(Reply(LocalServer::Response(200, "{\"secure\":true}")), &identity);
  ASSERT_EQ(server.Url("/").rfind("https://", 0), 0u);

  // The system's CAs do not know this certificate.
  ExpectFailure(HttpGet(server.Url("/updates.json"), 2));
  EXPECT_EQ(server.RequestCount(), 0u);

  HttpRequestOptions options;
  options.trustedCaPemForTesting = identity.certificatePem;
  const HttpResult r = HttpRequest(server.Url("/updates.json"), 2, options);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "{\"secure\":true}");
  ASSERT_EQ(server.RequestCount(), 1u);

  // Trusting the CA does not waive the name check: "localhost" is not in the certificate.
  const std::string byName = "https://localhost:" + std::to_string(server.Port()) + "/updates.json";
  ExpectFailure(HttpRequest(byName, 2, options));
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(HttpClient, ASlowNameLookupEndsAtItsTimeOutOrACancel)
{
  const std::string url = std::string("http://feed") + kSlowLookupSuffix + "/updates.json";
  const int lookupsBefore = gSlowLookupsStarted.load();
  {
    const auto start = std::chrono::steady_clock::now();
    ExpectFailure(HttpGet(url, 1));
    EXPECT_LT(SecondsSince(start), 2.5); // the lookup itself takes 3 s
  }
  {
    std::atomic<bool> cancel{false};
    HttpRequestOptions options;
    options.cancel = &cancel;
    std::thread canceller([&] {
      std::this_thread::sleep_for(100ms);
      cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    ExpectFailure(HttpRequest(url, 8, options));
    EXPECT_LT(SecondsSince(start), 1.0);
    canceller.join();
  }
  // Both requests really were held up in the lookup.
  EXPECT_EQ(gSlowLookupsStarted.load(), lookupsBefore + 2);
  EXPECT_TRUE(WaitForSlowLookups(10s));
}

TEST_F(HttpClient, AListenerThatNeverSpeaksEndsAfterAboutTheTimeOut)
{
  // The kernel completes the connection and keeps whatever the client sends; nothing ever answers,
  // so the TLS handshake of an https URL and the response of an http URL both stall.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));

  // A 2-second phase ends it; without the phase limit only the overall deadline (8 s) would.
  // The gap between the two leaves room for a loaded machine, where setting up TLS alone can
  // take seconds.
  for (const std::string scheme : {"https", "http"})
  {
    const auto start = std::chrono::steady_clock::now();
    ExpectFailure(HttpGet(scheme + "://127.0.0.1:" + port + "/updates.json", 2));
    const double seconds = SecondsSince(start);
    EXPECT_GT(seconds, 1.5) << scheme; // it did wait for the silent peer
    EXPECT_LT(seconds, 7.0) << scheme;
  }
  ::close(listener);
}

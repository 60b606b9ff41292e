#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace halvorsted::testing {

// A self-signed certificate for 127.0.0.1 (its own CA) and its key, both PEM.
struct TlsIdentity
{
  std::string certificatePem;
  std::string privateKeyPem;
};
TlsIdentity MakeSelfSignedIdentity();

// A one-connection-at-a-time HTTP(S) server on 127.0.0.1 that hands each request head to a
// test's handler, which writes whatever raw bytes the test wants.
class LocalServer
{
public:
  class Connection
  {
  public:
    virtual ~Connection() = default;
    virtual bool Send(std::string_view bytes) = 0;
    // Sleeps up to the duration; returns early (true) when the server is stopping.
    virtual bool WaitForStop(std::chrono::milliseconds duration) = 0;
  };
  using Handler = std::function<void(Connection&, const std::string& requestHead)>;

  explicit LocalServer(Handler handler, const TlsIdentity* tls = nullptr);
  ~LocalServer();

  uint16_t Port() const { return mPort; }
  std::string Url(const std::string& path) const;
  std::vector<std::string> Requests() const;
  size_t RequestCount() const;

  // A whole HTTP/1.1 response with Content-Length and "Connection: close".
  static std::string Response(int status, const std::string& body, const std::string& extraHeaders = {});

private:
  struct Tls;
  void Serve();
  void ServeOne(int socket);

  Handler mHandler;
  std::unique_ptr<Tls> mTls;
  int mListener = -1;
  uint16_t mPort = 0;
  std::atomic<bool> mStopping{false};
  mutable std::mutex mMutex;
  std::vector<std::string> mRequests;
  std::thread mThread;
};

} // namespace halvorsted::testing

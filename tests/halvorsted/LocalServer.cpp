#include "LocalServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <csignal>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace halvorsted::testing {

namespace {

std::string BioText(BIO* bio)
{
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<size_t>(size));
}

void AddExtension(X509* cert, int nid, const char* value)
{
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (extension == nullptr || X509_add_ext(cert, extension, -1) != 1)
    throw std::runtime_error("could not add a certificate extension");
  X509_EXTENSION_free(extension);
}

} // namespace

TlsIdentity MakeSelfSignedIdentity()
{
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  if (key == nullptr || cert == nullptr)
    throw std::runtime_error("could not make a key");
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                             -1, 0);
  X509_set_issuer_name(cert, name);
  AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(cert, NID_key_usage, "critical,digitalSignature,keyCertSign");
  AddExtension(cert, NID_subject_key_identifier, "hash");
  AddExtension(cert, NID_subject_alt_name, "IP:127.0.0.1");
  if (X509_sign(cert, key, EVP_sha256()) == 0)
    throw std::runtime_error("could not sign the certificate");

  TlsIdentity identity;
  BIO* certBio = BIO_new(BIO_s_mem());
  BIO* keyBio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(certBio, cert);
  PEM_write_bio_PrivateKey(keyBio, key, nullptr, nullptr, 0, nullptr, nullptr);
  identity.certificatePem = BioText(certBio);
  identity.privateKeyPem = BioText(keyBio);
  BIO_free(certBio);
  BIO_free(keyBio);
  X509_free(cert);
  EVP_PKEY_free(key);
  return identity;
}

struct LocalServer::Tls
{
  SSL_CTX* context = nullptr;
  ~Tls() { SSL_CTX_free(context); }
};

namespace {

class PlainConnection : public LocalServer::Connection
{
public:
  PlainConnection(int socket, const std::atomic<bool>& stopping) : mSocket(socket), mStopping(stopping) {}
  bool Send(std::string_view bytes) override
  {
    while (!bytes.empty())
    {
      const ssize_t n = ::send(mSocket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0)
        return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  bool WaitForStop(std::chrono::milliseconds duration) override
  {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end)
    {
      if (mStopping.load())
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return mStopping.load();
  }

protected:
  int mSocket;
  const std::atomic<bool>& mStopping;
};

class TlsConnection : public PlainConnection
{
public:
  TlsConnection(int socket, const std::atomic<bool>& stopping, SSL* ssl) : PlainConnection(socket, stopping), mSsl(ssl)
  {
  }
  bool Send(std::string_view bytes) override
  {
    while (!bytes.empty())
    {
      const int n = SSL_write(mSsl, bytes.data(), static_cast<int>(bytes.size()));
      if (n <= 0)
        return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

private:
  SSL* mSsl;
};

} // namespace

LocalServer::LocalServer(Handler handler, const TlsIdentity* tls) : mHandler(std::move(handler))
{
  // SSL_write to a client that hung up would otherwise kill the test process.
  std::signal(SIGPIPE, SIG_IGN);
  if (tls != nullptr)
  {
    mTls = std::make_unique<Tls>();
    mTls->context = SSL_CTX_new(TLS_server_method());
    BIO* certBio = BIO_new_mem_buf(tls->certificatePem.data(), static_cast<int>(tls->certificatePem.size()));
    BIO* keyBio = BIO_new_mem_buf(tls->privateKeyPem.data(), static_cast<int>(tls->privateKeyPem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    const bool ok = cert != nullptr && key != nullptr && SSL_CTX_use_certificate(mTls->context, cert) == 1 &&
                    SSL_CTX_use_PrivateKey(mTls->context, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!ok)
      throw std::runtime_error("could not load the server identity");
  }

  mListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (mListener < 0 || ::bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(mListener, 8) != 0 || ::getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("could not listen on 127.0.0.1");
  mPort = ntohs(address.sin_port);
  mThread = std::thread([this] { Serve(); });
}

LocalServer::~LocalServer()
{
  mStopping = true;
  mThread.join();
  ::close(mListener);
}

std::string LocalServer::Url(const std::string& path) const
{
  return std::string(mTls ? "https" : "http") + "://127.0.0.1:" + std::to_string(mPort) + path;
}

std::vector<std::string> LocalServer::Requests() const
{
  std::lock_guard lock(mMutex);
  return mRequests;
}

size_t LocalServer::RequestCount() const
{
  std::lock_guard lock(mMutex);
  return mRequests.size();
}

std::string LocalServer::Response(int status, const std::string& body, const std::string& extraHeaders)
{
  return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

void LocalServer::Serve()
{
  while (!mStopping.load())
  {
    pollfd entry{mListener, POLLIN, 0};
    if (::poll(&entry, 1, 20) <= 0)
      continue;
    const int socket = ::accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0)
      continue;
    timeval limit{2, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    ServeOne(socket);
    ::close(socket);
  }
}

void LocalServer::ServeOne(int socket)
{
  SSL* ssl = nullptr;
  if (mTls)
  {
    ssl = SSL_new(mTls->context);
    SSL_set_fd(ssl, socket);
    if (SSL_accept(ssl) != 1)
    {
      // The client refused the certificate (or went away): no request to record.
      SSL_free(ssl);
      ERR_clear_error();
      return;
    }
  }

  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536)
  {
    const ssize_t n = ssl != nullptr ? SSL_read(ssl, buffer, sizeof(buffer)) : ::recv(socket, buffer, sizeof(buffer), 0);
    if (n <= 0)
      break;
    head.append(buffer, static_cast<size_t>(n));
  }
  if (head.find("\r\n\r\n") != std::string::npos)
  {
    {
      std::lock_guard lock(mMutex);
      mRequests.push_back(head);
    }
    if (ssl != nullptr)
    {
      TlsConnection connection(socket, mStopping, ssl);
      mHandler(connection, head);
    }
    else
    {
      PlainConnection connection(socket, mStopping);
      mHandler(connection, head);
    }
  }
  if (ssl != nullptr)
  {
    SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
  }
}

} // namespace halvorsted::testing

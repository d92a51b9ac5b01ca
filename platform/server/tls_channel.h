// TLS over a client's TCP connection: the server's certificate and key, loaded
// once, and one TLS server session per connection that asked for a TLS level.
// The session runs over a non-blocking socket; one lock covers every use of it,
// so the liveness thread's sends and the connection's reads never overlap
// inside the TLS library, and a read waits for bytes outside the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace vqeng {

class TlsContext {
 public:
  // Loads the certificate chain (PEM) and its private key (PEM); null with `why`
  // when either cannot be read or they do not belong together.
  static std::shared_ptr<TlsContext> load(const std::string& cert_file,
                                          const std::string& key_file, std::string& why);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;
  SSL_CTX* ctx() const { return ctx_; }

 private:
  explicit TlsContext(SSL_CTX* ctx) : ctx_(ctx) {}
  SSL_CTX* ctx_;
};

class TlsStream {
 public:
  // Results of receive besides a byte count (the same as Channel's).
  static constexpr long kClosed = 0;
  static constexpr long kTimedOut = -1;
  static constexpr long kFailed = -2;

  // Takes over the socket's traffic (the socket stays the caller's to close).
  TlsStream(const TlsContext& ctx, int fd);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // The server side of the handshake, within timeout_ms; false with `why`.
  bool accept(int timeout_ms, std::string& why);
  // As Channel::receive: waits up to timeout_ms (-1 without limit, 0 not at all).
  long receive(std::uint8_t* buf, std::size_t len, int timeout_ms);
  // Sends all the bytes; false when the peer is gone or the session failed.
  bool send(const std::string& data);

 private:
  int fd_;
  std::mutex mu_;
  SSL* ssl_ = nullptr;
};

}  // namespace vqeng

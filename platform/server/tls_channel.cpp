// TLS server sessions over the loopback TCP transport.
#include "tls_channel.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <limits>

namespace vqeng {
namespace {

std::string last_error(const char* what) {
  const unsigned long e = ERR_get_error();
  char text[256] = "";
  if (e != 0) ERR_error_string_n(e, text, sizeof text);
  ERR_clear_error();
  return std::string(what) + (e != 0 ? std::string(": ") + text : std::string());
}

std::int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Waits for the socket to become readable or writable as the TLS library wants;
// -1 left waits without limit. 0 when the time ran out, <0 on error.
int wait_for(int fd, int ssl_error, std::int64_t deadline_ms) {
  for (;;) {
    int timeout = -1;
    if (deadline_ms >= 0) {
      const std::int64_t left = deadline_ms - now_ms();
      if (left <= 0) return 0;
      timeout = static_cast<int>(std::min<std::int64_t>(left, std::numeric_limits<int>::max()));
    }
    pollfd p{fd, static_cast<short>(ssl_error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&p, 1, timeout);
    if (ready < 0 && errno == EINTR) continue;
    return ready;
  }
}

}  // namespace

std::shared_ptr<TlsContext> TlsContext::load(const std::string& cert_file,
                                             const std::string& key_file, std::string& why) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) {
    why = last_error("no TLS context");
    return nullptr;
  }
  std::shared_ptr<TlsContext> out(new TlsContext(ctx));
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  if (SSL_CTX_use_certificate_chain_file(ctx, cert_file.c_str()) != 1) {
    why = last_error(("certificate " + cert_file).c_str());
    return nullptr;
  }
  if (SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    why = last_error(("private key " + key_file).c_str());
    return nullptr;
  }
  if (SSL_CTX_check_private_key(ctx) != 1) {
    why = last_error("the private key does not belong to the certificate");
    return nullptr;
  }
  return out;
}

TlsContext::~TlsContext() { SSL_CTX_free(ctx_); }

TlsStream::TlsStream(const TlsContext& ctx, int fd) : fd_(fd), ssl_(SSL_new(ctx.ctx())) {
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  if (ssl_ != nullptr && SSL_set_fd(ssl_, fd_) != 1) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
}

TlsStream::~TlsStream() {
  if (ssl_ == nullptr) return;
  // A close notice when the socket takes it; the peer may be gone already.
  ERR_clear_error();
  SSL_shutdown(ssl_);
  ERR_clear_error();
  SSL_free(ssl_);
}

bool TlsStream::accept(int timeout_ms, std::string& why) {
  std::lock_guard<std::mutex> lock(mu_);
  if (ssl_ == nullptr) {
    why = last_error("no TLS session");
    return false;
  }
  const std::int64_t deadline = timeout_ms < 0 ? -1 : now_ms() + timeout_ms;
  for (;;) {
    ERR_clear_error();
    const int r = SSL_accept(ssl_);
    if (r == 1) return true;
    const int e = SSL_get_error(ssl_, r);
    if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
      why = last_error("TLS handshake failed");
      return false;
    }
    const int ready = wait_for(fd_, e, deadline);
    if (ready <= 0) {
      why = ready == 0 ? "TLS handshake timed out" : "TLS handshake: socket failed";
      return false;
    }
  }
}

long TlsStream::receive(std::uint8_t* buf, std::size_t len, int timeout_ms) {
  const std::int64_t deadline = timeout_ms < 0 ? -1 : now_ms() + timeout_ms;
  const int want = static_cast<int>(std::min<std::size_t>(len, std::numeric_limits<int>::max()));
  for (;;) {
    int e = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (ssl_ == nullptr) return kFailed;
      ERR_clear_error();
      const int n = SSL_read(ssl_, buf, want);
      if (n > 0) return n;
      e = SSL_get_error(ssl_, n);
      if (e == SSL_ERROR_ZERO_RETURN) return kClosed;
      if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
        ERR_clear_error();
        // The peer closing its socket without a close notice is a close too.
        return e == SSL_ERROR_SYSCALL && errno == 0 ? kClosed : kFailed;
      }
    }
    // Waiting happens outside the lock, so a send can run meanwhile.
    if (timeout_ms == 0) return kTimedOut;
    const int ready = wait_for(fd_, e, deadline);
    if (ready == 0) return kTimedOut;
    if (ready < 0) return kFailed;
  }
}

bool TlsStream::send(const std::string& data) {
  std::lock_guard<std::mutex> lock(mu_);
  if (ssl_ == nullptr) return false;
  std::size_t done = 0;
  // A peer that takes nothing for a minute is gone.
  const std::int64_t deadline = now_ms() + 60000;
  while (done < data.size()) {
    ERR_clear_error();
    const int chunk = static_cast<int>(std::min<std::size_t>(data.size() - done, 1 << 20));
    const int n = SSL_write(ssl_, data.data() + done, chunk);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    const int e = SSL_get_error(ssl_, n);
    if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
      ERR_clear_error();
      return false;
    }
    if (wait_for(fd_, e, deadline) <= 0) return false;
  }
  return true;
}

}  // namespace vqeng

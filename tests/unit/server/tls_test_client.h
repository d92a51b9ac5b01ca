// The client side of TLS over an open socket for the server's TLS tests, from the
// system's TLS library: it trusts one authority and checks the server against it.
// Kept apart from the server's headers (its own target), whose limits.h would hide
// the system's.
#pragma once

#include <memory>
#include <string>

class TlsTestClient {
 public:
  TlsTestClient(int fd, const std::string& ca_file);
  ~TlsTestClient();
  TlsTestClient(const TlsTestClient&) = delete;
  TlsTestClient& operator=(const TlsTestClient&) = delete;
  // The handshake, with the server's certificate checked; false with error() set.
  bool handshake();
  bool send(const std::string& data);
  // Bytes read (blocking, bounded by the socket's receive time-out); <= 0 at the end.
  int read(char* buf, int len);
  // Sends a close notice.
  void close_notify();
  const std::string& error() const { return error_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string error_;
};

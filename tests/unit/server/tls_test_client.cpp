#include "tls_test_client.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

struct TlsTestClient::Impl {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  bool loaded = false;
};

TlsTestClient::TlsTestClient(int fd, const std::string& ca_file) : impl_(new Impl) {
  impl_->ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(impl_->ctx, SSL_VERIFY_PEER, nullptr);
  impl_->loaded = SSL_CTX_load_verify_locations(impl_->ctx, ca_file.c_str(), nullptr) == 1;
  impl_->ssl = SSL_new(impl_->ctx);
  SSL_set_fd(impl_->ssl, fd);
}

TlsTestClient::~TlsTestClient() {
  SSL_free(impl_->ssl);
  SSL_CTX_free(impl_->ctx);
  ERR_clear_error();
}

bool TlsTestClient::handshake() {
  if (impl_->loaded && SSL_connect(impl_->ssl) == 1) return true;
  char text[256] = "no authority loaded";
  if (const unsigned long e = ERR_get_error()) ERR_error_string_n(e, text, sizeof text);
  ERR_clear_error();
  error_ = text;
  return false;
}

bool TlsTestClient::send(const std::string& data) {
  return SSL_write(impl_->ssl, data.data(), static_cast<int>(data.size())) ==
         static_cast<int>(data.size());
}

int TlsTestClient::read(char* buf, int len) { return SSL_read(impl_->ssl, buf, len); }

void TlsTestClient::close_notify() { SSL_shutdown(impl_->ssl); }

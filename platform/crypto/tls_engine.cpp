// The TLS engine of the modules: a provider stream holds one SSL_CTX for its side and
// algorithm; each stream connection is one SSL object whose bytes travel through the
// host's connection callbacks (a custom BIO), never through a socket.
//
// Options, taken from the stream's Init and again from each connection's Create (a
// connection's own values win, because streams are shared by connections):
//   trusted_certificates   PEM file of the certificates a client trusts (else the
//                          system's default store)
//   identity               PEM file with certificate, chain and key, or a PKCS#12 file
//   identity_password      its password
//   certificate_name (name), certificate_company (company), certificate_unit (unit)
//                          what the server certificate's CN, O and OU must hold (any
//                          entry of the field, compared without regard to case)
//   tls_type, fips         taken by the host to choose the module; marked used here
// A client always verifies the server; the server asks no client certificate. Reads are
// served by the host all-or-nothing, so read-ahead stays off: the engine asks for the
// 5-byte record header and then exactly the record body.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <strings.h>

#include <cstdio>
#include <new>
#include <string>

#include "module.h"

namespace vqvcci {
namespace {

constexpr std::uint32_t kLogInfo = 1;

struct Settings {
  const char* trusted = nullptr;
  const char* identity = nullptr;
  const char* password = nullptr;
  const char* name = nullptr;
  const char* company = nullptr;
  const char* unit = nullptr;
};

// Takes every option this module knows (marking it used); unknown ones stay unused for
// the host to report.
Settings take_options(UserOption* options) {
  Settings s;
  s.trusted = option_value(options, "trusted_certificates");
  s.identity = option_value(options, "identity");
  s.password = option_value(options, "identity_password");
  s.name = option_value(options, "certificate_name", "name");
  s.company = option_value(options, "certificate_company", "company");
  s.unit = option_value(options, "certificate_unit", "unit");
  (void)option_value(options, "tls_type");
  (void)option_value(options, "fips");
  return s;
}

struct Checks {  // owned copies of the peer checks
  std::string name, company, unit;
};

void keep_checks(const Settings& s, Checks* c) {
  if (s.name != nullptr) c->name = s.name;
  if (s.company != nullptr) c->company = s.company;
  if (s.unit != nullptr) c->unit = s.unit;
}

struct Stream {
  ModuleEnv* env;
  unsigned char number;
  Side side;
  SSL_CTX* ctx;  // null until Init
  Checks checks;
  Error error;
};

struct Conn {
  Stream* stream;
  SSL* ssl;
  ConnCallbacks callbacks;
  void* ctx;  // host context of the callbacks
  Checks checks;
  std::string refusal;  // why the peer's certificate was refused
  bool established;
  Error error;
};

// The text of the OpenSSL error queue's last entry (queue emptied), or `fallback`.
std::string openssl_reason(const char* fallback) {
  unsigned long e = 0, last = 0;
  while ((e = ERR_get_error()) != 0) last = e;
  if (last == 0) return fallback;
  char text[256];
  ERR_error_string_n(last, text, sizeof text);
  return text;
}

void log_text(Conn* c, std::uint32_t level, const std::string& text) {
  if (c->callbacks.log != nullptr) {
    c->callbacks.log(c->ctx, level, text.c_str(), nullptr, 0);
  }
}

// ---- certificates ----

bool load_trust(X509_STORE* store, const char* path) {
  return store != nullptr && X509_STORE_load_file(store, path) == 1;
}

struct Identity {
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  STACK_OF(X509) * chain = nullptr;
  ~Identity() {
    X509_free(cert);
    EVP_PKEY_free(key);
    sk_X509_pop_free(chain, X509_free);
  }
};

// A PEM file (certificate first, then chain certificates and the key in any order) or a
// PKCS#12 file.
bool load_identity(const char* path, const char* password, Identity* id) {
  BIO* in = BIO_new_file(path, "rb");
  if (in == nullptr) return false;
  void* pass = const_cast<char*>(password != nullptr ? password : "");
  id->cert = PEM_read_bio_X509(in, nullptr, nullptr, pass);
  if (id->cert != nullptr) {
    id->chain = sk_X509_new_null();
    (void)BIO_reset(in);
    STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(in, nullptr, nullptr, pass);
    for (int i = 0; infos != nullptr && i < sk_X509_INFO_num(infos); ++i) {
      X509_INFO* info = sk_X509_INFO_value(infos, i);
      if (i > 0 && info->x509 != nullptr) {
        X509_up_ref(info->x509);
        sk_X509_push(id->chain, info->x509);
      }
    }
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
    (void)BIO_reset(in);
    id->key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, pass);
  } else {
    (void)BIO_reset(in);
    PKCS12* p12 = d2i_PKCS12_bio(in, nullptr);
    if (p12 != nullptr) {
      PKCS12_parse(p12, password != nullptr ? password : "", &id->key, &id->cert, &id->chain);
      PKCS12_free(p12);
    }
  }
  BIO_free(in);
  ERR_clear_error();
  return id->cert != nullptr && id->key != nullptr;
}

bool field_holds(X509_NAME* subject, int nid, const std::string& wanted) {
  for (int i = X509_NAME_get_index_by_NID(subject, nid, -1); i >= 0;
       i = X509_NAME_get_index_by_NID(subject, nid, i)) {
    unsigned char* utf8 = nullptr;
    const int n =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i)));
    const bool same =
        n >= 0 && static_cast<std::size_t>(n) == wanted.size() &&
        strncasecmp(reinterpret_cast<char*>(utf8), wanted.c_str(), wanted.size()) == 0;
    OPENSSL_free(utf8);
    if (same) return true;
  }
  return false;
}

int verify_peer(int ok, X509_STORE_CTX* store) {
  SSL* ssl = static_cast<SSL*>(
      X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* c = ssl != nullptr ? static_cast<Conn*>(SSL_get_app_data(ssl)) : nullptr;
  if (c == nullptr) return ok;
  if (ok == 0) {
    if (c->refusal.empty()) {
      c->refusal = std::string("server certificate not trusted: ") +
                   X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    }
    return 0;
  }
  if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
  X509_NAME* subject = X509_get_subject_name(X509_STORE_CTX_get_current_cert(store));
  const struct {
    const std::string* wanted;
    int nid;
    const char* what;
  } checks[] = {{&c->checks.name, NID_commonName, "name"},
                {&c->checks.company, NID_organizationName, "company"},
                {&c->checks.unit, NID_organizationalUnitName, "unit"}};
  for (const auto& check : checks) {
    if (check.wanted->empty() || field_holds(subject, check.nid, *check.wanted)) continue;
    c->refusal =
        std::string("server certificate ") + check.what + " is not \"" + *check.wanted + "\"";
    X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    return 0;
  }
  return 1;
}

// ---- the byte-stream BIO over the host's connection callbacks ----

constexpr int kBioType = 0x7A | BIO_TYPE_SOURCE_SINK;

int bio_read(BIO* b, char* out, int length) {
  BIO_clear_retry_flags(b);
  auto* c = static_cast<Conn*>(BIO_get_data(b));
  if (c == nullptr || c->callbacks.read == nullptr || length <= 0) return -1;
  unsigned count = 0;
  const int rc = c->callbacks.read(c->ctx, reinterpret_cast<unsigned char*>(out),
                                   static_cast<unsigned>(length), &count);
  if (rc == 0 && count > 0) return static_cast<int>(count);
  if (rc == 0 || rc == 2) BIO_set_retry_read(b);
  return -1;
}

int bio_write(BIO* b, const char* bytes, int length) {
  BIO_clear_retry_flags(b);
  auto* c = static_cast<Conn*>(BIO_get_data(b));
  if (c == nullptr || c->callbacks.write == nullptr || length < 0) return -1;
  const int rc = c->callbacks.write(c->ctx, reinterpret_cast<const unsigned char*>(bytes),
                                    static_cast<unsigned>(length));
  if (rc == 0) return length;
  if (rc == 2) BIO_set_retry_write(b);
  return -1;
}

long bio_ctrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int bio_create(BIO* b) {
  BIO_set_init(b, 1);
  return 1;
}

// ---- stream table ----

void* stream_create_number(void* env, unsigned char number, Error* err) {
  error_clear(err);
  if (number == 0) return error_set(err, kErrUnknownCipher), nullptr;
  auto* s = new (std::nothrow)
      Stream{static_cast<ModuleEnv*>(env), number, kClient, nullptr, Checks{}, Error{}};
  if (s == nullptr) error_set(err, kErrNoMemory);
  return s;
}

void* stream_create(void* env, const StreamCallbacks*, void*, const char* name, Error* err) {
  return stream_create_number(env, stream_number_by_name(name), err);
}

void* stream_create_id(void* env, const StreamCallbacks*, void*, unsigned char number,
                       Error* err) {
  return stream_create_number(env, stream_number_by_id(number), err);
}

const char* sigalgs(unsigned char number) {
  if (number == kStreamEcc) {
    return "ecdsa_secp256r1_sha256:ecdsa_secp384r1_sha384:ecdsa_secp521r1_sha512";
  }
  return "rsa_pss_rsae_sha256:rsa_pss_rsae_sha384:rsa_pss_rsae_sha512:"
         "rsa_pkcs1_sha256:rsa_pkcs1_sha384:rsa_pkcs1_sha512";
}

unsigned refuse(Error* err, const std::string& why) {
  error_set(err, kErrProvider, why.c_str());
  return 1;
}

unsigned stream_init(void* stream, Side side, UserOption* options) {
  auto* s = static_cast<Stream*>(stream);
  const Settings set = take_options(options);
  SSL_CTX_free(s->ctx);
  s->ctx = nullptr;
  s->side = side;
  s->checks = Checks{};
  keep_checks(set, &s->checks);
  error_free(&s->error);
  s->error = Error{};
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(side == kServer ? TLS_server_method() : TLS_client_method());
  if (ctx == nullptr) return refuse(&s->error, openssl_reason("no TLS context"));
  bool ok = SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) == 1 &&
            SSL_CTX_set1_sigalgs_list(ctx, sigalgs(s->number)) == 1;
  if (ok && s->number == kStreamRsaFips) {
    ok = SSL_CTX_set_cipher_list(ctx, "ECDHE+AESGCM") == 1 &&
         SSL_CTX_set_ciphersuites(ctx, "TLS_AES_256_GCM_SHA384:TLS_AES_128_GCM_SHA256") == 1;
  }
  if (!ok) {
    SSL_CTX_free(ctx);
    return refuse(&s->error, openssl_reason("TLS context set-up failed"));
  }
  if (set.trusted != nullptr) {
    if (!load_trust(SSL_CTX_get_cert_store(ctx), set.trusted)) {
      SSL_CTX_free(ctx);
      ERR_clear_error();
      return refuse(&s->error, std::string("cannot read the trusted certificates \"") +
                                   set.trusted + "\"");
    }
  } else {
    (void)SSL_CTX_set_default_verify_paths(ctx);
  }
  if (set.identity != nullptr) {
    Identity id;
    if (!load_identity(set.identity, set.password, &id) ||
        SSL_CTX_use_cert_and_key(ctx, id.cert, id.key, id.chain, 1) != 1) {
      SSL_CTX_free(ctx);
      ERR_clear_error();
      return refuse(&s->error, std::string("cannot use the identity \"") + set.identity + "\"");
    }
  } else if (side == kServer) {
    SSL_CTX_free(ctx);
    return refuse(&s->error, "a server-side stream needs an identity");
  }
  if (side == kClient) SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, verify_peer);
  s->ctx = ctx;
  return 0;
}

unsigned stream_id(void* stream) { return static_cast<Stream*>(stream)->number; }

unsigned stream_fini(void* stream) {
  auto* s = static_cast<Stream*>(stream);
  SSL_CTX_free(s->ctx);
  s->ctx = nullptr;
  return 0;
}

const Error* stream_error(void* stream) { return &static_cast<Stream*>(stream)->error; }

void stream_destroy(void* stream) {
  auto* s = static_cast<Stream*>(stream);
  if (s == nullptr) return;
  SSL_CTX_free(s->ctx);
  error_free(&s->error);
  delete s;
}

// ---- stream-connection table ----

void conn_destroy(void* conn) {
  auto* c = static_cast<Conn*>(conn);
  if (c == nullptr) return;
  SSL_free(c->ssl);  // frees the BIO too
  error_free(&c->error);
  delete c;
}

void* conn_fail(Conn* c, Error* err, std::uint32_t code, const std::string& why) {
  error_set(err, code, why.c_str());
  conn_destroy(c);
  return nullptr;
}

void* conn_create(void* stream, const ConnCallbacks* callbacks, void* ctx, UserOption* options,
                  Error* err) {
  error_clear(err);
  auto* s = static_cast<Stream*>(stream);
  const Settings set = take_options(options);
  if (s == nullptr || s->ctx == nullptr) {
    error_set(err, kErrProvider, "the stream has not been initialised");
    return nullptr;
  }
  if (callbacks == nullptr) {
    error_set(err, kErrProvider, "no connection callbacks");
    return nullptr;
  }
  auto* c = new (std::nothrow) Conn{s, nullptr, *callbacks, ctx, s->checks, {}, false, Error{}};
  if (c == nullptr) return error_set(err, kErrNoMemory), nullptr;
  keep_checks(set, &c->checks);
  ERR_clear_error();
  c->ssl = SSL_new(s->ctx);
  BIO* bio =
      c->ssl != nullptr ? BIO_new(static_cast<BIO_METHOD*>(s->env->bio_method)) : nullptr;
  if (bio == nullptr) return conn_fail(c, err, kErrNoMemory, openssl_reason("no TLS session"));
  BIO_set_data(bio, c);
  SSL_set_bio(c->ssl, bio, bio);
  SSL_set_app_data(c->ssl, c);
  if (set.trusted != nullptr) {
    X509_STORE* store = X509_STORE_new();
    const bool ok =
        load_trust(store, set.trusted) && SSL_set1_verify_cert_store(c->ssl, store) == 1;
    X509_STORE_free(store);
    if (!ok) {
      ERR_clear_error();
      return conn_fail(
          c, err, kErrProvider,
          std::string("cannot read the trusted certificates \"") + set.trusted + "\"");
    }
  }
  if (set.identity != nullptr) {
    Identity id;
    if (!load_identity(set.identity, set.password, &id) ||
        SSL_use_cert_and_key(c->ssl, id.cert, id.key, id.chain, 1) != 1) {
      ERR_clear_error();
      return conn_fail(c, err, kErrProvider,
                       std::string("cannot use the identity \"") + set.identity + "\"");
    }
  }
  if (s->side == kServer) {
    SSL_set_accept_state(c->ssl);
  } else {
    SSL_set_connect_state(c->ssl);
  }
  return c;
}

// The answer for a failed engine call: 2 would block, 3 closed, 1 with the error set.
unsigned failure(Conn* c, int ret) {
  switch (SSL_get_error(c->ssl, ret)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      return 2;
    case SSL_ERROR_ZERO_RETURN:
      return 3;
    default: {
      std::string why = openssl_reason("the TLS connection failed");
      if (!c->refusal.empty()) why = c->refusal;
      error_set(&c->error, kErrSession, why.c_str());
      log_text(c, kLogInfo, "TLS failure: " + why);
      return 1;
    }
  }
}

void note_success(Conn* c) {
  if (c->established || !SSL_is_init_finished(c->ssl)) return;
  c->established = true;
  log_text(c, kLogInfo,
           std::string("TLS session established: ") + SSL_get_version(c->ssl) + " " +
               SSL_get_cipher_name(c->ssl));
}

// Zero-length reads and writes drive the handshake only.
unsigned handshake(Conn* c) {
  ERR_clear_error();
  const int r = SSL_do_handshake(c->ssl);
  if (r == 1) {
    note_success(c);
    return 0;
  }
  return failure(c, r);
}

unsigned conn_read(void* conn, unsigned char* buffer, unsigned length, unsigned* count) {
  auto* c = static_cast<Conn*>(conn);
  if (count != nullptr) *count = 0;
  if (length == 0) return handshake(c);
  ERR_clear_error();
  std::size_t n = 0;
  const int r = SSL_read_ex(c->ssl, buffer, length, &n);
  if (r != 1) return failure(c, r);
  note_success(c);
  if (count != nullptr) *count = static_cast<unsigned>(n);
  return 0;
}

unsigned conn_write(void* conn, const unsigned char* bytes, unsigned length) {
  auto* c = static_cast<Conn*>(conn);
  if (length == 0) return handshake(c);
  ERR_clear_error();
  std::size_t n = 0;
  const int r = SSL_write_ex(c->ssl, bytes, length, &n);  // all or nothing
  if (r != 1) return failure(c, r);
  note_success(c);
  return 0;
}

unsigned conn_flush(void*) { return 0; }

const Error* conn_error(void* conn) { return &static_cast<Conn*>(conn)->error; }

}  // namespace

void* tls_env_init() {
  BIO_METHOD* m = BIO_meth_new(kBioType, "vcci host stream");
  if (m == nullptr) return nullptr;
  if (BIO_meth_set_read(m, bio_read) != 1 || BIO_meth_set_write(m, bio_write) != 1 ||
      BIO_meth_set_ctrl(m, bio_ctrl) != 1 || BIO_meth_set_create(m, bio_create) != 1) {
    BIO_meth_free(m);
    return nullptr;
  }
  return m;
}

void tls_env_fini(void* bio_method) { BIO_meth_free(static_cast<BIO_METHOD*>(bio_method)); }

void fill_stream_tables(StreamIface* stream, StreamConnIface* conn) {
  *stream = StreamIface{stream_create, stream_create_id, stream_init,    stream_id,
                        stream_fini,   stream_error,     stream_destroy, nullptr};
  *conn =
      StreamConnIface{conn_create, conn_read, conn_write, conn_flush, conn_error, conn_destroy};
}

}  // namespace vqvcci

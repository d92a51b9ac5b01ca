// A scripted crypto provider module for the environment tests. One source, built as
// several modules by compile definitions:
//   FAKE_ID="name"          reported in every log line, to tell which module served
//   FAKE_VERSION=a,b,c,d    the version it reports (default 1,5,0,3)
//   FAKE_OMIT_ENCRYPTER     no block-encrypter getter (an optional table missing)
//   FAKE_OMIT_STREAM        no stream getter (a required table missing)
//   FAKE_ENV_FAIL           the environment Create fails with code 28, parameter
//                           "no-licence", allocated through the host
//   FAKE_GETTER_FAIL        the stream-connection getter answers failure
// Every call is written to the host's log slot as one line of text, so the test sees
// which module ran and with what.
#include <cstdint>
#include <cstring>
#include <string>

#include "security/vcci_interface.h"

#ifndef FAKE_ID
#define FAKE_ID "fake"
#endif
#ifndef FAKE_VERSION
#define FAKE_VERSION 1, 5, 0, 3
#endif

namespace {

struct Env {
  const a_vcci_callbacks* cb;
  void* ctx;
};

struct Object {
  Env* env;
  unsigned number;
  a_vcci_error error;
  std::string data;  // stream connection: bytes written, read back in order
};

void log(Env* env, const std::string& text) {
  if (env != nullptr && env->cb != nullptr && env->cb->log != nullptr) {
    env->cb->log(env->ctx, 0, (std::string(FAKE_ID) + ": " + text).c_str(), nullptr, 0);
  }
}

char* host_strdup(Env* env, const char* text) {
  const std::size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(env->cb->alloc(env->ctx, n));
  std::memcpy(copy, text, n);
  return copy;
}

// An error record with one parameter, allocated through the host as providers must.
void set_error(Env* env, a_vcci_error* err, std::uint32_t code, const char* parm) {
  err->code = code;
  err->sub_code = 9;
  char** parms = static_cast<char**>(env->cb->alloc(env->ctx, 2 * sizeof(char*)));
  parms[0] = host_strdup(env, parm);
  parms[1] = nullptr;
  err->parms = parms;
}

void error_destroy(void* env, a_vcci_error* err) {
  Env* e = static_cast<Env*>(env);
  if (err->parms == nullptr) return;
  for (char** p = err->parms; *p != nullptr; ++p) e->cb->release(e->ctx, *p);
  e->cb->release(e->ctx, err->parms);
  err->parms = nullptr;
}

Object* make(Env* env, unsigned number) {
  Object* o = new Object;
  o->env = env;
  o->number = number;
  o->error = {};
  return o;
}

void destroy(void* object) {
  Object* o = static_cast<Object*>(object);
  log(o->env, "destroy " + std::to_string(o->number));
  error_destroy(o->env, &o->error);
  delete o;
}

unsigned algorithm(void* object) { return static_cast<Object*>(object)->number; }
const a_vcci_error* last_error(void* object) { return &static_cast<Object*>(object)->error; }

void* env_create(const a_vcci_callbacks* cb, void* ctx, _a_vcci_user_option* options,
                 const char* app, a_vcci_error* err) {
  Env* env = new Env{cb, ctx};
  std::string text = "create app=" + std::string(app != nullptr ? app : "(null)") + " options=";
  for (_a_vcci_user_option* o = options; o != nullptr; o = o->next) {
    text += std::string(o->name) + "=" + o->value + (o->next != nullptr ? "," : "");
  }
  log(env, text);
#ifdef FAKE_ENV_FAIL
  set_error(env, err, 28, "no-licence");
  delete env;
  return nullptr;
#else
  (void)err;
  return env;
#endif
}

void env_destroy(void* env) {
  log(static_cast<Env*>(env), "env destroy");
  delete static_cast<Env*>(env);
}

// Every query answers yes except for the name "nope" and the number 99.
unsigned by_name(void*, const char* name) {
  return name != nullptr && std::strcmp(name, "nope") == 0 ? 0 : 0x101;  // low byte 1
}
unsigned by_number(void*, unsigned char number) { return number == 99 ? 0x100 : 1; }

// ---- streams ----

void* stream_create(void* env, const a_vcci_stream_callbacks*, void*, const char* name,
                    a_vcci_error*) {
  log(static_cast<Env*>(env), std::string("stream ") + name);
  return make(static_cast<Env*>(env), std::strcmp(name, "ecc") == 0 ? 2 : 0x303);
}
void* stream_create_id(void* env, const a_vcci_stream_callbacks*, void*, unsigned char number,
                       a_vcci_error*) {
  log(static_cast<Env*>(env), "stream id " + std::to_string(number));
  return make(static_cast<Env*>(env), number);
}
unsigned stream_init(void* stream, a_vcci_side side, _a_vcci_user_option*) {
  log(static_cast<Object*>(stream)->env, "init side=" + std::to_string(side));
  return 0;
}
unsigned stream_fini(void*) { return 0; }

void* conn_create(void* stream, const a_vcci_conn_callbacks*, void*, _a_vcci_user_option*,
                  a_vcci_error* err) {
  Object* s = static_cast<Object*>(stream);
  if (s->number == 2) {  // the ECC stream refuses connections
    set_error(s->env, err, 13, "refused");
    return nullptr;
  }
  return make(s->env, 100);
}
unsigned conn_read(void* conn, unsigned char* buffer, unsigned length, unsigned* count) {
  Object* c = static_cast<Object*>(conn);
  if (c->data.empty()) return 2;
  const unsigned n = length < c->data.size() ? length : static_cast<unsigned>(c->data.size());
  std::memcpy(buffer, c->data.data(), n);
  c->data.erase(0, n);
  *count = n;
  return 0;
}
unsigned conn_write(void* conn, const unsigned char* bytes, unsigned length) {
  Object* c = static_cast<Object*>(conn);
  if (length == 0) {
    error_destroy(c->env, &c->error);
    set_error(c->env, &c->error, 5, "empty write");
    return 7;
  }
  c->data.append(reinterpret_cast<const char*>(bytes), length);
  return 0;
}
unsigned conn_flush(void*) { return 0; }

// ---- block encrypter: xor with the low byte of the initialisation word ----

void* enc_create(void* env, const char* name, const unsigned char*, unsigned,
                 _a_vcci_user_option*, a_vcci_error*) {
  log(static_cast<Env*>(env), std::string("encrypter ") + (name != nullptr ? name : "(null)"));
  return make(static_cast<Env*>(env), 0x104);
}
void* enc_create_id(void* env, unsigned char number, const unsigned char*, unsigned,
                    _a_vcci_user_option*, a_vcci_error*) {
  log(static_cast<Env*>(env), "encrypter id " + std::to_string(number));
  return make(static_cast<Env*>(env), number);
}
unsigned enc_crypt(void*, unsigned char* buffer, unsigned length, std::uint32_t iv) {
  for (unsigned i = 0; i < length; ++i) buffer[i] ^= static_cast<unsigned char>(iv);
  return 0;
}
unsigned enc_block(void*) { return 16; }

// ---- hashers ----

void* hasher_create(void* env, const char* name, a_vcci_error*) {
  log(static_cast<Env*>(env), std::string("hasher ") + (name != nullptr ? name : "(null)"));
  return make(static_cast<Env*>(env), 1);
}
void* hasher_create_id(void* env, unsigned char number, a_vcci_error*) {
  log(static_cast<Env*>(env), "hasher id " + std::to_string(number));
  return make(static_cast<Env*>(env), number);
}
unsigned hasher_size(void*) { return 4; }
unsigned hasher_zero(void*) { return 0; }
unsigned hasher_add(void*, const unsigned char*, unsigned) { return 0; }
unsigned hasher_end(void*, unsigned char* out, unsigned size) {
  if (size < 4) return 1;
  std::memcpy(out, "FAKE", 4);
  return 0;
}
void* password_create(void* env, a_vcci_error*) {
  log(static_cast<Env*>(env), "password hasher");
  return make(static_cast<Env*>(env), 1);
}
void* password_create_id(void* env, unsigned char number, a_vcci_error*) {
  log(static_cast<Env*>(env), "password hasher id " + std::to_string(number));
  return make(static_cast<Env*>(env), number);
}
unsigned password_hash(void*, const unsigned char*, unsigned, unsigned char* out,
                       unsigned size) {
  return hasher_end(nullptr, out, size);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int VCCIGetVersion(a_vcci_version* v) {
  *v = a_vcci_version{FAKE_VERSION};
  return 0;
}

__attribute__((visibility("default"))) int VCCIGetEnvIface(a_vcci_env_iface* t) {
  *t = a_vcci_env_iface{env_create, env_destroy, by_name,   by_number, by_name,
                        by_number,  by_name,     by_number, by_name,   by_number};
  return 0;
}

__attribute__((visibility("default"))) int VCCIGetErrorIface(a_vcci_error_iface* t) {
  t->Destroy = error_destroy;
  return 0;
}

#ifndef FAKE_OMIT_STREAM
__attribute__((visibility("default"))) int VCCIGetStreamIface(a_vcci_stream_iface* t) {
  *t = a_vcci_stream_iface{stream_create, stream_create_id, stream_init, algorithm,
                           stream_fini,   last_error,       destroy,     nullptr};
  return 0;
}
#endif

__attribute__((visibility("default"))) int VCCIGetStreamConnIface(a_vcci_stream_conn_iface* t) {
  *t = a_vcci_stream_conn_iface{conn_create, conn_read,  conn_write,
                                conn_flush,  last_error, destroy};
#ifdef FAKE_GETTER_FAIL
  return 1;
#else
  return 0;
#endif
}

__attribute__((visibility("default"))) int VCCIGetPasswordHasherIface(
    a_vcci_password_hasher_iface* t) {
  *t = a_vcci_password_hasher_iface{password_create, password_create_id, algorithm, hasher_size,
                                    password_hash,   last_error,         destroy};
  return 0;
}

__attribute__((visibility("default"))) int VCCIGetBlockHasherIface(
    a_vcci_block_hasher_iface* t) {
  *t = a_vcci_block_hasher_iface{hasher_create, hasher_create_id, algorithm,  hasher_size,
                                 hasher_zero,   hasher_zero,      hasher_add, hasher_end,
                                 last_error,    destroy};
  return 0;
}

#ifndef FAKE_OMIT_ENCRYPTER
__attribute__((visibility("default"))) int VCCIGetBlockEncrypterIface(
    a_vcci_block_encrypter_iface* t) {
  *t = a_vcci_block_encrypter_iface{enc_create, enc_create_id, algorithm,  enc_crypt,
                                    enc_crypt,  enc_block,     last_error, destroy};
  return 0;
}
#endif

}  // extern "C"

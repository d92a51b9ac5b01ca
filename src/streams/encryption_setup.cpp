// The transport layer's side of encryption: the crypto environment and its provider
// streams, TLS set-up on a transport connection, and the callback tables handed to the
// crypto provider and the TLS adapter.
#include <pthread.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "config/key_value_parser.h"
#include "security/vcci_objects.h"
#include "security/vcci_options.h"
#include "streams/host_functions.h"
#include "streams/transport.h"
#include "utils/base/memory.h"

namespace {

constexpr std::uint32_t kMsgNoTlsConnection = 6408;
constexpr std::uint32_t kMsgOptionNotTaken = 17446;
constexpr const char* kVcciAppName = "VC Client";

// ---- host services given to the crypto environment ----

void* vcci_alloc(void*, std::size_t size) { return ut_alloc(size); }
void* vcci_realloc(void*, void* block, std::size_t size) { return ut_realloc(block, size); }
void vcci_free(void*, void* block) { ut_free(block); }
int vcci_log(void*, std::uint32_t, const char*, const void*, unsigned) { return 0; }
std::uintptr_t vcci_threadid(void*) { return static_cast<std::uintptr_t>(pthread_self()); }
void* vcci_mutex_create(void*) { return new vq::strm::RecursiveLock; }
void vcci_mutex_destroy(void*, void* m) { delete static_cast<vq::strm::RecursiveLock*>(m); }
void vcci_mutex_get(void*, void* m) {
  if (m != nullptr) static_cast<vq::strm::RecursiveLock*>(m)->get();
}
void vcci_mutex_give(void*, void* m) {
  if (m != nullptr) static_cast<vq::strm::RecursiveLock*>(m)->give();
}

const a_vcci_callbacks strm_vcci_callbacks = {
    vcci_alloc,        vcci_realloc,       vcci_free,      vcci_log,        vcci_threadid,
    vcci_mutex_create, vcci_mutex_destroy, vcci_mutex_get, vcci_mutex_give, nullptr};

const a_vcci_stream_callbacks strm_vcci_stream_callbacks = {vcci_log};

// ---- the TLS adapter's callbacks ----

int StrmTLS_write(void* ctx, const char* data, unsigned len) {
  return static_cast<c_strm_tconn*>(ctx)->tls_write(data, len);
}
void StrmTls_debuglog(const char*) {}

// No yield entry: the adapter then sleeps while it waits for the peer.
TlsCallbacks strm_tls_callbacks = {StrmTLS_write, nullptr, StrmTls_debuglog, nullptr};

void error_text(const DBVCCIError* e, char* err, unsigned int err_len) {
  if (err == nullptr || err_len == 0) return;
  err[0] = '\0';
  if (e != nullptr) e->GetString(vq::strm::LibraryCatalog(), err, err_len, nullptr);
}

struct OptionsHolder {
  _a_vcci_user_option* list = nullptr;
  ~OptionsHolder() { FreeVCCIOptions(list); }
};

}  // namespace

int _parseTLSParms(const char* text, _a_vcci_user_option** options, std::uint32_t* msg_id,
                   char** bad_key) {
  *msg_id = 0;
  const int rc = ParseVCCIOptionString(text, options, bad_key);
  switch (rc) {
    case kParseOk: return 1;
    case kParseNoMemory: *msg_id = 7941; break;
    case kParseNoEquals: *msg_id = 7942; break;
    case kParseOpenQuote: *msg_id = 7943; break;
    case kParseUnknownKey: *msg_id = 7944; break;
    case kParseBrackets: *msg_id = 7945; break;
    case kParseDsnFileNotFound: *msg_id = 9371; break;
    case kParseDsnFileNotOpened: *msg_id = 9372; break;
    case kParseNoDataSource: *msg_id = 8340; break;
    default: *msg_id = 7946; break;
  }
  return 0;
}

// ---- c_strm_tran_layer ----------------------------------------------------------------

c_strm_tran_layer::c_strm_tran_layer(c_strm_env_notifier* notifier,
                                     c_strm_buff_frlist* default_pool, void* env)
    : env_(env), port_layer_(notifier, default_pool), vcci_env_(&strm_vcci_callbacks, nullptr) {}

c_strm_tran_layer::~c_strm_tran_layer() {
  for (std::uint32_t i = 0; i < vcci_stream_count_; ++i) delete vcci_streams[i];
  ut_free(vcci_streams);
  if (vcci_started.load() != 0) vcci_env_.Fini();
}

std::uint32_t c_strm_tran_layer::vcci_stream_count() {
  vq::strm::LockHold hold(lock_);
  return vcci_stream_count_;
}

int c_strm_tran_layer::init_vcci(DBVCCIError* err) {
  if (vcci_started.load(std::memory_order_acquire) != 0) return 1;
  vq::strm::LockHold hold(lock_);
  if (vcci_started.load(std::memory_order_relaxed) != 0) return 1;
  if (vcci_env_.Init(0, kVcciAppName, nullptr, err) != 0) return 0;
  vcci_started.store(1, std::memory_order_release);
  return 1;
}

DBVCCIStream* c_strm_tran_layer::_get_vcci_stream(const c_encrypt_level& level, unsigned int) {
  vq::strm::LockHold hold(lock_);
  for (std::uint32_t i = 0; i < vcci_stream_count_; ++i) {
    if ((vcci_streams[i]->GetAlgorithmID() & 0xFF) == (level.level & 0xFF)) return vcci_streams[i];
  }
  return nullptr;
}

int c_strm_tran_layer::initialize_encryption(c_encrypt_level& level, a_strm_session_side,
                                             char* err, unsigned int err_len) {
  DBVCCIError e;
  if (init_vcci(&e) == 0) {
    error_text(&e, err, err_len);
    return 0;
  }
  OptionsHolder options;
  std::uint32_t msg_id = 0;
  char* bad_key = nullptr;
  if (_parseTLSParms(level.parms_text, &options.list, &msg_id, &bad_key) == 0) {
    vq::strm::FormatMsg(err, err_len, msg_id, bad_key != nullptr ? bad_key : "");
    ut_free(bad_key);
    return 0;
  }
  vq::strm::LockHold hold(lock_);
  // One stream per algorithm: a later connection with the same level shares it rather
  // than adding a stream that would live as long as the environment.
  if (level.is_set != 0 && _get_vcci_stream(level, 1) != nullptr) return 1;
  DBVCCIStream* stream = vcci_env_.CreateStream(&strm_vcci_stream_callbacks, this, level, &e);
  if (stream == nullptr) {
    error_text(&e, err, err_len);
    return 0;
  }
  if (stream->Init(VCCI_SIDE_CLIENT, options.list) != 0) {
    error_text(stream->GetLastError(), err, err_len);
    delete stream;
    return 0;
  }
  level.set_level(static_cast<std::uint32_t>(stream->GetAlgorithmID() & 0xFF));
  if (_get_vcci_stream(level, 1) != nullptr) {
    delete stream;  // the level named its algorithm only now, and a stream has it
    return 1;
  }
  vcci_streams = static_cast<DBVCCIStream**>(
      ut_realloc(vcci_streams, sizeof(DBVCCIStream*) * (vcci_stream_count_ + 1)));
  vcci_streams[vcci_stream_count_++] = stream;
  return 1;
}

// ---- c_strm_tconn ------------------------------------------------------------------------

int c_strm_tconn::can_use_encryption(c_encrypt_level& level, DBVCCIError* err) {
  const char* name = level.name_text;
  if (name == nullptr || strcasecmp(name, "none") == 0) {
    level.set_level(static_cast<std::uint32_t>(kEncryptNone));
    return 1;
  }
  if (strcasecmp(name, "simple") == 0) {
    level.set_level(static_cast<std::uint32_t>(kEncryptSimple));
    return 1;
  }
  if (tran_layer_->init_vcci(err) == 0) return 0;
  return tran_layer_->vcci_env().ValidateStreamEncryption(level, err);
}

an_int_strm_error c_strm_tconn::initialize_encryption(c_encrypt_level& level, char* err,
                                                      unsigned int err_len) {
  level_ = level;
  tls_mode_.store(level_.is_tls != 0, std::memory_order_release);
  if (level.is_set != 0 && level.is_tls == 0) return 0;

  void* ctx = host_ctx();
  if (tran_layer_->initialize_encryption(level, 1, err, err_len) == 0) {
    if (vq::strm::HostDebugOn(ctx)) vq::strm::HostPrint(ctx, err);
    return STRM_ENCRYPT_FAILED;
  }
  DBVCCIStream* stream = tran_layer_->_get_vcci_stream(level, 1);
  OptionsHolder options;
  std::uint32_t msg_id = 0;
  char* bad_key = nullptr;
  if (stream == nullptr) {
    vq::strm::FormatMsg(err, err_len, kMsgNoTlsConnection, "TLS");
    if (vq::strm::HostDebugOn(ctx)) vq::strm::HostPrint(ctx, err);
    return STRM_NO_SERVER;
  }
  if (_parseTLSParms(level.parms_text, &options.list, &msg_id, &bad_key) == 0) {
    vq::strm::FormatMsg(err, err_len, msg_id, bad_key != nullptr ? bad_key : "");
    ut_free(bad_key);
    if (vq::strm::HostDebugOn(ctx)) vq::strm::HostPrint(ctx, err);
    return STRM_NO_SERVER;
  }
  DBVCCIError e;
  auto* tls = new TlsConnection(stream, &tran_layer_->vcci_env(), &strm_tls_callbacks, this,
                                tran_layer_->env(), &e, options.list);
  bool failed = false;
  if (!tls->created() || e.GetCode() != 0) {
    error_text(&e, err, err_len);
    if (err != nullptr && err_len != 0 && err[0] == '\0') {
      vq::strm::FormatMsg(err, err_len, kMsgNoTlsConnection, "TLS");
    }
    failed = true;
  } else {
    for (_a_vcci_user_option* o = options.list; o != nullptr; o = o->next) {
      if (o->used == 0) {
        vq::strm::FormatMsg(err, err_len, kMsgOptionNotTaken, o->name);
        failed = true;
        break;
      }
    }
  }
  if (failed) {
    vq::strm::HostPrint(ctx, err);
    delete tls;
    return STRM_NO_SERVER;
  }
  tls_.store(tls, std::memory_order_release);
  level = level_;
  pconn_->set_tls_mode();
  return 0;
}

int c_strm_tconn::tls_write(const char* data, unsigned int len) {
  if (len == 0) return 0;
  const an_int_strm_error rc = pconn_->blocking_put(data, len);
  return (rc == STRM_OK || rc == STRM_QUEUED) ? static_cast<int>(len) : 0;
}

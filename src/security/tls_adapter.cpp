// The TLS connection adapter: the receive queue, the engine's callbacks and the bounded
// write and read loops.
#include "security/tls_adapter.h"

#include <chrono>
#include <cstring>

#include "security/vcci_environment.h"
#include "security/vcci_objects.h"
#include "utils/base/fast_clock.h"
#include "utils/base/memory.h"

namespace {

// How long a waiting write sleeps when nothing arrives: short enough that the time limit
// and a shut-down are seen promptly, long enough that waiting costs no CPU.
constexpr std::chrono::milliseconds kWaitSlice{20};

std::int64_t elapsed_ms(std::uint64_t start) {
  std::uint64_t now = 0;
  fast_tod(&now);
  return fast_tod_diff_ms(now, start);
}

std::uint64_t now_ms() {
  std::uint64_t now = 0;
  fast_tod(&now);
  return now;
}

}  // namespace

// ---- TlsReadBuffer ----

TlsReadBuffer::TlsReadBuffer(const char* bytes, unsigned length_in)
    : data(static_cast<char*>(ut_alloc(static_cast<std::size_t>(length_in) + 1))),
      position(0),
      remaining(length_in),
      length(length_in) {
  if (length_in != 0) std::memcpy(data, bytes, length_in);
  data[length_in] = '\0';
}

TlsReadBuffer::~TlsReadBuffer() { ut_free(data); }

// ---- engine callbacks ----

extern "C" {

int VCCI_ReadCallback(void* adapter, unsigned char* buffer, unsigned length, unsigned* count) {
  auto* tls = static_cast<TlsConnection*>(adapter);
  unsigned got = 0;
  if (tls->callbacks() != nullptr && tls->callbacks()->read != nullptr) {
    const int ok = tls->callbacks()->read(tls->transportContext(),
                                          reinterpret_cast<char*>(buffer), length, &got);
    if (count != nullptr) *count = ok != 0 ? got : 0;
    if (ok == 0) return 1;
    return got != 0 ? 0 : 2;
  }
  const unsigned rc = tls->getReceivedBytes(reinterpret_cast<char*>(buffer), length, &got);
  if (count != nullptr) *count = rc == 0 ? got : 0;
  return rc == 0 ? 0 : 2;
}

int VCCI_WriteCallback(void* adapter, const unsigned char* bytes, unsigned length) {
  auto* tls = static_cast<TlsConnection*>(adapter);
  if (length == 0) return 0;  // nothing to send
  const int sent = tls->callbacks()->write(tls->transportContext(),
                                           reinterpret_cast<const char*>(bytes), length);
  if (sent == 0 || sent == -1) return 1;
  return static_cast<unsigned>(sent) == length ? 0 : 1;
}

int VCCI_ConnLogCallback(void* adapter, std::uint32_t level, const char* text, const void*,
                         unsigned) {
  auto* tls = static_cast<TlsConnection*>(adapter);
  if ((level & kVCCIInternalLog) != 0 || text == nullptr || tls == nullptr) return 0;
  if (tls->callbacks() != nullptr && tls->callbacks()->log != nullptr) {
    tls->callbacks()->log(text);
  }
  return 0;
}

int VCCI_LogCallback(void* adapter, std::uint32_t level, const char* text, const void* data,
                     unsigned length) {
  return VCCI_ConnLogCallback(adapter, level, text, data, length);
}

const a_vcci_conn_callbacks VCCI_ConnCallbacks = {VCCI_ReadCallback, VCCI_WriteCallback,
                                                  VCCI_ConnLogCallback, nullptr};

}  // extern "C"

// ---- TlsConnection ----

TlsConnection::TlsConnection(DBVCCIStream* stream, DBVCCIEnvironment* env,
                             TlsCallbacks* callbacks, void* transport_context,
                             void* yield_context, DBVCCIError* error,
                             _a_vcci_user_option* options)
    : transport_context_(transport_context),
      callbacks_(callbacks),
      yield_context_(yield_context),
      stream_(stream) {
  DBVCCIError local;
  DBVCCIError* err = error != nullptr ? error : &local;
  if (stream != nullptr) conn_ = stream->CreateConn(&VCCI_ConnCallbacks, options, this, err);
  if (conn_ == nullptr) {
    if (stream == nullptr) {
      err->Clear();
      err->Set(kVCCIErrInternal);
    }
    // Without an engine every operation answers 12 instead of calling a null engine.
    shut_down_ = true;
    return;
  }
  created_ = 1;
  if (env != nullptr) {
    mutex_ = env->createMutex();
    error_.createMutex(env);
  }
}

TlsConnection::~TlsConnection() {
  delete conn_;
  while (TlsReadBuffer* chunk = queue_.first_element()) delete chunk;  // unlinks itself
  delete mutex_;
}

void TlsConnection::getMutex() {
  if (mutex_ != nullptr) mutex_->get();
}

void TlsConnection::giveMutex() {
  if (mutex_ != nullptr) mutex_->give();
}

unsigned char TlsConnection::getAlgorithmID() const {
  return stream_ != nullptr ? stream_->GetAlgorithmID() : 0;
}

void TlsConnection::getErrorString(UTLangStringBase* messages, char* buffer,
                                   unsigned size) const {
  error_.GetString(messages, buffer, size, nullptr);
}

unsigned TlsConnection::finish(unsigned code) {
  error_.Clear();
  error_.Set(code);
  return code;
}

unsigned TlsConnection::engine_error() {
  error_.CloneFrom(conn_->GetLastError());
  // An engine that reports a failure with no code must not read as success.
  if (error_.GetCode() == kVCCIErrNone) error_.Set(kVCCIErrInternal);
  return error_.GetCode();
}

void TlsConnection::shut_down() {
  shut_down_ = true;
  {
    std::lock_guard<std::mutex> hold(arrival_lock_);
    arrivals_.fetch_add(1);
  }
  arrival_.notify_all();
}

void TlsConnection::pause() {
  giveMutex();
  if (callbacks_ != nullptr && callbacks_->yield != nullptr) callbacks_->yield(yield_context_);
  getMutex();
}

void TlsConnection::wait_for_peer(std::uint64_t seen) {
  giveMutex();
  if (callbacks_ != nullptr && callbacks_->yield != nullptr) callbacks_->yield(yield_context_);
  {
    std::unique_lock<std::mutex> hold(arrival_lock_);
    arrival_.wait_for(hold, kWaitSlice,
                      [&] { return arrivals_.load() != seen || shut_down_.load(); });
  }
  getMutex();
}

unsigned TlsConnection::write(const void* bytes, unsigned length) {
  if (conn_ == nullptr) return finish(kVCCIErrTlsClosed);
  getMutex();
  if (is_shut_down()) {
    giveMutex();
    return finish(kVCCIErrTlsClosed);
  }
  if (stream_->GetSide() == VCCI_SIDE_SERVER && !handshake_done_) {
    giveMutex();
    return finish(kVCCIErrTlsServerWrite);
  }
  const std::uint64_t start = now_ms();
  const auto* data = static_cast<const unsigned char*>(bytes);
  std::uint64_t seen = arrivals_.load();
  unsigned answer = conn_->Write(data, length);
  while (answer == 2) {
    if (is_shut_down()) {
      giveMutex();
      return finish(kVCCIErrTlsClosed);
    }
    wait_for_peer(seen);
    if (elapsed_ms(start) >= kTlsWaitLimitMs) {
      giveMutex();
      return finish(handshake_done_ ? kVCCIErrTlsTimeout : kVCCIErrTlsHandshakeTimeout);
    }
    seen = arrivals_.load();
    answer = conn_->Write(data, length);
  }
  unsigned result;
  if (answer == 0) {
    handshake_done_ = true;
    result = finish(kVCCIErrNone);
  } else if (is_shut_down() || answer == 3) {
    shut_down_ = true;
    result = finish(kVCCIErrTlsClosed);
  } else {
    result = engine_error();
  }
  giveMutex();
  return result;
}

unsigned TlsConnection::read(char* buffer, unsigned* length) {
  if (length == nullptr) return finish(kVCCIErrInternal);
  if (conn_ == nullptr) {
    *length = 0;
    return finish(kVCCIErrTlsClosed);
  }
  getMutex();
  if (is_shut_down()) {
    giveMutex();
    *length = 0;
    return finish(kVCCIErrTlsClosed);
  }
  unsigned wanted = *length;
  *length = 0;
  const std::uint64_t start = now_ms();
  auto* position = reinterpret_cast<unsigned char*>(buffer);
  unsigned answer = 0;
  for (;;) {
    unsigned got = 0;
    answer = conn_->Read(position, wanted, &got);
    if (answer == 3) {
      shut_down_ = true;
      break;
    }
    if (answer != 0) break;
    handshake_done_ = true;
    if (got == 0 && wanted != 0) {
      answer = 2;  // an engine that delivers nothing has nothing for us yet
      break;
    }
    if (got >= wanted) {
      *length += wanted;
      break;
    }
    if (is_shut_down()) break;
    pause();
    *length += got;
    position += got;
    wanted -= got;
    if (wanted == 0 || is_shut_down()) break;
    if (elapsed_ms(start) >= kTlsWaitLimitMs) {
      giveMutex();
      return finish(handshake_done_ ? kVCCIErrTlsTimeout : kVCCIErrTlsHandshakeTimeout);
    }
  }
  unsigned result;
  if (is_shut_down()) {
    result = finish(kVCCIErrTlsClosed);
  } else if (answer == 2) {
    result = finish(kVCCIErrTlsNoData);
  } else if (answer == 0) {
    result = finish(kVCCIErrNone);
  } else {
    result = engine_error();
  }
  giveMutex();
  return result;
}

unsigned TlsConnection::receiveBytes(const char* bytes, unsigned length) {
  // This runs on the receiving thread and never writes the error: a write or read on
  // another thread may just have stored a result there, and once the adapter is shut
  // down that record holds the failure that ended the session (its reason included),
  // which bytes still in flight from the peer must not replace with a bare 12.
  if (is_shut_down()) return kVCCIErrTlsClosed;
  if (length != 0 && bytes != nullptr) {
    auto* chunk = new TlsReadBuffer(bytes, length);
    getMutex();
    queue_.append(chunk);
    queued_ += length;
    giveMutex();
    {
      std::lock_guard<std::mutex> hold(arrival_lock_);
      arrivals_.fetch_add(1);
    }
    arrival_.notify_all();
  }
  return kVCCIErrNone;
}

unsigned TlsConnection::getReceivedBytes(char* buffer, unsigned length, unsigned* count) {
  if (count != nullptr) *count = 0;
  if (is_shut_down()) return finish(kVCCIErrTlsClosed);
  // The engine receives whole requests only.
  if (queued_ == 0 || queued_ < length) return kVCCIErrTlsNoData;
  unsigned taken = 0;
  while (taken < length) {
    TlsReadBuffer* chunk = queue_.first_element();
    const unsigned n = chunk->remaining < length - taken ? chunk->remaining : length - taken;
    std::memcpy(buffer + taken, chunk->data + chunk->position, n);
    chunk->position += n;
    chunk->remaining -= n;
    taken += n;
    if (chunk->remaining == 0) delete chunk;
  }
  queued_ -= length;
  if (count != nullptr) *count = length;
  return kVCCIErrNone;
}

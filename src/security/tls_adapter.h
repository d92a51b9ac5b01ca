// The TLS connection adapter: puts a provider's TLS engine (a DBVCCIStreamConn) between
// the transport layer and the network. The engine never touches a socket: received
// chunks are queued here with receiveBytes and pulled by the engine, all or nothing,
// through its read callback; what the engine sends goes out through the host's write
// callback. write and read turn the engine's would-block answers into waits of at most
// 31,000 ms from the call's start.
//
// Results (also the code of the adapter's error, which receiveBytes alone never sets):
// 0 success, 8 time limit after the handshake, 9 write on a server side before its
// handshake, 10 no data available, 12 shut down or closed, 17 time limit during the
// handshake; anything else is an engine error copied into the adapter's error
// (getErrorString gives its text).
//
// Threads: one mutex (from the crypto environment) guards the queue, the flags and every
// engine call; it is given while the adapter waits, so that another thread can queue
// received bytes meanwhile. While a write waits for the peer, the adapter sleeps until
// bytes arrive, the adapter is shut down, or a short slice has passed; it never spins.
#ifndef VQ_SECURITY_TLS_ADAPTER_H
#define VQ_SECURITY_TLS_ADAPTER_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "security/vcci_error.h"
#include "security/vcci_interface.h"
#include "utils/base/list.h"

class DBVCCIEnvironment;
class DBVCCIStream;
class DBVCCIStreamConn;
class UTLangStringBase;

// Host services of one adapter. write and log are always called when needed; read and
// yield may be null.
struct TlsCallbacks {
  // Sends the bytes; returns the count sent, 0 or -1 for failure.
  int (*write)(void* transport_context, const char* bytes, unsigned length);
  // When present, serves the engine's reads instead of the adapter's queue: non-zero on
  // success with *count bytes delivered (0 meaning none yet).
  int (*read)(void* transport_context, char* buffer, unsigned length, unsigned* count);
  // Debug text from the engine.
  void (*log)(const char* text);
  // Called while the adapter waits for the engine.
  void (*yield)(void* yield_context);
};

// One received chunk, owned; consumed from the front.
class TlsReadBuffer : public c_utils_link {
 public:
  TlsReadBuffer(const char* bytes, unsigned length);
  ~TlsReadBuffer() override;

  char* data;          // the copy, with one spare byte
  unsigned position;   // next byte to hand out
  unsigned remaining;  // bytes not yet handed out
  unsigned length;     // as received
};

class TlsReadBuffer_list : public c_utils_list<TlsReadBuffer> {
 public:
  ~TlsReadBuffer_list() override = default;
};
using TlsReadBuffer_iter = c_utils_iter<TlsReadBuffer>;

// Connection callbacks given to the engine, with the adapter as their context. Read and
// write answer 0 done, 1 error, 2 would block.
extern "C" {
int VCCI_ReadCallback(void* adapter, unsigned char* buffer, unsigned length, unsigned* count);
int VCCI_WriteCallback(void* adapter, const unsigned char* bytes, unsigned length);
// Passes the text to the host's log slot unless the level is negative (top bit set:
// the engine's internal logs) or the text is null; answers 0.
int VCCI_ConnLogCallback(void* adapter, std::uint32_t level, const char* text, const void* data,
                         unsigned length);
int VCCI_LogCallback(void* adapter, std::uint32_t level, const char* text, const void* data,
                     unsigned length);
extern const a_vcci_conn_callbacks VCCI_ConnCallbacks;
}

class TlsConnection {
 public:
  // Asks the stream for an engine connection (the options go to it; the provider marks
  // those it takes as used). On failure `error` holds the cause, created() is false and
  // every operation answers 12; such an adapter is only destroyed. The stream and the
  // callbacks must outlive the adapter.
  TlsConnection(DBVCCIStream* stream, DBVCCIEnvironment* env, TlsCallbacks* callbacks,
                void* transport_context, void* yield_context, DBVCCIError* error,
                _a_vcci_user_option* options);
  // Deletes the engine connection, the queued chunks and the mutex.
  ~TlsConnection();
  TlsConnection(const TlsConnection&) = delete;
  TlsConnection& operator=(const TlsConnection&) = delete;

  // Enciphers and sends `length` bytes (on a client, the first write runs the
  // handshake).
  unsigned write(const void* bytes, unsigned length);
  // In: the space at `buffer`; out: the bytes delivered (also when the result is 10).
  unsigned read(char* buffer, unsigned* length);
  // Queues a copy of bytes received from the network: 12 when shut down, else 0. Never
  // changes the adapter's error (it runs on the receiving thread, beside writes and
  // reads on others).
  unsigned receiveBytes(const char* bytes, unsigned length);
  // For the engine's read callback (the caller holds the mutex): exactly `length` queued
  // bytes, or none with 10 when fewer are queued. 12 when shut down.
  unsigned getReceivedBytes(char* buffer, unsigned length, unsigned* count);
  // Every later operation answers 12; wakes a waiting write.
  void shut_down();

  bool doneHandshake() const { return handshake_done_; }
  bool created() const { return created_ != 0; }
  unsigned char getAlgorithmID() const;
  DBVCCIError* getError() { return &error_; }
  void getErrorString(UTLangStringBase* messages, char* buffer, unsigned size) const;
  void getMutex();
  void giveMutex();

  TlsCallbacks* callbacks() const { return callbacks_; }
  void* transportContext() const { return transport_context_; }

 private:
  unsigned finish(unsigned code);  // stores the code as the error's and returns it
  unsigned engine_error();         // copies the engine's last error
  bool is_shut_down() const { return shut_down_.load(); }
  // Gives the mutex, yields, sleeps until bytes arrive after `seen` (or shut-down, or a
  // slice), takes the mutex.
  void wait_for_peer(std::uint64_t seen);
  void pause();  // gives the mutex, yields, takes the mutex

  void* transport_context_;
  DBVCCIError error_;
  TlsReadBuffer_list queue_;  // oldest chunk first
  std::uint64_t queued_ = 0;  // remaining bytes of all chunks (wide: never wraps)
  std::atomic<bool> handshake_done_{false};
  TlsCallbacks* callbacks_;  // not owned
  void* yield_context_;
  DBVCCIMutex* mutex_ = nullptr;  // owned
  std::atomic<bool> shut_down_{false};
  DBVCCIStream* stream_;              // not owned
  DBVCCIStreamConn* conn_ = nullptr;  // owned
  unsigned created_ = 0;

  // Arrival signal for waits: bumped by receiveBytes and shut_down.
  std::mutex arrival_lock_;
  std::condition_variable arrival_;
  std::atomic<std::uint64_t> arrivals_{0};
};

// The longest wait for the engine within one write or read, in milliseconds.
constexpr std::int64_t kTlsWaitLimitMs = 31000;

#endif  // VQ_SECURITY_TLS_ADAPTER_H

// The transport layer: one c_strm_tran_layer per communication environment (it owns the
// port layer and the crypto environment used for TLS) and one c_strm_tconn per
// connection, between a session connection above and a link connection below.
//
// The transport connection frames outgoing packets (simple scrambling or TLS), rebuilds
// whole packets from a stream link's bytes and checks their headers, takes whole packets
// from a packet link, and carries link events up. Every packet is rebuilt in a buffer of
// its own: no more bytes go into a buffer than its packet still lacks, and a length that
// does not fit the buffer's packet area ends the connection (error 100001).
//
// Threads: accept_bytes runs on the stream link's thread, accept_buff and the link
// events on whichever thread drives a packet link, put on the sending thread. The
// receive lock guards the buffer being filled; the session connection above, the TLS
// connection and the TLS mode are atomics, read by both sides.
#ifndef VQ_STREAMS_TRANSPORT_H
#define VQ_STREAMS_TRANSPORT_H

#include <atomic>
#include <cstdint>

#include "config/encrypt_level.h"
#include "security/tls_adapter.h"
#include "security/vcci_environment.h"
#include "streams/port_layer.h"
#include "streams/recursive_lock.h"
#include "streams/strm_errors.h"
#include "utils/base/list.h"

class c_conn_parms;
class c_strm_buffer;
class c_strm_buff_frlist;
class c_strm_tconn;
class DBVCCIStream;

// The error code a rebuilt byte stream reports when it cannot go on.
constexpr std::uint32_t kStrmRecvFailure = 100001;

// What the transport connection calls on the session connection above it.
class c_strm_tconn_upcalls {
 public:
  virtual ~c_strm_tconn_upcalls() = default;
  // A whole packet in `buffer`, which now belongs to the callee. 0 means the
  // connection is going away and must not be called again.
  virtual int accept_buff(c_strm_buffer* buffer) = 0;
  virtual void accept_error(std::uint32_t code) = 0;
  virtual void drop_connection(int reason) = 0;
  // A buffer that the link had queued (put answered 10) has gone.
  virtual void delayed_put_completed(c_strm_buffer* buffer) = 0;
  // The session connection's buffer pool.
  virtual c_strm_buff_frlist* buffer_pool() = 0;
  // The packet to the connection's packet dump when one is open; `received` 1 for a
  // received packet, 0 for a sent one.
  virtual void dump_packet(const std::uint8_t* packet, std::uint16_t length, int received) {
    (void)packet, (void)length, (void)received;
  }
};

// A side of a TLS session; streams are always initialised for the client side.
typedef std::uint32_t a_strm_session_side;

class c_strm_tran_layer {
 public:
  // `env` is the communication environment, passed through to the links.
  c_strm_tran_layer(c_strm_env_notifier* notifier, c_strm_buff_frlist* default_pool,
                    void* env);
  ~c_strm_tran_layer();
  c_strm_tran_layer(const c_strm_tran_layer&) = delete;
  c_strm_tran_layer& operator=(const c_strm_tran_layer&) = delete;

  // Connects by the parameters: 1 with a new transport connection in *out; 20 when the
  // Encryption value cannot be read (the word in `err`); 14 when the transport
  // connection cannot be made; otherwise the port layer's result.
  an_int_strm_error connect(const c_conn_parms* parms, a_strm_conn_type type, char* err,
                            std::uint32_t err_len, void* host_ctx,
                            c_strm_conn_notifier** notifier, c_strm_tconn** out);

  // Starts the crypto environment once; 1 ready, 0 failed with `err` filled.
  int init_vcci(DBVCCIError* err);
  // The provider stream of the level, made once per algorithm (later connections share
  // it); 1, or 0 with a message in `err`.
  int initialize_encryption(c_encrypt_level& level, a_strm_session_side side, char* err,
                            unsigned int err_len);
  // The stream whose algorithm is the level's number, or null.
  DBVCCIStream* _get_vcci_stream(const c_encrypt_level& level, unsigned int side);

  c_strm_port_layer& port_layer() { return port_layer_; }
  DBVCCIEnvironment& vcci_env() { return vcci_env_; }
  void* env() const { return env_; }
  std::uint32_t vcci_stream_count();

 private:
  void* env_;
  c_strm_port_layer port_layer_;
  DBVCCIStream** vcci_streams = nullptr;  // owned, ut_alloc array
  std::uint32_t vcci_stream_count_ = 0;
  vq::strm::RecursiveLock lock_;          // the array and the crypto start
  DBVCCIEnvironment vcci_env_;
  std::atomic<std::uint32_t> vcci_started{0};
};

class c_strm_tconn : public c_utils_link {
 public:
  // Takes the link connection (owned) and one reference on the host context.
  c_strm_tconn(c_strm_tran_layer* tran_layer, c_strm_pconn* pconn, void* host_ctx);
  // Gives the buffer being filled back, deletes the TLS connection and the link.
  ~c_strm_tconn() override;

  // Attaches (or with null detaches) the session connection; the link then calls back
  // this transport connection (or nothing).
  void set_sconn(c_strm_tconn_upcalls* sconn);
  // Sends one finished packet (header at the start of the buffer's packet area): 1 sent
  // (the buffer is back with the caller), 9 no session connection, 10 queued by the
  // link, 6 encryption failure (TLS handshake not finished, or TLS wanted but not set
  // up), 0 after a TLS write failure, other link results as they come.
  an_int_strm_error put(c_strm_buffer* buffer, unsigned int unused = 0);
  // Every run of bytes a stream link read, in order; 0 bytes means the peer closed. After
  // a failure (a bad length, a bad first packet, no buffer, the peer closed) the stream's
  // packet boundaries are lost: later bytes are dropped, and the failure is told once.
  void accept_bytes(const std::uint8_t* data, std::uint32_t len);
  // One whole packet from a packet link; 0 when no session connection takes it.
  int accept_buff(c_strm_buffer* buffer);
  void accept_error(std::uint32_t code);
  void drop_connection();
  void delayed_put_completed(c_strm_buffer* buffer);
  // To the session connection's pool, else the fallback pool, else left alone.
  void done_buffer(c_strm_buffer* buffer);
  // Shuts TLS down, closes the link and drops the host-context reference.
  void disconnect();

  // Whether the level can be used before the application connect; see the source.
  int can_use_encryption(c_encrypt_level& level, DBVCCIError* err);
  // After the level is agreed: 0 ready, 6 no provider stream, 7 TLS not set up.
  an_int_strm_error initialize_encryption(c_encrypt_level& level, char* err,
                                          unsigned int err_len);
  // The TLS engine's transport write: `len` when the link took every byte, else 0.
  int tls_write(const char* data, unsigned int len);

  c_strm_pconn* pconn() const { return pconn_; }
  c_strm_tconn_upcalls* sconn() const { return sconn_.load(std::memory_order_acquire); }
  TlsConnection* tls() const { return tls_.load(std::memory_order_acquire); }
  const c_encrypt_level& level() const { return level_; }
  void* host_ctx() const { return host_ctx_.load(std::memory_order_acquire); }
  bool first_packet_seen() const { return first_packet_seen_ != 0; }

  c_strm_buff_frlist* fallback_pool = nullptr;  // set by the session connection

 private:
  // Makes sure a buffer is being filled; false when none can be had.
  bool ensure_recv_buffer(c_strm_tconn_upcalls* up);
  // Ends the stream: the buffer goes back, the session connection hears 100001.
  void receive_failed(c_strm_tconn_upcalls* up);
  // A TLS failure while receiving or sending; prints the error once.
  void tls_failed(unsigned int code, bool always_print);
  // Hands a complete packet up (or drops a type-27 one).
  void deliver(c_strm_tconn_upcalls* up, c_strm_buffer* buffer);

  c_strm_tran_layer* tran_layer_;
  c_strm_pconn* pconn_;                           // owned
  std::atomic<c_strm_tconn_upcalls*> sconn_{nullptr};
  c_encrypt_level level_{0u, nullptr};
  std::atomic<void*> host_ctx_;                   // one counted reference until disconnect
  c_strm_buffer* recv_buffer_ = nullptr;          // the packet being rebuilt
  std::uint8_t* recv_pos_ = nullptr;              // next free byte of its packet area
  std::atomic<std::uint32_t> recv_count_{0};      // bytes of the packet so far
  vq::strm::RecursiveLock recv_lock_;
  std::atomic<TlsConnection*> tls_{nullptr};      // owned
  std::atomic<bool> tls_mode_{false};             // the level is a TLS level
  std::uint32_t first_packet_seen_ = 0;
  std::atomic<std::uint32_t> tls_error_reported_{0};
  std::atomic<bool> recv_failed_{false};          // the byte stream ended in a failure
};

// The TLS parameter text parsed into provider options: 1 with the list (null for an
// empty text), or 0 with the message number and the key concerned (ut_free it).
int _parseTLSParms(const char* text, _a_vcci_user_option** options, std::uint32_t* msg_id,
                   char** bad_key);

#endif  // VQ_STREAMS_TRANSPORT_H

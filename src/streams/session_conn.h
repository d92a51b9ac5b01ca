// The session connection (c_strm_sconn): the object behind the a_strm_conn handle. It
// builds outgoing packets from what the presentation layer writes and sends them
// through its transport connection; it keeps the packets handed up in arrival order
// and gives the presentation layer a read position in them. It carries the
// connection's state, message ends (sync points), attention and resynchronisation,
// liveness, immediate server messages, compression and the packet dump, and tells the
// host what happens through the connection notifier.
//
// Locks: the receive lock guards the packet queue, the state and the receive flags; the
// send lock the open outgoing packet and the attention; the put lock a write in
// progress. The send flags are atomics: the link's thread reads them without the send
// lock. The link's thread calls accept_buff, accept_error and delayed_put_completed;
// the request thread sends and reads; the control thread runs liveness.
#ifndef VQ_STREAMS_SESSION_CONN_H
#define VQ_STREAMS_SESSION_CONN_H

#include <atomic>
#include <cstdint>
#include <memory>

#include "streams/buffer_pool.h"
#include "streams/compression.h"
#include "streams/notifier.h"
#include "streams/packet_dump.h"
#include "streams/recursive_lock.h"
#include "streams/strm_errors.h"
#include "streams/transport.h"

class c_strm_sconn;
struct CharsetInfo;
class UTLocale;
struct a_pres_state;

// The handle the host holds is the session connection itself.
struct a_strm_conn_rec {};

// The host's server-message callback: (callback data, the connection's callback data,
// message type, code, text length, text, host context). Its result is ignored.
typedef int (*a_strm_msg_callback)(void* data, void* conn_data, std::uint8_t type,
                                   std::uint32_t code, std::uint16_t length, const char* text,
                                   void* host_ctx);
// The host's file-transfer check: (callback data, the connection's callback data, file
// name, write flag, out word). 0 refuses; otherwise a non-zero *allow allows.
typedef int (*a_strm_validate_callback)(void* data, void* conn_data, const char* name,
                                        std::uint32_t write, std::uint32_t* allow);

// What a session connection asks of the session layer that owns it.
class c_strm_sconn_owner {
 public:
  virtual ~c_strm_sconn_owner() = default;
  // An immediate server message for the callback thread.
  virtual void queue_callback_msg(c_strm_sconn* conn, std::uint8_t type, std::uint32_t code,
                                  const char* text, std::uint16_t length) = 0;
  // The connection left the connected state: its queued messages go.
  virtual void stop_conn_callback_msgs(c_strm_sconn* conn) = 0;
  // Run a liveness pass soon.
  virtual void request_liveness_pass() = 0;
  virtual void update_timeout_from_conn(std::uint16_t seconds) = 0;
  // The control thread should start the link's receiving for this connection.
  virtual void add_receive_proxy(c_strm_sconn* conn) = 0;
  virtual void remove_receive_proxy(c_strm_sconn* conn) = 0;
  virtual void delayed_delete(c_strm_sconn* conn) = 0;
  virtual bool shutting_down() const = 0;
  virtual c_strm_env_notifier* env_notifier() = 0;
  // The host's callbacks and their data, and the environment's locale (for file
  // names); none by default.
  virtual a_strm_msg_callback message_callback() const { return nullptr; }
  virtual a_strm_validate_callback validate_callback() const { return nullptr; }
  virtual void* callback_data() const { return nullptr; }
  virtual UTLocale* locale() const { return nullptr; }
};

// Connection states; a state only rises, except that 4 may return to 3.
enum a_sconn_state : std::uint8_t {
  SCONN_CREATED = 0,
  SCONN_RECEIVING = 1,
  SCONN_APP_CONNECTED = 2,
  SCONN_CONNECTED_TO_DB = 3,
  SCONN_NORMAL_DISCONNECT = 4,
  SCONN_DEAD = 5,
  SCONN_FAILED = 6,
  SCONN_WAITING_DELETE = 7,
  SCONN_DESTROYED = 8,
};

// Why the connection ended.
enum a_sconn_reason : std::uint8_t {
  SCONN_REASON_NONE = 0,
  SCONN_REASON_DEAD = 1,          // noticed by a time-out or a vanished peer
  SCONN_REASON_LINK_DEAD = 2,     // reported by the link
  SCONN_REASON_CLOSED = 3,        // not tied to a database, or a normal disconnect
  SCONN_REASON_CLOSED_IN_DB = 4,  // closed while connected to a database
};

class c_strm_sconn : public a_strm_conn_rec, public c_strm_tconn_upcalls, public c_utils_link {
 public:
  static constexpr std::uint16_t kDefaultMaxPacket = 16000;
  static constexpr std::uint16_t kNoLiveness = 65535;
  // Send flags.
  static constexpr std::uint32_t kPutRefused = 0x01;
  static constexpr std::uint32_t kPutCompleted = 0x02;
  static constexpr std::uint32_t kAttention = 0x04;
  // Receive flags.
  static constexpr std::uint32_t kReaderWaiting = 0x01;
  static constexpr std::uint32_t kMessageEnded = 0x02;
  static constexpr std::uint32_t kDropped = 0x04;
  static constexpr std::uint32_t kAbnormalReported = 0x10;
  // Options.
  static constexpr std::uint32_t kOptLiveness = 0x01;
  static constexpr std::uint32_t kOptCompression = 0x02;
  static constexpr std::uint32_t kOptSizeChanged = 0x04;

  // Takes the transport connection (owned); its pool is a child of `env_pool` with
  // limits 4 and 4; counts the host context up; tells the notifier.
  c_strm_sconn(c_strm_sconn_owner* owner, c_strm_tconn* tconn, c_strm_buff_frlist* env_pool,
               c_strm_conn_notifier* notifier, void* host_ctx);
  ~c_strm_sconn() override;

  static c_strm_sconn* from_handle(a_strm_conn h) { return static_cast<c_strm_sconn*>(h); }
  a_strm_conn handle() { return this; }

  an_int_strm_error start_receive();

  // ---- sending ----
  // Reserves an item with length byte L: *out points after the written length byte.
  an_int_strm_error send(std::uint8_t length_byte, std::uint8_t** out, std::uint8_t type,
                         std::uint8_t encrypt);
  // Bytes between the write position and the end of the open packet; 0 without one.
  std::uint16_t room_left();
  // The room for items of a packet opened now (header excluded).
  std::uint16_t fresh_packet_room() const;
  // Reserves `size` raw bytes at *out; 0 when they cannot fit any packet.
  an_int_strm_error send_raw(std::uint16_t size, std::uint8_t** out, std::uint8_t type,
                             std::uint8_t encrypt);
  an_int_strm_error new_out_buff(std::uint8_t type, std::uint8_t encrypt);
  an_int_strm_error flush_out_buff(bool end_of_message, std::uint8_t status);
  an_int_strm_error flush_output();
  an_int_strm_error sync_point();

  // ---- receiving ----
  // The next packet to read from (or the current one with unread bytes): 1, 2 dead,
  // 4 nothing yet (the reader now counts as waiting), 5 attention acknowledged.
  an_int_strm_error _receive_prv(std::uint8_t* type, std::uint8_t* status,
                                 std::uint16_t* length, bool data_only);
  // The unread bytes of the current packet; advance() consumes them.
  const std::uint8_t* in_pos() const { return in_pos_.load(std::memory_order_relaxed); }
  const std::uint8_t* in_end() const { return in_end_; }
  void advance(std::size_t n) {
    const std::uint8_t* pos = in_pos();
    const std::size_t left = static_cast<std::size_t>(in_end_ - pos);
    in_pos_.store(pos + (n < left ? n : left), std::memory_order_relaxed);
  }
  // True when the next item can be read from the current packet as it stands: the
  // connection lives, no attention waits for its acknowledgement and unread bytes are
  // left. _receive_prv(..., true) would then answer 1 and change nothing.
  bool current_has_data() const {
    return in_buff_ != nullptr && in_pos() < in_end_ && !dead() &&
           (send_flags_.load() & kAttention) == 0;
  }
  bool is_sync_point(std::uint32_t* word);
  bool sync_point_arrived(std::uint32_t* word);
  // Discards input up to and including the next packet that ends a message. A current
  // packet that ends a message counts while it holds unread bytes; read to its end it
  // counts only with `flag` (a reply abandoned at its last item), so that without the
  // flag the whole next message, not yet read, is dropped.
  an_int_strm_error resync(bool flag);
  an_int_strm_error attention();
  an_int_strm_error receive_attnack();

  // ---- state ----
  an_int_strm_error get_ind();
  bool isAlive();
  void handle_dead_connection(bool link_reported);
  void set_connected_to_db();
  void set_normal_disconnect();
  void delayed_delete();
  void reset_buff_size(std::uint16_t size);
  void reportAbnormalDisconnect(bool quiet, std::uint32_t code);
  void zprint_fn_code(const char* function, int code);

  // ---- liveness (times in a_timer_tick ticks) ----
  void set_liveness_timeout(std::uint16_t seconds) { liveness_timeout_ = seconds; }
  std::uint16_t livenessTimeout();
  std::uint16_t liveness_interval() const { return liveness_interval_; }
  void startLiveness(std::uint64_t now);
  // The connection's next time (UINT64_MAX for never); *sent when a liveness packet went.
  std::uint64_t execute_liveness(std::uint64_t now, bool* sent);
  void send_liveness(std::uint64_t now);

  // ---- compression, dump, app-connect reply ----
  bool start_compression(std::uint16_t threshold);
  c_strm_compression& compression() { return compression_; }
  // Opens the packet dump and writes the connection information; false when it
  // cannot be opened (the connection works as usual).
  bool open_dump(const char* name);
  c_strm_pktdump* dump() { return dump_.get(); }
  const std::uint8_t* app_connect_reply(std::uint16_t* length) const {
    *length = app_reply_len_;
    return app_reply_;
  }
  void set_max_packet(std::uint16_t size) { max_packet_ = size; }
  std::uint16_t max_packet() const { return max_packet_; }
  // The app-connect exchange is over: the connection carries items from now on.
  void set_app_connected() { raise_state(SCONN_APP_CONNECTED); }
  // The app-connect reply copied under the receive lock (the link's thread writes it):
  // up to `size` bytes into `out` and the reply's whole length into *length; false
  // while none has come.
  bool copy_app_connect_reply(std::uint8_t* out, std::size_t size, std::uint16_t* length);
  // The server's random bytes from an app-connect reply of minor version 13 or more:
  // copies up to `size` of them into `buffer` and returns how many the reply really
  // holds (the count it states, but never more than its 32-byte field or its length);
  // 0 for an older reply or none.
  std::uint32_t get_random_data(std::uint8_t* buffer, std::uint32_t size) const;

  // ---- from the transport connection ----
  int accept_buff(c_strm_buffer* buffer) override;
  void accept_error(std::uint32_t code) override;
  void drop_connection(int local) override;
  void delayed_put_completed(c_strm_buffer* buffer) override;
  c_strm_buff_frlist* buffer_pool() override { return pool_; }
  void dump_packet(const std::uint8_t* packet, std::uint16_t length, int received) override;

  a_sconn_state state() const { return state_.load(); }
  a_sconn_reason reason() const { return reason_.load(); }
  std::uint32_t send_flags() const { return send_flags_.load(); }
  std::uint32_t recv_flags() const { return recv_flags_.load(); }
  std::uint32_t bytes_received() const { return bytes_received_.load(); }
  void* host_ctx() const { return host_ctx_.load(); }
  c_strm_tconn* tconn() const { return tconn_; }
  c_strm_conn_notifier* notifier() const { return notifier_; }
  c_strm_sconn_owner* owner() const { return owner_; }

  // ---- presentation and host fields ----
  // The presentation state, made and freed by the presentation layer's callbacks.
  a_pres_state* pres_state() const { return pres_state_; }
  void set_pres_state(a_pres_state* state) { pres_state_ = state; }
  const CharsetInfo* client_cs_info() const { return client_cs_.load(); }
  void set_client_cs_info(const CharsetInfo* cs) { client_cs_.store(cs); }
  void* user_data() const { return user_data_.load(); }
  void set_user_data(void* data) { user_data_.store(data); }
  void* callback_data() const { return callback_data_.load(); }
  void set_callback_data(void* data) { callback_data_.store(data); }
  // Held while a server-message callback runs for this connection.
  vq::strm::RecursiveLock& callback_lock() { return callback_lock_; }

 private:
  bool dead() const { return state_.load() > SCONN_NORMAL_DISCONNECT; }
  // A link failure that came after packets the reader has not taken yet is held
  // until the reader finds nothing more (the peer's last words, such as a refusal or
  // the reply to a disconnect, are read first). Sends answer 2 meanwhile.
  bool failing() const { return dead() || error_held_.load(); }
  bool unread_input() const;  // receive lock held
  // Applies a held failure: the connection fails as accept_error says; answers 2.
  an_int_strm_error fail_held();
  void apply_error(std::uint32_t code);
  void raise_state(a_sconn_state to);
  void indicate(std::uint8_t code);
  void unbind();
  c_strm_buffer* take_buffer();
  void give_back(c_strm_buffer* b);
  void keep_or_free(c_strm_buffer* b);
  an_int_strm_error new_in_buff(std::uint8_t mask);  // receive lock held
  an_int_strm_error put(c_strm_buffer* b, bool last);
  an_int_strm_error send_out_buff(c_strm_buffer* b, bool last);
  void reject(c_strm_buffer* b, std::uint16_t header_length);
  void receive_message_immediate(const std::uint8_t* packet, std::uint16_t length);
  void dump_comment(const char* text);
  bool debug_on() const;
  void debug_msg(std::uint32_t id, ...);

  c_strm_sconn_owner* owner_;
  c_strm_tconn* tconn_;                        // owned
  c_strm_port* port_;
  vq::strm::RecursiveLock recv_lock_, send_lock_, put_lock_;
  std::uint8_t* app_reply_ = nullptr;          // ut_alloc
  std::uint16_t app_reply_len_ = 0;
  c_strm_conn_notifier* notifier_;
  c_strm_compression compression_;
  std::atomic<void*> host_ctx_;
  c_strm_frlist_controller* controller_;
  c_strm_buff_frlist* pool_;                   // owned child pool
  std::uint16_t buffer_size_;
  c_strm_buffer_list queue_;                   // received packets, in order
  std::atomic<a_sconn_state> state_{SCONN_CREATED};
  std::atomic<a_sconn_reason> reason_{SCONN_REASON_NONE};
  std::unique_ptr<c_strm_pktdump> dump_;
  std::atomic<std::uint32_t> send_flags_{0};
  bool refused_while_busy_ = false;            // put lock
  bool put_in_progress_ = false;               // put lock
  c_strm_buffer* kept_ = nullptr;              // put lock: one buffer kept for reuse
  c_strm_buffer* in_buff_ = nullptr;           // current incoming packet
  // Advanced by the reader without the receive lock; the link's thread reads it under
  // the lock to learn whether the current packet still holds unread bytes.
  std::atomic<const std::uint8_t*> in_pos_{nullptr};
  const std::uint8_t* in_end_ = nullptr;
  c_strm_buffer* out_buff_ = nullptr;          // current outgoing packet
  std::uint8_t* out_start_ = nullptr;
  std::uint8_t* out_pos_ = nullptr;
  std::uint8_t* out_end_ = nullptr;
  std::uint16_t max_packet_ = kDefaultMaxPacket;
  std::atomic<std::uint64_t> last_recv_{0}, last_send_{0};  // ticks
  std::uint16_t liveness_interval_ = kNoLiveness;  // seconds
  std::uint16_t liveness_timeout_ = kNoLiveness;   // seconds
  std::atomic<std::uint32_t> bytes_received_{0};
  bool message_in_progress_ = false;
  std::atomic<std::uint32_t> recv_flags_{kMessageEnded};
  std::atomic<bool> error_held_{false};        // a link failure waits for the reader
  std::uint32_t held_code_ = 0;                // its code (receive lock)
  std::atomic<std::uint32_t> options_{0};
  a_pres_state* pres_state_ = nullptr;          // owned by the presentation layer
  std::atomic<const CharsetInfo*> client_cs_{nullptr};
  std::atomic<void*> user_data_{nullptr};       // the host's word
  std::atomic<void*> callback_data_{nullptr};   // passed to the host's callbacks
  vq::strm::RecursiveLock callback_lock_;
};

// A comment (printf-style, cut at kDumpMaxComment characters) or a numbered message
// (through the library catalog, 256 bytes) in the connection's packet dump: 1 when
// written, 0 when the connection has no open dump.
int StrmDumpComment(a_strm_conn conn, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
int StrmDumpCommentID(a_strm_conn conn, std::uint32_t msg_id, ...);

#endif  // VQ_STREAMS_SESSION_CONN_H

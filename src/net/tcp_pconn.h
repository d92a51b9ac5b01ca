// One connection of the TCP link: the stream protocol's packets over one TCP socket.
// The transport connection above hands it packet buffers to send; it hands the
// transport every run of bytes it reads. Reading is driven by the link's I/O thread
// (and once by start_receive); sending runs on the caller's thread.
//
// Sends never spin and never switch the descriptor to blocking mode (the I/O thread
// reads the same descriptor): a full socket buffer is waited out in poll, a wait that
// ends when the peer takes bytes, when the socket fails, or when the connection is being
// disconnected. The flush at disconnect is bounded by the connection's time-out, so a
// stalled peer cannot hang it.
//
// Lifetime against the I/O thread: the thread looks a connection up in the link's
// dictionary with a dispatch reference (c_strm_tcp_port::get_pconn). Unregistering
// removes the dictionary entry and then waits until every dispatch that found the
// connection has ended, so a connection is never destroyed under a running dispatch.
// After set_tconn(null) returns, no up-call to the old transport connection runs or
// starts. A connection must not be destroyed from inside one of its own up-calls, and
// every connection goes before its link type (it unregisters from the link's dictionary).
#ifndef VQ_NET_TCP_PCONN_H
#define VQ_NET_TCP_PCONN_H

#include <atomic>
#include <cstdint>

#include "net/ip_address.h"
#include "net/socket.h"
#include "streams/port.h"
#include "streams/recursive_lock.h"
#include "utils/base/dictionary.h"
#include "vqtasks.h"

class c_strm_buffer;
class c_strm_buff_frlist;
class c_strm_pt_dbg_prt;
class c_strm_sock_sel;
class c_strm_tcp_port;
struct a_port_option;

// The dictionary key of a registered socket: its descriptor and the dictionary's bucket
// count; the bucket is the descriptor modulo the count.
class c_strm_tcp_sock_key : public c_utils_key {
 public:
  c_strm_tcp_sock_key(int descriptor, std::uint16_t buckets)
      : descriptor(descriptor), buckets(buckets) {}
  std::uint16_t hash() const override {
    return static_cast<std::uint16_t>(static_cast<unsigned>(descriptor) % buckets);
  }

  int descriptor;
  std::uint16_t buckets;
};

// Socket descriptor -> c_strm_tcp_pconn. Guarded by the link's dictionary lock.
class c_strm_tcp_dict : public c_utils_dict_base {
 public:
  static constexpr std::uint16_t kBuckets = 16;
  c_strm_tcp_dict() : c_utils_dict_base(kBuckets) { init(); }

 protected:
  int is_equal(const c_utils_key& stored, const c_utils_key& probe) override {
    return static_cast<const c_strm_tcp_sock_key&>(stored).descriptor ==
           static_cast<const c_strm_tcp_sock_key&>(probe).descriptor;
  }
};

// Results of the send and receive operations.
enum : an_int_strm_error {
  TCP_PCONN_NO_TRANSPORT = 17,  // no transport connection yet
  TCP_PCONN_FAILED = 19,        // the socket failed
};

class c_strm_tcp_pconn : public c_strm_pconn {
 public:
  static constexpr std::uint32_t kDefaultTimeoutSeconds = 5;
  static constexpr std::size_t kRecvAreaBytes = 64 * 1024;  // bytes one recv may take

  // Takes over the connected socket (switches Nagle's algorithm off and sets the buffer
  // sizes the options ask for), takes a reference on the print context and builds the
  // machine address from `address`. Not yet registered with the I/O thread.
  c_strm_tcp_pconn(Socket socket, c_strm_tcp_port* port, c_strm_sock_sel* sel,
                   const IPAddress& address, const a_port_option* options, void* host_ctx);
  // Disconnects when not yet done, unregisters and closes the socket, gives a pending
  // send buffer back.
  ~c_strm_tcp_pconn() override;

  std::uint32_t get_local_ip_port_num() override { return local_port_; }
  std::uint32_t get_remote_ip_port_num() override { return remote_port_; }
  // Stores the transport connection, then waits for an up-call in progress to the old
  // one to end (it runs under the receive or the send lock).
  void set_tconn(c_strm_tconn* t) override;
  bool can_delete() override { return critical_error_.load(); }

  // 1 when the whole packet went out, 19 when the socket failed (the buffer stays with
  // the caller either way).
  an_int_strm_error put(c_strm_buffer* buffer) override;
  an_int_strm_error put(const char* data, unsigned int len) override;
  // Flushes what a pending buffer still holds, then sends the bytes: 1 or 19.
  an_int_strm_error blocking_put(const char* data, unsigned int len) override;
  // Flush (bounded by the time-out), shut the socket down both ways, give the receive
  // buffer back, mark the connection disconnected and drop the print context.
  void disconnect() override;
  // Reads what is there and asks for read events: 1 (also for "no transport yet"), or
  // 19 after a failure.
  an_int_strm_error start_receive() override;

  // 1 when registered now, 0 when it was already.
  int register_socket();
  void unregister_socket();

  // The receive, run by the I/O thread and by start_receive: 1 (would block), 17 (no
  // transport connection), 19 (failed or closed; reported to the transport once).
  an_int_strm_error do_receive11();
  // The I/O thread's delayed write of a pending buffer: 1 while it goes on or once it
  // completed (the transport hears delayed_put_completed), anything else drops the
  // write event.
  an_int_strm_error delayed_write();
  // Sends the buffer's packet (or flushes with null) as blocking_put does.
  an_int_strm_error _blocking_put(c_strm_buffer* buffer);

  int descriptor() const { return socket_.descriptor; }
  bool registered() const { return registered_; }

  std::uint32_t timeout = kDefaultTimeoutSeconds;  // seconds: bounds the flush at disconnect

 private:
  friend class c_strm_tcp_port;

  // Sends bytes until all are taken. Waits in poll when the socket is full: without
  // limit for `limit_ms` < 0, and unless `flushing`, until the connection starts
  // disconnecting. 0 on success, else the error number.
  int write_all(const std::uint8_t* data, std::size_t len, std::size_t* written, int limit_ms,
                bool flushing);
  // Writes what is left of the pending buffer; 0 done, EAGAIN not yet (only with
  // `limit_ms` 0), else the error number.
  int write_pending(int limit_ms, bool flushing);
  // Gives a buffer back to the link's pool.
  void give_back(c_strm_buffer* buffer);
  void set_buffer_sizes(const a_port_option* options);
  void report_socket_error(const char* call, int error);
  c_strm_tconn* current_tconn() const { return tconn_.load(std::memory_order_acquire); }

  Socket socket_;                         // the connected socket; descriptor stays for the key
  c_strm_tcp_port* tcp_port_;             // the link type
  c_strm_buff_frlist* link_pool_;         // where receive buffers come from
  // Where recv puts the bytes, kept between reads (ut_malloc, kRecvAreaBytes). It holds
  // several packets, so that packets that queued up in the socket come in one call.
  std::uint8_t* recv_area_ = nullptr;
  c_strm_buffer* send_buffer_ = nullptr;  // the pending send buffer
  vq::strm::RecursiveLock recv_lock_;
  vq::strm::RecursiveLock send_lock_;
  c_strm_pt_dbg_prt* printer_;  // the link's, not owned
  std::uint16_t local_port_ = 0;
  std::uint16_t remote_port_ = 0;
  c_strm_tcp_sock_key* key_ = nullptr;  // owned while registered
  bool registered_ = false;
  std::uint32_t send_written_ = 0;             // bytes of the pending buffer already sent
  c_strm_sock_sel* sel_;                       // the I/O thread's poll set
  std::atomic<bool> critical_error_{false};    // a receive failed
  std::atomic<bool> closing_{false};           // disconnect has begun
  std::atomic<c_strm_tconn*> tconn_{nullptr};  // the transport as the up-calls read it
  // Dispatch references of the I/O thread; both guarded by the link's dictionary lock.
  int dispatch_refs_ = 0;
  bool drain_waiting_ = false;
  a_ut_pthread_semaphore drained_;  // signalled when the last reference goes
};

#endif  // VQ_NET_TCP_PCONN_H

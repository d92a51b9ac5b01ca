// One TCP connection of the link: receiving, sending, disconnecting.
#include "net/tcp_pconn.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/port_options.h"
#include "net/sock_sel.h"
#include "net/socket_calls.h"
#include "net/tcp_port.h"
#include "streams/buffer_pool.h"
#include "streams/host_functions.h"
#include "streams/packet_buffer.h"
#include "streams/packet_header.h"
#include "streams/transport.h"
#include "utils/base/memory.h"

namespace {

constexpr std::int32_t kMsgSocketCall = 8633;
constexpr std::int32_t kMsgRcvBufDiffers = 6414;
constexpr std::int32_t kMsgSndBufDiffers = 6415;
constexpr std::int32_t kMsgRcvBufFailed = 9341;
constexpr std::int32_t kMsgSndBufFailed = 9342;
constexpr std::int32_t kMsgClosed = 6945;

// A wait for room in the socket is cut into slices so that a disconnect on another
// thread ends it soon; each slice sleeps in poll, so nothing spins.
constexpr int kSendSliceMs = 200;

// The packet of a buffer: its bytes and their count from the header's length.
struct PacketView {
  const std::uint8_t* bytes;
  std::size_t length;
};

PacketView packet_of(c_strm_buffer* buffer) {
  const std::uint8_t* p = buffer->packet();
  std::size_t n = vq::strm::load_be16(p + kPktLengthAt);
  // The length is our own session's, but never trust it past the buffer.
  if (n > buffer->packet_room()) n = buffer->packet_room();
  return {p, n};
}

std::int64_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

c_strm_tcp_pconn::c_strm_tcp_pconn(Socket socket, c_strm_tcp_port* port, c_strm_sock_sel* sel,
                                   const IPAddress& address, const a_port_option* options,
                                   void* host_ctx)
    : socket_(socket),
      tcp_port_(port),
      link_pool_(port != nullptr ? port->pool() : nullptr),
      printer_(port != nullptr ? &port->printer() : nullptr),
      sel_(sel) {
  ut_pthread_open_semaphore(&drained_, 0);
  this->port = port;
  pool = link_pool_;
  socket_.set_Nagle_algorithm(1);  // TCP_NODELAY on: Nagle's algorithm off
  set_host_ctx(host_ctx);
  remote_port_ = address.getPortNumber();
  IPAddress local;
  if (socket_.getsockname(local) == 0) local_port_ = local.getPortNumber();
  char text[INET6_ADDRSTRLEN + 16];
  if (address.isValid() != 0 && address.toString(text, sizeof text, 0, 0, 1) != 0) {
    machine_addr = vq::strm::NewMachineAddr(STRM_PORT_TCPIP, text);
  } else {
    machine_addr = vq::strm::NewMachineAddr(STRM_PORT_TCPIP, nullptr);
  }
  if (options != nullptr) set_buffer_sizes(options);
}

c_strm_tcp_pconn::~c_strm_tcp_pconn() {
  if ((pconn_flags & kDisconnected) == 0) disconnect();
  if (socket_.closed == 0) {
    unregister_socket();
    socket_.close();
  }
  if (send_buffer_ != nullptr) give_back(send_buffer_);
  send_buffer_ = nullptr;
  ut_free(recv_area_);
  recv_area_ = nullptr;
  ut_pthread_close_semaphore(&drained_);
}

void c_strm_tcp_pconn::report_socket_error(const char* call, int error) {
  if (printer_ == nullptr) return;
  char code[16];
  std::snprintf(code, sizeof code, "%d", error);
  printer_->Z_msg(host_ctx, kMsgSocketCall, call, code);
}

void c_strm_tcp_pconn::set_buffer_sizes(const a_port_option* options) {
  struct Row {
    unsigned row;
    int name;
    std::int32_t failed;
    std::int32_t differs;
  };
  const Row rows[] = {{TCPOPT_RCVBUF, SO_RCVBUF, kMsgRcvBufFailed, kMsgRcvBufDiffers},
                      {TCPOPT_SNDBUF, SO_SNDBUF, kMsgSndBufFailed, kMsgSndBufDiffers}};
  for (const Row& r : rows) {
    if (options[r.row].count != 1) continue;
    const int wanted = static_cast<int>(options[r.row].value.number);
    if (socket_.setsockopt(SOL_SOCKET, r.name, reinterpret_cast<const char*>(&wanted),
                           sizeof wanted) != 0) {
      if (printer_ != nullptr) printer_->Z_msg(host_ctx, r.failed);
      continue;
    }
    int got = 0;
    unsigned len = sizeof got;
    if (socket_.getsockopt(SOL_SOCKET, r.name, reinterpret_cast<char*>(&got), &len) != 0) {
      report_socket_error("getsockopt()", errno);
      continue;
    }
    if (got != wanted && printer_ != nullptr) {
      char text[16];
      std::snprintf(text, sizeof text, "%d", got);
      printer_->Z_msg(host_ctx, r.differs, text);
    }
  }
}

void c_strm_tcp_pconn::set_tconn(c_strm_tconn* t) {
  tconn = t;
  tconn_.store(t, std::memory_order_release);
  // Up-calls read the transport under one of these locks: once both have been passed,
  // none that saw the old value is still running.
  { vq::strm::LockHold hold(recv_lock_); }
  { vq::strm::LockHold hold(send_lock_); }
}

void c_strm_tcp_pconn::give_back(c_strm_buffer* buffer) {
  if (buffer == nullptr) return;
  if (link_pool_ != nullptr) link_pool_->done_buffer(buffer);
}

// ---- registration --------------------------------------------------------------------

int c_strm_tcp_pconn::register_socket() {
  if (registered_) return 0;
  key_ = new c_strm_tcp_sock_key(socket_.descriptor, c_strm_tcp_dict::kBuckets);
  socket_.set_blocking_state(0);
  {
    vq::strm::LockHold hold(tcp_port_->dict_lock_);
    tcp_port_->dict_->base_insert(key_, this);
  }
  registered_ = true;
  return 1;
}

void c_strm_tcp_pconn::unregister_socket() {
  if (!registered_) return;
  sel_->remove_socket(socket_.descriptor);
  bool wait = false;
  {
    vq::strm::LockHold hold(tcp_port_->dict_lock_);
    tcp_port_->dict_->base_remove(key_);
    // On the I/O thread no other dispatch can be running; a reference there would be
    // this connection's own dispatch, which must not destroy it.
    if (dispatch_refs_ > 0 && !tcp_port_->on_io_thread()) {
      drain_waiting_ = true;
      wait = true;
    }
  }
  if (wait) {
    ut_pthread_waiton_semaphore(&drained_);
    // The last dispatch signals under the dictionary lock: passing it once more makes
    // sure that dispatch has left the semaphore before the semaphore goes.
    vq::strm::LockHold hold(tcp_port_->dict_lock_);
  }
  delete key_;
  key_ = nullptr;
  registered_ = false;
}

// ---- receiving -----------------------------------------------------------------------

an_int_strm_error c_strm_tcp_pconn::do_receive11() {
  vq::strm::LockHold hold(recv_lock_);
  an_int_strm_error result = STRM_OK;
  bool drained = false;
  for (;;) {
    // The transport may disconnect this connection from inside an up-call.
    if (closing_.load()) return TCP_PCONN_FAILED;
    c_strm_tconn* t = current_tconn();
    if (t == nullptr) {
      result = TCP_PCONN_NO_TRANSPORT;
      break;
    }
    // A read that took less than it could emptied the socket: the poll set tells when
    // more comes, which spares the read that would only say there is nothing.
    if (drained) break;
    if (recv_area_ == nullptr) recv_area_ = static_cast<std::uint8_t*>(ut_malloc(kRecvAreaBytes));
    int error = ENOMEM;
    ssize_t got = -1;
    if (recv_area_ != nullptr) {
      do {
        got = ::recv(socket_.descriptor, recv_area_, kRecvAreaBytes, MSG_DONTWAIT);
      } while (got < 0 && errno == EINTR);
      error = got < 0 ? errno : 0;
    }
    if (got > 0) {
      // The bytes may hold any number of packets and parts of packets: the transport
      // cuts them into packets and checks each length before it uses it.
      t->accept_bytes(recv_area_, static_cast<std::uint32_t>(got));
      drained = static_cast<std::size_t>(got) < kRecvAreaBytes;
      continue;  // the transport may have been detached from inside the call
    }
    if (got < 0 && (error == EAGAIN || error == EWOULDBLOCK)) break;
    // Closed by the peer (0 bytes) or failed: report once, stop reading.
    const bool reported = critical_error_.exchange(true);
    // A disconnect of our own closes the socket too; that is not the peer's failure.
    if (!reported && !closing_.load()) {
      if (got < 0) report_socket_error("recv()", error);
      t->accept_error(got == 0 ? 0u : static_cast<std::uint32_t>(error));
    }
    return TCP_PCONN_FAILED;
  }
  // Without a transport nobody can take the bytes: a socket left in the poll set would
  // stay readable and keep the I/O thread busy. start_receive asks again.
  if (recv_area_ != nullptr && result == STRM_OK) {
    sel_->add_socket_with_event(socket_.descriptor, POLLIN);
  } else {
    sel_->remove_socket_with_event(socket_.descriptor, POLLIN);
  }
  return result;
}

an_int_strm_error c_strm_tcp_pconn::start_receive() {
  const an_int_strm_error rc = do_receive11();
  if (rc == TCP_PCONN_NO_TRANSPORT || rc == STRM_NOTHING_YET) return STRM_OK;
  return rc;
}

// ---- sending -------------------------------------------------------------------------

int c_strm_tcp_pconn::write_all(const std::uint8_t* data, std::size_t len, std::size_t* written,
                                int limit_ms, bool flushing) {
  const std::int64_t start = now_ms();
  while (*written < len) {
    const ssize_t n = ::send(socket_.descriptor, data + *written, len - *written,
                             MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      *written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    // The socket is full: sleep until it has room.
    if (!flushing && closing_.load()) return ECONNABORTED;
    int wait_ms = kSendSliceMs;
    if (limit_ms >= 0) {
      const std::int64_t left = limit_ms - (now_ms() - start);
      if (left <= 0) return limit_ms == 0 ? EAGAIN : ETIMEDOUT;
      if (left < wait_ms) wait_ms = static_cast<int>(left);
    }
    pollfd p{socket_.descriptor, POLLOUT, 0};
    if (unix_poll(&p, 1, wait_ms) < 0) return errno;
  }
  return 0;
}

int c_strm_tcp_pconn::write_pending(int limit_ms, bool flushing) {
  if (send_buffer_ == nullptr) return 0;
  const PacketView v = packet_of(send_buffer_);
  std::size_t written = send_written_;
  const int error = write_all(v.bytes, v.length, &written, limit_ms, flushing);
  send_written_ = static_cast<std::uint32_t>(written);
  return error;
}

an_int_strm_error c_strm_tcp_pconn::put(c_strm_buffer* buffer) {
  vq::strm::LockHold hold(send_lock_);
  send_buffer_ = buffer;
  send_written_ = 0;
  const int error = write_pending(-1, false);
  send_buffer_ = nullptr;
  send_written_ = 0;
  if (error != 0) {
    report_socket_error("send()", error);
    return TCP_PCONN_FAILED;
  }
  // The link never asks for write events (every put sends its whole packet), so there is
  // no write event to cancel here.
  return STRM_OK;
}

an_int_strm_error c_strm_tcp_pconn::put(const char* data, unsigned int len) {
  vq::strm::LockHold hold(send_lock_);
  std::size_t written = 0;
  const int error =
      write_all(reinterpret_cast<const std::uint8_t*>(data), len, &written, -1, false);
  if (error != 0) {
    report_socket_error("send()", error);
    return TCP_PCONN_FAILED;
  }
  return STRM_OK;
}

an_int_strm_error c_strm_tcp_pconn::blocking_put(const char* data, unsigned int len) {
  vq::strm::LockHold hold(send_lock_);
  int error = write_pending(-1, false);
  if (error == 0 && send_buffer_ != nullptr) {
    // The pending buffer is out: the transport learns it as a delayed completion.
    c_strm_buffer* done = send_buffer_;
    send_buffer_ = nullptr;
    send_written_ = 0;
    if (c_strm_tconn* t = current_tconn()) {
      t->delayed_put_completed(done);
    } else {
      give_back(done);
    }
  }
  if (error != 0) {
    report_socket_error("send()", error);
    return TCP_PCONN_FAILED;
  }
  if (data == nullptr) return STRM_OK;
  std::size_t written = 0;
  error = write_all(reinterpret_cast<const std::uint8_t*>(data), len, &written, -1, false);
  if (error != 0) {
    report_socket_error("send()", error);
    return TCP_PCONN_FAILED;
  }
  return STRM_OK;
}

an_int_strm_error c_strm_tcp_pconn::_blocking_put(c_strm_buffer* buffer) {
  if (buffer == nullptr) return blocking_put(nullptr, 0);
  const PacketView v = packet_of(buffer);
  return blocking_put(reinterpret_cast<const char*>(v.bytes), static_cast<unsigned>(v.length));
}

an_int_strm_error c_strm_tcp_pconn::delayed_write() {
  vq::strm::LockHold hold(send_lock_);
  c_strm_tconn* t = current_tconn();
  if (send_buffer_ == nullptr) return 0;
  if (t == nullptr) {
    give_back(send_buffer_);
    send_buffer_ = nullptr;
    send_written_ = 0;
    return 0;
  }
  const int error = write_pending(0, false);
  if (error == EAGAIN) return STRM_OK;  // the write event stays
  c_strm_buffer* done = send_buffer_;
  send_buffer_ = nullptr;
  send_written_ = 0;
  if (error != 0) {
    report_socket_error("send()", error);
    give_back(done);
    return TCP_PCONN_FAILED;
  }
  t->delayed_put_completed(done);
  return STRM_OK;
}

// ---- disconnecting -------------------------------------------------------------------

void c_strm_tcp_pconn::disconnect() {
  // A send waiting for room on another thread gives up at its next slice, so the send
  // lock comes free; the flush then has the connection's time-out, not more. The link
  // is disconnected once: when the peer ends a TLS stream, the I/O thread disconnects
  // while the owner may be disconnecting too, and the second caller leaves it to the
  // first.
  if (closing_.exchange(true)) return;
  {
    vq::strm::LockHold hold(send_lock_);
    const int limit_ms = static_cast<int>(timeout > 3600 ? 3600000u : timeout * 1000u);
    (void)write_pending(limit_ms, true);
    give_back(send_buffer_);
    send_buffer_ = nullptr;
    send_written_ = 0;
  }
  if (socket_.closed == 0) socket_.shutdown(SOCKET_SHUT_BOTH);
  {
    vq::strm::LockHold hold(recv_lock_);
    if (printer_ != nullptr) printer_->Z_msg(host_ctx, kMsgClosed);
  }
  pconn_flags |= kDisconnected;
  // Reports on the I/O thread and on a sending thread read the print context under
  // their lock: it goes while both are held.
  vq::strm::LockHold hold_recv(recv_lock_);
  vq::strm::LockHold hold_send(send_lock_);
  set_host_ctx(nullptr);
}

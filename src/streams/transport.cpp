#include "streams/transport.h"

#include <cstring>

#include "config/conn_parms.h"
#include "config/option_tables.h"
#include "streams/buffer_pool.h"
#include "streams/host_functions.h"
#include "streams/packet_header.h"
#include "streams/packet_scrambler.h"
#include "utils/base/memory.h"

namespace {

constexpr std::uint32_t kMsgConnectionLost = 8808;
constexpr std::uint32_t kMsgConnectionLostNoAddr = 19989;
constexpr unsigned int kErrorTextBytes = 256;
constexpr unsigned int kTlsClosed = 12;

bool first_packet_type_ok(std::uint8_t type) {
  return type == PKT_APP_CONNECT || type == PKT_CONNECT_FIRST || type == PKT_CONNECTIONLESS;
}

}  // namespace

// ---- c_strm_tran_layer: connect -------------------------------------------------------

an_int_strm_error c_strm_tran_layer::connect(const c_conn_parms* parms, a_strm_conn_type type,
                                             char* err, std::uint32_t err_len, void* host_ctx,
                                             c_strm_conn_notifier** notifier,
                                             c_strm_tconn** out) {
  *out = nullptr;
  c_encrypt_level level(0u, nullptr);
  if (parms->isSpecified(kSlotEncryption) && !parms->initEncryptLevel(level)) {
    if (err != nullptr && err_len != 0) {
      std::snprintf(err, err_len, "%s", level.error_text != nullptr ? level.error_text : "");
    }
    return STRM_BAD_ENCRYPT_PARM;
  }
  c_strm_pconn* pconn = nullptr;
  const an_int_strm_error result =
      port_layer_.connect(parms, type, err, err_len, host_ctx, level, notifier, &pconn);
  if (result != STRM_OK) return result;
  *out = new c_strm_tconn(this, pconn, host_ctx);
  return STRM_OK;
}

// ---- c_strm_tconn -----------------------------------------------------------------------

c_strm_tconn::c_strm_tconn(c_strm_tran_layer* tran_layer, c_strm_pconn* pconn, void* host_ctx)
    : tran_layer_(tran_layer), pconn_(pconn), host_ctx_(host_ctx) {
  vq::strm::HostCtxAddRef(host_ctx);
}

c_strm_tconn::~c_strm_tconn() {
  {
    vq::strm::LockHold hold(recv_lock_);
    if (recv_buffer_ != nullptr) done_buffer(recv_buffer_);
    recv_buffer_ = nullptr;
    recv_pos_ = nullptr;
  }
  delete tls_.exchange(nullptr);
  if (pconn_ != nullptr) pconn_->set_tconn(nullptr);
  delete pconn_;
  vq::strm::HostCtxRelease(host_ctx_.exchange(nullptr));
}

void c_strm_tconn::set_sconn(c_strm_tconn_upcalls* sconn) {
  c_strm_tconn_upcalls* before = sconn_.exchange(sconn, std::memory_order_acq_rel);
  if (sconn == nullptr && before != nullptr) {
    // A packet half rebuilt belongs to the pool of the session connection that leaves;
    // kept, it would go back later to a pool that may be gone.
    vq::strm::LockHold hold(recv_lock_);
    if (recv_buffer_ != nullptr && before->buffer_pool() != nullptr) {
      before->buffer_pool()->done_buffer(recv_buffer_);
      recv_buffer_ = nullptr;
      recv_pos_ = nullptr;
      recv_count_.store(0, std::memory_order_relaxed);
    }
  }
  if (pconn_ != nullptr) pconn_->set_tconn(sconn != nullptr ? this : nullptr);
}

an_int_strm_error c_strm_tconn::put(c_strm_buffer* buffer, unsigned int) {
  c_strm_tconn_upcalls* up = sconn();
  if (up == nullptr) return STRM_NO_SESSION_CONN;
  std::uint8_t* packet = buffer->packet();
  const std::uint32_t used = buffer->used_length();
  if (used < kPktShortHdrBytes || used > buffer->packet_room()) return STRM_LINK_FAILED;
  const bool tls_mode = tls_mode_.load(std::memory_order_acquire);
  if (level_.level != kEncryptNone && !tls_mode) packet[kPktStatusAt] |= PKT_STATUS_SCRAMBLED;
  // Bit 0x20 may also come from the session layer (the application-connect packet).
  if ((packet[kPktStatusAt] & PKT_STATUS_SCRAMBLED) != 0 && !EncryptPacket(packet, used)) {
    return STRM_ENCRYPT_FAILED;
  }
  const PktHdr h = LoadPktHdr(packet);
  up->dump_packet(packet, h.length, 0);
  if (!tls_mode) return pconn_->put(buffer);

  TlsConnection* tls = this->tls();
  // TLS was wanted but is not set up: never fall back to sending in the clear.
  if (tls == nullptr) return STRM_ENCRYPT_FAILED;
  const unsigned int rc = tls->write(packet, h.length);
  if (rc == 0) return STRM_OK;
  const bool handshake_done = tls->doneHandshake();
  if (rc == kTlsClosed) pconn_->disconnect();
  tls_failed(rc, false);
  return handshake_done ? 0 : STRM_ENCRYPT_FAILED;
}

void c_strm_tconn::tls_failed(unsigned int, bool always_print) {
  TlsConnection* tls = this->tls();
  if (tls == nullptr) return;
  void* ctx = host_ctx();
  if (tls_error_reported_.exchange(1) == 0 && (always_print || vq::strm::HostDebugOn(ctx))) {
    char text[kErrorTextBytes];
    text[0] = '\0';
    tls->getErrorString(vq::strm::LibraryCatalog(), text, sizeof text);
    if (text[0] != '\0') vq::strm::HostPrint(ctx, text);
  }
  tls->shut_down();
}

bool c_strm_tconn::ensure_recv_buffer(c_strm_tconn_upcalls* up) {
  vq::strm::LockHold hold(recv_lock_);
  if (recv_buffer_ != nullptr) return true;
  c_strm_buff_frlist* pool = up->buffer_pool();
  if (pool == nullptr) return false;
  c_strm_port* port = pconn_->port;
  const bool shm = port != nullptr && port->get_type() == STRM_PORT_SHARED_MEMORY;
  c_strm_buffer* b = pool->get_buffer(shm ? STRM_SHARED_MEM : STRM_PRIVATE_MEM);
  if (b == nullptr || b->data == nullptr) {
    if (b != nullptr) pool->done_buffer(b);
    return false;
  }
  b->set_header_offset(port != nullptr ? port->header_size() : 0);
  b->set_used_length(0);
  if (b->packet_room() < kPktShortHdrBytes) {
    pool->done_buffer(b);
    return false;
  }
  recv_buffer_ = b;
  recv_pos_ = b->packet();
  return true;
}

void c_strm_tconn::receive_failed(c_strm_tconn_upcalls* up) {
  recv_failed_.store(true, std::memory_order_relaxed);
  {
    vq::strm::LockHold hold(recv_lock_);
    if (recv_buffer_ != nullptr) {
      c_strm_buff_frlist* pool = up->buffer_pool();
      if (pool != nullptr) {
        pool->done_buffer(recv_buffer_);
      } else {
        done_buffer(recv_buffer_);
      }
    }
    recv_buffer_ = nullptr;
    recv_pos_ = nullptr;
  }
  // A later read must not continue a packet whose buffer is gone.
  recv_count_.store(0, std::memory_order_relaxed);
  up->accept_error(kStrmRecvFailure);
  void* ctx = host_ctx();
  if (vq::strm::HostDebugOn(ctx)) {
    char addr[kErrorTextBytes];
    addr[0] = '\0';
    if (pconn_->port != nullptr) {
      pconn_->port->format_machine_addr(pconn_->machine_addr, addr, sizeof addr);
    }
    char text[kStrmMsgBytes];
    if (addr[0] != '\0') {
      vq::strm::FormatMsg(text, sizeof text, kMsgConnectionLost, addr);
    } else {
      vq::strm::FormatMsg(text, sizeof text, kMsgConnectionLostNoAddr);
    }
    if (text[0] != '\0') vq::strm::HostPrint(ctx, text);
  }
}

void c_strm_tconn::deliver(c_strm_tconn_upcalls* up, c_strm_buffer* buffer) {
  std::uint8_t* packet = buffer->packet();
  const PktHdr h = LoadPktHdr(packet);
  if (h.type == PKT_CONNECTIONLESS) {
    up->buffer_pool()->done_buffer(buffer);
    return;
  }
  up->dump_packet(packet, h.length, 1);
  up->accept_buff(buffer);
}

void c_strm_tconn::accept_bytes(const std::uint8_t* data, std::uint32_t len) {
  c_strm_tconn_upcalls* up = sconn();
  if (up == nullptr || recv_failed_.load(std::memory_order_relaxed)) return;
  if (len == 0) {
    receive_failed(up);
    return;
  }
  const bool tls_mode = tls_mode_.load(std::memory_order_acquire);
  TlsConnection* tls = this->tls();
  if (tls_mode) {
    if (tls == nullptr) {
      receive_failed(up);
      return;
    }
    const unsigned int rc = tls->receiveBytes(reinterpret_cast<const char*>(data), len);
    if (rc != 0) {
      if (rc == kTlsClosed) pconn_->disconnect();
      tls_failed(rc, true);
      return;
    }
  }

  for (;;) {
    if (!ensure_recv_buffer(up)) {
      receive_failed(up);
      return;
    }
    c_strm_buffer* b = recv_buffer_;
    const std::uint32_t room = b->packet_room();
    std::uint32_t total = 0;
    std::uint32_t need;
    const std::uint32_t count = recv_count_.load(std::memory_order_relaxed);
    if (count < kPktShortHdrBytes) {
      need = kPktShortHdrBytes - count;
    } else {
      total = LoadPktHdr(b->packet()).length;
      // The length is the peer's: check it before a byte more goes into the buffer.
      if (total < kPktShortHdrBytes || total < count || total > room) {
        receive_failed(up);
        return;
      }
      need = total - count;
    }

    std::uint32_t got = 0;
    if (need == 0) {
      // a 4-byte packet: complete with its header
    } else if (tls_mode) {
      unsigned int n = need;
      const unsigned int rc = tls->read(reinterpret_cast<char*>(recv_pos_), &n);
      if (rc != 0 && rc != 10) {
        if (rc == kTlsClosed) pconn_->disconnect();
        tls_failed(rc, false);
        return;
      }
      if (n > need) n = need;
      got = n;
      if (got == 0) return;  // wait for more bytes
    } else {
      got = len < need ? len : need;
      std::memcpy(recv_pos_, data, got);
      data += got;
      len -= got;
    }
    {
      vq::strm::LockHold hold(recv_lock_);
      recv_pos_ += got;
    }
    recv_count_.fetch_add(got, std::memory_order_relaxed);
    if (got < need) return;  // the rest comes with later bytes
    if (count + got < kPktShortHdrBytes) continue;
    if (total == 0) continue;  // the header just completed: now the length is known

    // The packet is complete.
    const PktHdr h = LoadPktHdr(b->packet());
    if (first_packet_seen_ == 0) {
      if (!first_packet_type_ok(h.type)) {
        receive_failed(up);
        return;
      }
      first_packet_seen_ = 1;
    }
    {
      vq::strm::LockHold hold(recv_lock_);
      recv_buffer_ = nullptr;
      recv_pos_ = nullptr;
    }
    recv_count_.store(0, std::memory_order_relaxed);
    b->set_used_length(h.length);
    // A scrambled packet shorter than its header cannot be descrambled safely.
    if ((h.status & PKT_STATUS_SCRAMBLED) != 0 && !DecryptPacket(b->packet(), h.length)) {
      up->buffer_pool()->done_buffer(b);
      receive_failed(up);
      return;
    }
    deliver(up, b);
    if (!tls_mode && len == 0) return;
  }
}

int c_strm_tconn::accept_buff(c_strm_buffer* buffer) {
  c_strm_tconn_upcalls* up = sconn();
  if (up == nullptr) {
    done_buffer(buffer);
    return 0;
  }
  std::uint8_t* packet = buffer->packet();
  const std::uint32_t used = buffer->used_length();
  const PktHdr h = LoadPktHdr(packet);
  // A packet link delivers whole packets, but the length is still the peer's.
  if (used < kPktShortHdrBytes || used > buffer->packet_room() || h.length < kPktShortHdrBytes ||
      h.length > used) {
    done_buffer(buffer);
    up->accept_error(kStrmRecvFailure);
    return 1;
  }
  up->dump_packet(packet, h.length, 1);
  if ((h.status & PKT_STATUS_SCRAMBLED) != 0 && !DecryptPacket(packet, h.length)) {
    done_buffer(buffer);
    up->accept_error(kStrmRecvFailure);
    return 1;
  }
  return up->accept_buff(buffer);
}

void c_strm_tconn::accept_error(std::uint32_t code) {
  if (TlsConnection* tls = this->tls()) tls->shut_down();
  if (c_strm_tconn_upcalls* up = sconn()) up->accept_error(code);
}

void c_strm_tconn::drop_connection() {
  if (TlsConnection* tls = this->tls()) tls->shut_down();
  if (c_strm_tconn_upcalls* up = sconn()) up->drop_connection(0);
}

void c_strm_tconn::delayed_put_completed(c_strm_buffer* buffer) {
  c_strm_tconn_upcalls* up = sconn();
  if (up == nullptr) {
    done_buffer(buffer);
  } else if (buffer != nullptr) {
    up->delayed_put_completed(buffer);
  }
}

void c_strm_tconn::done_buffer(c_strm_buffer* buffer) {
  if (buffer == nullptr) return;
  c_strm_tconn_upcalls* up = sconn();
  c_strm_buff_frlist* pool = up != nullptr ? up->buffer_pool() : nullptr;
  if (pool == nullptr) pool = fallback_pool;
  if (pool != nullptr) pool->done_buffer(buffer, 1);
}

void c_strm_tconn::disconnect() {
  if (TlsConnection* tls = this->tls()) tls->shut_down();
  if (pconn_ != nullptr) pconn_->disconnect();
  vq::strm::HostCtxRelease(host_ctx_.exchange(nullptr));
}

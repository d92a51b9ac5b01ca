#include "streams/session_conn.h"

#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "streams/host_functions.h"
#include "streams/packet_header.h"
#include "utils/base/memory.h"
#include "utils/base/timer_tick.h"
#include "utils/locale/lang_string.h"

namespace {

constexpr std::uint32_t kMsgRejectedPacket = 13801;
constexpr std::uint32_t kMsgPeerGone = 7822;
constexpr std::uint32_t kMsgLivenessTimeout = 10362;
constexpr std::uint32_t kMsgClosedByPeer = 13799;
constexpr std::uint32_t kMsgEndedAbnormally = 13800;
constexpr std::uint32_t kMsgEnded = 13927;
constexpr std::uint32_t kMsgDiagnostic = 13794;
constexpr std::uint32_t kMsgAttentionSent = 13796;
constexpr std::uint32_t kMsgCompressionOff = 9713;
constexpr std::uint32_t kMsgInflateFailed = 9712;

constexpr std::uint8_t kStatusAttention = 0x05;
constexpr std::uint8_t kStatusAttnAck = 0x02;
constexpr std::uint16_t kAttentionLength = 8;
constexpr std::uint16_t kImmediateMinLength = 11;  // header, 6, 2, type, code
constexpr std::uint64_t kTicks = a_timer_tick::TicksPerSecond;
constexpr std::uint64_t kShmCheckSeconds = 5;
constexpr std::uint64_t kNever = UINT64_MAX;

std::uint64_t now_ticks() {
  a_timer_tick t;
  t.sample();
  return t.ticks;
}

}  // namespace

c_strm_sconn::c_strm_sconn(c_strm_sconn_owner* owner, c_strm_tconn* tconn,
                           c_strm_buff_frlist* env_pool, c_strm_conn_notifier* notifier,
                           void* host_ctx)
    : owner_(owner),
      tconn_(tconn),
      port_(tconn != nullptr && tconn->pconn() != nullptr ? tconn->pconn()->port : nullptr),
      notifier_(notifier),
      host_ctx_(host_ctx),
      controller_(env_pool->controller),
      pool_(new c_strm_buff_frlist(env_pool, 4, 4)),
      buffer_size_(env_pool->size) {
  if (tconn_ != nullptr) {
    tconn_->fallback_pool = pool_;
    if (tconn_->pconn() != nullptr) tconn_->pconn()->pool = pool_;
  }
  vq::strm::HostCtxAddRef(host_ctx);
  if (notifier_ != nullptr) notifier_->set_sconn(handle());
}

c_strm_sconn::~c_strm_sconn() {
  if (owner_ != nullptr) owner_->remove_receive_proxy(this);
  bool busy;
  {
    vq::strm::LockHold hold(put_lock_);
    busy = put_in_progress_;
  }
  if (busy && tconn_ != nullptr && tconn_->sconn() == this) {
    const timespec pause{0, 50 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  unbind();
  unlink();
  while (c_strm_buffer* b = queue_.first_element()) {
    b->unlink();
    give_back(b);
  }
  give_back(in_buff_);
  give_back(out_buff_);
  give_back(kept_);
  in_buff_ = out_buff_ = kept_ = nullptr;
  delete tconn_;
  state_.store(SCONN_DESTROYED);
  if (notifier_ != nullptr) notifier_->release();
  dump_.reset();
  ut_free(app_reply_);
  vq::strm::HostCtxRelease(host_ctx_.exchange(nullptr));
  // A held compressed packet goes back before the pool gives every buffer to the
  // environment's.
  compression_.reset();
  delete pool_;
}

// ---- helpers ------------------------------------------------------------------------

void c_strm_sconn::raise_state(a_sconn_state to) {
  a_sconn_state before = state_.load();
  while (before < to && !state_.compare_exchange_weak(before, to)) {
  }
  if (before == SCONN_CONNECTED_TO_DB && to >= SCONN_NORMAL_DISCONNECT && owner_ != nullptr) {
    owner_->stop_conn_callback_msgs(this);
  }
}

void c_strm_sconn::indicate(std::uint8_t code) {
  if (notifier_ != nullptr) notifier_->handle_strm_indicator(code);
}

void c_strm_sconn::unbind() {
  if (tconn_ != nullptr && tconn_->sconn() == this) tconn_->set_sconn(nullptr);
}

c_strm_buffer* c_strm_sconn::take_buffer() {
  const bool shm = port_ != nullptr && port_->get_type() == STRM_PORT_SHARED_MEMORY;
  c_strm_buffer* b = pool_->get_buffer(shm ? STRM_SHARED_MEM : STRM_PRIVATE_MEM);
  if (b == nullptr) return nullptr;
  if (b->data == nullptr) {
    pool_->done_buffer(b);
    return nullptr;
  }
  b->set_header_offset(port_ != nullptr ? port_->header_size() : 0);
  b->set_used_length(0);
  return b;
}

void c_strm_sconn::give_back(c_strm_buffer* b) {
  if (b != nullptr) pool_->done_buffer(b);
}

void c_strm_sconn::keep_or_free(c_strm_buffer* b) {
  vq::strm::LockHold hold(put_lock_);
  if (kept_ == nullptr) {
    kept_ = b;
  } else {
    give_back(b);
  }
}

bool c_strm_sconn::debug_on() const { return vq::strm::HostDebugOn(host_ctx()); }

void c_strm_sconn::debug_msg(std::uint32_t id, ...) {
  void* ctx = host_ctx();
  if (!vq::strm::HostDebugOn(ctx)) return;
  char text[kStrmMsgBytes];
  text[0] = '\0';
  va_list args;
  va_start(args, id);
  if (UTLangStringBase* catalog = vq::strm::LibraryCatalog()) {
    catalog->VFormatMiscLangStr(id, text, sizeof text, args);
  }
  va_end(args);
  if (text[0] != '\0') vq::strm::HostPrint(ctx, text);
}

void c_strm_sconn::dump_comment(const char* text) {
  if (dump_ != nullptr) dump_->dump(PKTDUMP_COMMENT, text);
}

void c_strm_sconn::dump_packet(const std::uint8_t* packet, std::uint16_t length, int received) {
  if (dump_ != nullptr) dump_->dump(received != 0 ? PKTDUMP_RECEIVED : PKTDUMP_SENT, packet, length);
}

// ---- start and state ----------------------------------------------------------------

an_int_strm_error c_strm_sconn::start_receive() {
  raise_state(SCONN_RECEIVING);
  if (tconn_ != nullptr) tconn_->set_sconn(this);
  if (owner_ != nullptr) {
    if (port_ != nullptr && port_->get_type() == STRM_PORT_SHARED_MEMORY) {
      owner_->request_liveness_pass();
    }
    owner_->add_receive_proxy(this);
    if (c_strm_env_notifier* env = owner_->env_notifier()) env->post();
  }
  return STRM_OK;
}

an_int_strm_error c_strm_sconn::get_ind() {
  const a_sconn_state s = state_.load();
  if (s > SCONN_FAILED) return 13;
  if (s == SCONN_FAILED) return STRM_CONN_DEAD;
  if (s == SCONN_DEAD) return STRM_NO_SERVER;
  return 0;
}

void c_strm_sconn::set_connected_to_db() {
  vq::strm::LockHold hold(recv_lock_);
  a_sconn_state s = state_.load();
  if (s == SCONN_NORMAL_DISCONNECT) {
    state_.store(SCONN_CONNECTED_TO_DB);
    reason_.store(SCONN_REASON_NONE);
  } else {
    raise_state(SCONN_CONNECTED_TO_DB);
  }
}

void c_strm_sconn::set_normal_disconnect() {
  vq::strm::LockHold hold(recv_lock_);
  raise_state(SCONN_NORMAL_DISCONNECT);
  reason_.store(SCONN_REASON_CLOSED);
}

void c_strm_sconn::delayed_delete() {
  raise_state(SCONN_WAITING_DELETE);
  if (owner_ != nullptr) owner_->delayed_delete(this);
}

void c_strm_sconn::handle_dead_connection(bool link_reported) {
  {
    vq::strm::LockHold hold(recv_lock_);
    if (state_.load() > SCONN_NORMAL_DISCONNECT) return;
    raise_state(SCONN_DEAD);
    reason_.store(link_reported ? SCONN_REASON_LINK_DEAD : SCONN_REASON_DEAD);
  }
  unbind();
  indicate(STRM_IND_CONN_DIED);
}

bool c_strm_sconn::isAlive() {
  if (dead()) return false;
  if (state_.load() < SCONN_RECEIVING) return true;
  c_strm_pconn* link = tconn_ != nullptr ? tconn_->pconn() : nullptr;
  if (link == nullptr || link->isAlive()) return true;
  char text[kStrmMsgBytes];
  vq::strm::FormatMsg(text, sizeof text, kMsgPeerGone);
  vq::strm::HostPrintError(host_ctx(), text);
  dump_comment("Dropping shmem connection since other side's process is gone");
  handle_dead_connection(false);
  // The peer is gone: the answer is that the connection is not alive.
  return false;
}

void c_strm_sconn::reportAbnormalDisconnect(bool quiet, std::uint32_t code) {
  if ((recv_flags_.fetch_or(kAbnormalReported) & kAbnormalReported) != 0) return;
  if (quiet) return;
  if (code == 104) {
    debug_msg(kMsgClosedByPeer);
  } else if (code != 0) {
    debug_msg(kMsgEndedAbnormally, code);
  } else {
    debug_msg(kMsgEnded);
  }
}

void c_strm_sconn::zprint_fn_code(const char* function, int code) {
  if (state_.load() < SCONN_NORMAL_DISCONNECT) debug_msg(kMsgDiagnostic, function);
  if (dump_ != nullptr) dump_->comment("function %s code %d", function, code);
}

void c_strm_sconn::reset_buff_size(std::uint16_t size) {
  c_strm_buff_frlist* parent = controller_->_list_for_size(size, 1);
  c_strm_buff_frlist* old = pool_;
  pool_ = new c_strm_buff_frlist(parent, 4, 4);
  buffer_size_ = size;
  if (tconn_ != nullptr) tconn_->fallback_pool = pool_;
  if (tconn_ != nullptr && tconn_->pconn() != nullptr) tconn_->pconn()->pool = pool_;
  old->give_buffers_back_to_parent();
  delete old;
  options_.fetch_or(kOptSizeChanged);
}

// ---- sending --------------------------------------------------------------------------

an_int_strm_error c_strm_sconn::new_out_buff(std::uint8_t type, std::uint8_t encrypt) {
  if (out_buff_ != nullptr) {
    const an_int_strm_error rc = flush_out_buff(false, 0);
    if (rc != STRM_OK) return rc;
  }
  c_strm_buffer* b = nullptr;
  {
    vq::strm::LockHold hold(put_lock_);
    b = kept_;
    kept_ = nullptr;
  }
  const bool size_changed = (options_.load() & kOptSizeChanged) != 0;
  if (b != nullptr && (size_changed || (b->data != nullptr && b->in_transit()) ||
                       b->size != buffer_size_)) {
    give_back(b);
    b = nullptr;
  }
  options_.fetch_and(~kOptSizeChanged);
  if (b == nullptr) {
    b = take_buffer();
  } else {
    b->set_header_offset(port_ != nullptr ? port_->header_size() : 0);
    b->set_used_length(0);
  }
  if (b == nullptr) return STRM_NO_MEMORY;

  std::uint8_t* start = b->packet();
  const std::size_t hdr = PktHeaderSize(type);
  std::memset(start, 0, hdr);
  start[kPktTypeAt] = type;
  start[kPktStatusAt] = encrypt == 1 ? PKT_STATUS_SCRAMBLED : 0;
  out_buff_ = b;
  out_start_ = start;
  out_pos_ = start + hdr;
  const std::uint16_t usable = b->packet_room();
  out_end_ = start + (usable >= max_packet_ ? max_packet_ - b->header_offset() : usable);
  return STRM_OK;
}

an_int_strm_error c_strm_sconn::send(std::uint8_t length_byte, std::uint8_t** out,
                                     std::uint8_t type, std::uint8_t encrypt) {
  if (failing()) return STRM_CONN_DEAD;
  const std::size_t size = length_byte < 252 ? std::size_t{length_byte} + 1 : 2;
  vq::strm::LockHold hold(send_lock_);
  if (out_buff_ == nullptr || out_pos_ + size >= out_end_) {
    const an_int_strm_error rc = new_out_buff(type, encrypt);
    if (rc != STRM_OK) return rc;
    // An item is at most 252 bytes: it always fits a new packet.
  }
  *out_pos_ = length_byte;
  *out = out_pos_ + 1;
  out_pos_ += size;
  return STRM_OK;
}

std::uint16_t c_strm_sconn::room_left() {
  vq::strm::LockHold hold(send_lock_);
  return out_buff_ != nullptr && out_pos_ < out_end_
             ? static_cast<std::uint16_t>(out_end_ - out_pos_)
             : 0;
}

std::uint16_t c_strm_sconn::fresh_packet_room() const {
  const std::uint16_t hdr = port_ != nullptr ? port_->header_size() : 0;
  const std::uint16_t usable = buffer_size_ > hdr ? buffer_size_ - hdr : 0;
  const std::uint16_t packet = usable >= max_packet_ ? max_packet_ - hdr : usable;
  return packet > kPktShortHdrBytes ? static_cast<std::uint16_t>(packet - kPktShortHdrBytes) : 0;
}

an_int_strm_error c_strm_sconn::send_raw(std::uint16_t size, std::uint8_t** out,
                                         std::uint8_t type, std::uint8_t encrypt) {
  if (failing()) return STRM_CONN_DEAD;
  vq::strm::LockHold hold(send_lock_);
  // Raw bytes may fill the packet to its last byte.
  if (out_buff_ == nullptr || out_pos_ + size > out_end_) {
    const an_int_strm_error rc = new_out_buff(type, encrypt);
    if (rc != STRM_OK) return rc;
    if (out_pos_ + size > out_end_) return 0;
  }
  *out = out_pos_;
  out_pos_ += size;
  return STRM_OK;
}

an_int_strm_error c_strm_sconn::flush_out_buff(bool end_of_message, std::uint8_t status) {
  vq::strm::LockHold hold(send_lock_);
  if (out_buff_ == nullptr) return STRM_OK;
  const std::uint16_t length = static_cast<std::uint16_t>(out_pos_ - out_start_);
  out_buff_->set_used_length(length);
  vq::strm::store_be16(out_start_ + kPktLengthAt, length);
  out_start_[kPktStatusAt] |= status;

  c_strm_buffer* packets[2] = {out_buff_, nullptr};
  int n = 1;
  if ((options_.load() & kOptCompression) != 0) {
    n = compression_.prepare_flush(out_buff_, packets);
    if (n <= 0) {
      out_buff_ = nullptr;
      out_start_ = out_pos_ = out_end_ = nullptr;
      return n == 0 ? STRM_OK : STRM_NO_MEMORY;
    }
  }
  an_int_strm_error rc = STRM_OK;
  for (int i = 0; i < n; ++i) {
    const bool last = i == n - 1;
    rc = send_out_buff(packets[i], last && end_of_message);
    if (rc == STRM_OUT_OF_ROOM) {
      // Kept open, to go with the next flush; a second packet waits behind it.
      out_buff_ = packets[i];
      out_start_ = packets[i]->packet();
      out_pos_ = out_end_ = out_start_ + packets[i]->used_length();
      if (i + 1 < n) compression_.restore_pending(packets[i + 1]);
      return rc;
    }
    if (rc != STRM_OK) {
      for (int k = i + 1; k < n; ++k) give_back(packets[k]);
      break;
    }
  }
  out_buff_ = nullptr;
  out_start_ = out_pos_ = out_end_ = nullptr;
  compression_.allow(true);
  return rc;
}

an_int_strm_error c_strm_sconn::flush_output() {
  if (failing()) return STRM_CONN_DEAD;
  return flush_out_buff(false, 0);
}

an_int_strm_error c_strm_sconn::sync_point() {
  if (failing()) return STRM_CONN_DEAD;
  vq::strm::LockHold hold(send_lock_);
  if (out_buff_ == nullptr) {
    const an_int_strm_error rc = new_out_buff(PKT_DATA, 0);
    if (rc != STRM_OK) return rc;
  }
  return flush_out_buff(true, PKT_STATUS_EOM);
}

an_int_strm_error c_strm_sconn::send_out_buff(c_strm_buffer* b, bool last) {
  vq::strm::LockHold hold(send_lock_);
  if ((send_flags_.load() & kAttention) != 0) {
    // Nothing follows an attention until the server acknowledges it.
    give_back(b);
    return STRM_OK;
  }
  if ((send_flags_.load() & (kPutRefused | kPutCompleted)) == (kPutRefused | kPutCompleted)) {
    vq::strm::LockHold recv_hold(recv_lock_);
    send_flags_.fetch_and(~(kPutRefused | kPutCompleted));
  }
  const an_int_strm_error rc = put(b, last);
  if (rc == STRM_ENCRYPT_FAILED) {
    give_back(b);
  } else if (rc == STRM_OUT_OF_ROOM) {
    send_flags_.fetch_or(kPutRefused);
  } else if (rc != STRM_OK) {
    give_back(b);
  } else if ((options_.load() & kOptLiveness) != 0) {
    last_send_.store(now_ticks());
  }
  return rc;
}

an_int_strm_error c_strm_sconn::put(c_strm_buffer* b, bool last) {
  {
    vq::strm::LockHold hold(put_lock_);
    if (put_in_progress_ && tconn_ != nullptr && tconn_->pconn() != nullptr) {
      tconn_->pconn()->poll_for_completion();
    }
    if (put_in_progress_) {
      // Every refused writer is told when it may go on (indicator 15), whatever the
      // packet; one that is never told waits for ever.
      (void)last;
      refused_while_busy_ = true;
      dump_comment("c_strm_sconn::put() returning PCE_OUT_OF_ROOM");
      return STRM_OUT_OF_ROOM;
    }
    put_in_progress_ = true;
  }
  const an_int_strm_error rc = tconn_ != nullptr ? tconn_->put(b) : STRM_NO_SESSION_CONN;
  if (rc == STRM_QUEUED) return STRM_OK;  // the link keeps it until delayed_put_completed
  bool tell = false;
  {
    vq::strm::LockHold hold(put_lock_);
    put_in_progress_ = false;
    // A write refused while this one was busy may go on now, as after a queued write.
    if (refused_while_busy_) {
      send_flags_.fetch_or(kPutCompleted);
      refused_while_busy_ = false;
      tell = true;
    }
  }
  if (tell) indicate(STRM_IND_ROOM_AGAIN);
  if (rc == STRM_OK) {
    keep_or_free(b);
    return STRM_OK;
  }
  dump_comment(rc == STRM_ENCRYPT_FAILED ? "TLS Handshake failed" : "Last send failed");
  return rc == STRM_OK ? STRM_OK : (rc == 0 ? STRM_CONN_DEAD : rc);
}

void c_strm_sconn::delayed_put_completed(c_strm_buffer* buffer) {
  if (buffer != nullptr) keep_or_free(buffer);
  bool tell = false;
  {
    vq::strm::LockHold hold(put_lock_);
    if (refused_while_busy_) {
      send_flags_.fetch_or(kPutCompleted);
      refused_while_busy_ = false;
      tell = true;
    }
    put_in_progress_ = false;
  }
  if (tell) indicate(STRM_IND_ROOM_AGAIN);
}

an_int_strm_error c_strm_sconn::attention() {
  vq::strm::LockHold hold(send_lock_);
  if ((send_flags_.load() & kAttention) != 0) return 0;
  if ((send_flags_.load() & (kPutRefused | kPutCompleted)) == (kPutRefused | kPutCompleted)) {
    send_flags_.fetch_and(~(kPutRefused | kPutCompleted));
  }
  if ((send_flags_.load() & kPutRefused) != 0) return 0;
  send_flags_.fetch_or(kAttention);
  c_strm_buffer* b = take_buffer();
  if (b == nullptr) {
    send_flags_.fetch_and(~kAttention);
    return STRM_NO_MEMORY;
  }
  StorePktHdr(b->packet(), PktHdr{PKT_ATTENTION, kStatusAttention, kAttentionLength});
  b->set_used_length(kAttentionLength);
  const an_int_strm_error rc = put(b, true);
  if (rc != STRM_OK) {
    if (rc == STRM_OUT_OF_ROOM) send_flags_.fetch_or(kPutRefused);
    send_flags_.fetch_and(~kAttention);
    give_back(b);
  }
  debug_msg(kMsgAttentionSent);
  return rc;
}

// ---- receiving ------------------------------------------------------------------------

void c_strm_sconn::reject(c_strm_buffer* b, std::uint16_t header_length) {
  const std::uint8_t type = b->data != nullptr ? b->packet()[kPktTypeAt] : 0;
  debug_msg(kMsgRejectedPacket, static_cast<unsigned>(type), static_cast<unsigned>(b->used_length()),
            static_cast<unsigned>(header_length));
  b->unlink();
  give_back(b);
  accept_error(kStrmRecvFailure);
}

void c_strm_sconn::receive_message_immediate(const std::uint8_t* packet, std::uint16_t length) {
  if (length < kImmediateMinLength || packet[4] != 6 || packet[5] != 2) return;
  const std::uint8_t type = packet[6];
  const std::uint32_t code = vq::strm::load_le32(packet + 7);
  if (owner_ != nullptr) {
    owner_->queue_callback_msg(this, type, code, reinterpret_cast<const char*>(packet + 11),
                               static_cast<std::uint16_t>(length - kImmediateMinLength));
  }
}

int c_strm_sconn::accept_buff(c_strm_buffer* buffer) {
  const std::uint16_t used = buffer->used_length();
  if ((options_.load() & kOptLiveness) != 0) last_recv_.store(now_ticks());
  bytes_received_.fetch_add(used);
  const PktHdr h = LoadPktHdr(buffer->packet());
  std::uint8_t indicator = 0;
  {
    vq::strm::LockHold hold(recv_lock_);
    if (used != h.length || h.type > PKT_LIVENESS) {
      reject(buffer, h.length);
      return 0;
    }
    switch (h.type) {
      case PKT_APP_CONNECT: {
        // The reply body follows the header and one byte; a shorter packet has none.
        if (h.length < kPktShortHdrBytes + 1) {
          reject(buffer, h.length);
          return 0;
        }
        const std::uint16_t n = static_cast<std::uint16_t>(h.length - kPktShortHdrBytes - 1);
        ut_free(app_reply_);
        app_reply_ = static_cast<std::uint8_t*>(ut_alloc(n != 0 ? n : 1));
        std::memcpy(app_reply_, buffer->packet() + kPktShortHdrBytes + 1, n);
        app_reply_len_ = n;
        give_back(buffer);
        recv_flags_.fetch_or(kMessageEnded);
        indicator = STRM_IND_APP_CONNECT;
        break;
      }
      case PKT_LIVENESS:
        if (h.length > 10) receive_message_immediate(buffer->packet(), h.length);
        give_back(buffer);
        return 1;
      case PKT_DATA:
      case PKT_COMPRESSED: {
        if ((h.status & PKT_STATUS_COMPRESSED) != 0 && !compression_.started()) {
          debug_msg(kMsgCompressionOff);
          reject(buffer, h.length);
          return 0;
        }
        c_strm_buffer* before = queue_.last_element();
        if (!compression_.decompress_and_append(buffer, queue_)) {
          debug_msg(kMsgInflateFailed);
          accept_error(kStrmRecvFailure);
          return 0;
        }
        if ((h.status & PKT_STATUS_COMPRESSED) != 0) {
          // Received bytes count what the reader gets: the inflated packets.
          bytes_received_.fetch_sub(used);
          c_utils_link* at = before != nullptr ? before->next : queue_.first();
          for (; at != queue_.end(); at = at->next) {
            bytes_received_.fetch_add(static_cast<c_strm_buffer*>(at)->used_length());
          }
        }
        const bool eom = (h.status & PKT_STATUS_EOM) != 0;
        const std::uint32_t flags = recv_flags_.load();
        if ((flags & kReaderWaiting) != 0) {
          recv_flags_.fetch_and(~kReaderWaiting);
          indicator = STRM_IND_DATA_ARRIVED;
        } else if ((flags & kMessageEnded) != 0) {
          indicator = STRM_IND_NEW_MESSAGE;
        }
        if (eom) {
          recv_flags_.fetch_or(kMessageEnded);
        } else {
          recv_flags_.fetch_and(~kMessageEnded);
        }
        break;
      }
      case PKT_CONNECT_FIRST:
        // Accepted, not queued: its buffer goes back here.
        give_back(buffer);
        return 1;
      default:
        reject(buffer, h.length);
        return 0;
    }
  }
  if (indicator != 0) indicate(indicator);
  return 1;
}

an_int_strm_error c_strm_sconn::new_in_buff(std::uint8_t mask) {
  for (;;) {
    give_back(in_buff_);
    in_buff_ = nullptr;
    in_pos_ = in_end_ = nullptr;
    c_strm_buffer* b = queue_.first_element();
    if (b == nullptr) return STRM_NOTHING_YET;
    b->unlink();
    const PktHdr h = LoadPktHdr(b->packet());
    in_buff_ = b;
    in_pos_ = b->packet() + PktHeaderSize(h.type);
    in_end_ = b->packet() + h.length;
    if (in_pos_ > in_end_) in_pos_ = in_end_;
    const bool was_in_progress = message_in_progress_;
    if (h.status == 0) message_in_progress_ = true;
    if ((h.status & PKT_STATUS_EOM) != 0) message_in_progress_ = false;
    if (mask != 0) {
      if ((h.status & mask) != 0) return STRM_OK;
      continue;
    }
    if (in_pos_ < in_end_) return STRM_OK;
    if ((h.status & PKT_STATUS_EOM) != 0 && (h.type == 7 || h.type == PKT_COMPRESSED) &&
        was_in_progress) {
      return STRM_OK;
    }
  }
}

an_int_strm_error c_strm_sconn::_receive_prv(std::uint8_t* type, std::uint8_t* status,
                                             std::uint16_t* length, bool data_only) {
  if (dead()) return STRM_CONN_DEAD;
  if ((send_flags_.load() & kAttention) != 0) {
    const an_int_strm_error rc = receive_attnack();
    if (rc != STRM_OK) return rc;
  }
  // The current packet belongs to the reading thread alone (other threads only queue
  // packets behind it): while it holds unread bytes, items are read without the lock.
  if (data_only && in_buff_ != nullptr && in_pos_ < in_end_) return STRM_OK;
  bool failed = false;
  {
    vq::strm::LockHold hold(recv_lock_);
    if (in_buff_ == nullptr || in_pos_ >= in_end_) {
      // Taking the packet and marking the reader as waiting happen under one lock, so
      // a packet that arrives in between still wakes the reader.
      const an_int_strm_error rc = new_in_buff(0);
      if (rc == STRM_NOTHING_YET) {
        if (!error_held_.load()) {
          recv_flags_.fetch_or(kReaderWaiting);
          return rc;
        }
        failed = true;  // all read: the held failure now counts
      }
    } else if (data_only) {
      return STRM_OK;
    }
  }
  if (failed) return fail_held();
  const PktHdr h = LoadPktHdr(in_buff_->packet());
  if ((h.status & kStatusAttnAck) != 0 && (send_flags_.load() & kAttention) != 0) {
    const an_int_strm_error rc = receive_attnack();
    if (rc != STRM_OK) return rc;
  }
  if (in_buff_ == nullptr) return STRM_NOTHING_YET;
  const PktHdr now = LoadPktHdr(in_buff_->packet());
  if (type != nullptr) *type = now.type;
  if (status != nullptr) *status = now.status;
  if (length != nullptr) *length = now.length;
  return STRM_OK;
}

bool c_strm_sconn::is_sync_point(std::uint32_t* word) {
  {
    // A message read to its end was read whatever became of the link since: a peer
    // that answers and closes at once (a refusal at the connection limit, the reply to
    // a disconnect) may be gone before the reader asks, and its reply still stands.
    vq::strm::LockHold hold(recv_lock_);
    if (in_buff_ != nullptr && in_pos_ >= in_end_ &&
        (in_buff_->packet()[kPktStatusAt] & PKT_STATUS_EOM) != 0) {
      return true;
    }
  }
  if (dead() && word != nullptr) *word = 4;
  return false;
}

bool c_strm_sconn::sync_point_arrived(std::uint32_t* word) {
  if (dead()) {
    if (word != nullptr) *word = 4;
    return false;
  }
  vq::strm::LockHold hold(recv_lock_);
  if (in_buff_ != nullptr && in_pos_ < in_end_ &&
      (in_buff_->packet()[kPktStatusAt] & PKT_STATUS_EOM) != 0) {
    return true;
  }
  for (c_strm_buffer_iter it(queue_); !it.at_end(); it.next()) {
    if ((it.element()->packet()[kPktStatusAt] & PKT_STATUS_EOM) != 0) return true;
  }
  return false;
}

an_int_strm_error c_strm_sconn::resync(bool flag) {
  if (dead()) return STRM_CONN_DEAD;
  if ((send_flags_.load() & kAttention) != 0) {
    const an_int_strm_error rc = receive_attnack();
    if (rc != STRM_OK) return rc;
  }
  {
    vq::strm::LockHold hold(recv_lock_);
    // A current packet that ends a message ends the discard while it still holds unread
    // bytes. Read to its end it belongs to a reply already taken: with the flag (a reply
    // abandoned at its last item) nothing more goes, without it (dropping a reply not yet
    // read) the next message goes.
    if (in_buff_ != nullptr && (flag || in_pos_ < in_end_) &&
        (in_buff_->packet()[kPktStatusAt] & PKT_STATUS_EOM) != 0) {
      give_back(in_buff_);
      in_buff_ = nullptr;
      in_pos_ = in_end_ = nullptr;
      return STRM_OK;
    }
    const an_int_strm_error rc = new_in_buff(PKT_STATUS_EOM);
    if (rc != STRM_NOTHING_YET) {
      if ((send_flags_.load() & kAttention) != 0) {
        const an_int_strm_error again = receive_attnack();
        if (again != STRM_OK && again != STRM_ATTN_ACKED) return again;
      }
      give_back(in_buff_);
      in_buff_ = nullptr;
      in_pos_ = in_end_ = nullptr;
      return STRM_OK;
    }
    if (!error_held_.load()) {
      recv_flags_.fetch_or(kReaderWaiting);
      return rc;
    }
  }
  return fail_held();  // no message end will come: the held failure now counts
}

an_int_strm_error c_strm_sconn::receive_attnack() {
  if ((send_flags_.load() & kAttention) == 0) return STRM_OK;
  bool failed = false;
  {
    vq::strm::LockHold hold(recv_lock_);
    const bool at_ack =
        in_buff_ != nullptr && (in_buff_->packet()[kPktStatusAt] & kStatusAttnAck) != 0;
    if (!at_ack && new_in_buff(kStatusAttnAck) == STRM_NOTHING_YET) {
      if (!error_held_.load()) {
        recv_flags_.fetch_or(kReaderWaiting);
        return STRM_NOTHING_YET;
      }
      failed = true;  // the acknowledgement will not come
    } else {
      recv_flags_.fetch_or(kMessageEnded);
    }
  }
  if (failed) return fail_held();
  flush_out_buff(false, 0);  // dropped: the attention is still outstanding
  send_flags_.fetch_and(~kAttention);
  {
    // The acknowledging packet ends the cancelled reply; the rest of that reply goes.
    vq::strm::LockHold hold(recv_lock_);
    const bool ends = in_buff_ != nullptr &&
                      (in_buff_->packet()[kPktStatusAt] & PKT_STATUS_EOM) != 0;
    if (ends || new_in_buff(PKT_STATUS_EOM) == STRM_OK) {
      give_back(in_buff_);
      in_buff_ = nullptr;
      in_pos_ = in_end_ = nullptr;
    }
  }
  if ((options_.load() & kOptCompression) != 0) compression_.reset();
  return STRM_ATTN_ACKED;
}

// ---- link events ------------------------------------------------------------------------

bool c_strm_sconn::unread_input() const {
  return !queue_.is_empty() || (in_buff_ != nullptr && in_pos() < in_end_);
}

void c_strm_sconn::accept_error(std::uint32_t code) {
  bool held = false;
  {
    // The packets that came before the failure are the peer's last words (a refusal
    // at the connection limit, the reply to a disconnect): the reader takes them
    // first, and the failure is applied when it finds nothing more. Nothing more
    // comes from the link meanwhile.
    vq::strm::LockHold hold(recv_lock_);
    if (error_held_.load()) return;
    if (!dead() && state_.load() >= SCONN_RECEIVING && unread_input()) {
      held_code_ = code;
      error_held_.store(true);
      held = true;
      if (dump_ != nullptr) {
        dump_->comment("sconn::accept_error %u held for unread input",
                       static_cast<unsigned>(code));
      }
    }
  }
  if (held) {
    unbind();
    return;
  }
  apply_error(code);
}

an_int_strm_error c_strm_sconn::fail_held() {
  std::uint32_t code;
  {
    vq::strm::LockHold hold(recv_lock_);
    code = held_code_;
  }
  apply_error(code);
  error_held_.store(false);
  return STRM_CONN_DEAD;
}

void c_strm_sconn::apply_error(std::uint32_t code) {
  if (state_.load() == SCONN_CONNECTED_TO_DB || reason_.load() == SCONN_REASON_CLOSED_IN_DB) {
    reportAbnormalDisconnect(false, code);
  }
  bool notify;
  a_sconn_state before;
  {
    vq::strm::LockHold hold(recv_lock_);
    before = state_.load();
    if (reason_.load() == SCONN_REASON_NONE) {
      reason_.store(before == SCONN_CONNECTED_TO_DB ? SCONN_REASON_CLOSED_IN_DB
                                                    : SCONN_REASON_CLOSED);
    }
    notify = before < SCONN_FAILED && (owner_ == nullptr || !owner_->shutting_down());
    raise_state(SCONN_FAILED);
  }
  if (before < SCONN_APP_CONNECTED && dump_ != nullptr) {
    dump_->comment("sconn::accept_error %u", static_cast<unsigned>(code));
  }
  unbind();
  if (notify) {
    indicate(reason_.load() == SCONN_REASON_CLOSED ? STRM_IND_LINK_CLOSED : STRM_IND_CONN_DIED);
  }
}

void c_strm_sconn::drop_connection(int local) {
  {
    vq::strm::LockHold hold(recv_lock_);
    if ((recv_flags_.fetch_or(kDropped) & kDropped) != 0) return;
    if (local == 0) {
      if (reason_.load() == SCONN_REASON_NONE) {
        reason_.store(state_.load() == SCONN_CONNECTED_TO_DB ? SCONN_REASON_CLOSED_IN_DB
                                                             : SCONN_REASON_CLOSED);
      }
      raise_state(SCONN_DEAD);
    }
  }
  if (local == 0) unbind();
  if (dump_ != nullptr) dump_->dump(PKTDUMP_DISCONNECT);
  if (tconn_ != nullptr) tconn_->disconnect();
  vq::strm::HostCtxRelease(host_ctx_.exchange(nullptr));
}

// ---- liveness -----------------------------------------------------------------------------

std::uint16_t c_strm_sconn::livenessTimeout() {
  return port_ != nullptr && port_->can_do_liveness() ? liveness_timeout_ : 0;
}

void c_strm_sconn::startLiveness(std::uint64_t now) {
  last_recv_.store(now);
  last_send_.store(now);
  if (state_.load() < SCONN_DEAD) {
    const std::uint16_t t = liveness_timeout_;
    if (t != 0) {
      liveness_interval_ = static_cast<std::uint16_t>(t / 3 != 0 ? t / 3 : 1);
      if (owner_ != nullptr) owner_->update_timeout_from_conn(t);
      if (port_ != nullptr && port_->can_do_liveness()) options_.fetch_or(kOptLiveness);
    } else {
      liveness_interval_ = 0;
    }
  }
  if (owner_ != nullptr) {
    owner_->request_liveness_pass();
    if (c_strm_env_notifier* env = owner_->env_notifier()) env->post();
  }
}

std::uint64_t c_strm_sconn::execute_liveness(std::uint64_t now, bool* sent) {
  if (sent != nullptr) *sent = false;
  // A held link failure is the reader's to apply: the link is gone already.
  if (failing()) return kNever;
  if (port_ != nullptr && port_->get_type() == STRM_PORT_SHARED_MEMORY) {
    c_strm_pconn* link = tconn_ != nullptr ? tconn_->pconn() : nullptr;
    if (link == nullptr || link->isAlive()) return now + kShmCheckSeconds * kTicks;
    dump_comment("Dropping shmem connection since other side's process is gone");
    char text[kStrmMsgBytes];
    vq::strm::FormatMsg(text, sizeof text, kMsgPeerGone);
    vq::strm::HostPrintError(host_ctx(), text);
    reportAbnormalDisconnect(true, 0);
    handle_dead_connection(false);
    return kNever;
  }
  if ((options_.load() & kOptLiveness) == 0) return kNever;
  const std::uint64_t timeout = std::uint64_t{liveness_timeout_} * kTicks;
  if (now > last_recv_.load() + timeout) {
    debug_msg(kMsgLivenessTimeout, static_cast<unsigned>(liveness_timeout_));
    reportAbnormalDisconnect(true, 0);
    dump_comment("Dropping connection due to liveness timeout");
    handle_dead_connection(false);
    return kNever;
  }
  const std::uint64_t interval = std::uint64_t{liveness_interval_} * kTicks;
  if (now >= last_send_.load() + interval) {
    send_liveness(now);
    if (sent != nullptr) *sent = true;
  }
  std::uint64_t next = last_send_.load() + interval;
  if (port_ != nullptr && port_->get_next_timeout() < next) next = port_->get_next_timeout();
  return next;
}

void c_strm_sconn::send_liveness(std::uint64_t now) {
  last_send_.store(now);
  c_strm_buffer* b = take_buffer();
  if (b == nullptr) {
    dump_comment("send_liveness get_buffer failed");
    return;
  }
  StorePktHdr(b->packet(), PktHdr{PKT_LIVENESS, 0, static_cast<std::uint16_t>(kPktShortHdrBytes)});
  b->set_used_length(kPktShortHdrBytes);
  an_int_strm_error rc;
  {
    vq::strm::LockHold hold(send_lock_);
    rc = put(b, false);
  }
  if (rc != STRM_OK) {
    give_back(b);
    if (dump_ != nullptr) dump_->comment("liveness put failed (rc=%d)", rc);
  }
}

// ---- comments in the packet dump ------------------------------------------------------------

int StrmDumpComment(a_strm_conn conn, const char* format, ...) {
  c_strm_sconn* s = conn != nullptr ? c_strm_sconn::from_handle(conn) : nullptr;
  c_strm_pktdump* dump = s != nullptr ? s->dump() : nullptr;
  if (dump == nullptr || !dump->is_open() || format == nullptr) return 0;
  char text[kDumpMaxComment + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  dump->dump(PKTDUMP_COMMENT, text);
  return 1;
}

int StrmDumpCommentID(a_strm_conn conn, std::uint32_t msg_id, ...) {
  c_strm_sconn* s = conn != nullptr ? c_strm_sconn::from_handle(conn) : nullptr;
  c_strm_pktdump* dump = s != nullptr ? s->dump() : nullptr;
  if (dump == nullptr || !dump->is_open()) return 0;
  char text[256];
  text[0] = '\0';
  va_list args;
  va_start(args, msg_id);
  if (UTLangStringBase* catalog = vq::strm::LibraryCatalog()) {
    catalog->VFormatMiscLangStr(msg_id, text, sizeof text, args);
  }
  va_end(args);
  dump->dump(PKTDUMP_COMMENT, text);
  return 1;
}

// ---- the app-connect reply ------------------------------------------------------------------

bool c_strm_sconn::copy_app_connect_reply(std::uint8_t* out, std::size_t size,
                                          std::uint16_t* length) {
  vq::strm::LockHold hold(recv_lock_);
  if (app_reply_ == nullptr) return false;
  if (out != nullptr) std::memcpy(out, app_reply_, app_reply_len_ < size ? app_reply_len_ : size);
  if (length != nullptr) *length = app_reply_len_;
  return true;
}

std::uint32_t c_strm_sconn::get_random_data(std::uint8_t* buffer, std::uint32_t size) const {
  // Offsets in the app-connect record: minor version (u16), the count of random bytes
  // (u16, unaligned) and the 32-byte field that holds them.
  constexpr std::uint32_t kMinorAt = 20, kCountAt = 35, kRandomAt = 178, kRandomBytes = 32;
  constexpr std::uint16_t kFirstMinorWithRandom = 13;
  if (app_reply_ == nullptr || app_reply_len_ < kCountAt + 2) return 0;
  if (vq::strm::load_le16(app_reply_ + kMinorAt) < kFirstMinorWithRandom) return 0;
  std::uint32_t count = vq::strm::load_le16(app_reply_ + kCountAt);
  if (count > kRandomBytes) count = kRandomBytes;
  const std::uint32_t there = app_reply_len_ > kRandomAt ? app_reply_len_ - kRandomAt : 0;
  if (count > there) count = there;
  if (buffer != nullptr) std::memcpy(buffer, app_reply_ + kRandomAt, count < size ? count : size);
  return count;
}

// ---- compression and dump ----------------------------------------------------------------

bool c_strm_sconn::start_compression(std::uint16_t threshold) {
  const bool shm = port_ != nullptr && port_->get_type() == STRM_PORT_SHARED_MEMORY;
  if (!compression_.start_compression(threshold, buffer_size_, max_packet_, pool_,
                                      shm ? STRM_SHARED_MEM : STRM_PRIVATE_MEM,
                                      port_ != nullptr ? port_->header_size() : 0)) {
    return false;
  }
  options_.fetch_or(kOptCompression);
  return true;
}

bool c_strm_sconn::open_dump(const char* name) {
  auto dump = std::make_unique<c_strm_pktdump>(port_ != nullptr ? port_->get_type() : 0);
  if (!dump->open(name)) return false;
  c_strm_pconn* link = tconn_ != nullptr ? tconn_->pconn() : nullptr;
  dump->dump_conn_info(port_, link != nullptr ? link->machine_addr : nullptr);
  dump_ = std::move(dump);
  return true;
}

// The shared-memory link connection: rings, wake-ups and the receive pass.
#include "streams/shm/shm_conn.h"

#include <errno.h>

#include <cstdio>

#include "streams/buffer_pool.h"
#include "streams/host_functions.h"
#include "streams/packet_buffer.h"
#include "streams/shm/resource_tree.h"
#include "streams/shm/shared_heap.h"
#include "streams/shm/shm_port.h"
#include "streams/shm/shm_segments.h"
#include "streams/transport.h"
#include "utils/base/compat.h"

namespace {

constexpr std::int32_t kMsgSignalFailed = 25128;
constexpr std::int32_t kMsgShmError = 13756;

}  // namespace

c_strm_shm_conn::c_strm_shm_conn(const c_strm_inter_event& peer_event, a_bit_signal* peer_signals,
                                 std::uint16_t peer_slot, const CommBlk& commblk,
                                 c_ptshm_bitsignal* own_signals, std::uint16_t own_slot,
                                 c_strm_shm_port* port, c_strm_procref* procref,
                                 const c_strm_inter_event& own_event, void* host_ctx)
    : peer_event_(peer_event),
      peer_signals_(peer_signals),
      peer_slot_(peer_slot),
      commblk_(commblk),
      procref_(procref),
      own_signals_(own_signals),
      own_slot_(own_slot),
      own_event_(own_event),
      shm_port_(port) {
  if (commblk_.version == kShmStructV0) {
    send_q_ = CommBlk_GetQ1(&commblk_);
    recv_q_ = CommBlk_GetQ2(&commblk_);
  } else {
    send_q_ = CommBlk64_GetQ1(&commblk_);
    recv_q_ = CommBlk64_GetQ2(&commblk_);
  }
  {
    vq::strm::LockHold hold(own_signals_->lock);
    own_signals_->connections[own_slot_] = this;
  }
  this->port = port;
  pool = port->buffer_pool();
  machine_addr = vq::strm::NewMachineAddr(STRM_PORT_SHARED_MEMORY, nullptr);
  set_host_ctx(host_ctx);
}

c_strm_shm_conn::~c_strm_shm_conn() {
  if ((pconn_flags & kDisconnected) == 0) disconnect();
  {
    vq::strm::LockHold hold(own_signals_->lock);
    own_signals_->connections[own_slot_] = nullptr;
  }
  own_signals_->in_use.free(own_slot_);
  if (commblk_.version == kShmStructV0) {
    CommBlk_Close(&commblk_);
  } else {
    CommBlk64_Close(&commblk_);
  }
  DetachFromSharedMem(peer_signals_);
  procref_->Release();
  if (pending_ != nullptr) {
    pending_->set_in_transit(false);
    shm_port_->buffer_pool()->controller->done_buffer(pending_);
    pending_ = nullptr;
  }
}

bool c_strm_shm_conn::version_ok() const {
  return commblk_.version == kShmStructV0 || commblk_.version == kShmStructV1;
}

bool c_strm_shm_conn::closed() const { return CommBlk_IsClosed(commblk_); }

std::uint32_t c_strm_shm_conn::peer_pid() const { return procref_->key().pid; }

bool c_strm_shm_conn::isAlive() { return ValidPid(static_cast<int>(peer_pid())); }

a_machine_addr* c_strm_shm_conn::get_local_machine_addr() {
  return vq::strm::NewMachineAddr(STRM_PORT_SHARED_MEMORY, nullptr);
}

void c_strm_shm_conn::set_tconn(c_strm_tconn* t) {
  // Lock B first: a receive pass on another thread finishes its accept_buff before the
  // transport connection is replaced.
  vq::strm::LockHold hold_b(lock_b_);
  vq::strm::LockHold hold_a(lock_a_);
  tconn = t;
}

void c_strm_shm_conn::mark_peer() {
  peer_signals_->flags[peer_slot_].store(1);
  peer_signals_->summary.store(1);
}

namespace {

// Signals the semaphore; one more try after 10 ms, then a debug message.
void SignalEvent(const c_strm_inter_event& event, c_strm_shm_port* port, void* host_ctx) {
  if (!event.IsNull() && sysv_signal_semaphore(&event)) return;
  vq::compat::delay(10);
  if (!event.IsNull() && sysv_signal_semaphore(&event)) return;
  char number[16];
  snprintf(number, sizeof number, "%d", errno);
  port->printer().Z_msg(host_ctx, kMsgSignalFailed, number);
}

}  // namespace

void c_strm_shm_conn::wake_peer() {
  mark_peer();
  SignalEvent(peer_event_, shm_port_, host_ctx);
}

int c_strm_shm_conn::tryPut(c_strm_buffer* buffer) {
  a_commq_entry entry{};
  get_tran_ref(buffer->shared_ref, &entry.ref);
  // A buffer the server cannot map (private memory) cannot travel on this link.
  if (entry.ref.segment_name[0] == '\0' || buffer->data == nullptr) return kNotShared;
  entry.map_id.owner_pid = static_cast<std::uint32_t>(shm_port_->process_id());
  entry.map_id.owner_ref_id = shm_port_->ref_id();
  buffer->set_in_transit(true);
  const int rc = commblk_.version == kShmStructV0
                     ? CommQ_Enqueue(send_q_, entry.ref, entry.map_id)
                     : CommQ64_Enqueue(send_q_, entry.ref, entry.map_id);
  if (rc != kCommQStored && rc != kCommQWasEmpty) buffer->set_in_transit(false);
  return rc;
}

an_int_strm_error c_strm_shm_conn::put(c_strm_buffer* buffer) {
  lock_a_.get();
  if (!version_ok() || closed()) {
    lock_a_.give();
    return 8;
  }
  // Only one buffer can be parked; a second put while one waits would overtake it (or,
  // with the ring still full, lose it). The caller waits for delayed_put_completed.
  if (pending_ != nullptr) {
    lock_a_.give();
    return STRM_OUT_OF_ROOM;
  }
  const int rc = tryPut(buffer);
  if (rc == kCommQStored) {
    lock_a_.give();
    return STRM_OK;
  }
  if (rc == kCommQWasEmpty) {
    mark_peer();
    const c_strm_inter_event event = peer_event_;
    lock_a_.give();
    SignalEvent(event, shm_port_, host_ctx);
    return STRM_OK;
  }
  if (rc == kCommQFull) {
    pending_ = buffer;
    lock_a_.give();
    return STRM_QUEUED;
  }
  lock_a_.give();
  return rc == kNotShared ? STRM_LINK_FAILED : 8;
}

an_int_strm_error c_strm_shm_conn::start_receive() {
  vq::strm::LockHold hold(lock_a_);
  return version_ok() && !closed() ? STRM_OK : 8;
}

void c_strm_shm_conn::dispatchDisconn() {
  // Lock A is held by the caller and lock B keeps the transport connection alive.
  c_strm_tconn* t = tconn;
  if (t == nullptr) return;
  tconn = nullptr;
  lock_a_.give();
  t->accept_error(0);
  lock_a_.get();
}

int c_strm_shm_conn::readBuffers() {
  c_strm_tconn* const t = tconn;
  if (t == nullptr) return 0;
  c_strm_buff_frlist* const buffers = shm_port_->buffer_pool();
  int last = 0;
  for (std::uint32_t taken = 0; taken < kMaxBuffersPerPass; ++taken) {
    if (!CommQ_HasEntry(recv_q_)) return last;
    // The buffer comes first: an entry leaves the ring only when it has a place to go.
    c_strm_buffer* buffer = buffers != nullptr ? buffers->get_buffer(STRM_SHARED_MEM) : nullptr;
    if (buffer == nullptr) {
      shm_port_->printer().Z_msg(host_ctx, kMsgShmError, "reference_rem_data");
      lock_a_.give();
      t->drop_connection();
      lock_a_.get();
      return last;
    }
    a_commq_entry entry{};
    const int rc = commblk_.version == kShmStructV0
                       ? CommQ_Dequeue(recv_q_, &entry.ref, &entry.map_id)
                       : CommQ64_Dequeue(recv_q_, &entry.ref, &entry.map_id);
    if (rc == kCommQEmpty) {
      buffers->done_buffer(buffer, 1);
      return last;
    }
    if (rc == kCommQWasFull) wake_peer();  // the server may send again
    if ((rc != kCommQStored && rc != kCommQWasFull) ||
        buffer->reference_rem_data(entry.ref, entry.map_id, procref_) == 0) {
      shm_port_->printer().Z_msg(host_ctx, kMsgShmError, "reference_rem_data");
      buffers->done_buffer(buffer, 1);
      lock_a_.give();
      t->drop_connection();
      lock_a_.get();
      return last;
    }
    lock_a_.give();
    last = t->accept_buff(buffer);
    lock_a_.get();
    // 0: the transport connection is going away; nothing more goes to it.
    if (last == 0) {
      if (tconn == t) tconn = nullptr;
      return 0;
    }
    if (tconn != t) return last;
  }
  if (!own_event_.IsNull()) sysv_signal_semaphore(&own_event_);  // the rest in the next pass
  return last;
}

void c_strm_shm_conn::conn_execute(unsigned int take_execute_lock, unsigned int signal_after) {
  // Lock B is taken on every pass, whatever the caller asks: it is what keeps the
  // transport connection alive across accept_buff (see set_tconn).
  (void)take_execute_lock;
  vq::strm::LockHold hold_b(lock_b_);
  lock_a_.get();
  int received = 0;
  c_strm_buffer* completed = nullptr;
  c_strm_tconn* completed_to = nullptr;
  if (!version_ok() || closed()) {
    dispatchDisconn();
  } else {
    received = readBuffers();
    if (pending_ != nullptr) {
      if (tconn != nullptr && CommQ_HasRoom(send_q_)) {
        const int rc = tryPut(pending_);
        if (rc == kCommQStored || rc == kCommQWasEmpty) {
          if (rc == kCommQWasEmpty) wake_peer();
          completed = pending_;
          completed_to = tconn;
          pending_ = nullptr;
        }
      } else if (tconn == nullptr) {
        pending_->set_in_transit(false);
        shm_port_->buffer_pool()->controller->done_buffer(pending_);
        pending_ = nullptr;
      }
    }
  }
  lock_a_.give();
  if (completed != nullptr) completed_to->delayed_put_completed(completed);
  if (signal_after != 0 && received != 0 && !own_event_.IsNull()) {
    sysv_signal_semaphore(&own_event_);
  }
}

void c_strm_shm_conn::disconnect() {
  {
    vq::strm::LockHold hold(lock_a_);
    if (version_ok() && !closed()) {
      CommBlk_SetClosed(&commblk_);
      wake_peer();
    }
  }
  if (!own_event_.IsNull()) sysv_signal_semaphore(&own_event_);
  pconn_flags |= kDisconnected;
  void* ctx = host_ctx;
  host_ctx = nullptr;
  vq::strm::HostCtxRelease(ctx);
}

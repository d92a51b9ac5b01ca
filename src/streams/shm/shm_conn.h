// The link connection of the shared-memory port. Packets are never copied through the
// kernel: a packet buffer lives in its owner's shared heap, the sender puts a 56-byte
// reference to it into a ring of the comm block, sets the receiver's slot flag and
// summary word and signals the receiver's semaphore. The client sends on the first ring
// and receives on the second.
//
// Receiving is driven from outside: the connection notifier blocks on the client's
// semaphore and, woken, runs conn_execute, which takes at most 9 buffers per pass and
// signals its own semaphore when more may wait.
//
// Locks. Lock A guards the rings, the parked buffer and the transport-connection
// pointer; it is released around each accept_buff. Lock B serialises receive passes and
// is held across each accept_buff, and set_tconn takes it too: once set_tconn returns,
// the transport connection it replaced is never called again by this link. A caller of
// set_tconn must therefore not hold a lock that accept_buff may take on another thread.
#ifndef VQ_STREAMS_SHM_SHM_CONN_H
#define VQ_STREAMS_SHM_SHM_CONN_H

#include <cstdint>

#include "streams/port.h"
#include "streams/recursive_lock.h"
#include "streams/shm/bit_signal.h"
#include "streams/shm/comm_block.h"

class c_strm_procref;
class c_strm_shm_port;

class c_strm_shm_conn : public c_strm_pconn {
 public:
  // Takes over the server's mapped bit-signal page (`peer_signals`, a counted mapping
  // of the attach registry), the comm block, the slot and the process reference, and
  // enters itself as the connection of `own_slot` in `own_signals`. `peer_slot` must be
  // below 256 (checked by the maker).
  c_strm_shm_conn(const c_strm_inter_event& peer_event, a_bit_signal* peer_signals,
                  std::uint16_t peer_slot, const CommBlk& commblk, c_ptshm_bitsignal* own_signals,
                  std::uint16_t own_slot, c_strm_shm_port* port, c_strm_procref* procref,
                  const c_strm_inter_event& own_event, void* host_ctx);
  // disconnect() unless done; frees the slot, closes and unmaps the comm block, unmaps
  // the server's page, releases the process reference and gives a parked buffer back.
  ~c_strm_shm_conn() override;

  // The server process still exists.
  bool isAlive() override;
  // 1 queued; 8 the link is closed; 10 the send ring is full: the buffer is parked and
  // delayed_put_completed reports it once it has gone.
  an_int_strm_error put(c_strm_buffer* buffer) override;
  // Closes the comm block (and wakes the server) unless the server did; wakes the own
  // waiter; marks the connection disconnected.
  void disconnect() override;
  // 1 while the comm block is open, 8 otherwise.
  an_int_strm_error start_receive() override;
  // One receive pass; see the source.
  void conn_execute(unsigned int take_execute_lock, unsigned int signal_after) override;
  void set_tconn(c_strm_tconn* t) override;
  a_machine_addr* get_local_machine_addr() override;

  // The server's semaphore, as its connect record gave it.
  const c_strm_inter_event& peer_event() const { return peer_event_; }
  // The server's pid, as the process reference names it.
  std::uint32_t peer_pid() const;
  std::uint16_t own_slot() const { return own_slot_; }
  c_ptshm_bitsignal* own_signals() const { return own_signals_; }
  // The comm block's closed word.
  bool closed() const;

  static constexpr std::uint32_t kDefaultServer = 0x2;  // pconn_flags: default server used
  static constexpr std::uint32_t kMaxBuffersPerPass = 9;
  static constexpr int kNotShared = -1;

 private:
  bool version_ok() const;
  // Sets the server's flag and summary words; the caller signals the event.
  void mark_peer();
  void wake_peer();
  // Enqueues the buffer's reference: the ring's result, kCommQBroken, or kNotShared
  // for a buffer the server cannot map.
  int tryPut(c_strm_buffer* buffer);
  // Lock A held (and lock B); see the source.
  int readBuffers();
  void dispatchDisconn();

  c_strm_inter_event peer_event_;
  a_bit_signal* peer_signals_ = nullptr;  // the server's page, mapped
  std::uint16_t peer_slot_;
  CommBlk commblk_;
  CommQ* recv_q_ = nullptr;  // second ring
  CommQ* send_q_ = nullptr;  // first ring
  vq::strm::RecursiveLock lock_a_;
  vq::strm::RecursiveLock lock_b_;
  c_strm_buffer* pending_ = nullptr;  // parked because the send ring was full
  c_strm_procref* procref_;
  c_ptshm_bitsignal* own_signals_;
  std::uint16_t own_slot_;
  c_strm_inter_event own_event_;
  c_strm_shm_port* shm_port_;
};

#endif  // VQ_STREAMS_SHM_SHM_CONN_H

// Bit signals and the inter-process primitives of the shared-memory link.
//
// A process is woken by its peers in two steps: a peer sets the process's slot flag in
// the process's bit-signal page (256 flags, a_bit_signal) and the summary word, then
// signals the process's System V semaphore. This header gives the slot allocator of a
// page (a_bit_in_use), the page object (c_ptshm_bitsignal), the semaphore helpers and
// the event waits. The scanning side (BitArray_Iter) is what a receiving process runs.
//
// Semaphore records hold the set id and the number; an id not greater than 0 means
// "none". The task runtime never hands out id 0, so a valid set is never mistaken for
// none (the kernel does give 0 to the first set of a fresh IPC namespace).
#ifndef VQ_STREAMS_SHM_BIT_SIGNAL_H
#define VQ_STREAMS_SHM_BIT_SIGNAL_H

#include <cstddef>
#include <cstdint>

#include "streams/recursive_lock.h"
#include "streams/shm/shm_layout.h"
#include "streams/shm/shm_mem.h"
#include "utils/base/list.h"
#include "vqtasks.h"

class c_strm_shm_conn;

constexpr std::uint16_t kNoSlot = 0xFFFF;  // ends a chain; any value above 255 is no slot

// ---- Semaphores and events --------------------------------------------------------------

// One System V semaphore: set id (not greater than 0 = none) and number in the set.
struct c_strm_inter_event {
  std::int32_t id;
  std::uint32_t number;

  static c_strm_inter_event From(const a_sysv_semaphore& s) { return {s.id, s.number}; }
  bool IsNull() const { return id <= 0; }

  // Events are not opened by name on this platform: 0.
  static int Open(const char* name);
  // Consumes the event when it is signalled within `ms` milliseconds: 1; 0 when the
  // time ran out (at once for 0 ms). Blocks in the kernel (semtimedop) and measures
  // the time on the monotonic clock; an event that is none sleeps the time and gives 0.
  int WaitWithTimeout(std::uint32_t ms) const;
  // Waits until this event or `other` is signalled and consumes it: 0 for this one, 1
  // for the other. The two may be in different sets, so it polls; a process-wide toggle
  // picks which is tested first, so that neither starves. The first 10 polls sleep 1 ms
  // between tries, later ones 10 ms.
  int WaitOnEither(const c_strm_inter_event& other) const;
};
static_assert(sizeof(c_strm_inter_event) == 8, "event pair travels in the connect record");
static_assert(sizeof(c_strm_inter_event) == sizeof(a_sysv_semaphore), "same record");

struct c_strm_shm_mutex {
  std::int32_t id;
  std::uint32_t number;

  static int Open(const char* name);  // 0
  // Blocks on the event (when it is not none), then on this semaphore (when not none);
  // 1. The timeout is not used.
  int WaitOnBoth(const c_strm_inter_event& event, std::uint32_t timeout) const;
};
static_assert(sizeof(c_strm_shm_mutex) == 8, "");

// Each helper refuses an event that is none (false) without a system call.
bool sysv_test_semaphore(const c_strm_inter_event* event);    // value above 0
bool sysv_signal_semaphore(const c_strm_inter_event* event);  // value set to 1: no build-up
bool sysv_reset_semaphore(const c_strm_inter_event* event);   // value set to 0
// Takes one (semop -1, SEM_UNDO), repeating after EINTR; blocks without a limit.
bool sysv_waiton_semaphore(const c_strm_inter_event* event);
// The same with a limit: true when taken within `ms` milliseconds, false when the time
// ran out or the wait failed. Used where a caller must wait in steps.
bool sysv_timed_waiton_semaphore(const c_strm_inter_event* event, std::uint32_t ms);

// ---- The slot allocator of a bit-signal page ------------------------------------------------

struct a_bit_in_use {
  vq::strm::RecursiveLock lock;           // guards everything below
  std::uint32_t in_use[kBitSignalSlots];  // 1 for an allocated slot
  std::uint16_t free_head;                // free chain, singly linked through next
  std::uint16_t used_count;
  std::uint16_t used_head;  // used chain, doubly linked, allocation order
  std::uint16_t used_tail;
  std::uint16_t prev[kBitSignalSlots];
  std::uint16_t next[kBitSignalSlots];
  std::uint8_t stolen[kBitSignalSlots];  // 1 while a scan holds the slot in a detached chain

  // Page header (1, 256), summary and flags 0; free chain 0..255, used chain empty.
  void init(a_bit_signal* segment);
  // The free chain's head, now in use and last on the used chain: true. *slot is set in
  // any case; a value above 255 means none was free.
  bool alloc(std::uint16_t* slot);
  // Frees an allocated slot (anything else changes nothing); freed slots are handed out
  // again last-freed first. Returns whether any slot remains in use.
  bool free(std::uint16_t slot);
  // Walks the detached chain from `start`, clearing each visited flag and putting each
  // visited slot back (in use: used chain's tail; freed meanwhile: free chain's head).
  // Returns the first slot that is in use and was signalled, with the chain after it
  // left detached in *rest; a value above 255 when the chain ended.
  std::uint16_t find_signalled_bit(std::uint16_t start, a_bit_signal* segment,
                                   std::uint16_t* rest);
  // Puts every slot of a detached chain back, as above.
  void return_stolen_bits(std::uint16_t start);

 private:
  void put_back(std::uint16_t slot);
  void append_used(std::uint16_t slot);
};

// A scan of a page: the signalled slot found, and the still-detached rest of the chain.
struct a_bit_iter {
  std::uint16_t current;  // above 255: the scan is over
  std::uint16_t rest;
};
// Starts a scan: empty when the summary is 0; otherwise clears the summary, detaches the
// whole used chain and finds its first signalled slot.
a_bit_iter BitArray_Iter(a_bit_in_use* allocator, a_bit_signal* segment);
// The next signalled slot of a scan.
void BitArray_Next(a_bit_in_use* allocator, a_bit_signal* segment, a_bit_iter* iter);
// Ends a scan early: the rest of the chain goes back.
void BitArray_Done(a_bit_in_use* allocator, a_bit_iter* iter);

// Wakes the owner of `segment` for `slot`: flag, then summary (both sequentially
// consistent stores, so a scanner that sees the summary sees the flag), then the
// semaphore. False for a slot above 255 or a failed signal.
bool SignalBitAndEvent(a_bit_signal* segment, std::uint16_t slot,
                       const c_strm_inter_event& event);

// ---- The page object
// --------------------------------------------------------------------------

class c_ptshm_bitsignal : public c_utils_link {
 public:
  // A fresh page: a 1032-byte id-named segment under this process's client name, mapped
  // and initialised. Null when it cannot be created or mapped.
  static c_ptshm_bitsignal* NewBitSignal();
  // Unmaps the page and removes its file.
  ~c_ptshm_bitsignal() override;

  c_strm_shm_mem mem{};                                // descriptor sent to peers
  a_bit_signal* address = nullptr;                     // the mapped page
  a_bit_in_use in_use;                                 // its slots
  c_strm_shm_conn* connections[kBitSignalSlots] = {};  // the connection of each slot
  vq::strm::RecursiveLock lock;                        // guards connections

 private:
  c_ptshm_bitsignal() = default;
};

#endif  // VQ_STREAMS_SHM_BIT_SIGNAL_H

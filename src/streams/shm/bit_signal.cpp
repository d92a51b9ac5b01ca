// Semaphore helpers, event waits, the slot allocator and the bit-signal page.
#include "streams/shm/bit_signal.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "streams/shm/shm_segments.h"
#include "utils/base/compat.h"

namespace {

union SemctlArg {
  int val;
  struct semid_ds* buf;
  unsigned short* array;
};

std::int64_t MonotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// One semop -1 on the event; with `timeout` null it blocks, else waits at most that long
// (a zero timeout tests once). 0, or -1 with errno (EAGAIN when the time ran out).
int TakeOnce(const c_strm_inter_event& event, const struct timespec* timeout) {
  struct sembuf op;
  op.sem_num = static_cast<unsigned short>(event.number);
  op.sem_op = -1;
  op.sem_flg = SEM_UNDO;
  if (timeout != nullptr && timeout->tv_sec == 0 && timeout->tv_nsec == 0) {
    op.sem_flg |= IPC_NOWAIT;
    return semop(event.id, &op, 1);
  }
  return timeout == nullptr ? semop(event.id, &op, 1) : semtimedop(event.id, &op, 1, timeout);
}

std::atomic<unsigned> g_either_toggle{0};

}  // namespace

// ---- Semaphores
// ------------------------------------------------------------------------------

bool sysv_test_semaphore(const c_strm_inter_event* event) {
  if (event == nullptr || event->IsNull()) return false;
  return semctl(event->id, static_cast<int>(event->number), GETVAL) > 0;
}

bool sysv_signal_semaphore(const c_strm_inter_event* event) {
  if (event == nullptr || event->IsNull()) return false;
  SemctlArg arg;
  arg.val = 1;
  return semctl(event->id, static_cast<int>(event->number), SETVAL, arg) == 0;
}

bool sysv_reset_semaphore(const c_strm_inter_event* event) {
  if (event == nullptr || event->IsNull()) return false;
  SemctlArg arg;
  arg.val = 0;
  return semctl(event->id, static_cast<int>(event->number), SETVAL, arg) == 0;
}

bool sysv_waiton_semaphore(const c_strm_inter_event* event) {
  if (event == nullptr || event->IsNull()) return false;
  for (;;) {
    if (TakeOnce(*event, nullptr) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool sysv_timed_waiton_semaphore(const c_strm_inter_event* event, std::uint32_t ms) {
  if (event == nullptr || event->IsNull()) return false;
  const std::int64_t deadline = MonotonicMs() + ms;
  for (;;) {
    const std::int64_t left = deadline - MonotonicMs();
    struct timespec timeout;
    timeout.tv_sec = left > 0 ? static_cast<time_t>(left / 1000) : 0;
    timeout.tv_nsec = left > 0 ? static_cast<long>(left % 1000) * 1000000 : 0;
    if (TakeOnce(*event, &timeout) == 0) return true;
    if (errno != EINTR || left <= 0) return false;
  }
}

// ---- Events
// --------------------------------------------------------------------------------------

int c_strm_inter_event::Open(const char* name) {
  (void)name;
  return 0;
}

int c_strm_inter_event::WaitWithTimeout(std::uint32_t ms) const {
  if (IsNull()) {
    if (ms > 0) vq::compat::delay(ms);
    return 0;
  }
  return sysv_timed_waiton_semaphore(this, ms) ? 1 : 0;
}

int c_strm_inter_event::WaitOnEither(const c_strm_inter_event& other) const {
  const bool other_first = (g_either_toggle.fetch_add(1) & 1) != 0;
  const c_strm_inter_event* order[2] = {this, &other};
  if (other_first) std::swap(order[0], order[1]);
  const struct timespec now = {0, 0};
  for (unsigned polls = 0;; ++polls) {
    for (const c_strm_inter_event* event : order) {
      if (!event->IsNull() && TakeOnce(*event, &now) == 0) return event == this ? 0 : 1;
    }
    vq::compat::delay(polls < 10 ? 1 : 10);
  }
}

int c_strm_shm_mutex::Open(const char* name) {
  (void)name;
  return 0;
}

int c_strm_shm_mutex::WaitOnBoth(const c_strm_inter_event& event, std::uint32_t timeout) const {
  (void)timeout;
  if (!event.IsNull()) sysv_waiton_semaphore(&event);
  const c_strm_inter_event own = {id, number};
  if (!own.IsNull()) sysv_waiton_semaphore(&own);
  return 1;
}

// ---- Slot allocator
// ----------------------------------------------------------------------------

void a_bit_in_use::init(a_bit_signal* segment) {
  vq::strm::LockHold hold(lock);
  segment->version = 1;
  segment->slots = kBitSignalSlots;
  segment->summary.store(0);
  for (auto& flag : segment->flags) flag.store(0);
  for (std::uint16_t slot = 0; slot < kBitSignalSlots; ++slot) {
    in_use[slot] = 0;
    stolen[slot] = 0;
    prev[slot] = kNoSlot;
    next[slot] = slot + 1u < kBitSignalSlots ? static_cast<std::uint16_t>(slot + 1) : kNoSlot;
  }
  free_head = 0;
  used_count = 0;
  used_head = kNoSlot;
  used_tail = kNoSlot;
}

void a_bit_in_use::append_used(std::uint16_t slot) {
  prev[slot] = used_tail;
  next[slot] = kNoSlot;
  if (used_tail < kBitSignalSlots) {
    next[used_tail] = slot;
  } else {
    used_head = slot;
  }
  used_tail = slot;
}

bool a_bit_in_use::alloc(std::uint16_t* slot) {
  vq::strm::LockHold hold(lock);
  *slot = free_head;
  if (free_head >= kBitSignalSlots) return false;
  const std::uint16_t taken = free_head;
  free_head = next[taken];
  in_use[taken] = 1;
  append_used(taken);
  ++used_count;
  return true;
}

bool a_bit_in_use::free(std::uint16_t slot) {
  vq::strm::LockHold hold(lock);
  if (slot >= kBitSignalSlots || in_use[slot] == 0) return used_count != 0;
  --used_count;
  in_use[slot] = 0;
  // A slot that a scan holds detached goes to the free chain when the scan puts it back.
  if (stolen[slot] != 0) return used_count != 0;
  const std::uint16_t before = prev[slot];
  const std::uint16_t after = next[slot];
  if (before < kBitSignalSlots) {
    next[before] = after;
  } else {
    used_head = after;
  }
  if (after < kBitSignalSlots) {
    prev[after] = before;
  } else {
    used_tail = before;
  }
  prev[slot] = kNoSlot;
  next[slot] = free_head;
  free_head = slot;
  return used_count != 0;
}

void a_bit_in_use::put_back(std::uint16_t slot) {
  stolen[slot] = 0;
  if (in_use[slot] != 0) {
    append_used(slot);
  } else {
    prev[slot] = kNoSlot;
    next[slot] = free_head;
    free_head = slot;
  }
}

std::uint16_t a_bit_in_use::find_signalled_bit(std::uint16_t start, a_bit_signal* segment,
                                               std::uint16_t* rest) {
  vq::strm::LockHold hold(lock);
  std::uint16_t slot = start;
  while (slot < kBitSignalSlots) {
    const std::uint16_t following = next[slot];
    const bool signalled = segment->flags[slot].exchange(0) != 0;
    const bool wanted = signalled && in_use[slot] != 0;
    put_back(slot);
    if (wanted) {
      *rest = following;
      return slot;
    }
    slot = following;
  }
  *rest = kNoSlot;
  return kNoSlot;
}

void a_bit_in_use::return_stolen_bits(std::uint16_t start) {
  vq::strm::LockHold hold(lock);
  for (std::uint16_t slot = start; slot < kBitSignalSlots;) {
    const std::uint16_t following = next[slot];
    put_back(slot);
    slot = following;
  }
}

a_bit_iter BitArray_Iter(a_bit_in_use* allocator, a_bit_signal* segment) {
  a_bit_iter iter = {kNoSlot, kNoSlot};
  if (segment->summary.load() == 0) return iter;
  segment->summary.store(0);
  std::uint16_t chain;
  {
    vq::strm::LockHold hold(allocator->lock);
    chain = allocator->used_head;
    for (std::uint16_t slot = chain; slot < kBitSignalSlots; slot = allocator->next[slot]) {
      allocator->stolen[slot] = 1;
    }
    allocator->used_head = kNoSlot;
    allocator->used_tail = kNoSlot;
  }
  iter.current = allocator->find_signalled_bit(chain, segment, &iter.rest);
  return iter;
}

void BitArray_Next(a_bit_in_use* allocator, a_bit_signal* segment, a_bit_iter* iter) {
  iter->current = allocator->find_signalled_bit(iter->rest, segment, &iter->rest);
}

void BitArray_Done(a_bit_in_use* allocator, a_bit_iter* iter) {
  allocator->return_stolen_bits(iter->rest);
  iter->current = kNoSlot;
  iter->rest = kNoSlot;
}

bool SignalBitAndEvent(a_bit_signal* segment, std::uint16_t slot,
                       const c_strm_inter_event& event) {
  if (segment == nullptr || slot >= kBitSignalSlots) return false;
  segment->flags[slot].store(1);
  segment->summary.store(1);
  return sysv_signal_semaphore(&event);
}

// ---- The page object
// ------------------------------------------------------------------------------

c_ptshm_bitsignal* c_ptshm_bitsignal::NewBitSignal() {
  auto* page = new c_ptshm_bitsignal;
  std::uint32_t mapped = 0;
  if (page->mem.Create(nullptr, sizeof(a_bit_signal)) == 0 ||
      (page->address = static_cast<a_bit_signal*>(page->mem.Map(&mapped))) == nullptr ||
      mapped < sizeof(a_bit_signal)) {
    delete page;
    return nullptr;
  }
  page->in_use.init(page->address);
  return page;
}

c_ptshm_bitsignal::~c_ptshm_bitsignal() {
  if (address != nullptr) DetachFromSharedMem(address);
  mem.Destroy();
}

// Ring queues and comm blocks in both structure versions.
#include "streams/shm/comm_block.h"

#include <cstring>

#include "streams/shm/shm_segments.h"

namespace {

// What differs between the layouts: the ring record, its header length and the offset
// of the first queue in a block.
template <typename Ring>
struct Layout;
template <>
struct Layout<a_commq> {
  static constexpr a_shm_structure_version kVersion = kShmStructV0;
  static constexpr std::size_t kHeader = kCommQHeaderBytes;
  static constexpr std::size_t kQ1Offset = kCommBlkQ1Offset;
  static std::uint64_t QueueBytes(std::uint32_t n) { return CommQBytes(n); }
  static void SetSize(a_commq* ring, std::uint32_t n) { ring->size = n; }
};
template <>
struct Layout<a_commq64> {
  static constexpr a_shm_structure_version kVersion = kShmStructV1;
  static constexpr std::size_t kHeader = kCommQ64HeaderBytes;
  static constexpr std::size_t kQ1Offset = kCommBlk64Q1Offset;
  static std::uint64_t QueueBytes(std::uint32_t n) { return CommQ64Bytes(n); }
  static void SetSize(a_commq64* ring, std::uint32_t n) {
    ring->size = n;
    ring->size_high = 0;
    ring->head_high = 0;
    ring->tail_high = 0;
  }
};

template <typename Ring>
Ring* RingOf(const CommQ* queue) {
  if (queue == nullptr || queue->ring == nullptr || queue->slots == 0 ||
      queue->version != Layout<Ring>::kVersion) {
    return nullptr;
  }
  return static_cast<Ring*>(queue->ring);
}

template <typename Ring>
a_commq_entry* EntryAt(Ring* ring, std::uint32_t index) {
  return reinterpret_cast<a_commq_entry*>(reinterpret_cast<unsigned char*>(ring) +
                                          Layout<Ring>::kHeader +
                                          sizeof(a_commq_entry) * index);
}

std::uint32_t Advance(std::uint32_t index, std::uint32_t slots) {
  return index + 1 == slots ? 0 : index + 1;
}

template <typename Ring>
bool InitRing(CommQ* queue, std::uint32_t n) {
  if (queue == nullptr || queue->ring == nullptr || n == 0 ||
      queue->version != Layout<Ring>::kVersion || Layout<Ring>::QueueBytes(n) > queue->bytes) {
    return false;
  }
  auto* ring = static_cast<Ring*>(queue->ring);
  Layout<Ring>::SetSize(ring, n);
  ring->head.store(0);
  ring->tail.store(0);
  queue->slots = n;
  return true;
}

template <typename Ring>
int Enqueue(CommQ* queue, const a_strm_buff_ref& ref, const a_strm_buff_map_id& map_id) {
  Ring* ring = RingOf<Ring>(queue);
  if (ring == nullptr) return kCommQBroken;
  const std::uint32_t slots = queue->slots;
  const std::uint32_t head = ring->head.load();
  const std::uint32_t tail = ring->tail.load(std::memory_order_relaxed);  // ours alone
  if (head >= slots || tail >= slots) return kCommQBroken;
  const std::uint32_t next = Advance(tail, slots);
  if (next == head) return kCommQFull;
  a_commq_entry* entry = EntryAt(ring, tail);
  std::memcpy(&entry->ref, &ref, sizeof ref);
  std::memcpy(&entry->map_id, &map_id, sizeof map_id);
  ring->tail.store(next);
  return tail == ring->head.load() ? kCommQWasEmpty : kCommQStored;
}

template <typename Ring>
int Dequeue(CommQ* queue, a_strm_buff_ref* ref, a_strm_buff_map_id* map_id) {
  Ring* ring = RingOf<Ring>(queue);
  if (ring == nullptr) return kCommQBroken;
  const std::uint32_t slots = queue->slots;
  const std::uint32_t head = ring->head.load(std::memory_order_relaxed);  // ours alone
  const std::uint32_t tail = ring->tail.load();
  if (head >= slots || tail >= slots) return kCommQBroken;
  if (head == tail) return kCommQEmpty;
  const a_commq_entry* entry = EntryAt(ring, head);
  std::memcpy(ref, &entry->ref, sizeof *ref);
  std::memcpy(map_id, &entry->map_id, sizeof *map_id);
  ring->head.store(Advance(head, slots));
  // The tail as it is now: a producer that found no room after our read of tail (it
  // cannot move tail while full) still gets its wake-up.
  return Advance(ring->tail.load(), slots) == head ? kCommQWasFull : kCommQStored;
}

template <typename Ring>
c_strm_shm_mem NewBlock(std::uint32_t n) {
  c_strm_shm_mem descriptor{};
  const std::uint64_t bytes = Layout<Ring>::kQ1Offset + 2 * Layout<Ring>::QueueBytes(n);
  if (n == 0 || bytes > 0xFFFFFFFFULL ||
      descriptor.Create(nullptr, static_cast<std::uint32_t>(bytes)) == 0) {
    descriptor.Clear();
  }
  return descriptor;
}

template <typename Ring>
CommQ QueueAfter(CommBlk* block, std::uint64_t offset) {
  const std::uint64_t left = block->mapped_size > offset ? block->mapped_size - offset : 0;
  return CommQ_Handle(static_cast<unsigned char*>(block->block) + offset,
                      Layout<Ring>::kVersion, left);
}

void Release(CommBlk* block) {
  if (block->block != nullptr) DetachFromSharedMem(block->block);
  *block = CommBlk{};
}

template <typename Ring>
bool InitBlock(const c_strm_shm_mem& descriptor, std::uint32_t n, CommBlk* out) {
  *out = CommBlk{};
  out->version = Layout<Ring>::kVersion;
  out->block = descriptor.Map(&out->mapped_size);
  if (out->block == nullptr) return false;
  out->q1 = QueueAfter<Ring>(out, Layout<Ring>::kQ1Offset);
  out->q2 = QueueAfter<Ring>(out, Layout<Ring>::kQ1Offset + Layout<Ring>::QueueBytes(n));
  if (!InitRing<Ring>(&out->q1, n) || !InitRing<Ring>(&out->q2, n)) {
    Release(out);
    return false;
  }
  static_cast<a_comm_block_head*>(out->block)->closed.store(0);
  return true;
}

template <typename Ring>
bool OpenBlock(const c_strm_shm_mem& descriptor, CommBlk* out) {
  *out = CommBlk{};
  out->version = Layout<Ring>::kVersion;
  out->block = descriptor.Map(&out->mapped_size);
  if (out->block == nullptr) return false;
  out->q1 = QueueAfter<Ring>(out, Layout<Ring>::kQ1Offset);
  if (!CommQ_Attach(&out->q1)) {
    Release(out);
    return false;
  }
  out->q2 =
      QueueAfter<Ring>(out, Layout<Ring>::kQ1Offset + Layout<Ring>::QueueBytes(out->q1.slots));
  if (!CommQ_Attach(&out->q2)) {
    Release(out);
    return false;
  }
  return true;
}

}  // namespace

CommQ CommQ_Handle(void* ring, a_shm_structure_version version, std::uint64_t bytes) {
  CommQ queue;
  queue.ring = ring;
  queue.version = version;
  queue.bytes = bytes;
  return queue;
}

bool CommQ_Attach(CommQ* queue) {
  if (queue == nullptr || queue->ring == nullptr) return false;
  queue->slots = 0;
  std::uint32_t n = 0;
  std::uint32_t head = 0;
  std::uint32_t tail = 0;
  std::uint64_t needed = 0;
  if (queue->version == kShmStructV0 && queue->bytes >= kCommQHeaderBytes) {
    auto* ring = static_cast<a_commq*>(queue->ring);
    n = ring->size;
    head = ring->head.load();
    tail = ring->tail.load();
    needed = CommQBytes(n);
  } else if (queue->version == kShmStructV1 && queue->bytes >= kCommQ64HeaderBytes) {
    auto* ring = static_cast<a_commq64*>(queue->ring);
    n = ring->size;
    head = ring->head.load();
    tail = ring->tail.load();
    needed = CommQ64Bytes(n);
  } else {
    return false;
  }
  if (n == 0 || needed > queue->bytes || head >= n || tail >= n) return false;
  queue->slots = n;
  return true;
}

bool CommQ_Init(CommQ* queue, std::uint32_t n) { return InitRing<a_commq>(queue, n); }
bool CommQ64_Init(CommQ* queue, std::uint32_t n) { return InitRing<a_commq64>(queue, n); }

int CommQ_Enqueue(CommQ* queue, const a_strm_buff_ref& ref, const a_strm_buff_map_id& map_id) {
  return Enqueue<a_commq>(queue, ref, map_id);
}
int CommQ64_Enqueue(CommQ* queue, const a_strm_buff_ref& ref,
                    const a_strm_buff_map_id& map_id) {
  return Enqueue<a_commq64>(queue, ref, map_id);
}
int CommQ_Dequeue(CommQ* queue, a_strm_buff_ref* ref, a_strm_buff_map_id* map_id) {
  return Dequeue<a_commq>(queue, ref, map_id);
}
int CommQ64_Dequeue(CommQ* queue, a_strm_buff_ref* ref, a_strm_buff_map_id* map_id) {
  return Dequeue<a_commq64>(queue, ref, map_id);
}

bool CommQ_HasEntry(const CommQ* queue) {
  if (queue == nullptr || queue->ring == nullptr || queue->slots == 0) return false;
  if (queue->version == kShmStructV0) {
    auto* ring = static_cast<a_commq*>(queue->ring);
    return ring->head.load(std::memory_order_relaxed) != ring->tail.load();
  }
  auto* ring = static_cast<a_commq64*>(queue->ring);
  return ring->head.load(std::memory_order_relaxed) != ring->tail.load();
}

bool CommQ_HasRoom(const CommQ* queue) {
  if (queue == nullptr || queue->ring == nullptr || queue->slots == 0) return false;
  std::uint32_t head;
  std::uint32_t tail;
  if (queue->version == kShmStructV0) {
    auto* ring = static_cast<a_commq*>(queue->ring);
    head = ring->head.load();
    tail = ring->tail.load(std::memory_order_relaxed);
  } else {
    auto* ring = static_cast<a_commq64*>(queue->ring);
    head = ring->head.load();
    tail = ring->tail.load(std::memory_order_relaxed);
  }
  return head < queue->slots && tail < queue->slots && Advance(tail, queue->slots) != head;
}

c_strm_shm_mem CommBlk_New(std::uint32_t n) { return NewBlock<a_commq>(n); }
c_strm_shm_mem CommBlk64_New(std::uint32_t n) { return NewBlock<a_commq64>(n); }

bool CommBlk_Init(const c_strm_shm_mem& descriptor, std::uint32_t n, CommBlk* out) {
  return InitBlock<a_commq>(descriptor, n, out);
}
bool CommBlk64_Init(const c_strm_shm_mem& descriptor, std::uint32_t n, CommBlk* out) {
  return InitBlock<a_commq64>(descriptor, n, out);
}
bool CommBlk_Open(const c_strm_shm_mem& descriptor, CommBlk* out) {
  return OpenBlock<a_commq>(descriptor, out);
}
bool CommBlk64_Open(const c_strm_shm_mem& descriptor, CommBlk* out) {
  return OpenBlock<a_commq64>(descriptor, out);
}

void CommBlk_Close(CommBlk* block) {
  if (block == nullptr || block->block == nullptr) return;
  CommBlk_SetClosed(block);
  Release(block);
}
void CommBlk64_Close(CommBlk* block) { CommBlk_Close(block); }

CommQ* CommBlk_GetQ1(CommBlk* block) { return block != nullptr ? &block->q1 : nullptr; }
CommQ* CommBlk_GetQ2(CommBlk* block) { return block != nullptr ? &block->q2 : nullptr; }
CommQ* CommBlk64_GetQ1(CommBlk* block) { return CommBlk_GetQ1(block); }
CommQ* CommBlk64_GetQ2(CommBlk* block) { return CommBlk_GetQ2(block); }

bool CommBlk_IsClosed(const CommBlk& block) {
  return block.block == nullptr ||
         static_cast<const a_comm_block_head*>(block.block)->closed.load() != 0;
}

void CommBlk_SetClosed(CommBlk* block) {
  if (block != nullptr && block->block != nullptr) {
    static_cast<a_comm_block_head*>(block->block)->closed.store(1);
  }
}

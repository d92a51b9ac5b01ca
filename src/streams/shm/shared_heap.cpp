// Shared heaps, buffer references and the process table.
#include "streams/shm/shared_heap.h"

#include <cstring>

#include "streams/shm/resource_tree.h"
#include "streams/shm/shm_mem.h"
#include "streams/shm/shm_segments.h"
#include "utils/base/memory.h"

namespace {

// A block mapped from a peer: the key of a c_strm_shm_map leads here.
struct MappedBlock {
  void* address;
  std::uint32_t size;
};

// Shared heaps alive in this process. The client name (and its resource tree, which
// holds every heap file, comm block and bit-signal page of the process) ends with the
// last of them, not with the first one destroyed.
vq::strm::RecursiveLock& HeapCountLock() {
  static vq::strm::RecursiveLock lock;
  return lock;
}
int g_live_heaps = 0;

// Removes and releases every mapping of a peer's block map.
void UnmapAll(c_strm_shm_map& map) {
  for (;;) {
    c_utils_dict_iter_base it(map);
    it.first();
    if (it.at_end()) return;
    auto* key = static_cast<c_strm_shm_key*>(it.base_get_key());
    auto* block = static_cast<MappedBlock*>(map.base_remove(key));
    if (block != nullptr) {
      DetachFromSharedMem(block->address);
      delete block;
    }
    delete key;
  }
}

}  // namespace

// ---- Keys
// ------------------------------------------------------------------------------------

std::uint16_t c_strm_prockey::hash() const {
  const std::uint32_t x = pid ^ ref_id;
  const std::uint32_t y = x ^ (x >> 16);
  return static_cast<std::uint16_t>(((y & 0xFF) ^ ((y >> 8) & 0xFF)) & 15);
}

c_strm_shm_key::c_strm_shm_key(const char* name, std::uint32_t segment_id,
                               std::uint32_t block_offset)
    : segment_id(segment_id), block_offset(block_offset) {
  std::memset(segment_name, 0, sizeof segment_name);
  if (name != nullptr) std::memcpy(segment_name, name, strnlen(name, sizeof segment_name));
}

std::uint16_t c_strm_shm_key::hash() const {
  return static_cast<std::uint16_t>((block_offset >> 13) % 5);
}

bool c_strm_shm_key::equals(const c_strm_shm_key& other) const {
  return segment_id == other.segment_id && block_offset == other.block_offset &&
         std::memcmp(segment_name, other.segment_name, sizeof segment_name) == 0;
}

int c_strm_procmap::is_equal(const c_utils_key& stored, const c_utils_key& probe) {
  return static_cast<const c_strm_prockey&>(stored).equals(
      static_cast<const c_strm_prockey&>(probe));
}

int c_strm_shm_map::is_equal(const c_utils_key& stored, const c_utils_key& probe) {
  return static_cast<const c_strm_shm_key&>(stored).equals(
      static_cast<const c_strm_shm_key&>(probe));
}

// ---- Process table
// ----------------------------------------------------------------------------

c_strm_procref::c_strm_procref(c_strm_proctable* table, std::uint32_t pid, std::uint32_t ref_id)
    : key_(pid, ref_id), table_(table) {
  table_->map_.base_insert(&key_, this);
}

// Runs under the table's lock.
c_strm_procref::~c_strm_procref() {
  {
    vq::strm::LockHold hold(lock_);
    UnmapAll(map_);
  }
  table_->map_.base_remove(&key_);
}

void c_strm_procref::Release() {
  c_strm_proctable* table = table_;
  vq::strm::LockHold hold(table->lock_);
  if (count_ > 0) --count_;
  if (count_ == 0) delete this;
}

std::uint32_t c_strm_procref::count() const {
  vq::strm::LockHold hold(table_->lock_);
  return count_;
}

void* c_strm_procref::AttachSharedMem(const char* name, std::uint32_t id, std::uint32_t offset,
                                      std::uint32_t size) {
  if (!vq::shm::IsSafeResourceName(name) || size == 0) return nullptr;
  c_strm_shm_key probe(name, id, offset);
  {
    vq::strm::LockHold hold(lock_);
    auto* known = static_cast<MappedBlock*>(map_.base_locate(probe));
    if (known != nullptr) return size <= known->size ? known->address : nullptr;
  }
  // Mapping takes system calls: outside our lock.
  void* address = AttachToSharedMem(key_.pid, name, id, nullptr, offset, size, 1);
  if (address == nullptr) return nullptr;
  vq::strm::LockHold hold(lock_);
  // Another thread may have mapped the same block meanwhile: keep its entry and give
  // back the holder we took.
  auto* known = static_cast<MappedBlock*>(map_.base_locate(probe));
  if (known != nullptr) {
    DetachFromSharedMem(address);
    return size <= known->size ? known->address : nullptr;
  }
  map_.base_insert(new c_strm_shm_key(probe), new MappedBlock{address, size});
  return address;
}

c_strm_proctable::~c_strm_proctable() {
  vq::strm::LockHold hold(lock_);
  for (;;) {
    c_utils_dict_iter_base it(map_);
    it.first();
    if (it.at_end()) break;
    delete static_cast<c_strm_procref*>(it.base_get_value());
  }
}

c_strm_procref* c_strm_proctable::Locate(std::uint32_t pid, std::uint32_t ref_id) {
  vq::strm::LockHold hold(lock_);
  const c_strm_prockey probe(pid, ref_id);
  auto* process = static_cast<c_strm_procref*>(map_.base_locate(probe));
  if (process == nullptr) process = new c_strm_procref(this, pid, ref_id);
  ++process->count_;
  return process;
}

std::uint32_t c_strm_proctable::size() {
  vq::strm::LockHold hold(lock_);
  return map_.entries;
}

// ---- Buffer references
// ----------------------------------------------------------------------------

void get_tran_ref(const c_shared_ref& ref, a_strm_buff_ref* out) {
  std::memset(out, 0, sizeof *out);
  const auto* block = static_cast<const c_shared_heapblk*>(ref.block);
  if (ref.shared == 0 || block == nullptr || ref.direct != nullptr || block->is_private != 0) {
    return;
  }
  const char* name = StrmCurSharedEngineAppName();
  std::memcpy(out->segment_name, name, strnlen(name, sizeof out->segment_name));
  out->segment_id = block->segment_id;
  out->block_offset = block->block_offset;
  out->block_size = block->size;
  out->data_offset = ref.offset;
}

// ---- Shared heap
// ----------------------------------------------------------------------------------

c_shared_heap::c_shared_heap() {
  {
    vq::strm::LockHold hold(HeapCountLock());
    ++g_live_heaps;
  }
  InitShMem();
  CreateUnixResourceRoot();
  std::strncpy(heap_name_, StrmCurSharedEngineAppName(), kResourceNameMax);
  heap_id_ = CreateSharedEngineMemory(heap_name_, 0);
}

c_shared_heap::~c_shared_heap() {
  freeall();
  if (heap_id_ != 0) DeleteSharedEngineMemory(heap_name_, heap_id_);
  {
    vq::strm::LockHold hold(HeapCountLock());
    if (--g_live_heaps == 0 &&
        std::strncmp(heap_name_, kClientNamePrefix, std::strlen(kClientNamePrefix)) == 0) {
      StrmReleaseSharedEngineAppName();
    }
  }
  FiniShMem();
}

bool c_shared_heap::alloc(std::uint32_t size, c_shared_ref* ref, bool is_private) {
  if (size == 0) {
    *ref = c_shared_ref{};
    ref->shared = 0;
    return true;
  }
  vq::strm::LockHold hold(lock_);
  c_shared_heapblk* block = blocks_.last_element();
  if (block == nullptr || size > block->remaining || (block->is_private != 0) != is_private) {
    block = allocblk(size, is_private);
    if (block == nullptr) {
      *ref = c_shared_ref{};
      return false;
    }
    blocks_.append(block);
  }
  *ref = c_shared_ref{};
  ref->block = block;
  ref->offset = block->used;
  block->used += size;
  block->remaining -= size;
  return true;
}

c_shared_heapblk* c_shared_heap::allocblk(std::uint32_t size, bool is_private) {
  const std::uint64_t page = ShmPageSize();
  const std::uint64_t wanted = size < page ? page : page * (size / page + 1);
  if (wanted > 0xFFFFFFFFULL) return nullptr;
  const auto bytes = static_cast<std::uint32_t>(wanted);

  vq::strm::LockHold hold(lock_);
  void* address = nullptr;
  if (is_private) {
    address = ut_malloc(bytes);
  } else {
    // Only shared blocks occupy the file, so only they move its length on.
    if (heap_id_ == 0 || std::uint64_t{heap_size_} + bytes > 0xFFFFFFFFULL) return nullptr;
    if (!ResizeSharedEngineMemory(heap_name_, heap_id_, heap_size_ + bytes)) return nullptr;
    address = AttachToSharedEngineMemoryO(heap_name_, heap_id_, heap_size_, bytes, nullptr);
  }
  if (address == nullptr) return nullptr;
  auto* block = new c_shared_heapblk;
  block->address = address;
  block->segment_id = heap_id_;
  block->block_offset = is_private ? 0 : heap_size_;
  block->is_private = is_private ? 1 : 0;
  block->used = 0;
  block->size = bytes;
  block->remaining = bytes;
  if (!is_private) heap_size_ += bytes;
  return block;
}

std::uint8_t* c_shared_heap::resolve(const c_shared_ref& ref) {
  if (ref.direct != nullptr) return ref.direct;
  const auto* block = static_cast<const c_shared_heapblk*>(ref.block);
  return block == nullptr ? nullptr : static_cast<std::uint8_t*>(block->address) + ref.offset;
}

void c_shared_heap::freeblk(c_shared_heapblk* block) {
  if (block == nullptr) return;
  if (block->is_private != 0) {
    ut_free(block->address);
  } else {
    DetachFromSharedEngineMemory(block->address, block->size);
  }
  delete block;  // leaves the list
}

void c_shared_heap::freeall() {
  vq::strm::LockHold hold(lock_);
  while (c_shared_heapblk* block = blocks_.first_element()) freeblk(block);
}

std::uint32_t c_shared_heap::block_count() {
  vq::strm::LockHold hold(lock_);
  std::uint32_t n = 0;
  for (c_utils_iter<c_shared_heapblk> it(blocks_); !it.at_end(); it.next()) ++n;
  return n;
}

std::uint8_t* c_shared_heap::shared_ref_tran_get_ptr(const a_strm_buff_ref& ref,
                                                     a_strm_buff_map_id& map_id,
                                                     const c_shared_ref& own, void* proc_ref,
                                                     std::uint32_t* room) {
  (void)map_id;
  (void)own;
  auto* process = static_cast<c_strm_procref*>(proc_ref);
  if (room != nullptr) *room = 0;
  char name[kShmNameBytes + 1];
  if (process == nullptr || !vq::shm::CopySharedName(ref.segment_name, name) ||
      name[0] == '\0' || ref.data_offset >= ref.block_size) {
    return nullptr;
  }
  void* block =
      process->AttachSharedMem(name, ref.segment_id, ref.block_offset, ref.block_size);
  if (block == nullptr) return nullptr;
  if (room != nullptr) *room = ref.block_size - ref.data_offset;
  return static_cast<std::uint8_t*>(block) + ref.data_offset;
}

namespace vq::shm {
c_strm_buff_heap* NewSharedHeap() { return new c_shared_heap; }
}  // namespace vq::shm

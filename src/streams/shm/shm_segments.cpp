// Segment files and the attach registry.
#include "streams/shm/shm_segments.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "streams/recursive_lock.h"
#include "streams/shm/resource_tree.h"
#include "streams/shm/shm_layout.h"
#include "utils/base/list.h"
#include "utils/base/posix_file.h"

namespace {

constexpr mode_t kFileMode = 0777;
constexpr std::uint32_t kMaxCreateTries = 100;

std::atomic<std::uint32_t> g_last_id{0};

std::size_t PageSize() {
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

bool CreateFile(const char* path, std::uint32_t size) {
  if (path == nullptr) return false;
  vq::shm::TreeUmaskScope mask;
  const int fd = _posix_open(path, O_RDWR | O_CREAT | O_EXCL | O_TRUNC, kFileMode);
  if (fd < 0) return false;
  if (_posix_ftruncate(fd, size) != 0) {
    const int error = errno;
    _posix_close(fd);
    _posix_unlink(path);
    errno = error;
    return false;
  }
  _posix_close(fd);
  return true;
}

bool FileSize(const char* path, std::uint32_t* size) {
  *size = 0;
  a_posix_stat st;
  if (_posix_stat(path, &st) != 0 || st.size < 0 || st.size > 0xFFFFFFFFLL) return false;
  *size = static_cast<std::uint32_t>(st.size);
  return true;
}

void* MapFile(const char* path, std::uint32_t offset, std::uint32_t size, void* address,
              bool writable) {
  if (size == 0 || offset % PageSize() != 0) {
    errno = EINVAL;
    return nullptr;
  }
  const int fd = _posix_open(path, writable ? O_RDWR : O_RDONLY, 0);
  if (fd < 0) return nullptr;
  a_posix_stat st;
  if (_posix_fstat(fd, &st) != 0 ||
      std::uint64_t{offset} + size > static_cast<std::uint64_t>(st.size)) {
    _posix_close(fd);
    errno = EINVAL;
    return nullptr;
  }
  const int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
  void* mapped =
      unix_mmap(address, size, protection, MAP_SHARED, fd, static_cast<off_t>(offset));
  const int error = errno;
  _posix_close(fd);
  errno = error;
  return mapped;
}

// One mapping of the registry.
class c_unix_shmat_ref : public c_utils_link {
 public:
  std::uint32_t owner_pid = 0;                // creator pid of the mapped descriptor
  char segment_name[kShmNameBytes + 1] = {};  // owner's resource name; empty when none
  std::uint32_t segment_id = 0;               // 0 for a name-named segment
  char mem_name[kShmNameBytes + 1] = {};      // segment name; empty for an id-named one
  std::uint32_t offset = 0;                   // mapped range of the file
  std::uint32_t size = 0;
  void* address = nullptr;
  std::int32_t count = 0;  // holders; -1: never unmapped
};

struct Registry {
  vq::strm::RecursiveLock lock;
  c_utils_list<c_unix_shmat_ref> entries;
  int users = 0;  // InitShMem calls not yet matched by FiniShMem
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: mappings outlive statics
  return *registry;
}

const char* OrEmpty(const char* s) { return s != nullptr ? s : ""; }

bool SameName(const char* stored, const char* probe) {
  return std::strncmp(stored, OrEmpty(probe), kShmNameBytes) == 0;
}

c_unix_shmat_ref* FindByAddress(void* address) {
  c_utils_iter<c_unix_shmat_ref> it(TheRegistry().entries);
  for (; !it.at_end(); it.next()) {
    if (it.element()->address == address) return it.element();
  }
  return nullptr;
}

}  // namespace

// ---- Segment files
// ---------------------------------------------------------------------------

bool CreateSharedEngineMemoryEx(const char* name, std::uint32_t size, std::uint32_t id) {
  char path[kShmPathBytes];
  return GetEngineSharedMemoryPath(name, id, path, sizeof path) && CreateFile(path, size);
}

std::uint32_t CreateSharedEngineMemory(const char* name, std::uint32_t size) {
  std::uint32_t failures = 0;
  while (failures < kMaxCreateTries) {
    const std::uint32_t id = g_last_id.fetch_add(1) + 1;
    if (id == 0 || id == kSemsFileId) continue;  // reserved: not a try
    if (CreateSharedEngineMemoryEx(name, size, id)) return id;
    ++failures;
  }
  return 0;
}

bool CreateSharedEngineNMemory(const char* name, std::uint32_t size, const char* segment) {
  char path[kShmPathBytes];
  return GetEngineSharedNMemoryPath(name, segment, path, sizeof path) && CreateFile(path, size);
}

bool SizeSharedEngineMemory(const char* name, std::uint32_t id, std::uint32_t* size) {
  char path[kShmPathBytes];
  *size = 0;
  return GetEngineSharedMemoryPath(name, id, path, sizeof path) && FileSize(path, size);
}

bool SizeSharedEngineNMemory(const char* name, const char* segment, std::uint32_t* size) {
  char path[kShmPathBytes];
  *size = 0;
  return GetEngineSharedNMemoryPath(name, segment, path, sizeof path) && FileSize(path, size);
}

bool ResizeSharedEngineMemory(const char* name, std::uint32_t id, std::uint32_t size) {
  char path[kShmPathBytes];
  return GetEngineSharedMemoryPath(name, id, path, sizeof path) &&
         _posix_truncate(path, size) == 0;
}

bool ResizeSharedEngineNMemory(const char* name, const char* segment, std::uint32_t size) {
  char path[kShmPathBytes];
  return GetEngineSharedNMemoryPath(name, segment, path, sizeof path) &&
         _posix_truncate(path, size) == 0;
}

bool DeleteSharedEngineMemory(const char* name, std::uint32_t id) {
  if (IsSharedMemoryOpsAllowed() == 0) return true;
  char path[kShmPathBytes];
  return GetEngineSharedMemoryPath(name, id, path, sizeof path) && _posix_unlink(path) == 0;
}

bool DeleteSharedEngineNMemory(const char* name, const char* segment) {
  if (IsSharedMemoryOpsAllowed() == 0) return true;
  char path[kShmPathBytes];
  return GetEngineSharedNMemoryPath(name, segment, path, sizeof path) &&
         _posix_unlink(path) == 0;
}

void* AttachToSharedEngineMemoryO(const char* name, std::uint32_t id, std::uint32_t offset,
                                  std::uint32_t size, void* address) {
  char path[kShmPathBytes];
  if (!GetEngineSharedMemoryPath(name, id, path, sizeof path)) {
    errno = EINVAL;
    return nullptr;
  }
  return MapFile(path, offset, size, address, true);
}

void* AttachToSharedEngineNMemoryO(const char* name, const char* segment, std::uint32_t offset,
                                   std::uint32_t size, void* address, int writable) {
  char path[kShmPathBytes];
  if (!GetEngineSharedNMemoryPath(name, segment, path, sizeof path)) {
    errno = EINVAL;
    return nullptr;
  }
  return MapFile(path, offset, size, address, writable != 0);
}

bool DetachFromSharedEngineMemory(void* address, std::uint32_t size) {
  return unix_munmap(address, size) == 0;
}

void* unix_mmap(void* address, std::size_t length, int protection, int flags, int fd,
                off_t offset) {
  void* mapped = mmap(address, length, protection, flags, fd, offset);
  return mapped == MAP_FAILED ? nullptr : mapped;
}

int unix_munmap(void* address, std::size_t length) { return munmap(address, length); }

// ---- Registry
// ----------------------------------------------------------------------------------

// The registry itself lives for the whole process: entries of mappings that callers
// still use must not vanish with the last FiniShMem, so the count only tells whether
// anybody uses it.
void InitShMem() {
  vq::strm::LockHold hold(TheRegistry().lock);
  ++TheRegistry().users;
}

void FiniShMem() {
  vq::strm::LockHold hold(TheRegistry().lock);
  if (TheRegistry().users > 0) --TheRegistry().users;
}

void EnterShMemCriticalSection() { TheRegistry().lock.get(); }
void ExitShMemCriticalSection() { TheRegistry().lock.give(); }

void* AttachToSharedMem(std::uint32_t owner_pid, const char* name, std::uint32_t id,
                        const char* segment, std::uint32_t offset, std::uint32_t size,
                        int counted) {
  Registry& registry = TheRegistry();
  vq::strm::LockHold hold(registry.lock);
  c_utils_iter<c_unix_shmat_ref> it(registry.entries);
  for (; !it.at_end(); it.next()) {
    c_unix_shmat_ref* entry = it.element();
    // The entry must cover the whole range asked for: a shorter mapping handed out for a
    // longer request would fault past its end.
    if (entry->owner_pid == owner_pid && entry->segment_id == id && entry->offset == offset &&
        entry->size >= size && SameName(entry->segment_name, name) &&
        SameName(entry->mem_name, segment)) {
      if (entry->count != -1) ++entry->count;
      return entry->address;
    }
  }

  void* address = id != 0
                      ? AttachToSharedEngineMemoryO(name, id, offset, size, nullptr)
                      : AttachToSharedEngineNMemoryO(name, segment, offset, size, nullptr, 1);
  if (address == nullptr) {
    const int error = errno;
    std::fprintf(stderr,
                 "[unixshm] AttachToSharedMem p=%d e=%s id=%lu n=%s o=%ld s=%ld d=%d errno=%d "
                 "FAILED\n",
                 static_cast<int>(owner_pid), OrEmpty(name), static_cast<unsigned long>(id),
                 segment != nullptr ? segment : "<NULL>", static_cast<long>(offset),
                 static_cast<long>(size), counted, error);
    return nullptr;
  }
  auto* entry = new c_unix_shmat_ref;
  entry->owner_pid = owner_pid;
  std::strncpy(entry->segment_name, OrEmpty(name), kShmNameBytes);
  entry->segment_id = id;
  std::strncpy(entry->mem_name, OrEmpty(segment), kShmNameBytes);
  entry->offset = offset;
  entry->size = size;
  entry->address = address;
  entry->count = counted == 1 ? 1 : -1;
  registry.entries.append(entry);
  return address;
}

bool DetachFromSharedMem(void* address) {
  vq::strm::LockHold hold(TheRegistry().lock);
  c_unix_shmat_ref* entry = FindByAddress(address);
  if (entry == nullptr) {
    std::fprintf(stderr, "[unixshm] DetachFromSharedMem mem=%p FAILED to find\n", address);
    return false;
  }
  if (entry->count > 0) --entry->count;
  if (entry->count != 0) return true;
  const std::uint32_t size = entry->size;
  delete entry;  // leaves the list
  if (unix_munmap(address, size) != 0) {
    std::fprintf(stderr, "[unixshm] DetachFromSharedMem mem=%p FAILED detach\n", address);
    return false;
  }
  return true;
}

namespace vq::shm::testing {

int ShMemHolders(void* address) {
  vq::strm::LockHold hold(TheRegistry().lock);
  const c_unix_shmat_ref* entry = FindByAddress(address);
  return entry == nullptr ? 0 : entry->count;
}

void SetNextSegmentId(std::uint32_t next) { g_last_id.store(next - 1); }

}  // namespace vq::shm::testing

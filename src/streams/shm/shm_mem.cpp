// Segment descriptors: create, open, map and destroy.
#include "streams/shm/shm_mem.h"

#include <unistd.h>

#include <cstring>

#include "streams/shm/resource_tree.h"
#include "streams/shm/shm_segments.h"

namespace {

constexpr std::uint32_t kOpenedByName = 0xFFFFFFFF;

void CopyName(char* field, const char* name) {
  std::memset(field, 0, kShmNameBytes);
  if (name != nullptr) std::strncpy(field, name, kShmNameBytes - 1);
}

}  // namespace

std::uint32_t ShmPageSize() {
  static const std::uint32_t page = static_cast<std::uint32_t>(sysconf(_SC_PAGESIZE));
  return page;
}

std::uint32_t RoundUpToPages(std::uint64_t size) {
  const std::uint64_t page = ShmPageSize();
  const std::uint64_t rounded = (size + page - 1) / page * page;
  return rounded > 0xFFFFFFFFULL ? 0 : static_cast<std::uint32_t>(rounded);
}

void c_strm_shm_mem::Clear() { std::memset(this, 0, sizeof *this); }

int c_strm_shm_mem::Create(const char* name, std::uint32_t size) {
  Clear();
  const std::uint32_t bytes = RoundUpToPages(size);
  if (bytes == 0) return 0;
  if (name != nullptr && name[0] != '\0') {
    CopyName(mem_name, name);
    if (!CreateSharedEngineNMemory(nullptr, bytes, mem_name)) {
      Clear();
      return 0;
    }
  } else {
    CopyName(segment_name, StrmCurSharedEngineAppName());
    segment_id = CreateSharedEngineMemory(segment_name, bytes);
    if (segment_id == 0) {
      Clear();
      return 0;
    }
  }
  creator_pid = static_cast<std::uint32_t>(getpid());
  return 1;
}

int c_strm_shm_mem::Create(const char* owner, const char* segment, std::uint32_t size) {
  Clear();
  const std::uint32_t bytes = RoundUpToPages(size);
  CopyName(segment_name, owner);
  CopyName(mem_name, segment);
  if (bytes == 0 || mem_name[0] == '\0' ||
      !CreateSharedEngineNMemory(segment_name, bytes, mem_name)) {
    Clear();
    return 0;
  }
  creator_pid = static_cast<std::uint32_t>(getpid());
  return 1;
}

int c_strm_shm_mem::Open(const char* segment) { return Open(nullptr, segment); }

int c_strm_shm_mem::Open(const char* owner, const char* segment) {
  Clear();
  creator_pid = kOpenedByName;
  CopyName(segment_name, owner);
  CopyName(mem_name, segment);
  return 1;
}

void* c_strm_shm_mem::Map(std::uint32_t* mapped_size) const {
  if (mapped_size != nullptr) *mapped_size = 0;
  char owner[kShmNameBytes + 1];
  char segment[kShmNameBytes + 1];
  if (IsNull() || !vq::shm::CopySharedName(segment_name, owner) ||
      !vq::shm::CopySharedName(mem_name, segment)) {
    return nullptr;
  }
  std::uint32_t size = 0;
  const bool sized = segment_id != 0 ? SizeSharedEngineMemory(owner, segment_id, &size)
                                     : SizeSharedEngineNMemory(owner, segment, &size);
  if (!sized || size == 0) return nullptr;
  void* address = AttachToSharedMem(creator_pid, owner, segment_id, segment, 0, size, 1);
  if (address != nullptr && mapped_size != nullptr) *mapped_size = size;
  return address;
}

void c_strm_shm_mem::Destroy() {
  if (IsNull()) return;
  char owner[kShmNameBytes + 1];
  char segment[kShmNameBytes + 1];
  if (vq::shm::CopySharedName(segment_name, owner) &&
      vq::shm::CopySharedName(mem_name, segment)) {
    if (segment_id != 0) {
      DeleteSharedEngineMemory(owner, segment_id);
    } else {
      DeleteSharedEngineNMemory(owner, segment);
    }
  }
  Clear();
}

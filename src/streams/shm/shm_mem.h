// The descriptor by which a shared segment is named across processes. It travels inside
// connect records, so its 72-byte layout is shared format.
//
// A descriptor names an id-named segment (creator pid, owner's resource name, id) or a
// name-named one (segment name, id 0). An empty owner name stands for the default
// server directory. A descriptor received from a peer is checked when it is mapped: an
// owner or segment name that would lead out of the resource tree is refused.
#ifndef VQ_STREAMS_SHM_SHM_MEM_H
#define VQ_STREAMS_SHM_SHM_MEM_H

#include <cstddef>
#include <cstdint>

#include "streams/shm/shm_layout.h"

struct c_strm_shm_mem {
  std::uint32_t creator_pid;         // creator's pid; all bits set: opened by name; 0: null
  char segment_name[kShmNameBytes];  // owner's resource name; empty: default server directory
  std::uint32_t segment_id;          // id of an id-named segment ("shm_%08x"); 0 when named
  char mem_name[kShmNameBytes];      // name of a name-named segment; empty when id-named

  bool IsNull() const { return creator_pid == 0; }
  void Clear();

  // A new segment of `size` bytes rounded up to whole pages. With a non-empty name: a
  // name-named segment in the default server directory. Without: an id-named segment
  // under this process's client resource name. 1, or 0 with the descriptor cleared.
  int Create(const char* name, std::uint32_t size);
  // A new name-named segment under the given owner's directory.
  int Create(const char* owner, const char* segment, std::uint32_t size);
  // Descriptors of existing name-named segments (pid all bits set, id 0). Return 1.
  int Open(const char* segment);
  int Open(const char* owner, const char* segment);
  // Maps the whole file, counted in the attach registry. The address (and the mapped
  // length in *mapped_size when given), or null when the names are refused, the file is
  // missing or empty, or it cannot be mapped.
  void* Map(std::uint32_t* mapped_size = nullptr) const;
  // Removes the file and clears the descriptor; mappings stay valid.
  void Destroy();
};
static_assert(sizeof(c_strm_shm_mem) == 72, "segment descriptor: 4 + 32 + 4 + 32 bytes");
static_assert(offsetof(c_strm_shm_mem, segment_name) == 4, "");
static_assert(offsetof(c_strm_shm_mem, segment_id) == 36, "");
static_assert(offsetof(c_strm_shm_mem, mem_name) == 40, "");

// Page size of this machine, and `size` rounded up to whole pages (0 when that does
// not fit in 32 bits).
std::uint32_t ShmPageSize();
std::uint32_t RoundUpToPages(std::uint64_t size);

#endif  // VQ_STREAMS_SHM_SHM_MEM_H

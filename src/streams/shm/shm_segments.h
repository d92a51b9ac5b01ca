// Shared segment files and the attach registry.
//
// Shared memory between the client and a local server is file-backed: a segment is a
// file in the owning process's "shmem" directory of the resource tree, named by a
// numeric id ("shm_%08x") or by a name ("_" + name), sized with ftruncate and mapped
// with mmap(MAP_SHARED). The process-wide attach registry counts mappings, so that
// mapping the same range twice yields one mapping and only the last release unmaps it.
//
// Owner names go through the resource tree's path rules: a name that would lead out of
// the tree is refused. A range to map must lie within the file as it is now; the
// registry reuses an entry only when it covers the whole range asked for. Both matter
// because the values come from peers: a mapping past the end of a file faults when
// touched.
#ifndef VQ_STREAMS_SHM_SHM_SEGMENTS_H
#define VQ_STREAMS_SHM_SHM_SEGMENTS_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// ---- Segment files (name: the owner's resource name) ------------------------------------

// Creates the id-named file exclusively with the given length; the file is removed again
// when the length cannot be set. True on success.
bool CreateSharedEngineMemoryEx(const char* name, std::uint32_t size, std::uint32_t id);
// Tries ids from the process-wide counter (0 and 0x0FFFFFFF are never handed out) until
// a file can be created; the id, or 0 after 100 failed tries.
std::uint32_t CreateSharedEngineMemory(const char* name, std::uint32_t size);
bool CreateSharedEngineNMemory(const char* name, std::uint32_t size, const char* segment);
// The file's length; false and 0 when it is missing (or longer than 32 bits can say).
bool SizeSharedEngineMemory(const char* name, std::uint32_t id, std::uint32_t* size);
bool SizeSharedEngineNMemory(const char* name, const char* segment, std::uint32_t* size);
bool ResizeSharedEngineMemory(const char* name, std::uint32_t id, std::uint32_t size);
bool ResizeSharedEngineNMemory(const char* name, const char* segment, std::uint32_t size);
// Removes the file. While shared-memory operations are not allowed (no client name is
// claimed) these do nothing and report success.
bool DeleteSharedEngineMemory(const char* name, std::uint32_t id);
bool DeleteSharedEngineNMemory(const char* name, const char* segment);
// Maps [offset, offset + size) of the file read-write (at `address` as a hint, null for
// anywhere). Null when the file cannot be opened, the offset is not page-aligned, the
// size is 0 or the range reaches past the end of the file; errno tells which.
void* AttachToSharedEngineMemoryO(const char* name, std::uint32_t id, std::uint32_t offset,
                                  std::uint32_t size, void* address);
void* AttachToSharedEngineNMemoryO(const char* name, const char* segment, std::uint32_t offset,
                                   std::uint32_t size, void* address, int writable);
bool DetachFromSharedEngineMemory(void* address, std::uint32_t size);
// mmap giving null instead of MAP_FAILED; munmap.
void* unix_mmap(void* address, std::size_t length, int protection, int flags, int fd,
                off_t offset);
int unix_munmap(void* address, std::size_t length);

// ---- Attach registry ---------------------------------------------------------------------

// Counted start and end of the registry's users (the shared heaps).
void InitShMem();
void FiniShMem();
void EnterShMemCriticalSection();
void ExitShMemCriticalSection();
// Maps the range of the owner's segment (by id when id is non-zero, else by segment
// name) or finds the registry's mapping of it. `counted` 1 counts a holder; any other
// value makes a mapping that DetachFromSharedMem never unmaps. The address, or null (with
// a line on standard error).
void* AttachToSharedMem(std::uint32_t owner_pid, const char* name, std::uint32_t id,
                        const char* segment, std::uint32_t offset, std::uint32_t size,
                        int counted);
// Releases one holder of the mapping at `address`; the last one unmaps it. False when
// the address is not in the registry or munmap fails.
bool DetachFromSharedMem(void* address);

namespace vq::shm::testing {
// Holders of the registry entry at `address`: its count (-1 for an uncounted mapping),
// 0 when there is no entry.
int ShMemHolders(void* address);
// Makes the id counter hand out `next` on its next use.
void SetNextSegmentId(std::uint32_t next);
}  // namespace vq::shm::testing

#endif  // VQ_STREAMS_SHM_SHM_SEGMENTS_H

// The one allocation policy of the library, and its fatal-error exit.
//
// Two flavours: the fatal one (ut_alloc, ut_realloc) never returns null for a non-zero
// request and ends the process with "Out of memory" instead; the soft one (ut_malloc,
// ut_calloc, ut_memdup) returns null. Every failed allocation asks the out-of-memory hook
// once whether memory was released and, if so, tries once more. A request of 0 bytes is
// not an allocation: it returns null and calls nothing. Blocks from any of these
// functions go back through ut_free and may be resized with ut_realloc.
#ifndef VQ_UTILS_BASE_MEMORY_H
#define VQ_UTILS_BASE_MEMORY_H

#include <cstddef>

extern "C" {

void* ut_malloc(std::size_t size);
void* ut_alloc(std::size_t size);
void* ut_calloc(std::size_t size);
void* ut_memdup(const void* source, std::size_t size);
// Null block: allocates softly (null on failure). Size 0: frees the block, returns null.
// Otherwise resizes and ends the process when that fails.
void* ut_realloc(void* block, std::size_t size);
void ut_free(void* block);

void* uimalloc(std::size_t size);
// count * element_size, zero-filled; null when the product does not fit in a size_t.
void* uicalloc(std::size_t count, std::size_t element_size);
void* uirealloc(void* block, std::size_t size);
void uifree(void* block);

// Writes the message (when not null) to the system log and to standard output, then
// ends the process with status 1 at once: no exit handlers, no static destructors.
[[noreturn]] void ut_fatal(const char* message);

// One line at LOG_ERR, facility LOG_USER, under the given identity.
void GenerateErrorLog(const char* message, const char* identity);

// Memory-tracking hooks kept for callers; they do nothing.
void ut_start_trackmem(void);
void ut_stop_trackmem(void);
void ut_trackmem(void);
void utmem_abort(void);

// Asked after a failed allocation: non-zero when memory was released and the allocation
// is worth one more try. The client holds no memory it could release, so it answers 0.
unsigned int ut_out_of_memory(void);

}  // extern "C"

namespace vq::base {

// Test seams: replace the out-of-memory hook and the system-log writer. Passing null
// restores the default. Not thread-safe; tests set them before they allocate.
using OutOfMemoryHook = unsigned int (*)();
using ErrorLogSink = void (*)(const char* identity, int option, int facility,
                              int priority, const char* text);
void SetOutOfMemoryHook(OutOfMemoryHook hook);
void SetErrorLogSink(ErrorLogSink sink);

// Deleter for std::unique_ptr of blocks from ut_alloc and its siblings.
struct UtFree {
  void operator()(void* block) const noexcept { ut_free(block); }
};

}  // namespace vq::base

#endif  // VQ_UTILS_BASE_MEMORY_H

// The conversion-buffer pool: a list of buffers, each a header followed by its data.
#include "odbc/string_pool.h"

#include <pthread.h>

#include <cstdint>
#include <cstring>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"
#include "vqtasks.h"

namespace {

// The header in front of every buffer's data. With 64-bit pointers it is 32 bytes, and
// its alignment keeps the data 16-byte aligned.
struct alignas(16) a_string_buffer {
  char tag[4];            // kInUse or kFree
  unsigned char* data;    // the bytes after the header
  std::size_t capacity;   // bytes of data
  a_string_buffer* next;  // next buffer of the pool
};
static_assert(sizeof(a_string_buffer) == 32, "header of a pool buffer");

constexpr char kInUse[4] = {'/', '/', '/', '/'};
constexpr char kFree[4] = {'1', '1', '1', '1'};

a_ut_safe_pthread_mutex_t g_pool_mutex = {nullptr};
a_string_buffer* g_pool = nullptr;  // newest first
unsigned g_pool_count = 0;

bool IsFree(const a_string_buffer* b) { return std::memcmp(b->tag, kFree, 4) == 0; }

void Lock() {
  if (g_pool_mutex.handle != nullptr) pthread_mutex_lock(g_pool_mutex.handle);
}
void Unlock() {
  if (g_pool_mutex.handle != nullptr) pthread_mutex_unlock(g_pool_mutex.handle);
}

// Frees the free buffers (every buffer with `all`). The caller holds the mutex.
void ReleaseBuffers(bool all) {
  for (a_string_buffer** link = &g_pool; *link != nullptr;) {
    a_string_buffer* b = *link;
    if (all || IsFree(b)) {
      *link = b->next;
      VFreeLocked(b);
      --g_pool_count;
    } else {
      link = &b->next;
    }
  }
}

}  // namespace

void* StringRequest(tagOBJECT* handle, bool take, void* pointer, std::size_t size) {
  if (!take) {
    if (pointer == nullptr) return nullptr;
    // The buffer is looked up in the list rather than read through a header in front of
    // the pointer: a pointer that did not come from the pool has no header to read.
    Lock();
    for (a_string_buffer* b = g_pool; b != nullptr; b = b->next) {
      if (b->data == pointer) {
        std::memcpy(b->tag, kFree, 4);
        Unlock();
        return nullptr;
      }
    }
    Unlock();
    VFreeLocked(pointer);
    return nullptr;
  }

  if (size > SIZE_MAX - sizeof(a_string_buffer)) {
    if (handle != nullptr) PostSQLState(handle, kStateHY001, kStateS1001);
    return nullptr;
  }
  Lock();
  for (a_string_buffer* b = g_pool; b != nullptr; b = b->next) {
    if (IsFree(b) && b->capacity >= size) {
      std::memcpy(b->tag, kInUse, 4);
      Unlock();
      return b->data;
    }
  }
  if (g_pool_count + 1 >= kStringPoolTrim) ReleaseBuffers(false);
  // Allocated without a handle: a diagnostic is posted only once the mutex is released.
  auto* b =
      static_cast<a_string_buffer*>(VAllocLocked(nullptr, sizeof(a_string_buffer) + size));
  if (b != nullptr) {
    std::memcpy(b->tag, kInUse, 4);
    b->data = reinterpret_cast<unsigned char*>(b + 1);
    b->capacity = size;
    b->next = g_pool;
    g_pool = b;
    ++g_pool_count;
  }
  Unlock();
  if (b == nullptr) {
    if (handle != nullptr) PostSQLState(handle, kStateHY001, kStateS1001);
    return nullptr;
  }
  return b->data;
}

void StringFree(void* pointer) {
  if (pointer != nullptr) StringRequest(nullptr, false, pointer, 0);
}

void InitializeStringTable() {
  if (g_pool_mutex.handle == nullptr) ut_safe_pthread_mutex_init(&g_pool_mutex, nullptr);
  g_pool = nullptr;
  g_pool_count = 0;
}

void DoneStringTable(bool all) {
  Lock();
  ReleaseBuffers(all);
  Unlock();
  if (all) ut_safe_pthread_mutex_destroy(&g_pool_mutex);
}

namespace vq::odbc {

unsigned StringPoolBuffers() {
  Lock();
  const unsigned n = g_pool_count;
  Unlock();
  return n;
}

unsigned StringPoolFreeBuffers() {
  Lock();
  unsigned n = 0;
  for (const a_string_buffer* b = g_pool; b != nullptr; b = b->next) n += IsFree(b) ? 1 : 0;
  Unlock();
  return n;
}

bool StringPoolHolds(const void* bytes, std::size_t length) {
  if (length == 0) return false;
  Lock();
  bool found = false;
  for (const a_string_buffer* b = g_pool; b != nullptr && !found; b = b->next) {
    for (std::size_t i = 0; i + length <= b->capacity && !found; ++i) {
      found = std::memcmp(b->data + i, bytes, length) == 0;
    }
  }
  Unlock();
  return found;
}

}  // namespace vq::odbc

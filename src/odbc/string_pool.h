// The process-wide pool of conversion buffers that the wide entry points take for the
// narrow copies of their text and give back after the call.
//
// Buffers are reused by first fit on capacity; the pool is trimmed of its free buffers
// only when a new buffer would make it hold kStringPoolTrim or more. A buffer handed out
// is known by its data pointer, which is 16-byte aligned. Every take and give-back holds
// the pool's mutex, which is taken inside a connection's mutex and never held across a
// call into another layer (nor while a diagnostic is posted).
#ifndef VQ_ODBC_STRING_POOL_H
#define VQ_ODBC_STRING_POOL_H

#include <cstddef>

struct tagOBJECT;

constexpr unsigned kStringPoolTrim = 300;

// take: a buffer of at least `size` bytes, or null with HY001 posted on `handle` (when
// given). give back (take false): `pointer` returns to the pool when it came from it;
// any other non-null pointer is freed with VFreeLocked. Callers that wrote a secret into
// a buffer zero it before giving it back.
void* StringRequest(tagOBJECT* handle, bool take, void* pointer, std::size_t size);
// Gives a non-null pointer back.
void StringFree(void* pointer);

// Library start: the mutex and an empty pool. Library stop (all = true): every buffer
// freed and the mutex destroyed; with all = false only the free buffers are released.
void InitializeStringTable();
void DoneStringTable(bool all);

namespace vq::odbc {
// The pool's buffers, and how many of them are free (for tests).
unsigned StringPoolBuffers();
unsigned StringPoolFreeBuffers();
// Whether any buffer of the pool, in use or free, holds these bytes (for tests that
// check a secret was wiped).
bool StringPoolHolds(const void* bytes, std::size_t length);
}  // namespace vq::odbc

#endif  // VQ_ODBC_STRING_POOL_H

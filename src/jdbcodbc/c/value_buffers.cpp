// The value buffers of the bridge and the copy of Java text into them. Sizes are ODBC
// lengths (SQLLEN); a buffer that cannot be had raises "OUT_OF_MEMORY" in Java.
#include <cstring>

#include "jdbcodbc/c/nativeobj.h"
#include "utils/base/memory.h"

SQLLEN FixedCTypeBytes(SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_BIT:
    case SQL_C_STINYINT: return 1;
    case SQL_C_SSHORT: return 2;
    case SQL_C_SLONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_SBIGINT:
    case SQL_C_DOUBLE: return 8;
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME: return 6;
    case SQL_C_TYPE_TIMESTAMP: return 16;
    case SQL_C_NUMERIC: return static_cast<SQLLEN>(sizeof(SQL_NUMERIC_STRUCT));
    default: return 0;
  }
}

void* NativeWarnObj::alloc(JNIEnv* env, std::size_t size) {
  void* block = ut_malloc(size);
  if (block == nullptr) {
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return nullptr;
  }
  std::memset(block, 0, size);
  return block;
}

void* NativeWarnObj::realloc(JNIEnv* env, void* block, std::size_t size) {
  // With a block, ut_realloc ends the process rather than fail; without one it fails
  // softly.
  void* grown = ut_realloc(block, size);
  if (grown == nullptr && size != 0) NOSE()->raiseError(env, "OUT_OF_MEMORY");
  return grown;
}

void NativeWarnObj::free(void* block) { ut_free(block); }

void* NativeWarnObj::checkAndRealloc(JNIEnv* env, void* buffer, SQLLEN have, SQLLEN need,
                                     SQLLEN* newSize) {
  if (have >= need) {
    if (newSize != nullptr) *newSize = have;
    return buffer;
  }
  if (newSize == nullptr) {
    NOSE()->raiseError(env, "OVERSIZE_UPDATE");
    return nullptr;
  }
  SQLLEN size = need + need / 2;
  size += size & 1;
  void* grown = NativeWarnObj::realloc(env, buffer, static_cast<std::size_t>(size));
  *newSize = grown != nullptr ? size : 0;
  return grown;
}

void* NativeWarnObj::copyJChars(JNIEnv* env, void* buffer, SQLLEN size, SQLLEN* length,
                                const jchar* units, SQLLEN n, SQLLEN* newSize) {
  *length = 0;
  const SQLLEN need = 2 * n + 2;
  void* out = checkAndRealloc(env, buffer, size, need, newSize);
  if (out == nullptr) return nullptr;
  const SQLLEN have = newSize != nullptr ? *newSize : size;
  const SQLLEN copied = n < have / 2 - 1 ? n : have / 2 - 1;
  auto* dest = static_cast<jchar*>(out);
  if (copied > 0) std::memcpy(dest, units, static_cast<std::size_t>(copied) * 2);
  dest[copied] = 0;
  *length = 2 * copied;
  return out;
}

void* NativeWarnObj::copyJStringChars(JNIEnv* env, void* buffer, SQLLEN size, SQLLEN* length,
                                      jstring text, SQLLEN* newSize) {
  if (text == nullptr) {
    *length = SQL_NULL_DATA;
    if (newSize != nullptr) *newSize = size;
    return nullptr;
  }
  const jsize n = env->GetStringLength(text);
  const jchar* units = env->GetStringChars(text, nullptr);
  if (units == nullptr) return nullptr;  // OutOfMemoryError pending
  void* out = copyJChars(env, buffer, size, length, units, n, newSize);
  env->ReleaseStringChars(text, units);
  return out;
}

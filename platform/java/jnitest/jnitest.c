/* The test-only JNI library of the Java tests (class vqtest.JniTest): a release function
   for a joined connection, an address above 4 GiB, and raw ODBC connection handles made
   through the exported ODBC API of libvqjdbc12.so (linked directly: no driver manager).
   Every address crosses Java as a full 64-bit jlong through intptr_t. */
#define _GNU_SOURCE
#include <pthread.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <sql.h>
#include <sqlext.h>

#include "vqtest_JniTest.h"

static atomic_int release_count;
static atomic_intptr_t released_context;
static atomic_intptr_t released_handle;

static pthread_once_t env_once = PTHREAD_ONCE_INIT;
static SQLHENV shared_env = SQL_NULL_HENV;

static pthread_mutex_t error_lock = PTHREAD_MUTEX_INITIALIZER;
static char last_error[600];

/* The release callback a joined connection calls at close: records its arguments, then
   gives the handle back to the driver. */
static void vqjnitest_release(void* context, SQLHDBC dbc) {
  atomic_store(&released_context, (intptr_t)context);
  atomic_store(&released_handle, (intptr_t)dbc);
  atomic_fetch_add(&release_count, 1);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

JNIEXPORT jlong JNICALL Java_vqtest_JniTest_releaseFunction(JNIEnv* env, jclass cls) {
  (void)env;
  (void)cls;
  return (jlong)(intptr_t)&vqjnitest_release;
}

JNIEXPORT jint JNICALL Java_vqtest_JniTest_releaseCount(JNIEnv* env, jclass cls) {
  (void)env;
  (void)cls;
  return atomic_load(&release_count);
}

JNIEXPORT jlong JNICALL Java_vqtest_JniTest_lastReleasedContext(JNIEnv* env, jclass cls) {
  (void)env;
  (void)cls;
  return (jlong)atomic_load(&released_context);
}

JNIEXPORT jlong JNICALL Java_vqtest_JniTest_lastReleasedHandle(JNIEnv* env, jclass cls) {
  (void)env;
  (void)cls;
  return (jlong)atomic_load(&released_handle);
}

static pthread_once_t high_once = PTHREAD_ONCE_INIT;
static void* high_page;

/* One page at an address whose upper half is non-zero and whose low 32 bits read as a
   negative int32: a truncation to 32 bits or a sign extension of the low half both show.
   Fixed addresses may lie in a sanitizer's shadow memory, so we reserve 2 GiB and a page
   wherever the kernel puts them (above 4 GiB on x86_64), keep the one page in it whose
   address has bit 31 set, and give the rest back. */
static void map_high_page(void) {
  const size_t page = 4096;
  const size_t span = 0x80000000u + page;
  char* base = mmap(NULL, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return;
  uintptr_t b = (uintptr_t)base;
  uintptr_t q = (b & 0x80000000u) ? b : ((b & ~(uintptr_t)0xFFFFFFFFu) | 0x80000000u);
  char* keep = (char*)q;
  if (keep > base) munmap(base, (size_t)(keep - base));
  if (keep + page < base + span) munmap(keep + page, (size_t)(base + span - (keep + page)));
  if (q <= 0xFFFFFFFFu || mprotect(keep, page, PROT_READ | PROT_WRITE) != 0) {
    munmap(keep, page);
    return;
  }
  high_page = keep;
}

JNIEXPORT jlong JNICALL Java_vqtest_JniTest_highAddress(JNIEnv* env, jclass cls) {
  (void)env;
  (void)cls;
  pthread_once(&high_once, map_high_page);
  return (jlong)(intptr_t)high_page;
}

static void alloc_env(void) {
  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &shared_env) != SQL_SUCCESS) {
    shared_env = SQL_NULL_HENV;
    return;
  }
  SQLSetEnvAttr(shared_env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
}

static void keep_error(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  SQLCHAR state[6] = "";
  SQLCHAR text[512] = "";
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  if (handle == SQL_NULL_HANDLE ||
      !SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &len))) {
    strcpy((char*)state, "?????");
  }
  pthread_mutex_lock(&error_lock);
  snprintf(last_error, sizeof last_error, "%s: %s %d %s", what, (const char*)state, (int)native,
           (const char*)text);
  pthread_mutex_unlock(&error_lock);
}

JNIEXPORT jlong JNICALL Java_vqtest_JniTest_connect(JNIEnv* env, jclass cls, jstring text) {
  (void)cls;
  pthread_once(&env_once, alloc_env);
  if (shared_env == SQL_NULL_HENV) {
    keep_error(SQL_HANDLE_ENV, SQL_NULL_HANDLE, "SQLAllocHandle(ENV)");
    return 0;
  }
  if (text == NULL) return 0;
  const char* chars = (*env)->GetStringUTFChars(env, text, NULL);
  if (chars == NULL) return 0;
  SQLHDBC dbc = SQL_NULL_HDBC;
  jlong result = 0;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, shared_env, &dbc))) {
    keep_error(SQL_HANDLE_ENV, shared_env, "SQLAllocHandle(DBC)");
  } else if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, NULL, (SQLCHAR*)chars, SQL_NTS, NULL, 0, NULL,
                                             SQL_DRIVER_NOPROMPT))) {
    keep_error(SQL_HANDLE_DBC, dbc, "SQLDriverConnect");
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  } else {
    result = (jlong)(intptr_t)dbc;
  }
  (*env)->ReleaseStringUTFChars(env, text, chars);
  return result;
}

JNIEXPORT void JNICALL Java_vqtest_JniTest_disconnect(JNIEnv* env, jclass cls, jlong handle) {
  (void)env;
  (void)cls;
  SQLHDBC dbc = (SQLHDBC)(intptr_t)handle;
  if (dbc == SQL_NULL_HDBC) return;
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

JNIEXPORT jstring JNICALL Java_vqtest_JniTest_lastError(JNIEnv* env, jclass cls) {
  (void)cls;
  char copy[sizeof last_error];
  pthread_mutex_lock(&error_lock);
  memcpy(copy, last_error, sizeof copy);
  pthread_mutex_unlock(&error_lock);
  return (*env)->NewStringUTF(env, copy);
}

JNIEXPORT jint JNICALL Java_vqtest_JniTest_execDirect(JNIEnv* env, jclass cls, jlong handle,
                                                      jstring sql) {
  (void)cls;
  SQLHDBC dbc = (SQLHDBC)(intptr_t)handle;
  if (dbc == SQL_NULL_HDBC || sql == NULL) return SQL_INVALID_HANDLE;
  const char* chars = (*env)->GetStringUTFChars(env, sql, NULL);
  if (chars == NULL) return SQL_ERROR;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  if (SQL_SUCCEEDED(rc)) {
    rc = SQLExecDirect(stmt, (SQLCHAR*)chars, SQL_NTS);
    if (!SQL_SUCCEEDED(rc)) keep_error(SQL_HANDLE_STMT, stmt, "SQLExecDirect");
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  (*env)->ReleaseStringUTFChars(env, sql, chars);
  return rc;
}

/* ---- The native row reader, seen as an application's native code sees it ----------
   The records are laid out here from their documentation (64-bit: 8-byte pointers), not
   from the library's header, so a change of layout on either side shows. */
typedef struct {
  int32_t type;
  int32_t zero;
  int32_t length;
  int32_t unused;
  unsigned char value[16];
} test_el_cell;
typedef struct {
  uint32_t cellCount;
  uint32_t reserved;
  test_el_cell* cells;
} test_el_row;
typedef int (*test_read_row)(JNIEnv*, void*, test_el_row*);
typedef struct {
  JNIEnv* env;
  void* resultSet;
  test_read_row readRow;
} test_el_reader;
_Static_assert(sizeof(test_el_cell) == 32, "el_cell is 32 bytes");
_Static_assert(sizeof(test_el_row) == 16, "el_row is 16 bytes");
_Static_assert(sizeof(test_el_reader) == 24, "el_reader is 24 bytes");

JNIEXPORT jlong JNICALL Java_vqtest_JniTest_allocBlock(JNIEnv* env, jclass cls, jint bytes) {
  (void)env;
  (void)cls;
  return (jlong)(intptr_t)calloc(1, bytes > 0 ? (size_t)bytes : 1);
}

JNIEXPORT void JNICALL Java_vqtest_JniTest_freeBlock(JNIEnv* env, jclass cls, jlong block) {
  (void)env;
  (void)cls;
  free((void*)(intptr_t)block);
}

static int untouched(const unsigned char* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (bytes[i] != 0xAB) return 0;
  return 1;
}

/* One cell as text: "-" untouched, "null", or "<type>:<value>". */
static void describe_cell(const test_el_cell* cell, char* out, size_t size) {
  const unsigned char* raw = (const unsigned char*)cell;
  if (untouched(raw, sizeof *cell)) {
    snprintf(out, size, "-");
    return;
  }
  if (!untouched(raw + 12, 4) || cell->zero != 0) {
    snprintf(out, size, "bad-cell");
    return;
  }
  const void* address;
  memcpy(&address, cell->value, sizeof address);
  switch (cell->type) {
    case 0:
      snprintf(out, size, "null");
      break;
    case 8: {
      double d;
      memcpy(&d, cell->value, sizeof d);
      snprintf(out, size, "8:%.17g", d);
      break;
    }
    case 9: {
      SQL_DATE_STRUCT v;
      memcpy(&v, cell->value, sizeof v);
      snprintf(out, size, "9:%04d-%02u-%02u", v.year, v.month, v.day);
      break;
    }
    case 10: {
      SQL_TIME_STRUCT v;
      memcpy(&v, cell->value, sizeof v);
      snprintf(out, size, "10:%02u:%02u:%02u", v.hour, v.minute, v.second);
      break;
    }
    case 11: {
      SQL_TIMESTAMP_STRUCT v;
      memcpy(&v, cell->value, sizeof v);
      snprintf(out, size, "11:%04d-%02u-%02u %02u:%02u:%02u.%09u", v.year, v.month, v.day,
               v.hour, v.minute, v.second, (unsigned)v.fraction);
      break;
    }
    case -25: {
      int64_t i;
      memcpy(&i, cell->value, sizeof i);
      snprintf(out, size, "-25:%lld", (long long)i);
      break;
    }
    case -16: {
      int32_t i;
      memcpy(&i, cell->value, sizeof i);
      snprintf(out, size, "-16:%d", i);
      break;
    }
    case -8: {
      const uint16_t* units = (const uint16_t*)address;
      size_t n = (size_t)cell->length / 2, at = 0;
      at += (size_t)snprintf(out, size, "-8:");
      for (size_t i = 0; i < n && at + 8 < size; ++i)
        at += (size_t)snprintf(out + at, size - at, units[i] < 0x80 ? "%c" : "\\u%04x", units[i]);
      if (units[n] != 0 && at + 14 < size) snprintf(out + at, size - at, "<no-terminator>");
      break;
    }
    case 1: {
      const char* text = (const char*)address;
      size_t n = (size_t)cell->length;
      snprintf(out, size, "1:%.*s%s", (int)n, text, text[n] != 0 ? "<no-terminator>" : "");
      break;
    }
    case -2: {
      const unsigned char* bytes = (const unsigned char*)address;
      size_t at = (size_t)snprintf(out, size, "-2:");
      for (int i = 0; i < cell->length && at + 3 < size; ++i)
        at += (size_t)snprintf(out + at, size - at, "%02X", bytes[i]);
      break;
    }
    default:
      snprintf(out, size, "type-%d", cell->type);
  }
}

JNIEXPORT jobjectArray JNICALL Java_vqtest_JniTest_readRow(JNIEnv* env, jclass cls,
                                                           jlong reader, jint cellCount) {
  (void)cls;
  const test_el_reader* r = (const test_el_reader*)(intptr_t)reader;
  if (r == NULL || cellCount < 0) return NULL;
  /* One cell more than offered: the reader must never write it. */
  test_el_cell* cells = malloc(sizeof(test_el_cell) * ((size_t)cellCount + 1));
  if (cells == NULL) return NULL;
  memset(cells, 0xAB, sizeof(test_el_cell) * ((size_t)cellCount + 1));
  test_el_row row = {(uint32_t)cellCount, 0xABABABABu, cells};
  jobjectArray result = NULL;
  if (r->readRow(r->env, r->resultSet, &row) != 0) {
    jclass string = (*env)->FindClass(env, "java/lang/String");
    result = string != NULL ? (*env)->NewObjectArray(env, cellCount + 1, string, NULL) : NULL;
    for (jint i = 0; result != NULL && i <= cellCount; ++i) {
      char text[4096];
      if (i == cellCount)
        snprintf(text, sizeof text, "%s",
                 untouched((const unsigned char*)&cells[i], sizeof cells[i]) ? "end" : "overrun");
      else
        describe_cell(&cells[i], text, sizeof text);
      jstring s = (*env)->NewStringUTF(env, text);
      if (s == NULL) break;
      (*env)->SetObjectArrayElement(env, result, i, s);
      (*env)->DeleteLocalRef(env, s);
    }
  }
  free(cells);
  return result;
}

/* Narrow SQLGetInfo on a driver's connection handle, read at the width the caller names:
   16 (a text: its first byte), 2 (unsigned 16-bit) or 4 (unsigned 32-bit); -1 when the
   driver refused. The metadata tests compare the driver's JDBC answers with it. */
JNIEXPORT jlong JNICALL Java_vqtest_JniTest_getInfo(JNIEnv* env, jclass cls, jlong dbc,
                                                    jint item, jint bytes) {
  (void)env;
  (void)cls;
  unsigned char buffer[16];
  memset(buffer, 0, sizeof buffer);
  if (bytes != 2 && bytes != 4 && bytes != 16) return -1;
  SQLRETURN rc = SQLGetInfo((SQLHDBC)(intptr_t)dbc, (SQLUSMALLINT)item, buffer,
                            (SQLSMALLINT)bytes, NULL);
  if (!SQL_SUCCEEDED(rc)) return -1;
  if (bytes == 16) return buffer[0];
  if (bytes == 2) {
    uint16_t v;
    memcpy(&v, buffer, sizeof v);
    return v;
  }
  uint32_t v;
  memcpy(&v, buffer, sizeof v);
  return (jlong)v;
}

/* Wide SQLGetInfoW of a text item into a buffer far larger than any answer; null when the
   driver refused. */
JNIEXPORT jstring JNICALL Java_vqtest_JniTest_getInfoString(JNIEnv* env, jclass cls, jlong dbc,
                                                            jint item) {
  (void)cls;
  static const SQLSMALLINT size = 32766;
  SQLWCHAR* buffer = calloc(1, (size_t)size + 2);
  if (buffer == NULL) return NULL;
  SQLSMALLINT bytes = 0;
  SQLRETURN rc = SQLGetInfoW((SQLHDBC)(intptr_t)dbc, (SQLUSMALLINT)item, buffer, size, &bytes);
  jstring result = NULL;
  if (SQL_SUCCEEDED(rc) && bytes >= 0 && bytes < size)
    result = (*env)->NewString(env, (const jchar*)buffer, bytes / 2);
  free(buffer);
  return result;
}

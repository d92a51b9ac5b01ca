/* The test-only JNI library of the Java tests (class vqtest.JniTest): a release function
   for a joined connection, an address above 4 GiB, and raw ODBC connection handles made
   through the exported ODBC API of libvqjdbc12.so (linked directly: no driver manager).
   Every address crosses Java as a full 64-bit jlong through intptr_t. */
#define _GNU_SOURCE
#include <pthread.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
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

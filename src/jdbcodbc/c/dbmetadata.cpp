// The metadata peer itself: making and unmaking it through its connection, the cache of
// at most five catalog statements, the Java strings pinned for one catalog call, and
// execSQL.
//
// Locks: a statement leaves the cache inside Statement::cleanup while its Java monitor is
// held (monitor, then the cache mutex). So the cache mutex is never held while a
// statement's monitor is taken: eviction and fini take the statements out of the slots
// under the mutex and clean them up after releasing it.
#include "jdbcodbc/c/dbmetadata.h"

#include <pthread.h>

#include <climits>
#include <cstring>
#include <new>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/resultset.h"

// One pinned Java string: the characters the JVM gave (released with the string), or a
// terminated copy of our own when the string is too long for a 16-bit length.
struct DatabaseMetaData::Pinned {
  jstring string = nullptr;
  const jchar* chars = nullptr;  // from GetStringChars, or null when `copy` is used
  SQLWCHAR* copy = nullptr;      // value buffer, terminated
  Pinned* next = nullptr;        // the next older record
};

namespace {

void LockMutex(a_ut_safe_pthread_mutex_t& m) {
  if (m.handle != nullptr) pthread_mutex_lock(m.handle);
}

void UnlockMutex(a_ut_safe_pthread_mutex_t& m) {
  if (m.handle != nullptr) pthread_mutex_unlock(m.handle);
}

}  // namespace

DatabaseMetaData::DatabaseMetaData(JNIEnv*, Connection* connection) : connection_(connection) {
  ut_safe_pthread_mutex_init(&cacheMutex_, nullptr);
}

DatabaseMetaData::~DatabaseMetaData() { ut_safe_pthread_mutex_destroy(&cacheMutex_); }

ConstructibleINativeClass* DatabaseMetaData::getConstructibleINativeClass() {
  return static_cast<ConstructibleINativeClass*>(
      NOSE()->wrapper(NativeObjSharedEnv::kIDatabaseMetaData));
}

jobject DatabaseMetaData::getConnection() {
  return connection_ != nullptr ? connection_->getJobj() : nullptr;
}

SQLHDBC DatabaseMetaData::odbcHandle() const {
  return connection_ != nullptr ? connection_->getODBCHandle() : SQL_NULL_HDBC;
}

// ---- The statement cache ------------------------------------------------------------------

Statement* DatabaseMetaData::allocStatement(JNIEnv* env) {
  // A full cache gives up its oldest statement. Its Java object is taken as a local
  // reference while the statement is still cached (so not yet finished), and it is
  // cleaned up with the mutex released.
  jobject evicted = nullptr;
  LockMutex(cacheMutex_);
  if (slots_[kCacheSlots - 1] != nullptr) {
    Statement* oldest = slots_[0];
    if (oldest->getJobj() != nullptr) evicted = env->NewLocalRef(oldest->getJobj());
    removeFromStatementCache(oldest, 0);
  }
  UnlockMutex(cacheMutex_);
  if (evicted != nullptr) {
    // Its result set is closed under its user, who then sees a closed result set.
    Statement::cleanup(env, evicted, 0, 1);
    env->DeleteLocalRef(evicted);
  }
  if (env->ExceptionCheck()) return nullptr;

  auto* stmt = new Statement(env, connection_, kJdbcForwardOnly, kJdbcConcurReadOnly, true);
  if (env->ExceptionCheck()) {
    // Not cached: a statement that could not be made has no use.
    Statement::discard(env, stmt);
    return nullptr;
  }
  stmt->setOwningMetadata(this);
  NativeObj::getJobjMutex();
  jobject made = stmt->createJobj(env);
  NativeObj::giveJobjMutex();
  if (made == nullptr || env->ExceptionCheck()) {
    stmt->setOwningMetadata(nullptr);
    Statement::discard(env, stmt);
    return nullptr;
  }
  LockMutex(cacheMutex_);
  int slot = 0;
  while (slot < kCacheSlots && slots_[slot] != nullptr) ++slot;
  if (slot == kCacheSlots) {
    // Calls on one metadata object are serialised and removals only free slots, so the
    // slot freed above is still free; kept as a guard.
    UnlockMutex(cacheMutex_);
    stmt->setOwningMetadata(nullptr);
    Statement::discard(env, stmt);
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return nullptr;
  }
  slots_[slot] = stmt;
  UnlockMutex(cacheMutex_);
  return stmt;
}

void DatabaseMetaData::removeFromStatementCache(Statement* stmt, unsigned lock) {
  if (lock != 0) LockMutex(cacheMutex_);
  for (int i = 0; i < kCacheSlots; ++i) {
    if (slots_[i] == stmt) {
      slots_[i] = nullptr;
      break;
    }
  }
  int to = 0;
  for (int from = 0; from < kCacheSlots; ++from) {
    if (slots_[from] != nullptr) slots_[to++] = slots_[from];
  }
  while (to < kCacheSlots) slots_[to++] = nullptr;
  if (lock != 0) UnlockMutex(cacheMutex_);
}

int DatabaseMetaData::cachedStatements(Statement** out) {
  LockMutex(cacheMutex_);
  int count = 0;
  while (count < kCacheSlots && slots_[count] != nullptr) {
    if (out != nullptr) out[count] = slots_[count];
    ++count;
  }
  UnlockMutex(cacheMutex_);
  return count;
}

// ---- Pinned strings -------------------------------------------------------------------------

bool DatabaseMetaData::getWCHAR(JNIEnv* env, jstring s, Statement::WText* out) {
  out->text = nullptr;
  out->length = 0;
  if (s == nullptr) return true;
  auto* record = new (std::nothrow) Pinned;
  if (record == nullptr) {
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return false;
  }
  record->string = s;
  const jsize units = env->GetStringLength(s);
  if (units <= SHRT_MAX) {
    record->chars = env->GetStringChars(s, nullptr);
    if (record->chars == nullptr) {
      delete record;
      if (!env->ExceptionCheck()) NOSE()->raiseError(env, "OUT_OF_MEMORY");
      return false;
    }
    out->text = reinterpret_cast<const SQLWCHAR*>(record->chars);
    out->length = static_cast<SQLSMALLINT>(units);
  } else {
    // Longer than a 16-bit length can say: a terminated copy with SQL_NTS, so that the
    // driver sees the whole text instead of a length that wrapped.
    const std::size_t bytes = (static_cast<std::size_t>(units) + 1) * sizeof(SQLWCHAR);
    record->copy = static_cast<SQLWCHAR*>(alloc(env, bytes));
    if (record->copy == nullptr) {
      delete record;
      return false;
    }
    env->GetStringRegion(s, 0, units, reinterpret_cast<jchar*>(record->copy));
    out->text = record->copy;
    out->length = SQL_NTS;
  }
  record->next = pinned_;
  pinned_ = record;
  return true;
}

void DatabaseMetaData::cleanUpWCHARs(JNIEnv* env) {
  while (Pinned* record = pinned_) {
    pinned_ = record->next;
    if (record->chars != nullptr) env->ReleaseStringChars(record->string, record->chars);
    free(record->copy);
    delete record;
  }
}

// ---- Running SQL --------------------------------------------------------------------------------

jobject DatabaseMetaData::execSQL(JNIEnv* env, const char* sql) {
  Statement* stmt = allocStatement(env);
  if (stmt == nullptr) return nullptr;
  if (!stmt->execDirect(env, sql)) return nullptr;
  return stmt->getResultSet(env);
}

// ---- Teardown ------------------------------------------------------------------------------------

void DatabaseMetaData::fini(JNIEnv* env) {
  // Teardown runs after a failure too: every statement must be cleaned up.
  PendingExceptionScope pending(env);
  jobject cached[kCacheSlots] = {};
  int count = 0;
  LockMutex(cacheMutex_);
  for (Statement* stmt : slots_) {
    if (stmt != nullptr && stmt->getJobj() != nullptr)
      cached[count++] = env->NewLocalRef(stmt->getJobj());
  }
  UnlockMutex(cacheMutex_);
  // Oldest first; each leaves the cache during its own clean-up. A statement whose
  // result set is closed meanwhile on another thread is cleaned up there, and ours then
  // finds no peer.
  for (int i = 0; i < count; ++i) {
    if (cached[i] == nullptr) continue;
    Statement::cleanup(env, cached[i], 0, 1);
    env->DeleteLocalRef(cached[i]);
  }
  LockMutex(cacheMutex_);
  for (Statement*& stmt : slots_) stmt = nullptr;
  UnlockMutex(cacheMutex_);
  cleanUpWCHARs(env);
  NativeWarnObj::fini(env);
}

// ---- Through the connection -------------------------------------------------------------------

void DatabaseMetaData::detachAndDelete(JNIEnv* env, jobject obj) {
  if (obj == nullptr || env->MonitorEnter(obj) != JNI_OK) return;
  NativeObj* peer = NOSE()->closeNativeObj(env, obj, kClassName);
  env->MonitorExit(obj);
  if (peer == nullptr) return;
  peer->fini(env);
  delete peer;
}

jobject Connection::getMetaData(JNIEnv* env) {
  if (metadata_ != nullptr) {
    if (NOSE()->getNativeObj(env, metadata_) != nullptr) return env->NewLocalRef(metadata_);
    // Freed from Java meanwhile: a dead object would refuse every call, so a new one is
    // made.
    env->DeleteGlobalRef(metadata_);
    metadata_ = nullptr;
  }
  auto* peer = new DatabaseMetaData(env, this);
  if (env->ExceptionCheck()) {
    peer->fini(env);
    delete peer;
    return nullptr;
  }
  NativeObj::getJobjMutex();
  jobject made = peer->createJobj(env);
  NativeObj::giveJobjMutex();
  if (made == nullptr || env->ExceptionCheck()) {
    peer->fini(env);
    delete peer;
    return nullptr;
  }
  // The peer owns `made`; the connection keeps a reference of its own, so that the
  // peer's fini (which deletes its reference) never leaves the connection one deleted.
  metadata_ = env->NewGlobalRef(made);
  if (metadata_ == nullptr) {
    DatabaseMetaData::detachAndDelete(env, made);
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return nullptr;
  }
  return env->NewLocalRef(metadata_);
}

void Connection::closeDbMD(JNIEnv* env) {
  if (metadata_ == nullptr) return;
  // Closing runs after a failure too.
  PendingExceptionScope pending(env);
  jobject ref = metadata_;
  metadata_ = nullptr;
  DatabaseMetaData::detachAndDelete(env, ref);
  env->DeleteGlobalRef(ref);
}

jstring Connection::databaseNameFromMetaData(JNIEnv* env) {
  jobject md = getMetaData(env);
  if (md == nullptr) return nullptr;
  jstring name = nullptr;
  if (env->MonitorEnter(md) == JNI_OK) {
    auto* peer = static_cast<DatabaseMetaData*>(
        NOSE()->getNonNullNativeObj(env, md, DatabaseMetaData::kClassName));
    if (peer != nullptr) name = peer->getSQLInfoString(env, SQL_DATABASE_NAME);
    env->MonitorExit(md);
  }
  env->DeleteLocalRef(md);
  return name;
}

// The statements of a connection: making them, the list of live statements that close
// with the connection, and the release list that statements given up from any thread
// wait on until the next statement is made.
//
// Lock order: the connection's Java monitor, then the lists mutex, then a statement's
// monitor (close_active_statements). A statement's own close leaves its monitor before it
// enters the connection's, so the two never wait on each other.
#include <pthread.h>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/statement.h"
#if __has_include("jdbcodbc/c/prepared.h")
#include "jdbcodbc/c/prepared.h"
#define VQ_HAVE_PREPARED 1
#endif
#if __has_include("jdbcodbc/c/callable.h")
#include "jdbcodbc/c/callable.h"
#define VQ_HAVE_CALLABLE 1
#endif

// A list node. The reference is a global reference of the node's own: a statement that
// closes itself deletes its peer's reference while this node may still be read by the
// connection's thread.
struct Connection::JStatement : public c_utils_base {
  JStatement* next = nullptr;
  jobject ref = nullptr;
  StatementKind kind = StatementKind::kStatement;
};

namespace {

void LockMutex(a_ut_safe_pthread_mutex_t& m) {
  if (m.handle != nullptr) pthread_mutex_lock(m.handle);
}

void UnlockMutex(a_ut_safe_pthread_mutex_t& m) {
  if (m.handle != nullptr) pthread_mutex_unlock(m.handle);
}

}  // namespace

void Connection::lockLists() { LockMutex(listsMutex_); }
void Connection::unlockLists() { UnlockMutex(listsMutex_); }
void Connection::lockReleaseLists() { LockMutex(releaseMutex_); }
void Connection::unlockReleaseLists() { UnlockMutex(releaseMutex_); }

bool Connection::addStatement(JNIEnv* env, jobject stmt, StatementKind kind) {
  jobject ref = env->NewGlobalRef(stmt);
  if (ref == nullptr) {
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return false;
  }
  auto* node = new JStatement;
  node->ref = ref;
  node->kind = kind;
  lockLists();
  node->next = statements_;
  statements_ = node;
  unlockLists();
  return true;
}

void Connection::removeStatement(JNIEnv* env, jobject stmt) {
  JStatement* found = nullptr;
  lockLists();
  for (JStatement** link = &statements_; *link != nullptr; link = &(*link)->next) {
    if (env->IsSameObject((*link)->ref, stmt)) {
      found = *link;
      *link = found->next;
      break;
    }
  }
  unlockLists();
  if (found == nullptr) return;
  env->DeleteGlobalRef(found->ref);
  delete found;
}

void Connection::close_active_statements(JNIEnv* env) {
  lockLists();
  while (JStatement* node = statements_) {
    statements_ = node->next;
    if (node->ref != nullptr) {
      // Closing runs after a failure too; each statement's teardown must run.
      PendingExceptionScope pending(env);
      Statement::cleanup(env, node->ref, 0, 1);
      env->DeleteGlobalRef(node->ref);
    }
    delete node;
  }
  unlockLists();
}

void Connection::addRelease(JNIEnv* env, jobject stmt) {
  jobject ref = env->NewGlobalRef(stmt);
  if (ref == nullptr) return;  // the statement then closes with the connection
  auto* node = new JStatement;
  node->ref = ref;
  lockReleaseLists();
  node->next = released_;
  released_ = node;
  unlockReleaseLists();
}

jobject Connection::removeRelease() {
  lockReleaseLists();
  JStatement* node = released_;
  if (node != nullptr) released_ = node->next;
  unlockReleaseLists();
  if (node == nullptr) return nullptr;
  jobject ref = node->ref;
  delete node;
  return ref;
}

void Connection::releaseStatements(JNIEnv* env) {
  while (jobject ref = removeRelease()) {
    Statement::cleanup(env, ref, 1, 1);
    env->DeleteGlobalRef(ref);
  }
}

void Connection::cleanUpRelease(JNIEnv* env) {
  while (jobject ref = removeRelease()) env->DeleteGlobalRef(ref);
}

namespace {

// The steps every statement creation shares: the queued releases first, outside the
// peer-creation mutex (closing a statement enters its monitor, and a thread holding that
// monitor may be waiting for the mutex to hand over a result set); no type given means
// forward-only with the default concurrency, set up tolerantly; then the peer, its Java
// object under the mutex, and its node in the statement list. `make` builds the peer.
template <class Make>
jobject MakeStatement(JNIEnv* env, Connection* connection, jint type, jint concurrency,
                      Connection::StatementKind kind, Make&& make) {
  connection->releaseStatements(env);
  if (env->ExceptionCheck()) return nullptr;
  bool tolerant = false;
  if (type == -1) {
    type = kJdbcForwardOnly;
    concurrency = connection->defaultConcurrency();
    tolerant = true;
  }
  Statement* stmt = make(type, concurrency, tolerant);
  if (env->ExceptionCheck()) {
    Statement::discard(env, stmt);
    return nullptr;
  }
  NativeObj::getJobjMutex();
  jobject made = stmt->createJobj(env);
  NativeObj::giveJobjMutex();
  if (made == nullptr || env->ExceptionCheck() || !connection->addStatement(env, made, kind)) {
    Statement::discard(env, stmt);
    return nullptr;
  }
  return env->NewLocalRef(made);
}

}  // namespace

jobject Connection::createStatement(JNIEnv* env, jint type, jint concurrency) {
  return MakeStatement(env, this, type, concurrency, StatementKind::kStatement,
                       [&](jint t, jint c, bool tolerant) {
                         return new Statement(env, this, t, c, tolerant);
                       });
}

#ifdef VQ_HAVE_PREPARED
jobject Connection::prepareStatement(JNIEnv* env, jstring sql, bool isQuery, bool b, jint type,
                                     jint concurrency) {
  return MakeStatement(env, this, type, concurrency, StatementKind::kPrepared,
                       [&](jint t, jint c, bool tolerant) -> Statement* {
                         return new PreparedStatement(env, this, sql, isQuery ? 1 : 0, b ? 1 : 0,
                                                      t, c, tolerant);
                       });
}
#endif

#ifdef VQ_HAVE_CALLABLE
jobject Connection::prepareCall(JNIEnv* env, jstring sql, bool isQuery, bool b, jint type,
                                jint concurrency) {
  return MakeStatement(env, this, type, concurrency, StatementKind::kCallable,
                       [&](jint t, jint c, bool tolerant) -> Statement* {
                         return new CallableStatement(env, this, sql, isQuery ? 1 : 0, b ? 1 : 0,
                                                      t, c, tolerant);
                       });
}
#endif

// The framing of every ODBC call: the process tests (library finalised, forked child),
// the validity tests of the handle and its parent chain, the connection's mutex, and
// the clearing of diagnostics; plus EnvCritSect with its fork handlers.
//
// A refused call returns its code with no diagnostic and no lock held.
#include <pthread.h>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"

tagENV* g_env_list = nullptr;
a_ut_safe_pthread_mutex_t EnvCritSect = {nullptr};
std::atomic<int> odbc_lib_unloaded{1};

namespace {

// pthread_atfork handlers cannot be removed, so they stay registered for the life of the
// process and act only while EnvCritSect exists. (glibc drops them when the library is
// unloaded.)
bool g_fork_handlers_registered = false;

void ForkPrepare() {
  if (EnvCritSect.handle != nullptr) pthread_mutex_lock(EnvCritSect.handle);
}

void ForkRelease() {
  if (EnvCritSect.handle != nullptr) pthread_mutex_unlock(EnvCritSect.handle);
}

// -1 after finalisation or in a forked child, else 0.
SQLRETURN ProcessRefusal() {
  if (odbc_lib_unloaded.load() != 0 || UnixForkProtection_IsChild() != 0) return SQL_ERROR;
  return 0;
}

tagOBJECT* AsObject(SQLHANDLE h) { return static_cast<tagOBJECT*>(h); }

bool IsKind(const tagOBJECT* h, std::int32_t kind) { return h != nullptr && h->kind == kind; }

// The connection of a statement or descriptor whose chain is whole, else null.
tagDBC* ChainDbc(tagOBJECT* h) {
  tagOBJECT* dbc = h->parent;
  if (!IsKind(dbc, OBJ_DBC) || !IsKind(dbc->parent, OBJ_ENV)) return nullptr;
  return static_cast<tagDBC*>(dbc);
}

void LockDbc(tagDBC* dbc) { pthread_mutex_lock(dbc->mutex.handle); }
void UnlockDbc(tagDBC* dbc) { pthread_mutex_unlock(dbc->mutex.handle); }

// The tests of a statement or descriptor call; on success its connection is locked and
// returned in *dbc.
SQLRETURN LockOwner(SQLHANDLE handle, std::int32_t kind, tagDBC** dbc) {
  if (SQLRETURN refused = ProcessRefusal(); refused != 0) return refused;
  tagOBJECT* h = AsObject(handle);
  if (!IsKind(h, kind)) return SQL_INVALID_HANDLE;
  *dbc = ChainDbc(h);
  if (*dbc == nullptr) return SQL_INVALID_HANDLE;
  LockDbc(*dbc);
  return 0;
}

}  // namespace

// ---- EnvCritSect and the environment list ---------------------------------------------------

void EnterEnvCritSect() {
  if (EnvCritSect.handle != nullptr) pthread_mutex_lock(EnvCritSect.handle);
}

void LeaveEnvCritSect() {
  if (EnvCritSect.handle != nullptr) pthread_mutex_unlock(EnvCritSect.handle);
}

void InitializeEnvironments() { g_env_list = nullptr; }

void InitializeEnvironmentSemaphores() {
  if (EnvCritSect.handle == nullptr) ut_safe_pthread_mutex_init(&EnvCritSect, nullptr);
  if (!g_fork_handlers_registered) {
    g_fork_handlers_registered = pthread_atfork(ForkPrepare, ForkRelease, ForkRelease) == 0;
  }
}

void FiniEnvironmentSemaphores() { ut_safe_pthread_mutex_destroy(&EnvCritSect); }

void FiniEnvironments() {
  // The library is going away: environments the application left behind are freed with
  // whatever they still hold, children first.
  for (;;) {
    EnterEnvCritSect();
    tagENV* env = g_env_list;
    LeaveEnvCritSect();
    if (env == nullptr) break;
    while (env->first_child != nullptr) {
      auto* dbc = static_cast<tagDBC*>(env->first_child);
      DiscardConnection(dbc);
    }
    if (DoSQLFreeEnv(env) != SQL_SUCCESS) break;
  }
}

// ---- Clearing
// --------------------------------------------------------------------------------

void ClearError(tagOBJECT* h) {
  if (h->kind == OBJ_ENV) {
    EnterEnvCritSect();
    FreeDiagRecords(h);
    LeaveEnvCritSect();
    return;
  }
  if (tagDBC* dbc = OwningDbc(h); dbc != nullptr) dbc->err.sqlcode = 0;
  FreeDiagRecords(h);
}

// ---- Framing
// ---------------------------------------------------------------------------------

SQLRETURN Init_env(SQLHANDLE handle) {
  if (SQLRETURN refused = ProcessRefusal(); refused != 0) return refused;
  tagOBJECT* h = AsObject(handle);
  if (!IsKind(h, OBJ_ENV)) return SQL_INVALID_HANDLE;
  ClearError(h);
  h->retcode = SQL_SUCCESS;
  return 0;
}

SQLRETURN Init_dbc(SQLHANDLE handle) {
  if (SQLRETURN refused = ProcessRefusal(); refused != 0) return refused;
  tagOBJECT* h = AsObject(handle);
  if (!IsKind(h, OBJ_DBC) || !IsKind(h->parent, OBJ_ENV)) return SQL_INVALID_HANDLE;
  auto* dbc = static_cast<tagDBC*>(h);
  LockDbc(dbc);
  ClearError(h);
  h->retcode = SQL_SUCCESS;
  return 0;
}

SQLRETURN Init_stmt(SQLHANDLE handle) {
  tagDBC* dbc = nullptr;
  if (SQLRETURN refused = LockOwner(handle, OBJ_STMT, &dbc); refused != 0) return refused;
  auto* stmt = static_cast<tagSTMT*>(AsObject(handle));
  dbc->current_stmt.store(stmt);
  stmt->call_flags.fetch_or(kStmtInCall);
  ClearError(stmt);
  stmt->retcode = SQL_SUCCESS;
  return 0;
}

SQLRETURN Init_desc(SQLHANDLE handle) {
  tagDBC* dbc = nullptr;
  if (SQLRETURN refused = LockOwner(handle, OBJ_DESC, &dbc); refused != 0) return refused;
  tagOBJECT* h = AsObject(handle);
  ClearError(h);
  h->retcode = SQL_SUCCESS;
  return 0;
}

SQLRETURN Init_desc2(SQLHANDLE source, SQLHANDLE target) {
  if (SQLRETURN refused = ProcessRefusal(); refused != 0) return refused;
  tagOBJECT* dst = AsObject(target);
  if (!IsKind(dst, OBJ_DESC)) return SQL_INVALID_HANDLE;
  tagDBC* dbc = nullptr;
  if (SQLRETURN refused = LockOwner(source, OBJ_DESC, &dbc); refused != 0) return refused;
  tagOBJECT* src = AsObject(source);
  ClearError(src);
  ClearError(dst);
  src->retcode = SQL_SUCCESS;
  dst->retcode = SQL_SUCCESS;
  return 0;
}

SQLRETURN Init_object(SQLHANDLE handle, SQLSMALLINT kind) {
  tagOBJECT* h = AsObject(handle);
  if (h == nullptr || kind < OBJ_ENV || kind > OBJ_DESC || h->kind != kind) {
    return SQL_INVALID_HANDLE;
  }
  switch (kind) {
    case OBJ_ENV:
      EnterEnvCritSect();
      return 0;
    case OBJ_DBC:
      if (!IsKind(h->parent, OBJ_ENV)) return SQL_INVALID_HANDLE;
      LockDbc(static_cast<tagDBC*>(h));
      return 0;
    default: {
      tagDBC* dbc = ChainDbc(h);
      if (dbc == nullptr) return SQL_INVALID_HANDLE;
      LockDbc(dbc);
      return 0;
    }
  }
}

void Fini_dbc(SQLHANDLE handle) { UnlockDbc(static_cast<tagDBC*>(AsObject(handle))); }

void Fini_stmt(SQLHANDLE handle) {
  auto* stmt = static_cast<tagSTMT*>(AsObject(handle));
  stmt->call_flags.fetch_and(static_cast<std::uint8_t>(~kStmtInCall));
  UnlockDbc(static_cast<tagDBC*>(stmt->parent));
}

void Fini_desc(SQLHANDLE handle) { UnlockDbc(static_cast<tagDBC*>(AsObject(handle)->parent)); }

void Fini_desc2(SQLHANDLE source, SQLHANDLE /*target*/) { Fini_desc(source); }

void Fini_object(SQLHANDLE handle, SQLSMALLINT kind) {
  tagOBJECT* h = AsObject(handle);
  switch (kind) {
    case OBJ_ENV:
      LeaveEnvCritSect();
      break;
    case OBJ_DBC:
      UnlockDbc(static_cast<tagDBC*>(h));
      break;
    default:
      UnlockDbc(static_cast<tagDBC*>(h->parent));
      break;
  }
}

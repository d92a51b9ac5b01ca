// SQLEndTran and SQLTransact.
#include "odbc/transactions.h"

#include <sqlext.h>

#include <vector>

#include "odbc/diag_states.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"

namespace {

constexpr a_packed_sqlstate kStateHY012 = PackSQLState("HY012");
constexpr a_packed_sqlstate kStateS1012 = PackSQLState("S1012");

bool autocommit_on(tagDBC* dbc) {
  const tagOPTION* entry = FindOption(dbc, SQL_ATTR_AUTOCOMMIT, false);
  return entry == nullptr || entry->value != SQL_AUTOCOMMIT_OFF;
}

// Whether `dbc` is still a connection of `env` (checked under EnvCritSect).
bool still_child(tagENV* env, tagOBJECT* dbc) {
  EnterEnvCritSect();
  bool found = false;
  for (tagOBJECT* c = env->first_child; c != nullptr && !found; c = c->next_sibling) {
    found = c == dbc;
  }
  LeaveEnvCritSect();
  return found;
}

}  // namespace

SQLRETURN EndTranConnection(tagDBC* dbc, SQLSMALLINT completion) {
  // Only a connected handle has a transaction; one still browsing has no server session.
  if (dbc->state != kDbcConnected) return PostSQLState(dbc, kState08003, kState08003);
  std::int32_t sqlcode = 0;
  switch (completion) {
    case SQL_COMMIT:
      sqlcode = DBCommit(dbc);
      break;
    case SQL_ROLLBACK:
      sqlcode = autocommit_on(dbc) ? DBCommit(dbc) : DBRollback(dbc);
      break;
    default:
      return PostSQLState(dbc, kStateHY012, kStateS1012);
  }
  if (sqlcode < 0) return PostSQLError(dbc);
  dbc->cap_a &= static_cast<std::uint8_t>(~kCapInTransaction);
  return dbc->retcode;
}

SQLRETURN do_end_tran(SQLHANDLE dbc, SQLSMALLINT completion) {
  if (SQLRETURN refused = Init_dbc(dbc); refused != 0) return refused;
  SQLRETURN rc = SQL_ERROR;
  try {
    rc = EndTranConnection(static_cast<tagDBC*>(dbc), completion);
  } catch (...) {
    rc = SQL_ERROR;
  }
  Fini_dbc(dbc);
  return rc;
}

SQLRETURN EndTranEnvironment(tagENV* env, SQLSMALLINT completion) {
  // The connections as they are now, newest first; the list's lock is let go before the
  // first connection's call starts.
  std::vector<tagOBJECT*> connections;
  EnterEnvCritSect();
  for (tagOBJECT* c = env->first_child; c != nullptr; c = c->next_sibling) {
    connections.push_back(c);
  }
  LeaveEnvCritSect();
  if (connections.empty()) return SQL_SUCCESS;
  SQLRETURN last = SQL_SUCCESS;
  bool failed = false;
  int processed = 0;
  for (tagOBJECT* c : connections) {
    // A connection freed meanwhile is passed over (the application must not free
    // connections during the call; this only narrows the window).
    if (!still_child(env, c)) continue;
    last = do_end_tran(c, completion);
    ++processed;
    if (last == SQL_ERROR || last == SQL_INVALID_HANDLE) failed = true;
  }
  if (processed > 1 && failed) return SQL_SUCCESS_WITH_INFO;
  return last;
}

SQLRETURN DoSQLEndTran(SQLSMALLINT handle_type, SQLHANDLE handle, SQLSMALLINT completion) {
  if (handle_type == SQL_HANDLE_ENV) {
    return EndTranEnvironment(static_cast<tagENV*>(handle), completion);
  }
  return do_end_tran(handle, completion);
}

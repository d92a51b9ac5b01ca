// Ending transactions: SQLEndTran and SQLTransact on one connection or on every
// connection of an environment.
#ifndef VQ_ODBC_TRANSACTIONS_H
#define VQ_ODBC_TRANSACTIONS_H

#include <sql.h>

#include "odbc/handles.h"

// One connection, its mutex held by the caller: SQL_COMMIT commits; SQL_ROLLBACK rolls
// back, or commits when autocommit is on (every statement's work was reported committed
// already, so nothing remains that a rollback could take back); other types HY012. A
// connection that is not connected: 08003.
SQLRETURN EndTranConnection(tagDBC* dbc, SQLSMALLINT completion);
// One connection with its own framing (the connection's mutex taken and released); a
// handle that is not a connection: SQL_INVALID_HANDLE.
SQLRETURN do_end_tran(SQLHANDLE dbc, SQLSMALLINT completion);
// Every connection of the environment, newest first, each framed on its own; the
// environment's lock is never held while a connection's call runs. No connections: 0.
// The result is 1 when more than one connection was processed and one of them failed,
// else the last connection's result. The caller frames the environment.
SQLRETURN EndTranEnvironment(tagENV* env, SQLSMALLINT completion);
// SQLEndTran's implementation: an environment (handle type SQL_HANDLE_ENV, not framed
// here) or a connection (framed here).
SQLRETURN DoSQLEndTran(SQLSMALLINT handle_type, SQLHANDLE handle, SQLSMALLINT completion);

#endif  // VQ_ODBC_TRANSACTIONS_H

// SQLGetInfo: what the driver, and the server a connection reached, can do.
//
// Most answers are constants; a few follow the server (its version, whether it is the
// column-store server, the "quoted_identifier" option), the connection's behaviour
// attributes (MSApplications, VBRDO, Escape) or a query to the server (user, server,
// database and character-set names).
#ifndef VQ_ODBC_DRIVER_INFO_H
#define VQ_ODBC_DRIVER_INFO_H

#include <sql.h>
#include <sqlext.h>

struct tagDBC;

// Runs under the connection's mutex (the call framing holds it). SQL_ODBC_VER and
// SQL_DRIVER_ODBC_VER are answered on any connection; every other item needs a connected
// one (else 08003). An item the driver does not know: HY096. Texts go through
// ReturnString (truncation 01004, full length in bytes to *length_out); 16- and 32-bit
// values are written at their width with that width as the length; the handle items
// (SQL_DRIVER_HENV, _HDBC, _HSTMT, _HDESC, _HLIB) are pointer-sized. A null buffer
// receives nothing; the length is still reported. A failed server query posts the
// server's error and answers SQL_ERROR.
SQLRETURN DoSQLGetInfo(tagDBC* dbc, SQLUSMALLINT item, SQLPOINTER buffer,
                       SQLSMALLINT buffer_length, SQLSMALLINT* length_out);

#endif  // VQ_ODBC_DRIVER_INFO_H

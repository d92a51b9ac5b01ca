// Fetch, scroll and positioned operations: moving an open cursor through its result one
// rowset at a time (SQLFetch, SQLFetchScroll, SQLExtendedFetch), column data in pieces
// (SQLGetData), and the row operations of SQLSetPos and SQLBulkOperations.
//
// The server cursor is moved by the engine interface one block at a time; this layer
// decides each move, keeps track of where the server cursor stands relative to the
// application's rowset (tagSTMT::row_number, server_offset) and tells each row's outcome
// in the row status array. Row-level failures never stop a multi-row operation: the row
// gets its status and a diagnostic, and the call returns success with information.
//
// Every function runs under the connection's mutex (the call framing) and returns the
// statement's return code.
#ifndef VQ_ODBC_FETCH_H
#define VQ_ODBC_FETCH_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "odbc/handles.h"

// Bits of tagSTMT::fetch_flags.
constexpr std::uint8_t kFetchExtended = 0x01;          // read with SQLExtendedFetch
constexpr std::uint8_t kFetchByBookmarkUpdate = 0x04;  // an update by bookmark is under way
constexpr std::uint8_t kFetchRepositionPending = 0x08;  // server left on the rowset's last row
constexpr std::uint8_t kFetchUsedFetch = 0x10;         // SQLFetch read this cursor
constexpr std::uint8_t kFetchUsedScroll = 0x20;        // SQLFetchScroll read this cursor
constexpr std::uint8_t kFetchBulkUsed = 0x40;          // SQLBulkOperations ran since the fetch

// Callers of FetchRows (their API function numbers).
constexpr int kCallerFetch = SQL_API_SQLFETCH;              // 13
constexpr int kCallerFetchScroll = SQL_API_SQLFETCHSCROLL;  // 1021
constexpr int kCallerExtendedFetch = SQL_API_SQLEXTENDEDFETCH;  // 59

// Positioned operation of a bulk add (tagSTMT::pos_op).
constexpr std::uint16_t kPosBulkAdd = 103;

// Forgets what fetching knows of the cursor: called when a cursor opens or closes.
void ResetFetchState(tagSTMT* stmt);

SQLRETURN DoSQLFetch(tagSTMT* stmt);
SQLRETURN DoSQLFetchScroll(tagSTMT* stmt, SQLSMALLINT orientation, SQLLEN offset);
SQLRETURN DoSQLExtendedFetch(tagSTMT* stmt, SQLUSMALLINT orientation, SQLLEN offset,
                             SQLULEN* rows, SQLUSMALLINT* status);
// The common engine of the three: `rows_fetched` and `status` may be null; `caller` is one
// of kCaller*.
SQLRETURN FetchRows(tagSTMT* stmt, SQLUSMALLINT orientation, SQLLEN offset,
                    SQLULEN* rows_fetched, SQLUSMALLINT* status, SQLULEN rowset_size,
                    int caller);

SQLRETURN DoSQLGetData(tagSTMT* stmt, SQLUSMALLINT column, SQLSMALLINT c_type,
                       SQLPOINTER target, SQLLEN length, SQLLEN* indicator);

SQLRETURN DoSQLSetPos(tagSTMT* stmt, SQLSETPOSIROW row, SQLUSMALLINT operation,
                      SQLUSMALLINT lock);
SQLRETURN DoSQLBulkOperations(tagSTMT* stmt, SQLSMALLINT operation);

// The last step of an insert, positioned update or bulk add through the cursor, once the
// row values are converted: `rows` rows of the row-values list. Called by the parameter
// code when data at execution has been supplied for a set-pos row.
SQLRETURN ExecPosOp(tagSTMT* stmt, SQLLEN rows);
// The same for an update by bookmark.
SQLRETURN UpdateByBookmarkExec(tagSTMT* stmt);

// Carries a row operation of SQLSetPos or SQLBulkOperations on once the data at execution
// of its current row is complete (every value of the row converted): that row is done
// and the operation goes on with its next rows. SQL_NEED_DATA when another row wants
// data, else the operation's return code.
SQLRETURN ResumeRowOperation(tagSTMT* stmt);
// Ends a row operation waiting for data at execution (SQLCancel, or a row that failed):
// the row and any rows gathered with it are not sent; the cursor stays as it was.
void CancelRowOperation(tagSTMT* stmt);

// Makes the fetch list fit the ARD for a rowset of `rowset_size` rows (rebuilt when the
// ARD changed, when it was built for row values, or when it is too small; bound pointers
// rebased when the bind offset changed). False on failure (a state may be posted).
bool SetupARDAndFetchDescForFetch(tagSTMT* stmt, SQLULEN rowset_size);

// Writes `status` for rowset row `row` (from 0) into the status array in use: the one of
// SQLExtendedFetch in that mode, else the IRD's. Rows beyond the array are ignored.
void SetRowStatus(tagSTMT* stmt, SQLULEN row, SQLUSMALLINT status);
// Writes the bookmarks of rowset rows [first, end) into the ARD's bookmark buffer (when
// bound and SQL_USE_BOOKMARKS is on): from a fetch, or for rows just inserted.
void SetRowBookmarks(tagSTMT* stmt, SQLULEN bind_size, SQLULEN first, SQLULEN end,
                     bool from_insert);

#endif  // VQ_ODBC_FETCH_H

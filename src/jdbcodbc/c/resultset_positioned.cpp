// Positioned operations of an updatable result set and its insert row. updateRow,
// deleteRow, refreshRow and cancelRowUpdates are SQLSetPos on the current row of the
// rowset, which sends (or re-reads) that row's bound buffers; insertRow is
// SQLBulkOperations(SQL_ADD) of element 0 of the buffers while the rowset is one row.
//
// The insert row borrows element 0 of every bound buffer, so the rowset in the buffers
// is no longer what the driver's cursor holds: leaving the insert row always re-fetches.
#include <climits>

#include "jdbcodbc/c/resultset.h"
#include "jdbcodbc/c/statement.h"

namespace {

// savedRow when the insert row was entered after the last row. Row numbers are clamped
// to INT32_MIN + 1 and above, so no row has this number.
constexpr std::int32_t kSavedAfterLast = INT32_MIN;

// Late-bound values cached for a row hold what the driver had before a refresh.
void DropCachedLongValues(ResultSet* rs) {
  if (rs->columns == nullptr) return;
  for (SQLSMALLINT i = 0; i < rs->columnCount; ++i) {
    if (rs->columns[i] != nullptr && rs->columns[i]->lateBound) rs->columns[i]->cachedRow = 0;
  }
}

// SQLSetPos on the current row. The driver reports the rows an operation touched (0
// or 1) through the rows-fetched pointer, which here counts the rows of the rowset in
// the buffers: that count must survive, or the cursor would lose its rowset.
bool SetPosOnCurrentRow(JNIEnv* env, ResultSet* rs, SQLUSMALLINT operation) {
  const SQLULEN fetched = rs->rowsFetched;
  const bool ok = rs->setInSetPos(env, rs->rowInRowset, operation);
  rs->rowsFetched = fetched;
  return ok;
}

// updateRow and deleteRow: `operation` on a valid current row, its outcome in `resultBit`.
// On the insert row they are refused: element 0 holds the row being built, and sent to
// the driver it would change the cursor's row there.
void ChangeCurrentRow(JNIEnv* env, ResultSet* rs, SQLUSMALLINT operation, std::uint8_t resultBit) {
  if (rs->onInsertRow()) {
    NOSE()->raiseError(env, "NOT_ON_ROW");
    return;
  }
  if (!rs->isCurrentRowValid()) return;
  rs->setFlag(resultBit, SetPosOnCurrentRow(env, rs, operation));
}

}  // namespace

void ResultSet::updateRow(JNIEnv* env) { ChangeCurrentRow(env, this, SQL_UPDATE, kRowUpdated); }

void ResultSet::deleteRow(JNIEnv* env) { ChangeCurrentRow(env, this, SQL_DELETE, kRowDeleted); }

void ResultSet::refreshRow(JNIEnv* env) {
  if (onInsertRow()) return;
  if (SetPosOnCurrentRow(env, this, SQL_REFRESH)) DropCachedLongValues(this);
  lastGetDataColumn = 0;
}

void ResultSet::cancelRowUpdates(JNIEnv* env) {
  if (onInsertRow() || !isCurrentRowValid()) return;
  if (SetPosOnCurrentRow(env, this, SQL_REFRESH)) DropCachedLongValues(this);
}

void ResultSet::insertRow(JNIEnv* env) {
  if (!onInsertRow()) return;
  const SQLRETURN rc = SQLBulkOperations(handle(), SQL_ADD);
  setFlag(kRowInserted, !sqlError(env, rc, SQL_HANDLE_STMT, handle()));
  // The driver positions no row after a bulk operation.
  positionedRow = -2;
}

void ResultSet::moveToInsertRow(JNIEnv* env) {
  if (onInsertRow()) {
    NOSE()->raiseError(env, "ALREADY_ON_INSERT");
    return;
  }
  SQLULEN n = 1;
  if (!changeCurrentRowsetSize(env, &n)) return;
  setFlag(kOnInsertRow, true);
  // rowsetSize keeps the size to restore.
  if (isBeforeFirstRow()) {
    savedRow = 0;
  } else if (isAfterLastRow()) {
    savedRow = kSavedAfterLast;
  } else {
    savedRow = rowBase + rowInRowset;
  }
  rowInRowset = 0;
  rowBase = 0;
  lastGetDataColumn = 0;
  for (SQLSMALLINT i = 0; i < columnCount; ++i) {
    Column* c = columns[i];
    if (c != nullptr && !c->lateBound) c->indicators[0] = SQL_NULL_DATA;
  }
}

bool ResultSet::moveToCurrentRow(JNIEnv* env) {
  // Off the insert row there is nothing to go back to: the cursor stays where it is.
  if (!onInsertRow()) return false;
  SQLULEN n = rowsetSize;
  if (!changeCurrentRowsetSize(env, &n)) return false;
  rowsetSize = static_cast<std::uint32_t>(n);
  setFlag(kOnInsertRow, false);
  // Element 0 holds the insert row, so the rowset in the buffers is gone: the move below
  // fetches, and should it fail no later move reads the insert row as a row of the cursor.
  rowInRowset = -1;
  rowBase = 1;
  rowsFetched = 0;
  const std::int32_t target = savedRow;
  savedRow = -1;
  if (target == 0) {
    beforeFirst(env);
    return false;
  }
  if (target == kSavedAfterLast) {
    afterLast(env);
    return false;
  }
  return absolute(env, target);
}

// Moving the cursor of a result set: rowsets fetched with SQLFetchScroll into the
// column buffers, the position inside the rowset, row numbers from the start (positive)
// or from the end (negative), the end of the data, and the rowset size.
//
// States: before the first row (rowInRowset -1), on a row (0 <= rowInRowset <
// fetchedRows()), after the last row (rowInRowset >= fetchedRows()); the insert row is
// entered elsewhere and refuses every move.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/resultset.h"
#include "jdbcodbc/c/statement.h"

namespace {

// Moves are refused on the insert row.
bool RefusedOnInsertRow(JNIEnv* env, const ResultSet& rs) {
  if (!rs.onInsertRow()) return false;
  NOSE()->raiseError(env, "NO_SCROLL_ON_INSERT");
  return true;
}

std::int32_t ClampRow(std::int64_t row) {
  if (row > INT32_MAX) return INT32_MAX;
  if (row < INT32_MIN + 1) return INT32_MIN + 1;
  return static_cast<std::int32_t>(row);
}

}  // namespace

SQLRETURN ResultSet::fetchScroll(JNIEnv* env, SQLSMALLINT orientation, SQLLEN offset) {
  lastGetDataColumn = 0;
  const SQLULEN before = rowsFetched;
  const SQLRETURN rc = SQLFetchScroll(handle(), orientation, offset);
  if (connectionClosed()) {
    if (!env->ExceptionCheck()) {
      jstring name = env->NewStringUTF("ResultSet");
      if (name != nullptr) {
        NOSE()->raiseError(env, "NATIVE_ACCESS_ERROR", 1, name);
        env->DeleteLocalRef(name);
      }
    }
    return -1;
  }
  // A refused move (a scroll on a forward-only cursor, say) fetched nothing: the driver
  // zeroes its count all the same, but the buffers still hold the rowset the position
  // refers to.
  if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) rowsFetched = before;
  const std::int32_t fetched = fetchedRows();
  if (rc == SQL_SUCCESS_WITH_INFO &&
      (orientation == SQL_FETCH_NEXT || orientation == SQL_FETCH_PRIOR) && fetched > 0) {
    bool unusable = false;
    for (std::int32_t i = 0; i < fetched && !unusable; ++i)
      unusable = !IsUsableRowStatus(rowStatus[i]);
    if (unusable) {
      // The row concerned fails when the cursor reaches it.
      positionedRow = 0;
      requestedRows_ = rowsetSize;
      return SQL_SUCCESS;
    }
  }
  if (sqlError(env, rc, SQL_HANDLE_STMT, handle())) return rc;
  positionedRow = 0;
  requestedRows_ = rowsetSize;
  return rc;
}

bool ResultSet::rowCheck(JNIEnv* env) {
  if (IsUsableRowStatus(rowStatus[rowInRowset])) return true;
  sqlError(env, SQL_ERROR, SQL_HANDLE_STMT, handle());
  return false;
}

bool ResultSet::next(JNIEnv* env) {
  if (RefusedOnInsertRow(env, *this)) return false;
  if (isAfterLastRow()) return false;
  rowInRowset += 1;
  lastGetDataColumn = 0;
  const std::int32_t fetched = fetchedRows();
  if (rowInRowset < fetched) return rowCheck(env);
  // A rowset shorter than the fetch asked for holds the last rows: no fetch is made.
  if (fetched > 0 && static_cast<std::uint32_t>(fetched) < requestedRows_) return false;
  const std::int32_t rowsBefore = rowInRowset;  // the rows of the rowset just left
  const SQLRETURN rc = fetchScroll(env, SQL_FETCH_NEXT, 0);
  if (rc < 0) return false;
  if (rc == SQL_NO_DATA) {
    rowInRowset = fetchedRows();
    return false;
  }
  if (rowsBefore > 0) {
    // The new rowset follows the rows of the old one, however many the rowset size
    // says now.
    rowBase = ClampRow(static_cast<std::int64_t>(rowBase) + rowsBefore);
    rowInRowset = 0;
  }
  if (fetchedRows() < 1) {
    rowInRowset = fetchedRows();
    return false;
  }
  return rowCheck(env);
}

bool ResultSet::previous(JNIEnv* env) {
  if (RefusedOnInsertRow(env, *this)) return false;
  if (isBeforeFirstRow()) return false;
  if (isAfterLastRow()) {
    if (fetchedRows() > 0) {
      rowInRowset = fetchedRows() - 1;
      lastGetDataColumn = 0;
      return rowCheck(env);
    }
    // The data ran out on a fetch and the rowset is empty: the last rows, from the end.
    return last(env);
  }
  if (rowBase + rowInRowset == 1) return false;
  if (rowInRowset > 0) {
    rowInRowset -= 1;
    lastGetDataColumn = 0;
    return rowCheck(env);
  }
  const std::int32_t b = rowBase;
  if (b >= 2 && b <= static_cast<std::int64_t>(rowsetSize)) {
    // A prior rowset would overlap the first row, and the driver answers it with the
    // first rowset: fetch that one and step to the row before the old rowset.
    if (absolute(env, 1)) {
      rowInRowset = b - 2;
      lastGetDataColumn = 0;
      return true;
    }
    if (env->ExceptionCheck()) return false;
  }
  const SQLRETURN rc = fetchScroll(env, SQL_FETCH_PRIOR, 0);
  if (rc < 0) return false;
  if ((rc == SQL_NO_DATA || fetchedRows() < 1) && b < 0) {
    // Counted from the end, fewer rows than a rowset lie before this one: fetch the
    // rowset that starts at the row before, by its number from the end.
    const SQLRETURN back = fetchScroll(env, SQL_FETCH_ABSOLUTE, static_cast<SQLLEN>(b) - 1);
    if (back < 0) return false;
    if (back != SQL_NO_DATA && fetchedRows() > 0) {
      rowBase = b - 1;
      rowInRowset = 0;
      return rowCheck(env);
    }
  }
  if (rc == SQL_NO_DATA || fetchedRows() < 1) {
    // Nothing before the rowset: it began at the first row, which the cursor was on
    // (counted from the end, so its number did not tell). The cursor stays there, as
    // it does on row 1 counted from the start; the driver's cursor is brought back.
    rowInRowset = -1;
    rowBase = 1;
    if (fetchScroll(env, SQL_FETCH_ABSOLUTE, 1) >= 0 && fetchedRows() > 0) rowInRowset = 0;
    return false;
  }
  rowBase = ClampRow(static_cast<std::int64_t>(rowBase) - rowsetSize);
  rowInRowset = fetchedRows() - 1;
  return rowCheck(env);
}

std::int32_t ResultSet::inSetIndex(std::int32_t row) const {
  if (rowInRowset == -1) return -1;
  const std::int64_t d = static_cast<std::int64_t>(row) - rowBase;
  return d >= 0 && d < fetchedRows() ? static_cast<std::int32_t>(d) : -1;
}

bool ResultSet::absolute(JNIEnv* env, std::int32_t row) {
  if (RefusedOnInsertRow(env, *this)) return false;
  // Row 0 names no row: the position stays as it is.
  if (row == 0) return false;
  const std::int32_t i = inSetIndex(row);
  if (i >= 0) {
    if (i != rowInRowset) {
      rowInRowset = i;
      lastGetDataColumn = 0;
    }
    return fetchedRows() > 0;
  }
  const SQLRETURN rc = fetchScroll(env, SQL_FETCH_ABSOLUTE, row);
  if (rc < 0) return false;
  if (rc == SQL_NO_DATA || fetchedRows() < 1) {
    // The driver's cursor went past the end (a row number from the start) or before the
    // start (from the end), and the rowset is empty: so is the position.
    if (row > 0) {
      rowInRowset = fetchedRows();
    } else {
      rowInRowset = -1;
      rowBase = 1;
    }
    return false;
  }
  rowBase = row;
  rowInRowset = 0;
  return true;
}

bool ResultSet::relative(JNIEnv* env, std::int32_t rows) {
  if (RefusedOnInsertRow(env, *this)) return false;
  if (isBeforeFirstRow() || isAfterLastRow()) return false;
  if (rows == 0) return absolute(env, rowBase + rowInRowset);
  const std::int64_t t = static_cast<std::int64_t>(rowInRowset) + rows;
  const std::int32_t fetched = fetchedRows();
  if (t >= 0 && t < fetched) {
    rowInRowset = static_cast<std::int32_t>(t);
    lastGetDataColumn = 0;
    return true;
  }
  if (t >= fetched && static_cast<std::uint32_t>(fetched) < requestedRows_) {
    // Past the end of the data.
    rowInRowset = fetched;
    lastGetDataColumn = 0;
    return false;
  }
  const std::int64_t target = static_cast<std::int64_t>(rowBase) + rowInRowset + rows;
  // A target across the start or the end of the numbering names no row of the other
  // kind: from the start, row 0 and below lie before the first row; from the end, row
  // 0 and above lie after the last.
  if (rowBase > 0 && target < 1) {
    beforeFirst(env);
    return false;
  }
  if (rowBase < 0 && target >= 0) {
    afterLast(env);
    return false;
  }
  return absolute(env, ClampRow(target));
}

void ResultSet::beforeFirst(JNIEnv* env) {
  if (RefusedOnInsertRow(env, *this)) return;
  if (fetchScroll(env, SQL_FETCH_FIRST, 0) >= 0) {
    rowInRowset = -1;
    rowBase = 1;
  }
}

void ResultSet::afterLast(JNIEnv* env) {
  if (RefusedOnInsertRow(env, *this)) return;
  if (fetchScroll(env, SQL_FETCH_LAST, 0) >= 0) {
    rowInRowset = fetchedRows();
    rowBase = -fetchedRows();
  }
}

bool ResultSet::last(JNIEnv* env) {
  if (RefusedOnInsertRow(env, *this)) return false;
  if (fetchScroll(env, SQL_FETCH_LAST, 0) < 0) return false;
  const std::int32_t fetched = fetchedRows();
  if (fetched < 1) {
    rowInRowset = -1;  // an empty result: before the first row
    rowBase = 1;
    return false;
  }
  rowInRowset = fetched - 1;
  rowBase = -fetched;
  return true;
}

bool ResultSet::isLast(JNIEnv* env) {
  if (onInsertRow() || isBeforeFirstRow() || isAfterLastRow()) return false;
  if (rowInRowset + 1 != fetchedRows()) return false;
  if (forwardOnly()) {
    NOSE()->raiseError(env, "ISLAST_NOT_AVAILABLE");
    return false;
  }
  const std::int32_t r = rowBase + rowInRowset;
  if (next(env)) {
    relative(env, -1);
    return false;
  }
  if (env->ExceptionCheck()) return false;
  if (fetchedRows() < 1 && rowBase >= 0 && rowBase <= 1) return false;
  if (r > 0)
    absolute(env, r);
  else
    last(env);
  return true;
}

bool ResultSet::changeCurrentRowsetSize(JNIEnv* env, SQLULEN* rows) {
  if ((flags & kSingleRowRowset) != 0 && *rows >= 2) *rows = 1;
  const SQLULEN asked = *rows;
  if (!statement->setUintAttr(env, SQL_ATTR_ROW_ARRAY_SIZE, rows, true)) return false;
  // The size read back when the driver did not take the one asked for: the buffers are
  // made for (or already hold) the size asked, so a larger or unknown one falls back to
  // a single row.
  if (*rows == 0 || *rows > asked) {
    *rows = 1;
    if (!statement->setUintAttr(env, SQL_ATTR_ROW_ARRAY_SIZE, static_cast<SQLULEN>(1)))
      return false;
  }
  return true;
}

bool ResultSet::setInSetPos(JNIEnv* env, long row, SQLUSMALLINT operation) {
  if (operation == SQL_POSITION && row == positionedRow) return true;
  // Row -1 (before the first row) is SQLSetPos's row 0: every row of the rowset.
  if (row < -1 || row >= static_cast<long>(rowsetCapacity)) return false;
  const SQLRETURN rc = SQLSetPos(handle(), static_cast<SQLSETPOSIROW>(static_cast<std::uint16_t>(row + 1)),
                                 operation, SQL_LOCK_NO_CHANGE);
  if (sqlError(env, rc, SQL_HANDLE_STMT, handle())) return false;
  positionedRow = static_cast<std::int32_t>(row);
  return true;
}

void ResultSet::setFetchSize(JNIEnv* env, jint rows) {
  if (rows == 0) {
    setFlag(kDefaultFetchSize, true);
    return;
  }
  const jint maxRows = statement->getMaxRows(env);
  if (env->ExceptionCheck()) return;
  if (rows < 0 || (maxRows > 0 && rows > maxRows)) {
    if (!env->ExceptionCheck()) {
      char text[16];
      std::snprintf(text, sizeof text, "%d", static_cast<int>(rows));
      jstring arg = env->NewStringUTF(text);
      if (arg != nullptr) {
        NOSE()->raiseError(env, "BAD_FETCH_SIZE", 1, arg);
        env->DeleteLocalRef(arg);
      }
    }
    return;
  }
  SQLULEN n = std::min<SQLULEN>(static_cast<SQLULEN>(rows), rowsetCapacity);
  if (onInsertRow()) {
    // The insert row is a rowset of one row: a larger one would make insertRow add the
    // cursor's rows still in the other elements. moveToCurrentRow sets this size.
    rowsetSize = static_cast<std::uint32_t>(n);
    return;
  }
  if (!changeCurrentRowsetSize(env, &n)) return;
  rowsetSize = static_cast<std::uint32_t>(n);
  // The cursor keeps its position on every cursor type: the rowset in the buffers stays
  // valid, the new size applies from the next fetch, and the moves count rows by what
  // each fetch returned.
}

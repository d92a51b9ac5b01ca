// The result-set peer: construction over a statement's open cursor, the columns and
// their type table, the label index behind findColumn, the cursor name and closing.
// Navigation is in resultset_navigation.cpp.
#include "jdbcodbc/c/resultset.h"

#include <cstdio>
#include <limits>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/odbcw.h"
#include "jdbcodbc/c/statement.h"

namespace {

constexpr char kClassName[] = "ResultSet";
constexpr SQLSMALLINT kCursorNameUnits = 1024;  // the first read's capacity, terminator apart

// Raises `key` with one argument given as text (nothing when an exception is pending).
void RaiseWithText(JNIEnv* env, const char* key, const char* text) {
  if (env->ExceptionCheck()) return;
  jstring arg = env->NewStringUTF(text);
  if (arg == nullptr) return;
  NOSE()->raiseError(env, key, 1, arg);
  env->DeleteLocalRef(arg);
}

}  // namespace

// ---- Type table -----------------------------------------------------------------------

bool TypeDependsOnSign(SQLLEN sqlType) {
  return sqlType == SQL_TINYINT || sqlType == SQL_SMALLINT || sqlType == SQL_INTEGER ||
         sqlType == SQL_BIGINT;
}

bool TypeDependsOnScale(SQLLEN sqlType) {
  return sqlType == SQL_NUMERIC || sqlType == SQL_DECIMAL;
}

bool ChooseColumnType(SQLLEN sqlType, bool isUnsigned, SQLLEN precision, SQLLEN scale,
                      ColumnTypeChoice* out) {
  ColumnTypeChoice c;
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
      c.cType = SQL_C_WCHAR;  // sized from the octet length
      break;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      c.cType = SQL_C_WCHAR;
      c.lateBound = true;
      break;
    case SQL_BINARY:
    case SQL_VARBINARY:
      c.cType = SQL_C_BINARY;
      break;
    case SQL_GUID:
      c.cType = SQL_C_BINARY;
      c.isGuid = true;
      break;
    case SQL_LONGVARBINARY:
      c.cType = SQL_C_BINARY;
      c.lateBound = true;
      c.longBinary = true;
      break;
    case SQL_BIT:
      c.cType = SQL_C_BIT;
      c.elementSize = 1;
      break;
    case SQL_TINYINT:
      c.cType = isUnsigned ? SQL_C_SSHORT : SQL_C_STINYINT;
      c.elementSize = isUnsigned ? 2 : 1;
      break;
    case SQL_SMALLINT:
      c.cType = isUnsigned ? SQL_C_SLONG : SQL_C_SSHORT;
      c.elementSize = isUnsigned ? 4 : 2;
      break;
    case SQL_INTEGER:
      c.cType = isUnsigned ? SQL_C_SBIGINT : SQL_C_SLONG;
      c.elementSize = isUnsigned ? 8 : 4;
      break;
    case SQL_BIGINT:
      c.cType = isUnsigned ? kCTypeNumericText : SQL_C_SBIGINT;
      c.elementSize = isUnsigned ? 23 : 8;
      break;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      if (scale == 0 && precision <= 9) {
        c.cType = SQL_C_SLONG;
        c.elementSize = 4;
      } else if (scale == 0 && precision <= 18) {
        c.cType = SQL_C_SBIGINT;
        c.elementSize = 8;
      } else {
        // Sign, point and terminator around the digits; a nonsensical precision from the
        // driver still gets room for the terminator.
        c.cType = kCTypeNumericText;
        c.elementSize = (precision > 0 && precision < 10000 ? precision : 0) + 3;
      }
      break;
    case SQL_FLOAT:
    case SQL_REAL:
      c.cType = SQL_C_FLOAT;
      c.elementSize = 4;
      break;
    case SQL_DOUBLE:
      c.cType = SQL_C_DOUBLE;
      c.elementSize = 8;
      break;
    case SQL_DATE:
    case SQL_TYPE_DATE:
      c.cType = SQL_C_TYPE_DATE;
      c.elementSize = 6;
      break;
    case SQL_TIME:
    case SQL_TYPE_TIME:
      c.cType = SQL_C_TYPE_TIME;
      c.elementSize = 6;
      break;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP:
      c.cType = SQL_C_TYPE_TIMESTAMP;
      c.elementSize = 16;
      break;
    default:
      return false;
  }
  *out = c;
  return true;
}

SQLLEN AdjustOctetLength(SQLLEN sqlType, SQLLEN octetLength) {
  constexpr SQLLEN kMax = std::numeric_limits<SQLLEN>::max() / 4;
  if (octetLength < 0) octetLength = 0;
  if (octetLength > kMax) return 0;
  SQLLEN size = octetLength;
  if (sqlType == SQL_CHAR || sqlType == SQL_VARCHAR)
    size = octetLength * 2 + 2;  // each narrow character becomes one UTF-16 unit
  else if (sqlType == SQL_WCHAR || sqlType == SQL_WVARCHAR)
    size = octetLength + 2;
  return size == 0 ? 1 : size;
}

int CompareLabels(const jchar* a, std::int32_t aLength, const jchar* b, std::int32_t bLength) {
  return compareStringNIW(reinterpret_cast<const SQLWCHAR*>(a), aLength,
                          reinterpret_cast<const SQLWCHAR*>(b), bLength);
}

// ---- Column ----------------------------------------------------------------------------

Column::Column(JNIEnv* env, ResultSet* owner, unsigned short index)
    : resultSet(owner), columnNumber(static_cast<SQLUSMALLINT>(index + 1)) {
  Statement* stmt = owner->statement;
  SQLLEN sqlType = 0;
  if (!stmt->getColNumAttr(env, SQL_DESC_CONCISE_TYPE, columnNumber, &sqlType)) return;
  SQLLEN isUnsigned = 0;
  SQLLEN precision = 0;
  SQLLEN scale = 0;
  if (TypeDependsOnSign(sqlType) &&
      !stmt->getColNumAttr(env, SQL_DESC_UNSIGNED, columnNumber, &isUnsigned))
    return;
  if (TypeDependsOnScale(sqlType) &&
      (!stmt->getColNumAttr(env, SQL_DESC_PRECISION, columnNumber, &precision) ||
       !stmt->getColNumAttr(env, SQL_DESC_SCALE, columnNumber, &scale)))
    return;
  ColumnTypeChoice choice;
  if (!ChooseColumnType(sqlType, isUnsigned == SQL_TRUE, precision, scale, &choice)) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(sqlType));
    RaiseWithText(env, "UNSUPPORTED_SQL_TYPE", text);
    return;
  }
  cType = choice.cType;
  elementSize = choice.elementSize;
  isGuid = choice.isGuid ? 1 : 0;
  if (choice.longBinary) owner->hasLongBinary = 1;

  const bool anyColumn =
      (owner->getNConnection()->flags() & Connection::kGetDataAnyColumn) != 0;
  if (owner->lateBindingStarted != 0 || choice.lateBound) {
    // Without SQL_GD_ANY_COLUMN the driver reads unbound columns only after the last
    // bound one, so every column after a late-bound one is late-bound as well.
    if (owner->lateBindingStarted == 0 && !anyColumn) owner->lateBindingStarted = 1;
    lateBound = 1;
    elementSize = 0;
    indicators = static_cast<SQLLEN*>(NativeWarnObj::alloc(env, sizeof(SQLLEN)));
    return;
  }

  if (elementSize == 0) {
    SQLLEN octets = 0;
    if (!stmt->getColNumAttr(env, SQL_DESC_OCTET_LENGTH, columnNumber, &octets)) return;
    elementSize = AdjustOctetLength(sqlType, octets);
  }
  const std::size_t rows = owner->rowsetCapacity;
  const std::size_t element = static_cast<std::size_t>(elementSize);
  if (element == 0 || element > std::numeric_limits<std::size_t>::max() / (rows ? rows : 1)) {
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return;
  }
  data = NativeWarnObj::alloc(env, rows * element);
  indicators = static_cast<SQLLEN*>(NativeWarnObj::alloc(env, rows * sizeof(SQLLEN)));
  if (data == nullptr || indicators == nullptr) return;  // OUT_OF_MEMORY is pending
  if (bind(env)) owner->lastBoundColumn = static_cast<SQLSMALLINT>(columnNumber);
}

Column::~Column() {
  NativeWarnObj::free(name);
  NativeWarnObj::free(data);
  NativeWarnObj::free(indicators);
}

bool Column::bind(JNIEnv* env) {
  const SQLSMALLINT boundType = cType == kCTypeNumericText ? SQL_C_CHAR : cType;
  const SQLRETURN rc =
      SQLBindCol(resultSet->handle(), columnNumber, boundType, data, elementSize, indicators);
  return !resultSet->sqlError(env, rc, SQL_HANDLE_STMT, resultSet->handle());
}

SQLLEN Column::indicator() const {
  const SQLLEN* at = indicatorAddr();
  return at != nullptr ? *at : SQL_NULL_DATA;
}

SQLLEN* Column::indicatorAddr() const {
  if (indicators == nullptr) return nullptr;
  if (lateBound != 0) return indicators;
  const std::int32_t row = resultSet->rowInRowset;
  if (row < 0 || static_cast<std::uint32_t>(row) >= resultSet->rowsetCapacity) return nullptr;
  return indicators + row;
}

bool Column::isNull(long row) const {
  if (indicators == nullptr) return true;
  if (lateBound != 0) return indicators[0] == SQL_NULL_DATA;
  if (row < 0 || static_cast<unsigned long>(row) >= resultSet->rowsetCapacity) return true;
  return indicators[row] == SQL_NULL_DATA;
}

bool Column::fillName(JNIEnv* env) {
  char* buffer = reinterpret_cast<char*>(name);
  SQLLEN size = 0;
  SQLSMALLINT length = 0;
  name = nullptr;
  nameLength = 0;
  NativeWarnObj::free(buffer);
  buffer = nullptr;
  if (!resultSet->statement->getColStrAttr(env, SQL_DESC_NAME, columnNumber, &buffer, &size,
                                           &length)) {
    NativeWarnObj::free(buffer);
    return false;
  }
  name = reinterpret_cast<jchar*>(buffer);
  // The length counts the terminator; never trust it past the buffer.
  SQLLEN units = length / 2 - 1;
  if (units > size / 2 - 1) units = size / 2 - 1;
  nameLength = units > 0 ? static_cast<std::int32_t>(units) : 0;
  return true;
}

// ---- ResultSet -------------------------------------------------------------------------

ResultSet::ResultSet(JNIEnv* env, Statement* owner) : statement(owner) {
  if (owner->getJobj() != nullptr) {
    statementRef = env->NewGlobalRef(owner->getJobj());
    if (statementRef == nullptr) {
      NOSE()->raiseError(env, "OUT_OF_MEMORY");
      return;
    }
  }
  construct(env);
}

ResultSet::~ResultSet() {
  if (columns != nullptr) {
    for (SQLSMALLINT i = 0; i < columnCount; ++i) delete columns[i];
  }
  NativeWarnObj::free(columns);
  NativeWarnObj::free(sortedColumns);
  NativeWarnObj::free(rowStatus);
}

SQLHSTMT ResultSet::handle() const { return statement->handle(); }

bool ResultSet::setStmtAttr(JNIEnv* env, SQLINTEGER attribute, SQLPOINTER value) {
  const SQLRETURN rc = SQLSetStmtAttrW(handle(), attribute, value, 0);
  return !sqlError(env, rc, SQL_HANDLE_STMT, handle());
}

bool ResultSet::construct(JNIEnv* env) {
  SQLSMALLINT count = 0;
  if (!statement->getNumResultCols(env, &count)) return false;
  if (count <= 0) {
    NOSE()->raiseError(env, "NO_RESULT_COLUMN");
    return false;
  }
  if (!setStmtAttr(env, SQL_ATTR_ROW_BIND_TYPE,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_BIND_BY_COLUMN))) ||
      !setStmtAttr(env, SQL_ATTR_ROWS_FETCHED_PTR, &rowsFetched))
    return false;

  // A fetch size of 0 means the connection's default rowset size: no rowset is empty.
  jint fetch = statement->fetchSize();
  if (fetch <= 0) fetch = getNConnection()->defaultRowsetSize();
  SQLULEN n = fetch > 0 ? static_cast<SQLULEN>(fetch) : 1;
  if (!changeCurrentRowsetSize(env, &n)) return false;
  rowsetCapacity = rowsetSize = static_cast<std::uint32_t>(n);

  rowStatus = static_cast<SQLUSMALLINT*>(alloc(env, rowsetCapacity * sizeof(SQLUSMALLINT)));
  if (rowStatus == nullptr || !setStmtAttr(env, SQL_ATTR_ROW_STATUS_PTR, rowStatus))
    return false;

  columns = static_cast<Column**>(alloc(env, static_cast<std::size_t>(count) * sizeof(Column*)));
  if (columns == nullptr) return false;
  columnCount = count;
  const bool blockReads = (getNConnection()->flags() & Connection::kGetDataBlock) != 0;
  for (SQLSMALLINT i = 0; i < columnCount; ++i) {
    columns[i] = new Column(env, this, static_cast<unsigned short>(i));
    // A late-bound column is read with SQLGetData on one positioned row; where the
    // driver cannot do that inside a block, the rowset holds one row.
    if (columns[i]->lateBound != 0 &&
        (forwardOnly() || !blockReads || hasLongBinary != 0))
      setFlag(kSingleRowRowset, true);
  }
  if (env->ExceptionCheck()) return false;
  if ((flags & kSingleRowRowset) != 0) {
    n = 1;
    if (!changeCurrentRowsetSize(env, &n)) return false;
    rowsetCapacity = rowsetSize = static_cast<std::uint32_t>(n);
  }
  return true;
}

bool ResultSet::forwardOnly() const { return statement->resultSetType() == kJdbcForwardOnly; }

bool ResultSet::connectionClosed() const {
  return (statement->getNConnection()->flags() & Connection::kClosed) != 0;
}

void ResultSet::fini(JNIEnv* env) {
  // A peer that never got its Java object was dropped by its creator after a failed
  // construction: the statement must not keep pointers into it.
  if (getJobj() == nullptr) {
    releaseHandleFields();
    // Only cleanup() lets go of the statement's reference otherwise: a peer dropped here
    // would pin the Java statement (and its native statement) for the life of the VM.
    if (statementRef != nullptr) {
      env->DeleteGlobalRef(statementRef);
      statementRef = nullptr;
    }
  } else {
    // The statement must not keep the reference dropped below as its current result.
    statement->forgetResultSet(env, getJobj());
  }
  NativeWarnObj::fini(env);
}

void ResultSet::releaseHandleFields() {
  SQLHSTMT h = handle();
  if (h == SQL_NULL_HSTMT) return;
  SQLFreeStmt(h, SQL_UNBIND);
  SQLSetStmtAttrW(h, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLSetStmtAttrW(h, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
}

ConstructibleINativeClass* ResultSet::getConstructibleINativeClass() {
  return static_cast<ConstructibleINativeClass*>(NOSE()->wrapper(NativeObjSharedEnv::kIResultSet));
}

jobject ResultSet::getConnection() { return statement->getConnection(); }
Connection* ResultSet::getNConnection() { return statement->getNConnection(); }

jobject ResultSet::getStatement(JNIEnv* env) {
  jobject obj = statement->getJobj();
  if (obj == nullptr) obj = statement->createJobj(env);
  return obj != nullptr ? env->NewLocalRef(obj) : nullptr;
}

jint ResultSet::getType(JNIEnv* env) { return statement->getResultSetType(env); }
jint ResultSet::getConcurrency(JNIEnv* env) { return statement->getResultSetConcurrency(env); }
void ResultSet::setFetchDirection(JNIEnv* env, jint direction) {
  statement->setFetchDirection(env, direction);
}
jint ResultSet::getFetchDirection() { return statement->getFetchDirection(); }

jint ResultSet::getFetchSize() const {
  return (flags & kDefaultFetchSize) != 0 ? 0 : static_cast<jint>(rowsetSize);
}

jstring ResultSet::getCursorName(JNIEnv* env) {
  SQLWCHAR first[kCursorNameUnits + 1];
  SQLWCHAR* text = first;
  SQLSMALLINT capacity = kCursorNameUnits + 1;
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLGetCursorNameW(handle(), first, capacity, &length);
  SQLWCHAR* grown = nullptr;
  if (SQL_SUCCEEDED(rc) && length > kCursorNameUnits && length < 0x7FFF) {
    capacity = static_cast<SQLSMALLINT>(length + 1);
    grown = static_cast<SQLWCHAR*>(alloc(env, static_cast<std::size_t>(capacity) * sizeof(SQLWCHAR)));
    if (grown == nullptr) return nullptr;
    text = grown;
    rc = SQLGetCursorNameW(handle(), grown, capacity, &length);
  }
  jstring result = nullptr;
  if (!sqlError(env, rc, SQL_HANDLE_STMT, handle())) {
    // Never more than the buffer holds, whatever length the driver reported.
    SQLSMALLINT units = length < 0 ? 0 : length;
    if (units > capacity - 1) units = static_cast<SQLSMALLINT>(capacity - 1);
    result = env->NewString(reinterpret_cast<const jchar*>(text), units);
  }
  free(grown);
  return result;
}

void ResultSet::switchColumns(short a, short b) {
  if (a < 1 || b < 1 || a > columnCount || b > columnCount || columns == nullptr) return;
  Column* t = columns[a - 1];
  columns[a - 1] = columns[b - 1];
  columns[b - 1] = t;
}

int ResultSet::compareColumnName(long a, long b) const {
  const Column* ca = columns[a - 1];
  const Column* cb = columns[b - 1];
  const bool hasA = ca != nullptr && ca->name != nullptr;
  const bool hasB = cb != nullptr && cb->name != nullptr;
  if (!hasA) return hasB ? -1 : 0;
  if (!hasB) return 1;
  return CompareLabels(ca->name, ca->nameLength, cb->name, cb->nameLength);
}

void ResultSet::fixHeapColumnOrder(long position, long value, long heapSize) {
  // Sifts `value` down from `position`; positions are 1-based, entry p is sortedColumns[p-1].
  long p = position;
  for (;;) {
    long child = 2 * p;
    if (child > heapSize) break;
    if (child < heapSize && compareColumnName(sortedColumns[child], sortedColumns[child - 1]) > 0)
      ++child;
    if (compareColumnName(value, sortedColumns[child - 1]) >= 0) break;
    sortedColumns[p - 1] = sortedColumns[child - 1];
    p = child;
  }
  sortedColumns[p - 1] = static_cast<std::int32_t>(value);
}

bool ResultSet::sortColumns(JNIEnv* env) {
  if ((flags & kColumnsSorted) != 0) return true;
  if (columns == nullptr || columnCount <= 0) return false;
  for (SQLSMALLINT i = 0; i < columnCount; ++i) {
    // A label that cannot be read leaves its column unlabelled; its error does not
    // stop the lookup of the others.
    if (columns[i] != nullptr && !columns[i]->fillName(env) && env->ExceptionCheck())
      env->ExceptionClear();
  }
  const long n = columnCount;
  auto* order = static_cast<std::int32_t*>(alloc(env, static_cast<std::size_t>(n) * sizeof(std::int32_t)));
  if (order == nullptr) return false;
  free(sortedColumns);
  sortedColumns = order;
  for (long k = 0; k < n; ++k) sortedColumns[k] = static_cast<std::int32_t>(k + 1);
  for (long p = n / 2; p >= 1; --p) fixHeapColumnOrder(p, sortedColumns[p - 1], n);
  for (long k = n; k >= 2; --k) {
    const std::int32_t top = sortedColumns[0];
    fixHeapColumnOrder(1, sortedColumns[k - 1], k - 1);
    sortedColumns[k - 1] = top;
  }
  for (long k = 0; k < n; ++k) sortedColumns[k] -= 1;
  setFlag(kColumnsSorted, true);
  return true;
}

jint ResultSet::findColumn(JNIEnv* env, jstring label) {
  if (label == nullptr) {
    NOSE()->raiseError(env, "NULL_POINTER");
    return 0;
  }
  if (!sortColumns(env)) return 0;
  const jsize len = env->GetStringLength(label);
  if (len <= 0) return 0;
  const jchar* chars = env->GetStringChars(label, nullptr);
  if (chars == nullptr) return 0;
  jint result = 0;
  long lo = 0;
  long hi = columnCount - 1;
  while (lo <= hi) {
    const long mid = (lo + hi) / 2;
    const Column* c = columns[sortedColumns[mid]];
    const int order = c->name != nullptr ? CompareLabels(chars, len, c->name, c->nameLength) : 1;
    if (order < 0) {
      hi = mid - 1;
    } else if (order > 0) {
      lo = mid + 1;
    } else {
      result = sortedColumns[mid] + 1;
      break;
    }
  }
  env->ReleaseStringChars(label, chars);
  return result;
}

void ResultSet::cleanup(JNIEnv* env, jobject object, unsigned keepCursor) {
  if (object == nullptr || env->MonitorEnter(object) != JNI_OK) return;
  auto* rs = static_cast<ResultSet*>(NOSE()->closeNativeObj(env, object, kClassName));
  if (rs == nullptr) {
    env->MonitorExit(object);
    return;
  }
  rs->fini(env);  // warnings, the statement's link and the Java object's reference
  env->MonitorExit(object);

  jobject stmtRef = rs->statementRef;
  bool closeStatement = false;
  if (stmtRef != nullptr && env->MonitorEnter(stmtRef) == JNI_OK) {
    if (NOSE()->getNativeObj(env, stmtRef) == rs->statement) {
      Statement* stmt = rs->statement;
      rs->releaseHandleFields();
      if (keepCursor == 0) SQLFreeStmt(stmt->handle(), SQL_CLOSE);
      closeStatement = stmt->owningMetadata() != nullptr;
    }
    env->MonitorExit(stmtRef);
  } else if (stmtRef == nullptr) {
    // A statement with no Java object (made for the catalog) has no monitor to take;
    // its handle is closed all the same.
    rs->releaseHandleFields();
    if (keepCursor == 0) SQLFreeStmt(rs->handle(), SQL_CLOSE);
  }
  // A catalog statement of the metadata cache closes with its result. That takes the
  // connection's and the cache's locks, so it runs with no monitor of ours held.
  if (closeStatement) Statement::cleanup(env, stmtRef, 1, 1);
  if (stmtRef != nullptr) env->DeleteGlobalRef(stmtRef);
  rs->statementRef = nullptr;
  delete rs;
}

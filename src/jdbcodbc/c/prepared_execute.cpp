// Prepared execution: single executions with SQLExecute, JDBC batches as one array-bound
// execution or row by row, and Reader and Blob values streamed as data at execution.
//
// After any batch execution the statement is left with one parameter set and no
// parameter bound: the rows' values and the arrays are gone, and an execution that
// followed without setters would otherwise send freed memory (or n rows of single
// values). The next setter of each parameter binds it anew.
#include <cstring>
#include <new>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/prepared.h"
#include "jdbcodbc/c/resultset.h"
#include "utils/base/memory.h"

namespace {

constexpr char kName[] = "PreparedStatement";
constexpr SQLSMALLINT kNumericText = -9999;
constexpr SQLSMALLINT kUnsetSqlType = 99;
constexpr std::int32_t kBatchGrowth = 100;

void RaiseWithNumber(JNIEnv* env, const char* key, jint number) {
  if (env->ExceptionCheck()) return;
  jstring text = NOSE()->stringClass()->valueOf(env, number);
  if (text == nullptr) return;
  NOSE()->raiseError(env, key, 1, text);
  env->DeleteLocalRef(text);
}

void RaiseClosed(JNIEnv* env) {
  if (env->ExceptionCheck()) return;
  jstring name = env->NewStringUTF(kName);
  if (name == nullptr) return;
  NOSE()->raiseError(env, "NATIVE_ACCESS_ERROR", 1, name);
  env->DeleteLocalRef(name);
}

// Bytes of one array element of a fixed-size C type; 0 for the others.
SQLLEN FixedElementSize(SQLSMALLINT cType);

// The column size a batch binding announces: a variable value may be as long as the
// largest row, while the recorded size is the last setter's.
SQLULEN BatchColumnSize(const Parameter& p) {
  if (FixedElementSize(p.cType) != 0 || p.batchElementSize <= 0) return p.columnSize;
  const auto element = static_cast<SQLULEN>(p.batchElementSize);
  return element > p.columnSize ? element : p.columnSize;
}

SQLLEN FixedElementSize(SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_NUMERIC: return 19;
    case SQL_C_FLOAT:
    case SQL_C_SLONG: return 4;
    case SQL_C_DOUBLE:
    case SQL_C_SBIGINT: return 8;
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME: return 6;
    case SQL_C_TYPE_TIMESTAMP: return 16;
    case SQL_C_STINYINT:
    case SQL_C_BIT: return 1;
    case SQL_C_SSHORT: return 2;
    default: return 0;
  }
}

}  // namespace

SQLSMALLINT PreparedStatement::jdbcToSQLCType(JNIEnv* env, jint jdbcType, SQLLEN* length) {
  SQLSMALLINT cType = 0;
  SQLLEN size = -1;
  switch (jdbcType) {
    case -7: cType = SQL_C_BIT; size = 1; break;
    case -6: cType = SQL_C_STINYINT; size = 1; break;
    case -5: cType = SQL_C_SBIGINT; size = 8; break;
    case -4: case -3: case -2: cType = SQL_C_BINARY; break;
    case -1: case 1: case 12:
    case -8: case -9: case -10: case -15: case -16: cType = SQL_C_WCHAR; break;
    case -11: cType = SQL_C_GUID; break;
    case 2: case 3: cType = kNumericText; size = 41; break;
    case 4: cType = SQL_C_SLONG; size = 4; break;
    case 5: cType = SQL_C_SSHORT; size = 2; break;
    case 6: case 7: cType = SQL_C_FLOAT; size = 4; break;
    case 8: cType = SQL_C_DOUBLE; size = 8; break;
    case 9: case 91: cType = SQL_C_TYPE_DATE; size = 6; break;
    case 10: case 92: cType = SQL_C_TYPE_TIME; size = 6; break;
    case 11: case 93: cType = SQL_C_TYPE_TIMESTAMP; size = 16; break;
    case 0: case 1111: case 2000: case 2001: case 2002: case 2003: case 2004: case 2005:
    case 2006:
      RaiseWithNumber(env, "UNSUPPORTED_JDBC_SQL_TYPE", jdbcType);
      break;
    default:
      RaiseWithNumber(env, "UNKNOWN_JDBC_SQL_TYPE", jdbcType);
      break;
  }
  if (length != nullptr) *length = size;
  return cType;
}

bool PreparedStatement::clearParameters(JNIEnv* env) {
  while (parameters_ != nullptr) {
    Parameter* p = parameters_;
    parameters_ = p->next;
    if (p->streamObject != nullptr) env->DeleteGlobalRef(p->streamObject);
    delete p;
  }
  if (handle() == SQL_NULL_HSTMT) return false;
  lockStatementHandle();
  const SQLRETURN rc = SQLFreeStmt(handle(), SQL_RESET_PARAMS);
  unlockStatementHandle();
  return sqlError(env, rc, SQL_HANDLE_STMT, handle());
}

void PreparedStatement::unbindAfterBatch(JNIEnv* env) {
  (void)SQLSetStmtAttrW(handle(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  lockStatementHandle();
  (void)SQLFreeStmt(handle(), SQL_RESET_PARAMS);
  unlockStatementHandle();
  for (Parameter* p = parameters_; p != nullptr; p = p->next) {
    p->freeBatchArrays();
    p->cType = 0;  // the next setter binds again
    p->sqlType = kUnsetSqlType;
  }
  (void)env;
}

bool PreparedStatement::internalExecute(JNIEnv* env) {
  if (batchRowCount_ > 0) {
    const SQLLEN n = batchRowCount_;
    if (rowByRow_ != 0) return executeBatchInSingleMode(env);
    SQLRETURN rc = SQLSetStmtAttrW(handle(), SQL_ATTR_PARAMSET_SIZE,
                                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(n)), 0);
    if (sqlError(env, rc, SQL_HANDLE_STMT, handle())) return false;
    for (Parameter* p = parameters_; p != nullptr; p = p->next) {
      p->freeBatchArrays();
      const SQLLEN element = p->batchElementSize;
      // One spare element, as the arrays always had; sizes checked before they multiply.
      if (element < 0 || element > (SQLLEN{1} << 40) / (n + 1)) {
        NOSE()->raiseError(env, "OUT_OF_MEMORY");
        return false;
      }
      p->batchValues = NativeWarnObj::alloc(env, static_cast<std::size_t>((element + 1) * n));
      p->batchIndicators = static_cast<SQLLEN*>(
          NativeWarnObj::alloc(env, static_cast<std::size_t>(n) * sizeof(SQLLEN)));
      if (p->batchValues == nullptr || p->batchIndicators == nullptr) {
        if (env->ExceptionCheck()) env->ExceptionClear();  // the rows go one by one instead
        return executeBatchInSingleMode(env);
      }
      // Every parameter holds n rows: addBatch takes one row from each.
      // A parameter first set after some rows were added sends NULL in those rows.
      for (SQLLEN i = 0; i < n; ++i) {
        if (i >= p->batchCount) {
          p->batchIndicators[i] = SQL_NULL_DATA;
          continue;
        }
        const BatchEntry& row = p->batchRows[i];
        SQLLEN bytes = row.length < element ? row.length : element;
        if (row.value != nullptr && bytes > 0)
          std::memcpy(static_cast<char*>(p->batchValues) + i * element, row.value,
                      static_cast<std::size_t>(bytes));
        p->batchIndicators[i] = row.indicator;
      }
      rc = SQLBindParameter(handle(), p->number, p->direction, p->cType, p->sqlType,
                            BatchColumnSize(*p), p->decimalDigits, p->batchValues, element,
                            p->batchIndicators);
      if (sqlError(env, rc, SQL_HANDLE_STMT, handle())) {
        batchRowCount_ = 0;
        for (Parameter* q = parameters_; q != nullptr; q = q->next) q->dropBatchRows();
        unbindAfterBatch(env);
        return false;
      }
    }
    batchRowCount_ = 0;
    closeCurrentResultSet(env, 0);
    rc = SQLExecute(handle());
    for (Parameter* p = parameters_; p != nullptr; p = p->next) p->dropBatchRows();
    bool ok = true;
    if (getNConnection()->closing()) {
      RaiseClosed(env);
      ok = false;
    } else if (rc == SQL_NEED_DATA) {
      ok = !sqlError(env, supplyStreams(env), SQL_HANDLE_STMT, handle());
    } else {
      ok = !sqlError(env, rc, SQL_HANDLE_STMT, handle());
    }
    unbindAfterBatch(env);
    return ok;
  }
  closeCurrentResultSet(env, 0);
  const SQLRETURN rc = SQLExecute(handle());
  if (getNConnection()->closing()) {
    RaiseClosed(env);
    return false;
  }
  if (rc == SQL_NEED_DATA) return !sqlError(env, supplyStreams(env), SQL_HANDLE_STMT, handle());
  return !sqlError(env, rc, SQL_HANDLE_STMT, handle());
}

bool PreparedStatement::execute(JNIEnv* env) {
  beginExecution(env);
  if (!internalExecute(env)) return false;
  SQLSMALLINT count = 0;
  return getNumResultCols(env, &count) && count > 0;
}

jint PreparedStatement::executeUpdate(JNIEnv* env) {
  if (isQuery_ != 0) {
    NOSE()->raiseError(env, "EXECUTEUPDATE_ON_SELECT");
    return 0;
  }
  beginExecution(env);
  if (!internalExecute(env)) return 0;
  const jint count = getUpdateCount(env);
  return count == -1 ? 0 : count;
}

jobject PreparedStatement::executeQuery(JNIEnv* env) {
  if (!execute(env)) return nullptr;
  auto* rset = new ResultSet(env, this);
  if (env->ExceptionCheck()) {
    rset->fini(env);
    delete rset;
    return nullptr;
  }
  jobject made = adoptResultSet(env, rset);
  return made != nullptr ? env->NewLocalRef(made) : nullptr;
}

bool PreparedStatement::reexecute(JNIEnv* env) {
  lockStatementHandle();
  const SQLRETURN closed = SQLFreeStmt(handle(), SQL_CLOSE);
  unlockStatementHandle();
  if (sqlError(env, closed, SQL_HANDLE_STMT, handle())) return false;
  const SQLRETURN rc = SQLExecute(handle());
  if (getNConnection()->closing()) {
    RaiseClosed(env);
    return false;
  }
  return !sqlError(env, rc, SQL_HANDLE_STMT, handle());
}

void PreparedStatement::addBatch(JNIEnv* env) {
  // A streamed value cannot be held as a row: refuse before anything changes, so the
  // rows held so far stay consistent.
  for (Parameter* p = parameters_; p != nullptr; p = p->next) {
    if (p->streamObject != nullptr) {
      NOSE()->raiseError(env, "BATCH_BLOB");
      return;
    }
  }
  if (batchRowCount_ == 0) {
    for (Parameter* p = parameters_; p != nullptr; p = p->next) {
      p->freeBatchArrays();
      p->dropBatchRows();
      p->batchElementSize = 0;
    }
  }
  // Make room in every parameter first, so a failure leaves no parameter a row ahead.
  for (Parameter* p = parameters_; p != nullptr; p = p->next) {
    if (p->batchCount < p->batchCapacity) continue;
    const std::int32_t capacity = p->batchCapacity + kBatchGrowth;
    void* grown = NativeWarnObj::realloc(env, p->batchRows,
                                         static_cast<std::size_t>(capacity) * sizeof(BatchEntry));
    if (grown == nullptr) return;  // OUT_OF_MEMORY raised; the rows held stay as they were
    p->batchRows = static_cast<BatchEntry*>(grown);
    for (std::int32_t i = p->batchCapacity; i < capacity; ++i) p->batchRows[i] = BatchEntry{};
    p->batchCapacity = capacity;
  }
  for (Parameter* p = parameters_; p != nullptr; p = p->next) {
    if (p->batchCType == kUnsetSqlType) p->batchCType = p->cType;
    if (p->batchElementSize == 0) {
      const SQLLEN fixed = FixedElementSize(p->cType);
      p->batchElementSize = fixed != 0 ? fixed : p->dataLength;
    }
    BatchEntry& entry = p->batchRows[p->batchCount];
    entry.indicator = p->indicator;
    if (p->value == nullptr && p->batchCount > 0 && p->indicator != SQL_NULL_DATA) {
      // Not set again since the last row: JDBC keeps the value, so the row repeats it.
      const BatchEntry& previous = p->batchRows[p->batchCount - 1];
      if (previous.value != nullptr && previous.length > 0) {
        entry.value = NativeWarnObj::alloc(env, static_cast<std::size_t>(previous.length));
        if (entry.value == nullptr) return;  // OUT_OF_MEMORY raised before the row counts
        std::memcpy(entry.value, previous.value, static_cast<std::size_t>(previous.length));
      }
      entry.length = entry.value != nullptr ? previous.length : 0;
      entry.indicator = previous.indicator;
    } else {
      entry.value = p->value;
      const bool fixed = FixedElementSize(p->cType) != 0;
      if (p->indicator == SQL_NULL_DATA || p->value == nullptr) {
        entry.length = 0;
      } else if (fixed) {
        entry.length = p->batchElementSize;
      } else {
        entry.length = p->dataLength;
        if (entry.length > p->batchElementSize) p->batchElementSize = entry.length;
      }
      p->value = nullptr;
      p->dataLength = 0;
    }
    ++p->batchCount;
    if (static_cast<SQLULEN>(p->batchElementSize) > arrayThreshold_) rowByRow_ = 1;
  }
  ++batchRowCount_;
}

jintArray PreparedStatement::executeBatch(JNIEnv* env) {
  const jint n = batchRowCount_;
  if (n == 0) return nullptr;
  const jint count = executeUpdate(env);
  if (env->ExceptionCheck()) return nullptr;
  jintArray result = env->NewIntArray(n);
  if (result == nullptr) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return nullptr;
  }
  const jint each = count > 0 ? 1 : 0;
  for (jint i = 0; i < n; ++i) env->SetIntArrayRegion(result, i, 1, &each);
  return result;
}

bool PreparedStatement::executeBatchInSingleMode(JNIEnv* env) {
  const SQLRETURN set =
      SQLSetStmtAttrW(handle(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  if (sqlError(env, set, SQL_HANDLE_STMT, handle())) return false;
  for (Parameter* p = parameters_; p != nullptr; p = p->next) p->freeBatchArrays();
  const std::int32_t n = batchRowCount_;
  bool everyRow = true;
  BatchEntry missing;
  missing.indicator = SQL_NULL_DATA;
  closeCurrentResultSet(env, 0);
  for (std::int32_t i = 0; i < n && everyRow; ++i) {
    for (Parameter* p = parameters_; p != nullptr && everyRow; p = p->next) {
      // A parameter first set after some rows were added sends NULL in those rows.
      BatchEntry* row = i < p->batchCount ? &p->batchRows[i] : &missing;
      SQLPOINTER target = row->value != nullptr ? row->value : &row->indicator;
      const SQLRETURN rc = SQLBindParameter(handle(), p->number, p->direction, p->cType,
                                            p->sqlType, BatchColumnSize(*p), p->decimalDigits, target,
                                            row->value != nullptr ? p->batchElementSize : 0,
                                            &row->indicator);
      everyRow = !sqlError(env, rc, SQL_HANDLE_STMT, handle());
    }
    if (!everyRow) break;
    lockStatementHandle();
    (void)SQLFreeStmt(handle(), SQL_CLOSE);
    unlockStatementHandle();
    const SQLRETURN rc = SQLExecute(handle());
    if (getNConnection()->closing()) {
      RaiseClosed(env);
      everyRow = false;
    } else {
      everyRow = !sqlError(env, rc, SQL_HANDLE_STMT, handle());
    }
  }
  for (Parameter* p = parameters_; p != nullptr; p = p->next) {
    p->dropBatchRows();
    p->batchElementSize = 0;
  }
  batchRowCount_ = 0;
  rowByRow_ = 0;
  unbindAfterBatch(env);
  if (!everyRow) return false;
  // The rows ran one at a time: say so with a warning in place of the chain.
  jstring message = NOSE()->iResourceClass()->getString(env, "BATCH_OUT_OF_MEMORY", 0);
  if (env->ExceptionCheck()) {
    if (message != nullptr) env->DeleteLocalRef(message);
    return true;  // the rows ran; the warning could not be made
  }
  if (message != nullptr) {
    jobject warning = NOSE()->sqlWarningClass()->raiseSQLWarning(env, message);
    env->DeleteLocalRef(message);
    if (warning != nullptr && !env->ExceptionCheck()) {
      clearWarnings(env);
      warnings = env->NewGlobalRef(warning);
      env->DeleteLocalRef(warning);
    }
  }
  return true;
}

SQLRETURN PreparedStatement::supplyStreams(JNIEnv* env) {
  static constexpr std::size_t kSizes[] = {1048576, 524288, 262144, 131072,
                                           65536,   32768,  16384,  8192};
  // A value we cannot deliver (the Java stream threw or misbehaved) leaves the driver
  // waiting for data: cancel, or every later call on the statement is out of sequence.
  const auto abandon = [this] {
    (void)SQLCancel(handle());
    return static_cast<SQLRETURN>(SQL_ERROR);
  };
  for (;;) {
    SQLPOINTER token = nullptr;
    SQLRETURN rc = SQLParamData(handle(), &token);
    if (rc != SQL_NEED_DATA) return rc;
    Parameter* p = findParameter(static_cast<int>(reinterpret_cast<std::intptr_t>(token)));
    if (p == nullptr || p->streamObject == nullptr) return abandon();
    // The largest transfer buffer the heap gives, down to one on the stack.
    char local[4096];
    char* heap = nullptr;
    std::size_t size = sizeof local;
    for (std::size_t candidate : kSizes) {
      heap = static_cast<char*>(ut_malloc(candidate));
      if (heap != nullptr) {
        size = candidate;
        break;
      }
    }
    char* buffer = heap != nullptr ? heap : local;
    struct Freer {
      char* block;
      ~Freer() { ut_free(block); }
    } freer{heap};
    std::int64_t position = 1;
    if (p->wideStream != 0) {
      const jint chars = static_cast<jint>((size & ~std::size_t{1}) / 2);
      jcharArray array = env->NewCharArray(chars);
      if (array == nullptr) return abandon();
      auto* readers = static_cast<ReaderClass*>(NOSE()->wrapper(NativeObjSharedEnv::kReader));
      // Never more than the declared length: the driver was told that many bytes.
      while (position <= p->streamLength) {
        const std::int64_t left = p->streamLength - position + 1;
        const jint want = left < chars ? static_cast<jint>(left) : chars;
        const jint n = readers->read(env, p->streamObject, array, 0, want);
        if (env->ExceptionCheck() || n < 1 || n > want) {
          env->DeleteLocalRef(array);
          return abandon();
        }
        env->GetCharArrayRegion(array, 0, n, reinterpret_cast<jchar*>(buffer));
        if (env->ExceptionCheck()) {
          env->DeleteLocalRef(array);
          return abandon();
        }
        position += n;
        rc = SQLPutData(handle(), buffer, 2 * SQLLEN{n});
        if (!SQL_SUCCEEDED(rc)) {
          env->DeleteLocalRef(array);
          return rc;
        }
      }
      env->DeleteLocalRef(array);
    } else {
      auto* blobs = static_cast<BlobClass*>(NOSE()->wrapper(NativeObjSharedEnv::kBlob));
      while (position <= p->streamLength) {
        jbyteArray bytes = blobs->getBytes(env, p->streamObject, position, static_cast<jint>(size));
        if (env->ExceptionCheck() || bytes == nullptr) return abandon();
        const std::int64_t left = p->streamLength - position + 1;
        std::int64_t n = env->GetArrayLength(bytes);
        if (n > static_cast<std::int64_t>(size)) n = static_cast<std::int64_t>(size);
        if (n > left) n = left;
        if (n == 0) {
          // The blob ends before its declared length: stop rather than ask forever; the
          // driver reports the short value.
          env->DeleteLocalRef(bytes);
          break;
        }
        env->GetByteArrayRegion(bytes, 0, static_cast<jsize>(n), reinterpret_cast<jbyte*>(buffer));
        env->DeleteLocalRef(bytes);
        if (env->ExceptionCheck()) return abandon();
        position += n;
        rc = SQLPutData(handle(), buffer, static_cast<SQLLEN>(n));
        if (!SQL_SUCCEEDED(rc)) return rc;
      }
    }
  }
}

// The prepared-statement peer: preparation, the parameter records, the rule by which a
// setter's C type becomes a bound SQL type with size and digits, the binding, and the
// parameter metadata.
#include "jdbcodbc/c/prepared.h"

#include <cstring>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/misccls.h"

namespace {

constexpr SQLSMALLINT kNumericText = -9999;
constexpr SQLSMALLINT kUnsetSqlType = 99;
constexpr SQLULEN kDefaultArrayThreshold = 0x40000;
constexpr SQLULEN kNumericTextColumnSize = 41;

// Bytes the driver writes for an output of a fixed-size C type; 0 for the others, whose
// length the bound buffer length limits.
SQLLEN FixedOutputBytes(SQLSMALLINT cType) {
  return cType == SQL_C_GUID ? static_cast<SQLLEN>(sizeof(SQLGUID)) : FixedCTypeBytes(cType);
}

}  // namespace

// ---- Parameter ---------------------------------------------------------------------------

Parameter::Parameter(PreparedStatement* owner_, int number_, SQLSMALLINT direction_,
                     std::int32_t scale_, Parameter* next_)
    : owner(owner_), number(static_cast<std::uint16_t>(number_)), direction(direction_),
      next(next_), scale(scale_) {}

Parameter::~Parameter() {
  NativeWarnObj::free(value);
  freeBatchArrays();
  dropBatchRows();
  NativeWarnObj::free(batchRows);
}

void Parameter::delayBinding(SQLSMALLINT type) {
  bindingDelayed = 1;
  cType = type;
}

bool Parameter::getLongData(JNIEnv* env) {
  // The value is read into a block of its own, not into the bound buffer: the driver
  // keeps the bound address for the next execution, so the old buffer is let go only
  // once the parameter is bound to the new one.
  void* fresh = nullptr;
  SQLLEN total = 0;
  SQLLEN got = 0;
  if (!owner->getLongData(env, &fresh, &total, &got, number, cType, false, false)) {
    NativeWarnObj::free(fresh);
    return false;
  }
  if (fresh == nullptr) {  // NULL
    indicator = SQL_NULL_DATA;
    return true;
  }
  NativeWarnObj::free(value);
  value = fresh;
  dataLength = total;
  // The block holds the value and its terminator; as the bound length, the value's own
  // length keeps the driver's next output inside the block.
  bufferLength = total;
  indicator = got;
  const bool bound = bind(env);
  indicator = got;  // binding an output parameter marks it NULL until it runs
  return bound;
}

void Parameter::freeBatchArrays() {
  NativeWarnObj::free(batchValues);
  NativeWarnObj::free(batchIndicators);
  batchValues = nullptr;
  batchIndicators = nullptr;
}

void Parameter::dropBatchRows() {
  for (std::int32_t i = 0; i < batchCount; ++i) {
    NativeWarnObj::free(batchRows[i].value);
    batchRows[i] = BatchEntry{};
  }
  batchCount = 0;
  batchCType = kUnsetSqlType;
}

bool Parameter::modifyAndBind(JNIEnv* env, SQLSMALLINT newCType, void* newValue,
                              SQLLEN newDataLength, bool isLong) {
  bool rebind = false;
  if (newValue != nullptr) {
    value = newValue;
    dataLength = newDataLength;
    rebind = true;
  }
  const bool numericText = newCType == kNumericText;
  const SQLSMALLINT stored = numericText ? SQL_C_CHAR : newCType;
  auto assignSize = [&](SQLULEN size) {
    if (columnSize != size) rebind = true;
    columnSize = size;
  };
  auto assignDigits = [&](SQLSMALLINT digits) {
    if (decimalDigits != digits) rebind = true;
    decimalDigits = digits;
  };
  // The numeric record carries its own precision and scale.
  auto numericSize = [&] {
    if (value == nullptr) return;
    const auto* record = static_cast<const SQL_NUMERIC_STRUCT*>(value);
    assignSize(record->precision);
    assignDigits(static_cast<SQLSCHAR>(record->scale));
  };
  bool bindNow = false;
  bool sizeByType = true;  // step "size by SQL type"
  if (cType != stored) {
    cType = stored;
    sizeByType = false;
    switch (newCType) {
      case kNumericText: sqlType = SQL_VARCHAR; rebind = true; assignSize(static_cast<SQLULEN>(dataLength)); break;
      case SQL_C_BIT: sqlType = SQL_BIT; bindNow = true; break;
      case SQL_C_SLONG: sqlType = SQL_INTEGER; bindNow = true; break;
      case SQL_C_SSHORT: sqlType = SQL_SMALLINT; bindNow = true; break;
      case SQL_C_STINYINT: sqlType = SQL_TINYINT; bindNow = true; break;
      case SQL_C_SBIGINT: sqlType = SQL_BIGINT; bindNow = true; break;
      case SQL_C_GUID: sqlType = SQL_GUID; bindNow = true; break;
      case SQL_C_TYPE_DATE: sqlType = SQL_TYPE_DATE; bindNow = true; break;
      case SQL_C_TYPE_TIME: sqlType = SQL_TYPE_TIME; bindNow = true; break;
      case SQL_C_TYPE_TIMESTAMP: sqlType = SQL_TYPE_TIMESTAMP; rebind = true; assignDigits(3); break;
      case SQL_C_DOUBLE: sqlType = SQL_DOUBLE; rebind = true; assignSize(24); break;
      case SQL_C_FLOAT: sqlType = SQL_FLOAT; rebind = true; assignSize(24); break;
      case SQL_C_NUMERIC: sqlType = SQL_NUMERIC; rebind = true; numericSize(); break;
      case SQL_C_BINARY: sqlType = SQL_VARBINARY; rebind = true; assignSize(static_cast<SQLULEN>(dataLength)); break;
      case SQL_C_WCHAR:
        sqlType = isLong ? SQL_LONGVARCHAR : SQL_VARCHAR;
        rebind = true;
        // A wide buffer holds whole units: an odd kept length loses its last byte.
        if (newValue == nullptr && (dataLength & 1) != 0) {
          --dataLength;
          if (dataLength == 0) {
            NativeWarnObj::free(value);
            value = nullptr;
          }
        }
        sizeByType = true;
        break;
      default: rebind = true; sizeByType = true; break;
    }
  }
  if (sizeByType) {
    switch (sqlType) {
      case SQL_NUMERIC: numericSize(); break;
      case SQL_LONGVARBINARY:
      case SQL_VARBINARY:
      case SQL_LONGVARCHAR:
      case SQL_VARCHAR: assignSize(static_cast<SQLULEN>(dataLength)); break;
      case SQL_FLOAT:
      case SQL_DOUBLE: assignSize(24); break;
      case SQL_TYPE_TIMESTAMP: assignDigits(3); break;
      default: break;
    }
  }
  if (numericText && !bindNow) assignSize(kNumericTextColumnSize);
  // An output arrives as the bound C type. A buffer made for another type (registered
  // as TINYINT, then set to a NULL BIGINT, say) grows to take a value of a fixed-size
  // one, its bytes kept.
  const SQLLEN fixed = direction != SQL_PARAM_INPUT ? FixedOutputBytes(cType) : 0;
  if (fixed > 0 && (value == nullptr || dataLength < fixed)) {
    const SQLLEN kept = value != nullptr ? dataLength : 0;
    void* grown = NativeWarnObj::realloc(env, value, static_cast<std::size_t>(fixed));
    if (grown == nullptr) return false;
    std::memset(static_cast<char*>(grown) + kept, 0, static_cast<std::size_t>(fixed - kept));
    value = grown;
    dataLength = fixed;
    rebind = true;
  }
  if (bindNow || rebind || direction == SQL_PARAM_INPUT_OUTPUT) return bind(env);
  return true;
}

bool Parameter::bind(JNIEnv* env) {
  if (direction == SQL_PARAM_INPUT) bufferLength = dataLength;
  if (direction == SQL_PARAM_OUTPUT) indicator = SQL_NULL_DATA;
  SQLPOINTER target = value;
  if (bufferLength == 0 && value == nullptr && indicator == 0) target = &indicator;
  // While batch rows are held the arrays are bound at execution.
  if (owner->batchRowCount() > 0) {
    if (batchCType == kUnsetSqlType || batchCType == cType) return true;
    NOSE()->raiseError(env, "BATCH_MISMATCH");
    return false;
  }
  const SQLRETURN rc = SQLBindParameter(owner->handle(), number, direction, cType, sqlType,
                                        columnSize, decimalDigits, target, bufferLength,
                                        &indicator);
  return !owner->sqlError(env, rc, SQL_HANDLE_STMT, owner->handle());
}

// ---- PreparedStatement ---------------------------------------------------------------------

PreparedStatement::PreparedStatement(JNIEnv* env, Connection* connection, jstring sql,
                                     unsigned char isQuery, unsigned char, jint resultSetType,
                                     jint concurrency, bool tolerant)
    : Statement(env, connection, resultSetType, concurrency, tolerant), isQuery_(isQuery) {
  if (env->ExceptionCheck()) return;
  if (!prepare(env, sql)) return;
  SQLULEN threshold = 0;
  const SQLRETURN rc =
      SQLGetStmtAttrW(handle(), SQL_ATTR_MAX_LENGTH, &threshold, SQL_IS_POINTER, nullptr);
  arrayThreshold_ = SQL_SUCCEEDED(rc) ? threshold : kDefaultArrayThreshold;
  // A maximum length of 0 means "no limit" to the driver; as a threshold it would send
  // every batch row by row.
  if (arrayThreshold_ == 0) arrayThreshold_ = kDefaultArrayThreshold;
}

PreparedStatement::~PreparedStatement() {
  while (parameters_ != nullptr) {
    Parameter* p = parameters_;
    parameters_ = p->next;
    delete p;
  }
}

void PreparedStatement::fini(JNIEnv* env) {
  clearParameters(env);
  Statement::fini(env);
}

ConstructibleINativeClass* PreparedStatement::getConstructibleINativeClass() {
  return static_cast<ConstructibleINativeClass*>(
      NOSE()->wrapper(NativeObjSharedEnv::kIPreparedStatement));
}

bool PreparedStatement::prepare(JNIEnv* env, jstring sql) {
  if (handle() == SQL_NULL_HSTMT) return false;
  if (sql == nullptr) {
    NOSE()->raiseError(env, "NULL_POINTER");
    return false;
  }
  const jsize units = env->GetStringLength(sql);
  if (units == 0) {
    NOSE()->raiseError(env, "EMPTY_STMT");
    return false;
  }
  const jchar* chars = env->GetStringChars(sql, nullptr);
  if (chars == nullptr) return false;
  const SQLRETURN rc = SQLPrepareW(handle(), reinterpret_cast<SQLWCHAR*>(const_cast<jchar*>(chars)),
                                   units);
  env->ReleaseStringChars(sql, chars);
  return !sqlError(env, rc, SQL_HANDLE_STMT, handle());
}

Parameter* PreparedStatement::findParameter(int number) {
  const auto wanted = static_cast<std::uint16_t>(number);
  for (Parameter* p = parameters_; p != nullptr; p = p->next)
    if (p->number == wanted) return p;
  return nullptr;
}

Parameter* PreparedStatement::addParameter(int number, SQLSMALLINT direction,
                                           std::int32_t scale) {
  parameters_ = new Parameter(this, number, direction, scale, parameters_);
  return parameters_;
}

Parameter* PreparedStatement::findOrCreateInParameter(JNIEnv*, int number) {
  Parameter* p = findParameter(number);
  if (p == nullptr) {
    p = addParameter(number, SQL_PARAM_INPUT, 0);
  } else if (p->direction == SQL_PARAM_OUTPUT) {
    p->direction = SQL_PARAM_INPUT_OUTPUT;
  }
  return p;
}

SQLRETURN PreparedStatement::describeParam(SQLUSMALLINT number, SQLSMALLINT* sqlType,
                                           SQLULEN* size, SQLSMALLINT* scale,
                                           SQLSMALLINT* nullable) {
  SQLSMALLINT type = 0;
  SQLULEN sz = 0;
  SQLSMALLINT sc = 0;
  SQLSMALLINT nl = 0;
  return SQLDescribeParam(handle(), number, sqlType ? sqlType : &type, size ? size : &sz,
                          scale ? scale : &sc, nullable ? nullable : &nl);
}

namespace {

// Parameter numbers travel as 16-bit values; others are refused rather than wrapped
// onto another parameter.
bool ParameterNumber(JNIEnv* env, jint number) {
  if (number >= 0 && number <= 0xFFFF) return true;
  jstring text = NOSE()->stringClass()->valueOf(env, number);
  if (!env->ExceptionCheck()) NOSE()->raiseError(env, "BAD_PARAMETER_NUMBER", 1, text);
  if (text != nullptr) env->DeleteLocalRef(text);
  return false;
}

}  // namespace

jint PreparedStatement::getParameterSize(JNIEnv* env, jint number) {
  if (!ParameterNumber(env, number)) return 0;
  SQLULEN size = 0;
  const SQLRETURN rc = describeParam(static_cast<SQLUSMALLINT>(number), nullptr, &size, nullptr, nullptr);
  if (sqlError(env, rc, SQL_HANDLE_STMT, handle())) return 0;
  return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<jint>(size);
}

jint PreparedStatement::getParameterScale(JNIEnv* env, jint number) {
  if (!ParameterNumber(env, number)) return 0;
  SQLSMALLINT scale = 0;
  const SQLRETURN rc = describeParam(static_cast<SQLUSMALLINT>(number), nullptr, nullptr, &scale, nullptr);
  return sqlError(env, rc, SQL_HANDLE_STMT, handle()) ? 0 : scale;
}

jint PreparedStatement::getParameterType(JNIEnv* env, jint number) {
  if (!ParameterNumber(env, number)) return 0;
  SQLSMALLINT type = 0;
  const SQLRETURN rc = describeParam(static_cast<SQLUSMALLINT>(number), &type, nullptr, nullptr, nullptr);
  return sqlError(env, rc, SQL_HANDLE_STMT, handle()) ? 0 : type;
}

jint PreparedStatement::getParameterNullable(JNIEnv* env, jint number) {
  if (!ParameterNumber(env, number)) return 0;
  SQLSMALLINT nullable = 0;
  const SQLRETURN rc = describeParam(static_cast<SQLUSMALLINT>(number), nullptr, nullptr, nullptr, &nullable);
  return sqlError(env, rc, SQL_HANDLE_STMT, handle()) ? 0 : nullable;
}

jint PreparedStatement::getParameterCount(JNIEnv* env) {
  SQLSMALLINT count = 0;
  const SQLRETURN rc = SQLNumParams(handle(), &count);
  return sqlError(env, rc, SQL_HANDLE_STMT, handle()) ? 0 : count;
}

// Column value access: where the current row's value of a column is (a bound column's
// rowset element, or a late-bound column's value read with SQLGetData once per row), and
// the getters that turn it into Java values through the converters of NativeWarnObj.
// Long text and binary values can also be handed to Java a piece at a time.
//
// Lengths handed to the converters never reach past the element: a bound column's
// indicator may say SQL_NO_TOTAL or more than the element holds (the value was cut),
// and is clamped to the bytes the element really holds before its terminator.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "jdbcodbc/c/column_access.h"
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/resultset.h"
#include "jdbcodbc/c/statement.h"

namespace {

// Raises `key` with one decimal number as its argument.
void RaiseWithNumber(JNIEnv* env, const char* key, long long number) {
  if (env->ExceptionCheck()) return;
  char text[24];
  std::snprintf(text, sizeof text, "%lld", number);
  jstring arg = env->NewStringUTF(text);
  if (arg == nullptr) return;
  NOSE()->raiseError(env, key, 1, arg);
  env->DeleteLocalRef(arg);
}

// Bytes of terminator a bound text element keeps after its data.
SQLLEN TerminatorBytes(SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_WCHAR:
      return 2;
    case SQL_C_CHAR:
    case kCTypeNumericText:
      return 1;
    default:
      return 0;
  }
}

// The common case read in place: a non-null value of a bound column whose C type is the
// getter's own (`own`) needs no conversion. False sends the getter the general way, which
// also sets wasNull and raises what is due (no row, a late-bound column, SQL NULL).
template <class T>
bool ReadOwn(Column* column, SQLSMALLINT own, T* out) {
  ResultSet* rs = column->resultSet;
  const std::int32_t p = rs->rowInRowset;
  if (column->lateBound || column->cType != own || p < 0 ||
      static_cast<std::uint32_t>(p) >= rs->rowsetCapacity || column->indicators[p] < 0)
    return false;
  rs->setFlag(ResultSet::kWasNull, false);
  std::memcpy(out, column->element(p), sizeof *out);
  return true;
}

// The getter family: locate the value, then convert it; SQL NULL and failures give
// `fallback`.
template <class R, class Make>
R ReadValue(JNIEnv* env, Column* column, R fallback, Make make) {
  void* value = column->getData(env, false);
  if (value == nullptr || column->resultSet->wasNull()) return fallback;
  return make(column->resultSet, value, column->valueCType(), column->clampedLength());
}

}  // namespace

SQLLEN ClampValueLength(SQLLEN indicator, SQLLEN elementSize, SQLSMALLINT cType,
                        bool lateBound) {
  if (indicator < 0 && indicator != SQL_NO_TOTAL) return indicator;  // SQL_NULL_DATA
  const SQLLEN terminator = lateBound ? 0 : TerminatorBytes(cType);
  SQLLEN most = elementSize - terminator;
  if (cType == SQL_C_WCHAR) most &= ~static_cast<SQLLEN>(1);
  if (most < 0) most = 0;
  return (indicator == SQL_NO_TOTAL || indicator > most) ? most : indicator;
}

// ---- Column -------------------------------------------------------------------------------

SQLSMALLINT Column::valueCType() const {
  if (cType == kCTypeNumericText && lateBound) return SQL_C_WCHAR;
  return cType;
}

SQLLEN Column::clampedLength() const {
  return ClampValueLength(indicator(), elementSize, valueCType(), lateBound != 0);
}

bool Column::lateBindable(JNIEnv* env) {
  Connection* connection = resultSet->getNConnection();
  const std::uint8_t g = connection != nullptr ? connection->flags() : 0;
  if (!(g & Connection::kGetDataAnyColumn) && columnNumber < resultSet->lastBoundColumn) {
    NOSE()->raiseError(env, "DBMS_NOT_GETDATA_ANYCOLUMN");
    return false;
  }
  // Reading the same column again is allowed: the test is strictly less.
  if (!(g & Connection::kGetDataAnyOrder) && columnNumber < resultSet->lastGetDataColumn) {
    NOSE()->raiseError(env, "DBMS_NOT_GETDATA_ANYORDER");
    return false;
  }
  if (resultSet->rowsetSize > 1 && !(g & Connection::kGetDataBlock)) {
    NOSE()->raiseError(env, "DBMS_NOT_GETDATA_BLOCK");
    return false;
  }
  return true;
}

void* Column::getData(JNIEnv* env, bool firstPieceOnly) {
  ResultSet* rs = resultSet;
  const std::int32_t p = rs->rowInRowset;
  rs->setFlag(ResultSet::kWasNull, false);
  if (!lateBound) {
    // Every caller stands on a row; the check keeps a stray position off the buffers.
    if (p < 0 || static_cast<std::uint32_t>(p) >= rs->rowsetCapacity) {
      NOSE()->raiseError(env, "NOT_ON_ROW");
      return nullptr;
    }
    rs->setFlag(ResultSet::kWasNull, indicators[p] == SQL_NULL_DATA);
    return element(p);
  }
  if (!lateBindable(env)) return nullptr;
  if (rs->rowsetSize > 1 && !rs->setInSetPos(env, p, SQL_POSITION)) return nullptr;
  if (rs->onInsertRow()) {
    // The row number that keys the cached value does not exist on the insert row.
    NOSE()->raiseError(env, "NO_ROW_NUM_ON_INSERT");
    return nullptr;
  }
  const std::int32_t row = rs->currentRowNumber();
  if (cachedRow != row) {
    // A fresh read replaces the buffer of the previous row's value.
    if (!rs->getNStatement()->getLongData(env, &data, &elementSize, &indicators[0], columnNumber,
                                          cType, firstPieceOnly, false)) {
      cachedRow = 0;
      return nullptr;
    }
  }
  cachedRow = row;
  rs->setFlag(ResultSet::kWasNull, indicators[0] == SQL_NULL_DATA);
  rs->lastGetDataColumn = static_cast<SQLSMALLINT>(columnNumber);
  return data;
}

jbyte Column::getByte(JNIEnv* env) {
  return ReadValue<jbyte>(env, this, 0, [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
    return rs->makeByte(env, v, t, n, true);
  });
}

jshort Column::getShort(JNIEnv* env) {
  return ReadValue<jshort>(env, this, 0, [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
    return rs->makeShort(env, v, t, n, true);
  });
}

jint Column::getInt(JNIEnv* env) {
  jint value;
  if (ReadOwn(this, SQL_C_SLONG, &value)) return value;
  return ReadValue<jint>(env, this, 0, [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
    return rs->makeInt(env, v, t, n, true);
  });
}

jlong Column::getLong(JNIEnv* env) {
  jlong value;
  if (ReadOwn(this, SQL_C_SBIGINT, &value)) return value;
  return ReadValue<jlong>(env, this, 0, [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
    return rs->makeLong(env, v, t, n);
  });
}

jfloat Column::getFloat(JNIEnv* env) {
  return ReadValue<jfloat>(env, this, 0.0f,
                           [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                             return rs->makeFloat(env, v, t, n, true);
                           });
}

jdouble Column::getDouble(JNIEnv* env) {
  jdouble value;
  if (ReadOwn(this, SQL_C_DOUBLE, &value)) return value;
  return ReadValue<jdouble>(env, this, 0.0,
                            [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                              return rs->makeDouble(env, v, t, n, true);
                            });
}

jboolean Column::getBoolean(JNIEnv* env) {
  return ReadValue<jboolean>(env, this, JNI_FALSE,
                             [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                               return static_cast<jboolean>(rs->makeBoolean(env, v, t, n) & 0xFF);
                             });
}

jbyteArray Column::getBytes(JNIEnv* env) {
  return ReadValue<jbyteArray>(env, this, nullptr,
                               [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                                 return rs->makeBytes(env, v, t, n);
                               });
}

jobject Column::getDate(JNIEnv* env) {
  return ReadValue<jobject>(env, this, nullptr,
                            [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                              return rs->makeDate(env, v, t, n, rs->getJobj());
                            });
}

jobject Column::getTime(JNIEnv* env) {
  return ReadValue<jobject>(env, this, nullptr,
                            [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                              return rs->makeTime(env, v, t, n, rs->getJobj());
                            });
}

jobject Column::getTimestamp(JNIEnv* env) {
  return ReadValue<jobject>(env, this, nullptr,
                            [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                              return rs->makeTimestamp(env, v, t, n, rs->getJobj());
                            });
}

jobject Column::getBigDecimal(JNIEnv* env, jint scale) {
  return ReadValue<jobject>(env, this, nullptr,
                            [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                              return rs->makeBigDecimal(env, v, t, n, scale);
                            });
}

jobject Column::getBigDecimal(JNIEnv* env) { return getBigDecimal(env, -1); }

jobject Column::getAsciiStream(JNIEnv* env) {
  return ReadValue<jobject>(env, this, nullptr,
                            [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                              return rs->makeAsciiStream(env, v, t, n);
                            });
}

jobject Column::getBinaryStream(JNIEnv* env) {
  return ReadValue<jobject>(env, this, nullptr,
                            [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                              return rs->makeBinaryStream(env, v, t, n);
                            });
}

jobject Column::getCharacterStream(JNIEnv* env) {
  return ReadValue<jobject>(env, this, nullptr,
                            [&](ResultSet* rs, void* v, SQLSMALLINT t, SQLLEN n) {
                              return rs->makeCharacterStream(env, v, t, n);
                            });
}

jstring Column::getString(JNIEnv* env) {
  void* value = getData(env, false);
  if (value == nullptr || resultSet->wasNull()) return nullptr;
  const SQLLEN n = clampedLength();
  if (isGuid && n >= 16) {
    // The 16 bytes in buffer order, grouped 4-2-2-2-6; no group is byte-swapped.
    const auto* b = static_cast<const unsigned char*>(value);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return env->NewStringUTF(text);
  }
  return resultSet->makeString(env, value, valueCType(), n);
}

jobject Column::getClobCharacterStream(JNIEnv* env) {
  void* value = getData(env, true);
  if (value == nullptr || resultSet->wasNull()) return nullptr;
  return resultSet->makeClobCharacterStream(env, value, valueCType(), clampedLength());
}

jstring Column::getNextClobPiece(JNIEnv* env) {
  // Only a late-bound value opened on this very row continues.
  if (!lateBound || indicators[0] == SQL_NULL_DATA ||
      cachedRow != resultSet->currentRowNumber() || cachedRow == 0)
    return nullptr;
  const bool read = resultSet->getNStatement()->getLongData(
      env, &data, &elementSize, &indicators[0], columnNumber, cType, true, true);
  resultSet->lastGetDataColumn = static_cast<SQLSMALLINT>(columnNumber);
  if (!read || data == nullptr) {
    // The value is used up (or the read failed): the next getter reads the row afresh.
    cachedRow = 0;
    return nullptr;
  }
  return resultSet->makeString(env, data, valueCType(), clampedLength());
}

jlong Column::getBlobLength(JNIEnv* env) {
  if (!lateBound) return -3;
  unsigned char none[1];
  SQLLEN length = 0;
  const SQLRETURN rc =
      SQLGetData(resultSet->handle(), columnNumber, SQL_C_BINARY, none, 0, &length);
  resultSet->setFlag(ResultSet::kWasNull, length == SQL_NULL_DATA);
  if (rc == SQL_NO_DATA || length == SQL_NULL_DATA) return -1;
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
    if (resultSet->sqlError(env, rc, SQL_HANDLE_STMT, resultSet->handle())) return -2;
  }
  return static_cast<jlong>(length);
}

jbyteArray Column::getBlobBytes(JNIEnv* env, jint length) {
  if (length < 0) {
    RaiseWithNumber(env, "BAD_STREAM_LEN", length);
    return nullptr;
  }
  // A piece of 0 bytes reads nothing; it still tells NULL and the end of the value.
  void* buffer = NativeWarnObj::alloc(env, length > 0 ? static_cast<std::size_t>(length) : 1);
  if (buffer == nullptr) return nullptr;
  SQLLEN got = 0;
  const SQLRETURN rc =
      SQLGetData(resultSet->handle(), columnNumber, SQL_C_BINARY, buffer, length, &got);
  resultSet->setFlag(ResultSet::kWasNull, got == SQL_NULL_DATA);
  jbyteArray piece = nullptr;
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    if (got != SQL_NULL_DATA) {
      // A full piece (more follows) is the whole buffer; the last one is what the driver
      // says, never more than the buffer.
      SQLLEN n = rc == SQL_SUCCESS_WITH_INFO ? length : got;
      if (n < 0 || n > length) n = length;
      piece = env->NewByteArray(static_cast<jsize>(n));
      if (piece != nullptr && n > 0)
        env->SetByteArrayRegion(piece, 0, static_cast<jsize>(n),
                                static_cast<const jbyte*>(buffer));
    }
  } else if (rc != SQL_NO_DATA) {
    resultSet->sqlError(env, rc, SQL_HANDLE_STMT, resultSet->handle());
  }
  NativeWarnObj::free(buffer);
  return piece;
}

// ---- ResultSet: index getters and row position -----------------------------------------------

Column* ResultSet::valueColumn(JNIEnv* env, jint column) {
  if (!onInsertRow() && !isCurrentRowValid()) {
    NOSE()->raiseError(env, "NOT_ON_ROW");
    return nullptr;
  }
  if (column < 1 || column > columnCount || columns == nullptr || columns[column - 1] == nullptr) {
    RaiseWithNumber(env, "BAD_COLUMN_NUM", column);
    return nullptr;
  }
  return columns[column - 1];
}

#define VQ_INDEX_GETTER(R, name)                        \
  R ResultSet::name(JNIEnv* env, jint column) {         \
    Column* c = valueColumn(env, column);               \
    return c != nullptr ? c->name(env) : R{};           \
  }
VQ_INDEX_GETTER(jbyte, getByte)
VQ_INDEX_GETTER(jshort, getShort)
VQ_INDEX_GETTER(jint, getInt)
VQ_INDEX_GETTER(jlong, getLong)
VQ_INDEX_GETTER(jfloat, getFloat)
VQ_INDEX_GETTER(jdouble, getDouble)
VQ_INDEX_GETTER(jboolean, getBoolean)
VQ_INDEX_GETTER(jbyteArray, getBytes)
VQ_INDEX_GETTER(jstring, getString)
VQ_INDEX_GETTER(jobject, getDate)
VQ_INDEX_GETTER(jobject, getTime)
VQ_INDEX_GETTER(jobject, getTimestamp)
VQ_INDEX_GETTER(jobject, getBigDecimal)
VQ_INDEX_GETTER(jobject, getAsciiStream)
VQ_INDEX_GETTER(jobject, getBinaryStream)
VQ_INDEX_GETTER(jobject, getCharacterStream)
VQ_INDEX_GETTER(jobject, getClobCharacterStream)
VQ_INDEX_GETTER(jstring, getNextClobPiece)
VQ_INDEX_GETTER(jlong, getBlobLength)
#undef VQ_INDEX_GETTER

jobject ResultSet::getBigDecimal(JNIEnv* env, jint column, jint scale) {
  Column* c = valueColumn(env, column);
  return c != nullptr ? c->getBigDecimal(env, scale) : nullptr;
}

jbyteArray ResultSet::getBlobBytes(JNIEnv* env, jint column, jint length) {
  Column* c = valueColumn(env, column);
  return c != nullptr ? c->getBlobBytes(env, length) : nullptr;
}

jint ResultSet::getRow(JNIEnv* env) {
  if (onInsertRow()) {
    NOSE()->raiseError(env, "NO_ROW_NUM_ON_INSERT");
    return 0;
  }
  return currentRowNumber();
}

bool ResultSet::isFirst(JNIEnv*) { return !onInsertRow() && currentRowNumber() == 1; }

// Asked of the position, not of the row number: a row counted from the end can carry the
// number that also means "after the last row" (the first of 100 rows reached from the end
// is row -100).
bool ResultSet::isBeforeFirst(JNIEnv*) { return !onInsertRow() && isBeforeFirstRow(); }
bool ResultSet::isAfterLast(JNIEnv*) { return !onInsertRow() && isAfterLastRow(); }

// The updaters of a result set: a new value for one column of the current row (or of the
// insert row) is converted into that row's element of the column's bound buffer, where
// the last fetch put the old one, and the row's indicator is set. Nothing goes to the
// driver here; updateRow and insertRow send the row's buffers as they stand.
//
// The buffers keep the element size chosen when the result set was made: a value that
// needs more raises "OVERSIZE_UPDATE". A value that is refused leaves the row as it was,
// so that a later updateRow cannot send half a value or a stale length.
#include <cstring>

#include "jdbcodbc/c/resultset.h"
#include "jdbcodbc/c/statement.h"

namespace {

// The setter family. `convert(rs, element, &length)` is one of NativeWarnObj's
// converters without a growth slot; `readsStream` marks those that read a Java stream
// straight into the element, which can fail with part of the element overwritten.
template <class Convert>
void SetElement(JNIEnv* env, Column* column, jint row, bool readsStream, Convert convert) {
  if (column->lateBound) {
    RaiseWithValue(env, "NO_LONG_UPDATE", column->columnNumber);
    return;
  }
  ResultSet* rs = column->resultSet;
  // The updaters pass the current row; the check keeps a stray position off the buffers.
  if (row < 0 || static_cast<std::uint32_t>(row) >= rs->rowsetCapacity) {
    NOSE()->raiseError(env, "NOT_ON_ROW");
    return;
  }
  void* element = column->element(row);
  const std::size_t bytes = static_cast<std::size_t>(column->elementSize);
  void* saved = nullptr;
  if (readsStream) {
    saved = NativeWarnObj::alloc(env, bytes);
    if (saved == nullptr) return;
    std::memcpy(saved, element, bytes);
  }
  SQLLEN length = 0;
  const void* stored = convert(rs, element, &length);
  bool ok = !env->ExceptionCheck();
  if (ok && stored == nullptr && length != SQL_NULL_DATA) {
    // The converter has no rule for this C type and raised nothing.
    NOSE()->raiseError(env, "UNSUPPORTED_CONVERSION");
    ok = false;
  }
  if (ok) {
    column->indicators[row] = length;
  } else if (saved != nullptr) {
    std::memcpy(element, saved, bytes);
  }
  NativeWarnObj::free(saved);
}

}  // namespace

// ---- Column setters --------------------------------------------------------------------------

void Column::setNull(JNIEnv* env, jint row) {
  SetElement(env, this, row, false, [](ResultSet*, void*, SQLLEN* length) -> void* {
    *length = SQL_NULL_DATA;
    return nullptr;
  });
}

#define VQ_COLUMN_SETTER(name, T)                                                           \
  void Column::name(JNIEnv* env, jint row, T value) {                                       \
    SetElement(env, this, row, false, [&](ResultSet* rs, void* element, SQLLEN* length) {   \
      return rs->name(env, element, cType, elementSize, length, value, nullptr);            \
    });                                                                                     \
  }
VQ_COLUMN_SETTER(setBytes, jbyteArray)
VQ_COLUMN_SETTER(setByte, jbyte)
VQ_COLUMN_SETTER(setBoolean, jboolean)
VQ_COLUMN_SETTER(setShort, jshort)
VQ_COLUMN_SETTER(setInt, jint)
VQ_COLUMN_SETTER(setLong, jlong)
VQ_COLUMN_SETTER(setFloat, jfloat)
VQ_COLUMN_SETTER(setDouble, jdouble)
VQ_COLUMN_SETTER(setBigDecimal, jobject)
VQ_COLUMN_SETTER(setString, jstring)
VQ_COLUMN_SETTER(setDate, jobject)
VQ_COLUMN_SETTER(setTime, jobject)
VQ_COLUMN_SETTER(setTimestamp, jobject)
#undef VQ_COLUMN_SETTER

#define VQ_COLUMN_STREAM_SETTER(name, readsStream)                                            \
  void Column::name(JNIEnv* env, jint row, jobject stream, jint length) {                     \
    SetElement(env, this, row, readsStream, [&](ResultSet* rs, void* element, SQLLEN* out) { \
      return rs->name(env, element, cType, elementSize, out, stream, length, nullptr);        \
    });                                                                                       \
  }
VQ_COLUMN_STREAM_SETTER(setBinaryStream, true)
VQ_COLUMN_STREAM_SETTER(setAsciiStream, true)
// A reader is read whole into a Java string before anything is stored.
VQ_COLUMN_STREAM_SETTER(setCharacterStream, false)
#undef VQ_COLUMN_STREAM_SETTER

// ---- ResultSet updaters ----------------------------------------------------------------------

void ResultSet::updateNull(JNIEnv* env, jint column) {
  if (Column* c = valueColumn(env, column)) c->setNull(env, rowInRowset);
}

#define VQ_RS_UPDATER(name, setter, T)                                        \
  void ResultSet::name(JNIEnv* env, jint column, T value) {                   \
    if (Column* c = valueColumn(env, column)) c->setter(env, rowInRowset, value); \
  }
VQ_RS_UPDATER(updateBytes, setBytes, jbyteArray)
VQ_RS_UPDATER(updateByte, setByte, jbyte)
VQ_RS_UPDATER(updateBoolean, setBoolean, jboolean)
VQ_RS_UPDATER(updateShort, setShort, jshort)
VQ_RS_UPDATER(updateInt, setInt, jint)
VQ_RS_UPDATER(updateLong, setLong, jlong)
VQ_RS_UPDATER(updateFloat, setFloat, jfloat)
VQ_RS_UPDATER(updateDouble, setDouble, jdouble)
VQ_RS_UPDATER(updateBigDecimal, setBigDecimal, jobject)
VQ_RS_UPDATER(updateString, setString, jstring)
VQ_RS_UPDATER(updateDate, setDate, jobject)
VQ_RS_UPDATER(updateTime, setTime, jobject)
VQ_RS_UPDATER(updateTimestamp, setTimestamp, jobject)
#undef VQ_RS_UPDATER

#define VQ_RS_STREAM_UPDATER(name, setter)                                       \
  void ResultSet::name(JNIEnv* env, jint column, jobject stream, jint length) {  \
    if (Column* c = valueColumn(env, column)) c->setter(env, rowInRowset, stream, length); \
  }
VQ_RS_STREAM_UPDATER(updateBinaryStream, setBinaryStream)
VQ_RS_STREAM_UPDATER(updateAsciiStream, setAsciiStream)
VQ_RS_STREAM_UPDATER(updateCharacterStream, setCharacterStream)
#undef VQ_RS_STREAM_UPDATER

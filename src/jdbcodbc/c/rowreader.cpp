// The native row reader: one call per row, values copied as plain numbers and text and
// binary handed over by address into the result set's buffers, no Java object per value.
//
// Unlike the rest of the bridge, NULL values are marked as such (cell type 0) instead
// of delivering whatever the element held, and a late-bound column is read for the new
// row (SQLGetData, once) so its address never shows an earlier row's value.
#include "jdbcodbc/c/rowreader.h"

#include <cstring>

#include "jdbcodbc/c/jni_frame.h"
#include "jdbcodbc/c/resultset.h"

namespace {

template <class T>
void PutValue(el_cell* cell, std::int32_t type, T value) {
  cell->type = type;
  cell->zero = 0;
  cell->length = 0;
  std::memcpy(cell->value, &value, sizeof value);
}

void PutBytes(el_cell* cell, std::int32_t type, const void* bytes, std::size_t size) {
  cell->type = type;
  cell->zero = 0;
  cell->length = 0;
  std::memcpy(cell->value, bytes, size);
}

void PutAddress(el_cell* cell, std::int32_t type, const void* address, SQLLEN length) {
  cell->type = type;
  cell->zero = 0;
  cell->length = length > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(length);
  std::memcpy(cell->value, &address, sizeof address);
}

// Fills one cell from the current row of `column`; false when reading it raised.
bool FillCell(JNIEnv* env, Column* column, el_cell* cell) {
  void* v = column->getData(env, false);
  if (v == nullptr || column->resultSet->wasNull()) {
    if (env->ExceptionCheck()) return false;
    cell->type = kELNullCell;
    cell->zero = 0;
    cell->length = 0;
    return true;
  }
  switch (column->cType) {
    case SQL_C_FLOAT: {
      float f;
      std::memcpy(&f, v, sizeof f);
      PutValue(cell, SQL_C_DOUBLE, static_cast<double>(f));
      break;
    }
    case SQL_C_DOUBLE: {
      double d;
      std::memcpy(&d, v, sizeof d);
      PutValue(cell, SQL_C_DOUBLE, d);
      break;
    }
    case SQL_C_TYPE_DATE:
      PutBytes(cell, SQL_C_DATE, v, sizeof(SQL_DATE_STRUCT));
      break;
    case SQL_C_TYPE_TIME:
      PutBytes(cell, SQL_C_TIME, v, sizeof(SQL_TIME_STRUCT));
      break;
    case SQL_C_TYPE_TIMESTAMP:
      PutBytes(cell, SQL_C_TIMESTAMP, v, sizeof(SQL_TIMESTAMP_STRUCT));
      break;
    case SQL_C_STINYINT:
      PutValue(cell, SQL_C_SBIGINT, static_cast<std::int64_t>(*static_cast<const signed char*>(v)));
      break;
    case SQL_C_SBIGINT: {
      std::int64_t i;
      std::memcpy(&i, v, sizeof i);
      PutValue(cell, SQL_C_SBIGINT, i);
      break;
    }
    case SQL_C_SLONG: {
      std::int32_t i;
      std::memcpy(&i, v, sizeof i);
      PutValue(cell, SQL_C_SLONG, i);
      break;
    }
    case SQL_C_SSHORT: {
      std::int16_t s;
      std::memcpy(&s, v, sizeof s);
      PutValue(cell, SQL_C_SLONG, static_cast<std::int32_t>(s));
      break;
    }
    case SQL_C_WCHAR:
    case SQL_C_BINARY:
      PutAddress(cell, column->cType, v, column->clampedLength());
      break;
    case kCTypeNumericText:
      // Bound numeric text is 8-bit; read late it is UTF-16 (Column::valueCType).
      PutAddress(cell, column->lateBound ? SQL_C_WCHAR : SQL_C_CHAR, v, column->clampedLength());
      break;
    default:
      break;  // bit columns and anything else: the cell stays as the caller left it
  }
  return true;
}

}  // namespace

bool ResultSet::getNextELRow(JNIEnv* env, el_row* row) {
  if (row == nullptr) return false;
  if (!next(env)) return false;
  if (columnCount < 1 || row->cellCount == 0 || row->cells == nullptr) return true;
  for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(columnCount) && i < row->cellCount;
       ++i) {
    if (columns[i] != nullptr && !FillCell(env, columns[i], &row->cells[i])) return false;
  }
  return true;
}

extern "C" JNIEXPORT int nativeReadRow(JNIEnv* env, ResultSet* resultSet, el_row* row) {
  if (resultSet == nullptr || env == nullptr) return 0;
  bool read = false;
  GuardedCall(env, [&] { read = resultSet->getNextELRow(env, row); });
  return read ? 1 : 0;
}

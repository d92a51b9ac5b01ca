// The native row reader: records through which native code on the Java side reads a
// result set's rows without a JNI call per value. `IIResultSet.getNativeRowReader(address)`
// writes an el_reader at the address; the caller then calls its `readRow` with an el_row
// of its own for each row, until it answers 0 (a pending Java exception then tells an
// error from the end of the data).
//
// Layouts (64-bit build; pointers are 8 bytes, integers in native little-endian order):
//
//   el_reader, 24 bytes          el_row, 16 bytes              el_cell, 32 bytes
//   0  env        JNIEnv*        0  cellCount  u32             0  type    i32 (below)
//   8  resultSet  ResultSet*     4  (reserved) not read        4  (zero)  i32, written 0
//   16 readRow    function       8  cells      el_cell*        8  length  i32
//                                                              12 (unused) not written
//                                                              16 value   16 bytes
//
// Cell `type` and `value` by the column's C type:
//   SQL_C_FLOAT, SQL_C_DOUBLE        8    double at 16
//   SQL_C_TYPE_DATE                  9    year i16, month u16, day u16 at 16..21
//   SQL_C_TYPE_TIME                  10   hour, minute, second u16 at 16..21
//   SQL_C_TYPE_TIMESTAMP             11   the 16-byte timestamp record at 16..31
//   SQL_C_STINYINT, SQL_C_SBIGINT    -25  i64 (sign-extended) at 16..23
//   SQL_C_SSHORT, SQL_C_SLONG        -16  i32 (sign-extended) at 16..19
//   SQL_C_WCHAR                      -8   address of UTF-16 text ending in a zero unit
//   numeric text, read late          -8   the same (a late-bound value is read as UTF-16)
//   numeric text, bound              1    address of 8-bit decimal text ending in a zero byte
//   SQL_C_BINARY                     -2   address of the bytes
//   SQL NULL (any column)            0    value not written, length 0
//   SQL_C_BIT and any other          the cell is left as the caller wrote it
// An address cell (offset 16, 8 bytes) carries in `length` the bytes of the value
// without its terminator (a bound element: the whole element when the driver reported
// no length). Addresses point into the result set's buffers and stay valid until the
// next move or the close of the result set.
#ifndef VQ_JDBCODBC_ROWREADER_H
#define VQ_JDBCODBC_ROWREADER_H

#include <jni.h>

#include <cstddef>
#include <cstdint>

class ResultSet;

extern "C" {

struct el_cell {
  std::int32_t type;       // cell type code (above)
  std::int32_t zero;       // written 0
  std::int32_t length;     // bytes at the address of an address cell; 0 for value cells
  std::int32_t unused;     // not written
  unsigned char value[16];  // the value, or an address in its first 8 bytes
};

struct el_row {
  std::uint32_t cellCount;  // cells at `cells`
  std::uint32_t reserved;   // not read
  el_cell* cells;           // cellCount contiguous cells, written by the reader
};

using el_read_row = int (*)(JNIEnv* env, ResultSet* resultSet, el_row* row);

struct el_reader {
  JNIEnv* env;          // the JNIEnv of the getNativeRowReader call
  ResultSet* resultSet;  // the result-set peer
  el_read_row readRow;  // nativeReadRow
};

// Moves the result set to its next row and fills the row's cells: 1 when a row was
// read, 0 at the end of the data, after an error (Java exception pending) or when
// `resultSet` is null. Takes no lock and no Java monitor: the caller keeps every other
// thread off the result set meanwhile.
JNIEXPORT int nativeReadRow(JNIEnv* env, ResultSet* resultSet, el_row* row);

}  // extern "C"

static_assert(sizeof(el_cell) == 32, "el_cell is 32 bytes");
static_assert(offsetof(el_cell, value) == 16, "a cell's value starts at byte 16");
static_assert(sizeof(el_row) == 16 && offsetof(el_row, cells) == 8, "el_row layout");
static_assert(sizeof(el_reader) == 24 && offsetof(el_reader, readRow) == 16, "el_reader layout");

// Cell type of an SQL NULL value.
constexpr std::int32_t kELNullCell = 0;

#endif  // VQ_JDBCODBC_ROWREADER_H

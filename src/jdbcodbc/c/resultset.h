// The native peer of the Java IIResultSet: the open cursor of one Statement, its columns
// bound column-wise for a block of rows (the rowset), and the cursor position inside
// that block.
//
// Position: `rowBase` is the row number of the rowset's first row (positive when the
// rowset was reached from the start, first row 1; negative when reached from the end,
// last row -1); `rowInRowset` is the 0-based position in the rowset, -1 before the
// first row and equal to the rows fetched after the last row. Moves inside the rowset
// make no ODBC call; a rowset shorter than requested ends the data.
//
// Columns: every column whose type has a fixed or declared size is bound with
// SQLBindCol to `rowsetCapacity` elements; long text and long binary columns (and, when
// the driver cannot read unbound columns before bound ones, every column after them)
// are late-bound and read on demand with SQLGetData by the value getters.
//
// Every operation that can fail leaves a Java exception pending and gives its zero
// value; none throws.
#ifndef VQ_JDBCODBC_RESULTSET_H
#define VQ_JDBCODBC_RESULTSET_H

#include <jni.h>

#include <cstdint>

#include "jdbcodbc/c/nativeobj.h"

class Statement;
class ResultSet;

// The column number a label-form native works on: findColumn's answer, or 0 after
// raising "BAD_COLUMN_NAME" with the label (for a null label findColumn has raised
// "NULL_POINTER"). In resultset_natives.cpp.
jint LabelColumn(JNIEnv* env, ResultSet* rs, jstring label);

// The C type of a NUMERIC, DECIMAL or unsigned BIGINT value carried as decimal text: a
// bound column is bound as SQL_C_CHAR (narrow text with a terminator), a late-bound one
// is read as SQL_C_WCHAR.
constexpr SQLSMALLINT kCTypeNumericText = -9999;

// Row status values that make a usable row.
inline bool IsUsableRowStatus(SQLUSMALLINT status) {
  return status == SQL_ROW_SUCCESS || status == SQL_ROW_UPDATED ||
         status == SQL_ROW_SUCCESS_WITH_INFO;
}

// The C type and element size a column of an SQL type gets. `elementSize` 0 means the
// size comes from the column's octet length (see AdjustOctetLength); `lateBound` marks
// long text and long binary. False for an SQL type the bridge cannot fetch.
struct ColumnTypeChoice {
  SQLSMALLINT cType = 0;
  SQLLEN elementSize = 0;
  bool lateBound = false;
  bool isGuid = false;
  bool longBinary = false;
};
// Which descriptor fields the choice for an SQL type depends on: SQL_DESC_UNSIGNED for
// the integer types, SQL_DESC_PRECISION and SQL_DESC_SCALE for NUMERIC and DECIMAL.
bool TypeDependsOnSign(SQLLEN sqlType);
bool TypeDependsOnScale(SQLLEN sqlType);
bool ChooseColumnType(SQLLEN sqlType, bool isUnsigned, SQLLEN precision, SQLLEN scale,
                      ColumnTypeChoice* out);
// The element size for an octet length: narrow text is doubled plus a UTF-16
// terminator, wide text gets the terminator; a size of 0 (or a negative length) becomes
// 1. 0 when the length is too large for a buffer.
SQLLEN AdjustOctetLength(SQLLEN sqlType, SQLLEN octetLength);

// Label order: only A-Z fold to a-z, every other UTF-16 unit compares by its value; of
// two labels equal over the shorter length the shorter comes first.
int CompareLabels(const jchar* a, std::int32_t aLength, const jchar* b, std::int32_t bLength);

// One result column. Buffers come from and go back to NativeWarnObj's allocator.
class Column {
 public:
  // `index` is 0-based. Reads the descriptor fields, chooses C type and element size,
  // allocates and binds; a failure leaves the column in the state reached and the
  // exception pending.
  Column(JNIEnv* env, ResultSet* resultSet, unsigned short index);
  ~Column();
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;

  // SQLBindCol of `data`, `elementSize` and `indicators` (numeric text as SQL_C_CHAR).
  bool bind(JNIEnv* env);
  // The indicator of the current row (late-bound: the only one) and its address.
  SQLLEN indicator() const;
  SQLLEN* indicatorAddr() const;
  // The indicator of rowset element `row` is SQL_NULL_DATA.
  bool isNull(long row) const;
  // Reads the label (SQL_DESC_NAME) into `name`; false when the read failed.
  bool fillName(JNIEnv* env);
  // The address of rowset element `row` of a bound column.
  void* element(long row) const {
    return static_cast<char*>(data) + static_cast<std::size_t>(row) *
                                          static_cast<std::size_t>(elementSize);
  }

  // ---- Value getters (column_access.cpp) -------------------------------------------------
  // Each reads the current row's value (a late-bound one with SQLGetData, once per row)
  // and converts it; SQL NULL and failures give the zero value, failures with a Java
  // exception pending. They set or clear the result set's wasNull flag.
  bool lateBindable(JNIEnv* env);
  // The address of the current row's value, null for SQL NULL or after a failure.
  void* getData(JNIEnv* env, bool firstPieceOnly);
  jbyte getByte(JNIEnv* env);
  jshort getShort(JNIEnv* env);
  jint getInt(JNIEnv* env);
  jlong getLong(JNIEnv* env);
  jfloat getFloat(JNIEnv* env);
  jdouble getDouble(JNIEnv* env);
  jboolean getBoolean(JNIEnv* env);
  jbyteArray getBytes(JNIEnv* env);
  jstring getString(JNIEnv* env);
  jobject getDate(JNIEnv* env);
  jobject getTime(JNIEnv* env);
  jobject getTimestamp(JNIEnv* env);
  jobject getBigDecimal(JNIEnv* env, jint scale);
  jobject getBigDecimal(JNIEnv* env);
  jobject getAsciiStream(JNIEnv* env);
  jobject getBinaryStream(JNIEnv* env);
  jobject getCharacterStream(JNIEnv* env);
  jobject getClobCharacterStream(JNIEnv* env);
  jstring getNextClobPiece(JNIEnv* env);
  jlong getBlobLength(JNIEnv* env);
  jbyteArray getBlobBytes(JNIEnv* env, jint length);
  // The C type the converters get: numeric text read late is UTF-16.
  SQLSMALLINT valueCType() const;
  // The bytes of a text value the converters may read: the indicator, clamped to the
  // element for a bound column (SQL_NO_TOTAL or a truncated value).
  SQLLEN clampedLength() const;

  // ---- Value setters (resultset_update.cpp) -----------------------------------------------
  // Each writes one Java value into rowset element `row` as the column's C type and sets
  // that row's indicator (-1 for a null Java object). The element never grows: a value
  // larger than it raises "OVERSIZE_UPDATE". A late-bound column raises "NO_LONG_UPDATE"
  // with its number. A refused value leaves the row's indicator and bytes as they were.
  void setNull(JNIEnv* env, jint row);
  void setBytes(JNIEnv* env, jint row, jbyteArray value);
  void setByte(JNIEnv* env, jint row, jbyte value);
  void setBoolean(JNIEnv* env, jint row, jboolean value);
  void setShort(JNIEnv* env, jint row, jshort value);
  void setInt(JNIEnv* env, jint row, jint value);
  void setLong(JNIEnv* env, jint row, jlong value);
  void setFloat(JNIEnv* env, jint row, jfloat value);
  void setDouble(JNIEnv* env, jint row, jdouble value);
  void setBigDecimal(JNIEnv* env, jint row, jobject value);
  void setString(JNIEnv* env, jint row, jstring value);
  void setDate(JNIEnv* env, jint row, jobject value);
  void setTime(JNIEnv* env, jint row, jobject value);
  void setTimestamp(JNIEnv* env, jint row, jobject value);
  void setBinaryStream(JNIEnv* env, jint row, jobject stream, jint length);
  void setAsciiStream(JNIEnv* env, jint row, jobject stream, jint length);
  void setCharacterStream(JNIEnv* env, jint row, jobject reader, jint length);

  ResultSet* resultSet = nullptr;  // owner
  jchar* name = nullptr;           // label, filled by the first label lookup
  std::int32_t nameLength = 0;     // in UTF-16 units, without a terminator
  // Bound: rowsetCapacity x elementSize bytes. Late-bound: the value last read (the
  // value getters own its contents), null until the first read.
  void* data = nullptr;
  // Bound: bytes per element. Late-bound: byte length of the value last read.
  SQLLEN elementSize = 0;
  // Bound: one per rowset element. Late-bound: exactly one.
  SQLLEN* indicators = nullptr;
  SQLSMALLINT cType = 0;           // ODBC C type of `data`; kCTypeNumericText
  SQLUSMALLINT columnNumber = 0;   // 1-based
  std::uint8_t lateBound = 0;      // read on demand with SQLGetData
  std::uint8_t isGuid = 0;         // the SQL type is SQL_GUID
  std::int32_t cachedRow = 0;      // row number whose late-bound value `data` holds; 0 none
};

class ResultSet : public NativeWarnObj {
 public:
  // Flag bits of `flags`.
  static constexpr std::uint8_t kWasNull = 0x01;
  static constexpr std::uint8_t kOnInsertRow = 0x02;
  static constexpr std::uint8_t kRowInserted = 0x04;
  static constexpr std::uint8_t kRowDeleted = 0x08;
  static constexpr std::uint8_t kRowUpdated = 0x10;
  static constexpr std::uint8_t kColumnsSorted = 0x20;
  static constexpr std::uint8_t kDefaultFetchSize = 0x40;
  static constexpr std::uint8_t kSingleRowRowset = 0x80;

  // The row number getRow answers after the last row.
  static constexpr std::int32_t kAfterLastRowNumber = -100;

  // Binds the statement's open cursor. Errors leave a pending Java exception; the
  // creator then runs fini and deletes the object.
  ResultSet(JNIEnv* env, Statement* statement);
  ~ResultSet() override;

  // Closes the peer of a Java IIResultSet object (`keepCursor` set: the statement's
  // cursor stays open). Takes the object's monitor, then the statement's, never both.
  static void cleanup(JNIEnv* env, jobject object, unsigned keepCursor);

  void fini(JNIEnv* env) override;
  ConstructibleINativeClass* getConstructibleINativeClass() override;
  jobject getConnection() override;
  Connection* getNConnection() override;

  Statement* getNStatement() const { return statement; }
  SQLHSTMT handle() const;
  jobject getStatement(JNIEnv* env);
  jint getType(JNIEnv* env);
  jint getConcurrency(JNIEnv* env);
  void setFetchDirection(JNIEnv* env, jint direction);
  jint getFetchDirection();
  jstring getCursorName(JNIEnv* env);
  jint getFetchSize() const;

  bool wasNull() const { return (flags & kWasNull) != 0; }
  bool rowDeleted() const { return (flags & kRowDeleted) != 0; }
  bool rowInserted() const { return (flags & kRowInserted) != 0; }
  bool rowUpdated() const { return (flags & kRowUpdated) != 0; }
  bool onInsertRow() const { return (flags & kOnInsertRow) != 0; }
  void setFlag(std::uint8_t bit, bool on) {
    flags = static_cast<std::uint8_t>(on ? (flags | bit) : (flags & ~bit));
  }

  // Catalog results: swaps columns a and b (1-based) when both exist.
  void switchColumns(short a, short b);
  // The label index.
  bool sortColumns(JNIEnv* env);
  int compareColumnName(long a, long b) const;
  void fixHeapColumnOrder(long position, long value, long heapSize);
  // 1-based column number of the label, 0 when none matches.
  jint findColumn(JNIEnv* env, jstring label);

  // ---- Navigation -----------------------------------------------------------------------
  // SQLFetchScroll into the bound buffers: the ODBC result, -1 when the connection has
  // been closed.
  SQLRETURN fetchScroll(JNIEnv* env, SQLSMALLINT orientation, SQLLEN offset);
  bool next(JNIEnv* env);
  bool previous(JNIEnv* env);
  bool absolute(JNIEnv* env, std::int32_t row);
  bool relative(JNIEnv* env, std::int32_t rows);
  void beforeFirst(JNIEnv* env);
  void afterLast(JNIEnv* env);
  bool last(JNIEnv* env);
  bool isLast(JNIEnv* env);
  // The rowset index of a row number, -1 when the row is not in the current rowset.
  std::int32_t inSetIndex(std::int32_t row) const;
  bool isCurrentRowValid() const { return rowInRowset >= 0 && rowInRowset < fetchedRows(); }
  // Sets the rowset size; *rows receives the size in force.
  bool changeCurrentRowsetSize(JNIEnv* env, SQLULEN* rows);
  // Positions the driver's cursor on rowset index `row` and runs the SQLSetPos
  // operation there (SQL_POSITION is skipped for the row already positioned).
  bool setInSetPos(JNIEnv* env, long row, SQLUSMALLINT operation);
  void setFetchSize(JNIEnv* env, jint rows);

  // ---- Column values (column_access.cpp) ----------------------------------------------
  // Index getters: "NOT_ON_ROW" off a row (unless on the insert row), "BAD_COLUMN_NUM"
  // for a column outside 1..columnCount, else the column's getter.
  jbyte getByte(JNIEnv* env, jint column);
  jshort getShort(JNIEnv* env, jint column);
  jint getInt(JNIEnv* env, jint column);
  jlong getLong(JNIEnv* env, jint column);
  jfloat getFloat(JNIEnv* env, jint column);
  jdouble getDouble(JNIEnv* env, jint column);
  jboolean getBoolean(JNIEnv* env, jint column);
  jbyteArray getBytes(JNIEnv* env, jint column);
  jstring getString(JNIEnv* env, jint column);
  jobject getDate(JNIEnv* env, jint column);
  jobject getTime(JNIEnv* env, jint column);
  jobject getTimestamp(JNIEnv* env, jint column);
  jobject getBigDecimal(JNIEnv* env, jint column, jint scale);
  jobject getBigDecimal(JNIEnv* env, jint column);
  jobject getAsciiStream(JNIEnv* env, jint column);
  jobject getBinaryStream(JNIEnv* env, jint column);
  jobject getCharacterStream(JNIEnv* env, jint column);
  jobject getClobCharacterStream(JNIEnv* env, jint column);
  jstring getNextClobPiece(JNIEnv* env, jint column);
  jlong getBlobLength(JNIEnv* env, jint column);
  jbyteArray getBlobBytes(JNIEnv* env, jint column, jint length);
  // The column a getter reads, or null after raising.
  Column* valueColumn(JNIEnv* env, jint column);
  // Row-position queries: getRow raises "NO_ROW_NUM_ON_INSERT" on the insert row, where
  // the three others answer false.
  jint getRow(JNIEnv* env);
  bool isFirst(JNIEnv* env);
  bool isBeforeFirst(JNIEnv* env);
  bool isAfterLast(JNIEnv* env);

  // ---- Updaters (resultset_update.cpp) ----------------------------------------------------
  // The getters' front ("NOT_ON_ROW", "BAD_COLUMN_NUM"), then the column's setter on the
  // current row (element 0 on the insert row). No driver call: updateRow and insertRow
  // send the row's buffers.
  void updateNull(JNIEnv* env, jint column);
  void updateBytes(JNIEnv* env, jint column, jbyteArray value);
  void updateByte(JNIEnv* env, jint column, jbyte value);
  void updateBoolean(JNIEnv* env, jint column, jboolean value);
  void updateShort(JNIEnv* env, jint column, jshort value);
  void updateInt(JNIEnv* env, jint column, jint value);
  void updateLong(JNIEnv* env, jint column, jlong value);
  void updateFloat(JNIEnv* env, jint column, jfloat value);
  void updateDouble(JNIEnv* env, jint column, jdouble value);
  void updateBigDecimal(JNIEnv* env, jint column, jobject value);
  void updateString(JNIEnv* env, jint column, jstring value);
  void updateDate(JNIEnv* env, jint column, jobject value);
  void updateTime(JNIEnv* env, jint column, jobject value);
  void updateTimestamp(JNIEnv* env, jint column, jobject value);
  void updateBinaryStream(JNIEnv* env, jint column, jobject stream, jint length);
  void updateAsciiStream(JNIEnv* env, jint column, jobject stream, jint length);
  void updateCharacterStream(JNIEnv* env, jint column, jobject reader, jint length);

  // ---- Positioned operations and the insert row (resultset_positioned.cpp) --------------
  // updateRow, deleteRow and cancelRowUpdates act on a valid current row and do nothing
  // elsewhere; updateRow and deleteRow raise "NOT_ON_ROW" on the insert row, whose
  // buffers must never reach a row of the cursor. refreshRow re-reads the position as it
  // stands (before the first row: the whole rowset). insertRow adds the insert row and
  // does nothing elsewhere. Driver failures raise from the statement's diagnostics and
  // clear the operation's result bit.
  void updateRow(JNIEnv* env);
  void deleteRow(JNIEnv* env);
  void refreshRow(JNIEnv* env);
  void cancelRowUpdates(JNIEnv* env);
  void insertRow(JNIEnv* env);
  // A rowset of one row whose columns start as NULL; "ALREADY_ON_INSERT" when there.
  void moveToInsertRow(JNIEnv* env);
  // Back to the row the insert row was entered from, re-fetched with the old rowset
  // size; nothing happens when not on the insert row. The result is the move's.
  bool moveToCurrentRow(JNIEnv* env);

  // ---- Native row reader (rowreader.cpp) -------------------------------------------------
  // Moves to the next row as next() does and copies its values into the caller's cells.
  bool getNextELRow(JNIEnv* env, struct el_row* row);

  // The rows in the current rowset as the driver reported them, never more than the
  // buffers hold.
  std::int32_t fetchedRows() const {
    return rowsFetched > rowsetCapacity ? static_cast<std::int32_t>(rowsetCapacity)
                                        : static_cast<std::int32_t>(rowsFetched);
  }
  bool isBeforeFirstRow() const { return rowInRowset < 0; }
  bool isAfterLastRow() const { return rowInRowset >= 0 && rowInRowset >= fetchedRows(); }
  // The current row number: 0 before the first row, kAfterLastRowNumber after the last.
  std::int32_t currentRowNumber() const {
    if (isBeforeFirstRow()) return 0;
    if (isAfterLastRow()) return kAfterLastRowNumber;
    return rowBase + rowInRowset;
  }

  // ---- Data (read by the value getters, the row reader and the updaters) --------------
  std::uint8_t lateBindingStarted = 0;  // every later column is late-bound
  std::uint8_t hasLongBinary = 0;       // the result has an SQL_LONGVARBINARY column
  jobject statementRef = nullptr;       // global reference to the Statement's Java object
  Statement* statement = nullptr;       // not owned
  Column** columns = nullptr;           // columnCount entries, owned
  std::int32_t* sortedColumns = nullptr;  // 0-based indexes in label order, owned
  SQLUSMALLINT* rowStatus = nullptr;    // rowsetCapacity entries (SQL_ATTR_ROW_STATUS_PTR)
  std::uint32_t rowsetCapacity = 0;     // rows every bound buffer holds
  std::uint32_t rowsetSize = 0;         // rows per fetch in force
  SQLULEN rowsFetched = 0;              // written by the driver (SQL_ATTR_ROWS_FETCHED_PTR)
  std::int32_t rowBase = 1;
  std::int32_t rowInRowset = -1;
  std::int32_t savedRow = -1;           // row to return to from the insert row
  std::int32_t positionedRow = 0;       // rowset index SQLSetPos last positioned on
  SQLSMALLINT columnCount = 0;
  SQLSMALLINT lastBoundColumn = 0;
  SQLSMALLINT lastGetDataColumn = 0;    // 0 after every move
  std::uint8_t flags = 0;

 private:
  bool construct(JNIEnv* env);
  bool setStmtAttr(JNIEnv* env, SQLINTEGER attribute, SQLPOINTER value);
  bool rowCheck(JNIEnv* env);
  bool connectionClosed() const;
  bool forwardOnly() const;
  // Unbinds the columns and takes the rows-fetched and row-status pointers back from
  // the statement handle, so that the driver keeps no address into this object.
  void releaseHandleFields();

  // Rows asked for by the fetch that loaded the current rowset: a rowset shorter than
  // that ends the data, even when the rowset size has changed since.
  std::uint32_t requestedRows_ = 0;
};

#endif  // VQ_JDBCODBC_RESULTSET_H

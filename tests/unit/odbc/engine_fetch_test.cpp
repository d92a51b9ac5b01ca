// Fetch side of the engine interface without a server: the fetch list built from bound
// columns (in-place numbers, internal buffers, the bookmark), and the conversion of one
// wire value as the client leaves it into the application's buffer, every output
// checked in buffers guarded with 0xFF bytes. The client is played by writing the wire
// values, indicators and lengths straight into the fetch list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "cmdseq/wire_values.h"
#include "odbc/engine.h"
#include "odbc/packed_decimal.h"
#include "odbc/parameters.h"
#include "odbc/statement.h"

namespace {

constexpr unsigned char kGuard = 0xFF;

// A buffer of `size` bytes with guard bytes on both sides, filled with the guard.
class Guarded {
 public:
  explicit Guarded(std::size_t size) : bytes_(size + 2 * kPad, kGuard), size_(size) {}
  char* data() { return reinterpret_cast<char*>(bytes_.data()) + kPad; }
  std::string text() const { return std::string(reinterpret_cast<const char*>(bytes_.data()) + kPad); }
  bool guards_intact() const {
    for (std::size_t i = 0; i < kPad; ++i) {
      if (bytes_[i] != kGuard || bytes_[kPad + size_ + i] != kGuard) return false;
    }
    return true;
  }
  // Bytes from `from` to the end of the buffer still hold the guard.
  bool untouched_from(std::size_t from) const {
    for (std::size_t i = from; i < size_; ++i) {
      if (bytes_[kPad + i] != kGuard) return false;
    }
    return true;
  }

 private:
  static constexpr std::size_t kPad = 8;
  std::vector<unsigned char> bytes_;
  std::size_t size_;
};

class FetchConv : public ApiFixture {
 protected:
  void TearDown() override {
    if (Stmt() != nullptr) {
      FreeFetchState(Stmt());
      FreeParamLists(Stmt());
    }
    ApiFixture::TearDown();
  }

  // Result column `number` as the server described it.
  tagITEM* Column(SQLSMALLINT number, SQLSMALLINT sql_type, SQLULEN length,
                  SQLSMALLINT precision = 0, SQLSMALLINT scale = 0) {
    tagITEM* rec = AccessDescItem(Stmt()->ird, number);
    EXPECT_NE(rec, nullptr);
    rec->concise_type = sql_type;
    rec->type = sql_type;
    rec->length = length;
    rec->precision = precision;
    rec->scale = scale;
    Stmt()->state = kStmtExecuted;
    Stmt()->cursor_state = kCursorOpen;
    return rec;
  }

  void Bind(SQLUSMALLINT number, SQLSMALLINT c_type, void* target, SQLLEN length,
            SQLLEN* indicator) {
    ClearError(Stmt());
    Stmt()->retcode = SQL_SUCCESS;
    ASSERT_EQ(DoSQLBindCol(Stmt(), number, c_type, target, length, indicator), SQL_SUCCESS);
  }

  tagITEM* Ard(SQLSMALLINT number) { return FindDescItem(Stmt()->ard, number); }

  // The wire value of row `row` of column `number` (from 1) in the fetch list.
  a_cmdseq_value& Wire(SQLSMALLINT number, unsigned row) {
    return Ard(number)->wire_column->values()[row];
  }

  // Plays the client: the value's bytes (at most the item's length), its full length.
  void Deliver(SQLSMALLINT number, unsigned row, const void* bytes, std::uint32_t full,
               std::uint32_t copied) {
    a_cmdseq_value& v = Wire(number, row);
    std::memcpy(v.data, bytes, copied);
    *v.indicator = 0;
    *v.length = full;
  }
  void DeliverText(SQLSMALLINT number, unsigned row, const std::string& text) {
    const std::uint32_t room = Ard(number)->wire_column->length;
    const auto n = static_cast<std::uint32_t>(text.size());
    Deliver(number, row, text.data(), n, n < room ? n : room);
  }
  void DeliverNull(SQLSMALLINT number, unsigned row) { *Wire(number, row).indicator = -1; }

  int Convert(SQLULEN row = 0, SQLULEN bind_size = 0) {
    return GetAllBound(Stmt(), Stmt()->ard, Stmt()->ird, bind_size, row, row);
  }

  int Records() { return static_cast<int>(Stmt()->record_count); }
};

// ---- Character data -------------------------------------------------------------------

struct TextCase {
  const char* name;
  SQLLEN buffer_length;
  const char* value;      // nullptr: NULL
  const char* expected;   // the buffer's text, or nullptr: untouched
  SQLLEN length;          // the indicator word
  int result;
};

TEST_F(FetchConv, CharacterValuesIntoEveryBufferSize) {
  const TextCase cases[] = {
      {"fits", 8, "abc", "abc", 3, kBoundWhole},
      {"exactly", 8, "abcdefg", "abcdefg", 7, kBoundWhole},
      {"one too long", 8, "abcdefgh", "abcdefg", 8, kBoundTruncated},
      {"server cut it", 8, "abcdefghijklmnop", "abcdefg", 16, kBoundTruncated},
      {"room for the NUL only", 1, "abc", "", 3, kBoundTruncated},
      {"empty", 8, "", "", 0, kBoundWhole},
      {"NULL", 8, nullptr, nullptr, SQL_NULL_DATA, kBoundWhole},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    FreeFetchState(Stmt());
    Guarded buffer(static_cast<std::size_t>(c.buffer_length));
    SQLLEN indicator = 12345;
    Column(1, SQL_VARCHAR, 20);
    Bind(1, SQL_C_CHAR, buffer.data(), c.buffer_length, &indicator);
    ASSERT_EQ(SetupFetchDesc(Stmt(), 1, 0), 1);
    if (c.value == nullptr) DeliverNull(1, 0);
    else DeliverText(1, 0, c.value);
    EXPECT_EQ(Convert(), c.result);
    EXPECT_EQ(indicator, c.length);
    if (c.expected == nullptr) {
      EXPECT_TRUE(buffer.untouched_from(0));
    } else {
      EXPECT_EQ(buffer.text(), c.expected);
    }
    EXPECT_TRUE(buffer.guards_intact());
  }
}

TEST_F(FetchConv, TruncationIsReportedWithColumnAndRow) {
  char a[4], b[4];
  SQLLEN ia[2] = {0, 0}, ib[2] = {0, 0};
  (void)b;
  Column(1, SQL_VARCHAR, 20);
  Column(2, SQL_VARCHAR, 20);
  Bind(1, SQL_C_CHAR, a, 2, ia);  // two rows of 2 bytes
  Bind(2, SQL_C_CHAR, b, 2, ib);
  Stmt()->ard->array_size = 2;
  ASSERT_EQ(SetupFetchDesc(Stmt(), 2, 0), 1);
  DeliverText(1, 1, "x");
  DeliverText(2, 1, "long");
  EXPECT_EQ(Convert(1), kBoundTruncated);
  EXPECT_EQ(std::string(a + 2), "x");
  EXPECT_EQ(std::string(b + 2), "l");
  EXPECT_EQ(ib[1], 4);
  ASSERT_EQ(Records(), 1);
  SQLCHAR state[6] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT text_length = 0;
  SQLCHAR text[300];
  ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, Stmt(), 1, state, &native, text, sizeof text,
                          &text_length),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "01004");
  SQLLEN row = 0;
  SQLINTEGER column = 0;
  ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, Stmt(), 1, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, Stmt(), 1, SQL_DIAG_COLUMN_NUMBER, &column, 0,
                            nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(row, 2);
  EXPECT_EQ(column, 2);
}

TEST_F(FetchConv, NullWithoutIndicatorIs22002) {
  char buffer[8];
  Column(1, SQL_VARCHAR, 20);
  Bind(1, SQL_C_CHAR, buffer, sizeof buffer, nullptr);
  ASSERT_EQ(SetupFetchDesc(Stmt(), 1, 0), 1);
  DeliverNull(1, 0);
  EXPECT_EQ(Convert(), kBoundFailed);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "22002");
}

// ---- Binary and GUID --------------------------------------------------------------------

TEST_F(FetchConv, BinaryAsHexadecimalTextCutAtWholeBytes) {
  const std::uint8_t bytes[] = {0xAB, 0xCD, 0xEF};
  struct Case {
    SQLLEN buffer_length;
    const char* expected;
    int result;
  } cases[] = {
      {7, "ABCDEF", kBoundWhole}, {20, "ABCDEF", kBoundWhole},
      {6, "ABCD", kBoundTruncated}, {2, "", kBoundTruncated}, {1, "", kBoundTruncated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buffer_length);
    FreeFetchState(Stmt());
    Guarded buffer(static_cast<std::size_t>(c.buffer_length));
    SQLLEN indicator = 0;
    Column(1, SQL_VARBINARY, 10);
    Bind(1, SQL_C_CHAR, buffer.data(), c.buffer_length, &indicator);
    ASSERT_EQ(SetupFetchDesc(Stmt(), 1, 0), 1);
    EXPECT_EQ(Ard(1)->effective_type, SQL_BINARY);  // bytes on the wire, text made here
    Deliver(1, 0, bytes, 3, 3);
    EXPECT_EQ(Convert(), c.result);
    EXPECT_EQ(buffer.text(), c.expected);
    EXPECT_EQ(indicator, 6);
    EXPECT_TRUE(buffer.guards_intact());
  }
}

TEST_F(FetchConv, GuidAsTextAndAsStructureReadTwice) {
  const std::uint8_t server[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                   0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  const std::uint8_t odbc[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  Guarded text(37);
  Guarded raw(16);
  SQLLEN text_ind = 0, raw_ind = 0;
  Column(1, SQL_GUID, 16);
  Column(2, SQL_GUID, 16);
  Bind(1, SQL_C_CHAR, text.data(), 37, &text_ind);
  Bind(2, SQL_C_GUID, raw.data(), 16, &raw_ind);
  ASSERT_EQ(SetupFetchDesc(Stmt(), 1, 0), 1);
  Deliver(1, 0, server, 16, 16);
  Deliver(2, 0, server, 16, 16);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    EXPECT_EQ(Convert(), kBoundWhole);
    EXPECT_EQ(text.text(), "00112233-4455-6677-8899-aabbccddeeff");
    EXPECT_EQ(text_ind, 36);
    EXPECT_EQ(std::memcmp(raw.data(), odbc, 16), 0);
    EXPECT_EQ(raw_ind, 16);
    // The fetched value itself is never reordered.
    EXPECT_EQ(std::memcmp(Wire(2, 0).data, server, 16), 0);
    EXPECT_EQ(std::memcmp(Wire(1, 0).data, server, 16), 0);
  }
  EXPECT_TRUE(text.guards_intact());
  EXPECT_TRUE(raw.guards_intact());
}

TEST_F(FetchConv, GuidTextInATooSmallBuffer) {
  const std::uint8_t server[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                   0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  Guarded text(10);
  SQLLEN ind = 0;
  Column(1, SQL_GUID, 16);
  Bind(1, SQL_C_CHAR, text.data(), 10, &ind);
  ASSERT_EQ(SetupFetchDesc(Stmt(), 1, 0), 1);
  Deliver(1, 0, server, 16, 16);
  EXPECT_EQ(Convert(), kBoundTruncated);
  EXPECT_EQ(text.text(), "00112233-");
  EXPECT_EQ(ind, 36);
  EXPECT_TRUE(text.guards_intact());
}

// ---- Date-time and numeric ------------------------------------------------------------

TEST_F(FetchConv, DateTimeStructures) {
  a_cmdseq_datetime wire{};
  wire.w0 = 2024;
  wire.b2 = 1;  // February: months count from 0 on the wire
  wire.b6 = 29;
  wire.b7 = 10;
  wire.b8 = 11;
  wire.b9 = 12;
  wire.d10 = 123456;
  SQL_TIMESTAMP_STRUCT ts;
  SQL_DATE_STRUCT d;
  SQL_TIME_STRUCT t;
  std::memset(&ts, 0xFF, sizeof ts);
  std::memset(&d, 0xFF, sizeof d);
  std::memset(&t, 0xFF, sizeof t);
  SQLLEN i1 = 0, i2 = 0, i3 = 0;
  Column(1, SQL_TYPE_TIMESTAMP, 26);
  Column(2, SQL_TYPE_TIMESTAMP, 26);
  Column(3, SQL_TYPE_TIMESTAMP, 26);
  Bind(1, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &i1);
  Bind(2, SQL_C_TYPE_DATE, &d, sizeof d, &i2);
  Bind(3, SQL_C_TYPE_TIME, &t, sizeof t, &i3);
  ASSERT_EQ(SetupFetchDesc(Stmt(), 1, 0), 1);
  for (SQLSMALLINT c = 1; c <= 3; ++c) {
    EXPECT_EQ(Ard(c)->wire_column->type, -22);
    Deliver(c, 0, &wire, 16, 16);
  }
  EXPECT_EQ(Convert(), kBoundWhole);
  EXPECT_EQ(ts.year, 2024);
  EXPECT_EQ(ts.month, 2);
  EXPECT_EQ(ts.day, 29);
  EXPECT_EQ(ts.hour, 10);
  EXPECT_EQ(ts.minute, 11);
  EXPECT_EQ(ts.second, 12);
  EXPECT_EQ(ts.fraction, 123456000u);
  EXPECT_EQ(i1, static_cast<SQLLEN>(sizeof ts));
  EXPECT_EQ(d.year, 2024);
  EXPECT_EQ(d.month, 2);
  EXPECT_EQ(d.day, 29);
  EXPECT_EQ(i2, static_cast<SQLLEN>(sizeof d));
  EXPECT_EQ(t.hour, 10);
  EXPECT_EQ(t.minute, 11);
  EXPECT_EQ(t.second, 12);
  EXPECT_EQ(i3, static_cast<SQLLEN>(sizeof t));
}

TEST_F(FetchConv, PackedDecimalIntoTheNumericStructure) {
  SQL_NUMERIC_STRUCT in{};
  in.precision = 10;
  in.scale = 2;
  in.sign = 0;
  const std::uint32_t magnitude = 1234567;  // -12345.67
  std::memcpy(in.val, &magnitude, sizeof magnitude);
  std::uint8_t packed[16] = {0};
  ASSERT_EQ(ODBCNumericToPackedDecimal(&in, packed), kNumericConverted);

  SQL_NUMERIC_STRUCT out;
  std::memset(&out, 0xFF, sizeof out);
  SQLLEN ind = 0;
  Column(1, SQL_NUMERIC, 10, 10, 2);
  Bind(1, SQL_C_NUMERIC, &out, sizeof out, &ind);
  ASSERT_EQ(SetupFetchDesc(Stmt(), 1, 0), 1);
  a_cmdseq_desc_item* item = Ard(1)->wire_column;
  EXPECT_EQ(item->length, 6u);
  EXPECT_EQ(item->precision, 10);
  EXPECT_EQ(item->scale, 2);
  Deliver(1, 0, packed, 6, 6);
  EXPECT_EQ(Convert(), kBoundWhole);
  EXPECT_EQ(out.precision, 10);
  EXPECT_EQ(out.scale, 2);
  EXPECT_EQ(out.sign, 0);
  std::uint32_t got = 0;
  std::memcpy(&got, out.val, sizeof got);
  EXPECT_EQ(got, magnitude);
  EXPECT_EQ(ind, static_cast<SQLLEN>(sizeof out));

  // A packed value that is not valid is refused for the row, never passed on.
  std::memset(&out, 0xFF, sizeof out);
  const std::uint8_t broken[6] = {0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF};
  Deliver(1, 0, broken, 6, 6);
  EXPECT_EQ(Convert(), kBoundFailed);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "22018");
  EXPECT_EQ(out.precision, 0xFF);  // nothing written
}

// ---- In place, rows and offsets ----------------------------------------------------------

TEST_F(FetchConv, IntegersAreReadInPlaceRowByRow) {
  SQLINTEGER values[3] = {-1, -1, -1};
  SQLLEN ind[3] = {99, 99, 99};
  Column(1, SQL_INTEGER, 10);
  Bind(1, SQL_C_SLONG, values, 0, ind);
  Stmt()->ard->array_size = 3;
  ASSERT_EQ(SetupFetchDesc(Stmt(), 3, 0), 1);
  for (unsigned r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(Wire(1, r).data, &values[r]);  // the client writes the application's array
    *Wire(1, r).indicator = 0;
    *Wire(1, r).length = 4;
    values[r] = static_cast<SQLINTEGER>(10 * r);
    EXPECT_EQ(Convert(r), kBoundWhole);
    EXPECT_EQ(ind[r], 4);
    EXPECT_EQ(values[r], static_cast<SQLINTEGER>(10 * r));
  }
}

TEST_F(FetchConv, RowWiseBindingWithOffsetAndBookmark) {
  struct Row {
    SQLULEN bookmark;
    SQLLEN bookmark_ind;
    SQLINTEGER id;
    SQLLEN id_ind;
    char name[6];
    SQLLEN name_ind;
  };
  Row rows[4];
  std::memset(rows, 0xFF, sizeof rows);
  ASSERT_EQ(SQLSetStmtAttr(Stmt(), SQL_ATTR_USE_BOOKMARKS,
                           reinterpret_cast<SQLPOINTER>(SQL_UB_VARIABLE), 0),
            SQL_SUCCESS);
  Column(1, SQL_INTEGER, 10);
  Column(2, SQL_VARCHAR, 10);
  SQLLEN offset = static_cast<SQLLEN>(sizeof(Row));  // the application's rows start at rows[1]
  Stmt()->cursor_kind = 3;
  Dbc()->cap_a |= 0x02;
  Bind(0, SQL_C_BOOKMARK, &rows[0].bookmark, sizeof(SQLULEN), &rows[0].bookmark_ind);
  Bind(1, SQL_C_SLONG, &rows[0].id, 0, &rows[0].id_ind);
  Bind(2, SQL_C_CHAR, rows[0].name, sizeof rows[0].name, &rows[0].name_ind);
  Stmt()->ard->bind_type = sizeof(Row);
  Stmt()->ard->bind_offset_ptr = &offset;
  Stmt()->ard->array_size = 3;
  ASSERT_EQ(SetupFetchDesc(Stmt(), 3, 0), 1);
  EXPECT_EQ(Stmt()->fetch_list->columns, 3u);  // two columns and the bookmark
  tagITEM* bookmark = Stmt()->ard->bookmark;
  ASSERT_NE(bookmark->wire_column, nullptr);
  EXPECT_EQ(bookmark->wire_column->type, -27);
  EXPECT_EQ(bookmark->wire_column->length, 4u);
  for (unsigned r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(Wire(1, r).data, &rows[r + 1].id);
    *Wire(1, r).indicator = 0;
    rows[r + 1].id = static_cast<SQLINTEGER>(r + 7);
    DeliverText(2, r, std::string(r + 1, 'a'));
    const std::uint32_t wire_bookmark = 1000 + r;
    a_cmdseq_value& b = bookmark->wire_column->values()[r];
    std::memcpy(b.data, &wire_bookmark, 4);
    *b.indicator = 0;
    *b.length = 4;
    EXPECT_EQ(Convert(r, sizeof(Row)), kBoundWhole);
    EXPECT_EQ(rows[r + 1].id_ind, 4);
    EXPECT_EQ(std::string(rows[r + 1].name), std::string(r + 1, 'a'));
    EXPECT_EQ(rows[r + 1].name_ind, static_cast<SQLLEN>(r + 1));
    EXPECT_EQ(FetchedBookmark(Stmt(), r), 1000u + r);
  }
  // Row 0 of the application's array is before the offset: never written.
  EXPECT_EQ(rows[0].id, -1);
  EXPECT_EQ(rows[0].name_ind, -1);

  // A new offset moves the in-place values with it.
  SQLLEN moved = 0;
  Stmt()->ard->bind_offset_ptr = &moved;
  AdjustScalarItems(Stmt(), Stmt()->ard, 0);
  EXPECT_EQ(Wire(1, 0).data, &rows[0].id);
  EXPECT_EQ(Wire(1, 2).data, &rows[2].id);
  EXPECT_EQ(Stmt()->fetch_bind_offset, 0);
}

TEST_F(FetchConv, ListIsKeptUntilItsShapeChanges) {
  char text[8];
  SQLLEN ind = 0;
  Column(1, SQL_VARCHAR, 10);
  Bind(1, SQL_C_CHAR, text, sizeof text, &ind);
  ASSERT_EQ(SetupFetchDesc(Stmt(), 4, 0), 1);
  a_odbc_item_list* first = Stmt()->fetch_list;
  EXPECT_EQ(first->rows, 4u);
  EXPECT_EQ(Stmt()->fetch_list_mode, kFetchListForFetch);
  ASSERT_EQ(SetupFetchDesc(Stmt(), 4, 0), 1);
  EXPECT_EQ(Stmt()->fetch_list, first);
  ASSERT_EQ(SetupFetchDesc(Stmt(), 1, 1), 1);  // row values for an update
  EXPECT_EQ(Stmt()->fetch_list_mode, kFetchListForUpdate);
  EXPECT_EQ(Stmt()->fetch_list->rows, 1u);
  EXPECT_EQ(Ard(1)->wire_column, nullptr);
  EXPECT_NE(Ard(1)->wire_item, nullptr);
}

TEST_F(FetchConv, RowAddressesAndBoundCount) {
  tagITEM rec{};
  char base[256];
  rec.data_ptr = base;
  rec.element_bytes = 12;
  tagDESC* ard = Stmt()->ard;
  SQLLEN offset = 5;
  EXPECT_EQ(AccessDataPtr(&rec, 3, ard, nullptr), base + 36);
  EXPECT_EQ(AccessDataPtr(&rec, 3, ard, &offset), base + 41);
  ard->bind_type = 40;
  EXPECT_EQ(AccessDataPtr(&rec, 3, ard, nullptr), base + 120);
  ard->bind_type = 0;
  struct Case {
    SQLSMALLINT c_type;
    std::size_t element;
  } cases[] = {{SQL_C_TINYINT, 1}, {SQL_C_SHORT, 2}, {SQL_C_LONG, 4}, {SQL_C_DOUBLE, 8},
               {SQL_C_NUMERIC, 19}, {SQL_C_TYPE_DATE, 6}, {SQL_C_TYPE_TIMESTAMP, 16},
               {SQL_C_CHAR, 30}};
  rec.octet_length = 30;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.c_type);
    rec.concise_type = c.c_type;
    EXPECT_EQ(FindRGBValue(Stmt(), &rec, 0, base, 2, 0), base + 2 * c.element);
    EXPECT_EQ(FindRGBValue(Stmt(), &rec, 0, base, 0, 0), base);
  }
  EXPECT_EQ(FindRGBValue(Stmt(), &rec, 0, base, 2, 50), base + 100);
  EXPECT_EQ(FindRGBValue(Stmt(), &rec, 0, nullptr, 2, 50), nullptr);

  EXPECT_EQ(NumBound(ard), 0);
  char a[4], b[4];
  Column(1, SQL_VARCHAR, 4);
  Column(3, SQL_VARCHAR, 4);
  Bind(1, SQL_C_CHAR, a, 4, nullptr);
  Bind(3, SQL_C_CHAR, b, 4, nullptr);
  EXPECT_EQ(NumBound(ard), 3);
  Bind(3, SQL_C_CHAR, nullptr, 0, nullptr);
  EXPECT_EQ(NumBound(ard), 1);
}

// ---- Output parameters -------------------------------------------------------------------

TEST_F(FetchConv, OutputParametersAreReadBackIntoTheApplicationsBuffers) {
  // Parameter 1 is input only, 2 an output number exchanged in place, 3 an output text.
  for (SQLSMALLINT n = 1; n <= 3; ++n) {
    tagITEM* rec = AccessDescItem(Stmt()->ipd, n);
    ASSERT_NE(rec, nullptr);
    rec->concise_type = n == 3 ? SQL_VARCHAR : SQL_INTEGER;
    rec->type = rec->concise_type;
    rec->length = 10;
  }
  Stmt()->state = kStmtPrepared;
  SQLINTEGER in = 5, out = -1;
  SQLLEN out_ind = 99;
  Guarded text(8);
  SQLLEN text_ind = 99;
  ASSERT_EQ(SQLBindParameter(Stmt(), 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &in, 0,
                             nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(Stmt(), 2, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &out,
                             0, &out_ind),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(Stmt(), 3, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0,
                             text.data(), 8, &text_ind),
            SQL_SUCCESS);
  // The server describes the two as output parameters.
  FindDescItem(Stmt()->ipd, 2)->parameter_type = SQL_PARAM_OUTPUT;
  FindDescItem(Stmt()->ipd, 3)->parameter_type = SQL_PARAM_OUTPUT;
  ASSERT_EQ(SetupParamDesc(Stmt(), 1), 1);
  a_odbc_item_list* outputs = Stmt()->output_list;
  ASSERT_NE(outputs, nullptr);
  ASSERT_EQ(outputs->columns, 2u);

  // The client's part: the number lands in the application's variable, the text in the
  // record's internal buffer.
  a_cmdseq_value& number = CmdSeqFastGetDescItem(outputs->desc.items, 0, 1)->values()[0];
  a_cmdseq_value& word = CmdSeqFastGetDescItem(outputs->desc.items, 1, 1)->values()[0];
  EXPECT_EQ(number.data, &out);
  out = 42;
  *number.indicator = 0;
  *number.length = 4;
  std::memcpy(word.data, "hello world", 7);  // cut by the item's length of 7
  *word.indicator = 0;
  *word.length = 11;
  EXPECT_EQ(GetOutputParams(Stmt(), 0), kBoundTruncated);
  EXPECT_EQ(out, 42);
  EXPECT_EQ(out_ind, 4);
  EXPECT_EQ(text.text(), "hello w");
  EXPECT_EQ(text_ind, 11);
  EXPECT_TRUE(text.guards_intact());
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "01004");

  // A NULL output leaves the variable alone.
  out = 7;
  *number.indicator = -1;
  std::memcpy(word.data, "ok", 2);
  *word.length = 2;
  EXPECT_EQ(GetOutputParams(Stmt(), 0), kBoundWhole);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(out_ind, SQL_NULL_DATA);
  EXPECT_EQ(text.text(), "ok");
  EXPECT_EQ(text_ind, 2);
}

// ---- Text helpers -------------------------------------------------------------------------

TEST(FetchText, HexAndUuidHelpers) {
  const std::uint8_t bytes[3] = {0xAB, 0xCD, 0x0F};
  char out[16];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(binary_to_char(bytes, out, 3), out + 6);
  EXPECT_EQ(std::string(out, 7), "ABCD0Fx");  // no terminator
  char wide[16];
  EXPECT_EQ(binary_to_wchar(bytes, wide, 2), wide + 8);
  EXPECT_EQ(std::string(wide, 8), std::string("A\0B\0C\0D\0", 8));

  std::uint8_t uuid[16];
  for (int i = 0; i < 16; ++i) uuid[i] = static_cast<std::uint8_t>(i * 0x11);
  char text[40];
  EXPECT_EQ(uuid_to_char(uuid, text, 16), text + 36);
  EXPECT_STREQ(text, "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(uuid_to_char(uuid, text, 15), text);
  char utext[80];
  EXPECT_EQ(uuid_to_wchar(nullptr, uuid, utext, 16), utext + 72);
  EXPECT_EQ(utext[0], '0');
  EXPECT_EQ(utext[1], 0);
  EXPECT_EQ(utext[16], '-');

  EXPECT_EQ(SwapUuidBytes(uuid, 16), 1);
  const std::uint8_t swapped[8] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66};
  EXPECT_EQ(std::memcmp(uuid, swapped, 8), 0);
  EXPECT_EQ(SwapUuidBytes(uuid, 8), 0);

  char copy[8];
  EXPECT_EQ(DataCopy(copy, "abcdef", 3, 1), copy + 3);
  EXPECT_STREQ(copy, "abc");
}

}  // namespace

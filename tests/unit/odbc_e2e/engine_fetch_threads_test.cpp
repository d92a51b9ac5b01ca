// The fetch side of the engine interface end to end against vqeng12 over both links:
// blocks of rows fetched straight into the application's column arrays and converted
// (numbers in place, text, hexadecimal, GUID text, timestamps), and long values read with
// get data a piece at a time for every kind of buffer size, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "odbc/parameters.h"
#include "statement_fixture.h"

namespace vq_odbc_e2e {
namespace {

class EngineFetch : public StatementFixture {
 protected:
  EngineFetch() : StatementFixture("odbc_engine_fetch") {}

  // Opens the query's cursor.
  void Open(const std::string& sql) {
    MustSucceed(ExecDirect(sql), sql.c_str());
    ASSERT_EQ(Stmt()->cursor_state, kCursorOpen);
  }

  // Reads up to `rows` following rows into the bound arrays: the rows read.
  SQLLEN FetchBlock(unsigned short rows) {
    Stmt()->ard->array_size = rows;
    EXPECT_EQ(SetupFetchDesc(Stmt(), rows, 0), 1);
    SQLLEN fetched = 0;
    const std::int32_t code =
        DBFetch(Stmt(), 1, kFetchRelative | kFetchFirstCall, rows, &fetched, 0, 0);
    EXPECT_TRUE(code == 0 || code == kSqlNoData) << code;
    for (SQLLEN r = 0; r < fetched; ++r) {
      EXPECT_EQ(GetAllBound(Stmt(), Stmt()->ard, Stmt()->ird, 0, static_cast<SQLULEN>(r),
                            static_cast<SQLULEN>(r)),
                kBoundWhole)
          << "row " << r;
    }
    return fetched;
  }

  // Moves onto the next row without reading any column.
  void NextRow() {
    SQLLEN fetched = 0;
    ASSERT_EQ(DBFetch(Stmt(), 1, kFetchRelative | kFetchFirstCall, 1, &fetched, 0, 1), 0);
  }

  // Column `column` of the current row through get data with buffers of `room` bytes,
  // piece after piece, as the application receives it. Every buffer is guarded; every
  // length word is checked against what is left of the value (`unit_total`, the length
  // of the whole value in the target's bytes, or -1 when it cannot be known).
  // At most `pieces` calls are made (small buffers read only the start of a long value).
  std::string ReadInPieces(SQLUSMALLINT column, SQLSMALLINT c_type, SQLLEN room,
                           SQLLEN unit_total, SQLLEN terminator, int pieces = 1000000) {
    ResetGetData(Stmt());
    std::string all;
    std::vector<char> buffer(static_cast<std::size_t>(room) + 16);
    for (int calls = 0; calls < pieces; ++calls) {
      std::memset(buffer.data(), 0x7E, buffer.size());
      SQLLEN length = 12345;
      tagITEM target{};
      target.concise_type = c_type;
      target.data_ptr = buffer.data();
      target.octet_length = room;
      target.indicator_ptr = &length;
      target.octet_length_ptr = &length;
      const SQLRETURN rc = GetData(Stmt(), column, c_type, &target, Stmt()->ird->records[column - 1]);
      EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
          << rc << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
      if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
      for (std::size_t i = static_cast<std::size_t>(room); i < buffer.size(); ++i) {
        if (buffer[i] != 0x7E) {
          ADD_FAILURE() << "written past the buffer at " << i;
          return all;
        }
      }
      const SQLLEN left = unit_total - static_cast<SQLLEN>(all.size());
      if (unit_total >= 0 && length != SQL_NO_TOTAL) {
        EXPECT_EQ(length, left);
      }
      const SQLLEN usable = room >= terminator ? room - terminator : 0;
      SQLLEN got = length == SQL_NO_TOTAL || length > usable ? usable : length;
      if (terminator == 2) got &= ~static_cast<SQLLEN>(1);
      if (rc == SQL_SUCCESS_WITH_INFO && terminator == 1 && room > 0) {
        // Hexadecimal text is cut at whole bytes; other text fills the buffer.
        got = static_cast<SQLLEN>(std::strlen(buffer.data()));
        if (c_type == SQL_C_CHAR && unit_total >= 0 && got != usable) {
          EXPECT_EQ(got, usable & ~static_cast<SQLLEN>(1)) << "buffer not filled";
        }
      }
      all.append(buffer.data(), static_cast<std::size_t>(got));
      ClearError(Stmt());
      Stmt()->retcode = SQL_SUCCESS;
      if (rc == SQL_SUCCESS) {
        EXPECT_EQ(Stmt()->gd_whole, 1);
        break;
      }
      if (room == 0) break;  // only the length can come back
    }
    return all;
  }
};

// Long values compared without printing them: the first differing byte is shown.
void ExpectSame(const std::string& got, const std::string& want) {
  if (got == want) return;
  std::size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  ADD_FAILURE() << "got " << got.size() << " bytes, want " << want.size()
                << "; first difference at " << i;
}

TEST_P(EngineFetch, BlocksOfRowsIntoColumnArrays) {
  MustExec(
      "CREATE TABLE ft (id INTEGER, name VARCHAR(20), amount DOUBLE, raw VARBINARY(4), "
      "g UNIQUEIDENTIFIER, at TIMESTAMP)");
  constexpr int kRows = 1000;
  std::vector<SQLINTEGER> id(kRows);
  std::vector<char> name(kRows * 12);
  std::vector<SQLLEN> name_len(kRows, SQL_NTS);
  std::vector<SQLDOUBLE> amount(kRows);
  std::vector<unsigned char> raw(kRows * 3);
  std::vector<SQLLEN> raw_len(kRows, 3);
  char guid[] = "00112233-4455-6677-8899-aabbccddeeff";
  SQLLEN guid_len = SQL_NTS;
  SQL_TIMESTAMP_STRUCT at{2024, 2, 29, 10, 11, 12, 123456000};
  for (int k = 0; k < kRows; ++k) {
    id[k] = k + 1;
    std::snprintf(&name[k * 12], 12, "n%d", k + 1);
    amount[k] = (k + 1) * 0.5;
    raw[k * 3] = static_cast<unsigned char>(k & 0xFF);
    raw[k * 3 + 1] = 0xCD;
    raw[k * 3 + 2] = 0xEF;
  }
  ASSERT_EQ(Prepare("INSERT INTO ft VALUES (?, ?, ?, ?, ?, ?)"), SQL_SUCCESS) << StmtState();
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0),
            SQL_SUCCESS);
  SQLLEN guid_lens[kRows];
  SQLLEN at_len[kRows];
  for (int k = 0; k < kRows; ++k) {
    guid_lens[k] = guid_len;
    at_len[k] = 0;
  }
  // One GUID and one timestamp for every row: zero strides are not ODBC, so the arrays
  // repeat them.
  std::vector<char> guids(kRows * sizeof guid);
  std::vector<SQL_TIMESTAMP_STRUCT> ats(kRows, at);
  for (int k = 0; k < kRows; ++k) std::memcpy(&guids[k * sizeof guid], guid, sizeof guid);
  MustSucceed(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                               id.data(), 0, nullptr), "bind 1");
  MustSucceed(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0,
                               name.data(), 12, name_len.data()), "bind 2");
  MustSucceed(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                               amount.data(), 0, nullptr), "bind 3");
  MustSucceed(SQLBindParameter(stmt_, 4, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, 4, 0,
                               raw.data(), 3, raw_len.data()), "bind 4");
  MustSucceed(SQLBindParameter(stmt_, 5, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_GUID, 36, 0,
                               guids.data(), sizeof guid, guid_lens), "bind 5");
  MustSucceed(SQLBindParameter(stmt_, 6, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                               SQL_TYPE_TIMESTAMP, 26, 6, ats.data(), 0, at_len), "bind 6");
  MustSucceed(SQLExecute(stmt_), "insert");
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0),
            SQL_SUCCESS);
  ASSERT_EQ(ValueNumber("SELECT COUNT(*) FROM ft"), kRows);

  Open("SELECT id, name, amount, raw, g, at FROM ft ORDER BY id");
  constexpr int kBlock = 300;
  SQLINTEGER out_id[kBlock];
  SQLLEN out_id_ind[kBlock];
  char out_name[kBlock][6];  // "n1000" fits with its NUL
  SQLLEN out_name_ind[kBlock];
  SQLDOUBLE out_amount[kBlock];
  char out_raw[kBlock][7];
  SQLLEN out_raw_ind[kBlock];
  char out_g[kBlock][37];
  SQLLEN out_g_ind[kBlock];
  SQL_TIMESTAMP_STRUCT out_at[kBlock];
  SQLLEN out_at_ind[kBlock];
  MustSucceed(SQLBindCol(stmt_, 1, SQL_C_SLONG, out_id, 0, out_id_ind), "col 1");
  MustSucceed(SQLBindCol(stmt_, 2, SQL_C_CHAR, out_name, 6, out_name_ind), "col 2");
  MustSucceed(SQLBindCol(stmt_, 3, SQL_C_DOUBLE, out_amount, 0, nullptr), "col 3");
  MustSucceed(SQLBindCol(stmt_, 4, SQL_C_CHAR, out_raw, 7, out_raw_ind), "col 4");
  MustSucceed(SQLBindCol(stmt_, 5, SQL_C_CHAR, out_g, 37, out_g_ind), "col 5");
  MustSucceed(SQLBindCol(stmt_, 6, SQL_C_TYPE_TIMESTAMP, out_at, 0, out_at_ind), "col 6");

  int seen = 0;
  for (;;) {
    const SQLLEN n = FetchBlock(kBlock);
    if (n <= 0) break;
    for (SQLLEN r = 0; r < n; ++r, ++seen) {
      SCOPED_TRACE(seen);
      EXPECT_EQ(out_id[r], seen + 1);
      EXPECT_EQ(out_id_ind[r], 4);
      EXPECT_EQ(std::string(out_name[r]), "n" + std::to_string(seen + 1));
      EXPECT_EQ(out_name_ind[r], static_cast<SQLLEN>(std::to_string(seen + 1).size() + 1));
      EXPECT_DOUBLE_EQ(out_amount[r], (seen + 1) * 0.5);
      char hex[7];
      std::snprintf(hex, sizeof hex, "%02XCDEF", seen & 0xFF);
      EXPECT_EQ(std::string(out_raw[r]), hex);
      EXPECT_EQ(out_raw_ind[r], 6);
      EXPECT_EQ(std::string(out_g[r]), guid);
      EXPECT_EQ(out_g_ind[r], 36);
      EXPECT_EQ(out_at[r].year, 2024);
      EXPECT_EQ(out_at[r].month, 2);
      EXPECT_EQ(out_at[r].day, 29);
      EXPECT_EQ(out_at[r].second, 12);
      EXPECT_EQ(out_at[r].fraction, 123456000u);
    }
    if (n < kBlock) break;
  }
  EXPECT_EQ(seen, kRows);
}

// Several MB of text and a MB of bytes; ThreadSanitizer slows every piece's round trip
// many times over, so its build reads values a sixth of the size (still far beyond the
// server's 256 KB pieces and the 64 KB buffers).
#if defined(__SANITIZE_THREAD__)
constexpr std::size_t kLongTextBytes = 512 * 1024, kLongBinaryBytes = 192 * 1024;
#else
constexpr std::size_t kLongTextBytes = 3 * 1024 * 1024, kLongBinaryBytes = 1024 * 1024;
#endif

TEST_P(EngineFetch, LongValuesInPiecesByteForByte) {
  MustExec("CREATE TABLE lt (v LONG VARCHAR, b LONG BINARY, g UNIQUEIDENTIFIER)");
  // Text with two-byte characters scattered through it, so that pieces cut through
  // them; and bytes of every value.
  std::string text;
  for (int k = 0; text.size() < kLongTextBytes; ++k) {
    text += std::to_string(k);
    text += k % 7 == 0 ? "\xC3\xA9" : "-";
  }
  std::string bytes(kLongBinaryBytes, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) & 0xFF);
  ASSERT_EQ(Prepare("INSERT INTO lt VALUES (?, ?, ?)"), SQL_SUCCESS) << StmtState();
  // The long values go at execution, in pieces of 64 KB.
  SQLLEN at_exec = SQL_LEN_DATA_AT_EXEC(0);
  char guid[] = "00112233-4455-6677-8899-aabbccddeeff";
  SQLLEN guid_len = SQL_NTS;
  MustSucceed(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR,
                               text.size(), 0, reinterpret_cast<SQLPOINTER>(1), 0, &at_exec),
              "bind 1");
  MustSucceed(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                               bytes.size(), 0, reinterpret_cast<SQLPOINTER>(2), 0, &at_exec),
              "bind 2");
  MustSucceed(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_GUID, 36, 0, guid,
                               sizeof guid, &guid_len), "bind 3");
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << StmtState();
  SQLPOINTER token = nullptr;
  SQLRETURN rc = SQLParamData(stmt_, &token);
  while (rc == SQL_NEED_DATA) {
    const std::string& value = token == reinterpret_cast<SQLPOINTER>(1) ? text : bytes;
    for (std::size_t at = 0; at < value.size(); at += 65536) {
      const std::size_t n = value.size() - at < 65536 ? value.size() - at : 65536;
      ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>(value.data()) + at, static_cast<SQLLEN>(n)),
                SQL_SUCCESS)
          << StmtState();
    }
    rc = SQLParamData(stmt_, &token);
  }
  MustSucceed(rc, "insert");
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  ASSERT_EQ(ValueNumber("SELECT LENGTH(b) FROM lt"), static_cast<std::int32_t>(bytes.size()));

  Open("SELECT v, b, g FROM lt");
  NextRow();
  const auto total = static_cast<SQLLEN>(text.size());
  for (SQLLEN room : {SQLLEN{4096}, SQLLEN{1} << 20, total + 1}) {
    SCOPED_TRACE(room);
    ExpectSame(ReadInPieces(1, SQL_C_CHAR, room, total, 1), text);
  }
  // Small buffers: the first pieces only (a round trip each).
  EXPECT_EQ(ReadInPieces(1, SQL_C_CHAR, 2, total, 1, 50), text.substr(0, 50));
  EXPECT_EQ(ReadInPieces(1, SQL_C_CHAR, 7, total, 1, 50), text.substr(0, 300));
  // A buffer of one byte or none returns the length only.
  EXPECT_EQ(ReadInPieces(1, SQL_C_CHAR, 0, total, 1), "");
  EXPECT_EQ(ReadInPieces(1, SQL_C_CHAR, 1, total, 1, 3), "");

  // The same text as UTF-16, in buffers of an odd size too.
  std::string wide;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) == 0xC3) {
      wide += std::string("\xE9\x00", 2);
      ++i;
    } else {
      wide += text[i];
      wide += '\0';
    }
  }
  ExpectSame(ReadInPieces(1, SQL_C_WCHAR, 65536, -1, 2), wide);
  ExpectSame(ReadInPieces(1, SQL_C_WCHAR, 101, -1, 2, 200), wide.substr(0, 200 * 98));

  // Bytes raw, and as hexadecimal text (cut at whole bytes).
  const auto nbytes = static_cast<SQLLEN>(bytes.size());
  EXPECT_EQ(ReadInPieces(2, SQL_C_BINARY, 1, nbytes, 0, 20), bytes.substr(0, 20));
  for (SQLLEN room : {SQLLEN{1000}, nbytes}) {
    SCOPED_TRACE(room);
    ExpectSame(ReadInPieces(2, SQL_C_BINARY, room, nbytes, 0), bytes);
  }
  std::string hex;
  for (unsigned char c : bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  ExpectSame(ReadInPieces(2, SQL_C_CHAR, 4097, 2 * nbytes, 1), hex);

  // A GUID read twice gives the same bytes.
  const std::string odbc_order("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF",
                               16);
  EXPECT_EQ(ReadInPieces(3, SQL_C_GUID, 16, 16, 0), odbc_order);
  EXPECT_EQ(ReadInPieces(3, SQL_C_GUID, 16, 16, 0), odbc_order);
  EXPECT_EQ(ReadInPieces(3, SQL_C_CHAR, 37, 36, 1), guid);
  EXPECT_EQ(ReadInPieces(3, SQL_C_CHAR, 10, 36, 1), guid);
}

INSTANTIATE_TEST_SUITE_P(Links, EngineFetch, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

}  // namespace
}  // namespace vq_odbc_e2e

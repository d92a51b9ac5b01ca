// The wide entry points end to end against vqeng12 (which speaks UTF-8): text of several
// scripts and characters outside the Basic Multilingual Plane in the connection string,
// SQL text, parameters, column names, driver information and the server's diagnostics.
// Values and catalog rows are read back through SQLGetData and bound SQL_C_WCHAR columns.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <vector>

#include "odbc/string_pool.h"
#include "statement_fixture.h"

namespace vq_odbc_e2e {
namespace {

constexpr SQLWCHAR kGuard = 0xABCD;

std::vector<SQLWCHAR> W(const std::u16string& text) {
  std::vector<SQLWCHAR> out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

std::vector<SQLWCHAR> W(const std::string& ascii) {
  std::vector<SQLWCHAR> out(ascii.begin(), ascii.end());
  out.push_back(0);
  return out;
}

std::u16string U(const SQLWCHAR* text) {
  std::u16string out;
  for (; *text != 0; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

const std::u16string kTable = u"Tабл_\U0001F600";
const std::u16string kNameColumn = u"имя";
const std::u16string kValue = u"Grüße Привет 日本 \U0001F600";
const std::string kValueUtf8 = "Grüße Привет 日本 \xF0\x9F\x98\x80";

class Wide : public StatementFixture {
 protected:
  Wide() : StatementFixture("odbc_wide") {}

  SQLRETURN ExecW(const std::u16string& sql) {
    auto text = W(sql);
    return SQLExecDirectW(stmt_, text.data(), SQL_NTS);
  }
  void MustExecW(const std::u16string& sql) {
    const SQLRETURN rc = ExecW(sql);
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA)
        << rc << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
    (void)SQLFreeStmt(stmt_, SQL_CLOSE);
  }
  void MakeTable() {
    MustExecW(u"CREATE TABLE \"" + kTable + u"\" (\"" + kNameColumn +
              u"\" varchar(60), \"列\" int)");
  }
  std::string StoredName() {
    return ValueText("SELECT \"имя\" FROM \"Tабл_\xF0\x9F\x98\x80\"");
  }
};

TEST_P(Wide, ConnectStringIsConvertedAndTheCompletedStringComesBackInCharacters) {
  SQLHDBC dbc = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc), SQL_SUCCESS);
  auto in = W(server_.Links(GetParam()) + ";UID=dba;PWD=sql");
  SQLWCHAR out[1024];
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, in.data(), SQL_NTS, out, 1024, &length,
                                         SQL_DRIVER_NOPROMPT);
  ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
      << DiagOf(SQL_HANDLE_DBC, dbc).state << " " << DiagOf(SQL_HANDLE_DBC, dbc).text;
  const std::u16string completed = U(out);
  EXPECT_EQ(static_cast<std::size_t>(length), completed.size());
  EXPECT_NE(completed.find(u"UID=dba"), std::u16string::npos);
  EXPECT_FALSE(vq::odbc::StringPoolHolds("PWD=sql", 7));

  // Information in bytes: a buffer of 8 bytes holds three characters.
  SQLWCHAR name[64];
  SQLSMALLINT bytes = 0;
  ASSERT_EQ(SQLGetInfoW(dbc, SQL_DBMS_NAME, name, sizeof name, &bytes), SQL_SUCCESS);
  const std::u16string dbms = U(name);
  EXPECT_EQ(static_cast<std::size_t>(bytes), dbms.size() * 2);
  for (SQLWCHAR& u : name) u = kGuard;
  ASSERT_EQ(SQLGetInfoW(dbc, SQL_DBMS_NAME, name, 8, &bytes), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(U(name), dbms.substr(0, 3));
  EXPECT_EQ(static_cast<std::size_t>(bytes), dbms.size() * 2);
  EXPECT_EQ(name[4], kGuard);

  EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
}

TEST_P(Wide, SqlTextAndParametersKeepEveryCharacter) {
  MakeTable();
  MustExecW(u"INSERT INTO \"" + kTable + u"\" VALUES ('" + kValue + u"', 1)");
  EXPECT_EQ(StoredName(), kValueUtf8);
  MustExec("DELETE FROM \"Tабл_\xF0\x9F\x98\x80\"");

  // The same text as a UTF-16 parameter, prepared through the wide road.
  auto sql = W(u"INSERT INTO \"" + kTable + u"\" VALUES (?, 2)");
  ASSERT_EQ(SQLPrepareW(stmt_, sql.data(), SQL_NTS), SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  auto value = W(kValue);
  SQLLEN indicator = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 60, 0,
                             value.data(), static_cast<SQLLEN>(value.size() * 2), &indicator),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  EXPECT_EQ(StoredName(), kValueUtf8);
  // Stored as text, equal to the same text written as a literal.
  EXPECT_EQ(ValueNumber("SELECT count(*) FROM \"Tабл_\xF0\x9F\x98\x80\" WHERE \"имя\" = '" +
                        kValueUtf8 + "'"),
            1);

  // An explicit length in characters stops there, whatever follows.
  (void)SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  auto tail = W(u"DELETE FROM \"" + kTable + u"\" WHERE \"列\" = 9;garbage");
  const auto stop = static_cast<SQLINTEGER>(tail.size() - 1 - 8);
  EXPECT_EQ(SQLExecDirectW(stmt_, tail.data(), stop), SQL_NO_DATA)
      << DiagOf(SQL_HANDLE_STMT, stmt_).text;
}

TEST_P(Wide, ColumnNamesComeBackInCharactersCutWithOneWarning) {
  MakeTable();
  ASSERT_EQ(ExecW(u"SELECT \"" + kNameColumn + u"\", \"列\" AS \"\U0001F600\" FROM \"" +
                  kTable + u"\""),
            SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  SQLWCHAR name[16];
  SQLSMALLINT length = 0;
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  ASSERT_EQ(SQLDescribeColW(stmt_, 1, name, 16, &length, &type, &size, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(U(name), kNameColumn);
  EXPECT_EQ(length, 3);
  ASSERT_EQ(SQLDescribeColW(stmt_, 2, name, 16, &length, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(U(name), u"\U0001F600");
  EXPECT_EQ(length, 2);  // one character, two code units

  for (SQLWCHAR& u : name) u = kGuard;
  ASSERT_EQ(SQLDescribeColW(stmt_, 1, name, 3, &length, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(U(name), u"им");
  EXPECT_EQ(length, 3);
  EXPECT_EQ(name[3], kGuard);
  SQLINTEGER records = 0;
  ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_NUMBER, &records, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(records, 1);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt_).state, "01004");

  // Column attributes count bytes.
  SQLSMALLINT bytes = 0;
  ASSERT_EQ(SQLColAttributeW(stmt_, 1, SQL_DESC_NAME, name, sizeof name, &bytes, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(U(name), kNameColumn);
  EXPECT_EQ(bytes, 6);
}

TEST_P(Wide, ServerDiagnosticsCarryTheNamesTheyQuote) {
  const std::u16string missing = u"нет_такой_\U0001F600";
  ASSERT_EQ(ExecW(u"SELECT * FROM \"" + missing + u"\""), SQL_ERROR);
  SQLWCHAR state[6];
  SQLINTEGER native = 0;
  SQLWCHAR message[512];
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetDiagRecW(SQL_HANDLE_STMT, stmt_, 1, state, &native, message, 512, &length),
            SQL_SUCCESS);
  const std::u16string text = U(message);
  EXPECT_EQ(static_cast<std::size_t>(length), text.size());
  EXPECT_NE(text.find(missing), std::u16string::npos) << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  EXPECT_LT(native, 0);
  EXPECT_EQ(U(state).size(), 5u);
}

TEST_P(Wide, NativeSqlAndCursorNamesRoundTrip) {
  auto in = W(u"SELECT {fn UCASE('" + kValue + u"')}");
  SQLWCHAR out[128];
  SQLINTEGER length = 0;
  ASSERT_EQ(SQLNativeSqlW(dbc_, in.data(), SQL_NTS, out, 128, &length), SQL_SUCCESS);
  const std::u16string native = U(out);
  EXPECT_EQ(static_cast<std::size_t>(length), native.size());
  EXPECT_NE(native.find(kValue), std::u16string::npos);

  auto cursor = W(std::u16string(u"курсор_\U0001F600"));
  ASSERT_EQ(SQLSetCursorNameW(stmt_, cursor.data(), SQL_NTS), SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  SQLWCHAR name[32];
  SQLSMALLINT chars = 0;
  ASSERT_EQ(SQLGetCursorNameW(stmt_, name, 32, &chars), SQL_SUCCESS);
  EXPECT_EQ(U(name), U(cursor.data()));
  EXPECT_EQ(static_cast<std::size_t>(chars), cursor.size() - 1);
}

TEST_P(Wide, CatalogNamesReachTheServerInItsCharacterSet) {
  MakeTable();
  auto table = W(kTable);
  ASSERT_EQ(SQLTablesW(stmt_, nullptr, 0, nullptr, 0, table.data(), SQL_NTS, nullptr, 0),
            SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  SQLSMALLINT columns = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 5);
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);
  auto column = W(kNameColumn);
  ASSERT_EQ(SQLColumnsW(stmt_, nullptr, 0, nullptr, 0, table.data(), SQL_NTS, column.data(), 3),
            SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);

  int quoted = 0;
  for (const std::string& line : LogLines()) {
    if (line.find("Tабл_\xF0\x9F\x98\x80") != std::string::npos &&
        line.find("SYS") != std::string::npos) {
      ++quoted;
    }
  }
  EXPECT_GE(quoted, 1);  // the log cuts long statements: SQLColumns' WHERE is past the cut

  // A name with no form in the connection's character set never reaches the server.
  const std::vector<SQLWCHAR> lone = {'T', 0xDC00, 0};
  EXPECT_EQ(SQLTablesW(stmt_, nullptr, 0, nullptr, 0, const_cast<SQLWCHAR*>(lone.data()),
                       SQL_NTS, nullptr, 0),
            SQL_ERROR);
  EXPECT_EQ(StmtState(), "22018");
}

// Values read back through the wide C type: SQLGetData in pieces (a piece boundary
// falling inside a surrogate pair included) and bound columns cut short.
TEST_P(Wide, FetchedTextComesBackInUtf16InPiecesAndBound) {
  MakeTable();
  MustExecW(u"INSERT INTO \"" + kTable + u"\" VALUES ('" + kValue + u"', 1)");
  ASSERT_EQ(ExecW(u"SELECT \"" + kNameColumn + u"\" FROM \"" + kTable + u"\""), SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  // kValue ends with a pair: pieces of 3 code units (8 bytes with the terminator) put one
  // boundary between its halves.
  std::u16string whole;
  SQLRETURN rc = SQL_SUCCESS_WITH_INFO;
  int pieces = 0;
  while (rc == SQL_SUCCESS_WITH_INFO) {
    SQLWCHAR piece[5];
    for (SQLWCHAR& u : piece) u = kGuard;
    SQLLEN indicator = 0;
    rc = SQLGetData(stmt_, 1, SQL_C_WCHAR, piece, 8, &indicator);
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
        << rc << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
    EXPECT_EQ(piece[4], kGuard);
    if (pieces == 0) {
      EXPECT_EQ(indicator, static_cast<SQLLEN>(kValue.size() * 2));
    }
    if (rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(StmtState(), "01004");
    }
    whole += U(piece);
    ++pieces;
  }
  EXPECT_EQ(whole, kValue);
  EXPECT_EQ(pieces, static_cast<int>((kValue.size() + 2) / 3));
  SQLWCHAR after[4];
  SQLLEN after_length = 0;
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_WCHAR, after, sizeof after, &after_length), SQL_NO_DATA);
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);

  // Bound: buffer sizes from one code unit to the whole text; a short buffer gives 01004
  // with a terminated prefix and the full length in bytes, or SQL_NO_TOTAL when the
  // driver asked the server for no more of the value than the buffer holds.
  for (const SQLLEN bytes : {SQLLEN{2}, SQLLEN{6}, static_cast<SQLLEN>(kValue.size() * 2),
                             static_cast<SQLLEN>(kValue.size() * 2 + 2)}) {
    SCOPED_TRACE(bytes);
    ASSERT_EQ(ExecW(u"SELECT \"" + kNameColumn + u"\" FROM \"" + kTable + u"\""), SQL_SUCCESS);
    std::vector<SQLWCHAR> buffer(static_cast<std::size_t>(bytes) / 2 + 1, kGuard);
    SQLLEN indicator = 0;
    ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_WCHAR, buffer.data(), bytes, &indicator), SQL_SUCCESS);
    const bool fits = bytes >= static_cast<SQLLEN>(kValue.size() * 2 + 2);
    EXPECT_EQ(SQLFetch(stmt_), fits ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO);
    if (!fits) {
      EXPECT_EQ(StmtState(), "01004");
    }
    if (fits || indicator != SQL_NO_TOTAL) {
      EXPECT_EQ(indicator, static_cast<SQLLEN>(kValue.size() * 2));
    }
    EXPECT_EQ(U(buffer.data()), kValue.substr(0, static_cast<std::size_t>(bytes) / 2 - 1));
    EXPECT_EQ(buffer.back(), kGuard);
    (void)SQLFreeStmt(stmt_, SQL_UNBIND);
    (void)SQLFreeStmt(stmt_, SQL_CLOSE);
  }
}

// Catalog rows with non-ASCII table and column names, read back as UTF-16.
TEST_P(Wide, CatalogRowsCarryNonAsciiNames) {
  MakeTable();
  auto table = W(kTable);
  ASSERT_EQ(SQLTablesW(stmt_, nullptr, 0, nullptr, 0, table.data(), SQL_NTS, nullptr, 0),
            SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  SQLWCHAR name[64];
  SQLLEN indicator = 0;
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  ASSERT_EQ(SQLGetData(stmt_, 3, SQL_C_WCHAR, name, sizeof name, &indicator), SQL_SUCCESS);
  EXPECT_EQ(U(name), kTable);
  EXPECT_EQ(indicator, static_cast<SQLLEN>(kTable.size() * 2));
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);

  ASSERT_EQ(SQLColumnsW(stmt_, nullptr, 0, nullptr, 0, table.data(), SQL_NTS, nullptr, 0),
            SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  ASSERT_EQ(SQLBindCol(stmt_, 4, SQL_C_WCHAR, name, sizeof name, &indicator), SQL_SUCCESS);
  std::vector<std::u16string> columns;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) == SQL_SUCCESS) columns.push_back(U(name));
  EXPECT_EQ(rc, SQL_NO_DATA) << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  EXPECT_EQ(columns, (std::vector<std::u16string>{kNameColumn, u"列"}));
  (void)SQLFreeStmt(stmt_, SQL_UNBIND);
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);
}

// A connection whose character set is single-byte (windows-1252): text the set holds
// travels both ways and is stored as UTF-8; a character it lacks is refused with 22018
// on the way in (by the driver) and on the way out (by the server, failing the row).
class WideSingleByte : public Wide {
 protected:
  std::string ConnectExtra() const override { return ";CharSet=windows-1252"; }

  // A second connection that speaks UTF-8, to store what windows-1252 cannot carry.
  void ExecUtf8(const std::string& sql) {
    SQLHDBC dbc = SQL_NULL_HDBC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc), SQL_SUCCESS);
    std::string in = server_.Links(GetParam()) + ";UID=dba;PWD=sql";
    std::vector<SQLCHAR> text(in.begin(), in.end());
    text.push_back('\0');
    ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, text.data(), SQL_NTS, nullptr, 0,
                                               nullptr, SQL_DRIVER_NOPROMPT)));
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    EXPECT_TRUE(SQL_SUCCEEDED(ExecDirect(sql, stmt))) << DiagOf(SQL_HANDLE_STMT, stmt).text;
    (void)SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    (void)SQLDisconnect(dbc);
    (void)SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  std::u16string FetchText(const std::u16string& sql, SQLRETURN* fetch_rc = nullptr) {
    (void)SQLFreeStmt(stmt_, SQL_CLOSE);
    EXPECT_EQ(ExecW(sql), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).text;
    const SQLRETURN rc = SQLFetch(stmt_);
    if (fetch_rc != nullptr) *fetch_rc = rc;
    SQLWCHAR out[64] = {0};
    SQLLEN indicator = 0;
    if (rc == SQL_SUCCESS) {
      EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_WCHAR, out, sizeof out, &indicator), SQL_SUCCESS);
    }
    return U(out);
  }
};

const std::u16string kFits = u"Grüße, café à 5 €";  // every character is in windows-1252

TEST_P(WideSingleByte, TextTheSetHoldsRoundTripsAndIsStoredAsUtf8) {
  MustExecW(u"CREATE TABLE \"Tabelle_ä\" (\"größe\" varchar(60), n int)");
  MustExecW(u"INSERT INTO \"Tabelle_ä\" VALUES ('" + kFits + u"', 1)");
  auto sql = W(u"INSERT INTO \"Tabelle_ä\" VALUES (?, 2)");
  ASSERT_EQ(SQLPrepareW(stmt_, sql.data(), SQL_NTS), SQL_SUCCESS);
  auto value = W(kFits);
  SQLLEN indicator = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 60, 0,
                             value.data(), 0, &indicator),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  (void)SQLFreeStmt(stmt_, SQL_RESET_PARAMS);

  EXPECT_EQ(FetchText(u"SELECT \"größe\" FROM \"Tabelle_ä\" WHERE n = 1"), kFits);
  EXPECT_EQ(FetchText(u"SELECT \"größe\" FROM \"Tabelle_ä\" WHERE n = 2"), kFits);
  // The column name comes back through the set.
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);
  ASSERT_EQ(ExecW(u"SELECT \"größe\" FROM \"Tabelle_ä\""), SQL_SUCCESS);
  SQLWCHAR column[16];
  SQLSMALLINT chars = 0;
  ASSERT_EQ(SQLDescribeColW(stmt_, 1, column, 16, &chars, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(U(column), u"größe");
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);

  // Bound and cut short on this connection too: 01004 and a terminated prefix.
  ASSERT_EQ(ExecW(u"SELECT \"größe\" FROM \"Tabelle_ä\" WHERE n = 1"), SQL_SUCCESS);
  SQLWCHAR bound[7];
  for (SQLWCHAR& u : bound) u = kGuard;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_WCHAR, bound, 12, &indicator), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(), "01004");
  EXPECT_TRUE(indicator == static_cast<SQLLEN>(kFits.size() * 2) || indicator == SQL_NO_TOTAL)
      << indicator;
  EXPECT_EQ(U(bound), u"Grüße");
  EXPECT_EQ(bound[6], kGuard);
  (void)SQLFreeStmt(stmt_, SQL_UNBIND);
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);
}

TEST_P(WideSingleByte, CharactersTheSetLacksAreRefusedBothWays) {
  MustExecW(u"CREATE TABLE \"Tabelle_ä\" (\"größe\" varchar(60), n int)");
  // Into the driver: Cyrillic and a pair have no windows-1252 form.
  EXPECT_EQ(ExecW(u"INSERT INTO \"Tabelle_ä\" VALUES ('Привет \U0001F600', 1)"), SQL_ERROR);
  EXPECT_EQ(StmtState(), "22018");
  EXPECT_EQ(ValueNumber("SELECT count(*) FROM \"Tabelle_\xE4\""), 0);

  // Out of the server: a row stored over UTF-8 fails its fetch, nothing replaced.
  ExecUtf8("INSERT INTO \"Tabelle_\xC3\xA4\" VALUES ('ok', 1)");
  ExecUtf8("INSERT INTO \"Tabelle_\xC3\xA4\" VALUES ('\xD0\x9F\xD1\x80\xD0\xB8', 2)");
  EXPECT_EQ(FetchText(u"SELECT \"größe\" FROM \"Tabelle_ä\" WHERE n = 1"), u"ok");
  SQLRETURN rc = SQL_SUCCESS;
  EXPECT_EQ(FetchText(u"SELECT \"größe\" FROM \"Tabelle_ä\" WHERE n = 2", &rc), u"");
  EXPECT_EQ(rc, SQL_ERROR);
  EXPECT_EQ(StmtState(), "22018") << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);
}

INSTANTIATE_TEST_SUITE_P(Links, WideSingleByte,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp), LinkName);

INSTANTIATE_TEST_SUITE_P(Links, Wide, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

}  // namespace
}  // namespace vq_odbc_e2e

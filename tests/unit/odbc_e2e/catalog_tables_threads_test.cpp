// SQLTables and SQLColumns through the driver's entry points against vqeng12: the SQL the
// driver sends (read back from the server's request log), the result columns it describes,
// and the rows, read by running the logged statement again on the same connection. Text
// from the application or from a connection attribute never changes the statement around
// it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "odbc/catalog/catalog_query.h"
#include "odbc/connect.h"
#include "odbc/engine.h"
#include "statement_fixture.h"

namespace {

using vq_e2e::Link;
using vq_odbc_e2e::DiagOf;
using vq_odbc_e2e::LinkName;

const char kTablesSelect[] =
    "SELECT cast(NULL AS CHAR(128)) AS TABLE_CAT,SYSUSERPERMS.user_name AS TABLE_SCHEM,"
    "SYSTABLE.table_name AS TABLE_NAME,if table_type = 'VIEW' then if user_name = 'SYS' or ( "
    "user_name = 'dbo' ) then 'SYSTEM VIEW' else 'VIEW' endif else if table_type = 'BASE' then "
    "if user_name = 'SYS' or ( user_name = 'dbo' ) then 'SYSTEM TABLE' else 'TABLE' endif else "
    "if table_type = 'GBL TEMP' then 'GLOBAL TEMPORARY' else if table_type = 'MAT VIEW' then "
    "'MATERIALIZED VIEW' else if table_type = 'TEXT' then 'TEXT' else if table_type = "
    "'PARTITION' then 'PARTITION' else 'LOCAL TEMPORARY' endif endif endif endif endif endif AS "
    "TABLE_TYPE,cast(byte_substr(SYSTABLE.remarks,1,254) as VARCHAR(254)) AS REMARKS "
    "FROM SYS.SYSTABLE JOIN SYS.SYSUSERPERMS";

const char* const kColumnsNames[] = {
    "TABLE_CAT",     "TABLE_SCHEM",    "TABLE_NAME",       "COLUMN_NAME",     "DATA_TYPE",
    "TYPE_NAME",     "COLUMN_SIZE",    "BUFFER_LENGTH",    "DECIMAL_DIGITS",  "NUM_PREC_RADIX",
    "NULLABLE",      "REMARKS",        "COLUMN_DEF",       "SQL_DATA_TYPE",   "SQL_DATETIME_SUB",
    "CHAR_OCTET_LENGTH", "ORDINAL_POSITION", "IS_NULLABLE"};

// A catalog argument: absent (null) or a text with SQL_NTS.
struct Arg {
  const char* text = nullptr;
  SQLSMALLINT length = SQL_NTS;
  Arg() = default;
  Arg(const char* t) : text(t) {}  // NOLINT: arguments read as plain strings
  Arg(const char* t, SQLSMALLINT n) : text(t), length(n) {}
  SQLCHAR* ptr() const { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }
  SQLSMALLINT len() const { return text == nullptr ? 0 : length; }
};

struct Column {
  std::string name;
  SQLSMALLINT type = 0;
};

class Catalog : public vq_odbc_e2e::StatementFixture {
 protected:
  Catalog() : StatementFixture("odbc_catalog") {}

  SQLRETURN Tables(Arg cat, Arg sch, Arg tab, Arg typ) {
    (void)SQLFreeStmt(stmt_, SQL_CLOSE);
    return SQLTables(stmt_, cat.ptr(), cat.len(), sch.ptr(), sch.len(), tab.ptr(), tab.len(),
                     typ.ptr(), typ.len());
  }
  SQLRETURN Columns(Arg cat, Arg sch, Arg tab, Arg col) {
    (void)SQLFreeStmt(stmt_, SQL_CLOSE);
    return SQLColumns(stmt_, cat.ptr(), cat.len(), sch.ptr(), sch.len(), tab.ptr(), tab.len(),
                      col.ptr(), col.len());
  }
  std::vector<Column> ResultColumns() {
    SQLSMALLINT count = 0;
    EXPECT_EQ(SQLNumResultCols(stmt_, &count), SQL_SUCCESS);
    std::vector<Column> out;
    for (SQLUSMALLINT c = 1; c <= count; ++c) {
      SQLCHAR name[129] = {0};
      SQLSMALLINT name_length = 0, type = 0, scale = 0, nullable = 0;
      SQLULEN size = 0;
      EXPECT_EQ(SQLDescribeCol(stmt_, c, name, sizeof name, &name_length, &type, &size, &scale,
                               &nullable),
                SQL_SUCCESS);
      out.push_back({reinterpret_cast<char*>(name), type});
    }
    return out;
  }
  std::vector<std::string> ColumnNames() {
    std::vector<std::string> names;
    for (const Column& c : ResultColumns()) names.push_back(c.name);
    return names;
  }
  // The text of the last statement the driver prepared (line breaks logged as blanks).
  std::string LastPrepared() const {
    std::string last;
    for (const std::string& line : LogLines()) {
      const auto at = line.find(" prepare ");
      if (at != std::string::npos) last = line.substr(at + 9);
    }
    return last;
  }
  // The rows of the statement the driver built last, one value of `row_expression` per
  // row, joined by ",". The statement is run again on the same connection (one row per
  // query: the test reader returns one value of at most 63 bytes).
  std::string Rows(const std::string& row_expression) {
    const tagSQLSTRING& text = Stmt()->sql_text;
    const std::string sql(text.text != nullptr ? text.text : "", text.length);
    std::string out;
    for (int k = 0;; ++k) {
      const std::string v = ValueText("SELECT " + row_expression + " FROM (" + sql +
                                      ") LIMIT 1 OFFSET " + std::to_string(k));
      if (v.empty()) break;
      if (k != 0) out += ",";
      out += v;
      if (v[0] == '<') break;
    }
    return out;
  }
};

TEST_P(Catalog, TablesSendsTheGeneralStatementAndFindsTablesAndViews) {
  MustExec("CREATE TABLE cat_t1(a INTEGER)");
  MustExec("CREATE VIEW cat_v1 AS SELECT a FROM cat_t1");
  ASSERT_EQ(Tables({}, {}, "cat~_%", {}), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(LastPrepared(), std::string(kTablesSelect) +
                                " WHERE table_name LIKE 'cat~_%' ESCAPE '~' ORDER BY 4,1,2,3");
  EXPECT_EQ(ColumnNames(),
            (std::vector<std::string>{"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "TABLE_TYPE",
                                      "REMARKS"}));
  EXPECT_EQ(Rows("TABLE_SCHEM || ':' || TABLE_NAME || ':' || TABLE_TYPE"),
            "dba:cat_t1:TABLE,dba:cat_v1:VIEW");
  // A table made after the first call is there at once.
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);
  MustExec("CREATE TABLE cat_t2(b INTEGER)");
  ASSERT_EQ(Tables({}, "dba", "cat~_t%", "TABLE"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Rows("TABLE_NAME || ':' || TABLE_TYPE"), "cat_t1:TABLE,cat_t2:TABLE");
  // The system tables are SYS's.
  ASSERT_EQ(Tables({}, "SYS", "SYSCOLU%", {}), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Rows("TABLE_SCHEM || ':' || TABLE_NAME || ':' || TABLE_TYPE"),
            "SYS:SYSCOLUMN:SYSTEM TABLE");
}

TEST_P(Catalog, TablesSpecialListsOfCatalogsSchemasAndTypes) {
  // Catalogs: none on this server, but the general columns.
  ASSERT_EQ(Tables("%", "", "", ""), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(LastPrepared(), std::string(kTablesSelect) + " WHERE 1=0 ORDER BY 4,1,2,3");
  EXPECT_EQ(ColumnNames().size(), 5u);
  EXPECT_EQ(Rows("coalesce(TABLE_NAME, '-')"), "");
  // Schemas: one row per user, by name.
  ASSERT_EQ(Tables({}, "%", {}, {}), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(LastPrepared(),
            "SELECT cast(NULL AS CHAR(128)) AS TABLE_CAT,user_name AS TABLE_SCHEM,"
            "cast(NULL AS CHAR(128)) AS TABLE_NAME,cast(NULL AS CHAR(128)) AS TABLE_TYPE,"
            "cast(NULL AS CHAR(254)) AS REMARKS FROM SYSUSERPERMS ORDER BY user_name");
  EXPECT_EQ(Rows("TABLE_SCHEM || ':' || coalesce(TABLE_NAME, '-')"),
            "PUBLIC:-,SYS:-,dba:-,dbo:-");
  // Table types: eight fixed rows in their order.
  ASSERT_EQ(Tables("", "", "", "%"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Rows("TABLE_TYPE"),
            "TABLE,VIEW,SYSTEM TABLE,SYSTEM VIEW,GLOBAL TEMPORARY,MATERIALIZED VIEW,TEXT,"
            "PARTITION");
  EXPECT_EQ(ColumnNames(),
            (std::vector<std::string>{"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "TABLE_TYPE",
                                      "REMARKS"}));
  // A catalog name anywhere else is refused: this server has no catalogs.
  EXPECT_EQ(Tables("%", "dba", {}, {}), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HYC00");
  EXPECT_EQ(Tables("db", {}, "x", {}), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HYC00");
  // ... unless PreventNotCapable asks for it to be ignored.
  Dbc()->behaviour |= kBehavPreventNotCapable;
  EXPECT_EQ(Tables("db", {}, "SYSDOMAIN", {}), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Rows("TABLE_NAME"), "SYSDOMAIN");
}

TEST_P(Catalog, TableTypeListsBecomeQuotedLiteralsOnly) {
  MustExec("CREATE TABLE cat_kind(a INTEGER)");
  struct Case {
    const char* types;
    const char* condition;
  };
  const Case cases[] = {
      {"TABLE,VIEW", "TABLE_TYPE IN ('TABLE','VIEW','MATERIALIZED VIEW')"},
      {"'SYSTEM TABLE'", "TABLE_TYPE IN ('SYSTEM TABLE','SYSTEM TABLE')"},
      {"SYSTEM VIEW", "TABLE_TYPE IN ('SYSTEM VIEW')"},
      {"'TABLE', 'VIEW'", "TABLE_TYPE IN ('TABLE','VIEW','MATERIALIZED VIEW')"},
      {"'O''Hare'", "TABLE_TYPE IN ('O''Hare')"},
      // Quotes that would end the literal early are text of the type name.
      {"TABLE') OR ('1'='1", "TABLE_TYPE IN ('TABLE'') OR (''1''=''1')"},
      {"'TABLE') OR 1=1 --", "TABLE_TYPE IN ('''TABLE'') OR 1=1 --')"},
      {"'TABLE'", "TABLE_TYPE IN ('TABLE')"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.types);
    ASSERT_EQ(Tables({}, {}, "cat~_kind", c.types), SQL_SUCCESS) << StmtState();
    const std::string sql = LastPrepared();
    EXPECT_NE(sql.find(std::string(" AND ") + c.condition + " ORDER BY 4,1,2,3"),
              std::string::npos)
        << sql;
  }
  // The injected text matched no type: no row.
  ASSERT_EQ(Tables({}, {}, "cat~_kind", "TABLE') OR ('1'='1"), SQL_SUCCESS);
  EXPECT_EQ(Rows("TABLE_NAME"), "");
  ASSERT_EQ(Tables({}, {}, "cat~_kind", "TABLE"), SQL_SUCCESS);
  EXPECT_EQ(Rows("TABLE_NAME"), "cat_kind");
}

TEST_P(Catalog, NamesAndTheEscapeCharacterAreQuoted) {
  MustExec("CREATE TABLE \"O'Brien\"(a INTEGER)");
  ASSERT_EQ(Tables({}, {}, "O'Brien%", {}), SQL_SUCCESS) << StmtState();
  EXPECT_NE(LastPrepared().find("WHERE table_name LIKE 'O''Brien%' ESCAPE '~'"),
            std::string::npos);
  EXPECT_EQ(Rows("TABLE_NAME"), "O'Brien");
  // An escape character that is a quote stays one character of a literal.
  ASSERT_EQ(SetConnAttr(Dbc(), kSlotEscape, "'", kAttrFromApp), 0);
  ASSERT_EQ(Tables({}, {}, "O''Brien", {}), SQL_SUCCESS) << StmtState();
  EXPECT_NE(LastPrepared().find("WHERE table_name LIKE 'O''''Brien' ESCAPE ''''"),
            std::string::npos)
      << LastPrepared();
  EXPECT_EQ(Rows("TABLE_NAME"), "O'Brien");
  ASSERT_EQ(SetConnAttr(Dbc(), kSlotEscape, "\\", kAttrFromApp), 0);
  ASSERT_EQ(Tables({}, {}, "O'Brien", {}), SQL_SUCCESS) << StmtState();
  EXPECT_NE(LastPrepared().find("LIKE 'O''Brien' ESCAPE '\\'"), std::string::npos);
}

TEST_P(Catalog, LengthsAndCursorStateAreChecked) {
  // Lengths: a byte count cuts the text; a negative one other than SQL_NTS is refused.
  ASSERT_EQ(Tables({}, {}, Arg("SYSDOMAINxyz", 9), {}), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Rows("TABLE_NAME"), "SYSDOMAIN");
  for (SQLSMALLINT bad : {SQLSMALLINT{-1}, SQLSMALLINT{-2}, SQLSMALLINT{-4}, SQLSMALLINT{-32768}}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Tables({}, {}, Arg("SYSDOMAIN", bad), {}), SQL_ERROR);
    EXPECT_EQ(StmtState(), "HY090");
    EXPECT_EQ(Columns({}, Arg("SYS", bad), "SYSDOMAIN", {}), SQL_ERROR);
    EXPECT_EQ(StmtState(), "HY090");
  }
  // Null, zero length and an empty text with SQL_NTS are all "no argument".
  const std::string all = [&] {
    EXPECT_EQ(Tables({}, {}, {}, "SYSTEM TABLE"), SQL_SUCCESS);
    return LastPrepared();
  }();
  EXPECT_EQ(Tables("", Arg("SYS", 0), Arg(nullptr, 5), "SYSTEM TABLE"), SQL_SUCCESS);
  EXPECT_EQ(LastPrepared(), all);
  // A cursor still open refuses the next catalog call.
  ASSERT_EQ(SQLTables(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(StmtState(), "24000");
  ASSERT_EQ(SQLColumns(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(StmtState(), "24000");
}

TEST_P(Catalog, MetadataIdTakesArgumentsAsIdentifiers) {
  MustExec("CREATE TABLE Emp(a INTEGER)");
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_METADATA_ID, reinterpret_cast<SQLPOINTER>(SQL_TRUE), 0),
            SQL_SUCCESS);
  const bool folds = (Dbc()->cap_a & kCapCaseSensitive) != 0;
  struct Case {
    const char* arg;
    const char* folded;     // condition on a case-sensitive database
    const char* unfolded;   // and on one that ignores case
  };
  const Case cases[] = {
      {"emp", "LOWER(table_name) = LOWER( 'emp' )", "table_name = 'emp'"},
      {"emp  ", "LOWER(table_name) = LOWER( 'emp' )", "table_name = 'emp'"},
      {"\"Emp\"", "table_name = 'Emp'", "table_name = 'Emp'"},
      {"  [Emp]  ", "table_name = 'Emp'", "table_name = 'Emp'"},
      {"\"Emp", "LOWER(table_name) = LOWER( '\"Emp' )", "table_name = '\"Emp'"},
      // A lone double quote opens and closes nothing.
      {"\"", "LOWER(table_name) = LOWER( '\"' )", "table_name = '\"'"},
      {"  \"  ", "LOWER(table_name) = LOWER( '  \"' )", "table_name = '  \"'"},
      {"O'x%", "LOWER(table_name) = LOWER( 'O''x%' )", "table_name = 'O''x%'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    ASSERT_EQ(Tables({}, {}, c.arg, {}), SQL_SUCCESS) << StmtState();
    const std::string expected = std::string("WHERE ") + (folds ? c.folded : c.unfolded) +
                                 " ORDER BY";
    EXPECT_NE(LastPrepared().find(expected), std::string::npos) << LastPrepared();
  }
  ASSERT_EQ(Tables({}, {}, "\"Emp\"", {}), SQL_SUCCESS);
  EXPECT_EQ(Rows("TABLE_NAME"), "Emp");
}

TEST_P(Catalog, ColumnsDescribesEachColumnOfATable) {
  MustExec("CREATE TABLE cat_cols(id INTEGER PRIMARY KEY, name VARCHAR(40) NOT NULL DEFAULT "
           "'none', price NUMERIC(10,2), born DATE, note CHAR(5), big LONG VARCHAR, d DOUBLE)");
  ASSERT_EQ(Columns({}, {}, "cat~_cols", {}), SQL_SUCCESS) << StmtState();
  // The request log keeps the first 4000 bytes of a statement; the driver's copy is whole.
  const std::string head =
      "SELECT cast(NULL AS CHAR(128)) AS TABLE_CAT,SYSUSERPERMS.user_name AS TABLE_SCHEM,"
      "SYSTABLE.table_name AS TABLE_NAME,COLUMN_NAME,(select cast(coalesce(if "
      "domain_name='date' then 91 endif,";
  EXPECT_EQ(LastPrepared().compare(0, head.size(), head), 0) << LastPrepared();
  const std::string sql(Stmt()->sql_text.text, Stmt()->sql_text.length);
  const std::string tail =
      "\nFROM SYS.SYSCOLUMN JOIN SYS.SYSTABLE JOIN SYS.SYSUSERPERMS JOIN SYS.SYSDOMAIN\n"
      "WHERE table_name LIKE 'cat~_cols' ESCAPE '~'\nORDER BY 1,2,3,SYSCOLUMN.column_id";
  ASSERT_GT(sql.size(), tail.size());
  EXPECT_EQ(sql.substr(sql.size() - tail.size()), tail);
  EXPECT_NE(sql.find(",cast(if SYSCOLUMN.\"default\" is null then 'NULL' else "
                     "byte_substr(SYSCOLUMN.\"default\",1,4000) endif as varchar(4000)) as "
                     "COLUMN_DEF,"),
            std::string::npos);
  const std::vector<Column> cols = ResultColumns();
  ASSERT_EQ(cols.size(), 18u);
  for (std::size_t k = 0; k < cols.size(); ++k) EXPECT_EQ(cols[k].name, kColumnsNames[k]);
  // Result columns carry the types the statement declares.
  EXPECT_EQ(cols[4].type, SQL_SMALLINT);     // DATA_TYPE
  EXPECT_EQ(cols[6].type, SQL_INTEGER);      // COLUMN_SIZE
  EXPECT_EQ(cols[10].type, SQL_SMALLINT);    // NULLABLE
  EXPECT_EQ(cols[16].type, SQL_INTEGER);     // ORDINAL_POSITION
  EXPECT_EQ(Rows("COLUMN_NAME || ':' || DATA_TYPE || ':' || TYPE_NAME || ':' || "
                 "coalesce(COLUMN_SIZE, '-') || ':' || coalesce(DECIMAL_DIGITS, '-') || ':' || "
                 "NULLABLE || ':' || COLUMN_DEF || ':' || ORDINAL_POSITION || ':' || IS_NULLABLE"),
            "id:4:integer:10:0:0:NULL:1:NO,"
            "name:12:varchar:40:-:0:'none':2:NO,"
            "price:2:numeric:10:2:1:NULL:3:YES,"
            "born:91:date:10:-:1:NULL:4:YES,"
            "note:12:char:5:-:1:NULL:5:YES,"
            "big:-1:long varchar:2147483647:-:1:NULL:6:YES,"
            "d:8:double:15:-:1:NULL:7:YES");
  // A column pattern, and the schema.
  ASSERT_EQ(Columns({}, "dba", "cat~_cols", "n%"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Rows("COLUMN_NAME || ':' || coalesce(CHAR_OCTET_LENGTH, '-')"), "name:40,note:5");
  // The catalog name is refused as for SQLTables.
  EXPECT_EQ(Columns("db", {}, "cat~_cols", {}), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HYC00");
}

TEST_P(Catalog, ColumnsRunsWithQuotedIdentifiersOnAndPutsTheOptionBack) {
  MustExec("CREATE TABLE cat_q(a INTEGER)");
  ASSERT_GE(Dbc()->server_version, kQuotedIdentifierSwitchVersion);
  // On (the server's default): the option is read and left alone.
  ASSERT_EQ(Columns({}, {}, "cat~_q", {}), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(LogCount("set-option quoted_identifier"), 0);
  ASSERT_EQ(DBSetOption(Dbc(), "quoted_identifier", "OFF"), 0);
  const int sets = LogCount("set-option quoted_identifier");
  // Off: on for the statement and off again after it.
  ASSERT_EQ(Columns({}, {}, "cat~_q", {}), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Rows("COLUMN_NAME"), "a");
  std::vector<std::string> order;
  for (const std::string& line : LogLines()) {
    if (line.find("set-option quoted_identifier") != std::string::npos) order.push_back("set");
    if (line.find(" prepare SELECT cast(NULL") != std::string::npos) order.push_back("select");
  }
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(order.end() - 3, order.end()),
            (std::vector<std::string>{"set", "select", "set"}));
  EXPECT_EQ(LogCount("set-option quoted_identifier"), sets + 2);
  char value[20] = {0};
  ASSERT_EQ(DBGetOption(Dbc(), "quoted_identifier", value, sizeof value), 0);
  EXPECT_STRCASEEQ(value, "OFF");
  // Tables never switches.
  ASSERT_EQ(Tables({}, {}, "cat~_q", {}), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(LogCount("set-option quoted_identifier"), sets + 2);
}

INSTANTIATE_TEST_SUITE_P(Links, Catalog, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

// An ODBC 2 application gets the ODBC 2 names and date codes.
class Odbc2Catalog : public Catalog {
 protected:
  SQLINTEGER OdbcVersion() const override { return SQL_OV_ODBC2; }
};

TEST_P(Odbc2Catalog, NamesAndDateCodesFollowTheVersion) {
  MustExec("CREATE TABLE cat_old(born DATE, at TIMESTAMP)");
  ASSERT_EQ(Tables({}, {}, "cat~_old", {}), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(ColumnNames(),
            (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME",
                                      "TABLE_TYPE", "REMARKS"}));
  ASSERT_EQ(Columns({}, {}, "cat~_old", {}), SQL_SUCCESS) << StmtState();
  const std::vector<std::string> names = ColumnNames();
  ASSERT_EQ(names.size(), 18u);
  EXPECT_EQ(names[0], "TABLE_QUALIFIER");
  EXPECT_EQ(names[1], "TABLE_OWNER");
  EXPECT_EQ(names[6], "PRECISION");
  EXPECT_EQ(names[7], "LENGTH");
  EXPECT_EQ(names[8], "SCALE");
  EXPECT_EQ(names[9], "RADIX");
  EXPECT_EQ(Rows("COLUMN_NAME || ':' || DATA_TYPE || ':' || SQL_DATA_TYPE || ':' || "
                 "SQL_DATETIME_SUB"),
            "born:9:9:9,at:11:9:11");
}

INSTANTIATE_TEST_SUITE_P(Links, Odbc2Catalog, testing::Values(Link::kTcpIp), LinkName);

}  // namespace

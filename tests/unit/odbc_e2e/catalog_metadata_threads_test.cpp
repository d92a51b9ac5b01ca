// The catalog functions beyond tables and columns, through the driver's entry points
// against vqeng12: type information, keys, indexes, special columns, procedures and
// privileges. Rows are fetched with SQLFetch and SQLGetData; argument errors are checked
// to execute nothing; names that hold quotes stay literals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "odbc/handles.h"
#include "statement_fixture.h"

namespace {

using vq_e2e::Link;
using vq_odbc_e2e::DiagOf;
using vq_odbc_e2e::LinkName;

SQLCHAR* Text(const char* s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s)); }

// The comma-separated rows of `rows`, sorted (for results whose order ties).
std::string Sorted(const std::string& rows) {
  std::vector<std::string> items;
  for (std::size_t from = 0; from < rows.size();) {
    std::size_t comma = rows.find(',', from);
    if (comma == std::string::npos) comma = rows.size();
    items.push_back(rows.substr(from, comma - from));
    from = comma + 1;
  }
  std::sort(items.begin(), items.end());
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

class CatalogMetadata : public vq_odbc_e2e::StatementFixture {
 protected:
  CatalogMetadata() : StatementFixture("odbc_catalog_meta") {}

  void Close() { (void)SQLFreeStmt(stmt_, SQL_CLOSE); }

  // Every row of the open result, the values of `columns` (1-based) joined by ":", the
  // rows by ",". A NULL value reads "-". Each value is read into a sentinel-filled buffer
  // whose reported length must match what was written.
  std::string Fetch(const std::vector<int>& columns) {
    std::string out;
    for (int row = 0;; ++row) {
      const SQLRETURN rc = SQLFetch(stmt_);
      if (rc == SQL_NO_DATA) break;
      EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << StmtState();
      if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
      if (row != 0) out += ",";
      for (std::size_t k = 0; k < columns.size(); ++k) {
        char value[300];
        std::memset(value, 0x7E, sizeof value);
        SQLLEN indicator = -12345;
        const SQLRETURN g = SQLGetData(stmt_, static_cast<SQLUSMALLINT>(columns[k]), SQL_C_CHAR,
                                       value, sizeof value, &indicator);
        EXPECT_TRUE(g == SQL_SUCCESS) << "column " << columns[k] << " " << StmtState();
        if (k != 0) out += ":";
        if (indicator == SQL_NULL_DATA) {
          out += "-";
          continue;
        }
        EXPECT_GE(indicator, 0);
        EXPECT_LT(indicator, static_cast<SQLLEN>(sizeof value));
        if (indicator < 0 || indicator >= static_cast<SQLLEN>(sizeof value)) continue;
        EXPECT_EQ(value[indicator], '\0');
        out.append(value, static_cast<std::size_t>(indicator));
      }
    }
    Close();
    return out;
  }

  // The text of the statement the driver built last.
  std::string BuiltText() {
    const tagSQLSTRING& text = Stmt()->sql_text;
    return std::string(text.text != nullptr ? text.text : "", text.length);
  }

  SQLRETURN TypeInfo(SQLSMALLINT type) {
    Close();
    return SQLGetTypeInfo(stmt_, type);
  }
  SQLRETURN PrimaryKeys(const char* table) {
    Close();
    return SQLPrimaryKeys(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS);
  }
  SQLRETURN ForeignKeys(const char* pk_table, const char* fk_table) {
    Close();
    return SQLForeignKeys(stmt_, nullptr, 0, nullptr, 0, pk_table ? Text(pk_table) : nullptr,
                          SQL_NTS, nullptr, 0, nullptr, 0, fk_table ? Text(fk_table) : nullptr,
                          SQL_NTS);
  }
  SQLRETURN Statistics(const char* table, SQLUSMALLINT unique,
                       SQLUSMALLINT accuracy = SQL_QUICK) {
    Close();
    return SQLStatistics(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, unique, accuracy);
  }
  SQLRETURN SpecialColumns(SQLUSMALLINT type, const char* table, SQLUSMALLINT scope,
                           SQLUSMALLINT nullable) {
    Close();
    return SQLSpecialColumns(stmt_, type, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, scope,
                             nullable);
  }
};

// ---- Type information --------------------------------------------------------------------

TEST_P(CatalogMetadata, TypeInfoListsEveryDomainAndTheConstantRowsInOrder) {
  ASSERT_EQ(TypeInfo(SQL_ALL_TYPES), SQL_SUCCESS) << StmtState();
  const std::string all = Fetch({1, 2, 20});
  // One entry per row: name:type:ordinal.
  std::vector<std::string> rows;
  for (std::size_t from = 0; from <= all.size();) {
    const std::size_t comma = all.find(',', from);
    rows.push_back(all.substr(from, comma == std::string::npos ? std::string::npos
                                                               : comma - from));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  ASSERT_GT(rows.size(), 20u) << all;
  // Ordered by DATA_TYPE (then TYPE_ORDINAL, then TYPE_NAME).
  int last_type = -1000;
  for (const std::string& r : rows) {
    const std::size_t a = r.find(':');
    ASSERT_NE(a, std::string::npos) << r;
    const int type = std::stoi(r.substr(a + 1));
    EXPECT_LE(last_type, type) << all;
    last_type = type;
  }
  for (const char* expected : {"float:6:1", "real:7:1", "money:2:2", "smallmoney:2:3",
                               "bit:-7:1", "date:91:1", "time:92:1", "timestamp:93:1",
                               "numeric:2:1", "long varchar:-1:1", "uniqueidentifier:-11:1"}) {
    EXPECT_NE(("," + all + ",").find("," + std::string(expected) + ","), std::string::npos)
        << expected << " in " << all;
  }
  EXPECT_EQ(all.find("java"), std::string::npos) << all;
}

TEST_P(CatalogMetadata, TypeInfoOfOneTypeAnswersItsDomainAndConstantRows) {
  struct Case {
    SQLSMALLINT type;
    const char* rows;  // TYPE_NAME:DATA_TYPE:COLUMN_SIZE:FIXED_PREC_SCALE:MINIMUM_SCALE
  };
  const Case cases[] = {
      {SQL_REAL, "real:7:7:0:-"},
      {SQL_FLOAT, "float:6:15:0:-"},
      {SQL_NUMERIC, "numeric:2:127:0:0,money:2:19:1:4,smallmoney:2:10:1:4"},
      {SQL_BIT, "bit:-7:1:0:-"},
      {SQL_TYPE_DATE, "date:91:10:0:-"},
      {SQL_DATE, "date:91:10:0:-"},
      {SQL_TYPE_TIMESTAMP, "timestamp:93:26:0:0"},
      {SQL_INTEGER, "integer:4:10:0:0"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(TypeInfo(c.type), SQL_SUCCESS) << c.type << " " << StmtState();
    EXPECT_EQ(Fetch({1, 2, 3, 11, 14}), c.rows) << "type " << c.type;
  }
}

TEST_P(CatalogMetadata, TypeInfoRefusesTypesOutsideTheListAndExecutesNothing) {
  for (SQLSMALLINT type : {94, -12, 13, -32768, 32767}) {
    const int prepared = LogCount("prepare");
    EXPECT_EQ(TypeInfo(type), SQL_ERROR) << type;
    EXPECT_EQ(StmtState(), "HY004") << type;
    EXPECT_EQ(LogCount("prepare"), prepared) << type;
  }
  // The statement is usable afterwards.
  ASSERT_EQ(TypeInfo(SQL_SMALLINT), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Fetch({1, 2}), "smallint:5");
}

// ---- Result columns ----------------------------------------------------------------------

// The kind of SQL type a result column must be described with.
enum Kind { kT /* text */, kS /* SQLSMALLINT */, kI /* SQLINTEGER */ };

bool KindMatches(Kind kind, SQLSMALLINT type) {
  switch (kind) {
    case kT:
      return type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_LONGVARCHAR ||
             type == SQL_WCHAR || type == SQL_WVARCHAR || type == SQL_WLONGVARCHAR;
    case kS: return type == SQL_SMALLINT;
    case kI: return type == SQL_INTEGER;
  }
  return false;
}

TEST_P(CatalogMetadata, EveryCatalogResultHasTheOdbc3ColumnsInOrder) {
  MustExec("CREATE TABLE rc_t(a INTEGER PRIMARY KEY)");
  struct Case {
    const char* function;
    SQLRETURN (*call)(SQLHSTMT);
    std::vector<std::pair<const char*, Kind>> columns;
  };
  const std::vector<Case> cases = {
      {"SQLTables",
       [](SQLHSTMT s) { return SQLTables(s, nullptr, 0, nullptr, 0, Text("rc_t"), SQL_NTS, nullptr, 0); },
       {{"TABLE_CAT", kT}, {"TABLE_SCHEM", kT}, {"TABLE_NAME", kT}, {"TABLE_TYPE", kT},
        {"REMARKS", kT}}},
      {"SQLColumns",
       [](SQLHSTMT s) { return SQLColumns(s, nullptr, 0, nullptr, 0, Text("rc_t"), SQL_NTS, nullptr, 0); },
       {{"TABLE_CAT", kT}, {"TABLE_SCHEM", kT}, {"TABLE_NAME", kT}, {"COLUMN_NAME", kT},
        {"DATA_TYPE", kS}, {"TYPE_NAME", kT}, {"COLUMN_SIZE", kI}, {"BUFFER_LENGTH", kI},
        {"DECIMAL_DIGITS", kS}, {"NUM_PREC_RADIX", kS}, {"NULLABLE", kS}, {"REMARKS", kT},
        {"COLUMN_DEF", kT}, {"SQL_DATA_TYPE", kS}, {"SQL_DATETIME_SUB", kS},
        {"CHAR_OCTET_LENGTH", kI}, {"ORDINAL_POSITION", kI}, {"IS_NULLABLE", kT}}},
      {"SQLGetTypeInfo", [](SQLHSTMT s) { return SQLGetTypeInfo(s, SQL_ALL_TYPES); },
       {{"TYPE_NAME", kT}, {"DATA_TYPE", kS}, {"COLUMN_SIZE", kI}, {"LITERAL_PREFIX", kT},
        {"LITERAL_SUFFIX", kT}, {"CREATE_PARAMS", kT}, {"NULLABLE", kS},
        {"CASE_SENSITIVE", kS}, {"SEARCHABLE", kS}, {"UNSIGNED_ATTRIBUTE", kS},
        {"FIXED_PREC_SCALE", kS}, {"AUTO_UNIQUE_VALUE", kS}, {"LOCAL_TYPE_NAME", kT},
        {"MINIMUM_SCALE", kS}, {"MAXIMUM_SCALE", kS}, {"SQL_DATA_TYPE", kS},
        {"SQL_DATETIME_SUB", kS}, {"NUM_PREC_RADIX", kI}, {"INTERVAL_PRECISION", kS},
        {"TYPE_ORDINAL", kS}}},
      {"SQLPrimaryKeys",
       [](SQLHSTMT s) { return SQLPrimaryKeys(s, nullptr, 0, nullptr, 0, Text("rc_t"), SQL_NTS); },
       {{"TABLE_CAT", kT}, {"TABLE_SCHEM", kT}, {"TABLE_NAME", kT}, {"COLUMN_NAME", kT},
        {"KEY_SEQ", kS}, {"PK_NAME", kT}}},
      {"SQLForeignKeys",
       [](SQLHSTMT s) {
         return SQLForeignKeys(s, nullptr, 0, nullptr, 0, Text("rc_t"), SQL_NTS, nullptr, 0,
                               nullptr, 0, nullptr, 0);
       },
       {{"PKTABLE_CAT", kT}, {"PKTABLE_SCHEM", kT}, {"PKTABLE_NAME", kT},
        {"PKCOLUMN_NAME", kT}, {"FKTABLE_CAT", kT}, {"FKTABLE_SCHEM", kT},
        {"FKTABLE_NAME", kT}, {"FKCOLUMN_NAME", kT}, {"KEY_SEQ", kS}, {"UPDATE_RULE", kS},
        {"DELETE_RULE", kS}, {"FK_NAME", kT}, {"PK_NAME", kT}, {"DEFERRABILITY", kS}}},
      {"SQLStatistics",
       [](SQLHSTMT s) {
         return SQLStatistics(s, nullptr, 0, nullptr, 0, Text("rc_t"), SQL_NTS, SQL_INDEX_ALL,
                              SQL_QUICK);
       },
       {{"TABLE_CAT", kT}, {"TABLE_SCHEM", kT}, {"TABLE_NAME", kT}, {"NON_UNIQUE", kS},
        {"INDEX_QUALIFIER", kT}, {"INDEX_NAME", kT}, {"TYPE", kS}, {"ORDINAL_POSITION", kS},
        {"COLUMN_NAME", kT}, {"ASC_OR_DESC", kT}, {"CARDINALITY", kI}, {"PAGES", kI},
        {"FILTER_CONDITION", kT}}},
      {"SQLSpecialColumns",
       [](SQLHSTMT s) {
         return SQLSpecialColumns(s, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, Text("rc_t"),
                                  SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE);
       },
       {{"SCOPE", kS}, {"COLUMN_NAME", kT}, {"DATA_TYPE", kS}, {"TYPE_NAME", kT},
        {"COLUMN_SIZE", kI}, {"BUFFER_LENGTH", kI}, {"DECIMAL_DIGITS", kS},
        {"PSEUDO_COLUMN", kS}}},
      {"SQLProcedures",
       [](SQLHSTMT s) { return SQLProcedures(s, nullptr, 0, nullptr, 0, nullptr, 0); },
       {{"PROCEDURE_CAT", kT}, {"PROCEDURE_SCHEM", kT}, {"PROCEDURE_NAME", kT},
        {"NUM_INPUT_PARAMS", kI}, {"NUM_OUTPUT_PARAMS", kI}, {"NUM_RESULT_SETS", kI},
        {"REMARKS", kT}, {"PROCEDURE_TYPE", kS}}},
      {"SQLProcedureColumns",
       [](SQLHSTMT s) {
         return SQLProcedureColumns(s, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
       },
       {{"PROCEDURE_CAT", kT}, {"PROCEDURE_SCHEM", kT}, {"PROCEDURE_NAME", kT},
        {"COLUMN_NAME", kT}, {"COLUMN_TYPE", kS}, {"DATA_TYPE", kS}, {"TYPE_NAME", kT},
        {"COLUMN_SIZE", kI}, {"BUFFER_LENGTH", kI}, {"DECIMAL_DIGITS", kS},
        {"NUM_PREC_RADIX", kS}, {"NULLABLE", kS}, {"REMARKS", kT}, {"COLUMN_DEF", kT},
        {"SQL_DATA_TYPE", kS}, {"SQL_DATETIME_SUB", kS}, {"CHAR_OCTET_LENGTH", kI},
        {"ORDINAL_POSITION", kI}, {"IS_NULLABLE", kT}}},
      {"SQLTablePrivileges",
       [](SQLHSTMT s) {
         return SQLTablePrivileges(s, nullptr, 0, nullptr, 0, Text("rc_t"), SQL_NTS);
       },
       {{"TABLE_CAT", kT}, {"TABLE_SCHEM", kT}, {"TABLE_NAME", kT}, {"GRANTOR", kT},
        {"GRANTEE", kT}, {"PRIVILEGE", kT}, {"IS_GRANTABLE", kT}}},
      {"SQLColumnPrivileges",
       [](SQLHSTMT s) {
         return SQLColumnPrivileges(s, nullptr, 0, nullptr, 0, Text("rc_t"), SQL_NTS, nullptr,
                                    0);
       },
       {{"TABLE_CAT", kT}, {"TABLE_SCHEM", kT}, {"TABLE_NAME", kT}, {"COLUMN_NAME", kT},
        {"GRANTOR", kT}, {"GRANTEE", kT}, {"PRIVILEGE", kT}, {"IS_GRANTABLE", kT}}},
  };
  for (const Case& c : cases) {
    Close();
    ASSERT_EQ(c.call(stmt_), SQL_SUCCESS) << c.function << " " << StmtState() << " "
                                          << DiagOf(SQL_HANDLE_STMT, stmt_).text;
    SQLSMALLINT count = 0;
    ASSERT_EQ(SQLNumResultCols(stmt_, &count), SQL_SUCCESS);
    ASSERT_EQ(static_cast<std::size_t>(count), c.columns.size()) << c.function;
    for (SQLUSMALLINT k = 1; k <= count; ++k) {
      SQLCHAR name[129];
      std::memset(name, 0x7E, sizeof name);
      SQLSMALLINT name_length = -1, type = 0, scale = 0, nullable = 0;
      SQLULEN size = 0;
      ASSERT_EQ(SQLDescribeCol(stmt_, k, name, sizeof name, &name_length, &type, &size, &scale,
                               &nullable),
                SQL_SUCCESS);
      const auto& expected = c.columns[k - 1];
      EXPECT_EQ(std::string(reinterpret_cast<char*>(name)), expected.first)
          << c.function << " column " << k;
      EXPECT_EQ(name_length, static_cast<SQLSMALLINT>(std::strlen(expected.first)));
      EXPECT_TRUE(KindMatches(expected.second, type))
          << c.function << " " << expected.first << " described as " << type;
    }
  }
}

// ---- Argument checks -------------------------------------------------------------------

TEST_P(CatalogMetadata, BadOptionsAreRefusedWithTheirStatesBeforeAnythingRuns) {
  MustExec("CREATE TABLE opt_t(a INTEGER PRIMARY KEY)");
  struct Case {
    const char* name;
    SQLRETURN (*call)(SQLHSTMT);
    const char* state;
  };
  const Case cases[] = {
      {"unique 2", [](SQLHSTMT s) {
         return SQLStatistics(s, nullptr, 0, nullptr, 0, Text("opt_t"), SQL_NTS, 2, SQL_QUICK);
       }, "HY100"},
      {"accuracy 2", [](SQLHSTMT s) {
         return SQLStatistics(s, nullptr, 0, nullptr, 0, Text("opt_t"), SQL_NTS, SQL_INDEX_ALL, 2);
       }, "HY101"},
      {"identifier type 3", [](SQLHSTMT s) {
         return SQLSpecialColumns(s, 3, nullptr, 0, nullptr, 0, Text("opt_t"), SQL_NTS,
                                  SQL_SCOPE_CURROW, SQL_NULLABLE);
       }, "HY097"},
      {"scope 3", [](SQLHSTMT s) {
         return SQLSpecialColumns(s, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, Text("opt_t"),
                                  SQL_NTS, 3, SQL_NULLABLE);
       }, "HY098"},
      {"nullable 2", [](SQLHSTMT s) {
         return SQLSpecialColumns(s, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, Text("opt_t"),
                                  SQL_NTS, SQL_SCOPE_CURROW, 2);
       }, "HY099"},
      {"both table pointers null", [](SQLHSTMT s) {
         return SQLForeignKeys(s, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                               nullptr, 0);
       }, "HY009"},
      {"catalog name", [](SQLHSTMT s) {
         return SQLPrimaryKeys(s, Text("cat"), SQL_NTS, nullptr, 0, Text("opt_t"), SQL_NTS);
       }, "HYC00"},
      {"catalog name of the foreign table", [](SQLHSTMT s) {
         return SQLForeignKeys(s, nullptr, 0, nullptr, 0, Text("opt_t"), SQL_NTS, Text("c"),
                               SQL_NTS, nullptr, 0, nullptr, 0);
       }, "HYC00"},
      {"procedure catalog", [](SQLHSTMT s) {
         return SQLProcedures(s, Text("cat"), SQL_NTS, nullptr, 0, nullptr, 0);
       }, "HYC00"},
      {"privilege catalog", [](SQLHSTMT s) {
         return SQLColumnPrivileges(s, Text("cat"), SQL_NTS, nullptr, 0, Text("opt_t"), SQL_NTS,
                                    nullptr, 0);
       }, "HYC00"},
      {"negative name length", [](SQLHSTMT s) {
         return SQLTablePrivileges(s, nullptr, 0, nullptr, 0, Text("opt_t"), -7);
       }, "HY090"},
  };
  for (const Case& c : cases) {
    Close();
    const int prepared = LogCount("prepare");
    EXPECT_EQ(c.call(stmt_), SQL_ERROR) << c.name;
    EXPECT_EQ(StmtState(), c.state) << c.name;
    EXPECT_EQ(LogCount("prepare"), prepared) << c.name;
  }
}

// ---- Names with quotes -------------------------------------------------------------------

TEST_P(CatalogMetadata, NamesWithQuotesStayLiterals) {
  MustExec("CREATE TABLE inj_t(a INTEGER PRIMARY KEY)");
  const char* evil = "x' OR '1'='1";
  ASSERT_EQ(PrimaryKeys(evil), SQL_SUCCESS) << StmtState();
  EXPECT_NE(BuiltText().find("table_name = 'x'' OR ''1''=''1'"), std::string::npos)
      << BuiltText();
  EXPECT_EQ(Fetch({4}), "");
  ASSERT_EQ(SQLTablePrivileges(stmt_, nullptr, 0, Text("a'b"), SQL_NTS, Text(evil), SQL_NTS),
            SQL_SUCCESS)
      << StmtState();
  EXPECT_NE(BuiltText().find("SYSUSERPERMS.user_name LIKE 'a''b' ESCAPE '~'"), std::string::npos)
      << BuiltText();
  EXPECT_EQ(Fetch({3}), "");
  ASSERT_EQ(SQLProcedures(stmt_, nullptr, 0, nullptr, 0, Text(evil), SQL_NTS), SQL_SUCCESS)
      << StmtState();
  EXPECT_NE(BuiltText().find("proc_name LIKE 'x'' OR ''1''=''1' ESCAPE '~'"), std::string::npos)
      << BuiltText();
  EXPECT_EQ(Fetch({3}), "");
}

// ---- Keys --------------------------------------------------------------------------------

class CatalogKeys : public CatalogMetadata {
 protected:
  void SetUp() override {
    CatalogMetadata::SetUp();
    if (HasFatalFailure()) return;
    MustExec("CREATE TABLE k_parent(zid INTEGER, aid INTEGER, label VARCHAR(20), "
             "PRIMARY KEY (zid, aid))");
    MustExec("CREATE TABLE k_child(cid INTEGER PRIMARY KEY, pz INTEGER, pa INTEGER, "
             "note VARCHAR(10), FOREIGN KEY (pz, pa) REFERENCES k_parent(zid, aid) "
             "ON UPDATE SET NULL ON DELETE CASCADE)");
    MustExec("CREATE TABLE k_other(oid INTEGER PRIMARY KEY, pz INTEGER, pa INTEGER, "
             "FOREIGN KEY (pz, pa) REFERENCES k_parent(zid, aid))");
  }
};

TEST_P(CatalogKeys, PrimaryKeysListTheKeyColumnsWithTheirSequence) {
  ASSERT_EQ(PrimaryKeys("k_parent"), SQL_SUCCESS) << StmtState();
  // Ordered by column name; KEY_SEQ is the rank by column position.
  EXPECT_EQ(Fetch({3, 4, 5}), "k_parent:aid:2,k_parent:zid:1");
  ASSERT_EQ(PrimaryKeys("k_child"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Fetch({4, 5}), "cid:1");
  // A name compares exactly: no pattern matching.
  ASSERT_EQ(PrimaryKeys("k~_par%"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Fetch({4}), "");
}

TEST_P(CatalogKeys, ForeignKeysReportExportedImportedAndCrossReferencesWithRules) {
  // Exported keys of the parent, sorted by the foreign table.
  ASSERT_EQ(ForeignKeys("k_parent", nullptr), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Fetch({3, 4, 7, 8, 9}),
            "k_parent:zid:k_child:pz:1,k_parent:aid:k_child:pa:2,"
            "k_parent:zid:k_other:pz:1,k_parent:aid:k_other:pa:2");
  // Imported keys of a child, sorted by the primary table.
  ASSERT_EQ(ForeignKeys(nullptr, "k_other"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Fetch({3, 4, 7, 8, 9}), "k_parent:zid:k_other:pz:1,k_parent:aid:k_other:pa:2");
  // Cross reference, with the rules: update sets null (2), delete cascades (0); the key
  // is checked at once (6).
  ASSERT_EQ(ForeignKeys("k_parent", "k_child"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Fetch({4, 8, 10, 11, 14}), "zid:pz:2:0:6,aid:pa:2:0:6");
  ASSERT_EQ(ForeignKeys("k_child", "k_parent"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Fetch({4}), "");
}

TEST_P(CatalogKeys, StatisticsListTheTableRowThenUniqueOrAllIndexes) {
  MustExec("CREATE UNIQUE INDEX k_child_note ON k_child(note)");
  MustExec("CREATE INDEX k_child_pz ON k_child(pz, pa)");
  MustExec("INSERT INTO k_parent VALUES (1, 1, 'a')");
  MustExec("INSERT INTO k_child VALUES (1, 1, 1, 'x')");
  MustExec("INSERT INTO k_child VALUES (2, 1, 1, 'y')");
  // NON_UNIQUE, INDEX_NAME, TYPE, ORDINAL_POSITION, COLUMN_NAME, CARDINALITY
  ASSERT_EQ(Statistics("k_child", SQL_INDEX_UNIQUE), SQL_SUCCESS) << StmtState();
  const std::string unique = Fetch({4, 6, 7, 8, 9, 11});
  EXPECT_EQ(unique.rfind("-:-:0:-:-:2", 0), 0u) << unique;
  EXPECT_NE(unique.find("0:k_child_note:1:1:note:2"), std::string::npos) << unique;
  EXPECT_EQ(unique.find("k_child_pz"), std::string::npos) << unique;
  ASSERT_EQ(Statistics("k_child", SQL_INDEX_ALL, SQL_ENSURE), SQL_SUCCESS) << StmtState();
  const std::string all = Fetch({4, 6, 7, 8, 9});
  EXPECT_NE(all.find("1:k_child_pz:1:1:pz,1:k_child_pz:1:2:pa"), std::string::npos) << all;
  EXPECT_NE(all.find("0:k_child_note:1:1:note"), std::string::npos) << all;
}

TEST_P(CatalogKeys, SpecialColumnsFollowScopeIsolationAndNullability) {
  // The default isolation is read uncommitted (level 0): the current row has no row id.
  ASSERT_EQ(SpecialColumns(SQL_BEST_ROWID, "k_parent", SQL_SCOPE_CURROW, SQL_NULLABLE),
            SQL_SUCCESS)
      << StmtState();
  EXPECT_EQ(Fetch({2}), "");
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION,
                              reinterpret_cast<SQLPOINTER>(SQL_TXN_READ_COMMITTED), 0),
            SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_DBC, dbc_).state;
  ASSERT_EQ(SpecialColumns(SQL_BEST_ROWID, "k_parent", SQL_SCOPE_CURROW, SQL_NULLABLE),
            SQL_SUCCESS)
      << StmtState();
  EXPECT_EQ(Fetch({1, 2, 3, 8}), "0:zid:4:1,0:aid:4:1");
  ASSERT_EQ(SpecialColumns(SQL_BEST_ROWID, "k_parent", SQL_SCOPE_TRANSACTION, SQL_NULLABLE),
            SQL_SUCCESS)
      << StmtState();
  EXPECT_EQ(Fetch({2}), "");
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION,
                              reinterpret_cast<SQLPOINTER>(SQL_TXN_SERIALIZABLE), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SpecialColumns(SQL_BEST_ROWID, "k_parent", SQL_SCOPE_CURROW, SQL_NULLABLE),
            SQL_SUCCESS);
  EXPECT_EQ(Fetch({1, 2}), "1:zid,1:aid");
  ASSERT_EQ(SpecialColumns(SQL_BEST_ROWID, "k_parent", SQL_SCOPE_SESSION, SQL_NULLABLE),
            SQL_SUCCESS);
  EXPECT_EQ(Fetch({2}), "");
  // A table without a primary key: its first unique index, unless a column of it may be
  // null and SQL_NO_NULLS was asked.
  MustExec("CREATE TABLE k_nopk(u INTEGER NOT NULL, v INTEGER, w INTEGER)");
  MustExec("CREATE UNIQUE INDEX k_nopk_uv ON k_nopk(u, v)");
  ASSERT_EQ(SpecialColumns(SQL_BEST_ROWID, "k_nopk", SQL_SCOPE_CURROW, SQL_NULLABLE),
            SQL_SUCCESS);
  EXPECT_EQ(Fetch({2}), "u,v");
  ASSERT_EQ(SpecialColumns(SQL_BEST_ROWID, "k_nopk", SQL_SCOPE_CURROW, SQL_NO_NULLS),
            SQL_SUCCESS);
  EXPECT_EQ(Fetch({2}), "");
  // Version columns: those whose default is timestamp.
  MustExec("CREATE TABLE k_ver(id INTEGER PRIMARY KEY, changed TIMESTAMP DEFAULT timestamp)");
  ASSERT_EQ(SpecialColumns(SQL_ROWVER, "k_ver", SQL_SCOPE_CURROW, SQL_NULLABLE), SQL_SUCCESS)
      << StmtState();
  EXPECT_EQ(Fetch({2}), "changed");
  // Version columns do not depend on the scope or the isolation level.
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION,
                              reinterpret_cast<SQLPOINTER>(SQL_TXN_READ_UNCOMMITTED), 0),
            SQL_SUCCESS);
  for (SQLUSMALLINT scope : {SQL_SCOPE_CURROW, SQL_SCOPE_TRANSACTION, SQL_SCOPE_SESSION}) {
    ASSERT_EQ(SpecialColumns(SQL_ROWVER, "k_ver", scope, SQL_NULLABLE), SQL_SUCCESS) << scope;
    EXPECT_EQ(Fetch({2}), "changed") << "scope " << scope;
  }
}

// ---- Procedures and privileges -----------------------------------------------------------

TEST_P(CatalogMetadata, ProceduresAndTheirColumnsByDirection) {
  MustExec("CREATE PROCEDURE cp_full(IN a INTEGER, OUT b VARCHAR(20), INOUT c INTEGER) BEGIN "
           "SET b = 'x'; SET c = c + a; RETURN a END");
  MustExec("CREATE PROCEDURE cp_none() BEGIN RETURN 1 END");
  ASSERT_EQ(SQLProcedures(stmt_, nullptr, 0, nullptr, 0, Text("cp~_%"), SQL_NTS), SQL_SUCCESS)
      << StmtState();
  // PROCEDURE_NAME:NUM_INPUT_PARAMS:NUM_OUTPUT_PARAMS:NUM_RESULT_SETS:PROCEDURE_TYPE; the
  // return value counts among the outputs and makes the procedure a function (2).
  EXPECT_EQ(Fetch({3, 4, 5, 6, 8}), "cp_full:2:3:0:2,cp_none:0:1:0:2");
  ASSERT_EQ(SQLProcedureColumns(stmt_, nullptr, 0, nullptr, 0, Text("cp_full"), SQL_NTS,
                                nullptr, 0),
            SQL_SUCCESS)
      << StmtState();
  // COLUMN_NAME:COLUMN_TYPE:DATA_TYPE:ORDINAL_POSITION, the return value first.
  EXPECT_EQ(Fetch({4, 5, 6, 18}), "return_value:5:4:0,a:1:4:1,b:4:12:2,c:2:4:3");
}

TEST_P(CatalogMetadata, PrivilegesReachGroupMembersOnceAndColumnUpdates) {
  MustExec("CREATE TABLE pv_t(a INTEGER, b INTEGER)");
  MustExec("GRANT CONNECT TO pv_user IDENTIFIED BY pw");
  MustExec("GRANT CONNECT TO pv_other IDENTIFIED BY pw");
  MustExec("GRANT CONNECT TO pv_group IDENTIFIED BY pw");
  MustExec("GRANT GROUP TO pv_group");
  MustExec("GRANT MEMBERSHIP IN GROUP pv_group TO pv_user");
  MustExec("GRANT SELECT ON pv_t TO pv_group WITH GRANT OPTION");
  MustExec("GRANT UPDATE(b) ON pv_t TO pv_other");
  // A column grant of another user on the same table: the UPDATE row of b must neither
  // repeat nor borrow this grant's grant option.
  MustExec("GRANT UPDATE(a) ON pv_t TO pv_user WITH GRANT OPTION");
  ASSERT_EQ(SQLTablePrivileges(stmt_, nullptr, 0, nullptr, 0, Text("pv~_t"), SQL_NTS),
            SQL_SUCCESS)
      << StmtState();
  // GRANTOR:GRANTEE:PRIVILEGE:IS_GRANTABLE: the creator's five, the group's select and
  // its member's, each once.
  EXPECT_EQ(Sorted(Fetch({4, 5, 6, 7})),
            "dba:dba:delete:YES,dba:dba:insert:YES,dba:dba:references:YES,dba:dba:select:YES,"
            "dba:dba:update:YES,dba:pv_group:select:YES,dba:pv_user:select:YES");
  ASSERT_EQ(SQLColumnPrivileges(stmt_, nullptr, 0, nullptr, 0, Text("pv_t"), SQL_NTS, Text("b"),
                                SQL_NTS),
            SQL_SUCCESS)
      << StmtState();
  EXPECT_EQ(Sorted(Fetch({4, 5, 6, 7, 8})),
            "b:dba:dba:delete:YES,b:dba:dba:insert:YES,b:dba:dba:references:YES,"
            "b:dba:dba:select:YES,b:dba:dba:update:YES,b:dba:pv_group:select:YES,"
            "b:dba:pv_other:UPDATE:NO,b:dba:pv_user:select:YES");
}

// ---- ODBC 2 -------------------------------------------------------------------------------

class Odbc2CatalogMetadata : public CatalogMetadata {
 protected:
  SQLINTEGER OdbcVersion() const override { return SQL_OV_ODBC2; }

  std::string ColumnName(SQLUSMALLINT k) {
    SQLCHAR name[129] = {0};
    SQLSMALLINT length = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN size = 0;
    EXPECT_EQ(SQLDescribeCol(stmt_, k, name, sizeof name, &length, &type, &size, &scale,
                             &nullable),
              SQL_SUCCESS);
    return reinterpret_cast<char*>(name);
  }
};

TEST_P(Odbc2CatalogMetadata, NamesAndDateCodesFollowTheVersion) {
  ASSERT_EQ(TypeInfo(SQL_TYPE_DATE), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(ColumnName(3) + "," + ColumnName(11) + "," + ColumnName(12) + "," + ColumnName(18),
            "PRECISION,MONEY,AUTO_INCREMENT,RADIX");
  EXPECT_EQ(Fetch({1, 2, 16, 17}), "date:9:9:9");
  ASSERT_EQ(TypeInfo(SQL_TIMESTAMP), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Fetch({2}), "11");
  EXPECT_EQ(TypeInfo(94), SQL_ERROR);
  EXPECT_EQ(StmtState(), "S1004");
  MustExec("CREATE TABLE o2_t(a INTEGER PRIMARY KEY)");
  ASSERT_EQ(ForeignKeys("o2_t", nullptr), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(ColumnName(1) + "," + ColumnName(2) + "," + ColumnName(5) + "," + ColumnName(6),
            "PKTABLE_QUALIFIER,PKTABLE_OWNER,FKTABLE_QUALIFIER,FKTABLE_OWNER");
  Close();
  ASSERT_EQ(Statistics("o2_t", SQL_INDEX_ALL), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(ColumnName(8) + "," + ColumnName(10), "SEQ_IN_INDEX,COLLATION");
  Close();
  ASSERT_EQ(SQLProcedures(stmt_, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(ColumnName(1) + "," + ColumnName(2), "PROCEDURE_QUALIFIER,PROCEDURE_OWNER");
  Close();
  EXPECT_EQ(Statistics("o2_t", 5), SQL_ERROR);
  EXPECT_EQ(StmtState(), "S1100");
}

INSTANTIATE_TEST_SUITE_P(Links, CatalogMetadata, testing::Values(Link::kTcpIp), LinkName);
INSTANTIATE_TEST_SUITE_P(Links, CatalogKeys, testing::Values(Link::kTcpIp), LinkName);
INSTANTIATE_TEST_SUITE_P(Links, Odbc2CatalogMetadata, testing::Values(Link::kTcpIp), LinkName);

}  // namespace

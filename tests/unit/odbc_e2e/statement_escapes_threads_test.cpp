// The escape forms run end to end through SQLExecDirect against vqeng12: each value is
// stored by an INSERT ... SELECT of the escape and read back as text (fetch is not part of
// the driver yet; the test reads on the same connection through the engine's one-statement
// executor). SQLNativeSql gives the same text the statement sent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "odbc/statement.h"
#include "statement_fixture.h"

namespace {

using vq_e2e::Link;
using vq_odbc_e2e::LinkName;
using vq_odbc_e2e::StatementFixture;

class Escapes : public StatementFixture {
 protected:
  // The escape's value as the server stores it in a text column.
  std::string Stored(const std::string& escape) {
    const SQLRETURN rc = ExecDirect("INSERT INTO e SELECT " + escape);
    sent_.assign(Stmt()->translated_sql.text, Stmt()->translated_sql.length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
      return "<" + StmtState() + " " + vq_odbc_e2e::DiagOf(SQL_HANDLE_STMT, stmt_).text + ">";
    }
    std::string value = ValueText("SELECT v FROM e");
    MustExec("DELETE FROM e");
    return value;
  }
  std::string NativeSql(const std::string& text) {
    std::vector<SQLCHAR> in(text.begin(), text.end());
    in.push_back('\0');
    SQLCHAR out[512];
    SQLINTEGER length = -1;
    if (SQLNativeSql(dbc_, in.data(), SQL_NTS, out, sizeof out, &length) != SQL_SUCCESS) {
      return "<failed>";
    }
    return std::string(reinterpret_cast<char*>(out), static_cast<std::size_t>(length));
  }
  std::string sent_;  // the text the last Stored sent
};

TEST_P(Escapes, LiteralsAndFunctionsGiveTheirValues) {
  MustExec("CREATE TABLE e (v VARCHAR(200))");
  struct Case {
    const char* escape;
    const char* value;
    bool number = false;  // compared as numbers (the server may write 1024 as 1024.0)
  };
  const Case cases[] = {
      {"{fn UCASE('abc')}", "ABC"},
      {"{fn LCASE('ABC')}", "abc"},
      {"{fn CONCAT('ab', 'cd')}", "abcd"},
      {"{fn LENGTH('abc  ')}", "3"},
      {"{fn SUBSTRING('abcdef', 2, 3)}", "bcd"},
      {"{fn LTRIM('  x')}", "x"},
      {"{fn RTRIM('x  ')}", "x"},
      {"{fn LEFT('abcdef', 2)}", "ab"},
      {"{fn RIGHT('abcdef', 2)}", "ef"},
      {"{fn REPLACE('aXbX', 'X', 'y')}", "ayby"},
      {"{fn ABS(-4)}", "4", true},
      {"{fn MOD(7, 3)}", "1", true},
      {"{fn FLOOR(2.5)}", "2", true},
      {"{fn CEILING(2.5)}", "3", true},
      {"{fn SIGN(-3)}", "-1", true},
      {"{fn POWER(2, 10)}", "1024", true},
      {"{fn IFNULL(NULL, 'd')}", "d"},
      {"{fn CONVERT(42, SQL_VARCHAR)}", "42"},
      {"{fn CONVERT('17', SQL_INTEGER)}", "17"},
      {"{d '2024-01-31'}", "2024-01-31"},
      {"{t '10:11:12'}", "10:11:12"},
      {"{ts '2024-01-31 10:11:12'}", "2024-01-31 10:11:12.000000"},
      {"{fn YEAR({d '2024-01-31'})}", "2024"},
      {"{fn MONTH({d '2024-01-31'})}", "1"},
      {"{fn DAYOFMONTH({d '2024-01-31'})}", "31"},
      {"{fn HOUR({t '10:11:12'})}", "10"},
      {"{fn MINUTE({t '10:11:12'})}", "11"},
      {"{fn SECOND({t '10:11:12'})}", "12"},
      {"{guid '00112233-4455-6677-8899-aabbccddeeff'}", "00112233-4455-6677-8899-aabbccddeeff"},
      {"{fn CHAR_LENGTH('abcd')}", "4", true},
      {"{fn CHARACTER_LENGTH('abcd')}", "4", true},
      {"{fn OCTET_LENGTH('abcd')}", "4", true},
      {"{fn BIT_LENGTH('ab')}", "16", true},
      {"{fn POSITION('c' IN 'abcd')}", "3", true},
      {"{fn LOCATE('c', 'abcdc')}", "3", true},
      {"{fn LOCATE('c', 'abcdc', 4)}", "5", true},
      {"{fn INSERT('abcdef', 2, 3, 'XY')}", "aXYef"},
      {"{fn REPEAT('ab', 3)}", "ababab"},
      {"{fn SPACE(3)}", "   "},
      {"{fn ASCII('A')}", "65", true},
      {"{fn CHAR(65)}", "A"},
      {"{fn SOUNDEX('Robert')}", "R163"},
      {"{fn DIFFERENCE('Robert', 'Rupert')}", "4", true},
      {"{fn ROUND(2.567, 2)}", "2.57", true},
      {"{fn TRUNCATE(2.567, 2)}", "2.56", true},
      {"{fn DEGREES(0)}", "0", true},
      {"{fn RADIANS(0)}", "0", true},
      {"{fn PI()}", "3.141592653589793", true},
      {"{fn SQRT(16)}", "4", true},
      {"{fn EXP(0)}", "1", true},
      {"{fn LOG10(100)}", "2", true},
      {"{fn COS(0)}", "1", true},
      {"{fn DAYNAME({d '2024-01-31'})}", "Wednesday"},
      {"{fn MONTHNAME({d '2024-01-31'})}", "January"},
      {"{fn QUARTER({d '2024-05-31'})}", "2", true},
      {"{fn DAYOFWEEK({d '2024-01-31'})}", "4", true},
      {"{fn DAYOFYEAR({d '2024-02-01'})}", "32", true},
      {"{fn WEEK({d '2024-01-10'})}", "2", true},
      {"{fn EXTRACT(YEAR FROM {d '2024-01-31'})}", "2024", true},
      {"{fn CAST('12', SQL_INTEGER)}", "12", true},
      {"{fn CONVERT('2024-01-31', SQL_DATE)}", "2024-01-31"},
      {"{fn USER()}", "dba"},
      {"{fn DATABASE()}", "odbc_stmt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.escape);
    const std::string stored = Stored(c.escape);
    if (c.number) {
      char* end = nullptr;
      const double value = std::strtod(stored.c_str(), &end);
      EXPECT_TRUE(!stored.empty() && *end == '\0') << stored;
      EXPECT_NEAR(value, std::strtod(c.value, nullptr), 1e-9) << stored;
    } else {
      EXPECT_EQ(stored, c.value) << NativeSql(std::string("SELECT ") + c.escape);
    }
    // The statement sent exactly what SQLNativeSql gives for the same text.
    EXPECT_EQ(sent_, NativeSql(std::string("INSERT INTO e SELECT ") + c.escape));
  }
}

TEST_P(Escapes, CurrentValuesAndClauseEscapes) {
  MustExec("CREATE TABLE e (v VARCHAR(200))");
  // Values of the moment: their form, not their value.
  struct Form {
    const char* escape;
    const char* pattern;
  };
  const Form forms[] = {
      {"{fn CURDATE()}", "^[0-9]{4}-[0-9]{2}-[0-9]{2}$"},
      {"{fn CURRENT_DATE()}", "^[0-9]{4}-[0-9]{2}-[0-9]{2}$"},
      {"{fn CURTIME()}", "^[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}$"},
      {"{fn NOW()}", "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}"},
  };
  for (const Form& f : forms) {
    SCOPED_TRACE(f.escape);
    const std::string stored = Stored(f.escape);
    EXPECT_TRUE(std::regex_search(stored, std::regex(f.pattern, std::regex::extended))) << stored;
  }
  // Outer joins and the LIKE escape character.
  MustExec("CREATE TABLE l (k INT, s VARCHAR(10))");
  MustExec("CREATE TABLE r (k INT, s VARCHAR(10))");
  MustExec("INSERT INTO l VALUES (1, 'a%b'), (2, 'ab')");
  MustExec("INSERT INTO r VALUES (1, 'x')");
  ASSERT_EQ(ExecDirect("INSERT INTO e SELECT COALESCE(r.s, 'none') FROM "
                       "{oj l LEFT OUTER JOIN r ON l.k = r.k} WHERE l.k = 2"),
            SQL_SUCCESS)
      << StmtState();
  EXPECT_EQ(ValueText("SELECT v FROM e"), "none");
  MustExec("DELETE FROM e");
  ASSERT_EQ(ExecDirect("INSERT INTO e SELECT s FROM l WHERE s LIKE 'a!%%' {escape '!'}"),
            SQL_SUCCESS)
      << StmtState();
  EXPECT_EQ(ValueText("SELECT v FROM e"), "a%b");
  EXPECT_EQ(ValueNumber("SELECT COUNT(*) FROM e"), 1);
}

INSTANTIATE_TEST_SUITE_P(Links, Escapes, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

}  // namespace

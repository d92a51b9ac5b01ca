// Escape translation: tables of input SQL and the SQL the server receives, the errors
// and their states, and text in multibyte character sets. Every input is copied into a
// heap buffer of exactly its length, so that a read past the end of the text is caught by
// the sanitizer build.
#include "odbc/escape_translate.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "odbc/sql_scanner.h"
#include "scoped_environment.h"
#include "utils/locale/char_functions.h"

namespace {

struct Case {
  const char* input;
  const char* output;
};

struct ErrorCase {
  const char* input;
  int code;
  const char* state3;
  const char* state2;
};

// Runs the translator over an exact-size copy of `text`; the result is the output, or
// the error code written as "#<code>".
std::string Translate(const std::string& text, const EscapeContext& context = {},
                      EscapeError* error = nullptr) {
  std::vector<char> exact(text.begin(), text.end());
  std::string out;
  EscapeError e;
  const int rc = ODBCParse(context, exact.data(), exact.size(), &out, &e);
  if (error != nullptr) *error = e;
  if (rc != kEscapeOk) return "#" + std::to_string(rc);
  return out;
}

void ExpectAll(const std::vector<Case>& cases, const EscapeContext& context = {}) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(Translate(c.input, context), c.output);
  }
}

TEST(EscapeTranslate, TextOutsideEscapesPassesUnchanged) {
  ExpectAll({
      {"", ""},
      {"select * from t", "select * from t"},
      {"select '{d x}' from t", "select '{d x}' from t"},
      {"select \"{fn NOSUCH(1)}\" from t", "select \"{fn NOSUCH(1)}\" from t"},
      {"select 'it''s {' from t", "select 'it''s {' from t"},
      {"select 1 /* {fn NOSUCH(1)} ' */ from t", "select 1 /* {fn NOSUCH(1)} ' */ from t"},
      {"select 1 -- {d x} '\nfrom t", "select 1 -- {d x} '\nfrom t"},
      {"select 1 // {oj ' \nfrom t", "select 1 // {oj ' \nfrom t"},
      {"select 1 -- { no newline", "select 1 -- { no newline"},
      {"select 1 --(", "select 1 --("},
      {"select 1 } from t", "select 1 } from t"},
      {"select a/b, c-d from t", "select a/b, c-d from t"},
  });
}

TEST(EscapeTranslate, LiteralsBecomeCasts) {
  ExpectAll({
      {"{d '2024-01-31'}", "cast('2024-01-31' AS DATE)"},
      {"{D '2024-01-31'}", "cast('2024-01-31' AS DATE)"},
      {"{  d   '2024-01-31'  }", "cast('2024-01-31' AS DATE)"},
      {"{t '10:00:00'}", "cast('10:00:00' AS TIME)"},
      {"{ts '2024-01-31 10:00:00.5'}", "cast('2024-01-31 10:00:00.5' AS TIMESTAMP)"},
      {"{ts 2024-01-31 10:00:00}", "cast('2024-01-31 10:00:00' AS TIMESTAMP)"},
      {"{guid '00112233-4455-6677-8899-aabbccddeeff'}",
       "cast('00112233-4455-6677-8899-aabbccddeeff' AS UNIQUEIDENTIFIERSTR)"},
      {"where d = {d '2024-01-31'} and t > {t '10:00:00'}",
       "where d = cast('2024-01-31' AS DATE) and t > cast('10:00:00' AS TIME)"},
      // The value never ends the string early: a quoted value keeps its doubled quotes,
      // any other value is quoted whole.
      {"{d 'it''s'}", "cast('it''s' AS DATE)"},
      {"{d a'b'c}", "cast('a''b''c' AS DATE)"},
      {"{d '2024' or '1'}", "cast('''2024'' or ''1''' AS DATE)"},
      {"{d {fn NOW()}}", "cast('{fn NOW()}' AS DATE)"},
  });
}

TEST(EscapeTranslate, CallsLikeEscapesAndOuterJoinsLoseTheirBraces) {
  ExpectAll({
      {"{call p(?)}", "call p(?)"},
      {"{CALL p}", "CALL p"},
      {"{?=call p(?, ?)}", "?=call p(?, ?)"},
      {"{ ? = call p}", "? = call p"},
      {"{call p({d '2024-01-31'}, {fn UCASE(?)})}",
       "call p(cast('2024-01-31' AS DATE), UCASE(?))"},
      {"where a like 'x!%' {escape '!'}", "where a like 'x!%' escape '!'"},
      {"{oj a left outer join b on a.x = b.x}", "( a left outer join b on a.x = b.x )"},
      {"{oj a cross join b}", "( a cross join b )"},
      {"{oj a left join b on a.x = {fn UCASE(b.x)}}", "( a left join b on a.x = UCASE(b.x) )"},
      {"{oj a left join (b join c on b.y = c.y) on a.x = b.x}",
       "( a left join (b join c on b.y = c.y) on a.x = b.x )"},
      // Two joins over the same tables become one join with both conditions.
      {"select * from {oj a left join b on a.x=b.x}, {OJ A LEFT JOIN B on a.y=b.y}",
       "select * from ( a left join b on a.x=b.x and a.y=b.y )"},
      {"from {oj a left join b on c1} {oj a left join b on c2} {oj a left join b on c3}",
       "from ( a left join b on c1 and c2 and c3 )"},
      // Different tables, other text between, or a join without a condition between:
      // no merge.
      {"from {oj a left join b on c1}, {oj a left join c on c2}",
       "from ( a left join b on c1 ), ( a left join c on c2 )"},
      {"from {oj a left join b on c1} x {oj a left join b on c2}",
       "from ( a left join b on c1 ) x ( a left join b on c2 )"},
      {"from {oj a left join b on c1}, {oj a cross join b}, {oj a left join b on c2}",
       "from ( a left join b on c1 ), ( a cross join b ), ( a left join b on c2 )"},
      {"{fn IFNULL({oj a left join b on c1}, 0)}{fn IFNULL({oj a left join b on c2}, 0)}",
       "COALESCE(( a left join b on c1 ), 0)COALESCE(( a left join b on c2 ), 0)"},
  });
}

// The functions whose arguments pass through to a server function of the same name.
TEST(EscapeTranslate, FunctionsTheServerKnowsByName) {
  const char* names[] = {
      "DIFFERENCE", "CHAR_LENGTH", "DEGREES", "POWER",   "RADIANS", "RAND",  "ROUND",
      "DAYNAME",    "MONTHNAME",   "QUARTER", "ACOS",    "ASIN",    "ATAN2", "ATAN",
      "CEILING",    "COS",         "COT",     "EXP",     "FLOOR",   "LOG10", "LOG",
      "SIGN",       "SIN",         "SQRT",    "TAN",     "ASCII",   "LTRIM", "LCASE",
      "REPEAT",     "RTRIM",       "SOUNDEX", "UCASE",   "ABS",     "MOD",   "MONTH",
      "YEAR",       "HOUR",        "MINUTE",  "SECOND",
  };
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::string n = name;
    EXPECT_EQ(Translate("{fn " + n + "(a, 'x,)' , (b, c))}"), n + "(a, 'x,)' , (b, c))");
    std::string lower = n;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(Translate("{FN " + lower + " ( 1 )}"), n + "(1)");
  }
}

TEST(EscapeTranslate, FunctionsRewrittenForTheServer) {
  ExpectAll({
      {"{fn CHARACTER_LENGTH(s)}", "CHAR_LENGTH(s)"},
      // Bytes, not characters.
      {"{fn OCTET_LENGTH(s)}", "BYTE_LENGTH(s)"},
      {"{fn POSITION('a' IN s)}", "LOCATE(s, 'a')"},
      {"{fn POSITION('in' in 'x in y')}", "LOCATE('x in y', 'in')"},
      {"{fn BIT_LENGTH(s)}", "BYTE_LENGTH(s)* 8"},
      {"{fn TRUNCATE(x, 2)}", "\"TRUNCATE\"(x, 2)"},
      {"{fn CURRENT_DATE()}", "CURRENT DATE"},
      {"{fn CURRENT_TIMESTAMP}",
       "DATEFORMAT(CURRENT TIMESTAMP,'YYYY-MM-DD HH:NN:S'+SUBSTRING('S.',1,1+3)+"
       "REPEAT('S',3))"},
      {"{fn CURRENT_TIMESTAMP()}",
       "DATEFORMAT(CURRENT TIMESTAMP,'YYYY-MM-DD HH:NN:S'+SUBSTRING('S.',1,1+3)+"
       "REPEAT('S',3))"},
      {"{fn CURRENT_TIMESTAMP(6)}",
       "DATEFORMAT(CURRENT TIMESTAMP,'YYYY-MM-DD HH:NN:S'+SUBSTRING('S.',1,1+6)+"
       "REPEAT('S',6))"},
      {"{fn CURRENT_TIME}",
       "DATEFORMAT(CURRENT TIME,'HH:NN:S'+SUBSTRING('S.',1,1+3)+REPEAT('S',3))"},
      {"{fn current_time( 0 )}",
       "DATEFORMAT(CURRENT TIME,'HH:NN:S'+SUBSTRING('S.',1,1+0)+REPEAT('S',0))"},
      {"{fn EXTRACT(YEAR FROM d)}", "YEAR(d)"},
      {"{fn EXTRACT(MONTH FROM {fn NOW()})}", "MONTH(NOW(*))"},
      {"{fn PI()}", "PI(*)"},
      {"{fn CHAR(65)}", "\"CHAR\"(65)"},
      {"{fn INSERT(s, 2, 3, 'xy')}", "STRING(SUBSTR(s,1,(2)-1),'xy',SUBSTR(s,(2)+(3),LENGTH(s)))"},
      {"{fn LEFT(s, 2)}", "\"LEFT\"(s, 2)"},
      {"{fn LOCATE('a', s)}", "LOCATE(s,'a')"},
      {"{fn LOCATE('a', s, 3)}", "LOCATE(s,'a',3)"},
      {"{fn RIGHT(s, 2)}", "\"RIGHT\"(s, 2)"},
      {"{fn SPACE(3)}", "REPEAT(' ', 3)"},
      {"{fn CONVERT(x, SQL_VARCHAR(20))}", "CAST(x AS VARCHAR(20))"},
      {"{fn CAST(x, sql_integer)}", "CAST(x AS INT)"},
      {"{fn CONCAT(a, b)}", "STRING(a, b)"},
      {"{fn LENGTH(s)}", "LENGTH(RTRIM(s))"},
      {"{fn SUBSTRING(s, 1, 2)}", "SUBSTR(s, 1, 2)"},
      {"{fn NOW()}", "NOW(*)"},
      {"{fn CURDATE()}", "TODAY(*)"},
      {"{fn CURTIME()}", "DATEFORMAT(CURRENT TIME,'HH:NN:SS.SSS')"},
      {"{fn DAYOFYEAR(d)}", "DAYS(YMD(YEAR(d)-1,12,31),CAST(d AS DATE))"},
      {"{fn DAYOFMONTH(d)}", "DAY(d)"},
      {"{fn DAYOFWEEK(d)}", "DOW(d)"},
      {"{fn WEEK(d)}", "WEEKS( YMD( YEAR(d), 1, 1 ), CAST( d AS DATE ) ) + 1"},
      {"{fn USER()}", "USER"},
      {"{fn IFNULL(a, 0)}", "COALESCE(a, 0)"},
      {"{fn DATABASE()}", "DB_NAME()"},
      // Nested escapes in arguments are translated wherever the template puts them.
      {"{fn UCASE({fn LTRIM(x)})}", "UCASE(LTRIM(x))"},
      {"{fn LOCATE({fn UCASE('a')}, {fn LCASE(s)})}", "LOCATE(LCASE(s),UCASE('a'))"},
      {"{fn CONVERT({fn NOW()}, SQL_DATE)}", "CAST(NOW(*) AS DATE)"},
      {"{fn CONCAT('{', '}')}", "STRING('{', '}')"},
  });
}

TEST(EscapeTranslate, TypeNamesOfConvert) {
  ExpectAll({
      {"{fn CONVERT(x, SQL_VARCHAR)}", "CAST(x AS VARCHAR)"},
      {"{fn CONVERT(x, SQL_CHAR(3))}", "CAST(x AS CHAR(3))"},
      {"{fn CONVERT(x, SQL_LONGVARCHAR)}", "CAST(x AS LONG VARCHAR)"},
      {"{fn CONVERT(x, SQL_NUMERIC(10,2))}", "CAST(x AS NUMERIC(10,2))"},
      {"{fn CONVERT(x, SQL_DECIMAL)}", "CAST(x AS DECIMAL)"},
      {"{fn CONVERT(x, SQL_INTEGER)}", "CAST(x AS INT)"},
      {"{fn CONVERT(x, SQL_SMALLINT)}", "CAST(x AS SMALLINT)"},
      {"{fn CONVERT(x, SQL_DOUBLE)}", "CAST(x AS DOUBLE)"},
      {"{fn CONVERT(x, SQL_FLOAT)}", "CAST(x AS DOUBLE)"},
      {"{fn CONVERT(x, SQL_REAL)}", "CAST(x AS FLOAT)"},
      {"{fn CONVERT(x, SQL_BINARY)}", "CAST(x AS BINARY)"},
      {"{fn CONVERT(x, SQL_VARBINARY)}", "CAST(x AS BINARY)"},
      {"{fn CONVERT(x, SQL_LONGVARBINARY)}", "CAST(x AS LONG BINARY)"},
      {"{fn CONVERT(x, SQL_BIT)}", "CAST(x AS SMALLINT)"},
      {"{fn CONVERT(x, SQL_TINYINT)}", "CAST(x AS TINYINT)"},
      // 64-bit values keep their width.
      {"{fn CONVERT(x, SQL_BIGINT)}", "CAST(x AS BIGINT)"},
      {"{fn CONVERT(x, SQL_DATE)}", "CAST(x AS DATE)"},
      {"{fn CONVERT(x, SQL_TIME)}", "CAST(x AS TIME)"},
      {"{fn CONVERT(x, SQL_TIMESTAMP)}", "CAST(x AS TIMESTAMP)"},
      {"{fn CONVERT(x, SQL_WCHAR)}", "CAST(x AS NCHAR)"},
      {"{fn CONVERT(x, SQL_WLONGVARCHAR)}", "CAST(x AS LONG NVARCHAR)"},
      {"{fn CONVERT(x, SQL_WVARCHAR(9))}", "CAST(x AS NVARCHAR(9))"},
      {"{fn CONVERT(x, SQL_GUID)}", "CAST(x AS UNIQUEIDENTIFIER)"},
  });
}

TEST(EscapeTranslate, ReplaceNeedsServerVersion7000) {
  EscapeContext context;
  context.server_version = 7000;
  EXPECT_EQ(Translate("{fn REPLACE(a, 'b', 'c')}", context), "REPLACE(a, 'b', 'c')");
  context.server_version = 6999;
  EscapeError error;
  EXPECT_EQ(Translate("{fn REPLACE(a, 'b', 'c')}", context, &error), "#2");
  EXPECT_STREQ(error.state3, "22025");
  EXPECT_STREQ(error.state2, "37000");
}

TEST(EscapeTranslate, NoScanSendsTheTextAsWritten) {
  EscapeContext context;
  context.no_scan = true;
  ExpectAll({{"{fn UCASE(x)} {d '2024-01-31'}", "{fn UCASE(x)} {d '2024-01-31'}"},
             {"select '{", "select '{"}},
            context);
}

TEST(EscapeTranslate, VendorBlocksAreEscapes) {
  ExpectAll({
      {"select --(* vendor(Microsoft), product(ODBC) fn UCASE(name) *)-- from t",
       "select UCASE(name) from t"},
      {"--(*vendor(Microsoft),product(ODBC) d '2024-01-31'*)--", "cast('2024-01-31' AS DATE)"},
      {"--(* VENDOR , PRODUCT oj a left join b on (a.x = b.x) *)--x",
       "( a left join b on (a.x = b.x) )x"},
      {"--(* vendor(v), product(p) fn COUNT_IT(')') *)--", "#2"},
      {"--(* vendor(v), product(p) call p(1) *)--", "call p(1)"},
  });
}

TEST(EscapeTranslate, ErrorsAndTheirStates) {
  const ErrorCase cases[] = {
      {"select 1 /* no end", kEscapeSyntax, "42000", "42000"},
      {"select 1 /*/", kEscapeSyntax, "42000", "42000"},
      {"select 'abc", kEscapeSyntax, "42000", "42000"},
      {"select \"abc", kEscapeSyntax, "42000", "42000"},
      {"select {fn UCASE(x)", kEscapeSyntax, "42000", "42000"},
      {"select {fn UCASE({fn LTRIM(x)}", kEscapeSyntax, "42000", "42000"},
      {"{d '2024}", kEscapeSyntax, "42000", "42000"},
      {"{}", kEscapeSyntax, "42000", "42000"},
      {"{   }", kEscapeSyntax, "42000", "42000"},
      {"{x 1}", kEscapeSyntax, "42000", "42000"},
      {"{escape}", kEscapeSyntax, "42000", "42000"},
      {"{guid}", kEscapeSyntax, "42000", "42000"},
      {"{?=cal p}", kEscapeSyntax, "42000", "42000"},
      {"--(* vendor(x) fn UCASE(x) *)--", kEscapeSyntax, "42000", "42000"},
      {"--(* vendor(x), product(y) fn UCASE(x) )--", kEscapeSyntax, "42000", "42000"},
      {"--(* vendor(x), product(y) fn UCASE(x) *)", kEscapeSyntax, "42000", "42000"},
      {"--(* vendor(x), product(y) *)--", kEscapeSyntax, "42000", "42000"},
      {"--(*)--", kEscapeSyntax, "42000", "42000"},
      {"--(* vendor(x), product(y) fn UCASE(x)", kEscapeSyntax, "42000", "42000"},
      // Text after the argument list would be lost.
      {"{fn ABS(x) + 1}", kEscapeSyntax, "42000", "42000"},
      {"{fn NOSUCH(1)}", kEscapeUnknownFunction, "22025", "37000"},
      {"{fn CURRENT_DATE}", kEscapeUnknownFunction, "22025", "37000"},
      {"{fn UCASE}", kEscapeUnknownFunction, "22025", "37000"},
      {"{fn LOGX(1)}", kEscapeUnknownFunction, "22025", "37000"},
      {"{fn UCASE({fn NOSUCH(1)})}", kEscapeUnknownFunction, "22025", "37000"},
      {"{fn CONVERT(x, SQL_FOO)}", kEscapeBadArgument, "42000", "42000"},
      {"{fn CONVERT(x, SQL_VARCHAR2)}", kEscapeBadArgument, "42000", "42000"},
      {"{fn CONVERT(x)}", kEscapeBadArgument, "42000", "42000"},
      {"{fn CONVERT(x, )}", kEscapeBadArgument, "42000", "42000"},
      {"{fn INSERT(s, 2)}", kEscapeBadArgument, "42000", "42000"},
      {"{fn POSITION('a', s)}", kEscapeBadArgument, "42000", "42000"},
      {"{fn EXTRACT(YEAR)}", kEscapeBadArgument, "42000", "42000"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.input);
    EscapeError error;
    EXPECT_EQ(Translate(c.input, {}, &error), "#" + std::to_string(c.code));
    EXPECT_EQ(error.code, c.code);
    EXPECT_STREQ(error.state3, c.state3);
    EXPECT_STREQ(error.state2, c.state2);
  }
}

TEST(EscapeTranslate, ErrorKeepsItsPositionAndTheTextBeforeIt) {
  const std::string text = "select a, {fn UCASE(b)}, {x}, c";
  std::string out = "prefix ";
  EscapeError error;
  EXPECT_EQ(ODBCParse({}, text.data(), text.size(), &out, &error), kEscapeSyntax);
  EXPECT_EQ(error.position, text.find("{x}"));
  EXPECT_EQ(out.rfind("prefix select a, UCASE(b)", 0), 0u) << out;

  error = EscapeError{};
  EXPECT_EQ(ODBCParse({}, "{fn NOSUCH(1)}", 14, &out, &error), kEscapeUnknownFunction);
  EXPECT_EQ(error.position, 4u);

  // Null text is empty text only with length 0.
  out.clear();
  EXPECT_EQ(ODBCParse({}, nullptr, 0, &out, nullptr), kEscapeOk);
  EXPECT_EQ(ODBCParse({}, nullptr, 3, &out, &error), kEscapeTooLong);
  EXPECT_STREQ(error.state3, "HY090");
  EXPECT_EQ(ODBCParse({}, "x", 1, nullptr, nullptr), kEscapeTooLong);
}

TEST(EscapeTranslate, DeepNestingAndRunawayGrowthAreRefused) {
  auto nested = [](const char* open, int levels, const char* middle, const char* close) {
    std::string s;
    for (int i = 0; i < levels; ++i) s += open;
    s += middle;
    for (int i = 0; i < levels; ++i) s += close;
    return s;
  };
  std::string expected = nested("UCASE(", 40, "x", ")");
  EXPECT_EQ(Translate(nested("{fn UCASE(", 40, "x", ")}")), expected);
  EscapeError error;
  EXPECT_EQ(Translate(nested("{fn UCASE(", 200, "x", ")}"), {}, &error), "#1");
  EXPECT_EQ(Translate(nested("{call p(", 10000, "x", ")}"), {}, &error), "#1");
  EXPECT_EQ(Translate(nested("(", 100000, "x", ")")), nested("(", 100000, "x", ")"));

  // INSERT copies its first argument three times: 30 levels would come to 3^30 copies.
  EXPECT_EQ(Translate(nested("{fn INSERT(", 30, "s", ", 1, 1, 'x')}"), {}, &error), "#4");
  EXPECT_STREQ(error.state3, "HY090");
  EXPECT_STREQ(error.state2, "S1090");
  EXPECT_EQ(Translate(nested("{fn INSERT(", 3, "s", ", 1, 1, 'x')}")).substr(0, 27),
            "STRING(SUBSTR(STRING(SUBSTR");
}

TEST(EscapeTranslate, CallersTableModeOneAndPercentComments) {
  const EscapeFunction table[] = {
      {"convertsql_date", "TO_DATE", "&", nullptr, nullptr, nullptr},
      {"strtouuid", "HEXTORAW", "&", nullptr, nullptr, nullptr},
      {"UPPER", "UPPER", "&1", "/*p*/", "/*s*/", nullptr},
      {"PCT", "F", "%2,%1", nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  auto parse = [&](const std::string& text, const EscapeFunction* t, int mode, bool percent) {
    std::vector<char> exact(text.begin(), text.end());
    std::string out;
    const int rc = Parse({}, &out, exact.data(), exact.data() + exact.size(), t, mode, percent,
                         nullptr);
    return rc == kEscapeOk ? out : "#" + std::to_string(rc);
  };
  EXPECT_EQ(parse("{d '2024-01-31'}", table, 0, false), "TO_DATE('2024-01-31')");
  EXPECT_EQ(parse("{guid 'ab'}", table, 0, false), "HEXTORAW('ab')");
  EXPECT_EQ(parse("{t '10:00'}", table, 0, false), "#2");
  EXPECT_EQ(parse("{fn upper(x)}", table, 0, false), "/*p*/UPPER(x)/*s*/");
  EXPECT_EQ(parse("{fn UCASE(x)}", table, 0, false), "#2");

  EXPECT_EQ(parse("{fn NOW()}", nullptr, 1, false), "SYSDATE");
  EXPECT_EQ(parse("{fn UCASE(x)}", nullptr, 1, false), "#2");
  EXPECT_EQ(parse("{call p}", nullptr, 1, false), "call p()");
  EXPECT_EQ(parse("{call p(1)}", nullptr, 1, false), "call p(1)");
  EXPECT_EQ(parse("{d '2024-01-31'}", nullptr, 1, false), "cast('2024-01-31' AS DATE)");

  EXPECT_EQ(parse("select 5 % {x\n{fn PCT(a, b)}", table, 0, true), "select 5 % {x\nF(b,a)");
  EXPECT_EQ(parse("select 5 % 2", nullptr, 0, false), "select 5 % 2");
}

TEST(EscapeTranslate, Utf8TextStepsByCharacter) {
  EscapeContext utf8;
  utf8.client_code_page = kCodePageUtf8;
  ExpectAll(
      {
          {"select '\xC3\xA9{', {fn UCASE('\xE2\x82\xAC')} from \xF0\x9F\x98\x80",
           "select '\xC3\xA9{', UCASE('\xE2\x82\xAC') from \xF0\x9F\x98\x80"},
          {"{fn LOCATE('\xE2\x82\xAC', s)}", "LOCATE(s,'\xE2\x82\xAC')"},
          {"{d '\xC3\xA9'}", "cast('\xC3\xA9' AS DATE)"},
          // A lead byte followed by the code of "'" is one character: no string starts.
          {"select \xC3' {fn UCASE(x)}", "select \xC3' UCASE(x)"},
          {"select \xE3'' {fn UCASE(x)}", "select \xE3'' UCASE(x)"},
          // Text cut inside a character ends with it.
          {"select {fn UCASE(x)} \xF0", "select UCASE(x) \xF0"},
          {"select {fn UCASE(x)} \xF0\x9F", "select UCASE(x) \xF0\x9F"},
          {"select '\xE3", "#1"},
          {"select '\xE3\x81", "#1"},
          {"{fn UCASE(\xF0\x9F", "#1"},
          {"{d '\xE3", "#1"},
          {"/* \xE3", "#1"},
          {"-- \xE3", "-- \xE3"},
      },
      utf8);
  // Without UTF-8 the same bytes open a string.
  EXPECT_EQ(Translate("select \xC3' {fn UCASE(x)}"), "#1");
}

TEST(EscapeTranslate, DoubleByteTextStepsByTheLeadByteTable) {
  LS_CharFunctions shift_jis;
  {
    vq::testing::ScopedEnvironment env({"LANG", "LC_ALL", "LC_CTYPE"});
    env.Set("VCCHARSET", "Shift_JIS");
    shift_jis.init();
  }
  ASSERT_TRUE(shift_jis.isMultibyte());
  EscapeContext sjis;
  sjis.client_code_page = 932;
  sjis.lead_bytes = &shift_jis;
  // 0x83 0x7B and 0x83 0x7D are characters whose trail bytes are the codes of "{" and "}".
  ExpectAll(
      {
          {"select \x83\x7B {fn UCASE(x)}", "select \x83\x7B UCASE(x)"},
          {"{fn UCASE(\x83\x7D)}", "UCASE(\x83\x7D)"},
          {"{d '\x83\x7D'}", "cast('\x83\x7D' AS DATE)"},
          {"select {fn UCASE(x)} \x83", "select UCASE(x) \x83"},
          {"{fn UCASE(\x83", "#1"},
      },
      sjis);
  // A single-byte table takes the trail bytes for braces.
  LS_CharFunctions single;
  {
    vq::testing::ScopedEnvironment env({"LANG", "LC_ALL", "LC_CTYPE"});
    env.Set("VCCHARSET", "ISO-8859-1");
    single.init();
  }
  EscapeContext latin1;
  latin1.lead_bytes = &single;
  EXPECT_EQ(Translate("select \x83\x7B {fn UCASE(x)}", latin1), "#1");
  EXPECT_EQ(Translate("{fn UCASE(\x83\x7D)}", latin1), "UCASE(\x83))}");
}

TEST(EscapeTranslate, InsertStatementsAreRecognised) {
  const struct {
    const char* text;
    bool insert;
  } cases[] = {
      {"insert into t values (1)", true}, {"  \n\tInSeRt into t", true}, {"INSERT", true},
      {"inser", false},  {"select 1", false},  {"", false},  {" -- insert", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string s = c.text;
    std::vector<char> exact(s.begin(), s.end());
    EXPECT_EQ(SqlBeginsWithInsert(exact.data(), exact.size()), c.insert);
  }
  EXPECT_FALSE(SqlBeginsWithInsert(nullptr, 0));
}

}  // namespace

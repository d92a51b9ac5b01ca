// ODBC escape translation: rewrites the escape clauses of an application's SQL text
// ("{fn ...}", "{d ...}", "{t ...}", "{ts ...}", "{guid ...}", "{oj ...}", "{call ...}",
// "{?=call ...}", "{escape ...}" and vendor blocks "--(* vendor(...), product(...) ...
// *)--") into the server's SQL in one pass, leaving comments and quoted text alone.
//
// The translator knows nothing of handles. What it reads of a connection or statement
// comes in an EscapeContext the caller fills; a failure comes back as a code with its
// (ODBC 3, ODBC 2) SQLSTATE pair, which the caller posts as a diagnostic on the handle
// (picking the state by the environment's ODBC version) before returning SQL_ERROR.
//
// Wiring into the handles:
// - the context: server_version from the connection's post-connect probe;
//   client_code_page 65001 when the connection's client character set is UTF-8;
//   lead_bytes the lead-byte table of any other client set (null: LSCharFunctions);
//   no_scan from ULenOption(handle, SQL_NOSCAN) of the handle at hand (the connection
//   for SQLNativeSql, the statement, which falls back to its connection, on prepare).
// - SQLNativeSql: ODBCParse into a std::string, then MakeSQLString and ReturnSQLString.
// - the statement's prepare (ODBCParseStmt): is_insert = SqlBeginsWithInsert(text),
//   empty the translated text, ODBCParse the whole SQL text; on success the output
//   becomes the translated tagSQLSTRING that is sent; on failure nothing is sent.
//
// All functions are noexcept and thread-compatible: they touch nothing but their
// arguments and read-only tables.
#ifndef VQ_ODBC_ESCAPE_TRANSLATE_H
#define VQ_ODBC_ESCAPE_TRANSLATE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "odbc/escape_functions.h"

class LS_CharFunctions;

// What translation reads of the handle.
struct EscapeContext {
  std::int32_t server_version = 0;  // the connection's server version (major x 1000 +
                                    // minor x 100 + build); REPLACE passes from 7000 on
  std::int32_t client_code_page = 0;  // the connection's client code page; 65001 is UTF-8
  const LS_CharFunctions* lead_bytes = nullptr;  // lead-byte table of any other client
                                                 // character set; null: LSCharFunctions
  bool no_scan = false;  // SQL_NOSCAN is on: the text is copied unchanged
};

// Results of translation. Codes 1 to 3 are the scanner's own.
enum EscapeStatus : int {
  kEscapeOk = 0,
  kEscapeSyntax = 1,           // unterminated comment, string, brace or vendor block;
                               // unknown escape keyword; malformed escape (42000 / 42000)
  kEscapeUnknownFunction = 2,  // scalar function in no table (22025 / 37000)
  kEscapeBadArgument = 3,      // missing function argument or unknown type name
                               // (42000 / 42000)
  kEscapeTooLong = 4,          // translated text beyond kEscapeMaxOutputBytes or its
                               // growth limit (HY090 / S1090)
  kEscapeNoMemory = 5,         // allocation failed (HY001 / S1001)
};

// A failure: its code, its two states and where it was found.
struct EscapeError {
  int code = kEscapeOk;
  const char* state3 = "00000";  // ODBC 3 SQLSTATE (static text)
  const char* state2 = "00000";  // ODBC 2 SQLSTATE (static text)
  std::size_t position = 0;      // byte offset into the input text; diagnostics omit it
};

// The longest translated text (the length of a tagSQLSTRING is 32-bit).
constexpr std::size_t kEscapeMaxOutputBytes = 0xFFFFFFFCu;
// Templates may copy an argument several times (INSERT three times), so nested escapes
// can grow the text exponentially. The translation of n bytes of text may come to at
// most n x kEscapeMaxGrowth + kEscapeGrowthSlackBytes bytes.
constexpr std::size_t kEscapeMaxGrowth = 16;
constexpr std::size_t kEscapeGrowthSlackBytes = 1u << 20;
// Escapes nested deeper than this (counting escape bodies and function arguments) are a
// syntax error, which bounds the translator's recursion.
constexpr int kEscapeMaxNesting = 64;

// The states of a code.
void EscapeStates(int code, const char** state3, const char** state2);

// Translates text[0, length) and appends the result to *out. Returns kEscapeOk, or a
// failure code that is also stored in *error (which may be null); after a failure *out
// holds the text translated so far, which must not be sent. Null text with length 0 is
// empty text. `table` (null for the built-in tables) is described at Parse.
int ODBCParse(const EscapeContext& context, const char* text, std::size_t length,
              std::string* out, EscapeError* error,
              const EscapeFunction* table = nullptr) noexcept;

// The general form. With a caller's function table, that table replaces the built-in
// ones, and date, time, timestamp and GUID literals become the calls
// convertsql_date('...'), convertsql_time('...'), convertsql_timestamp('...') and
// strtouuid('...'), each translated through the table. Mode 1 uses a one-row table
// (NOW to SYSDATE) in place of the built-in ones and adds "()" to a call escape without
// parentheses. `percent` makes "%" start a comment to the end of the line and makes "%"
// the template marker in place of "&". The driver itself uses no table, mode 0 and
// percent off.
int Parse(const EscapeContext& context, std::string* out, const char* start, const char* end,
          const EscapeFunction* table, int mode, bool percent, EscapeError* error) noexcept;

// True when the text, after leading white space, begins with "insert" in any case: the
// statement's is_insert flag.
bool SqlBeginsWithInsert(const char* text, std::size_t length) noexcept;

#endif  // VQ_ODBC_ESCAPE_TRANSLATE_H

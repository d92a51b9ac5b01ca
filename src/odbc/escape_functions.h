// The tables behind "{fn ...}" escapes: scalar functions as templates of the server's
// SQL, and the ODBC type names that CONVERT and CAST accept.
//
// A template is copied with its marker ("&", or "%" when the caller asks for it)
// replaced: "&n" by the n-th argument, "&-n" by "," and the n-th argument when there is
// one ("&-0": the first argument or 3), "&Tn" by the n-th argument with its ODBC type
// name replaced by the server's, and "&" with any other character (or at the end) by the
// whole argument list followed by that character.
#ifndef VQ_ODBC_ESCAPE_FUNCTIONS_H
#define VQ_ODBC_ESCAPE_FUNCTIONS_H

#include <cstddef>
#include <cstdint>

// One scalar function. A table is an array of rows ended by a row whose name is null;
// rows are tried in order and the first whose name matches wins.
struct EscapeFunction {
  const char* name;         // the ODBC name, matched without case
  const char* server_name;  // null: no call around the template; "": just parentheses
  const char* args;         // argument template
  const char* prefix;       // template written before the call, or null
  const char* suffix;       // template written after the call, or null
  const char* separator;    // argument separator: "," (null means ","), or a word
};

// The built-in functions, in the order they are tried.
extern const EscapeFunction kEscapeFunctions[];
// Tried before kEscapeFunctions when the server version is at least
// kEscapeReplaceServerVersion: REPLACE passes through.
extern const EscapeFunction kEscapeFunctionsV7[];
constexpr std::int32_t kEscapeReplaceServerVersion = 7000;
// The one-row table of translation mode 1: NOW becomes SYSDATE.
extern const EscapeFunction kEscapeFunctionsMode1[];

// The server's name of an ODBC type name (the whole name, matched without case), or null.
const char* EscapeServerTypeName(const char* name, std::size_t length);

#endif  // VQ_ODBC_ESCAPE_FUNCTIONS_H

// Returning text to an application's buffer, and the growable SQL text the driver builds
// statements in (tagSQLSTRING).
//
// Every function records its diagnostics on the handle it is given (null: none) and is
// called under that handle's lock (the call framing holds it). Nothing here throws.
#ifndef VQ_ODBC_SQL_STRING_H
#define VQ_ODBC_SQL_STRING_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

struct tagOBJECT;

// ---- Returning text ----------------------------------------------------------------------

// Copies text[0, text_length) into out (out_size bytes) with a terminator. A null text is
// empty; text_length SQL_NTS measures the text; any other negative length counts as 0.
// - out_size negative with an out buffer: HY090/S1090, result -1, nothing written.
// - length_out (when given) receives the full length, truncated or not. The 16-bit form
//   reports at most SHRT_MAX: a longer text can only be returned truncated there.
// - length + 1 > out_size: 01004/01004 recorded, result 1; out_size - 1 bytes and a
//   terminator are copied (nothing at all when out_size is 0).
// - without an out buffer only the length is returned (result 0).
// Result 0 otherwise.
int ReturnString(tagOBJECT* handle, void* out, SQLINTEGER out_size, SQLSMALLINT* length_out,
                 const char* text, SQLINTEGER text_length);
int ReturnString(tagOBJECT* handle, void* out, SQLINTEGER out_size, SQLINTEGER* length_out,
                 const char* text, SQLINTEGER text_length);

// ---- Growable SQL text ------------------------------------------------------------------

// Capacity values that mark a string every append leaves alone.
constexpr std::uint32_t kSQLStringFailed = 0xFFFFFFFFu;  // a growth failed (-1)
constexpr std::uint32_t kSQLStringLocked = 0xFFFFFFFEu;  // (-2)
// The longest text a tagSQLSTRING holds (its length is 32-bit, with room for the
// terminator below the two marks above).
constexpr std::uint32_t kSQLStringMaxLength = 0xFFFFFFFCu;

// A zero-initialised tagSQLSTRING is empty and valid. The text is owned (ut_malloc /
// ut_free), NUL-terminated whenever it is non-null.
struct tagSQLSTRING {
  char* text;             // owned, or null while empty
  std::uint32_t length;   // bytes before the terminator
  std::uint32_t capacity; // bytes allocated; kSQLStringFailed after a failed growth
};

// Makes room for `needed` bytes (terminator included). 0, or -1 when the string is
// marked or memory runs out (HY001/S1001 recorded, the text released, capacity
// kSQLStringFailed).
int ExtendSQLString(tagOBJECT* handle, tagSQLSTRING* s, std::uint32_t needed);
// Appends text[0, length) (SQL_NTS: measured; null text: nothing). A marked string is
// left alone (result -1 for kSQLStringFailed, 0 for kSQLStringLocked). A total above
// kSQLStringMaxLength records HY090/S1090 and appends nothing (-1). A failed growth:
// as ExtendSQLString (-1). 0 on success.
int AddToSQLString(tagOBJECT* handle, tagSQLSTRING* s, const char* text, SQLINTEGER length);
// Empties the string (keeping its buffer), then appends.
int MakeSQLString(tagOBJECT* handle, tagSQLSTRING* s, const char* text, SQLINTEGER length);
// A NUL-terminated copy of the text (ut_malloc, caller releases with ut_free); an empty
// string gives an empty copy. Null when memory runs out (HY001/S1001 recorded) or the
// string's last growth failed.
char* CopySQLString(tagOBJECT* handle, const tagSQLSTRING* s);
// ReturnString of the text (16- or 32-bit length output), then the text is freed and the
// string reset to empty. A string whose growth failed returns -1 (its HY001 is already
// recorded) and writes nothing.
int ReturnSQLString(tagOBJECT* handle, void* out, SQLINTEGER out_size, SQLSMALLINT* length_out,
                    tagSQLSTRING* s);
int ReturnSQLString(tagOBJECT* handle, void* out, SQLINTEGER out_size, SQLINTEGER* length_out,
                    tagSQLSTRING* s);
// Frees the text and resets the string to empty (null: nothing).
void FreeSQLString(tagSQLSTRING* s);

#endif  // VQ_ODBC_SQL_STRING_H

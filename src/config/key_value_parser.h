// The one parser of `key=value;key=value` texts: it reads such a text against an option
// table into a block of value texts indexed by slot, with quoting, bracket groups,
// duplicate and unknown-key rules and numbered parse errors. Also the two value readers
// the option vocabulary relies on: yes/no words and numbers with byte units.
//
// Nothing here throws; failures are the parse codes below. The option tables themselves
// and the parsers bound to them are in option_tables.h and conn_string.h.
#ifndef VQ_CONFIG_KEY_VALUE_PARSER_H
#define VQ_CONFIG_KEY_VALUE_PARSER_H

#include <cstddef>
#include <cstdint>

extern "C" {

// A value check: takes the value text and returns the text to store (the value itself or
// a static text such as "YES"), or null to reject the value.
typedef const char* (*a_conn_option_check)(const char* value);

// One row of an option table; a row whose long name is null ends the table. A row's
// position in its table is its slot index.
struct a_conn_option {
  const char* long_name;       // never null in a live row
  const char* short_name;      // or null
  const char* const* aliases;  // null, or further names ended by a null entry
  a_conn_option_check check;   // null: any value is stored as given
  std::uint32_t brackets;      // 1: the value may hold nested (...) and {...} groups
};

// The parsed value block. `values` has count + 1 entries: one text per slot (null when
// not given, each a separate ut_malloc allocation owned by the block) and, last, the
// 256-byte error buffer that receives the offending text of a failed parse.
struct a_string_parms {
  std::uint16_t count;  // number of slots
  char** values;        // count + 1 entries, or null for an empty block
  std::uint8_t flags;   // bit 0: filled from an old-style (comma-separated) string
};

}  // extern "C"

// Parse error codes, shared by every parser of configuration text.
enum : int {
  kParseOk = 0,
  kParseNoMemory = 1,        // out of memory; the error buffer is left alone
  kParseNoEquals = 2,        // a key without '=' or '#'
  kParseOpenQuote = 3,       // unterminated quote
  kParseTextAfterGroup = 4,  // text after a closing bracket (connection-string lists)
  kParseUnknownKey = 5,
  kParseBrackets = 6,  // unbalanced or mismatched brackets
  kParseBadValue = 7,  // rejected by a check, text after a quote, too many fields,
                       // a number slot that does not read
  kParseDsnFileNotFound = 8,
  kParseDsnFileNotOpened = 9,
  kParseNoDataSource = 10,
  kParseBadHeaderText = 11,  // bad text after a header name
};

constexpr std::size_t kStringParmsErrorSize = 256;   // bytes of the error buffer
constexpr std::uint8_t kStringParmsOldStyle = 0x01;  // bit of a_string_parms::flags

// Room an `order` list needs: one entry per slot of the largest block (67) and the -1.
constexpr std::size_t kParseOrderRoom = 68;

// Allocates `count` empty slots and the emptied error buffer, sets the count and clears
// the old-style bit. The block must be empty (zeroed or freed): nothing in it is freed.
// False when memory runs out; nothing is allocated then.
[[nodiscard]] bool InitSizedStringParms(a_string_parms* parms, unsigned count);

// Overwrites every value text with zero bytes, frees it, frees the error buffer and the
// slot array, and leaves the block empty. Safe on an empty block and on null.
void FreeStringParms(a_string_parms* parms);

// The error buffer of an initialised block, or null.
char* StringParmsError(const a_string_parms* parms);

// Parses `text` into the initialised block `parms` against `table`.
//  - `client`: the StartLine value follows the command-line bracket rule and a
//    ServerName value is cut to 250 characters;
//  - `keepFirst`: a key given twice keeps its first value (otherwise the last wins);
//  - `allowUnknown`: keys not in the table are skipped (otherwise kParseUnknownKey);
//  - `order`: when not null, receives the slot index of every slot that gets its first
//    value in this parse, in the order met, followed by -1; it needs room for the
//    block's count + 1 entries (kParseOrderRoom for every block this system uses).
// Returns a parse code. On codes 2 and above the error buffer holds the offending text:
// the rest of the string from the failing key (2), the key (3, 5, 6, 7 while reading a
// value) or the rejected value (7 from a check), at most 255 bytes. Values stored before
// an error stay in the block. A null text is success with nothing stored.
[[nodiscard]] int ParseKeyValueString(const char* text, a_string_parms* parms,
                                      const a_conn_option* table, bool client, bool keepFirst,
                                      bool allowUnknown, int* order);

// The two steps of ParseKeyValueString, working in place on a writable text (they write
// terminators into it). NextKey skips blanks, characters 9 to 13 and semicolons; at the
// end it sets `key` to null and returns 0; a key without '=' or '#' is kParseNoEquals,
// `pos` then still at the key. NextValue reads one value (quotes, bracket groups when
// `brackets`, the command-line rule when `startLine`) and moves `pos` past its ';'.
[[nodiscard]] int ParseKeyValueNextKey(char** pos, char** key);
[[nodiscard]] int ParseKeyValueNextValue(char** pos, char** value, bool brackets,
                                         bool startLine);

// Reads a name in front of a bracket group, as in `name(k=v;...)` or `name{k=v;...}`,
// in place. No header (the text starts with a key): `name` null, `pos` at the first
// non-blank character, 0. A name alone: `pos` at the end, 0. A group: the last
// non-blank character must be the matching closer (else kParseBrackets); the closer and
// trailing white space are cut off, `pos` moves just inside the group, 0. Any other text
// after the name is kParseBadHeaderText.
[[nodiscard]] int ParseKeyValueHeader(char** pos, char** name);

// Yes words "yes", "on", "1", "true", "y", "t"; no words "no", "off", "0", "false", "n",
// "f"; any case, yes words tried first. With `whole` the text must be a word, otherwise
// it need only begin with one. False for a null text or no match.
bool ParseYesNo(const char* text, int* value, bool whole);

// Reads an unsigned 64-bit number: leading white space skipped; "0x" starts hex digits
// ("0x" alone is 0); with `bytes` a K, M or G (any case) multiplies by 2^10, 2^20, 2^30
// and ends the number whatever follows; with a non-zero `base`, P, p or % makes the
// number a percentage of the base (over 100 is false). Any other character ends the
// number: false when `strict`. An empty text is false, a null text is 0 and true.
// Values that do not fit saturate at UINT64_MAX. `end`, when not null, points after the
// last character used.
bool knumber(const char* text, std::uint64_t* value, std::uint64_t base, bool bytes,
             bool strict, const char** end);

// Removes trailing blanks (not tabs) in place; null is ignored.
void RTrim(char* text);

#endif  // VQ_CONFIG_KEY_VALUE_PARSER_H

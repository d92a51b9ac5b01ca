// Protocol options of a link: a text of entries "name=value" separated by ";" (list
// values separated by ","), parsed against a table of the options the link knows.
//
// Each row of the table receives its typed value; the caller owns the table (usually a
// per-connection copy of a template) and the values in it until unprepare_port_options.
// A failed parse reports a result code that names the failing row; the text of an entry
// that could not be matched is saved in the caller's buffer, never in shared state, so
// concurrent connects cannot garble each other's messages.
#ifndef VQ_NET_PORT_OPTIONS_H
#define VQ_NET_PORT_OPTIONS_H

#include <cstdint>

class UTLangStringBase;

// Value kinds of a row.
enum : std::uint32_t {
  PORT_OPT_BOOLEAN = 0,      // yes/no word: value.number 0 or 1
  PORT_OPT_BYTE = 1,         // number of at most 254
  PORT_OPT_SHORT = 2,        // number of at most 65535
  PORT_OPT_NUMBER_LIST = 3,  // value.pointer: uint16_t array, count = elements; ranges "a-b"
  PORT_OPT_NUMBER = 4,       // 32-bit number
  PORT_OPT_IPX_LIST = 5,     // value.pointer: array of pointers to 11-byte IPX addresses
  PORT_OPT_STRING = 6,       // value.pointer: copy of the value, leading blanks dropped
  PORT_OPT_STRING_LIST = 7,  // value.pointer: array of string copies, count = elements
  PORT_OPT_RAW_STRING = 8,   // value.pointer: the whole value text, commas included
  PORT_OPT_SIZED_NUMBER = 9  // 32-bit number with K, M or G byte units
};

// One 32-bit number or one pointer, by kind.
union a_port_option_value {
  std::uint32_t number;
  void* pointer;
};

struct a_port_option {
  const char* name;           // compared without regard to case
  const char* alias;          // second accepted name, may be null
  a_port_option_value value;  // by kind
  int count;                  // values held; 0 = not given
  std::uint32_t kind;
};

// Result codes: a flag, and in bits 0 to 7 the position of the row concerned.
enum : std::uint32_t {
  PORT_OPT_OK = 0,
  PORT_OPT_MULTIPLE = 0x100,   // more than one value for a single-valued option
  PORT_OPT_BAD_VALUE = 0x200,  // the value text is not valid for the kind
  PORT_OPT_NO_EQUALS = 0x400,  // an entry without "=" or "#" (entry text saved)
  PORT_OPT_UNKNOWN = 0x800,    // a name not in the table (entry text saved), or a kind above 9
  PORT_OPT_NO_MEMORY = 0x1000,
  PORT_OPT_INDEX_MASK = 0xFF
};

// The first 15 characters of the entry that could not be matched, terminated; empty when
// nothing was saved.
constexpr unsigned kPortOptionSavedBytes = 16;

// Parses the option text into the table (ended by a row whose name is null). 0 for a
// null or empty text. `saved`, when not null, is a buffer of kPortOptionSavedBytes that
// receives the entry text for PORT_OPT_NO_EQUALS and PORT_OPT_UNKNOWN (and is emptied
// otherwise). Rows filled before a failure keep their values. `flag` has no effect.
std::uint32_t prepare_port_options(const char* text, unsigned flag, a_port_option* table,
                                   char* saved);
// Parses one value into one row: 0 or a result flag without index.
std::uint32_t parse_option(const char* valueText, unsigned flag, a_port_option* row);
// 1 when the row is given and means yes (kind 0 its value, kind 6 its text, kind 7 its
// first text read as a yes/no word); else 0.
unsigned port_option_on(const a_port_option* row);
// 1 when the row is given and means no, by the same rules.
unsigned port_option_off(const a_port_option* row);
// Releases the row's value; count becomes 0.
void option_deallocate(a_port_option* row);
void unprepare_port_options(a_port_option* table, unsigned flag);
// Formats the message of a result code, then a newline, into `buffer` of `size` bytes.
// `saved` is the entry text prepare_port_options saved (null or empty when none).
void option_error(std::uint32_t code, char* buffer, unsigned size, UTLangStringBase* strings,
                  const a_port_option* table, const char* linkName, const char* saved);

// IPX addresses (10 bytes: four network bytes, then six node bytes) as text: the six node
// bytes joined by ":", "/", the four network bytes joined by ":", each in decimal.
// `text` needs 40 bytes.
void ipx_addr_to_string(const void* address, char* text);
// Reads that form (blanks allowed around each number, values up to 254) into `address`;
// returns `address`, or null on a syntax error.
char* string_to_ipx_addr(const char* text, char* address);

#endif  // VQ_NET_PORT_OPTIONS_H

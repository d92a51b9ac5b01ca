// The connection-string codec: the parsers bound to each option table, the client's full
// parse (old comma form, VCCONNECT defaults, data sources, Encryption normalisation), the
// builders that turn a value block back into text, the names of each slot and the
// messages of parse errors.
//
// Every parser fills an a_string_parms; the per-table parsers initialise the block
// themselves, so it must be empty (zeroed or freed) on entry. Results are the parse codes
// of key_value_parser.h, with the offending text in the block's error buffer.
#ifndef VQ_CONFIG_CONN_STRING_H
#define VQ_CONFIG_CONN_STRING_H

#include <cstddef>

#include "config/key_value_parser.h"

class UTLangStringBase;

// Client rules, last value wins, unknown keys rejected, into an initialised block.
[[nodiscard]] int ParseConnectString(const char* text, a_string_parms* parms,
                                     const a_conn_option* table);
// ParseConnectString against MapClientOptionTable into an initialised block.
[[nodiscard]] int ParseEngStringAppend(const char* text, a_string_parms* parms);
// The same into a fresh 46-slot block.
[[nodiscard]] int ParseEngString(const char* text, a_string_parms* parms);
// 67 slots: MapClientOptionTable rows then MapODBCOptionTable rows, client rules,
// keepFirst and allowUnknown both `flag`; `order` as for ParseKeyValueString.
[[nodiscard]] int ParseODBCAndClientString(const char* text, a_string_parms* parms, bool flag,
                                           int* order);

// Per-table parsers; each initialises its own slot count (kParseNoMemory when it cannot).
[[nodiscard]] int ParseTCPIPStringParms(const char* text, a_string_parms* parms,
                                        bool allowUnknown);
[[nodiscard]] int ParseTLSStringParms(const char* text, a_string_parms* parms,
                                      bool allowUnknown);
[[nodiscard]] int ParseODBCStringParms(const char* text, a_string_parms* parms);
[[nodiscard]] int ParseCPoolStringParms(const char* text, a_string_parms* parms);
[[nodiscard]] int ParseAppInfoStringParms(const char* text,
                                          a_string_parms* parms);  // unknown keys allowed
[[nodiscard]] int ParseOracleStringParms(const char* text, a_string_parms* parms);
[[nodiscard]] int ParseNotifyStringParms(const char* text, a_string_parms* parms);
[[nodiscard]] int ParseSyncStringParms(const char* text, a_string_parms* parms);

// A client string without defaults. A text with neither '=' nor '#' is old style:
// "user,password,file,connection" (at most four fields; a fifth is kParseBadValue with the
// text from the fourth comma on in the error buffer); the base name of the file also
// becomes ServerName. Any other text goes to ParseEngString. 46 slots either way.
[[nodiscard]] int ParseStringParmsStringOnly(const char* text, a_string_parms* parms);

// The client's full parse: ParseStringParmsStringOnly, AddVCCONNECTDefaults, the data
// source named by DataSourceName (else FileDataSourceName) filling the empty slots, and the
// Encryption value checked and rebuilt as a list.
[[nodiscard]] int ParseClientStringParms(const char* text, a_string_parms* parms);

// Fills the empty client slots of `parms` (at least 46 slots) from the VCCONNECT
// environment variable, unless IgnoreVCCONNECT is "YES", and from a data source named
// there. `order`, when not null, is the list left by the parser (ended by -1, room
// kParseOrderRoom): the slots filled here are appended once each, and -1 after them.
[[nodiscard]] int AddVCCONNECTDefaults(a_string_parms* parms, bool keepFirst, int* order);

// Checks an Encryption value as a connection-string list; when `normalised` is not null
// it receives the list rebuilt by BuildCSListString (ut_free; null for an empty list).
[[nodiscard]] int ParseEncryptionString(const char* text, char** normalised);

// The base name of a database file: after the last '\', '/', ':' or '@', up to the first
// '.' after that; cut to size - 1 bytes and terminated.
void ParseDBName(const char* path, char* out, std::size_t size);

// Builders. Each returns a new text freed with FreeConnectString, or null when memory
// runs out or the block has no slot array. Pairs are "key=value" in slot order, the short
// name preferred, values quoted in single quotes (inner quotes doubled) when they hold a
// quote, ';', ',', '=', blank, form feed, line feed, carriage return or tab.
// BuildConnectString with `mask` writes Password, EncryptedPassword, DatabaseKey and
// NewPassword as "********".
char* BuildConnectString(const a_string_parms* parms, bool mask);
char* BuildODBCString(const a_string_parms* parms);
char* BuildTLSString(const a_string_parms* parms);
char* BuildTCPIPString(const a_string_parms* parms);
char* BuildAppInfoString(const a_string_parms* parms);
char* BuildOracleString(const a_string_parms* parms);
char* BuildSyncString(const a_string_parms* parms);  // separator ","

// The steps of the builders, for callers that build strings of their own. CalcLen adds to
// `*length` the bytes one pair needs (the separator when `*length` is not 0); the
// terminator is not counted. Append writes the pair at the end of `buffer`, which must
// have that room (the separator when the buffer is not empty). AppendValue writes the
// value alone, quoted as needed. All do nothing for a null key or value.
void BuildConnectStringCalcLen(std::size_t* length, const char* key, const char* value,
                               char separator);
void BuildConnectStringAppend(char* buffer, const char* key, const char* value, char separator);
void BuildConnectStringAppendValue(char* buffer, const char* value);

// The names of slot `index` (0 to 45 client rows, 46 to 66 ODBC rows); false for any
// other index. `flag` is 0 for the slots that are not passed on to the engine by name.
bool ConnOpt_ClientOption_Strs(int index, const char** longName, const char** shortName,
                               const char* const** aliases, int* flag);
// The same for MapOracleOptionTable, index 0 to 10, flag always 1.
bool ConnOpt_OracleOption_Strs(int index, const char** longName, const char** shortName,
                               const char* const** aliases, int* flag);

// Formats the message of parse error `code` into `buffer` of `size` bytes with the message
// strings `strings`; code 0 leaves the buffer untouched.
void GetParseErrorInfo(int code, const a_string_parms* parms, UTLangStringBase* strings,
                       char* buffer, std::size_t size);

// An EncryptedPassword value turned back into the password (ut_free), or null.
char* DecryptENP(const char* text);
// Wipes and frees a text made by the builders; null is ignored.
void FreeConnectString(char* text);

namespace vq::config {

// Seam for the data-source profiles: reads data source (or file data source) `name` into
// `parms`, which it initialises with `count` slots, putting the name in the error buffer.
// Returns 0, kParseNoMemory, kParseDsnFileNotFound, kParseDsnFileNotOpened or
// kParseNoDataSource. The default reader is ReadProfile (data_source_profile.h); tests
// install readers of their own.
using ProfileReader = int (*)(const char* name, a_string_parms* parms, bool isFile,
                              unsigned count);
void SetProfileReader(ProfileReader reader);  // null restores the default

// The formatter of the parse-error messages: formats message `number` with its one
// argument through the catalog `strings` (may be null) into `buffer` of `size` bytes,
// leaving it empty when it has no text. The message catalog installs its formatter when
// the first catalog is initialised (the catalog lives above this library); until then,
// and whenever the formatter leaves the buffer empty, the built-in English texts are
// used. Tests install formatters of their own.
using ParseMessageFormatter = void (*)(UTLangStringBase* strings, unsigned number,
                                       const char* argument, char* buffer, std::size_t size);
void SetParseMessageFormatter(ParseMessageFormatter formatter);  // null restores the default

// The message number GetParseErrorInfo formats for a code (0 for code 0).
unsigned ParseErrorMessageNumber(int code);

}  // namespace vq::config

#endif  // VQ_CONFIG_CONN_STRING_H

// SQLSTATEs as the driver keeps them, its table of state texts, and the text rules of
// its diagnostic records.
//
// A state is kept packed (six bits per character, see a_packed_sqlstate) and always as a
// pair: the ODBC 3 state and the ODBC 2 state; which one an application sees is chosen
// when it reads the record. Packed values order digits before letters, so "classes 00
// and 01" are simply the values below PackSQLState("02000").
//
// Nothing here touches a handle; diagnostics.h builds the records on these pieces.
#ifndef VQ_ODBC_DIAG_STATES_H
#define VQ_ODBC_DIAG_STATES_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "cmdseq/errors/error_table.h"

// Packs the five characters of a state held as text. Each character c contributes
// c - '0', except that a byte of value 9 or less is taken as it stands (error blocks may
// carry states already reduced to digits). A text that ends early packs its missing
// characters as 0; nothing past the terminator is read.
constexpr a_packed_sqlstate PackSQLState(const char* s) {
  a_packed_sqlstate packed = 0;
  bool ended = false;
  for (int i = 0; i < 5; ++i) {
    unsigned char c = ended ? 0 : static_cast<unsigned char>(s[i]);
    if (c == 0) ended = true;
    const unsigned int field = c <= 9 ? c : static_cast<unsigned int>(c - '0');
    packed = (packed << 6) | (field & 0x3F);
  }
  return packed;
}

// The states the driver posts by name. ODBC 2 partners of the HY states are S1 states;
// states of classes 01, 07 and 08 are their own partners.
constexpr a_packed_sqlstate kStateNone = 0;
constexpr a_packed_sqlstate kState01000 = PackSQLState("01000");
constexpr a_packed_sqlstate kState01002 = PackSQLState("01002");
constexpr a_packed_sqlstate kState01004 = PackSQLState("01004");
constexpr a_packed_sqlstate kState07002 = PackSQLState("07002");
constexpr a_packed_sqlstate kState08002 = PackSQLState("08002");
constexpr a_packed_sqlstate kState08003 = PackSQLState("08003");
constexpr a_packed_sqlstate kState08S01 = PackSQLState("08S01");
constexpr a_packed_sqlstate kStateHY000 = PackSQLState("HY000");
constexpr a_packed_sqlstate kStateS1000 = PackSQLState("S1000");
constexpr a_packed_sqlstate kStateHY001 = PackSQLState("HY001");
constexpr a_packed_sqlstate kStateS1001 = PackSQLState("S1001");
constexpr a_packed_sqlstate kStateHY009 = PackSQLState("HY009");
constexpr a_packed_sqlstate kStateS1009 = PackSQLState("S1009");
constexpr a_packed_sqlstate kStateHY010 = PackSQLState("HY010");
constexpr a_packed_sqlstate kStateS1010 = PackSQLState("S1010");
constexpr a_packed_sqlstate kStateHY090 = PackSQLState("HY090");
constexpr a_packed_sqlstate kStateS1090 = PackSQLState("S1090");
constexpr a_packed_sqlstate kStateHY092 = PackSQLState("HY092");
constexpr a_packed_sqlstate kStateS1092 = PackSQLState("S1092");
constexpr a_packed_sqlstate kStateHYC00 = PackSQLState("HYC00");
constexpr a_packed_sqlstate kStateS1C00 = PackSQLState("S1C00");
constexpr a_packed_sqlstate kStateIM001 = PackSQLState("IM001");

// A state below this one (classes 00 and 01, and 07001) makes a record a warning; every
// other state makes it an error.
constexpr a_packed_sqlstate kFirstErrorState = kState07002;

// One row of the driver's state texts: the number of the message that describes the
// state, and the state.
struct a_odbc_state_row {
  std::uint16_t message_id;  // numbered message of the resource files; 0 ends the table
  a_packed_sqlstate state;
};

// kStateLookupRows rows in the driver's order (messages 4800 to 4883), then a row of 0.
extern const a_odbc_state_row ODBC_StateLookupTable[];
constexpr std::size_t kStateLookupRows = 84;

// The message id of the first row holding the state, or 0 when no row does.
std::uint16_t StateMessageId(a_packed_sqlstate state);

// The name of a dynamic function code as SQL_DIAG_DYNAMIC_FUNCTION reports it; "" for
// a code the driver does not name (0 included).
const char* DynamicFunctionName(SQLINTEGER code);

// The longest message of a record, in characters, not counting the terminator.
constexpr std::size_t kDiagMessageChars = 512;

// Writes the message of a record into out (kDiagMessageChars + 1 bytes): the prefix,
// then the body cut so that the whole stays within kDiagMessageChars. The prefix names
// the driver ("[Tovrak][JDBC Driver]" under the JDBC bridge, else "[Tovrak][ODBC
// Driver]") and, for a server error, the server ("[Brackwater Server]" or
// "[Vellumcrest]"); `oledb` leaves out every prefix. `body` may be null. Returns the
// message's length.
std::size_t AssembleDiagMessage(bool oledb, bool jdbc, bool server_error, bool brackwater,
                                const char* body, char* out);

// Copies a text to an application's buffer of buffer_length bytes: *length_out (when
// given) receives the text's full length; at most buffer_length - 1 bytes are copied and
// terminated; a length below 1 copies nothing. Returns 1 when the text did not fit
// (length + 1 > buffer_length), else 0; a null buffer copies nothing and answers 0 (the
// application asked for the length alone). A length too large for the out
// field is reported as the largest it holds.
int CopyDiagText(const char* text, std::size_t length, SQLCHAR* buffer,
                 SQLSMALLINT buffer_length, SQLSMALLINT* length_out);

#endif  // VQ_ODBC_DIAG_STATES_H

// The server error table and its lookups, and the packed form of a SQLSTATE.
//
// AllErrorsMapping is exported data of the library: one 28-byte row per server SQL code
// the client may report, in ascending order of SQL code, and a row of zeros after the
// last. The ODBC layer formats its diagnostics from these rows; the client stores the
// states of a row in an error block.
#ifndef VQ_CMDSEQ_ERRORS_ERROR_TABLE_H
#define VQ_CMDSEQ_ERRORS_ERROR_TABLE_H

#include <cstddef>
#include <cstdint>

#ifndef VQ_EXPORTED_DATA
#define VQ_EXPORTED_DATA __attribute__((visibility("default")))
#endif

// A packed SQLSTATE: five characters, each stored as (character - '0') in 6 bits, the
// first in bits 24-29 and the fifth in bits 0-5; bits 30 and 31 are zero. Digits pack to
// 0..9 and capital letters to 17..42; 0 stands for "00000".
typedef std::uint32_t a_packed_sqlstate;

// One row: seven 32-bit integers, in this order.
struct a_cmdseq_error_map {
  std::int32_t sqlcode;            // server SQL code; unique
  std::int32_t message_id;         // number of the message text; unique, 2000..3187
  a_packed_sqlstate server_state;  // the server's own state
  a_packed_sqlstate odbc3_state;   // the state reported through ODBC 3
  std::int32_t compat_number;      // error number of the older interface, 0 where none
  std::int32_t severity;           // 10..26
  a_packed_sqlstate odbc2_state;   // the state reported through ODBC 2
};
static_assert(sizeof(a_cmdseq_error_map) == 28, "a row is seven 32-bit integers");
static_assert(offsetof(a_cmdseq_error_map, odbc2_state) + 4 == 28, "row layout");

extern "C" {
// kErrorMapRows rows in ascending order of sqlcode, then a row of zeros.
VQ_EXPORTED_DATA extern const a_cmdseq_error_map AllErrorsMapping[];
}

constexpr std::size_t kErrorMapRows = 1053;
constexpr std::int32_t kErrorMapFirstCode = -1532;
constexpr std::int32_t kErrorMapLastCode = 201;

// Packs five characters. Characters below '0' or above 'o' do not fit 6 bits; callers
// pass digits and capital letters.
constexpr a_packed_sqlstate i_cs_PackState(const char* s) {
  a_packed_sqlstate packed = 0;
  for (int i = 0; i < 5; ++i) {
    packed = (packed << 6) | (static_cast<a_packed_sqlstate>(s[i] - '0') & 0x3F);
  }
  return packed;
}

// Writes the five characters of a packed state and a terminating zero to `out` (six
// bytes); nothing for a null `out`.
void CmdSeqGetStateString(a_packed_sqlstate packed, char* out);

// The row of a SQL code, or null. Codes outside the table's range are not searched.
const a_cmdseq_error_map* GetErrorMapForSQLCode(std::int32_t sqlcode);
// The first row, in table order, whose server state equals `packed`, or null.
const a_cmdseq_error_map* GetErrorMapForSQLState(a_packed_sqlstate packed);
// The first row whose compatibility number equals `number`, or null.
const a_cmdseq_error_map* GetErrorMapForTVKCode(std::int32_t number);

#endif  // VQ_CMDSEQ_ERRORS_ERROR_TABLE_H

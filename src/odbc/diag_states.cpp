// The driver's tables of state texts and dynamic function names, and the text rules of
// a diagnostic record: message assembly with its prefixes and the copy to an
// application's buffer.
#include "odbc/diag_states.h"

#include <algorithm>
#include <cstring>
#include <limits>

// In message-number order; each state appears once, apart from the closing row.
const a_odbc_state_row ODBC_StateLookupTable[] = {
    {4800, PackSQLState("01002")},
    {4801, PackSQLState("01004")},
    {4802, PackSQLState("01S00")},
    {4803, PackSQLState("01S01")},
    {4804, PackSQLState("01S06")},
    {4805, PackSQLState("07002")},
    {4806, PackSQLState("07005")},
    {4807, PackSQLState("07006")},
    {4808, PackSQLState("07009")},
    {4809, PackSQLState("08001")},
    {4810, PackSQLState("08002")},
    {4811, PackSQLState("08003")},
    {4812, PackSQLState("08004")},
    {4813, PackSQLState("08007")},
    {4814, PackSQLState("08S01")},
    {4815, PackSQLState("21S01")},
    {4816, PackSQLState("21S02")},
    {4817, PackSQLState("22001")},
    {4818, PackSQLState("22003")},
    {4819, PackSQLState("22008")},
    {4820, PackSQLState("22012")},
    {4821, PackSQLState("22018")},
    {4822, PackSQLState("22019")},
    {4823, PackSQLState("22025")},
    {4824, PackSQLState("22026")},
    {4825, PackSQLState("23000")},
    {4826, PackSQLState("24000")},
    {4827, PackSQLState("25000")},
    {4828, PackSQLState("28000")},
    {4829, PackSQLState("34000")},
    {4830, PackSQLState("3C000")},
    {4831, PackSQLState("40001")},
    {4832, PackSQLState("42000")},
    {4833, PackSQLState("42S01")},
    {4834, PackSQLState("42S02")},
    {4835, PackSQLState("42S11")},
    {4836, PackSQLState("42S12")},
    {4837, PackSQLState("42S21")},
    {4838, PackSQLState("42S22")},
    {4839, PackSQLState("44000")},
    {4840, PackSQLState("HY000")},
    {4841, PackSQLState("HY001")},
    {4842, PackSQLState("HY003")},
    {4843, PackSQLState("HY004")},
    {4844, PackSQLState("HY007")},
    {4845, PackSQLState("HY008")},
    {4846, PackSQLState("HY009")},
    {4847, PackSQLState("HY010")},
    {4848, PackSQLState("HY011")},
    {4849, PackSQLState("HY012")},
    {4850, PackSQLState("HY015")},
    {4851, PackSQLState("HY016")},
    {4852, PackSQLState("HY018")},
    {4853, PackSQLState("HY021")},
    {4854, PackSQLState("HY024")},
    {4855, PackSQLState("HY090")},
    {4856, PackSQLState("HY091")},
    {4857, PackSQLState("HY092")},
    {4858, PackSQLState("HY093")},
    {4859, PackSQLState("HY095")},
    {4860, PackSQLState("HY096")},
    {4861, PackSQLState("HY097")},
    {4862, PackSQLState("HY098")},
    {4863, PackSQLState("HY099")},
    {4864, PackSQLState("HY100")},
    {4865, PackSQLState("HY101")},
    {4866, PackSQLState("HY103")},
    {4867, PackSQLState("HY105")},
    {4868, PackSQLState("HY106")},
    {4869, PackSQLState("HY107")},
    {4870, PackSQLState("HY108")},
    {4871, PackSQLState("HY109")},
    {4872, PackSQLState("HY110")},
    {4873, PackSQLState("HY111")},
    {4874, PackSQLState("HYC00")},
    {4875, PackSQLState("S1DE0")},
    {4876, PackSQLState("HYT00")},
    {4877, PackSQLState("IM009")},
    {4878, PackSQLState("01000")},
    {4879, PackSQLState("00000")},
    {4880, PackSQLState("01001")},
    {4881, PackSQLState("IM100")},
    {4882, PackSQLState("IM101")},
    {4883, PackSQLState("IM002")},
    {0, 0},
};
static_assert(sizeof(ODBC_StateLookupTable) / sizeof(ODBC_StateLookupTable[0]) ==
                  kStateLookupRows + 1,
              "84 rows and the closing row");

namespace {

struct a_dynamic_function {
  const char* name;
  SQLINTEGER code;
};

// The statements whose kind SQL_DIAG_DYNAMIC_FUNCTION names; the empty row ends it.
constexpr a_dynamic_function kDynamicFunctions[] = {
    {"ALTER TABLE", SQL_DIAG_ALTER_TABLE},
    {"CREATE INDEX", SQL_DIAG_CREATE_INDEX},
    {"CREATE TABLE", SQL_DIAG_CREATE_TABLE},
    {"CREATE VIEW", SQL_DIAG_CREATE_VIEW},
    {"SELECT CURSOR", SQL_DIAG_SELECT_CURSOR},
    {"DYNAMIC DELETE CURSOR", SQL_DIAG_DYNAMIC_DELETE_CURSOR},
    {"DELETE WHERE", SQL_DIAG_DELETE_WHERE},
    {"DROP INDEX", SQL_DIAG_DROP_INDEX},
    {"DROP TABLE", SQL_DIAG_DROP_TABLE},
    {"DROP VIEW", SQL_DIAG_DROP_VIEW},
    {"GRANT", SQL_DIAG_GRANT},
    {"INSERT", SQL_DIAG_INSERT},
    {"CALL", SQL_DIAG_CALL},
    {"REVOKE", SQL_DIAG_REVOKE},
    {"DYNAMIC UPDATE CURSOR", SQL_DIAG_DYNAMIC_UPDATE_CURSOR},
    {"UPDATE WHERE", SQL_DIAG_UPDATE_WHERE},
    {"", 0},
};

constexpr char kDriverPrefixOdbc[] = "[Tovrak][ODBC Driver]";
constexpr char kDriverPrefixJdbc[] = "[Tovrak][JDBC Driver]";
constexpr char kServerPrefixBrackwater[] = "[Brackwater Server]";
constexpr char kServerPrefixVellumcrest[] = "[Vellumcrest]";

// Appends as much of text as fits within kDiagMessageChars; returns the new length.
std::size_t Append(char* out, std::size_t used, const char* text) {
  const std::size_t room = kDiagMessageChars - used;
  const std::size_t n = std::min(std::strlen(text), room);
  std::memcpy(out + used, text, n);
  out[used + n] = '\0';
  return used + n;
}

}  // namespace

std::uint16_t StateMessageId(a_packed_sqlstate state) {
  for (std::size_t i = 0; i < kStateLookupRows; ++i) {
    if (ODBC_StateLookupTable[i].state == state) return ODBC_StateLookupTable[i].message_id;
  }
  return 0;
}

const char* DynamicFunctionName(SQLINTEGER code) {
  for (const a_dynamic_function* row = kDynamicFunctions; row->name[0] != '\0'; ++row) {
    if (row->code == code) return row->name;
  }
  return "";
}

std::size_t AssembleDiagMessage(bool oledb, bool jdbc, bool server_error, bool brackwater,
                                const char* body, char* out) {
  std::size_t used = 0;
  out[0] = '\0';
  if (!oledb) {
    used = Append(out, used, jdbc ? kDriverPrefixJdbc : kDriverPrefixOdbc);
    if (server_error) {
      used = Append(out, used, brackwater ? kServerPrefixBrackwater : kServerPrefixVellumcrest);
    }
  }
  if (body != nullptr) used = Append(out, used, body);
  return used;
}

int CopyDiagText(const char* text, std::size_t length, SQLCHAR* buffer,
                 SQLSMALLINT buffer_length, SQLSMALLINT* length_out) {
  if (length_out != nullptr) {
    constexpr std::size_t kLargest = std::numeric_limits<SQLSMALLINT>::max();
    *length_out = static_cast<SQLSMALLINT>(std::min(length, kLargest));
  }
  // An application that passes no buffer asks for the length alone: nothing is cut.
  if (buffer == nullptr) return 0;
  const bool truncated =
      buffer_length < 1 || length + 1 > static_cast<std::size_t>(buffer_length);
  if (buffer_length >= 1) {
    const std::size_t n = std::min(length, static_cast<std::size_t>(buffer_length) - 1);
    if (n > 0) std::memcpy(buffer, text, n);
    buffer[n] = '\0';
  }
  return truncated ? 1 : 0;
}

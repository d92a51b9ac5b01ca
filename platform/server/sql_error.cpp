// SQL codes, states and the SQLite error mapping.
#include "sql_error.h"

#include <sqlite3.h>

#include "wire.h"

namespace vqeng {
namespace {

struct ErrorRow {
  std::int32_t sqlcode;
  const char* server_state;
  const char* odbc3;
  const char* odbc2;
  const char* text;
};

// The rows we send. Codes and the states of the rows the client sets itself are
// the client's own; the others are ours to choose, among the codes its table holds.
constexpr ErrorRow kRows[] = {
    {-1070, "42WB1", "HY000", "S1000", "Kerberos logins are not available"},
    {-1069, "42WB2", "HY000", "S1000", "Kerberos login failed"},
    {-1000, "HY000", "HY000", "S1000", "Internal server error"},
    {-883, "42WFO", "22018", "22005", "Character set conversion error"},
    {-604, "HW000", "HY000", "S1000", "Database is full"},
    {-308, "40W07", "HY000", "S1000", "Connection was terminated"},
    {-301, "40W06", "HY000", "S1000", "Internal database error"},
    {-299, "57014", "HY000", "S1000", "Statement interrupted by user"},
    {-265, "42W17", "42S02", "S0002", "Procedure not found"},
    {-210, "42W18", "HY000", "S1000", "Row or table is locked by another connection"},
    {-209, "22W03", "23000", "23000", "Invalid value for column"},
    {-200, "42W16", "HY092", "S1092", "Invalid option"},
    {-197, "24503", "HY109", "S1109", "No current row of cursor"},
    {-196, "23W01", "23000", "23000", "Index does not allow duplicate values"},
    {-195, "23502", "23000", "23000", "Column cannot be NULL"},
    {-194, "23503", "23000", "23000", "No primary key value for foreign key"},
    {-180, "24501", "24000", "24000", "Cursor not open"},
    {-159, "42W13", "07009", "S1002", "Invalid column number"},
    {-158, "42WP8", "22003", "22003", "Value out of range for destination"},
    {-157, "53018", "07006", "07006", "Cannot convert value"},
    {-156, "42WPA", "22018", "22005", "Invalid character value for conversion"},
    {-143, "52003", "42S22", "S0022", "Column not found"},
    {-141, "42W33", "42S02", "S0002", "Table not found"},
    {-131, "42W04", "42000", "37000", "Syntax error or access violation"},
    {-130, "26501", "HY000", "S1000", "Invalid statement"},
    {-121, "42501", "42000", "37000", "Permission denied"},
    {-110, "52010", "42S01", "S0001", "Item already exists"},
    {-103, "28000", "28000", "28000", "Invalid user ID or password"},
    {-102, "08W01", "08004", "08004", "Database server connection limit exceeded"},
    {-83, "08W10", "08001", "08001", "Specified database not found"},
    {100, "02000", "00000", "00000", "Row not found"},
    {105, "01W05", "00000", "00000", "Procedure has completed"},
    {111, "01W08", "00000", "00000", "Statement cannot be executed"},
};

}  // namespace

SqlError sql_error(std::int32_t sqlcode, std::string text, std::vector<std::string> params) {
  SqlError e;
  e.sqlcode = sqlcode;
  for (const auto& r : kRows) {
    if (r.sqlcode != sqlcode) continue;
    e.server_state = r.server_state;
    e.odbc3_state = r.odbc3;
    e.odbc2_state = r.odbc2;
    if (text.empty()) text = r.text;
    break;
  }
  e.text = std::move(text);
  e.params = std::move(params);
  return e;
}

SqlError map_sqlite_error(int extended_rc, const std::string& message) {
  const int primary = extended_rc & 0xFF;
  auto after = [&](const char* prefix) -> std::string {
    const auto at = message.find(prefix);
    if (at == std::string::npos) return {};
    std::string rest = message.substr(at + std::string(prefix).size());
    return rest;
  };
  switch (primary) {
    case SQLITE_INTERRUPT:
      return sql_error(-299);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return sql_error(-210, message);
    case SQLITE_FULL:
      return sql_error(-604, message);
    case SQLITE_MISMATCH:
      return sql_error(-157, message);
    case SQLITE_CONSTRAINT:
      switch (extended_rc) {
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY:
          return sql_error(-196, message);
        case SQLITE_CONSTRAINT_NOTNULL:
          return sql_error(-195, message);
        case SQLITE_CONSTRAINT_FOREIGNKEY:
          return sql_error(-194, message);
        default:
          return sql_error(-209, message);
      }
    case SQLITE_ERROR: {
      std::string name;
      if (!(name = after("no such table: ")).empty()) return sql_error(-141, message, {name});
      if (!(name = after("no such column: ")).empty()) return sql_error(-143, message, {name});
      if (message.find("already exists") != std::string::npos) return sql_error(-110, message);
      return sql_error(-131, message);
    }
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
      return sql_error(-301, message);
    default:
      return sql_error(-1000, message);
  }
}

std::string error_record_payload(const SqlError& e) {
  std::string p;
  put_le32(p, static_cast<std::uint32_t>(e.sqlcode));
  for (const std::string* s : {&e.server_state, &e.odbc3_state, &e.odbc2_state}) {
    std::string st = s->substr(0, 5);
    st.resize(5, '0');
    p += st;
  }
  return p;
}

}  // namespace vqeng

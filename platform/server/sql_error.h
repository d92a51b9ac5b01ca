// Error records the stand-in sends: an SQL code with its server, ODBC 3 and ODBC 2
// states, a message text and message parameters. SQLite's failures are mapped
// here to codes of the client's error table, and nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vqeng {

struct SqlError {
  std::int32_t sqlcode = 0;  // negative error, positive warning
  std::string server_state = "00000";
  std::string odbc3_state = "00000";
  std::string odbc2_state = "00000";
  std::string text;
  std::vector<std::string> params;
  bool is_error() const { return sqlcode < 0; }
};

// Named errors the stand-in raises itself.
SqlError sql_error(std::int32_t sqlcode, std::string text = {},
                   std::vector<std::string> params = {});

// An SQLite result code (extended), with its message, as our error record.
SqlError map_sqlite_error(int extended_rc, const std::string& message);

// The 19-byte record of item 65: i32 SQL code, then the three 5-character states.
std::string error_record_payload(const SqlError& e);

}  // namespace vqeng

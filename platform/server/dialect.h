// The dialect layer's text work beyond the word rewrites of rewrite_dialect: the
// expressions that SQLite would read otherwise (CURRENT DATE, USER, casts to date,
// time, binary and GUID types, '+' between strings), the types of select-list
// columns that our functions produce, and the table columns that parameters stand
// for. It also registers the SQL functions of the dialect with SQLite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "values.h"

struct sqlite3;

namespace vqeng {

class Engine;

// Rewrites, outside quotes and comments:
// - CURRENT DATE, CURRENT TIME, CURRENT TIMESTAMP into calls of our functions (local
//   time, as the server's clock reads it), in parentheses;
// - the special value USER into the user's name, quoted;
// - CAST(x AS t) for t DATE, TIME, TIMESTAMP, DATETIME, BINARY, VARBINARY, LONG
//   BINARY, UNIQUEIDENTIFIER and UNIQUEIDENTIFIERSTR into calls of our conversions
//   (SQLite's affinity would turn those values into numbers);
// - '+' between two string operands (string literals or calls of string functions)
//   into '||', since '+' joins strings in the dialect.
std::string rewrite_expressions(const std::string& sql, const std::string& user);

// The type of a column that is a call of one of our typed functions, and its type
// name (empty when it has none); type 0 for any other column.
struct ColumnHint {
  WireType type;
  std::string type_name;
};
// One hint per item of the select list of a query; empty when the list cannot be
// read (such as "*").
std::vector<ColumnHint> select_list_hints(const std::string& sql);

// The table column a parameter marker ('?') stands for: the column it is compared
// with or assigned to, or the column an INSERT's VALUES position names (by name, or
// by position when the INSERT lists no columns). Empty table: not known.
struct ParamTarget {
  std::string table;
  std::string column;
  int position = -1;  // 0-based column position, when column is empty
};
std::vector<ParamTarget> parameter_targets(const std::string& sql);

// Registers the dialect's SQL functions on a connection; their failures are reported
// through the engine (Engine::fail_function).
void register_dialect_functions(sqlite3* db, Engine* engine);

}  // namespace vqeng

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

// Key joins: a JOIN without ON or USING between two catalog tables (SYSTABLE and
// SYSUSERPERMS, SYSCOLUMN and SYSTABLE or SYSDOMAIN, ...) gets the ON condition that
// pairs them by their keys; the table is paired with the nearest earlier table of the
// FROM list it has keys with. Other joins are left alone. Part of rewrite_expressions.
std::string rewrite_key_joins(const std::string& sql);

// A select-list alias named in the WHERE clause of the same query stands for its
// expression, also where a column of the FROM list has the same name (SQLite would take
// the column). Part of rewrite_expressions.
std::string rewrite_where_aliases(const std::string& sql);

// A select item that is one column name, without an alias, is named as it is written
// (SQLite would name it as the table declares it). Part of rewrite_expressions for
// statements that read a SYS table.
std::string name_bare_columns(const std::string& sql);

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

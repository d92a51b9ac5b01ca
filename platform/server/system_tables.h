// The server's catalog tables (owner SYS) of one connection: users, options, the domains
// (data types), and the tables and columns of the database, which are read from SQLite's
// own schema. They live in a per-connection database attached as SYS.
//
// SYS.SYSTABLE and SYS.SYSCOLUMN describe the system tables themselves and every table
// and view of the database. The database's part is brought up to date before each
// statement (refresh_system_tables): only when the schema changed since the last time,
// which the SYS database itself remembers, so that a rolled-back refresh is redone.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct sqlite3;

namespace vqeng {

// A declared column type as a SYSDOMAIN row and the width and scale SYSCOLUMN keeps.
struct DomainOfType {
  int domain_id;
  std::int64_t width;  // characters or bytes of sized types, precision of numeric/decimal
  int scale;
};
DomainOfType domain_of_type(const std::string& declared_type);

// Creates the SYS database and its tables. `users` are the server's users (name ->
// password); they become SYSUSERPERM rows numbered from 1 in their order, followed by
// PUBLIC and dbo; SYS is user 0. The database's tables are owned by user 1. False with
// `error` set when SQLite refuses.
bool create_system_tables(sqlite3* db, const std::map<std::string, std::string>& users,
                          std::string& error);

// Brings SYSTABLE, SYSCOLUMN and the key and index tables (SYSCONSTRAINT,
// SYSFOREIGNKEY, SYSFKCOL, SYSTRIGGER, SYSINDEX, SYSIXCOL) up to date with the
// database's schema. SYSTABLE.count, the row count of each table, is counted again only
// when `row_counts` is set: counting reads every table, so it is done for statements
// that read SYSTABLE.
void refresh_system_tables(sqlite3* db, bool row_counts = false);

}  // namespace vqeng

// Users, groups and table grants of the stand-in, which SQLite has none of:
//
//   GRANT CONNECT TO user [IDENTIFIED BY password]
//   GRANT GROUP TO user, ...                       (the users become groups)
//   GRANT MEMBERSHIP IN GROUP group TO user, ...
//   GRANT privilege, ... ON [owner.]table TO user, ... [WITH GRANT OPTION]
//     privilege: SELECT, INSERT, DELETE, ALTER, REFERENCES, UPDATE [(column, ...)],
//                ALL [PRIVILEGES]
//   REVOKE privilege, ... ON [owner.]table FROM user, ...
//   REVOKE MEMBERSHIP IN GROUP group FROM user, ...
//
// The state is kept in the database as one view, "vqsys_grants", made again at each
// change: with the schema it is rolled back, and every connection sees it. The SYS
// tables SYSUSERPERM, SYSUSER, SYSGROUP, SYSTABLEPERM and SYSCOLPERM show it.
// Users made here are numbered from 100; grants name their tables by name, so that
// they follow a table across the renumbering of SYSTABLE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

namespace vqeng {

struct GrantState {
  struct User {
    std::int64_t id = 0;
    std::string name;
    std::string password;
    bool group = false;
  };
  struct TablePerm {
    std::string table;
    std::int64_t grantee = 0;
    std::int64_t grantor = 0;
    // selectauth, insertauth, deleteauth, updateauth, updatecols, alterauth,
    // referenceauth: 'Y', 'G' (with grant option) or 'N'
    std::string auth = "NNNNNNN";
  };
  struct ColumnPerm {
    std::string table;
    std::string column;
    std::int64_t grantee = 0;
    std::int64_t grantor = 0;
  };
  std::vector<User> users;
  std::vector<std::pair<std::int64_t, std::int64_t>> members;  // group, member
  std::vector<TablePerm> tables;
  std::vector<ColumnPerm> columns;
};

constexpr std::int64_t kFirstGrantedUserId = 100;

bool is_grant_statement(const std::string& text);

// Reads the state the database keeps (empty when it keeps none).
GrantState stored_grants(sqlite3* db);

// The statement that keeps `state` in the database in place of what it kept.
std::string store_grants_sql(const GrantState& state);

// Applies a GRANT or REVOKE text to `state`, run by the user `grantor` (a name). Users
// are found by name without regard to case among the configured users (SYSUSERPERM
// below 100) and those of `state`. False with `why` when the text is not one of the
// forms above or names a user, group or table that does not exist.
bool apply_grant(sqlite3* db, const std::string& text, const std::string& grantor,
                 GrantState& state, std::string& why);

// Brings SYSUSERPERM and SYSUSER (users from 100), SYSGROUP, SYSTABLEPERM and
// SYSCOLPERM up to date with what the database keeps. Tables and columns that no
// longer exist are left out.
void refresh_grant_tables(sqlite3* db);

}  // namespace vqeng

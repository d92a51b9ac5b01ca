// Small requests that answer one value on a connection: the current user, server,
// database and character set, the dbo user, whether the replication group or a table
// exists, and reading and setting a server option by name. Each runs through the
// one-statement executor or an option request and answers a server SQL code, the details
// left in the connection's error block.
#include <cstring>
#include <string>

#include "cmdseq/desc.h"
#include "cmdseq/error_info.h"
#include "cmdseq/options.h"
#include "odbc/engine.h"
#include "odbc/engine_one_item.h"
#include "odbc/handles.h"

namespace {

constexpr std::int16_t kWireChar = 1;      // fixed-length text, blank-padded
constexpr std::int16_t kWireSmall = 5;     // 16-bit integer
constexpr std::int16_t kWireVarchar = 12;  // text of the returned length, not terminated

constexpr char kUserNameSql[] = "SELECT CURRENT USER";
constexpr char kServerNameSql[] = "SELECT @@SERVERNAME";
constexpr char kDatabaseNameSql[] = "SELECT db_name()";
constexpr char kDboUserSql[] =
    "select user_name  from SYS.SYSUSERPERM,SYS.SYSTABLE where table_name='RowSource' and "
    "creator=user_id and lower(user_name)='dbo';";
constexpr char kReplicationGroupSql[] =
    "SELECT IF EXISTS( SELECT 1 FROM SYS.SYSUSERPERMS WHERE user_name = 'kx_systabgroup' ) "
    "THEN 'yes' else 'no' endif";
constexpr char kCountPrefix[] = "SELECT COUNT(*) FROM ";

void clear_block(tagDBC* dbc) {
  CmdSeqResetErrorParam(&dbc->err, dbc->conn.load());
}

// The list could not be allocated: the block says so, so that a caller's diagnostic
// names the cause rather than repeating an empty block.
std::int32_t no_memory(tagDBC* dbc, std::int32_t sqlcode) {
  dbc->err.sqlcode = sqlcode;
  std::memcpy(dbc->err.odbc3_state, "HY001", 6);
  std::memcpy(dbc->err.odbc2_state, "S1001", 6);
  return sqlcode;
}

bool is_plain_start(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '@' ||
         c == '#' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}
bool is_plain_part(char c) { return is_plain_start(c) || (c >= '0' && c <= '9'); }

// Whether `name` is a table name the statement can take as it is: one or more parts
// joined by '.', each a plain identifier or a double-quoted one whose inner quotes are
// doubled. Anything else (blanks, separators, an unclosed quote) would change the
// statement.
bool is_qualified_name(const char* name) {
  const char* p = name;
  for (;;) {
    if (*p == '"') {
      ++p;
      bool closed = false;
      while (*p != '\0') {
        if (*p == '"') {
          if (p[1] == '"') {
            p += 2;
            continue;
          }
          ++p;
          closed = true;
          break;
        }
        ++p;
      }
      if (!closed) return false;
    } else if (is_plain_start(*p)) {
      while (is_plain_part(*p)) ++p;
    } else {
      return false;
    }
    if (*p == '\0') return true;
    if (*p != '.') return false;
    ++p;
  }
}

// The name as one double-quoted identifier, inner quotes doubled.
std::string quoted(const char* name) {
  std::string out = "\"";
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == '"') out += '"';
    out += *p;
  }
  out += '"';
  return out;
}

}  // namespace

std::int32_t QueryStringValue(tagDBC* dbc, char* buf, const char* statement, int size) {
  clear_block(dbc);
  if (dbc->conn.load() == nullptr) return DBNotConnected(dbc);
  if (buf == nullptr || size <= 0) return kSqlClientFailure;
  buf[0] = '\0';
  const std::size_t room = static_cast<std::size_t>(size) - 1;
  OneItem value(kWireVarchar, static_cast<std::uint32_t>(room), buf);
  if (!value.ok()) return no_memory(dbc, kSqlListNoMemory);
  const std::int32_t sqlcode = DBExecStmt(dbc, value.desc(), statement, SQL_NTS);
  if (sqlcode != 0 || value.is_null()) {
    buf[0] = '\0';
    return sqlcode;
  }
  std::size_t n = value.length(room);
  while (n > 0 && buf[n - 1] == ' ') --n;
  buf[n] = '\0';
  return 0;
}

std::int32_t DBGetUserName(tagDBC* dbc, char* buf, int size) {
  return QueryStringValue(dbc, buf, kUserNameSql, size);
}

std::int32_t DBGetServerName(tagDBC* dbc, char* buf, int size) {
  return QueryStringValue(dbc, buf, kServerNameSql, size);
}

std::int32_t DBGetDatabaseName(tagDBC* dbc, char* buf, int size) {
  return QueryStringValue(dbc, buf, kDatabaseNameSql, size);
}

std::int32_t DBGetDBOUserName(tagDBC* dbc, char* buf, int size) {
  return QueryStringValue(dbc, buf, kDboUserSql, size);
}

std::int32_t DBkx_systabExists(tagDBC* dbc) {
  char answer[128];
  if (QueryStringValue(dbc, answer, kReplicationGroupSql, sizeof answer) != 0) return 100;
  return std::strncmp(answer, "yes", 3) == 0 ? 0 : 100;
}

int DBTableExists(tagDBC* dbc, const char* name) {
  clear_block(dbc);
  if (dbc->conn.load() == nullptr) {
    DBNotConnected(dbc);
    return 0;
  }
  if (name == nullptr) name = "";
  // The caller qualifies and quotes the name; one that is not in that form is taken as
  // a single identifier and quoted here, so no name changes the statement.
  const std::string statement =
      kCountPrefix + (is_qualified_name(name) ? std::string(name) : quoted(name));
  std::int16_t count = 0;
  OneItem value(kWireSmall, sizeof count, &count);
  if (!value.ok()) {
    (void)no_memory(dbc, kSqlListNoMemory);
    return 0;
  }
  return DBExecStmt(dbc, value.desc(), statement.c_str(),
                    static_cast<long>(statement.size())) == 0
             ? 1
             : 0;
}

std::int32_t DBGetOption(tagDBC* dbc, const char* name, char* buf, int size) {
  clear_block(dbc);
  a_cmdseq_conn* conn = dbc->conn.load();
  if (conn == nullptr) return DBNotConnected(dbc);
  if (buf == nullptr || size <= 0) return kSqlClientFailure;
  buf[0] = '\0';
  // Room for the terminator: the value is blank-padded to the item's length.
  const std::size_t room = static_cast<std::size_t>(size) - 1;
  OneItem value(kWireChar, static_cast<std::uint32_t>(room), buf);
  if (!value.ok()) return no_memory(dbc, kSqlListNoMemory);
  a_cmdseq_option_param option;
  option.name = name;
  option.value = value.item();
  const std::int32_t sqlcode = MapCmdSeqResult(CmdSeqGetOption(conn, &dbc->err, &option), dbc, 0);
  if (sqlcode < 0 || value.is_null()) {
    buf[0] = '\0';
    return sqlcode;
  }
  // The text ends at the value's own length, not at the padding.
  buf[value.length(room)] = '\0';
  return sqlcode;
}

std::int32_t DBSetOption(tagDBC* dbc, const char* name, const char* value) {
  clear_block(dbc);
  a_cmdseq_conn* conn = dbc->conn.load();
  if (conn == nullptr) return DBNotConnected(dbc);
  a_cmdseq_set_option_param option;
  option.name = name;
  option.value = value;
  option.temporary = 1;
  return MapCmdSeqResult(CmdSeqSetOption(conn, &dbc->err, &option), dbc, 0);
}

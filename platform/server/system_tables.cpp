// The SYS catalog tables of a connection and their refresh from SQLite's schema.
#include "system_tables.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <vector>

#include "grants.h"
#include "procedures.h"
#include "sql_text.h"

namespace vqeng {
namespace {

// Table ids: the system tables from 1, the database's tables from kFirstUserTableId on
// (that plus the table's row in sqlite_schema).
constexpr std::int64_t kFirstUserTableId = 1000;
constexpr std::int64_t kSysUserId = 0;
constexpr std::int64_t kTableOwnerId = 1;  // the first configured user
constexpr std::int64_t kLongWidth = 32767;

struct Domain {
  int id;
  const char* name;
  int sql_type;  // the ODBC type code, as SYSDOMAIN.type_id
};

const Domain kDomains[] = {
    {1, "smallint", 5},          {2, "integer", 4},
    {3, "numeric", 2},           {4, "float", 7},
    {5, "double", 8},            {6, "date", 9},
    {7, "char", 1},              {8, "varchar", 12},
    {9, "long varchar", -1},     {10, "binary", -2},
    {11, "long binary", -4},     {12, "timestamp", 11},
    {13, "time", 10},            {14, "tinyint", -6},
    {15, "bigint", -5},          {16, "unsigned int", 4},
    {17, "unsigned smallint", 5}, {18, "unsigned bigint", -5},
    {19, "bit", -7},             {20, "decimal", 3},
    {21, "varbinary", -3},       {22, "uniqueidentifier", -11},
    {23, "xml", -1},             {24, "nchar", -8},
    {25, "nvarchar", -9},        {26, "long nvarchar", -10},
    {27, "varbit", 12},          {28, "long varbit", -1},
    {29, "timestamp with time zone", 11}, {30, "st_geometry", -4},
    {31, "uniqueidentifierstr", 1},
};

const char* kSchema =
    "CREATE TABLE SYS.SYSUSERPERM(user_id INTEGER PRIMARY KEY, user_name VARCHAR(128), "
    "  resourceauth CHAR(1), dbaauth CHAR(1), user_group CHAR(1) NOT NULL DEFAULT 'N');"
    "CREATE VIEW SYS.SYSUSERPERMS AS SELECT * FROM SYSUSERPERM;"
    "CREATE TABLE SYS.SYSUSER(user_id INTEGER PRIMARY KEY, user_name VARCHAR(128));"
    "CREATE TABLE SYS.SYSOPTION(user_id INTEGER, \"option\" VARCHAR(128), setting "
    "VARCHAR(128));"
    "CREATE TABLE SYS.SYSTABLE(table_id INTEGER PRIMARY KEY, table_name VARCHAR(128) NOT NULL, "
    "  creator UNSIGNED INT NOT NULL, table_type CHAR(10) NOT NULL, remarks LONG VARCHAR, "
    "  object_id UNSIGNED BIGINT, count UNSIGNED BIGINT);"
    "CREATE TABLE SYS.SYSCOLUMN(table_id INTEGER NOT NULL, column_id INTEGER NOT NULL, "
    "  column_name VARCHAR(128) NOT NULL, domain_id SMALLINT NOT NULL, width INTEGER NOT NULL, "
    "  scale SMALLINT NOT NULL, nulls CHAR(1) NOT NULL, \"default\" LONG VARCHAR, "
    "  remarks LONG VARCHAR, pkey CHAR(1) NOT NULL, PRIMARY KEY(table_id, column_id));"
    "CREATE TABLE SYS.SYSDOMAIN(domain_id SMALLINT PRIMARY KEY, domain_name CHAR(128) NOT NULL, "
    "  type_id SMALLINT NOT NULL, \"precision\" SMALLINT);"
    // Keys and indexes. Every column name of these tables that the catalog statements
    // name without a qualifier belongs to one table only of each FROM list they join.
    "CREATE TABLE SYS.SYSCONSTRAINT(constraint_id INTEGER PRIMARY KEY, "
    "  table_object_id UNSIGNED BIGINT NOT NULL, constraint_name VARCHAR(128) NOT NULL, "
    "  constraint_type CHAR(1) NOT NULL);"
    "CREATE TABLE SYS.SYSFOREIGNKEY(foreign_table_id INTEGER NOT NULL, "
    "  foreign_key_id SMALLINT NOT NULL, primary_table_id INTEGER NOT NULL, "
    "  check_on_commit CHAR(1) NOT NULL, role VARCHAR(128) NOT NULL, "
    "  PRIMARY KEY(foreign_table_id, foreign_key_id));"
    "CREATE TABLE SYS.SYSFKCOL(foreign_table_id INTEGER NOT NULL, foreign_key_id SMALLINT NOT "
    "  NULL, foreign_column_id INTEGER NOT NULL, primary_column_id INTEGER NOT NULL);"
    "CREATE TABLE SYS.SYSTRIGGER(trigger_id INTEGER PRIMARY KEY, table_id INTEGER NOT NULL, "
    "  event CHAR(1) NOT NULL, foreign_table_id INTEGER, foreign_key_id SMALLINT, "
    "  referential_action CHAR(1));"
    "CREATE TABLE SYS.SYSINDEX(table_id INTEGER NOT NULL, index_id INTEGER NOT NULL, "
    "  index_name VARCHAR(128) NOT NULL, \"unique\" CHAR(1) NOT NULL, "
    "  PRIMARY KEY(table_id, index_id));"
    "CREATE TABLE SYS.SYSIXCOL(table_id INTEGER NOT NULL, index_id INTEGER NOT NULL, "
    "  sequence SMALLINT NOT NULL, column_id INTEGER NOT NULL, \"order\" CHAR(1) NOT NULL);"
    // Procedures and their parameters (parm_type 0 a parameter, 4 the return value).
    "CREATE TABLE SYS.SYSPROCEDURE(proc_id INTEGER PRIMARY KEY, creator UNSIGNED INT NOT NULL, "
    "  proc_name VARCHAR(128) NOT NULL, proc_defn LONG VARCHAR, remarks LONG VARCHAR);"
    "CREATE TABLE SYS.SYSPROCPARM(proc_id INTEGER NOT NULL, parm_id SMALLINT NOT NULL, "
    "  parm_type SMALLINT NOT NULL, parm_mode_in CHAR(1) NOT NULL, parm_mode_out CHAR(1) NOT "
    "  NULL, domain_id SMALLINT NOT NULL, width INTEGER NOT NULL, scale SMALLINT NOT NULL, "
    "  parm_name VARCHAR(128) NOT NULL, \"default\" LONG VARCHAR);"
    // Grants: 'Y' granted, 'G' granted with grant option, 'N' not granted.
    "CREATE TABLE SYS.SYSTABLEPERM(stable_id INTEGER NOT NULL, grantee UNSIGNED INT NOT NULL, "
    "  grantor UNSIGNED INT NOT NULL, ttable_id INTEGER NOT NULL, selectauth CHAR(1) NOT NULL, "
    "  insertauth CHAR(1) NOT NULL, deleteauth CHAR(1) NOT NULL, updateauth CHAR(1) NOT NULL, "
    "  updatecols CHAR(1) NOT NULL, alterauth CHAR(1) NOT NULL, referenceauth CHAR(1) NOT NULL);"
    "CREATE TABLE SYS.SYSCOLPERM(table_id INTEGER NOT NULL, grantee UNSIGNED INT NOT NULL, "
    "  grantor UNSIGNED INT NOT NULL, column_id INTEGER NOT NULL, privilege_type CHAR(1) NOT "
    "  NULL);"
    "CREATE TABLE SYS.SYSGROUP(group_id UNSIGNED INT NOT NULL, group_member UNSIGNED INT NOT "
    "  NULL, PRIMARY KEY(group_id, group_member));"
    "CREATE TABLE SYS.DUMMY(dummy_col INTEGER NOT NULL);"
    "INSERT INTO SYS.DUMMY VALUES(0);"
    // The schema version the database part of SYSTABLE and SYSCOLUMN was made at.
    "CREATE TABLE SYS.vq_schema_seen(version INTEGER);"
    "INSERT INTO SYS.vq_schema_seen VALUES(-1);";

// The system tables in SYSTABLE, owned by SYS; their columns come from SQLite's view of
// them.
const char* const kSystemTables[][2] = {
    {"SYSTABLE", "BASE"},  {"SYSCOLUMN", "BASE"}, {"SYSDOMAIN", "BASE"},
    {"SYSUSERPERM", "BASE"}, {"SYSUSER", "BASE"},  {"SYSOPTION", "BASE"},
    {"DUMMY", "BASE"},     {"SYSCONSTRAINT", "BASE"}, {"SYSFOREIGNKEY", "BASE"},
    {"SYSFKCOL", "BASE"},  {"SYSTRIGGER", "BASE"}, {"SYSINDEX", "BASE"},
    {"SYSIXCOL", "BASE"},  {"SYSPROCEDURE", "BASE"}, {"SYSPROCPARM", "BASE"},
    {"SYSTABLEPERM", "BASE"}, {"SYSCOLPERM", "BASE"}, {"SYSGROUP", "BASE"},
    {"SYSUSERPERMS", "VIEW"},
};

std::string trim_blanks(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool contains(const std::string& s, const char* w) { return s.find(w) != std::string::npos; }

// The numbers in parentheses of a declared type: "(10,2)" -> 10 and 2.
int type_numbers(const std::string& d, long long* a, long long* b) {
  const auto paren = d.find('(');
  if (paren == std::string::npos) return 0;
  return std::sscanf(d.c_str() + paren, "(%lld,%lld", a, b);
}

bool exec(sqlite3* db, const std::string& sql, std::string* error) {
  char* msg = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) == SQLITE_OK) return true;
  if (error) *error = msg ? msg : "SYS tables";
  sqlite3_free(msg);
  return false;
}

std::int64_t schema_version(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  std::int64_t v = -2;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    v = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return v;
}

// Adds the SYSCOLUMN rows of one table from pragma table_info in `schema`.
void add_columns(sqlite3* db, std::int64_t table_id, const std::string& table,
                 const char* schema) {
  sqlite3_stmt* info = nullptr;
  sqlite3_stmt* ins = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT cid, name, type, \"notnull\", dflt_value, pk "
                         "FROM pragma_table_info(?, ?)",
                         -1, &info, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, "INSERT INTO SYS.SYSCOLUMN VALUES(?,?,?,?,?,?,?,?,NULL,?)", -1,
                         &ins, nullptr) != SQLITE_OK) {
    sqlite3_finalize(info);
    sqlite3_finalize(ins);
    return;
  }
  sqlite3_bind_text(info, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(info, 2, schema, -1, SQLITE_STATIC);
  while (sqlite3_step(info) == SQLITE_ROW) {
    const char* type = reinterpret_cast<const char*>(sqlite3_column_text(info, 2));
    const DomainOfType d = domain_of_type(type ? type : "");
    const bool pk = sqlite3_column_int(info, 5) > 0;
    const bool not_null = pk || sqlite3_column_int(info, 3) != 0;
    sqlite3_reset(ins);
    sqlite3_bind_int64(ins, 1, table_id);
    sqlite3_bind_int64(ins, 2, sqlite3_column_int64(info, 0) + 1);
    sqlite3_bind_value(ins, 3, sqlite3_column_value(info, 1));
    sqlite3_bind_int(ins, 4, d.domain_id);
    sqlite3_bind_int64(ins, 5, d.width);
    sqlite3_bind_int(ins, 6, d.scale);
    sqlite3_bind_text(ins, 7, not_null ? "N" : "Y", 1, SQLITE_STATIC);
    sqlite3_bind_value(ins, 8, sqlite3_column_value(info, 4));
    sqlite3_bind_text(ins, 9, pk ? "Y" : "N", 1, SQLITE_STATIC);
    sqlite3_step(ins);
  }
  sqlite3_finalize(info);
  sqlite3_finalize(ins);
}

// One prepared statement, finalized when it goes out of scope.
class Query {
 public:
  Query(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK) {
      sqlite3_finalize(st_);
      st_ = nullptr;
    }
  }
  ~Query() { sqlite3_finalize(st_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  bool ok() const { return st_ != nullptr; }
  Query& bind(int i, std::int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  Query& bind(int i, const std::string& v) {
    sqlite3_bind_text(st_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  bool row() { return st_ && sqlite3_step(st_) == SQLITE_ROW; }
  void run() {
    if (!st_) return;
    sqlite3_step(st_);
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  std::int64_t num(int c) const { return sqlite3_column_int64(st_, c); }
  bool null(int c) const { return sqlite3_column_type(st_, c) == SQLITE_NULL; }
  std::string text(int c) const {
    const unsigned char* t = sqlite3_column_text(st_, c);
    return t ? reinterpret_cast<const char*>(t) : "";
  }

 private:
  sqlite3_stmt* st_ = nullptr;
};

// A table of the database as SYSTABLE numbers it, with its columns' ids by name
// (lower case; SQLite compares names without regard to ASCII case).
struct UserTable {
  std::int64_t id = 0;
  std::string name;
  bool view = false;
  std::map<std::string, std::int64_t> columns;
  std::vector<std::int64_t> primary_key;  // column ids in key order
};

std::vector<UserTable> user_tables(sqlite3* db) {
  std::vector<UserTable> tables;
  Query t(db, "SELECT table_id, table_name, table_type FROM SYS.SYSTABLE WHERE table_id >= ? "
              "ORDER BY table_id");
  if (!t.ok()) return tables;
  t.bind(1, kFirstUserTableId);
  while (t.row()) {
    UserTable u;
    u.id = t.num(0);
    u.name = t.text(1);
    u.view = t.text(2) == "VIEW";
    tables.push_back(std::move(u));
  }
  for (UserTable& u : tables) {
    Query c(db, "SELECT cid, name, pk FROM pragma_table_info(?, 'main') ORDER BY pk, cid");
    if (!c.ok()) continue;
    c.bind(1, u.name);
    while (c.row()) {
      u.columns[lower(c.text(1))] = c.num(0) + 1;
      if (c.num(2) > 0) u.primary_key.push_back(c.num(0) + 1);
    }
  }
  return tables;
}

const UserTable* find_table(const std::vector<UserTable>& tables, const std::string& name) {
  for (const UserTable& t : tables)
    if (lower(t.name) == lower(name)) return &t;
  return nullptr;
}

// The letter SYSTRIGGER keeps for a foreign key's action on update or delete; none for
// RESTRICT, which is what a key without a trigger does. NO ACTION, SQLite's default,
// has a row of its own ('A'): its check waits for the end of the statement.
const char* referential_action(const std::string& action) {
  const std::string a = upper(action);
  if (a == "CASCADE") return "C";
  if (a == "SET NULL") return "N";
  if (a == "SET DEFAULT") return "D";
  if (a == "NO ACTION") return "A";
  return nullptr;
}

// SYSCONSTRAINT, SYSFOREIGNKEY, SYSFKCOL, SYSTRIGGER, SYSINDEX and SYSIXCOL from
// SQLite's view of each table. The primary key is a constraint named after its table;
// a foreign key's role is its primary table's name, numbered from the second key to
// the same table on. A unique constraint's index is kind 'U', a unique index 'Y',
// another index 'N'; the primary key's own index is no index of SYSINDEX, and a
// column of an index on an expression is left out.
void add_keys_and_indexes(sqlite3* db, const std::vector<UserTable>& tables) {
  Query constraint(db, "INSERT INTO SYS.SYSCONSTRAINT(table_object_id, constraint_name, "
                       "constraint_type) VALUES(?, ?, 'P')");
  Query fk(db, "INSERT INTO SYS.SYSFOREIGNKEY VALUES(?, ?, ?, 'N', ?)");
  Query fkcol(db, "INSERT INTO SYS.SYSFKCOL VALUES(?, ?, ?, ?)");
  Query trigger(db, "INSERT INTO SYS.SYSTRIGGER(table_id, event, foreign_table_id, "
                    "foreign_key_id, referential_action) VALUES(?, ?, ?, ?, ?)");
  Query index(db, "INSERT INTO SYS.SYSINDEX VALUES(?, ?, ?, ?)");
  Query ixcol(db, "INSERT INTO SYS.SYSIXCOL VALUES(?, ?, ?, ?, ?)");
  for (const UserTable& t : tables) {
    if (t.view) continue;
    if (!t.primary_key.empty()) constraint.bind(1, t.id).bind(2, t.name).run();

    // pragma foreign_key_list lists each key's columns in order under one id, the
    // last key declared first; they are numbered here in the order declared.
    Query keys(db, "SELECT id, \"table\", \"from\", \"to\", on_update, on_delete "
                   "FROM pragma_foreign_key_list(?, 'main') ORDER BY id DESC, seq");
    keys.bind(1, t.name);
    std::map<std::string, int> roles;
    std::int64_t last_id = -1, key_id = 0, seq = 0;
    const UserTable* parent = nullptr;
    while (keys.ok() && keys.row()) {
      if (keys.num(0) != last_id) {
        last_id = keys.num(0);
        seq = 0;
        parent = find_table(tables, keys.text(1));
        if (!parent) continue;  // SQLite lets a key name a table that does not exist
        ++key_id;
        const int n = ++roles[lower(parent->name)];
        const std::string role = n == 1 ? parent->name : parent->name + std::to_string(n);
        fk.bind(1, t.id).bind(2, key_id).bind(3, parent->id).bind(4, role).run();
        const std::pair<const char*, int> events[] = {{"C", 4}, {"D", 5}};
        for (const auto& e : events) {
          const char* action = referential_action(keys.text(e.second));
          if (!action) continue;
          trigger.bind(1, parent->id).bind(2, e.first).bind(3, t.id).bind(4, key_id);
          trigger.bind(5, action).run();
        }
      } else {
        ++seq;
      }
      if (!parent) continue;
      const auto from = t.columns.find(lower(keys.text(2)));
      std::int64_t to = 0;
      if (keys.null(3)) {  // the primary table's primary key, column by column
        if (static_cast<std::size_t>(seq) < parent->primary_key.size())
          to = parent->primary_key[static_cast<std::size_t>(seq)];
      } else {
        const auto named = parent->columns.find(lower(keys.text(3)));
        if (named != parent->columns.end()) to = named->second;
      }
      if (from == t.columns.end() || to == 0) continue;
      fkcol.bind(1, t.id).bind(2, key_id).bind(3, from->second).bind(4, to).run();
    }

    // Indexes in the order they were made (their rows in sqlite_schema).
    Query list(db, "SELECT l.name, l.\"unique\", l.origin FROM pragma_index_list(?, 'main') l "
                   "LEFT JOIN main.sqlite_schema s ON s.type = 'index' AND s.name = l.name "
                   "ORDER BY s.rowid, l.seq DESC");
    list.bind(1, t.name);
    std::int64_t index_id = 0;
    while (list.ok() && list.row()) {
      const std::string origin = list.text(2);
      if (origin == "pk") continue;
      const std::string name = list.text(0);
      const char* kind = origin == "u" ? "U" : (list.num(1) ? "Y" : "N");
      ++index_id;
      index.bind(1, t.id).bind(2, index_id).bind(3, name).bind(4, kind).run();
      Query cols(db, "SELECT cid, \"desc\" FROM pragma_index_xinfo(?, 'main') WHERE key = 1 "
                     "ORDER BY seqno");
      cols.bind(1, name);
      std::int64_t sequence = 0;
      while (cols.ok() && cols.row()) {
        if (cols.num(0) < 0) continue;  // the rowid or an expression
        ixcol.bind(1, t.id).bind(2, index_id).bind(3, sequence++).bind(4, cols.num(0) + 1);
        ixcol.bind(5, cols.num(1) ? "D" : "A").run();
      }
    }
  }
}

// SYSPROCEDURE and SYSPROCPARM from the procedures the database keeps. A procedure's
// return value is parameter 0, an integer.
void add_procedures(sqlite3* db) {
  Query proc(db, "INSERT INTO SYS.SYSPROCEDURE VALUES(?, ?, ?, NULL, NULL)");
  Query parm(db, "INSERT INTO SYS.SYSPROCPARM VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, NULL)");
  std::int64_t proc_id = 0;
  for (const Procedure& p : stored_procedures(db)) {
    ++proc_id;
    proc.bind(1, proc_id).bind(2, kTableOwnerId).bind(3, p.name).run();
    if (p.returns) {
      parm.bind(1, proc_id).bind(2, 0).bind(3, 4).bind(4, "N").bind(5, "Y").bind(6, 2);
      parm.bind(7, 4).bind(8, 0).bind(9, "return_value").run();
    }
    std::int64_t parm_id = 0;
    for (const ProcParm& q : p.parms) {
      const DomainOfType d = domain_of_type(q.type);
      parm.bind(1, proc_id).bind(2, ++parm_id).bind(3, 0).bind(4, q.in ? "Y" : "N");
      parm.bind(5, q.out ? "Y" : "N").bind(6, d.domain_id).bind(7, d.width).bind(8, d.scale);
      parm.bind(9, q.name).run();
    }
  }
}

// SYSTABLE.count of every table: its rows now. Views count no rows.
void refresh_row_counts(sqlite3* db) {
  std::vector<std::pair<std::int64_t, std::string>> tables;
  {
    Query t(db, "SELECT table_id, table_name FROM SYS.SYSTABLE WHERE table_id >= ? AND "
                "table_type = 'BASE'");
    if (!t.ok()) return;
    t.bind(1, kFirstUserTableId);
    while (t.row()) tables.emplace_back(t.num(0), t.text(1));
  }
  Query set(db, "UPDATE SYS.SYSTABLE SET count = ? WHERE table_id = ?");
  for (const auto& t : tables) {
    const std::string sql = "SELECT count(*) FROM main." + quote_ident(t.second);
    Query c(db, sql.c_str());
    set.bind(1, c.row() ? c.num(0) : 0).bind(2, t.first).run();
  }
}

}  // namespace

DomainOfType domain_of_type(const std::string& declared_type) {
  const std::string d = upper(trim_blanks(declared_type));
  long long a = 0, b = 0;
  const int nums = type_numbers(d, &a, &b);
  auto sized = [&](int id, long long dflt) {
    return DomainOfType{id, nums >= 1 && a > 0 ? a : dflt, 0};
  };
  if (d.empty()) return {8, kLongWidth, 0};
  if (contains(d, "UNIQUEIDENTIFIERSTR")) return {31, 36, 0};
  if (contains(d, "UNIQUEIDENTIFIER")) return {22, 16, 0};
  if (contains(d, "TIMESTAMP WITH TIME ZONE")) return {29, 8, 0};
  if (contains(d, "ST_GEOMETRY")) return {30, kLongWidth, 0};
  if (contains(d, "LONG NVARCHAR")) return {26, kLongWidth, 0};
  if (contains(d, "NVARCHAR")) return sized(25, 1);
  if (contains(d, "NCHAR")) return sized(24, 1);
  if (contains(d, "LONG VARBIT")) return {28, kLongWidth, 0};
  if (contains(d, "VARBIT")) return sized(27, 1);
  if (contains(d, "UNSIGNED BIGINT")) return {18, 8, 0};
  if (contains(d, "UNSIGNED SMALLINT")) return {17, 2, 0};
  if (contains(d, "UNSIGNED INT")) return {16, 4, 0};
  if (contains(d, "BIGINT")) return {15, 8, 0};
  if (contains(d, "SMALLINT")) return {1, 2, 0};
  if (contains(d, "TINYINT")) return {14, 1, 0};
  if (contains(d, "INT")) return {2, 4, 0};
  if (d == "BIT") return {19, 1, 0};
  if (contains(d, "LONG BINARY") || contains(d, "BLOB") || contains(d, "IMAGE"))
    return {11, kLongWidth, 0};
  if (contains(d, "VARBINARY")) return sized(21, 1);
  if (contains(d, "BINARY")) return sized(10, 1);
  if (contains(d, "LONG VARCHAR") || contains(d, "TEXT") || contains(d, "CLOB"))
    return {9, kLongWidth, 0};
  if (contains(d, "XML")) return {23, kLongWidth, 0};
  if (contains(d, "VARCHAR")) return sized(8, kLongWidth);
  if (contains(d, "CHAR")) return sized(7, 1);
  if (contains(d, "DOUB")) return {5, 8, 0};
  if (contains(d, "FLOA") || contains(d, "REAL")) return {4, 4, 0};
  if (contains(d, "DEC") || contains(d, "NUMERIC")) {
    const long long precision = nums >= 1 ? a : 30;
    const int scale = static_cast<int>(nums >= 2 ? b : (nums >= 1 ? 0 : 6));
    return {contains(d, "NUMERIC") ? 3 : 20, precision, scale};
  }
  if (contains(d, "TIMESTAMP") || contains(d, "DATETIME")) return {12, 8, 0};
  if (contains(d, "DATE")) return {6, 4, 0};
  if (contains(d, "TIME")) return {13, 8, 0};
  return {8, kLongWidth, 0};
}

bool create_system_tables(sqlite3* db, const std::map<std::string, std::string>& users,
                          std::string& error) {
  std::string sql = "ATTACH DATABASE ':memory:' AS SYS;";
  sql += kSchema;
  std::int64_t id = 1;
  auto add_user = [&](std::int64_t uid, const std::string& name, const char* resource,
                      const char* dba) {
    sql += "INSERT INTO SYS.SYSUSERPERM VALUES(" + std::to_string(uid) + "," +
           quote_literal(name) + ",'" + resource + "','" + dba + "','N');";
    sql += "INSERT INTO SYS.SYSUSER VALUES(" + std::to_string(uid) + "," + quote_literal(name) +
           ");";
  };
  add_user(kSysUserId, "SYS", "Y", "Y");
  for (const auto& u : users) add_user(id++, u.first, "Y", "Y");
  const std::int64_t dbo = id + 1;
  add_user(id, "PUBLIC", "N", "N");
  add_user(dbo, "dbo", "Y", "N");
  std::int64_t table_id = 1;
  for (const auto& t : kSystemTables) {
    sql += "INSERT INTO SYS.SYSTABLE VALUES(" + std::to_string(table_id) + ",'" + t[0] + "'," +
           std::to_string(kSysUserId) + ",'" + t[1] + "',NULL," + std::to_string(table_id) +
           ",NULL);";
    ++table_id;
  }
  // RowSource marks dbo as the owner of system objects (no columns of its own here).
  sql += "INSERT INTO SYS.SYSTABLE VALUES(" + std::to_string(table_id) + ",'RowSource'," +
         std::to_string(dbo) + ",'BASE',NULL," + std::to_string(table_id) + ",NULL);";
  for (const Domain& d : kDomains) {
    sql += "INSERT INTO SYS.SYSDOMAIN VALUES(" + std::to_string(d.id) + "," +
           quote_literal(d.name) + "," + std::to_string(d.sql_type) + ",NULL);";
  }
  if (!exec(db, sql, &error)) return false;
  table_id = 1;
  for (const auto& t : kSystemTables) add_columns(db, table_id++, t[0], "SYS");
  return true;
}

void refresh_system_tables(sqlite3* db, bool row_counts) {
  const std::int64_t now = schema_version(db, "PRAGMA main.schema_version");
  if (now == schema_version(db, "SELECT version FROM SYS.vq_schema_seen")) {
    if (row_counts) refresh_row_counts(db);
    return;
  }
  const std::string first = std::to_string(kFirstUserTableId);
  if (!exec(db,
            "DELETE FROM SYS.SYSCOLUMN WHERE table_id >= " + first +
                ";DELETE FROM SYS.SYSTABLE WHERE table_id >= " + first +
                ";DELETE FROM SYS.SYSCONSTRAINT;DELETE FROM SYS.SYSFOREIGNKEY"
                ";DELETE FROM SYS.SYSFKCOL;DELETE FROM SYS.SYSTRIGGER"
                ";DELETE FROM SYS.SYSINDEX;DELETE FROM SYS.SYSIXCOL"
                ";DELETE FROM SYS.SYSPROCEDURE;DELETE FROM SYS.SYSPROCPARM" +
                ";INSERT INTO SYS.SYSTABLE SELECT " + first + " + rowid, name, " +
                std::to_string(kTableOwnerId) +
                ", CASE type WHEN 'view' THEN 'VIEW' ELSE 'BASE' END, NULL, " + first +
                " + rowid, NULL FROM main.sqlite_schema WHERE type IN ('table','view') AND "
                "name NOT LIKE 'sqlite!_%' ESCAPE '!' AND name NOT LIKE 'vqsys!_%' ESCAPE '!'",
            nullptr))
    return;
  std::vector<std::pair<std::int64_t, std::string>> tables;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT table_id, table_name FROM SYS.SYSTABLE WHERE table_id >= ?",
                         -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(st, 1, kFirstUserTableId);
    while (sqlite3_step(st) == SQLITE_ROW) {
      const char* name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
      tables.emplace_back(sqlite3_column_int64(st, 0), name ? name : "");
    }
  }
  sqlite3_finalize(st);
  for (const auto& t : tables) add_columns(db, t.first, t.second, "main");
  add_keys_and_indexes(db, user_tables(db));
  add_procedures(db);
  refresh_grant_tables(db);
  if (row_counts) refresh_row_counts(db);
  exec(db, "UPDATE SYS.vq_schema_seen SET version = " + std::to_string(now), nullptr);
}

}  // namespace vqeng

// SQLite behind the protocol, with the dialect layer.
#include "engine.h"

#include "dialect.h"
#include "grants.h"
#include "procedures.h"
#include "system_tables.h"
#include "sql_text.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace vqeng {
namespace {

// Whether a statement's text begins with a verb that changes rows (comments and blanks
// skipped). A statement beginning with WITH may or may not.
enum class ChangeVerb { Yes, No, Maybe };
ChangeVerb change_verb(const char* sql) {
  const char* p = sql;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '(') ++p;
    if (p[0] == '-' && p[1] == '-') {
      while (*p != '\0' && *p != '\n') ++p;
    } else if (p[0] == '/' && p[1] == '*') {
      const char* end = std::strstr(p + 2, "*/");
      p = end == nullptr ? p + std::strlen(p) : end + 2;
    } else {
      break;
    }
  }
  std::string verb;
  while (std::isalpha(static_cast<unsigned char>(*p)))
    verb += static_cast<char>(std::toupper(static_cast<unsigned char>(*p++)));
  if (verb == "INSERT" || verb == "UPDATE" || verb == "DELETE" || verb == "REPLACE")
    return ChangeVerb::Yes;
  return verb == "WITH" ? ChangeVerb::Maybe : ChangeVerb::No;
}

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}
bool word_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '$';
}

// Walks a text, calling `on_word(pos, len)` for every word outside quotes.
template <class F>
void for_each_word(const std::string& s, F on_word) {
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      while (j < s.size()) {
        if (s[j] == c) {
          if (j + 1 < s.size() && s[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      i = j + 1;
      continue;
    }
    if (word_char(c)) {
      std::size_t j = i;
      while (j < s.size() && word_char(s[j])) ++j;
      on_word(i, j - i);
      i = j;
      continue;
    }
    ++i;
  }
}

struct Connection {
  const DatabaseConfig* cfg;
  Engine* engine;
};

std::string arg_text(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t ? lower(reinterpret_cast<const char*>(t)) : std::string();
}

void result_text(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void fn_property(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* c = static_cast<Connection*>(sqlite3_user_data(ctx));
  const std::string name = arg_text(argv[0]);
  if (name == "productversion") return result_text(ctx, c->cfg->version);
  if (name == "name" || name == "servername") return result_text(ctx, c->cfg->server_name);
  if (name == "charset" || name == "defaultcollation") return result_text(ctx, "UTF-8");
  sqlite3_result_null(ctx);  // IsBW and every property we do not keep
}

void fn_connection_property(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* c = static_cast<Connection*>(sqlite3_user_data(ctx));
  const std::string name = arg_text(argv[0]);
  if (name == "charset") return result_text(ctx, c->engine->client_charset());
  if (name == "ncharcharset") return result_text(ctx, "UTF-8");
  if (name == "userid") return result_text(ctx, c->engine->user());
  const auto it = c->engine->options().find(name);
  if (it != c->engine->options().end()) return result_text(ctx, it->second);
  sqlite3_result_null(ctx);
}

void fn_db_property(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* c = static_cast<Connection*>(sqlite3_user_data(ctx));
  const std::string name = arg_text(argv[0]);
  if (name == "charset" || name == "ncharcharset") return result_text(ctx, "UTF-8");
  if (name == "name" || name == "alias") return result_text(ctx, c->cfg->database_name);
  if (name == "file") return result_text(ctx, c->cfg->database_file);
  sqlite3_result_null(ctx);
}

void fn_client_file(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto* c = static_cast<Connection*>(sqlite3_user_data(ctx));
  const unsigned char* n = sqlite3_value_text(argv[0]);
  const std::string name = n ? reinterpret_cast<const char*>(n) : "";
  const bool write = argc == 2;
  std::string data;
  if (write) {
    const void* p = sqlite3_value_blob(argv[1]);
    data.assign(p ? static_cast<const char*>(p) : "",
                static_cast<std::size_t>(sqlite3_value_bytes(argv[1])));
  }
  const std::size_t size = data.size();
  if (!c->engine->client_file(write, name, data)) {
    sqlite3_result_error(ctx, "client file transfer failed", -1);
    return;
  }
  if (write)
    sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(size));
  else
    sqlite3_result_blob(ctx, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
}

void fn_db_name(sqlite3_context* ctx, int, sqlite3_value**) {
  const auto* c = static_cast<Connection*>(sqlite3_user_data(ctx));
  result_text(ctx, c->cfg->database_name);
}

// The scale of a column declared NUMERIC or DECIMAL, -1 for every other declaration.
int declared_decimal_scale(sqlite3_stmt* st, int k) {
  const char* decl = sqlite3_column_decltype(st, k);
  if (decl == nullptr) return -1;
  const WireType t = type_from_decl(decl);
  return t.type == 2 || t.type == 3 ? t.scale : -1;
}

// Reads column k of the current row into `out`, reusing the storage `out` already has
// (a streamed row's values are overwritten row after row). `scale` is the column's
// declared_decimal_scale(), which holds for every row of the statement. The column's
// value is looked up once and read through it: each sqlite3_column_* call would look it
// up again. (The engine's handle is used by one thread only: see Engine::open.)
void read_column(sqlite3_stmt* st, int k, int scale, Value& out) {
  sqlite3_value* const cv = sqlite3_column_value(st, k);
  out.i = 0;
  out.d = 0;
  out.s.clear();
  switch (sqlite3_value_type(cv)) {
    case SQLITE_INTEGER: {
      out.kind = Value::Int;
      out.i = sqlite3_value_int64(cv);
      // SQLite turns 249.00 in a NUMERIC column into the integer 249, and 39.90 into a
      // double: such a column's values go out as exact decimal text with its scale,
      // whatever C type the client reads them as.
      if (scale > 0) {
        out.s = decimal_text(out, static_cast<std::uint8_t>(scale));
        out.kind = Value::Text;
        out.i = 0;
      }
      return;
    }
    case SQLITE_FLOAT: {
      out.kind = Value::Real;
      out.d = sqlite3_value_double(cv);
      if (scale >= 0) {
        out.s = decimal_text(out, static_cast<std::uint8_t>(scale));
        out.kind = Value::Text;
        out.d = 0;
      }
      return;
    }
    // (`out.s` is empty here: appended to, its bytes are copied as they are, without
    // assign's care for a source inside the string itself.)
    case SQLITE_BLOB: {
      const void* p = sqlite3_value_blob(cv);
      const int n = sqlite3_value_bytes(cv);
      out.kind = Value::Blob;
      if (p != nullptr) out.s.append(static_cast<const char*>(p), static_cast<std::size_t>(n));
      return;
    }
    case SQLITE_TEXT: {
      const unsigned char* p = sqlite3_value_text(cv);
      const int n = sqlite3_value_bytes(cv);
      out.kind = Value::Text;
      if (p != nullptr) out.s.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
      return;
    }
    default:
      out.kind = Value::Null;
      return;
  }
}

Value column_value(sqlite3_stmt* st, int k) {
  Value v;
  read_column(st, k, declared_decimal_scale(st, k), v);
  return v;
}

int bind_value(sqlite3_stmt* st, int k, const Value& v) {
  switch (v.kind) {
    case Value::Int:
      return sqlite3_bind_int64(st, k, v.i);
    case Value::Real:
      return sqlite3_bind_double(st, k, v.d);
    case Value::Text:
      return sqlite3_bind_text(st, k, v.s.data(), static_cast<int>(v.s.size()),
                               SQLITE_TRANSIENT);
    case Value::Blob:
      return sqlite3_bind_blob(st, k, v.s.data(), static_cast<int>(v.s.size()),
                               SQLITE_TRANSIENT);
    default:
      return sqlite3_bind_null(st, k);
  }
}

// The database "in memory": a file in /dev/shm (memory-backed; the temporary
// directory when there is none), shared by the connections of one server and
// removed when the last of them closes. A file rather than SQLite's own memory
// databases, because only a file gives us the write-ahead log, and with it
// readers that do not wait for writers.
std::mutex g_memory_mu;
std::map<std::string, int> g_memory_users;

void remove_database_files(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

}  // namespace

std::string memory_database_path(const void* owner) {
  const char* dir = "/dev/shm";
  if (::access(dir, W_OK) != 0) {
    dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
  }
  char name[256];
  std::snprintf(name, sizeof name, "%s/vqeng12-%ld-%p.db", dir, static_cast<long>(getpid()),
                owner);
  return name;
}

void acquire_memory_database(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_memory_mu);
  if (g_memory_users[path]++ == 0)
    remove_database_files(path);  // left by a process that crashed
}

void release_memory_database(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_memory_mu);
  if (--g_memory_users[path] > 0) return;
  g_memory_users.erase(path);
  remove_database_files(path);
}

struct Engine::Stmt {
  std::string text;
  ProcStatementKind procedure = ProcStatementKind::None;  // ours to run (procedures.h)
  bool grant = false;                                     // GRANT or REVOKE (grants.h)
  std::vector<std::string> pieces;  // rewritten statements
  sqlite3_stmt* st = nullptr;       // prepared when the text is one SQLite statement
  std::vector<ColumnDesc> params;   // of st: types of the columns they stand for
  ~Stmt() { sqlite3_finalize(st); }
  std::size_t cost() const {
    std::size_t n = text.size() + kHeldStatementOverhead;
    for (const auto& p : pieces) n += p.size();
    return n;
  }
};

std::string rewrite_dialect(const std::string& sql, const DatabaseConfig& cfg,
                            const std::string& user) {
  bool has_endif = false;
  for_each_word(sql, [&](std::size_t p, std::size_t n) {
    if (lower(sql.substr(p, n)) == "endif") has_endif = true;
  });
  std::string out;
  std::size_t copied = 0;
  std::size_t skip_until = 0;
  for_each_word(sql, [&](std::size_t p, std::size_t n) {
    if (p < skip_until) return;
    const std::string w = lower(sql.substr(p, n));
    std::string repl;
    std::size_t end = p + n;
    if (w == "@@version") {
      repl = quote_literal(cfg.version);
    } else if (w == "@@servername") {
      repl = quote_literal(cfg.server_name);
    } else if (w == "current") {
      std::size_t q = end;
      while (q < sql.size() && std::isspace(static_cast<unsigned char>(sql[q]))) ++q;
      if (q + 4 <= sql.size() && lower(sql.substr(q, 4)) == "user" &&
          (q + 4 == sql.size() || !word_char(sql[q + 4]))) {
        repl = quote_literal(user);
        end = q + 4;
        skip_until = end;
      } else {
        return;
      }
    } else if (w == "isnull") {
      // ISNULL is an operator in SQLite; the function form is coalesce.
      std::size_t q = end;
      while (q < sql.size() && std::isspace(static_cast<unsigned char>(sql[q]))) ++q;
      if (q >= sql.size() || sql[q] != '(') return;
      repl = "coalesce";
    } else if (has_endif && w == "if") {
      repl = "CASE WHEN";
    } else if (has_endif && w == "endif") {
      repl = "END";
    } else {
      return;
    }
    out.append(sql, copied, p - copied);
    out += repl;
    copied = end;
  });
  out.append(sql, copied, std::string::npos);
  return rewrite_expressions(out, user);
}

std::vector<std::string> split_statements(const std::string& sql) {
  std::vector<std::string> out;
  std::string cur;
  char quote = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quote) {
      cur.push_back(c);
      if (c == quote) quote = 0;  // a doubled quote closes and reopens: same result
      continue;
    }
    if (c == '\'' || c == '"') quote = c;
    if (c == ';') {
      if (!trim(cur).empty()) out.push_back(trim(cur));
      cur.clear();
      continue;
    }
    cur.push_back(c);
  }
  if (!trim(cur).empty()) out.push_back(trim(cur));
  return out;
}

WireType type_from_decl(const char* decl) {
  WireType t;
  if (!decl || !*decl) {
    t.type = 1;
    t.length = 32767;
    return t;
  }
  const std::string d = upper(decl);
  if (d.find("UNIQUEIDENTIFIERSTR") != std::string::npos) {
    t.type = 1;
    t.length = 36;
    return t;
  }
  if (d.find("UNIQUEIDENTIFIER") != std::string::npos) {
    t.type = -2;
    t.length = 16;
    return t;
  }
  unsigned a = 0, b = 0;
  const auto paren = d.find('(');
  const int nums =
      paren == std::string::npos ? 0 : std::sscanf(d.c_str() + paren, "(%u,%u", &a, &b);
  auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
  if (has("BIGINT"))
    t.type = -5;
  else if (has("SMALLINT"))
    t.type = 5;
  else if (has("TINYINT"))
    t.type = -6;
  else if (has("INT"))
    t.type = 4;
  else if (d == "BIT")
    t.type = -7;
  else if (has("LONG BINARY") || has("BLOB")) {
    t.type = -4;
    t.length = 0x7FFFFFFF;
  } else if (has("BINARY")) {
    t.type = -2;
    t.length = nums >= 1 ? a : 1;
  } else if (has("LONG VARCHAR") || has("TEXT") || has("CLOB")) {
    t.type = -1;
    t.length = 0x7FFFFFFF;
  } else if (has("CHAR")) {
    t.type = 1;
    t.length = nums >= 1 ? a : (has("VARCHAR") ? 32767 : 1);
  } else if (has("DOUB") || has("FLOA") || has("REAL"))
    t.type = 8;
  else if (has("DEC") || has("NUMERIC")) {
    t.type = has("NUMERIC") ? 2 : 3;  // numeric travels as item 115, decimal as 110
    t.precision = static_cast<std::uint8_t>(nums >= 1 ? std::min(a, 127u) : 30);
    t.scale = static_cast<std::uint8_t>(nums >= 2 ? std::min(b, 127u) : (nums >= 1 ? 0 : 6));
  } else if (has("TIMESTAMP") || has("DATETIME")) {
    t.type = 9;
    t.subtype = 3;
    t.length = 26;
  } else if (has("DATE")) {
    t.type = 9;
    t.subtype = 1;
    t.length = 10;
  } else if (has("TIME")) {
    t.type = 9;
    t.subtype = 2;
    t.length = 15;
  } else {
    t.type = 1;
    t.length = 32767;
  }
  return t;
}

Engine::Engine(const DatabaseConfig& cfg) : cfg_(cfg) {}

Engine::~Engine() {
  stmts_.clear();
  if (db_) sqlite3_close_v2(db_);
  if (!memory_path_.empty()) release_memory_database(memory_path_);
}

bool Engine::client_file(bool write, const std::string& name, std::string& data) {
  SqlError err;
  if (!client_file_hook_) {
    function_error_ = sql_error(-1000, "Client files cannot be reached on this connection");
    return false;
  }
  if (client_file_hook_(write, name, data, err)) return true;
  function_error_ = err;
  return false;
}

SqlError Engine::last_error(int rc) {
  if (function_error_) {
    // One of our functions failed: its own error, not SQLite's wording of it.
    SqlError e = *function_error_;
    function_error_.reset();
    return e;
  }
  const int ext = db_ ? sqlite3_extended_errcode(db_) : rc;
  return map_sqlite_error(ext ? ext : rc, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
}

int Engine::progress_cb(void* self) {
  auto* e = static_cast<Engine*>(self);
  return e->interrupt_check_ && e->interrupt_check_() ? 1 : 0;
}

// Whether a statement may read SYSTABLE's row counts: it names SYSTABLE.
static bool reads_row_counts(const std::string& sql) {
  return upper(sql).find("SYSTABLE") != std::string::npos;
}

bool Engine::open(SqlError& err) {
  std::string target = cfg_.database_file;
  // An engine belongs to one session, and a session lives and is served on its
  // connection's own thread (server.cpp, shm_listener.cpp): this handle is never used by
  // two threads, so it goes without SQLite's per-connection mutex, which otherwise is
  // taken and released on every call (each value of every row read). Connections to the
  // same database still share what SQLite shares between them under its own locks.
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  if (target.empty()) {
    memory_path_ = memory_database_path(&cfg_);
    acquire_memory_database(memory_path_);
    target = memory_path_;
  }
  const int rc = sqlite3_open_v2(target.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    err = sql_error(-83, "Specified database not found", {cfg_.database_file});
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  // With a write-ahead log, readers see the last commit and never wait for a
  // writer; writers wait for each other up to the busy time-out. A hundred writers on
  // a loaded machine (or under a sanitizer) can queue for several seconds, and a
  // database server makes a writer wait for a lock rather than fail it that soon.
  sqlite3_busy_timeout(db_, 60000);
  sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  // The database file is read through a mapping rather than a read call (and a copy
  // into the page cache) for every page: a query that reads a large table steps from
  // one mapped page to the next. Pages still in the write-ahead log are read from it as
  // before, and writes go through the page cache whatever the mapping.
  sqlite3_exec(db_, "PRAGMA mmap_size=1073741824", nullptr, nullptr, nullptr);
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_progress_handler(db_, 1000, &Engine::progress_cb, this);

  // Each connection gets its own copy of the SYS tables.
  std::string sys_error;
  if (!create_system_tables(db_, cfg_.users, sys_error)) {
    err = sql_error(-301, sys_error);
    return false;
  }

  auto* ctx = new Connection{&cfg_, this};
  struct Fn {
    const char* name;
    int argc;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  const Fn fns[] = {{"property", 1, fn_property},
                    {"connection_property", 1, fn_connection_property},
                    {"db_property", 1, fn_db_property},
                    {"db_name", 0, fn_db_name},
                    {"vqeng_read_client_file", 1, fn_client_file},
                    {"vqeng_write_client_file", 2, fn_client_file}};
  void (*free_ctx)(void*) = [](void* p) { delete static_cast<Connection*>(p); };
  for (const auto& f : fns) {
    // The first registration owns the context and frees it with the connection.
    sqlite3_create_function_v2(db_, f.name, f.argc, SQLITE_UTF8, ctx, f.fn, nullptr, nullptr,
                               free_ctx);
    free_ctx = nullptr;
  }
  register_dialect_functions(db_, this);
  return true;
}

bool Engine::prepare(const std::string& text, std::uint32_t& id, SqlError& err) {
  refresh_system_tables(db_, reads_row_counts(text));
  auto s = std::make_unique<Stmt>();
  s->text = text;
  s->procedure = procedure_statement_kind(text);
  s->grant = is_grant_statement(text);
  if (s->procedure != ProcStatementKind::None || s->grant) {
    // A procedure's body holds ';', and its expressions are rewritten when they run.
    s->pieces = {text};
    if (s->procedure == ProcStatementKind::Call && !call_parameters(text, s->params, err))
      return false;
    id = next_id_++;
    if (next_id_ == 0) next_id_ = 1;
    held_bytes_ += s->cost();
    stmts_[id] = std::move(s);
    return true;
  }
  s->pieces = split_statements(rewrite_dialect(text, cfg_, user_));
  // One statement is prepared now, so that errors surface at prepare and it can
  // be described. Several statements (or a SET statement, which is ours to run)
  // are prepared one by one when they run, as each may depend on the one before.
  const std::string head =
      upper(s->pieces.empty() ? std::string() : s->pieces[0].substr(0, 16));
  const bool ours = head.compare(0, 4, "SET ") == 0 ||
                    head.compare(0, 16, "CREATE VARIABLE ") == 0 ||
                    head.compare(0, 14, "DROP VARIABLE ") == 0;
  if (s->pieces.size() == 1 && !ours) {
    const int rc = sqlite3_prepare_v2(db_, s->pieces[0].c_str(), -1, &s->st, nullptr);
    if (rc != SQLITE_OK) {
      err = last_error(rc);
      return false;
    }
    s->params = parameters_of(s->st);
  }
  id = next_id_++;
  if (next_id_ == 0) next_id_ = 1;
  held_bytes_ += s->cost();
  stmts_[id] = std::move(s);
  return true;
}

std::uint16_t Engine::param_count(std::uint32_t id) const {
  const auto it = stmts_.find(id);
  if (it == stmts_.end()) return 0;
  if (!it->second->st) {
    // Statements we run ourselves: count the markers outside quotes.
    std::uint16_t n = 0;
    for (const auto& p : it->second->pieces) {
      char quote = 0;
      for (char c : p) {
        if (quote)
          quote = c == quote ? 0 : quote;
        else if (c == '\'' || c == '"')
          quote = c;
        else if (c == '?')
          ++n;
      }
    }
    return n;
  }
  return static_cast<std::uint16_t>(sqlite3_bind_parameter_count(it->second->st));
}

namespace {

bool query_text(const std::string& piece) {
  std::string head;
  for (char c : piece) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == '(') {
      if (head.empty()) continue;
      break;
    }
    head.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return head == "SELECT" || head == "WITH" || head == "VALUES";
}

// The type of an expression column, from its value in a row: NULL and text leave
// the type it has.
void type_from_value(const Value& v, WireType& t) {
  const std::uint16_t flags = t.flags;
  switch (v.kind) {
    case Value::Int:
      t = WireType{};
      t.type = -5;
      break;
    case Value::Real:
      t = WireType{};
      t.type = 8;
      break;
    case Value::Blob:
      t = type_from_decl("LONG BINARY");
      break;
    default:
      return;
  }
  t.flags = flags;
}

// The name of a declared type without its length: "varchar(10)" -> "varchar".
std::string type_name_of(const char* decl) {
  std::string n = lower(decl ? decl : "");
  const auto paren = n.find('(');
  if (paren != std::string::npos) n = n.substr(0, paren);
  return trim(n);
}

// A result column as its declaration describes it: the type, the flags (nullable
// unless the table column is NOT NULL or the row id; updatable in a table of the
// database; auto-increment for the row id) and the type name. A column that is an
// expression is nullable; it takes the type of one of our typed functions when it is
// a call of one (`hint`), and `*known` is false when nothing tells its type.
ColumnDesc declared_column(sqlite3_stmt* st, int k, const ColumnHint* hint, bool* known) {
  ColumnDesc c;
  const char* name = sqlite3_column_name(st, k);
  c.name = name ? name : "";
  const char* decl = sqlite3_column_decltype(st, k);
  *known = decl != nullptr;
  c.type = type_from_decl(decl);
  if (decl) c.type_name = type_name_of(decl);
  std::uint16_t flags = kColNullable;
  const char* table = sqlite3_column_table_name(st, k);
  const char* origin = sqlite3_column_origin_name(st, k);
  const char* db = sqlite3_column_database_name(st, k);
  const char* dt = nullptr;
  int notnull = 0, pk = 0, autoinc = 0;
  if (table && origin && db &&
      sqlite3_table_column_metadata(sqlite3_db_handle(st), db, table, origin, &dt, nullptr,
                                    &notnull, &pk, &autoinc) == SQLITE_OK) {
    const bool rowid = pk && dt && upper(dt) == "INTEGER";
    flags = 0;
    if (!notnull && !rowid) flags |= kColNullable;
    if (rowid || autoinc) flags |= kColAutoIncrement;
    if (std::strcmp(db, "main") == 0 || std::strcmp(db, "temp") == 0) flags |= kColUpdatable;
  } else if (!decl && hint && hint->type.type != 0) {
    c.type = hint->type;
    c.type_name = hint->type_name;
    *known = true;
  }
  c.type.flags = flags;
  return c;
}

// Hints for the columns of a statement: one per column, or none.
std::vector<ColumnHint> hints_of(sqlite3_stmt* st) {
  const char* sql = sqlite3_sql(st);
  std::vector<ColumnHint> h = select_list_hints(sql ? sql : "");
  if (h.size() != static_cast<std::size_t>(sqlite3_column_count(st))) h.clear();
  return h;
}

// declared_decimal_scale() of each column, for an expression column that its select-list
// item types NUMERIC or DECIMAL (CAST(x AS DECIMAL(p, s))) too: its values go out as exact
// decimal text with the scale, as the column is described, never as a double's text.
std::vector<int> decimal_scales(sqlite3_stmt* st) {
  const int n = sqlite3_column_count(st);
  std::vector<int> scales;
  std::vector<ColumnHint> hints;
  bool hints_read = false;
  for (int k = 0; k < n; ++k) {
    int scale = declared_decimal_scale(st, k);
    if (scale < 0 && sqlite3_column_decltype(st, k) == nullptr) {
      if (!hints_read) {
        hints = hints_of(st);
        hints_read = true;
      }
      const auto at = static_cast<std::size_t>(k);
      if (at < hints.size() && (hints[at].type.type == 2 || hints[at].type.type == 3))
        scale = hints[at].type.scale;
    }
    scales.push_back(scale);
  }
  return scales;
}

// Column descriptions of a statement; an expression column that nothing else types
// takes the type of its value in `first`, when given.
std::vector<ColumnDesc> columns_of(sqlite3_stmt* st, const std::vector<Value>* first) {
  std::vector<ColumnDesc> cols;
  const std::vector<ColumnHint> hints = hints_of(st);
  const int n = sqlite3_column_count(st);
  for (int k = 0; k < n; ++k) {
    bool known = false;
    ColumnDesc c = declared_column(
        st, k, hints.empty() ? nullptr : &hints[static_cast<std::size_t>(k)], &known);
    if (!known && first && static_cast<std::size_t>(k) < first->size())
      type_from_value((*first)[static_cast<std::size_t>(k)], c.type);
    cols.push_back(std::move(c));
  }
  return cols;
}

}  // namespace

bool Engine::is_query(std::uint32_t id) const {
  const auto it = stmts_.find(id);
  if (it == stmts_.end()) return false;
  if (it->second->st) return sqlite3_column_count(it->second->st) > 0;
  if (it->second->pieces.size() < 2) return false;
  for (const auto& p : it->second->pieces)
    if (query_text(p)) return true;
  return false;
}

std::uint8_t Engine::statement_kind(std::uint32_t id) const {
  if (!is_query(id)) return 0;
  return is_multi(id) ? kBatchKind : kQueryKind;
}

bool Engine::is_multi(std::uint32_t id) const {
  const auto it = stmts_.find(id);
  return it != stmts_.end() && !it->second->st && it->second->pieces.size() > 1;
}

bool Engine::describe_output(std::uint32_t id, std::vector<ColumnDesc>& cols, SqlError& err) {
  cols.clear();
  const auto it = stmts_.find(id);
  if (it == stmts_.end()) {
    err = sql_error(-130, "Invalid statement");
    return false;
  }
  sqlite3_stmt* st = it->second->st;
  if (!st) {
    // Several statements: the columns of the first query, when it can be
    // prepared before the statements ahead of it have run.
    for (const auto& p : it->second->pieces) {
      if (!query_text(p)) continue;
      sqlite3_stmt* tmp = nullptr;
      if (sqlite3_prepare_v2(db_, p.c_str(), -1, &tmp, nullptr) == SQLITE_OK && tmp)
        cols = columns_of(tmp, nullptr);
      sqlite3_finalize(tmp);
      break;
    }
    return true;
  }
  const int n = sqlite3_column_count(st);
  const std::vector<ColumnHint> hints = hints_of(st);
  bool peeked = false, have_row = false;
  for (int k = 0; k < n; ++k) {
    bool known = false;
    ColumnDesc c = declared_column(
        st, k, hints.empty() ? nullptr : &hints[static_cast<std::size_t>(k)], &known);
    if (!known && sqlite3_stmt_readonly(st)) {
      // An expression column has no declared type: we take the type of its value
      // in the first row (a read-only statement, so running it changes nothing).
      if (!peeked) {
        peeked = true;
        sqlite3_reset(st);
        have_row = sqlite3_step(st) == SQLITE_ROW;
      }
      if (have_row) type_from_value(column_value(st, k), c.type);
    }
    cols.push_back(std::move(c));
  }
  if (peeked) sqlite3_reset(st);
  return true;
}

bool Engine::describe_input(std::uint32_t id, std::vector<ColumnDesc>& params, SqlError& err) {
  params.clear();
  const auto it = stmts_.find(id);
  if (it == stmts_.end()) {
    err = sql_error(-130, "Invalid statement");
    return false;
  }
  params = it->second->params;
  return true;
}

std::vector<ColumnDesc> Engine::parameters_of(sqlite3_stmt* st) const {
  std::vector<ColumnDesc> params;
  const int n = st ? sqlite3_bind_parameter_count(st) : 0;
  const char* sql = st ? sqlite3_sql(st) : nullptr;
  const std::vector<ParamTarget> targets = parameter_targets(sql ? sql : "");
  for (int k = 1; k <= n; ++k) {
    ColumnDesc c;
    const char* name = sqlite3_bind_parameter_name(st, k);
    c.name = name && *name != '?' ? name + 1 : "";
    c.type.type = 1;
    c.type.length = 32767;
    c.type.flags = kColParamIn | kColNullable;  // statements only read their parameters
    if (targets.size() == static_cast<std::size_t>(n)) {
      const ParamTarget& t = targets[static_cast<std::size_t>(k - 1)];
      std::string column = t.column;
      if (!t.table.empty() && column.empty() && t.position >= 0) {
        // An INSERT without a column list: the column at that position.
        sqlite3_stmt* q = nullptr;
        if (sqlite3_prepare_v2(db_, "SELECT name FROM pragma_table_info(?) LIMIT 1 OFFSET ?",
                               -1, &q, nullptr) == SQLITE_OK) {
          sqlite3_bind_text(q, 1, t.table.c_str(), -1, SQLITE_TRANSIENT);
          sqlite3_bind_int(q, 2, t.position);
          if (sqlite3_step(q) == SQLITE_ROW)
            column = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
        }
        sqlite3_finalize(q);
      }
      const char* decl = nullptr;
      int notnull = 0, pk = 0, autoinc = 0;
      if (!t.table.empty() && !column.empty() &&
          sqlite3_table_column_metadata(db_, nullptr, t.table.c_str(), column.c_str(), &decl,
                                        nullptr, &notnull, &pk, &autoinc) == SQLITE_OK &&
          decl && *decl) {
        c.type = type_from_decl(decl);
        c.type_name = type_name_of(decl);
        c.type.flags = kColParamIn | (notnull ? 0 : kColNullable);
      }
    }
    params.push_back(std::move(c));
  }
  return params;
}

bool Engine::begin_if_needed(sqlite3_stmt* st, SqlError& err) {
  // Work that changes the database runs inside a transaction that only commit or
  // rollback requests end; queries run outside one.
  if (sqlite3_stmt_readonly(st) || !sqlite3_get_autocommit(db_)) return true;
  const int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    err = last_error(rc);
    return false;
  }
  return true;
}

bool Engine::bind_params(sqlite3_stmt* st, const std::vector<Value>& params,
                         const std::vector<ColumnDesc>* param_types, SqlError& err) {
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  const int np = sqlite3_bind_parameter_count(st);
  for (int k = 1; k <= np && static_cast<std::size_t>(k) <= params.size(); ++k) {
    Value v;
    if (!resolve_variable(params[static_cast<std::size_t>(k - 1)], v, err)) return false;
    // A date, time or timestamp is kept in the form of the column it goes to, so that
    // a date stays a date (a client sends every one of them as a timestamp record).
    if (param_types && static_cast<std::size_t>(k) <= param_types->size() &&
        v.kind == Value::Text) {
      const WireType& t = (*param_types)[static_cast<std::size_t>(k - 1)].type;
      if (t.type == 9) v.s = datetime_as(v.s, t.subtype);
    }
    if (bind_value(st, k, v) != SQLITE_OK) {
      err = last_error(SQLITE_ERROR);
      return false;
    }
  }
  return true;
}

bool Engine::step_all(sqlite3_stmt* st, const std::vector<Value>& params, std::size_t max_rows,
                      ExecResult& res, SqlError& err, std::size_t max_bytes,
                      const std::vector<ColumnDesc>* param_types) {
  if (!bind_params(st, params, param_types, err)) return false;
  if (!begin_if_needed(st, err)) return false;
  // sqlite3_changes keeps the count of the last INSERT, UPDATE or DELETE, so any other
  // statement (DDL, for one) would report its predecessor's count: only those verbs
  // count, and a WITH statement only when the connection's running total moved.
  const sqlite3_int64 total_before = sqlite3_total_changes64(db_);
  const ChangeVerb verb = change_verb(sqlite3_sql(st));
  const int ncol = sqlite3_column_count(st);
  res.has_result_set = ncol > 0;
  res.rows.clear();
  res.bytes = 0;
  res.too_large = false;
  const std::vector<int> scales = decimal_scales(st);  // read once
  for (;;) {
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) {
      err = last_error(rc);
      sqlite3_reset(st);
      return false;
    }
    if (res.rows.size() >= max_rows) break;
    std::vector<Value> row;
    row.reserve(static_cast<std::size_t>(ncol));
    std::size_t row_bytes = sizeof(std::vector<Value>);
    for (int k = 0; k < ncol; ++k) {
      row.emplace_back();
      read_column(st, k, scales[static_cast<std::size_t>(k)], row.back());
      row_bytes += sizeof(Value) + kHeldValueOverhead + row.back().s.size();
    }
    if (row_bytes > max_bytes - std::min(max_bytes, res.bytes)) {
      res.too_large = true;
      break;
    }
    res.bytes += row_bytes;
    res.rows.push_back(std::move(row));
    if (res.rows.size() >= max_rows) break;
  }
  if (res.has_result_set)
    res.columns = columns_of(st, res.rows.empty() ? nullptr : &res.rows.front());
  const bool counts = verb == ChangeVerb::Yes ||
                      (verb == ChangeVerb::Maybe && sqlite3_total_changes64(db_) != total_before);
  res.changes = res.has_result_set || !counts
                    ? 0
                    : static_cast<std::uint32_t>(sqlite3_changes64(db_));
  sqlite3_reset(st);
  return true;
}

bool Engine::can_stream(std::uint32_t id) const {
  const auto it = stmts_.find(id);
  return it != stmts_.end() && it->second->st != nullptr &&
         sqlite3_column_count(it->second->st) > 0 && sqlite3_stmt_readonly(it->second->st);
}

bool Engine::open_stream(std::uint32_t id, const std::vector<Value>& params,
                         std::unique_ptr<RowStream>& out, SqlError& err) {
  out.reset();
  const auto it = stmts_.find(id);
  if (it == stmts_.end() || !can_stream(id)) {
    err = sql_error(-130, "Invalid statement");
    return false;
  }
  // The stream steps a statement of its own, so that the prepared one stays free for
  // another execute or open while the rows are read.
  sqlite3_stmt* st = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sqlite3_sql(it->second->st), -1, &st, nullptr);
  if (rc != SQLITE_OK || st == nullptr) {
    err = last_error(rc == SQLITE_OK ? SQLITE_ERROR : rc);
    sqlite3_finalize(st);
    return false;
  }
  std::unique_ptr<RowStream> stream(new RowStream(this, st));
  if (!bind_params(st, params, &it->second->params, err)) return false;
  // The first row is stepped now: a query that fails at once fails its open, as it
  // does when its rows are read whole.
  if (!stream->step(err)) return false;
  out = std::move(stream);
  return true;
}

RowStream::~RowStream() { sqlite3_finalize(st_); }

bool RowStream::step(SqlError& err) {
  const int rc = sqlite3_step(st_);
  if (rc == SQLITE_ROW) {
    have_row_ = true;
    return true;
  }
  have_row_ = false;
  if (rc == SQLITE_DONE) {
    // Reset at once: a finished statement that is not reset may keep its read
    // transaction, and a later write of this connection then fails on a stale snapshot.
    sqlite3_reset(st_);
    return true;
  }
  err = engine_->last_error(rc);
  sqlite3_reset(st_);
  return false;
}

RowStream::RowStream(Engine* engine, sqlite3_stmt* st) : engine_(engine), st_(st) {
  scales_ = decimal_scales(st_);
}

int RowStream::next(std::vector<Value>& row) {
  if (!have_row_) {
    row.clear();
    return 0;
  }
  row.resize(scales_.size());
  for (std::size_t k = 0; k < scales_.size(); ++k)
    read_column(st_, static_cast<int>(k), scales_[k], row[k]);
  return step(error_) ? 1 : -1;
}

bool Engine::set_option(const std::string& piece, bool* handled, SqlError& err) {
  // SET [TEMPORARY] OPTION [user.]name = value
  *handled = false;
  std::string rest = trim(piece);
  const std::string up = upper(rest);
  if (up.compare(0, 4, "SET ") != 0) return true;
  std::size_t p = 4;
  auto skip_ws = [&] {
    while (p < rest.size() && std::isspace(static_cast<unsigned char>(rest[p]))) ++p;
  };
  skip_ws();
  if (up.compare(p, 10, "TEMPORARY ") == 0) {
    p += 10;
    skip_ws();
  }
  if (up.compare(p, 7, "OPTION ") != 0) return true;
  p += 7;
  *handled = true;
  const auto eq = rest.find('=', p);
  if (eq == std::string::npos) {
    err = sql_error(-131, "Syntax error in SET OPTION");
    return false;
  }
  std::string name = lower(trim(rest.substr(p, eq - p)));
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);
  std::string value = trim(rest.substr(eq + 1));
  if (value.size() >= 2 && (value[0] == '\'' || value[0] == '"') && value.back() == value[0])
    value = value.substr(1, value.size() - 2);
  return set_option_value(name, &value, err);
}

bool Engine::resolve_variable(const Value& v, Value& out, SqlError& err) const {
  if (v.kind != Value::Variable) {
    out = v;
    return true;
  }
  const auto it = variables_.find(lower(v.s));
  if (it == variables_.end()) {
    err = sql_error(-143, "Column '" + v.s + "' not found", {v.s});
    return false;
  }
  out = it->second;
  return true;
}

namespace {

// A small reader of the variable statements: keywords, identifiers (a word, or a
// name in double quotes where a doubled quote stands for one, so that names with
// blanks or quotes keep exactly their text) and punctuation, blanks between them.
struct Scan {
  const std::string& s;
  std::size_t p = 0;
  void blanks() {
    while (p < s.size() && std::isspace(static_cast<unsigned char>(s[p]))) ++p;
  }
  bool at_end() {
    blanks();
    return p == s.size();
  }
  std::string word() {
    blanks();
    const std::size_t b = p;
    while (p < s.size() && word_char(s[p])) ++p;
    return s.substr(b, p - b);
  }
  bool keyword(const char* kw) {
    const std::size_t keep = p;
    if (upper(word()) == kw) return true;
    p = keep;
    return false;
  }
  bool identifier(std::string& out) {
    blanks();
    out.clear();
    if (p < s.size() && s[p] == '"') {
      for (std::size_t q = p + 1; q < s.size(); ++q) {
        if (s[q] != '"') {
          out.push_back(s[q]);
          continue;
        }
        if (q + 1 < s.size() && s[q + 1] == '"') {
          out.push_back('"');
          ++q;
          continue;
        }
        p = q + 1;
        return !out.empty();
      }
      return false;  // no closing quote
    }
    out = word();
    return !out.empty();
  }
  bool punct(const char* t) {
    blanks();
    const std::size_t n = std::strlen(t);
    if (s.compare(p, n, t) != 0) return false;
    p += n;
    return true;
  }
};

// The first word of a variable's data type.
bool type_word(const std::string& w) {
  static const char* const kWords[] = {
      "LONG",     "VARCHAR", "CHAR",    "CHARACTER", "NCHAR",   "NVARCHAR", "BINARY",
      "VARBINARY", "INT",    "INTEGER", "BIGINT",    "SMALLINT", "TINYINT", "NUMERIC",
      "DECIMAL",  "DOUBLE",  "FLOAT",   "REAL",      "DATE",    "TIME",     "TIMESTAMP",
      "DATETIME", "BIT",     "TEXT",    "BLOB",      "UNIQUEIDENTIFIER", "UNIQUEIDENTIFIERSTR",
      "XML",      "UNSIGNED"};
  const std::string u = upper(w);
  for (const char* k : kWords)
    if (u == k) return true;
  return false;
}

}  // namespace

bool Engine::is_searched_change(std::uint32_t id) const {
  const auto it = stmts_.find(id);
  if (it == stmts_.end() || !it->second->st) return false;
  Scan sc{it->second->text};
  if (sc.keyword("UPDATE")) return true;
  sc.p = 0;
  return sc.keyword("DELETE");
}

bool Engine::variable_statement(const std::string& piece, const std::vector<Value>& params,
                                bool* handled, SqlError& err) {
  // CREATE VARIABLE name type, DROP VARIABLE name, SET name = name || ?. A name needs
  // double quotes when it holds blanks or quotes; it is kept as written inside them.
  *handled = false;
  Scan sc{piece};
  std::string name;
  const auto syntax = [&](const std::string& near) {
    err = sql_error(-131, "Syntax error near '" + near + "'", {near});
    return false;
  };
  if (sc.keyword("CREATE")) {
    if (!sc.keyword("VARIABLE")) return true;
    *handled = true;
    if (!sc.identifier(name)) return syntax(piece.substr(sc.p, 20));
    const std::size_t type_at = sc.p;
    const std::string first = sc.word();
    if (!type_word(first)) return syntax(first.empty() ? piece.substr(sc.p, 20) : first);
    const std::string key = lower(name);
    if (variables_.count(key)) {
      err = sql_error(-110, "Item '" + name + "' already exists", {name});
      return false;
    }
    // A new variable is empty, so that appending to it builds the value.
    const bool binary = upper(piece.substr(type_at)).find("BINARY") != std::string::npos;
    variables_[key] = binary ? Value::blob({}) : Value::text({});
    return true;
  }
  sc.p = 0;
  if (sc.keyword("DROP")) {
    if (!sc.keyword("VARIABLE")) return true;
    *handled = true;
    if (!sc.identifier(name)) return syntax(piece.substr(sc.p, 20));
    if (!sc.at_end()) return syntax(piece.substr(sc.p, 20));
    if (variables_.erase(lower(name)) == 0) {
      err = sql_error(-143, "Column '" + name + "' not found", {name});
      return false;
    }
    return true;
  }
  sc.p = 0;
  std::string again;
  if (!sc.keyword("SET") || !sc.identifier(name) || !variables_.count(lower(name)) ||
      !sc.punct("=") || !sc.identifier(again) || lower(again) != lower(name) ||
      !sc.punct("||") || !sc.punct("?") || !sc.at_end())
    return true;  // not ours: SQLite says what is wrong with it
  *handled = true;
  Value& target = variables_[lower(name)];
  if (params.empty()) {
    err = sql_error(-1000, "SET " + name + " needs its value");
    return false;
  }
  Value add;
  if (!resolve_variable(params.front(), add, err)) return false;
  if (add.kind == Value::Null || add.kind == Value::Unset) return true;
  const std::string piece_bytes =
      add.kind == Value::Text || add.kind == Value::Blob ? add.s : value_text(add);
  std::size_t held = 0;
  for (const auto& v : variables_) held += v.second.s.size();
  if (held + piece_bytes.size() > cfg_.limits.max_connection_bytes) {
    err = sql_error(-1000, "Server variables would hold more than the " +
                               std::to_string(cfg_.limits.max_connection_bytes) +
                               " bytes one connection may hold");
    return false;
  }
  target.s += piece_bytes;
  return true;
}

bool Engine::run_piece(const std::string& piece, const std::vector<Value>& params,
                       std::size_t max_rows, ExecResult& res, SqlError& err,
                       std::size_t max_bytes) {
  refresh_system_tables(db_, reads_row_counts(piece));
  bool handled = false;
  if (!set_option(piece, &handled, err)) return false;
  if (!handled && !variable_statement(piece, params, &handled, err)) return false;
  if (handled) {
    res = ExecResult{};
    return true;
  }
  sqlite3_stmt* st = nullptr;
  const int rc = sqlite3_prepare_v2(db_, piece.c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    err = last_error(rc);
    return false;
  }
  const std::vector<ColumnDesc> types = params.empty() ? std::vector<ColumnDesc>{} : parameters_of(st);
  const bool ok = step_all(st, params, max_rows, res, err, max_bytes, &types);
  sqlite3_finalize(st);
  return ok;
}

bool Engine::execute(std::uint32_t id, const std::vector<Value>& params, std::size_t max_rows,
                     ExecResult& res, SqlError& err, std::size_t max_bytes) {
  res = ExecResult{};
  const auto it = stmts_.find(id);
  if (it == stmts_.end()) {
    err = sql_error(-130, "Invalid statement");
    return false;
  }
  Stmt& s = *it->second;
  if (s.st) return step_all(s.st, params, max_rows, res, err, max_bytes, &s.params);
  if (s.procedure != ProcStatementKind::None)
    return procedure_statement(s.procedure, s.text, params, res, err);
  if (s.grant) return grant_statement(s.text, res, err);
  // Several statements, one after the other: each query's rows are kept as a
  // result set, all within the byte bound.
  std::vector<ResultSet> sets;
  std::size_t bytes = 0;
  for (const auto& piece : s.pieces) {
    if (!run_piece(piece, params, max_rows, res, err, max_bytes - std::min(max_bytes, bytes)))
      return false;
    bytes += res.bytes;
    if (res.too_large) break;
    if (res.has_result_set) sets.push_back(ResultSet{res.columns, res.rows});
  }
  res.sets = std::move(sets);
  res.bytes = bytes;
  return true;
}

bool Engine::execute_immediate(const std::string& text, ExecResult& res, SqlError& err) {
  res = ExecResult{};
  const ProcStatementKind kind = procedure_statement_kind(text);
  if (kind != ProcStatementKind::None) {
    refresh_system_tables(db_);
    return procedure_statement(kind, text, {}, res, err);
  }
  if (is_grant_statement(text)) {
    refresh_system_tables(db_);
    return grant_statement(text, res, err);
  }
  for (const auto& piece : split_statements(rewrite_dialect(text, cfg_, user_)))
    if (!run_piece(piece, {}, 0, res, err)) return false;
  return true;
}

namespace {

// Options a client may read before it has set them, with our defaults.
const std::map<std::string, std::string>& default_options() {
  static const std::map<std::string, std::string> d{
      {"ansinull", "On"},
      {"blocking", "On"},
      {"chained", "On"},
      {"date_format", "YYYY-MM-DD"},
      {"date_order", "YMD"},
      {"isolation_level", "0"},
      {"quoted_identifier", "On"},
      {"time_format", "HH:NN:SS.SSS"},
      {"timestamp_format", "YYYY-MM-DD HH:NN:SS.SSS"},
      {"timestamp_with_time_zone_format", "YYYY-MM-DD HH:NN:SS.SSS+HH:NN"},
  };
  return d;
}

}  // namespace

bool Engine::option_value(const std::string& name, std::string& value) const {
  const std::string key = lower(name);
  const auto it = options_.find(key);
  if (it != options_.end()) {
    value = it->second;
    return true;
  }
  const auto d = default_options().find(key);
  if (d == default_options().end()) return false;
  value = d->second;
  return true;
}

bool Engine::set_option_value(const std::string& name, const std::string* value,
                              SqlError& err) {
  const std::string key = lower(name);
  if (option_hook_) {
    bool taken = false;
    std::string why;
    if (!option_hook_(key, value, &taken, why)) {
      err = sql_error(-200, "Invalid value for option '" + name + "': " + why, {name});
      return false;
    }
    if (taken) return true;
  }
  if (value)
    options_[key] = *value;
  else
    options_.erase(key);
  std::string now;
  if (key == "isolation_level" && db_ && option_value(key, now))
    sqlite3_exec(db_,
                 now == "0" ? "PRAGMA read_uncommitted = 1" : "PRAGMA read_uncommitted = 0",
                 nullptr, nullptr, nullptr);
  return true;
}

std::string Engine::statement_text(std::uint32_t id) const {
  const auto it = stmts_.find(id);
  if (it == stmts_.end()) return {};
  return it->second->pieces.size() == 1 ? it->second->pieces[0] : it->second->text;
}

bool Engine::source_table(std::uint32_t id, std::string& table,
                          std::vector<std::string>& columns) const {
  table.clear();
  columns.clear();
  const auto it = stmts_.find(id);
  if (it == stmts_.end() || !it->second->st) return false;
  sqlite3_stmt* st = it->second->st;
  const int n = sqlite3_column_count(st);
  for (int k = 0; k < n; ++k) {
    const char* t = sqlite3_column_table_name(st, k);
    const char* c = sqlite3_column_origin_name(st, k);
    const char* db = sqlite3_column_database_name(st, k);
    if (!t || !c || !db || std::strcmp(db, "main") != 0 || (!table.empty() && table != t)) {
      table.clear();
      columns.clear();
      return false;
    }
    table = t;
    columns.push_back(c);
  }
  return !table.empty();
}

bool Engine::run_sql(const std::string& sql, const std::vector<Value>& params,
                     std::size_t max_rows, ExecResult& res, SqlError& err) {
  res = ExecResult{};
  return run_piece(sql, params, max_rows, res, err);
}

void Engine::drop(std::uint32_t id) {
  const auto it = stmts_.find(id);
  if (it == stmts_.end()) return;
  held_bytes_ -= it->second->cost();
  stmts_.erase(it);
}

bool Engine::commit(SqlError& err) {
  if (sqlite3_get_autocommit(db_)) return true;
  const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    err = last_error(rc);
    return false;
  }
  return true;
}

bool Engine::begin_atomic(SqlError& err) {
  if (sqlite3_get_autocommit(db_)) {
    const int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      err = last_error(rc);
      return false;
    }
  }
  const int rc = sqlite3_exec(db_, "SAVEPOINT vqeng_rows", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    err = last_error(rc);
    return false;
  }
  return true;
}

void Engine::end_atomic(bool undo) {
  if (undo) sqlite3_exec(db_, "ROLLBACK TO vqeng_rows", nullptr, nullptr, nullptr);
  sqlite3_exec(db_, "RELEASE vqeng_rows", nullptr, nullptr, nullptr);
}

bool Engine::rollback(SqlError& err) {
  if (sqlite3_get_autocommit(db_)) return true;
  const int rc = sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    err = last_error(rc);
    return false;
  }
  return true;
}

}  // namespace vqeng

// ---- Procedures ----------------------------------------------------------------------------

namespace vqeng {

bool Engine::find_procedure(const std::string& name, Procedure& p, SqlError& err) {
  for (Procedure& q : stored_procedures(db_)) {
    if (lower(q.name) == lower(name)) {
      p = std::move(q);
      return true;
    }
  }
  err = sql_error(-265, "Procedure '" + name + "' not found", {name});
  return false;
}

bool Engine::call_parameters(const std::string& text, std::vector<ColumnDesc>& params,
                             SqlError& err, CallText* call_out, Procedure* proc_out) {
  params.clear();
  CallText local_call;
  Procedure local_proc;
  CallText& call = call_out ? *call_out : local_call;
  Procedure& p = proc_out ? *proc_out : local_proc;
  if (!parse_call(text, call)) {
    err = sql_error(-131, "Syntax error in CALL");
    return false;
  }
  if (!find_procedure(call.name, p, err)) return false;
  if (call.args.size() > p.parms.size()) {
    err = sql_error(-1000, "Procedure '" + p.name + "' has " + std::to_string(p.parms.size()) +
                               " parameters, the call gives " +
                               std::to_string(call.args.size()));
    return false;
  }
  if (call.return_marker) {
    if (!p.returns) {
      err = sql_error(-1000, "Procedure '" + p.name + "' returns no value");
      return false;
    }
    ColumnDesc c;
    c.name = "return_value";
    c.type = type_from_decl("INTEGER");
    c.type_name = "integer";
    c.type.flags = kColParamOut | kColNullable;
    params.push_back(c);
  }
  for (std::size_t k = 0; k < call.args.size(); ++k) {
    const ProcParm& parm = p.parms[k];
    if (call.args[k] == "?") {
      ColumnDesc c;
      c.name = parm.name;
      c.type = type_from_decl(parm.type.c_str());
      c.type_name = type_name_of(parm.type.c_str());
      c.type.flags = static_cast<std::uint16_t>((parm.in ? kColParamIn : 0) |
                                                (parm.out ? kColParamOut : 0) | kColNullable);
      params.push_back(c);
      continue;
    }
    for (int m = count_markers(call.args[k]); m > 0; --m) {
      ColumnDesc c;
      c.type.type = 1;
      c.type.length = 32767;
      c.type.flags = kColParamIn | kColNullable;
      params.push_back(c);
    }
  }
  return true;
}

// One expression over the procedure's parameters (named as columns), with `binds` for
// its own markers.
bool Engine::procedure_expression(const std::string& expression, const Procedure& p,
                                  const std::vector<Value>& values,
                                  const std::vector<Value>& binds, Value& out, SqlError& err) {
  std::string sql;
  if (p.parms.empty()) {
    sql = "SELECT (" + expression + ")";
  } else {
    std::string names, markers;
    for (std::size_t k = 0; k < p.parms.size(); ++k) {
      names += (k ? "," : "") + quote_ident(p.parms[k].name);
      markers += (k ? ",?" : "?") + std::to_string(k + 1);
    }
    sql = "WITH vq_parms(" + names + ") AS (SELECT " + markers + ") SELECT (" + expression +
          ") FROM vq_parms";
  }
  const std::vector<std::string> pieces = split_statements(rewrite_dialect(sql, cfg_, user_));
  if (pieces.size() != 1) {
    err = sql_error(-131, "Syntax error in " + expression);
    return false;
  }
  sqlite3_stmt* st = nullptr;
  const int rc = sqlite3_prepare_v2(db_, pieces[0].c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    err = last_error(rc);
    return false;
  }
  std::vector<Value> all = values;
  all.insert(all.end(), binds.begin(), binds.end());
  bool ok = bind_params(st, all, nullptr, err);
  if (ok) {
    const int step = sqlite3_step(st);
    if (step == SQLITE_ROW) {
      out = column_value(st, 0);
    } else {
      err = last_error(step);
      ok = false;
    }
  }
  sqlite3_finalize(st);
  return ok;
}

bool Engine::procedure_statement(ProcStatementKind kind, const std::string& text,
                                 const std::vector<Value>& params, ExecResult& res,
                                 SqlError& err) {
  res = ExecResult{};
  if (kind == ProcStatementKind::Create) {
    Procedure p;
    std::string why;
    if (!parse_procedure(text, p, why)) {
      err = sql_error(-131, why);
      return false;
    }
    Procedure existing;
    SqlError unused;
    if (find_procedure(p.name, existing, unused)) {
      err = sql_error(-110, "Item '" + p.name + "' already exists", {p.name});
      return false;
    }
    return run_sql("CREATE VIEW main." + quote_ident(procedure_view_name(p.name)) +
                       " AS SELECT " + quote_literal(text) + " AS definition",
                   {}, 0, res, err);
  }
  if (kind == ProcStatementKind::Drop) {
    std::string name;
    Procedure p;
    if (!parse_drop_procedure(text, name)) {
      err = sql_error(-131, "Syntax error in DROP PROCEDURE");
      return false;
    }
    if (!find_procedure(name, p, err)) return false;
    return run_sql("DROP VIEW main." + quote_ident(procedure_view_name(p.name)), {}, 0, res,
                   err);
  }
  CallText call;
  Procedure p;
  std::vector<ColumnDesc> described;
  if (!call_parameters(text, described, err, &call, &p)) return false;
  // Marker by marker: the return value first, then the arguments in order.
  std::size_t marker = call.return_marker ? 1 : 0;
  auto next_value = [&]() {
    return marker < params.size() ? params[marker++] : (++marker, Value::null());
  };
  std::vector<Value> values(p.parms.size(), Value::null());
  std::vector<std::size_t> outputs;  // parameters whose marker takes a value back
  for (std::size_t k = 0; k < call.args.size(); ++k) {
    if (call.args[k] == "?") {
      Value v = next_value();
      if (p.parms[k].in && !resolve_variable(v, values[k], err)) return false;
      if (p.parms[k].out) outputs.push_back(k);
      continue;
    }
    std::vector<Value> binds;
    for (int m = count_markers(call.args[k]); m > 0; --m) binds.push_back(next_value());
    if (!procedure_expression(call.args[k], Procedure{}, {}, binds, values[k], err))
      return false;
  }
  for (std::size_t k = 0; k < p.parms.size(); ++k)
    if (!p.parms[k].in) values[k] = Value::null();
  Value returned = Value::null();
  for (const std::string& statement : p.body) {
    const std::string head = upper(statement.substr(0, 3));
    if (head == "SET") {
      const std::size_t eq = statement.find('=');
      const std::string target = lower(
          [&] {
            std::string t = statement.substr(3, eq - 3);
            std::size_t b = t.find_first_not_of(" \t\r\n\"");
            std::size_t e = t.find_last_not_of(" \t\r\n\"");
            return b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
          }());
      Value v;
      if (!procedure_expression(statement.substr(eq + 1), p, values, {}, v, err)) return false;
      for (std::size_t k = 0; k < p.parms.size(); ++k)
        if (lower(p.parms[k].name) == target) values[k] = v;
    } else {  // RETURN
      if (!procedure_expression(statement.substr(6), p, values, {}, returned, err))
        return false;
      break;
    }
  }
  std::vector<Value> row;
  if (call.return_marker) row.push_back(returned);
  for (const std::size_t k : outputs) row.push_back(values[k]);
  if (!row.empty()) res.rows.push_back(std::move(row));
  return true;
}

}  // namespace vqeng

namespace vqeng {

bool Engine::grant_statement(const std::string& text, ExecResult& res, SqlError& err) {
  res = ExecResult{};
  GrantState state = stored_grants(db_);
  std::string why;
  if (!apply_grant(db_, text, user_, state, why)) {
    err = sql_error(-1000, why);
    return false;
  }
  for (const std::string& piece : split_statements(store_grants_sql(state)))
    if (!run_sql(piece, {}, 0, res, err)) return false;
  return true;
}

}  // namespace vqeng

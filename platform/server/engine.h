// The SQL engine behind one client connection: an SQLite connection with a thin
// dialect layer (the functions and statements the driver sends by itself, the
// SYS tables it reads, SET OPTION statements kept per connection). It knows
// nothing of items or packets.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app_connect.h"
#include "fault_script.h"
#include "limits.h"
#include "memory_budget.h"
#include "procedures.h"
#include "sql_error.h"
#include "values.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vqeng {

class KerberosService;
class TlsContext;

// Whether the database runs, shared by every connection of one server. A stopped
// database refuses database connects (-76) until a start-database request starts it
// again; connections already connected keep working, and a stop leaves the data as it
// is (this server keeps one database open as long as it runs). While the server is
// still starting (--starting) database connects are answered with -77.
struct DatabaseState {
  std::mutex mu;
  bool running = true;
  unsigned users = 0;  // connections connected to the database
  std::chrono::steady_clock::time_point starting_until{};
};

// What every connection of one server shares.
struct DatabaseConfig {
  std::string server_name = "vqeng12";
  std::string database_file;  // empty: a database in memory shared by all connections
  std::string database_name;  // db_name(); the file's name without extension by default
  // The connect's DBN must name this database (case ignored) only when the
  // command line named one (-n after the file, or the file itself); a server
  // started without a database serves its database in memory under any name.
  bool database_named = false;
  std::string version = "12.0.1.2566";
  std::uint16_t tcp_port = 0;  // the port we listen on, for the name check reply
  // User -> password. User ids compare without regard to case; passwords exactly.
  std::map<std::string, std::string> users{{"dba", "sql"}};
  Limits limits;
  // Shared by every connection; made from limits.max_server_bytes at the start.
  std::shared_ptr<MemoryBudget> memory =
      std::make_shared<MemoryBudget>(Limits{}.max_server_bytes);
  std::vector<FaultRule> faults;  // the fault script, for every connection
  int liveness = kLivenessEcho;   // app_connect.h
  // Statements a client may keep prepared after letting them go (its cached drops),
  // told in slot 24 of the connect reply; 0 keeps the client's cache off.
  std::uint32_t statement_cache = 0;
  // Started by a client's local-server start (hand-shake descriptor given) to stop
  // with its last connection: the first connection, the starting client's, may
  // then ask for a shutdown before it has connected to the database.
  bool started_for_auto_stop = false;
  std::shared_ptr<DatabaseState> state = std::make_shared<DatabaseState>();
  // Kerberos logins are taken when set (kerberos_login.h).
  std::shared_ptr<const KerberosService> kerberos;
  // TLS over TCP/IP is served when set (tls_channel.h).
  std::shared_ptr<const TlsContext> tls;
};

struct ColumnDesc {
  std::string name;
  WireType type;          // with the column flags (kColNullable and the rest)
  std::string type_name;  // the declared type's name ("varchar"), empty when none
};

// One result set of a statement text that holds several queries.
struct ResultSet {
  std::vector<ColumnDesc> columns;
  std::vector<std::vector<Value>> rows;
};

struct ExecResult {
  std::vector<std::vector<Value>> rows;  // rows produced (at most the rows asked for)
  std::vector<ColumnDesc> columns;       // a query's columns
  // A text of several statements: the result set of each query among them, in
  // order (rows above are the last statement's).
  std::vector<ResultSet> sets;
  std::uint32_t changes = 0;    // rows changed by the last statement
  bool has_result_set = false;  // the statement is a query
  std::size_t bytes = 0;        // what the rows hold (values and overhead)
  bool too_large = false;       // stopped at the byte bound it was given
};

class Engine;

// The rows of one query, stepped as they are asked for rather than read whole: a
// forward-only cursor holds only the rows its client has not yet passed. The row
// ahead is always stepped already, so the end is known one row early.
class RowStream {
 public:
  ~RowStream();
  RowStream(const RowStream&) = delete;
  RowStream& operator=(const RowStream&) = delete;

  // The next row: 1 with `row` filled, 0 at the end. -1 when stepping past the row
  // failed (`row` is still good; error() says why the rows stop after it). The values
  // `row` holds are overwritten in place, so a row given back costs no allocation.
  int next(std::vector<Value>& row);
  const SqlError& error() const { return error_; }
  bool at_end() const { return !have_row_; }

 private:
  friend class Engine;
  RowStream(Engine* engine, sqlite3_stmt* st);
  bool step(SqlError& err);  // false with `err` when SQLite failed

  Engine* engine_;
  sqlite3_stmt* st_;
  // Per column: the scale of a NUMERIC or DECIMAL declaration, -1 for the others. Read
  // once from the declared types rather than for every value.
  std::vector<int> scales_;
  bool have_row_ = false;  // a row is stepped and not yet taken
  SqlError error_;         // why stepping failed
};

class Engine {
 public:
  explicit Engine(const DatabaseConfig& cfg);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Opens the database; false with `err` set when it cannot be opened.
  bool open(SqlError& err);
  void set_user(const std::string& user) { user_ = user; }
  const std::string& user() const { return user_; }

  // Statements are numbered from 1; 0 is never a statement.
  bool prepare(const std::string& text, std::uint32_t& id, SqlError& err);
  bool describe_output(std::uint32_t id, std::vector<ColumnDesc>& cols, SqlError& err);
  bool describe_input(std::uint32_t id, std::vector<ColumnDesc>& params, SqlError& err);
  std::uint16_t param_count(std::uint32_t id) const;
  bool is_query(std::uint32_t id) const;
  // An UPDATE or DELETE: when it changes no row, its execute answers warning 100 (row
  // not found), as the server does for a searched change that finds nothing.
  bool is_searched_change(std::uint32_t id) const;
  // The statement kind the prepare reply tells (its value B): kQueryKind for one query,
  // whose description at prepare holds for its cursor; kBatchKind for a text of several
  // statements among which a query, whose result sets each have their own description
  // (the cursor is described after the open and after each resume); 0 otherwise.
  static constexpr std::uint8_t kQueryKind = 5;
  static constexpr std::uint8_t kBatchKind = 13;
  std::uint8_t statement_kind(std::uint32_t id) const;
  // A text of several statements (run one by one, each query giving a result set).
  bool is_multi(std::uint32_t id) const;
  bool has_statement(std::uint32_t id) const { return stmts_.count(id) != 0; }
  // Runs a statement with the given parameters, keeping at most max_rows rows and
  // stopping (too_large) before the kept rows pass max_bytes.
  bool execute(std::uint32_t id, const std::vector<Value>& params, std::size_t max_rows,
               ExecResult& res, SqlError& err, std::size_t max_bytes = SIZE_MAX);
  bool execute_immediate(const std::string& text, ExecResult& res, SqlError& err);
  // One read-only SQLite statement: its rows can be streamed.
  bool can_stream(std::uint32_t id) const;
  // Runs the query with the given parameters and steps its first row; the rows follow
  // through the stream, which must go before this engine does.
  bool open_stream(std::uint32_t id, const std::vector<Value>& params,
                   std::unique_ptr<RowStream>& out, SqlError& err);
  void drop(std::uint32_t id);
  // What the prepared statements hold.
  std::size_t held_bytes() const { return held_bytes_; }

  bool commit(SqlError& err);
  bool rollback(SqlError& err);
  // One statement run for several parameter rows is atomic: a savepoint (inside the
  // connection's transaction, begun when none is open) marks its start, and a failure
  // undoes every row it changed.
  bool begin_atomic(SqlError& err);
  void end_atomic(bool undo);

  // Called from inside long statements; a true answer stops the statement, which
  // then fails with SQL code -299.
  void set_interrupt_check(std::function<bool()> check) { interrupt_check_ = std::move(check); }

  const std::map<std::string, std::string>& options() const { return options_; }
  // The connection's character set, as connection_property('CharSet') answers it.
  void set_client_charset(const std::string& name) { client_charset_ = name; }
  const std::string& client_charset() const { return client_charset_; }
  // A server option's value: one set on this connection, else the default. False
  // for a name the server does not know.
  bool option_value(const std::string& name, std::string& value) const;
  // Sets an option for this connection; a null value returns it to its default.
  // False with `err` when a hook refuses the value.
  bool set_option_value(const std::string& name, const std::string* value, SqlError& err);
  // Options that are not settings but orders to the server itself (such as
  // "vqeng_fault") go to this hook instead of the option table; it answers false
  // with a reason to refuse the value.
  using OptionHook = std::function<bool(const std::string& name, const std::string* value,
                                        bool* taken, std::string& why)>;
  void set_option_hook(OptionHook hook) { option_hook_ = std::move(hook); }

  // Files on the client's machine, read and written through the connection by
  // the functions vqeng_read_client_file(name) (the file's bytes) and
  // vqeng_write_client_file(name, data) (the bytes written). The hook does the
  // exchange; it answers false with the error the statement then fails with.
  using ClientFileHook = std::function<bool(bool write, const std::string& name,
                                            std::string& data, SqlError& err)>;
  void set_client_file_hook(ClientFileHook hook) { client_file_hook_ = std::move(hook); }
  bool client_file(bool write, const std::string& name, std::string& data);
  // One of the dialect's SQL functions failed: the statement fails with this error
  // rather than SQLite's wording of it.
  void fail_function(SqlError e) { function_error_ = std::move(e); }

  // The text a statement runs as: its one statement after the dialect rewrite,
  // else the text it was prepared from (empty for no statement).
  std::string statement_text(std::uint32_t id) const;
  // The one table all result columns of a query come from, and each column's
  // name there; false when the columns are not all plain columns of one table.
  bool source_table(std::uint32_t id, std::string& table,
                    std::vector<std::string>& columns) const;
  // Runs one statement text (no dialect rewrite) with parameters; for the
  // server's own statements, such as positioned updates.
  bool run_sql(const std::string& sql, const std::vector<Value>& params, std::size_t max_rows,
               ExecResult& res, SqlError& err);
  const DatabaseConfig& config() const { return cfg_; }

 private:
  struct Stmt;
  friend class RowStream;
  bool bind_params(sqlite3_stmt* st, const std::vector<Value>& params,
                   const std::vector<ColumnDesc>* param_types, SqlError& err);
  bool run_piece(const std::string& piece, const std::vector<Value>& params,
                 std::size_t max_rows, ExecResult& res, SqlError& err,
                 std::size_t max_bytes = SIZE_MAX);
  bool step_all(sqlite3_stmt* st, const std::vector<Value>& params, std::size_t max_rows,
                ExecResult& res, SqlError& err, std::size_t max_bytes = SIZE_MAX,
                const std::vector<ColumnDesc>* param_types = nullptr);
  // The parameters of a statement, each with the type and nullability of the table
  // column it stands for when that is known (else VARCHAR(32767), nullable).
  std::vector<ColumnDesc> parameters_of(sqlite3_stmt* st) const;
  bool set_option(const std::string& piece, bool* handled, SqlError& err);
  // CREATE VARIABLE, DROP VARIABLE and SET v = v || ? on server variables.
  bool variable_statement(const std::string& piece, const std::vector<Value>& params,
                          bool* handled, SqlError& err);
  // A parameter with variable references replaced by the variables' values.
  bool resolve_variable(const Value& v, Value& out, SqlError& err) const;
  bool begin_if_needed(sqlite3_stmt* st, SqlError& err);
  // The procedure statements (procedures.h): CREATE and DROP PROCEDURE, and CALL,
  // whose output values (the return value first) are the one row of `res`.
  bool procedure_statement(ProcStatementKind kind, const std::string& text,
                           const std::vector<Value>& params, ExecResult& res, SqlError& err);
  // GRANT and REVOKE (grants.h).
  bool grant_statement(const std::string& text, ExecResult& res, SqlError& err);
  bool find_procedure(const std::string& name, Procedure& p, SqlError& err);
  // The markers of a CALL, each with the direction and type of its parameter.
  bool call_parameters(const std::string& text, std::vector<ColumnDesc>& params, SqlError& err,
                       CallText* call = nullptr, Procedure* procedure = nullptr);
  bool procedure_expression(const std::string& expression, const Procedure& p,
                            const std::vector<Value>& values, const std::vector<Value>& binds,
                            Value& out, SqlError& err);
  SqlError last_error(int rc);
  static int progress_cb(void* self);

  const DatabaseConfig& cfg_;
  sqlite3* db_ = nullptr;
  std::string user_ = "dba";
  std::map<std::uint32_t, std::unique_ptr<Stmt>> stmts_;
  std::uint32_t next_id_ = 1;
  std::size_t held_bytes_ = 0;
  std::map<std::string, std::string> options_;
  std::string client_charset_ = "UTF-8";
  // Server variables of this connection (lower-case name -> value); they carry
  // long parameters that a client sends in pieces.
  std::map<std::string, Value> variables_;
  std::function<bool()> interrupt_check_;
  OptionHook option_hook_;
  ClientFileHook client_file_hook_;
  std::optional<SqlError> function_error_;  // set by one of our SQL functions that failed
  std::string memory_path_;  // the shared database file when the database is "in memory"
};

// The file that holds the database "in memory" of the server whose
// configuration lives at `owner`, and its use count across connections.
std::string memory_database_path(const void* owner);
void acquire_memory_database(const std::string& path);
void release_memory_database(const std::string& path);

// The dialect layer's text rewrite: @@version, @@servername, CURRENT USER,
// isnull(...) and if ... then ... else ... endif, then the expression rewrites of
// dialect.h (rewrite_expressions). Text inside quotes is left alone.
std::string rewrite_dialect(const std::string& sql, const DatabaseConfig& cfg,
                            const std::string& user);

// Splits a text into statements at ';' outside quotes; empty statements dropped.
std::vector<std::string> split_statements(const std::string& sql);

// Column type from an SQLite declared type (empty: an expression column).
WireType type_from_decl(const char* decltype_text);

}  // namespace vqeng

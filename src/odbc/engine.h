// The engine interface: the DB-prefixed functions between the ODBC handles and the
// command-sequence client. Every ODBC operation that needs the server goes through one
// of them. This header covers the layer's start and stop, the string connect with the
// probe and session options that follow it, the character-set negotiation, the
// one-statement executor, the connection requests (cancel, commit, rollback,
// disconnect) and the mapping of a command-sequence result into a server SQL code.
//
// A DB function returns a server SQL code: 0 success, positive a warning (100 no data),
// negative an error. The details stay in the connection's error block (tagDBC::err); the
// ODBC layer turns a negative code into a diagnostic with AddSQLError/PostSQLError.
// Every function here except DBCancel is called with the connection's mutex held (the
// framing of the entry points); the layer takes no lock of its own.
#ifndef VQ_ODBC_ENGINE_H
#define VQ_ODBC_ENGINE_H

#include <sql.h>

#include <cstdint>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/cmdseq_return.h"

struct tagDBC;
struct tagSTMT;
struct tagDESC;
struct tagITEM;
struct tagOBJECT;
struct a_cmdseq_desc;
struct a_cmdseq_desc_item;
class UTLocale;

// The process's one client environment, set up by DBInitialize.
extern a_cmdseq_env CmdSeqEnv;

// SQL codes the layer writes itself.
constexpr std::int32_t kSqlNotConnected = -308;   // no client connection (08S01)
constexpr std::int32_t kSqlCommLost = -85;        // the connection went away (08S01)
constexpr std::int32_t kSqlNoMemory = -876;       // out of memory (HY001/S1001)
constexpr std::int32_t kSqlCancelled = -299;      // the request was cancelled (HY000/S1000)
constexpr std::int32_t kSqlClientFailure = -300;  // a failure the client did not describe
constexpr std::int32_t kSqlListNoMemory = -86;    // an output list could not be allocated

// ---- Start and stop -------------------------------------------------------------------

// Starts the task runtime, the client library and CmdSeqEnv. 1 when started (or already
// started); 0 with a message of at most `size` bytes (terminated) in `error_text` when
// the environment cannot be set up, which is then torn down again.
int DBInitialize(char* error_text, int size);
// Stops what DBInitialize started: 1 when stopped cleanly or never started, 0 when the
// environment reported a failure while being freed.
int DBFinalize();
// Whether the layer is started.
bool DBIsStarted();
// The environment's locale (null before DBInitialize).
UTLocale* SQLGetUTLocale();

// ---- Connections ------------------------------------------------------------------------

// Initialises the connection's error block with the connection as its owner: the value
// the dropped-connection callback later receives.
void DBInitErrorParam(tagDBC* dbc);
// Connects with the connect string (not changed; the caller wipes it, as it holds the
// password). On a code of 0 or more the handle holds one reference to the connection
// until DBDisconnect.
std::int32_t DBStringConnect(tagDBC* dbc, const char* connect_string);
// The probe after a connect: server version, capability bytes, charset names, then the
// session options. Never fails the connect.
void DBQueryConnection(tagDBC* dbc);
// The character-set negotiation that ends the connect road: the ODBC return code of the
// handle (0, 1 or -1), with diagnostics posted on the connection.
SQLRETURN SetCharSetInDBC(tagDBC* dbc);
// The connection's charset name (the cached one, else asked of the server) and the
// database's, into `buf` of `size` bytes (terminated).
std::int32_t DBGetCharSet(tagDBC* dbc, char* buf, int size);
std::int32_t DBGetDBCharSet(tagDBC* dbc, char* buf, int size);
// Runs `text` once (length in bytes, or SQL_NTS for a terminated text). An output list
// (may be null) receives the first row. No server statement or cursor is left behind.
std::int32_t DBExecStmt(tagDBC* dbc, a_cmdseq_desc* output, const char* text, long length);

// Cancels the request running on the connection. Called from another thread without the
// connection's mutex: it reads the connection pointer and touches nothing else of the
// handle (neither the error block nor any field). Always 0.
std::int32_t DBCancel(tagDBC* dbc);
std::int32_t DBCommit(tagDBC* dbc);
std::int32_t DBRollback(tagDBC* dbc);
// Ends the connection; the handle's reference is released and the field cleared
// whatever the result.
std::int32_t DBDisconnect(tagDBC* dbc);
// 1 when the handle has a client connection; else writes the not-connected error, adds
// it as a diagnostic and returns 0.
int OLECheckConnection(tagDBC* dbc);

// ---- Connection queries and server options ---------------------------------------------
// Each clears the error block first and answers -308 (08S01) without a client connection.

// Runs `statement` and puts its one text value into `buf` of `size` bytes, trailing
// blanks removed and terminated. A NULL value or any code other than 0 leaves the empty
// text; the code is returned. -86 (HY001 in the block) when the output list cannot be
// allocated.
std::int32_t QueryStringValue(tagDBC* dbc, char* buf, const char* statement, int size);
std::int32_t DBGetUserName(tagDBC* dbc, char* buf, int size);      // SELECT CURRENT USER
std::int32_t DBGetServerName(tagDBC* dbc, char* buf, int size);    // SELECT @@SERVERNAME
std::int32_t DBGetDatabaseName(tagDBC* dbc, char* buf, int size);  // SELECT db_name()
// The name of the dbo user, when the server has one.
std::int32_t DBGetDBOUserName(tagDBC* dbc, char* buf, int size);
// 0 when the replication system-table group exists, 100 otherwise (also on failure).
std::int32_t DBkx_systabExists(tagDBC* dbc);
// 1 when the table can be counted, else 0 (the server's error in the block). `name` is
// qualified and quoted by the caller; a name not in that form is quoted as one
// identifier. No length limit.
int DBTableExists(tagDBC* dbc, const char* name);
// The server option `name` into `buf` of `size` bytes, terminated at the value's length;
// emptied on a negative code.
std::int32_t DBGetOption(tagDBC* dbc, const char* name, char* buf, int size);
// Sets the server option `name` to `value` for this connection (a temporary option).
std::int32_t DBSetOption(tagDBC* dbc, const char* name, const char* value);

// ---- Result mapping ---------------------------------------------------------------------

// The SQL code for a command-sequence result, filling the error block where the result
// says nothing (lost connection, no memory, cancel). A lost connection (2, 3, 9) and out
// of memory (6) release the handle's reference and clear the field unless
// `keep_connection`; a protocol error (3) first drops the connection.
std::int32_t MapCmdSeqResult(a_cmdseq_return code, tagDBC* dbc, int keep_connection);
// Writes -308 with both states "08S01" into the error block (unless `only_if_clear` and
// the block already holds a negative code) and returns -308.
std::int32_t DBNotConnected(tagDBC* dbc, bool only_if_clear = false);
// Registered with the client: marks the connection handle owning the error block as
// dropped. Runs on any thread, without a lock.
void ConnDroppedCallback(void* owner);

// ---- Pieces of the probe and the session options ------------------------------------

// The server version of a version text: major*1000 + minor*100 + build, each number read
// after skipping to the first digit, then after the first and the next '.'. A missing
// part counts as 0; a text without a digit gives 0.
std::uint32_t DBParseServerVersion(const char* text);
// The server version implied by the communication-protocol version alone.
std::uint32_t DBVersionFromProtocol(std::uint16_t protocol);
// The server's name of an isolation value (the first set bit among 1, 2, 4, 8, 32, 64;
// else the read-only statement-snapshot level).
const char* Isolation_level_string(std::uint32_t bits);

// ---- Prepare, execute and describe (engine_prepare*.cpp, engine_describe*.cpp) --------
// Statement-level requests. Each answers -308 (08S01 in the error block, nothing sent)
// when the statement's connection has no client connection, and otherwise maps the
// command-sequence result with MapCmdSeqResult.

// Rows per request of a parameter array: a request carries fewer than 32768 values.
constexpr std::uint32_t kMaxValuesPerExecute = 32767;
// Rows per request of an insert through a cursor: at most 32766 values.
constexpr std::uint32_t kMaxValuesPerPut = 32766;

// Zeroes the cursor and describe information of a new statement.
void DBInitStmt(tagSTMT* stmt);
// Releases what the engine holds for a statement that goes away: the cursor is taken off
// its connection, the prepared and variable statements are dropped (queued, no round
// trip of their own). Safe to call twice.
void DBFreeStmt(tagSTMT* stmt);
// Returns 0 and does nothing: cursors are declared by the open options.
std::int32_t DBDeclareCursor(tagSTMT* stmt, std::int32_t kind);
// Clears and releases the describe information (before and after a describe).
void DBInitDescribe(tagSTMT* stmt);
void DBFiniDescribe(tagSTMT* stmt);

// Prepares `text` (`length` bytes) and describes it; with `execute` also executes it and
// opens its cursor in the same round trip. `executed` and `opened` tell which part ran;
// `rows` receives the execute's (else the open's) row count, `granted_options` the
// cursor options the server granted when they differ from those asked for (else 0).
// On success the describe information is the reply's column description. -300 for a
// cursor kind or concurrency the open options cannot express (nothing sent).
std::int32_t DBPrepDescExecOpen(tagSTMT* stmt, const char* text, unsigned length, int execute,
                                unsigned* executed, unsigned* opened, SQLLEN* rows,
                                std::uint32_t* granted_options);
// Describes the open cursor; on success the describe information is its columns.
std::int32_t DBDescribeCursor(tagSTMT* stmt);
// Opens the prepared statement's cursor with the statement's parameter list (if any).
std::int32_t DBOpenCursor(tagSTMT* stmt, SQLLEN* rows, std::uint32_t* granted_options,
                          int prefetch);
// Executes the prepared statement with `parameter_sets` sets of the parameter list,
// splitting the array into requests of fewer than 32768 values; the last request carries
// only the remaining sets. `rows` receives the total of processed rows (0 when negative).
std::int32_t DBExecute(tagSTMT* stmt, int parameter_sets, SQLLEN* rows, int commit);
// Positioned operations through the open cursor. `rows` rows of the row values list.
std::int32_t DBInsert(tagSTMT* stmt, SQLLEN rows);
std::int32_t DBUpdate(tagSTMT* stmt);
std::int32_t DBDelete(tagSTMT* stmt);
// Moves to the next result of the statement; `result` receives the reply's answer.
std::int32_t DBResume(tagSTMT* stmt, SQLLEN* result);
// Closes the statement's cursor (with a commit in the same request when `commit`).
std::int32_t DBCloseCursor(tagSTMT* stmt, int commit);
// Drops the prepared statement or the variable statement (queued with the next request).
std::int32_t DBUnPrepare(tagSTMT* stmt);
std::int32_t DBUnPrepareVar(tagSTMT* stmt);

// ---- Long parameter values in server variables ----
// A long value is assembled in a server variable named <statement name>_<parameter + 1>
// ("create variable", then "set v = v || ?" once per chunk) and the statement refers to
// the variable when it runs. The record carrying the variable is the application
// parameter record that owns the wire item (kItemInVariable, variable_name).

// Prepares a NUL-terminated text into the variable statement.
std::int32_t DBPrepareVar(tagSTMT* stmt, const char* text);
// Executes the variable statement once with `parameters` (or none).
std::int32_t DBExecuteVar(tagSTMT* stmt, a_cmdseq_desc* parameters);
// Creates the variable of parameter `parameter` (0-based) for a value of SQL type
// `sql_type` and prepares the append statement. 0, or the failing SQL code with the
// record left without a variable (a failed create is added as a diagnostic).
std::int32_t CreateBlobVariable(tagSTMT* stmt, tagITEM* record, std::uint32_t parameter,
                                SQLSMALLINT sql_type);
// Sends `length` bytes of `data` into the record's variable (created first when it has
// none) in chunks of the statement's maximum length. With `hex` the data is hexadecimal
// text of 2 x `length` characters, converted chunk by chunk. 0, or the SQL code of the
// first failure; a chunk that does not convert gives -157 (22018) and ends the send.
std::int32_t PutBlobChunks(tagSTMT* stmt, tagITEM* record, std::uint32_t parameter,
                           SQLSMALLINT sql_type, const char* data, SQLLEN length, bool hex);
// One SQLPutData piece for a parameter whose value lives in a server variable. When the
// record has no variable yet, the variable is created and the part already converted into
// `wire_item` is sent first. Then the piece (`data`, `length` bytes, already in the wire
// form) follows in chunks of the maximum length - 2 (halved for SQL type -9/-10).
// Returns the statement's return code; failures are posted on the statement.
SQLRETURN DBPutDataUsingBlobs(tagSTMT* stmt, tagITEM* record, std::uint32_t parameter,
                              SQLSMALLINT sql_type, a_cmdseq_desc_item* wire_item,
                              const char* data, SQLLEN length);
// Runs the statement with the parameters of the current set, every parameter held in a
// server variable turned into a reference to it for the request (and restored after).
// `execute` = 0 is a positioned operation through the cursor (not built: posts HYC00).
// Writes the status entries of the current set (or of a pending batch).
void DBPrepEngDescExecStmt(tagSTMT* stmt, tagDESC* apd, tagDESC* ipd, SQLLEN positioned,
                           int execute);
// Drops the record's server variable ("drop variable"), clears its name and flag.
void DBDropBlobVariable(tagSTMT* stmt, tagITEM* record);

// ---- Describe (engine_describe.cpp) ----
// Turns the describe information into records of the implementation row descriptor
// (result columns) and parameter descriptor (parameters): SQL types, sizes, octet
// lengths, nullability, parameter kinds, names. First allocates the row descriptor's
// bookmark record (SQL type -2, length 4); without memory nothing is described.
void DBDescribeData(tagSTMT* stmt);
// Copies one part of a dotted name into a new string (*out, ut_free; null when memory
// runs out, HY001 on `h`): a double quote toggles quoting, two double quotes inside
// quotes stand for one, and a dot outside quotes ends the part. Returns the position
// after the part (after its dot).
const char* ParseNamePart(const char* text, tagOBJECT* h, char** out);

#endif  // VQ_ODBC_ENGINE_H

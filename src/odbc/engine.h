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
struct a_cmdseq_desc;
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

#endif  // VQ_ODBC_ENGINE_H

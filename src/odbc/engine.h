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

#include <cstddef>
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
struct a_odbc_wide_piece;
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
// `execute` = 0 is an insert or update through the cursor (`positioned` rows of the row
// values, ExecPosOp).
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

// ---- Fetch and get data (engine_fetch*.cpp; fetch list set-up in engine_setup.cpp) ----
// Moves of an open cursor, and the conversion of one fetched wire value into the
// application's buffer. The fetch list points fixed-size numbers straight at the
// application's arrays; every other value lands in its record's internal buffer and is
// converted by DBGetBoundData.

// Fetch-type bits of DBFetch and DBPosition (the move and its modifiers).
constexpr std::uint32_t kFetchAbsolute = 0x01;    // the offset is a row number (negative: from the end)
constexpr std::uint32_t kFetchRelative = 0x02;    // the offset counts from the server's current row
constexpr std::uint32_t kFetchByBookmark = 0x04;  // the offset is a bookmark
constexpr std::uint32_t kFetchLock = 0x08;        // lock the rows read
constexpr std::uint32_t kFetchFirstCall = 0x10;   // first server call of an ODBC fetch

// Server codes the fetch passes on.
constexpr std::int32_t kSqlNoData = 100;          // no row there (end or before the start)
constexpr std::int32_t kSqlRowUpdated = 101;      // the row changed since it was read
constexpr std::int32_t kSqlRowChanged = 104;      // the row changed (values or version)
constexpr std::int32_t kSqlNoCurrentRow = -197;   // no row at that position (deleted)

// Results of DBGetBoundData (and GetAllBound, the worst of its columns).
constexpr int kBoundWhole = 0;      // the value was converted whole
constexpr int kBoundTruncated = 1;  // cut to the buffer: the caller posts 01004
constexpr int kBoundMoreData = 2;   // get-data only: more of the value remains
constexpr int kBoundNeedInput = 3;  // get-data only: the next piece is needed to fill the buffer
constexpr int kBoundFailed = 5;     // a state was posted on the statement

// Shapes of the fetch list (tagSTMT::fetch_list_mode).
constexpr std::uint8_t kFetchListNone = 0;
constexpr std::uint8_t kFetchListForFetch = 1;   // per-column items, one value per row
constexpr std::uint8_t kFetchListForUpdate = 2;  // contiguous rows: values of an insert/update

// Moves the cursor and reads `rows` rows into the fetch list from value index `first_row`
// on (DBFetch), or only moves it (DBPosition, or `position_only`; also when rows are asked
// but the statement's SQL_RETRIEVE_DATA is off on a scrollable cursor). `flags` are the
// kFetch* bits. *rows_fetched receives the rows delivered, or at SQL code 100 a negative
// position the server reported. -308 without a client connection, -300 without an open
// cursor; else the mapped result (100 at the end, -197 a missing row).
std::int32_t DBFetch(tagSTMT* stmt, SQLLEN offset, std::uint32_t flags, std::uint16_t rows,
                     SQLLEN* rows_fetched, std::uint16_t first_row, int position_only);
std::int32_t DBPosition(tagSTMT* stmt, SQLLEN offset, std::uint32_t flags, std::uint16_t rows);

// Converts value `item_row` of the wire item of `source` into the buffer `target`
// describes, at row `row` (stride `bind_size`, or the element size when 0) plus
// *bind_offset (null: none); `ird` is the column's implementation record (precision and
// scale of numerics; may be null). `fetched_row` is the row's index in the rowset (for
// diagnostics). With `piecewise` the statement's get-data state continues the value.
// Returns a kBound* result. A NULL writes -1 to the indicator and leaves the buffer alone.
int DBGetBoundData(tagSTMT* stmt, tagITEM* target, tagITEM* source, tagITEM* ird,
                   SQLULEN bind_size, SQLULEN row, SQLULEN fetched_row, unsigned item_row,
                   int piecewise, const SQLLEN* bind_offset);
// Converts every bound column of fetched value `fetched_row` into row `row` of the
// application's buffers (`ard`, `ird`); 01004 is added for each column cut. The worst
// kBound* result.
int GetAllBound(tagSTMT* stmt, tagDESC* ard, tagDESC* ird, SQLULEN bind_size, SQLULEN row,
                SQLULEN fetched_row);
// Reads the output parameters of the last execute (the output list) into the
// application's parameter buffers of set `set`; 01004 for each value cut. The worst result.
int GetOutputParams(tagSTMT* stmt, SQLULEN set);
// The core of SQLGetData: column `column` (from 1) of the current row into the buffer
// `target` describes (concise type `c_type`, data pointer, octet length, indicator and
// octet-length pointers), a piece per call. `ird` is the column's implementation record.
// An ODBC return code: 0, 1 (01004 posted), 100 (nothing left), -1 (state posted).
SQLRETURN GetData(tagSTMT* stmt, SQLUSMALLINT column, SQLSMALLINT c_type, tagITEM* target,
                  tagITEM* ird);
// Forgets the value SQLGetData was returning: offsets, lengths and the piece converter.
void ResetGetData(tagSTMT* stmt);
// Frees a piece converter (null accepted).
void FreeWidePiece(a_odbc_wide_piece* piece);

// Address of row `row` of the record's data: data pointer + row x (the descriptor's bind
// type, or the record's element size when 0) + *offset (null: none). Null data: null.
void* AccessDataPtr(tagITEM* rec, SQLULEN row, tagDESC* desc, const SQLLEN* offset);
// `base` + row x element size: the bind size when not 0, else the size of the C type (the
// record's octet length for variable types, or `row_size` when the statement takes row
// values as parameters). A null base or row 0 gives `base`.
void* FindRGBValue(tagSTMT* stmt, tagITEM* rec, SQLLEN row_size, void* base, SQLULEN row,
                   SQLULEN bind_size);
// After the ARD's bind offset changed: moves every in-place wire value of the fetch list
// by the difference (the bookmark's too), then remembers the new offset.
void AdjustScalarItems(tagSTMT* stmt, tagDESC* ard, int contiguous);
// The number of the highest bound record (0 when none).
SQLSMALLINT NumBound(tagDESC* desc);
// Moves n bytes to dst, then a NUL when `terminate`; returns dst + n.
char* DataCopy(char* dst, const char* src, std::size_t n, int terminate);
// Two upper-case hexadecimal digits per byte, no terminator; returns out + 2n.
char* binary_to_char(const std::uint8_t* bytes, char* out, std::size_t n);
// The same digits as UTF-16LE units; returns out + 4n bytes.
char* binary_to_wchar(const std::uint8_t* bytes, char* out, std::size_t n);
// For n = 16: the 36-character 8-4-4-4-12 text (lower-case, bytes in server order) and a
// NUL; returns out + 36. `bytes` is not changed. Otherwise returns out.
char* uuid_to_char(const std::uint8_t* bytes, char* out, std::size_t n);
// The same text as 36 UTF-16LE units (72 bytes, no terminator); returns out + 72.
char* uuid_to_wchar(tagDBC* dbc, const std::uint8_t* bytes, char* out, std::size_t n);
// For n = 16 reverses bytes 0-3 and swaps 4/5 and 6/7 (server order <-> SQLGUID); 1.
// Otherwise 0 and nothing changes.
int SwapUuidBytes(std::uint8_t* bytes, std::size_t n);
// The translation library's hooks on `len` bytes in place: 1 when translated (or no
// library), 0 when the library refused (HY000/S1000 posted on the connection).
int DataSrcToDriver(tagDBC* dbc, SQLSMALLINT c_type, void* buf, SQLLEN len);
int DriverToDataSrc(tagDBC* dbc, SQLSMALLINT c_type, void* buf, SQLLEN len);

// Builds the fetch list for `rows` rows from the ARD and IRD: per-column for fetching, or
// (`contiguous`) rows of one-value items for row values (insert and update through the
// cursor). An existing list of the same shape and rows is kept. 1 (also with nothing to
// do), or 0 when memory runs out (HY001 posted).
int SetupFetchDesc(tagSTMT* stmt, unsigned short rows, int contiguous);
// The same for `columns` result columns; `bookmark` (the ARD's bookmark record, or null)
// is added last when the server has bookmark columns and the cursor keeps them.
int DBSetupFetchDesc(tagSTMT* stmt, unsigned columns, unsigned short rows, int contiguous,
                     tagITEM* bookmark);
// The C type a column of SQL type `sql_type` is exchanged as for record `rec`: SQL_C_DEFAULT
// resolved, and a character target of a GUID or binary column read as GUID or bytes.
SQLSMALLINT FetchCType(const tagSTMT* stmt, const tagITEM* rec, SQLSMALLINT sql_type);
// Frees the fetch list and the internal buffers and wire links of the ARD's records.
void FreeFetchList(tagSTMT* stmt);
// Everything the fetch side holds for a statement (fetch and get-data lists, piece
// converter); called when the statement goes away.
void FreeFetchState(tagSTMT* stmt);
// The bookmark the server sent with fetched value `item_row` (its 4-byte wire value
// widened); 0 when the fetch list has no bookmark.
SQLULEN FetchedBookmark(tagSTMT* stmt, unsigned item_row);

#endif  // VQ_ODBC_ENGINE_H

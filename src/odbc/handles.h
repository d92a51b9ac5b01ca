// The ODBC handle records and the machinery every entry point shares: the common header
// with its diagnostic records and option list, allocation and release of handles, the
// process-wide environment list with its mutex, and the framing of a call (validity and
// process tests, locks, clearing of diagnostics).
//
// A handle given to an application is the address of one of the records below; the
// record's kind word tells what it is, and is set to 0 just before the memory goes back.
// Parents own their children: an environment its connections, a connection its
// statements and descriptors.
//
// Lock order: a connection's mutex, then EnvCritSect. EnvCritSect guards the environment
// list, every environment's child list and every environment's diagnostics; it is held
// briefly, never for a whole call (environment allocation and release run the engine
// start and stop under it, and take no connection mutex there).
//
// The internal functions keep C++ linkage (including those whose names begin with
// "SQL"), so that the library's version script exports only the ODBC API.
#ifndef VQ_ODBC_HANDLES_H
#define VQ_ODBC_HANDLES_H

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <mutex>
#include <cstddef>
#include <cstdint>

#include "cmdseq/desc.h"
#include "cmdseq/error_info.h"
#include "cmdseq/statement.h"
#include "config/option_tables.h"
#include "odbc/sql_string.h"
#include "vqtasks.h"

static_assert(sizeof(SQLWCHAR) == 2, "the driver's wide text is UTF-16");
static_assert(sizeof(SQLLEN) == 8 && sizeof(SQLULEN) == 8, "64-bit ODBC widths");

class CharsetConverter;
class UTLangStringBase;
class a_cmdseq_conn;
class c_odbc_inifile;
struct CharsetInfo;

// Handle kinds; the same numbers as SQL_HANDLE_ENV ... SQL_HANDLE_DESC.
enum tagOBJTYPE : std::int32_t {
  OBJ_FREED = 0,
  OBJ_ENV = 1,
  OBJ_DBC = 2,
  OBJ_STMT = 3,
  OBJ_DESC = 4,
};

// Connection states (tagOBJECT::state of a connection).
constexpr std::int32_t kDbcAllocated = 2;
constexpr std::int32_t kDbcBrowsing = 3;  // browse-connect in progress
constexpr std::int32_t kDbcConnected = 4;
// Statement state after allocation; 7 to 9 belong to the statement code (9: positioned on
// fetched rows).
constexpr std::int32_t kStmtAllocated = 6;
constexpr std::int32_t kStmtPrepared = 7;
constexpr std::int32_t kStmtExecuted = 8;
constexpr std::int32_t kStmtOnRows = 9;
// tagSTMT::cursor_state while a cursor is open.
constexpr std::int32_t kCursorOpen = 4;

// Column and row number of a diagnostic record that names none.
constexpr std::int32_t kDiagNoPosition = -2;

// One diagnostic record. The text is owned (ut_malloc/ut_alloc, freed with ut_free),
// NUL-terminated, and may be null. States are packed (see diagnostics.h): the five
// characters, each (c - '0') in six bits, first character in bits 24 to 29; 0 is no state.
struct tagDIAGREC {
  tagDIAGREC* next;     // further records, chained from the header's inline record
  std::int32_t column;  // column number, kDiagNoPosition for none
  char* text;           // message text, or null
  std::int32_t native;  // server SQL code, or 0
  std::int32_t row;     // row number, kDiagNoPosition for none
  std::uint32_t odbc3;  // packed ODBC 3 state
  std::uint32_t odbc2;  // packed ODBC 2 state
};

// Kinds of an option entry.
constexpr std::uint32_t kOptPlain = 0;   // a value
constexpr std::uint32_t kOptLength = 1;  // a length-type (SQLULEN) value
constexpr std::uint32_t kOptText = 2;    // an owned text (value is its address)

// One option entry. An entry, once appended, is never removed; setting an existing
// identifier overwrites the entry and its kind.
struct tagOPTION {
  std::int32_t id;       // attribute identifier
  SQLULEN value;         // the value; for kOptText the address of the owned text (ut_free)
  std::uint32_t length;  // text length in bytes (kOptText only); the text is not terminated
  std::uint32_t kind;    // kOptPlain, kOptLength or kOptText
};

// The common header of the four handle records.
struct tagOBJECT {
  std::int32_t kind;            // tagOBJTYPE; 0 just before the memory is released
  std::int32_t state;           // environment 1; connection 2..4; statement 6..9
  SQLRETURN retcode;            // return code of the call in progress (0, 1, -1 ...)
  tagOBJECT* parent;            // null for an environment
  tagOBJECT* first_child;       // head of the child list
  tagOBJECT* next_sibling;      // next child of the parent (environments: the process list)
  std::uint32_t dyn_func_code;  // SQL_DIAG_DYNAMIC_FUNCTION_CODE
  std::uint32_t record_count;   // diagnostic records held
  std::uint16_t error_pos;      // records already returned by SQLError
  tagDIAGREC first_rec;         // the first record, held inline; the others hang from it
  std::uint32_t option_count;   // entries in options
  tagOPTION* options;           // grown one entry at a time (ut_malloc/ut_free)
  char name[36];                // "SQL_ENV_" ... followed by the address in hexadecimal
};

// ---- Environment ------------------------------------------------------------------------

struct tagENV : tagOBJECT {
  char* dsn_list;               // data-source list text (owned), or null
  std::size_t dsn_pos;          // read position in dsn_list
  c_odbc_inifile* inifile;      // ODBC ini-file object, created on demand; null until then
  CharsetConverter* to_wide;    // client character set to UTF-16LE
  CharsetConverter* from_wide;  // UTF-16LE to the client character set
  const CharsetInfo* charset;   // the client locale's character set
  std::uint8_t wide_factor;     // most bytes one UTF-16 code unit can become in charset
};

// ---- Connection -------------------------------------------------------------------------

// Number of connection-attribute slots; slot numbering is that of the connection-option
// tables (kSlotUserID, kSlotPassword, kSlotDataSourceName ...).
constexpr unsigned kConnAttrSlots = kClientAndODBCSlots;
static_assert(kConnAttrSlots == 67, "client and ODBC option slots");

// Source of a connection-attribute slot.
constexpr std::int32_t kAttrUnset = 0;
constexpr std::int32_t kAttrFromApp = 1;
constexpr std::int32_t kAttrFromDsn = 2;

struct tagCONNATTR {
  char* text;           // owned (ut_free), NUL-terminated, or null
  std::int32_t source;  // kAttrUnset, kAttrFromApp or kAttrFromDsn
};

// Bits of tagDBC::cap_a (capability byte A).
constexpr std::uint8_t kCapProbed = 0x01;
constexpr std::uint8_t kCapCaseSensitive = 0x10;
constexpr std::uint8_t kCapInTransaction = 0x20;  // a transaction is open
constexpr std::uint8_t kCapBrackwater = 0x40;     // the server is the column-store product
constexpr std::uint8_t kCapIsolationGiven = 0x80;

// Bits of tagDBC::behaviour, set at connect from the connection attributes of the same
// names (a value starting with 'y' or 'Y', or a number of at least 1, sets the bit).
constexpr std::uint32_t kBehavMSApplications = 0x1;
constexpr std::uint32_t kBehavPreventNotCapable = 0x2;
constexpr std::uint32_t kBehavLazyAutocommit = 0x4;
constexpr std::uint32_t kBehavAutoStop = 0x8;
constexpr std::uint32_t kBehavLazierAutocommit = 0x14;  // implies LazyAutocommit
constexpr std::uint32_t kBehavVBRDO = 0x20;
constexpr std::uint32_t kBehavDescribeCursorNever = 0x40;   // DescribeCursor mode 0
constexpr std::uint32_t kBehavDescribeCursorAlways = 0x80;  // mode 1 (or unreadable)
constexpr std::uint32_t kBehavDescribeCursorIfNeeded = 0x100;  // mode 2
constexpr std::uint32_t kBehavDelphi = 0x200;
constexpr std::uint32_t kBehavAutoPreCommit = 0x400;
constexpr std::uint32_t kBehavGetTypeInfoChar = 0x800;
constexpr std::uint32_t kBehavPrefetchOnOpen = 0x1000;
constexpr std::uint32_t kBehavSuppressWarnings = 0x2000;

struct tagSTMT;

// The application's callbacks of a connection (set through connection attributes).
typedef void (*a_odbc_message_callback)(SQLHDBC dbc, std::uint8_t type, std::int32_t code,
                                        std::uint16_t length, const char* text);
typedef int (*a_odbc_file_tran_callback)(SQLHDBC dbc, const char* file_name, int write);

// The two functions of an ODBC translation library: option, SQL type, input buffer and
// length, output buffer and size, output length, error-message buffer, its size, and the
// message length; non-zero on success.
typedef int (*a_odbc_translate_fn)(std::uint32_t option, SQLSMALLINT sql_type, SQLPOINTER in,
                                   SQLINTEGER in_length, SQLPOINTER out, SQLINTEGER out_size,
                                   SQLINTEGER* out_length, SQLCHAR* error, SQLSMALLINT error_size,
                                   SQLSMALLINT* error_length);

struct tagDBC : tagOBJECT {
  // The client connection; null while not connected. Atomic because a cancel reads it
  // from another thread without the connection's mutex.
  std::atomic<a_cmdseq_conn*> conn;
  // Taken only around the clearing of `conn` and by a cancel while it takes a reference
  // of its own, so that a release on the request thread never frees the connection
  // under a cancel. Never held across a request.
  std::mutex conn_guard;
  a_cmdseq_error_info err;  // filled by every command-sequence call; owner = this
  tagCONNATTR attrs[kConnAttrSlots];
  std::uint8_t cap_a;                  // capability byte A (kCap* bits)
  std::uint8_t cap_b;                  // capability byte B (engine interface)
  a_ut_safe_pthread_mutex_t mutex;     // serialises every framed call on the connection
  std::atomic<tagSTMT*> current_stmt;  // the statement whose call last entered the framing
  CharsetConverter* env_to_client;     // environment character set to the client locale's
  CharsetConverter* client_to_env;     // and back
  const CharsetInfo* env_charset;      // the environment's character set
  std::uint8_t env_wide_factor;        // its sizing factor for wide text
  UTLangStringBase* lang;              // the connection's message strings; null until connect
  a_odbc_message_callback message_callback;      // null: none
  std::uint8_t wide;                             // 1: message_callback takes UTF-16 (1912)
  a_odbc_file_tran_callback file_tran_callback;  // null: none

  // ---- engine interface (fields of its own) ----
  std::uint32_t server_version;        // major*1000 + minor*100 + build
  std::atomic<std::uint32_t> dropped;  // 1 once the dropped-connection callback ran
  std::uint16_t fixed_shapes[2][2];    // (precision, scale) pairs reported as fixed
  CharsetConverter* conn_to_wide;      // connection character set to UTF-16LE
  CharsetConverter* wide_to_conn;      // UTF-16LE to the connection character set
  const CharsetInfo* conn_charset;     // the charset those two serve
  std::uint8_t conn_wide_factor;       // its byte width
  char conn_charset_name[51];          // from the probe; emptied when switched
  char db_charset_name[51];            // from the probe
  CharsetConverter* ansi_to_wide;      // saved converters of an ANSI application
  CharsetConverter* wide_to_ansi;
  CharsetConverter* nchar_to_wide;  // UTF-8 to UTF-16LE, servers of 10000 and later
  CharsetConverter* wide_to_nchar;  // UTF-16LE to UTF-8

  // ---- connect (connection strings and driver connect) ----
  std::uint32_t behaviour;  // kBehav* bits, set at each connect
  // End of the login time-out while a connect runs (steady clock, nanoseconds), 0 when
  // none; read by the client's wait callback on the connecting thread.
  std::atomic<std::int64_t> login_deadline_ns;
  std::atomic<std::uint8_t> login_timed_out;  // 1 once a wait gave up at the deadline

  // ---- transactions and translation ----
  // The connection's translation library (null: none) and its two functions, found when
  // it was loaded; the translation option is connection option 107.
  void* translate_module;
  a_odbc_translate_fn driver_to_data_source;  // SQLDriverToDataSource
  a_odbc_translate_fn data_source_to_driver;  // SQLDataSourceToDriver

  // ---- statements: prepare and execute ----
  std::uint16_t open_cursors;  // statements of this connection with a cursor open
};

// ---- Statement and descriptor -----------------------------------------------------------

struct tagDESC;
struct a_odbc_item_list;  // parameters.h
struct a_odbc_wide_piece;  // engine_fetch_data.cpp

// Bits of tagSTMT::call_flags.
constexpr std::uint8_t kStmtInCall = 0x20;  // a call on this statement is in progress

// Bits of tagSTMT::exec_flags (statement: prepare and execute).
constexpr std::uint8_t kStmtPreparedByUser = 0x01;    // SQLPrepare made the text current
constexpr std::uint8_t kStmtCursorNameSet = 0x02;     // SQLSetCursorName gave a name
constexpr std::uint8_t kStmtCursorNameUsed = 0x04;    // SQLGetCursorName returned it
constexpr std::uint8_t kStmtIsInsert = 0x08;          // the text begins with "insert"
constexpr std::uint8_t kStmtResultDescribed = 0x10;   // the open cursor is described
constexpr std::uint8_t kStmtDescriptionFixed = 0x20;  // the prepare reply's description is final
constexpr std::uint8_t kStmtServerPrepared = 0x40;    // the server holds a statement for it

// Bits of tagSTMT::param_flags.
constexpr std::uint32_t kParamDataSupplied = 0x01;   // SQLPutData gave the current parameter data
constexpr std::uint32_t kParamVarPrepared = 0x02;    // the server-variable statement is prepared
constexpr std::uint32_t kParamRowValues = 0x04;      // values come from the ARD's current row
constexpr std::uint32_t kParamBlockNeedData = 0x08;  // a block execute stopped for data
constexpr std::uint32_t kParamAwaitingData = 0x10;   // an execute returned SQL_NEED_DATA
constexpr std::uint32_t kParamPuttingData = 0x20;    // inside SQLPutData
constexpr std::uint32_t kParamFinalFlush = 0x40;     // SQLParamData sends a conversion tail

struct tagSTMT : tagOBJECT {
  tagDESC* apd;  // descriptors in use
  tagDESC* ard;
  tagDESC* ipd;
  tagDESC* ird;
  tagDESC* implicit_apd;  // allocated with the statement
  tagDESC* implicit_ard;
  // Read without the connection's mutex by SQLCancel, hence atomic.
  std::atomic<std::uint8_t> call_flags;
  SQLLEN row_count;    // rows affected or in the result (SQL_DIAG_ROW_COUNT)
  SQLULEN rowset_row;  // current row index within the rowset (0-based)
  // Cursor state: 0 executed without rows, 1 no result set, 2 result set expected,
  // 3 cursor declared, 4 cursor open (statement code). Read by descriptors and attributes.
  std::int32_t cursor_state;

  // ---- attributes (kept beside the statement's option entries) ----
  std::int32_t cursor_kind;       // 0 forward only, 1 dynamic, 2 keyset-driven, 3 static
  SQLULEN concurrency;            // SQL_CONCURRENCY (1 read only ... 4)
  SQLULEN rowset_size;            // SQL_ROWSET_SIZE, 1 to 65535
  SQLULEN max_rows;               // SQL_MAX_ROWS; 0: no limit
  SQLULEN max_length;             // SQL_MAX_LENGTH in bytes
  SQLPOINTER fetch_bookmark_ptr;  // SQL_ATTR_FETCH_BOOKMARK_PTR
  SQLLEN row_number;              // number of the rowset's first row (statement code)
  std::uint8_t single_row;        // 1: rows fetched one at a time (statement code)
  std::uint32_t desc_changes;     // advances when a descriptor in use is replaced

  // ---- statement: prepare and execute ----
  tagSQLSTRING sql_text;           // the application's text
  tagSQLSTRING translated_sql;     // its escape translation: what is sent
  std::uint8_t exec_flags;         // kStmt* bits above
  std::uint8_t stmt_kind;          // statement kind of the prepare reply (engine interface)
  SQLULEN block_row;               // row within the parameter block being built
  std::uint32_t apd_copy_counter;  // APD change counter the parameter lists were built at

  // ---- parameters (descriptor set-up, conversion, data at execution) ----
  a_odbc_item_list* param_list;   // input items, contiguous (inputs x sets); null until set up
  a_odbc_item_list* output_list;  // output-parameter items, or null
  std::int32_t param_index;       // parameter (from 0) whose data is being collected
  SQLULEN param_set;              // parameter set (from 0) of the array being executed
  std::uint32_t param_flags;      // kParam* bits (parameters.h)
  CharsetConverter* put_converter;  // UTF-16LE pieces to the connection charset; owned
  SQLULEN put_bytes;              // bytes stored so far for the current parameter
  // The end of a UTF-16 piece that does not finish a character (an odd byte, a high
  // surrogate), kept for the next piece of the same value.
  unsigned char put_wide_carry[3];
  unsigned char put_wide_carry_length;
  std::uint32_t param_row;        // parameter-list row of the set being converted

  // ---- engine interface: prepare, execute, describe ----
  a_cmdseq_stmt_handle stmt_record;      // the server statement; zeroed before each prepare
  a_cmdseq_stmt_handle var_stmt_record;  // fills a server variable with a long value
  a_cmdseq_cursor cursor;                // the client cursor; `conn` is set when opened
  a_cmdseq_desc* describe_info;          // the last describe's columns (client-owned), or null
  std::uint8_t has_result;               // 1: the prepared statement returns a result set
  std::uint8_t batch_pending;            // 1: a parameter batch awaits its status entries
  SQLULEN batch_count;                   // parameter sets in that batch

  // ---- engine interface: fetch list and get data (engine_fetch*.cpp, engine_setup.cpp) ----
  // The fetch list holds the bound columns (and the bookmark, last): per-column items of
  // `rows` values for fetching, contiguous rows of one-value items for row values.
  a_odbc_item_list* fetch_list;     // null until set up
  std::uint8_t fetch_list_mode;     // kFetchListForFetch or kFetchListForUpdate (engine.h)
  std::uint32_t fetch_ard_counter;  // the ARD's change counter + 1 at the set-up (0: never)
  SQLLEN fetch_bind_offset;         // the ARD bind offset the in-place items point at
  a_odbc_item_list* getdata_list;   // SQLGetData's one item of one value; null until used
  SQLLEN gd_returned;               // source bytes of the current value returned so far
  SQLLEN gd_first_length;           // length reported with the first piece (-4: unknown)
  SQLLEN gd_chars;                  // UTF-16 units returned so far (wide targets)
  std::uint8_t gd_whole;            // 1: the current value was returned whole
  a_odbc_wide_piece* gd_piece;      // wide piece converter with its pending input; owned

  // ---- fetch, scroll and positioned operations (fetch*.cpp) ----
  // row_number above is the rowset start: the absolute number of the rowset's first row,
  // 0 before the first row, negative when it is not known (after the end, or a rowset
  // counted from the end); rowset_row is the current row within the rowset.
  SQLULEN server_offset;          // rows past the rowset start where the server cursor is
  SQLULEN rows_in_rowset;         // rows of the current rowset
  SQLULEN prev_rowset_size;       // rowset size of the last fetch; NEXT moves by it
  std::uint8_t fetch_flags;       // kFetch* bits (fetch.h)
  SQLUSMALLINT* ext_status;       // SQLExtendedFetch's status array (extended-fetch mode)
  std::uint16_t pos_op;           // SQLSetPos operation in progress, 103 for a bulk add
  std::uint8_t pos_type;          // positioning type: 2, 10, 4 or 12
  std::uint8_t pos_all_rows;      // 1: the operation covers every row of the rowset
  // Where a row operation stands, so that data at execution can carry it on: the ARD row
  // being done, the operation's first row and the row after its last, and the rows of an
  // insert gathered into the batch not yet sent (first ARD row and count).
  SQLULEN pos_row;
  SQLULEN pos_first;
  SQLULEN pos_end;
  SQLULEN pos_batch_first;
  std::uint32_t pos_batch;
  std::uint32_t next_insert_bookmark;  // bookmark of the next inserted row (0: none)
  std::int32_t getdata_column;    // column SQLGetData is reading, -1 none
};

// ---- Descriptor records (descriptors area) ----
struct a_cmdseq_desc_item;

// Bits of tagITEM::flags.
constexpr std::uint32_t kItemBound = 0x01;         // the application has bound the record
constexpr std::uint32_t kItemNulIncluded = 0x02;   // a terminating NUL belongs to the value
constexpr std::uint32_t kItemResultColumn = 0x04;  // described as a result column
constexpr std::uint32_t kItemInVariable = 0x08;    // the value lives in a server variable
constexpr std::uint32_t kItemInPlace = 0x40;       // the wire value uses the application's buffer
constexpr std::uint32_t kItemBitString = 0x80;     // server type "varbit"
constexpr std::uint32_t kItemSpatial = 0x100;      // server type "st_geometry"
constexpr std::uint32_t kItemTimeZone = 0x200;     // server type "timestamp with time zone"

// One descriptor record (record k of a descriptor, or its bookmark record 0). Allocated
// zero-filled; the texts and the internal buffer are owned (ut_free). Fields hold the
// widths the ODBC API declares for them on this platform.
struct tagITEM {
  SQLSMALLINT concise_type;            // SQL_DESC_CONCISE_TYPE (C type 99: default)
  SQLSMALLINT interval_code;           // SQL_DESC_DATETIME_INTERVAL_CODE
  SQLINTEGER interval_precision;       // SQL_DESC_DATETIME_INTERVAL_PRECISION
  SQLULEN length;                      // SQL_DESC_LENGTH (characters)
  SQLINTEGER radix;                    // SQL_DESC_NUM_PREC_RADIX
  SQLLEN octet_length;                 // SQL_DESC_OCTET_LENGTH (bytes)
  SQLSMALLINT precision;               // SQL_DESC_PRECISION
  SQLSMALLINT scale;                   // SQL_DESC_SCALE
  SQLSMALLINT type;                    // SQL_DESC_TYPE (verbose)
  SQLPOINTER data_ptr;                 // SQL_DESC_DATA_PTR
  SQLLEN* indicator_ptr;               // SQL_DESC_INDICATOR_PTR
  SQLLEN* octet_length_ptr;            // SQL_DESC_OCTET_LENGTH_PTR
  char* base_column_name;              // implementation descriptors; owned or null
  char* name;                          // SQL_DESC_NAME / column label; owned or null
  SQLUSMALLINT nullable;               // SQL_DESC_NULLABLE
  SQLSMALLINT parameter_type;          // SQL_DESC_PARAMETER_TYPE (1 in, 2 in/out, 4 out)
  SQLSMALLINT effective_type;          // copy of the concise type; the engine interface
                                       // writes the C type it actually exchanges
  char* table_name;                    // implementation row descriptor; owned or null
  char* schema_name;                   // implementation row descriptor; owned or null
  // Implementation fields filled by the engine-interface layer (describe, set-up).
  std::uint8_t updatable;              // SQL_DESC_UPDATABLE
  std::uint8_t auto_unique;            // SQL_DESC_AUTO_UNIQUE_VALUE
  std::uint8_t row_version;            // SQL_DESC_ROWVER
  std::uint8_t key;                    // part of the server's key (driver field 1903)
  a_cmdseq_desc_item* wire_item;       // wire item in a contiguous list, or null
  a_cmdseq_desc_item* wire_column;     // wire item in a per-column list, or null
  std::size_t element_bytes;           // stride of `buffer`
  char* buffer;                        // internal conversion buffer; owned or null
  std::uint32_t flags;                 // kItem* bits
  // ---- engine interface: a long parameter value in a server variable ----
  char* variable_name;                 // the variable (kItemInVariable); owned or null
  SQLLEN variable_sent;                // bytes sent into the variable so far
};

// Bits of tagDESC::impl_kind.
constexpr std::uint8_t kDescImplParam = 2;  // implementation parameter descriptor
constexpr std::uint8_t kDescImplRow = 4;    // implementation row descriptor

// Allocation types (SQL_DESC_ALLOC_TYPE).
constexpr std::uint16_t kDescAllocAuto = SQL_DESC_ALLOC_AUTO;  // with a statement
constexpr std::uint16_t kDescAllocUser = SQL_DESC_ALLOC_USER;  // by the application

struct tagDESC : tagOBJECT {
  SQLSMALLINT count;                // SQL_DESC_COUNT: highest record number in use
  std::uint16_t alloc_type;         // kDescAllocAuto or kDescAllocUser
  SQLULEN array_size;               // SQL_DESC_ARRAY_SIZE; 1 at allocation
  SQLUSMALLINT* array_status_ptr;   // SQL_DESC_ARRAY_STATUS_PTR
  SQLULEN bind_type;                // SQL_DESC_BIND_TYPE: 0 column-wise, else the row size
  SQLLEN* bind_offset_ptr;          // SQL_DESC_BIND_OFFSET_PTR
  SQLULEN* rows_processed_ptr;      // SQL_DESC_ROWS_PROCESSED_PTR
  tagITEM** records;                // slot k - 1 holds record k (may be null); `count` slots
  tagITEM* bookmark;                // record 0; null while unbound
  std::uint8_t impl_kind;           // kDescImplParam, kDescImplRow, or 0 (application)
  std::uint32_t change_counter;     // advances with every binding or header change
  tagSTMT* stmt;                    // the statement of an implicit descriptor, else null

  ~tagDESC();  // releases the records (descriptors.cpp)
};

// ---- Process-wide state ----------------------------------------------------------------

extern tagENV* g_env_list;  // newest first; guarded by EnvCritSect
extern a_ut_safe_pthread_mutex_t EnvCritSect;
extern std::atomic<int> odbc_lib_unloaded;  // 1 after library finalisation

void EnterEnvCritSect();
void LeaveEnvCritSect();

// Empties the environment list.
void InitializeEnvironments();
// Creates EnvCritSect and registers the fork handlers (EnvCritSect held across fork).
void InitializeEnvironmentSemaphores();
void FiniEnvironmentSemaphores();
// Frees every environment (DoSQLFreeEnv on the head until the list is empty).
void FiniEnvironments();

// ---- Memory of the ODBC layer -----------------------------------------------------------

// Zero-filled memory, or null with HY001/S1001 recorded on `h` (when given). Size 0
// yields null without a diagnostic.
void* VAllocLocked(tagOBJECT* h, std::size_t size);
// The resized block; on failure the old block is released, HY001/S1001 is recorded and
// null returned.
void* VReallocLocked(tagOBJECT* h, void* block, std::size_t size);
void VFreeLocked(void* block);

// ---- Allocation and release -------------------------------------------------------------

// A zero-filled record of the kind, linked at the head of the parent's child list, kind
// and name set; null (HY001 on the parent) when memory runs out or the kind is unknown.
tagOBJECT* Allocate_object(tagOBJECT* parent, std::int32_t kind);
// Unlinks from the parent, frees diagnostics and options, sets kind 0, frees the record.
void Free_object(tagOBJECT* h);

// The connection that owns h (h itself for a connection), or null (environments, broken
// chains).
tagDBC* OwningDbc(tagOBJECT* h);
// The environment above h (h itself for an environment), or null.
tagENV* OwningEnv(tagOBJECT* h);

// ---- Options ----------------------------------------------------------------------------

// Overwrite or append the entry with kind kOptPlain / kOptLength. 0, or -1 when the array
// cannot grow (HY001 recorded, nothing stored).
int Set_option(tagOBJECT* h, std::int32_t id, SQLULEN value);
int Set_ulen_option(tagOBJECT* h, std::int32_t id, SQLULEN value);
// The same with an owned copy of exactly `length` bytes (SQL_NTS: the text's own length;
// null text or length 0: a null text of length 0). A negative length other than SQL_NTS
// stores nothing and returns -1.
int Set_string_option(tagOBJECT* h, std::int32_t id, const char* text, SQLINTEGER length);
// The entry of h; when absent and `create`, a zeroed entry is appended; when absent on a
// statement, the connection's entry. Null otherwise. The pointer is valid until the next
// option is appended to that handle.
tagOPTION* FindOption(tagOBJECT* h, std::int32_t id, bool create);
// The value of the entry found as FindOption(h, id, false) finds it, else 0.
SQLULEN Option(tagOBJECT* h, std::int32_t id);
SQLULEN ULenOption(tagOBJECT* h, std::int32_t id);
std::uint32_t UIntOption(tagOBJECT* h, std::int32_t id);
// Absent: 0. A value entry writes its value to `buffer` (kOptPlain as a 32-bit word,
// kOptLength as an SQLULEN); a text entry copies min(length, buffer_length - 1) bytes and
// a NUL (nothing for a buffer length below 1), and `out_length` (when given) receives the
// bytes copied. Found: 1.
int Get_option(tagOBJECT* h, std::int32_t id, void* buffer, SQLINTEGER buffer_length,
               SQLINTEGER* out_length);

// ---- Framing ----------------------------------------------------------------------------
// Each Init_* returns 0 when the call may proceed; otherwise the return code for the
// application (-1: library finalised or forked child; SQL_INVALID_HANDLE: bad handle),
// with no diagnostic recorded and no lock held.

SQLRETURN Init_env(SQLHANDLE h);   // no lock held for the call
SQLRETURN Init_dbc(SQLHANDLE h);   // the connection's mutex held
SQLRETURN Init_stmt(SQLHANDLE h);  // the connection's mutex held; in-call flag set
SQLRETURN Init_desc(SQLHANDLE h);  // the connection's mutex held
SQLRETURN Init_desc2(SQLHANDLE source, SQLHANDLE target);  // the source's connection mutex
// Diagnostic calls: kind 1 holds EnvCritSect, kinds 2 to 4 the connection's mutex.
// Nothing is cleared.
SQLRETURN Init_object(SQLHANDLE h, SQLSMALLINT kind);

void Fini_dbc(SQLHANDLE h);
void Fini_stmt(SQLHANDLE h);
void Fini_desc(SQLHANDLE h);
void Fini_desc2(SQLHANDLE source, SQLHANDLE target);
void Fini_object(SQLHANDLE h, SQLSMALLINT kind);

// Clears the diagnostics of h (under EnvCritSect for an environment); for other kinds
// the owning connection's SQL code is set to 0 first. The return code is left alone.
void ClearError(tagOBJECT* h);

// ---- Environments and connections --------------------------------------------------------

// `message` (may be null) receives a failure text of at most `message_size` bytes.
SQLRETURN DoSQLAllocEnv(SQLHENV* out, char* message, int message_size);
// Refused with HY010 while the environment still has connections.
SQLRETURN DoSQLFreeEnv(tagENV* env);
// Environment attributes are plain option entries; every attribute is accepted.
SQLRETURN DoSQLSetEnvAttr(tagENV* env, SQLINTEGER attribute, SQLPOINTER value,
                          SQLINTEGER length);
// Null output: HY009; an attribute never set: SQL_NO_DATA.
SQLRETURN DoSQLGetEnvAttr(tagENV* env, SQLINTEGER attribute, SQLPOINTER out, SQLINTEGER size,
                          SQLINTEGER* length);
SQLRETURN DoSQLAllocConnect(tagENV* env, SQLHDBC* out);
SQLRETURN DoSQLFreeConnect(tagDBC* dbc);
SQLRETURN DoSQLDisconnect(tagDBC* dbc);
SQLRETURN DoSQLCancel(tagSTMT* stmt);
// Frees and zeroes every connection-attribute slot, the password overwritten first.
void Free_connect_strings(tagDBC* dbc);
// Library unload: ends a connection the application left behind, whatever its state
// (disconnected from the server when connected), and frees it with its children.
void DiscardConnection(tagDBC* dbc);

#endif  // VQ_ODBC_HANDLES_H

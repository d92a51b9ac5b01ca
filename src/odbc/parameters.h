// Parameters: the item lists built from the application's bound parameters, the
// conversion of one bound value into its wire item, the binding and description entry
// points and the data-at-execution dialogue (SQLParamData, SQLPutData).
//
// The lists are built once and kept until a binding or the number of parameter sets
// changes. Fixed-size numbers are exchanged in place, straight from the application's
// buffers; every other value is converted into an internal buffer of its descriptor
// record. Every function here runs under the connection's mutex (the call framing).
#ifndef VQ_ODBC_PARAMETERS_H
#define VQ_ODBC_PARAMETERS_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "cmdseq/desc.h"
#include "odbc/diag_states.h"
#include "odbc/handles.h"

// An item list with the indicator and length words of its values (the client reads and
// writes those through each value's pointers). Owned by the statement; freed with
// FreeItemList.
struct a_odbc_item_list {
  a_cmdseq_desc desc;           // contiguous items: item k x columns + c is column c of row k
  std::int32_t* indicators;     // one per value (items x values), owned
  std::uint32_t* lengths;       // one per value, owned
  std::uint32_t columns;        // items per row (parameters per set)
  std::uint32_t rows;           // rows (parameter sets)
};

// States the parameter code posts.
constexpr a_packed_sqlstate kState07001 = PackSQLState("07001");
constexpr a_packed_sqlstate kState22003 = PackSQLState("22003");
constexpr a_packed_sqlstate kState22005 = PackSQLState("22005");
constexpr a_packed_sqlstate kState22018 = PackSQLState("22018");
constexpr a_packed_sqlstate kStateHY003 = PackSQLState("HY003");
constexpr a_packed_sqlstate kStateS1003 = PackSQLState("S1003");
constexpr a_packed_sqlstate kStateHY021 = PackSQLState("HY021");
constexpr a_packed_sqlstate kStateHY105 = PackSQLState("HY105");
constexpr a_packed_sqlstate kStateS1093 = PackSQLState("S1093");

// Item length above which a variable-length wire type takes its long form.
constexpr std::uint32_t kShortItemMax = 32766;

// ==== in engine_setup.cpp ===================================================================

// A list of `columns` x `rows` items of one value each (`values` 1), or of `columns` items
// of `values` values each; every value's indicator and length point at its own pair of
// words. Null when memory runs out.
a_odbc_item_list* NewItemList(std::uint32_t columns, std::uint32_t rows, std::uint32_t values);
// Frees a list made by the set-up functions (null accepted).
void FreeItemList(a_odbc_item_list* list);
// Frees the statement's parameter lists and the internal buffers of its APD records.
void FreeParamLists(tagSTMT* stmt);
// Gives `rec` an internal buffer of `rows` elements of at least `size` bytes: the size is
// rounded up to a multiple of 8 but never above the statement's maximum length (0: no
// cap). A larger existing buffer is kept; a smaller one is moved to the new stride with
// every row's contents, and `list`'s items of that record (item `first_item` + k x
// `stride_items` for row k; null list: none) follow it. 1, or 0 when memory runs out.
int AllocItemBuffer(tagSTMT* stmt, tagITEM* rec, std::size_t size, std::uint32_t rows,
                    a_odbc_item_list* list, std::uint32_t first_item,
                    std::uint32_t stride_items);
// Sets up the wire item of one record from its effective C type (already written to
// rec->effective_type) and `sql_type`, the column's or parameter's SQL type, for a
// contiguous list (parameters, block fetch) or a per-column one. `impl` gives precision
// and scale (null: the record's own). The item's type, subtype, length, precision and
// scale are written, and the record's effective type and flags 0x02 / 0x40; the item's
// data pointer is left to the caller. Pure: allocates nothing.
void SetupFetchItem(const tagSTMT* stmt, tagITEM* rec, const tagITEM* impl,
                    SQLSMALLINT sql_type, bool contiguous, a_cmdseq_desc_item* item);
// Builds the statement's parameter lists for `sets` parameter sets (below 2: one) from
// the APD and the IPD. 1 (also when there is nothing to do), or 0 with the lists freed
// and a diagnostic posted (07002/07001 for a described parameter without an application
// record, HY090/S1090 for a misaligned pointer, HY001 when memory runs out).
int SetupParamDesc(tagSTMT* stmt, unsigned short sets);

// ==== in engine_params.cpp ===================================================================

// Results of DBPutBound and PutAllBound.
constexpr int kPutDone = 0;         // the value is in place
constexpr int kPutNeedData = 1;     // NULL is sent, or the value follows at execution
constexpr int kPutUnbound = 2;      // a described parameter is not bound
constexpr int kPutBadLength = 4;    // a bad length or a missing data pointer
constexpr int kPutOutOfRange = 6;   // a numeric value does not fit (22003)
constexpr int kPutTruncated = 7;    // the value was cut at the maximum length
constexpr int kPutKindMismatch = 8; // APD and IPD disagree on input versus output
constexpr int kPutNoConvert = 9;    // the text did not convert (22018)
constexpr int kPutNoItem = 11;      // no wire item
constexpr int kPutNoMemory = 12;    // a buffer or converter could not be had (HY001 posted)

// Kinds of ParseEscapeLiteral.
constexpr int kEscapeDate = 1;
constexpr int kEscapeTime = 2;
constexpr int kEscapeTimestamp = 3;
constexpr int kEscapeGuid = 4;
constexpr int kEscapeNone = 12;

// An ODBC date, time, timestamp or GUID escape ({d '...'} and so on) in the `length`
// bytes at *text: the kind, with *text and *length narrowed to the literal between the
// quotes. Anything else answers kEscapeNone and changes nothing.
int ParseEscapeLiteral(const char** text, long* length);
// n bytes from 2n hexadecimal digits (either case, high digit first). 0 at the first
// non-digit (bytes before it are written), else 1.
int char_to_binary(const char* text, std::uint8_t* out, std::size_t n);
// The ODBC GUID structure (n must be 16) of the text form 8-4-4-4-12; 1, or 0 when the
// text is not in that form.
int char_to_uuid(const char* text, std::uint8_t* out, std::size_t n);

// Converts the value of one parameter (`app` record, `impl` its IPD record) for set
// `row` into the wire item `item` (value 0), using `buffer_row`'s element of the record's
// internal buffer. The pointers are those of the row, bind offset applied. One of the
// kPut* results; kPutBadLength posts HY090/S1090 on the statement.
int DBPutBound(tagSTMT* stmt, tagITEM* app, tagITEM* impl, a_cmdseq_desc_item* item,
               void* data, SQLLEN octet_length, SQLLEN* length_ptr, SQLLEN* indicator_ptr,
               unsigned buffer_row);
// DBPutBound for every bound APD record, from the statement's current parameter index
// onwards: the application's values of the current set (tagSTMT::param_set) into row
// `row` of the parameter list. With kParamRowValues the ARD's row `param_set` goes into
// row `row` of the fetch list instead (insert and update through the cursor). The first result other than kPutDone stops, and the index
// then names that parameter; when all are done the index returns to 0.
int PutAllBound(tagSTMT* stmt, unsigned row);
// Appends one SQLPutData piece to the current parameter of set `row`: `*data` and
// `*length` advance by what was consumed. `limit` caps the parameter's total bytes.
int DBPutPartialBound(tagSTMT* stmt, tagITEM* app, tagITEM* impl, a_cmdseq_desc_item* item,
                      const char** data, SQLLEN* length, unsigned row, SQLULEN limit);

// ==== in parameters.cpp ======================================================================

// PutAllBound into list row `row` with the result posted: 0, SQL_NEED_DATA (the statement's
// parameter index names the parameter), or -1 with the state posted.
SQLRETURN Parameter_descriptor(tagSTMT* stmt, unsigned row);
// Ends the conversion state of the dialogue: `full` also sets the parameter index to 0.
void Reset_parameters(tagSTMT* stmt, bool full);
// Reset_parameters(full) and every record's server-variable state cleared.
void Free_parameters(tagSTMT* stmt, tagDESC* app, tagDESC* impl);

SQLRETURN DoSQLBindParameter(tagSTMT* stmt, SQLUSMALLINT number, SQLSMALLINT io_type,
                             SQLSMALLINT c_type, SQLSMALLINT sql_type, SQLULEN column_size,
                             SQLSMALLINT digits, SQLPOINTER value, SQLLEN buffer_length,
                             SQLLEN* indicator);
SQLRETURN DoSQLNumParams(tagSTMT* stmt, SQLSMALLINT* count);
SQLRETURN DoSQLDescribeParam(tagSTMT* stmt, SQLUSMALLINT number, SQLSMALLINT* sql_type,
                             SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable);
// Whether an execution or row operation stopped for data at execution and waits for it:
// every call on the statement but the dialogue's own (and cancel, close, diagnostics)
// is then a function sequence error.
bool AwaitingData(const tagSTMT* stmt);
// Ends a dialogue of data at execution without carrying it out (SQLCancel): an execution
// leaves the statement prepared, a row operation leaves the cursor where it was. Nothing
// when no dialogue is open.
void CancelDataAtExecution(tagSTMT* stmt);

SQLRETURN DoSQLParamData(tagSTMT* stmt, SQLPOINTER* value);
SQLRETURN DoSQLPutData(tagSTMT* stmt, SQLPOINTER data, SQLLEN length);

#endif  // VQ_ODBC_PARAMETERS_H

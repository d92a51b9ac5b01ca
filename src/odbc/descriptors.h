// Descriptors: allocation and release, the record array (growth on access, shrinking on
// unbind), binding, the rules that protect implementation descriptors, and the descriptor
// entry points' implementations. The records themselves (tagDESC, tagITEM) are declared
// in handles.h beside the other handle records.
//
// Every function here runs under the owning connection's mutex (the call framing holds
// it). Functions that fail record their diagnostic on the descriptor (or, where said, on
// another handle) and return the handle's return code.
#ifndef VQ_ODBC_DESCRIPTORS_H
#define VQ_ODBC_DESCRIPTORS_H

#include <sql.h>
#include <sqlext.h>

#include "odbc/diag_states.h"
#include "odbc/handles.h"

// States the descriptor calls post.
constexpr a_packed_sqlstate kState07009 = PackSQLState("07009");  // invalid descriptor index
constexpr a_packed_sqlstate kStateHY007 = PackSQLState("HY007");  // statement not prepared
constexpr a_packed_sqlstate kStateHY016 = PackSQLState("HY016");  // cannot modify an IRD

// ---- Allocation and release -------------------------------------------------------------

// A new descriptor of the connection: count 0, array size 1, every pointer and the bind
// type 0. 0, or -1 when the block cannot be had (HY001 on the connection).
int _SQLAllocDesc(tagDBC* dbc, std::uint16_t alloc_type, tagDESC** out);
// SQLAllocHandle for a descriptor: an application descriptor (SQL_DESC_ALLOC_USER).
// The handle goes to *out (null on failure).
SQLRETURN DoSQLAllocDesc(tagDBC* dbc, SQLHANDLE* out);
// SQLFreeHandle for a descriptor. A statement's implicit descriptor is refused (HY017 on
// the descriptor, SQL_ERROR) and stays usable. Otherwise every statement using it as an
// application descriptor gets its implicit one back and the descriptor is freed. The
// connection's mutex stays held: the caller remembers the connection before the call and
// releases it afterwards.
SQLRETURN DoSQLFreeDesc(tagDESC* desc);
// Releases records and handle without checks (the statement's own descriptors at drop).
void _SQLFreeDesc(tagDESC* desc);
// Releases every record and the bookmark record; count 0.
void FreeDescriptor(tagDESC* desc);
// Releases a record's owned texts and buffer, then the record. Accepts null.
void FreeDescItem(tagITEM* item);
// Non-null and a descriptor.
bool IsValidDesc(const void* handle);

// ---- Statement descriptors --------------------------------------------------------------

// Allocates the four implicit descriptors of a new statement (implementation parameter,
// application parameter, implementation row, application row), flags the implementation
// ones and makes all four the statement's descriptors in use. 0, or -1 with nothing left
// allocated (HY001 on the connection).
int AllocStmtDescriptors(tagSTMT* stmt);
// Frees the statement's implicit descriptors and clears all six descriptor fields.
// Application-allocated descriptors in use stay with the connection.
void FreeStmtDescriptors(tagSTMT* stmt);

// ---- Records ------------------------------------------------------------------------------

// Largest SQL_DESC_ARRAY_SIZE a descriptor accepts.
constexpr SQLULEN kMaxDescArraySize = 65535;

// Grows the record array to `count` slots (new slots empty) and makes that the count.
// Nothing happens for a count not above the present one. 0, or -1 with HY001 recorded and
// the descriptor unchanged.
int GrowDescRecords(tagDESC* desc, SQLSMALLINT count);

// A zero-filled record, or null with HY001 recorded on `h`.
tagITEM* AllocDescItem(tagOBJECT* h);
// Record `number` (1 and above), created when missing; the array grows to the record
// number. Null (HY001 recorded) when memory runs out: a failed growth empties the
// descriptor, a failed record creation restores the previous count.
tagITEM* AccessDescItem(tagDESC* desc, SQLSMALLINT number);
// The bookmark record (record 0), created when missing; null with HY001 recorded.
tagITEM* AccessBookmark(tagDESC* desc);
// Record `number` when it exists (0: the bookmark record), else null. Never creates.
tagITEM* FindDescItem(const tagDESC* desc, SQLSMALLINT number);
// Frees record `number` (not above the count) and nulls its slot; the count then drops to
// the highest record still present and the array shrinks with it.
void UnBindDescItem(tagDESC* desc, SQLSMALLINT number);
void UnBindBookmark(tagDESC* desc);
// Binds a record: concise type, type and effective type := type; the rest as given; the
// bound flag is set.
void BindDescItem(tagITEM* item, SQLSMALLINT type, SQLSMALLINT interval_code,
                  SQLLEN octet_length, SQLSMALLINT precision, SQLSMALLINT scale,
                  SQLPOINTER data, SQLLEN* octet_length_ptr, SQLLEN* indicator_ptr);

// ---- Field reader ---------------------------------------------------------------------

// The record rules every read of a record field follows: a negative record or record 0
// of an implementation parameter descriptor gives 07009; a record above the count gives
// SQL_NO_DATA; an implementation row descriptor is read only for its statement once
// prepared (else HY007) and with a cursor open (else SQL_NO_DATA). SQL_SUCCESS when the
// record may be read; diagnostics are recorded on the descriptor.
SQLRETURN CheckDescRecordRead(tagDESC* desc, SQLSMALLINT record);
// Answers one field of record `record` (0: the bookmark record; a record that does not
// exist reads as a zero-filled one); diagnostics go to `diag`. Texts go through
// ReturnString to text_out (text_size bytes, full length to *text_length); pointers are
// written pointer-sized to text_out; numbers to number_out at the width the ODBC API
// declares for the field, or, with `widen` (the SQLColAttribute form), every number as an
// SQLLEN. A null output the field needs: HY009. An unknown identifier: HYC00 above 999,
// else HY091. Returns diag's return code.
SQLRETURN GetDescField(tagDESC* desc, tagOBJECT* diag, SQLSMALLINT record,
                       SQLSMALLINT identifier, SQLPOINTER text_out, SQLINTEGER text_size,
                       SQLINTEGER* text_length, SQLPOINTER number_out, bool widen);

// ---- Entry point implementations ----------------------------------------------------------

SQLRETURN DoSQLGetDescRec(tagDESC* desc, SQLSMALLINT record, SQLCHAR* name,
                          SQLSMALLINT name_size, SQLSMALLINT* name_length, SQLSMALLINT* type,
                          SQLSMALLINT* subtype, SQLLEN* length, SQLSMALLINT* precision,
                          SQLSMALLINT* scale, SQLSMALLINT* nullable);
SQLRETURN DoSQLSetDescRec(tagDESC* desc, SQLSMALLINT record, SQLSMALLINT type,
                          SQLSMALLINT subtype, SQLLEN length, SQLSMALLINT precision,
                          SQLSMALLINT scale, SQLPOINTER data, SQLLEN* octet_length_ptr,
                          SQLLEN* indicator_ptr);
SQLRETURN DoSQLGetDescField(tagDESC* desc, SQLSMALLINT record, SQLSMALLINT identifier,
                            SQLPOINTER out, SQLINTEGER size, SQLINTEGER* length);
SQLRETURN DoSQLSetDescField(tagDESC* desc, SQLSMALLINT record, SQLSMALLINT identifier,
                            SQLPOINTER value, SQLINTEGER length);
// Diagnostics go to the target.
SQLRETURN DoSQLCopyDesc(tagDESC* source, tagDESC* target);

#endif  // VQ_ODBC_DESCRIPTORS_H

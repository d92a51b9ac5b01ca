// Reading diagnostic records: SQLGetDiagRec, SQLError and SQLGetDiagField. The framing
// holds the lock that guards the handle's records while these run.
#include <cstring>

#include "config/option_tables.h"
#include "odbc/diagnostics.h"
#include "odbc/type_mapping.h"

namespace {

// The record numbered `number` (from 1), or null when the handle has fewer.
const tagDIAGREC* RecordAt(const tagOBJECT* h, SQLSMALLINT number) {
  if (number < 1 || static_cast<std::uint32_t>(number) > h->record_count) return nullptr;
  const tagDIAGREC* r = &h->first_rec;
  for (SQLSMALLINT i = 1; i < number && r != nullptr; ++i) r = r->next;
  return r;
}

// The state an application sees: the ODBC 2 state when it declared ODBC 2.
a_packed_sqlstate ShownState(tagOBJECT* h, const tagDIAGREC& r) {
  tagENV* env = OwningEnv(h);
  const SQLINTEGER declared =
      env != nullptr ? static_cast<SQLINTEGER>(UIntOption(env, SQL_ATTR_ODBC_VERSION))
                     : SQL_OV_ODBC3;
  return ODBCVersion(declared) == 2 ? r.odbc2 : r.odbc3;
}

// The connection whose error block and strings a record of h draws on; none for an
// environment.
tagDBC* MessageConnection(tagOBJECT* h) { return h->kind == OBJ_ENV ? nullptr : OwningDbc(h); }

bool IsIsoChar(char c) { return (c >= '0' && c <= '4') || (c >= 'A' && c <= 'H'); }

constexpr char kOriginIso[] = "ISO 9075";
constexpr char kOriginOdbc[] = "ODBC 3.0";

// Numeric fields go to the application's buffer with memcpy: it may be unaligned.
template <typename T>
SQLRETURN PutNumber(SQLPOINTER value, T number) {
  if (value != nullptr) std::memcpy(value, &number, sizeof number);
  return SQL_SUCCESS;
}

SQLRETURN PutText(const char* text, SQLPOINTER value, SQLSMALLINT buffer_length,
                  SQLSMALLINT* length_out) {
  if (buffer_length < 0) return SQL_ERROR;
  const int truncated = CopyDiagText(text, std::strlen(text), static_cast<SQLCHAR*>(value),
                                     buffer_length, length_out);
  return truncated != 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN ReadRecord(tagOBJECT* h, const tagDIAGREC& r, SQLCHAR* state, SQLINTEGER* native,
                     SQLCHAR* message, SQLSMALLINT buffer_length, SQLSMALLINT* length_out) {
  const a_packed_sqlstate shown = ShownState(h, r);
  if (state != nullptr) CmdSeqGetStateString(shown, reinterpret_cast<char*>(state));
  if (native != nullptr) *native = r.native;
  const int truncated =
      FormatDiagMessage(MessageConnection(h), &r, message, buffer_length, length_out);
  if (shown == kStateNone) return SQL_NO_DATA;
  return truncated != 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // namespace

SQLRETURN DoSQLGetDiagRec(SQLSMALLINT /*handle_type*/, SQLHANDLE handle, SQLSMALLINT record,
                          SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                          SQLSMALLINT buffer_length, SQLSMALLINT* length_out) {
  auto* h = static_cast<tagOBJECT*>(handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  if (record < 1 || buffer_length < 0) return SQL_ERROR;
  const tagDIAGREC* r = RecordAt(h, record);
  if (r == nullptr) return SQL_NO_DATA;
  return ReadRecord(h, *r, state, native, message, buffer_length, length_out);
}

SQLRETURN DoSQLError(SQLSMALLINT handle_type, SQLHANDLE handle, SQLCHAR* state,
                     SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT buffer_length,
                     SQLSMALLINT* length_out) {
  auto* h = static_cast<tagOBJECT*>(handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  // The position stops one past the last record, so that later calls keep answering
  // SQL_NO_DATA instead of wrapping round to the first record.
  if (h->error_pos <= h->record_count) ++h->error_pos;
  if (h->error_pos > h->record_count || h->error_pos > 0x7FFF) return SQL_NO_DATA;
  return DoSQLGetDiagRec(handle_type, handle, static_cast<SQLSMALLINT>(h->error_pos), state,
                         native, message, buffer_length, length_out);
}

SQLRETURN DoSQLGetDiagField(SQLSMALLINT /*handle_type*/, SQLHANDLE handle, SQLSMALLINT record,
                            SQLSMALLINT identifier, SQLPOINTER value, SQLSMALLINT buffer_length,
                            SQLSMALLINT* length_out) {
  auto* h = static_cast<tagOBJECT*>(handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  const bool is_stmt = h->kind == OBJ_STMT;

  // Header fields: the record number is not looked at.
  switch (identifier) {
    case SQL_DIAG_RETURNCODE:
      return PutNumber<SQLRETURN>(value, h->retcode);
    case SQL_DIAG_NUMBER:
      return PutNumber<SQLINTEGER>(value, static_cast<SQLINTEGER>(h->record_count));
    case SQL_DIAG_ROW_COUNT:
    case SQL_DIAG_CURSOR_ROW_COUNT:
      if (!is_stmt) return SQL_ERROR;
      return PutNumber<SQLLEN>(value, static_cast<tagSTMT*>(h)->row_count);
    case SQL_DIAG_DYNAMIC_FUNCTION:
      if (!is_stmt) return SQL_ERROR;
      return PutText(DynamicFunctionName(static_cast<SQLINTEGER>(h->dyn_func_code)), value,
                     buffer_length, length_out);
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (!is_stmt) return SQL_ERROR;
      return PutNumber<SQLINTEGER>(value, static_cast<SQLINTEGER>(h->dyn_func_code));
    case SQL_DIAG_SQLSTATE:
    case SQL_DIAG_NATIVE:
    case SQL_DIAG_MESSAGE_TEXT:
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
    case SQL_DIAG_ROW_NUMBER:
    case SQL_DIAG_COLUMN_NUMBER:
      break;
    default:
      return SQL_ERROR;
  }

  // Record fields.
  if (record < 1) return SQL_ERROR;
  const tagDIAGREC* r = RecordAt(h, record);
  if (r == nullptr) return SQL_NO_DATA;
  const a_packed_sqlstate shown = ShownState(h, *r);
  char state[6];
  CmdSeqGetStateString(shown, state);
  switch (identifier) {
    case SQL_DIAG_SQLSTATE:
      return PutText(state, value, buffer_length, length_out);
    case SQL_DIAG_NATIVE:
      return PutNumber<SQLINTEGER>(value, r->native);
    case SQL_DIAG_MESSAGE_TEXT: {
      if (buffer_length < 0) return SQL_ERROR;
      const int truncated = FormatDiagMessage(
          MessageConnection(h), r, static_cast<SQLCHAR*>(value), buffer_length, length_out);
      return truncated != 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    case SQL_DIAG_CLASS_ORIGIN:
      return PutText(IsIsoChar(state[0]) ? kOriginIso : kOriginOdbc, value, buffer_length,
                     length_out);
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return PutText(IsIsoChar(state[0]) && IsIsoChar(state[2]) ? kOriginIso : kOriginOdbc,
                     value, buffer_length, length_out);
    case SQL_DIAG_CONNECTION_NAME: {
      tagDBC* dbc = MessageConnection(h);
      return PutText(dbc != nullptr ? dbc->name : "", value, buffer_length, length_out);
    }
    case SQL_DIAG_SERVER_NAME: {
      tagDBC* dbc = MessageConnection(h);
      const char* server = dbc != nullptr ? dbc->attrs[kSlotServerName].text : nullptr;
      return PutText(server != nullptr ? server : "", value, buffer_length, length_out);
    }
    case SQL_DIAG_ROW_NUMBER:
      return PutNumber<SQLLEN>(value, r->row);
    case SQL_DIAG_COLUMN_NUMBER:
      return PutNumber<SQLINTEGER>(value, r->column);
    default:
      return SQL_ERROR;
  }
}

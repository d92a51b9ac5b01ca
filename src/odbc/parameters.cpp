// Parameters at the ODBC surface: binding into the application parameter descriptor,
// SQLNumParams and SQLDescribeParam from the implementation parameter descriptor, the
// result of converting one parameter set, and the data-at-execution dialogue
// (SQLParamData answers which parameter wants data, SQLPutData sends it in pieces).
#include <cstring>
#include <memory>

#include "odbc/descriptors.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/fetch.h"
#include "odbc/parameters.h"
#include "odbc/statement.h"
#include "odbc/type_mapping.h"
#include "utils/base/memory.h"
#include "utils/locale/charset_converter.h"

namespace {

constexpr a_packed_sqlstate kState22001 = PackSQLState("22001");
constexpr a_packed_sqlstate kStateS1093Ok = kStateS1093;

tagDBC* dbc_of(tagSTMT* stmt) { return static_cast<tagDBC*>(stmt->parent); }

SQLRETURN post(tagSTMT* stmt, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2) {
  return PostSQLState(stmt, odbc3, odbc2);
}

// The verbose type and date-time code of a concise C type.
void verbose_type(SQLSMALLINT concise, SQLSMALLINT* type, SQLSMALLINT* code) {
  *code = 0;
  *type = concise;
  if (concise == SQL_C_TYPE_DATE || concise == SQL_C_TYPE_TIME ||
      concise == SQL_C_TYPE_TIMESTAMP) {
    *type = SQL_DATETIME;
    *code = static_cast<SQLSMALLINT>(concise - 90);
  } else if (concise >= SQL_C_INTERVAL_YEAR && concise <= SQL_C_INTERVAL_MINUTE_TO_SECOND) {
    *type = SQL_INTERVAL;
    *code = static_cast<SQLSMALLINT>(concise - 100);
  }
}

// The state of a conversion result; kPutDone and kPutNeedData are not failures.
SQLRETURN post_put_result(tagSTMT* stmt, int result) {
  switch (result) {
    case kPutDone:
      return SQL_SUCCESS;
    case kPutNeedData:
      return SQL_NEED_DATA;
    case kPutUnbound:
    case kPutNoItem:
      return post(stmt, kState07002, kState07001);
    case kPutBadLength:
    case kPutNoMemory:
      return stmt->retcode;  // posted where it happened
    case kPutOutOfRange:
      return post(stmt, kState22003, kState22003);
    case kPutTruncated:
      // A value that neither fits its item nor can go through a server variable is
      // refused rather than sent cut.
      return post(stmt, kState22001, kState22001);
    case kPutKindMismatch:
      return post(stmt, kStateHY105, kStateHY105);
    case kPutNoConvert:
      return post(stmt, kState22018, kState22005);
    default:
      return post(stmt, kStateHY000, kStateS1000);
  }
}

// A row operation (SQLSetPos, SQLBulkOperations) takes its values from the ARD's row into
// the fetch list built for row values; an execution from the APD's set into the
// parameter list.
bool row_operation(const tagSTMT* stmt) { return (stmt->param_flags & kParamRowValues) != 0; }
tagDESC* app_desc(tagSTMT* stmt) { return row_operation(stmt) ? stmt->ard : stmt->apd; }
tagDESC* impl_desc(tagSTMT* stmt) { return row_operation(stmt) ? stmt->ird : stmt->ipd; }
a_odbc_item_list* value_list(tagSTMT* stmt) {
  return row_operation(stmt) ? stmt->fetch_list : stmt->param_list;
}

// The application record and its list item of the current data-at-execution value.
bool current_parameter(tagSTMT* stmt, tagITEM** app, tagITEM** impl,
                       a_cmdseq_desc_item** item) {
  tagDESC* desc = app_desc(stmt);
  tagDESC* idesc = impl_desc(stmt);
  const std::int32_t p = stmt->param_index;
  a_odbc_item_list* list = value_list(stmt);
  if (desc == nullptr || list == nullptr || p < 0 || p >= desc->count ||
      static_cast<std::uint32_t>(p) >= list->columns || desc->records[p] == nullptr)
    return false;
  *app = desc->records[p];
  *impl = idesc != nullptr && p < idesc->count ? idesc->records[p] : nullptr;
  const std::uint32_t row = stmt->param_row < list->rows ? stmt->param_row : 0;
  *item = CmdSeqFastGetDescItem(list->desc.items,
                                row * list->columns +
                                    static_cast<std::uint32_t>(p),
                                1);
  return true;
}

// Whether an execution or a row operation waits for data at execution (the dialogue is
// open). A row operation runs on an executed or fetched statement, on one of its rows.
bool awaiting_data(const tagSTMT* stmt) {
  if ((stmt->param_flags & kParamAwaitingData) == 0) return false;
  if (row_operation(stmt))
    return stmt->state >= kStmtExecuted && stmt->pos_row < stmt->pos_end;
  return stmt->state == kStmtExecuted;
}

}  // namespace

// ---- Conversion of one set ---------------------------------------------------------------

SQLRETURN Parameter_descriptor(tagSTMT* stmt, unsigned row) {
  stmt->param_row = row;
  const int result = PutAllBound(stmt, row);
  if (result == kPutNeedData) {
    stmt->param_flags |= kParamAwaitingData;
    stmt->param_flags &= ~kParamDataSupplied;
    stmt->put_bytes = 0;
    stmt->put_wide_carry_length = 0;
    return SQL_NEED_DATA;
  }
  return post_put_result(stmt, result);
}

void Reset_parameters(tagSTMT* stmt, bool full) {
  if (full) stmt->param_index = 0;
  stmt->param_flags &= ~(kParamDataSupplied | kParamFinalFlush);
  stmt->put_bytes = 0;
  stmt->put_wide_carry_length = 0;
  delete stmt->put_converter;
  stmt->put_converter = nullptr;
}

void Free_parameters(tagSTMT* stmt, tagDESC* app, tagDESC* impl) {
  (void)impl;
  Reset_parameters(stmt, true);
  stmt->param_flags &= ~kParamAwaitingData;
  if (app == nullptr) return;
  for (SQLSMALLINT k = 0; k < app->count; ++k) {
    tagITEM* rec = app->records[k];
    if (rec != nullptr && (rec->flags & kItemInVariable) != 0) DBDropBlobVariable(stmt, rec);
  }
  if ((stmt->param_flags & kParamVarPrepared) != 0) {
    DBUnPrepareVar(stmt);
    stmt->param_flags &= ~kParamVarPrepared;
  }
}

// ---- Binding and description -----------------------------------------------------------------

SQLRETURN DoSQLBindParameter(tagSTMT* stmt, SQLUSMALLINT number, SQLSMALLINT io_type,
                             SQLSMALLINT c_type, SQLSMALLINT sql_type, SQLULEN column_size,
                             SQLSMALLINT digits, SQLPOINTER value, SQLLEN buffer_length,
                             SQLLEN* indicator) {
  if (AwaitingData(stmt)) return post(stmt, kStateHY010, kStateS1010);
  if (value == nullptr && indicator == nullptr && io_type != SQL_PARAM_OUTPUT)
    return post(stmt, kStateHY009, kStateS1009);
  if (number == 0) return post(stmt, kState07009, kStateS1093Ok);
  if (io_type != SQL_PARAM_INPUT && io_type != SQL_PARAM_INPUT_OUTPUT &&
      io_type != SQL_PARAM_OUTPUT)
    return post(stmt, kStateHY105, kStateHY105);
  if (!Valid_fCType(c_type)) return post(stmt, kStateHY003, kStateS1003);
  if (digits < 0) {
    if (sql_type == SQL_NUMERIC || sql_type == SQL_DECIMAL || sql_type == SQL_TIMESTAMP)
      return post(stmt, kStateHY021, kStateS1000);
    digits = 0;
  }
  if (buffer_length == -1) buffer_length = static_cast<SQLLEN>(column_size);
  if (number > 0x7FFF) return post(stmt, kState07009, kStateS1093Ok);
  tagDESC* apd = stmt->apd;
  tagITEM* rec = AccessDescItem(apd, static_cast<SQLSMALLINT>(number));
  if (rec == nullptr) {
    // The record could not be made: the descriptor's diagnostic goes to the statement.
    return post(stmt, kStateHY001, kStateS1001);
  }
  SQLSMALLINT type;
  SQLSMALLINT code;
  verbose_type(c_type, &type, &code);
  const SQLSMALLINT precision =
      static_cast<SQLSMALLINT>(column_size > 0x7FFF ? 0x7FFF : column_size);
  BindDescItem(rec, c_type, code, buffer_length, precision, digits, value, indicator, indicator);
  rec->type = type;
  rec->length = column_size;
  rec->parameter_type = io_type;
  (void)sql_type;  // the server's description of the parameter supplies its SQL type
  ++apd->change_counter;
  return stmt->retcode;
}

SQLRETURN DoSQLNumParams(tagSTMT* stmt, SQLSMALLINT* count) {
  if (stmt->state == kStmtAllocated) return post(stmt, kStateHY010, kStateS1010);
  if (count == nullptr) return post(stmt, kStateHY009, kStateS1009);
  *count = stmt->ipd != nullptr ? stmt->ipd->count : 0;
  return stmt->retcode;
}

SQLRETURN DoSQLDescribeParam(tagSTMT* stmt, SQLUSMALLINT number, SQLSMALLINT* sql_type,
                             SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  if (stmt->state == kStmtAllocated) return post(stmt, kStateHY010, kStateS1010);
  tagDESC* ipd = stmt->ipd;
  if (number == 0 || ipd == nullptr || number > static_cast<SQLUSMALLINT>(ipd->count))
    return post(stmt, kState07009, kStateS1093Ok);
  const tagITEM* rec = ipd->records[number - 1];
  // The whole length is reported: long parameters keep their size.
  if (sql_type != nullptr) *sql_type = rec != nullptr ? GetSQLType(rec->concise_type) : 0;
  if (size != nullptr) *size = rec != nullptr ? rec->length : 0;
  if (digits != nullptr) *digits = rec != nullptr ? rec->scale : 0;
  if (nullable != nullptr) *nullable = SQL_NULLABLE;
  return stmt->retcode;
}

// ---- Data at execution ---------------------------------------------------------------------

bool AwaitingData(const tagSTMT* stmt) { return (stmt->param_flags & kParamAwaitingData) != 0; }

void CancelDataAtExecution(tagSTMT* stmt) {
  if (!AwaitingData(stmt)) return;
  if (row_operation(stmt)) {
    CancelRowOperation(stmt);
    return;
  }
  // The execution did not happen: the statement is prepared, as before it.
  Free_parameters(stmt, stmt->apd, stmt->ipd);
  stmt->param_flags &= ~kParamBlockNeedData;
  stmt->param_set = 0;
  stmt->block_row = 0;
  if (stmt->state == kStmtExecuted) stmt->state = kStmtPrepared;
}

SQLRETURN DoSQLParamData(tagSTMT* stmt, SQLPOINTER* value) {
  if (value == nullptr) return post(stmt, kStateHY009, kStateS1009);
  if (!awaiting_data(stmt)) return post(stmt, kStateHY010, kStateS1010);
  const bool rows = row_operation(stmt);
  tagDESC* desc = app_desc(stmt);
  if (!rows) {
    const SQLULEN sets = desc->array_size == 0 ? 1 : desc->array_size;
    if (stmt->param_set >= sets) {
      stmt->param_flags &= ~kParamAwaitingData;
      return SQL_SUCCESS;
    }
  }
  if ((stmt->param_flags & kParamDataSupplied) != 0) {
    // The current value is complete: the rest of the set (or row) is converted. UTF-16
    // text that ends inside a character is malformed and ends the execution.
    const bool torn = stmt->put_wide_carry_length != 0;
    ++stmt->param_index;
    Reset_parameters(stmt, false);
    const SQLRETURN rc =
        torn ? post(stmt, kState22018, kState22005) : Parameter_descriptor(stmt, stmt->param_row);
    if (rc != SQL_NEED_DATA) {
      if (rows) {
        if (rc != SQL_SUCCESS) {
          // The row fails and the operation ends with it.
          SetRowStatus(stmt, stmt->pos_row, SQL_ROW_ERROR);
          CancelRowOperation(stmt);
          return stmt->retcode;
        }
        // Every value of the row is in place: the row is done and the operation goes on.
        // A later row that wants data is answered below.
        const SQLRETURN next = ResumeRowOperation(stmt);
        if (next != SQL_NEED_DATA) return next;
      } else {
        stmt->param_flags &= ~kParamAwaitingData;
        if (rc != SQL_SUCCESS) {
          stmt->state = kStmtPrepared;
          return stmt->retcode;
        }
        // Every value of the set is in place: the execution goes on from this set; a
        // later set that wants data is answered below.
        const SQLRETURN next = ResumeParameterSets(stmt);
        if (next != SQL_NEED_DATA) return next;
      }
    }
  }
  // Answer: the token the application bound for the parameter wanting data; for a row
  // operation the address of the row's value in the bound column.
  const std::int32_t p = stmt->param_index;
  if (p < 0 || p >= desc->count || desc->records[p] == nullptr)
    return post(stmt, kState07002, kState07001);
  tagITEM* rec = desc->records[p];
  char* token = static_cast<char*>(rec->data_ptr);
  if (rows && token != nullptr)
    token = static_cast<char*>(
        FindRGBValue(stmt, rec, 0, token, stmt->pos_row, desc->bind_type));
  if (token != nullptr && desc->bind_offset_ptr != nullptr) token += *desc->bind_offset_ptr;
  *value = token;
  return SQL_NEED_DATA;
}

SQLRETURN DoSQLPutData(tagSTMT* stmt, SQLPOINTER data, SQLLEN length) {
  if (!awaiting_data(stmt)) return post(stmt, kStateHY010, kStateS1010);
  if (!row_operation(stmt)) {
    tagDESC* apd = stmt->apd;
    const SQLULEN sets = apd->array_size == 0 ? 1 : apd->array_size;
    if (stmt->param_set >= sets) return SQL_SUCCESS;
  }
  tagITEM* app;
  tagITEM* impl;
  a_cmdseq_desc_item* item;
  if (!current_parameter(stmt, &app, &impl, &item)) return post(stmt, kState07002, kState07001);
  a_cmdseq_value& v = item->values()[0];
  const bool first = (stmt->param_flags & kParamDataSupplied) == 0;

  if (length == SQL_NULL_DATA || length == SQL_DEFAULT_PARAM) {
    if (v.indicator != nullptr) *v.indicator = length == SQL_NULL_DATA ? -1 : 0;
    if (length == SQL_DEFAULT_PARAM) v.data = nullptr;
    stmt->param_flags |= kParamDataSupplied;
    return stmt->retcode;
  }
  if (data == nullptr && length != 0) return post(stmt, kStateHY009, kStateS1009);
  if (length < 0 && length != SQL_NTS) return post(stmt, kStateHY090, kStateS1090);

  // UTF-16 pieces are converted whole into the connection's (or, for NCHAR, UTF-8) bytes
  // and then handled as narrow text.
  const char* bytes = static_cast<const char*>(data);
  SQLLEN n = length;
  std::unique_ptr<char, vq::base::UtFree> converted;
  const bool wide = app->concise_type == SQL_C_WCHAR;
  std::unique_ptr<char, vq::base::UtFree> joined;
  if (wide) {
    if (n == SQL_NTS) {
      n = 0;
      const auto* w = static_cast<const SQLWCHAR*>(data);
      while (w[n] != 0) ++n;
      n *= 2;
    }
    // Pieces may end anywhere, even inside a code unit or between the halves of a
    // surrogate pair: the unfinished end waits for the next piece.
    if (first) stmt->put_wide_carry_length = 0;
    const SQLLEN carried = stmt->put_wide_carry_length;
    if (carried != 0) {
      joined.reset(static_cast<char*>(ut_calloc(static_cast<std::size_t>(carried + n) + 1)));
      if (!joined) return post(stmt, kStateHY001, kStateS1001);
      std::memcpy(joined.get(), stmt->put_wide_carry, static_cast<std::size_t>(carried));
      if (n > 0) std::memcpy(joined.get() + carried, data, static_cast<std::size_t>(n));
      data = joined.get();
      n += carried;
    }
    SQLLEN whole = n - n % 2;
    if (whole >= 2) {
      const auto* last = static_cast<const unsigned char*>(data) + whole - 2;
      const unsigned unit = last[0] | (last[1] << 8);
      if (unit >= 0xD800 && unit <= 0xDBFF) whole -= 2;
    }
    stmt->put_wide_carry_length = static_cast<unsigned char>(n - whole);
    std::memcpy(stmt->put_wide_carry, static_cast<const char*>(data) + whole,
                static_cast<std::size_t>(n - whole));
    n = whole;
    tagDBC* dbc = dbc_of(stmt);
    CharsetConverter* conv = app->effective_type == -30 && dbc->wide_to_nchar != nullptr
                                 ? dbc->wide_to_nchar
                                 : dbc->wide_to_conn;
    if (conv == nullptr) return post(stmt, kStateHY001, kStateS1001);
    const std::size_t room = static_cast<std::size_t>(n) * 2 + 1;
    converted.reset(static_cast<char*>(ut_calloc(room)));
    if (!converted) return post(stmt, kStateHY001, kStateS1001);
    unsigned int written = 0;
    if (n > 0) {
      const int r = conv->Convert(reinterpret_cast<unsigned char*>(converted.get()),
                                  static_cast<unsigned int>(room), &written,
                                  static_cast<const unsigned char*>(data),
                                  static_cast<unsigned int>(n));
      if (r != kConvDone) return post(stmt, kState22018, kState22005);
    }
    bytes = converted.get();
    n = written;
  } else if (n == SQL_NTS) {
    n = static_cast<SQLLEN>(std::strlen(bytes));
  }

  stmt->param_flags |= kParamPuttingData;
  const SQLSMALLINT sql_type = impl != nullptr ? impl->concise_type : 0;
  const auto parameter = static_cast<std::uint32_t>(stmt->param_index);
  const SQLSMALLINT eff = app->effective_type;
  const bool hex = !wide && app->concise_type == SQL_C_CHAR && (eff == -2 || eff == -3 || eff == -4);
  // What goes into a server variable is already in the wire form: hexadecimal text
  // becomes bytes first, and a digit that is not one is reported, never skipped.
  std::unique_ptr<char, vq::base::UtFree> binary;
  auto to_variable = [&](const char* text, SQLLEN chars) -> SQLRETURN {
    if (!hex) return DBPutDataUsingBlobs(stmt, app, parameter, sql_type, item, text, chars);
    if (chars % 2 != 0) return post(stmt, kState22018, kState22005);
    binary.reset(static_cast<char*>(ut_calloc(static_cast<std::size_t>(chars / 2) + 1)));
    if (!binary) return post(stmt, kStateHY001, kStateS1001);
    if (char_to_binary(text, reinterpret_cast<std::uint8_t*>(binary.get()),
                       static_cast<std::size_t>(chars / 2)) == 0)
      return post(stmt, kState22018, kState22005);
    return DBPutDataUsingBlobs(stmt, app, parameter, sql_type, item, binary.get(), chars / 2);
  };
  SQLRETURN rc = stmt->retcode;
  if ((app->flags & kItemInVariable) != 0) {
    rc = to_variable(bytes, n);
  } else if (first && (app->flags & kItemInPlace) != 0) {
    // A fixed-size value given in one piece: kept in the record's own buffer, since the
    // application's piece need not outlive this call.
    a_odbc_item_list* list = value_list(stmt);
    const std::size_t size = item->type == -22 ? 16 : item->length;
    if (AllocItemBuffer(stmt, app, size, list->rows, list, static_cast<std::uint32_t>(stmt->param_index), list->columns) == 0) {
      rc = post(stmt, kStateHY001, kStateS1001);
    } else if (bytes == nullptr || static_cast<std::size_t>(n) < size) {
      rc = post(stmt, kStateHY090, kStateS1090);
    } else {
      char* buf = app->buffer + stmt->param_row * app->element_bytes;
      std::memcpy(buf, bytes, size);
      v.data = buf;
      if (v.indicator != nullptr) *v.indicator = 0;
    }
  } else if (first) {
    // The first piece is converted like a bound value.
    const SQLSMALLINT saved = app->concise_type;
    if (wide) app->concise_type = SQL_C_CHAR;
    SQLLEN piece = n;
    const int r = DBPutBound(stmt, app, impl, item, const_cast<char*>(bytes), n, &piece,
                             nullptr, stmt->param_row);
    app->concise_type = saved;
    if (r == kPutDone) {
      stmt->put_bytes = item->length;
      if (item->type == 9 && stmt->put_bytes > 0) --stmt->put_bytes;  // its NUL
    } else {
      rc = post_put_result(stmt, r == kPutNeedData ? kPutBadLength : r);
      if (r == kPutNeedData) rc = post(stmt, kStateHY090, kStateS1090);
    }
  } else {
    const SQLULEN limit = stmt->max_length > 2 ? stmt->max_length - 2 : 0;
    const int r = DBPutPartialBound(stmt, app, impl, item, &bytes, &n,
                                    stmt->param_row, limit);
    if (r == kPutTruncated) {
      rc = to_variable(bytes, n);
    } else if (r != kPutDone) {
      rc = post_put_result(stmt, r);
    }
  }
  stmt->param_flags &= ~kParamPuttingData;
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) stmt->param_flags |= kParamDataSupplied;
  return rc == SQL_SUCCESS ? stmt->retcode : rc;
}

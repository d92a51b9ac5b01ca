// Posting diagnostic records: where a new record goes in the handle's list, what it does
// to the call's return code, and where its text comes from.
#include "odbc/diagnostics.h"

#include <cstring>
#include <limits>

#include "cmdseq/error_info.h"
#include "cmdseq/errors/error_table.h"
#include "utils/base/memory.h"

std::atomic<int> IS_JDBC{0};
std::atomic<int> OLEDB{0};

namespace {

// Bytes of the buffer a server error's text is built in.
constexpr std::size_t kServerTextBytes = 256;

// Ordering classes of a state, from its first two characters.
enum class DiagClass { Warning, NoData, Standard, Other };

DiagClass ClassOf(a_packed_sqlstate state) {
  const char c1 = static_cast<char>(((state >> 24) & 0x3F) + '0');
  const char c2 = static_cast<char>(((state >> 18) & 0x3F) + '0');
  if (c1 == '0' && c2 == '1') return DiagClass::Warning;
  if (c1 == '0' && c2 == '2') return DiagClass::NoData;
  if ((c1 >= '1' && c1 <= '9') || (c1 >= 'A' && c1 <= 'H')) return DiagClass::Standard;
  if (c1 == '0' && c2 >= '3' && c2 <= '9') return DiagClass::Standard;
  return DiagClass::Other;  // 00, 0A to 0Z, and classes from 'I' on (IM, S1 ...)
}

// True when the new record goes immediately before the existing record r.
bool GoesBefore(const tagDIAGREC& r, const tagDIAGREC& added) {
  if (r.row > added.row) return true;
  if (r.row != added.row) return false;
  if (r.odbc3 == added.odbc3 && r.column < added.column) return false;
  const DiagClass rc = ClassOf(r.odbc3);
  const DiagClass nc = ClassOf(added.odbc3);
  if (nc == DiagClass::Warning) return true;
  if (rc == DiagClass::Warning) return false;
  return nc == DiagClass::NoData || rc == DiagClass::NoData || rc == DiagClass::Standard ||
         nc == DiagClass::Other;
}

void FreeChain(tagOBJECT* h) {
  tagDIAGREC* r = h->first_rec.next;
  while (r != nullptr) {
    tagDIAGREC* next = r->next;
    ut_free(r->text);
    ut_free(r);
    r = next;
  }
  ut_free(h->first_rec.text);
  h->first_rec = tagDIAGREC{nullptr, kDiagNoPosition, nullptr, 0, kDiagNoPosition, 0, 0};
}

// A copy of at most `length` bytes of text, stopping at a terminator; null when there is
// no text or no memory.
char* CopyText(const char* text, SQLINTEGER length) {
  if (text == nullptr || length == 0) return nullptr;
  std::size_t n;
  if (length == SQL_NTS) {
    n = std::strlen(text);
  } else if (length < 0) {
    return nullptr;
  } else {
    const void* end = std::memchr(text, '\0', static_cast<std::size_t>(length));
    n = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - text)
                       : static_cast<std::size_t>(length);
  }
  char* copy = static_cast<char*>(ut_malloc(n + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, n);
  copy[n] = '\0';
  return copy;
}

// The server error of the connection's block as a record's text (null without memory).
char* ServerErrorText(tagDBC* connection) {
  char text[kServerTextBytes] = {};
  ODBCErrorMessage(connection, text, sizeof text);
  // XXX the translation library's data-source-to-driver conversion of this text belongs
  // here once connections can load one.
  return CopyText(text, SQL_NTS);
}

// Links the prepared record into h's list at its place. Runs under the lock that guards
// h's diagnostics.
void Insert(tagOBJECT* h, const tagDIAGREC& added) {
  const bool collapse = added.odbc3 == kStateHY001;
  if (h->record_count == 0 || collapse) {
    FreeChain(h);
    h->first_rec = added;
    h->first_rec.next = nullptr;
    h->record_count = 1;
    return;
  }
  auto* block = static_cast<tagDIAGREC*>(ut_malloc(sizeof(tagDIAGREC)));
  if (block == nullptr) {
    // Without room for a second record the newest one is kept alone.
    FreeChain(h);
    h->first_rec = added;
    h->first_rec.next = nullptr;
    h->record_count = 1;
    return;
  }
  if (GoesBefore(h->first_rec, added)) {
    // The new record takes the inline slot; the old first record moves to the block.
    *block = h->first_rec;
    h->first_rec = added;
    h->first_rec.next = block;
  } else {
    tagDIAGREC* prev = &h->first_rec;
    while (prev->next != nullptr && !GoesBefore(*prev->next, added)) prev = prev->next;
    *block = added;
    block->next = prev->next;
    prev->next = block;
  }
  ++h->record_count;
}

// The engine's code for a driver-made error: codes of -17000 and below share one row.
constexpr std::int32_t kFirstUnmappedCode = -17000;
constexpr std::int32_t kUnmappedCodeRow = -631;

}  // namespace

void FreeDiagRecords(tagOBJECT* h) {
  if (h == nullptr) return;
  FreeChain(h);
  h->record_count = 0;
  h->error_pos = 0;
  h->dyn_func_code = 0;
}

SQLRETURN AddDiagRecord(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2,
                        tagDBC* connection, const char* text, SQLINTEGER text_length,
                        std::int32_t row, std::int32_t column) {
  if (odbc3 == kStateNone) return h != nullptr ? h->retcode : SQL_SUCCESS;
  if (h == nullptr) return SQL_ERROR;

  // Text and native error are made before any lock is taken.
  tagDIAGREC added{nullptr, column, nullptr, 0, row, odbc3, odbc2};
  if (connection != nullptr) {
    added.native = connection->err.sqlcode;
    added.text = ServerErrorText(connection);
  } else {
    added.text = CopyText(text, text_length);
  }

  const bool is_env = h->kind == OBJ_ENV;
  if (is_env) EnterEnvCritSect();
  if (odbc3 < kFirstErrorState) {
    if (h->retcode == SQL_SUCCESS) h->retcode = SQL_SUCCESS_WITH_INFO;
  } else {
    h->retcode = SQL_ERROR;
  }
  if (added.row == kDiagNoPosition && h->kind == OBJ_STMT && h->state == kStmtOnRows) {
    const SQLULEN current = static_cast<tagSTMT*>(h)->rowset_row;
    constexpr SQLULEN kLargestRow = std::numeric_limits<std::int32_t>::max();
    added.row = static_cast<std::int32_t>(current < kLargestRow ? current + 1 : kLargestRow);
  }
  Insert(h, added);
  const SQLRETURN rc = h->retcode;
  if (is_env) LeaveEnvCritSect();
  return rc;
}

SQLRETURN AddSQLState(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2) {
  return AddDiagRecord(h, odbc3, odbc2, nullptr, nullptr, 0, kDiagNoPosition, kDiagNoPosition);
}

SQLRETURN PostSQLState(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2) {
  AddSQLState(h, odbc3, odbc2);
  return h != nullptr ? h->retcode : SQL_ERROR;
}

SQLRETURN AddSQLCustomState(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2,
                            const char* text, SQLINTEGER length) {
  return AddDiagRecord(h, odbc3, odbc2, nullptr, text, length, kDiagNoPosition,
                       kDiagNoPosition);
}

SQLRETURN AddTruncationState(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2,
                             std::int32_t column, std::int32_t row) {
  const std::int32_t shown = row < std::numeric_limits<std::int32_t>::max() ? row + 1 : row;
  return AddDiagRecord(h, odbc3, odbc2, nullptr, nullptr, 0, shown, column);
}

SQLRETURN AddSQLError(tagOBJECT* h) {
  if (h == nullptr || h->kind == OBJ_ENV) return SQL_ERROR;
  tagDBC* dbc = OwningDbc(h);
  if (dbc == nullptr) return SQL_ERROR;
  return AddDiagRecord(h, PackSQLState(dbc->err.odbc3_state),
                       PackSQLState(dbc->err.odbc2_state), dbc, nullptr, 0, kDiagNoPosition,
                       kDiagNoPosition);
}

SQLRETURN PostSQLError(tagOBJECT* h) {
  AddSQLError(h);
  return h != nullptr ? h->retcode : SQL_ERROR;
}

SQLRETURN AddNativeErrorWithParam(tagOBJECT* h, std::int32_t sqlcode, const char* parameter) {
  if (h == nullptr || h->kind == OBJ_ENV) return SQL_ERROR;
  tagDBC* dbc = OwningDbc(h);
  if (dbc == nullptr) return SQL_ERROR;
  a_cmdseq_error_info& err = dbc->err;
  if (err.sqlcode < 0) return SQL_SUCCESS;  // an earlier error stays

  const a_cmdseq_error_map* row =
      GetErrorMapForSQLCode(sqlcode <= kFirstUnmappedCode ? kUnmappedCodeRow : sqlcode);
  a_packed_sqlstate odbc3 = kStateNone;
  a_packed_sqlstate odbc2 = kStateNone;
  char server_state[6] = "00000";
  if (row != nullptr) {
    odbc3 = row->odbc3_state;
    odbc2 = row->odbc2_state;
    CmdSeqGetStateString(row->server_state, server_state);
  } else if (sqlcode < 0) {
    odbc3 = kStateHY000;
    odbc2 = kStateS1000;
    std::memcpy(server_state, "HY000", sizeof server_state);
  }
  // A warning the block held goes, with its message and parameters: the record's text
  // must be this error's, and the block's states must match it for later readers.
  char odbc3_text[6] = "00000";
  char odbc2_text[6] = "00000";
  if (odbc3 != kStateNone) {
    CmdSeqGetStateString(odbc3, odbc3_text);
    CmdSeqGetStateString(odbc2, odbc2_text);
  }
  i_cs_ForceErrorInfo(&err, sqlcode, server_state, odbc3_text, odbc2_text);
  if (parameter != nullptr) CmdSeqSetErrorParamStr(&err, parameter);
  return AddDiagRecord(h, odbc3, odbc2, dbc, nullptr, 0, kDiagNoPosition, kDiagNoPosition);
}

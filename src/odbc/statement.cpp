// Statements: allocation and release, prepare, execute and execute direct, the driver's
// autocommit, cursor close, more results and the cursor name.
//
// Divisions, in order:
//   1. Helpers
//   2. Allocation and release
//   3. Prepare (the common road of prepare and execute direct)
//   4. Execute
//   5. Close, more results, describe
//   6. Cursor name
#include "odbc/statement.h"

#include <cstring>
#include <string>

#include "odbc/attributes.h"
#include "odbc/descriptors.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/escape_translate.h"
#include "odbc/fetch.h"
#include "odbc/parameters.h"
#include "odbc/transactions.h"
#include "odbc/translation.h"
#include "odbc/type_mapping.h"
#include "utils/base/memory.h"

namespace {

// ============================================================================================
// 1. Helpers
// ============================================================================================

// Result codes of the prepare reply that this file tests (engine interface).
constexpr std::int32_t kResultNoData = 100;
constexpr std::int32_t kResultProcedureNoResult = 105;
constexpr std::int32_t kResultCursorChanged = 121;
// Server SQL codes that end a failed block execution instead of a set-by-set retry.
constexpr std::int32_t kSqlBlockCancelled = -299;
constexpr std::int32_t kSqlBlockFatal = -660;
// Servers from this version describe only statement kinds 5 and 13 on demand.
constexpr std::uint32_t kDescribeKindsVersion = 5500;
constexpr std::uint8_t kKindDescribedA = 5;
constexpr std::uint8_t kKindDescribedB = 13;

bool IsError(SQLRETURN rc) {
  return rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NEED_DATA &&
         rc != SQL_NO_DATA;
}
bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

}  // namespace

int StmtOdbcVersion(tagSTMT* stmt) {
  tagENV* env = OwningEnv(stmt);
  const SQLINTEGER declared =
      env != nullptr ? static_cast<SQLINTEGER>(UIntOption(env, SQL_ATTR_ODBC_VERSION))
                     : SQL_OV_ODBC3;
  return ODBCVersion(declared);
}

namespace {

tagDBC* Dbc(tagSTMT* stmt) { return OwningDbc(stmt); }

bool Autocommit(tagDBC* dbc) { return Option(dbc, SQL_ATTR_AUTOCOMMIT) != 0; }

bool Behaviour(tagDBC* dbc, std::uint32_t bits) { return (dbc->behaviour & bits) == bits; }

// Whether a commit before execution (AutoPreCommit) stopped the call.
bool PreCommitFailed(tagSTMT* stmt) {
  tagDBC* dbc = Dbc(stmt);
  if (!Behaviour(dbc, kBehavAutoPreCommit)) return false;
  if (DBCommit(dbc) < 0) {
    AddSQLError(stmt);
    return true;
  }
  dbc->cap_a &= static_cast<std::uint8_t>(~kCapInTransaction);
  return false;
}

// Drops the server's statement for this handle, when it holds one.
void DropServerStatement(tagSTMT* stmt) {
  if ((stmt->exec_flags & kStmtServerPrepared) != 0) {
    (void)DBUnPrepare(stmt);
    stmt->exec_flags &= static_cast<std::uint8_t>(~kStmtServerPrepared);
  }
}

// The rows a statement reported: a count of 0 with a result other than "no data" means
// the server gave none.
void TakeRowCount(tagSTMT* stmt, std::int32_t code, SQLLEN rows) {
  stmt->row_count = rows;
  if (rows != 0) return;
  if (code == kResultNoData) {
    if (StmtOdbcVersion(stmt) == 3) stmt->retcode = SQL_NO_DATA;
  } else {
    stmt->cursor_state = kCursorNoRows;
    stmt->row_count = -1;
  }
}

// The escape-translation context of a statement.
EscapeContext StatementEscapeContext(tagSTMT* stmt) {
  EscapeContext context = ConnectionEscapeContext(Dbc(stmt));
  context.no_scan = ULenOption(stmt, SQL_NOSCAN) != 0;
  return context;
}

// The statement's text escape-translated into translated_sql; is_insert set from it.
// false (diagnostic posted) when translation fails.
bool TranslateStatement(tagSTMT* stmt) {
  const tagSQLSTRING& sql = stmt->sql_text;
  if (SqlBeginsWithInsert(sql.text, sql.length)) {
    stmt->exec_flags |= kStmtIsInsert;
  } else {
    stmt->exec_flags &= static_cast<std::uint8_t>(~kStmtIsInsert);
  }
  std::string translated;
  EscapeError error;
  if (ODBCParse(StatementEscapeContext(stmt), sql.text, sql.length, &translated, &error) !=
      kEscapeOk) {
    PostSQLState(stmt, PackSQLState(error.state3), PackSQLState(error.state2));
    return false;
  }
  if (translated.size() > static_cast<std::size_t>(INT32_MAX) - 1) {
    PostSQLState(stmt, kStateHY090, kStateS1090);
    return false;
  }
  return MakeSQLString(stmt, &stmt->translated_sql, translated.data(),
                       static_cast<SQLINTEGER>(translated.size())) == 0;
}

// The connection's translation library (when loaded) converts the text to be sent in
// place. A failure is recorded on the connection and the statement goes on.
void TranslateForDataSource(tagSTMT* stmt) {
  tagDBC* dbc = Dbc(stmt);
  tagSQLSTRING& s = stmt->translated_sql;
  if (dbc->driver_to_data_source == nullptr || s.text == nullptr || s.length == 0) return;
  SQLINTEGER out_length = static_cast<SQLINTEGER>(s.length);
  const SQLRETURN saved = dbc->retcode;
  if (TranslateToDataSource(dbc, SQL_CHAR, s.text, static_cast<SQLINTEGER>(s.length),
                            &out_length) == SQL_SUCCESS &&
      out_length >= 0 && static_cast<std::uint32_t>(out_length) <= s.length) {
    s.length = static_cast<std::uint32_t>(out_length);
    s.text[s.length] = '\0';
  }
  dbc->retcode = saved;
}

}  // namespace

// ============================================================================================
// 2. Allocation and release
// ============================================================================================

SQLRETURN DoSQLAllocStmt(tagDBC* dbc, SQLHANDLE* out) {
  if (out == nullptr) return PostSQLState(dbc, kStateHY009, kStateS1009);
  *out = SQL_NULL_HSTMT;
  if (dbc->state <= kDbcBrowsing) return PostSQLState(dbc, kState08003, kState08003);
  auto* stmt = static_cast<tagSTMT*>(Allocate_object(dbc, OBJ_STMT));
  if (stmt == nullptr) return dbc->retcode;
  if (AllocStmtDescriptors(stmt) != 0) {
    Free_object(stmt);
    return dbc->retcode;
  }
  stmt->cursor_state = kCursorExpected;
  InitStmtAttributes(stmt);
  DBInitStmt(stmt);
  stmt->state = kStmtAllocated;
  *out = stmt;
  return dbc->retcode;
}

SQLRETURN DoSQLFreeStmt(tagSTMT* stmt, SQLUSMALLINT option) {
  // Closing ends a dialogue of data at execution; the bindings it reads stay until then.
  if ((option == SQL_UNBIND || option == SQL_RESET_PARAMS) && AwaitingData(stmt))
    return PostSQLState(stmt, kStateHY010, kStateS1010);
  switch (option) {
    case SQL_CLOSE:
      CloseStatement(stmt);
      FreeParamLists(stmt);
      return stmt->retcode;
    case SQL_DROP: {
      CloseStatement(stmt);
      if (stmt->state > kStmtAllocated) DropServerStatement(stmt);
      FreeParamLists(stmt);
      DBFreeStmt(stmt);
      FreeStmtDescriptors(stmt);
      FreeSQLString(&stmt->sql_text);
      FreeSQLString(&stmt->translated_sql);
      if (tagDBC* dbc = Dbc(stmt); dbc != nullptr) {
        tagSTMT* self = stmt;
        dbc->current_stmt.compare_exchange_strong(self, nullptr);
      }
      Free_object(stmt);
      return SQL_SUCCESS;
    }
    case SQL_UNBIND:
      UnBindBookmark(stmt->ard);
      FreeDescriptor(stmt->ard);
      ++stmt->ard->change_counter;
      return stmt->retcode;
    case SQL_RESET_PARAMS:
      Free_parameters(stmt, stmt->apd, stmt->ipd);
      FreeDescriptor(stmt->apd);
      ++stmt->apd->change_counter;
      FreeParamLists(stmt);
      return stmt->retcode;
    default:
      return PostSQLState(stmt, kStateHY092, kStateS1092);
  }
}

// ============================================================================================
// 3. Prepare
// ============================================================================================

namespace {

// The cursor the server opened in the request (or by an open): the open-cursor count, the
// fetch position and the description. `granted` are the cursor options the server gave
// when they differ from those asked for (result 121).
void SetCursorOpened(tagSTMT* stmt, std::int32_t* code, SQLLEN rows, std::uint32_t granted,
                     bool count_cursor) {
  if (*code == kResultProcedureNoResult) {
    stmt->state = kStmtExecuted;
    stmt->cursor_state = kCursorExpected;
    FreeDescriptor(stmt->ird);
    (void)DBCloseCursor(stmt, 0);
    *code = 0;
    return;
  }
  if (*code == kResultCursorChanged) {
    SQLULEN concurrency = SQL_CONCUR_READ_ONLY;
    if ((granted & 0x2) == 0) {
      switch (granted & 0x2200) {
        case 0x200: concurrency = SQL_CONCUR_LOCK; break;
        case 0x2000: concurrency = SQL_CONCUR_ROWVER; break;
        case 0x2200: concurrency = SQL_CONCUR_VALUES; break;
        default: break;
      }
    }
    SQLULEN type = SQL_CURSOR_DYNAMIC;
    if ((granted & 0x4000) != 0) {
      type = SQL_CURSOR_FORWARD_ONLY;
    } else if ((granted & 0x400) != 0) {
      type = SQL_CURSOR_STATIC;
    } else if ((granted & 0x80) != 0) {
      type = SQL_CURSOR_KEYSET_DRIVEN;
    }
    (void)ChangeStmtOption(stmt, SQL_CONCURRENCY, concurrency);
    (void)ChangeStmtOption(stmt, SQL_CURSOR_TYPE, type);
  }
  if (count_cursor) ++Dbc(stmt)->open_cursors;
  ResetFetchState(stmt);
  stmt->cursor_state = kCursorOpen;
  stmt->row_count = rows;
  stmt->exec_flags &= static_cast<std::uint8_t>(~kStmtResultDescribed);
  stmt->state = kStmtExecuted;
  DescribeCursor(stmt);
}

// Prepare and execute direct share this road: the text is translated and prepared, and
// with `execute_now` executed (and its cursor opened) in the same request.
SQLRETURN PrepareText(tagSTMT* stmt, const char* text, SQLINTEGER length, bool execute_now) {
  if (stmt->cursor_state == kCursorOpen) return PostSQLState(stmt, kState24000, kState24000);
  if (length == SQL_NTS) {
    const std::size_t measured = std::strlen(text);
    if (measured > static_cast<std::size_t>(INT32_MAX)) {
      return PostSQLState(stmt, kStateHY090, kStateS1090);
    }
    length = static_cast<SQLINTEGER>(measured);
  }
  if (length <= 0) return PostSQLState(stmt, kStateHY090, kStateS1090);

  FreeDescriptor(stmt->ipd);
  FreeDescriptor(stmt->ird);
  FreeParamLists(stmt);
  if (stmt->state > kStmtAllocated) {
    DropServerStatement(stmt);
    stmt->state = kStmtAllocated;
    if (stmt->cursor_state == kCursorDeclared) stmt->cursor_state = kCursorExpected;
  }

  if (MakeSQLString(stmt, &stmt->sql_text, text, length) != 0) return stmt->retcode;
  stmt->exec_flags &= static_cast<std::uint8_t>(~kStmtResultDescribed);
  if (!TranslateStatement(stmt)) return stmt->retcode;
  TranslateForDataSource(stmt);

  unsigned executed = 0;
  unsigned opened = 0;
  SQLLEN rows = 0;
  std::uint32_t granted = 0;
  DBInitDescribe(stmt);
  std::int32_t code = DBPrepDescExecOpen(
      stmt, stmt->translated_sql.text, stmt->translated_sql.length,
      execute_now && stmt->apd->array_size == 1 ? 1 : 0, &executed, &opened, &rows, &granted);
  if (code >= 0) {
    DBDescribeData(stmt);
    if (executed != 0) {
      stmt->state = kStmtExecuted;
      TakeRowCount(stmt, code, rows);
    } else if (opened != 0) {
      SetCursorOpened(stmt, &code, rows, granted, true);
    }
    if (code >= 1 && code != kResultNoData) AddSQLError(stmt);
  } else {
    AddSQLError(stmt);
  }
  DBFiniDescribe(stmt);
  if (IsError(stmt->retcode)) return stmt->retcode;

  if (opened == 0) {
    if (stmt->state == kStmtExecuted) {
      stmt->cursor_state = kCursorNoResult;
      stmt->exec_flags &= static_cast<std::uint8_t>(~kStmtServerPrepared);
      return stmt->retcode;
    }
    stmt->cursor_state = stmt->ird->count > 0 ? kCursorExpected : kCursorNoResult;
    stmt->state = kStmtPrepared;
  }
  stmt->exec_flags |= kStmtServerPrepared;
  return stmt->retcode;
}

}  // namespace

SQLRETURN DoSQLPrepare(tagSTMT* stmt, const SQLCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return PostSQLState(stmt, kStateHY009, kStateS1009);
  stmt->exec_flags |= kStmtPreparedByUser;
  return PrepareText(stmt, reinterpret_cast<const char*>(text), length, false);
}

// ============================================================================================
// 4. Execute
// ============================================================================================

namespace {

bool SetIgnored(const tagDESC* apd, SQLULEN set) {
  return apd->array_status_ptr != nullptr && apd->array_status_ptr[set] != SQL_PARAM_PROCEED;
}

void SetParamStatus(tagSTMT* stmt, SQLULEN set, SQLUSMALLINT status) {
  if (stmt->ipd->array_status_ptr != nullptr) stmt->ipd->array_status_ptr[set] = status;
}

SQLUSMALLINT StatusOf(SQLRETURN rc) {
  if (rc == SQL_SUCCESS) return SQL_PARAM_SUCCESS;
  if (rc == SQL_SUCCESS_WITH_INFO) return SQL_PARAM_SUCCESS_WITH_INFO;
  return SQL_PARAM_ERROR;
}

void SetRowsProcessed(tagSTMT* stmt, SQLULEN value) {
  if (stmt->ipd->rows_processed_ptr != nullptr) *stmt->ipd->rows_processed_ptr = value;
}

void ExecuteOneSet(tagSTMT* stmt) {
  (void)DBUnPrepareVar(stmt);
  DBPrepEngDescExecStmt(stmt, stmt->apd, stmt->ipd, 1, 1);
}

// Executes the block of parameter sets built so far (block_row + 1 rows ending at the
// current set) in one request.
void ExecuteBlock(tagSTMT* stmt) {
  stmt->batch_pending = 1;
  stmt->batch_count = stmt->block_row + 1;
  ExecuteOneSet(stmt);
  stmt->batch_pending = 0;
  stmt->batch_count = 0;
}

// The parameter-set loop from the current set on. With `converted` the current set's
// values are already in the parameter lists (the data-at-execution dialogue completed
// it). Block mode collects the sets of an INSERT into one request.
SQLRETURN RunParameterSets(tagSTMT* stmt, bool block, SQLULEN block_size, bool converted) {
  tagDESC* apd = stmt->apd;
  const SQLULEN sets = apd->array_size == 0 ? 1 : apd->array_size;
  while (stmt->param_set < sets) {
    if (!converted) {
      Reset_parameters(stmt, false);
      stmt->param_flags &= ~kParamBlockNeedData;
      SetRowsProcessed(stmt, stmt->param_set + 1);
      const SQLRETURN rc =
          Parameter_descriptor(stmt, block ? static_cast<unsigned>(stmt->block_row) : 0);
      if (!Succeeded(rc)) {
        if (rc != SQL_NEED_DATA) return stmt->retcode;
        if (SetIgnored(apd, stmt->param_set)) {
          ++stmt->param_set;
          Reset_parameters(stmt, false);
          stmt->retcode = SQL_SUCCESS;
          continue;
        }
        stmt->state = kStmtExecuted;
        if (block) stmt->param_flags |= kParamBlockNeedData;
        return SQL_NEED_DATA;
      }
    }
    converted = false;
    if (block) {
      if (stmt->block_row + 1 < block_size && stmt->param_set + 1 < sets) {
        ++stmt->block_row;
        ++stmt->param_set;
        continue;
      }
      ExecuteBlock(stmt);
      Reset_parameters(stmt, false);
      stmt->block_row = 0;
      if (Succeeded(stmt->retcode)) {
        if (stmt->ipd->array_status_ptr != nullptr) {
          for (SQLULEN i = 0; i <= stmt->param_set && i < sets; ++i) {
            if (stmt->ipd->array_status_ptr[i] == SQL_PARAM_UNUSED) {
              stmt->ipd->array_status_ptr[i] = SQL_PARAM_SUCCESS;
            }
          }
        }
        ++stmt->param_set;
        continue;
      }
      const std::int32_t sqlcode = Dbc(stmt)->err.sqlcode;
      if (sqlcode == kSqlBlockCancelled || sqlcode == kSqlBlockFatal) return stmt->retcode;
      // Any other failure of the block: every set again on its own, from the first, so
      // that each status entry tells its own outcome (those the block marked start over
      // as unused).
      if (stmt->ipd->array_status_ptr != nullptr) {
        for (SQLULEN i = 0; i < sets; ++i) stmt->ipd->array_status_ptr[i] = SQL_PARAM_UNUSED;
      }
      stmt->param_set = 0;
      stmt->row_count = 0;
      FreeDiagRecords(stmt);
      stmt->retcode = SQL_SUCCESS;
      block = false;
      block_size = 1;
      FreeParamLists(stmt);
      if (SetupParamDesc(stmt, 1) == 0) return stmt->retcode;
      continue;
    }
    if (SetIgnored(apd, stmt->param_set)) {
      ++stmt->param_set;
      continue;
    }
    const SQLRETURN before = stmt->retcode;
    stmt->retcode = SQL_SUCCESS;
    ExecuteOneSet(stmt);
    Reset_parameters(stmt, false);
    const SQLRETURN set_rc = stmt->retcode;
    SetParamStatus(stmt, stmt->param_set, StatusOf(set_rc));
    if (before == SQL_SUCCESS_WITH_INFO && set_rc == SQL_SUCCESS) stmt->retcode = before;
    if (IsError(set_rc)) return stmt->retcode;
    // A result set was opened: the remaining sets wait for SQLMoreResults.
    if (stmt->cursor_state == kCursorOpen) return stmt->retcode;
    ++stmt->param_set;
  }
  return stmt->retcode;
}

// An execution of the prepared statement with every parameter set.
SQLRETURN ExecutePrepared(tagSTMT* stmt) {
  if (AwaitingData(stmt)) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (stmt->state == kStmtAllocated) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (stmt->cursor_state == kCursorOpen) return PostSQLState(stmt, kState24000, kState24000);

  tagDESC* apd = stmt->apd;
  const SQLULEN sets = apd->array_size == 0 ? 1 : apd->array_size;
  stmt->row_count = 0;
  const bool block = (stmt->exec_flags & kStmtIsInsert) != 0 && sets > 1 &&
                     apd->array_status_ptr == nullptr;
  SQLULEN block_size = block ? sets : 1;

  if (stmt->ipd->array_status_ptr != nullptr) {
    for (SQLULEN i = 0; i < sets; ++i) stmt->ipd->array_status_ptr[i] = SQL_PARAM_UNUSED;
  }
  stmt->param_flags &= ~kParamRowValues;
  if (apd->change_counter + 1 != stmt->apd_copy_counter) {
    FreeParamLists(stmt);
    stmt->apd_copy_counter = apd->change_counter + 1;
  }
  // The descriptor's array size is at most 65535 (kMaxDescArraySize).
  if (SetupParamDesc(stmt, static_cast<unsigned short>(block_size)) == 0) return stmt->retcode;
  // The block is no larger than the sets the lists could be built for.
  if (block && stmt->param_list != nullptr && stmt->param_list->rows < block_size) {
    block_size = stmt->param_list->rows == 0 ? 1 : stmt->param_list->rows;
  }
  stmt->param_set = 0;
  stmt->block_row = 0;
  return RunParameterSets(stmt, block, block_size, false);
}

}  // namespace

SQLRETURN ExecuteOnce(tagSTMT* stmt, int mode) {
  tagDBC* dbc = Dbc(stmt);
  if (stmt->cursor_state < kCursorExpected) {
    dbc->cap_a |= kCapInTransaction;
    const bool commit = Autocommit(dbc) && !Behaviour(dbc, kBehavLazyAutocommit) && mode < 2;
    SQLLEN rows = 0;
    // A block of INSERT parameter sets goes in one request.
    const int sets = stmt->batch_pending != 0 ? static_cast<int>(stmt->batch_count) : 1;
    const std::int32_t code = DBExecute(stmt, sets, &rows, commit ? 1 : 0);
    if (rows > 0) stmt->row_count += rows;
    if (code >= 0) {
      if (commit) dbc->cap_a &= static_cast<std::uint8_t>(~kCapInTransaction);
      if (code >= 1 && code != kResultNoData) AddSQLError(stmt);
      if (rows == 0) {
        if (code == kResultNoData) {
          if (StmtOdbcVersion(stmt) == 3) stmt->retcode = SQL_NO_DATA;
        } else {
          stmt->cursor_state = kCursorNoRows;
          stmt->row_count = -1;
        }
      }
      stmt->state = kStmtExecuted;
      // Output parameters of the set come back with the execute.
      if (stmt->output_list != nullptr && sets == 1 && code != kResultNoData)
        (void)GetOutputParams(stmt, stmt->param_set);
      if (!commit) do_autocommit(stmt, true);
    } else {
      AddSQLError(stmt);
    }
    return stmt->retcode;
  }
  if (stmt->cursor_state == kCursorExpected) {
    if (DBDeclareCursor(stmt, stmt->cursor_kind) < 0) return PostSQLError(stmt);
    stmt->cursor_state = kCursorDeclared;
  }
  if (stmt->cursor_state == kCursorDeclared) {
    SQLLEN rows = 0;
    std::uint32_t granted = 0;
    // Prefetch on open: the first rows come with the open when the bound columns
    // cover the result and the fetch list can be built for them.
    const bool prefetch = Behaviour(Dbc(stmt), kBehavPrefetchOnOpen) && stmt->ird->count > 0 &&
                          stmt->ard->count == stmt->ird->count &&
                          SetupARDAndFetchDescForFetch(stmt, stmt->ard->array_size);
    std::int32_t code = DBOpenCursor(stmt, &rows, &granted, prefetch ? 1 : 0);
    if (code < 0) {
      AddSQLError(stmt);
      (void)DBCloseCursor(stmt, 0);
      return stmt->retcode;
    }
    SetCursorOpened(stmt, &code, rows, granted, true);
    if (code >= 1 && code != kResultNoData) AddSQLError(stmt);
  }
  return stmt->retcode;
}

void do_autocommit(tagSTMT* stmt, bool after_execute) {
  tagDBC* dbc = Dbc(stmt);
  if (after_execute) dbc->cap_a |= kCapInTransaction;
  // A connection without a server session has nothing to commit.
  if (!Autocommit(dbc) || dbc->state < kDbcConnected) return;
  if (after_execute && Behaviour(dbc, kBehavLazyAutocommit)) return;
  if (!after_execute && Behaviour(dbc, kBehavLazierAutocommit)) return;
  if (DBCommit(dbc) >= 0) {
    dbc->cap_a &= static_cast<std::uint8_t>(~kCapInTransaction);
  } else {
    AddSQLError(stmt);
  }
}

SQLRETURN ResumeParameterSets(tagSTMT* stmt) {
  const bool block = (stmt->param_flags & kParamBlockNeedData) != 0;
  stmt->param_flags &= ~kParamBlockNeedData;
  SQLULEN block_size = 1;
  if (block && stmt->param_list != nullptr && stmt->param_list->rows > 0) {
    block_size = stmt->param_list->rows;
  }
  return RunParameterSets(stmt, block, block_size, true);
}

SQLRETURN DoSQLExecute(tagSTMT* stmt) {
  if (PreCommitFailed(stmt)) return stmt->retcode;
  return ExecutePrepared(stmt);
}

SQLRETURN ExecDirect(tagSTMT* stmt, const char* text, SQLINTEGER length) {
  if (AwaitingData(stmt)) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (PreCommitFailed(stmt)) return stmt->retcode;
  stmt->exec_flags &= static_cast<std::uint8_t>(~kStmtPreparedByUser);
  stmt->param_set = 0;
  const bool execute_now = stmt->apd->count == 0;
  const SQLRETURN rc = PrepareText(stmt, text, length, execute_now);
  if (!Succeeded(rc)) return rc;
  if (execute_now && stmt->state == kStmtExecuted) {
    if (stmt->cursor_state != kCursorOpen) do_autocommit(stmt, true);
    return stmt->retcode;
  }
  return ExecutePrepared(stmt);
}

SQLRETURN DoSQLExecDirect(tagSTMT* stmt, const SQLCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return PostSQLState(stmt, kStateHY009, kStateS1009);
  return ExecDirect(stmt, reinterpret_cast<const char*>(text), length);
}

// ============================================================================================
// 5. Close, more results, describe
// ============================================================================================

void CloseStatement(tagSTMT* stmt) {
  tagDBC* dbc = Dbc(stmt);
  if (stmt->cursor_state == kCursorOpen) {
    const bool commit = Autocommit(dbc) && !Behaviour(dbc, kBehavLazierAutocommit);
    const std::int32_t code = DBCloseCursor(stmt, commit ? 1 : 0);
    stmt->cursor_state = kCursorDeclared;
    if (dbc->open_cursors > 0) --dbc->open_cursors;
    if (code < 0) {
      AddSQLError(stmt);
      do_autocommit(stmt, false);
    } else if (commit) {
      dbc->cap_a &= static_cast<std::uint8_t>(~kCapInTransaction);
    } else {
      do_autocommit(stmt, false);
    }
  } else {
    do_autocommit(stmt, false);
  }
  if (stmt->state > kStmtPrepared) {
    if ((stmt->exec_flags & kStmtPreparedByUser) == 0) {
      DropServerStatement(stmt);
      stmt->state = kStmtAllocated;
      if (stmt->cursor_state == kCursorDeclared) stmt->cursor_state = kCursorExpected;
    } else {
      stmt->state = kStmtPrepared;
    }
  }
  Free_parameters(stmt, stmt->apd, stmt->ipd);
  Free_parameters(stmt, stmt->ard, stmt->ird);
}

SQLRETURN DoSQLCloseCursor(tagSTMT* stmt) {
  if (stmt->cursor_state <= kCursorDeclared) {
    return PostSQLState(stmt, kState24000, kState24000);
  }
  CloseStatement(stmt);
  return stmt->retcode;
}

SQLRETURN DoSQLMoreResults(tagSTMT* stmt) {
  if (stmt->state < kStmtExecuted) return SQL_NO_DATA;
  if (stmt->cursor_state == kCursorOpen) {
    SQLLEN answer = 0;
    std::int32_t code = DBResume(stmt, &answer);
    if (code >= 0 && code != kResultProcedureNoResult) {
      if (code > 0 && code != kResultNoData) AddSQLError(stmt);
      SetCursorOpened(stmt, &code, answer, 0, false);
      return stmt->retcode;
    }
    if (code < 0) AddSQLError(stmt);
  }
  CloseStatement(stmt);
  SQLRETURN result = stmt->retcode == SQL_ERROR ? SQL_ERROR : SQL_NO_DATA;

  tagDESC* apd = stmt->apd;
  ++stmt->param_set;
  if (stmt->param_set >= apd->array_size || SetIgnored(apd, stmt->param_set)) return result;
  if (SetupParamDesc(stmt, 1) == 0) return stmt->retcode;
  Reset_parameters(stmt, false);
  stmt->param_flags &= ~kParamRowValues;
  stmt->retcode = SQL_SUCCESS;
  if (Parameter_descriptor(stmt, 0) == SQL_SUCCESS) {
    SetRowsProcessed(stmt, stmt->param_set + 1);
    (void)ExecuteOnce(stmt, 1);
    SetParamStatus(stmt, stmt->param_set, StatusOf(stmt->retcode));
  }
  return stmt->retcode;
}

void DescribeCursor(tagSTMT* stmt) {
  if ((stmt->exec_flags & kStmtResultDescribed) != 0 || stmt->cursor_state != kCursorOpen) {
    return;
  }
  tagDBC* dbc = Dbc(stmt);
  if (dbc->server_version >= kDescribeKindsVersion && stmt->stmt_kind != kKindDescribedA &&
      stmt->stmt_kind != kKindDescribedB) {
    return;
  }
  if ((dbc->behaviour & kBehavDescribeCursorNever) != 0) return;
  if ((dbc->behaviour & kBehavDescribeCursorAlways) == 0 &&
      (stmt->exec_flags & kStmtDescriptionFixed) != 0) {
    return;
  }
  FreeDescriptor(stmt->ird);
  DBInitDescribe(stmt);
  if (DBDescribeCursor(stmt) >= 0) {
    DBDescribeData(stmt);
  } else {
    AddSQLError(stmt);
  }
  DBFiniDescribe(stmt);
  stmt->exec_flags |= kStmtResultDescribed;
}

// ============================================================================================
// 6. Cursor name
// ============================================================================================

SQLRETURN DoSQLGetCursorName(tagSTMT* stmt, SQLCHAR* buffer, SQLSMALLINT buffer_length,
                             SQLSMALLINT* length_out) {
  if ((stmt->exec_flags & kStmtCursorNameSet) == 0 &&
      (stmt->state < kStmtExecuted || stmt->cursor_state < kCursorExpected)) {
    return PostSQLState(stmt, kStateHY015, kStateS1015);
  }
  stmt->exec_flags |= kStmtCursorNameUsed;
  ReturnString(stmt, buffer, buffer_length, length_out, stmt->name, SQL_NTS);
  return stmt->retcode;
}

SQLRETURN DoSQLSetCursorName(tagSTMT* stmt, const SQLCHAR* name, SQLSMALLINT length) {
  if (stmt->cursor_state == kCursorOpen) return PostSQLState(stmt, kState24000, kState24000);
  if (name == nullptr) return PostSQLState(stmt, kStateHY009, kStateS1009);
  const char* text = reinterpret_cast<const char*>(name);
  std::size_t bytes = 0;
  if (length == SQL_NTS) {
    bytes = strnlen(text, kMaxCursorName + 1);
  } else if (length < 0) {
    return PostSQLState(stmt, kStateHY090, kStateS1090);
  } else {
    bytes = static_cast<std::size_t>(length);
  }
  if (bytes > static_cast<std::size_t>(kMaxCursorName)) {
    return PostSQLState(stmt, kState34000, kState34000);
  }
  // The name is carried as a NUL-terminated text: a NUL inside it would cut it short.
  if (bytes == 0 || std::memchr(text, '\0', bytes) != nullptr) {
    return PostSQLState(stmt, kState34000, kState34000);
  }
  for (tagOBJECT* other = stmt->parent->first_child; other != nullptr;
       other = other->next_sibling) {
    if (other == stmt || other->kind != OBJ_STMT) continue;
    if (strncasecmp(other->name, text, bytes) == 0 && other->name[bytes] == '\0') {
      return PostSQLState(stmt, kState3C000, kState3C000);
    }
  }
  std::memcpy(stmt->name, text, bytes);
  stmt->name[bytes] = '\0';
  stmt->exec_flags |= kStmtCursorNameSet;
  return stmt->retcode;
}

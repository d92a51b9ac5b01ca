// Statement-level requests of the engine interface: prepare and describe, the combined
// prepare-describe-execute-open, execute with parameter arrays in batches, cursor open,
// describe, close and resume, positioned writes through a cursor and statement drops.
//
// Each request clears the connection's error block first, answers -308 (08S01) when the
// connection has no client connection, and maps the client's result once.
#include <cstring>

#include "cmdseq/cursor.h"
#include "cmdseq/statement.h"
#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "odbc/attributes.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/parameters.h"

namespace {

constexpr std::uint8_t kCapAServer8000 = 0x04;  // byte A: server 8000 or later

// Describe options of every statement describe: output and input, option 135.
constexpr std::uint16_t kDescribeOption = 135;

// Statement kind of a text of several statements among which a query (prepare reply).
constexpr std::uint8_t kKindBatch = 13;

// Prepare flags: describe with the prepare; read-only statements add 0x01.
constexpr std::uint16_t kPrepareDescribe = 2;
constexpr std::uint16_t kPrepareReadOnly = 1;

// Open-option words of the cursor kinds and concurrencies.
constexpr std::uint32_t kOpenForwardOnly = 0x4000;
constexpr std::uint32_t kOpenDynamic = 0x100;
constexpr std::uint32_t kOpenKeyset = 0x80;
constexpr std::uint32_t kOpenStatic = 0x400;
constexpr std::uint32_t kOpenIsolation = 0x40;

// The statement's connection and its client connection with a cleared error block, or
// null (the -308 block written) when there is none.
a_cmdseq_conn* begin_request(tagSTMT* stmt, tagDBC** dbc_out) {
  tagDBC* dbc = OwningDbc(stmt);
  *dbc_out = dbc;
  if (dbc == nullptr) return nullptr;
  a_cmdseq_conn* conn = dbc->conn.load();
  CmdSeqResetErrorParam(&dbc->err, conn);
  if (conn == nullptr) DBNotConnected(dbc);
  return conn;
}

// The values of the rows an insert or update through the cursor sends: the fetch list
// built for row values, else the parameter list.
a_odbc_item_list* row_values(tagSTMT* stmt) {
  if (stmt->fetch_list != nullptr && stmt->fetch_list_mode == kFetchListForUpdate)
    return stmt->fetch_list;
  return stmt->param_list;
}

// Points the output items at the buffers of the current parameter set: the
// application's own for values exchanged in place, else the record's internal buffer
// (row 0, where the set's input value was converted).
void PointOutputParams(tagSTMT* stmt) {
  a_odbc_item_list* out = stmt->output_list;
  tagDESC* apd = stmt->apd;
  tagDESC* ipd = stmt->ipd;
  if (out == nullptr || apd == nullptr || ipd == nullptr) return;
  const SQLLEN offset = apd->bind_offset_ptr != nullptr ? *apd->bind_offset_ptr : 0;
  std::uint32_t next = 0;
  for (SQLSMALLINT p = 0; p < ipd->count && next < out->columns; ++p) {
    const tagITEM* impl = ipd->records[p];
    if (impl == nullptr || impl->parameter_type == 0 || impl->parameter_type == SQL_PARAM_INPUT)
      continue;
    a_cmdseq_desc_item* item = CmdSeqFastGetDescItem(out->desc.items, next++, 1);
    tagITEM* app = p < apd->count ? apd->records[p] : nullptr;
    if (app == nullptr || item->type == 0) continue;
    char* target = nullptr;
    if ((app->flags & kItemInPlace) != 0) {
      target = static_cast<char*>(
          FindRGBValue(stmt, app, 0, app->data_ptr, stmt->param_set, apd->bind_type));
      if (target != nullptr) target += offset;
    } else {
      target = app->buffer;
    }
    item->values()[0].data = target;
  }
}

// The SQL code for a statement whose handle has no connection at all (a broken chain).
std::int32_t no_connection(tagDBC* dbc) {
  return dbc != nullptr ? kSqlNotConnected : kSqlClientFailure;
}

struct CursorOptions {
  std::uint32_t flags = 0;
  std::uint16_t isolation = 0;
};

// The open options of the statement's cursor: kind, isolation and concurrency bits.
// -300 for a kind or concurrency outside the tables, else 0.
std::int32_t BuildCursorOptions(tagSTMT* stmt, tagDBC* dbc, CursorOptions* out) {
  const bool server8000 = (dbc->cap_a & kCapAServer8000) != 0;
  std::uint32_t flags = 0;
  switch (stmt->cursor_kind) {
    case 0:
      flags = kOpenForwardOnly;
      break;
    case 1:
      flags = server8000 ? kOpenDynamic : 0;
      break;
    case 2:
      flags = kOpenKeyset;
      break;
    case 3:
      flags = kOpenStatic;
      break;
    default:
      return kSqlClientFailure;
  }
  std::uint16_t isolation = 0;
  if (Option(dbc, kAttrIsolationGiven) != 0) {
    isolation = static_cast<std::uint16_t>(Map_isolation(Option(dbc, SQL_ATTR_TXN_ISOLATION)));
    flags |= kOpenIsolation;
  }
  switch (stmt->concurrency) {
    case SQL_CONCUR_READ_ONLY:
      flags |= 0x02;
      break;
    case SQL_CONCUR_LOCK:
      flags |= server8000 ? 0x1200 : 0x1000;
      break;
    case SQL_CONCUR_ROWVER:
      flags |= server8000 ? 0x3000 : 0x1000;
      break;
    case SQL_CONCUR_VALUES:
      flags |= server8000 ? 0x3200 : 0x1000;
      break;
    default:
      return kSqlClientFailure;
  }
  out->flags = flags;
  out->isolation = isolation;
  return 0;
}

void fill_open(tagSTMT* stmt, a_cmdseq_conn* conn, const CursorOptions& options,
               a_cmdseq_open_param* open) {
  open->handle = &stmt->stmt_record;
  open->cursor_name = stmt->name;
  open->params = stmt->param_list != nullptr ? &stmt->param_list->desc : nullptr;
  open->open_value = options.isolation;
  open->options = options.flags;
  stmt->cursor.conn = conn;
  open->cursor = &stmt->cursor;
}

// The cursor options the server granted, when they differ from those asked for.
std::uint32_t granted(const a_cmdseq_open_param& open, const CursorOptions& asked) {
  return open.open_flags != 0 && open.open_flags != asked.flags ? open.open_flags : 0;
}

// A cursor record that goes away must be off its connection's list first. When the
// handle's connection is gone, the client freed its cursor list (and the fetch data of
// each cursor on it) with the connection; the record is only reset then.
void forget_cursor(tagSTMT* stmt, a_cmdseq_conn* conn) {
  if (conn != nullptr && stmt->cursor.conn == conn) {
    if ((stmt->cursor.flags_b & CS_CURSOR_B_OPEN) != 0) i_cs_RemoveCursor(conn, &stmt->cursor);
    i_cs_FreeAllFetchData(&stmt->cursor);
  }
  stmt->cursor = a_cmdseq_cursor{};
}

SQLLEN row_count(std::uint32_t count) { return static_cast<SQLLEN>(count); }

}  // namespace

void DBInitStmt(tagSTMT* stmt) {
  stmt->cursor = a_cmdseq_cursor{};
  stmt->describe_info = nullptr;
}

void DBFreeStmt(tagSTMT* stmt) {
  tagDBC* dbc = OwningDbc(stmt);
  a_cmdseq_conn* conn = dbc != nullptr ? dbc->conn.load() : nullptr;
  forget_cursor(stmt, conn);
  if (conn != nullptr && CmdSeqConnIsValid(conn) != 0) {
    if (stmt->stmt_record.info != nullptr) (void)CmdSeqDropStmt(conn, &dbc->err, &stmt->stmt_record);
    if (stmt->var_stmt_record.info != nullptr) {
      (void)CmdSeqDropStmt(conn, &dbc->err, &stmt->var_stmt_record);
    }
  }
  stmt->stmt_record = a_cmdseq_stmt_handle{};
  stmt->var_stmt_record = a_cmdseq_stmt_handle{};
  stmt->param_flags &= ~kParamVarPrepared;
  stmt->describe_info = nullptr;
  FreeFetchState(stmt);
}

std::int32_t DBDeclareCursor(tagSTMT*, std::int32_t) { return 0; }

void DBInitDescribe(tagSTMT* stmt) { stmt->describe_info = nullptr; }
void DBFiniDescribe(tagSTMT* stmt) { stmt->describe_info = nullptr; }

std::int32_t DBPrepDescExecOpen(tagSTMT* stmt, const char* text, unsigned length, int execute,
                                unsigned* executed, unsigned* opened, SQLLEN* rows,
                                std::uint32_t* granted_options) {
  *executed = 0;
  *opened = 0;
  *rows = 0;
  *granted_options = 0;
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) return no_connection(dbc);
  CursorOptions options;
  if (std::int32_t rc = BuildCursorOptions(stmt, dbc, &options); rc != 0) return rc;
  // A statement still held from an earlier prepare is released, not forgotten.
  if (stmt->stmt_record.info != nullptr) (void)CmdSeqDropStmt(conn, &dbc->err, &stmt->stmt_record);
  stmt->stmt_record = a_cmdseq_stmt_handle{};

  a_cmdseq_prep_param prep{};
  prep.text = text;
  prep.text_len = static_cast<std::int32_t>(length > 0x7FFFFFFFu ? 0x7FFFFFFFu : length);
  prep.flags = kPrepareDescribe;
  if (stmt->concurrency == SQL_CONCUR_READ_ONLY) prep.flags |= kPrepareReadOnly;
  prep.option = options.flags;
  a_cmdseq_describe_param describe;
  describe.option = kDescribeOption;
  describe.want_output = 1;
  describe.want_input = 1;

  a_cmdseq_return result;
  a_cmdseq_execute_param exec;
  a_cmdseq_open_param open;
  if (execute != 0) {
    fill_open(stmt, conn, options, &open);
    std::uint32_t did_execute = 0, did_open = 0;
    result = CmdSeqPrepareDescribeExecuteOpen(conn, &dbc->err, &stmt->stmt_record, &prep,
                                              &describe, &exec, &open, &did_execute, &did_open);
    *executed = did_execute;
    *opened = did_open;
  } else {
    result = CmdSeqPrepareDescribe(conn, &dbc->err, &stmt->stmt_record, &prep, &describe);
  }
  stmt->stmt_kind = stmt->stmt_record.value_b;
  // The description at prepare holds for the cursor unless the statement is a batch,
  // whose result sets each bring their own (described after the open and each resume).
  if (describe.complete != 0 && stmt->stmt_kind != kKindBatch) {
    stmt->exec_flags |= kStmtDescriptionFixed;
  } else {
    stmt->exec_flags &= static_cast<std::uint8_t>(~kStmtDescriptionFixed);
  }
  const std::int32_t sqlcode = MapCmdSeqResult(result, dbc, 0);
  if (sqlcode < 0) {
    // A failed request has already released the description it may have received.
    stmt->has_result = 0;
    *executed = 0;
    *opened = 0;
    return sqlcode;
  }
  stmt->has_result = describe.result != nullptr && describe.result->count > 0 ? 1 : 0;
  stmt->describe_info = describe.result;
  if (*executed != 0) {
    *rows = row_count(exec.row_count);
  } else if (*opened != 0) {
    *rows = row_count(open.info2);
    *granted_options = granted(open, options);
  }
  return sqlcode;
}

std::int32_t DBDescribeCursor(tagSTMT* stmt) {
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) return no_connection(dbc);
  a_cmdseq_describe_param describe;
  describe.option = kDescribeOption;
  describe.want_output = 1;
  describe.want_input = 1;
  const std::int32_t sqlcode =
      MapCmdSeqResult(CmdSeqDescribeCursor(conn, &dbc->err, &stmt->cursor, &describe), dbc, 0);
  if (sqlcode >= 0) stmt->describe_info = describe.result;
  return sqlcode;
}

std::int32_t DBOpenCursor(tagSTMT* stmt, SQLLEN* rows, std::uint32_t* granted_options,
                          int prefetch) {
  *rows = 0;
  *granted_options = 0;
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) return no_connection(dbc);
  CursorOptions options;
  if (std::int32_t rc = BuildCursorOptions(stmt, dbc, &options); rc != 0) return rc;
  a_cmdseq_open_param open;
  fill_open(stmt, conn, options, &open);
  // The fetch list of bound columns joins the open only when fetch has set it up.
  a_cmdseq_desc* bound = nullptr;
  std::uint16_t bound_rows = 0;
  if (prefetch != 0 && stmt->fetch_list != nullptr &&
      stmt->fetch_list_mode == kFetchListForFetch && stmt->ard != nullptr) {
    const SQLULEN wanted = stmt->ard->array_size;
    bound = &stmt->fetch_list->desc;
    bound_rows = static_cast<std::uint16_t>(wanted < stmt->fetch_list->rows ? wanted
                                                                            : stmt->fetch_list->rows);
  }
  const std::int32_t sqlcode = MapCmdSeqResult(
      CmdSeqOpenCursorPrefetch(conn, &dbc->err, &open, bound, bound_rows), dbc, 0);
  if (sqlcode < 0) return sqlcode;
  *rows = row_count(open.info2);
  *granted_options = granted(open, options);
  return sqlcode;
}

std::int32_t DBExecute(tagSTMT* stmt, int parameter_sets, SQLLEN* rows, int commit) {
  *rows = 0;
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) return no_connection(dbc);
  a_cmdseq_desc* list = stmt->param_list != nullptr ? &stmt->param_list->desc : nullptr;
  const std::uint32_t per_set = list != nullptr ? stmt->param_list->columns : 0;
  const std::uint32_t sets = parameter_sets < 1 ? 1u : static_cast<std::uint32_t>(parameter_sets);

  a_cmdseq_execute_param exec;
  exec.commit_mode = commit != 0 ? 1 : 0;
  if (list == nullptr || per_set == 0 || list->count == 0) {
    // No parameters: one request.
    exec.rows = 1;
    std::uint32_t commit_result = 0;
    const a_cmdseq_return result =
        commit != 0 ? CmdSeqExecuteCommit(conn, &dbc->err, &stmt->stmt_record, &exec, &commit_result)
                    : CmdSeqExecute(conn, &dbc->err, &stmt->stmt_record, &exec);
    const std::int32_t sqlcode = MapCmdSeqResult(result, dbc, 0);
    *rows = row_count(exec.row_count);
    return sqlcode;
  }

  // The list holds whole sets only; a request carries fewer than 32768 values.
  const std::uint32_t full_count = list->count;
  const std::uint32_t held_sets = full_count / per_set;
  std::uint32_t remaining = sets < held_sets ? sets : held_sets;
  if (remaining == 0) remaining = 1;
  const std::uint32_t per_request = static_cast<std::uint64_t>(remaining) * per_set < 32768
                                        ? remaining
                                        : kMaxValuesPerExecute / per_set;
  a_cmdseq_desc_item* const first = list->items;
  const std::uint32_t values = list->values_per_item;
  std::int64_t total = 0;
  std::int32_t sqlcode = 0;
  std::uint32_t done = 0;
  // Output parameters come back as the execute's column variables, one row: only an
  // execute of one set reads them.
  a_odbc_item_list* outputs = remaining == 1 ? stmt->output_list : nullptr;
  std::uint32_t outputs_count = 0;
  if (outputs != nullptr && outputs->columns != 0) {
    PointOutputParams(stmt);
    outputs_count = outputs->desc.count;
    outputs->desc.count = outputs->columns;
    exec.colvars = &outputs->desc;
  }
  while (remaining > 0) {
    const std::uint32_t this_request = remaining < per_request ? remaining : per_request;
    list->items = CmdSeqFastGetDescItem(first, done * per_set, values);
    list->count = this_request * per_set;
    exec.params = list;
    exec.rows = static_cast<std::uint16_t>(this_request);
    exec.row_count = 0;
    std::uint32_t commit_result = 0;
    // Only the last request commits: an earlier commit would end the transaction with a
    // part of the array sent.
    const bool last = this_request == remaining;
    const a_cmdseq_return result =
        commit != 0 && last
            ? CmdSeqExecuteCommit(conn, &dbc->err, &stmt->stmt_record, &exec, &commit_result)
            : CmdSeqExecute(conn, &dbc->err, &stmt->stmt_record, &exec);
    sqlcode = MapCmdSeqResult(result, dbc, 0);
    total += exec.row_count;
    done += this_request;
    remaining -= this_request;
    if (sqlcode != 0) break;
  }
  list->items = first;
  list->count = full_count;
  if (exec.colvars != nullptr) outputs->desc.count = outputs_count;
  *rows = total > 0 ? static_cast<SQLLEN>(total) : 0;
  return sqlcode;
}

std::int32_t DBInsert(tagSTMT* stmt, SQLLEN rows) {
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  // The rows' statuses are the caller's to write (the ARD's status array is the
  // application's row operation array, an input).
  tagDESC* ard = stmt->ard;
  const SQLULEN array_size = ard != nullptr && ard->array_size > 0 ? ard->array_size : 1;
  const SQLULEN n = rows < 1 ? 0 : static_cast<SQLULEN>(rows) > array_size
                                         ? array_size
                                         : static_cast<SQLULEN>(rows);
  stmt->next_insert_bookmark = 0;
  if (conn == nullptr) return no_connection(dbc);
  a_odbc_item_list* values = row_values(stmt);
  if (values == nullptr || values->columns == 0 || n == 0) return kSqlClientFailure;
  a_cmdseq_desc* list = &values->desc;
  const std::uint32_t columns = values->columns;
  const std::uint32_t per_request = static_cast<std::uint64_t>(n) * columns <= kMaxValuesPerPut
                                        ? static_cast<std::uint32_t>(n)
                                        : kMaxValuesPerExecute / columns;
  a_cmdseq_desc_item* const first = list->items;
  const std::uint32_t full_count = list->count;
  std::int32_t sqlcode = 0;
  SQLULEN sent = 0;
  while (sent < n) {
    const std::uint32_t this_request =
        n - sent < per_request ? static_cast<std::uint32_t>(n - sent) : per_request;
    if (static_cast<std::uint64_t>(sent + this_request) * columns > full_count) {
      sqlcode = kSqlClientFailure;
      break;
    }
    list->items = CmdSeqFastGetDescItem(first, static_cast<std::uint32_t>(sent) * columns,
                                        list->values_per_item);
    list->count = this_request * columns;
    a_cmdseq_put_param put;
    put.cursor = &stmt->cursor;
    put.rows_desc = list;
    put.rows = static_cast<std::uint16_t>(this_request);
    sqlcode = MapCmdSeqResult(CmdSeqPut(conn, &dbc->err, &put), dbc, 0);
    // Information 23: the bookmark of the first row this request inserted.
    if (sent == 0 && sqlcode >= 0) stmt->next_insert_bookmark = put.info23;
    sent += this_request;
    if (sqlcode != 0) break;
  }
  list->items = first;
  list->count = full_count;
  return sqlcode;
}

std::int32_t DBUpdate(tagSTMT* stmt) {
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) return no_connection(dbc);
  a_cmdseq_update_param update;
  update.cursor = &stmt->cursor;
  a_odbc_item_list* values = row_values(stmt);
  // One row of values: the first row of the list.
  const std::uint32_t full_count = values != nullptr ? values->desc.count : 0;
  if (values != nullptr) {
    if (values->columns < full_count) values->desc.count = values->columns;
    update.row_desc = &values->desc;
  }
  const std::int32_t sqlcode = MapCmdSeqResult(CmdSeqUpdate(conn, &dbc->err, &update), dbc, 0);
  if (values != nullptr) values->desc.count = full_count;
  return sqlcode;
}

std::int32_t DBDelete(tagSTMT* stmt) {
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) return no_connection(dbc);
  a_cmdseq_delete_param del;
  del.cursor = &stmt->cursor;
  return MapCmdSeqResult(CmdSeqDelete(conn, &dbc->err, &del), dbc, 0);
}

std::int32_t DBResume(tagSTMT* stmt, SQLLEN* result_out) {
  *result_out = 0;
  // The next result set has columns of its own.
  FreeFetchList(stmt);
  ResetGetData(stmt);
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) return no_connection(dbc);
  a_cmdseq_resume_param resume;
  resume.cursor = &stmt->cursor;
  const std::int32_t sqlcode =
      MapCmdSeqResult(CmdSeqResume(conn, &dbc->err, &resume), dbc, 0);
  *result_out = static_cast<SQLLEN>(static_cast<std::int32_t>(resume.info2));
  return sqlcode;
}

std::int32_t DBCloseCursor(tagSTMT* stmt, int commit) {
  // The next cursor may have other columns: its fetch list is built afresh, and no
  // get-data state outlives this one.
  FreeFetchList(stmt);
  ResetGetData(stmt);
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) {
    forget_cursor(stmt, nullptr);
    return no_connection(dbc);
  }
  a_cmdseq_close_param close;
  close.cursor_name = stmt->name;
  close.cursor = &stmt->cursor;
  std::uint32_t commit_result = 0;
  const a_cmdseq_return result =
      commit != 0 ? CmdSeqCloseCursorCommit(conn, &dbc->err, &close, &commit_result)
                  : CmdSeqCloseCursor(conn, &dbc->err, &close);
  return MapCmdSeqResult(result, dbc, 0);
}

std::int32_t DBUnPrepare(tagSTMT* stmt) {
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) {
    stmt->stmt_record = a_cmdseq_stmt_handle{};
    return no_connection(dbc);
  }
  const std::int32_t sqlcode =
      MapCmdSeqResult(CmdSeqDropStmt(conn, &dbc->err, &stmt->stmt_record), dbc, 0);
  stmt->stmt_record = a_cmdseq_stmt_handle{};
  return sqlcode;
}

std::int32_t DBUnPrepareVar(tagSTMT* stmt) {
  stmt->param_flags &= ~kParamVarPrepared;
  tagDBC* dbc = nullptr;
  a_cmdseq_conn* conn = begin_request(stmt, &dbc);
  if (conn == nullptr) {
    stmt->var_stmt_record = a_cmdseq_stmt_handle{};
    return no_connection(dbc);
  }
  const std::int32_t sqlcode =
      MapCmdSeqResult(CmdSeqDropStmt(conn, &dbc->err, &stmt->var_stmt_record), dbc, 0);
  stmt->var_stmt_record = a_cmdseq_stmt_handle{};
  return sqlcode;
}

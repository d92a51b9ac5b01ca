// Long parameter values in server variables. A value longer than the statement's maximum
// length is not sent inline: a server variable is created for it ("create variable"),
// filled chunk by chunk ("set v = v || ?", one execution per chunk), and when the
// statement runs its wire item becomes a reference to the variable (type -26). The
// variable is dropped again when the parameters are released.
//
// The variable's name is the statement's name, '_' and the parameter number (from 1).
// Statement names are made by the driver ("SQL_CUR_" and hexadecimal digits) or given by
// the application as cursor names; a name that is not a plain identifier is quoted, so
// that no name can change the statements built here.
#include <cstdio>
#include <cstring>
#include <string>

#include "cmdseq/statement.h"
#include "odbc/descriptors.h"
#include "odbc/diag_states.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/fetch.h"
#include "odbc/engine_one_item.h"
#include "odbc/handles.h"
#include "odbc/parameters.h"
#include "odbc/statement.h"
#include "utils/base/memory.h"

namespace {

constexpr std::int16_t kWireLongBinary = -4;
constexpr std::int16_t kWireLongVarchar = -1;
constexpr std::int16_t kWireLongNVarchar = -31;
constexpr std::int16_t kWireVariableRef = -26;

// The variable groups of SQL types: binary (BINARY, LONG VARBINARY) and wide text get
// their own variable types, everything else is long varchar. VARBINARY (-3) is kept
// with the binary types: its bytes must not pass through a character conversion.
bool binary_group(SQLSMALLINT sql_type) {
  return sql_type == SQL_BINARY || sql_type == SQL_VARBINARY || sql_type == SQL_LONGVARBINARY;
}
bool wide_group(SQLSMALLINT sql_type) {
  return sql_type == SQL_WCHAR || sql_type == SQL_WVARCHAR || sql_type == SQL_WLONGVARCHAR;
}
std::int16_t wire_type_of(SQLSMALLINT sql_type) {
  if (binary_group(sql_type)) return kWireLongBinary;
  if (wide_group(sql_type)) return kWireLongNVarchar;
  return kWireLongVarchar;
}
const char* variable_type_of(SQLSMALLINT sql_type) {
  if (binary_group(sql_type)) return " long binary";
  if (wide_group(sql_type)) return " long nvarchar";
  return " long varchar";
}

bool plain_identifier(const std::string& name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

// The name as the statements write it: plain, or double-quoted with inner quotes doubled.
std::string sql_name(const char* name) {
  std::string text(name);
  if (plain_identifier(text)) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

char* duplicate(const std::string& text) {
  auto* copy = static_cast<char*>(ut_malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

std::size_t chunk_size(const tagSTMT* stmt) {
  const SQLULEN max = stmt->max_length != 0 ? stmt->max_length : 262144;
  return static_cast<std::size_t>(max > 0x7FFFFFF0u ? 0x7FFFFFF0u : max);
}

// The server's error for a chunk that did not convert: 22018 with the conversion code.
std::int32_t conversion_failed(tagDBC* dbc) {
  dbc->err.sqlcode = -157;
  std::memcpy(dbc->err.odbc3_state, "22018", 6);
  std::memcpy(dbc->err.odbc2_state, "22005", 6);
  return -157;
}

// Sends `length` bytes already in the wire form into the variable in chunks of at most
// `chunk` bytes. 0 or the first failing SQL code.
std::int32_t send_bytes(tagSTMT* stmt, tagITEM* record, std::int16_t type, const char* data,
                        std::size_t length, std::size_t chunk) {
  OneItem list(type, 0, nullptr);
  if (!list.ok() || chunk == 0) return kSqlNoMemory;
  std::size_t at = 0;
  while (at < length) {
    const std::size_t n = length - at < chunk ? length - at : chunk;
    const std::int32_t rc =
        DBExecuteVar(stmt, list.set(data + at, static_cast<std::uint32_t>(n)));
    if (rc < 0) return rc;
    record->variable_sent += static_cast<SQLLEN>(n);
    at += n;
  }
  return 0;
}

}  // namespace

std::int32_t DBPrepareVar(tagSTMT* stmt, const char* text) {
  tagDBC* dbc = OwningDbc(stmt);
  if (dbc == nullptr) return kSqlClientFailure;
  a_cmdseq_conn* conn = dbc->conn.load();
  CmdSeqResetErrorParam(&dbc->err, conn);
  if (conn == nullptr) return DBNotConnected(dbc);
  if (stmt->var_stmt_record.info != nullptr) {
    (void)CmdSeqDropStmt(conn, &dbc->err, &stmt->var_stmt_record);
  }
  stmt->var_stmt_record = a_cmdseq_stmt_handle{};
  stmt->param_flags &= ~kParamVarPrepared;
  a_cmdseq_prep_param prep{};
  prep.text = text;
  prep.text_len = static_cast<std::int32_t>(std::strlen(text));
  prep.flags = 1;
  const std::int32_t sqlcode =
      MapCmdSeqResult(CmdSeqPrepare(conn, &dbc->err, &stmt->var_stmt_record, &prep), dbc, 0);
  if (sqlcode >= 0) stmt->param_flags |= kParamVarPrepared;
  return sqlcode;
}

std::int32_t DBExecuteVar(tagSTMT* stmt, a_cmdseq_desc* parameters) {
  tagDBC* dbc = OwningDbc(stmt);
  if (dbc == nullptr) return kSqlClientFailure;
  a_cmdseq_conn* conn = dbc->conn.load();
  CmdSeqResetErrorParam(&dbc->err, conn);
  if (conn == nullptr) return DBNotConnected(dbc);
  a_cmdseq_execute_param exec;
  exec.params = parameters;
  exec.rows = 1;
  return MapCmdSeqResult(CmdSeqExecute(conn, &dbc->err, &stmt->var_stmt_record, &exec), dbc, 0);
}

std::int32_t CreateBlobVariable(tagSTMT* stmt, tagITEM* record, std::uint32_t parameter,
                                SQLSMALLINT sql_type) {
  tagDBC* dbc = OwningDbc(stmt);
  if (dbc == nullptr) return kSqlClientFailure;
  char number[16];
  std::snprintf(number, sizeof number, "_%u", parameter + 1);
  const std::string name = sql_name((std::string(stmt->name) + number).c_str());
  ut_free(record->variable_name);
  record->variable_name = duplicate(name);
  if (record->variable_name == nullptr) return kSqlNoMemory;
  record->flags |= kItemInVariable;
  record->variable_sent = 0;

  const std::string create = "create variable " + name + variable_type_of(sql_type);
  std::int32_t sqlcode = DBPrepareVar(stmt, create.c_str());
  if ((stmt->param_flags & kParamVarPrepared) != 0) {
    sqlcode = DBExecuteVar(stmt, nullptr);
    if (sqlcode < 0) (void)AddSQLError(stmt);
  }
  if (sqlcode >= 0) {
    const std::string append = "set " + name + " = " + name + " || ?";
    sqlcode = DBPrepareVar(stmt, append.c_str());
  }
  if (sqlcode < 0) {
    (void)DBUnPrepareVar(stmt);
    ut_free(record->variable_name);
    record->variable_name = nullptr;
    record->flags &= ~kItemInVariable;
    return sqlcode;
  }
  return 0;
}

std::int32_t PutBlobChunks(tagSTMT* stmt, tagITEM* record, std::uint32_t parameter,
                           SQLSMALLINT sql_type, const char* data, SQLLEN length, bool hex) {
  if (length < 0) return kSqlClientFailure;
  const std::int16_t type = wire_type_of(sql_type);
  record->variable_sent = 0;
  if ((record->flags & kItemInVariable) == 0) {
    const std::int32_t rc = CreateBlobVariable(stmt, record, parameter, sql_type);
    if (rc < 0) return rc;
  }
  std::size_t chunk = chunk_size(stmt);
  if (!hex) return send_bytes(stmt, record, type, data, static_cast<std::size_t>(length), chunk);

  // Hexadecimal text: 2 x length characters become length bytes, half a chunk of bytes
  // per chunk of characters. A chunk that does not convert ends the send with 22018
  // rather than leaving a gap in the value.
  chunk /= 2;
  if (chunk == 0) chunk = 1;
  auto* buffer = static_cast<std::uint8_t*>(ut_malloc(chunk));
  if (buffer == nullptr) return kSqlNoMemory;
  std::int32_t rc = 0;
  const std::size_t total = static_cast<std::size_t>(length);
  for (std::size_t at = 0; at < total && rc == 0; at += chunk) {
    const std::size_t n = total - at < chunk ? total - at : chunk;
    if (char_to_binary(data + 2 * at, buffer, n) == 0) {
      tagDBC* dbc = OwningDbc(stmt);
      rc = dbc != nullptr ? conversion_failed(dbc) : kSqlClientFailure;
      break;
    }
    rc = send_bytes(stmt, record, type, reinterpret_cast<const char*>(buffer), n, n);
  }
  ut_free(buffer);
  return rc;
}

SQLRETURN DBPutDataUsingBlobs(tagSTMT* stmt, tagITEM* record, std::uint32_t parameter,
                              SQLSMALLINT sql_type, a_cmdseq_desc_item* wire_item,
                              const char* data, SQLLEN length) {
  const std::int16_t type = wire_type_of(sql_type);
  std::size_t limit = chunk_size(stmt);
  limit = limit > 2 ? limit - 2 : 1;
  if (wide_group(sql_type)) limit = limit / 2 > 0 ? limit / 2 : 1;
  if ((record->flags & kItemInVariable) == 0) {
    const std::int32_t rc = CreateBlobVariable(stmt, record, parameter, sql_type);
    if (rc < 0) {
      (void)AddSQLError(stmt);
      return stmt->retcode;
    }
    // The part of the value converted before the variable was needed goes first.
    if (wire_item != nullptr && wire_item->values()[0].data != nullptr) {
      const a_cmdseq_value& v = wire_item->values()[0];
      const std::uint32_t held = v.length != nullptr ? *v.length : 0;
      if (held > 0 && send_bytes(stmt, record, type, static_cast<const char*>(v.data), held,
                                 limit) < 0) {
        (void)AddSQLError(stmt);
        return stmt->retcode;
      }
    }
  }
  if (length > 0 && data != nullptr && stmt->retcode == SQL_SUCCESS) {
    if (send_bytes(stmt, record, type, data, static_cast<std::size_t>(length), limit) < 0) {
      (void)AddSQLError(stmt);
      return stmt->retcode;
    }
  }
  stmt->put_bytes = static_cast<SQLULEN>(record->variable_sent);
  return stmt->retcode;
}

void DBDropBlobVariable(tagSTMT* stmt, tagITEM* record) {
  if (record == nullptr || (record->flags & kItemInVariable) == 0) return;
  if (record->variable_name != nullptr) {
    const std::string drop = std::string("drop variable ") + record->variable_name;
    tagDBC* dbc = OwningDbc(stmt);
    if (dbc != nullptr && dbc->conn.load() != nullptr) {
      // The variable statement is replaced: it served the variable that goes now.
      if (DBPrepareVar(stmt, drop.c_str()) >= 0) (void)DBExecuteVar(stmt, nullptr);
      (void)DBUnPrepareVar(stmt);
    }
  }
  ut_free(record->variable_name);
  record->variable_name = nullptr;
  record->variable_sent = 0;
  record->flags &= ~kItemInVariable;
}

void DBPrepEngDescExecStmt(tagSTMT* stmt, tagDESC* apd, tagDESC* ipd, SQLLEN positioned,
                           int execute) {
  (void)ipd;
  // Every parameter whose value lives in a server variable refers to it for this
  // request; the items get their own values back afterwards.
  struct Saved {
    a_cmdseq_desc_item* item;
    std::int16_t type;
    std::uint32_t length;
    void* data;
    std::uint32_t* length_ptr;
    std::uint32_t value_length;
  };
  const SQLSMALLINT count = apd != nullptr ? apd->count : 0;
  Saved* saved = nullptr;
  std::size_t changed = 0;
  // Row values of an insert or update through the cursor live in the fetch list; the row
  // whose values went to a variable is the last of the request.
  const bool row_values = apd != nullptr && apd == stmt->ard;
  a_odbc_item_list* list = row_values ? stmt->fetch_list : stmt->param_list;
  const std::uint32_t per_set = list != nullptr ? list->columns : 0;
  const SQLULEN row = row_values ? static_cast<SQLULEN>(positioned > 0 ? positioned - 1 : 0)
                                 : stmt->block_row;
  if (count > 0) {
    saved = static_cast<Saved*>(ut_malloc(sizeof(Saved) * static_cast<std::size_t>(count)));
    if (saved == nullptr) {
      (void)PostSQLState(stmt, kStateHY001, kStateS1001);
      return;
    }
    for (SQLSMALLINT k = 1; k <= count; ++k) {
      tagITEM* record = FindDescItem(apd, k);
      if (record == nullptr || (record->flags & kItemInVariable) == 0 ||
          record->variable_name == nullptr || (!row_values && record->wire_item == nullptr)) {
        continue;
      }
      if (list == nullptr) continue;
      if (row_values && (static_cast<std::uint32_t>(k - 1) >= per_set || row >= list->rows))
        continue;
      a_cmdseq_desc_item* item =
          row_values ? CmdSeqFastGetDescItem(list->desc.items,
                                             static_cast<std::uint32_t>(row) * per_set +
                                                 static_cast<std::uint32_t>(k - 1),
                                             1)
          : per_set != 0 && list->desc.values_per_item != 0
              ? CmdSeqFastGetDescItem(record->wire_item, static_cast<std::uint32_t>(row) * per_set,
                                      list->desc.values_per_item)
              : record->wire_item;
      a_cmdseq_value& v = item->values()[0];
      saved[changed] = {item, item->type, item->length, v.data, v.length,
                        v.length != nullptr ? *v.length : 0};
      ++changed;
      const std::uint32_t name_length =
          static_cast<std::uint32_t>(std::strlen(record->variable_name));
      item->type = kWireVariableRef;
      item->length = name_length;
      v.data = record->variable_name;
      if (v.length != nullptr) *v.length = name_length;
      if (v.indicator != nullptr) *v.indicator = 0;
      (void)CmdSeqMarkDescItemUpdated(&list->desc, item);
    }
  }

  if (execute == 0) {
    // An insert or update through the cursor with the row values converted.
    (void)ExecPosOp(stmt, positioned);
  } else if (ipd != nullptr) {
    if (ipd->rows_processed_ptr != nullptr) *ipd->rows_processed_ptr = stmt->param_set + 1;
    const SQLUSMALLINT* operations = apd != nullptr ? apd->array_status_ptr : nullptr;
    if (operations == nullptr || operations[stmt->param_set] == SQL_PARAM_PROCEED) {
      const SQLRETURN rc = ExecuteOnce(stmt, 1);
      SQLUSMALLINT* status = ipd->array_status_ptr;
      if (status != nullptr) {
        const SQLUSMALLINT value = rc == SQL_SUCCESS            ? SQL_PARAM_SUCCESS
                                   : rc == SQL_SUCCESS_WITH_INFO ? SQL_PARAM_SUCCESS_WITH_INFO
                                                                 : SQL_PARAM_ERROR;
        if (stmt->batch_pending != 0) {
          // Every set of the batch shares the request's outcome; an error cannot be
          // placed on one set, so the batch reports "no diagnostic" for each.
          stmt->batch_pending = 0;
          const SQLUSMALLINT batch_value =
              value == SQL_PARAM_ERROR ? SQL_PARAM_DIAG_UNAVAILABLE : value;
          for (SQLULEN i = 0; i < stmt->batch_count && i <= stmt->param_set; ++i) {
            status[stmt->param_set - i] = batch_value;
          }
        } else {
          status[stmt->param_set] = value;
        }
      }
    }
    stmt->batch_count = 0;
  }

  for (std::size_t i = 0; i < changed; ++i) {
    a_cmdseq_value& v = saved[i].item->values()[0];
    saved[i].item->type = saved[i].type;
    saved[i].item->length = saved[i].length;
    v.data = saved[i].data;
    if (v.length != nullptr) *v.length = saved[i].value_length;
    (void)CmdSeqMarkDescItemUpdated(&list->desc, saved[i].item);
  }
  ut_free(saved);
}

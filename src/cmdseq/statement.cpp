// Statement requests (see statement.h).
#include "cmdseq/statement.h"

#include <cstring>
#include <ctime>

#include "cmdseq/request.h"
#include "cmdseq/transaction.h"
#include "cmdseq/wire_bytes.h"
#include "cmdseq/wire_values.h"
#include "utils/base/memory.h"
#include "utils/locale/utlocale.h"

using vq::cmdseq::load_le16;
using vq::cmdseq::load_le32;
using vq::cmdseq::store_le16;
using vq::cmdseq::store_le32;

namespace {

constexpr std::uint8_t kItemTimeZone = 3;
constexpr std::uint8_t kItemCharset = 4;
constexpr std::uint8_t kItemNCharset = 5;
constexpr std::uint8_t kItemValidate = 21;
constexpr std::uint8_t kItemPrepare = 22;
constexpr std::uint8_t kItemExecute = 24;
constexpr std::uint8_t kItemExecImm = 25;
constexpr std::uint8_t kItemDescribeInput = 27;
constexpr std::uint8_t kItemDescribeOutput = 28;
constexpr std::uint8_t kItemStmtHandle = 29;
constexpr std::uint8_t kItemPrepareInfo = 30;
constexpr std::uint8_t kItemCursorHandle = 44;  // ','
constexpr std::uint8_t kItemCursorCheck = 47;
constexpr std::uint8_t kItemPrepFlags = 136;
constexpr std::uint8_t kItemPrepOption = 142;

constexpr std::uint32_t kInfoCheckCursors = 0x40;
constexpr std::uint32_t kCursorClosedBit = 0x10000;
constexpr std::uint32_t kNoCacheSize = 0xFFFF8000u;  // slot 24 untouched (-32768)
constexpr std::int32_t kValidateFailed = -130;
constexpr std::uint32_t kMaxCharsetLabel = 50;

bool connected(const a_cmdseq_conn* conn) { return (conn->status & CS_STATUS_CONNECTED) != 0; }

a_cmdseq_return pres(a_cmdseq_conn* conn, a_cmdseq_error_info* err, a_sqlpres_code code) {
  return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
}

// Status, then information items into the given slots; slot 17 is processed.
a_cmdseq_return status_and_info(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                std::uint32_t* slots[kInfoSlots], std::uint32_t* flags_out,
                                a_cmdseq_cursor* current = nullptr) {
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(status)) return status;
  std::uint32_t flags = 0;
  slots[kInfoFlagsSlot] = &flags;
  const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, slots);
  if (flags_out != nullptr) *flags_out = flags;
  if (info != CMDSEQ_OK) return info;
  i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, current);
  return status;
}

}  // namespace

// --- Prepare and validate --------------------------------------------------------------------

a_cmdseq_return i_cs_SendPrepare(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 const a_cmdseq_prep_param* prep) {
  a_cmdseq_return r = pres(conn, err,
                           SQLPresSendBytes(conn->strm_conn, kItemPrepare, prep->text,
                                            static_cast<std::uint32_t>(prep->text_len), 0));
  if (r != CMDSEQ_OK) return r;
  std::uint16_t flags = prep->flags;
  if (conn->server_strm_ver < 15) flags &= static_cast<std::uint16_t>(~CS_PREP_WITH_OPTION);
  std::uint8_t* p = nullptr;
  r = pres(conn, err, SQLPresSend(conn->strm_conn, kItemPrepFlags, &p, 2, 0));
  if (r != CMDSEQ_OK) return r;
  store_le16(p, flags);
  if ((flags & CS_PREP_WITH_OPTION) == 0) return CMDSEQ_OK;
  return pres(conn, err, SQLPresSendHandle(conn->strm_conn, kItemPrepOption, prep->option, 0));
}

a_cmdseq_return i_cs_ReceivePrepare(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    a_cmdseq_stmt_info* info, a_cmdseq_stmt_handle* handle,
                                    a_cmdseq_prep_param* prep) {
  a_cs_item item;
  a_cmdseq_return r = i_cs_ReceiveItem(conn, err, &item);
  if (r != CMDSEQ_OK) return r;
  std::uint16_t param_count = 0;
  std::uint8_t value_b = 0;
  if (item.code == kItemPrepareInfo) {
    if (item.payload_bytes() < 4) return i_cs_ProtocolError(conn);
    param_count = load_le16(item.payload);
    value_b = item.payload[3];
    r = i_cs_ReceiveItem(conn, err, &item);
    if (r != CMDSEQ_OK) return r;
  }
  if (item.code != kItemStmtHandle || item.payload_bytes() < 4) return i_cs_ProtocolError(conn);
  info->server_stmt = load_le32(item.payload);
  handle->stmt_id = info->stmt_no;
  handle->param_count = param_count;
  handle->value_b = value_b;
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(status)) return status;
  if (status == CMDSEQ_OK || status == CMDSEQ_WARNING) info->flags |= CS_INFO_PREPARED;
  if (status == CMDSEQ_OK) {
    info->flags |= CS_INFO_PREPARE_CACHED;
    info->param_count = param_count;
    info->value_b = value_b;
  } else {
    info->flags &= static_cast<std::uint8_t>(~CS_INFO_PREPARE_CACHED);
  }
  std::uint32_t result_word = 0;
  std::uint32_t flags = 0;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[4] = &result_word;
  slots[kInfoFlagsSlot] = &flags;
  r = i_cs_ReceiveAllInfo(conn, err, slots);
  if (prep != nullptr) prep->result = result_word;
  if (r != CMDSEQ_OK) return r;
  i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, nullptr);
  return status;
}

a_cmdseq_return i_cs_SendValidate(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  a_cmdseq_stmt_info* info) {
  info->flags |= CS_INFO_VALIDATE_SENT;
  std::uint8_t* p = nullptr;
  a_cmdseq_return r = pres(conn, err, SQLPresSend(conn->strm_conn, kItemValidate, &p, 14, 0));
  if (r != CMDSEQ_OK) return r;
  store_le32(p, info->server_stmt);
  store_le32(p + 4, info->validation_stamp);
  store_le16(p + 8, conn->validate_counter16);
  store_le32(p + 10, conn->validate_counter32);
  return pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_END, 0));
}

a_cmdseq_return i_cs_ReceiveValidate(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     a_cmdseq_stmt_info* info) {
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(status)) return status;
  conn->validate_hits *= 0.99f;
  conn->validate_misses *= 0.99f;
  if (status == CMDSEQ_OK) {
    info->flags &= static_cast<std::uint8_t>(~(CS_INFO_CACHED_DROP | CS_INFO_VALIDATE_SENT));
    conn->validate_hits += 1;
  } else if (status == CMDSEQ_ERROR) {
    conn->validate_misses += 1;
    if (conn->validate_misses >= 5.0f && 2 * conn->validate_misses > conn->validate_hits) {
      conn->flags2 &= static_cast<std::uint8_t>(~CS_FLAGS2_CACHE_ON);
    }
  }
  std::uint32_t cache_size = kNoCacheSize;
  std::uint32_t flags = 0;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[kInfoFlagsSlot] = &flags;
  slots[24] = &cache_size;
  const a_cmdseq_return r = i_cs_ReceiveAllInfo(conn, err, slots);
  if (r != CMDSEQ_OK) return r;
  i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, nullptr);
  if (cache_size != kNoCacheSize)
    conn->set_max_cached_stmt(static_cast<std::uint16_t>(cache_size));
  return status;
}

// A prepare record rebuilt from the entry's stored parameters.
a_cmdseq_prep_param i_cs_InitPrepParamFromStmtInfo(const a_cmdseq_stmt_info* info) {
  return a_cmdseq_prep_param{info->text, info->text != nullptr ? info->text_len : -1,
                             info->prep_flags, info->prep_option};
}

// After a validate the server refused (-130): the entry forgets its server statement and
// the caller repeats its whole operation once with a fresh prepare. True when it should.
bool i_cs_IfValidateFailedPrepareForRedo(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                         a_cmdseq_stmt_handle* handle, a_cmdseq_return result) {
  a_cmdseq_stmt_info* info = handle->info;
  if (result != CMDSEQ_ERROR || info == nullptr || (info->flags & CS_INFO_VALIDATE_SENT) == 0 ||
      err->sqlcode != kValidateFailed) {
    return false;
  }
  i_cs_ResetStmtInfoAfterError(info);
  CmdSeqResetErrorParam(err, conn);
  // The entry stays with the handle: its stored text prepares it again.
  i_cs_ForceDropStmtInfoStmt(conn, info);
  return true;
}

namespace {

// --- Describe
// ---------------------------------------------------------------------------------

void drop_desc_caches(a_cmdseq_stmt_info* info) {
  info->free_descs();
  info->flags &= static_cast<std::uint8_t>(
      ~(CS_INFO_INPUT_DESCRIBED | CS_INFO_BOTH_DESCRIBED | CS_INFO_OUTPUT_DESCRIBED));
  info->desc_complete = false;
}

// The cached describe rule: true when the entry's cached descriptions answer the
// describe; *validate is set when the answer holds only after a validate.
bool cached_describe(a_cmdseq_stmt_info* info, a_cmdseq_describe_param* d, bool* validate) {
  d->complete = 1;
  *validate = false;
  if (d->want_output == 0 && d->want_input == 0) {
    d->result = nullptr;
    return true;
  }
  if (d->want_output == 0) {
    d->result = &info->input;
    if ((info->flags & CS_INFO_PREPARE_CACHED) != 0 && info->param_count == 0) return true;
    if ((info->flags & CS_INFO_INPUT_DESCRIBED) == 0) return false;
    if (info->input_option == d->option) return true;
    drop_desc_caches(info);
    return false;
  }
  const std::uint8_t kind =
      d->want_input != 0 ? CS_INFO_BOTH_DESCRIBED : CS_INFO_OUTPUT_DESCRIBED;
  if ((info->flags & CS_INFO_PREPARE_CACHED) == 0 ||
      (info->flags & (CS_INFO_BOTH_DESCRIBED | CS_INFO_OUTPUT_DESCRIBED)) == 0 ||
      info->output == nullptr) {
    return false;
  }
  if (info->output_option != d->option || (info->flags & kind) == 0) {
    drop_desc_caches(info);
    return false;
  }
  if (info->validation_stamp > info->describe_stamp) {
    const std::uint32_t params = d->want_input != 0 ? info->param_count : 0;
    if (params < info->output->desc.count) {
      if ((info->flags & CS_INFO_CACHED_DROP) == 0) {
        drop_desc_caches(info);
        return false;
      }
      *validate = true;
    }
  }
  d->result = &info->output->desc;
  d->complete = info->desc_complete ? 1 : 0;
  return true;
}

a_cmdseq_return send_describe(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              const a_cmdseq_stmt_info* info,
                              const a_cmdseq_describe_param* d) {
  for (int pass = 0; pass < 2; ++pass) {
    const bool output = pass == 0;
    if ((output ? d->want_output : d->want_input) == 0) continue;
    std::uint8_t* p = nullptr;
    const a_cmdseq_return r =
        pres(conn, err,
             SQLPresSend(conn->strm_conn, output ? kItemDescribeOutput : kItemDescribeInput, &p,
                         6, 0));
    if (r != CMDSEQ_OK) return r;
    store_le32(p, info->server_stmt);
    store_le16(p + 4, d->option);
  }
  return CMDSEQ_OK;
}

// Reads the describe reply into the entry and caches it on success.
a_cmdseq_return receive_describe(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_stmt_info* info, a_cmdseq_describe_param* d) {
  a_cmdseq_desc* target;
  if (d->want_output == 0) {
    CmdSeqFreeDescItems(&info->input);
    CmdSeqInitDesc(&info->input);
    info->flags &= static_cast<std::uint8_t>(~CS_INFO_INPUT_DESCRIBED);
    target = &info->input;
  } else {
    if (info->output != nullptr) {
      info->output->release();  // a cursor that shares it keeps its own reference
      info->output = nullptr;
    }
    info->flags &=
        static_cast<std::uint8_t>(~(CS_INFO_BOTH_DESCRIBED | CS_INFO_OUTPUT_DESCRIBED));
    target = info->output_desc();
    if (target == nullptr) return i_cs_OutOfMemoryConn(conn, err);
  }
  d->result = target;
  d->complete = 1;
  a_cmdseq_return result = CMDSEQ_OK;
  if (d->want_output != 0) {
    bool final = false;
    result = i_cs_ReceiveDescribeSeq(conn, err, target, false, &final);
    if (!final) d->complete = 0;
    if (!i_cs_ReplyRead(result)) return result;
  }
  if (d->want_input != 0) {
    bool final = false;
    const a_cmdseq_return r = i_cs_ReceiveDescribeSeq(conn, err, target, true, &final);
    result = i_cs_MoreSevereError(result, r);
    if (!i_cs_ReplyRead(r)) return r;
  }
  if (result == CMDSEQ_ERROR) return result;
  if (d->want_output == 0) {
    info->flags |= CS_INFO_INPUT_DESCRIBED;
    info->input_option = d->option;
  } else {
    info->flags |= d->want_input != 0 ? CS_INFO_BOTH_DESCRIBED : CS_INFO_OUTPUT_DESCRIBED;
    info->output_option = d->option;
    info->describe_stamp = info->validation_stamp;
    info->desc_complete = d->complete != 0;
  }
  return result;
}

// --- Execute ------------------------------------------------------------------------------

a_cmdseq_return send_rows(a_cmdseq_conn* conn, a_cmdseq_error_info* err, a_cmdseq_desc* desc,
                          std::uint32_t per_row, std::uint32_t rows) {
  if (desc == nullptr || per_row == 0 || rows == 0 || desc->values_per_item == 0) {
    return pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_END, 0));
  }
  std::uint64_t count = static_cast<std::uint64_t>(per_row) * rows;
  if (count > desc->count) count = per_row;  // the description holds one row only
  if (count > desc->count) return CMDSEQ_FAILED;
  return i_cs_SendMultipleRows(conn, err, desc, per_row, static_cast<std::uint32_t>(count));
}

a_cmdseq_return send_execute(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             const a_cmdseq_stmt_info* info, a_cmdseq_execute_param* exec,
                             std::uint16_t options, std::uint32_t per_row) {
  std::uint8_t* p = nullptr;
  a_cmdseq_return r = pres(conn, err, SQLPresSend(conn->strm_conn, kItemExecute, &p, 6, 0));
  if (r != CMDSEQ_OK) return r;
  store_le32(p, info->server_stmt);
  store_le16(p + 4, options);
  if (exec->colvars != nullptr) {
    r = i_cs_SendColVars(conn, err, exec->colvars);
    if (r != CMDSEQ_OK) return r;
  }
  const std::uint32_t rows =
      exec->params != nullptr && exec->params->count < per_row ? 1 : exec->rows;
  return send_rows(conn, err, exec->params, per_row, rows);
}

// The value set of the column variables and the cursor-handle item ','.
a_cmdseq_return receive_values_and_cursor(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                          a_cmdseq_desc* colvars) {
  const a_cmdseq_return values = i_cs_ReceiveValueSet(conn, err, colvars);
  if (!i_cs_ReplyRead(values)) return values;
  a_cs_item item;
  const a_cmdseq_return r = i_cs_ReceiveItem(conn, err, &item);
  if (r != CMDSEQ_OK) return r;
  if (item.code != kItemCursorHandle || item.payload_bytes() < 4)
    return i_cs_ProtocolError(conn);
  const std::uint32_t cursor = load_le32(item.payload);
  if (cursor != CS_NULL_HANDLE && !i_cs_InsertFlushBuffersList(conn, cursor)) {
    return i_cs_OutOfMemoryConn(conn, err);
  }
  return values;
}

a_cmdseq_return receive_execute(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                a_cmdseq_execute_param* exec, std::uint32_t* flags) {
  a_cmdseq_return r = receive_values_and_cursor(conn, err, exec->colvars);
  if (!i_cs_ReplyRead(r)) return r;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[1] = &exec->second_count;
  slots[2] = &exec->row_count;
  return i_cs_MoreSevereError(r, status_and_info(conn, err, slots, flags));
}

// Takes an entry for the prepare record when the handle has none.
a_cmdseq_return take_entry(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                           a_cmdseq_stmt_handle* handle, const a_cmdseq_prep_param* prep) {
  if (handle->info != nullptr) return CMDSEQ_OK;
  a_cmdseq_return result = CMDSEQ_OK;
  handle->info = conn->new_stmt_info(prep, err, &result);
  if (handle->info == nullptr) return result != CMDSEQ_OK ? result : CMDSEQ_FAILED;
  handle->stmt_id = handle->info->stmt_no;
  return CMDSEQ_OK;
}

// Opening a request: the connected check, the no-work bit, the prefetch settled.
a_cmdseq_return begin(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  return i_cs_StartRequest(conn, err);
}

enum class Lead { kNone, kPrepare, kValidate };

Lead lead_for(const a_cmdseq_stmt_info* info) {
  if ((info->flags & CS_INFO_PREPARED) == 0) return Lead::kPrepare;
  if ((info->flags & CS_INFO_CACHED_DROP) != 0) return Lead::kValidate;
  return Lead::kNone;
}

a_cmdseq_return send_lead(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                          a_cmdseq_stmt_info* info, Lead lead,
                          const a_cmdseq_prep_param* prep) {
  if (lead == Lead::kPrepare) return i_cs_SendPrepare(conn, err, prep);
  if (lead == Lead::kValidate) return i_cs_SendValidate(conn, err, info);
  return CMDSEQ_OK;
}

a_cmdseq_return receive_lead(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             a_cmdseq_stmt_handle* handle, Lead lead,
                             a_cmdseq_prep_param* prep) {
  if (lead == Lead::kPrepare) return i_cs_ReceivePrepare(conn, err, handle->info, handle, prep);
  if (lead == Lead::kValidate) return i_cs_ReceiveValidate(conn, err, handle->info);
  return CMDSEQ_OK;
}

a_cmdseq_return execute_once(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             a_cmdseq_stmt_handle* handle, a_cmdseq_execute_param* exec,
                             std::uint32_t* commit_result, bool* redo) {
  *redo = false;
  a_cmdseq_stmt_info* info = handle->info;
  if (info == nullptr) {
    i_cs_SetErrorInfo(err, kValidateFailed);
    return CMDSEQ_ERROR;
  }
  a_cmdseq_return result = begin(conn, err);
  if (result != CMDSEQ_OK) return result;
  const Lead lead = lead_for(info);
  a_cmdseq_prep_param prep = i_cs_InitPrepParamFromStmtInfo(info);
  if (lead == Lead::kPrepare && prep.text_len < 0) {
    // The entry keeps no text (too long to cache): it cannot be prepared again.
    i_cs_SetErrorInfo(err, kValidateFailed);
    return i_cs_FiniRequest(conn, CMDSEQ_ERROR);
  }
  conn->increment_execute_count();
  result = send_lead(conn, err, info, lead, &prep);
  if (result == CMDSEQ_OK) {
    const std::uint32_t per_row = exec->params == nullptr ? 0
                                  : exec->params->count < handle->param_count
                                      ? exec->params->count
                                      : handle->param_count;
    result = send_execute(conn, err, info, exec, exec->commit_mode != 0 ? 2 : 0, per_row);
  }
  if (result == CMDSEQ_OK && commit_result != nullptr) {
    *commit_result = 0;
    result = i_cs_SendCommit(conn, err);
  }
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK)
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));

  std::uint32_t flags = 0;
  result = receive_lead(conn, err, handle, lead, nullptr);
  if (i_cs_ReplyRead(result)) {
    result = i_cs_MoreSevereError(result, receive_execute(conn, err, exec, &flags));
  }
  if (i_cs_ReplyRead(result) && commit_result != nullptr) {
    result = i_cs_MoreSevereError(result, i_cs_ReceiveCommit(conn, err, commit_result));
  }
  result = i_cs_EndRequest(conn, err, result);
  if (result == CMDSEQ_ERROR &&
      i_cs_IfValidateFailedPrepareForRedo(conn, err, handle, result)) {
    *redo = true;
    return result;
  }
  if (result == CMDSEQ_ERROR && lead == Lead::kPrepare) i_cs_ResetStmtInfoAfterError(info);
  if (i_cs_ReplyRead(result) && (flags & kInfoCheckCursors) != 0) {
    result = i_cs_MoreSevereError(result, i_cs_CheckCursors(conn, err));
  }
  if (exec->drop_after != 0 && handle->info != nullptr && result != CMDSEQ_NOT_CONNECTED &&
      result != CMDSEQ_SERVER_CLOSED && result != CMDSEQ_NO_MEMORY) {
    i_cs_DropStmt(conn, handle, false);
  }
  return result;
}

}  // namespace

// --- Operations ----------------------------------------------------------------------------

a_cmdseq_return CmdSeqPrepare(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_stmt_handle* handle, a_cmdseq_prep_param* prep) {
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  if (handle->info != nullptr) i_cs_DropStmt(conn, handle, false);
  a_cmdseq_return result = take_entry(conn, err, handle, prep);
  if (result != CMDSEQ_OK) return result;
  a_cmdseq_stmt_info* info = handle->info;
  if ((info->flags & CS_INFO_PREPARE_CACHED) != 0) {
    prep->result = 0;
    handle->param_count = info->param_count;
    handle->value_b = info->value_b;
    return CMDSEQ_OK;
  }
  result = begin(conn, err);
  if (result != CMDSEQ_OK) return result;
  // A statement the server holds without a kept reply is replaced: the old one is dropped
  // in the same message so the server does not keep it for the connection's life.
  if ((info->flags & CS_INFO_PREPARED) != 0) i_cs_ForceDropStmtInfoStmt(conn, info);
  result = i_cs_SendPrepare(conn, err, prep);
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK)
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
  result = i_cs_EndRequest(conn, err, i_cs_ReceivePrepare(conn, err, info, handle, prep));
  if (result == CMDSEQ_ERROR) i_cs_ResetStmtInfoAfterError(info);
  return result;
}

a_cmdseq_return CmdSeqPrepareDescribe(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      a_cmdseq_stmt_handle* handle, a_cmdseq_prep_param* prep,
                                      a_cmdseq_describe_param* describe) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
    a_cmdseq_return result = take_entry(conn, err, handle, prep);
    if (result != CMDSEQ_OK) return result;
    a_cmdseq_stmt_info* info = handle->info;
    const bool cached_prepare =
        (info->flags & CS_INFO_PREPARE_CACHED) != 0 && (info->flags & CS_INFO_PREPARED) != 0;
    bool validate = false;
    const bool served = cached_describe(info, describe, &validate);
    if (cached_prepare && served && !validate && (info->flags & CS_INFO_CACHED_DROP) == 0) {
      handle->param_count = info->param_count;
      handle->value_b = info->value_b;
      return CMDSEQ_OK;
    }
    result = begin(conn, err);
    if (result != CMDSEQ_OK) return result;
    const Lead lead = cached_prepare ? Lead::kValidate : Lead::kPrepare;
    if (lead == Lead::kValidate) {
      handle->param_count = info->param_count;
      handle->value_b = info->value_b;
    }
    result = send_lead(conn, err, info, lead, prep);
    if (result == CMDSEQ_OK && !served) result = send_describe(conn, err, info, describe);
    if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
    if (result != CMDSEQ_OK) {
      return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
    }
    result = receive_lead(conn, err, handle, lead, prep);
    bool in_describe = false;
    if (i_cs_ReplyRead(result) && !served) {
      in_describe = true;
      result = i_cs_MoreSevereError(result, receive_describe(conn, err, info, describe));
    }
    result = i_cs_EndRequest(conn, err, result);
    if (result == CMDSEQ_OK || result == CMDSEQ_WARNING) return result;
    if (attempt == 0 && i_cs_IfValidateFailedPrepareForRedo(conn, err, handle, result))
      continue;
    if (result == CMDSEQ_NOT_CONNECTED || result == CMDSEQ_SERVER_CLOSED ||
        result == CMDSEQ_NO_MEMORY) {
      return result;
    }
    i_cs_ResetStmtInfoAfterError(info);
    describe->result = nullptr;
    if (in_describe && result != CMDSEQ_ERROR) i_cs_DropStmt(conn, handle, true);
    return result;
  }
  return CMDSEQ_ERROR;
}

a_cmdseq_return CmdSeqDescribe(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                               a_cmdseq_stmt_handle* handle,
                               a_cmdseq_describe_param* describe) {
  a_cmdseq_stmt_info* info = handle->info;
  if (info == nullptr) {
    i_cs_SetErrorInfo(err, kValidateFailed);
    return CMDSEQ_ERROR;
  }
  bool validate = false;
  if (cached_describe(info, describe, &validate) && !validate) return CMDSEQ_OK;
  if ((info->flags & (CS_INFO_PREPARED | CS_INFO_CACHED_DROP)) != CS_INFO_PREPARED) {
    a_cmdseq_prep_param prep = i_cs_InitPrepParamFromStmtInfo(info);
    if (prep.text_len < 0) {
      i_cs_SetErrorInfo(err, kValidateFailed);
      return CMDSEQ_ERROR;
    }
    return CmdSeqPrepareDescribe(conn, err, handle, &prep, describe);
  }
  a_cmdseq_return result = begin(conn, err);
  if (result != CMDSEQ_OK) return result;
  result = send_describe(conn, err, info, describe);
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK)
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
  result = i_cs_EndRequest(conn, err, receive_describe(conn, err, info, describe));
  if (result == CMDSEQ_ERROR) {
    i_cs_ResetStmtInfoAfterError(info);
    describe->result = nullptr;
  }
  return result;
}

a_cmdseq_return CmdSeqExecuteCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    a_cmdseq_stmt_handle* handle, a_cmdseq_execute_param* exec,
                                    std::uint32_t* commit_result) {
  bool redo = false;
  a_cmdseq_return result = execute_once(conn, err, handle, exec, commit_result, &redo);
  if (redo) result = execute_once(conn, err, handle, exec, commit_result, &redo);
  return result;
}

a_cmdseq_return CmdSeqExecute(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_stmt_handle* handle, a_cmdseq_execute_param* exec) {
  return CmdSeqExecuteCommit(conn, err, handle, exec, nullptr);
}

a_cmdseq_return CmdSeqExecuteImm(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_exec_imm_param* imm) {
  imm->info4 = imm->info2 = imm->info1 = 0;
  a_cmdseq_return result = begin(conn, err);
  if (result != CMDSEQ_OK) return result;
  result = pres(conn, err,
                SQLPresSendBytes(conn->strm_conn, kItemExecImm, imm->text, imm->text_len, 0));
  if (result == CMDSEQ_OK) result = send_rows(conn, err, nullptr, 0, 0);
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK)
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
  std::uint32_t flags = 0;
  result = receive_values_and_cursor(conn, err, nullptr);
  if (i_cs_ReplyRead(result)) {
    std::uint32_t* slots[kInfoSlots] = {};
    slots[4] = &imm->info4;
    slots[2] = &imm->info2;
    slots[1] = &imm->info1;
    result = i_cs_MoreSevereError(result, status_and_info(conn, err, slots, &flags));
  }
  result = i_cs_EndRequest(conn, err, result);
  if (i_cs_ReplyRead(result) && (flags & kInfoCheckCursors) != 0) {
    result = i_cs_MoreSevereError(result, i_cs_CheckCursors(conn, err));
  }
  return result;
}

a_cmdseq_return i_cs_CheckCursors(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  if (conn->cursors == nullptr) return CMDSEQ_OK;
  a_cmdseq_return result = begin(conn, err);
  if (result != CMDSEQ_OK) return result;
  // The reply answers the cursors in the order the items went.
  std::uint32_t listed = 0;
  for (a_cmdseq_cursor_node* n = conn->cursors; n != nullptr && result == CMDSEQ_OK;
       n = n->next) {
    result =
        pres(conn, err,
             SQLPresSendHandle(conn->strm_conn, kItemCursorCheck, n->cursor->server_cursor, 0));
    ++listed;
  }
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK)
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
  a_cmdseq_cursor** order =
      static_cast<a_cmdseq_cursor**>(ut_malloc(listed * sizeof(a_cmdseq_cursor*)));
  if (order == nullptr) return i_cs_OutOfMemoryConn(conn, err);
  std::uint32_t k = 0;
  for (a_cmdseq_cursor_node* n = conn->cursors; n != nullptr && k < listed; n = n->next) {
    order[k++] = n->cursor;
  }
  a_cmdseq_return overall = CMDSEQ_OK;
  bool closed_any = false;
  for (k = 0; k < listed; ++k) {
    std::uint32_t state = 0;
    std::uint32_t* slots[kInfoSlots] = {};
    slots[18] = &state;
    result = status_and_info(conn, err, slots, nullptr);
    if (!i_cs_ReplyRead(result)) break;
    overall = i_cs_MoreSevereError(overall, result);
    if ((state & kCursorClosedBit) != 0) {
      i_cs_CancelCursorPrefetch(order[k], conn, err);
      i_cs_RemoveCursor(conn, order[k]);
      closed_any = true;
    }
  }
  ut_free(order);
  if (closed_any) err->cursors_closed = 1;
  if (!i_cs_ReplyRead(result)) overall = result;
  return i_cs_EndRequest(conn, err, overall);
}

a_cmdseq_return CmdSeqPrepareDescribeExecuteOpen(
    a_cmdseq_conn* conn, a_cmdseq_error_info* err, a_cmdseq_stmt_handle* handle,
    a_cmdseq_prep_param* prep, a_cmdseq_describe_param* describe, a_cmdseq_execute_param* exec,
    a_cmdseq_open_param* open, std::uint32_t* executed, std::uint32_t* opened) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    *executed = *opened = 0;
    std::uint16_t options = 0;
    if (exec->colvars == nullptr && exec->keep_open == 0) options |= 1;
    if (exec->commit_mode != 0) options |= 2;
    if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
    if (attempt == 0 && handle->info != nullptr) i_cs_DropStmt(conn, handle, false);
    a_cmdseq_return result = take_entry(conn, err, handle, prep);
    if (result != CMDSEQ_OK) return result;
    a_cmdseq_stmt_info* info = handle->info;
    const Lead lead = (info->flags & CS_INFO_PREPARED) != 0 ? Lead::kValidate : Lead::kPrepare;
    if (lead == Lead::kValidate && (info->flags & CS_INFO_PREPARE_CACHED) != 0) {
      handle->param_count = info->param_count;
      handle->value_b = info->value_b;
    }
    bool with_open = conn->server_strm_ver > 9 && open != nullptr;
    bool with_execute = true;
    if (with_open && (info->reuse_flags & CS_REUSE_RAN_WITHOUT_CURSOR) != 0 &&
        exec->keep_open == 0) {
      with_open = false;
    } else if (with_open && (info->reuse_flags & CS_REUSE_OPENED_CURSOR) != 0 &&
               lead == Lead::kValidate) {
      with_execute = false;
      exec->colvars = nullptr;
      exec->row_count = exec->second_count = 0;
    }
    bool validate = false;
    const bool served = (info->flags & CS_INFO_PREPARE_CACHED) != 0 &&
                        cached_describe(info, describe, &validate);

    result = begin(conn, err);
    if (result != CMDSEQ_OK) return result;
    conn->increment_execute_count();
    result = send_lead(conn, err, info, lead, prep);
    if (result == CMDSEQ_OK && !served) result = send_describe(conn, err, info, describe);
    if (result == CMDSEQ_OK && with_execute) {
      const std::uint32_t per_row = exec->params != nullptr ? exec->params->count : 0;
      result = send_execute(conn, err, info, exec, options, per_row);
    }
    if (result == CMDSEQ_OK && with_open) {
      open->info1 = open->info2 = open->info3 = 0;
      i_cs_FreeAllFetchData(open->cursor);
      i_cs_InitCursorBeforeOpen(open->cursor, open->options);
      if (!served && describe->want_output != 0) open->options |= 8;
      result = i_cs_SendCursorOpen(conn, err, open, info->server_stmt);
    }
    if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
    if (result != CMDSEQ_OK) {
      return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
    }

    bool failed_late = false;
    std::uint32_t flags = 0;
    result = receive_lead(conn, err, handle, lead, prep);
    if (i_cs_ReplyRead(result) && !served) {
      failed_late = true;
      result = i_cs_MoreSevereError(result, receive_describe(conn, err, info, describe));
    }
    if (i_cs_ReplyRead(result) && with_execute) {
      failed_late = true;
      conn->status |= CS_STATUS_WATCH_111;
      conn->status &= static_cast<std::uint8_t>(~CS_STATUS_SAW_111);
      const a_cmdseq_return r = receive_execute(conn, err, exec, &flags);
      *executed = (conn->status & CS_STATUS_SAW_111) == 0 && i_cs_ReplyRead(r) ? 1 : 0;
      conn->status &= static_cast<std::uint8_t>(~(CS_STATUS_WATCH_111 | CS_STATUS_SAW_111));
      result = i_cs_MoreSevereError(result, r);
      if (*executed != 0 && exec->keep_open == 0)
        info->reuse_flags |= CS_REUSE_RAN_WITHOUT_CURSOR;
    }
    if (i_cs_ReplyRead(result) && with_open) {
      failed_late = true;
      const a_cmdseq_return r =
          i_cs_ReceiveCursorOpenAndOpenCursor(conn, err, open, info, opened);
      result = i_cs_MoreSevereError(result, r);
      if (*opened != 0) info->reuse_flags |= CS_REUSE_OPENED_CURSOR;
    }
    result = i_cs_EndRequest(conn, err, result);
    if (result == CMDSEQ_OK || result == CMDSEQ_WARNING) {
      if ((flags & kInfoCheckCursors) != 0) {
        result = i_cs_MoreSevereError(result, i_cs_CheckCursors(conn, err));
      }
      if (exec->drop_after != 0 && *executed != 0) i_cs_DropStmt(conn, handle, false);
      return result;
    }
    if (attempt == 0 && i_cs_IfValidateFailedPrepareForRedo(conn, err, handle, result))
      continue;
    if (result == CMDSEQ_CANCELLED && with_open) {
      i_cs_CloseCursorByName(conn, err, open->cursor_name);
      i_cs_SetErrorInfo(err, -299);
    }
    if (result != CMDSEQ_NOT_CONNECTED && result != CMDSEQ_SERVER_CLOSED &&
        result != CMDSEQ_NO_MEMORY) {
      i_cs_ResetStmtInfoAfterError(info);
      if (failed_late && result != CMDSEQ_ERROR) i_cs_DropStmt(conn, handle, true);
    }
    return result;
  }
  return CMDSEQ_ERROR;
}

// --- Character sets and time zone ----------------------------------------------------------

namespace {

a_cmdseq_return change_charset(a_cmdseq_conn* conn, a_cmdseq_error_info* err, std::uint8_t code,
                               const char* name, std::uint32_t length) {
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  conn->status &= static_cast<std::uint8_t>(~CS_STATUS_NO_WORK);
  conn->in_request.store(1);
  // Rows buffered under the old character set are given up, not read.
  a_cmdseq_return result = i_cs_AlignCursors(conn, err);
  if (result == CMDSEQ_OK) result = i_cs_ClearPrefetchPending(conn, err, false);
  if (result != CMDSEQ_OK) return i_cs_FiniRequest(conn, result);
  i_cs_FlushFetchDataAllCursors(conn);
  // The name goes with one NUL byte after it.
  auto* text = static_cast<char*>(ut_malloc(static_cast<std::size_t>(length) + 1));
  if (text == nullptr) return i_cs_OutOfMemoryConn(conn, err);
  if (length != 0) std::memcpy(text, name, length);
  text[length] = '\0';
  result = pres(conn, err, SQLPresSendBytes(conn->strm_conn, code, text, length + 1, 0));
  ut_free(text);
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK)
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
  if (code == kItemCharset && conn->server_strm_ver >= 13) {
    a_cs_item item;
    result = i_cs_ReceiveItem(conn, err, &item);
    if (result == CMDSEQ_OK && item.code != CS_ITEM_PARAM) result = i_cs_ProtocolError(conn);
    if (result == CMDSEQ_OK && item.is_long()) {
      char* label = nullptr;  // longer labels are ignored
      result = i_cs_ReceiveLongText(conn, err, &label);
      ut_free(label);
    }
    // The label names the server's choice; the stream's client character set is set by
    // the connection layer, which owns the locale registry.
    if (result != CMDSEQ_OK) return i_cs_EndRequest(conn, err, result);
  }
  std::uint32_t* slots[kInfoSlots] = {};
  return i_cs_EndRequest(conn, err, status_and_info(conn, err, slots, nullptr));
}

}  // namespace

a_cmdseq_return CmdSeqChangeCharCharset(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        const char* name, std::uint32_t length) {
  conn->status |= CS_STATUS_CHARSET_CHANGED;
  return change_charset(conn, err, kItemCharset, name, length);
}

a_cmdseq_return CmdSeqChangeNCharCharset(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                         const char* name, std::uint32_t length) {
  conn->status |= CS_STATUS_NCHARSET_CHANGED;
  const a_cmdseq_return result = change_charset(conn, err, kItemNCharset, name, length);
  if (result == CMDSEQ_OK || result == CMDSEQ_WARNING) {
    // The smallest character of the set is one code unit of it.
    char label[64];
    const std::uint32_t n = length < sizeof label - 1 ? length : sizeof label - 1;
    std::memcpy(label, name, n);
    label[n] = '\0';
    const CharsetInfo* info = UTLocale::GetCharsetInfoFromLabel(label, 0xFFFFFFFFu);
    if (info != nullptr) conn->min_nchar_size = info->unit_width;
  }
  return result;
}

a_cmdseq_return CmdSeqTimeChange(a_cmdseq_conn* conn, a_cmdseq_error_info*) {
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  if (conn->server_strm_ver < 6) return CMDSEQ_OK;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const auto minutes = static_cast<std::int32_t>(local.tm_gmtoff / 60);  // truncates toward 0
  (void)SQLPresSendHandle(conn->strm_conn, kItemTimeZone, static_cast<std::uint32_t>(minutes),
                          0);
  return CMDSEQ_OK;
}

std::uint16_t CmdSeqGetMinNCharSize(a_cmdseq_conn* conn) { return conn->min_nchar_size; }

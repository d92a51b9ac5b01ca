// Requests through a cursor: open, close (or close by name), describe, resume, put,
// update, delete and plan.
#include <cstring>

#include "cmdseq/cursor.h"
#include "cmdseq/fetch.h"
#include "cmdseq/fetch_buffer.h"
#include "cmdseq/request.h"
#include "cmdseq/statement.h"
#include "cmdseq/transaction.h"
#include "cmdseq/wire_bytes.h"
#include "cmdseq/wire_values.h"
#include "utils/base/memory.h"

using vq::cmdseq::load_le32;
using vq::cmdseq::store_le16;
using vq::cmdseq::store_le32;

namespace {

constexpr std::uint8_t kItemOpen = 33;
constexpr std::uint8_t kItemClose = 34;
constexpr std::uint8_t kItemPut = 39;
constexpr std::uint8_t kItemUpdate = 40;
constexpr std::uint8_t kItemDelete = 41;
constexpr std::uint8_t kItemResume = 42;
constexpr std::uint8_t kItemExplain = 43;
constexpr std::uint8_t kItemCursorHandle = 44;
constexpr std::uint8_t kItemDescribeInput = 45;
constexpr std::uint8_t kItemDescribeOutput = 46;
constexpr std::uint8_t kItemCloseByName = 48;

constexpr std::int32_t kCursorNotOpen = -180;
constexpr std::int32_t kCancelled = -299;

bool connected(const a_cmdseq_conn* conn) { return (conn->status & CS_STATUS_CONNECTED) != 0; }

a_cmdseq_return pres(a_cmdseq_conn* conn, a_cmdseq_error_info* err, a_sqlpres_code code) {
  return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
}

// The open check every request on an existing cursor makes first.
bool is_open(const a_cmdseq_cursor* cursor, a_cmdseq_error_info* err) {
  if (cursor != nullptr && (cursor->flags_b & CS_CURSOR_B_OPEN) != 0) return true;
  i_cs_SetErrorInfo(err, kCursorNotOpen);
  return false;
}

a_cmdseq_return status_and_info(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                std::uint32_t* slots[kInfoSlots], a_cmdseq_cursor* spared) {
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(status)) return status;
  std::uint32_t flags = 0;
  slots[kInfoFlagsSlot] = &flags;
  const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, slots);
  if (info != CMDSEQ_OK) return info;
  i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, spared);
  return status;
}

// Writes the cursor-handle item of `code` with the cursor's server handle.
a_cmdseq_return send_handle(a_cmdseq_conn* conn, a_cmdseq_error_info* err, std::uint8_t code,
                            const a_cmdseq_cursor* cursor) {
  return pres(conn, err, SQLPresSendHandle(conn->strm_conn, code, cursor->server_cursor, 0));
}

a_cmdseq_return fail_unsent(a_cmdseq_conn* conn, a_cmdseq_error_info* err, a_cmdseq_return r) {
  return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, r, err));
}

// Ends a reply on a cursor: a cursor the server closed is forgotten, then the request ends.
a_cmdseq_return end_on_cursor(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_cursor* cursor, a_cmdseq_return result) {
  if (i_cs_ReplyRead(result)) i_cs_CheckForClosedCursor(conn, cursor, err);
  return i_cs_EndRequest(conn, err, result);
}

void close_statistics(a_cmdseq_conn* conn, const a_cmdseq_cursor* cursor) {
  if (cursor->rows_consumed <= 9) return;
  conn->close_s1 = 0.9f * conn->close_s1 + 1;
  conn->close_s2 = 0.9f * conn->close_s2;
  if ((cursor->flags_b & CS_CURSOR_B_ABANDONED) == 0 &&
      ((cursor->flags_b & CS_CURSOR_B_COMPLETE) != 0 || cursor->rows_consumed > 99)) {
    conn->close_s2 += 1;
  }
}

}  // namespace

// --- Open ------------------------------------------------------------------------------------

namespace {

// What a result's rows start from, at open and at resume: no row layout, nothing received
// or described yet, the first fetch to come. `extra_b` are further B flags to clear.
void reset_result_state(a_cmdseq_cursor* cursor, std::uint8_t extra_b) {
  cursor->known_counter = 0;
  cursor->rows_received = cursor->rows_asked = 0;
  cursor->buffered_columns = 0;
  cursor->definitions_sent = 0;
  cursor->avg_row_bytes = 0;
  cursor->reposition_base = 1;
  cursor->flags_b = static_cast<std::uint8_t>(
      (cursor->flags_b & ~(CS_CURSOR_B_END_BEHIND | CS_CURSOR_B_ABANDONED |
                           CS_CURSOR_B_COMPLETE | CS_CURSOR_B_VARTOTAL | extra_b)) |
      CS_CURSOR_B_NONE_YET);
  cursor->flags_c |= CS_CURSOR_C_FIRST_FETCH;
}

}  // namespace

void i_cs_InitCursorBeforeOpen(a_cmdseq_cursor* cursor, std::uint32_t options) {
  cursor->open_flags = options;
  cursor->position_delta = 0;
  cursor->rows_consumed = 0;
  reset_result_state(cursor, 0);
  cursor->flags_a = CS_CURSOR_A_PREFETCH;
  if ((options & CS_OPEN_NO_PREFETCH) != 0) cursor->flags_a |= CS_CURSOR_A_NO_PREFETCH;
  cursor->flags_c &= static_cast<std::uint8_t>(~CS_CURSOR_C_OWN_DESC);
  cursor->buffer = nullptr;
  cursor->own_desc = nullptr;
  cursor->shared_desc = nullptr;
  cursor->saved_prefetch_error = nullptr;
}

a_cmdseq_return i_cs_SendCursorOpen(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    a_cmdseq_open_param* open, std::uint32_t server_stmt) {
  std::uint32_t options = open->options;
  if (conn->server_strm_ver <= 5) options &= ~static_cast<std::uint32_t>(512 | 8192);
  std::uint8_t* p = nullptr;
  a_cmdseq_return r = pres(conn, err, SQLPresSend(conn->strm_conn, kItemOpen, &p, 10, 0));
  if (r != CMDSEQ_OK) return r;
  store_le32(p, server_stmt);
  store_le16(p + 4, open->open_value);
  store_le32(p + 6, options);
  r = pres(conn, err, SQLPresSendName(conn->strm_conn, open->cursor_name, 0));
  if (r != CMDSEQ_OK) return r;
  a_cmdseq_desc* params = open->params;
  if (params == nullptr || params->count == 0 || params->values_per_item == 0) {
    return pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_END, 0));
  }
  return i_cs_SendMultipleRows(conn, err, params, params->count, params->count);
}

a_cmdseq_return i_cs_ReceiveCursorOpenAndOpenCursor(a_cmdseq_conn* conn,
                                                    a_cmdseq_error_info* err,
                                                    a_cmdseq_open_param* open,
                                                    a_cmdseq_stmt_info* info,
                                                    std::uint32_t* opened) {
  a_cmdseq_cursor* cursor = open->cursor;
  a_cs_item item;
  a_cmdseq_return r = i_cs_ReceiveItem(conn, err, &item);
  if (r != CMDSEQ_OK) return r;
  if (item.code != kItemCursorHandle || item.payload_bytes() < 4)
    return i_cs_ProtocolError(conn);
  const std::uint32_t server_cursor = load_le32(item.payload);

  if (opened != nullptr) {
    conn->status |= CS_STATUS_WATCH_111;
    conn->status &= static_cast<std::uint8_t>(~CS_STATUS_SAW_111);
  }
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (opened != nullptr) {
    *opened = (conn->status & CS_STATUS_SAW_111) == 0 ? 1 : 0;
    conn->status &= static_cast<std::uint8_t>(~(CS_STATUS_WATCH_111 | CS_STATUS_SAW_111));
  }
  if (!i_cs_ReplyRead(status)) return status;
  std::uint32_t columns = 0;
  std::uint32_t open_flags = 0;
  std::uint32_t no_prefetch = 0;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[2] = &open->info2;
  slots[3] = &open->info3;
  slots[1] = &open->info1;
  slots[6] = &columns;
  slots[16] = &open_flags;
  slots[21] = &no_prefetch;
  std::uint32_t flags = 0;
  slots[kInfoFlagsSlot] = &flags;
  r = i_cs_ReceiveAllInfo(conn, err, slots);
  if (r != CMDSEQ_OK) return r;
  i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, cursor);
  open->result_columns = columns;
  open->open_flags = open_flags;
  if (no_prefetch != 0) cursor->flags_a |= CS_CURSOR_A_NO_PREFETCH;
  cursor->open_flags = open_flags;
  if (status == CMDSEQ_ERROR || (opened != nullptr && *opened == 0) || err->sqlcode == 105) {
    return status;
  }
  // The result columns are counted in 16 bits; the server's value is clamped to that.
  const auto count = static_cast<std::uint16_t>(columns > 0xFFFF ? 0xFFFF : columns);
  cursor->server_cursor = server_cursor;
  if (cursor->columns != nullptr && count > cursor->entry_room) {
    // Entries made for fewer columns are made again before they are used.
    ut_free(cursor->columns);
    cursor->columns = nullptr;
    cursor->entry_room = 0;
  }
  cursor->result_columns = cursor->entry_count = count;
  if (info != nullptr && info->output != nullptr &&
      (info->flags & (CS_INFO_BOTH_DESCRIBED | CS_INFO_OUTPUT_DESCRIBED)) != 0 &&
      info->desc_complete) {
    i_cs_SetCursorSharedDesc(cursor, info->output);
    std::uint32_t total = 0;
    if (i_cs_DescribeVarLenTotal(cursor->own_desc, &total) != 0) {
      cursor->var_length_total = total;
      cursor->flags_b |= CS_CURSOR_B_VARTOTAL;
    }
  }
  if ((cursor->flags_a & CS_CURSOR_A_NO_PREFETCH) == 0) {
    const std::uint32_t app = conn->env != nullptr ? conn->env->app_type : 0;
    if ((app != 2 && app != 3) ||
        (open_flags & (CS_OPEN_FORWARD_ONLY | 2)) == (CS_OPEN_FORWARD_ONLY | 2)) {
      cursor->flags_a |= CS_CURSOR_A_GROWTH;
      cursor->growth_multiplier = 1;
      cursor->growth_period = 1;
    }
    if (conn->close_s1 > 0 && conn->close_s2 / conn->close_s1 <= 0.333f)
      cursor->growth_period = 2;
    cursor->growth_countdown = static_cast<std::uint8_t>(cursor->growth_period + 1);
  }
  if (info != nullptr) info->reuse_flags |= CS_REUSE_CURSOR_DESC | CS_REUSE_OPENED;
  cursor->flags_b |= CS_CURSOR_B_OPEN;
  if (!i_cs_AddCursor(conn, cursor)) {
    cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_OPEN);
    return i_cs_OutOfMemoryConn(conn, err);
  }
  return status;
}

namespace {

// Whether a prefetch joins the open: a bound description whose every item has a value
// buffer, rows asked, a server above level 7, prefetching on and no open option against
// it; a complete cached description must have as many columns as the bound one.
bool prefetch_joins(const a_cmdseq_conn* conn, const a_cmdseq_open_param* open,
                    const a_cmdseq_stmt_info* info, a_cmdseq_desc* bound, std::uint16_t rows) {
  if (bound == nullptr || rows == 0 || bound->count == 0 || bound->values_per_item == 0)
    return false;
  if (conn->server_strm_ver <= 7 || !conn->prefetch_on ||
      (open->options & (4 | 128 | 256)) != 0) {
    return false;
  }
  if (info->output != nullptr && info->desc_complete &&
      (info->flags & (CS_INFO_BOTH_DESCRIBED | CS_INFO_OUTPUT_DESCRIBED)) != 0) {
    std::uint32_t columns = info->output->desc.count;
    if ((info->flags & CS_INFO_BOTH_DESCRIBED) != 0) {
      columns = columns > info->param_count ? columns - info->param_count : 0;
    }
    if (columns != bound->count) return false;
  }
  std::uint32_t k = 0;
  for (a_cmdseq_desc_item* item = bound->items; item != nullptr && k < bound->count;
       item = item->next, ++k) {
    if (item->values()[0].data == nullptr) return false;
  }
  return true;
}

}  // namespace

a_cmdseq_return CmdSeqOpenCursorPrefetch(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                         a_cmdseq_open_param* open, a_cmdseq_desc* bound,
                                         std::uint16_t rows) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    a_cmdseq_stmt_handle* handle = open->handle;
    a_cmdseq_stmt_info* info = handle != nullptr ? handle->info : nullptr;
    if (info == nullptr) {
      i_cs_SetErrorInfo(err, -130);
      return CMDSEQ_ERROR;
    }
    const bool prepare = (info->flags & CS_INFO_PREPARED) == 0;
    const bool validate = !prepare && (info->flags & CS_INFO_CACHED_DROP) != 0;
    a_cmdseq_prep_param prep = i_cs_InitPrepParamFromStmtInfo(info);
    if (prepare && prep.text_len < 0) {
      i_cs_SetErrorInfo(err, -130);
      return CMDSEQ_ERROR;
    }
    const bool join = prefetch_joins(conn, open, info, bound, rows);
    a_cmdseq_cursor* cursor = open->cursor;
    open->info1 = open->info2 = open->info3 = 0;
    i_cs_FreeAllFetchData(cursor);
    i_cs_InitCursorBeforeOpen(cursor, open->options);
    if (join) {
      cursor->server_cursor = CS_NULL_HANDLE;  // the server knows the cursor being opened
      cursor->result_columns = cursor->entry_count = static_cast<std::uint16_t>(bound->count);
      if (i_cs_RebuildColInfo(cursor, bound) != CMDSEQ_OK)
        return i_cs_OutOfMemoryConn(conn, err);
    }
    a_cmdseq_return result = i_cs_StartRequest(conn, err);
    if (result != CMDSEQ_OK) return result;
    conn->increment_execute_count();
    if (prepare) result = i_cs_SendPrepare(conn, err, &prep);
    if (validate) result = i_cs_SendValidate(conn, err, info);
    if (result == CMDSEQ_OK) result = i_cs_SendCursorOpen(conn, err, open, info->server_stmt);
    bool prefetching = false;
    if (result == CMDSEQ_OK && join) {
      result = i_cs_SendRowDesc(conn, err, cursor, bound);
      if (result == CMDSEQ_OK) {
        a_cmdseq_fetch_param fetch;
        fetch.cursor = cursor;
        fetch.bound = bound;
        fetch.offset = 1;
        fetch.row_count = rows;
        prefetching = i_cs_InitiatePrefetch(conn, &fetch, &result, err, 5);
      }
    }
    if (result == CMDSEQ_OK && !prefetching) result = i_cs_SendRequest(conn, err);
    if (result != CMDSEQ_OK) return fail_unsent(conn, err, result);
    if (prepare) result = i_cs_ReceivePrepare(conn, err, info, handle, nullptr);
    if (validate) result = i_cs_ReceiveValidate(conn, err, info);
    if (i_cs_ReplyRead(result)) {
      result = i_cs_MoreSevereError(
          result, i_cs_ReceiveCursorOpenAndOpenCursor(conn, err, open, info, nullptr));
    }
    result = i_cs_EndRequest(conn, err, result);
    if (prefetching && conn->prefetch_cursor == cursor) {
      if (result == CMDSEQ_ERROR || (cursor->flags_a & CS_CURSOR_A_NO_PREFETCH) != 0) {
        // The prefetch reply still comes; it is dropped unread.
        a_cmdseq_error_info scratch;
        CmdSeqInitErrorParam(conn->env, &scratch, 0);
        (void)i_cs_ClearPrefetchPending(conn, &scratch, false);
        CmdSeqFiniErrorParam(&scratch);
        if (result == CMDSEQ_ERROR) i_cs_FreeAllFetchData(cursor);
      }
    }
    if (i_cs_ReplyRead(result) && join && (cursor->flags_b & CS_CURSOR_B_OPEN) != 0 &&
        bound->count != cursor->entry_count) {
      cursor->entry_count = static_cast<std::uint16_t>(bound->count);
      if (i_cs_RebuildColInfo(cursor, bound) != CMDSEQ_OK)
        return i_cs_OutOfMemoryConn(conn, err);
    }
    if (attempt == 0 && i_cs_IfValidateFailedPrepareForRedo(conn, err, handle, result))
      continue;
    if (result == CMDSEQ_CANCELLED) {
      if (conn->prefetch_cursor == cursor) conn->prefetch_cursor = nullptr;
      if (conn->server_strm_ver > 3) (void)i_cs_CloseCursorByName(conn, err, open->cursor_name);
      i_cs_SetErrorInfo(err, kCancelled);
    }
    return result;
  }
  return CMDSEQ_ERROR;
}

// --- Close -----------------------------------------------------------------------------------

a_cmdseq_return i_cs_CloseCursorByName(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                       const char* name) {
  if (conn->server_strm_ver <= 3) {
    i_cs_SetErrorInfo(err, kCursorNotOpen);
    return CMDSEQ_ERROR;
  }
  conn->add_pending_info_req_cursor_name(name);
  const std::uint32_t n = name != nullptr ? static_cast<std::uint32_t>(std::strlen(name)) : 0;
  (void)SQLPresSendBytes(conn->strm_conn, kItemCloseByName, name != nullptr ? name : "", n, 0);
  return CMDSEQ_OK;
}

a_cmdseq_return CmdSeqCloseCursorCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        a_cmdseq_close_param* close,
                                        std::uint32_t* commit_result) {
  a_cmdseq_cursor* cursor = close->cursor;
  if (!is_open(cursor, err)) return CMDSEQ_ERROR;
  close_statistics(conn, cursor);
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  i_cs_CancelCursorPrefetch(cursor, conn, err);
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  const bool by_name =
      ((conn->close_mode == 1 && (cursor->open_flags & CS_OPEN_CLOSE_BY_NAME) != 0) ||
       conn->close_mode == 2) &&
      commit_result == nullptr && conn->server_strm_ver > 3;
  if (by_name) {
    result = i_cs_CloseCursorByName(conn, err, close->cursor_name);
    i_cs_RemoveCursor(conn, cursor);
    return i_cs_FiniRequest(conn, result);
  }
  result = send_handle(conn, err, kItemClose, cursor);
  if (result == CMDSEQ_OK && commit_result != nullptr) {
    *commit_result = 0;
    result = i_cs_SendCommit(conn, err);
  }
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK) {
    if (result == CMDSEQ_CANCELLED) {
      if (conn->server_strm_ver > 3)
        (void)i_cs_CloseCursorByName(conn, err, close->cursor_name);
      i_cs_SetErrorInfo(err, kCancelled);
      i_cs_RemoveCursor(conn, cursor);
    }
    return result;
  }
  result = i_cs_ReceiveSuccessOrError(conn, err);
  if (result == CMDSEQ_ERROR && conn->server_strm_ver > 3) {
    (void)i_cs_CloseCursorByName(conn, err, close->cursor_name);
  }
  if (i_cs_ReplyRead(result)) {
    std::uint32_t flags = 0;
    std::uint32_t* slots[kInfoSlots] = {};
    slots[kInfoFlagsSlot] = &flags;
    const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, slots);
    if (info != CMDSEQ_OK) {
      result = info;
    } else {
      i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, cursor);
      i_cs_RemoveCursor(conn, cursor);
      if (result != CMDSEQ_ERROR && commit_result != nullptr) {
        result = i_cs_MoreSevereError(result, i_cs_ReceiveCommit(conn, err, commit_result));
      }
    }
  }
  result = i_cs_EndRequest(conn, err, result);
  if ((result == CMDSEQ_ERROR && err->sqlcode == kCancelled) || result == CMDSEQ_CANCELLED) {
    if (conn->server_strm_ver > 3) (void)i_cs_CloseCursorByName(conn, err, close->cursor_name);
    if (result == CMDSEQ_CANCELLED) {
      i_cs_SetErrorInfo(err, kCancelled);
      if ((cursor->flags_b & CS_CURSOR_B_OPEN) != 0) i_cs_RemoveCursor(conn, cursor);
    }
  }
  return result;
}

a_cmdseq_return CmdSeqCloseCursor(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  a_cmdseq_close_param* close) {
  return CmdSeqCloseCursorCommit(conn, err, close, nullptr);
}

// --- Describe and resume ---------------------------------------------------------------------

a_cmdseq_return CmdSeqDescribeCursor(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     a_cmdseq_cursor* cursor,
                                     a_cmdseq_describe_param* describe) {
  if (!is_open(cursor, err)) return CMDSEQ_ERROR;
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  // A description shared with the statement is let go: the cursor describes into its own.
  i_cs_SetCursorSharedDesc(cursor, nullptr);
  if ((cursor->flags_c & CS_CURSOR_C_OWN_DESC) != 0 && cursor->own_desc != nullptr) {
    CmdSeqFreeDescItems(cursor->own_desc);
    CmdSeqInitDesc(cursor->own_desc);
  } else {
    cursor->own_desc = static_cast<a_cmdseq_desc*>(ut_malloc(sizeof(a_cmdseq_desc)));
    if (cursor->own_desc == nullptr) return i_cs_OutOfMemoryConn(conn, err);
    CmdSeqInitDesc(cursor->own_desc);
    cursor->flags_c |= CS_CURSOR_C_OWN_DESC;
  }
  describe->result = cursor->own_desc;
  cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_VARTOTAL);
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  for (int pass = 0; pass < 2 && result == CMDSEQ_OK; ++pass) {
    const bool output = pass == 0;
    if ((output ? describe->want_output : describe->want_input) == 0) continue;
    std::uint8_t* p = nullptr;
    result = pres(conn, err,
                  SQLPresSend(conn->strm_conn,
                              output ? kItemDescribeOutput : kItemDescribeInput, &p, 6, 0));
    if (result == CMDSEQ_OK) {
      store_le32(p, cursor->server_cursor);
      store_le16(p + 4, describe->option);
    }
  }
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK) return fail_unsent(conn, err, result);
  describe->complete = 1;
  if (describe->want_output != 0) {
    bool final = false;
    result = i_cs_ReceiveDescribeSeq(conn, err, cursor->own_desc, false, &final);
    if (!final) describe->complete = 0;
    std::uint32_t total = 0;
    if (i_cs_ReplyRead(result) && i_cs_DescribeVarLenTotal(cursor->own_desc, &total) != 0) {
      cursor->var_length_total = total;
      cursor->flags_b |= CS_CURSOR_B_VARTOTAL;
    }
  }
  if (i_cs_ReplyRead(result) && describe->want_input != 0) {
    bool final = false;
    result = i_cs_MoreSevereError(
        result, i_cs_ReceiveDescribeSeq(conn, err, cursor->own_desc, true, &final));
  }
  if (result == CMDSEQ_OK || result == CMDSEQ_WARNING)
    return end_on_cursor(conn, err, cursor, result);
  CmdSeqFreeDescItems(cursor->own_desc);
  ut_free(cursor->own_desc);
  cursor->own_desc = nullptr;
  cursor->flags_c &= static_cast<std::uint8_t>(~CS_CURSOR_C_OWN_DESC);
  describe->result = nullptr;
  return i_cs_EndRequest(conn, err, result);
}

a_cmdseq_return CmdSeqResume(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             a_cmdseq_resume_param* resume) {
  a_cmdseq_cursor* cursor = resume->cursor;
  if (!is_open(cursor, err)) return CMDSEQ_ERROR;
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  i_cs_CancelCursorPrefetch(cursor, conn, err);
  i_cs_FlushBuffersForCursor(cursor, false);
  i_cs_FreeAllocatedFetchBuffers(cursor);
  ut_free(cursor->columns);
  cursor->columns = nullptr;
  // The next result starts as a newly opened cursor's does. The last result's row layout
  // does not carry over: kept rows and get-data columns in the row were decided for its
  // columns, and kept for the new one they asked for rows of no buffered column, which no
  // reply can carry. Prefetching is allowed again (the cancel above stopped it).
  reset_result_state(cursor, CS_CURSOR_B_ROW_FAILED);
  cursor->flags_a = static_cast<std::uint8_t>(
      (cursor->flags_a & ~(CS_CURSOR_A_END_REACHED | CS_CURSOR_A_KEEP_CURRENT |
                           CS_CURSOR_A_GETDATA_COLS | CS_CURSOR_A_GROWTH)) |
      CS_CURSOR_A_RESEND_DESC | CS_CURSOR_A_PREFETCH);
  cursor->result_columns = cursor->entry_count = cursor->entry_room = 0;
  cursor->open_flags &= ~CS_OPEN_CLOSE_BY_NAME;
  resume->result_columns = 0;
  resume->info2 = 0xFFFFFFFFu;
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  result = send_handle(conn, err, kItemResume, cursor);
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK) return fail_unsent(conn, err, result);
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(status)) return i_cs_EndRequest(conn, err, status);
  std::uint32_t flags = 0;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[2] = &resume->info2;
  slots[6] = &resume->result_columns;
  slots[kInfoFlagsSlot] = &flags;
  result = i_cs_ReceiveAllInfo(conn, err, slots);
  if (result != CMDSEQ_OK) return i_cs_EndRequest(conn, err, result);
  const auto count = static_cast<std::uint16_t>(
      resume->result_columns > 0xFFFF ? 0xFFFF : resume->result_columns);
  cursor->result_columns = cursor->entry_count = count;
  i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed,
                               err->sqlcode == -684 ? nullptr : cursor);
  return end_on_cursor(conn, err, cursor, status);
}

// --- Positioned requests and plan ------------------------------------------------------------

namespace {

// The open check, the connected check, the prefetch and buffer given up, the request open.
a_cmdseq_return begin_positioned(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_cursor* cursor) {
  if (!is_open(cursor, err)) return CMDSEQ_ERROR;
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  i_cs_CancelCursorPrefetch(cursor, conn, err);
  i_cs_FlushBuffersForCursor(cursor, true);
  return i_cs_StartRequest(conn, err);
}

}  // namespace

a_cmdseq_return CmdSeqPut(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                          a_cmdseq_put_param* put) {
  put->info1 = put->info2 = put->info23 = 0;
  if (!is_open(put->cursor, err)) return CMDSEQ_ERROR;
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  if (put->rows == 0) return CMDSEQ_OK;
  a_cmdseq_return result = begin_positioned(conn, err, put->cursor);
  if (result != CMDSEQ_OK) return result;
  result = send_handle(conn, err, kItemPut, put->cursor);
  if (result == CMDSEQ_OK && put->colvars != nullptr) {
    result = i_cs_SendColVars(conn, err, put->colvars);
  }
  if (result == CMDSEQ_OK) {
    a_cmdseq_desc* rows = put->rows_desc;
    const std::uint32_t count = rows != nullptr ? rows->count : 0;
    const std::uint32_t per_row = count / put->rows;
    result = per_row == 0
                 ? pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_END, 0))
                 : i_cs_SendMultipleRows(conn, err, rows, per_row, per_row * put->rows);
  }
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK) return fail_unsent(conn, err, result);
  result = i_cs_ReceiveValueSet(conn, err, put->colvars);
  if (i_cs_ReplyRead(result)) {
    std::uint32_t* slots[kInfoSlots] = {};
    slots[2] = &put->info2;
    slots[1] = &put->info1;
    slots[23] = &put->info23;
    result = i_cs_MoreSevereError(result, status_and_info(conn, err, slots, nullptr));
  }
  return end_on_cursor(conn, err, put->cursor, result);
}

a_cmdseq_return CmdSeqUpdate(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             a_cmdseq_update_param* update) {
  update->info1 = update->info2 = 0;
  a_cmdseq_return result = begin_positioned(conn, err, update->cursor);
  if (result != CMDSEQ_OK) return result;
  result = send_handle(conn, err, kItemUpdate, update->cursor);
  if (result == CMDSEQ_OK) {
    a_cmdseq_desc* row = update->row_desc;
    const std::uint32_t count = row != nullptr ? row->count : 0;
    result = count == 0 ? pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_END, 0))
                        : i_cs_SendMultipleRows(conn, err, row, count, count);
  }
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK) return fail_unsent(conn, err, result);
  std::uint32_t* slots[kInfoSlots] = {};
  slots[2] = &update->info2;
  slots[1] = &update->info1;
  return end_on_cursor(conn, err, update->cursor, status_and_info(conn, err, slots, nullptr));
}

a_cmdseq_return CmdSeqDelete(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             a_cmdseq_delete_param* del) {
  del->info1 = del->info2 = 0;
  a_cmdseq_return result = begin_positioned(conn, err, del->cursor);
  if (result != CMDSEQ_OK) return result;
  result = send_handle(conn, err, kItemDelete, del->cursor);
  if (result == CMDSEQ_OK)
    result = pres(conn, err, SQLPresSendName(conn->strm_conn, del->table, 0));
  if (result == CMDSEQ_OK) {
    result = pres(conn, err, SQLPresSendName(conn->strm_conn, del->correlation, 0));
  }
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK) return fail_unsent(conn, err, result);
  std::uint32_t* slots[kInfoSlots] = {};
  slots[2] = &del->info2;
  slots[1] = &del->info1;
  return end_on_cursor(conn, err, del->cursor, status_and_info(conn, err, slots, nullptr));
}

a_cmdseq_return CmdSeqExplain(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_explain_param* explain) {
  explain->info3 = 0;
  if (!is_open(explain->cursor, err)) return CMDSEQ_ERROR;
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  result = send_handle(conn, err, kItemExplain, explain->cursor);
  a_cmdseq_desc_item* item = explain->plan != nullptr ? explain->plan->items : nullptr;
  if (result == CMDSEQ_OK) {
    result =
        item == nullptr
            ? pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_DEFINITION, 0))
            : i_cs_SendAppColDefn(conn, err, item->type, item->subtype, item->precision,
                                  item->scale, item->length);
  }
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK) return fail_unsent(conn, err, result);
  const a_cmdseq_return value = i_cs_ReceiveOptionalVal(conn, err, explain->plan);
  if (!i_cs_ReplyRead(value)) return i_cs_EndRequest(conn, err, value);
  std::uint32_t* slots[kInfoSlots] = {};
  slots[3] = &explain->info3;
  result = status_and_info(conn, err, slots, nullptr);
  if (i_cs_ReplyRead(result)) result = i_cs_MoreSevereError(result, value);
  return end_on_cursor(conn, err, explain->cursor, result);
}

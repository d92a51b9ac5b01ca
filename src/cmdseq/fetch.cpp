// Reading prefetch replies (see fetch.h).
#include "cmdseq/fetch.h"

#include "cmdseq/fetch_buffer.h"
#include "cmdseq/request.h"
#include "utils/base/memory.h"

namespace {

constexpr unsigned kInfoNoPrefetch = 21;

// A copy of the block's error in a new block, or null when memory is short.
a_cmdseq_error_info* copy_error(a_cmdseq_error_info* from) {
  auto* copy = static_cast<a_cmdseq_error_info*>(ut_malloc(sizeof(a_cmdseq_error_info)));
  if (copy == nullptr) return nullptr;
  CmdSeqInitErrorParam(from->env, copy, from->owner);
  i_cs_SaveErrorTo(from, copy);  // parameters and message move to the copy
  return copy;
}

void drop_saved(a_cmdseq_cursor* cursor) {
  if (cursor->saved_prefetch_error == nullptr) return;
  CmdSeqFiniErrorParam(cursor->saved_prefetch_error);
  ut_free(cursor->saved_prefetch_error);
  cursor->saved_prefetch_error = nullptr;
}

}  // namespace

a_cmdseq_return i_cs_ReceivePrefetchTrailer(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                                            a_cmdseq_error_info* err) {
  drop_saved(cursor);
  a_cmdseq_error_info status_err;
  CmdSeqInitErrorParam(conn->env, &status_err, err->owner);
  a_cmdseq_return result = i_cs_ReceiveSuccessOrError(conn, &status_err);
  if (result == CMDSEQ_WARNING && status_err.sqlcode == 100 &&
      (cursor->flags_b & CS_CURSOR_B_ROW_FAILED) == 0) {
    cursor->flags_b |= CS_CURSOR_B_END_BEHIND;
  }
  if ((cursor->flags_b & CS_CURSOR_B_ROW_FAILED) != 0) {
    cursor->flags_a &= static_cast<std::uint8_t>(~(CS_CURSOR_A_PREFETCH | CS_CURSOR_A_GROWTH));
    cursor->flags_b |= CS_CURSOR_B_ABANDONED;
  }
  const std::int32_t status_code = status_err.sqlcode;
  if (result == CMDSEQ_ERROR) {
    cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_PREFETCH);
    cursor->saved_prefetch_error = copy_error(&status_err);
  }
  CmdSeqFiniErrorParam(&status_err);
  if (i_cs_ReplyRead(result)) {
    std::uint32_t no_prefetch = 0;
    std::uint32_t flags = 0;
    std::uint32_t* slots[kInfoSlots] = {};
    slots[kInfoNoPrefetch] = &no_prefetch;
    slots[kInfoFlagsSlot] = &flags;
    result = i_cs_ReceiveAllInfo(conn, err, slots);
    if (no_prefetch != 0) cursor->flags_a |= CS_CURSOR_A_NO_PREFETCH;
  }
  if (result == CMDSEQ_PROTOCOL_ERROR) result = i_cs_ReSyncIfProtocolError(conn, result, err);
  if (cursor->rows_received != 0) {
    const std::uint32_t bytes = StrmGetBytesRecvUncomp(conn->strm_conn) - cursor->bytes_at_prefetch;
    cursor->avg_row_bytes = bytes / cursor->rows_received;
  } else {
    cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_PREFETCH);
  }
  if (cursor->rows_received == cursor->rows_asked) {
    cursor->flags_b |= CS_CURSOR_B_COMPLETE;
  } else {
    cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_COMPLETE);
  }
  if (status_code == -180) i_cs_RemoveCursor(conn, cursor);
  return result;
}

a_cmdseq_return i_cs_ReceiveFetchPendingIntoBuffers(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                                                    a_cmdseq_error_info* err) {
  if (conn->prefetch_cursor == cursor) conn->prefetch_cursor = nullptr;
  if (cursor->buffer == nullptr) {
    // Without room the rows are read and dropped by the row reader.
    (void)i_cs_CreateFetchBuffer(cursor, cursor->rows_asked, cursor->buffered_columns);
  }
  a_cmdseq_return result = CMDSEQ_OK;
  for (;;) {
    bool end = false;
    bool inserted = false;
    result = i_cs_ReceiveRowIntoBuffer(conn, err, cursor, &end, &inserted);
    if (!i_cs_ReplyRead(result) || end) break;
  }
  switch (result) {
    case CMDSEQ_NOT_CONNECTED:
    case CMDSEQ_NO_MEMORY:
    case CMDSEQ_CANCELLED:
    case CMDSEQ_SERVER_CLOSED:
      return result;
    case CMDSEQ_OK:
    case CMDSEQ_WARNING:
    case CMDSEQ_ERROR:
      break;
    default: {
      // A broken prefetch reply: skip to its end and prefetch no more on this cursor.
      const a_sqlpres_code code = SQLPresReSync(conn->strm_conn, 1);
      cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_PREFETCH);
      return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
    }
  }
  result = i_cs_ReceivePrefetchTrailer(conn, cursor, err);
  switch (result) {
    case CMDSEQ_NOT_CONNECTED:
    case CMDSEQ_NO_MEMORY:
    case CMDSEQ_CANCELLED:
    case CMDSEQ_SERVER_CLOSED:
      return result;
    default:
      return CMDSEQ_OK;
  }
}

// Cursor bookkeeping of a connection: the cursor list, the flush-buffers list, the rules
// that forget cursors the server closed, position alignment and the prefetch in flight.
#include "cmdseq/cursor.h"

#include <cstring>

#include "cmdseq/fetch.h"
#include "cmdseq/fetch_buffer.h"
#include "cmdseq/request.h"
#include "cmdseq/stmt_cache.h"
#include "cmdseq/wire_bytes.h"
#include "utils/base/memory.h"

namespace {

constexpr std::uint8_t kItemAlign = 37;

void free_saved_error(a_cmdseq_cursor* cursor) {
  if (cursor->saved_prefetch_error == nullptr) return;
  CmdSeqFiniErrorParam(cursor->saved_prefetch_error);
  ut_free(cursor->saved_prefetch_error);
  cursor->saved_prefetch_error = nullptr;
}

// Unlinks the cursor's node; true when it was listed.
bool unlink_cursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor) {
  for (a_cmdseq_cursor_node** at = &conn->cursors; *at != nullptr; at = &(*at)->next) {
    if ((*at)->cursor == cursor) {
      a_cmdseq_cursor_node* node = *at;
      *at = node->next;
      ut_free(node);
      return true;
    }
  }
  return false;
}

// A cursor whose prefetch is in flight loses it: the rest of that reply is dropped.
void drop_pending_prefetch(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor) {
  if (conn->prefetch_cursor != cursor) return;
  conn->prefetch_cursor = nullptr;
  (void)SQLPresReSync(conn->strm_conn, 0);
}

void close_cursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor) {
  drop_pending_prefetch(conn, cursor);
  i_cs_FreeAllFetchData(cursor);
  cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_OPEN);
}

}  // namespace

// --- Lists
// ------------------------------------------------------------------------------------

bool i_cs_AddCursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor) {
  auto* node = static_cast<a_cmdseq_cursor_node*>(ut_malloc(sizeof(a_cmdseq_cursor_node)));
  if (node == nullptr) return false;
  node->cursor = cursor;
  node->next = conn->cursors;
  conn->cursors = node;
  return true;
}

void i_cs_RemoveCursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor) {
  unlink_cursor(conn, cursor);
  close_cursor(conn, cursor);
}

unsigned i_cs_CloseCursors(a_cmdseq_conn* conn, a_cmdseq_cursor* current, bool all) {
  unsigned closed = 0;
  a_cmdseq_cursor_node** at = &conn->cursors;
  while (*at != nullptr) {
    a_cmdseq_cursor* cursor = (*at)->cursor;
    if (cursor != current && (all || (cursor->open_flags & CS_OPEN_CLOSE_OPEN) != 0)) {
      a_cmdseq_cursor_node* node = *at;
      *at = node->next;
      ut_free(node);
      close_cursor(conn, cursor);
      ++closed;
    } else {
      at = &(*at)->next;
    }
  }
  return closed;
}

void i_cs_CheckForClosedCursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                               a_cmdseq_error_info* err) {
  drop_pending_prefetch(conn, cursor);
  if (err->sqlcode == -180) i_cs_RemoveCursor(conn, cursor);
}

bool i_cs_InsertFlushBuffersList(a_cmdseq_conn* conn, std::uint32_t server_cursor) {
  for (a_cmdseq_flush_node* n = conn->flush_list; n != nullptr; n = n->next) {
    if (n->server_cursor == server_cursor) return true;
  }
  auto* node = static_cast<a_cmdseq_flush_node*>(ut_malloc(sizeof(a_cmdseq_flush_node)));
  if (node == nullptr) return false;
  node->server_cursor = server_cursor;
  node->next = conn->flush_list;
  conn->flush_list = node;
  return true;
}

bool i_cs_RemoveFlushBuffersList(a_cmdseq_conn* conn, std::uint32_t server_cursor) {
  for (a_cmdseq_flush_node** at = &conn->flush_list; *at != nullptr; at = &(*at)->next) {
    if ((*at)->server_cursor == server_cursor) {
      a_cmdseq_flush_node* node = *at;
      *at = node->next;
      ut_free(node);
      return true;
    }
  }
  return false;
}

void i_cs_FlushFetchDataAllCursors(a_cmdseq_conn* conn) {
  for (a_cmdseq_cursor_node* n = conn->cursors; n != nullptr; n = n->next) {
    if (n->cursor->buffer == nullptr) continue;
    i_cs_FlushBuffersForCursor(n->cursor, true);
    i_cs_RemoveFlushBuffersList(conn, n->cursor->server_cursor);
  }
}

void i_cs_SetCursorSharedDesc(a_cmdseq_cursor* cursor, a_cmdseq_shared_desc* shared) {
  if (cursor->shared_desc != nullptr) {
    cursor->shared_desc->release();
    cursor->shared_desc = nullptr;
    cursor->own_desc = nullptr;
  }
  if (shared != nullptr) {
    shared->add_ref();
    cursor->shared_desc = shared;
    cursor->own_desc = &shared->desc;
  }
}

void i_cs_FreeAllFetchData(a_cmdseq_cursor* cursor) {
  i_cs_FreeAllocatedFetchBuffers(cursor);
  ut_free(cursor->columns);
  cursor->columns = nullptr;
  cursor->entry_count = cursor->entry_room = 0;
  if ((cursor->flags_c & CS_CURSOR_C_OWN_DESC) != 0 && cursor->own_desc != nullptr) {
    CmdSeqFreeDescItems(cursor->own_desc);
    ut_free(cursor->own_desc);
    cursor->own_desc = nullptr;
    cursor->flags_c &= static_cast<std::uint8_t>(~CS_CURSOR_C_OWN_DESC);
  }
  i_cs_SetCursorSharedDesc(cursor, nullptr);
  free_saved_error(cursor);
}

void i_cs_FreeCursorLists(a_cmdseq_conn* conn) {
  while (a_cmdseq_cursor_node* node = conn->cursors) {
    conn->cursors = node->next;
    if (conn->prefetch_cursor == node->cursor) conn->prefetch_cursor = nullptr;
    i_cs_FreeAllFetchData(node->cursor);
    node->cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_OPEN);
    ut_free(node);
  }
  while (a_cmdseq_flush_node* node = conn->flush_list) {
    conn->flush_list = node->next;
    ut_free(node);
  }
}

// --- Position alignment and the prefetch in flight ------------------------------------------

a_cmdseq_return i_cs_AlignCursors(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  for (a_cmdseq_cursor_node* n = conn->cursors; n != nullptr; n = n->next) {
    a_cmdseq_cursor* cursor = n->cursor;
    if ((cursor->flags_a & CS_CURSOR_A_DELTA_TO_SEND) == 0) continue;
    std::uint8_t* p = nullptr;
    const a_sqlpres_code code = SQLPresSend(conn->strm_conn, kItemAlign, &p, 6, 0);
    if (code != SQLPRES_OK) {
      if (conn->prefetch_cursor == cursor) {
        i_cs_FlushBuffersForCursor(cursor, false);
        conn->prefetch_cursor = nullptr;
      }
      return i_cs_HandleSQLPresError(conn, code, err);
    }
    vq::cmdseq::store_le32(p, cursor->server_cursor);
    vq::cmdseq::store_le16(p + 4, cursor->position_delta);
    cursor->position_delta = 0;
    cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_DELTA_TO_SEND);
  }
  return CMDSEQ_OK;
}

bool i_cs_SetPrefetchPendingCursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor) {
  if (cursor == nullptr) {
    conn->prefetch_cursor = nullptr;
    return true;
  }
  if (conn->prefetch_cursor != nullptr) return false;
  conn->prefetch_cursor = cursor;
  return true;
}

a_cmdseq_return i_cs_ClearPrefetchPending(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                          bool receive) {
  a_cmdseq_cursor* cursor = conn->prefetch_cursor;
  if (cursor == nullptr) return CMDSEQ_OK;
  conn->prefetch_cursor = nullptr;
  if (receive) {
    const bool was_clean = err->sqlcode == 0;
    const a_cmdseq_return result = i_cs_ReceiveFetchPendingIntoBuffers(conn, cursor, err);
    // The prefetch's own error stays on the cursor; this request starts clean.
    if (result == CMDSEQ_OK && was_clean && err->sqlcode != 0) CmdSeqResetErrorParam(err, conn);
    return result;
  }
  cursor->flags_a &= static_cast<std::uint8_t>(~(CS_CURSOR_A_PREFETCH | CS_CURSOR_A_GROWTH));
  cursor->flags_b |= CS_CURSOR_B_ABANDONED;
  const a_sqlpres_code code = SQLPresReSync(conn->strm_conn, 0);
  return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
}

void i_cs_CancelCursorPrefetch(a_cmdseq_cursor* cursor, a_cmdseq_conn* conn,
                               a_cmdseq_error_info* err) {
  i_cs_RemoveFlushBuffersList(conn, cursor->server_cursor);
  if (conn->prefetch_cursor == cursor) (void)i_cs_ClearPrefetchPending(conn, err, false);
}

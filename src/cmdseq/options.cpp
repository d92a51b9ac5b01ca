// Options, server information, identifier quoting, file deletion and statement release.
#include "cmdseq/options.h"

#include <cstring>

#include "cmdseq/request.h"
#include "cmdseq/statement.h"
#include "cmdseq/wire_bytes.h"
#include "cmdseq/wire_values.h"

namespace {

constexpr std::uint8_t kItemServerInfo = 6;
constexpr std::uint8_t kItemDropCachedStmt = 32;
constexpr std::uint8_t kItemSetOption = 49;
constexpr std::uint8_t kItemGetOption = 50;
constexpr std::uint8_t kItemDeleteFile = 53;
constexpr std::uint8_t kItemNeedsQuotes = 56;
constexpr std::uint8_t kItemValueText = 107;

a_cmdseq_return pres(a_cmdseq_conn* conn, a_cmdseq_error_info* err, a_sqlpres_code code) {
  return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
}

// Status, then the information items (slot 17 processed).
a_cmdseq_return status_and_info(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(status)) return status;
  std::uint32_t flags = 0;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[kInfoFlagsSlot] = &flags;
  const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, slots);
  if (info != CMDSEQ_OK) return info;
  i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, nullptr);
  return status;
}

// Sends the written items and reads: the optional value into `value` (a one-item
// description or null), the status and the information.
a_cmdseq_return finish_with_value(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  a_cmdseq_desc* value, a_cmdseq_return sent) {
  a_cmdseq_return result = sent;
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK)
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
  const a_cmdseq_return value_result = i_cs_ReceiveOptionalVal(conn, err, value);
  if (!i_cs_ReplyRead(value_result)) return i_cs_EndRequest(conn, err, value_result);
  result = status_and_info(conn, err);
  if (!i_cs_ReplyRead(result)) return i_cs_EndRequest(conn, err, result);
  return i_cs_EndRequest(conn, err, i_cs_MoreSevereError(result, value_result));
}

a_cmdseq_return text_request(a_cmdseq_conn* conn, a_cmdseq_error_info* err, std::uint8_t code,
                             const char* text) {
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  result = pres(conn, err,
                text == nullptr
                    ? SQLPresSendCommand(conn->strm_conn, code, 0)
                    : SQLPresSendBytes(conn->strm_conn, code, text,
                                       static_cast<std::uint32_t>(std::strlen(text)), 0));
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK)
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
  return i_cs_EndRequest(conn, err, status_and_info(conn, err));
}

// A one-item, one-value description around a caller's item (its header and value 0).
struct SingleItem {
  a_cmdseq_desc desc;
  explicit SingleItem(const a_cmdseq_desc_item* item) {
    CmdSeqInitDesc(&desc);
    desc.count = 1;
    desc.items = reinterpret_cast<a_cmdseq_desc_item*>(desc.inline_item);
    std::memcpy(desc.items, item, sizeof(a_cmdseq_desc_item));
    desc.items->next = nullptr;
    desc.items->values()[0] = const_cast<a_cmdseq_desc_item*>(item)->values()[0];
    desc.flags |= CS_DESC_INLINE;
  }
  SingleItem(const SingleItem&) = delete;
  SingleItem& operator=(const SingleItem&) = delete;
};

}  // namespace

a_cmdseq_return CmdSeqGetOption(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                a_cmdseq_option_param* option) {
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  const a_cmdseq_desc_item* v = option->value;
  result = pres(conn, err, SQLPresSendCommand(conn->strm_conn, kItemGetOption, 0));
  if (result == CMDSEQ_OK)
    result = pres(conn, err, SQLPresSendName(conn->strm_conn, option->name, 0));
  if (result == CMDSEQ_OK)
    result = pres(conn, err, SQLPresSendName(conn->strm_conn, option->name2, 0));
  if (result == CMDSEQ_OK) {
    result = v == nullptr ? pres(conn, err,
                                 SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_DEFINITION, 0))
                          : i_cs_SendAppColDefn(conn, err, v->type, v->subtype, v->precision,
                                                v->scale, v->length);
  }
  if (v == nullptr) return finish_with_value(conn, err, nullptr, result);
  SingleItem one(v);
  return finish_with_value(conn, err, &one.desc, result);
}

a_cmdseq_return CmdSeqSetOption(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                const a_cmdseq_set_option_param* option) {
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  std::uint8_t* p = nullptr;
  result = pres(conn, err, SQLPresSend(conn->strm_conn, kItemSetOption, &p, 1, 0));
  if (result == CMDSEQ_OK) p[0] = option->temporary != 0 ? 1 : 0;
  if (result == CMDSEQ_OK)
    result = pres(conn, err, SQLPresSendName(conn->strm_conn, option->name, 0));
  if (result == CMDSEQ_OK)
    result = pres(conn, err, SQLPresSendName(conn->strm_conn, option->name2, 0));
  if (result == CMDSEQ_OK) {
    result =
        pres(conn, err,
             option->value == nullptr
                 ? SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_VALUE, 0)
                 : SQLPresSendBytes(conn->strm_conn, kItemValueText, option->value,
                                    static_cast<std::uint32_t>(std::strlen(option->value)), 0));
  }
  if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK)
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
  return i_cs_EndRequest(conn, err, status_and_info(conn, err));
}

a_cmdseq_return i_cs_GetStrServerInfo(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      std::uint16_t kind, char* buffer, std::uint32_t length) {
  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  a_cmdseq_return result = CmdSeqAllocDescItems(&desc, 1, 1);
  if (result != CMDSEQ_OK) return result == CMDSEQ_NO_MEMORY ? CMDSEQ_NO_MEMORY : CMDSEQ_FAILED;
  a_cmdseq_desc_item* item = desc.items;
  item->type = -21;
  item->length = length;
  item->values()[0].data = buffer;
  result = i_cs_StartRequest(conn, err);
  if (result == CMDSEQ_OK) {
    std::uint8_t* p = nullptr;
    result = pres(conn, err, SQLPresSend(conn->strm_conn, kItemServerInfo, &p, 2, 0));
    if (result == CMDSEQ_OK) vq::cmdseq::store_le16(p, kind);
    if (result == CMDSEQ_OK) result = i_cs_SendAppColDefn(conn, err, -21, 0, 0, 0, length);
    result = finish_with_value(conn, err, &desc, result);
  }
  CmdSeqFreeDescItems(&desc);
  return result;
}

a_cmdseq_return CmdSeqNeedsQuotes(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  const char* identifier) {
  return text_request(conn, err, kItemNeedsQuotes, identifier);
}

a_cmdseq_return CmdSeqDeleteFile(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 const char* file_name) {
  return text_request(conn, err, kItemDeleteFile, file_name);
}

int i_cs_PromptChangeExpiredPassword() { return 0; }

// --- Statement release -----------------------------------------------------------------------

void i_cs_DropStmt(a_cmdseq_conn* conn, a_cmdseq_stmt_handle* handle, bool force) {
  a_cmdseq_stmt_info* info = handle->info;
  if (info == nullptr) return;
  if ((info->flags & CS_INFO_PREPARED) != 0) {
    if (force || !conn->should_cache_stmt_info(info)) {
      i_cs_ForceDropStmtInfoStmt(conn, info);
    } else if ((info->flags & CS_INFO_CACHED_DROP) == 0) {
      (void)SQLPresSendHandle(conn->strm_conn, kItemDropCachedStmt, info->server_stmt, 0);
      conn->add_pending_info_req_handle(CS_PENDING_CACHED_DROP, info->server_stmt);
      info->flags |= CS_INFO_CACHED_DROP;
    }
  }
  conn->add_to_dropped_stmt_list(info);
  handle->info = nullptr;
  handle->stmt_id = CS_NULL_HANDLE;
}

a_cmdseq_return CmdSeqDropStmt(a_cmdseq_conn* conn, a_cmdseq_error_info*,
                               a_cmdseq_stmt_handle* handle) {
  if ((conn->status & CS_STATUS_CONNECTED) == 0) return CMDSEQ_NOT_CONNECTED;
  i_cs_DropStmt(conn, handle, false);
  return CMDSEQ_OK;
}

// The statement-information cache (see stmt_cache.h).
#include "cmdseq/stmt_cache.h"

#include <cstring>

#include "cmdseq/error_info.h"
#include "cmdseq/request.h"
#include "utils/base/memory.h"

namespace {

constexpr std::uint8_t kItemDropStmt = 23;
constexpr std::uint32_t kLastStmtNo = 2147483647;
constexpr std::uint32_t kInfoBytes = sizeof(a_cmdseq_stmt_info);

void free_text(a_cmdseq_conn* conn, a_cmdseq_stmt_info* info) {
  if (info->text == nullptr) return;
  conn->info_bytes -= static_cast<std::uint32_t>(info->text_len);
  ut_free(info->text);
  info->text = nullptr;
  info->text_len = -1;
}

// The dropped entry nearest the back that is counted as cached, or null.
a_cmdseq_stmt_info* last_cached(a_cmdseq_conn* conn) {
  c_utils_iter<a_cmdseq_stmt_info> it(conn->dropped_infos);
  for (it.reset_last(); !it.at_end(); it.prev()) {
    if (it.element()->counted_cached) return it.element();
  }
  return nullptr;
}

// Drops the server statement of a dropped entry that counted as cached.
void uncache(a_cmdseq_conn* conn, a_cmdseq_stmt_info* info) {
  if (info->counted_cached) {
    info->counted_cached = false;
    if (conn->cached_count > 0) --conn->cached_count;
  }
  if ((info->flags & CS_INFO_PREPARED) != 0) i_cs_ForceDropStmtInfoStmt(conn, info);
}

bool same_statement(const a_cmdseq_stmt_info* info, const a_cmdseq_prep_param* param) {
  if (info->text == nullptr || info->text_len != param->text_len) return false;
  if (info->prep_flags != param->flags) return false;
  if ((param->flags & CS_PREP_WITH_OPTION) != 0 && info->prep_option != param->option) {
    return false;
  }
  return std::memcmp(info->text, param->text, static_cast<std::size_t>(param->text_len)) == 0;
}

}  // namespace

// --- Entries ---------------------------------------------------------------------------------

a_cmdseq_stmt_info::a_cmdseq_stmt_info(a_cmdseq_conn* owner) noexcept : conn(owner) {
  CmdSeqInitDesc(&input);
}

a_cmdseq_stmt_info::~a_cmdseq_stmt_info() {
  free_descs();
  ut_free(text);
}

a_cmdseq_desc* a_cmdseq_stmt_info::output_desc() {
  if (output == nullptr) {
    // Soft allocation: a description the server sizes must not end the process.
    if (void* memory = ut_malloc(sizeof(a_cmdseq_shared_desc))) {
      output = new (memory) a_cmdseq_shared_desc;
    }
  }
  return output != nullptr ? &output->desc : nullptr;
}

a_cmdseq_shared_desc* a_cmdseq_stmt_info::acquire_output_desc() {
  if (output == nullptr) return nullptr;
  output->add_ref();
  return output;
}

void a_cmdseq_stmt_info::free_descs() {
  CmdSeqFreeDescItems(&input);
  CmdSeqInitDesc(&input);
  if (output != nullptr) output->release();  // cursors keep their own references
  output = nullptr;
}

void i_cs_ForceDropStmtInfoStmt(a_cmdseq_conn* conn, a_cmdseq_stmt_info* info) {
  (void)SQLPresSendHandle(conn->strm_conn, kItemDropStmt, info->server_stmt, 0);
  conn->add_pending_info_req_handle(CS_PENDING_DROP, info->server_stmt);
  info->flags &= static_cast<std::uint8_t>(~(CS_INFO_PREPARED | CS_INFO_CACHED_DROP));
  info->server_stmt = CS_NULL_HANDLE;
}

void i_cs_ResetStmtInfoAfterError(a_cmdseq_stmt_info* info) {
  if ((info->flags & CS_INFO_VALIDATE_SENT) == 0) info->reuse_flags |= CS_REUSE_FAILED_EARLY;
  info->flags &= static_cast<std::uint8_t>(~(CS_INFO_VALIDATE_SENT | CS_INFO_PREPARE_CACHED |
                                             CS_INFO_INPUT_DESCRIBED | CS_INFO_BOTH_DESCRIBED |
                                             CS_INFO_OUTPUT_DESCRIBED));
  info->reuse_flags &=
      static_cast<std::uint8_t>(~(CS_REUSE_RAN_WITHOUT_CURSOR | CS_REUSE_OPENED_CURSOR));
  info->free_descs();
}

// --- The cache -------------------------------------------------------------------------------

void a_cmdseq_conn::set_max_cached_stmt(std::uint16_t count) {
  if (server_strm_ver <= 10) return;
  if (count == 0) {
    flags2 &= static_cast<std::uint8_t>(~CS_FLAGS2_CACHE_ON);
  } else if (max_cached == 0) {
    flags2 |= CS_FLAGS2_CACHE_ON;
  }
  max_cached = count;
  const std::uint32_t limit = 5u * count;
  cache_limit = static_cast<std::uint16_t>(limit < 50 ? 50 : limit > 200 ? 200 : limit);
}

a_cmdseq_stmt_info* a_cmdseq_conn::new_stmt_info(const a_cmdseq_prep_param* param,
                                                 a_cmdseq_error_info* err,
                                                 a_cmdseq_return* result) {
  *result = CMDSEQ_OK;
  if (next_stmt_no == kLastStmtNo || param->text_len < 0 ||
      (param->text == nullptr && param->text_len != 0)) {
    i_cs_SetErrorInfo(err, -132);
    *result = CMDSEQ_ERROR;
    return nullptr;
  }

  // A dropped entry of the same statement is used again as it is.
  for (c_utils_iter<a_cmdseq_stmt_info> it(dropped_infos); !it.at_end(); it.next()) {
    a_cmdseq_stmt_info* info = it.element();
    if (info->text == nullptr) break;  // the shells at the back have no text
    if (!same_statement(info, param)) continue;
    ++info->use_count;
    if (info->counted_cached) {
      info->counted_cached = false;
      if (cached_count > 0) --cached_count;
    } else {
      info->server_stmt = CS_IMPLICIT_HANDLE;
    }
    info->unlink();
    --dropped_count;
    active_infos.prepend(info);
    return info;
  }

  a_cmdseq_stmt_info* info = nullptr;
  if (dropped_count > cache_limit && shell_count == 0) {
    // Prefer an entry used only once, looking at the older two thirds of the list.
    std::uint32_t look = dropped_count * 2u / 3u;
    if (look == 0) look = 1;
    c_utils_iter<a_cmdseq_stmt_info> it(dropped_infos);
    for (it.reset_last(); !it.at_end() && look > 0; it.prev(), --look) {
      if (it.element()->use_count == 1) {
        info = it.element();
        break;
      }
    }
    if (info == nullptr) info = dropped_infos.last_element();
  } else if (shell_count > 0) {
    info = dropped_infos.last_element();
    --shell_count;
  }

  if (info != nullptr) {
    info->unlink();
    --dropped_count;
    uncache(this, info);  // a statement nobody can find again is dropped on the server too
    free_text(this, info);
    info->free_descs();
    info->stmt_no = CS_NULL_HANDLE;
    info->server_stmt = CS_IMPLICIT_HANDLE;
    info->use_count = 1;
    info->dropped_at = 0;
    info->flags = CS_INFO_NEW;
    info->reuse_flags &= static_cast<std::uint8_t>(~0x1F);
    info->value_b = 0;
    info->param_count = 0;
  } else {
    void* memory = ut_malloc(sizeof(a_cmdseq_stmt_info));
    if (memory != nullptr) info = new (memory) a_cmdseq_stmt_info(this);
    if (info == nullptr) {
      *result = i_cs_OutOfMemoryConn(this, err);
      return nullptr;
    }
    info_bytes += kInfoBytes;
  }

  if (param->text_len < kMaxCachedTextBytes) {
    info->text = static_cast<char*>(ut_malloc(static_cast<std::size_t>(param->text_len) + 1));
    if (info->text != nullptr) {
      if (param->text_len != 0) {
        std::memcpy(info->text, param->text, static_cast<std::size_t>(param->text_len));
      }
      info->text[param->text_len] = '\0';
      info->text_len = param->text_len;
      info_bytes += static_cast<std::uint32_t>(param->text_len);
    }
  }
  info->prep_flags = param->flags;
  info->prep_option = (param->flags & CS_PREP_WITH_OPTION) != 0 ? param->option : 0;
  info->stmt_no = next_stmt_no++;
  active_infos.prepend(info);
  return info;
}

void a_cmdseq_conn::add_to_dropped_stmt_list(a_cmdseq_stmt_info* info) {
  info->unlink();
  // Cursors that share the output description hold references of their own.
  info->reuse_flags &= static_cast<std::uint8_t>(~CS_REUSE_CURSOR_DESC);
  if ((info->flags & CS_INFO_PREPARE_CACHED) != 0 && info->value_b == 2 &&
      info->param_count == 0) {
    free_text(this, info);
  }
  if (info->text != nullptr) {
    if ((info->flags & CS_INFO_PREPARED) != 0) {
      info->counted_cached = true;
      ++cached_count;
    }
    info->dropped_at = exec_count;
    dropped_infos.prepend(info);
  } else {
    dropped_infos.append(info);
    ++shell_count;
  }
  ++dropped_count;
}

bool a_cmdseq_conn::should_cache_stmt_info(a_cmdseq_stmt_info* info) {
  if ((flags2 & CS_FLAGS2_CACHE_ON) == 0 || info->use_count < 2) return false;
  if ((info->flags & CS_INFO_PREPARE_CACHED) == 0 ||
      (info->reuse_flags & CS_REUSE_FAILED_EARLY) != 0) {
    return false;
  }
  if ((info->reuse_flags & CS_REUSE_OPENED) != 0 && env != nullptr && env->app_type == 1 &&
      (info->prep_flags & 0x01) == 0) {
    return false;
  }
  if (cached_count < max_cached) return true;
  a_cmdseq_stmt_info* victim = last_cached(this);
  if (victim == nullptr) return true;
  if (info->use_count >= victim->use_count * 3 / 2) {
    uncache(this, victim);
    return true;
  }
  return false;
}

void a_cmdseq_conn::increment_execute_count() {
  ++exec_count;
  if (exec_count % 100 != 0) return;
  if (cached_count != 0) {
    c_utils_iter<a_cmdseq_stmt_info> it(dropped_infos);
    for (it.reset_last(); !it.at_end(); it.prev()) {
      a_cmdseq_stmt_info* info = it.element();
      if (info->counted_cached && exec_count - info->dropped_at > 99) {
        uncache(this, info);
        break;
      }
    }
  }
  if (dropped_count - shell_count >= cache_limit) {
    // The entry just in front of the shells.
    c_utils_iter<a_cmdseq_stmt_info> it(dropped_infos);
    it.reset_last();
    for (std::uint32_t skip = shell_count; skip > 0 && !it.at_end(); --skip) it.prev();
    a_cmdseq_stmt_info* info = it.element();
    if (info != nullptr && info->text != nullptr && info->use_count > 1 &&
        exec_count - info->dropped_at > 499) {
      free_text(this, info);
      ++shell_count;
    }
  }
  if ((flags2 & CS_FLAGS2_CACHE_ON) == 0 && max_cached != 0 && exec_count % 1000 == 0) {
    flags2 |= CS_FLAGS2_CACHE_ON;
    validate_hits = validate_misses = 0;
  }
}

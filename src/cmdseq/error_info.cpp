// Error blocks: initialisation, the survival rule, parameters, moves between blocks.
#include "cmdseq/error_info.h"

#include <cstddef>
#include <cstring>

#include "cmdseq/client.h"
#include "config/conn_string.h"
#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"

namespace {

constexpr char kNoState[] = "00000";

void set_state(char* dst, const char* src) {
  std::memcpy(dst, src, 5);
  dst[5] = '\0';
}

void clear_code(a_cmdseq_error_info* err) {
  err->sqlcode = 0;
  set_state(err->server_state, kNoState);
  set_state(err->odbc3_state, kNoState);
  set_state(err->odbc2_state, kNoState);
}

void free_texts(a_cmdseq_error_info* err) {
  CmdSeqFreeStrList(err->params);
  err->params = nullptr;
  ut_free(err->message);
  err->message = nullptr;
}

// The survival rule: a stored error stays; a stored warning yields only to an error.
bool replaces(std::int32_t stored, std::int32_t incoming) {
  if (stored < 0) return false;
  if (stored > 0 && incoming >= 0) return false;
  return true;
}

UTLangStringBase* env_strings(const a_cmdseq_env* env) {
  if (env == nullptr || env->lang == nullptr) return nullptr;
  return env->lang;
}

}  // namespace

void CmdSeqInitErrorParam(a_cmdseq_env* env, a_cmdseq_error_info* err, std::uintptr_t owner) {
  err->owner = owner;
  err->env = env;
  err->cursors_closed = 0;
  err->lang = env_strings(env);
  clear_code(err);
  err->params = nullptr;
  err->message = nullptr;
}

void CmdSeqResetErrorParam(a_cmdseq_error_info* err, a_cmdseq_conn* conn) {
  free_texts(err);
  clear_code(err);
  err->cursors_closed = 0;
  if (conn != nullptr && (conn->status & CS_STATUS_CONNECTED) != 0 && conn->lang != nullptr) {
    err->lang = conn->lang;
  } else {
    err->lang = env_strings(err->env);
  }
}

void CmdSeqFiniErrorParam(a_cmdseq_error_info* err) { free_texts(err); }

void CmdSeqResetLocale(a_cmdseq_error_info* err) { err->lang = nullptr; }

bool i_cs_SetErrorInfo(a_cmdseq_error_info* err, std::int32_t sqlcode) {
  if (!replaces(err->sqlcode, sqlcode)) return false;
  free_texts(err);
  err->sqlcode = sqlcode;
  if (const a_cmdseq_error_map* row = GetErrorMapForSQLCode(sqlcode)) {
    CmdSeqGetStateString(row->server_state, err->server_state);
    CmdSeqGetStateString(row->odbc3_state, err->odbc3_state);
    CmdSeqGetStateString(row->odbc2_state, err->odbc2_state);
  } else if (sqlcode < 0) {
    set_state(err->server_state, "HY000");
    set_state(err->odbc3_state, "HY000");
    set_state(err->odbc2_state, "S1000");
  } else {
    set_state(err->server_state, sqlcode == 0 ? kNoState : "01000");
    set_state(err->odbc3_state, sqlcode == 0 ? kNoState : "01000");
    set_state(err->odbc2_state, sqlcode == 0 ? kNoState : "01000");
  }
  return true;
}

void i_cs_ForceErrorInfo(a_cmdseq_error_info* err, std::int32_t sqlcode,
                         const char* server_state, const char* odbc3_state,
                         const char* odbc2_state) {
  free_texts(err);
  err->sqlcode = sqlcode;
  set_state(err->server_state, server_state);
  set_state(err->odbc3_state, odbc3_state);
  set_state(err->odbc2_state, odbc2_state);
}

bool i_cs_SetErrorParamN(a_cmdseq_error_info* err, const char* text, std::uint32_t length) {
  if (text == nullptr) return true;
  auto* node = static_cast<a_cmdseq_str_node*>(
      ut_malloc(offsetof(a_cmdseq_str_node, text) + static_cast<std::size_t>(length) + 1));
  if (node == nullptr) {
    CmdSeqFreeStrList(err->params);
    err->params = nullptr;
    return false;
  }
  node->next = nullptr;
  std::memcpy(node->text, text, length);
  node->text[length] = '\0';
  a_cmdseq_str_node** tail = &err->params;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = node;
  return true;
}

bool i_cs_SetErrorParam(a_cmdseq_error_info* err, const char* text) {
  if (text == nullptr) return true;
  return i_cs_SetErrorParamN(err, text, static_cast<std::uint32_t>(std::strlen(text)));
}

bool CmdSeqSetErrorParamStr(a_cmdseq_error_info* err, const char* text) {
  return i_cs_SetErrorParam(err, text);
}

void i_cs_SetParseError(a_cmdseq_env* env, a_cmdseq_error_info* err,
                        const a_string_parms* parms, int code) {
  if (code == 0) return;
  char text[256];
  text[0] = '\0';
  GetParseErrorInfo(code, parms, env_strings(env), text, sizeof text);
  if (i_cs_SetErrorInfo(err, code == 10 ? -754 : -95)) i_cs_SetErrorParam(err, text);
}

void CmdSeqCombineErrorParams(a_cmdseq_error_info* dst, a_cmdseq_error_info* src) {
  if (src->sqlcode == 0 || !replaces(dst->sqlcode, src->sqlcode)) {
    free_texts(src);
    return;
  }
  free_texts(dst);
  dst->sqlcode = src->sqlcode;
  set_state(dst->server_state, src->server_state);
  set_state(dst->odbc3_state, src->odbc3_state);
  set_state(dst->odbc2_state, src->odbc2_state);
  dst->params = src->params;
  dst->message = src->message;
  src->params = nullptr;
  src->message = nullptr;
}

void i_cs_SaveErrorTo(a_cmdseq_error_info* err, a_cmdseq_error_info* save) {
  *save = *err;
  err->params = nullptr;
  err->message = nullptr;
}

void i_cs_RestoreErrorFrom(a_cmdseq_error_info* err, a_cmdseq_error_info* save) {
  free_texts(err);
  *err = *save;
  save->params = nullptr;
  save->message = nullptr;
}

void CmdSeqFreeStrList(a_cmdseq_str_node* list) {
  while (list != nullptr) {
    a_cmdseq_str_node* next = list->next;
    ut_free(list);
    list = next;
  }
}

a_cmdseq_return i_cs_ResultOfSQLCode(const a_cmdseq_error_info* err) {
  if (err->sqlcode == 0) return CMDSEQ_OK;
  return err->sqlcode > 0 ? CMDSEQ_WARNING : CMDSEQ_ERROR;
}

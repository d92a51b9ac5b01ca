// The connect road above one attempt: the pool first, then connects repeated with a
// back-off while the server is still starting, and at most one hop through a redirection
// list. A server reached through a redirection that redirects again ends the connect: a
// chain of redirections could otherwise lead the client, with the user's password, from
// server to server without end.
//
// What the client keeps of the first server's answer is only the list itself: each entry
// rewrites ServerName, DatabaseName, CommLinks and Host (NodeType is cleared) in the
// caller's parameters, and every other slot, the user id and password among them, stays.
// The new server gets the password enciphered under its own key material.
#include <chrono>
#include <cstring>
#include <thread>

#include "cmdseq/conn_pool.h"
#include "cmdseq/connect.h"
#include "cmdseq/request_log.h"
#include "config/conn_parms.h"
#include "config/conn_string.h"
#include "config/option_tables.h"
#include "utils/base/memory.h"

namespace {

std::atomic<a_cs_connect_attempt> g_attempt{nullptr};

void default_sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
std::atomic<a_cs_sleep> g_sleep{default_sleep};

constexpr unsigned kStillStartingTries = 10;
constexpr unsigned kFirstBackoffMs = 100;
constexpr unsigned kMaxBackoffMs = 2000;

a_cmdseq_return run_attempt(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                            a_cmdseq_strconn_param* param, int engine_only,
                            c_cmdseq_redirect_server_list* redirect) {
  const a_cs_connect_attempt attempt = g_attempt.load();
  if (attempt == nullptr) return i_cs_Connect(conn, err, param, engine_only, redirect);
  return attempt(conn, err, param, engine_only, redirect);
}

}  // namespace

void i_cs_SetConnectAttempt(a_cs_connect_attempt attempt) { g_attempt.store(attempt); }
void i_cs_SetConnectSleep(a_cs_sleep sleep) { g_sleep.store(sleep != nullptr ? sleep : default_sleep); }

bool c_cmdseq_redirect_server::mergeParameters(c_conn_parms* parms) const {
  a_string_parms scratch{};
  if (ParseStringParmsStringOnly(this->parms != nullptr ? this->parms : "", &scratch) != 0) {
    FreeStringParms(&scratch);
    return false;
  }
  auto value = [&](int slot) -> const char* {
    return scratch.values != nullptr && slot < scratch.count ? scratch.values[slot] : nullptr;
  };
  parms->setString(kSlotServerName, name);
  parms->setString(kSlotDatabaseName, value(kSlotDatabaseName));
  parms->setString(kSlotCommLinks, value(kSlotCommLinks));
  parms->setString(kCsSlotHost, value(kCsSlotHost));
  parms->setString(kCsSlotNodeType, nullptr);
  FreeStringParms(&scratch);
  return true;
}

a_cmdseq_return i_cs_StringConnect(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                                   a_cmdseq_strconn_param* param, int engine_only) {
  c_cmdseq_redirect_server_list first;
  a_cmdseq_return result = run_attempt(conn, err, param, engine_only, &first);
  if ((result != CMDSEQ_OK && result != CMDSEQ_WARNING) || first.is_empty()) return result;

  // The attempt dropped the connection that redirected us.
  *conn = nullptr;
  a_cmdseq_conn_attrib* attrib = CmdSeqCreateConnAttributes(param->parms, param->env, err);
  if (attrib == nullptr) return CMDSEQ_NO_MEMORY;
  result = CMDSEQ_COMM_FAILURE;
  bool done = false;
  for (c_utils_iter<c_cmdseq_redirect_server> it(first); !it.at_end() && !done; it.next()) {
    c_cmdseq_redirect_server* entry = it.element();
    if (!entry->mergeParameters(param->parms)) continue;
    CmdSeqPrtMsgId(attrib, 25008, entry->name, entry->parms);
    CmdSeqResetErrorParam(err, nullptr);
    param->server_started = 0;  // the entry's server is not one this connect started
    c_cmdseq_redirect_server_list again;
    a_cmdseq_conn* next = nullptr;
    const a_cmdseq_return r = run_attempt(&next, err, param, engine_only, &again);
    if (!again.is_empty()) {
      i_cs_SetErrorInfo(err, -1380);
      result = CMDSEQ_COMM_FAILURE;
      done = true;
    } else if (r == CMDSEQ_OK || r == CMDSEQ_WARNING) {
      *conn = next;
      result = r;
      done = true;
    }
  }
  if (!done) {
    i_cs_SetErrorInfo(err, -100);
    result = CMDSEQ_COMM_FAILURE;
  }
  CmdSeqFreeConnAttributes(attrib);
  return result;
}

a_cmdseq_return CmdSeqStringConnect(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                                    a_cmdseq_strconn_param* param) {
  *conn = nullptr;
  a_cmdseq_pooled_conn_str* pooled = nullptr;
  a_cmdseq_return result = conn_pool_reuse(conn, err, param, &pooled);
  if (result == CMDSEQ_OK) return CMDSEQ_OK;
  if (result == CMDSEQ_ERROR && err->sqlcode == -95) return result;
  if (result == CMDSEQ_NO_MEMORY) return result;

  // A server that is still starting is asked again after a pause that grows, not at once:
  // ten connects back to back would all land inside the start.
  // A server one try starts stays this connect's for the tries after it (it may answer
  // that it is still starting), so the flag is cleared once, here.
  param->server_started = 0;
  unsigned backoff = kFirstBackoffMs;
  for (unsigned attempt = 0; attempt < kStillStartingTries; ++attempt) {
    if (attempt != 0) {
      g_sleep.load()(backoff);
      backoff = backoff * 2 > kMaxBackoffMs ? kMaxBackoffMs : backoff * 2;
    }
    CmdSeqResetErrorParam(err, nullptr);
    result = i_cs_StringConnect(conn, err, param, 0);
    if (err->sqlcode != -77) break;
  }
  if (result != CMDSEQ_OK && result != CMDSEQ_WARNING) {
    if (result != CMDSEQ_WARNING) *conn = nullptr;
    if (param->env != nullptr) delete_pooled_conn_str_if_unused(param->env->conn_pool, pooled);
  } else if (*conn != nullptr) {
    (*conn)->pooled_str = pooled;
  }
  if (param->env != nullptr && param->env->out_of_memory.load() != 0) {
    if (*conn == nullptr) return CMDSEQ_NO_MEMORY;
    return i_cs_OutOfMemoryConn(*conn, err);
  }
  return result;
}

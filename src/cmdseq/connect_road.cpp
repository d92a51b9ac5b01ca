// One connect attempt to one server: find the server (starting a local one when the
// parameters allow it), send the database-connect request, start the database when the
// server does not have it running, and clean up on every failure (a server started here
// is shut down again).
#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "cmdseq/connect.h"
#include "cmdseq/request_log.h"
#include "config/conn_parms.h"
#include "config/conn_string.h"
#include "config/key_value_parser.h"
#include "config/option_tables.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/file_locations.h"
#include "utils/base/memory.h"

// A weak reference: programs that link the client without the communication stack (the
// stand-in tests) get no real engine connect, the shared library always has it.
extern a_cmdseq_conn* i_cs_EngineConnect(a_cmdseq_env* env, c_conn_parms* parms,
                                         a_cmdseq_error_info* err, a_cmdseq_conn_attrib* attrib,
                                         const a_cmdseq_strconn_param* param)
    __attribute__((weak));

namespace {

std::atomic<a_cs_engine_connect> g_engine_connect{nullptr};
std::atomic<a_cs_password_prompt> g_password_prompt{nullptr};

constexpr const char* kDefaultServerProgram = "vqeng12";
constexpr unsigned kDatabaseStartTries = 10;
constexpr std::size_t kServerNameBytes = 256;
constexpr std::size_t kProgramPathBytes = 4096;

a_cmdseq_conn* engine_connect(a_cmdseq_env* env, c_conn_parms* parms, a_cmdseq_error_info* err,
                              a_cmdseq_conn_attrib* attrib, const a_cmdseq_strconn_param* param) {
  a_cs_engine_connect f = g_engine_connect.load();
  if (f == nullptr) f = i_cs_EngineConnect;  // null when the stack is not linked
  if (f == nullptr) return nullptr;
  // The server name travels in the client character set: the slot holds the converted
  // name for the time of the stream connect.
  const char* eng = parms->getString(kSlotServerName);
  char* converted = i_cs_ConvertFromOSCharset(env, parms->getString(kCsSlotCharset), eng);
  char* original = converted != nullptr ? ut_strdup(eng) : nullptr;
  if (original != nullptr) parms->setString(kSlotServerName, converted);
  a_cmdseq_conn* conn = f(env, parms, err, attrib, param);
  if (original != nullptr) parms->setString(kSlotServerName, original);
  ut_free(original);
  ut_free(converted);
  return conn;
}

// True when the real communication stack finds servers (no engine connect installed).
bool real_stack() { return g_engine_connect.load() == nullptr; }

// Finds a server through CmdSeqEngineConnect with the connect's settings: the
// connection (one reference) or null.
a_cmdseq_conn* find_server(a_cmdseq_env* env, c_conn_parms* parms, a_cmdseq_error_info* err,
                           a_cmdseq_conn_attrib* attrib, const a_cmdseq_strconn_param* param) {
  a_cmdseq_engine_block block{};
  block.env = env;
  block.attrib = attrib;
  block.parms = parms;
  if (param != nullptr) {
    block.forced_level = param->forced_level;
    block.forced_first_word = param->forced_first_word;
    block.api_charset = param->api_charset;
  }
  a_cmdseq_conn* conn = nullptr;
  (void)CmdSeqEngineConnect(&conn, err, &block);
  return conn;
}

bool is_shared_memory_link(const c_conn_parms* parms) {
  const char* links = parms->getString(kSlotCommLinks);
  if (links == nullptr || *links == '\0') return true;
  return strcasecmp(links, "SharedMemory") == 0 || strcasecmp(links, "ShMem") == 0;
}

void drop(a_cmdseq_conn*& conn) {
  if (conn == nullptr) return;
  (void)CmdSeqDropConnection(conn, nullptr);
  conn = nullptr;
}

bool keeps_connection(a_cmdseq_return r) {
  return r == CMDSEQ_NOT_CONNECTED || r == CMDSEQ_SERVER_CLOSED || r == CMDSEQ_NO_MEMORY;
}

// Shuts a server started by this connect down and drops the connection to it.
void shutdown_and_drop(a_cmdseq_conn*& conn) {
  if (conn == nullptr) return;
  a_cmdseq_error_info scratch;
  CmdSeqInitErrorParam(conn->env, &scratch, 0);
  (void)i_cs_ShutdownEngine(conn, &scratch, 0);
  CmdSeqFiniErrorParam(&scratch);
  drop(conn);
}

// The file name of a path without its directory and extension.
void base_name(const char* path, char* out, std::size_t size) { ParseDBName(path, out, size); }

}  // namespace

void i_cs_SetEngineConnect(a_cs_engine_connect connect) { g_engine_connect.store(connect); }

a_cmdseq_return CmdSeqEngineConnect(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                                    const a_cmdseq_engine_block* block) {
  *conn = nullptr;
  if (real_stack() &&
      i_cs_AllocStrmEnv(block->env, block->parms, err) != CMDSEQ_OK) {
    i_cs_SetErrorInfo(err, -876);
    return CMDSEQ_NOT_CONNECTED;
  }
  a_cmdseq_strconn_param param{};
  param.parms = block->parms;
  param.env = block->env;
  param.forced_level = block->forced_level;
  param.forced_first_word = block->forced_first_word;
  param.api_charset = block->api_charset;
  *conn = engine_connect(block->env, block->parms, err, block->attrib, &param);
  return *conn != nullptr ? CMDSEQ_OK : CMDSEQ_NOT_CONNECTED;
}

void i_cs_SetPasswordPrompt(a_cs_password_prompt prompt) { g_password_prompt.store(prompt); }

int i_cs_PromptChangeExpiredPassword(a_cmdseq_conn* conn, c_conn_parms* parms) {
  const a_cs_password_prompt f = g_password_prompt.load();
  return f != nullptr && f(conn, parms) != 0 ? 1 : 0;
}

void i_cs_ApplyFetchSettings(a_cmdseq_conn* conn, c_conn_parms* parms,
                             a_cmdseq_conn_attrib* attrib) {
  const std::int32_t rows = parms->getInt(kSlotPrefetchRows);
  conn->prefetch_rows =
      static_cast<std::uint16_t>(rows < 0 ? 0 : (rows > 0xFFFF ? 0xFFFF : rows));
  std::int32_t buffer = parms->getInt(kSlotPrefetchBuffer);
  if (buffer < static_cast<std::int32_t>(kMinPrefetchBuffer)) {
    CmdSeqPrtMsgId(attrib, 14910, "65536");
    buffer = static_cast<std::int32_t>(kMinPrefetchBuffer);
    parms->setInt(kSlotPrefetchBuffer, buffer);
  }
  conn->fetch_budget = static_cast<std::uint32_t>(buffer);
  const char* lazy = parms->getString(kSlotLazyClose);
  int yes = 0;
  if (lazy != nullptr && ParseYesNo(lazy, &yes, true)) {
    conn->close_mode = static_cast<std::uint8_t>(yes != 0 ? 2 : 0);
  }
  // The message names the setting: it must be given, or the formatter reads an argument
  // that was never passed.
  char mode[4];
  ut_snprintf(mode, sizeof mode, "%u", static_cast<unsigned>(conn->close_mode));
  CmdSeqPrtMsgId(attrib, 9521, mode);
}

a_cmdseq_return i_cs_StartEngine(c_conn_parms* parms, a_cmdseq_env* env, a_cmdseq_error_info* err,
                                 std::uint32_t* was_running, char* name, std::size_t name_size,
                                 int suppress_ha, int skip_probe, std::int32_t* pid) {
  if (name != nullptr && name_size != 0) name[0] = '\0';
  *was_running = 0;
  *pid = 0;
  if (skip_probe == 0) {
    a_cmdseq_conn* probe = find_server(env, parms, err, nullptr, nullptr);
    if (probe != nullptr) {
      *was_running = 1;
      drop(probe);
      i_cs_SetErrorInfo(err, -96);
      return CMDSEQ_ERROR;
    }
    if (err->sqlcode < 0) return CMDSEQ_ERROR;
  }
  const char* start_line = parms->getString(kSlotStartLine);
  const char* eng = parms->getString(kSlotServerName);
  const char* dbn = parms->getString(kSlotDatabaseName);
  const char* dbf = parms->getString(kSlotDatabaseFile);
  if (eng == nullptr && dbn == nullptr && dbf == nullptr && start_line == nullptr) {
    i_cs_SetErrorInfo(err, -87);
    return CMDSEQ_ERROR;
  }
  if (start_line == nullptr && dbf == nullptr && eng == nullptr) {
    i_cs_SetErrorInfo(err, -72);
    return CMDSEQ_ERROR;
  }
  // Candidate heads: the StartLine, or the server program through the search path and
  // then by the product's file search.
  char found[kProgramPathBytes] = {};
  const char* candidates[2] = {start_line, nullptr};
  if (start_line == nullptr) {
    candidates[0] = kDefaultServerProgram;
    if (LS_QualifyVellumFile(1, kDefaultServerProgram, found, sizeof found, nullptr) != 0 &&
        found[0] != '\0' && std::strlen(found) < sizeof found) {
      candidates[1] = found;
    }
  }
  a_cmdseq_return result = CMDSEQ_ERROR;
  for (const char* head : candidates) {
    if (head == nullptr) continue;
    char* line = i_cs_BuildStartLine(head, parms, suppress_ha);
    if (line == nullptr) return CMDSEQ_NO_MEMORY;
    // The command line is given in the connection's character set.
    if (char* converted =
            i_cs_ConvertFromOSCharset(env, parms->getString(kCsSlotCharset), line)) {
      ut_free(line);
      line = converted;
    }
    CmdSeqResetErrorParam(err, nullptr);
    result = i_cs_PlatformSpecificStartEngine(line, env, err, pid);
    ut_free(line);
    if (result == CMDSEQ_OK) break;
  }
  if (result != CMDSEQ_OK) return result;
  if (name != nullptr && name_size != 0) {
    if (eng != nullptr) {
      std::snprintf(name, name_size, "%s", eng);
    } else if (dbn != nullptr) {
      std::snprintf(name, name_size, "%s", dbn);
    } else if (dbf != nullptr) {
      base_name(dbf, name, name_size);
    }
  }
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_Connect(a_cmdseq_conn** out, a_cmdseq_error_info* err,
                             a_cmdseq_strconn_param* param, int engine_only,
                             c_cmdseq_redirect_server_list* redirect) {
  // server_started is not cleared here: a server that an earlier try of this connect
  // started, and that answered it was still starting (-77), is still this connect's.
  *out = nullptr;
  a_cmdseq_env* env = param->env;
  c_conn_parms* parms = param->parms;
  i_cs_SetAppType(env->app_type);
  a_cmdseq_conn_attrib* attrib = CmdSeqCreateConnAttributes(parms, env, err);
  if (attrib == nullptr) return CMDSEQ_NO_MEMORY;
  struct AttribRelease {
    a_cmdseq_conn_attrib* a;
    ~AttribRelease() { CmdSeqFreeConnAttributes(a); }
  } attrib_release{attrib};

  // May a local server be started?
  bool start_allowed = false;
  bool database_named = false;
  const char* dbn = parms->getString(kSlotDatabaseName);
  if (parms->getBool(kSlotAutoStart) != 0 && param->allow_server_start != 0 &&
      is_shared_memory_link(parms) && parms->getString(kCsSlotHost) == nullptr) {
    if (parms->getString(kSlotDatabaseFile) != nullptr || parms->getString(kSlotStartLine) != nullptr) {
      start_allowed = true;
    } else if (dbn != nullptr && strcasecmp(dbn, "service_db") != 0) {
      database_named = true;
    } else if (dbn != nullptr) {
      start_allowed = parms->getString(kSlotServerName) != nullptr;
    }
  }

  // The stream environment, with this connection's buffer size and time-outs.
  if (real_stack()) {
    const a_cmdseq_return made = i_cs_AllocStrmEnv(env, parms, err);
    if (made != CMDSEQ_OK) return made;
    i_cs_SetEnvironmentParms(env->strm_env, parms);
  }

  a_cs_conn_hold hold;  // keeps the connection readable until this attempt is over
  a_cmdseq_conn* conn = find_server(env, parms, err, attrib, param);
  if (conn == nullptr && err->sqlcode < 0) return CMDSEQ_COMM_FAILURE;
  if (engine_only != 0) {
    *out = conn;
    return conn != nullptr ? CMDSEQ_OK : CMDSEQ_NOT_CONNECTED;
  }
  if (conn == nullptr && start_allowed) {
    char name[kServerNameBytes] = {};
    std::uint32_t running = 0;
    std::int32_t pid = 0;
    a_cmdseq_error_info saved;
    CmdSeqInitErrorParam(env, &saved, 0);
    const a_cmdseq_return started =
        i_cs_StartEngine(parms, env, err, &running, name, sizeof name, 0, 1, &pid);
    if (started == CMDSEQ_OK) {
      param->server_started = 1;
    } else {
      i_cs_SaveErrorTo(err, &saved);
      CmdSeqResetErrorParam(err, nullptr);
    }
    if (name[0] != '\0') parms->setString(kSlotServerName, name);
    conn = find_server(env, parms, err, attrib, param);
    if (conn == nullptr && started != CMDSEQ_OK) {
      CmdSeqResetErrorParam(err, nullptr);
      i_cs_RestoreErrorFrom(err, &saved);
    }
    CmdSeqFiniErrorParam(&saved);
    if (conn == nullptr && err->sqlcode < 0 && started == CMDSEQ_OK) return CMDSEQ_COMM_FAILURE;
  }
  hold.hold(conn);
  if (conn == nullptr) {
    if (err->sqlcode == 0) {
      i_cs_SetErrorInfo(err, -100);
    } else if (err->sqlcode == -87 && !database_named) {
      CmdSeqResetErrorParam(err, nullptr);
      i_cs_SetErrorInfo(err, -764);
    }
    return CMDSEQ_COMM_FAILURE;
  }
  const bool started_here = param->server_started != 0;
  if (CmdSeqCheckDebug(attrib) != 0) {
    // The heading, then the text on a line of its own: a message line holds 256
    // characters, which the application information often outgrows.
    char* app = i_cs_BuildAppInfo(conn, parms->getString(kCsSlotAppInfo));
    CmdSeqPrtMsgId(attrib, 9490);
    if (app != nullptr) CmdSeqPrtString(attrib, app);
    ut_free(app);
  }
  if (parms->getBool(kSlotDisableMultiRowFetch) != 0) {
    conn->status &= static_cast<std::uint8_t>(~CS_STATUS_MULTIROW);
  }
  i_cs_ApplyFetchSettings(conn, parms, attrib);

  // Old-style strings keep the database file for the server start only.
  char* held_dbf = nullptr;
  if (parms->oldstyle() && parms->getString(kSlotDatabaseFile) != nullptr) {
    held_dbf = ut_strdup(parms->getString(kSlotDatabaseFile));
    parms->setString(kSlotDatabaseFile, nullptr);
  }
  a_cmdseq_return result = i_cs_SendConnectRequest(conn, err, parms, &param->info_flag, redirect);
  if (result == CMDSEQ_ERROR && err->sqlcode == -1152 &&
      parms->getString(kSlotUserID) != nullptr) {
    // An expired password with NewPassword "*": a prompt may supply the new one.
    const char* newpwd = parms->getString(kSlotNewPassword);
    if (newpwd != nullptr && std::strcmp(newpwd, "*") == 0 &&
        i_cs_PromptChangeExpiredPassword(conn, parms) != 0) {
      CmdSeqResetErrorParam(err, conn);
      result = i_cs_SendConnectRequest(conn, err, parms, &param->info_flag, redirect);
    }
  }
  if (held_dbf != nullptr) {
    parms->setString(kSlotDatabaseFile, held_dbf);
    ut_free(held_dbf);
  }

  if (result == CMDSEQ_OK || result == CMDSEQ_WARNING) {
    if (redirect != nullptr && !redirect->is_empty()) {
      drop(conn);
      return result;
    }
    *out = conn;
    if (err->sqlcode == 0) CmdSeqPrtMsgId(attrib, 8762);
    return err->sqlcode != 0 ? CMDSEQ_WARNING : CMDSEQ_OK;
  }

  if (result == CMDSEQ_ERROR && (err->sqlcode == -83 || err->sqlcode == -76)) {
    CmdSeqResetErrorParam(err, conn);
    const bool may_start = (parms->getString(kSlotDatabaseFile) != nullptr ||
                            (dbn != nullptr && strcasecmp(dbn, "service_db") == 0)) &&
                           param->allow_database_start != 0;
    if (!may_start) {
      i_cs_SetErrorInfo(err, -83);
      drop(conn);
      return CMDSEQ_ERROR;
    }
    std::int32_t start_code = 0;
    for (unsigned tries = 0; tries < kDatabaseStartTries; ++tries) {
      const a_cmdseq_return r = i_cs_StartDatabase(conn, err, parms);
      if (r != CMDSEQ_OK && err->sqlcode != -77) {
        // The database could not be started.
        if (started_here) {
          if (!keeps_connection(r)) shutdown_and_drop(conn);
        } else if (!keeps_connection(r)) {
          drop(conn);
        }
        if (r == CMDSEQ_NO_MEMORY) {
          i_cs_SetErrorInfo(err, -82);
          return CMDSEQ_NO_MEMORY;
        }
        if (r != CMDSEQ_ERROR) {
          i_cs_SetErrorInfo(err, -82);
          return r == CMDSEQ_NOT_CONNECTED ? CMDSEQ_COMM_FAILURE : r;
        }
        return CMDSEQ_ERROR;
      }
      start_code = err->sqlcode;
      CmdSeqResetErrorParam(err, conn);
      result = i_cs_SendConnectRequest(conn, err, parms, &param->info_flag, redirect);
      if (result == CMDSEQ_OK || result == CMDSEQ_WARNING) {
        if (redirect != nullptr && !redirect->is_empty()) {
          drop(conn);
          return result;
        }
        *out = conn;
        return err->sqlcode != 0 ? CMDSEQ_WARNING : CMDSEQ_OK;
      }
      if (!(result == CMDSEQ_ERROR && err->sqlcode == -83)) break;
    }
    // The request failed after the database start. A server started here is shut down,
    // unless it is still starting: the connect is tried again and will find it.
    if (started_here && start_code != -77) {
      if (result != CMDSEQ_NO_MEMORY) shutdown_and_drop(conn);
    } else if (result == CMDSEQ_ERROR || result == CMDSEQ_NOT_CONNECTED ||
               result == CMDSEQ_SERVER_CLOSED) {
      drop(conn);
    }
    if (start_code == -77) {
      CmdSeqResetErrorParam(err, nullptr);
      i_cs_SetErrorInfo(err, -77);
    }
    if (conn != nullptr && result != CMDSEQ_NO_MEMORY) drop(conn);
    return result == CMDSEQ_NOT_CONNECTED ? CMDSEQ_COMM_FAILURE : result;
  }

  if (result == CMDSEQ_COMM_FAILURE) {
    drop(conn);
    return CMDSEQ_COMM_FAILURE;
  }
  if (result == CMDSEQ_NOT_CONNECTED) {
    result = CMDSEQ_COMM_FAILURE;
    if (err->sqlcode == 0) i_cs_SetErrorInfo(err, -832);
  }
  if (result != CMDSEQ_SERVER_CLOSED && result != CMDSEQ_NO_MEMORY) {
    // A server started here that is still starting stays for the next try, which finds
    // it; shut down and started again, it would answer -77 to every try.
    if (started_here && err->sqlcode != -77) {
      shutdown_and_drop(conn);
    } else {
      drop(conn);
    }
  } else {
    // The connection is lost already; what is left of it goes.
    drop(conn);
  }
  if (err->sqlcode >= 0) {
    CmdSeqResetErrorParam(err, nullptr);
    i_cs_SetErrorInfo(err, -105);
    result = CMDSEQ_COMM_FAILURE;
  }
  return result;
}

// --- Control operations for tools: no caller inside the client ---------------------------

namespace {

// A connection of a control operation: the caller's when it goes to the named server,
// else a new one that is dropped at the end of the scope.
class ControlConn {
 public:
  ControlConn(a_cmdseq_conn* given, a_cmdseq_env* env, c_conn_parms* parms,
              a_cmdseq_error_info* err, bool clear_links) {
    if (given != nullptr && same_engine(given, parms->getString(kSlotServerName))) {
      conn_ = given;
      return;
    }
    // A copy of the caller's parameters, without liveness and encryption and, when asked,
    // without a link list; the caller's stay as they are.
    c_conn_parms control;
    const char* text = parms->getConnectionString();
    if (text == nullptr || control.init(text, false) != 0) return;
    control.setInt(kSlotLivenessTimeout, 0);
    control.setString(kSlotEncryption, "none");
    if (clear_links) control.setString(kSlotCommLinks, nullptr);
    conn_ = find_server(env, &control, err, nullptr, nullptr);
    owned_ = conn_;
    hold_.hold(owned_);
  }
  ~ControlConn() { drop(owned_); }
  a_cmdseq_conn* get() const { return conn_; }
  ControlConn(const ControlConn&) = delete;
  ControlConn& operator=(const ControlConn&) = delete;

 private:
  a_cmdseq_conn* conn_ = nullptr;
  a_cmdseq_conn* owned_ = nullptr;
  a_cs_conn_hold hold_;
};

a_cmdseq_return not_found(a_cmdseq_error_info* err) {
  if (err->sqlcode >= 0) i_cs_SetErrorInfo(err, -100);
  return CMDSEQ_ERROR;
}

}  // namespace

a_cmdseq_return CmdSeqStartEngine(a_cmdseq_error_info* err, a_cmdseq_engine_ctl* rec) {
  rec->was_running = 0;
  rec->pid = 0;
  return i_cs_StartEngine(rec->parms, rec->env, err, &rec->was_running, nullptr, 0,
                          rec->suppress_ha, rec->parms->getBool(kSlotForceStart) != 0 ? 1 : 0,
                          &rec->pid);
}

a_cmdseq_return CmdSeqFindEngine(a_cmdseq_error_info* err, a_cmdseq_engine_ctl* rec) {
  c_conn_parms parms;
  if (parms.init("", false) != 0) return CMDSEQ_NO_MEMORY;
  parms.setString(kSlotServerName, rec->server_name);
  parms.setInt(kSlotLivenessTimeout, 0);
  parms.setInt(kSlotIdleTimeout, 0);
  ControlConn conn(nullptr, rec->env, &parms, err, false);
  if (conn.get() == nullptr) return not_found(err);
  a_cmdseq_conn* c = conn.get();
  a_cmdseq_return result = i_cs_StartRequest(c, err);
  if (result != CMDSEQ_OK) return result;
  const a_sqlpres_code code = SQLPresSendCommand(c->strm_conn, CS_ITEM_FIND_SERVER, 0);
  result = code == SQLPRES_OK ? i_cs_SendRequest(c, err) : i_cs_HandleSQLPresError(c, code, err);
  if (result == CMDSEQ_OK) result = i_cs_ReceiveSuccessOrError(c, err);
  if (i_cs_ReplyRead(result)) {
    std::uint32_t flags = 0;
    std::uint32_t* slots[kInfoSlots] = {};
    slots[kInfoFlagsSlot] = &flags;
    const a_cmdseq_return info = i_cs_ReceiveAllInfo(c, err, slots);
    if (!i_cs_ReplyRead(info)) result = info;
    if (flags != 0) i_cs_ProcessNonZeroInfoFlags(c, flags, nullptr, nullptr);
  }
  return i_cs_EndRequest(c, err, result);
}

a_cmdseq_return CmdSeqStartDatabase(a_cmdseq_conn* given, a_cmdseq_error_info* err,
                                    a_cmdseq_engine_ctl* rec) {
  if (rec->parms->getString(kSlotDatabaseFile) == nullptr) {
    i_cs_SetErrorInfo(err, -84);
    return CMDSEQ_ERROR;
  }
  ControlConn conn(given, rec->env, rec->parms, err, true);
  if (conn.get() == nullptr) return not_found(err);
  return i_cs_StartDatabase(conn.get(), err, rec->parms);
}

a_cmdseq_return CmdSeqStopDatabase(a_cmdseq_conn* given, a_cmdseq_error_info* err,
                                   a_cmdseq_engine_ctl* rec) {
  if (rec->parms->getString(kSlotDatabaseName) == nullptr &&
      rec->parms->getString(kSlotDatabaseFile) == nullptr) {
    i_cs_SetErrorInfo(err, -84);
    return CMDSEQ_ERROR;
  }
  ControlConn conn(given, rec->env, rec->parms, err, false);
  if (conn.get() == nullptr) return not_found(err);
  return i_cs_StopDatabase(conn.get(), err, rec->parms);
}

a_cmdseq_return CmdSeqStopEngine(a_cmdseq_conn* given, a_cmdseq_error_info* err,
                                 a_cmdseq_engine_ctl* rec) {
  ControlConn conn(given, rec->env, rec->parms, err, true);
  if (conn.get() == nullptr) return not_found(err);
  return i_cs_ShutdownEngine(conn.get(), err, rec->unconditional);
}

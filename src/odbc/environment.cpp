// The life of environments and connections: allocation and release, disconnection, the
// environment attributes, and cancel.
//
// The first environment of the process starts the engine interface and the last one
// stops it, both under EnvCritSect. An environment that still has connections is not
// freed: its connections would be left with a dangling parent and the client
// environment torn down under them.
#include <cstring>

#include "config/ini_store.h"
#include "odbc/attributes.h"
#include "odbc/diagnostics.h"
#include "odbc/parameters.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/statement.h"
#include "odbc/translation.h"
#include "utils/base/memory.h"
#include "utils/locale/charset_converter.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr unsigned long kMsgCannotAllocEnv = 8248;

// Message 8248 from the client environment's strings into the caller's buffer.
void CannotAllocateMessage(char* message, int size) {
  if (message == nullptr || size <= 0) return;
  message[0] = '\0';
  if (CmdSeqEnv.lang != nullptr) {
    CmdSeqEnv.lang->FormatMiscLangStr(kMsgCannotAllocEnv, message,
                                      static_cast<unsigned int>(size));
  }
}

void DeleteConverter(CharsetConverter*& c) {
  delete c;
  c = nullptr;
}

bool InEnvList(const tagENV* env) {
  for (const tagOBJECT* e = g_env_list; e != nullptr; e = e->next_sibling) {
    if (e == env) return true;
  }
  return false;
}

void UnlinkEnv(tagENV* env) {
  for (tagOBJECT** link = reinterpret_cast<tagOBJECT**>(&g_env_list); *link != nullptr;
       link = &(*link)->next_sibling) {
    if (*link == env) {
      *link = env->next_sibling;
      break;
    }
  }
  env->next_sibling = nullptr;
}

// The defaults every connection starts with; statements read the statement options they
// have not set from their connection.
struct DefaultOption {
  std::int32_t id;
  SQLULEN value;
  bool length_type;
};

constexpr DefaultOption kConnectionDefaults[] = {
    {SQL_ATTR_AUTOCOMMIT, 1, false},
    {SQL_ATTR_LOGIN_TIMEOUT, 15, false},
    {SQL_ATTR_TXN_ISOLATION, 1, false},
    {SQL_ATTR_ACCESS_MODE, 0, false},
    {SQL_ATTR_TRACE, 0, false},
    {1907, 0, false},
    {SQL_MAX_LENGTH, 262144, true},
    {SQL_ROWSET_SIZE, 1, true},
    {SQL_MAX_ROWS, 0, true},
    {SQL_KEYSET_SIZE, 0, true},
    {SQL_RETRIEVE_DATA, 1, false},
    {SQL_CONCURRENCY, 1, false},
    {SQL_ATTR_CURSOR_SENSITIVITY, 1, false},
    {SQL_SIMULATE_CURSOR, 2, false},
    {SQL_ASYNC_ENABLE, 0, false},
    {SQL_NOSCAN, 0, false},
    {SQL_QUERY_TIMEOUT, 0, true},
    {SQL_CURSOR_TYPE, 0, false},
    {SQL_ATTR_CURSOR_SCROLLABLE, 0, false},
    {SQL_USE_BOOKMARKS, 0, false},
    {SQL_BIND_TYPE, 0, true},
    {SQL_ATTR_METADATA_ID, 0, false},
    {SQL_ATTR_ENABLE_AUTO_IPD, 1, false},
};

void StoreDefaults(tagDBC* dbc) {
  for (const DefaultOption& d : kConnectionDefaults) {
    if (d.length_type) {
      Set_ulen_option(dbc, d.id, d.value);
    } else {
      Set_option(dbc, d.id, d.value);
    }
  }
  Set_string_option(dbc, SQL_ATTR_TRACEFILE, "", 0);
}

// Deletes the converters and message strings a connection holds for its connected life.
void ReleaseConnectCharsets(tagDBC* dbc) {
  DeleteConverter(dbc->conn_to_wide);
  DeleteConverter(dbc->wide_to_conn);
}

// Frees a connection that is not connected: its children, its mutex (not held), its
// error block's parameters, its slots, converters and message strings, and the record.
void ReleaseConnection(tagDBC* dbc) {
  while (dbc->first_child != nullptr) Free_object(dbc->first_child);
  SetMessageCallback(dbc, nullptr, false);  // keeps the count of connections with one true
  ut_safe_pthread_mutex_destroy(&dbc->mutex);
  CmdSeqResetErrorParam(&dbc->err, nullptr);
  Free_connect_strings(dbc);
  DeleteConverter(dbc->env_to_client);
  DeleteConverter(dbc->client_to_env);
  ReleaseConnectCharsets(dbc);
  DeleteConverter(dbc->ansi_to_wide);
  DeleteConverter(dbc->wide_to_ansi);
  DeleteConverter(dbc->nchar_to_wide);
  DeleteConverter(dbc->wide_to_nchar);
  delete dbc->lang;
  dbc->lang = nullptr;
  FiniTranslation(dbc);
  Free_object(dbc);
}

// Transaction end and server disconnect of DoSQLDisconnect's step 2. SQL_SUCCESS, or
// SQL_ERROR when the call ends with the connection still connected.
SQLRETURN EndServerSession(tagDBC* dbc) {
  if ((dbc->cap_a & kCapInTransaction) != 0) {
    const std::int32_t rc =
        Option(dbc, SQL_ATTR_AUTOCOMMIT) != 0 ? DBCommit(dbc) : DBRollback(dbc);
    if (rc < 0 && rc != kSqlNotConnected && rc != kSqlCommLost) {
      AddSQLError(dbc);
      return SQL_ERROR;
    }
  }
  // Statements go first; what remains must be descriptors.
  for (tagOBJECT* child = dbc->first_child; child != nullptr;) {
    tagOBJECT* next = child->next_sibling;
    if (child->kind == OBJ_STMT) (void)DoSQLFreeStmt(static_cast<tagSTMT*>(child), SQL_DROP);
    child = next;
  }
  while (dbc->first_child != nullptr) {
    if (dbc->first_child->kind != OBJ_DESC) {
      AddSQLState(dbc, kStateHY000, kStateS1000);
      return SQL_ERROR;
    }
    Free_object(dbc->first_child);
  }
  const std::int32_t rc = DBDisconnect(dbc);
  if (rc == kSqlNotConnected || rc == kSqlCommLost) {
    AddSQLState(dbc, kState01002, kState01002);
  } else if (rc < 0) {
    AddSQLError(dbc);
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

}  // namespace

// ---- Environments -----------------------------------------------------------------------

SQLRETURN DoSQLAllocEnv(SQLHENV* out, char* message, int message_size) {
  if (message != nullptr && message_size > 0) message[0] = '\0';
  if (odbc_lib_unloaded.load() != 0) return SQL_ERROR;
  if (UnixForkProtection_IsChild() != 0) {
    // A child may start afresh only when it inherited nothing of its parent's.
    if (g_env_list != nullptr || sysv_list_is_empty() == 0) return SQL_ERROR;
    UnixForkProtection_Reset();
  }
  EnterEnvCritSect();
  if (g_env_list == nullptr && DBInitialize(message, message_size) == 0) {
    LeaveEnvCritSect();
    return SQL_ERROR;
  }
  tagOBJECT* h = Allocate_object(nullptr, OBJ_ENV);
  if (h == nullptr) {
    CannotAllocateMessage(message, message_size);
    if (g_env_list == nullptr) DBFinalize();
    LeaveEnvCritSect();
    return SQL_ERROR;
  }
  auto* env = static_cast<tagENV*>(h);
  env->state = 1;
  env->next_sibling = g_env_list;
  g_env_list = env;
  LeaveEnvCritSect();

  UTLocale* locale = SQLGetUTLocale();
  const CharsetInfo* client = locale != nullptr ? locale->default_client_charset() : nullptr;
  if (client != nullptr) {
    env->to_wide =
        new (std::nothrow) CharsetConverter(locale, locale->utf16le_charset(), client);
    env->from_wide =
        new (std::nothrow) CharsetConverter(locale, client, locale->utf16le_charset());
    env->charset = client;
    env->wide_factor = client->max_bytes;
  }
  if (env->to_wide == nullptr || env->from_wide == nullptr) {
    CannotAllocateMessage(message, message_size);
    DoSQLFreeEnv(env);
    return SQL_ERROR;
  }
  Set_option(env, SQL_ATTR_CONNECTION_POOLING, 0);
  Set_option(env, SQL_ATTR_CP_MATCH, 0);
  Set_option(env, SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3);
  Set_option(env, SQL_ATTR_OUTPUT_NTS, SQL_TRUE);
  *out = env;
  return SQL_SUCCESS;
}

SQLRETURN DoSQLFreeEnv(tagENV* env) {
  EnterEnvCritSect();
  if (!InEnvList(env)) {
    LeaveEnvCritSect();
    return SQL_INVALID_HANDLE;
  }
  if (env->first_child != nullptr) {
    LeaveEnvCritSect();
    return PostSQLState(env, kStateHY010, kStateS1010);
  }
  if (env->inifile != nullptr) {
    env->inifile->close();
    delete env->inifile;
    env->inifile = nullptr;
  }
  DeleteConverter(env->to_wide);
  DeleteConverter(env->from_wide);
  ut_free(env->dsn_list);
  env->dsn_list = nullptr;
  UnlinkEnv(env);
  Free_object(env);
  if (g_env_list == nullptr) DBFinalize();
  LeaveEnvCritSect();
  return SQL_SUCCESS;
}

SQLRETURN DoSQLSetEnvAttr(tagENV* env, SQLINTEGER attribute, SQLPOINTER value,
                          SQLINTEGER /*length*/) {
  Set_option(env, attribute, reinterpret_cast<SQLULEN>(value));
  return env->retcode;
}

SQLRETURN DoSQLGetEnvAttr(tagENV* env, SQLINTEGER attribute, SQLPOINTER out, SQLINTEGER size,
                          SQLINTEGER* length) {
  if (out == nullptr) return PostSQLState(env, kStateHY009, kStateS1009);
  if (Get_option(env, attribute, out, size, length) == 0) return SQL_NO_DATA;
  return env->retcode;
}

// ---- Connections ------------------------------------------------------------------------

SQLRETURN DoSQLAllocConnect(tagENV* env, SQLHDBC* out) {
  if (out == nullptr) return PostSQLState(env, kStateHY009, kStateS1009);
  tagOBJECT* h = Allocate_object(env, OBJ_DBC);
  *out = h;
  if (h == nullptr) return SQL_ERROR;
  auto* dbc = static_cast<tagDBC*>(h);
  dbc->state = kDbcAllocated;
  dbc->message_callback = nullptr;
  dbc->file_tran_callback = nullptr;
  dbc->wide = 0;
  dbc->cap_a &= static_cast<std::uint8_t>(~kCapIsolationGiven);

  UTLocale* locale = SQLGetUTLocale();
  if (locale != nullptr && env->charset != nullptr) {
    dbc->env_to_client =
        new (std::nothrow) CharsetConverter(locale, locale->utf16le_charset(), env->charset);
    dbc->client_to_env =
        new (std::nothrow) CharsetConverter(locale, env->charset, locale->utf16le_charset());
  }
  dbc->env_charset = env->charset;
  dbc->env_wide_factor = env->wide_factor;
  DBInitErrorParam(dbc);
  if (dbc->env_to_client == nullptr || dbc->client_to_env == nullptr ||
      ut_safe_pthread_mutex_init(&dbc->mutex, nullptr) != 0) {
    // A half-made connection is not handed out.
    ReleaseConnection(dbc);
    *out = nullptr;
    return PostSQLState(env, kStateHY001, kStateS1001);
  }
  StoreDefaults(dbc);
  return SQL_SUCCESS;
}

SQLRETURN DoSQLFreeConnect(tagDBC* dbc) {
  if (dbc->state == kDbcConnected) return PostSQLState(dbc, kState08002, kState08002);
  pthread_mutex_unlock(dbc->mutex.handle);
  ReleaseConnection(dbc);
  return SQL_SUCCESS;
}

void Free_connect_strings(tagDBC* dbc) {
  tagCONNATTR& password = dbc->attrs[kSlotPassword];
  if (password.text != nullptr) std::memset(password.text, '*', std::strlen(password.text));
  for (tagCONNATTR& slot : dbc->attrs) {
    ut_free(slot.text);
    slot.text = nullptr;
    slot.source = kAttrUnset;
  }
}

SQLRETURN DoSQLDisconnect(tagDBC* dbc) {
  if (dbc->state < kDbcBrowsing) return PostSQLState(dbc, kState08003, kState08003);
  if (dbc->state == kDbcConnected && EndServerSession(dbc) != SQL_SUCCESS) {
    return dbc->retcode;
  }
  ReleaseConnectCharsets(dbc);
  FiniTranslation(dbc);
  Free_connect_strings(dbc);
  dbc->state = kDbcAllocated;
  return dbc->retcode;
}

void DiscardConnection(tagDBC* dbc) {
  if (dbc->state == kDbcConnected) {
    pthread_mutex_lock(dbc->mutex.handle);
    if (dbc->conn.load() != nullptr) DBDisconnect(dbc);
    dbc->state = kDbcAllocated;
    pthread_mutex_unlock(dbc->mutex.handle);
  }
  ReleaseConnection(dbc);
}

// ---- Cancel -------------------------------------------------------------------------------

SQLRETURN DoSQLCancel(tagSTMT* stmt) {
  // Runs framed (no call in progress on the statement). Only an ODBC 2 application
  // closes the statement, as SQLFreeStmt(SQL_CLOSE) does.
  // A statement waiting for data at execution leaves the dialogue, not carried out.
  CancelDataAtExecution(stmt);
  tagENV* env = OwningEnv(stmt);
  if (env != nullptr && UIntOption(env, SQL_ATTR_ODBC_VERSION) == SQL_OV_ODBC2) {
    (void)DoSQLFreeStmt(stmt, SQL_CLOSE);
    AddSQLState(stmt, kState01000, kState01000);
  }
  return stmt->retcode;
}

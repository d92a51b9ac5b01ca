// The database-connect request: the connect string, the request items (plain or with the
// enciphered secret part, or with Kerberos tokens), the reply with its redirection list
// and connect information, and the ends of a connection (disconnect, reference counts).
#include "cmdseq/connect.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "cmdseq/conn_pool.h"
#include "cmdseq/options.h"
#include "cmdseq/request_log.h"
#include "config/conn_parms.h"
#include "config/conn_string.h"
#include "config/conn_string_list.h"
#include "config/option_tables.h"
#include "security/kerberos.h"
#include "streams/stream_api.h"
#include "utils/base/memory.h"

namespace {

a_cs_server_info_reader g_server_info_reader = nullptr;

// The longest redirection parameter text the client accepts; a longer one is a protocol
// error rather than an allocation of whatever size the server announced.
constexpr std::uint32_t kMaxRedirectParmsBytes = 32 * 1024;
// The server's Kerberos principal, as the string information reply gives it.
constexpr std::size_t kPrincipalBytes = 512;
// The most redirection entries one reply may name.
constexpr unsigned kMaxRedirectEntries = 64;

// Wipes and frees; for texts that may hold a password.
void wipe_free(unsigned char* p, std::size_t n) {
  if (p == nullptr) return;
  volatile unsigned char* v = p;
  for (std::size_t i = 0; i < n; ++i) v[i] = 0;
  ut_free(p);
}

struct ConnectStringDeleter {
  void operator()(char* s) const { FreeConnectString(s); }
};
using ConnectText = std::unique_ptr<char, ConnectStringDeleter>;

bool given(const c_conn_parms* parms, int slot) {
  const char* v = parms->getString(slot);
  return v != nullptr;
}

bool kerberos_wanted(const c_conn_parms* parms) { return parms->isYesOrFile(kSlotKerberos) != 0; }

// One "key=value" pair for the builder: length and text.
struct Pair {
  const char* key;
  const char* value;
};

char* join_pairs(const Pair* pairs, std::size_t n) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < n; ++i)
    BuildConnectStringCalcLen(&length, pairs[i].key, pairs[i].value, ';');
  char* out = static_cast<char*>(ut_malloc(length + 1));
  if (out == nullptr) return nullptr;
  out[0] = '\0';
  for (std::size_t i = 0; i < n; ++i)
    BuildConnectStringAppend(out, pairs[i].key, pairs[i].value, ';');
  return out;
}

// A copy of `n` bytes of a short item as a zero-terminated text; null when the bytes
// hold a zero (a name or text cut at an embedded zero would mean something else).
char* short_text(const a_cs_item& item) {
  const std::uint32_t n = item.payload_bytes();
  if (n != 0 && std::memchr(item.payload, 0, n) != nullptr) return nullptr;
  char* out = static_cast<char*>(ut_malloc(n + 1u));
  if (out == nullptr) return nullptr;
  if (n != 0) std::memcpy(out, item.payload, n);
  out[n] = '\0';
  return out;
}

// Reads a long value (after its length byte 251) whole into a new text; result 3 when
// the value is too long, holds a zero or ends before its announced total.
a_cmdseq_return receive_whole_long_text(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        std::uint32_t limit, char** text) {
  *text = nullptr;
  std::uint32_t total = 0;
  a_sqlpres_code code = SQLPresReceiveBegin(conn->strm_conn, &total);
  if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  if (total > limit) return i_cs_ProtocolError(conn);
  auto* buf = static_cast<std::uint8_t*>(ut_malloc(total + 1u));
  if (buf == nullptr) return CMDSEQ_NO_MEMORY;
  std::uint8_t* at = buf;
  std::uint32_t got = 0;
  while (got < total) {
    const std::uint32_t n = SQLPresReceivePieceSafe(conn->strm_conn, &at, total - got);
    if (n == 0) break;
    got += n;
  }
  code = SQLPresReceiveEnd(conn->strm_conn);
  if (got != total || code != SQLPRES_OK || std::memchr(buf, 0, total) != nullptr) {
    ut_free(buf);
    if (code != SQLPRES_OK && code != SQLPRES_FAILED) return i_cs_HandleSQLPresError(conn, code, err);
    return i_cs_ProtocolError(conn);
  }
  buf[total] = 0;
  *text = reinterpret_cast<char*>(buf);
  return CMDSEQ_OK;
}

// The item that follows a redirection entry's name: its parameter text, short or long.
a_cmdseq_return receive_redirect_parms(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                       char** text) {
  *text = nullptr;
  a_cs_item item;
  a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &item);
  if (result != CMDSEQ_OK) return result;
  if (item.code != CS_ITEM_REDIRECT_PARMS) return i_cs_ProtocolError(conn);
  if (item.is_long()) return receive_whole_long_text(conn, err, kMaxRedirectParmsBytes, text);
  if (item.length > SQLPRES_MAX_SHORT_PAYLOAD) return i_cs_ProtocolError(conn);
  *text = short_text(item);
  if (*text == nullptr) return i_cs_ProtocolError(conn);
  return CMDSEQ_OK;
}

a_cmdseq_return receive_redirect_list(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      a_cs_item item, c_cmdseq_redirect_server_list* redirect) {
  if (redirect == nullptr) return i_cs_ProtocolError(conn);
  unsigned entries = 0;
  for (;;) {
    if (item.code == CS_ITEM_END && item.length == 0) return CMDSEQ_OK;
    // Only short, non-empty names, and a bounded number of entries.
    if (item.code != CS_ITEM_SERVER_NAME || item.length == 0 ||
        item.length > SQLPRES_MAX_SHORT_PAYLOAD || ++entries > kMaxRedirectEntries) {
      return i_cs_ProtocolError(conn);
    }
    char* name = short_text(item);
    if (name == nullptr) return i_cs_ProtocolError(conn);
    char* parms = nullptr;
    a_cmdseq_return result = receive_redirect_parms(conn, err, &parms);
    if (result != CMDSEQ_OK) {
      ut_free(name);
      return result;
    }
    redirect->add(new c_cmdseq_redirect_server(name, parms));
    result = i_cs_ReceiveItem(conn, err, &item);
    if (result != CMDSEQ_OK) return result;
  }
}

// The server's Kerberos principal: its string information of kind 0, asked in a request
// of its own, unless another reader was installed.
a_cmdseq_return read_principal(a_cmdseq_conn* conn, a_cmdseq_error_info* err, char* buffer,
                               std::size_t size) {
  if (g_server_info_reader != nullptr) return g_server_info_reader(conn, err, 0, buffer, size);
  return i_cs_GetStrServerInfo(conn, err, 0, buffer, static_cast<std::uint32_t>(size));
}

void kerberos_log(const char* text, void* context) {
  auto* conn = static_cast<a_cmdseq_conn*>(context);
  if (conn != nullptr && conn->attrib != nullptr) CmdSeqPrtString(conn->attrib, text);
}

a_cmdseq_return set_error(a_cmdseq_error_info* err, std::int32_t sqlcode,
                          a_cmdseq_return result) {
  i_cs_SetErrorInfo(err, sqlcode);
  return result;
}

// Sends the first three items of the request: the connect string, the null handle and
// the enciphered part (when there is one).
a_cmdseq_return send_connect_items(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                   const char* text, const unsigned char* secure,
                                   std::size_t secure_len, bool always_secure) {
  a_sqlpres_code code = SQLPresSendBytes(conn->strm_conn, CS_ITEM_CONNECT_STRING, text,
                                         static_cast<std::uint32_t>(std::strlen(text)), 0);
  if (code == SQLPRES_OK) code = SQLPresSendHandle(conn->strm_conn, CS_ITEM_HANDLE, 0, 0);
  if (code == SQLPRES_OK && (secure_len != 0 || always_secure)) {
    code = SQLPresSendBytes(conn->strm_conn, CS_ITEM_SECURE_PART, secure,
                            static_cast<std::uint32_t>(secure_len), 0);
  }
  return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
}

// The token exchange; leaves the first item of the connect reply in `first`.
a_cmdseq_return kerberos_exchange(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  KerberosClientState* state, bool* verified, a_cs_item* first) {
  for (;;) {
    a_sqlpres_code code =
        SQLPresSendBytes(conn->strm_conn, CS_ITEM_KERBEROS_TOKEN, state->token,
                         static_cast<std::uint32_t>(state->token_length), 0);
    if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
    a_cmdseq_return result = i_cs_SendRequest(conn, err);
    if (result != CMDSEQ_OK) return result;
    result = i_cs_ReceiveItem(conn, err, first);
    if (result != CMDSEQ_OK) return result;
    if (first->code != CS_ITEM_KERBEROS_TOKEN) return CMDSEQ_OK;
    int ok = 0;
    if (first->is_long()) {
      std::uint32_t total = 0;
      code = SQLPresReceiveBegin(conn->strm_conn, &total);
      if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
      if (total > kMaxReplyTextBytes) return i_cs_ProtocolError(conn);
      std::unique_ptr<std::uint8_t[]> token(new (std::nothrow) std::uint8_t[total + 1u]);
      if (!token) return CMDSEQ_NO_MEMORY;
      std::uint8_t* at = token.get();
      std::uint32_t got = 0;
      while (got < total) {
        const std::uint32_t n = SQLPresReceivePieceSafe(conn->strm_conn, &at, total - got);
        if (n == 0) break;
        got += n;
      }
      code = SQLPresReceiveEnd(conn->strm_conn);
      if (got != total || code != SQLPRES_OK) return i_cs_ProtocolError(conn);
      ok = KerberosClientVerifyServerAuthBlock(state, token.get(), total);
    } else {
      if (first->length > SQLPRES_MAX_SHORT_PAYLOAD) return i_cs_ProtocolError(conn);
      ok = KerberosClientVerifyServerAuthBlock(state, first->payload, first->payload_bytes());
    }
    if (ok != 0 && state->continue_needed != 0) continue;
    // A token that fails the check ends the exchange unverified: the server's reply is
    // still read to its end, and a success in it becomes -1069.
    *verified = ok != 0;
    a_sqlpres_code at_sync = SQLPRES_OK;
    if (SQLPresIsSyncPoint(conn->strm_conn, &at_sync)) return set_error(err, -1069, CMDSEQ_ERROR);
    return i_cs_ReceiveItem(conn, err, first);
  }
}

}  // namespace

void i_cs_SetServerInfoReader(a_cs_server_info_reader reader) { g_server_info_reader = reader; }

c_cmdseq_redirect_server::~c_cmdseq_redirect_server() {
  ut_free(name);
  if (parms != nullptr) wipe_free(reinterpret_cast<unsigned char*>(parms), std::strlen(parms));
}

const char* i_cs_GetServerNewPwdStr(const a_cmdseq_conn* conn, const c_conn_parms* parms) {
  const char* v = parms->getString(kSlotNewPassword);
  if (v == nullptr || std::strcmp(v, "*") == 0 || conn->server_strm_ver <= 12) return nullptr;
  return v;
}

int ShouldSendEngName(const c_conn_parms* parms, a_cmdseq_env*) {
  const char* links = parms->getString(kSlotCommLinks);
  if (links == nullptr) return 1;
  a_cs_list_element_list list;
  if (ParseCSListString(links, &list, nullptr) != 0) {
    ClearCSList(&list);
    return 1;
  }
  int send = 1;
  for (a_cs_list_element_iter it(list); !it.at_end(); it.next()) {
    a_cs_list_element* e = it.element();
    if (e->name == nullptr || e->options == nullptr) continue;
    if (strcasecmp(e->name, "TCPIP") != 0 && strcasecmp(e->name, "TCP") != 0) continue;
    const char* at = strcasestr(e->options, "verify");
    if (at == nullptr) continue;
    at += 6;
    while (*at != '\0' && (std::isalpha(static_cast<unsigned char>(*at)) || *at == ' ')) ++at;
    if (*at != '=' && *at != '#') break;  // a malformed value stops the search
    ++at;
    while (*at == ' ' || *at == '\t') ++at;
    // The word runs to the next option separator.
    char word[16] = {};
    std::size_t n = 0;
    while (at[n] != '\0' && at[n] != ';' && at[n] != ' ' && n + 1 < sizeof word) {
      word[n] = at[n];
      ++n;
    }
    int yes = 0;
    if (ParseYesNo(word, &yes, true) && yes == 0) send = 0;
    break;
  }
  ClearCSList(&list);
  return send;
}

char* i_cs_BuildConnectString(a_cmdseq_conn* conn, c_conn_parms* parms, bool with_eng,
                              bool plain) {
  const unsigned level = conn->server_strm_ver;
  const char* dbn = parms->getString(kSlotDatabaseName);
  const char* dbf = parms->getString(kSlotDatabaseFile);
  char* old_dbn = nullptr;  // "name@file" for servers of level 9 and lower
  if (level <= 9 && (dbn != nullptr || dbf != nullptr)) {
    const std::size_t a = dbn != nullptr ? std::strlen(dbn) : 0;
    const std::size_t b = dbf != nullptr ? std::strlen(dbf) : 0;
    old_dbn = static_cast<char*>(ut_malloc(a + b + 2));
    if (old_dbn == nullptr) return nullptr;
    std::memcpy(old_dbn, dbn != nullptr ? dbn : "", a);
    old_dbn[a] = '@';
    std::memcpy(old_dbn + a + 1, dbf != nullptr ? dbf : "", b);
    old_dbn[a + b + 1] = '\0';
  }
  char* app = i_cs_BuildAppInfo(conn, parms->getString(kCsSlotAppInfo));
  const Pair pairs[] = {
      {"DBN", old_dbn != nullptr ? old_dbn : dbn},
      {"DBF", level >= 10 ? dbf : nullptr},
      {"UID", parms->getString(kSlotUserID)},
      {"PWD", plain ? parms->getString(kSlotPassword) : nullptr},
      {"ENG", with_eng ? parms->getString(kSlotServerName) : nullptr},
      {"CON", parms->getString(kSlotConnectionName)},
      {"APP", app},
      {"DBS", parms->getString(kCsSlotDatabaseSwitches)},
      {"AUTOSTOP", parms->getString(kSlotAutoStop)},
      {"KERBEROS", kerberos_wanted(parms) ? "YES" : nullptr},
      {"DBKEY", plain && dbf != nullptr && level > 5 ? parms->getString(kSlotDatabaseKey)
                                                      : nullptr},
      {"NEWPWD", plain ? i_cs_GetServerNewPwdStr(conn, parms) : nullptr},
      {"NODETYPE", level >= 15 ? parms->getString(kCsSlotNodeType) : nullptr},
  };
  char* out = join_pairs(pairs, sizeof pairs / sizeof pairs[0]);
  ut_free(old_dbn);
  ut_free(app);
  return out;
}

a_cmdseq_return receive_connect_infos(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      std::uint32_t* info_flag) {
  std::uint32_t flags = 0;
  std::uint32_t cache = 0;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[kInfoConnectFlagsSlot] = &flags;
  slots[kInfoStmtCacheSlot] = &cache;
  const a_cmdseq_return result = i_cs_ReceiveAllInfo(conn, err, slots);
  if (result != CMDSEQ_OK) return result;
  if (info_flag != nullptr) *info_flag = flags & 1u;
  conn->set_max_cached_stmt(static_cast<std::uint16_t>(cache > 0xFFFFu ? 0xFFFFu : cache));
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_ReceiveConnectReply(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                         const a_cs_item& first,
                                         c_cmdseq_redirect_server_list* redirect,
                                         std::uint32_t* info_flag) {
  a_cmdseq_return result = CMDSEQ_OK;
  if (first.code == CS_ITEM_HANDLE) {
    if (first.length != 4 || first.payload == nullptr) return i_cs_ProtocolError(conn);
    conn->server_handle = static_cast<std::uint32_t>(first.payload[0]) |
                          static_cast<std::uint32_t>(first.payload[1]) << 8 |
                          static_cast<std::uint32_t>(first.payload[2]) << 16 |
                          static_cast<std::uint32_t>(first.payload[3]) << 24;
  } else if (first.code == CS_ITEM_END && first.length == 0) {
    // The status follows at once.
  } else if (first.code == CS_ITEM_SERVER_NAME) {
    if (conn->server_strm_ver < 15) return i_cs_ProtocolError(conn);
    result = receive_redirect_list(conn, err, first, redirect);
    if (result != CMDSEQ_OK) return result;
  } else {
    return i_cs_ProtocolError(conn);
  }
  result = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(result)) return result;
  const a_cmdseq_return info = receive_connect_infos(conn, err, info_flag);
  if (info != CMDSEQ_OK && info != CMDSEQ_ERROR && info != CMDSEQ_WARNING) return info;
  return result;
}

a_cmdseq_return i_cs_SendConnectRequest(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        c_conn_parms* parms, std::uint32_t* info_flag,
                                        c_cmdseq_redirect_server_list* redirect) {
  if (!given(parms, kSlotPassword) && given(parms, kSlotEncryptedPassword)) {
    char* pwd = DecryptENP(parms->getString(kSlotEncryptedPassword));
    if (pwd != nullptr) {
      parms->setString(kSlotPassword, pwd);
      wipe_free(reinterpret_cast<unsigned char*>(pwd), std::strlen(pwd));
    }
  }
  const bool with_eng = ShouldSendEngName(parms, conn->env) != 0;
  const bool secure = conn->server_strm_ver >= 13;
  const bool kerberos = kerberos_wanted(parms);

  unsigned char* part = nullptr;
  std::size_t part_len = 0;
  auto free_part = [&] { wipe_free(part, part_len); };
  if (secure) {
    part_len = get_secure_connect_string_len(conn, parms);
    part = static_cast<unsigned char*>(ut_malloc(part_len));
    if (part == nullptr) return CMDSEQ_NO_MEMORY;
    const std::size_t capacity = part_len;
    const a_cmdseq_return r = build_secure_connect_string(conn, parms, err, part, &part_len);
    if (r != CMDSEQ_OK) {
      part_len = capacity;
      free_part();
      return r;
    }
  }
  ConnectText text(i_cs_BuildConnectString(conn, parms, with_eng, !secure));
  if (!text) {
    free_part();
    return CMDSEQ_NO_MEMORY;
  }

  a_cmdseq_return result = CMDSEQ_OK;
  a_cs_item first;
  bool verified = false;
  KerberosClientState* state = nullptr;
  bool kerberos_up = false;
  // Only a request that went out has a reply to read to its sync point: a failure before
  // it (the Kerberos library or ticket) must not wait for one.
  bool request_sent = false;
  if (!kerberos) {
    if (!given(parms, kSlotUserID)) {
      free_part();
      CmdSeqFreeStrList(err->params);
      err->params = nullptr;
      return set_error(err, -103, CMDSEQ_ERROR);
    }
    if ((conn->status & CS_STATUS_CONNECTED) == 0) {
      free_part();
      return CMDSEQ_NOT_CONNECTED;
    }
    if (parms->getBool(kSlotIntegrated) != 0) CmdSeqResetErrorParam(err, conn);
    request_sent = true;
    result = send_connect_items(conn, err, text.get(), part, part_len, false);
    if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
    if (result == CMDSEQ_OK) result = i_cs_ReceiveItem(conn, err, &first);
  } else {
    if (conn->server_strm_ver <= 9) {
      free_part();
      return set_error(err, -1070, CMDSEQ_ERROR);
    }
    char principal[kPrincipalBytes] = {};
    result = read_principal(conn, err, principal, sizeof principal);
    principal[sizeof principal - 1] = '\0';
    if (result == CMDSEQ_OK) {
      kerberos_up = KerberosInit(parms->getFile(kSlotKerberos), kerberos_log, conn->lang, conn) != 0;
      if (!kerberos_up) result = set_error(err, -1070, CMDSEQ_ERROR);
    }
    if (result == CMDSEQ_OK) {
      state = KerberosClientGetAuthBlock(conn->lang, conn, principal);
      if (state == nullptr || state->token == nullptr || state->token_length == 0)
        result = set_error(err, -1069, CMDSEQ_ERROR);
    }
    if (result == CMDSEQ_OK) {
      request_sent = true;
      result = send_connect_items(conn, err, text.get(), part, part_len, true);
    }
    if (result == CMDSEQ_OK) result = kerberos_exchange(conn, err, state, &verified, &first);
  }

  if (result == CMDSEQ_OK) {
    result = i_cs_ReceiveConnectReply(conn, err, first, redirect, info_flag);
    if (kerberos && result == CMDSEQ_OK && !verified) result = set_error(err, -1069, CMDSEQ_ERROR);
  }
  if (request_sent) {
    result = i_cs_ReplyRead(result) ? i_cs_VerifyIsSyncPoint(conn, result, err)
                                    : i_cs_ReSyncIfProtocolError(conn, result, err);
  }
  if (state != nullptr) KerberosFiniClientState(state);
  if (kerberos_up) KerberosFini();

  if ((result == CMDSEQ_OK || result == CMDSEQ_WARNING) &&
      (redirect == nullptr || redirect->is_empty())) {
    SQLPresSetConnectedToDB(conn->strm_conn);
    if (conn->attrib != nullptr) conn->attrib->line_no = conn->server_handle;
  }
  free_part();
  return result;
}

// --- Ends of a connection ---------------------------------------------------------------

a_cmdseq_return i_cs_DoStreamsDisconnect(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  a_cs_conn_hold hold(conn);
  if ((conn->status & CS_STATUS_CONNECTED) != 0) {
    if (conn->prefetch_cursor != nullptr) {
      conn->prefetch_cursor = nullptr;
      (void)SQLPresReSync(conn->strm_conn, 0);
    }
    a_cmdseq_return result = CMDSEQ_OK;
    const a_sqlpres_code code = SQLPresSendCommand(conn->strm_conn, CS_ITEM_DISCONNECT, 0);
    if (code != SQLPRES_OK) result = i_cs_HandleSQLPresError(conn, code, err);
    if (result == CMDSEQ_OK) result = i_cs_SendRequest(conn, err);
    if (result == CMDSEQ_OK) result = i_cs_ReceiveSuccessOrError(conn, err);
    if (i_cs_ReplyRead(result) && (conn->status & CS_STATUS_CONNECTED) != 0) {
      a_cs_item closing;
      const a_cmdseq_return r = i_cs_ReceiveItem(conn, err, &closing);
      if (r == CMDSEQ_OK && (closing.code != CS_ITEM_END || closing.length != 0)) {
        i_cs_ProtocolErrorP(conn);
      }
      SQLPresSetNormalDisconnect(conn->strm_conn);
      a_sqlpres_code at = SQLPRES_OK;
      (void)SQLPresIsSyncPoint(conn->strm_conn, &at);
    }
    // The connection goes either way; an error or warning the server answered is the
    // caller's to see (a lost connection counts as disconnected).
    const a_cmdseq_return dropped = CmdSeqDropConnection(conn, err);
    return result == CMDSEQ_ERROR || result == CMDSEQ_WARNING ? result : dropped;
  }
  return CmdSeqDropConnection(conn, err);
}

a_cmdseq_return CmdSeqDisconnect(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  if ((conn->status & CS_STATUS_CONNECTED) == 0) {
    conn->release();
    return CMDSEQ_NOT_CONNECTED;
  }
  a_cs_conn_hold hold(conn);  // a park exchange that loses the connection removes it
  const a_cmdseq_return pooled = conn_pool_cache(conn, err);
  if (pooled == CMDSEQ_OK || pooled == CMDSEQ_NOT_CONNECTED || pooled == CMDSEQ_SERVER_CLOSED ||
      pooled == CMDSEQ_NO_MEMORY) {
    return pooled;
  }
  CmdSeqResetErrorParam(err, conn);
  CmdSeqResetLocale(err);
  return i_cs_DoStreamsDisconnect(conn, err);
}

void CmdSeqConnAddRef(a_cmdseq_conn* conn) { conn->add_ref(); }

int CmdSeqConnRelease(a_cmdseq_conn* conn) { return static_cast<int>(conn->release()); }

int CmdSeqConnIsValid(const a_cmdseq_conn* conn) {
  return (conn->status & CS_STATUS_CONNECTED) != 0 ? 1 : 0;
}

int CmdSeqCharsetSpecifiedExplicitly(const a_cmdseq_conn* conn) {
  if ((conn->status & CS_STATUS_CONNECTED) == 0) return 0;
  return (conn->status & CS_STATUS_CHARSET_GIVEN) != 0 ? 1 : 0;
}

// The connection pool: reuse (item 14), park (item 15), the idle time-out and emptying.
#include "cmdseq/conn_pool.h"

#include <strings.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "cmdseq/connect.h"
#include "cmdseq/request_log.h"
#include "config/conn_parms.h"
#include "config/conn_string.h"
#include "config/conn_string_list.h"
#include "config/option_tables.h"
#include "security/word_scrambler.h"
#include "streams/stream_api.h"
#include "utils/base/memory.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr std::uint16_t kDefaultIdleTimeout = 60;
constexpr std::uint16_t kMinIdleTimeout = 5;
constexpr std::uint16_t kDefaultMaxIdle = 5;
constexpr std::uint16_t kDefaultMinUses = 5;
constexpr std::size_t kMaxConnNameBytes = 62;  // longer names are not pooled
constexpr std::size_t kMaxPooledStringBytes = 32767;
constexpr std::uint8_t kItemCharCharset = 4;  // change of the CHAR character set

std::uint64_t steady_ms() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

std::atomic<a_cs_pool_clock> g_clock{steady_ms};

std::uint64_t now_ms() { return g_clock.load()(); }

void wipe_free(unsigned char* p, std::size_t n) {
  if (p == nullptr) return;
  volatile unsigned char* v = p;
  for (std::size_t i = 0; i < n; ++i) v[i] = 0;
  ut_free(p);
}

// A key derived from the string itself (FNV-1a), so equal strings scramble equally.
std::uint32_t derive_key(const unsigned char* s, std::size_t n) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ s[i]) * 16777619u;
  return makekey(h, static_cast<std::uint16_t>(n));
}

void drop_one(a_cmdseq_conn* conn, a_cmdseq_env* env) {
  a_cmdseq_error_info scratch;
  CmdSeqInitErrorParam(env, &scratch, 0);
  (void)CmdSeqDropConnection(conn, &scratch);
  CmdSeqFiniErrorParam(&scratch);
}

// Reads the pool settings of a ConnectionPool value into a new entry; 0, or 4 with the
// error set.
a_cmdseq_return read_settings(a_cmdseq_env* env, a_cmdseq_error_info* err, const char* value,
                              a_cmdseq_pooled_conn_str* entry) {
  if (value == nullptr || *value == '\0') return CMDSEQ_OK;
  a_cs_list_element_list list;
  int yes = 0;
  const int rc = ParseCSListString(value, &list, nullptr);
  a_cs_list_element* first = list.first_element();
  if (rc != 0 || first == nullptr || first->name == nullptr ||
      !ParseYesNo(first->name, &yes, true) || yes == 0) {
    ClearCSList(&list);
    i_cs_SetErrorInfo(err, -95);
    i_cs_SetErrorParam(err, value);
    return CMDSEQ_ERROR;
  }
  if (first->options != nullptr) {
    a_string_parms parms{};
    const int prc = ParseCPoolStringParms(first->options, &parms);
    if (prc != 0) {
      i_cs_SetParseError(env, err, &parms, prc);
      FreeStringParms(&parms);
      ClearCSList(&list);
      return CMDSEQ_ERROR;
    }
    std::uint16_t* fields[] = {&entry->idle_timeout, &entry->max_idle, &entry->min_uses};
    for (unsigned i = 0; i < 3 && i < parms.count; ++i) {
      const char* v = parms.values != nullptr ? parms.values[i] : nullptr;
      if (v == nullptr) continue;
      const unsigned long n = std::strtoul(v, nullptr, 10);
      *fields[i] = static_cast<std::uint16_t>(n > 0xFFFF ? 0xFFFF : n);
    }
    if (entry->idle_timeout < kMinIdleTimeout) entry->idle_timeout = kMinIdleTimeout;
    FreeStringParms(&parms);
  }
  ClearCSList(&list);
  return CMDSEQ_OK;
}

// The client character set a reused connection is given back: the short name of the one
// its connect asked for.
const char* client_charset(const c_conn_parms* parms, const a_cmdseq_env* env) {
  return default_charset_if_unspecified(parms->getString(kCsSlotCharset), env->os_charset)
      .short_name;
}

// Whether the reuse must give the connection its client character set back: it was
// changed on the connection; the controlling application types ask only when the
// connection name holds a byte above 127.
bool charset_to_restore(const a_cmdseq_conn* conn, const char* name) {
  if ((conn->status & CS_STATUS_CHARSET_CHANGED) == 0) return false;
  const std::uint32_t app = i_cs_GetAppType();
  if (app != 3 && app != 4) return true;
  for (const char* p = name; p != nullptr && *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) > 127) return true;
  }
  return false;
}

// The reply to the character-set change sent ahead of item 14: from level 13 the label
// the server chose, then the status and the information items.
a_cmdseq_return charset_reply(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  if (conn->server_strm_ver >= 13) {
    a_cs_item item;
    a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &item);
    if (result == CMDSEQ_OK && item.code != CS_ITEM_PARAM) result = i_cs_ProtocolError(conn);
    if (result == CMDSEQ_OK && item.is_long()) {
      char* label = nullptr;
      result = i_cs_ReceiveLongText(conn, err, &label);
      ut_free(label);
    }
    if (result != CMDSEQ_OK) return result;
  }
  a_cmdseq_return result = i_cs_ReceiveSuccessOrError(conn, err);
  if (i_cs_ReplyRead(result)) {
    const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, nullptr);
    if (!i_cs_ReplyRead(info)) result = info;
  }
  return result;
}

// Item 14 and its reply on an idle connection, preceded by the change of its client
// character set when `charset` is given.
a_cmdseq_return reuse_exchange(a_cmdseq_conn* conn, a_cmdseq_error_info* err, const char* name,
                               const char* charset) {
  a_sqlpres_code code = SQLPRES_OK;
  if (charset != nullptr) {
    // The name goes with one NUL byte after it.
    code = SQLPresSendBytes(conn->strm_conn, kItemCharCharset, charset,
                            static_cast<std::uint32_t>(std::strlen(charset) + 1), 0);
  }
  std::uint8_t* payload = nullptr;
  if (code == SQLPRES_OK)
    code = SQLPresSend(conn->strm_conn, CS_ITEM_POOL_REUSE, &payload, 2, 0);
  if (code == SQLPRES_OK) {
    payload[0] = payload[1] = 0;
    code = SQLPresSendName(conn->strm_conn, name, 0);
  }
  if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  a_cmdseq_return result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  if (charset != nullptr) {
    result = charset_reply(conn, err);
    // A refused change fails the reuse: the caller drops the connection, the rest of the
    // reply unread.
    if (!i_cs_ReplyRead(result)) return i_cs_ReSyncIfProtocolError(conn, result, err);
    if (result == CMDSEQ_ERROR) return result;
    conn->status &= static_cast<std::uint8_t>(~CS_STATUS_CHARSET_CHANGED);
  }
  a_cs_item item;
  result = i_cs_ReceiveItem(conn, err, &item);
  if (result == CMDSEQ_OK && (item.code != CS_ITEM_HANDLE || item.length != 4)) {
    result = i_cs_ProtocolError(conn);
  }
  if (result == CMDSEQ_OK) {
    conn->server_handle = static_cast<std::uint32_t>(item.payload[0]) |
                          static_cast<std::uint32_t>(item.payload[1]) << 8 |
                          static_cast<std::uint32_t>(item.payload[2]) << 16 |
                          static_cast<std::uint32_t>(item.payload[3]) << 24;
    result = i_cs_ReceiveSuccessOrError(conn, err);
    if (i_cs_ReplyRead(result)) {
      const a_cmdseq_return info = receive_connect_infos(conn, err, nullptr);
      if (!i_cs_ReplyRead(info)) result = info;
    }
  }
  if (!i_cs_ReplyRead(result)) return i_cs_ReSyncIfProtocolError(conn, result, err);
  return i_cs_VerifyIsSyncPoint(conn, result, err);
}

}  // namespace

void i_cs_SetPoolClock(a_cs_pool_clock clock) { g_clock.store(clock != nullptr ? clock : steady_ms); }

a_cmdseq_pooled_conn_str::~a_cmdseq_pooled_conn_str() { wipe_free(conn_str, length); }

a_cmdseq_conn_pool::~a_cmdseq_conn_pool() {
  drop_cached(false);
  while (a_cmdseq_pooled_conn_str* e = strings.first_element()) delete e;
}

bool a_cmdseq_conn_pool::drop_timedout() {
  a_cmdseq_conn* victim = nullptr;
  bool remain = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (idle_count < 1) return false;
    const std::uint64_t now = now_ms();
    for (c_utils_iter<a_cmdseq_pooled_conn_str> it(strings); !it.at_end() && victim == nullptr;
         it.next()) {
      a_cmdseq_pooled_conn_str* s = it.element();
      for (a_cmdseq_conn** link = &s->idle; *link != nullptr; link = &(*link)->pool_next) {
        a_cmdseq_conn* c = *link;
        if (now - c->pooled_at > static_cast<std::uint64_t>(s->idle_timeout) * 1000u) {
          *link = c->pool_next;
          c->pool_next = nullptr;
          --idle_count;
          victim = c;
          break;
        }
      }
    }
    remain = idle_count > 0;
  }
  if (victim != nullptr) drop_one(victim, env);
  return remain;
}

void a_cmdseq_conn_pool::drop_cached(bool tcp_only) {
  for (;;) {
    a_cmdseq_conn* victim = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (c_utils_iter<a_cmdseq_pooled_conn_str> it(strings); !it.at_end(); it.next()) {
        a_cmdseq_pooled_conn_str* s = it.element();
        if (s->idle == nullptr) continue;
        if (tcp_only && StrmGetPortType(s->idle->strm_conn) != 6) continue;
        victim = s->idle;
        s->idle = victim->pool_next;
        victim->pool_next = nullptr;
        --idle_count;
        break;
      }
    }
    if (victim == nullptr) return;
    drop_one(victim, env);
  }
}

void delete_pooled_conn_str_if_unused(a_cmdseq_conn_pool* pool, a_cmdseq_pooled_conn_str* entry) {
  if (pool == nullptr || entry == nullptr) return;
  std::lock_guard<std::mutex> lock(pool->mutex);
  if (entry->use_count != 1 || entry->idle != nullptr) return;
  delete entry;
  --pool->string_count;
}

a_cmdseq_return conn_pool_reuse(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                                a_cmdseq_strconn_param* param,
                                a_cmdseq_pooled_conn_str** pooled) {
  *conn = nullptr;
  *pooled = nullptr;
  a_cmdseq_conn_pool* pool = param->env != nullptr ? param->env->conn_pool : nullptr;
  if (pool == nullptr) return CMDSEQ_FAILED;
  c_conn_parms* parms = param->parms;
  const char* setting = parms->getString(kSlotConnectionPool);
  int yes = 1;
  if (setting != nullptr && ParseYesNo(setting, &yes, true) && yes == 0) return CMDSEQ_FAILED;

  const char* name = parms->getString(kSlotConnectionName);
  if (name != nullptr && std::strlen(name) > kMaxConnNameBytes) return CMDSEQ_FAILED;
  // The string without the connection name.
  a_string_parms* sp = parms->getStringParms();
  char* held = nullptr;
  if (sp->values != nullptr && sp->count > kSlotConnectionName) {
    held = sp->values[kSlotConnectionName];
    sp->values[kSlotConnectionName] = nullptr;
  }
  char* text = BuildConnectString(sp, false);
  if (sp->values != nullptr && sp->count > kSlotConnectionName) sp->values[kSlotConnectionName] = held;
  if (text == nullptr) return CMDSEQ_NO_MEMORY;
  const std::size_t n = std::strlen(text);
  if (n > kMaxPooledStringBytes) {
    FreeConnectString(text);
    return CMDSEQ_FAILED;
  }
  auto* bytes = reinterpret_cast<unsigned char*>(text);
  std::uint32_t key = static_cast<std::uint32_t>(n);
  if (n > 4) {
    key = derive_key(bytes, n);
    yach_encrypt(key, key, static_cast<std::uint16_t>(n), bytes);
  }

  a_cmdseq_conn* idle = nullptr;
  {
    std::lock_guard<std::mutex> lock(pool->mutex);
    for (c_utils_iter<a_cmdseq_pooled_conn_str> it(pool->strings); !it.at_end(); it.next()) {
      a_cmdseq_pooled_conn_str* s = it.element();
      if (s->key != key || s->length != n || std::memcmp(s->conn_str, bytes, n) != 0) continue;
      ++s->use_count;
      *pooled = s;
      idle = s->idle;
      if (idle != nullptr) {
        s->idle = idle->pool_next;
        idle->pool_next = nullptr;
        --pool->idle_count;
      }
      break;
    }
  }
  if (*pooled == nullptr) {
    auto* entry = new a_cmdseq_pooled_conn_str;
    const a_cmdseq_return r = read_settings(param->env, err, setting, entry);
    if (r != CMDSEQ_OK) {
      delete entry;
      FreeConnectString(text);
      return r;
    }
    entry->conn_str = bytes;
    entry->length = static_cast<std::uint16_t>(n);
    entry->key = key;
    std::lock_guard<std::mutex> lock(pool->mutex);
    if (pool->string_count < kMaxPooledStrings) {
      pool->strings.append(entry);
      ++pool->string_count;
      *pooled = entry;
    } else {
      entry->conn_str = nullptr;
      delete entry;
      FreeConnectString(text);
    }
    return CMDSEQ_FAILED;
  }
  FreeConnectString(text);
  if (idle == nullptr) return CMDSEQ_FAILED;

  a_cs_conn_hold hold(idle);
  const a_cmdseq_return result = reuse_exchange(
      idle, err, name,
      charset_to_restore(idle, name) ? client_charset(parms, param->env) : nullptr);
  if (result != CMDSEQ_OK) {
    // The idle connection is finished with: its stream and the pool's reference go.
    (void)CmdSeqDropConnection(idle, nullptr);
    return result;
  }
  StrmSetCallbackData(idle->strm_conn, err->owner);
  SQLPresSetConnectedToDB(idle->strm_conn);
  if (idle->attrib != nullptr) idle->attrib->line_no = idle->server_handle;
  idle->pooled_str = *pooled;
  if (idle->attrib != nullptr) CmdSeqPrtMsgId(idle->attrib, 18549);
  *conn = idle;
  return CMDSEQ_OK;
}

a_cmdseq_return conn_pool_cache(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  a_cmdseq_conn_pool* pool = conn->env != nullptr ? conn->env->conn_pool : nullptr;
  a_cmdseq_pooled_conn_str* s = conn->pooled_str;
  if (pool == nullptr || s == nullptr || conn->server_strm_ver < 15) return CMDSEQ_FAILED;
  if ((conn->status & CS_STATUS_NCHARSET_CHANGED) != 0 && i_cs_GetAppType() == 1) {
    return CMDSEQ_FAILED;
  }
  {
    std::lock_guard<std::mutex> lock(pool->mutex);
    if (s->use_count < s->min_uses || pool->idle_count >= s->max_idle) return CMDSEQ_FAILED;
  }
  if (conn->prefetch_cursor != nullptr) {
    conn->prefetch_cursor = nullptr;
    (void)SQLPresReSync(conn->strm_conn, 0);
  }
  std::uint8_t* payload = nullptr;
  const a_sqlpres_code code = SQLPresSend(conn->strm_conn, CS_ITEM_POOL_PARK, &payload, 2, 0);
  if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  payload[0] = payload[1] = 0;
  a_cmdseq_return result = i_cs_SendRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  result = i_cs_ReceiveSuccessOrError(conn, err);
  if (i_cs_ReplyRead(result)) {
    const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, nullptr);
    if (!i_cs_ReplyRead(info)) result = info;
  }
  result = i_cs_ReplyRead(result) ? i_cs_VerifyIsSyncPoint(conn, result, err)
                                  : i_cs_ReSyncIfProtocolError(conn, result, err);
  if (result != CMDSEQ_OK) return result;
  SQLPresSetNormalDisconnect(conn->strm_conn);
  StrmSetCallbackData(conn->strm_conn, 0);
  conn->reset();
  conn->pooled_at = now_ms();
  std::lock_guard<std::mutex> lock(pool->mutex);
  conn->pool_next = s->idle;
  s->idle = conn;
  ++pool->idle_count;
  if (conn->attrib != nullptr) CmdSeqPrtMsgId(conn->attrib, 18548);
  return CMDSEQ_OK;
}

// Connection attributes, the isolation levels, and SQLNativeSql.
#include <cstdint>
#include <cstring>
#include <string>

#include "cmdseq/cmdseq_env.h"
#include "odbc/attributes.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/escape_translate.h"
#include "odbc/sql_string.h"
#include "odbc/translation.h"
#include "utils/locale/utlocale.h"

namespace {

// The longest API name text attribute 1909 hands on.
constexpr std::size_t kMaxAPINameBytes = 255;

SQLRETURN Refuse(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2) {
  return PostSQLState(h, odbc3, odbc2);
}

SQLRETURN BadValue(tagOBJECT* h) { return Refuse(h, kStateHY024, kStateS1009); }

bool ValidIsolation(SQLULEN v) {
  return v == 1 || v == 2 || v == 4 || v == 8 || v == 32 || v == 64 || v == 128;
}

bool IsConnected(const tagDBC* dbc) { return dbc->state >= kDbcConnected; }

SQLRETURN Store(tagDBC* dbc, SQLINTEGER attribute, SQLULEN value) {
  if (StoreAttribute(dbc, attribute, value) != 0) return dbc->retcode;
  return SQL_SUCCESS;
}

// A text attribute: SQL_NTS or a length in bytes; other negative lengths are refused.
SQLRETURN StoreText(tagDBC* dbc, SQLINTEGER attribute, const char* text, SQLINTEGER length) {
  if (length < 0 && length != SQL_NTS) return Refuse(dbc, kStateHY090, kStateS1090);
  if (Set_string_option(dbc, attribute, text, length) != 0) return dbc->retcode;
  return SQL_SUCCESS;
}

// Attribute 102: switching autocommit on while it is off ends the open transaction.
SQLRETURN SetAutocommit(tagDBC* dbc, SQLULEN value) {
  if (value > 1) return BadValue(dbc);
  if (value == 1 && Option(dbc, SQL_ATTR_AUTOCOMMIT) == 0) {
    // The transaction counts as ended only once the commit succeeded: after a refused
    // commit it is still open on the server, and autocommit stays off.
    if (IsConnected(dbc) && DBCommit(dbc) < 0) return PostSQLError(dbc);
    dbc->cap_a &= static_cast<std::uint8_t>(~kCapInTransaction);
  }
  return Store(dbc, SQL_ATTR_AUTOCOMMIT, value);
}

// Attributes 108 and 1908: a connected connection tells the server first.
SQLRETURN SetIsolation(tagDBC* dbc, SQLULEN value) {
  if (!ValidIsolation(value)) return BadValue(dbc);
  if (IsConnected(dbc) &&
      DBSetOption(dbc, "isolation_level", Isolation_level_string(value)) < 0) {
    return PostSQLError(dbc);
  }
  return Store(dbc, SQL_ATTR_TXN_ISOLATION, value);
}

SQLRETURN SetTranslateLib(tagDBC* dbc, const char* text, SQLINTEGER length) {
  if (!IsConnected(dbc)) return Refuse(dbc, kState08003, kState08003);
  if (text == nullptr) return Refuse(dbc, kStateHY009, kStateS1009);
  if (SQLRETURN rc = StoreText(dbc, SQL_ATTR_TRANSLATE_LIB, text, length); rc != SQL_SUCCESS) {
    return rc;
  }
  if (InitTranslation(dbc) == 0) return Refuse(dbc, kStateIM009, kStateIM009);
  return SQL_SUCCESS;
}

SQLRETURN SetAPIName(tagDBC* dbc, const char* text, SQLINTEGER length) {
  if (text == nullptr) return Refuse(dbc, kStateHY009, kStateS1009);
  if (length < 0 && length != SQL_NTS) return Refuse(dbc, kStateHY090, kStateS1090);
  // The client wants a terminated text; an application's counted text is copied.
  const std::size_t n = length == SQL_NTS ? std::strlen(text) : static_cast<std::size_t>(length);
  if (n > kMaxAPINameBytes) return Refuse(dbc, kStateHY090, kStateS1090);
  char name[kMaxAPINameBytes + 1];
  std::memcpy(name, text, n);
  name[n] = '\0';
  (void)CmdSeqSetAPIName(&CmdSeqEnv, name);
  return SQL_SUCCESS;
}

}  // namespace

// ---- Shared helpers ------------------------------------------------------------------------

bool IsLengthAttribute(SQLINTEGER attribute) {
  // Every statement attribute below 100 (including the cursor attributes -1 and -2) and
  // SQL_ATTR_METADATA_ID is an SQLULEN or a pointer; so are the descriptor handles, the
  // quiet-mode window and the driver's handle attributes.
  return attribute < 100 || attribute == SQL_ATTR_QUIET_MODE ||
         (attribute >= SQL_ATTR_APP_ROW_DESC && attribute <= SQL_ATTR_METADATA_ID) ||
         attribute == kAttrCurrentStmt || attribute == kAttrConnectionHandle;
}

int StoreAttribute(tagOBJECT* h, SQLINTEGER attribute, SQLULEN value) {
  return IsLengthAttribute(attribute) ? Set_ulen_option(h, attribute, value)
                                      : Set_option(h, attribute, value);
}

void WriteAttribute(SQLINTEGER attribute, SQLPOINTER out, SQLULEN value) {
  if (IsLengthAttribute(attribute)) {
    std::memcpy(out, &value, sizeof value);
  } else {
    const auto word = static_cast<SQLUINTEGER>(value);
    std::memcpy(out, &word, sizeof word);
  }
}

// ---- Isolation levels ------------------------------------------------------------------------

int Map_isolation(SQLULEN bits) {
  static constexpr SQLULEN kBits[] = {1, 2, 4, 8, 32, 64};
  for (int level = 0; level < 6; ++level) {
    if ((bits & kBits[level]) != 0) return level;
  }
  return 6;
}

const char* Isolation_level_string(SQLULEN bits) {
  static const char* const kNames[] = {"0",        "1",
                                       "2",        "3",
                                       "snapshot", "statement-snapshot",
                                       "readonly-statement-snapshot"};
  return kNames[Map_isolation(bits)];
}

// ---- Set ---------------------------------------------------------------------------------------

SQLRETURN DoSQLSetConnectAttr(tagDBC* dbc, SQLINTEGER attribute, SQLPOINTER value,
                              SQLINTEGER length) {
  if (dbc->state == kDbcBrowsing) return Refuse(dbc, kStateHY010, kStateS1010);
  const auto v = reinterpret_cast<SQLULEN>(value);
  const char* text = static_cast<const char*>(value);
  switch (attribute) {
    case SQL_QUERY_TIMEOUT:
    case SQL_MAX_ROWS:
    case SQL_BIND_TYPE:
    case SQL_KEYSET_SIZE:
    case SQL_ATTR_QUIET_MODE:
    case SQL_ATTR_LOGIN_TIMEOUT:
    case SQL_ATTR_ANSI_APP:
      return Store(dbc, attribute, v);
    case SQL_NOSCAN:
    case SQL_RETRIEVE_DATA:
    case SQL_USE_BOOKMARKS:
    case SQL_ATTR_METADATA_ID:
    case SQL_ATTR_ACCESS_MODE:
    case SQL_ATTR_TRACE:
      if (v > 1) return BadValue(dbc);
      return Store(dbc, attribute, v);
    case kAttrIsolationGiven: {
      if (v > 1) return BadValue(dbc);
      if (SQLRETURN rc = Store(dbc, attribute, v); rc != SQL_SUCCESS) return rc;
      // The bridge learns here whether the connection string chose the isolation.
      return (dbc->cap_a & kCapIsolationGiven) != 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    case SQL_MAX_LENGTH:
      return Store(dbc, attribute, v == 0 ? kDefaultMaxLength : v);
    case SQL_ASYNC_ENABLE:
      if (v == SQL_ASYNC_ENABLE_ON) return Refuse(dbc, kStateHYC00, kStateS1C00);
      if (v != SQL_ASYNC_ENABLE_OFF) return BadValue(dbc);
      return Store(dbc, attribute, v);
    case SQL_CURSOR_TYPE:
      if (v > SQL_CURSOR_STATIC) return BadValue(dbc);
      return Store(dbc, attribute, v);
    case SQL_CONCURRENCY:
      if (v < SQL_CONCUR_READ_ONLY || v > SQL_CONCUR_VALUES) {
        return Refuse(dbc, kStateHY108, kStateS1108);
      }
      return Store(dbc, attribute, v);
    case SQL_SIMULATE_CURSOR:
      if (v > SQL_SC_TRY_UNIQUE) return Refuse(dbc, kStateHY092, kStateS1092);
      return Store(dbc, attribute, v);
    case SQL_ATTR_ROW_ARRAY_SIZE:
      if (v < 1 || v > kMaxRowArraySize) return BadValue(dbc);
      return Store(dbc, attribute, v);
    case SQL_ATTR_AUTOCOMMIT:
      return SetAutocommit(dbc, v);
    case SQL_ATTR_TRACEFILE:
      if (text == nullptr) return Refuse(dbc, kStateHY009, kStateS1009);
      return StoreText(dbc, attribute, text, length);
    case SQL_ATTR_TRANSLATE_LIB:
      return SetTranslateLib(dbc, text, length);
    case SQL_ATTR_TRANSLATE_OPTION:
      if (!IsConnected(dbc)) return Refuse(dbc, kState08003, kState08003);
      return Store(dbc, attribute, static_cast<SQLUINTEGER>(v));
    case SQL_ATTR_TXN_ISOLATION:
    case kAttrIsolation:
      return SetIsolation(dbc, v);
    case kAttrMessageCallback:
    case kAttrWideMessageCallback:
      SetMessageCallback(dbc, value, attribute == kAttrWideMessageCallback);
      return SQL_SUCCESS;
    case kAttrAPIName:
      return SetAPIName(dbc, text, length);
    case kAttrFileTranCallback:
      SetFileTranCallback(dbc, value);
      return SQL_SUCCESS;
    case kAttrClientFlags:
      CmdSeqEnv.odbc_flag = static_cast<std::uint8_t>(v & 0xFF);
      return SQL_SUCCESS;
    default:
      // Negative attributes, the statement attributes without a connection default,
      // the driver's read-only attributes and everything unknown.
      return Refuse(dbc, kStateHYC00, kStateS1C00);
  }
}

// ---- Get ---------------------------------------------------------------------------------------

SQLRETURN DoSQLGetConnectAttr(tagDBC* dbc, SQLINTEGER attribute, SQLPOINTER out,
                              SQLINTEGER size, SQLINTEGER* length) {
  if (out == nullptr) return Refuse(dbc, kStateHY009, kStateS1009);
  if (dbc->state == kDbcBrowsing) return Refuse(dbc, kStateHY010, kStateS1010);
  switch (attribute) {
    case SQL_ATTR_CONNECTION_DEAD: {
      const bool dead = dbc->conn.load() == nullptr || dbc->dropped.load() != 0;
      WriteAttribute(attribute, out, dead ? SQL_CD_TRUE : SQL_CD_FALSE);
      return SQL_SUCCESS;
    }
    case SQL_ASYNC_ENABLE:
    case SQL_ATTR_METADATA_ID:
      WriteAttribute(attribute, out, Option(dbc, attribute));
      return SQL_SUCCESS;
    case kAttrAlwaysZero:
      WriteAttribute(attribute, out, 0);
      return SQL_SUCCESS;
    case kAttrCurrentStmt:
      WriteAttribute(attribute, out, reinterpret_cast<SQLULEN>(dbc->current_stmt.load()));
      return SQL_SUCCESS;
    case kAttrConnectionHandle:
      WriteAttribute(attribute, out, reinterpret_cast<SQLULEN>(static_cast<SQLHDBC>(dbc)));
      return SQL_SUCCESS;
    case kAttrIsolation:
      WriteAttribute(attribute, out, Option(dbc, SQL_ATTR_TXN_ISOLATION));
      return SQL_SUCCESS;
    default:
      break;
  }
  const tagOPTION* entry = FindOption(dbc, attribute, false);
  if (entry == nullptr) return SQL_NO_DATA;
  if (entry->kind == kOptText) {
    // Text attributes follow the rules of every returned string: the full length, 01004
    // when cut, a size of 0 or 1 never written past.
    ReturnString(dbc, out, size, length, reinterpret_cast<const char*>(entry->value),
                 static_cast<SQLINTEGER>(entry->length));
    return dbc->retcode;
  }
  WriteAttribute(attribute, out, entry->value);
  return SQL_SUCCESS;
}

// ---- SQLNativeSql ----------------------------------------------------------------------------

EscapeContext ConnectionEscapeContext(tagDBC* dbc) {
  EscapeContext context;
  context.server_version = static_cast<std::int32_t>(dbc->server_version);
  UTLocale* locale = SQLGetUTLocale();
  if (locale != nullptr && dbc->conn_charset != nullptr &&
      dbc->conn_charset == locale->utf8_charset()) {
    context.client_code_page = 65001;
  }
  context.no_scan = ULenOption(dbc, SQL_NOSCAN) != 0;
  return context;
}

SQLRETURN DoSQLNativeSql(tagDBC* dbc, const SQLCHAR* in, SQLINTEGER in_length, SQLCHAR* out,
                         SQLINTEGER out_size, SQLINTEGER* out_length) {
  if (dbc->state == kDbcAllocated) return Refuse(dbc, kState08003, kState08003);
  if (in == nullptr || out == nullptr) return Refuse(dbc, kStateHY009, kStateS1009);
  const char* text = reinterpret_cast<const char*>(in);
  if (in_length == SQL_NTS) {
    in_length = static_cast<SQLINTEGER>(std::strlen(text));
  } else if (in_length < 0) {
    return Refuse(dbc, kStateHY090, kStateS1090);
  }

  const EscapeContext context = ConnectionEscapeContext(dbc);

  std::string translated;
  EscapeError error;
  if (ODBCParse(context, text, static_cast<std::size_t>(in_length), &translated, &error) !=
      kEscapeOk) {
    return Refuse(dbc, PackSQLState(error.state3), PackSQLState(error.state2));
  }
  if (translated.size() > static_cast<std::size_t>(INT32_MAX)) {
    return Refuse(dbc, kStateHY090, kStateS1090);
  }
  tagSQLSTRING s{};
  if (MakeSQLString(dbc, &s, translated.data(), static_cast<SQLINTEGER>(translated.size())) !=
      0) {
    FreeSQLString(&s);
    return dbc->retcode;
  }
  ReturnSQLString(dbc, out, out_size, out_length, &s);
  return dbc->retcode;
}

// The three connect operations (SQLConnect, SQLDriverConnect, SQLBrowseConnect) and the
// engine connect with what follows it: isolation level, behaviour flags, describe-cursor
// mode, the probe, the initial statement, the translation library and the character
// sets.
//
// Two rules hold for every path here: a connect that fails leaves the connection not
// connected (a failure after the server session opened ends that session), and the
// password is overwritten in its slot after every connect and wiped from every string
// that carried it.
#include "odbc/connect.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config_text.h"
#include "odbc/connect_login_timeout.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/sql_string.h"
#include "odbc/translation.h"
#include "utils/base/memory.h"

namespace {

constexpr a_packed_sqlstate kStateHY110 = PackSQLState("HY110");
constexpr a_packed_sqlstate kStateS1110 = PackSQLState("S1110");
constexpr a_packed_sqlstate kStateIM009 = PackSQLState("IM009");
constexpr a_packed_sqlstate kStateHYT00 = PackSQLState("HYT00");
constexpr a_packed_sqlstate kStateS1T00 = PackSQLState("S1T00");

constexpr std::int32_t kSqlBadLogin = -103;  // invalid user id or password
constexpr std::int32_t kOptTxnIsolation = SQL_ATTR_TXN_ISOLATION;  // 108

// Isolation levels by name (any case), as bits of option 108.
struct a_isolation_name {
  const char* name;
  std::uint32_t bits;
};
constexpr a_isolation_name kIsolationNames[] = {
    {"snapshot", 32},
    {"statement-snapshot", 64},
    {"readonly-statement-snapshot", 128},
};
// Isolation levels 0 to 3 by number.
constexpr std::uint32_t kIsolationByNumber[] = {1, 2, 4, 8};

bool Empty(const char* text) { return text == nullptr || text[0] == '\0'; }

// A value that reads as true for a behaviour flag: it starts with 'y' or 'Y', or with a
// digit and reads as a number of at least 1.
bool FlagValue(const char* text) {
  if (Empty(text)) return false;
  if (text[0] == 'y' || text[0] == 'Y') return true;
  if (!std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  return std::strtol(text, nullptr, 10) >= 1;
}

// Overwrites the password in its slot (the slot stays set).
void MaskPassword(tagDBC* dbc) {
  char* password = dbc->attrs[kSlotPassword].text;
  if (password != nullptr) std::memset(password, '*', std::strlen(password));
}

// Measures a connect argument: SQL_NTS means terminated; another negative length is
// refused with HY090 (-1); a null or empty value is 0.
int ArgumentLength(tagDBC* dbc, const SQLCHAR* text, SQLSMALLINT length, std::size_t* bytes) {
  *bytes = 0;
  if (text == nullptr) return 0;
  if (length == SQL_NTS) {
    *bytes = std::strlen(reinterpret_cast<const char*>(text));
  } else if (length < 0) {
    AddSQLState(dbc, kStateHY090, kStateS1090);
    return -1;
  } else {
    *bytes = static_cast<std::size_t>(length);
  }
  return 0;
}

// Stores one SQLConnect argument into its slot with source 1.
void StoreArgument(tagDBC* dbc, int slot, const SQLCHAR* text, SQLSMALLINT length) {
  std::size_t bytes = 0;
  if (ArgumentLength(dbc, text, length, &bytes) != 0 || bytes == 0) return;
  auto* copy = static_cast<char*>(VAllocLocked(dbc, bytes + 1));
  if (copy == nullptr) return;
  std::memcpy(copy, text, bytes);
  copy[bytes] = '\0';
  (void)SetConnAttr(dbc, slot, copy, kAttrFromApp);
  std::memset(copy, 0, bytes);
  VFreeLocked(copy);
}

// Frees the slots this string set, except DSN and Driver (SQLBrowseConnect keeps
// browsing with what the application gave before).
void FreeSeenSlots(tagDBC* dbc, const std::uint8_t* seen) {
  for (int slot = 0; slot < static_cast<int>(kConnAttrSlots); ++slot) {
    if (seen[slot] != 0 && slot != kSlotDataSourceName && slot != kSlotDriver) {
      ClearConnAttr(dbc, slot);
    }
  }
}

void ApplyIsolationLevel(tagDBC* dbc) {
  const char* value = dbc->attrs[kSlotIsolationLevel].text;
  if (Empty(value)) return;
  std::uint32_t bits = 0;
  for (const a_isolation_name& level : kIsolationNames) {
    if (vq::config::same_text(value, level.name)) bits = level.bits;
  }
  if (bits == 0 && std::isdigit(static_cast<unsigned char>(value[0]))) {
    const long n = std::strtol(value, nullptr, 10);
    if (n >= 0 && n <= 3) bits = kIsolationByNumber[n];
  }
  if (bits == 0) return;
  if (Set_option(dbc, kOptTxnIsolation, bits) == 0) dbc->cap_a |= kCapIsolationGiven;
}

void ApplyBehaviourFlags(tagDBC* dbc) {
  dbc->behaviour = 0;
  for (int slot = 0; slot < static_cast<int>(kConnAttrSlots); ++slot) {
    const std::uint32_t flag = GetConnAttrFlag(slot);
    if (flag != 0 && FlagValue(dbc->attrs[slot].text)) dbc->behaviour |= flag;
  }
  const char* describe = dbc->attrs[kSlotDescribeCursor].text;
  if (!Empty(describe)) {
    switch (MapDescCursor(describe)) {
      case 0:
        dbc->behaviour |= kBehavDescribeCursorNever;
        break;
      case 2:
        dbc->behaviour |= kBehavDescribeCursorIfNeeded;
        break;
      default:
        dbc->behaviour |= kBehavDescribeCursorAlways;
        break;
    }
  }
}

// Runs the InitString attribute; a failure leaves a warning, never fails the connect.
void RunInitString(tagDBC* dbc) {
  const char* value = dbc->attrs[kSlotInitString].text;
  if (Empty(value)) return;
  long length = static_cast<long>(std::strlen(value));
  // A value in braces loses the first and the last character.
  if (value[0] == '{') {
    ++value;
    length = length >= 2 ? length - 2 : 0;
  }
  if (DBExecStmt(dbc, nullptr, value, length) < 0) {
    AddSQLError(dbc);
    dbc->retcode = SQL_SUCCESS_WITH_INFO;
  }
}

// Ends a server session that opened but whose connect then failed, so that nothing is
// left half open; the failure's return code stands.
SQLRETURN AbandonSession(tagDBC* dbc) {
  const SQLRETURN failed = dbc->retcode;
  (void)DoSQLDisconnect(dbc);
  dbc->retcode = failed;
  return failed;
}

}  // namespace

int ConnectDialog(tagDBC* /*dbc*/, SQLHWND /*window*/, SQLUSMALLINT /*completion*/) { return 0; }

int ConfigDialog(tagDBC* /*dbc*/, SQLHWND /*window*/) { return 0; }

SQLRETURN Attempt_connect(tagDBC* dbc, int* bad_login) {
  char* engine = BuildDBConnectString(dbc);
  if (engine == nullptr) return dbc->retcode;
  const a_login_deadline deadline(dbc, LoginTimeoutSeconds(dbc));
  const std::int32_t rc = DBStringConnect(dbc, engine);
  FreeBuiltString(engine);
  if (rc < 0) {
    if (deadline.expired()) return PostSQLState(dbc, kStateHYT00, kStateS1T00);
    if (rc == kSqlBadLogin && bad_login != nullptr) *bad_login = 1;
    // The connection lost on the way is a communication failure (08S01), as for every
    // other request, whatever state the client's error table gives it.
    if (rc == kSqlNotConnected) (void)DBNotConnected(dbc);
    return PostSQLError(dbc);
  }
  // A warning of the connect itself (a crypto module missing, ...) is passed on.
  if (rc > 0) AddSQLError(dbc);

  dbc->state = kDbcConnected;
  dbc->cap_a &= static_cast<std::uint8_t>(~kCapInTransaction);
  ApplyIsolationLevel(dbc);
  ApplyBehaviourFlags(dbc);
  DBQueryConnection(dbc);
  RunInitString(dbc);
  if (deadline.expired()) {
    // The server stopped answering after the connect: the client has dropped it.
    AddSQLState(dbc, kStateHYT00, kStateS1T00);
    return AbandonSession(dbc);
  }
  if (InitTranslation(dbc) == 0) {
    AddSQLState(dbc, kStateIM009, kStateIM009);
    return AbandonSession(dbc);
  }
  if (SetCharSetInDBC(dbc) == SQL_ERROR) return AbandonSession(dbc);
  return dbc->retcode;
}

SQLRETURN DoSQLConnect(tagDBC* dbc, const SQLCHAR* server, SQLSMALLINT server_length,
                       const SQLCHAR* user, SQLSMALLINT user_length, const SQLCHAR* password,
                       SQLSMALLINT password_length) {
  if (dbc->state >= kDbcBrowsing) return PostSQLState(dbc, kState08002, kState08002);
  Free_connect_strings(dbc);
  StoreArgument(dbc, kSlotDataSourceName, server, server_length);
  StoreArgument(dbc, kSlotUserID, user, user_length);
  StoreArgument(dbc, kSlotPassword, password, password_length);
  (void)ParseConnectionString(dbc, nullptr, SQL_NTS, nullptr, 1);
  if (dbc->retcode != SQL_ERROR) (void)Attempt_connect(dbc, nullptr);
  // A connect that succeeded with a warning is connected as well: it keeps its slots
  // (the data-source name is still asked for) with the password overwritten.
  if (dbc->retcode == SQL_SUCCESS || dbc->retcode == SQL_SUCCESS_WITH_INFO) {
    MaskPassword(dbc);
  } else {
    Free_connect_strings(dbc);
  }
  return dbc->retcode;
}

SQLRETURN DoSQLDriverConnect(tagDBC* dbc, SQLHWND window, const SQLCHAR* in,
                             SQLSMALLINT in_length, SQLCHAR* out, SQLSMALLINT out_size,
                             SQLSMALLINT* out_length, SQLUSMALLINT completion) {
  if (dbc->state >= kDbcBrowsing) return PostSQLState(dbc, kState08002, kState08002);
  if (in == nullptr) return PostSQLState(dbc, kStateHY009, kStateS1009);
  if ((in_length < 0 && in_length != SQL_NTS) || out_size < 0) {
    return PostSQLState(dbc, kStateHY090, kStateS1090);
  }
  Free_connect_strings(dbc);
  std::uint8_t seen[kConnAttrSlots] = {};
  (void)ParseConnectionString(dbc, reinterpret_cast<const char*>(in), in_length, seen, 1);

  bool driver_new_password = false;
  bool ask_dialog = false;
  if (dbc->retcode != SQL_ERROR) {
    if (completion != SQL_DRIVER_NOPROMPT && dbc->attrs[kSlotNewPassword].text == nullptr &&
        dbc->attrs[kSlotSaveFile].text == nullptr) {
      // Lets the client ask for a new password when the server says it expired.
      driver_new_password = SetConnAttr(dbc, kSlotNewPassword, "*", kAttrFromApp) == 0;
    }
    if (completion > SQL_DRIVER_COMPLETE_REQUIRED) {
      AddSQLState(dbc, kStateHY110, kStateS1110);
    } else if (completion == SQL_DRIVER_PROMPT) {
      ask_dialog = true;
    } else {
      const SQLRETURN rc = Attempt_connect(dbc, nullptr);
      // Only a connect that failed asks the dialog: one that succeeded with a warning is
      // connected, and must not be reported as "no data".
      if (rc == SQL_ERROR && completion != SQL_DRIVER_NOPROMPT) {
        ClearError(dbc);
        dbc->retcode = SQL_SUCCESS;
        ask_dialog = true;
      }
    }
  }
  if (ask_dialog && ConnectDialog(dbc, window, completion) == 0) {
    // No dialog here: the application is told that nothing was connected.
    Free_connect_strings(dbc);
    dbc->retcode = SQL_NO_DATA;
    return SQL_NO_DATA;
  }

  if (dbc->retcode != SQL_SUCCESS && dbc->retcode != SQL_SUCCESS_WITH_INFO) {
    Free_connect_strings(dbc);
    return dbc->retcode;
  }
  if (driver_new_password) ClearConnAttr(dbc, kSlotNewPassword);
  if (out != nullptr || out_length != nullptr) {
    // With SAVEFILE the completed string names neither data source.
    const bool save_file = dbc->attrs[kSlotSaveFile].text != nullptr;
    const std::int32_t dsn_source = dbc->attrs[kSlotDataSourceName].source;
    const std::int32_t file_source = dbc->attrs[kSlotFileDataSourceName].source;
    if (save_file) {
      dbc->attrs[kSlotDataSourceName].source = kAttrUnset;
      dbc->attrs[kSlotFileDataSourceName].source = kAttrUnset;
    }
    // The completed string connects again as it stands: it carries the password, so
    // it is built before the slot is overwritten and wiped after use.
    char* completed = BuildConnectionString(dbc, kBuildCompleted);
    if (save_file) {
      dbc->attrs[kSlotDataSourceName].source = dsn_source;
      dbc->attrs[kSlotFileDataSourceName].source = file_source;
    }
    if (completed != nullptr) {
      (void)ReturnString(dbc, out, out_size, out_length, completed, SQL_NTS);
      FreeBuiltString(completed);
    }
  }
  MaskPassword(dbc);
  return dbc->retcode;
}

SQLRETURN DoSQLBrowseConnect(tagDBC* dbc, const SQLCHAR* in, SQLSMALLINT in_length,
                             SQLCHAR* out, SQLSMALLINT out_size, SQLSMALLINT* out_length) {
  if (dbc->state == kDbcConnected) return PostSQLState(dbc, kState08002, kState08002);
  if (in == nullptr) return PostSQLState(dbc, kStateHY009, kStateS1009);
  if (in_length < 0 && in_length != SQL_NTS) return PostSQLState(dbc, kStateHY090, kStateS1090);
  if (out_size < 0) return PostSQLState(dbc, kStateHY090, kStateS1090);

  dbc->state = kDbcBrowsing;
  std::uint8_t seen[kConnAttrSlots] = {};
  (void)ParseConnectionString(dbc, reinterpret_cast<const char*>(in), in_length, seen, 1);
  if (dbc->retcode != SQL_SUCCESS) {
    if (dbc->retcode == SQL_SUCCESS_WITH_INFO) dbc->retcode = SQL_NEED_DATA;
    FreeSeenSlots(dbc, seen);
    return dbc->retcode;
  }

  // What is still missing, as name:prompt=? entries.
  std::string request;
  auto ask = [&](int slot) {
    if (!request.empty()) request += ';';
    request += GetConnAttrName(slot);
    request += ':';
    request += GetConnAttrPrompt(slot);
    request += "=?";
  };
  if (dbc->attrs[kSlotServerName].text == nullptr &&
      dbc->attrs[kSlotDatabaseFile].text == nullptr &&
      dbc->attrs[kSlotDatabaseName].text == nullptr) {
    ask(kSlotServerName);
    ask(kSlotDatabaseName);
  }
  if (dbc->attrs[kSlotUserID].text == nullptr) ask(kSlotUserID);
  if (dbc->attrs[kSlotPassword].text == nullptr) ask(kSlotPassword);
  if (!request.empty()) {
    (void)ReturnString(dbc, out, out_size, out_length, request.c_str(),
                       static_cast<SQLINTEGER>(request.size()));
    dbc->retcode = SQL_NEED_DATA;
    return SQL_NEED_DATA;
  }

  int bad_login = 0;
  const SQLRETURN rc = Attempt_connect(dbc, &bad_login);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    char* completed = BuildConnectionString(dbc, kBuildCompleted);
    if (completed != nullptr) {
      (void)ReturnString(dbc, out, out_size, out_length, completed, SQL_NTS);
      FreeBuiltString(completed);
    }
    MaskPassword(dbc);
    return dbc->retcode;
  }
  if (bad_login != 0) {
    // New credentials may follow in the next round.
    FreeSeenSlots(dbc, seen);
    dbc->retcode = SQL_NEED_DATA;
    return SQL_NEED_DATA;
  }
  // Browsing ends with the failure: the connection is back to allocated.
  Free_connect_strings(dbc);
  dbc->state = kDbcAllocated;
  return dbc->retcode;
}

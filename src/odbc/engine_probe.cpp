// The probe that runs once after a connect: one query fixes the server version, the
// capability bytes and the two charset names the handle keeps; then the session options
// (date and time formats, isolation level) are set. The probe never fails the connect: a
// query that does not answer leaves the version the protocol level implies.
#include <cstring>
#include <string>
#include <strings.h>

#include "cmdseq/conn_server_info.h"
#include "cmdseq/desc.h"
#include "cmdseq/error_info.h"
#include "odbc/engine.h"
#include "odbc/handles.h"

namespace {

constexpr char kProbeSql[] =
    "SELECT @@version, if 'A'<>'a' then 1 else 0 endif, isnull(property('IsBW'),'NO'), "
    "isnull(connection_property('odbc_distinguish_char_and_varchar'),'Off'), "
    "isnull(connection_property('odbc_describe_binary_as_varbinary'),'Off'), "
    "connection_property('charset'), db_property('charset'), (SELECT count(*) FROM "
    "SYS.SYSOPTION o, SYS.SYSUSER u WHERE o.user_id = u.user_id AND o.\"option\" = "
    "'timestamp_with_time_zone_format' AND u.user_name = 'PUBLIC')";

constexpr char kSessionOptions[] =
    "SET TEMPORARY OPTION time_format = 'hh:nn:ss';"
    "SET TEMPORARY OPTION timestamp_format = 'yyyy-mm-dd hh:nn:ss.ssssss';"
    "SET TEMPORARY OPTION date_format = 'yyyy-mm-dd';"
    "SET TEMPORARY OPTION date_order = 'ymd';"
    "SET TEMPORARY OPTION isolation_level = '";
constexpr char kTimeZoneFormat[] =
    "SET TEMPORARY OPTION timestamp_with_time_zone_format = 'yyyy-mm-dd hh:nn:ss.ssssss "
    "+hh:nn';";

// Wire type codes of the probe's output items.
constexpr std::int16_t kWireText = -21;   // terminated text
constexpr std::int16_t kWireSmall = 5;    // 16-bit integer

// Capability bits of the probe.
constexpr std::uint8_t kCapAVersion8 = 0x02 | 0x04;  // byte A: server version above 7999
constexpr std::uint8_t kCapAVersion10 = 0x08;        // byte A: server version above 9999
constexpr std::uint8_t kCapBCharVarchar = 0x01;      // byte B: CHAR and VARCHAR told apart
constexpr std::uint8_t kCapBVarbinary = 0x02;        // byte B: BINARY described as VARBINARY
constexpr std::uint8_t kCapBVersion9002 = 0x04;      // byte B: server version 9002 or later
constexpr std::uint8_t kCapBSameCharset = 0x08;      // byte B: see the charset negotiation

// The isolation option of a connection and its default (read uncommitted).
constexpr std::int32_t kOptTxnIsolation = 108;
constexpr std::uint32_t kDefaultIsolation = 1;

constexpr const char kJdbcApiPrefix[] = "QuillonJDBC";

void trim_trailing_blanks(char* text) {
  std::size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
}

bool equals_ignoring_case(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// Reads the decimal number at p (no digits: 0), clamped at 999999 so that the version
// arithmetic stays within 32 bits; leaves p after it.
std::uint32_t read_number(const char*& p) {
  constexpr std::uint32_t kMax = 999999;
  std::uint32_t n = 0;
  while (*p >= '0' && *p <= '9') {
    n = n * 10 + static_cast<std::uint32_t>(*p - '0');
    if (n > kMax) n = kMax;
    ++p;
  }
  return n;
}

// The eight values of the probe's row. Texts are zero-filled first, so a NULL reads as
// an empty text and a missing number as 0.
struct ProbeRow {
  char version[129] = {};
  std::int16_t case_sensitive = 0;
  char is_bw[10] = {};
  char char_varchar[10] = {};
  char varbinary[10] = {};
  std::int16_t tz_options = 0;
  std::int32_t indicators[8] = {};
  std::uint32_t lengths[8] = {};
};

void bind(a_cmdseq_desc* desc, a_cmdseq_desc_item* item, int k, std::int16_t type,
          std::uint32_t length, void* data, ProbeRow* row) {
  item->type = type;
  item->length = length;
  item->values()[0] = {data, &row->indicators[k], &row->lengths[k]};
  (void)CmdSeqMarkDescItemUpdated(desc, item);
}

void set_session_options(tagDBC* dbc, bool time_zone_format) {
  std::uint32_t isolation = static_cast<std::uint32_t>(Option(dbc, kOptTxnIsolation));
  if (isolation == 0) isolation = kDefaultIsolation;
  std::string text = kSessionOptions;
  text += Isolation_level_string(isolation);
  text += "';";
  if (time_zone_format) text += kTimeZoneFormat;
  (void)DBExecStmt(dbc, nullptr, text.c_str(), SQL_NTS);
}

}  // namespace

std::uint32_t DBParseServerVersion(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  while (*p != '\0' && (*p < '0' || *p > '9')) ++p;
  const std::uint32_t major = read_number(p);
  std::uint32_t minor = 0, build = 0;
  if (*p == '.') {
    ++p;
    minor = read_number(p);
    if (*p == '.') {
      ++p;
      build = read_number(p);
    }
  }
  return major * 1000 + minor * 100 + build;
}

std::uint32_t DBVersionFromProtocol(std::uint16_t protocol) {
  if (protocol <= 5) return 6000;
  if (protocol <= 9) return 8000;
  if (protocol <= 12) return 10000;
  if (protocol <= 14) return 11000;
  if (protocol == 15) return 12000;
  return 0;
}

const char* Isolation_level_string(std::uint32_t bits) {
  if (bits & 1) return "0";
  if (bits & 2) return "1";
  if (bits & 4) return "2";
  if (bits & 8) return "3";
  if (bits & 32) return "snapshot";
  if (bits & 64) return "statement-snapshot";
  return "readonly-statement-snapshot";
}

void DBQueryConnection(tagDBC* dbc) {
  a_cmdseq_conn* conn = dbc->conn.load();
  if (conn == nullptr) return;
  const std::uint16_t protocol = CmdSeqGetServerStrmVer(conn);
  CmdSeqResetErrorParam(&dbc->err, conn);
  auto* desc = static_cast<a_cmdseq_desc*>(VAllocLocked(dbc, sizeof(a_cmdseq_desc)));
  if (desc == nullptr) return;
  CmdSeqInitDesc(desc);
  if (CmdSeqAllocDescItems(desc, 8, 1) != CMDSEQ_OK) {
    CmdSeqFreeDescItems(desc);
    VFreeLocked(desc);
    return;
  }
  ProbeRow row;
  std::memset(dbc->conn_charset_name, 0, sizeof dbc->conn_charset_name);
  std::memset(dbc->db_charset_name, 0, sizeof dbc->db_charset_name);
  a_cmdseq_desc_item* items[8];
  a_cmdseq_desc_item* it = desc->items;
  for (int k = 0; k < 8; ++k, it = it->next) items[k] = it;
  bind(desc, items[0], 0, kWireText, sizeof row.version, row.version, &row);
  bind(desc, items[1], 1, kWireSmall, 2, &row.case_sensitive, &row);
  bind(desc, items[2], 2, kWireText, sizeof row.is_bw, row.is_bw, &row);
  bind(desc, items[3], 3, kWireText, sizeof row.char_varchar, row.char_varchar, &row);
  bind(desc, items[4], 4, kWireText, sizeof row.varbinary, row.varbinary, &row);
  bind(desc, items[5], 5, kWireText, sizeof dbc->conn_charset_name, dbc->conn_charset_name,
       &row);
  bind(desc, items[6], 6, kWireText, sizeof dbc->db_charset_name, dbc->db_charset_name, &row);
  bind(desc, items[7], 7, kWireSmall, 2, &row.tz_options, &row);

  const std::int32_t rc = DBExecStmt(dbc, desc, kProbeSql, SQL_NTS);
  // Buffers the server filled to the brim are terminated here rather than trusted.
  row.version[sizeof row.version - 1] = '\0';
  row.is_bw[sizeof row.is_bw - 1] = '\0';
  row.char_varchar[sizeof row.char_varchar - 1] = '\0';
  row.varbinary[sizeof row.varbinary - 1] = '\0';
  dbc->conn_charset_name[sizeof dbc->conn_charset_name - 1] = '\0';
  dbc->db_charset_name[sizeof dbc->db_charset_name - 1] = '\0';

  bool time_zone_format = false;
  if (rc != 0) {
    dbc->server_version = DBVersionFromProtocol(protocol);
    dbc->cap_a &= static_cast<std::uint8_t>(~(kCapCaseSensitive | kCapBrackwater));
    dbc->cap_b &= static_cast<std::uint8_t>(~(kCapBCharVarchar | kCapBVarbinary));
    dbc->conn_charset_name[0] = '\0';
    dbc->db_charset_name[0] = '\0';
  } else {
    trim_trailing_blanks(row.version);
    trim_trailing_blanks(row.is_bw);
    trim_trailing_blanks(row.char_varchar);
    trim_trailing_blanks(row.varbinary);
    trim_trailing_blanks(dbc->conn_charset_name);
    trim_trailing_blanks(dbc->db_charset_name);
    dbc->server_version = DBParseServerVersion(row.version);
    auto set = [](std::uint8_t& byte, std::uint8_t bit, bool on) {
      byte = static_cast<std::uint8_t>(on ? (byte | bit) : (byte & ~bit));
    };
    set(dbc->cap_a, kCapCaseSensitive, row.case_sensitive >= 1);
    set(dbc->cap_a, kCapBrackwater, equals_ignoring_case(row.is_bw, "YES"));
    set(dbc->cap_b, kCapBCharVarchar, equals_ignoring_case(row.char_varchar, "On"));
    set(dbc->cap_b, kCapBVarbinary, equals_ignoring_case(row.varbinary, "On"));
    time_zone_format = row.tz_options > 0;
  }
  const char* api = CmdSeqEnv.api_name;
  if (api != nullptr && strncasecmp(api, kJdbcApiPrefix, sizeof kJdbcApiPrefix - 1) == 0) {
    dbc->cap_b |= kCapBCharVarchar;
  }
  CmdSeqFreeDescItems(desc);
  VFreeLocked(desc);

  if ((dbc->cap_a & kCapBrackwater) != 0) dbc->server_version = DBVersionFromProtocol(protocol);
  const std::uint32_t v = dbc->server_version;
  dbc->cap_a |= kCapProbed;
  if (v > 7999) dbc->cap_a |= kCapAVersion8;
  if (v >= 9002) dbc->cap_b |= kCapBVersion9002;
  if (v > 9999) dbc->cap_a |= kCapAVersion10;
  dbc->fixed_shapes[0][0] = 19;
  dbc->fixed_shapes[0][1] = 4;
  dbc->fixed_shapes[1][0] = 10;
  dbc->fixed_shapes[1][1] = 4;
  dbc->cap_b |= kCapBSameCharset;

  set_session_options(dbc, time_zone_format);
}

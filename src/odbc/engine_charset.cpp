// The character-set negotiation that ends the connect road: which charset the
// connection's text travels in, the converters between it and UTF-16LE, the message
// strings rendered in it, and, for newer servers, the NCHAR converters. When the
// charset the server offers has no working converter here, the server is asked to speak
// UTF-8 instead.
#include <cstdio>
#include <cstring>
#include <new>

#include "cmdseq/conn_server_info.h"
#include "cmdseq/connect.h"
#include "cmdseq/desc.h"
#include "cmdseq/error_info.h"
#include "cmdseq/statement.h"
#include "odbc/diag_states.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "utils/locale/charset_converter.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr std::uint8_t kCapAVersion10 = 0x08;    // byte A: server version above 9999
constexpr std::uint8_t kCapBSameCharset = 0x08;  // byte B: connection and database charsets agree
constexpr std::int32_t kOptAnsiApp = 115;        // SQL_ATTR_ANSI_APP
constexpr std::size_t kCharsetNameBytes = 51;
constexpr a_packed_sqlstate kStateIM100 = PackSQLState("IM100");

void close_converter(CharsetConverter*& c) {
  if (c == nullptr) return;
  c->close();
  delete c;
  c = nullptr;
}

CharsetConverter* make_converter(const CharsetInfo* to, const CharsetInfo* from) {
  return new (std::nothrow) CharsetConverter(SQLGetUTLocale(), to, from);
}

bool works(const CharsetConverter* c) { return c != nullptr && c->valid(); }

// A negative mapped result is posted on the connection: -1 for the caller.
bool failed(tagDBC* dbc, std::int32_t sqlcode) {
  if (sqlcode >= 0) return false;
  (void)PostSQLError(dbc);
  return true;
}

// The two converters and the message strings for `record`; false (HY001 posted) when
// one of them cannot be made.
bool set_up_converters(tagDBC* dbc, const CharsetInfo* record) {
  close_converter(dbc->conn_to_wide);
  close_converter(dbc->wide_to_conn);
  UTLocale* locale = SQLGetUTLocale();
  dbc->conn_to_wide = make_converter(locale->utf16le_charset(), record);
  dbc->wide_to_conn = make_converter(record, locale->utf16le_charset());
  UTLangStringBase* strings = nullptr;
  if (dbc->conn_to_wide != nullptr && dbc->wide_to_conn != nullptr) {
    strings = new (std::nothrow) UTLangStringBase(locale);
  }
  if (strings == nullptr) {
    (void)PostSQLState(dbc, kStateHY001, kStateS1001);
    return false;
  }
  dbc->conn_charset = record;
  dbc->conn_wide_factor = record->max_bytes;
  if (CmdSeqEnv.lang != nullptr) {
    strings->SetResFiles(const_cast<UTResFile**>(CmdSeqEnv.lang->files()),
                         CmdSeqEnv.lang->file_count());
  }
  strings->set_client_charset(record);
  strings->reset();
  delete dbc->lang;
  dbc->lang = strings;
  return true;
}

}  // namespace

std::int32_t DBGetCharSet(tagDBC* dbc, char* buf, int size) {
  if (buf == nullptr || size <= 0) return 0;
  if (dbc->conn_charset_name[0] != '\0') {
    std::snprintf(buf, static_cast<std::size_t>(size), "%s", dbc->conn_charset_name);
    return 0;
  }
  return QueryStringValue(dbc, buf, "SELECT connection_property( 'CharSet' )", size);
}

std::int32_t DBGetDBCharSet(tagDBC* dbc, char* buf, int size) {
  if (buf == nullptr || size <= 0) return 0;
  std::snprintf(buf, static_cast<std::size_t>(size), "%s", dbc->db_charset_name);
  return 0;
}

SQLRETURN SetCharSetInDBC(tagDBC* dbc) {
  a_cmdseq_conn* conn = dbc->conn.load();
  if (conn == nullptr) {
    DBNotConnected(dbc, true);
    (void)AddSQLError(dbc);
    return SQL_ERROR;
  }
  CmdSeqResetErrorParam(&dbc->err, conn);
  UTLocale* locale = SQLGetUTLocale();

  if ((dbc->cap_a & kCapAVersion10) != 0) {
    if (CmdSeqGetServerStrmVer(conn) < 15) {
      const a_cmdseq_return r = CmdSeqChangeNCharCharset(conn, &dbc->err, "UTF-8", 5);
      if (failed(dbc, MapCmdSeqResult(r, dbc, 0))) return SQL_ERROR;
    }
    close_converter(dbc->nchar_to_wide);
    close_converter(dbc->wide_to_nchar);
    dbc->nchar_to_wide = make_converter(locale->utf16le_charset(), locale->utf8_charset());
    dbc->wide_to_nchar = make_converter(locale->utf8_charset(), locale->utf16le_charset());
    if (dbc->nchar_to_wide == nullptr || dbc->wide_to_nchar == nullptr) {
      return PostSQLState(dbc, kStateHY001, kStateS1001);
    }
  }

  char name[kCharsetNameBytes] = {};
  if (DBGetCharSet(dbc, name, sizeof name) < 0) name[0] = '\0';
  const CharsetInfo* conn_record = UTLocale::GetCharsetInfoFromLabel(name, kSchemeAll);
  if (conn_record == nullptr) return dbc->retcode;
  const CharsetInfo* db_record = nullptr;
  char db_name[kCharsetNameBytes] = {};
  if (DBGetDBCharSet(dbc, db_name, sizeof db_name) == 0) {
    db_record = UTLocale::GetCharsetInfoFromLabel(db_name, kSchemeAll);
    if (db_record != nullptr && db_record == conn_record) {
      dbc->cap_b |= kCapBSameCharset;
    } else {
      dbc->cap_b &= static_cast<std::uint8_t>(~kCapBSameCharset);
    }
  }

  const CharsetInfo* chosen = conn_record;
  bool may_change = false;
  if (Option(dbc, kOptAnsiApp) == 1) {
    // An ANSI application keeps the converters it had for its narrow calls.
    close_converter(dbc->ansi_to_wide);
    close_converter(dbc->wide_to_ansi);
    dbc->ansi_to_wide = dbc->conn_to_wide;
    dbc->wide_to_ansi = dbc->wide_to_conn;
    dbc->conn_to_wide = nullptr;
    dbc->wide_to_conn = nullptr;
  } else if (CmdSeqCharsetSpecifiedExplicitly(conn) != 0) {
    // The application named the charset: it stays.
  } else if ((dbc->cap_b & kCapBSameCharset) == 0 && dbc->server_version >= 8000 &&
             db_record != nullptr) {
    const a_cmdseq_return r = CmdSeqChangeCharCharset(conn, &dbc->err, "none", 4);
    if (failed(dbc, MapCmdSeqResult(r, dbc, 0))) return SQL_ERROR;
    dbc->conn_charset_name[0] = '\0';
    dbc->cap_b |= kCapBSameCharset;
    chosen = db_record;
    may_change = true;
  } else {
    may_change = true;
  }

  if (!set_up_converters(dbc, chosen)) return SQL_ERROR;
  if (works(dbc->conn_to_wide) && works(dbc->wide_to_conn)) return dbc->retcode;

  if (may_change && chosen != locale->utf8_charset()) {
    conn = dbc->conn.load();
    if (conn == nullptr) return PostSQLError(dbc);
    const a_cmdseq_return r = CmdSeqChangeCharCharset(conn, &dbc->err, "UTF-8", 5);
    if (failed(dbc, MapCmdSeqResult(r, dbc, 0))) return dbc->retcode;
    if (!set_up_converters(dbc, locale->utf8_charset())) return SQL_ERROR;
    dbc->conn_charset_name[0] = '\0';
    dbc->cap_b &= static_cast<std::uint8_t>(~kCapBSameCharset);
    return dbc->retcode;
  }
  return PostSQLState(dbc, kStateIM100, kStateIM100);
}

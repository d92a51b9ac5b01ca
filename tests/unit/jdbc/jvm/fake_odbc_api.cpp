// The ODBC API as the bridge calls it, scripted: the diagnostic records SQLGetDiagRecW
// answers come from a list the test sets, and every read is counted; the calls of a
// connect are logged with their arguments and succeed (the driver connect answers what
// the test sets). Linked instead of the driver, so that the bridge's paths can be driven
// and watched call by call.
#include "fake_odbc_api.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace fake_odbc {

std::vector<Record>& records = *new std::vector<Record>;
int diag_reads = 0;
std::vector<std::string>& calls = *new std::vector<std::string>;
short connect_result = SQL_SUCCESS;
int refused_attribute = 0;
std::map<int, InfoAnswer>& info_answers = *new std::map<int, InfoAnswer>;

}  // namespace fake_odbc

namespace {

int g_env_handle;
int g_dbc_handle;

void Log(const std::string& line) { fake_odbc::calls.push_back(line); }

std::string Narrow(const SQLWCHAR* text, long units) {
  std::string out;
  if (text == nullptr) return "<null>";
  for (long i = 0; units == SQL_NTS ? text[i] != 0 : i < units; ++i)
    out.push_back(static_cast<char>(text[i]));
  return out;
}

}  // namespace

// Writes what fits of a scripted information answer and reports its length.
SQLRETURN AnswerInfo(const fake_odbc::InfoAnswer& answer, SQLPOINTER value, SQLSMALLINT size,
                     SQLSMALLINT* length) {
  if (value != nullptr && size > 0)
    std::memcpy(value, answer.bytes.data(),
                std::min(answer.bytes.size(), static_cast<std::size_t>(size)));
  if (length != nullptr) *length = answer.reported;
  return answer.result;
}

void JDBC_INIT() {}
void JDBC_FINI() {}

extern "C" {

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT, SQLHANDLE, SQLSMALLINT number, SQLWCHAR* state,
                                 SQLINTEGER* native, SQLWCHAR* text, SQLSMALLINT capacity,
                                 SQLSMALLINT* length) {
  ++fake_odbc::diag_reads;
  if (number < 1 || static_cast<std::size_t>(number) > fake_odbc::records.size())
    return SQL_NO_DATA;
  const auto& r = fake_odbc::records[static_cast<std::size_t>(number) - 1];
  for (int i = 0; i < 5; ++i) state[i] = static_cast<SQLWCHAR>(r.state[i]);
  state[5] = 0;
  *native = r.native;
  // The ODBC rule: the full length is reported, the text cut to the capacity.
  const std::size_t n = std::min<std::size_t>(r.text.size(), static_cast<std::size_t>(capacity) - 1);
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<SQLWCHAR>(r.text[i]);
  text[n] = 0;
  *length = static_cast<SQLSMALLINT>(r.text.size());
  return n < r.text.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE, SQLHANDLE* out) {
  Log("SQLAllocHandle " + std::to_string(type));
  *out = type == SQL_HANDLE_ENV ? static_cast<SQLHANDLE>(&g_env_handle)
                                : static_cast<SQLHANDLE>(&g_dbc_handle);
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE) {
  Log("SQLFreeHandle " + std::to_string(type));
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  Log("SQLSetEnvAttr " + std::to_string(attribute) + " " +
      std::to_string(reinterpret_cast<SQLULEN>(value)));
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  Log("SQLSetConnectAttr " + std::to_string(attribute) + " " +
      std::to_string(reinterpret_cast<SQLULEN>(value)));
  return attribute == fake_odbc::refused_attribute ? SQL_ERROR : SQL_SUCCESS;
}
SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER length) {
  Log("SQLSetConnectAttrW " + std::to_string(attribute) + " " +
      Narrow(static_cast<SQLWCHAR*>(value), length == SQL_NTS ? SQL_NTS : length / 2) + " " +
      std::to_string(length));
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC hdbc, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER, SQLINTEGER*) {
  if (attribute != 1906) return SQL_ERROR;
  *static_cast<SQLPOINTER*>(value) = hdbc;
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER size, SQLINTEGER* length) {
  if (attribute != 1905 || *length < 0 || 2 * *length > size) return SQL_ERROR;
  auto* bytes = static_cast<unsigned char*>(value);
  auto* units = static_cast<SQLWCHAR*>(value);
  for (SQLINTEGER i = *length; i-- > 0;) units[i] = bytes[i];
  *length *= 2;
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC, SQLHWND window, SQLWCHAR* in, SQLSMALLINT length,
                                    SQLWCHAR* out, SQLSMALLINT capacity, SQLSMALLINT*,
                                    SQLUSMALLINT completion) {
  Log("SQLDriverConnectW " + std::string(window == nullptr ? "" : "window ") +
      Narrow(in, length) + " " + std::to_string(length) + " " + std::to_string(capacity) + " " +
      std::to_string(completion));
  // A completed string the bridge must not keep.
  const char completed[] = "UID=dba;PWD=secret";
  for (std::size_t i = 0; i < sizeof completed; ++i) out[i] = static_cast<SQLWCHAR>(completed[i]);
  return fake_odbc::connect_result;
}
SQLRETURN SQL_API SQLDisconnect(SQLHDBC) {
  Log("SQLDisconnect");
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLEndTran(SQLSMALLINT, SQLHANDLE, SQLSMALLINT completion) {
  Log("SQLEndTran " + std::to_string(completion));
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLGetInfo(SQLHDBC, SQLUSMALLINT item, SQLPOINTER value, SQLSMALLINT size,
                             SQLSMALLINT* length) {
  Log("SQLGetInfo " + std::to_string(item));
  auto answer = fake_odbc::info_answers.find(item);
  if (answer == fake_odbc::info_answers.end()) {
    *static_cast<SQLUINTEGER*>(value) = SQL_GD_ANY_ORDER | SQL_GD_BOUND;
    return SQL_SUCCESS;
  }
  return AnswerInfo(answer->second, value, size, length);
}
SQLRETURN SQL_API SQLGetInfoW(SQLHDBC, SQLUSMALLINT item, SQLPOINTER value, SQLSMALLINT size,
                              SQLSMALLINT* length) {
  Log("SQLGetInfoW " + std::to_string(item));
  auto answer = fake_odbc::info_answers.find(item);
  if (answer == fake_odbc::info_answers.end()) return SQL_ERROR;
  return AnswerInfo(answer->second, value, size, length);
}
SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC, SQLWCHAR*, SQLINTEGER, SQLWCHAR*, SQLINTEGER,
                                SQLINTEGER*) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLExecDirect(SQLHSTMT, SQLCHAR*, SQLINTEGER) { return SQL_ERROR; }

}  // extern "C"

// The statement and result calls of the bridge answer SQL_ERROR here, so that the
// fake stays the only ODBC API in the program (a test that needs one scripts it above).
extern "C" {

#define VQ_FAKE_FAILS(name, params) \
  SQLRETURN SQL_API name params { return SQL_ERROR; }
#define W SQLWCHAR*, SQLSMALLINT
VQ_FAKE_FAILS(SQLBindCol, (SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*))
VQ_FAKE_FAILS(SQLBulkOperations, (SQLHSTMT, SQLSMALLINT))
VQ_FAKE_FAILS(SQLCancel, (SQLHSTMT))
VQ_FAKE_FAILS(SQLColAttribute, (SQLHSTMT, SQLUSMALLINT, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT,
                                SQLSMALLINT*, SQLLEN*))
VQ_FAKE_FAILS(SQLColAttributeW, (SQLHSTMT, SQLUSMALLINT, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT,
                                 SQLSMALLINT*, SQLLEN*))
VQ_FAKE_FAILS(SQLDescribeParam, (SQLHSTMT, SQLUSMALLINT, SQLSMALLINT*, SQLULEN*, SQLSMALLINT*,
                                 SQLSMALLINT*))
VQ_FAKE_FAILS(SQLExecDirectW, (SQLHSTMT, SQLWCHAR*, SQLINTEGER))
VQ_FAKE_FAILS(SQLExecute, (SQLHSTMT))
VQ_FAKE_FAILS(SQLFetchScroll, (SQLHSTMT, SQLSMALLINT, SQLLEN))
VQ_FAKE_FAILS(SQLFreeStmt, (SQLHSTMT, SQLUSMALLINT))
VQ_FAKE_FAILS(SQLGetCursorNameW, (SQLHSTMT, SQLWCHAR*, SQLSMALLINT, SQLSMALLINT*))
VQ_FAKE_FAILS(SQLGetStmtAttrW, (SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*))
VQ_FAKE_FAILS(SQLMoreResults, (SQLHSTMT))
VQ_FAKE_FAILS(SQLNumParams, (SQLHSTMT, SQLSMALLINT*))
VQ_FAKE_FAILS(SQLNumResultCols, (SQLHSTMT, SQLSMALLINT*))
VQ_FAKE_FAILS(SQLParamData, (SQLHSTMT, SQLPOINTER*))
VQ_FAKE_FAILS(SQLPrepareW, (SQLHSTMT, SQLWCHAR*, SQLINTEGER))
VQ_FAKE_FAILS(SQLPutData, (SQLHSTMT, SQLPOINTER, SQLLEN))
VQ_FAKE_FAILS(SQLRowCount, (SQLHSTMT, SQLLEN*))
VQ_FAKE_FAILS(SQLSetCursorNameW, (SQLHSTMT, SQLWCHAR*, SQLSMALLINT))
VQ_FAKE_FAILS(SQLSetPos, (SQLHSTMT, SQLSETPOSIROW, SQLUSMALLINT, SQLUSMALLINT))
VQ_FAKE_FAILS(SQLSetStmtAttrW, (SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER))
#undef W
#undef VQ_FAKE_FAILS

}  // extern "C"

namespace fake_odbc {
GetDataScript& get_data = *new GetDataScript;
std::vector<BindCall>& binds = *new std::vector<BindCall>;
}  // namespace fake_odbc

extern "C" SQLRETURN SQL_API SQLBindParameter(SQLHSTMT, SQLUSMALLINT number, SQLSMALLINT direction,
                                              SQLSMALLINT cType, SQLSMALLINT, SQLULEN,
                                              SQLSMALLINT, SQLPOINTER target, SQLLEN length,
                                              SQLLEN* indicator) {
  fake_odbc::binds.push_back({number, direction, cType, target, static_cast<long>(length),
                              indicator});
  return SQL_SUCCESS;
}

extern "C" SQLRETURN SQL_API SQLGetData(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT type, SQLPOINTER out,
                                        SQLLEN length, SQLLEN* indicator) {
  fake_odbc::GetDataScript& d = fake_odbc::get_data;
  if (!d.active) return SQL_ERROR;
  const std::size_t size = d.null ? 0 : d.value.size();
  if (d.calls > 0 && d.offset >= size) return SQL_NO_DATA;
  ++d.calls;
  if (d.null) {
    *indicator = SQL_NULL_DATA;
    return SQL_SUCCESS;
  }
  const SQLLEN terminator = type == SQL_C_WCHAR ? 2 : type == SQL_C_CHAR ? 1 : 0;
  if (length < terminator) return SQL_ERROR;
  const std::size_t remaining = size - d.offset;
  std::size_t n = static_cast<std::size_t>(length - terminator);
  if (type == SQL_C_WCHAR) n &= ~static_cast<std::size_t>(1);
  if (n > remaining) n = remaining;
  std::memcpy(out, d.value.data() + d.offset, n);
  std::memset(static_cast<char*>(out) + n, 0, static_cast<std::size_t>(terminator));
  *indicator = d.no_total && remaining > n ? SQL_NO_TOTAL : static_cast<SQLLEN>(remaining);
  if (d.claimed != 0 && remaining > n) *indicator = d.claimed;
  d.offset += n;
  return remaining > n ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

// The catalog functions record their arguments and answer what the test sets.
namespace fake_odbc {
std::vector<CatalogCall>& catalog_calls = *new std::vector<CatalogCall>;
short catalog_result = SQL_ERROR;
}  // namespace fake_odbc

namespace {

fake_odbc::CatalogText Wide(SQLWCHAR* text, SQLSMALLINT length) {
  return {text, length, Narrow(text, length)};
}
fake_odbc::CatalogText Bytes(SQLCHAR* text, SQLSMALLINT length) {
  if (text == nullptr) return {text, length, "<null>"};
  const char* chars = reinterpret_cast<const char*>(text);
  return {text, length, length == SQL_NTS ? std::string(chars) : std::string(chars, length)};
}
SQLRETURN Record(const char* function, SQLHSTMT statement,
                 std::vector<fake_odbc::CatalogText> texts, std::vector<long> numbers = {}) {
  fake_odbc::catalog_calls.push_back({function, statement, std::move(texts), std::move(numbers)});
  return fake_odbc::catalog_result;
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLTablesW(SQLHSTMT s, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* sc,
                             SQLSMALLINT scl, SQLWCHAR* t, SQLSMALLINT tl, SQLWCHAR* ty,
                             SQLSMALLINT tyl) {
  return Record("SQLTablesW", s, {Wide(c, cl), Wide(sc, scl), Wide(t, tl), Wide(ty, tyl)});
}
SQLRETURN SQL_API SQLTables(SQLHSTMT s, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* sc,
                            SQLSMALLINT scl, SQLCHAR* t, SQLSMALLINT tl, SQLCHAR* ty,
                            SQLSMALLINT tyl) {
  return Record("SQLTables", s, {Bytes(c, cl), Bytes(sc, scl), Bytes(t, tl), Bytes(ty, tyl)});
}
SQLRETURN SQL_API SQLColumnsW(SQLHSTMT s, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* sc,
                              SQLSMALLINT scl, SQLWCHAR* t, SQLSMALLINT tl, SQLWCHAR* co,
                              SQLSMALLINT col) {
  return Record("SQLColumnsW", s, {Wide(c, cl), Wide(sc, scl), Wide(t, tl), Wide(co, col)});
}
SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT s, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* sc,
                                       SQLSMALLINT scl, SQLWCHAR* t, SQLSMALLINT tl,
                                       SQLWCHAR* co, SQLSMALLINT col) {
  return Record("SQLColumnPrivilegesW", s,
                {Wide(c, cl), Wide(sc, scl), Wide(t, tl), Wide(co, col)});
}
SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT s, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* sc,
                                      SQLSMALLINT scl, SQLWCHAR* t, SQLSMALLINT tl) {
  return Record("SQLTablePrivilegesW", s, {Wide(c, cl), Wide(sc, scl), Wide(t, tl)});
}
SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT s, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* sc,
                                  SQLSMALLINT scl, SQLWCHAR* t, SQLSMALLINT tl) {
  return Record("SQLPrimaryKeysW", s, {Wide(c, cl), Wide(sc, scl), Wide(t, tl)});
}
SQLRETURN SQL_API SQLProceduresW(SQLHSTMT s, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* sc,
                                 SQLSMALLINT scl, SQLWCHAR* p, SQLSMALLINT pl) {
  return Record("SQLProceduresW", s, {Wide(c, cl), Wide(sc, scl), Wide(p, pl)});
}
SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT s, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* sc,
                                       SQLSMALLINT scl, SQLWCHAR* p, SQLSMALLINT pl,
                                       SQLWCHAR* co, SQLSMALLINT col) {
  return Record("SQLProcedureColumnsW", s,
                {Wide(c, cl), Wide(sc, scl), Wide(p, pl), Wide(co, col)});
}
SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT s, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* sc,
                                 SQLSMALLINT scl, SQLWCHAR* t, SQLSMALLINT tl,
                                 SQLUSMALLINT unique, SQLUSMALLINT reserved) {
  return Record("SQLStatisticsW", s, {Wide(c, cl), Wide(sc, scl), Wide(t, tl)},
                {unique, reserved});
}
SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT s, SQLUSMALLINT identifierType, SQLWCHAR* c,
                                     SQLSMALLINT cl, SQLWCHAR* sc, SQLSMALLINT scl,
                                     SQLWCHAR* t, SQLSMALLINT tl, SQLUSMALLINT scope,
                                     SQLUSMALLINT nullable) {
  return Record("SQLSpecialColumnsW", s, {Wide(c, cl), Wide(sc, scl), Wide(t, tl)},
                {identifierType, scope, nullable});
}
SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT s, SQLWCHAR* pc, SQLSMALLINT pcl, SQLWCHAR* ps,
                                  SQLSMALLINT psl, SQLWCHAR* pt, SQLSMALLINT ptl, SQLWCHAR* fc,
                                  SQLSMALLINT fcl, SQLWCHAR* fs, SQLSMALLINT fsl, SQLWCHAR* ft,
                                  SQLSMALLINT ftl) {
  return Record("SQLForeignKeysW", s,
                {Wide(pc, pcl), Wide(ps, psl), Wide(pt, ptl), Wide(fc, fcl), Wide(fs, fsl),
                 Wide(ft, ftl)});
}
SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT s, SQLSMALLINT type) {
  return Record("SQLGetTypeInfo", s, {}, {type});
}

}  // extern "C"

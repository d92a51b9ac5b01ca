// The option tables and their value checks.
#include "config/option_tables.h"

#include "config/config_text.h"

namespace {

// Whole yes/no word, stored as "YES" or "NO".
const char* check_yes_no(const char* value) {
  int yes = 0;
  if (!ParseYesNo(value, &yes, true)) return nullptr;
  return yes ? "YES" : "NO";
}

// A number with optional byte unit and nothing after it; the first non-blank character
// must be a digit. Stored unchanged.
const char* check_number(const char* value) {
  const char* p = value;
  while (vq::config::is_white(*p)) ++p;
  if (*p < '0' || *p > '9') return nullptr;
  std::uint64_t number = 0;
  const char* end = nullptr;
  if (!knumber(p, &number, 0, true, true, &end) || *end != '\0') return nullptr;
  return value;
}

// A yes/no word ("YES"/"NO") or "AUTO" in any case.
const char* check_lazy_close(const char* value) {
  if (vq::config::same_text(value, "AUTO")) return "AUTO";
  return check_yes_no(value);
}

const char* const kServerAliases[] = {"Server", "ENG", "EngineName", nullptr};
const char* const kDataSourceAliases[] = {"DSN", "Data Source", nullptr};
const char* const kMSAppAliases[] = {"MSApp", nullptr};

constexpr auto YN = check_yes_no;
constexpr auto NUM = check_number;
constexpr auto LAZY = check_lazy_close;

}  // namespace

// One row per line, in slot order: the tables are read row by row.
// clang-format off
#define VQ_END_ROW {nullptr, nullptr, nullptr, nullptr, 0}

#define VQ_CLIENT_ROWS                                                   \
  {"UserID", "UID", nullptr, nullptr, 0},                                \
  {"Password", "PWD", nullptr, nullptr, 0},                              \
  {"DatabaseName", "DBN", nullptr, nullptr, 0},                          \
  {"DatabaseFile", "DBF", nullptr, nullptr, 0},                          \
  {"DatabaseSwitches", "DBS", nullptr, nullptr, 0},                      \
  {"ServerName", nullptr, kServerAliases, nullptr, 0},                   \
  {"Unconditional", "UNC", nullptr, YN, 0},                              \
  {"StartLine", "START", nullptr, nullptr, 1},                           \
  {"ConnectionName", "CON", nullptr, nullptr, 0},                        \
  {"AutoStop", "ASTOP", nullptr, YN, 0},                                 \
  {"DataSourceName", nullptr, kDataSourceAliases, nullptr, 0},           \
  {"Integrated", "INT", nullptr, YN, 0},                                 \
  {"FileDataSourceName", "FILEDSN", nullptr, nullptr, 0},                \
  {"EncryptedPassword", "ENP", nullptr, nullptr, 0},                     \
  {"CommBufferSize", "CBSIZE", nullptr, NUM, 0},                         \
  {"Debug", "DBG", nullptr, YN, 0},                                      \
  {"Encryption", "ENC", nullptr, nullptr, 1},                            \
  {"LivenessTimeout", "LTO", nullptr, NUM, 0},                           \
  {"LogFile", "LOG", nullptr, nullptr, 0},                               \
  {"DisableMultiRowFetch", "DMRF", nullptr, YN, 0},                      \
  {"CommLinks", "LINKS", nullptr, nullptr, 1},                           \
  {"AutoStart", "ASTART", nullptr, YN, 0},                               \
  {"Charset", "CS", nullptr, nullptr, 0},                                \
  {"ForceStart", "FORCE", nullptr, YN, 0},                               \
  {"PktDump", "DUMP", nullptr, nullptr, 0},                              \
  {"AppInfo", "APP", nullptr, nullptr, 0},                               \
  {"PrefetchRows", "PROWS", nullptr, NUM, 0},                            \
  {"PrefetchBuffer", "PBUF", nullptr, NUM, 0},                           \
  {"DatabaseKey", "DBKEY", nullptr, nullptr, 0},                         \
  {"Compress", "COMP", nullptr, YN, 0},                                  \
  {"CompressionThreshold", "COMPTH", nullptr, NUM, 0},                   \
  {"IdleTimeout", "IDLE", nullptr, NUM, 0},                              \
  {"Language", "LANG", nullptr, nullptr, 0},                             \
  {"LazyClose", "LCLOSE", nullptr, LAZY, 0},                             \
  {"IgnoreVCCONNECT", nullptr, nullptr, YN, 0},                          \
  {"IgnoreCache", nullptr, nullptr, YN, 0},                              \
  {"RetryConnectionTimeout", "RetryConnTO", nullptr, NUM, 0},            \
  {"Kerberos", "KRB", nullptr, nullptr, 0},                              \
  {"TraceLevel", "TRACE", nullptr, nullptr, 0},                          \
  {"TraceLog", "TLOG", nullptr, nullptr, 0},                             \
  {"NewPassword", "NEWPWD", nullptr, nullptr, 0},                        \
  {"Elevate", nullptr, nullptr, YN, 0},                                  \
  {"ConnectionPool", "CPOOL", nullptr, nullptr, 1},                      \
  {"Host", nullptr, nullptr, nullptr, 0},                                \
  {"NodeType", "NODE", nullptr, nullptr, 0},                             \
  {"AppConnTimeout", nullptr, nullptr, NUM, 0}

#define VQ_ODBC_ROWS                                                     \
  {"Description", nullptr, nullptr, nullptr, 0},                         \
  {"MSApplications", nullptr, kMSAppAliases, YN, 0},                     \
  {"PreventNotCapable", nullptr, nullptr, YN, 0},                        \
  {"TranslationName", nullptr, nullptr, nullptr, 0},                     \
  {"TranslationDLL", nullptr, nullptr, nullptr, 0},                      \
  {"TranslationOption", nullptr, nullptr, nullptr, 0},                   \
  {"Driver", nullptr, nullptr, nullptr, 0},                              \
  {"LazyAutocommit", nullptr, nullptr, YN, 0},                           \
  {"LazierAutocommit", nullptr, nullptr, YN, 0},                         \
  {"AutoPreCommit", nullptr, nullptr, YN, 0},                            \
  {"VBRDO", nullptr, nullptr, YN, 0},                                    \
  {"DescribeCursor", nullptr, nullptr, nullptr, 0},                      \
  {"IsolationLevel", nullptr, nullptr, nullptr, 0},                      \
  {"Delphi", nullptr, nullptr, nullptr, 0},                              \
  {"SAVEFILE", nullptr, nullptr, nullptr, 0},                            \
  {"InitString", nullptr, nullptr, nullptr, 1},                          \
  {"GetTypeInfoChar", nullptr, nullptr, YN, 0},                          \
  {"PrefetchOnOpen", nullptr, nullptr, YN, 0},                           \
  {"SuppressWarnings", nullptr, nullptr, YN, 0},                         \
  {"Database", nullptr, nullptr, nullptr, 0},                            \
  {"Escape", nullptr, nullptr, nullptr, 0}

extern "C" {

const a_conn_option MapClientOptionTable[] = {VQ_CLIENT_ROWS, VQ_END_ROW};

const a_conn_option MapODBCOptionTable[] = {VQ_ODBC_ROWS, VQ_END_ROW};

const a_conn_option MapTLSOptionTable[] = {
    {"trusted_certificates", nullptr, nullptr, nullptr, 0},
    {"certificate_company", "company", nullptr, nullptr, 0},
    {"certificate_name", "name", nullptr, nullptr, 0},
    {"certificate_unit", "unit", nullptr, nullptr, 0},
    {"identity", nullptr, nullptr, nullptr, 0},
    {"identity_password", nullptr, nullptr, nullptr, 0},
    {"tls_type", nullptr, nullptr, nullptr, 0},
    {"fips", nullptr, nullptr, YN, 0},
    VQ_END_ROW};

const a_conn_option MapTCPIPOptionTable[] = {
    {"Host", "IP", nullptr, nullptr, 0},
    {"Broadcast", "BCAST", nullptr, nullptr, 0},
    {"Timeout", "TO", nullptr, nullptr, 0},
    {"DoBroadcast", "DoBroad", nullptr, nullptr, 0},
    {"Port", "ServerPort", nullptr, nullptr, 0},
    {"MyIP", "Me", nullptr, nullptr, 0},
    {"ReceiveBufferSize", "RcvBufSz", nullptr, nullptr, 0},
    {"SendBufferSize", "SndBufSz", nullptr, nullptr, 0},
    {"LocalOnly", "LO", nullptr, nullptr, 0},
    {"ClientPort", "CPort", nullptr, nullptr, 0},
    {"VerifyServerName", "Verify", nullptr, nullptr, 0},
    {"LDAP", "LDAP", nullptr, nullptr, 0},
    {"ipv6", "v6", nullptr, nullptr, 0},
    VQ_END_ROW};

const a_conn_option MapCPoolOptionTable[] = {
    {"Timeout", "TO", nullptr, NUM, 0},
    {"MaxCached", nullptr, nullptr, NUM, 0},
    {"StartCachingAfter", nullptr, nullptr, NUM, 0},
    VQ_END_ROW};

const a_conn_option MapAppInfoOptionTable[] = {
    {"IP", nullptr, nullptr, nullptr, 0},
    {"HOST", nullptr, nullptr, nullptr, 0},
    {"OS", nullptr, nullptr, nullptr, 0},
    {"PID", nullptr, nullptr, nullptr, 0},
    {"THREAD", nullptr, nullptr, nullptr, 0},
    {"EXE", nullptr, nullptr, nullptr, 0},
    {"VERSION", nullptr, nullptr, nullptr, 0},
    {"APPINFO", nullptr, nullptr, nullptr, 0},
    {"API", nullptr, nullptr, nullptr, 0},
    {"TIMEZONEADJUSTMENT", nullptr, nullptr, nullptr, 0},
    {"OSUSER", nullptr, nullptr, nullptr, 0},
    VQ_END_ROW};

const a_conn_option MapOracleOptionTable[] = {
    {"DataSourceName", "DSN", nullptr, nullptr, 0},
    {"Driver", nullptr, nullptr, nullptr, 0},
    {"UserID", "UID", nullptr, nullptr, 0},
    {"Password", "PWD", nullptr, nullptr, 0},
    {"SID", "SID", nullptr, nullptr, 0},
    {"EncryptedPassword", "ENP", nullptr, nullptr, 0},
    {"ProcResults", "PROC", nullptr, nullptr, 0},
    {"ArraySize", "SIZE", nullptr, nullptr, 0},
    {"EnableMSDTC", "EDTC", nullptr, nullptr, 0},
    {"ProcOwner", "POWNER", nullptr, nullptr, 0},
    {"ServiceName", "SN", nullptr, nullptr, 0},
    VQ_END_ROW};

const a_conn_option MapSyncOptionTable[] = {
    {"Memory", "MEM", nullptr, nullptr, 0},
    {"FireTriggers", "FT", nullptr, YN, 0},
    {"SendTriggers", "ST", nullptr, YN, 0},
    {"SendColumnNames", "SCN", nullptr, YN, 0},
    {"Verbose", "V", nullptr, YN, 0},
    {"Debug", "DBG", nullptr, YN, 0},
    {"OfflineDirectory", "DIR", nullptr, nullptr, 0},
    {"ScriptVersion", "SV", nullptr, nullptr, 0},
    {"Schedule", "SCH", nullptr, nullptr, 0},
    {"Increment", "INC", nullptr, nullptr, 0},
    {"LockTables", "LT", nullptr, nullptr, 0},
    {"ConflictRetries", "CR", nullptr, nullptr, 0},
    {"DisablePolling", "P", nullptr, YN, 0},
    {"PollingPeriod", "PP", nullptr, nullptr, 0},
    {"IgnoreHookErrors", "EH", nullptr, YN, 0},
    {"SiteScriptName", "SN", nullptr, nullptr, 0},
    {"IgnoreScheduling", "ISC", nullptr, YN, 0},
    {"NewSkifflinePwd", "MN", nullptr, nullptr, 0},
    {"SkifflinePwd", "MP", nullptr, nullptr, 0},
    {"SendDownloadACK", "SA", nullptr, YN, 0},
    {"ErrorLogSendLimit", "EL", nullptr, nullptr, 0},
    {"TableOrder", "TOR", nullptr, nullptr, 0},
    {"DownloadBufferSize", "DBS", nullptr, nullptr, 0},
    {"CommunicationType", "CTP", nullptr, nullptr, 0},
    {"CommunicationAddress", "ADR", nullptr, nullptr, 0},
    {"VerboseMin", "VM", nullptr, YN, 0},
    {"VerboseRowCounts", "VN", nullptr, YN, 0},
    {"VerboseOptions", "VO", nullptr, YN, 0},
    {"VerboseRowValues", "VR", nullptr, YN, 0},
    {"VerboseHooks", "VS", nullptr, YN, 0},
    {"VerboseUpload", "VU", nullptr, YN, 0},
    {"HoverRescanThreshold", "HRT", nullptr, nullptr, 0},
    {"UploadOnly", "UO", nullptr, YN, 0},
    {"DownloadOnly", "DS", nullptr, YN, 0},
    {"VerboseDownload", "VD", nullptr, YN, 0},
    {"ContinueDownload", "CD", nullptr, YN, 0},
    {"DownloadReadSize", "DRS", nullptr, nullptr, 0},
    {"MirrorLogDirectory", "MLD", nullptr, nullptr, 0},
    {"NoSyncOnStartup", "NSS", nullptr, YN, 0},
    {"TableOrderChecking", "TOC", nullptr, YN, 0},
    {"BufferDownload", "BD", nullptr, YN, 0},
    VQ_END_ROW};

const a_conn_option MapNotifyOptionTable[] = {
    {"recipient", nullptr, nullptr, nullptr, 0},
    {"message", nullptr, nullptr, nullptr, 0},
    {"message_start", nullptr, nullptr, nullptr, 0},
    {"subject", nullptr, nullptr, nullptr, 0},
    {"content", nullptr, nullptr, nullptr, 0},
    {"sender", nullptr, nullptr, nullptr, 0},
    {"action", nullptr, nullptr, nullptr, 0},
    {"altaction", nullptr, nullptr, nullptr, 0},
    {"continue", nullptr, nullptr, YN, 0},
    {"maydial", nullptr, nullptr, YN, 0},
    {"confirm_delivery", nullptr, nullptr, YN, 0},
    {"confirm_action", nullptr, nullptr, YN, 0},
    {"poll_track_connect", nullptr, nullptr, nullptr, 0},
    {"poll_track_sv", nullptr, nullptr, nullptr, 0},
    {"poll_track_user", nullptr, nullptr, nullptr, 0},
    {"poll_track_pwd", nullptr, nullptr, nullptr, 0},
    {"poll_connect", nullptr, nullptr, nullptr, 0},
    {"poll_notifier", nullptr, nullptr, nullptr, 0},
    {"poll_key", nullptr, nullptr, nullptr, 0},
    {"poll_every", nullptr, nullptr, NUM, 0},
    VQ_END_ROW};

}  // extern "C"
// clang-format on

namespace vq::config {

const a_conn_option kClientAndODBCOptionTable[] = {VQ_CLIENT_ROWS, VQ_ODBC_ROWS, VQ_END_ROW};

unsigned CountOptionRows(const a_conn_option* table) {
  unsigned n = 0;
  while (table != nullptr && table[n].long_name != nullptr) ++n;
  return n;
}

}  // namespace vq::config

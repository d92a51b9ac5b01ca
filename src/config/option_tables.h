// The vocabulary of connection strings: one option table per kind of string. The tables
// are exported data of the library (C names, default visibility); a row's position is its
// slot index in the value block a parse fills.
#ifndef VQ_CONFIG_OPTION_TABLES_H
#define VQ_CONFIG_OPTION_TABLES_H

#include "config/key_value_parser.h"

#define VQ_EXPORTED_DATA __attribute__((visibility("default")))

extern "C" {
VQ_EXPORTED_DATA extern const a_conn_option MapClientOptionTable[];   // 46 rows
VQ_EXPORTED_DATA extern const a_conn_option MapODBCOptionTable[];     // 21 rows
VQ_EXPORTED_DATA extern const a_conn_option MapTLSOptionTable[];      // 8 rows
VQ_EXPORTED_DATA extern const a_conn_option MapTCPIPOptionTable[];    // 13 rows
VQ_EXPORTED_DATA extern const a_conn_option MapCPoolOptionTable[];    // 3 rows
VQ_EXPORTED_DATA extern const a_conn_option MapAppInfoOptionTable[];  // 11 rows
VQ_EXPORTED_DATA extern const a_conn_option MapOracleOptionTable[];   // 11 rows
VQ_EXPORTED_DATA extern const a_conn_option MapSyncOptionTable[];     // 41 rows
VQ_EXPORTED_DATA extern const a_conn_option MapNotifyOptionTable[];   // 20 rows
}

namespace vq::config {

// MapClientOptionTable rows followed by MapODBCOptionTable rows: the 67 slots of the ODBC
// layer (ODBC row r is slot 46 + r). Not exported.
extern const a_conn_option kClientAndODBCOptionTable[];

// Rows of a table up to its terminating row.
unsigned CountOptionRows(const a_conn_option* table);

}  // namespace vq::config

// Slot counts of the tables.
constexpr unsigned kClientSlots = 46;
constexpr unsigned kODBCSlots = 21;
constexpr unsigned kClientAndODBCSlots = kClientSlots + kODBCSlots;
constexpr unsigned kTLSSlots = 8;
constexpr unsigned kTCPIPSlots = 13;
constexpr unsigned kCPoolSlots = 3;
constexpr unsigned kAppInfoSlots = 11;
constexpr unsigned kOracleSlots = 11;
constexpr unsigned kSyncSlots = 41;
constexpr unsigned kNotifySlots = 20;

// Client slots named by code.
enum : int {
  kSlotUserID = 0,
  kSlotPassword = 1,
  kSlotDatabaseName = 2,
  kSlotDatabaseFile = 3,
  kSlotServerName = 5,
  kSlotUnconditional = 6,
  kSlotStartLine = 7,
  kSlotConnectionName = 8,
  kSlotAutoStop = 9,
  kSlotDataSourceName = 10,
  kSlotIntegrated = 11,
  kSlotFileDataSourceName = 12,
  kSlotEncryptedPassword = 13,
  kSlotCommBufferSize = 14,
  kSlotDebug = 15,
  kSlotEncryption = 16,
  kSlotLivenessTimeout = 17,
  kSlotDisableMultiRowFetch = 19,
  kSlotCommLinks = 20,
  kSlotAutoStart = 21,
  kSlotForceStart = 23,
  kSlotPktDump = 24,
  kSlotPrefetchRows = 26,
  kSlotPrefetchBuffer = 27,
  kSlotDatabaseKey = 28,
  kSlotCompress = 29,
  kSlotCompressionThreshold = 30,
  kSlotIdleTimeout = 31,
  kSlotLazyClose = 33,
  kSlotIgnoreVCCONNECT = 34,
  kSlotIgnoreCache = 35,
  kSlotRetryConnectionTimeout = 36,
  kSlotKerberos = 37,
  kSlotTraceLevel = 38,
  kSlotTraceLog = 39,
  kSlotNewPassword = 40,
  kSlotElevate = 41,
  kSlotConnectionPool = 42,
  kSlotAppConnTimeout = 45,
};

// TLS slots.
enum : int {
  kTLSTrustedCertificates = 0,
  kTLSCertificateCompany = 1,
  kTLSCertificateName = 2,
  kTLSCertificateUnit = 3,
  kTLSIdentity = 4,
  kTLSIdentityPassword = 5,
  kTLSType = 6,
  kTLSFips = 7,
};

#endif  // VQ_CONFIG_OPTION_TABLES_H

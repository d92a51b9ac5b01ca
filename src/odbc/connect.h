// Connection strings and driver connect: the 67 connection-attribute slots of a
// connection handle, how the arguments of SQLConnect, a connection string, VCCONNECT and
// a data source fill them (in that order of precedence), the strings built back from
// them (the client's connect string, the completed string, the browse request), and the
// three connect operations with what follows a successful engine connect.
//
// Every function here is called with the connection's mutex held (the call framing of
// the entry points) and records its diagnostics on the connection. Nothing here throws.
#ifndef VQ_ODBC_CONNECT_H
#define VQ_ODBC_CONNECT_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "config/key_value_parser.h"
#include "odbc/handles.h"

// ODBC slots (46 + the row of MapODBCOptionTable).
enum : int {
  kSlotDescription = 46,
  kSlotMSApplications = 47,
  kSlotPreventNotCapable = 48,
  kSlotTranslationName = 49,
  kSlotTranslationDLL = 50,
  kSlotTranslationOption = 51,
  kSlotDriver = 52,
  kSlotLazyAutocommit = 53,
  kSlotLazierAutocommit = 54,
  kSlotAutoPreCommit = 55,
  kSlotVBRDO = 56,
  kSlotDescribeCursor = 57,
  kSlotIsolationLevel = 58,
  kSlotDelphi = 59,
  kSlotSaveFile = 60,
  kSlotInitString = 61,
  kSlotGetTypeInfoChar = 62,
  kSlotPrefetchOnOpen = 63,
  kSlotSuppressWarnings = 64,
  kSlotDatabase = 65,
  kSlotEscape = 66,
};

// ---- Slot names and the browse vocabulary (connect_slots.cpp) ------------------------------

// The name a slot carries in every string built from the slots: "DSN" for slot 10, the
// short name for slots 0, 1 and 12, the long name otherwise; null beyond slot 66.
const char* GetConnAttrName(int slot);
// The short name (null when the slot has none, and for slots 46 to 66).
const char* GetConnAttrShortName(int slot);
// The first alias (null when the slot has none).
const char* GetConnAttrAltName(int slot);
// The browse prompt of a slot ("Userid" ...); null beyond slot 66.
const char* GetConnAttrPrompt(int slot);
// The behaviour-flag bit a true value of the slot sets (0 for most slots).
std::uint32_t GetConnAttrFlag(int slot);

// The describe-cursor mode of a DescribeCursor value, by its first character: n/N 0,
// y/Y 1, a/A 2; a number of 0 to 2 is itself; anything else (null included) -1.
int MapDescCursor(const char* text);

// ---- Parsing into the slots (connect_parse.cpp) ---------------------------------------------

// Records the error of a connection-string parse code on the connection: code 10 (data
// source not found) as SQL code -754, any other as -95 (both 08004), with the parser's
// description of the error (made from `parms`' error buffer) as the message parameter.
void SetParseError(tagDBC* dbc, const a_string_parms* parms, int code);

// Parses a connection string into the slots. `text` null is an empty string; `length` is
// SQL_NTS or the byte count (the caller has refused other negative lengths). With `mode`
// not 0 the VCCONNECT defaults are added. Then, when Driver is unset, the data source
// (DSN, else FILEDSN) fills the slots still unset, and a Database value is expanded.
// `seen` (may be null) is an array of kConnAttrSlots flags that receives 1 for every slot
// this call set. 1 when the connection's return code is still 0 afterwards, else 0.
int ParseConnectionString(tagDBC* dbc, const char* text, SQLINTEGER length, std::uint8_t* seen,
                          int mode);

// The Database expansion: when Database is set and not all of ServerName, DatabaseName
// and DatabaseFile are, DatabaseName (and DatabaseFile, for a value with a path or an
// extension) are derived from it. Slots already set keep their values. 0, or -1 when
// memory ran out (HY001 recorded).
int ExpandDatabase(tagDBC* dbc);
// The root name of a database value: after the last '\', '/' or ':', up to the last '.'
// after that, stepped by whole characters; into `out` of `size` bytes (cut to whole
// characters, at most 39, and terminated). True when the value had a separator or a '.'.
bool FindRootName(const char* value, char* out, std::size_t size);
// A root name made into a database name in place: all-upper-case or all-lower-case roots
// of single-byte characters become capitalised; any other root is left as it is.
void MakeNameFromRoot(char* root);

// Sets a slot's text (copied; null or empty clears it) and source. 0, or -1 when memory
// ran out (HY001 recorded, the slot left as it was).
int SetConnAttr(tagDBC* dbc, int slot, const char* text, std::int32_t source);
// Frees a slot's text (wiped first) and marks it unset.
void ClearConnAttr(tagDBC* dbc, int slot);

// ---- Strings built from the slots (connect_strings.cpp) -------------------------------------

// Build modes.
enum : int {
  kBuildCompleted = 0,  // the completed string for the application: slots given by it
  kBuildEngine = 1,     // the client's connect string: slots 0 to 45 but DSN and FILEDSN
  kBuildODBC = 2,       // slots 46 to 66 but Driver
  kBuildClient = 3,     // slots 0 to 45
};

// The string of one build mode in a new block (VFreeLocked after wiping: it may hold the
// password), or null when memory ran out (HY001 recorded). The engine string names the
// connection by its handle name when the application gave no ConnectionName.
char* BuildConnectionString(tagDBC* dbc, int mode);
// The client's connect string (kBuildEngine).
char* BuildDBConnectString(tagDBC* dbc);
// The string of one build mode copied into `buffer` of `size` bytes (cut to size - 1
// bytes and terminated); an empty text when it cannot be built. Nothing for size 0.
void BuildConfigString(char* buffer, std::size_t size, tagDBC* dbc, int mode);
// Wipes a built string and releases it; null is ignored.
void FreeBuiltString(char* text);

// ---- Connect (connect.cpp) -----------------------------------------------------------------

// The engine connect and everything after it (isolation level, behaviour flags, describe
// cursor mode, the probe, InitString, translation, character sets). `bad_login` (may be
// null) is set to 1 when the server refused the user id or password. A failure after the
// session opened ends it again: on a return code of -1 the connection is not connected.
SQLRETURN Attempt_connect(tagDBC* dbc, int* bad_login);

SQLRETURN DoSQLConnect(tagDBC* dbc, const SQLCHAR* server, SQLSMALLINT server_length,
                       const SQLCHAR* user, SQLSMALLINT user_length, const SQLCHAR* password,
                       SQLSMALLINT password_length);
SQLRETURN DoSQLDriverConnect(tagDBC* dbc, SQLHWND window, const SQLCHAR* in,
                             SQLSMALLINT in_length, SQLCHAR* out, SQLSMALLINT out_size,
                             SQLSMALLINT* out_length, SQLUSMALLINT completion);
SQLRETURN DoSQLBrowseConnect(tagDBC* dbc, const SQLCHAR* in, SQLSMALLINT in_length,
                             SQLCHAR* out, SQLSMALLINT out_size, SQLSMALLINT* out_length);

// The dialogs of the connect and configuration paths; this library has none: both 0.
int ConnectDialog(tagDBC* dbc, SQLHWND window, SQLUSMALLINT completion);
int ConfigDialog(tagDBC* dbc, SQLHWND window);

#endif  // VQ_ODBC_CONNECT_H

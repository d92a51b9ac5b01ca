// Data sources: the installer library (bound once, each function optional), profile
// reading through it or through the driver's own ini store, a data source read into a
// connection's attribute slots and written back from them, the data-source list behind
// SQLDataSources, and the configuration routine behind ConfigDSN and
// SQLConfigDataSource.
//
// The installer library is looked for under its development name, then under Debian's
// versioned name. Without it, reading works through the built-in ini store; writing and
// removing data sources do nothing and report 0.
#ifndef VQ_ODBC_DATA_SOURCES_H
#define VQ_ODBC_DATA_SOURCES_H

#include <odbcinst.h>
#include <sql.h>

#include <cstdint>

#include "odbc/handles.h"

// The ODBC data-source file, as the built-in store names it.
constexpr const char kOdbcIniFile[] = ".odbc.ini";
// Its name for the installer library (which picks the user or system file itself).
constexpr const char kInstallerIniFile[] = "odbc.ini";

// Loads the installer library and binds its functions; only the first call does
// anything. UnloadInstallDLL does nothing: the binding lives as long as the process.
void LoadInstallDLL();
void UnloadInstallDLL();
// Whether the library was loaded (after LoadInstallDLL).
bool InstallerLoaded();

// Wrappers: the bound function's answer, or the fixed answer when it is missing.
int ValidDSN(const char* name);                                       // missing: 1
int SetConfigMode(std::uint16_t mode);                                // missing: 0
int GetConfigMode(std::uint16_t* mode);                               // missing: 0
int PostInstallerError(std::uint32_t code, const char* text);         // missing: 0
int PostInstallError(std::uint32_t code, const char* text);           // missing: 0
int MyWritePrivateProfileString(const char* section, const char* key, const char* value,
                                const char* file);                    // missing: 0
int RemoveIni(const char* name);                                      // missing: 0
int DSN_Exists(const char* name, int* out);                           // always 0

// For tests: with false, profile reading takes the built-in store even when the
// installer library is there (the path a machine without it takes).
void SetInstallerProfileReading(bool on);

// Reads `key` of `section` in `file` into `buffer` of `size` bytes, the default first;
// without a key, the section's entries ("key=value" each terminated, the list ended by a
// second terminator). Through the installer library when it has the function, else the
// environment's cached ini store (`h` is the environment or a connection under it): a
// missing file or section records IM002 on `h` (when its return code is still 0) and
// leaves the default. The length of the text left in the buffer; a negative size empties
// the buffer and is returned.
int MyGetPrivateProfileString(tagOBJECT* h, const char* section, const char* key,
                              const char* default_value, char* buffer, int size,
                              const char* file);

// Fills the connection's unset slots from its data source (DSN, else FILEDSN as a file
// data source; neither: nothing). A data source the driver's own reader does not find is
// looked for through the installer library (which also knows the system's data
// sources). 0, or the parse code with the error recorded (-754 for a data source not
// found, -95 otherwise).
int ReadIni(tagDBC* dbc);
// Writes the connection's slots as data source `name` for `driver`: 1 when written, 0
// when the installer library is missing or refuses the data source.
int WriteIni(tagDBC* dbc, const char* name, const char* driver);

// Reads the environment's data-source list whole (section "ODBC Data Sources"); a
// negative code when it cannot be read.
SQLRETURN ReadDataSources(tagENV* env);
// SQLDataSources: SQL_FETCH_FIRST rereads the list, SQL_FETCH_NEXT goes on; 100 at its
// end. Name and description are returned through ReturnString.
SQLRETURN DoSQLDataSources(tagENV* env, SQLUSMALLINT direction, SQLCHAR* name,
                           SQLSMALLINT name_size, SQLSMALLINT* name_length, SQLCHAR* description,
                           SQLSMALLINT description_size, SQLSMALLINT* description_length);

// The configuration routine of ConfigDSN and SQLConfigDataSource: ODBC_ADD_DSN,
// ODBC_CONFIG_DSN, ODBC_REMOVE_DSN with `attributes` a list of key=value entries, each
// terminated, ended by an empty entry. TRUE or FALSE.
BOOL ConfigureDataSource(HWND window, WORD request, const char* driver, const char* attributes);
// SQLGetInstalledDrivers: the driver's one name as a list (name, two terminators).
BOOL GetInstalledDrivers(char* buffer, WORD size, WORD* length_out);

#endif  // VQ_ODBC_DATA_SOURCES_H

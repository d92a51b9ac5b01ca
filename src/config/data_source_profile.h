// Data-source profiles: a connection string's DataSourceName or FileDataSourceName names
// a section of parameters kept in an ini file; these functions read one into a value
// block by the option tables' names. The ODBC data-source file (".odbc.ini") stays open
// in one process-wide cached store between reads; ProfileFini closes it.
//
// A file data source is an ini file of its own, found by its own name (a name with a
// "/" as given, otherwise in ODBCHOME, HOME, the home directory, then the current
// directory); ODBCINI and ODBC_INI do not redirect it. Its parameters are in the
// section "ODBC".
//
// Every function is safe to call from several threads: one process-wide lock covers the
// cached store, its replacement and ProfileFini.
#ifndef VQ_CONFIG_DATA_SOURCE_PROFILE_H
#define VQ_CONFIG_DATA_SOURCE_PROFILE_H

#include <cstddef>

#include "config/key_value_parser.h"

class c_cfg_section;

// Reads data source `name` (or, with `isFile`, file data source `name`) into `parms`,
// which must be empty and is initialised with `count` slots (46 client slots, 67 with the
// ODBC slots). Slots 10 and 12 (DataSourceName, FileDataSourceName) are never taken from
// a profile, NewPassword only as "*", ServerName is cut to 250 characters. Returns 0,
// kParseNoMemory, kParseDsnFileNotFound, kParseDsnFileNotOpened or kParseNoDataSource;
// after a failure the error buffer holds `name` (empty after success).
[[nodiscard]] int ReadProfile(const char* name, a_string_parms* parms, bool isFile,
                              unsigned count);
// The same over MapOracleOptionTable (11 slots), no slot skipped or changed.
[[nodiscard]] int ReadProfile_Oracle(const char* name, a_string_parms* parms, bool isFile);

// The same rules over a section already read (for example through the installer
// library): `parms` (empty) is initialised with `count` slots and filled from `section`;
// `name` goes to the error buffer when the result is not 0. Returns 0, kParseNoMemory or
// (null section) kParseNoDataSource.
[[nodiscard]] int ReadProfileSection(const char* name, c_cfg_section* section,
                                     a_string_parms* parms, unsigned count);

// Copies the non-empty value of `key` in section `section` of ".odbc.ini" into `out` of
// `size` bytes (cut to size - 1 bytes and terminated); `out` is emptied first. Returns 0
// (also when the file or the section is absent) or kParseDsnFileNotOpened.
int GetODBCString(const char* section, const char* key, char* out, std::size_t size);

// Closes and deletes the cached store; the next read opens the file again.
void ProfileFini();

#endif  // VQ_CONFIG_DATA_SOURCE_PROFILE_H

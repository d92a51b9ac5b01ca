// Where the configuration files are found and placed: the small part of the file-location
// rules the ini store and the data-source profiles need.
//
// XXX stand-in until the file-location functions are in the tree; then each of these
// becomes the call of the matching LS_ function and this file goes.
#ifndef VQ_CONFIG_LOCATION_SEAM_H
#define VQ_CONFIG_LOCATION_SEAM_H

#include <cstddef>

namespace vq::config::seam {

// Each returns the length of the path written to `out` (`size` bytes with the
// terminator), or 0 with `out` empty.

// The user's application-data directory ($HOME/.vellumcrest12) + "/" + name, when it is
// a readable file.
std::size_t QualifyIniFile(const char* name, char* out, std::size_t size);
// A configuration file of the system: the name as given, when readable, else the
// application-data directory + "/" + name when readable.
std::size_t QualifyConfigFile(const char* name, char* out, std::size_t size);
// Where a new ini file goes: the application-data directory (created) + "/" + name.
std::size_t PlaceIniFile(const char* name, char* out, std::size_t size);
// The ODBC data-source file: ODBCINI, ODBC_INI (each, with `mustExist`, only when it
// names an existing file), ODBCHOME + "/" + fileName, HOME + "/" + fileName, the home
// directory of the password database + "/" + fileName (with `mustExist` only when the
// file exists).
std::size_t QualifyOdbcIniFile(const char* fileName, char* out, std::size_t size,
                               bool mustExist);

}  // namespace vq::config::seam

#endif  // VQ_CONFIG_LOCATION_SEAM_H

// XXX: temporary seam. The locale code loads the Unicode library and finds its data
// files through these few functions until the base utilities' library loader and
// file-location rules exist; then these become thin calls into them (or go away).
//
// Search order for both libraries and data files: the directories set for tests
// (SetLocaleSearchPathForTesting), else $VCDIR/bin64, $VCDIR/res, $VCDIR, then the
// directory of the module that holds this code and its "res" subdirectory. Only
// absolute candidates are used: nothing is found relative to the current directory.
#ifndef VQ_UTILS_LOCALE_LOCATION_SEAM_H
#define VQ_UTILS_LOCALE_LOCATION_SEAM_H

#include <cstddef>

namespace vq_locale_seam {

// Finds `name` in the search directories; true with its path in path[0, size).
bool FindFile(const char* name, char* path, std::size_t size);
// Loads the shared library `name` found in the search directories; null when absent
// or when it does not load.
void* LoadLibrary(const char* name);
void* GetProcAddress(void* handle, const char* name);
void UnloadLibrary(void* handle);
// Whether the process runs with threads (this build always does).
bool IsThreaded();

// Replaces the search directories by a ':'-separated list; null restores the default
// order. For tests; not thread-safe against concurrent searches.
void SetLocaleSearchPathForTesting(const char* dirs);

}  // namespace vq_locale_seam

#endif  // VQ_UTILS_LOCALE_LOCATION_SEAM_H

// XXX: temporary seam, to be replaced by LS_QualifyVellumFile (resource kind 8) once the
// file-location rules exist. Finds a message resource file by name.
//
// Search order: the directories set by SetResourceSearchPathForTesting, when set; else
// the installation root ($VCDIR, else $VELLUM12) itself, its "res/" and "../res/"
// subdirectories, then the executable's directory with the same subdirectories. Only
// absolute candidates are tried: nothing is found relative to the current directory.
#ifndef VQ_UTILS_LOCALE_RESOURCE_SEARCH_H
#define VQ_UTILS_LOCALE_RESOURCE_SEARCH_H

#include <cstddef>

namespace vq_resource_seam {

// True with the readable regular file's path in path[0, size) when `name` is found and
// the path fits; else false and an empty path (size > 0).
bool FindResourceFile(const char* name, char* path, std::size_t size);

// Replaces the search by a ':'-separated directory list; null restores the default.
// For tests; not thread-safe against concurrent searches.
void SetResourceSearchPathForTesting(const char* dirs);

}  // namespace vq_resource_seam

#endif  // VQ_UTILS_LOCALE_RESOURCE_SEARCH_H

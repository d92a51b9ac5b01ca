// Finding and changing the separators, file name and extension of a path, and a few
// file operations built on them: versioned and dated renames and copies, free disk
// space.
//
// Every path function walks the path one character at a time, taking each character's
// length (1 to 4 bytes) from the collation it is given, so that a separator byte inside
// a multibyte character is never taken for a separator; only single-byte characters can
// be separators. Separator modes: 0 and 1 "/"; 2 "/", "\" and ":"; any other none.
// Callers pass a collation set to the operating system's collation.
//
// Sizes are whole buffer sizes, terminator included; copies are bounded by them.
#ifndef VQ_UTILS_BASE_PATH_HELPERS_H
#define VQ_UTILS_BASE_PATH_HELPERS_H

class UTCollation;
class UTLocale;

char* FindLastPathSeparator(UTCollation& collation, const char* path, int mode);
char* FindNextPathSeparator(UTCollation& collation, const char* path, int mode);
char* FindNextUNCSeparator(UTCollation& collation, const char* path);
// Makes the path end with "/" (an empty path becomes "/"). Returns the position just
// after the separator and, in *remaining (when non-null), the room left after it
// (0 when only the terminator's byte is left). Null, with the path unchanged and
// *remaining 0, when there is no room for the separator.
char* AppendPathSeparator(UTCollation& collation, char* path, unsigned size,
                          unsigned* remaining);
// Just after the last separator of the mode, or the path itself.
char* FindFilename(UTCollation& collation, const char* path, int mode);
// Cuts the path just after its last "/"; a path without "/" becomes empty.
char* RemoveFilename(UTCollation& collation, char* path);
// The part after the last "/", cut to `size`. Returns out.
char* GetFilename(UTCollation& collation, const char* path, char* out, unsigned size);
// The last "." after the last "/", or null (".profile" has its "." as separator).
char* FindExtensionSeparator(UTCollation& collation, const char* path);
// The file name without its extension, cut to `size`. Returns out.
char* GetFilenameNoExtension(UTCollation& collation, const char* path, char* out,
                             unsigned size);
// Removes the extension; then, when ext is non-null, appends "." (unless ext begins
// with one) and ext, cut to `size`. Returns path.
char* ReplaceExtension(UTCollation& collation, char* path, unsigned size, const char* ext);
// As ReplaceExtension when ext is non-null and the path has no extension; otherwise
// leaves the path alone. Returns path.
char* AppendExtension(UTCollation& collation, char* path, unsigned size, const char* ext);
// Removes a "/" that is the path's last character unless it is also its first "/"
// ("/" alone stays). Returns where the last "/" was, or null.
char* RemoveTrailingSlash(UTCollation& collation, char* path);
// Leaves the path unchanged. Returns the last "/" when it is also the first separator
// of mode 2 or when there is none, else the position after the first separator of
// mode 2.
char* RemoveTrailingBackslash(UTCollation& collation, char* path);

bool IsFullyQualifiedPathname(const char* path);
// Replaces the path by its resolved form. Null, with the path unchanged, when it
// cannot be resolved or the resolved form does not fit in `size` bytes.
char* CanonicalizePath(char* path, unsigned size);
// Whether the file can be read.
bool FileExists(const char* path);
int MakeDirectoryAccessible(const char* path);
int GetPhysicalDrive(const char* path);
// Bytes available to this user (all free bytes for root) and the file system's size.
// 1, or 0 with the outputs untouched for a null path or when the query fails.
int DiskFreeSpace(const char* path, unsigned long long* available, unsigned long long* total);
// path + "." + n; the result of the last bounded copy (1 fitted, 0 cut).
int MakeVersionedName(char* out, unsigned size, const char* path, long n);
// First position in the haystack, stepping by whole characters of the locale, where the
// needle's bytes follow regardless of ASCII letter case; null when either is null or
// the haystack has fewer characters (or bytes) left than the needle.
const char* stristr(const char* haystack, unsigned haystack_len, const char* needle,
                    unsigned needle_len, UTLocale* locale);

// Moves the file aside: keep < 0 to path.old (replacing it); otherwise to the first free
// path.n for n = 1 .. keep (1000 for 0). When all are taken: keep 0 fails; otherwise
// path.1 (the oldest) is deleted, path.2 .. path.keep move down by one and the file
// becomes path.keep. True when the final rename succeeded.
bool RenameVersionedFile(const char* path, long keep);
// Renames the file, in its own directory, to YYMMDDnn + ext (nn from 00, the first name
// not taken) for today's local date. False when the file is not writable, the name does
// not fit, or the rename fails.
bool RenameFileUsingDate(const char* path, const char* ext);
// As RenameFileUsingDate, but copies the file to the new name, which goes to out.
// True only when the whole file was copied.
bool CopyFileUsingDate(const char* path, const char* ext, char* out, unsigned size);
// Copies a file in blocks of one memory page into `to` (created or truncated, mode
// 0644). 1 when every byte was read and written; 0 when a file cannot be opened or a
// read or write fails.
int doFileCopy(const char* from, const char* to);

namespace vq::base {

// Length in bytes (1 to 4) of the character starting with `lead` under a collation (path
// functions) or a locale's collation (stristr; the collation is then null). The
// collation code installs its lookup here; until it does every byte is one character.
using CollationCharLengthFn = unsigned (*)(const UTCollation* collation, const UTLocale* locale,
                                           unsigned char lead);
void SetCollationCharLengthFn(CollationCharLengthFn fn);  // null restores the default

// Today's local date for the dated names; tests replace it. Null restores the clock.
struct a_local_date {
  int year;   // full year
  int month;  // 1 to 12
  int day;    // 1 to 31
};
using TodayFn = a_local_date (*)();
void SetTodayFn(TodayFn fn);

}  // namespace vq::base

#endif  // VQ_UTILS_BASE_PATH_HELPERS_H

// Path helpers and the file operations built on them.
#include "utils/base/path_helpers.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"
#include "utils/base/number_conversion.h"
#include "utils/base/os_info.h"
#include "utils/base/path_split.h"
#include "utils/base/posix_file.h"

namespace {

constexpr unsigned kPathBytes = 4097;  // 4096 characters and the terminator

unsigned OneByte(const UTCollation*, const UTLocale*, unsigned char) { return 1; }

std::atomic<vq::base::CollationCharLengthFn> g_char_length{&OneByte};

vq::base::a_local_date LocalToday() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::atomic<vq::base::TodayFn> g_today{&LocalToday};

unsigned CharLength(const UTCollation* collation, const UTLocale* locale, unsigned char lead) {
  const unsigned n = g_char_length.load()(collation, locale, lead);
  return n == 0 ? 1 : (n > 4 ? 4 : n);
}

// Steps to the next character; a character cut by the terminator stops at it.
const char* Next(const UTCollation& collation, const char* p) {
  unsigned n = CharLength(&collation, nullptr, static_cast<unsigned char>(*p));
  while (n-- > 0 && *p != '\0') ++p;
  return p;
}

bool IsSeparator(char c, int mode) {
  switch (mode) {
    case 0:
    case 1:
      return c == '/';
    case 2:
      return c == '/' || c == '\\' || c == ':';
    default:
      return false;
  }
}

// The last (or first) single-byte character of the path that `match` accepts.
template <typename Match>
char* Find(const UTCollation& collation, const char* path, bool last, Match match) {
  if (path == nullptr) return nullptr;
  const char* found = nullptr;
  for (const char* p = path; *p != '\0';) {
    const char* next = Next(collation, p);
    if (next == p + 1 && match(*p)) {
      found = p;
      if (!last) break;
    }
    p = next;
  }
  return const_cast<char*>(found);
}

bool Exists(const char* path) { return _posix_access(path, F_OK) == 0; }

}  // namespace

namespace vq::base {

void SetCollationCharLengthFn(CollationCharLengthFn fn) {
  g_char_length.store(fn != nullptr ? fn : &OneByte);
}

void SetTodayFn(TodayFn fn) { g_today.store(fn != nullptr ? fn : &LocalToday); }

}  // namespace vq::base

char* FindLastPathSeparator(UTCollation& collation, const char* path, int mode) {
  return Find(collation, path, true, [mode](char c) { return IsSeparator(c, mode); });
}

char* FindNextPathSeparator(UTCollation& collation, const char* path, int mode) {
  return Find(collation, path, false, [mode](char c) { return IsSeparator(c, mode); });
}

char* FindNextUNCSeparator(UTCollation& collation, const char* path) {
  return FindNextPathSeparator(collation, path, 0);
}

char* AppendPathSeparator(UTCollation& collation, char* path, unsigned size,
                          unsigned* remaining) {
  if (remaining != nullptr) *remaining = 0;
  if (path == nullptr || size == 0) return nullptr;
  const std::size_t len = ut_strnlen(path, size);
  if (len == size) return nullptr;  // not a terminated string within its buffer
  char* last = FindLastPathSeparator(collation, path, 0);
  if (last != nullptr && last[1] == '\0') {
    const unsigned left = static_cast<unsigned>(size - len);
    if (remaining != nullptr) *remaining = left == 1 ? 0 : left;
    return last + 1;
  }
  char* end = nullptr;
  std::size_t left = 0;
  if (!ut_strcat(path, size, "/", &end, &left)) {
    path[len] = '\0';
    return nullptr;
  }
  if (remaining != nullptr) *remaining = static_cast<unsigned>(left);
  return path + len + 1;
}

char* FindFilename(UTCollation& collation, const char* path, int mode) {
  char* last = FindLastPathSeparator(collation, path, mode);
  return last != nullptr ? last + 1 : const_cast<char*>(path);
}

char* RemoveFilename(UTCollation& collation, char* path) {
  if (path == nullptr) return path;
  char* last = FindLastPathSeparator(collation, path, 0);
  if (last != nullptr) {
    last[1] = '\0';
  } else {
    path[0] = '\0';
  }
  return path;
}

char* GetFilename(UTCollation& collation, const char* path, char* out, unsigned size) {
  if (path == nullptr) {
    if (out != nullptr && size > 0) out[0] = '\0';
    return out;
  }
  ut_strcpy(out, size, FindFilename(collation, path, 0), nullptr, nullptr);
  return out;
}

char* FindExtensionSeparator(UTCollation& collation, const char* path) {
  const char* name = FindFilename(collation, path, 0);
  return Find(collation, name, true, [](char c) { return c == '.'; });
}

char* GetFilenameNoExtension(UTCollation& collation, const char* path, char* out,
                             unsigned size) {
  if (path == nullptr) {
    if (out != nullptr && size > 0) out[0] = '\0';
    return out;
  }
  const char* name = FindFilename(collation, path, 0);
  const char* dot = FindExtensionSeparator(collation, path);
  const std::size_t n =
      dot != nullptr ? static_cast<std::size_t>(dot - name) : std::strlen(name);
  ut_strncpy(out, size, name, n, nullptr, nullptr);
  return out;
}

char* ReplaceExtension(UTCollation& collation, char* path, unsigned size, const char* ext) {
  if (path == nullptr) return path;
  if (char* dot = FindExtensionSeparator(collation, path)) *dot = '\0';
  if (ext != nullptr) {
    if (*ext != '.') ut_strcat(path, size, ".", nullptr, nullptr);
    ut_strcat(path, size, ext, nullptr, nullptr);
  }
  return path;
}

char* AppendExtension(UTCollation& collation, char* path, unsigned size, const char* ext) {
  if (path != nullptr && ext != nullptr && FindExtensionSeparator(collation, path) == nullptr)
    ReplaceExtension(collation, path, size, ext);
  return path;
}

char* RemoveTrailingSlash(UTCollation& collation, char* path) {
  char* last = FindLastPathSeparator(collation, path, 0);
  if (last != nullptr && last[1] == '\0' && last != FindNextPathSeparator(collation, path, 0))
    *last = '\0';
  return last;
}

char* RemoveTrailingBackslash(UTCollation& collation, char* path) {
  char* last = FindLastPathSeparator(collation, path, 0);
  char* first = FindNextPathSeparator(collation, path, 2);
  if (last == nullptr || last == first) return last;
  return first + 1;
}

bool IsFullyQualifiedPathname(const char* path) {
  return path != nullptr && path[0] == '/' && path[1] != '\0';
}

char* CanonicalizePath(char* path, unsigned size) {
  if (path == nullptr) return nullptr;
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr) return nullptr;
  const std::size_t n = std::strlen(resolved);
  // A cut path would name another file.
  if (n >= size || n >= kPathBytes) return nullptr;
  std::memcpy(path, resolved, n + 1);
  return path;
}

bool FileExists(const char* path) { return path != nullptr && _posix_access(path, R_OK) == 0; }

int MakeDirectoryAccessible(const char*) { return 1; }

int GetPhysicalDrive(const char* path) { return get_drive(path); }

int DiskFreeSpace(const char* path, unsigned long long* available, unsigned long long* total) {
  if (path == nullptr) return 0;
  struct statvfs fs;
  if (statvfs(path, &fs) != 0) return 0;
  const unsigned long long unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  const unsigned long long free_blocks = geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
  if (available != nullptr) *available = unit * free_blocks;
  if (total != nullptr) *total = unit * fs.f_blocks;
  return 1;
}

int MakeVersionedName(char* out, unsigned size, const char* path, long n) {
  char digits[24];
  i64toa(n, digits, 10);
  char* end = nullptr;
  std::size_t left = 0;
  ut_strcpy(out, size, path, &end, &left);
  ut_strcat(out, size, ".", &end, &left);
  return ut_strcat(out, size, digits, &end, &left);
}

const char* stristr(const char* haystack, unsigned haystack_len, const char* needle,
                    unsigned needle_len, UTLocale* locale) {
  if (haystack == nullptr || needle == nullptr) return nullptr;
  auto char_len = [locale](const char* p) {
    return CharLength(nullptr, locale, static_cast<unsigned char>(*p));
  };
  unsigned needle_chars = 0;
  for (unsigned i = 0; i < needle_len; i += char_len(needle + i)) ++needle_chars;
  unsigned haystack_chars = 0;
  for (unsigned i = 0; i < haystack_len; i += char_len(haystack + i)) ++haystack_chars;

  for (unsigned at = 0; at <= haystack_len;) {
    if (haystack_chars < needle_chars || haystack_len - at < needle_len) return nullptr;
    if (strncasecmp(haystack + at, needle, needle_len) == 0) return haystack + at;
    if (at == haystack_len) return nullptr;
    at += char_len(haystack + at);
    --haystack_chars;
  }
  return nullptr;
}

bool RenameVersionedFile(const char* path, long keep) {
  if (path == nullptr) return false;
  char target[kPathBytes];
  if (keep < 0) {
    char* end = nullptr;
    std::size_t left = 0;
    ut_strcpy(target, sizeof target, path, &end, &left);
    if (!ut_strcat(target, sizeof target, ".old", &end, &left)) return false;
    _posix_unlink(target);
    return _posix_rename(path, target) == 0;
  }
  const long limit = keep == 0 ? 1000 : keep;
  for (long n = 1; n <= limit; ++n) {
    if (!MakeVersionedName(target, sizeof target, path, n)) return false;
    if (!Exists(target)) return _posix_rename(path, target) == 0;
  }
  if (keep == 0) return false;
  // Every version exists: drop the oldest (.1) and move the others down by one.
  if (!MakeVersionedName(target, sizeof target, path, 1)) return false;
  _posix_unlink(target);
  char from[kPathBytes];
  for (long n = 2; n <= keep; ++n) {
    if (!MakeVersionedName(from, sizeof from, path, n) ||
        !MakeVersionedName(target, sizeof target, path, n - 1) ||
        _posix_rename(from, target) != 0)
      return false;
  }
  if (!MakeVersionedName(target, sizeof target, path, keep)) return false;
  return _posix_rename(path, target) == 0;
}

namespace {

// The first free dated name for `path` in its own directory.
bool DatedName(const char* path, const char* ext, char* out, unsigned size) {
  char dir[kPathBytes];
  if (!ut_splitpath(path, nullptr, 0, dir, sizeof dir, nullptr, 0, nullptr, 0)) return false;
  if (_posix_access(path, W_OK) != 0) return false;
  const vq::base::a_local_date today = g_today.load()();
  for (unsigned n = 0;; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, n > 99 ? "%02d%02d%02d%u" : "%02d%02d%02d%02u",
                  today.year - 2000, today.month, today.day, n);
    if (!ut_makepath(out, size, nullptr, dir, name, ext, nullptr)) return false;
    if (!Exists(out)) return true;
    if (n == UINT_MAX) return false;
  }
}

}  // namespace

bool RenameFileUsingDate(const char* path, const char* ext) {
  if (path == nullptr) return false;
  char target[kPathBytes];
  if (!DatedName(path, ext, target, sizeof target)) return false;
  return _posix_rename(path, target) == 0;
}

bool CopyFileUsingDate(const char* path, const char* ext, char* out, unsigned size) {
  if (path == nullptr || out == nullptr) return false;
  if (!DatedName(path, ext, out, size)) return false;
  return doFileCopy(path, out) == 1;
}

int doFileCopy(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return 0;
  const long page = sysconf(_SC_PAGESIZE);
  const std::size_t block_size = page > 0 ? static_cast<std::size_t>(page) : 4096;
  int in = _posix_open(from, O_RDONLY, 0);
  if (in < 0) return 0;
  int out = _posix_open(to, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    _posix_close(in);
    return 0;
  }
  void* block = ut_malloc(block_size);
  int ok = block != nullptr;
  while (ok) {
    const std::int64_t n = _posix_read(in, block, block_size);
    if (n < 0) ok = 0;  // a read error leaves the copy short
    if (n < 1) break;
    // A short or failed write leaves the copy short: report it.
    if (_posix_write(out, block, static_cast<std::size_t>(n)) != n) ok = 0;
  }
  ut_free(block);
  _posix_close(in);
  if (_posix_close(out) != 0) ok = 0;
  return ok;
}

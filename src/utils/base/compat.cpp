// Case-insensitive comparisons, delay, the microsecond clock reading, path resolution and
// the command-line splitter.
#include "utils/base/compat.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "utils/base/fast_clock.h"

namespace {

constexpr std::size_t kPathBytes = 4096;  // buffer size of _fullpath and _searchenv

inline int Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool IsArgBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool CurrentDirectory(std::string* out) {
  std::vector<char> buf(kPathBytes);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return false;
    buf.resize(buf.size() * 2);
  }
  out->assign(buf.data());
  return true;
}

}  // namespace

namespace vq::compat {

int stricmp(const char* a, const char* b) {
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  for (;; ++pa, ++pb) {
    const int ca = Fold(*pa);
    const int cb = Fold(*pb);
    if (ca != cb || cb == 0) return ca - cb;
  }
}

int _stricmp(const char* a, const char* b) { return stricmp(a, b); }
int strcmpi(const char* a, const char* b) { return stricmp(a, b); }

int strnicmp(const char* a, const char* b, std::size_t n) {
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = Fold(pa[i]);
    const int cb = Fold(pb[i]);
    if (ca != cb || cb == 0) return ca - cb;
  }
  return 0;
}

int _strnicmp(const char* a, const char* b, std::size_t n) { return strnicmp(a, b, n); }

int memicmp(const void* a, const void* b, std::size_t n) {
  const auto* pa = static_cast<const unsigned char*>(a);
  const auto* pb = static_cast<const unsigned char*>(b);
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = Fold(pa[i]);
    const int cb = Fold(pb[i]);
    if (ca != cb) return ca - cb;
  }
  return 0;
}

int _memicmp(const void* a, const void* b, std::size_t n) { return memicmp(a, b, n); }

char* strlwr(char* s) {
  for (char* p = s; *p != '\0'; ++p)
    *p = static_cast<char>(Fold(static_cast<unsigned char>(*p)));
  return s;
}

void delay(unsigned ms) {
  timespec want{};
  want.tv_sec = static_cast<time_t>(ms / 1000);
  want.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  const timespec asked = want;
  timespec left{};
  while (::nanosleep(&want, &left) != 0) {
    if (errno != EINTR) return;
    // Sleep the rest only while it is shorter than what was asked: a clock that reports
    // more time left than that would otherwise keep us here for ever.
    const bool shorter = left.tv_sec < asked.tv_sec ||
                         (left.tv_sec == asked.tv_sec && left.tv_nsec < asked.tv_nsec);
    if (!shorter) return;
    want = left;
  }
}

std::int32_t clock() {
  const std::uint64_t micros = static_cast<std::uint64_t>(unix_clock()) * 1000u;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(micros));
}

char* _fullpath(char* buf, const char* path, unsigned size) {
  bool allocated = false;
  if (buf == nullptr) {
    buf = static_cast<char*>(std::malloc(kPathBytes));
    if (buf == nullptr) {
      errno = ENOMEM;
      return nullptr;
    }
    allocated = true;
    size = kPathBytes;
  }
  auto fail = [&](int error) -> char* {
    if (allocated) std::free(buf);
    errno = error;
    return nullptr;
  };

  if (path == nullptr || path[0] == '\0') {
    if (::getcwd(buf, size) != nullptr) return buf;
    return fail(errno);
  }

  std::string whole;
  if (path[0] != '/') {
    if (!CurrentDirectory(&whole)) return fail(errno);
    whole += '/';
  }
  whole += path;

  // Rebuild component by component; `starts` remembers where each kept one begins so
  // that ".." can drop it.
  std::string result;
  std::vector<std::size_t> starts;
  std::size_t pos = 0;
  while (pos < whole.size()) {
    std::size_t next = whole.find('/', pos);
    if (next == std::string::npos) next = whole.size();
    const std::string part = whole.substr(pos, next - pos);
    pos = next + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!starts.empty()) {
        result.resize(starts.back());
        starts.pop_back();
      }
      continue;
    }
    starts.push_back(result.size());
    result += '/';
    result += part;
  }
  // A path that reduces to the root is the root, not an empty text.
  if (result.empty()) result = "/";

  if (result.size() >= size) return fail(ERANGE);
  std::memcpy(buf, result.c_str(), result.size() + 1);
  return buf;
}

void _searchenv(const char* file, const char* variable, char* out) {
  const int saved_errno = errno;  // the failed probes below must not show through
  out[0] = '\0';
  if (file == nullptr || file[0] == '\0') return;

  if (Exists(file)) {
    std::string found;
    if (file[0] != '/' && file[0] != '.') {
      if (!CurrentDirectory(&found)) return;
      found += '/';
    }
    found += file;
    // A cut path names another file: report nothing rather than a wrong one.
    if (found.size() < kPathBytes) std::memcpy(out, found.c_str(), found.size() + 1);
    return;
  }

  const char* value = variable != nullptr ? std::getenv(variable) : nullptr;
  if (value == nullptr || value[0] == '\0') return;
  const std::string list(value);
  std::size_t pos = 0;
  while (pos <= list.size()) {
    std::size_t next = list.find(':', pos);
    if (next == std::string::npos) next = list.size();
    std::string element;
    for (std::size_t i = pos; i < next; ++i) {
      if (list[i] != '"') element += list[i];
    }
    pos = next + 1;
    if (element.empty()) continue;
    const std::string candidate = element + "/" + file;
    if (candidate.size() >= kPathBytes) continue;
    if (Exists(candidate)) {
      std::memcpy(out, candidate.c_str(), candidate.size() + 1);
      errno = saved_errno;
      return;
    }
  }
}

}  // namespace vq::compat

extern "C" unsigned ParseArgv(char** argv, unsigned max, char* line) {
  if (max < 2) {
    if (argv != nullptr && max > 0) argv[0] = nullptr;
    return 0;
  }
  unsigned count = 0;
  char* p = line;
  while (p != nullptr && count < max - 1) {
    while (*p != '\0' && IsArgBlank(*p)) ++p;
    if (*p == '\0') break;
    const bool quoted = *p == '"';
    if (quoted) ++p;
    argv[count++] = p;
    while (*p != '\0' && (quoted ? *p != '"' : !IsArgBlank(*p))) ++p;
    if (*p == '\0') break;
    *p++ = '\0';
  }
  argv[count] = nullptr;
  return count;
}

// Splitting and building file names, character by character.
#include "utils/base/path_split.h"

#include <atomic>
#include <cstring>

#include "utils/base/bounded_strings.h"

namespace {

unsigned OneByte(unsigned char) { return 1; }

std::atomic<vq::base::CharLengthFn> g_char_length{&OneByte};

// Copies n bytes of src into dst (size bytes, terminator included). 1 when all fit;
// else as many as fit, terminated, and 0.
int CopyBounded(char* dst, std::size_t size, const char* src, std::size_t n) {
  return ut_strncpy(dst, size, src, n, nullptr, nullptr);
}

// Appends n bytes of src at *len; same rules as CopyBounded.
int AppendBounded(char* out, std::size_t size, std::size_t* len, const char* src,
                  std::size_t n) {
  const int ok = CopyBounded(out + *len, size - *len, src, n);
  *len += std::strlen(out + *len);
  return ok;
}

void Set(const char** piece, std::size_t* piece_len, const char* at, std::size_t n) {
  if (piece != nullptr) *piece = at;
  if (piece_len != nullptr) *piece_len = n;
}

}  // namespace

namespace vq::base {

void SetPathCharLengthFn(CharLengthFn fn) { g_char_length.store(fn ? fn : &OneByte); }

unsigned PathCharLength(unsigned char lead) {
  const unsigned n = g_char_length.load()(lead);
  return n == 0 ? 1 : n;
}

}  // namespace vq::base

extern "C" {

void ut_splitpath2(const char* path, const char** drive, std::size_t* drive_len,
                   const char** dir, std::size_t* dir_len, const char** name,
                   std::size_t* name_len, const char** ext, std::size_t* ext_len) {
  Set(drive, drive_len, nullptr, 0);
  Set(dir, dir_len, nullptr, 0);
  Set(name, name_len, nullptr, 0);
  Set(ext, ext_len, nullptr, 0);
  if (path == nullptr || *path == '\0') return;

  // One walk finds the last "/" and the last "." after it; a multibyte character is
  // stepped over whole (a cut character at the end stops the walk at the terminator).
  const char* last_slash = nullptr;
  const char* last_dot = nullptr;
  const char* p = path;
  while (*p != '\0') {
    if (*p == '/') {
      last_slash = p;
      last_dot = nullptr;
    } else if (*p == '.') {
      last_dot = p;
    }
    unsigned step = vq::base::PathCharLength(static_cast<unsigned char>(*p));
    while (step-- > 0 && *p != '\0') ++p;
  }
  const char* end = p;

  const char* part = path;
  if (last_slash != nullptr) {
    Set(dir, dir_len, path, static_cast<std::size_t>(last_slash + 1 - path));
    part = last_slash + 1;
  }
  const char* name_end = end;
  if (last_dot != nullptr) {
    Set(ext, ext_len, last_dot, static_cast<std::size_t>(end - last_dot));
    name_end = last_dot;
  }
  if (name_end > part) Set(name, name_len, part, static_cast<std::size_t>(name_end - part));
}

int ut_splitpath(const char* path, char* drive, std::size_t drive_size, char* dir,
                 std::size_t dir_size, char* name, std::size_t name_size, char* ext,
                 std::size_t ext_size) {
  const char* pieces[4];
  std::size_t lengths[4];
  ut_splitpath2(path, &pieces[0], &lengths[0], &pieces[1], &lengths[1], &pieces[2], &lengths[2],
                &pieces[3], &lengths[3]);
  char* buffers[4] = {drive, dir, name, ext};
  const std::size_t sizes[4] = {drive_size, dir_size, name_size, ext_size};
  for (int i = 0; i < 4; ++i) {
    if (buffers[i] == nullptr) continue;
    if (pieces[i] == nullptr) {
      if (sizes[i] != 0) buffers[i][0] = '\0';
      continue;
    }
    if (!CopyBounded(buffers[i], sizes[i], pieces[i], lengths[i])) return 0;
  }
  return 1;
}

int ut_makepath(char* out, std::size_t size, const char* /*drive*/, const char* dir,
                const char* name, const char* ext, const char* separator) {
  if (out == nullptr || size == 0) return 0;
  out[0] = '\0';
  std::size_t len = 0;
  const char sep = (separator != nullptr && *separator != '\0') ? *separator : '/';

  if (dir != nullptr && *dir != '\0') {
    const std::size_t n = std::strlen(dir);
    if (dir[n - 1] == '/') {
      if (!AppendBounded(out, size, &len, dir, n - 1)) return 0;
      if (!AppendBounded(out, size, &len, separator != nullptr ? &sep : "/", 1)) return 0;
    } else {
      if (!AppendBounded(out, size, &len, dir, n)) return 0;
      if (!AppendBounded(out, size, &len, &sep, 1)) return 0;
    }
  }
  if (name != nullptr && *name != '\0') {
    if (!AppendBounded(out, size, &len, name, std::strlen(name))) return 0;
  }
  if (ext != nullptr && *ext != '\0') {
    if (*ext != '.' && !AppendBounded(out, size, &len, ".", 1)) return 0;
    if (!AppendBounded(out, size, &len, ext, std::strlen(ext))) return 0;
  }
  return 1;
}

}  // extern "C"

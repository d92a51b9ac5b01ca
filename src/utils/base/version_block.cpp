// Finding, parsing, blanking and copying version-information blocks.
#include "utils/base/version_block.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "utils/base/memory.h"
#include "utils/base/posix_file.h"

namespace {

// A string literal, so the byte after the reader's own copy of the tag is a zero and
// the reader never takes itself for a block.
constexpr char kTag[] = "@@==Version==@1@";
static_assert(sizeof kTag - 1 == kVersionTagBytes, "the tag is 16 bytes");

constexpr std::size_t kChunkBytes = 4096;

void Clear(tc* record) { std::memset(record, 0, sizeof *record); }

bool IsPrintable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

// Parses record->data[0, data_bytes). Returns false on malformed data.
bool Parse(tc* record) {
  if (record->data_bytes < 2) return false;
  char* p = record->data;
  char* const end = record->data + record->data_bytes;
  for (;;) {
    if (p >= end) return false;
    if (*p == '\0') break;  // the empty text ends the list
    if (*p == '=') return false;
    if (record->entry_count == kVersionMaxEntries) return false;
    a_version_entry& entry = record->entries[record->entry_count];
    entry.key = p;
    entry.equal = nullptr;
    entry.value = nullptr;
    for (; p < end && *p != '\0'; ++p) {
      if (*p != '=') continue;
      if (entry.equal != nullptr) return false;
      entry.equal = p;
      *p = '\0';
      entry.value = p + 1;
    }
    if (p >= end) return false;
    if (entry.equal == nullptr) {
      if (static_cast<unsigned char>(entry.key[0]) != 1) return false;
      entry.value = p;  // blanked: empty value
    }
    ++record->entry_count;
    ++p;
  }
  ++p;  // past the terminating empty text
  record->extension_area = reinterpret_cast<unsigned char*>(p);
  std::size_t area_used = 0;
  const std::size_t area_room = static_cast<std::size_t>(end - p);

  const int index = __Find_arg_index(record, "EXTENSIONS");
  if (index >= 0) {
    char* q = record->entries[index].value;
    while (IsPrintable(static_cast<unsigned char>(*q)) &&
           record->extension_count < kVersionMaxExtensions) {
      char* letter = q++;
      std::size_t width = 0;
      while (*q >= '0' && *q <= '9') {
        width = width * 10 + static_cast<std::size_t>(*q - '0');
        if (width > kVersionDataBytes) return false;  // no field can be this wide
        ++q;
      }
      if (*q == ':' || *q == ',') ++q;
      // A field must lie within the data read: widths come from the file.
      if (width > area_room - area_used) return false;
      a_version_extension& field = record->extensions[record->extension_count++];
      field.letter = letter;
      field.width = static_cast<std::int32_t>(width);
      field.bytes = record->extension_area + area_used;
      area_used += width;
    }
  }
  record->data_used =
      static_cast<std::uint32_t>(reinterpret_cast<char*>(record->extension_area) -
                                 record->data + static_cast<std::ptrdiff_t>(area_used));
  return true;
}

// Reads up to `n` bytes at `offset`; the bytes read or -1.
std::int64_t ReadAt(int fd, void* buf, std::size_t n, std::int64_t offset) {
  if (_posix_lseek(fd, offset, SEEK_SET) != offset) return -1;
  return _posix_read(fd, buf, n);
}

template <typename T>
T* Move(T* p, const tc* source, tc* target) {
  if (p == nullptr) return nullptr;
  const auto* base = reinterpret_cast<const char*>(source->data);
  const auto* at = reinterpret_cast<const char*>(p);
  return reinterpret_cast<T*>(target->data + (at - base));
}

}  // namespace

extern "C" {

std::int64_t __Get_dbversion_info_mem(const void* buffer, std::size_t length, tc* record) {
  if (buffer == nullptr || record == nullptr || length < kVersionTagBytes + 1) return -1;
  const auto* bytes = static_cast<const char*>(buffer);
  const std::size_t last = length - kVersionTagBytes - 1;  // last start with a byte after
  for (std::size_t i = 0; i <= last; ++i) {
    if (bytes[i] != '@') continue;
    if (std::memcmp(bytes + i, kTag, kVersionTagBytes) != 0) continue;
    if (bytes[i + kVersionTagBytes] == '\0') continue;
    const std::size_t start = i + kVersionTagBytes;
    std::size_t n = length - start;
    if (n > kVersionDataBytes) n = kVersionDataBytes;
    std::memcpy(record->data, bytes + start, n);
    record->data_bytes = static_cast<std::uint32_t>(n);
    return static_cast<std::int64_t>(start);
  }
  return -1;
}

int __Get_dbversion_info(const char* file, tc* record, int followLinks) {
  if (record == nullptr) return 0;
  Clear(record);
  if (file == nullptr) return 0;
  if (!followLinks) {
    a_posix_stat st;
    if (_posix_lstat(file, &st) != 0 || (st.mode & 0xF000u) == 0xA000u) return 0;
  }
  int fd = _posix_open(file, O_RDONLY, 0);
  if (fd < 0) return 0;

  // Each buffer keeps the last 16 bytes of the previous chunk in front of the new one,
  // so a tag split across two chunks is found.
  char buffer[kVersionTagBytes + kChunkBytes];
  std::size_t kept = 0;
  std::int64_t buffer_offset = 0;  // file offset of buffer[0]
  std::int64_t found = -1;
  for (;;) {
    const std::int64_t n = _posix_read(fd, buffer + kept, kChunkBytes);
    if (n <= 0) break;
    const std::size_t filled = kept + static_cast<std::size_t>(n);
    const std::int64_t at = __Get_dbversion_info_mem(buffer, filled, record);
    if (at >= 0) {
      found = buffer_offset + at;
      break;
    }
    kept = filled < kVersionTagBytes ? filled : kVersionTagBytes;
    std::memmove(buffer, buffer + filled - kept, kept);
    buffer_offset += static_cast<std::int64_t>(filled - kept);
  }
  if (found < 0) {
    _posix_close(fd);
    Clear(record);
    return 0;
  }
  // The data copy: up to 4096 bytes from the data offset, whatever chunk they lie in.
  const std::int64_t n = ReadAt(fd, record->data, kVersionDataBytes, found);
  _posix_close(fd);
  if (n < 0) {
    Clear(record);
    return 0;
  }
  record->data_offset = found;
  record->data_bytes = static_cast<std::uint32_t>(n);
  if (!Parse(record)) {
    const std::int64_t offset = record->data_offset;
    Clear(record);
    record->data_offset = offset;
    return 0;
  }
  return 1;
}

int __Find_arg_index(const tc* record, const char* key) {
  if (record == nullptr || key == nullptr) return -1;
  for (std::uint32_t i = 0; i < record->entry_count && i < kVersionMaxEntries; ++i) {
    const a_version_entry& e = record->entries[i];
    if (e.key != nullptr && e.equal != nullptr && strcasecmp(e.key, key) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

const char* __Find_arg(const tc* record, const char* key) {
  const int i = __Find_arg_index(record, key);
  return i < 0 ? nullptr : record->entries[i].value;
}

const char* __Find_arg_safe(const tc* record, const char* key, const char* fallback) {
  const char* value = __Find_arg(record, key);
  if (value != nullptr) return value;
  return fallback != nullptr ? fallback : key;
}

int __Find_ext_index(const tc* record, const char* letter) {
  if (record == nullptr || letter == nullptr) return -1;
  for (std::uint32_t i = 0; i < record->extension_count && i < kVersionMaxExtensions; ++i) {
    if (*record->extensions[i].letter == *letter) return static_cast<int>(i);
  }
  return -1;
}

int __Zap_dbversion_info(const char* file, const tc* record, const char* key,
                         const char* letters) {
  if (file == nullptr || record == nullptr || record->data_bytes > kVersionDataBytes) return 0;
  int fd = _posix_open(file, O_RDWR, 0);
  if (fd < 0) return 0;
  char buffer[kVersionDataBytes];
  const std::int64_t n = ReadAt(fd, buffer, sizeof buffer, record->data_offset);
  if (n < 0 || n < static_cast<std::int64_t>(record->data_bytes)) {
    _posix_close(fd);
    return 0;
  }
  // Positions in the record's data are the same positions in the file's bytes.
  auto offset_of = [&](const void* p) {
    return static_cast<std::size_t>(static_cast<const char*>(p) - record->data);
  };
  bool changed = false;
  const int index = key != nullptr ? __Find_arg_index(record, key) : -1;
  if (index >= 0) {
    const a_version_entry& e = record->entries[index];
    const std::size_t from = offset_of(e.key);
    const std::size_t to = offset_of(e.value) + std::strlen(e.value);
    std::memset(buffer + from, 1, to - from);
    changed = true;
  }
  for (const char* l = letters; l != nullptr && *l != '\0'; ++l) {
    const int f = __Find_ext_index(record, l);
    if (f < 0) continue;
    const a_version_extension& field = record->extensions[f];
    buffer[offset_of(field.letter)] = '?';
    std::memset(buffer + offset_of(field.bytes), 0, static_cast<std::size_t>(field.width));
    changed = true;
  }
  int ok = 1;
  if (changed) {
    ok = _posix_lseek(fd, record->data_offset, SEEK_SET) == record->data_offset &&
         _posix_write(fd, buffer, static_cast<std::size_t>(n)) == n;
  }
  if (_posix_close(fd) != 0) ok = 0;
  return ok;
}

void __Clone_dbversion_info(const tc* source, tc* target) {
  if (source == nullptr || target == nullptr || source == target) return;
  std::memcpy(target, source, sizeof *target);
  for (std::uint32_t i = 0; i < target->entry_count && i < kVersionMaxEntries; ++i) {
    a_version_entry& e = target->entries[i];
    e.key = Move(e.key, source, target);
    e.equal = Move(e.equal, source, target);
    e.value = Move(e.value, source, target);
  }
  for (std::uint32_t i = 0; i < target->extension_count && i < kVersionMaxExtensions; ++i) {
    a_version_extension& f = target->extensions[i];
    f.letter = Move(f.letter, source, target);
    f.bytes = Move(f.bytes, source, target);
  }
  target->extension_area = Move(target->extension_area, source, target);
}

int GetVSRUnixVer(const char* file, int* major, int* minor, int* patch, int* build) {
  tc* record = static_cast<tc*>(ut_malloc(sizeof(tc)));
  if (record == nullptr) return 0;
  int ok = __Get_dbversion_info(file, record, 1);
  const char* const keys[4] = {"VERSION_MAJOR", "VERSION_MINOR", "VERSION_PATCH",
                               "BUILD_NUMBER"};
  int* const outs[4] = {major, minor, patch, build};
  int values[4] = {0, 0, 0, 0};
  for (int k = 0; ok && k < 4; ++k) {
    const char* value = nullptr;
    for (std::uint32_t i = 0; i < record->entry_count; ++i) {  // the later entry wins
      const a_version_entry& e = record->entries[i];
      if (e.equal != nullptr && strcasecmp(e.key, keys[k]) == 0) value = e.value;
    }
    if (value == nullptr)
      ok = 0;
    else
      values[k] = static_cast<int>(std::strtol(value, nullptr, 10));
  }
  ut_free(record);
  if (!ok) return 0;
  for (int k = 0; k < 4; ++k) {
    if (outs[k] != nullptr) *outs[k] = values[k];
  }
  return 1;
}

}  // extern "C"

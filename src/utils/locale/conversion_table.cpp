// Byte maps between single-byte character sets: the registry's cache, the reader of the
// table file and the converter that uses the maps.
#include "utils/locale/conversion_table.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "utils/base/file_locations.h"
#include "utils/base/memory.h"
#include "utils/base/posix_file.h"
#include "utils/locale/converters_internal.h"
#include "utils/locale/utlocale.h"

namespace {

bool is_single_byte(const CharsetInfo* cs) {
  return cs != nullptr && cs->unit_width == 1 && cs->max_bytes <= 1;
}

class TableLock {
 public:
  explicit TableLock(pthread_mutex_t* m) : m_(m) { pthread_mutex_lock(m_); }
  ~TableLock() { pthread_mutex_unlock(m_); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  pthread_mutex_t* m_;
};

// Closes the file on every path out of the reader.
class FileCloser {
 public:
  explicit FileCloser(std::FILE* f) : f_(f) {}
  ~FileCloser() {
    if (f_ != nullptr) std::fclose(f_);
  }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  std::FILE* f_;
};

bool read_bytes(std::FILE* f, void* out, std::size_t n) {
  return n == 0 || std::fread(out, 1, n, f) == n;
}

bool read_u32le(std::FILE* f, std::uint32_t* value) {
  unsigned char b[4];
  if (!read_bytes(f, b, 4)) return false;
  *value = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
  return true;
}

bool seek_to(std::FILE* f, std::uint64_t offset, std::uint64_t size, std::uint64_t need) {
  if (offset > size || size - offset < need) return false;
  return std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0;
}

bool contains(const char* text, std::size_t length, const char* tag) {
  const std::size_t n = std::strlen(tag);
  for (std::size_t i = 0; i + n <= length; ++i) {
    if (std::memcmp(text + i, tag, n) == 0) return true;
  }
  return false;
}

}  // namespace

// ---- The registry's table cache ---------------------------------------------------------

const ConversionTable* UTLocale::GetConversionTable(const CharsetInfo* to,
                                                    const CharsetInfo* from,
                                                    unsigned int use_file,
                                                    unsigned int use_platform) {
  if (to == nullptr || from == nullptr || to == from || !is_single_byte(to) ||
      !is_single_byte(from)) {
    return nullptr;
  }
  if (mutex_.handle == nullptr) return nullptr;  // no cache without the lock
  TableLock lock(mutex_.handle);
  Q_link* head = &conversion_tables_[from->charset_id & (kNumConversionBuckets - 1)];
  for (Q_link* e = head->next; e != head; e = e->next) {
    auto* table = reinterpret_cast<ConversionTable*>(e);
    if (table->from == from && table->to == to) return table->map != nullptr ? table : nullptr;
  }

  unsigned char upper[128];
  bool found = use_file != 0 && read_cvf_conversion_table(upper, to, from);
  // use_platform: this system has no code-page tables of its own to consult.
  (void)use_platform;
  if (!found) found = icu_generate_upper128(upper, to, from);

  void* memory = ut_malloc(sizeof(ConversionTable));
  if (memory == nullptr) return nullptr;  // not remembered: a later call may succeed
  auto* table = new (memory) ConversionTable{{nullptr, nullptr}, from, to, nullptr};
  if (found) {
    table->map = static_cast<unsigned char*>(ut_malloc(256));
    if (table->map == nullptr) {
      ut_free(table);
      return nullptr;
    }
    for (int i = 0; i < 128; ++i) table->map[i] = static_cast<unsigned char>(i);
    std::memcpy(table->map + 128, upper, 128);
  }
  Q_insert(head, &table->link);
  return table->map != nullptr ? table : nullptr;
}

void UTLocale::free_conversion_tables() {
  for (Q_link& head : conversion_tables_) {
    if (head.next == nullptr) continue;  // never set up
    while (Q_link* e = Q_element(&head)) {
      auto* table = reinterpret_cast<ConversionTable*>(e);
      ut_free(table->map);
      ut_free(table);
    }
  }
}

bool UTLocale::read_cvf_conversion_table(unsigned char* out128, const CharsetInfo* to,
                                         const CharsetInfo* from) {
  using namespace cvf_format;
  if (out128 == nullptr || to == nullptr || from == nullptr) return false;
  char path[4097];
  const unsigned found =
      LS_QualifyVellumFile(kLsKindResource, "vellum.cvf", path, sizeof path, &defaultQualifyCB);
  if (found == 0 || found >= sizeof path) return false;
  std::FILE* f = _posix_fopen(path, "rb");
  if (f == nullptr) return false;
  FileCloser closer(f);
  if (std::fseek(f, 0, SEEK_END) != 0) return false;
  const long end = std::ftell(f);
  if (end < 0 || std::fseek(f, 0, SEEK_SET) != 0) return false;
  const std::uint64_t size = static_cast<std::uint64_t>(end);

  std::uint32_t matrix = 0;
  unsigned char header_length = 0;
  if (!read_u32le(f, &matrix) || !read_bytes(f, &header_length, 1)) return false;
  if (header_length > kMaxHeaderLength) return false;
  char header[kMaxHeaderLength];
  if (!read_bytes(f, header, header_length)) return false;
  if (!contains(header, header_length, kVersionTag)) return false;

  std::uint32_t count = 0;
  if (!read_u32le(f, &count) || count == 0) return false;
  // The whole matrix (4 * count * count bytes) must lie inside the file. Divided rather
  // than multiplied: 4 * count * count wraps to 0 in 64 bits for count = 2^31.
  if (matrix > size) return false;
  if (static_cast<std::uint64_t>(count) > (size - matrix) / 4 / count) return false;

  std::int64_t source = -1, target = -1;
  for (std::uint32_t i = 0; i < count && (source < 0 || target < 0); ++i) {
    unsigned char label_length = 0;
    char label[256];
    if (!read_bytes(f, &label_length, 1) || !read_bytes(f, label, label_length)) return false;
    label[label_length] = '\0';
    if (std::memchr(label, '\0', label_length) != nullptr) continue;  // not a label
    const CharsetInfo* cs = GetCharsetInfoFromLabel(label, kSchemeAll);
    if (cs == nullptr) continue;
    if (cs == from && source < 0) source = i;
    if (cs == to && target < 0) target = i;
  }
  if (source < 0 || target < 0) return false;

  std::uint32_t entry = 0;
  const std::uint64_t entry_offset =
      matrix +
      4ull * (static_cast<std::uint64_t>(source) * count + static_cast<std::uint64_t>(target));
  if (!seek_to(f, entry_offset, size, 4) || !read_u32le(f, &entry)) return false;
  if ((entry >> 24) < kMinUsableTopByte) return false;
  if (!seek_to(f, entry & kOffsetMask, size, 128)) return false;
  return read_bytes(f, out128, 128);
}

// ---- The byte-map converter ------------------------------------------------------------

BytemapCharsetConverter::BytemapCharsetConverter(UTLocale* locale, const CharsetInfo* to,
                                                 const CharsetInfo* from)
    : CharsetConverterBase(locale, to, from) {
  if (locale != nullptr && is_single_byte(to) && is_single_byte(from)) {
    if (const ConversionTable* table = locale->GetConversionTable(to, from, 1, 1)) {
      map_ = table->map;
    }
  }
  valid_ = map_ != nullptr ? 1 : 0;
}

int BytemapCharsetConverter::ContinueConvert(PivotBuffer&, void** dst, const void* dst_end,
                                             const void** src, const void* src_end,
                                             unsigned int) {
  if (map_ == nullptr) return kConvFailed;
  auto* d = static_cast<unsigned char*>(*dst);
  auto* s = static_cast<const unsigned char*>(*src);
  const std::size_t room = static_cast<const unsigned char*>(dst_end) - d;
  const std::size_t left = static_cast<const unsigned char*>(src_end) - s;
  const std::size_t n = std::min(room, left);
  for (std::size_t i = 0; i < n; ++i) d[i] = map_[s[i]];
  *dst = d + n;
  *src = s + n;
  return left > n ? kConvDestFull : kConvDone;
}

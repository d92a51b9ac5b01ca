// The custom-collation record: field-by-field serialisation, files and definition texts.
#include "utils/locale/custom_collation_record.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"
#include "utils/base/posix_file.h"
#include "utils/locale/collation_info.h"
#include "utils/locale/utlocale.h"

namespace {

namespace L = custom_collation_layout;

void store_le32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t load_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

template <std::size_t N>
void copy_field(char (&dst)[N], const char* src) {
  std::memset(dst, 0, N);
  if (src != nullptr) (void)ut_strcpy(dst, N, src, nullptr, nullptr);
}

// A text field read from the bytes is NUL-terminated within its field even when the
// bytes are not.
template <std::size_t N>
void load_field(char (&dst)[N], const std::uint8_t* src) {
  std::memcpy(dst, src, N);
  dst[N - 1] = '\0';
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

a_custom_collation_info::a_custom_collation_info() {
  std::memset(label, 0, sizeof label);
  std::memset(charset_label, 0, sizeof charset_label);
  std::memset(case_sensitive_order, 0, sizeof case_sensitive_order);
  std::memset(case_insensitive_order, 0, sizeof case_insensitive_order);
  std::memset(description, 0, sizeof description);
  std::memset(icu_locale, 0, sizeof icu_locale);
  case_sensitivity = 'n';
  accent_sensitivity = 'n';
  punctuation_sensitivity = 'p';
  kind = 0;
  reserved = 0;
  std::memset(&order, 0, sizeof order);
}

void a_custom_collation_info::set(const char* label_text, const char* description_text,
                                  const a_packed_collation_order* packed,
                                  const char* charset_label_text) {
  copy_field(label, label_text);
  copy_field(charset_label, charset_label_text);
  copy_field(description, description_text);
  if (packed != nullptr) std::memcpy(&order, packed, sizeof order);
  kind = 'L';
}

void a_custom_collation_info::set(const CollationInfo* info, const CharsetInfo* charset,
                                  const a_packed_collation_order* packed,
                                  const UTCollationTailoring& tailoring) {
  copy_field(label, info != nullptr ? info->label : nullptr);
  copy_field(charset_label, charset != nullptr ? charset->labels[0].label : nullptr);
  copy_field(case_sensitive_order, info != nullptr ? info->case_sensitive_order : nullptr);
  copy_field(case_insensitive_order, info != nullptr ? info->case_insensitive_order : nullptr);
  copy_field(description, "");
  if (packed != nullptr) std::memcpy(&order, packed, sizeof order);
  copy_field(icu_locale, tailoring.GetICULocale());
  case_sensitivity = tailoring.case_sensitivity;
  accent_sensitivity = tailoring.accent_sensitivity;
  punctuation_sensitivity = tailoring.punctuation_sensitivity;
  kind = info != nullptr ? info->kind : 'L';
}

void a_custom_collation_info::to_bytes(std::uint8_t (&out)[kCustomCollationRecordBytes]) const {
  std::memset(out, 0, sizeof out);
  std::memcpy(out + L::kLabel, label, sizeof label);
  std::memcpy(out + L::kCharsetLabel, charset_label, sizeof charset_label);
  std::memcpy(out + L::kCaseSensitiveOrder, case_sensitive_order, sizeof case_sensitive_order);
  std::memcpy(out + L::kCaseInsensitiveOrder, case_insensitive_order,
              sizeof case_insensitive_order);
  std::memcpy(out + L::kDescription, description, sizeof description);
  std::memcpy(out + L::kICULocale, icu_locale, sizeof icu_locale);
  store_le32(out + L::kCase, case_sensitivity);
  store_le32(out + L::kAccent, accent_sensitivity);
  store_le32(out + L::kPunctuation, punctuation_sensitivity);
  out[L::kKind] = kind;
  store_le32(out + L::kReserved, reserved);
  std::memcpy(out + L::kOrder, &order, sizeof order);
}

void a_custom_collation_info::from_bytes(
    const std::uint8_t (&in)[kCustomCollationRecordBytes]) {
  load_field(label, in + L::kLabel);
  load_field(charset_label, in + L::kCharsetLabel);
  load_field(case_sensitive_order, in + L::kCaseSensitiveOrder);
  load_field(case_insensitive_order, in + L::kCaseInsensitiveOrder);
  load_field(description, in + L::kDescription);
  load_field(icu_locale, in + L::kICULocale);
  case_sensitivity = load_le32(in + L::kCase);
  accent_sensitivity = load_le32(in + L::kAccent);
  punctuation_sensitivity = load_le32(in + L::kPunctuation);
  kind = in[L::kKind];
  reserved = load_le32(in + L::kReserved);
  std::memcpy(&order, in + L::kOrder, sizeof order);
}

unsigned read_custom_collation(const char* path, a_custom_collation_info& info) {
  if (path == nullptr) return 0;
  UniqueFile f(_posix_fopen(path, "rb"));
  if (!f) return 0;
  std::uint8_t bytes[kCustomCollationRecordBytes];
  info.to_bytes(bytes);  // what a short read does not reach stays as it was
  (void)std::fread(bytes, 1, sizeof bytes, f.get());
  info.from_bytes(bytes);
  return 1;
}

unsigned write_custom_collation(const char* path, const a_custom_collation_info& info) {
  if (path == nullptr) return 0;
  UniqueFile f(_posix_fopen(path, "wb"));
  if (!f) return 0;
  std::uint8_t bytes[kCustomCollationRecordBytes];
  info.to_bytes(bytes);
  // A record that did not reach the file is a failure, not a success.
  if (std::fwrite(bytes, 1, sizeof bytes, f.get()) != sizeof bytes) return 0;
  return std::fclose(f.release()) == 0 ? 1 : 0;
}

unsigned read_custom_collation_defn(const void* data, std::size_t length,
                                    a_custom_collation_info& info) {
  if (data == nullptr || length < 2) return 0;
  const auto* p = static_cast<const std::uint8_t*>(data);
  const std::size_t header = p[0];
  if (header + kCustomCollationRecordBytes != length || p[1] != 0) return 0;
  std::uint8_t bytes[kCustomCollationRecordBytes];
  std::memcpy(bytes, p + header, sizeof bytes);
  info.from_bytes(bytes);
  return 1;
}

char* write_custom_collation_defn(const a_custom_collation_info& info) {
  static const char kHex[] = "0123456789abcdef";
  std::uint8_t record[kCustomCollationRecordBytes];
  info.to_bytes(record);
  std::uint8_t bytes[kCustomCollationHeaderBytes + kCustomCollationRecordBytes];
  bytes[0] = static_cast<std::uint8_t>(kCustomCollationHeaderBytes);
  bytes[1] = 0;
  std::memcpy(bytes + kCustomCollationHeaderBytes, record, sizeof record);
  auto* text = static_cast<char*>(ut_malloc(kCustomCollationDefnTextBytes));
  if (text == nullptr) return nullptr;
  char* out = text;
  *out++ = '0';
  *out++ = 'x';
  for (std::uint8_t b : bytes) {
    *out++ = kHex[b >> 4];
    *out++ = kHex[b & 15];
  }
  *out = '\0';
  return text;
}

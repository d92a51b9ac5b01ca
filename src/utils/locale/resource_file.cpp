// Message resource files: base names, location, mapping, validation and lookup.
#include "utils/locale/resource_file.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "utils/base/file_locations.h"
#include "utils/base/posix_file.h"
#include "utils/locale/utlocale.h"

namespace {

void Append(char* buf, std::size_t size, std::size_t* len, const char* text) {
  while (*text != '\0' && *len + 1 < size) buf[(*len)++] = *text++;
  buf[*len] = '\0';
}

// The suffix of the OS character set for the languages that have files in several
// character sets.
const char* CharsetSuffix(const char* language) {
  if (std::strcmp(language, "ja") != 0 && std::strcmp(language, "zh") != 0 &&
      std::strcmp(language, "de") != 0) {
    return "";
  }
  if (std::strcmp(language, "de") == 0) return "_utf8";
  const CharsetInfo* os = UTLocale::FindOSCharset(1);
  auto is = [os](const char* label) {
    return os != nullptr && os == UTLocale::GetCharsetInfoFromLabel(label, kSchemeAll);
  };
  if (std::strcmp(language, "ja") == 0) {
    if (is("Shift_JIS") || is("Windows-31J")) return "_sjis";
    if (is("EUC-JP")) return "_eucjis";
    return "_utf8";
  }
  if (is("GB18030") || is("GBK")) return "_cp936";
  if (is("GB2312")) return "_eucgb";
  return "_utf8";
}

}  // namespace

void GetResourceFileBaseName(char* buf, const char* language, unsigned int variant) {
  const std::size_t size = vq_resfile::kBaseNameBytes;
  std::size_t len = 0;
  char code[9] = {};
  if (language != nullptr) std::strncpy(code, language, sizeof code - 1);
  buf[0] = '\0';
  Append(buf, size, &len, "vq");
  Append(buf, size, &len, "lg");
  Append(buf, size, &len, code);
  if (variant != 0) Append(buf, size, &len, "_bw");
  Append(buf, size, &len, "12");
  Append(buf, size, &len, CharsetSuffix(code));
  Append(buf, size, &len, ".res");
}

// ---- UTResFile --------------------------------------------------------------------

int UTResFile::Open(const LanguageInfo* language, unsigned int variant) {
  last_found_ = false;
  if (language == nullptr) return 0;
  char path[vq_resfile::kPathBytes];
  if (!find_resource_file(path, sizeof path, language->code, variant)) return 0;
  last_found_ = true;
  if (!Open(path)) return 0;
  language_ = language;
  return 1;
}

int UTResFile::Open(const char* language_label, unsigned int variant) {
  return Open(UTLocale::GetLanguageInfoFromLabel(language_label), variant);
}

long UTResFile::GetVersion() {
  char text[256];
  if (GetString(vq_resfile::kVersionMessage, text, sizeof text) == 0) return 0;
  return std::strtol(text, nullptr, 10);
}

bool UTResFile::find_resource_file(char* path, unsigned int size, const char* language,
                                   unsigned int variant) {
  char name[vq_resfile::kBaseNameBytes];
  get_resource_file_base_name(name, language, variant);
  if (path == nullptr || size == 0) return false;
  path[0] = '\0';
  // A path too long for the buffer is not written and counts as not found.
  const unsigned found =
      LS_QualifyVellumFile(kLsKindResource, name, path, size, &defaultQualifyCB);
  return found != 0 && found < size;
}

// ---- UTVCResFile ------------------------------------------------------------------

void UTVCResFile::initialize() {
  open_ = 0;
  fd_ = -1;
  map_ = nullptr;
  map_length_ = 0;
  levels_ = 0;
  root_ = 0;
  charset_ = nullptr;
}

std::uint32_t UTVCResFile::LoadU32(std::size_t offset) const {
  const unsigned char* p = map_ + offset;
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool UTVCResFile::IsValid(std::size_t length) {
  if (length < vq_resfile::kHeaderBytes) {
    open_error_ = "file shorter than its header";
    return false;
  }
  if (LoadU32(0) != vq_resfile::kMagic || LoadU32(4) != vq_resfile::kByteOrderMark ||
      LoadU32(8) != 0) {
    open_error_ = "not a message resource file";
    return false;
  }
  unsigned sum = 0;
  bool ended = false;
  for (int i = 0; i < 4; ++i) {
    std::uint8_t w = map_[vq_resfile::kWidthsOffset + i];
    sum += w;
    // A level after an unused one would never be reached: the index could not cover
    // all 16 bits of a message number.
    if ((ended && w != 0) || (i == 0 && w == 0)) {
      open_error_ = "bad index level widths";
      return false;
    }
    ended = ended || w == 0;
  }
  if (sum != 16) {
    open_error_ = "bad index level widths";
    return false;
  }
  std::uint32_t root = LoadU32(vq_resfile::kRootOffsetOffset);
  std::uint8_t w1 = map_[vq_resfile::kWidthsOffset];
  if (root >= length || (length - root) / 4 < (std::size_t{1} << w1)) {
    open_error_ = "root table outside the file";
    return false;
  }
  return true;
}

// Walks every entry of the table at `table` (of index level `level`, 0-based) and
// those below it; false when an offset or a leaf reaches beyond the file.
bool UTVCResFile::IndexIsSound(std::uint32_t table, int level) {
  const std::size_t entries = std::size_t{1} << widths_[level];
  for (std::size_t i = 0; i < entries; ++i) {
    std::uint32_t entry = LoadU32(table + 4 * i);
    if (entry == 0) continue;
    if (entry >= map_length_) return false;
    std::size_t room = map_length_ - entry;
    if (level + 1 < levels_) {
      if (room / 4 < (std::size_t{1} << widths_[level + 1])) return false;
      if (!IndexIsSound(entry, level + 1)) return false;
    } else {
      if (room < 2) return false;
      std::size_t n = map_[entry] | static_cast<std::size_t>(map_[entry + 1]) << 8;
      if (room - 2 < n) return false;
    }
  }
  return true;
}

int UTVCResFile::Open(const char* path) {
  if (open_ != 0 || map_ != nullptr || fd_ >= 0) Close();
  open_error_ = "";
  fd_ = _posix_open(path, O_RDONLY, 0777);
  if (fd_ < 0) {
    open_error_ = "cannot open the file";
    return 0;
  }
  a_posix_stat st;
  if (_posix_fstat(fd_, &st) != 0 || (st.mode & 0xF000) != 0x8000) {
    open_error_ = "not a regular file";
    Close();
    return 0;
  }
  std::int64_t file_length = _posix_filelength(fd_);
  if (file_length < 0) {
    open_error_ = "cannot read the file's length";
    Close();
    return 0;
  }
  if (static_cast<std::uint64_t>(file_length) > SIZE_MAX) {
    open_error_ = "file too large";
    Close();
    return 0;
  }
  std::size_t length = static_cast<std::size_t>(file_length);
  if (length < vq_resfile::kHeaderBytes) {
    open_error_ = "file shorter than its header";
    Close();
    return 0;
  }
  void* map = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd_, 0);
  _posix_close(fd_);
  fd_ = -1;
  if (map == MAP_FAILED) {
    open_error_ = "cannot map the file";
    return 0;
  }
  map_ = static_cast<const unsigned char*>(map);
  map_length_ = length;
  if (!IsValid(length)) {
    const char* why = open_error_;
    Close();
    open_error_ = why;
    return 0;
  }
  int shift = 16;
  levels_ = 0;
  for (int i = 0; i < 4 && map_[vq_resfile::kWidthsOffset + i] != 0; ++i) {
    widths_[i] = map_[vq_resfile::kWidthsOffset + i];
    shift -= widths_[i];
    shifts_[i] = static_cast<std::uint8_t>(shift);
    masks_[i] = static_cast<std::uint16_t>((1u << widths_[i]) - 1);
    ++levels_;
  }
  root_ = LoadU32(vq_resfile::kRootOffsetOffset);
  if (!IndexIsSound(root_, 0)) {
    Close();
    open_error_ = "index entry or text outside the file";
    return 0;
  }
  open_ = 1;

  char text[96];
  GetString(vq_resfile::kCharsetMessage, text, sizeof text);
  char* tail = std::strstr(text, ";language=");
  if (tail != nullptr) {
    *tail = '\0';
    charset_ =
        tail - text > 8 ? UTLocale::GetCharsetInfoFromLabel(text + 8, kSchemeAll) : nullptr;
  } else {
    charset_ = nullptr;
  }
  return 1;
}

void UTVCResFile::Close() {
  if (map_ != nullptr) munmap(const_cast<unsigned char*>(map_), map_length_);
  if (fd_ >= 0) _posix_close(fd_);
  initialize();
}

bool UTVCResFile::FindLeaf(unsigned long id, const unsigned char** text,
                           std::uint32_t* length) const {
  if (open_ == 0 || map_ == nullptr) return false;
  std::uint32_t offset = root_;
  for (int level = 0; level < levels_; ++level) {
    std::size_t index = (id >> shifts_[level]) & masks_[level];
    // Checked at Open already; checked again so that no lookup can leave the mapping.
    if (offset >= map_length_ || (map_length_ - offset) / 4 <= index) return false;
    offset = LoadU32(offset + 4 * index);
    if (offset == 0) return false;
  }
  if (offset >= map_length_ || map_length_ - offset < 2) return false;
  std::uint32_t n = map_[offset] | static_cast<std::uint32_t>(map_[offset + 1]) << 8;
  if (map_length_ - offset - 2 < n) return false;
  *text = map_ + offset + 2;
  *length = n;
  return true;
}

unsigned int UTVCResFile::GetString(unsigned long id, char* buf, unsigned int size) {
  if (size == 0) return 0;
  buf[0] = '\0';
  const unsigned char* text;
  std::uint32_t n;
  if (!FindLeaf(id, &text, &n)) return 0;
  if (n > size - 1) n = size - 1;
  std::memcpy(buf, text, n);
  buf[n] = '\0';
  return n;
}

unsigned int UTVCResFile::GetStringUTF16(unsigned long, unsigned short* buf,
                                         unsigned int size) {
  if (size != 0) buf[0] = 0;
  return 0;
}

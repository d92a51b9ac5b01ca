// Message resource files: one binary file per language and character set, mapped
// read-only and looked up by a 16-bit message number through a radix index.
//
// File layout (integers little-endian, offsets from the start of the file):
//   0   u32  magic 0x4F534552 (the bytes "RESO")
//   4   u32  0x12345678
//   8   u32  0
//   12  u8   bit width of index level 1 .. 15  u8 width of level 4 (sum 16; the
//            levels in use are those before the first 0)
//   16  u32  offset of the root table
// An index table of a level of width w holds 2^w u32 offsets of the next level's
// tables, or of leaves after the last level; 0 means no message. A leaf is a u16
// length n and n bytes of text in the file's character set, without terminator.
// Message 5000 is the file's version as decimal text; message 8643 is eight bytes
// that are not examined, the character-set label, ";language=" and more text.
//
// Every offset and length read from a file is checked against the mapped length
// when the file is opened, and again on every lookup: a truncated or foreign file
// fails to open and never makes a lookup read outside the mapping.
#ifndef VQ_UTILS_LOCALE_RESOURCE_FILE_H
#define VQ_UTILS_LOCALE_RESOURCE_FILE_H

#include <cstddef>
#include <cstdint>

struct CharsetInfo;
struct LanguageInfo;

namespace vq_resfile {
constexpr std::uint32_t kMagic = 0x4F534552u;
constexpr std::uint32_t kByteOrderMark = 0x12345678u;
constexpr std::size_t kHeaderBytes = 20;
constexpr std::size_t kWidthsOffset = 12;
constexpr std::size_t kRootOffsetOffset = 16;
static_assert(kRootOffsetOffset + 4 == kHeaderBytes, "the header is 20 bytes");
constexpr unsigned long kVersionMessage = 5000;
constexpr unsigned long kCharsetMessage = 8643;
// Versions from 1 to this one are too old for this client.
constexpr long kLastMismatchedVersion = 119;
// Room for a base name: "vqlg", a two-letter code, "_bw", "12", the longest suffix and
// ".res" need 23 bytes; language codes longer than 8 bytes are cut.
constexpr std::size_t kBaseNameBytes = 32;
constexpr std::size_t kPathBytes = 4097;
}  // namespace vq_resfile

// The file name of a language's resource file: "vqlg" + code + ("_bw" when variant is
// non-zero) + "12" + the OS-charset suffix of "ja", "zh" and "de" + ".res". `buf`
// holds vq_resfile::kBaseNameBytes bytes.
void GetResourceFileBaseName(char* buf, const char* language, unsigned int variant);

class UTResFile {
 public:
  UTResFile() = default;
  virtual ~UTResFile() = default;
  UTResFile(const UTResFile&) = delete;
  UTResFile& operator=(const UTResFile&) = delete;

  // Opens the file at a full path; true on success.
  virtual int Open(const char* path) = 0;
  virtual void Close() = 0;
  // The loaded module of a file that is a loadable library; none for plain files.
  virtual void* GetDLLHandle() const = 0;
  // Whether texts can be read as UTF-16.
  virtual bool UTF16Supported() = 0;
  // Copies the text of message `id` (at most size - 1 bytes) and a terminator into
  // buf; returns the bytes copied. Size 0 or no such message: 0.
  virtual unsigned int GetString(unsigned long id, char* buf, unsigned int size) = 0;
  virtual unsigned int GetStringUTF16(unsigned long id, unsigned short* buf,
                                      unsigned int size) = 0;
  virtual void get_resource_file_base_name(char* buf, const char* language,
                                           unsigned int variant) = 0;

  // Locates the language's file and opens it; 1 and the language recorded on
  // success, 0 for a null language or a file that cannot be found or opened.
  int Open(const LanguageInfo* language, unsigned int variant);
  int Open(const char* language_label, unsigned int variant);
  // Message 5000 as a decimal number; 0 when absent.
  long GetVersion();
  // True with the path of the language's file (base name located by the file-location
  // rules) in path[0, size).
  bool find_resource_file(char* path, unsigned int size, const char* language,
                          unsigned int variant);

  bool is_open() const { return open_ != 0; }
  const CharsetInfo* charset() const { return charset_; }
  const LanguageInfo* language() const { return language_; }
  // Whether the last Open(language, variant) found a file (it may still have failed
  // to open it).
  bool last_open_found_file() const { return last_found_; }

 protected:
  std::int32_t open_ = 0;
  const CharsetInfo* charset_ = nullptr;
  const LanguageInfo* language_ = nullptr;
  bool last_found_ = false;
};

class UTVCResFile : public UTResFile {
 public:
  UTVCResFile() { initialize(); }
  ~UTVCResFile() override { Close(); }

  using UTResFile::Open;
  int Open(const char* path) override;
  void Close() override;
  void* GetDLLHandle() const override { return nullptr; }
  bool UTF16Supported() override { return false; }
  unsigned int GetString(unsigned long id, char* buf, unsigned int size) override;
  // This file type holds no UTF-16 texts: an empty text (first unit 0 when size > 0).
  unsigned int GetStringUTF16(unsigned long id, unsigned short* buf,
                              unsigned int size) override;
  void get_resource_file_base_name(char* buf, const char* language,
                                   unsigned int variant) override {
    GetResourceFileBaseName(buf, language, variant);
  }

  // Why the last Open(path) failed, as a short English text; "" after a success.
  const char* open_error() const { return open_error_; }

 private:
  void initialize();
  bool IsValid(std::size_t length);
  bool IndexIsSound(std::uint32_t table, int level);
  // The leaf of message id: its text and length; false when there is none.
  bool FindLeaf(unsigned long id, const unsigned char** text, std::uint32_t* length) const;
  std::uint32_t LoadU32(std::size_t offset) const;

  int fd_ = -1;
  const unsigned char* map_ = nullptr;
  std::size_t map_length_ = 0;
  int levels_ = 0;
  std::uint8_t widths_[4] = {};
  std::uint8_t shifts_[4] = {};
  std::uint16_t masks_[4] = {};
  std::uint32_t root_ = 0;  // offset of the root table in the mapping
  const char* open_error_ = "";
};

#endif  // VQ_UTILS_LOCALE_RESOURCE_FILE_H

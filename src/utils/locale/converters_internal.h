// The converter implementations behind CharsetConverter, shared by the files of the
// locale subsystem. Callers outside it use charset_converter.h only.
#ifndef VQ_UTILS_LOCALE_CONVERTERS_INTERNAL_H
#define VQ_UTILS_LOCALE_CONVERTERS_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "utils/locale/charset_converter.h"
#include "vqicu.h"

class UTICU;

// === in charset_converter.cpp ===

// Copies bytes unchanged; valid when source and target are the same record.
class IdentityCharsetConverter : public CharsetConverterBase {
 public:
  IdentityCharsetConverter(UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from);
  void Reset() override {}
  int ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end, const void** src,
                      const void* src_end, unsigned int flush) override;
  bool support_reporting() const override { return false; }
  bool is_identity() const override { return true; }
  void close() override { valid_ = 0; }
  void invalidate() { valid_ = 0; }
};

// Drives an aligned worker that converts towards UTF-16LE: keeps an incomplete input
// tail (held input) and output that did not fit the destination (pending output), and
// gives the worker even-aligned output with at least 8 bytes of room.
class ToUTF16CharsetConverterBase : public CharsetConverterBase {
 public:
  using CharsetConverterBase::CharsetConverterBase;
  void Reset() override;
  int ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end, const void** src,
                      const void* src_end, unsigned int flush) override;
  bool is_identity() const override { return false; }
  // Converts from *src into *dst and advances both; stops with result 0 when the input
  // runs out, when the next character is incomplete (left unconsumed) or when it does
  // not fit. final: the input ends here.
  virtual int to_utf16_aligned(unsigned char** dst, const unsigned char* dst_end,
                               const unsigned char** src, const unsigned char* src_end,
                               unsigned int final) = 0;

 protected:
  static constexpr std::size_t kHeldBytes = 16;
  static constexpr std::size_t kPendingBytes = 32;
  std::uint32_t held_count_ = 0;
  unsigned char held_[kHeldBytes] = {};
  std::uint32_t pending_count_ = 0;
  unsigned char pending_[kPendingBytes] = {};
};

// The mirror image: away from UTF-16LE; the worker gets even-aligned input.
class FromUTF16CharsetConverterBase : public CharsetConverterBase {
 public:
  using CharsetConverterBase::CharsetConverterBase;
  void Reset() override;
  int ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end, const void** src,
                      const void* src_end, unsigned int flush) override;
  bool is_identity() const override { return false; }
  virtual int from_utf16_aligned(unsigned char** dst, const unsigned char* dst_end,
                                 const unsigned char** src, const unsigned char* src_end,
                                 unsigned int final) = 0;

 protected:
  static constexpr std::size_t kHeldBytes = 16;
  static constexpr std::size_t kPendingBytes = 32;
  std::uint32_t held_count_ = 0;
  alignas(2) unsigned char held_[kHeldBytes] = {};
  std::uint32_t pending_count_ = 0;
  unsigned char pending_[kPendingBytes] = {};
};

// Source -> UTF-16LE -> target through the pivot buffer; both stages live inside.
class PivotCharsetConverter : public CharsetConverterBase {
 public:
  PivotCharsetConverter(UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from,
                        unsigned int last_resort);
  ~PivotCharsetConverter() override;
  void Reset() override;
  int ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end, const void** src,
                      const void* src_end, unsigned int flush) override;
  bool support_reporting() const override;
  bool is_identity() const override { return false; }
  void close() override;

 private:
  CharsetConverterBase* first_ = nullptr;   // source -> UTF-16LE, in first_storage_
  CharsetConverterBase* second_ = nullptr;  // UTF-16LE -> target, in second_storage_
  alignas(CharsetConverter::kImplAlign) unsigned char first_storage_
      [CharsetConverter::kStageStorage];
  alignas(CharsetConverter::kImplAlign) unsigned char second_storage_
      [CharsetConverter::kStageStorage];
};

// === in builtin_converters.cpp ===

class UTF8ToUTF16CharsetConverter : public ToUTF16CharsetConverterBase {
 public:
  UTF8ToUTF16CharsetConverter(UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from);
  bool support_reporting() const override { return true; }
  void close() override { valid_ = 0; }
  int to_utf16_aligned(unsigned char** dst, const unsigned char* dst_end,
                       const unsigned char** src, const unsigned char* src_end,
                       unsigned int final) override;

 private:
  const CharsetInfo* utf8_;
};

class UTF16ToUTF8CharsetConverter : public FromUTF16CharsetConverterBase {
 public:
  UTF16ToUTF8CharsetConverter(UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from);
  bool support_reporting() const override { return true; }
  void close() override { valid_ = 0; }
  int from_utf16_aligned(unsigned char** dst, const unsigned char* dst_end,
                         const unsigned char** src, const unsigned char* src_end,
                         unsigned int final) override;

 private:
  const CharsetInfo* utf8_;
};

class UTF16SwapEndianCharsetConverter : public CharsetConverterBase {
 public:
  UTF16SwapEndianCharsetConverter(UTLocale* locale, const CharsetInfo* to,
                                  const CharsetInfo* from);
  void Reset() override;
  int ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end, const void** src,
                      const void* src_end, unsigned int flush) override;
  bool support_reporting() const override { return false; }
  bool is_identity() const override { return false; }
  void close() override { valid_ = 0; }

 private:
  std::uint32_t held_ = 0;  // an odd input byte is held
  unsigned char held_byte_ = 0;
  std::uint32_t pending_count_ = 0;
  unsigned char pending_[4] = {};
};

class SBCSToUTF16MapCharsetConverter : public CharsetConverterBase {
 public:
  SBCSToUTF16MapCharsetConverter(UTLocale* locale, const CharsetInfo* to,
                                 const CharsetInfo* from);
  void Reset() override;
  int ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end, const void** src,
                      const void* src_end, unsigned int flush) override;
  bool support_reporting() const override { return false; }
  bool is_identity() const override { return false; }
  void close() override {
    valid_ = 0;
    map_ = nullptr;
  }

 private:
  const std::uint16_t* map_ = nullptr;  // 256 units, owned by the registry
  std::uint32_t held_ = 0;              // the high byte of a unit is still to be written
  unsigned char held_byte_ = 0;
};

// The reverse of the single-byte map: UTF-16LE to the byte the same 256-entry map
// gives the character, so that every byte the map decodes encodes back to itself.
// Characters the map lacks become the target's substitution byte.
class UTF16ToSBCSMapCharsetConverter : public FromUTF16CharsetConverterBase {
 public:
  UTF16ToSBCSMapCharsetConverter(UTLocale* locale, const CharsetInfo* to,
                                 const CharsetInfo* from);
  bool support_reporting() const override { return true; }
  void close() override {
    valid_ = 0;
    map_ = nullptr;
  }
  int from_utf16_aligned(unsigned char** dst, const unsigned char* dst_end,
                         const unsigned char** src, const unsigned char* src_end,
                         unsigned int final) override;

 private:
  const std::uint16_t* map_ = nullptr;  // 256 units, owned by the registry
};

// Keeps ASCII and substitutes every other character; never valid.
class ToUTF16LastResortCharsetConverter : public ToUTF16CharsetConverterBase {
 public:
  using ToUTF16CharsetConverterBase::ToUTF16CharsetConverterBase;
  bool support_reporting() const override { return true; }
  void close() override { valid_ = 0; }
  int to_utf16_aligned(unsigned char** dst, const unsigned char* dst_end,
                       const unsigned char** src, const unsigned char* src_end,
                       unsigned int final) override;
};

class FromUTF16LastResortCharsetConverter : public FromUTF16CharsetConverterBase {
 public:
  using FromUTF16CharsetConverterBase::FromUTF16CharsetConverterBase;
  bool support_reporting() const override { return true; }
  void close() override { valid_ = 0; }
  int from_utf16_aligned(unsigned char** dst, const unsigned char* dst_end,
                         const unsigned char** src, const unsigned char* src_end,
                         unsigned int final) override;
};

// Bytes that follow a lead byte in `charset` (0 for single bytes and unknown sets).
unsigned int trail_count(const CharsetInfo* charset, unsigned char lead);

// === in conversion_table.cpp ===

// Single-byte to single-byte through a shared 256-byte map of the registry.
class BytemapCharsetConverter : public CharsetConverterBase {
 public:
  BytemapCharsetConverter(UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from);
  void Reset() override {}
  int ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end, const void** src,
                      const void* src_end, unsigned int flush) override;
  bool support_reporting() const override { return false; }
  bool is_identity() const override { return false; }
  void close() override {
    valid_ = 0;
    map_ = nullptr;
  }

 private:
  const unsigned char* map_ = nullptr;
};

// === in icu_converters.cpp ===

class ToUTF16ICUCharsetConverter : public ToUTF16CharsetConverterBase {
 public:
  ToUTF16ICUCharsetConverter(UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from);
  ~ToUTF16ICUCharsetConverter() override;
  void Reset() override;
  bool support_reporting() const override { return true; }
  void close() override;
  int to_utf16_aligned(unsigned char** dst, const unsigned char* dst_end,
                       const unsigned char** src, const unsigned char* src_end,
                       unsigned int final) override;

 private:
  static void on_error(const void* context, vqicu_to_u_args* args, const char* units,
                       int32_t length, int32_t reason, vqicu_status* status);
  vqicu_converter* handle_ = nullptr;
  UTICU* icu_ = nullptr;
  vqicu_to_u_callback previous_ = nullptr;
  const void* previous_context_ = nullptr;
};

class FromUTF16ICUCharsetConverter : public FromUTF16CharsetConverterBase {
 public:
  FromUTF16ICUCharsetConverter(UTLocale* locale, const CharsetInfo* to,
                               const CharsetInfo* from);
  ~FromUTF16ICUCharsetConverter() override;
  void Reset() override;
  bool support_reporting() const override { return true; }
  void close() override;
  int from_utf16_aligned(unsigned char** dst, const unsigned char* dst_end,
                         const unsigned char** src, const unsigned char* src_end,
                         unsigned int final) override;

 private:
  static void on_error(const void* context, vqicu_from_u_args* args, const vqicu_uchar* units,
                       int32_t length, vqicu_uchar32 code_point, int32_t reason,
                       vqicu_status* status);
  vqicu_converter* handle_ = nullptr;
  UTICU* icu_ = nullptr;
  vqicu_from_u_callback previous_ = nullptr;
  const void* previous_context_ = nullptr;
};

// The framework's result for an ICU error code.
int icu_result(vqicu_status status);

#endif  // VQ_UTILS_LOCALE_CONVERTERS_INTERNAL_H

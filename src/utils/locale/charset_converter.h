// Character-set conversion between any two character sets of the locale registry.
//
// CharsetConverter is the front object: it picks an implementation for a (target,
// source) pair and keeps it inside itself (no allocation). Implementations either
// convert directly (identity copy, single-byte byte map, UTF-8 <-> UTF-16LE, UTF-16
// byte swap, ICU) or pivot through UTF-16LE. Conversions are resumable: partial input
// and output are kept between ContinueConvert calls, so text may be fed in chunks.
//
// An implementation keeps state between calls and must be used by one thread at a
// time; owners serialise its use.
#ifndef VQ_UTILS_LOCALE_CHARSET_CONVERTER_H
#define VQ_UTILS_LOCALE_CHARSET_CONVERTER_H

#include <cstddef>
#include <cstdint>

class UTIStream;
class UTLocale;
class UTOStream;
struct CharsetInfo;

// Status bits (what happened) and option bits (the same bits: stop and report that
// case instead of substituting).
enum : std::uint32_t {
  kConvIllegalSequence = 0x1,  // an illegal or overlong sequence, a lone surrogate
  kConvUnmappedChar = 0x2,     // a character with no mapping in the target
  kConvIncompleteInput = 0x4,  // final input ended inside a sequence
};

// Results of ContinueConvert and Convert.
enum : int {
  kConvDone = 0,        // all input consumed (or held for the next call)
  kConvDestFull = 1,    // the destination is full; input or pending output remains
  kConvIllegal = 2,     // illegal sequence met under option kConvIllegalSequence
  kConvUnmapped = 3,    // unmappable character met under option kConvUnmappedChar
  kConvIncomplete = 4,  // incomplete final sequence under option kConvIncompleteInput
  kConvFailed = 5,      // any other failure of the ICU library
};

// UTF-16LE staging area between the two stages of a pivot conversion.
struct PivotBuffer {
  static constexpr std::size_t kBytes = 1024;
  alignas(2) unsigned char data[kBytes];
  unsigned char* fill = data;  // end of the units not yet handed to the second stage
};

// The interface of every implementation.
class CharsetConverterBase {
 public:
  CharsetConverterBase(UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from)
      : locale_(locale), from_(from), to_(to) {}
  virtual ~CharsetConverterBase() = default;
  CharsetConverterBase(const CharsetConverterBase&) = delete;
  CharsetConverterBase& operator=(const CharsetConverterBase&) = delete;

  // Forgets partial input and output and clears the status bits.
  virtual void Reset() { status_ = 0; }
  // Converts from *src up to src_end into *dst up to dst_end and advances both
  // pointers past what was consumed and produced. flush != 0: the input is final.
  // Returns one of the kConv* results.
  virtual int ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end,
                              const void** src, const void* src_end, unsigned int flush) = 0;
  // Whether the option bits are honoured.
  virtual bool support_reporting() const = 0;
  // Whether bytes pass unchanged.
  virtual bool is_identity() const = 0;
  // Releases resources and clears the valid flag.
  virtual void close() = 0;

  UTLocale* locale() const { return locale_; }
  const CharsetInfo* from() const { return from_; }
  const CharsetInfo* to() const { return to_; }
  bool valid() const { return valid_ != 0; }
  std::uint32_t status() const { return status_; }
  std::uint32_t options() const { return options_; }
  void set_options(std::uint32_t options) { options_ = options; }
  void set_status(std::uint32_t status) { status_ = status; }

 protected:
  UTLocale* locale_;
  const CharsetInfo* from_;
  const CharsetInfo* to_;
  std::uint32_t valid_ = 0;
  std::uint32_t status_ = 0;   // kConv* status bits
  std::uint32_t options_ = 0;  // kConv* option bits
};

class CharsetConverter {
 public:
  // Room for one conversion stage and for the whole implementation (a pivot converter
  // holds two stages); every implementation is checked against these at compile time.
  static constexpr std::size_t kStageStorage = 256;
  static constexpr std::size_t kImplStorage = 640;
  static constexpr std::size_t kImplAlign = alignof(std::max_align_t);

  // Starts with no implementation, then SetEncodings(to, from).
  CharsetConverter(UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from);
  ~CharsetConverter();
  CharsetConverter(const CharsetConverter&) = delete;
  CharsetConverter& operator=(const CharsetConverter&) = delete;

  // Chooses the implementation for the pair: 1 when an exact converter is in place,
  // 0 when a last-resort converter (or, for a missing charset, an unchecked copy) was
  // set. The same pair again keeps the implementation in place and returns 1.
  int SetEncodings(const CharsetInfo* to, const CharsetInfo* from);

  // One complete conversion: Reset, then one ContinueConvert with flush over a fresh
  // pivot buffer. *written = bytes produced. Output that does not fit is lost (result
  // kConvDestFull). Returns the kConv* result.
  int Convert(unsigned char* dst, unsigned int dst_len, unsigned int* written,
              const unsigned char* src, unsigned int src_len);

  // Reset, then len bytes of `in` converted into `out` through a CSConvOStream, which
  // is then flushed as final. *written = bytes produced. Returns the stream's worst
  // result (kConvDone when nothing failed).
  int Convert(UTOStream& out, unsigned int* written, UTIStream& in, unsigned int len);

  // Resumable conversion through the implementation (see CharsetConverterBase).
  int ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end, const void** src,
                      const void* src_end, unsigned int flush);
  void Reset();
  // Ends the implementation; SetEncodings builds a new one.
  void close();

  // The implementation in place, or null before the first SetEncodings.
  CharsetConverterBase* impl() const { return impl_; }
  bool valid() const { return impl_ != nullptr && impl_->valid(); }
  bool is_identity() const { return impl_ != nullptr && impl_->is_identity(); }
  bool support_reporting() const { return impl_ != nullptr && impl_->support_reporting(); }
  std::uint32_t status() const { return impl_ != nullptr ? impl_->status() : 0; }
  std::uint32_t options() const { return impl_ != nullptr ? impl_->options() : 0; }
  // Sets the option bits of the implementation in place (kept across Reset, not
  // across SetEncodings to another pair).
  void set_options(std::uint32_t options) {
    if (impl_ != nullptr) impl_->set_options(options);
  }
  const CharsetInfo* to() const { return impl_ != nullptr ? impl_->to() : nullptr; }
  const CharsetInfo* from() const { return impl_ != nullptr ? impl_->from() : nullptr; }

  // Construct at `place` (kStageStorage bytes, kImplAlign-aligned) the first
  // implementation that accepts the pair towards / away from UTF-16LE; with
  // last_resort the last-resort converter is placed when no exact one accepts it.
  // True when one was placed (a last-resort one has its valid flag clear).
  static bool create_to_utf16_converter(UTLocale* locale, void* place, const CharsetInfo* to,
                                        const CharsetInfo* from, unsigned int last_resort);
  static bool create_from_utf16_converter(UTLocale* locale, void* place, const CharsetInfo* to,
                                          const CharsetInfo* from, unsigned int last_resort);

 private:
  void destroy_impl();

  UTLocale* locale_;
  CharsetConverterBase* impl_ = nullptr;  // points into storage_ when set
  alignas(kImplAlign) unsigned char storage_[kImplStorage];
};

// UTF-8 helpers.
// Bytes of the UTF-8 form of cp: 1 to 4, 0 above 0x10FFFF.
unsigned int utf8_length(std::uint32_t cp);
// Writes the UTF-8 form of cp as far as size allows and returns its full length (1 to
// 4); 0 for code points above 0x10FFFF (nothing written).
unsigned int utf8_encode(unsigned char* buf, unsigned int size, std::uint32_t cp);
// Decodes one character at src and returns the bytes used. Empty input: *cp = 0,
// result 0. A sequence cut short by the end of the input: *cp = 0, result len. An
// ill-formed sequence (stray trail byte, overlong form, encoded surrogate, bad trail
// byte, beyond U+10FFFF): *cp = 0xFFFD and the result is the length of its maximal
// ill-formed part (at least 1). `utf8` is the registry's UTF-8 record (may be null).
unsigned int utf8_decode(const CharsetInfo* utf8, const unsigned char* src, unsigned int len,
                         std::uint32_t* cp);

#endif  // VQ_UTILS_LOCALE_CHARSET_CONVERTER_H

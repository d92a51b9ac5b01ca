// XXX: temporary stand-in for CharsetConverter, until the converter framework is
// merged. It has the subset of CharsetConverter's interface that the message catalog
// uses, so that the swap is the one alias below. It converts UTF-8 to and from UTF-16
// (either byte order) and copies every other pair unchanged.
#ifndef VQ_UTILS_LOCALE_MESSAGE_CONVERTER_H
#define VQ_UTILS_LOCALE_MESSAGE_CONVERTER_H

class UTLocale;
struct CharsetInfo;

class MessageConverterStandIn {
 public:
  MessageConverterStandIn(UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from);
  MessageConverterStandIn(const MessageConverterStandIn&) = delete;
  MessageConverterStandIn& operator=(const MessageConverterStandIn&) = delete;

  // 1 when an exact conversion is in place, 0 for an unchecked copy.
  int SetEncodings(const CharsetInfo* to, const CharsetInfo* from);
  // One complete conversion; *written = bytes produced; 0 when all input fitted, 1
  // when the destination was full.
  int Convert(unsigned char* dst, unsigned int dst_len, unsigned int* written,
              const unsigned char* src, unsigned int src_len);
  bool is_identity() const { return kind_ == kCopy; }
  const CharsetInfo* to() const { return to_; }
  const CharsetInfo* from() const { return from_; }

 private:
  enum Kind { kCopy, kUtf8ToUtf16, kUtf16ToUtf8 };
  UTLocale* locale_;
  const CharsetInfo* to_ = nullptr;
  const CharsetInfo* from_ = nullptr;
  Kind kind_ = kCopy;
  bool big_endian_ = false;
};

using MessageConverter = MessageConverterStandIn;

#endif  // VQ_UTILS_LOCALE_MESSAGE_CONVERTER_H

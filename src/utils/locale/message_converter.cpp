// XXX: temporary stand-in for CharsetConverter, see message_converter.h.
#include "utils/locale/message_converter.h"

#include <cstdint>
#include <cstring>

#include "utils/locale/utlocale.h"

MessageConverterStandIn::MessageConverterStandIn(UTLocale* locale, const CharsetInfo* to,
                                                 const CharsetInfo* from)
    : locale_(locale) {
  SetEncodings(to, from);
}

int MessageConverterStandIn::SetEncodings(const CharsetInfo* to, const CharsetInfo* from) {
  to_ = to;
  from_ = from;
  kind_ = kCopy;
  if (to == nullptr || from == nullptr) return 0;
  if (to == from) return 1;
  const CharsetInfo* utf8 = UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll);
  const CharsetInfo* le = UTLocale::GetCharsetInfoFromLabel("UTF-16LE", kSchemeAll);
  const CharsetInfo* be = UTLocale::GetCharsetInfoFromLabel("UTF-16BE", kSchemeAll);
  if (from == utf8 && (to == le || to == be)) {
    kind_ = kUtf8ToUtf16;
    big_endian_ = to == be;
    return 1;
  }
  if (to == utf8 && (from == le || from == be)) {
    kind_ = kUtf16ToUtf8;
    big_endian_ = from == be;
    return 1;
  }
  return 0;
}

int MessageConverterStandIn::Convert(unsigned char* dst, unsigned int dst_len,
                                     unsigned int* written, const unsigned char* src,
                                     unsigned int src_len) {
  unsigned int out = 0;
  unsigned int in = 0;
  auto put16 = [&](std::uint32_t u) {
    if (dst_len - out < 2) return false;
    dst[out + (big_endian_ ? 1 : 0)] = static_cast<unsigned char>(u & 0xFF);
    dst[out + (big_endian_ ? 0 : 1)] = static_cast<unsigned char>(u >> 8);
    out += 2;
    return true;
  };
  int result = 0;
  switch (kind_) {
    case kCopy: {
      unsigned int n = src_len < dst_len ? src_len : dst_len;
      std::memcpy(dst, src, n);
      out = n;
      result = n < src_len ? 1 : 0;
      break;
    }
    case kUtf8ToUtf16:
      while (in < src_len) {
        unsigned char b = src[in];
        std::uint32_t cp = 0xFFFD;
        unsigned int len = 1;
        if (b < 0x80) {
          cp = b;
        } else if (b >= 0xC2 && b < 0xE0 && in + 1 < src_len) {
          cp = (b & 0x1Fu) << 6 | (src[in + 1] & 0x3Fu);
          len = 2;
        } else if (b >= 0xE0 && b < 0xF0 && in + 2 < src_len) {
          cp = (b & 0x0Fu) << 12 | (src[in + 1] & 0x3Fu) << 6 | (src[in + 2] & 0x3Fu);
          len = 3;
        } else if (b >= 0xF0 && b < 0xF5 && in + 3 < src_len) {
          cp = (b & 0x07u) << 18 | (src[in + 1] & 0x3Fu) << 12 | (src[in + 2] & 0x3Fu) << 6 |
               (src[in + 3] & 0x3Fu);
          len = 4;
        }
        bool ok = cp >= 0x10000
                      ? dst_len - out >= 4 && put16(0xD800 + ((cp - 0x10000) >> 10)) &&
                            put16(0xDC00 + ((cp - 0x10000) & 0x3FF))
                      : put16(cp);
        if (!ok) {
          result = 1;
          break;
        }
        in += len;
      }
      break;
    case kUtf16ToUtf8:
      while (in + 1 < src_len) {
        std::uint32_t u =
            big_endian_ ? (src[in] << 8 | src[in + 1]) : (src[in] | src[in + 1] << 8);
        unsigned char tmp[3];
        unsigned int n;
        if (u < 0x80) {
          tmp[0] = static_cast<unsigned char>(u);
          n = 1;
        } else if (u < 0x800) {
          tmp[0] = static_cast<unsigned char>(0xC0 | u >> 6);
          tmp[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
          n = 2;
        } else {
          tmp[0] = static_cast<unsigned char>(0xE0 | u >> 12);
          tmp[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
          tmp[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
          n = 3;
        }
        if (dst_len - out < n) {
          result = 1;
          break;
        }
        std::memcpy(dst + out, tmp, n);
        out += n;
        in += 2;
      }
      break;
  }
  (void)locale_;
  *written = out;
  return result;
}

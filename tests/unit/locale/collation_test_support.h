// Helpers of the collation tests: streams that deliver text in small windows, and a
// front object set to a collation record by label.
#ifndef VQ_TESTS_UNIT_LOCALE_COLLATION_TEST_SUPPORT_H
#define VQ_TESTS_UNIT_LOCALE_COLLATION_TEST_SUPPORT_H

#include <algorithm>
#include <string>
#include <vector>

#include "utils/base/byte_stream.h"

// A buffered stream over a string whose window never holds more than `piece` bytes,
// so readers see the text in fragments.
class PieceIStream : public UTBufferedIStream {
 public:
  PieceIStream(std::string text, unsigned piece) : text_(std::move(text)), piece_(piece) {
    refill();
  }
  void refill() override {
    if (pos_ >= text_.size()) {
      set_eof();
      return;
    }
    const std::size_t n = std::min<std::size_t>(piece_, text_.size() - pos_);
    cur = reinterpret_cast<const unsigned char*>(text_.data()) + pos_;
    end = cur + n;
    pos_ += n;
  }

 private:
  std::string text_;
  unsigned piece_;
  std::size_t pos_ = 0;
};

// An unbuffered stream over a string.
class PlainIStream : public UTIStream {
 public:
  explicit PlainIStream(std::string text) : text_(std::move(text)) {}
  unsigned do_get(unsigned char* dst, unsigned n) override {
    const std::size_t take = std::min<std::size_t>(n, text_.size() - pos_);
    std::copy_n(text_.data() + pos_, take, reinterpret_cast<char*>(dst));
    pos_ += take;
    if (pos_ == text_.size()) eof = true;
    return static_cast<unsigned>(take);
  }

 private:
  std::string text_;
  std::size_t pos_ = 0;
};

// An output stream into a string.
class StringOStream : public UTOStream {
 public:
  unsigned do_put(const unsigned char* src, unsigned n) override {
    text.append(reinterpret_cast<const char*>(src), n);
    return n;
  }
  std::string text;
};

inline int Sign(long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// memcmp order of two counted keys: a key that is a prefix of the other is less.
// A test-name form of a text: letters and digits as they are, every other byte as
// "_" and its two hexadecimal digits ("a\xC3\xA9" -> "a_C3_A9"), "empty" for "".
inline std::string NameOf(const char* text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out += static_cast<char>(c);
    } else {
      out += '_';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out.empty() ? "empty" : out;
}

inline const char* OrderName(int order) { return order < 0 ? "lt" : (order > 0 ? "gt" : "eq"); }

inline int KeyOrder(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

#endif  // VQ_TESTS_UNIT_LOCALE_COLLATION_TEST_SUPPORT_H

// Shared helpers of the converter tests: a registry whose search path is set for the
// test, byte-string builders and conversion drivers.
#ifndef VQ_TESTS_UNIT_LOCALE_CONVERTER_FIXTURE_H
#define VQ_TESTS_UNIT_LOCALE_CONVERTER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "utils/locale/charset_converter.h"
#include "utils/locale/utlocale.h"
#include "scoped_environment.h"

using Bytes = std::vector<unsigned char>;

// "C3 A9 41" -> {0xC3, 0xA9, 0x41}
inline Bytes Hex(const std::string& text) {
  Bytes out;
  std::string digits;
  for (char c : text) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      out.push_back(static_cast<unsigned char>(std::stoul(digits, nullptr, 16)));
      digits.clear();
    }
  }
  return out;
}

inline Bytes Str(const std::string& text) { return Bytes(text.begin(), text.end()); }

// UTF-16LE bytes of the given units.
inline Bytes U16(std::initializer_list<std::uint16_t> units) {
  Bytes out;
  for (std::uint16_t u : units) {
    out.push_back(static_cast<unsigned char>(u & 0xFF));
    out.push_back(static_cast<unsigned char>(u >> 8));
  }
  return out;
}

inline std::string ToHex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

inline const CharsetInfo* Charset(const char* label) {
  const CharsetInfo* cs = UTLocale::GetCharsetInfoFromLabel(label, kSchemeAll);
  EXPECT_NE(cs, nullptr) << label;
  return cs;
}

// Places the installation root (VCDIR) for one scope, or unsets it for a null dir, and
// puts back what was there before. VELLUM12 stays unset meanwhile, so that only the
// directory given can be the root.
class ScopedInstallation {
 public:
  explicit ScopedInstallation(const char* dir) : env_({"VELLUM12"}) { env_.Set("VCDIR", dir); }

 private:
  vq::testing::ScopedEnvironment env_;
};

struct Outcome {
  Bytes out;
  int result;
  std::uint32_t status;
  std::size_t consumed;  // source bytes consumed
  bool operator==(const Outcome& o) const {
    return out == o.out && result == o.result && status == o.status;
  }
};

inline std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "{out=" << ToHex(o.out) << " result=" << o.result << " status=" << o.status
            << " consumed=" << o.consumed << "}";
}

// One complete conversion with room to spare, through the front object or straight
// through one implementation.
template <typename Converter>
Outcome ConvertAll(Converter& conv, const Bytes& in, std::uint32_t options = 0) {
  conv.set_options(options);
  Bytes out(in.size() * 4 + 64);
  conv.Reset();
  PivotBuffer pivot;
  void* d = out.data();
  const void* s = in.data();
  int r =
      conv.ContinueConvert(pivot, &d, out.data() + out.size(), &s, in.data() + in.size(), 1);
  out.resize(static_cast<unsigned char*>(d) - out.data());
  return {out, r, conv.status(),
          static_cast<std::size_t>(static_cast<const unsigned char*>(s) - in.data())};
}

// The input fed in chunks cut at the given points (flush only with the last chunk),
// and the output taken through a destination window of at most `window` bytes.
inline Outcome ConvertInChunks(CharsetConverter& conv, const Bytes& in,
                               const std::vector<std::size_t>& cuts, std::size_t window,
                               std::uint32_t options = 0) {
  conv.set_options(options);
  conv.Reset();
  PivotBuffer pivot;
  Bytes out;
  std::vector<std::size_t> bounds = cuts;
  bounds.push_back(in.size());
  std::size_t start = 0;
  int r = kConvDone;
  for (std::size_t k = 0; k < bounds.size(); ++k) {
    const bool last = k + 1 == bounds.size();
    const unsigned char* s = in.data() + start;
    const unsigned char* end = in.data() + bounds[k];
    for (int guard = 0; guard < 100000; ++guard) {
      unsigned char buf[1100];
      void* d = buf;
      const void* sp = s;
      r = conv.ContinueConvert(pivot, &d, buf + window, &sp, end, last ? 1u : 0u);
      out.insert(out.end(), buf, static_cast<unsigned char*>(d));
      s = static_cast<const unsigned char*>(sp);
      if (r != kConvDestFull) break;
    }
    if (r != kConvDone) return {out, r, conv.status(), static_cast<std::size_t>(s - in.data())};
    start = bounds[k];
  }
  return {out, r, conv.status(), in.size()};
}

class RegistryTest : public ::testing::Test {
 protected:
  // Libraries and data files are found beside the test program (the build's bin64/ and
  // res/), with no installation root set.
  RegistryTest() : installation_(nullptr) { locale_ = std::make_unique<UTLocale>(); }
  UTLocale* locale() { return locale_.get(); }

  ScopedInstallation installation_;
  std::unique_ptr<UTLocale> locale_;
};

#endif  // VQ_TESTS_UNIT_LOCALE_CONVERTER_FIXTURE_H

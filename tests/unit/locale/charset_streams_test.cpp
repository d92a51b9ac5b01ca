// The conversion streams: the same output however the text is cut on its way in or
// out (through the middle of multibyte characters, across the streams' own buffers),
// failures that end the stream, and the stream form of CharsetConverter::Convert.
#include "utils/locale/charset_streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "converter_fixture.h"

namespace {

// An unbuffered sink that keeps everything, or at most `limit` bytes.
class Sink : public UTOStream {
 public:
  explicit Sink(std::size_t limit = static_cast<std::size_t>(-1)) : limit_(limit) {}
  unsigned do_put(const unsigned char* src, unsigned n) override {
    const std::size_t take = std::min<std::size_t>(n, limit_ - bytes.size());
    bytes.insert(bytes.end(), src, src + take);
    if (take < n) eof = true;
    return static_cast<unsigned>(take);
  }
  Bytes bytes;

 private:
  std::size_t limit_;
};

// An unbuffered source over a byte vector.
class Source : public UTIStream {
 public:
  explicit Source(const Bytes& bytes) : bytes_(bytes) {}
  unsigned do_get(unsigned char* dst, unsigned n) override {
    const std::size_t take = std::min<std::size_t>(n, bytes_.size() - at_);
    std::copy(bytes_.begin() + at_, bytes_.begin() + at_ + take, dst);
    at_ += take;
    return static_cast<unsigned>(take);
  }
  std::size_t at() const { return at_; }

 private:
  const Bytes& bytes_;
  std::size_t at_ = 0;
};

struct Case {
  const char* to;
  const char* from;
  Bytes in;
};

// Pairs of every kind of implementation, inputs with multibyte characters, illegal
// bytes and an incomplete last character (replaced when the text ends).
std::vector<Case> Cases() {
  return {
      {"UTF-16LE", "UTF-8", Hex("41 C3 A9 E2 82 AC F0 9F 98 80 C0 AF ED A0 80 C3 41 E2 82")},
      {"UTF-8", "UTF-16LE", U16({0x41, 0xE9, 0xD83D, 0xDE00, 0xD800, 0x42, 0x20AC, 0xDC00})},
      {"UTF-16LE", "UTF-16BE", Hex("00 41 D8 3D DE 00 30 42 00")},
      {"UTF-8", "Shift_JIS", Hex("82 A0 41 93 FA 96 7B B1 82")},
      {"UTF-8", "EUC-JP", Hex("A4 A2 41 C6 FC 8E B1 A4")},
      {"Windows-31J", "UTF-8", Hex("E3 81 82 41 E4 B8 AD F0 9F 98 80 C3 A9")},
      {"windows-1252", "ISO-8859-1", Hex("41 E9 80 FF")},
      {"UTF-8", "UTF-8", Hex("41 C3 A9 E2")},
  };
}

// The one-shot conversion every streamed form must match.
Bytes Whole(CharsetConverter& conv, const Bytes& in) {
  Bytes out(in.size() * 4 + 64);
  unsigned written = 0;
  EXPECT_EQ(conv.Convert(out.data(), static_cast<unsigned>(out.size()), &written, in.data(),
                         static_cast<unsigned>(in.size())),
            kConvDone);
  out.resize(written);
  return out;
}

// Writes `in` through a CSConvOStream in pieces that end at `cuts`, into an unbuffered
// sink, or into a buffered one whose window holds `window` bytes (0: unbuffered).
Bytes WriteInPieces(CharsetConverter& conv, const Bytes& in,
                    const std::vector<std::size_t>& cuts, unsigned window) {
  conv.Reset();
  Sink sink;
  {
    UTOStreamBuffer buffer(sink, window > 0 ? window : 1);
    UTOStream& target = window > 0 ? static_cast<UTOStream&>(buffer) : sink;
    CSConvOStream out(conv, target);
    std::size_t at = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(in.size());
    for (std::size_t end : ends) {
      EXPECT_EQ(out.put(in.data() + at, static_cast<unsigned>(end - at)), end - at);
      at = end;
    }
    out.flush(true);
    EXPECT_EQ(out.status(), kConvDone);
    EXPECT_EQ(out.consumed(), in.size());
    EXPECT_TRUE(out.eof);
  }
  return sink.bytes;
}

// Reads the conversion of `in` through a CSConvIStream `piece` bytes at a time, from an
// unbuffered source or one buffered in windows of `window` bytes (0: unbuffered).
Bytes ReadInPieces(CharsetConverter& conv, const Bytes& in, unsigned piece, unsigned window) {
  conv.Reset();
  Source raw(in);
  UTIStreamBuffer buffer(raw, window > 0 ? window : 1);
  UTIStream& source = window > 0 ? static_cast<UTIStream&>(buffer) : raw;
  CSConvIStream stream(conv, source);
  Bytes out;
  std::vector<unsigned char> buf(piece);
  for (int guard = 0; guard < 100000 && !stream.eof; ++guard) {
    const unsigned n = stream.get(buf.data(), piece);
    out.insert(out.end(), buf.begin(), buf.begin() + n);
    if (n < piece) {
      EXPECT_TRUE(stream.eof) << "a short read only at the end";
    }
  }
  EXPECT_TRUE(stream.eof);
  EXPECT_EQ(stream.status(), kConvDone);
  EXPECT_EQ(stream.consumed(), in.size());
  EXPECT_EQ(stream.produced(), out.size());
  return out;
}

class ConversionStreams : public RegistryTest {};

TEST_F(ConversionStreams, WritingInAnyPiecesGivesTheWholeConversion) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(std::string(c.to) + " <- " + c.from);
    CharsetConverter conv(locale(), Charset(c.to), Charset(c.from));
    const Bytes whole = Whole(conv, c.in);
    ASSERT_FALSE(whole.empty());
    std::vector<std::size_t> every_byte;
    for (std::size_t i = 1; i < c.in.size(); ++i) every_byte.push_back(i);
    for (unsigned window : {0u, 1u, 3u, 7u, 4096u}) {
      SCOPED_TRACE("window " + std::to_string(window));
      for (std::size_t cut = 0; cut <= c.in.size(); ++cut) {
        EXPECT_EQ(ToHex(WriteInPieces(conv, c.in, {cut}, window)), ToHex(whole))
            << "cut " << cut;
      }
      EXPECT_EQ(ToHex(WriteInPieces(conv, c.in, every_byte, window)), ToHex(whole));
    }
  }
}

TEST_F(ConversionStreams, ReadingInAnyPiecesGivesTheWholeConversion) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(std::string(c.to) + " <- " + c.from);
    CharsetConverter conv(locale(), Charset(c.to), Charset(c.from));
    const Bytes whole = Whole(conv, c.in);
    for (unsigned window : {0u, 1u, 2u, 3u, 5u, 7u, 4096u}) {
      for (unsigned piece : {1u, 2u, 3u, 5u, 1024u}) {
        EXPECT_EQ(ToHex(ReadInPieces(conv, c.in, piece, window)), ToHex(whole))
            << "window " << window << ", pieces of " << piece;
      }
    }
  }
}

TEST_F(ConversionStreams, TextLongerThanTheStreamsOwnBuffers) {
  // 3-byte characters across the 512-byte staging and output areas, through a pivot.
  Bytes in;
  for (int i = 0; i < 700; ++i) {
    const Bytes ch = (i % 3 == 0)   ? Hex("E3 81 82")
                     : (i % 3 == 1) ? Hex("41")
                                    : Hex("E6 97 A5");
    in.insert(in.end(), ch.begin(), ch.end());
  }
  for (const char* to : {"UTF-16LE", "EUC-JP"}) {
    SCOPED_TRACE(to);
    CharsetConverter conv(locale(), Charset(to), Charset("UTF-8"));
    const Bytes whole = Whole(conv, in);
    EXPECT_EQ(WriteInPieces(conv, in, {511, 1025}, 0), whole);
    EXPECT_EQ(ReadInPieces(conv, in, 700, 0), whole);
    EXPECT_EQ(ReadInPieces(conv, in, 4096, 509), whole);
  }
}

TEST_F(ConversionStreams, ReportedFailuresEndTheStream) {
  struct Fault {
    std::uint32_t option;
    Bytes in;
    int result;
    Bytes out;  // UTF-16LE produced before the stop
  } faults[] = {
      {kConvIllegalSequence, Hex("41 FF 42"), kConvIllegal, U16({0x41})},
      {kConvIncompleteInput, Hex("41 E3 81"), kConvIncomplete, U16({0x41})},
      {0, Hex("41 E3 81"), kConvDone, U16({0x41, 0xFFFD})},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(ToHex(f.in));
    CharsetConverter conv(locale(), locale()->utf16le_charset(), Charset("UTF-8"));
    conv.set_options(f.option);
    {
      Sink sink;
      CSConvOStream out(conv, sink);
      out.put(f.in.data(), static_cast<unsigned>(f.in.size()));
      out.flush(true);
      EXPECT_EQ(out.status(), f.result);
      EXPECT_TRUE(out.eof);
      EXPECT_EQ(ToHex(sink.bytes), ToHex(f.out));
      EXPECT_EQ(out.put("A", 1), 0u);  // nothing more after the end
    }
    conv.Reset();
    Source raw(f.in);
    CSConvIStream in(conv, raw);
    unsigned char buf[64];
    const unsigned n = in.get(buf, sizeof buf);
    EXPECT_EQ(ToHex(Bytes(buf, buf + n)), ToHex(f.out));
    EXPECT_EQ(in.status(), f.result);
    EXPECT_TRUE(in.eof);
    EXPECT_EQ(in.get(buf, sizeof buf), 0u);
  }
}

TEST_F(ConversionStreams, ConvertBetweenStreams) {
  CharsetConverter conv(locale(), locale()->utf16le_charset(), Charset("UTF-8"));
  const Bytes text = Hex("41 C3 A9 E2 82 AC 42");
  // Only len bytes are taken from the source; a character cut by len is replaced.
  struct Case {
    unsigned len;
    Bytes out;
  } cases[] = {
      {7, U16({0x41, 0xE9, 0x20AC, 0x42})},
      {6, U16({0x41, 0xE9, 0x20AC})},
      {5, U16({0x41, 0xE9, 0xFFFD})},
      {0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.len);
    // A character held from an earlier conversion does not leak into this one.
    PivotBuffer pivot;
    unsigned char scratch[8];
    void* d = scratch;
    const unsigned char lead = 0xE2;
    const void* s = &lead;
    conv.ContinueConvert(pivot, &d, scratch + sizeof scratch, &s, &lead + 1, 0);

    UTBufIStream in(text.data(), static_cast<unsigned>(text.size()));
    Sink out;
    unsigned written = 99;
    EXPECT_EQ(conv.Convert(out, &written, in, c.len), kConvDone);
    EXPECT_EQ(ToHex(out.bytes), ToHex(c.out));
    EXPECT_EQ(written, c.out.size());
    EXPECT_EQ(in.available(), text.size() - c.len);
  }
  // A target that fills up keeps what fits; nothing is written past it.
  unsigned char block[5];
  UTBufOStream small(block, sizeof block);
  UTBufIStream in(text.data(), static_cast<unsigned>(text.size()));
  unsigned written = 0;
  EXPECT_EQ(conv.Convert(small, &written, in, static_cast<unsigned>(text.size())), kConvDone);
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(ToHex(Bytes(block, block + 5)), "41 00 E9 00 AC");
}

}  // namespace

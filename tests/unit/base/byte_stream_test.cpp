#include "utils/base/byte_stream.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// An unbuffered stream over a text that delivers at most `chunk` bytes per do_get,
// the way a pipe or a socket would.
class ChunkedIStream : public UTIStream {
 public:
  ChunkedIStream(std::string data, unsigned chunk) : data_(std::move(data)), chunk_(chunk) {}
  unsigned do_get(unsigned char* dst, unsigned n) override {
    unsigned done = 0;
    while (done < n && pos_ < data_.size()) {
      const unsigned take =
          std::min<unsigned>({n - done, chunk_, static_cast<unsigned>(data_.size() - pos_)});
      std::memcpy(dst + done, data_.data() + pos_, take);
      pos_ += take;
      done += take;
    }
    if (pos_ == data_.size() && done < n) eof = true;
    return done;
  }

 private:
  std::string data_;
  unsigned chunk_;
  std::size_t pos_ = 0;
};

// An unbuffered output stream that collects what it is given, up to a limit.
class CollectingOStream : public UTOStream {
 public:
  explicit CollectingOStream(std::size_t limit = SIZE_MAX) : limit_(limit) {}
  unsigned do_put(const unsigned char* src, unsigned n) override {
    if (eof) return 0;
    const unsigned take = static_cast<unsigned>(std::min<std::size_t>(n, limit_ - text.size()));
    text.append(reinterpret_cast<const char*>(src), take);
    if (take < n) eof = true;
    return take;
  }
  std::string text;

 private:
  std::size_t limit_;
};

// An unbuffered output stream that takes at most `per_put` bytes at a time and never
// ends: a pipe or socket that accepts part of a write.
class TrickleOStream : public UTOStream {
 public:
  explicit TrickleOStream(unsigned per_put) : per_put_(per_put) {}
  unsigned do_put(const unsigned char* src, unsigned n) override {
    const unsigned take = std::min(n, per_put_);
    text.append(reinterpret_cast<const char*>(src), take);
    return take;
  }
  std::string text;

 private:
  unsigned per_put_;
};

std::string ReadAll(UTIStream& in, unsigned piece = 7) {
  std::string out;
  unsigned char buf[64];
  unsigned n;
  while ((n = in.get(buf, piece)) > 0) out.append(reinterpret_cast<char*>(buf), n);
  return out;
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}

TEST(ByteStream, MemoryBlocksEndWhereTheBlockEnds) {
  const char data[] = "0123456789";
  UTBufIStream in(data, 10);
  unsigned char buf[16];
  EXPECT_EQ(in.get(buf, 16), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 10), "0123456789");
  EXPECT_EQ(in.get(buf, 16), 0u);
  EXPECT_TRUE(in.eof);
  EXPECT_EQ(in.cur, nullptr);

  unsigned char block[8 + 4];
  std::memset(block, 0x7F, sizeof block);
  UTBufOStream out(block, 8);
  EXPECT_EQ(out.put("abcdefghijkl", 12), 8u);
  EXPECT_TRUE(out.eof);
  EXPECT_EQ(out.size(), 8u);
  EXPECT_EQ(out.put("x", 1), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 8), "abcdefgh");
  EXPECT_EQ(block[8], 0x7F);

  // Filling the block exactly is not yet its end.
  unsigned char exact[4];
  UTBufOStream full(exact, 4);
  EXPECT_EQ(full.put("wxyz", 4), 4u);
  EXPECT_FALSE(full.eof);
  EXPECT_EQ(full.size(), 4u);
}

TEST(ByteStream, InputBufferDeliversEverythingWhateverTheSizes) {
  const std::string data = Pattern(5000);
  for (unsigned buffer : {1u, 3u, 16u, 4096u, 9000u}) {
    for (unsigned chunk : {1u, 5u, 1000u}) {
      SCOPED_TRACE(std::to_string(buffer) + "/" + std::to_string(chunk));
      ChunkedIStream source(data, chunk);
      UTIStreamBuffer in(source, buffer);
      EXPECT_EQ(ReadAll(in, 13), data);
      EXPECT_TRUE(in.eof);
    }
  }
}

TEST(ByteStream, SkipAndAppendReportWhatReallyPassed) {
  const std::string data = Pattern(5000);
  {
    ChunkedIStream in(data, 100);
    EXPECT_EQ(in.skip(10), 10u);
    EXPECT_EQ(in.skip(10000), 4990u);  // only what was there
    EXPECT_TRUE(in.eof);
  }
  {
    ChunkedIStream source(data, 100);
    UTIStreamBuffer in(source, 64);
    EXPECT_EQ(in.skip(100), 100u);
    unsigned char c;
    ASSERT_EQ(in.get(&c, 1), 1u);
    EXPECT_EQ(c, static_cast<unsigned char>(data[100]));
    EXPECT_EQ(in.skip(10000), 4899u);
  }
  for (bool buffered_source : {false, true}) {
    SCOPED_TRACE(buffered_source);
    ChunkedIStream source(data, 333);
    UTIStreamBuffer buffer(source, 50);
    UTIStream& in = buffered_source ? static_cast<UTIStream&>(buffer) : source;
    CollectingOStream out;
    EXPECT_EQ(in.append_to(out, 4000), 4000u);
    EXPECT_EQ(in.append_to(out, 4000), 1000u);
    EXPECT_EQ(out.text, data);
    // An output that ends stops the copy.
    ChunkedIStream again(data, 333);
    CollectingOStream small(10);
    EXPECT_EQ(again.append_to(small, 100), 10u);
    EXPECT_EQ(small.text, data.substr(0, 10));
  }
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

TEST(ByteStream, CompareLikeMemcmpLongerIsGreater) {
  std::string long_a = Pattern(3000), long_b = long_a;
  long_b[2000] = '~';
  struct Case {
    std::string a, b;
    int sign;
  } const cases[] = {
      {"abc", "abd", -1},
      {"abc", "abcd", -1},
      {"abcd", "abc", 1},
      {"abc", "abc", 0},
      {"", "", 0},
      {"", "a", -1},
      {"\xff", "\x01", 1},
      {long_a, long_a, 0},
      {long_a, long_b, -1},
      {long_a + "x", long_a, 1},
      {Pattern(16), Pattern(17), -1},
      {Pattern(48), Pattern(48), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a.substr(0, 8) + " vs " + c.b.substr(0, 8));
    {  // both unbuffered, delivered in awkward pieces
      ChunkedIStream a(c.a, 5), b(c.b, 3);
      EXPECT_EQ(Sign(a.compare(b)), c.sign);
    }
    {  // both buffered, windows of different sizes
      ChunkedIStream sa(c.a, 5), sb(c.b, 3);
      UTIStreamBuffer a(sa, 7), b(sb, 4);
      EXPECT_EQ(Sign(a.compare(b)), c.sign);
    }
    {  // memory block against unbuffered
      UTBufIStream a(c.a.data(), static_cast<unsigned>(c.a.size()));
      ChunkedIStream b(c.b, 1);
      EXPECT_EQ(Sign(a.compare(b)), c.sign);
    }
  }
}

TEST(ByteStream, OutputBufferPassesFullWindowsAndTheRestWhenDestroyed) {
  unsigned char block[32];
  UTBufOStream dest(block, sizeof block);
  {
    UTOStreamBuffer out(dest, 4);
    EXPECT_EQ(out.put("0123456789", 10), 10u);
    EXPECT_EQ(dest.size(), 8u);
  }
  EXPECT_EQ(dest.size(), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 10), "0123456789");

  // A destination that stops taking bytes ends the buffer too.
  CollectingOStream limited(6);
  UTOStreamBuffer out(limited, 4);
  const unsigned accepted = out.put("abcdefghijkl", 12);
  EXPECT_TRUE(out.eof);
  EXPECT_LT(accepted, 12u);
  EXPECT_EQ(limited.text, "abcdef");
}

TEST(ByteStream, OutputBufferHandsEverythingToADestinationThatTakesLittleAtATime) {
  const std::string text = Pattern(1000);
  for (unsigned per_put : {1u, 3u, 5u}) {
    for (unsigned size : {1u, 4u, 7u, 64u}) {
      for (unsigned piece : {1u, 6u, 100u}) {
        SCOPED_TRACE(testing::Message() << "per put " << per_put << ", buffer " << size
                                        << ", pieces of " << piece);
        TrickleOStream dest(per_put);
        {
          UTOStreamBuffer out(dest, size);
          for (std::size_t at = 0; at < text.size(); at += piece) {
            const auto n = static_cast<unsigned>(std::min<std::size_t>(piece, text.size() - at));
            ASSERT_EQ(out.put(text.data() + at, n), n);
          }
          EXPECT_FALSE(out.eof);
        }
        EXPECT_EQ(dest.text, text);
      }
    }
  }
}

TEST(ByteStream, InputCountersCountAndHandThePositionBack) {
  const std::string data = Pattern(300);
  {
    ChunkedIStream source(data, 7);
    UTIStreamCounter counter(source);
    EXPECT_EQ(ReadAll(counter, 11), data);
    EXPECT_EQ(counter.count(), 300u);
    EXPECT_TRUE(counter.eof);
  }
  ChunkedIStream source(data, 9);
  UTIStreamBuffer buffer(source, 16);
  unsigned char buf[64];
  ASSERT_EQ(buffer.get(buf, 3), 3u);
  {
    UTBufferedIStreamCounter counter(buffer);
    ASSERT_EQ(counter.get(buf, 40), 40u);  // across several refills of the source
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 40), data.substr(3, 40));
    EXPECT_EQ(counter.count(), 40u);
    EXPECT_EQ(counter.skip(5), 5u);
    EXPECT_EQ(counter.count(), 45u);
  }
  // The source goes on where the counter stopped.
  ASSERT_EQ(buffer.get(buf, 4), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), data.substr(48, 4));
  {
    UTBufferedIStreamCounter counter(buffer);
    EXPECT_EQ(ReadAll(counter, 50), data.substr(52));
    EXPECT_TRUE(counter.eof);
    EXPECT_EQ(counter.count(), 248u);
  }
  EXPECT_TRUE(buffer.eof);
}

TEST(ByteStream, OutputCountersCountAndHandThePositionBack) {
  CollectingOStream sink;
  UTOStreamCounter counter(sink);
  counter.put("hello", 5);
  counter << 12345ul;
  EXPECT_EQ(counter.count(), 10u);
  EXPECT_EQ(sink.text, "hello12345");

  CollectingOStream dest;
  {
    UTOStreamBuffer buffer(dest, 8);
    buffer.put("ab", 2);
    {
      UTBufferedOStreamCounter bc(buffer);
      EXPECT_EQ(bc.put("0123456789ABCDEFGHIJ", 20), 20u);  // across windows
      EXPECT_EQ(bc.count(), 20u);
    }
    buffer.put("yz", 2);
  }
  EXPECT_EQ(dest.text, "ab0123456789ABCDEFGHIJyz");

  unsigned char block[6];
  UTBufOStream small(block, sizeof block);
  UTBufferedOStreamCounter bc(small);
  EXPECT_EQ(bc.put("0123456789", 10), 6u);
  EXPECT_TRUE(bc.eof);
  EXPECT_EQ(bc.count(), 6u);
}

TEST(ByteStream, NumbersAsText) {
  struct Case {
    std::function<void(UTOStream&)> write;
    const char* text;
  } const cases[] = {
      {[](UTOStream& o) { o << 2.5; }, "2.5"},
      {[](UTOStream& o) { o << 0.0; }, "0"},
      {[](UTOStream& o) { o << -1500.0; }, "-1500"},
      {[](UTOStream& o) { o << 0ul; }, "0"},
      {[](UTOStream& o) { o << -42l; }, "-42"},
      {[](UTOStream& o) { o << LONG_MIN; }, "-9223372036854775808"},
      {[](UTOStream& o) { o << ULLONG_MAX; }, "18446744073709551615"},
      {[](UTOStream& o) { o << 4294967296ul; }, "4294967296"},  // beyond 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CollectingOStream out;
    c.write(out);
    EXPECT_EQ(out.text, c.text);
  }
}

TEST(ByteStream, MultibyteCharacters) {
  unsigned char classes[256] = {};
  classes[0x81] = 1;                                 // one trail byte
  classes[0xF0] = 3;                                 // three trail bytes
  const std::string data = "a\x81\x40\xF0\x01\x02";  // the last character is cut short
  UTBufIStream in(data.data(), static_cast<unsigned>(data.size()));
  an_mbcs_character c;
  c.classes = classes;
  const std::vector<std::string> expected = {"a", "\x81\x40", "\xF0\x01\x02", ""};
  for (const std::string& e : expected) {
    in.do_get_mbcs(c);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(c.bytes), c.length), e);
  }
}

}  // namespace

// Byte streams: memory blocks, buffering adapters, counters, comparison and output of
// numbers.
#include "utils/base/byte_stream.h"

#include <algorithm>

#include "utils/base/memory.h"
#include "utils/base/number_conversion.h"

namespace {

constexpr unsigned kPieceBytes = 4096;  // skip and append_to of unbuffered streams
constexpr unsigned kFirstCompareBlock = 16;
constexpr unsigned kLastCompareBlock = 1024;
constexpr unsigned kDoubleWidth = 39;

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

// ---- Input ---------------------------------------------------------------------------

unsigned UTIStream::skip(unsigned n) {
  unsigned char piece[kPieceBytes];
  unsigned done = 0;
  while (done < n && !eof) {
    const unsigned want = std::min(n - done, kPieceBytes);
    const unsigned got = get(piece, want);
    done += got;
    if (got < want) break;
  }
  // The bytes really skipped: a short piece at the end is not counted whole.
  return done;
}

unsigned UTIStream::append_to(UTOStream& out, unsigned n) {
  unsigned char piece[kPieceBytes];
  unsigned done = 0;
  while (done < n && !eof && !out.eof) {
    const unsigned got = get(piece, std::min(n - done, kPieceBytes));
    if (got == 0) {
      set_eof();
      break;
    }
    const unsigned put = out.put(piece, got);
    done += put;
    if (put < got) break;
  }
  return done;
}

void UTIStream::set_eof() { eof = true; }

void* UTIStream::get_seekable() { return nullptr; }

int UTIStream::compare(UTIStream& other) {
  if (buffered && other.buffered)
    return static_cast<UTBufferedIStream*>(this)->compare(
        static_cast<UTBufferedIStream&>(other));
  unsigned char a[kLastCompareBlock];
  unsigned char b[kLastCompareBlock];
  unsigned block = kFirstCompareBlock;
  for (;;) {
    const unsigned na = get(a, block);
    const unsigned nb = other.get(b, block);
    const unsigned common = std::min(na, nb);
    if (common > 0) {
      const int diff = std::memcmp(a, b, common);
      if (diff != 0) return Sign(diff);
    }
    if (na != nb) return na > nb ? 1 : -1;
    if (na < block) return 0;  // both ended in this step with the same bytes
    if (block < kLastCompareBlock) block *= 2;
  }
}

void UTIStream::do_get_mbcs(an_mbcs_character& character) {
  character.length = 0;
  unsigned char lead;
  if (get(&lead, 1) != 1) return;
  character.bytes[0] = lead;
  character.length = 1;
  const unsigned trail = character.classes != nullptr ? (character.classes[lead] & 3u) : 0u;
  for (unsigned i = 0; i < trail; ++i) {
    unsigned char byte;
    if (get(&byte, 1) != 1) return;  // the end of input cuts the character short
    character.bytes[character.length++] = byte;
  }
}

unsigned UTBufferedIStream::do_get(unsigned char* dst, unsigned n) {
  unsigned done = 0;
  for (;;) {
    const unsigned take = std::min(n - done, available());
    if (take > 0) {
      std::memcpy(dst + done, cur, take);
      cur += take;
      done += take;
    }
    if (done == n || eof) return done;
    refill();
  }
}

unsigned UTBufferedIStream::skip(unsigned n) {
  unsigned done = 0;
  for (;;) {
    const unsigned take = std::min(n - done, available());
    cur += take;
    done += take;
    if (done == n || eof) return done;
    refill();
  }
}

unsigned UTBufferedIStream::append_to(UTOStream& out, unsigned n) {
  unsigned done = 0;
  for (;;) {
    const unsigned take = std::min(n - done, available());
    if (take > 0) {
      const unsigned put = out.put(cur, take);
      cur += put;
      done += put;
      if (put < take) return done;
    }
    if (done == n || eof || out.eof) return done;
    refill();
  }
}

void UTBufferedIStream::set_eof() {
  eof = true;
  cur = nullptr;
  end = nullptr;
}

int UTBufferedIStream::compare(UTBufferedIStream& other) {
  for (;;) {
    if (cur == end && !eof) refill();
    if (other.cur == other.end && !other.eof) other.refill();
    const bool a_done = cur == end;
    const bool b_done = other.cur == other.end;
    if (a_done || b_done) return a_done == b_done ? 0 : (a_done ? -1 : 1);
    const unsigned common = std::min(available(), other.available());
    for (unsigned i = 0; i < common; ++i) {
      if (cur[i] != other.cur[i]) return cur[i] < other.cur[i] ? -1 : 1;
    }
    cur += common;
    other.cur += common;
  }
}

UTBufIStream::UTBufIStream(const void* data, unsigned size) {
  cur = static_cast<const unsigned char*>(data);
  end = cur + size;
  if (data == nullptr) set_eof();
}

void UTBufIStream::refill() { set_eof(); }

UTIStreamBuffer::UTIStreamBuffer(UTIStream& source, unsigned buffer_size)
    : source_(&source),
      buffer_(static_cast<unsigned char*>(ut_alloc(buffer_size == 0 ? 1 : buffer_size))),
      buffer_size_(buffer_size == 0 ? 1 : buffer_size) {
  cur = end = buffer_;
}

UTIStreamBuffer::~UTIStreamBuffer() { ut_free(buffer_); }

void UTIStreamBuffer::refill() {
  const unsigned got = source_->get(buffer_, buffer_size_);
  if (got == 0) {
    set_eof();
    return;
  }
  cur = buffer_;
  end = buffer_ + got;
}

unsigned UTIStreamCounter::do_get(unsigned char* dst, unsigned n) {
  const unsigned got = source_->get(dst, n);
  count_ += got;
  if (source_->eof) eof = true;
  return got;
}

UTBufferedIStreamCounter::UTBufferedIStreamCounter(UTBufferedIStream& source)
    : source_(&source) {
  cur = mark_ = source.cur;
  end = source.end;
  eof = source.eof;
}

UTBufferedIStreamCounter::~UTBufferedIStreamCounter() { hand_back(); }

void UTBufferedIStreamCounter::hand_back() {
  if (cur == nullptr) return;
  count_ += static_cast<unsigned>(cur - mark_);
  source_->cur = cur;
  mark_ = cur;
}

void UTBufferedIStreamCounter::refill() {
  hand_back();
  source_->refill();
  if (source_->eof && source_->cur == source_->end) {
    UTBufferedIStream::set_eof();
    mark_ = nullptr;
    return;
  }
  cur = mark_ = source_->cur;
  end = source_->end;
}

void UTBufferedIStreamCounter::set_eof() {
  hand_back();
  UTBufferedIStream::set_eof();
  mark_ = nullptr;
}

// ---- Output --------------------------------------------------------------------------

void UTOStream::set_eof() { eof = true; }

UTOStream& UTOStream::operator<<(unsigned long value) {
  char digits[24];
  u64toa(value, digits, 10);
  put(digits, static_cast<unsigned>(std::strlen(digits)));
  return *this;
}

UTOStream& UTOStream::operator<<(long value) {
  char digits[24];
  i64toa(value, digits, 10);
  put(digits, static_cast<unsigned>(std::strlen(digits)));
  return *this;
}

UTOStream& UTOStream::operator<<(unsigned long long value) {
  char digits[24];
  u64toa(value, digits, 10);
  put(digits, static_cast<unsigned>(std::strlen(digits)));
  return *this;
}

UTOStream& UTOStream::operator<<(double value) {
  char text[kDoubleWidth + 1];
  const int n = gfmt(value, text, kDoubleWidth);
  if (n > 0) put(text, static_cast<unsigned>(n));
  return *this;
}

unsigned UTBufferedOStream::do_put(const unsigned char* src, unsigned n) {
  unsigned done = 0;
  for (;;) {
    if (eof) return done;
    const unsigned take = std::min(n - done, room());
    if (take > 0) {
      std::memcpy(cur, src + done, take);
      cur += take;
      done += take;
    }
    if (done == n) return done;
    make_room();
  }
}

void UTBufferedOStream::set_eof() {
  eof = true;
  cur = nullptr;
  end = nullptr;
}

UTBufOStream::UTBufOStream(void* data, unsigned size)
    : base_(static_cast<unsigned char*>(data)) {
  cur = base_;
  end = base_ + size;
  if (data == nullptr) set_eof();
}

void UTBufOStream::make_room() { set_eof(); }

void UTBufOStream::set_eof() {
  if (cur != nullptr) written_at_eof_ = static_cast<unsigned>(cur - base_);
  UTBufferedOStream::set_eof();
}

unsigned UTBufOStream::size() const {
  return cur != nullptr ? static_cast<unsigned>(cur - base_) : written_at_eof_;
}

UTOStreamBuffer::UTOStreamBuffer(UTOStream& dest, unsigned buffer_size)
    : dest_(&dest),
      buffer_(static_cast<unsigned char*>(ut_alloc(buffer_size == 0 ? 1 : buffer_size))),
      buffer_size_(buffer_size == 0 ? 1 : buffer_size) {
  cur = buffer_;
  end = buffer_ + buffer_size_;
  eof = dest.eof;
}

UTOStreamBuffer::~UTOStreamBuffer() {
  flush();
  ut_free(buffer_);
}

// Writes the buffered bytes to the destination; false when it did not take them all.
// A destination may take part of a block without reaching its end (a pipe, a socket),
// so the rest is offered again until it is all taken or the destination takes nothing.
bool UTOStreamBuffer::flush() {
  if (cur == nullptr) return false;
  const unsigned n = static_cast<unsigned>(cur - buffer_);
  unsigned done = 0;
  while (done < n) {
    const unsigned took = dest_->put(buffer_ + done, n - done);
    if (took == 0 || took > n - done) break;
    done += took;
  }
  cur = buffer_;
  return done == n;
}

void UTOStreamBuffer::make_room() {
  // A destination that stops taking bytes ends this stream too, so the writer learns
  // that its bytes did not all arrive.
  if (!flush() || dest_->eof) {
    set_eof();
    return;
  }
  cur = buffer_;
  end = buffer_ + buffer_size_;
}

unsigned UTOStreamCounter::do_put(const unsigned char* src, unsigned n) {
  const unsigned put = dest_->put(src, n);
  count_ += put;
  if (dest_->eof) eof = true;
  return put;
}

UTBufferedOStreamCounter::UTBufferedOStreamCounter(UTBufferedOStream& dest) : dest_(&dest) {
  cur = mark_ = dest.cur;
  end = dest.end;
  eof = dest.eof;
}

UTBufferedOStreamCounter::~UTBufferedOStreamCounter() { hand_back(); }

void UTBufferedOStreamCounter::hand_back() {
  if (cur == nullptr) return;
  count_ += static_cast<unsigned>(cur - mark_);
  dest_->cur = cur;
  mark_ = cur;
}

void UTBufferedOStreamCounter::make_room() {
  hand_back();
  dest_->make_room();
  if (dest_->eof) {
    UTBufferedOStream::set_eof();
    mark_ = nullptr;
    return;
  }
  cur = mark_ = dest_->cur;
  end = dest_->end;
}

void UTBufferedOStreamCounter::set_eof() {
  hand_back();
  UTBufferedOStream::set_eof();
  mark_ = nullptr;
}

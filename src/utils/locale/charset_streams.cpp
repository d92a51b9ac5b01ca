// The conversion streams and the stream form of CharsetConverter::Convert.
#include "utils/locale/charset_streams.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned kLocalBytes = 512;  // output staging towards an unbuffered target

// Any address serves as the empty input of a flushing call.
const unsigned char kNoInput = 0;

bool IsFailure(int result) { return result != kConvDone && result != kConvDestFull; }

}  // namespace

// ---- CSConvOStream -------------------------------------------------------------------

CSConvOStream::CSConvOStream(CharsetConverter& converter, UTOStream& target)
    : converter_(converter), target_(target) {
  eof = target.eof;
}

void CSConvOStream::Fail(int result) {
  status_ = std::max(status_, result);
  set_eof();
}

int CSConvOStream::ConvertInto(const unsigned char** src, const unsigned char* src_end,
                               unsigned flush, bool* wrote) {
  *wrote = false;
  const void* s = *src;
  if (target_.buffered) {
    // Straight into the target's window.
    auto& t = static_cast<UTBufferedOStream&>(target_);
    if (t.room() == 0) t.make_room();
    if (t.eof || t.room() == 0) {
      set_eof();
      return kConvDestFull;
    }
    void* d = t.cur;
    const int result = converter_.ContinueConvert(pivot_, &d, t.end, &s, src_end, flush);
    const unsigned n = static_cast<unsigned>(static_cast<unsigned char*>(d) - t.cur);
    t.cur += n;
    produced_ += n;
    *wrote = n > 0;
    consumed_ += static_cast<const unsigned char*>(s) - *src;
    *src = static_cast<const unsigned char*>(s);
    return result;
  }
  unsigned char local[kLocalBytes];
  void* d = local;
  const int result =
      converter_.ContinueConvert(pivot_, &d, local + sizeof local, &s, src_end, flush);
  const unsigned n = static_cast<unsigned>(static_cast<unsigned char*>(d) - local);
  consumed_ += static_cast<const unsigned char*>(s) - *src;
  *src = static_cast<const unsigned char*>(s);
  if (n > 0) {
    const unsigned put = target_.put(local, n);
    produced_ += put;
    *wrote = put > 0;
    // The target ended: what it did not take is lost, and so is the rest.
    if (put < n) set_eof();
  }
  return result;
}

unsigned CSConvOStream::do_put(const unsigned char* src, unsigned n) {
  const unsigned char* s = src;
  const unsigned char* const end = src + n;
  int idle_rounds = 0;
  while (s < end && !eof) {
    const unsigned char* before = s;
    bool wrote = false;
    const int result = ConvertInto(&s, end, 0, &wrote);
    if (IsFailure(result)) {
      Fail(result);
      break;
    }
    // A full buffered target opens its next window in the next round; two rounds
    // without progress mean the target takes nothing more.
    idle_rounds = s != before || wrote ? 0 : idle_rounds + 1;
    if (idle_rounds > 1) break;
  }
  return static_cast<unsigned>(s - src);
}

void CSConvOStream::flush(bool final) {
  int idle_rounds = 0;
  while (!eof) {
    const unsigned char* s = &kNoInput;
    bool wrote = false;
    const int result = ConvertInto(&s, &kNoInput, 1, &wrote);
    if (IsFailure(result)) {
      Fail(result);
      break;
    }
    if (result == kConvDone) break;
    // kConvDestFull: a buffered target opens its next window in the next round; two
    // rounds without output mean it cannot take more.
    idle_rounds = wrote ? 0 : idle_rounds + 1;
    if (idle_rounds > 1) break;
  }
  if (final) set_eof();
}

// ---- CSConvIStream -------------------------------------------------------------------

CSConvIStream::CSConvIStream(CharsetConverter& converter, UTIStream& source)
    : converter_(converter), source_(source) {}

void CSConvIStream::Fail(int result) {
  status_ = std::max(status_, result);
  set_eof();
}

bool CSConvIStream::SourceBytes(const unsigned char** begin, const unsigned char** end) {
  if (source_.buffered) {
    auto& b = static_cast<UTBufferedIStream&>(source_);
    if (b.available() == 0 && !b.eof) b.refill();
    if (b.eof || b.available() == 0) return false;
    *begin = b.cur;
    *end = b.end;
    return true;
  }
  if (staged_ < sizeof staging_ && !source_.eof) {
    staged_ +=
        source_.get(staging_ + staged_, static_cast<unsigned>(sizeof staging_ - staged_));
  }
  if (staged_ == 0) return false;
  *begin = staging_;
  *end = staging_ + staged_;
  return true;
}

void CSConvIStream::Consume(unsigned n) {
  consumed_ += n;
  if (source_.buffered) {
    static_cast<UTBufferedIStream&>(source_).cur += n;
    return;
  }
  std::memmove(staging_, staging_ + n, staged_ - n);
  staged_ -= n;
}

unsigned CSConvIStream::do_get(unsigned char* dst, unsigned n) {
  unsigned char* d = dst;
  unsigned char* const end = dst + n;
  while (d < end && !eof) {
    const unsigned char* in = nullptr;
    const unsigned char* in_end = nullptr;
    void* out = d;
    if (!SourceBytes(&in, &in_end)) {
      // The source has ended: drain what the converter holds.
      const void* s = &kNoInput;
      const int result = converter_.ContinueConvert(pivot_, &out, end, &s, &kNoInput, 1);
      d = static_cast<unsigned char*>(out);
      if (IsFailure(result)) {
        Fail(result);
      } else if (result == kConvDone) {
        set_eof();
      }
      break;
    }
    const void* s = in;
    const int result = converter_.ContinueConvert(pivot_, &out, end, &s, in_end, 0);
    const unsigned used = static_cast<unsigned>(static_cast<const unsigned char*>(s) - in);
    Consume(used);
    unsigned char* const before = d;
    d = static_cast<unsigned char*>(out);
    if (IsFailure(result)) {
      Fail(result);
      break;
    }
    if (used == 0 && d == before) break;  // nothing moves: give what we have
  }
  produced_ += static_cast<unsigned>(d - dst);
  return static_cast<unsigned>(d - dst);
}

// ---- The stream form of Convert --------------------------------------------------------

int CharsetConverter::Convert(UTOStream& out, unsigned int* written, UTIStream& in,
                              unsigned int len) {
  if (written != nullptr) *written = 0;
  if (impl_ == nullptr) return kConvFailed;
  impl_->Reset();
  CSConvOStream conv(*this, out);
  in.append_to(conv, len);
  conv.flush(true);
  if (written != nullptr) *written = static_cast<unsigned int>(conv.produced());
  return conv.status();
}

// Input and output byte streams with an optional buffer window that callers may read
// or fill directly: streams over a caller's memory block, buffering adapters over
// another stream, and counting adapters that report how many bytes passed.
//
// A buffered stream's window is [cur, end): unread bytes on the input side, free room
// on the output side. Callers may consume from (or fill) the window themselves and
// move cur; refill() / make_room() exchange it for the next one. At the end of a
// stream eof is set and the window is empty (both pointers null). Sizes are bytes.
//
// Adapters hold a reference to the stream they wrap, which must outlive them.
#ifndef VQ_UTILS_BASE_BYTE_STREAM_H
#define VQ_UTILS_BASE_BYTE_STREAM_H

#include <cstring>

#include "utils/base/mbcs_character.h"

class UTOStream;

class UTIStream {
 public:
  virtual ~UTIStream() = default;
  UTIStream(const UTIStream&) = delete;
  UTIStream& operator=(const UTIStream&) = delete;

  // Skips up to n bytes; returns the bytes skipped.
  virtual unsigned skip(unsigned n);
  // Copies up to n bytes to out, stopping at the end of either stream; returns the
  // bytes copied.
  virtual unsigned append_to(UTOStream& out, unsigned n);
  virtual void set_eof();
  // Streams cannot seek: null.
  virtual void* get_seekable();
  // Delivers up to n bytes; fewer only at the end of the stream.
  virtual unsigned do_get(unsigned char* dst, unsigned n) = 0;

  // Reads a block: from the window when it holds the whole request, else do_get.
  unsigned get(void* dst, unsigned n);
  // memcmp-style comparison of the rest of two streams (both are consumed); when one
  // ends first the longer is greater.
  int compare(UTIStream& other);
  // Reads one character: the lead byte, then as many trail bytes as the character
  // set's class table gives it (0 to 3). At the end of input the character is empty.
  void do_get_mbcs(an_mbcs_character& character);

  bool eof = false;       // no more input
  bool buffered = false;  // the object is a UTBufferedIStream

 protected:
  explicit UTIStream(bool is_buffered = false) : buffered(is_buffered) {}
};

class UTBufferedIStream : public UTIStream {
 public:
  unsigned skip(unsigned n) override;
  unsigned append_to(UTOStream& out, unsigned n) override;
  void set_eof() override;  // also empties the window
  unsigned do_get(unsigned char* dst, unsigned n) override;
  // Replaces the consumed window by the next one, or sets eof.
  virtual void refill() = 0;

  // Compares the two windows byte by byte, refilling each as it empties.
  int compare(UTBufferedIStream& other);
  using UTIStream::compare;
  unsigned available() const { return static_cast<unsigned>(end - cur); }

  const unsigned char* cur = nullptr;  // next unread byte
  const unsigned char* end = nullptr;  // end of the window

 protected:
  UTBufferedIStream() : UTIStream(true) {}
};

// A stream over a caller's memory block, which must stay valid while it is read.
class UTBufIStream : public UTBufferedIStream {
 public:
  UTBufIStream(const void* data, unsigned size);
  void refill() override;  // the block is all there is
};

// Buffers reads from another stream through a block of its own.
class UTIStreamBuffer : public UTBufferedIStream {
 public:
  UTIStreamBuffer(UTIStream& source, unsigned buffer_size = 4096);
  ~UTIStreamBuffer() override;
  void refill() override;

 private:
  UTIStream* source_;
  unsigned char* buffer_;  // ut_alloc'd, buffer_size_ bytes
  unsigned buffer_size_;
};

// Counts the bytes read through it from another stream.
class UTIStreamCounter : public UTIStream {
 public:
  explicit UTIStreamCounter(UTIStream& source) : source_(&source) { eof = source.eof; }
  unsigned do_get(unsigned char* dst, unsigned n) override;
  unsigned long long count() const { return count_; }

 private:
  UTIStream* source_;
  unsigned long long count_ = 0;
};

// Counts the bytes consumed from a buffered stream by sharing its window: the source's
// position is handed back at every refill and when the counter is destroyed, so the
// source may be read on afterwards.
class UTBufferedIStreamCounter : public UTBufferedIStream {
 public:
  explicit UTBufferedIStreamCounter(UTBufferedIStream& source);
  ~UTBufferedIStreamCounter() override;
  void refill() override;
  void set_eof() override;
  unsigned long long count() const { return count_ + static_cast<unsigned>(cur - mark_); }

 private:
  void hand_back();
  UTBufferedIStream* source_;
  const unsigned char* mark_ = nullptr;  // cur at the last exchange
  unsigned long long count_ = 0;
};

class UTOStream {
 public:
  virtual ~UTOStream() = default;
  UTOStream(const UTOStream&) = delete;
  UTOStream& operator=(const UTOStream&) = delete;

  virtual void set_eof();
  // Accepts up to n bytes; fewer only when the stream reaches its end.
  virtual unsigned do_put(const unsigned char* src, unsigned n) = 0;

  // Writes a block: into the window when it has room for more than the request, else
  // do_put. Returns the bytes accepted.
  unsigned put(const void* src, unsigned n);

  // Decimal digits (or the compact decimal form of a double, at most 39 characters);
  // no terminator.
  UTOStream& operator<<(unsigned long value);
  UTOStream& operator<<(long value);
  UTOStream& operator<<(unsigned long long value);
  UTOStream& operator<<(double value);

  bool eof = false;       // no more output accepted
  bool buffered = false;  // the object is a UTBufferedOStream

 protected:
  explicit UTOStream(bool is_buffered = false) : buffered(is_buffered) {}
};

class UTBufferedOStream : public UTOStream {
 public:
  void set_eof() override;  // also empties the window
  unsigned do_put(const unsigned char* src, unsigned n) override;
  // Passes the filled window on and opens the next one, or sets eof.
  virtual void make_room() = 0;
  unsigned room() const { return static_cast<unsigned>(end - cur); }

  unsigned char* cur = nullptr;  // next free byte
  unsigned char* end = nullptr;  // end of the window

 protected:
  UTBufferedOStream() : UTOStream(true) {}
};

// A stream into a caller's memory block; it ends when the block is full.
class UTBufOStream : public UTBufferedOStream {
 public:
  UTBufOStream(void* data, unsigned size);
  void make_room() override;
  void set_eof() override;
  // Bytes written into the block so far.
  unsigned size() const;

 private:
  unsigned char* base_;
  unsigned written_at_eof_ = 0;
};

// Buffers writes to another stream through a block of its own; the last bytes are
// written when the adapter is destroyed. A destination that takes part of a block is
// offered the rest again; one that takes nothing ends this stream.
class UTOStreamBuffer : public UTBufferedOStream {
 public:
  UTOStreamBuffer(UTOStream& dest, unsigned buffer_size = 4096);
  ~UTOStreamBuffer() override;
  void make_room() override;

 private:
  bool flush();
  UTOStream* dest_;
  unsigned char* buffer_;  // ut_alloc'd, buffer_size_ bytes
  unsigned buffer_size_;
};

class UTOStreamCounter : public UTOStream {
 public:
  explicit UTOStreamCounter(UTOStream& dest) : dest_(&dest) { eof = dest.eof; }
  unsigned do_put(const unsigned char* src, unsigned n) override;
  unsigned long long count() const { return count_; }

 private:
  UTOStream* dest_;
  unsigned long long count_ = 0;
};

// Counts the bytes written into a buffered stream by sharing its window.
class UTBufferedOStreamCounter : public UTBufferedOStream {
 public:
  explicit UTBufferedOStreamCounter(UTBufferedOStream& dest);
  ~UTBufferedOStreamCounter() override;
  void make_room() override;
  void set_eof() override;
  unsigned long long count() const { return count_ + static_cast<unsigned>(cur - mark_); }

 private:
  void hand_back();
  UTBufferedOStream* dest_;
  unsigned char* mark_ = nullptr;
  unsigned long long count_ = 0;
};

inline unsigned UTIStream::get(void* dst, unsigned n) {
  if (buffered) {
    auto* self = static_cast<UTBufferedIStream*>(this);
    if (self->available() >= n && n > 0) {
      std::memcpy(dst, self->cur, n);
      self->cur += n;
      return n;
    }
    return self->UTBufferedIStream::do_get(static_cast<unsigned char*>(dst), n);
  }
  return do_get(static_cast<unsigned char*>(dst), n);
}

inline unsigned UTOStream::put(const void* src, unsigned n) {
  if (buffered) {
    auto* self = static_cast<UTBufferedOStream*>(this);
    if (self->room() > n) {
      if (n > 0) std::memcpy(self->cur, src, n);
      self->cur += n;
      return n;
    }
    return self->UTBufferedOStream::do_put(static_cast<const unsigned char*>(src), n);
  }
  return do_put(static_cast<const unsigned char*>(src), n);
}

#endif  // VQ_UTILS_BASE_BYTE_STREAM_H

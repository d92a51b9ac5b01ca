// Stream compression of data-packet bodies: one continuous deflate stream per
// direction (level 9, 4 KiB window, memory level 5), partial flush after every
// packet so that each compressed packet inflates to whole items.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>

namespace vqeng {

class Compressor {
 public:
  Compressor();
  ~Compressor();
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  bool ok() const { return ok_; }
  // Deflates `in` and flushes; false when zlib fails (the stream is then reset).
  bool deflate_body(const std::string& in, std::string& out);
  void reset();

 private:
  z_stream zs_{};
  bool ok_ = false;
};

class Decompressor {
 public:
  Decompressor();
  ~Decompressor();
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  bool ok() const { return ok_; }
  // Inflates one compressed packet body; false when it does not inflate, or (with
  // *too_much set) when its output would pass max_out bytes or `take_room` (asked
  // for every piece of output before it is kept, when given) refuses a piece.
  // Inflating stops there, so a small body that would inflate to a great deal
  // costs no more.
  bool inflate_body(const std::string& in, std::string& out, std::size_t max_out,
                    bool* too_much = nullptr,
                    const std::function<bool(std::size_t)>& take_room = {});
  void reset();

 private:
  z_stream zs_{};
  bool ok_ = false;
};

}  // namespace vqeng

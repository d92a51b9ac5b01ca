// zlib streams for compressed packets.
#include "compression.h"

namespace vqeng {

Compressor::Compressor() {
  ok_ = deflateInit2(&zs_, 9, Z_DEFLATED, 12, 5, Z_DEFAULT_STRATEGY) == Z_OK;
}
Compressor::~Compressor() {
  if (ok_) deflateEnd(&zs_);
}
void Compressor::reset() {
  if (ok_) deflateReset(&zs_);
}

bool Compressor::deflate_body(const std::string& in, std::string& out) {
  out.clear();
  if (!ok_) return false;
  zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs_.avail_in = static_cast<uInt>(in.size());
  unsigned char chunk[4096];
  do {
    zs_.next_out = chunk;
    zs_.avail_out = sizeof chunk;
    const int rc = deflate(&zs_, Z_PARTIAL_FLUSH);
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      reset();
      return false;
    }
    out.append(reinterpret_cast<char*>(chunk), sizeof chunk - zs_.avail_out);
  } while (zs_.avail_out == 0);
  return true;
}

Decompressor::Decompressor() { ok_ = inflateInit2(&zs_, 12) == Z_OK; }
Decompressor::~Decompressor() {
  if (ok_) inflateEnd(&zs_);
}
void Decompressor::reset() {
  if (ok_) inflateReset(&zs_);
}

bool Decompressor::inflate_body(const std::string& in, std::string& out, std::size_t max_out,
                                bool* too_much,
                                const std::function<bool(std::size_t)>& take_room) {
  out.clear();
  if (too_much) *too_much = false;
  if (!ok_) return false;
  zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs_.avail_in = static_cast<uInt>(in.size());
  unsigned char chunk[4096];
  for (;;) {
    zs_.next_out = chunk;
    zs_.avail_out = sizeof chunk;
    const int rc = inflate(&zs_, Z_PARTIAL_FLUSH);
    if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
    const std::size_t piece = sizeof chunk - zs_.avail_out;
    if (out.size() + piece > max_out || (take_room && piece != 0 && !take_room(piece))) {
      if (too_much) *too_much = true;
      return false;
    }
    out.append(reinterpret_cast<char*>(chunk), piece);
    if (zs_.avail_out != 0) break;  // all input used and all output given
  }
  return zs_.avail_in == 0;
}

}  // namespace vqeng

// SHA-1 of a file's contents, optionally followed by a 32-bit date word.
#include <cstdio>
#include <cstring>

#include "security/sha1.h"
#include "utils/base/posix_file.h"

namespace {

constexpr std::size_t kChunkBytes = 6400;  // a multiple of the 64-byte block
static_assert(kChunkBytes % 64 == 0, "whole blocks per chunk");

// The one file operation of this component. Mode "r+b": the file must be writable as
// well as readable. The file wrapper opens the descriptor close-on-exec and repeats an
// open that a signal interrupted.
std::FILE* OpenForDigest(const char* path) { return _posix_fopen(path, "r+b"); }

// Digests the whole file into ctx; false when it cannot be opened or a read fails.
bool DigestFile(const char* path, SHA* ctx) {
  if (path == nullptr) return false;
  std::FILE* file = OpenForDigest(path);
  if (file == nullptr) return false;
  unsigned char chunk[kChunkBytes];
  std::size_t got;
  do {
    got = std::fread(chunk, 1, sizeof chunk, file);
    SHAUpdate(ctx, chunk, got);
  } while (got == sizeof chunk);
  // A short read is the end of the file or an error; an error must not pass for the
  // digest of a shorter file.
  const bool read_ok = std::ferror(file) == 0;
  std::fclose(file);
  return read_ok;
}

}  // namespace

extern "C" {

int SHAFile(const char* path, std::uint32_t out[5]) {
  SHA ctx;
  SHAInit(&ctx);
  if (!DigestFile(path, &ctx)) return 1;
  SHAFinal(&ctx);
  std::memcpy(out, ctx.state, sizeof ctx.state);
  return 0;
}

int SHAFileDate(const char* path, std::uint32_t date, std::uint32_t out[5]) {
  SHA ctx;
  SHAInit(&ctx);
  if (!DigestFile(path, &ctx)) return 1;
  const unsigned char date_bytes[4] = {
      static_cast<unsigned char>(date >> 24), static_cast<unsigned char>(date >> 16),
      static_cast<unsigned char>(date >> 8), static_cast<unsigned char>(date)};
  SHAUpdate(&ctx, date_bytes, sizeof date_bytes);
  SHAFinal(&ctx);
  std::memcpy(out, ctx.state, sizeof ctx.state);
  return 0;
}

}  // extern "C"

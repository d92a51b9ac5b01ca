// Throughput of the digests, the block cipher and the word scrambler over packet-sized
// and larger buffers.
#include <benchmark/benchmark.h>

#include <vector>

#include "security/aes.h"
#include "security/sha1.h"
#include "security/word_scrambler.h"
#include "utils/base/crc32.h"
#include "utils/base/md5.h"
#include "utils/base/sha256.h"

namespace {

std::vector<unsigned char> Data(std::size_t n) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
  return v;
}

void BM_Crc32(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ECrc32Block(0xFFFFFFFFu, data.data(), data.size()));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Md5(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[16];
  for (auto _ : state) {
    md5_state_t st;
    md5_init(&st);
    md5_append(&st, data.data(), static_cast<int>(data.size()));
    md5_finish(&st, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Sha256(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[32];
  for (auto _ : state) {
    UT_SHA256_Hash(digest, data.data(), static_cast<unsigned>(data.size()));
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Sha1(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  std::uint32_t out[5];
  for (auto _ : state) {
    SHABlock(data.data(), data.size(), out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Aes256CbcEncrypt(benchmark::State& state) {
  auto data = Data(static_cast<std::size_t>(state.range(0)));
  const auto key = Data(32);
  const unsigned char iv[16] = {};
  QuilAES_Context ctx;
  QuilAES_KeyInit(&ctx, key.data(), 256);
  for (auto _ : state) {
    QuilAES_EncryptCBC(&ctx, iv, data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_WordScramble(benchmark::State& state) {
  auto data = Data(static_cast<std::size_t>(state.range(0)));
  const auto length = static_cast<std::uint16_t>(data.size());
  const std::uint32_t step = makekey(0x18210000u | length, length);
  for (auto _ : state) {
    yach_encrypt(0x1234, step, length, data.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_Crc32)->Arg(1460)->Arg(1 << 16);
BENCHMARK(BM_Md5)->Arg(64)->Arg(1 << 16);
BENCHMARK(BM_Sha256)->Arg(64)->Arg(1 << 16);
BENCHMARK(BM_Sha1)->Arg(64)->Arg(1 << 16);
BENCHMARK(BM_Aes256CbcEncrypt)->Arg(16)->Arg(1 << 16);
BENCHMARK(BM_WordScramble)->Arg(1460)->Arg(65534);

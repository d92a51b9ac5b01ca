// Byte helpers shared by the digest and cipher tests: hexadecimal text of a buffer and
// reproducible pseudo-random data.
#ifndef VQ_TESTS_SUPPORT_TEST_BYTES_H
#define VQ_TESTS_SUPPORT_TEST_BYTES_H

#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace vq::testing {

inline std::string Hex(const unsigned char* p, std::size_t n) {
  std::string out;
  char two[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", p[i]);
    out += two;
  }
  return out;
}

inline std::vector<unsigned char> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<unsigned char> out(n);
  for (auto& b : out) b = static_cast<unsigned char>(gen());
  return out;
}

}  // namespace vq::testing

#endif  // VQ_TESTS_SUPPORT_TEST_BYTES_H

// Fuzz target of the message resource file: any bytes written as a file either fail to
// open or open and answer every lookup with a terminated text within the buffer given.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_temp_file.h"
#include "utils/locale/resource_file.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

unsigned long Id(const std::uint8_t* data, std::size_t size, std::size_t at) {
  if (size < at + 2) return at * 977u;
  return data[at] | (static_cast<unsigned long>(data[at + 1]) << 8);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = vq_fuzz::WriteTempFile("vqlgxx12.res", data, size);
  UTVCResFile file;
  if (!file.Open(path.c_str())) {
    Check(!file.is_open());
    Check(file.open_error()[0] != '\0');
    return 0;
  }
  Check(file.is_open());
  (void)file.GetVersion();
  // Message numbers of the file itself, some from the input's bytes, and ones past 16 bits.
  const unsigned long ids[] = {vq_resfile::kVersionMessage, vq_resfile::kCharsetMessage, 0, 1,
                               0xFFFF, 0x10000, Id(data, size, 20), Id(data, size, 24),
                               Id(data, size, 28)};
  std::string texts[sizeof ids / sizeof ids[0]];
  for (std::size_t k = 0; k < sizeof ids / sizeof ids[0]; ++k) {
    const unsigned long id = ids[k];
    char whole[300];
    const unsigned long_n = file.GetString(id, whole, sizeof whole);
    Check(long_n < sizeof whole && whole[long_n] == '\0');
    texts[k].assign(whole, long_n);
    for (unsigned room : {0u, 1u, 7u}) {
      char buf[8];
      std::memset(buf, 'x', sizeof buf);
      const unsigned n = file.GetString(id, buf, room);
      if (room == 0) {
        Check(n == 0 && buf[0] == 'x');
        continue;
      }
      // A short buffer takes the start of the text, terminated.
      Check(n < room && buf[n] == '\0');
      Check(n == std::min<unsigned>(long_n, room - 1));
      Check(std::memcmp(buf, whole, n) == 0);
    }
    unsigned short units[4] = {1, 1, 1, 1};
    (void)file.GetStringUTF16(id, units, 4);
  }
  // Opening the file again gives the same texts.
  UTVCResFile again;
  Check(again.Open(path.c_str()) != 0);
  for (std::size_t k = 0; k < sizeof ids / sizeof ids[0]; ++k) {
    char whole[300];
    const unsigned n = again.GetString(ids[k], whole, sizeof whole);
    Check(texts[k] == std::string(whole, n));
  }
  file.Close();
  Check(!file.is_open());
  return 0;
}

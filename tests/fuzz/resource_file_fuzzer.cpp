// Fuzz target of the message resource file: any bytes written as a file either fail to
// open or open and answer every lookup with a terminated text within the buffer given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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
  for (unsigned long id : ids) {
    for (unsigned room : {0u, 1u, 7u, 300u}) {
      char buf[300];
      std::memset(buf, 'x', sizeof buf);
      const unsigned n = file.GetString(id, buf, room);
      if (room == 0) {
        Check(n == 0);
        continue;
      }
      Check(n < room);
      Check(buf[n] == '\0');
    }
    unsigned short units[4] = {1, 1, 1, 1};
    (void)file.GetStringUTF16(id, units, 4);
  }
  file.Close();
  Check(!file.is_open());
  return 0;
}

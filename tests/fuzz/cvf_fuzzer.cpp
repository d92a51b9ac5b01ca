// Fuzz target of the reader of the conversion-table file "vellum.cvf": any bytes placed
// as the file under a private installation root either give no table or 128 bytes,
// never a read outside the file or the reader's buffers.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_temp_file.h"
#include "utils/base/file_locations.h"
#include "utils/locale/utlocale.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

struct Setup {
  UTLocale* locale = nullptr;
  const CharsetInfo* sets[5] = {};
  std::string root;
};

// The installation root is a directory inside the private one; the file must be found
// there and nowhere else.
Setup& Prepare() {
  static Setup setup = [] {
    Setup s;
    s.root = vq_fuzz::TempDir() + "/root";
    if (mkdir(s.root.c_str(), 0700) != 0) std::abort();
    unsetenv("VELLUM12");
    setenv("VCDIR", s.root.c_str(), 1);
    s.locale = new UTLocale();
    const char* labels[] = {"ISO-8859-1", "IBM437", "windows-1252", "IBM850", "windows-1250"};
    for (int i = 0; i < 5; ++i) {
      s.sets[i] = UTLocale::GetCharsetInfoFromLabel(labels[i], kSchemeAll);
      Check(s.sets[i] != nullptr);
    }
    return s;
  }();
  return setup;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Setup& s = Prepare();
  const std::string path = s.root + "/vellum.cvf";
  vq_fuzz::WriteTempFile("root/vellum.cvf", data, size);
  char found[4097];
  const unsigned n =
      LS_QualifyVellumFile(kLsKindResource, "vellum.cvf", found, sizeof found, nullptr);
  Check(n == path.size() && path == found);
  // Pairs listed in either order, the same set twice, and sets the file may lack: each
  // lookup reads the label records, so a few pairs keep the target fast.
  const int pairs[][2] = {{0, 1}, {1, 0}, {0, 2}, {3, 4}, {2, 2}};
  for (const auto& pair : pairs) {
    unsigned char out[128 + 16];
    std::memset(out, 0xA5, sizeof out);
    (void)s.locale->read_cvf_conversion_table(out, s.sets[pair[1]], s.sets[pair[0]]);
    for (std::size_t i = 128; i < sizeof out; ++i) Check(out[i] == 0xA5);
  }
  return 0;
}

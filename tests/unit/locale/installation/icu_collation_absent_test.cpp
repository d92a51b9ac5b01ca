// The ICU collation when the installation has no Unicode library: raw-byte order and
// one log line per failing operation.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "converter_fixture.h"
#include "utils/base/memory.h"
#include "utils/locale/collation.h"
#include "utils/locale/icu_collation.h"
#include "utils/locale/utlocale.h"

namespace {

const CharsetInfo* Utf8() { return &UTLocale::_charset_info[53]; }

// Fills the stack below the caller's frame, where the frames of its next call will lie.
__attribute__((noinline)) void ScribbleStack(unsigned char value) {
  volatile unsigned char area[16384];
  for (volatile unsigned char& b : area) b = value;
}

std::vector<std::string>* g_log = nullptr;
void CaptureLog(const char*, int, int, int, const char* text) {
  if (g_log != nullptr) g_log->push_back(text);
}

TEST(IcuCollationWithoutLibrary, FallsToRawBytesAndLogsOnce) {
  // An installation root without the library, one level inside a fresh directory (the
  // parent of a root is searched too).
  char parent[] = "/tmp/vq_no_icu_XXXXXX";
  ASSERT_NE(mkdtemp(parent), nullptr);
  const std::string dir = std::string(parent) + "/root";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  std::vector<std::string> log;
  g_log = &log;
  vq::base::SetErrorLogSink(CaptureLog);
  {
    ScopedInstallation installation(dir.c_str());
    UTLocale locale;
    ASSERT_FALSE(locale.ICUIsSupported());
    UTCollation coll(&locale);
    UTCollationTailoring tailoring;
    EXPECT_EQ(coll.do_set_collation(true, &locale, UTLocale::GetCollationInfoFromLabel("UCA"),
                                    Utf8(), nullptr, tailoring, 0),
              1u);
    // Short strings all tie; longer ones go by their raw bytes.
    EXPECT_EQ(coll->trancmp("b", "a"), 0);
    std::string x(1100, 'x'), y(1100, 'y');
    EXPECT_LT(coll->trancmp(x.data(), x.size(), y.data(), y.size()), 0);
    // Keys have an empty ICU part, so they agree with those comparisons.
    std::uint8_t key[8];
    EXPECT_EQ(coll->sortkey_prefix(key, sizeof key, "abc", 3), 1u);
    EXPECT_EQ(key[0], 0);
    // The hash mixes in the byte after a key of odd length, so the one-byte key hashes
    // as if padded with a zero byte: ((1 * 31) ^ 0) * 31 ^ 0 = 961, whatever the stack
    // held before the call.
    ScribbleStack(0x11);
    const std::uint32_t h = coll->id_hash("abc", 3);
    EXPECT_EQ(h, 961u);
    ScribbleStack(0xEE);
    EXPECT_EQ(coll->id_hash("abc", 3), h);
    ScribbleStack(0x5A);
    EXPECT_EQ(coll->id_hash("xyz", 3), h);
    EXPECT_EQ(coll->trancmp("c", "d"), 0);
  }
  vq::base::SetErrorLogSink(nullptr);
  g_log = nullptr;
  rmdir(dir.c_str());
  rmdir(parent);
  int strcoll = 0, sortkey = 0;
  for (const std::string& line : log) {
    if (line == "utils/etc/icu_collation: strcollIter failed") ++strcoll;
    if (line == "utils/etc/icu_collation: GetSortKeyPrefix failed") ++sortkey;
  }
  EXPECT_EQ(strcoll, 1);
  EXPECT_EQ(sortkey, 1);
}

}  // namespace

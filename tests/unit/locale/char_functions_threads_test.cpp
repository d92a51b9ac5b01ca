// The process's byte table as the path and string functions see it, in a child process
// (the table is filled once per process).
#include "utils/locale/char_functions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "child_process.h"
#include "utils/base/path_helpers.h"
#include "utils/base/path_split.h"
#include "utils/locale/collation.h"
#include "utils/locale/utlocale.h"

namespace {

// The path and string functions of the base utilities step by the table's characters
// once the process's table is filled. Under Shift_JIS the trail byte of "\x95\x5C" is a
// backslash and that of "\x83\x61" a letter "a": read byte by byte, the first ends a
// directory and the second matches "A". In a child process, since the table is filled
// once per process.
TEST(CharFunctions, ProcessTableGivesThePathFunctionsTheirCharacters) {
  const vq::testing::ChildResult child = vq::testing::RunInChild([] {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANG", "VCLANG"}) {
      unsetenv(name);
    }
    setenv("VCCHARSET", "Shift_JIS", 1);
    UTLocale locale;
    UTCollation os(&locale);
    const char path[] = "c:\\d\\\x95\x5C.txt";
    const char text[] = "\x83\x61";
    auto report = [&](const char* when) {
      const char* sep = FindLastPathSeparator(os, path, 2);
      const char* hit = stristr(text, 2, "A", 1, &locale);
      std::printf("%s: separator %ld, match %ld, lengths %u %u\n", when,
                  sep != nullptr ? static_cast<long>(sep - path) : -1L,
                  hit != nullptr ? static_cast<long>(hit - text) : -1L,
                  vq::base::PathCharLength(0x95), vq::base::PathCharLength(0xA5));
    };
    // A table filled in the parent (by an earlier test) is emptied here first.
    LSCharFunctions = LS_CharFunctions();
    vq::base::SetPathCharLengthFn(nullptr);
    vq::base::SetCollationCharLengthFn(nullptr);
    report("bytes");
    LSCharFunctions.init();
    report("table");
    std::fflush(stdout);
  });
  EXPECT_TRUE(child.exited(0));
  EXPECT_EQ(child.output,
            "bytes: separator 6, match 1, lengths 1 1\n"
            "table: separator 4, match -1, lengths 2 1\n");
}

}  // namespace

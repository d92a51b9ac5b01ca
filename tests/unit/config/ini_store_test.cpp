// The ini-file store within one process: the file format read and written, sections and
// entries, the section cap, obfuscated files and the status-checked cache.
#include "config/ini_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/ini_obfuscation.h"
#include "ini_store_fixture.h"
#include "utils/base/memory.h"

using vq_test::ini::ReadAll;
using vq_test::ini::TempDir;
using vq_test::ini::Value;
using vq_test::ini::WriteAll;

namespace {

// A store that shows its whole cache: "name{k=v,k=v}" per section, in order.
class Probe : public c_cfg_inifile {
 public:
  explicit Probe(const std::string& path, unsigned maxSections = 0)
      : c_cfg_inifile(path.c_str(), false, maxSections, false, CFG_DS_NO_INI_DIR, 0) {}
  std::string dump() {
    revalidate(false);
    std::string out;
    for (c_utils_iter<c_cfg_section> it(sections); !it.at_end(); it.next()) {
      out += it.element()->name;
      out += "{";
      bool first = true;
      for (c_cfg_entry_iter e(it.element()->entries); !e.at_end(); e.next()) {
        if (!first) out += ",";
        first = false;
        out += std::string(e.element()->key) + "=" + e.element()->value;
      }
      out += "}";
    }
    return out;
  }
};

struct ParseCase {
  const char* name;
  const char* text;
  const char* cache;
};

TEST(IniStoreFormat, ReadsSectionsAndEntriesAsTheFileHoldsThem) {
  const ParseCase cases[] = {
      {"TwoSectionsDifferingInCase", "x=1\n[A]\r\nk = v \n\n[a]\nk=w", "A{k=v}a{k=w}"},
      {"InnerBlanksOfANameKept", "[ s ]\nk=1", " s {k=1}"},
      {"TextAfterTheBracketIsNoSection", "[s] x\nk=1", ""},
      {"LinesWithoutEqualsAndEmptyKeysIgnored", "[s]\nnoequals\n = v\n\t key\t=\tval\t\n",
       "s{key=val}"},
      {"DuplicateKeysKeptInOrder", "[s]\nk=1\nk=2", "s{k=1,k=2}"},
      {"CarriageReturnsAloneBreakLines", "[s]\rk=1\r\r[t]\rm=2", "s{k=1}t{m=2}"},
      {"OnlyTheFirstEqualsSplits", "[s]\nk==a=b", "s{k==a=b}"},
      {"EmptyNameAndEmptyValue", "[]\na=\n", "{a=}"},
      {"BracketsInsideAName", "[a=b]\n[[x]]", "a=b{}[x]{}"},
      {"IndentedSectionLine", "  \t[s]  \nk=v", "s{k=v}"},
      {"EmptyFile", "", ""},
  };
  TempDir dir;
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    WriteAll(path, c.text);
    Probe store(path);
    ASSERT_TRUE(store.open_read_only());
    EXPECT_EQ(store.dump(), c.cache);
  }
}

TEST(IniStoreFormat, LookupsIgnoreCaseAndFindTheFirst) {
  TempDir dir;
  const std::string path = dir.file("a.ini");
  WriteAll(path, "x=1\n[A]\r\nk = v \nK=second\n\n[a]\nk=w");
  c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  ASSERT_TRUE(store.open_read_only());
  EXPECT_EQ(Value(store, "a", "k"), "v");
  EXPECT_EQ(Value(store, "A", "K"), "v");
  EXPECT_EQ(Value(store, "b", "k"), "<no section>");
  c_cfg_name_list* names = store.list_sections();
  std::vector<std::string> listed;
  for (c_utils_iter<c_cfg_name> it(*names); !it.at_end(); it.next()) {
    listed.push_back(it.element()->get_name());
  }
  delete names;
  EXPECT_EQ(listed, (std::vector<std::string>{"A", "a"}));
}

TEST(IniStoreSection, EditsCopiesAndSizes) {
  c_cfg_section s("sec");
  s.set_value("a", "1");
  s.set_value("B", "two");
  s.set_value("A", "one");  // replaces the first entry of that key
  s.set_value("n", std::uint32_t{4294967295u});
  EXPECT_STREQ(s.get_value("a"), "one");
  EXPECT_STREQ(s.get_value("N"), "4294967295");
  EXPECT_EQ(s.get_value("missing"), nullptr);

  char* options = s.get_options();
  EXPECT_EQ(std::string(options, 7), std::string("a\0B\0n\0", 7));
  ut_free(options);
  // "[sec]\n" + "a=one\n" + "B=two\n" + "n=4294967295\n" + "\n"
  EXPECT_EQ(s.get_size_in_file(), 6u + 6u + 6u + 13u + 1u);

  c_cfg_section* copy = s.clone();
  EXPECT_TRUE(s.delete_entry("b"));
  EXPECT_FALSE(s.delete_entry("b"));
  copy->set_name("other");
  EXPECT_STREQ(copy->get_value("B"), "two");  // the copy is deep
  EXPECT_STREQ(s.get_name(), "sec");
  EXPECT_EQ(s.get_size_in_file(), 6u + 6u + 13u + 1u);
  delete copy;

  char* none = c_cfg_section("e").get_options();
  EXPECT_EQ(none[0], '\0');
  ut_free(none);
}

TEST(IniStoreWrite, WritesThePlainFormAndMovesARewrittenSectionLast) {
  TempDir dir;
  const std::string path = dir.file("w.ini");
  WriteAll(path, "junk before\n[one]\nk=1\nk=2\n[two]\n  x = y  \n");
  c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  ASSERT_TRUE(store.open());

  c_cfg_section* one = store.read_section("ONE");
  ASSERT_NE(one, nullptr);
  one->set_value("new", "v");
  ASSERT_TRUE(store.write_section(one));
  store.delete_section_object(one);
  // Nothing but sections and entries is written; duplicates survive; the section moved.
  EXPECT_EQ(ReadAll(path), "[two]\nx=y\n\n[one]\nk=1\nk=2\nnew=v\n\n");

  c_cfg_section empty("empty");
  ASSERT_TRUE(store.write_section(&empty));
  EXPECT_EQ(ReadAll(path), "[two]\nx=y\n\n[one]\nk=1\nk=2\nnew=v\n\n[empty]\n\n");

  ASSERT_TRUE(store.delete_section("Two"));
  store.close();
  EXPECT_EQ(ReadAll(path), "[one]\nk=1\nk=2\nnew=v\n\n[empty]\n\n");
}

TEST(IniStoreWrite, ShorterRewriteLeavesNoTailAndUnchangedFilesKeepTheirBytes) {
  TempDir dir;
  const std::string path = dir.file("t.ini");
  const std::string original = "[a]\nlong=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n[b]\nk=v\n";
  WriteAll(path, original);
  {
    c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
    ASSERT_TRUE(store.open());
    EXPECT_FALSE(store.delete_section("absent"));
    EXPECT_EQ(Value(store, "b", "k"), "v");
    store.close();
  }
  EXPECT_EQ(ReadAll(path), original);  // not rewritten: not even normalised
  {
    c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.delete_section("a"));
  }  // the destructor closes
  EXPECT_EQ(ReadAll(path), "[b]\nk=v\n\n");
}

TEST(IniStoreWrite, ReadOnlyStoresAndClosedStoresDoNotWrite) {
  TempDir dir;
  const std::string path = dir.file("r.ini");
  WriteAll(path, "[a]\nk=v\n");
  c_cfg_section s("b");
  c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  EXPECT_FALSE(store.write_section(&s));  // not open
  ASSERT_TRUE(store.open_read_only());
  EXPECT_FALSE(store.write_section(&s));
  EXPECT_FALSE(store.delete_section("a"));
  store.close();
  EXPECT_EQ(ReadAll(path), "[a]\nk=v\n");

  c_cfg_inifile missing(dir.file("none.ini").c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  EXPECT_FALSE(missing.open_read_only());
  EXPECT_FALSE(missing.open_no_create());
  EXPECT_EQ(Value(missing, "a", "k"), "<no section>");
  ASSERT_TRUE(missing.open());  // creates it
  missing.close();
  EXPECT_EQ(ReadAll(dir.file("none.ini")), "");
}

TEST(IniStoreWrite, OpenTruncateStartsFromAnEmptyFile) {
  TempDir dir;
  const std::string path = dir.file("tr.ini");
  WriteAll(path, "[a]\nk=v\n");
  c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  ASSERT_TRUE(store.open_truncate());
  EXPECT_EQ(Value(store, "a", "k"), "<no section>");
  c_cfg_section s("b");
  ASSERT_TRUE(store.write_section(&s));
  store.close();
  EXPECT_EQ(ReadAll(path), "[b]\n\n");
}

TEST(IniStoreWrite, SectionCapDropsTheOldestSections) {
  TempDir dir;
  const std::string path = dir.file("cap.ini");
  std::string text;
  for (int i = 0; i < 100; ++i)
    text += "[s" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
  WriteAll(path, text);
  Probe store(path, 100);
  ASSERT_TRUE(store.open());
  c_cfg_section again("s50");  // a rewrite of a present section drops nothing
  ASSERT_TRUE(store.write_section(&again));
  EXPECT_EQ(store.section_count(), 100u);
  c_cfg_section fresh("new");
  ASSERT_TRUE(store.write_section(&fresh));
  EXPECT_EQ(store.section_count(), 100u);
  store.close();
  Probe check(path);
  ASSERT_TRUE(check.open_read_only());
  const std::string cache = check.dump();
  EXPECT_EQ(cache.rfind("s1{k=1}", 0), 0u) << cache;  // s0 went
  EXPECT_NE(cache.find("s50{}new{}"), std::string::npos) << cache;
}

TEST(IniStoreObfuscation, ReadsAnObfuscatedFileAndWritesPlainText) {
  TempDir dir;
  const std::string path = dir.file("o.ini");
  const std::string plain = "[srv]\nhost=db.example\nport=2638\n";
  std::vector<char> block(CCBBRT(plain.size() + 1));
  std::size_t blockSize = block.size();
  ASSERT_TRUE(encryptIniFile(plain.data(), plain.size(), block.data(), &blockSize, 1));
  WriteAll(path, std::string(block.data(), blockSize));
  ASSERT_EQ(IsIniFileEncrypted(path.c_str()), kIniDataScrambled);

  c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  ASSERT_TRUE(store.open());
  EXPECT_EQ(store.obfuscation_flag(), 1);
  EXPECT_EQ(Value(store, "srv", "port"), "2638");
  c_cfg_section* s = store.read_section("srv");
  s->set_value("port", "2639");
  ASSERT_TRUE(store.write_section(s));
  store.delete_section_object(s);
  store.close();
  EXPECT_EQ(ReadAll(path), "[srv]\nhost=db.example\nport=2639\n\n");
  EXPECT_EQ(IsIniFileEncrypted(path.c_str()), kIniDataPlain);

  c_cfg_inifile again(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  ASSERT_TRUE(again.open_read_only());
  EXPECT_EQ(Value(again, "srv", "host"), "db.example");
  EXPECT_EQ(again.obfuscation_flag(), 2);
}

// The codec scrambles a text together with its zero byte; that byte ends the text and
// is no part of the last line, so an obfuscated file reads as its plain form does.
TEST(IniStoreObfuscation, TheBlocksZeroByteIsNotPartOfTheLastLine) {
  const char* texts[] = {
      "[s]\nk=v  ",        // trailing blanks of the last value
      "[s]\nk=v\n[last]",  // a section header on the last line
      "[s]\nk=\t",        // an empty last value
      "[sample]\nDriverD=/opt/lib/x.sOo\nServer = host:2638 \nU\324d\nbIa=D ",
  };
  for (const char* plain : texts) {
    SCOPED_TRACE(plain);
    TempDir dir;
    const std::string text = plain;
    WriteAll(dir.file("p.ini"), text);
    std::vector<char> block(CCBBRT(text.size() + 1));
    std::size_t blockSize = block.size();
    ASSERT_TRUE(encryptIniFile(text.data(), text.size(), block.data(), &blockSize, 1));
    WriteAll(dir.file("o.ini"), std::string(block.data(), blockSize));
    Probe plainStore(dir.file("p.ini"));
    Probe scrambledStore(dir.file("o.ini"));
    ASSERT_TRUE(plainStore.open_read_only());
    ASSERT_TRUE(scrambledStore.open_read_only());
    EXPECT_EQ(scrambledStore.obfuscation_flag(), 1);
    EXPECT_EQ(scrambledStore.dump(), plainStore.dump());
    EXPECT_EQ(scrambledStore.section_count(), plainStore.section_count());
  }
}

// A store whose hooks refuse the text: a refused write leaves the file alone.
class RefusingStore : public c_cfg_inifile {
 public:
  explicit RefusingStore(const std::string& path)
      : c_cfg_inifile(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0) {}
  bool massage_outbound_data(char**, std::size_t*) override { return false; }
  bool massage_inbound_data(char** buffer, std::size_t* length) override {
    // Upper-cases the text on the way in, replacing the block.
    char* copy = static_cast<char*>(ut_malloc(*length));
    for (std::size_t i = 0; i < *length; ++i) copy[i] = char(std::toupper((*buffer)[i]));
    ut_free(*buffer);
    *buffer = copy;
    return true;
  }
};

TEST(IniStoreHooks, InboundHookTransformsAndARefusedOutboundLeavesTheFile) {
  TempDir dir;
  const std::string path = dir.file("h.ini");
  WriteAll(path, "[a]\nk=v\n");
  RefusingStore store(path);
  ASSERT_TRUE(store.open());
  EXPECT_EQ(Value(store, "A", "K"), "V");
  c_cfg_section s("b");
  EXPECT_FALSE(store.write_section(&s));
  store.close();
  EXPECT_EQ(ReadAll(path), "[a]\nk=v\n");
}

// A store whose first read fails, as a read error or a refused text would.
class FlakyStore : public c_cfg_inifile {
 public:
  explicit FlakyStore(const std::string& path)
      : c_cfg_inifile(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0) {}
  bool massage_inbound_data(char**, std::size_t*) override { return ++reads > 1; }
  int reads = 0;
};

TEST(IniStoreCache, AFailedReadIsTriedAgainOnTheNextAccess) {
  TempDir dir;
  const std::string path = dir.file("f.ini");
  WriteAll(path, "[s]\nk=1\n");
  FlakyStore store(path);
  ASSERT_TRUE(store.open_read_only());  // the first read fails here
  EXPECT_EQ(Value(store, "s", "k"), "1");
}

TEST(IniStoreCache, ReaderSeesAnotherWritersChangeOfTheSameSize) {
  TempDir dir;
  const std::string path = dir.file("c.ini");
  WriteAll(path, "[s]\nk=1\n");
  c_cfg_inifile reader(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  ASSERT_TRUE(reader.open_read_only());
  EXPECT_EQ(Value(reader, "s", "k"), "1");
  // Within the same second, same size, same file: only a finer timestamp tells.
  usleep(30 * 1000);
  WriteAll(path, "[s]\nk=2\n");
  EXPECT_EQ(Value(reader, "s", "k"), "2");
}

TEST(IniStoreCache, WriterThatDidNotReadKeepsAnotherWritersChange) {
  TempDir dir;
  const std::string path = dir.file("lost.ini");
  WriteAll(path, "[a]\nk=1\n");
  c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  ASSERT_TRUE(store.open());
  // Another program edits the file behind a writer that holds the lock but ignores it.
  WriteAll(path, "[a]\nk=1\n[b]\nk=2\n");
  c_cfg_section c("c");
  ASSERT_TRUE(store.write_section(&c));
  store.close();
  EXPECT_EQ(ReadAll(path), "[a]\nk=1\n\n[b]\nk=2\n\n[c]\n\n");
}

TEST(IniStoreLocate, NamesAsGivenOrPlacedForANewFile) {
  TempDir dir;
  const std::string given = dir.file("given.ini");
  WriteAll(given, "[a]\n");
  c_cfg_inifile absolute(given.c_str(), false, 0, true, CFG_DS_INI_DIR, 0);
  EXPECT_EQ(std::string(absolute.full_filename()), given);

  const char* old_home = std::getenv("HOME");
  const std::string saved = old_home != nullptr ? old_home : "";
  setenv("HOME", dir.path().c_str(), 1);
  {
    c_cfg_inifile placed("vcsrv.ini", false, 100, true, CFG_DS_INI_DIR, 0);
    EXPECT_EQ(std::string(placed.full_filename()), dir.file(".vellumcrest12/vcsrv.ini"));
    ASSERT_TRUE(placed.open());  // the directory was made for it
    c_cfg_section s("srv");
    ASSERT_TRUE(placed.write_section(&s));
    placed.close();
    c_cfg_inifile found("vcsrv.ini", false, 100, true, CFG_DS_INI_DIR, 0);
    EXPECT_EQ(std::string(found.full_filename()), dir.file(".vellumcrest12/vcsrv.ini"));
  }
  c_cfg_inifile unlocated("rel.ini", false, 0, false, CFG_DS_INI_DIR, 0);
  EXPECT_STREQ(unlocated.full_filename(), "rel.ini");
  if (old_home != nullptr) {
    setenv("HOME", saved.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

}  // namespace

// Parsing of link option texts: every value kind, every result code, accumulation of
// list rows, the saved entry text per call, and the formatted messages.
#include "net/port_options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"

namespace {

// A table shaped like the TCP/IP link's, with one row of each remaining kind.
struct Table {
  Table() {
    const a_port_option rows[] = {
        {"Host", "IP", {0}, 0, PORT_OPT_STRING_LIST},                      // 0
        {"Timeout", "TO", {0}, 0, PORT_OPT_NUMBER},                        // 1
        {"DoBroadcast", "DoBroad", {0}, 0, PORT_OPT_STRING},               // 2
        {"ServerPort", "Port", {0}, 0, PORT_OPT_NUMBER_LIST},              // 3
        {"ReceiveBufferSize", "RcvBufSz", {0}, 0, PORT_OPT_SIZED_NUMBER},  // 4
        {"LocalOnly", "LO", {0}, 0, PORT_OPT_BOOLEAN},                     // 5
        {"Hops", nullptr, {0}, 0, PORT_OPT_BYTE},                          // 6
        {"Window", nullptr, {0}, 0, PORT_OPT_SHORT},                       // 7
        {"Raw", nullptr, {0}, 0, PORT_OPT_RAW_STRING},                     // 8
        {"Nodes", nullptr, {0}, 0, PORT_OPT_IPX_LIST},                     // 9
        {"Broken", nullptr, {0}, 0, 10},                                   // 10
        {nullptr, nullptr, {0}, 0, 0},
    };
    std::memcpy(row, rows, sizeof rows);
  }
  ~Table() { unprepare_port_options(row, 0); }
  a_port_option row[12];
};

std::vector<std::uint16_t> Numbers(const a_port_option& r) {
  const auto* a = static_cast<const std::uint16_t*>(r.value.pointer);
  return std::vector<std::uint16_t>(a, a + r.count);
}

std::vector<std::string> Strings(const a_port_option& r) {
  std::vector<std::string> out;
  for (int i = 0; i < r.count; ++i) out.push_back(static_cast<char**>(r.value.pointer)[i]);
  return out;
}

TEST(PortOptions, ValuesOfEveryKind) {
  Table t;
  char saved[kPortOptionSavedBytes];
  ASSERT_EQ(
      PORT_OPT_OK,
      prepare_port_options(
          " DoBroadcast=NONE; serverport = 2638-2640,5000 ;IP=a, b,,c;TO=0x10 ;"
          "RcvBufSz=64K;lo= yes ;Hops=254;Window=65535;Raw= x,y=z;Nodes=1:2:3:4:5:6/7:8:9:10;;",
          0, t.row, saved));
  EXPECT_STREQ("", saved);
  EXPECT_STREQ("NONE", static_cast<char*>(t.row[2].value.pointer));
  EXPECT_EQ(1, t.row[2].count);
  EXPECT_EQ((std::vector<std::uint16_t>{2638, 2639, 2640, 5000}), Numbers(t.row[3]));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "", "c"}), Strings(t.row[0]));
  EXPECT_EQ(16u, t.row[1].value.number);
  EXPECT_EQ(65536u, t.row[4].value.number);
  EXPECT_EQ(1u, t.row[5].value.number);
  EXPECT_EQ(254u, t.row[6].value.number);
  EXPECT_EQ(65535u, t.row[7].value.number);
  EXPECT_STREQ("x,y=z", static_cast<char*>(t.row[8].value.pointer));
  ASSERT_EQ(1, t.row[9].count);
  const auto* ipx = static_cast<std::uint8_t**>(t.row[9].value.pointer)[0];
  const std::uint8_t want[10] = {7, 8, 9, 10, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(0, std::memcmp(want, ipx, sizeof want));
  EXPECT_EQ(1u, port_option_on(&t.row[5]));
  EXPECT_EQ(0u, port_option_off(&t.row[5]));
}

TEST(PortOptions, ResultCodesNameTheRowAndSaveTheEntry) {
  const struct {
    const char* text;
    std::uint32_t code;
    const char* saved;
  } cases[] = {
      {"", PORT_OPT_OK, ""},
      {"TO=1;Timeout=2", PORT_OPT_MULTIPLE | 1, ""},
      {"TO=1,2", PORT_OPT_MULTIPLE | 1, ""},
      {"DoBroadcast=a,b", PORT_OPT_MULTIPLE | 2, ""},
      {"Port=2640-2638", PORT_OPT_BAD_VALUE | 3, ""},
      {"Port=70000", PORT_OPT_BAD_VALUE | 3, ""},
      {"Port=1-", PORT_OPT_BAD_VALUE | 3, ""},
      {"Port=1-2x", PORT_OPT_BAD_VALUE | 3, ""},
      {"Port=1-2 ", PORT_OPT_BAD_VALUE | 3, ""},  // nothing may follow a range
      {"Port=1 ,2- 3", PORT_OPT_OK, ""},
      {"Port=abc", PORT_OPT_BAD_VALUE | 3, ""},
      {"TO=", PORT_OPT_BAD_VALUE | 1, ""},
      {"TO=12 x", PORT_OPT_BAD_VALUE | 1, ""},
      {"TO=4294967296", PORT_OPT_BAD_VALUE | 1, ""},
      {"TO=4294967295", PORT_OPT_OK, ""},
      {"RcvBufSz=4G", PORT_OPT_BAD_VALUE | 4, ""},
      {"RcvBufSz=3G", PORT_OPT_OK, ""},
      {"LocalOnly=maybe", PORT_OPT_BAD_VALUE | 5, ""},
      {"LocalOnly=yes no", PORT_OPT_BAD_VALUE | 5, ""},
      {"Hops=255", PORT_OPT_BAD_VALUE | 6, ""},
      {"Window=65536", PORT_OPT_BAD_VALUE | 7, ""},
      {"Raw=a;Raw=b", PORT_OPT_MULTIPLE | 8, ""},
      {"Nodes=1:2:3:4:5/6:7:8:9", PORT_OPT_BAD_VALUE | 9, ""},
      {"Nodes=1:2:3:4:5:255/6:7:8:9", PORT_OPT_BAD_VALUE | 9, ""},
      {"Broken=1", PORT_OPT_UNKNOWN | 10, ""},
      {"TO=5;  NoSeparatorInThisEntry;Port=1", PORT_OPT_NO_EQUALS, "NoSeparatorInTh"},
      {"Colour=blue", PORT_OPT_UNKNOWN, "Colour=blue"},
      {"AVeryLongUnknownName = 1", PORT_OPT_UNKNOWN, "AVeryLongUnknow"},
      {"TO#7", PORT_OPT_OK, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Table t;
    char saved[kPortOptionSavedBytes];
    std::memset(saved, 'x', sizeof saved);
    EXPECT_EQ(c.code, prepare_port_options(c.text, 0, t.row, saved));
    EXPECT_STREQ(c.saved, saved);
  }
}

TEST(PortOptions, EachCallKeepsItsOwnSavedEntry) {
  // Two connects failing one after the other: the first one's text is still its own
  // when its message is formatted.
  Table first;
  Table second;
  char saved_first[kPortOptionSavedBytes];
  char saved_second[kPortOptionSavedBytes];
  EXPECT_EQ(PORT_OPT_UNKNOWN, prepare_port_options("Colour=red", 0, first.row, saved_first));
  EXPECT_EQ(PORT_OPT_NO_EQUALS, prepare_port_options("junk", 0, second.row, saved_second));
  EXPECT_STREQ("Colour=red", saved_first);
  EXPECT_STREQ("junk", saved_second);
}

TEST(PortOptions, ListRowsAccumulateAndRowsBeforeAFailureKeepTheirValues) {
  Table t;
  EXPECT_EQ(PORT_OPT_OK,
            prepare_port_options("HOST=h1;Host=h2;Port=1;Port=2-3", 0, t.row, nullptr));
  EXPECT_EQ((std::vector<std::string>{"h1", "h2"}), Strings(t.row[0]));
  EXPECT_EQ((std::vector<std::uint16_t>{1, 2, 3}), Numbers(t.row[3]));

  Table u;
  EXPECT_EQ(PORT_OPT_BAD_VALUE | 3,
            prepare_port_options("TO=9;Port=1;Port=5-4", 0, u.row, nullptr));
  EXPECT_EQ(9u, u.row[1].value.number);
  EXPECT_EQ(0, u.row[3].count);  // a failed number list is released whole
  EXPECT_EQ(nullptr, u.row[3].value.pointer);
}

TEST(PortOptions, UnreadableYesNoLeavesTheRowNotGiven) {
  Table t;
  EXPECT_EQ(PORT_OPT_BAD_VALUE | 5,
            prepare_port_options("LocalOnly=perhaps", 0, t.row, nullptr));
  EXPECT_EQ(0, t.row[5].count);
  EXPECT_EQ(0u, port_option_on(&t.row[5]));
  EXPECT_EQ(0u, port_option_off(&t.row[5]));
}

TEST(PortOptions, OnAndOffByKind) {
  const struct {
    const char* text;
    int row;
    unsigned on;
    unsigned off;
  } cases[] = {
      {"LO=no", 5, 0, 1},
      {"LO=TRUE", 5, 1, 0},
      {"DoBroadcast=off", 2, 0, 1},
      {"DoBroadcast=NONE", 2, 0, 0},
      {"Host=on,x", 0, 1, 0},
      {"Host=x,on", 0, 0, 0},
      {"TO=1", 1, 0, 0},
      {"", 5, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Table t;
    ASSERT_EQ(PORT_OPT_OK, prepare_port_options(c.text, 0, t.row, nullptr));
    EXPECT_EQ(c.on, port_option_on(&t.row[c.row]));
    EXPECT_EQ(c.off, port_option_off(&t.row[c.row]));
  }
}

TEST(PortOptions, DeallocateEmptiesEveryKind) {
  Table t;
  ASSERT_EQ(PORT_OPT_OK, prepare_port_options("Host=a,b;Port=1;DoBroad=x;Raw=r;TO=3;Nodes="
                                              "1:2:3:4:5:6/7:8:9:10",
                                              0, t.row, nullptr));
  unprepare_port_options(t.row, 0);
  for (int i = 0; t.row[i].name != nullptr; ++i) EXPECT_EQ(0, t.row[i].count) << i;
  // A second release and a fresh parse work on the emptied table.
  unprepare_port_options(t.row, 0);
  EXPECT_EQ(PORT_OPT_OK, prepare_port_options("Host=c", 0, t.row, nullptr));
  EXPECT_EQ(std::vector<std::string>{"c"}, Strings(t.row[0]));
}

TEST(PortOptions, IPXAddressTextRoundTrip) {
  const std::uint8_t address[10] = {10, 20, 30, 40, 1, 2, 3, 4, 5, 254};
  char text[40];
  ipx_addr_to_string(address, text);
  EXPECT_STREQ("1:2:3:4:5:254/10:20:30:40", text);
  char back[11] = {};
  ASSERT_EQ(back, string_to_ipx_addr(" 1 : 2:3:4:5:254 / 10:20:30:40 ", back));
  EXPECT_EQ(0, std::memcmp(address, back, sizeof address));
  EXPECT_EQ(nullptr, string_to_ipx_addr("1:2:3:4:5:6/7:8:9:10:11", back));
  EXPECT_EQ(nullptr, string_to_ipx_addr("1:2:3:4:5:6:7:8:9:10", back));
  EXPECT_EQ(nullptr, string_to_ipx_addr("", back));
}

// The English message catalog of the build tree.
class OptionMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = std::string(VQ_TEST_RES_DIR) + "/vqlgen12.res";
    ASSERT_TRUE(file_.Open(path.c_str()));
    UTResFile* files[] = {&file_};
    strings_.SetResFiles(files, 1);
  }
  std::string Format(std::uint32_t code, const char* link, const char* saved) {
    char buf[256];
    option_error(code, buf, sizeof buf, &strings_, table_.row, link, saved);
    return buf;
  }
  UTLocale locale_;
  UTVCResFile file_;
  UTLangStringBase strings_{&locale_};
  Table table_;
};

TEST_F(OptionMessages, EachCodeGivesItsMessageWithAndWithoutALinkName) {
  const struct {
    std::uint32_t code;
    const char* link;
    const char* saved;
    const char* text;
  } cases[] = {
      {PORT_OPT_NO_MEMORY, nullptr, "", "Out of memory while looking for the server over \n"},
      {PORT_OPT_NO_MEMORY | PORT_OPT_UNKNOWN, "TCPIP", "",
       "Out of memory while looking for the server over TCPIP\n"},
      {PORT_OPT_UNKNOWN, nullptr, "Colour=blue", "Unknown link parameter: Colour=blue\n"},
      {PORT_OPT_UNKNOWN, "TCPIP", "", "TCPIP: unknown link parameter Host\n"},
      {PORT_OPT_BAD_VALUE | 3, nullptr, "", "Bad value for the ServerPort link parameter\n"},
      {PORT_OPT_BAD_VALUE | 3, "TCPIP", "",
       "TCPIP: bad value for the ServerPort link parameter\n"},
      {PORT_OPT_NO_EQUALS, nullptr, "junk", "Link parameter without a value: junk\n"},
      {PORT_OPT_NO_EQUALS, "TCPIP", "junk", "TCPIP: link parameter without a value: junk\n"},
      {PORT_OPT_MULTIPLE | 1, nullptr, "",
       "The Timeout link parameter was given more than once\n"},
      {PORT_OPT_MULTIPLE | 1, "TCPIP", "",
       "TCPIP: the Timeout link parameter was given more than once\n"},
      {PORT_OPT_BAD_VALUE | 200, nullptr, "", "Bad value for the  link parameter\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(c.text, Format(c.code, c.link, c.saved));
  }
}

TEST_F(OptionMessages, TheNewlineAlwaysFits) {
  char buf[12];
  std::memset(buf, 'x', sizeof buf);
  option_error(PORT_OPT_MULTIPLE | 1, buf, 8, &strings_, table_.row, nullptr, nullptr);
  EXPECT_EQ(7u, std::strlen(buf));
  EXPECT_EQ('\n', buf[6]);
  EXPECT_EQ('x', buf[8]);
}

}  // namespace

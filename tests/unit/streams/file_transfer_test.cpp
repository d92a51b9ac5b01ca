// Server-driven client file transfer, in a temporary directory: requests written by the
// stand-in server's item writer, the client's answers read back with its item reader.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "items.h"
#include "pres_harness.h"
#include "scoped_environment.h"
#include "utils/locale/utlocale.h"

namespace {

using vq::testing::PresHarness;

constexpr std::uint8_t kOpen = 1, kTransfer = 2, kClose = 3;
constexpr std::uint8_t kWrite = 0x01, kApproved = 0x02;

std::string Request(std::uint8_t op, std::uint32_t handle, std::uint8_t flags,
                    std::uint64_t offset = 0, std::uint32_t count = 0, std::uint8_t kind = 1) {
  std::string r(20, '\0');
  r[0] = static_cast<char>(op);
  for (int i = 0; i < 4; ++i) r[1 + i] = static_cast<char>(handle >> (8 * i));
  r[5] = static_cast<char>(kind);
  for (int i = 0; i < 8; ++i) r[6 + i] = static_cast<char>(offset >> (8 * i));
  for (int i = 0; i < 4; ++i) r[14 + i] = static_cast<char>(count >> (8 * i));
  r[18] = static_cast<char>(flags);
  return r;
}

// What the host's check saw and answers.
struct Host {
  int result = 1;
  std::uint32_t allow = 1;
  std::vector<std::string> names;
  std::vector<std::uint32_t> writes;
  static int Check(void* data, void*, const char* name, std::uint32_t write, std::uint32_t* allow) {
    auto* h = static_cast<Host*>(data);
    h->names.emplace_back(name);
    h->writes.push_back(write);
    *allow = h->allow;
    return h->result;
  }
};

// One item of the client's answer.
struct Answer {
  std::uint8_t code;
  std::string value;  // payload, or the whole long value
  bool is_long;
};

class FileTransfer : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vqftXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    pres_.owner().check = &Host::Check;
    pres_.owner().data = &host_;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // The server sends one request message followed by a message holding item 9; the
  // client reads, which handles the request, and must arrive at item 9. Returns the
  // items the client answered with.
  std::vector<Answer> Serve(const std::string& request, const std::string* name,
                            const std::string* data = nullptr) {
    vqeng::ItemWriter w(7300, true);
    w.put(140, request);
    if (name != nullptr) w.put_bytes(134, *name);
    if (data != nullptr) w.put_bytes(113, *data);
    w.put_empty(0);
    for (const std::string& p : w.finish()) EXPECT_TRUE(pres_.Deliver(p));
    vqeng::ItemWriter next(7300, true);
    next.put(9, "go");
    for (const std::string& p : next.finish()) EXPECT_TRUE(pres_.Deliver(p));

    const std::size_t before = pres_.Sent().size();
    std::uint8_t code = 0, length = 0;
    const std::uint8_t* payload = nullptr;
    EXPECT_EQ(SQLPresReceive(pres_.h(), &code, &length, &payload), SQLPRES_OK);
    EXPECT_EQ(code, 9) << "reading goes on after the request";

    const auto packets = pres_.Sent();
    std::vector<std::string> bodies;
    for (std::size_t i = before; i < packets.size(); ++i) {
      bodies.emplace_back(packets[i].begin() + 4, packets[i].end());
    }
    if (!bodies.empty()) {
      EXPECT_EQ(packets.back()[1] & PKT_STATUS_EOM, PKT_STATUS_EOM) << "the answer ends a message";
    }
    std::vector<Answer> out;
    vqeng::ItemReader reader(&bodies);
    vqeng::Item item;
    while (reader.next(item) == vqeng::ItemReader::Result::Ok) {
      Answer a{item.code, "", item.is_long()};
      if (item.is_long()) {
        EXPECT_EQ(reader.read_value(item, a.value, 1 << 24), vqeng::ItemReader::Result::Ok);
      } else {
        a.value.assign(reinterpret_cast<const char*>(item.payload), item.payload_len());
      }
      out.push_back(a);
    }
    return out;
  }
  // The status the answer ends with (0 without one).
  static int Status(const std::vector<Answer>& answer) {
    if (answer.empty() || answer.back().code != 141 || answer.back().value.size() != 5) return 0;
    const std::string& v = answer.back().value;
    EXPECT_EQ(vq::strm::load_le32(reinterpret_cast<const std::uint8_t*>(v.data()) + 1), 2097152u);
    return static_cast<std::uint8_t>(v[0]);
  }
  std::string Path(const std::string& leaf) const { return dir_ + "/" + leaf; }
  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string dir_;
  Host host_;
  PresHarness pres_{7300, true};
};

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + i / 997) & 0xFF);
  return s;
}

TEST_F(FileTransfer, AReadOf300000BytesComesInThreeLongItems) {
  const std::string content = Pattern(300000);
  const std::string name = Path("source.bin");
  std::ofstream(name, std::ios::binary) << content;

  auto answer = Serve(Request(kOpen, 5, 0), &name);
  ASSERT_EQ(answer.size(), 4u);
  EXPECT_EQ(answer[0].code, 133);
  EXPECT_EQ(answer[0].value, std::string("\x05\x00\x00\x00", 4));
  EXPECT_EQ(answer[1].code, 104);
  EXPECT_EQ(answer[1].value, std::string("\xE0\x93\x04\x00\x00\x00\x00\x00", 8)) << "300000";
  EXPECT_EQ(answer[2].code, 0);
  EXPECT_EQ(Status(answer), 1);
  EXPECT_EQ(host_.names, std::vector<std::string>{name});
  EXPECT_EQ(host_.writes, std::vector<std::uint32_t>{0});

  answer = Serve(Request(kTransfer, 5, 0, 0, 300000), nullptr);
  ASSERT_EQ(answer.size(), 6u);
  const std::size_t sizes[] = {131072, 131072, 37856};
  std::string back;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(answer[1 + i].code, 113);
    EXPECT_TRUE(answer[1 + i].is_long);
    EXPECT_EQ(answer[1 + i].value.size(), sizes[i]);
    back += answer[1 + i].value;
  }
  EXPECT_EQ(back, content);
  EXPECT_EQ(Status(answer), 1);

  EXPECT_TRUE(Serve(Request(kClose, 5, 0), nullptr).empty()) << "a close is not answered";
  EXPECT_EQ(pres_.state()->file_count, 0);
}

TEST_F(FileTransfer, OpensThatFailOrAreRefusedGetTheirStatus) {
  std::ofstream(Path("there")) << "x";
  struct Row {
    const char* what;
    std::string name;  // empty: no name item
    std::uint8_t flags;
    std::uint8_t kind;
    int host_result;
    std::uint32_t allow;
    int status;
    std::size_t asked;  // times the host was asked
  } rows[] = {
      {"a missing directory", Path("nodir/file"), kWrite, 1, 1, 1, 3, 1},
      {"a missing file", Path("absent"), 0, 1, 1, 1, 3, 1},
      {"the host refuses", Path("there"), 0, 1, 0, 1, 5, 1},
      {"the host denies", Path("there"), 0, 1, 1, 0, 6, 1},
      // The "approved already" flag does not spare the host's check.
      {"approved by the server, denied by the host", Path("there"), kApproved, 1, 1, 0, 6, 1},
      {"no name: the host is asked about the empty name", "", 0, 1, 1, 0, 6, 1},
      {"an open of another kind", Path("there"), 0, 2, 1, 1, 4, 0},
      // Names that cannot be opened as sent: longer than 4096 bytes, or with a zero byte.
      {"a name over 4096 bytes", Path(std::string(5000, 'n')), 0, 1, 1, 1, 10, 0},
      {"a name with a zero byte", Path("there") + std::string(1, '\0') + "x", 0, 1, 1, 1, 10, 0},
  };
  std::uint32_t handle = 100;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    host_ = Host{};
    host_.result = r.host_result;
    host_.allow = r.allow;
    const auto answer =
        Serve(Request(kOpen, ++handle, r.flags, 0, 0, r.kind), r.name.empty() ? nullptr : &r.name);
    EXPECT_EQ(Status(answer), r.status);
    EXPECT_EQ(host_.names.size(), r.asked);
    if (r.asked != 0) {
      EXPECT_EQ(host_.names[0], r.name);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(Path("nodir")));
  EXPECT_EQ(pres_.state()->file_count, 0);
}

TEST_F(FileTransfer, WithoutACheckNoFileIsOpened) {
  pres_.owner().check = nullptr;
  const std::string name = Path("made");
  EXPECT_EQ(Status(Serve(Request(kOpen, 1, kWrite | kApproved), &name)), 5);
  EXPECT_FALSE(std::filesystem::exists(name));
}

TEST_F(FileTransfer, WritesReachTheFileAndTheLimitIsKept) {
  const std::string name = Path("target.bin");
  ASSERT_EQ(Status(Serve(Request(kOpen, 9, kWrite), &name)), 1);
  EXPECT_EQ(host_.writes, std::vector<std::uint32_t>{1});
  const std::string first = Pattern(200000);
  EXPECT_EQ(Status(Serve(Request(kTransfer, 9, kWrite, 0), nullptr, &first)), 1);
  EXPECT_EQ(ReadFile(name), first);

  // A position that does not match, then data for a handle no one opened: refused and
  // skipped, and reading goes on.
  const std::string small = Pattern(1000);
  EXPECT_EQ(Status(Serve(Request(kTransfer, 9, kWrite, 5), nullptr, &small)), 7);
  EXPECT_EQ(Status(Serve(Request(kTransfer, 77, kWrite, 0), nullptr, &small)), 8);
  EXPECT_EQ(ReadFile(name).size(), first.size());

  // More than 2 MiB in one transfer: written, but answered with 8.
  const std::string big = Pattern(2 * 1024 * 1024 + 1000);
  EXPECT_EQ(Status(Serve(Request(kTransfer, 9, kWrite, 200000), nullptr, &big)), 8);
  EXPECT_EQ(ReadFile(name), first + big);

  EXPECT_EQ(Status(Serve(Request(kOpen, 9, kWrite), &name)), 8) << "the handle is open";
}

TEST_F(FileTransfer, ReadsFromAnOffsetOnlyWhenSeekingIsAllowed) {
  const std::string content = Pattern(100);
  const std::string name = Path("seek.bin");
  std::ofstream(name, std::ios::binary) << content;
  ASSERT_EQ(Status(Serve(Request(kOpen, 1, 0), &name)), 1);
  EXPECT_EQ(Status(Serve(Request(kTransfer, 1, 0, 10, 5), nullptr)), 8) << "no seek flag";
  auto answer = Serve(Request(kTransfer, 1, 0x04, 10, 5), nullptr);
  EXPECT_EQ(Status(answer), 1);
  ASSERT_EQ(answer.size(), 4u);
  EXPECT_EQ(answer[1].value, content.substr(10, 5));
  // The end of the file comes before the count: what there is, and status 2.
  answer = Serve(Request(kTransfer, 1, 0, 15, 1000), nullptr);
  EXPECT_EQ(Status(answer), 2);
  ASSERT_EQ(answer.size(), 4u);
  EXPECT_EQ(answer[1].value, content.substr(15));
}

TEST_F(FileTransfer, UnknownHandlesAndOperations) {
  EXPECT_TRUE(Serve(Request(kClose, 4242, 0), nullptr).empty()) << "no answer to a close";
  EXPECT_EQ(Status(Serve(Request(kTransfer, 4242, 0, 0, 10), nullptr)), 8);
  EXPECT_EQ(Status(Serve(Request(7, 1, 0), nullptr)), 4);
}

TEST_F(FileTransfer, FinishingARequestClosesEveryOpenFile) {
  std::vector<int> fds;
  for (std::uint32_t h = 1; h <= 6; ++h) {  // past the table's first four entries
    const std::string name = Path("f" + std::to_string(h));
    std::ofstream(name) << "data";
    ASSERT_EQ(Status(Serve(Request(kOpen, h, 0), &name)), 1);
  }
  ASSERT_EQ(pres_.state()->file_count, 6);
  for (std::uint16_t i = 0; i < 6; ++i) fds.push_back(pres_.state()->files[i].fd);
  SQLPresFiniRequest(pres_.h());
  EXPECT_EQ(pres_.state()->file_count, 0);
  for (int fd : fds) EXPECT_EQ(fcntl(fd, F_GETFD), -1) << fd;
}

// The host is shown the name after its conversion to the connection's character set,
// and that name is the one opened.
TEST_F(FileTransfer, TheHostSeesTheConvertedName) {
  vq::testing::ScopedEnvironment env({"LC_ALL", "LC_CTYPE", "LANG", "VCCHARSET"});
  env.Set("LC_ALL", "en_US.ISO8859-1");
  UTLocale locale;
  ASSERT_NE(locale.os_charset(), UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
  pres_.owner().locale_ptr = &locale;
  pres_.conn()->set_client_cs_info(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
  const std::string sent = Path("caf\xE9");
  const std::string opened = Path("caf\xC3\xA9");
  ASSERT_EQ(Status(Serve(Request(kOpen, 3, kWrite), &sent)), 1);
  EXPECT_EQ(host_.names, std::vector<std::string>{opened});
  EXPECT_TRUE(std::filesystem::exists(opened));
}

}  // namespace

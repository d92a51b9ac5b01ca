// Packet dump files, read back record by record.
#include "streams/packet_dump.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fake_session.h"
#include "strm_fakes.h"

namespace {

using vq::testing::MakePacket;
using Bytes = std::vector<std::uint8_t>;

struct Record {
  std::uint16_t length;
  std::uint8_t mark;
  std::uint8_t kind;
  std::uint16_t year;
  std::uint8_t month;
  std::uint8_t link;
  std::uint32_t sequence;
  Bytes data;
};

// Splits a dump file into its records; fails the test on a record that runs past the end.
std::vector<Record> ReadDump(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Record> out;
  std::size_t at = 0;
  while (at < all.size()) {
    EXPECT_LE(at + kDumpRecordHeaderBytes, all.size());
    if (at + kDumpRecordHeaderBytes > all.size()) break;
    const std::uint8_t* h = all.data() + at;
    Record r{vq::strm::load_le16(h), h[2], h[3], vq::strm::load_le16(h + 4), h[6], h[18],
             vq::strm::load_le32(h + kDumpSequenceAt), {}};
    at += kDumpRecordHeaderBytes;
    EXPECT_LE(at + r.length, all.size());
    if (at + r.length > all.size()) break;
    r.data.assign(all.begin() + at, all.begin() + at + r.length);
    at += r.length;
    out.push_back(r);
  }
  return out;
}

class PacketDump : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vqdumpXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const char* name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(PacketDump, RecordsPacketsCommentsAndTheDisconnect) {
  c_strm_pktdump dump(STRM_PORT_TCPIP);
  ASSERT_TRUE(dump.open(Path("conn_1.dmp").c_str()));
  const Bytes sent = MakePacket(PKT_DATA, 1, 30);
  const Bytes received = MakePacket(PKT_ATTENTION, 5, 0);
  dump.dumpFileHdr(DUMP_FILE_CLIENT);
  dump.dump(PKTDUMP_SENT, sent.data(), sent.size());
  dump.dump(PKTDUMP_RECEIVED, received.data(), received.size());
  dump.comment("%s", "abc");
  dump.comment("function %s code %d", "put", 13);
  dump.dump(PKTDUMP_DISCONNECT);
  dump.close();
  dump.dump(PKTDUMP_SENT, sent.data(), sent.size());  // closed: nothing

  const std::vector<Record> r = ReadDump(Path("conn_1.dmp"));
  ASSERT_EQ(r.size(), 6u);
  const std::uint8_t kinds[] = {5, 0, 1, 4, 4, 3};
  for (std::size_t i = 0; i < r.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(r[i].mark, 6);
    EXPECT_EQ(r[i].kind, kinds[i]);
    EXPECT_EQ(r[i].link, 3) << "TCP/IP";
    EXPECT_GE(r[i].year, 2000);
    EXPECT_LT(r[i].month, 12);
  }
  EXPECT_EQ(r[0].data, (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r[1].data, sent);
  EXPECT_EQ(r[2].data, received);
  EXPECT_EQ(r[2].sequence, r[1].sequence + 1) << "each packet counts one";
  EXPECT_EQ(r[3].length, 4) << "abc and its zero";
  EXPECT_EQ(std::string(r[3].data.begin(), r[3].data.end()), std::string("abc", 4));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r[4].data.data())), "function put code 13");
  EXPECT_EQ(r[5].length, 0);
}

TEST_F(PacketDump, APacketIsNeverReadPastTheBytesGiven) {
  c_strm_pktdump dump(STRM_PORT_SHARED_MEMORY);
  ASSERT_TRUE(dump.open(Path("cut.dmp").c_str()));
  Bytes lying = MakePacket(PKT_DATA, 0, 10);
  vq::strm::store_be16(lying.data() + 2, 5000);
  dump.dump(PKTDUMP_RECEIVED, lying.data(), lying.size());
  dump.dump(PKTDUMP_RECEIVED, lying.data(), 3);  // not even a header: nothing
  const std::string long_text(1000, 'x');
  dump.comment("%s", long_text.c_str());
  dump.close();
  const std::vector<Record> r = ReadDump(Path("cut.dmp"));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].data, lying);
  EXPECT_EQ(r[0].link, 0) << "shared memory";
  EXPECT_EQ(r[1].length, kDumpMaxComment + 1) << "cut, with its zero";
}

// The dump makes its own file: it never truncates a file that is there or follows a
// symbolic link planted under its name.
TEST_F(PacketDump, AnExistingFileOrLinkIsRefused) {
  {
    std::ofstream(Path("taken.dmp")) << "keep me";
  }
  ASSERT_EQ(symlink(Path("target").c_str(), Path("link.dmp").c_str()), 0);
  c_strm_pktdump dump(STRM_PORT_TCPIP);
  EXPECT_FALSE(dump.open(Path("taken.dmp").c_str()));
  EXPECT_FALSE(dump.open(Path("link.dmp").c_str()));
  EXPECT_FALSE(dump.open(Path("no/such/dir.dmp").c_str()));
  EXPECT_FALSE(dump.is_open());
  dump.comment("%s", "nothing");  // a dump that is not open writes nothing
  std::ifstream in(Path("taken.dmp"));
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "keep me");
  EXPECT_FALSE(std::filesystem::exists(Path("target")));
}

class AddressPort : public vq::testing::MinimalPort {
 public:
  AddressPort() : MinimalPort(STRM_PORT_TCPIP) {}
  void format_machine_addr(const a_machine_addr* addr, char* text, unsigned int size) override {
    std::snprintf(text, size, "%.*s", addr[1], reinterpret_cast<const char*>(addr + 2));
  }
};

TEST_F(PacketDump, ConnectionInformationNamesThePortAndThePeer) {
  AddressPort port;
  a_machine_addr* peer = vq::strm::NewMachineAddr(STRM_PORT_TCPIP, "127.0.0.1:2638");
  c_strm_pktdump dump(STRM_PORT_TCPIP);
  ASSERT_TRUE(dump.open(Path("info.dmp").c_str()));
  dump.dump_conn_info(&port, peer);
  dump.dump_conn_info(&port, nullptr);
  dump.close();
  ut_free(peer);
  const std::vector<Record> r = ReadDump(Path("info.dmp"));
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].kind, PKTDUMP_FILE_HEADER);
  const std::string remote(reinterpret_cast<const char*>(r[1].data.data()));
  EXPECT_EQ(remote.rfind("VC Version: 12.0.0.2566\n\tPort: TCPIP, Connected to: 127.0.0.1:2638\n\t"
                         "This Machine: ", 0), 0u) << remote;
  EXPECT_NE(remote.find(", OS: "), std::string::npos);
  const std::string local(reinterpret_cast<const char*>(r[3].data.data()));
  EXPECT_EQ(local.rfind("VC Version: 12.0.0.2566\n\tPort: TCPIP, Local Connection\n\t", 0), 0u);
  EXPECT_LE(r[1].length, 251u);
}

}  // namespace

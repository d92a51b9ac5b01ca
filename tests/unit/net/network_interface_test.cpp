// The interface list: fixture files in place of /proc/net (the IPv4 details of the names
// found there come from the kernel, so only "lo" ever has them), the real /proc and
// kernel, the start counter, refreshes and the per-interface helpers.
#include "net/network_interface.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "net/tcp_util.h"
#include "utils/base/byte_stream.h"

namespace {

class ProcFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vqnetXXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    vq::net::SetProcNetDirectory(dir_.c_str());
    TcpUtil::Init();
  }
  void TearDown() override {
    TcpUtil::Fini();
    vq::net::SetProcNetDirectory(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void Write(const char* name, const std::string& content) {
    std::ofstream(dir_ + "/" + name) << content;
  }

  // name -> address text of every cached entry, in order.
  std::vector<std::string> Entries() {
    std::vector<std::string> out;
    NetworkInterface_list* list = TcpUtil::GetNIList(nullptr);
    if (list == nullptr) return out;
    for (NetworkInterface_iter it(*list); !it.at_end(); it.next()) {
      char text[80];
      it.element()->getIPAddress(text, sizeof text);
      out.push_back(std::string(it.element()->getName()) + " " + text);
    }
    return out;
  }

  std::string dir_;
};

const char kDevHeader[] =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets\n";

std::string DevLine(const std::string& name) {
  return "  " + name + ":  123456     789    0    0    0     0          0         0  123456\n";
}

// Names longer than 8 characters and a line whose name is longer than the kernel allows
// must not shift the entries after them.
const char kIfInet6[] =
    "fe800000000000000000000000000001 05 40 20 80 wlp0s20f3abc\n"
    "20010db8000000000000000000000002 07 40 00 80 vethabcdef12345\n"
    "00000000000000000000000000000001 01 80 10 80       lo\n"
    "fe80000000000000000000000000000z 09 40 20 80 bad\n"
    "fe800000000000000000000000000003 0a 40 20 80 averyveryverylongname0123\n"
    "fe800000000000000000000000000004 0b 40 20 80 eth1\n";

TEST_F(ProcFixture, OnlyLoopbackKeepsItsKernelEntryAndNoSyntheticOne) {
  Write("dev", std::string(kDevHeader) + DevLine("lo") + DevLine("nosuchif0123"));
  Write("if_inet6", "");
  std::uint32_t count = 0;
  ASSERT_NE(nullptr, TcpUtil::GetNIList(&count));
  const std::vector<std::string> expected = {"lo 127.0.0.1"};
  EXPECT_EQ(expected, Entries());
  EXPECT_EQ(1u, count);
  NetworkInterface* lo = TcpUtil::_find_interface_by_name("lo");
  ASSERT_NE(nullptr, lo);
  EXPECT_TRUE(lo->isLoopback());
  EXPECT_TRUE(lo->isUp());
  EXPECT_EQ(0xFF000000u, lo->getNetMask().ipv4HostOrder());
  EXPECT_EQ(1u, lo->index);
  EXPECT_TRUE(lo->isIPv4Entry);
}

TEST_F(ProcFixture, IPv6EntriesWithLongNamesAndTheSyntheticLoopbacks) {
  if (TcpUtil::IsIPv6Supported() == 0) GTEST_SKIP() << "no IPv6 on this host";
  Write("dev", std::string(kDevHeader) + DevLine("nosuchif0123"));
  Write("if_inet6", kIfInet6);
  const std::vector<std::string> expected = {
      "wlp0s20f3abc fe80::1%5",
      "vethabcdef12345 2001:db8::2%7",
      "lo ::1%1",
      "averyveryverylo fe80::3%10",  // cut to the kernel's 15 characters
      "eth1 fe80::4%11",
      "lo0 127.0.0.1",
      "lo0 ::1",
  };
  EXPECT_EQ(expected, Entries());
  NetworkInterface* veth = TcpUtil::_find_interface_by_name("vethabcdef12345");
  ASSERT_NE(nullptr, veth);
  EXPECT_EQ(7u, veth->index);
  EXPECT_EQ(0x80u, veth->flags);
  EXPECT_TRUE(veth->isIPv6Entry);
  EXPECT_FALSE(veth->netMask.isValid());
  char text[64];
  ASSERT_EQ(1u, veth->getBroadcastAddress(text, sizeof text));
  EXPECT_STREQ("ff02::1%7", text);
  NetworkInterface* lo6 = TcpUtil::_find_interface_by_name("lo");
  ASSERT_NE(nullptr, lo6);
  EXPECT_TRUE(lo6->getBroadcastAddress().sameIPAddress(lo6->getIPAddress()));
  EXPECT_EQ(nullptr, TcpUtil::_find_interface_by_name(""));
  // Lines of dev with a ":" and every line of if_inet6.
  EXPECT_EQ(1 + 6, NetworkInterface::getNumNICs());
}

TEST_F(ProcFixture, MissingFilesGiveOnlyTheSyntheticLoopbacks) {
  std::uint32_t count = 0;
  ASSERT_NE(nullptr, TcpUtil::GetNIList(&count));
  std::vector<std::string> expected = {"lo0 127.0.0.1"};
  if (TcpUtil::IsIPv6Supported() != 0) expected.push_back("lo0 ::1");
  EXPECT_EQ(expected, Entries());
  EXPECT_EQ(expected.size(), count);
  EXPECT_EQ(-1, NetworkInterface::getNumNICs());
  EXPECT_TRUE(TcpUtil::IsLocalIPAddress("127.0.0.1"));
}

TEST_F(ProcFixture, UpdateAddsAndDropsInterfacesByAddress) {
  if (TcpUtil::IsIPv6Supported() == 0) GTEST_SKIP() << "no IPv6 on this host";
  Write("dev", std::string(kDevHeader) + DevLine("lo"));
  Write("if_inet6", "fe800000000000000000000000000004 0b 40 20 80 eth1\n");
  EXPECT_EQ(1u, TcpUtil::UpdateNIList());  // not built yet
  std::uint32_t count = 0;
  TcpUtil::GetNIList(&count);
  EXPECT_EQ(2u, count);
  EXPECT_EQ(0u, TcpUtil::UpdateNIList());  // nothing changed
  Write("if_inet6", "fe800000000000000000000000000005 0c 40 20 80 eth2\n");
  EXPECT_EQ(1u, TcpUtil::UpdateNIList());
  const std::vector<std::string> expected = {"lo 127.0.0.1", "eth2 fe80::5%12"};
  EXPECT_EQ(expected, Entries());
  TcpUtil::GetNIList(&count);
  EXPECT_EQ(2u, count);
}

TEST_F(ProcFixture, StartCounterKeepsTheListUntilTheLastStop) {
  Write("dev", std::string(kDevHeader) + DevLine("lo"));
  TcpUtil::GetNIList(nullptr);
  ASSERT_NE(0u, TcpUtil::NICount);
  TcpUtil::Init();
  EXPECT_EQ(1u, TcpUtil::Fini());
  EXPECT_NE(0u, TcpUtil::NICount);  // one start left: the list stays
  EXPECT_EQ(0u, TcpUtil::Fini());
  EXPECT_EQ(0u, TcpUtil::NICount);
  EXPECT_EQ(nullptr, TcpUtil::NIList);
  // A stop without a start changes nothing: the next start is a first start again.
  EXPECT_EQ(0u, TcpUtil::Fini());
  EXPECT_EQ(0u, TcpUtil::NumStarted.load());
  TcpUtil::Init();  // for TearDown
  EXPECT_EQ(1u, TcpUtil::NumStarted.load());
}

TEST(RealInterfaces, TheKernelsLoopbackIsListed) {
  TcpUtil::Init();
  NetworkInterface_list* list = TcpUtil::GetNIList(nullptr);
  ASSERT_NE(nullptr, list);
  bool loopback = false;
  for (NetworkInterface_iter it(*list); !it.at_end(); it.next())
    if (it.element()->getIPAddress() == 0x7F000001u) loopback = true;
  EXPECT_TRUE(loopback);
  EXPECT_TRUE(TcpUtil::IsLocalIPAddress("localhost"));
  EXPECT_TRUE(TcpUtil::IsLocalIPAddress("127.0.0.1:2638"));
  EXPECT_FALSE(TcpUtil::IsLocalIPAddress(""));
  EXPECT_FALSE(TcpUtil::IsLocalIPAddress(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(TcpUtil::IsLocalIPAddress("192.0.2.77"));  // documentation range
  IPAddress lo(0x7F000001u);
  EXPECT_TRUE(TcpUtil::IsLocalIPAddress(lo));
  EXPECT_NE(nullptr, TcpUtil::FindInterfaceByIPAddress(lo));
  TcpUtil::Fini();
}

// Collects what is written to it.
class StringStream : public UTOStream {
 public:
  unsigned do_put(const unsigned char* src, unsigned n) override {
    text.append(reinterpret_cast<const char*>(src), n);
    return n;
  }
  std::string text;
};

TEST_F(ProcFixture, ListenerAddressesExpandTheAnyAddress) {
  if (TcpUtil::IsIPv6Supported() == 0) GTEST_SKIP() << "no IPv6 on this host";
  Write("dev", std::string(kDevHeader) + DevLine("lo"));
  Write("if_inet6",
        "00000000000000000000000000000001 01 80 10 80 lo\n"
        "fe800000000000000000000000000004 0b 40 20 80 eth1\n"
        "20010db8000000000000000000000002 07 40 00 80 eth2\n");
  StringStream out;
  unsigned first = 1;
  TcpUtil::ListenerAddrToUTOStream(&out, first, IPAddress("10.1.2.3:2638"));
  EXPECT_EQ(0u, first);
  IPAddress any6;
  any6.use_INADDR_ANY(1);
  any6.setPortNumber(5000);
  TcpUtil::ListenerAddrToUTOStream(&out, first, any6);
  EXPECT_EQ("10.1.2.3:2638;(fe80::4%11):5000;(2001:db8::2%7):5000", out.text);
}

TEST(NetworkInterface, SettersHelpersAndHardwareAddressTexts) {
  TcpUtil::Init();
  NetworkInterface ni;
  ni.setIPAddress(IPAddress("192.168.1.5"));
  EXPECT_TRUE(ni.isIPv4Entry);
  EXPECT_EQ(0xFFFFFF00u, ni.getNetMask().ipv4HostOrder());
  EXPECT_EQ(0xC0A801FFu, ni.getBroadcastAddress().ipv4HostOrder());
  EXPECT_TRUE(ni.isAddressInSameSubnet(IPAddress("192.168.1.77")));
  EXPECT_FALSE(ni.isAddressInSameSubnet(IPAddress("192.168.2.77")));
  EXPECT_FALSE(ni.isAddressInSameSubnet(IPAddress("::1")));
  ni.setNetMask(IPAddress("::1"));  // ignored
  EXPECT_EQ(0xFFFFFF00u, ni.getNetMask().ipv4HostOrder());
  EXPECT_FALSE(ni.isLoopback());

  const std::uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  std::memcpy(ni.macAddress, mac, sizeof mac);
  char text[32];
  ASSERT_EQ(1u, ni.getMACAddress(text, sizeof text));
  EXPECT_STREQ("5e.4d.3c.2b.1a.00", text);
  EXPECT_EQ(0u, ni.getMACAddress(text, 17));  // one short of the terminator
  ASSERT_EQ(1u, ni.getMACAddressInTransOrder(text, sizeof text, "-"));
  EXPECT_STREQ("00-1a-2b-3c-4d-5e", text);
  EXPECT_EQ(0u, ni.getMACAddressInTransOrder(text, 5, ":"));

  NetworkInterface copy;
  ni.setName("eth9");
  ni.index = 9;
  ni.cloneTo(&copy);
  EXPECT_STREQ("eth9", copy.getName());
  EXPECT_EQ(9u, copy.index);
  EXPECT_TRUE(copy.getIPAddress().sameIPAddress(ni.getIPAddress()));
  EXPECT_EQ(0, std::memcmp(copy.getMACAddress(), mac, 6));

  NetworkInterface six;
  six.setIPAddress(IPAddress("fe80::9%1"));
  EXPECT_TRUE(six.isIPv6Entry);
  EXPECT_FALSE(six.getNetMask().isValid());
  ASSERT_EQ(1u, six.getBroadcastAddress(text, sizeof text));
  EXPECT_STREQ("ff02::1%1", text);
  TcpUtil::Fini();
}

}  // namespace

// The port layer: link names, the order in which links are tried, link-list faults,
// ports made through the makers the links register (fakes here), and the server
// address cache "vcsrv.ini".
#include "streams/port_layer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config/conn_parms.h"
#include "config/encrypt_level.h"
#include "port_layer_fixture.h"
#include "streams/buffer_pool.h"
#include "streams/transport.h"

namespace {

using vq::testing::PortLayerTest;

TEST(PortNames, AreMatchedWithoutRegardToCase) {
  struct Row {
    const char* name;
    a_port_type type;
  } rows[] = {{"ALL", STRM_PORT_ALL},        {"all", STRM_PORT_ALL},
              {"NONE", STRM_PORT_NONE},      {"SharedMemory", STRM_PORT_SHARED_MEMORY},
              {"shmem", STRM_PORT_SHARED_MEMORY}, {"TCPIP", STRM_PORT_TCPIP},
              {"tcp", STRM_PORT_TCPIP},      {"tcpip2", STRM_PORT_UNKNOWN},
              {"", STRM_PORT_UNKNOWN},       {nullptr, STRM_PORT_UNKNOWN}};
  for (const Row& r : rows) EXPECT_EQ(GetPortType(r.name), r.type) << (r.name ? r.name : "null");
  EXPECT_STREQ(GetPortTypeString(STRM_PORT_SHARED_MEMORY), "SharedMemory");
  EXPECT_STREQ(GetPortTypeString(STRM_PORT_TCPIP), "TCPIP");
  EXPECT_EQ(GetPortTypeString(STRM_PORT_ALL), nullptr);
}

struct OrderCase {
  const char* name;
  const char* parms;           // connection string
  an_int_strm_error shm;       // what the shared-memory link answers
  an_int_strm_error tcp;       // what the TCP/IP link answers
  an_int_strm_error result;
  std::vector<std::string> trace;  // the links' calls, in order
  const char* message;         // part of the error text, or null
  const char* links = nullptr;  // CommLinks as it stands, past the string parser
};

class LinkOrder : public PortLayerTest, public testing::WithParamInterface<OrderCase> {};

TEST_P(LinkOrder, SharedMemoryFirstTcpOnlyAfterNoServer) {
  const OrderCase& c = GetParam();
  shm_result = c.shm;
  tcp_result = c.tcp;
  c_strm_pconn* pconn = nullptr;
  const an_int_strm_error rc = Connect(c.parms, &pconn, 0, c.links);
  EXPECT_EQ(rc, c.result);
  EXPECT_EQ(trace, c.trace);
  EXPECT_EQ(pconn != nullptr, rc == STRM_OK);
  if (c.message != nullptr) {
    EXPECT_NE(std::string(err).find(c.message), std::string::npos) << err;
  }
  delete pconn;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, LinkOrder,
    testing::Values(
        OrderCase{"default_is_shared_memory", "", 1, 1, 1, {"2 init:", "2 connect:::"}, nullptr},
        OrderCase{"tcp_named_first_still_after_shm",
                  "CommLinks=TCPIP{host=h},SharedMemory", 7, 1, 1,
                  {"2 init:", "2 connect:::", "6 init:host=h", "6 connect::host=h:"}, nullptr},
        OrderCase{"shm_found_a_server", "CommLinks=TCPIP,SharedMemory", 1, 1, 1,
                  {"2 init:", "2 connect:::"}, nullptr},
        OrderCase{"shm_fails_otherwise", "CommLinks=TCPIP,SharedMemory", 14, 1, 14,
                  {"2 init:", "2 connect:::"}, nullptr},
        OrderCase{"all_tries_both", "CommLinks=ALL", 7, 7, 7,
                  {"2 init:", "2 connect:::", "6 init:", "6 connect:::"}, "no server"},
        OrderCase{"none_is_shared_memory", "CommLinks=NONE", 7, 1, 7,
                  {"2 init:", "2 connect:::"}, nullptr},
        OrderCase{"tcp_alone", "CommLinks=tcp(port=1)", 1, 1, 1,
                  {"6 init:port=1", "6 connect::port=1:"}, nullptr},
        OrderCase{"last_tcp_options_win", "CommLinks=TCPIP{a=1},TCPIP{b=2}", 1, 1, 1,
                  {"6 init:b=2", "6 connect::b=2:"}, nullptr},
        OrderCase{"unknown_name", "CommLinks=TCPIP,Pigeon", 1, 1, 12, {},
                  "Bad connection link list: Pigeon"},
        OrderCase{"bad_brackets", "", 1, 1, 12, {}, "Mismatched brackets", "TCPIP{x"},
        OrderCase{"text_after_group", "", 1, 1, 12, {}, "Unknown link type", "TCPIP{x}y"},
        OrderCase{"empty_list", "CommLinks=,", 1, 1, 12, {}, "Bad connection link list"}),
    [](const testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.name); });

TEST_F(PortLayerTest, ALinkThatAnswersNeitherConnectionNorTextGetsAMessage) {
  tcp_result = STRM_NO_SERVER;
  c_strm_pconn* pconn = nullptr;
  ASSERT_EQ(Connect("CommLinks=TCPIP", &pconn), STRM_NO_SERVER);
  Port(STRM_PORT_TCPIP)->connect_error = "";
  EXPECT_EQ(Connect("CommLinks=TCPIP", &pconn), STRM_NO_SERVER);
  EXPECT_STREQ(err, "No server found over TCPIP");
}

TEST_F(PortLayerTest, ALinkTypeWithoutAMakerIsUnknown) {
  vq::strm::SetPortMaker(STRM_PORT_TCPIP, nullptr);
  c_strm_pconn* pconn = nullptr;
  EXPECT_EQ(Connect("CommLinks=TCPIP", &pconn), STRM_UNKNOWN_LINK);
  EXPECT_STREQ(err, "Unknown communication link type");
}

TEST_F(PortLayerTest, APortThatFailsToStartIsDiscardedAndTriedAgain) {
  shm_init_result = STRM_NO_TCP_THREAD;
  c_strm_pconn* pconn = nullptr;
  EXPECT_EQ(Connect("", &pconn), STRM_NO_TCP_THREAD);
  EXPECT_EQ(layer->port(STRM_PORT_SHARED_MEMORY), nullptr);
  EXPECT_EQ(trace, (std::vector<std::string>{"2 init:", "2 shutdown"}));
  shm_init_result = STRM_OK;
  EXPECT_EQ(Connect("", &pconn), STRM_OK);
  EXPECT_NE(layer->port(STRM_PORT_SHARED_MEMORY), nullptr);
  delete pconn;
}

struct EncryptCase {
  std::uint32_t level;
  bool port_takes_tls;
  an_int_strm_error result;
};

class LinkEncryption : public PortLayerTest, public testing::WithParamInterface<EncryptCase> {};

// A link that does not take the level is refused before any connect is tried.
TEST_P(LinkEncryption, IsAskedBeforeConnecting) {
  const EncryptCase& c = GetParam();
  tls_ports = c.port_takes_tls;
  c_strm_pconn* pconn = nullptr;
  const an_int_strm_error rc = Connect("CommLinks=TCPIP", &pconn, c.level);
  EXPECT_EQ(rc, c.result);
  const bool connected = !trace.empty() && trace.back().rfind("6 connect", 0) == 0;
  EXPECT_EQ(connected, c.result == STRM_OK);
  if (rc == STRM_LINK_FAILED) {
    EXPECT_STREQ(err, "The TCPIP link does not support the requested encryption");
  }
  delete pconn;
}

INSTANTIATE_TEST_SUITE_P(Levels, LinkEncryption,
                         testing::Values(EncryptCase{0, false, 1}, EncryptCase{1, false, 1},
                                         EncryptCase{2, false, 12}, EncryptCase{3, false, 12},
                                         EncryptCase{4, false, 12}, EncryptCase{3, true, 1}));

TEST_F(PortLayerTest, CreatePortsMakesWhatTheListNames) {
  int count = -1;
  EXPECT_EQ(layer->create_ports("TCPIP,SharedMemory", "app", &count, err, sizeof err, nullptr), 1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(layer->create_ports("TCPIP", "app", &count, err, sizeof err, nullptr), 0);
  EXPECT_EQ(count, 0) << "nothing new to make";
  EXPECT_EQ(layer->create_ports("", "app", &count, err, sizeof err, nullptr), 1);
  EXPECT_EQ(layer->create_ports("ALL", "app", &count, err, sizeof err, nullptr), 0);
  EXPECT_EQ(layer->create_ports("Pigeon", "app", &count, err, sizeof err, nullptr), 0);
  EXPECT_STREQ(err, "Bad connection link list: Pigeon");
}

// ---- the server address cache ----

TEST_F(PortLayerTest, ASuccessfulTcpConnectIsCachedUnderTheLowerCaseName) {
  reached_addr = "127.0.0.1:2638";
  c_strm_pconn* pconn = nullptr;
  ASSERT_EQ(Connect("ServerName=MyServer;CommLinks=TCPIP", &pconn), STRM_OK);
  EXPECT_STREQ(pconn->server_name, "myserver");
  delete pconn;
  EXPECT_EQ(CacheFile(), "[myserver]\nLink=TCPIP\nAddress=127.0.0.1:2638\n\n");

  // The next connect offers the cached address to the link.
  trace.clear();
  ASSERT_EQ(Connect("ServerName=MYSERVER;CommLinks=TCPIP", &pconn), STRM_OK);
  EXPECT_EQ(trace.back(), "6 connect:myserver::127.0.0.1:2638");
  delete pconn;

  // A failed connect removes the entry.
  Port(STRM_PORT_TCPIP)->connect_result = STRM_NO_SERVER;
  EXPECT_EQ(Connect("ServerName=MyServer;CommLinks=TCPIP", &pconn), STRM_NO_SERVER);
  EXPECT_EQ(CacheFile(), "");
}

TEST_F(PortLayerTest, IgnoreCacheNeitherReadsNorWritesTheFile) {
  WriteCacheFile("[myserver]\nLink=TCPIP\nAddress=10.1.1.1:1\n\n");
  reached_addr = "127.0.0.1:2638";
  c_strm_pconn* pconn = nullptr;
  ASSERT_EQ(Connect("ServerName=MyServer;CommLinks=TCPIP;IgnoreCache=yes", &pconn), STRM_OK);
  EXPECT_EQ(trace.back(), "6 connect:myserver::");
  delete pconn;
  EXPECT_EQ(CacheFile(), "[myserver]\nLink=TCPIP\nAddress=10.1.1.1:1\n\n");
}

TEST_F(PortLayerTest, AnEntryOfAnotherLinkTypeIsNotUsedAndIsReplaced) {
  WriteCacheFile("[myserver]\nLink=SharedMemory\nAddress=somewhere\n\n");
  reached_addr = "127.0.0.1:9";
  c_strm_pconn* pconn = nullptr;
  ASSERT_EQ(Connect("ServerName=myserver;CommLinks=TCPIP", &pconn), STRM_OK);
  EXPECT_EQ(trace.back(), "6 connect:myserver::");
  delete pconn;
  EXPECT_EQ(CacheFile(), "[myserver]\nLink=TCPIP\nAddress=127.0.0.1:9\n\n");
}

TEST_F(PortLayerTest, WithoutAServerNameNothingIsCached) {
  reached_addr = "127.0.0.1:9";
  c_strm_pconn* pconn = nullptr;
  ASSERT_EQ(Connect("CommLinks=TCPIP", &pconn), STRM_OK);
  delete pconn;
  EXPECT_FALSE(std::filesystem::exists(CachePath()));
}

TEST_F(PortLayerTest, ReadAndWriteSectionsDirectly) {
  char addr[kCachedAddrBytes];
  EXPECT_EQ(layer->read_cache("a", addr, sizeof addr), STRM_PORT_UNKNOWN) << "no file yet";
  layer->write_cache("a", "1.2.3.4:5", STRM_PORT_TCPIP);
  layer->write_cache("b", "6.7.8.9:10", STRM_PORT_TCPIP);
  EXPECT_EQ(layer->read_cache("a", addr, sizeof addr), STRM_PORT_TCPIP);
  EXPECT_STREQ(addr, "1.2.3.4:5");
  EXPECT_EQ(layer->read_cache("b", addr, 4), STRM_PORT_TCPIP);
  EXPECT_STREQ(addr, "6.7") << "cut to the caller's buffer";
  layer->write_cache("a", "", STRM_PORT_TCPIP);
  EXPECT_EQ(layer->read_cache("a", addr, sizeof addr), STRM_PORT_UNKNOWN);
  EXPECT_STREQ(addr, "");
  EXPECT_EQ(layer->read_cache(nullptr, addr, sizeof addr), STRM_PORT_UNKNOWN);
  WriteCacheFile("[c]\nAddress=x\n\n");
  EXPECT_EQ(layer->read_cache("c", addr, sizeof addr), STRM_PORT_UNKNOWN) << "no Link key";
  EXPECT_STREQ(addr, "x");
}

}  // namespace

// ---- the transport layer's connect over the port layer ----

namespace {

TEST_F(PortLayerTest, TheTransportLayerConnectsAndWrapsTheLinkConnection) {
  c_strm_frlist_controller pools(7300);
  c_strm_tran_layer tran(nullptr, pools.default_pool, nullptr);
  c_conn_parms parms;
  ASSERT_EQ(parms.init("CommLinks=TCPIP;Encryption=simple", false), 0);
  c_strm_tconn* tconn = nullptr;
  ASSERT_EQ(tran.connect(&parms, 0, err, sizeof err, nullptr, nullptr, &tconn), STRM_OK) << err;
  ASSERT_NE(tconn, nullptr);
  ASSERT_NE(tconn->pconn(), nullptr);
  EXPECT_EQ(tconn->pconn()->port, tran.port_layer().port(STRM_PORT_TCPIP));
  delete tconn;

  // An Encryption value that cannot be read names the word and tries no link.
  c_conn_parms bad;
  ASSERT_EQ(bad.init("CommLinks=TCPIP;Encryption=rot13", false), 0);
  trace.clear();
  EXPECT_EQ(tran.connect(&bad, 0, err, sizeof err, nullptr, nullptr, &tconn), STRM_BAD_ENCRYPT_PARM);
  EXPECT_EQ(tconn, nullptr);
  EXPECT_STREQ(err, "rot13");
  EXPECT_TRUE(trace.empty());

  // A link that finds no server leaves no transport connection.
  tcp_result = STRM_NO_SERVER;
  c_strm_tran_layer other(nullptr, pools.default_pool, nullptr);
  EXPECT_EQ(other.connect(&parms, 0, err, sizeof err, nullptr, nullptr, &tconn), STRM_NO_SERVER);
  EXPECT_EQ(tconn, nullptr);
}

}  // namespace

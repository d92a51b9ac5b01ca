// The found-server list: order by name, merging of database names, the one position.
#include "net/server_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ip_address.h"

namespace {

std::vector<std::string> Walk(a_server_list& list) {
  std::vector<std::string> out;
  for (c_ip_server_address* e = list.getFirst(); e != nullptr; e = list.getNext()) {
    std::string line = e->serverName != nullptr ? e->serverName : "<none>";
    line += " " + std::to_string(e->port);
    if (e->addressText != nullptr) line += std::string(" ") + e->addressText;
    for (int i = 0; i < e->dbCount; ++i) line += std::string(" ") + e->dbNames[i];
    out.push_back(line);
  }
  return out;
}

TEST(ServerList, NamesAscendAndEqualNamesKeepTheirOrder) {
  a_server_list list;
  IPAddress a1(0x0A000001u);
  IPAddress a2(0x0A000002u);
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "b", "10.0.0.1", &a1, nullptr));
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "a", "10.0.0.1", &a1, nullptr));
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "c", "10.0.0.1", &a1, nullptr));
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "a", "10.0.0.2", &a2, nullptr));
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, nullptr, "10.0.0.2", &a2, nullptr));
  ASSERT_EQ(
      1u, list.addServer(STRM_PORT_TCPIP, 2638, "\xC3\xA9t\xC3\xA9", "10.0.0.2", &a2, nullptr));
  // Bytes far apart: a comparison cut to 8 bits would put \xF0 before \x10.
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "\xF0hi", "10.0.0.2", &a2, nullptr));
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "\x10lo", "10.0.0.2", &a2, nullptr));
  const std::vector<std::string> expected = {
      "\x10lo 2638 10.0.0.2",
      "a 2638 10.0.0.1",
      "a 2638 10.0.0.2",
      "b 2638 10.0.0.1",
      "c 2638 10.0.0.1",
      "\xC3\xA9t\xC3\xA9 2638 10.0.0.2",  // bytes of 0x80 and above sort after ASCII
      "\xF0hi 2638 10.0.0.2",
      "<none> 2638 10.0.0.2"};
  EXPECT_EQ(expected, Walk(list));
  EXPECT_EQ(8u, list.count);
}

TEST(ServerList, DatabaseNamesMergeWithoutRegardToCase) {
  a_server_list list;
  IPAddress a(0x0A000001u);
  IPAddress same_host_other_port(0x0A000001u);
  same_host_other_port.setPortNumber(9);  // ports of the addresses are ignored
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "srv", nullptr, &a, "db1"));
  ASSERT_EQ(
      1u, list.addServer(STRM_PORT_TCPIP, 2638, "srv", nullptr, &same_host_other_port, "DB1"));
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "srv", nullptr, &a, "db2"));
  ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "srv", nullptr, &a, nullptr));
  EXPECT_EQ(std::vector<std::string>{"srv 2638 db1 db2"}, Walk(list));
  EXPECT_EQ(1u, list.count);
}

TEST(ServerList, WhatMakesAnEntryDistinct) {
  IPAddress a(0x0A000001u);
  IPAddress b(0x0A000002u);
  const struct {
    const char* what;
    a_port_type type;
    std::uint16_t port;
    const char* name;
    const char* text;
    const IPAddress* address;
    std::size_t entries;
  } cases[] = {
      {"same entry", STRM_PORT_TCPIP, 2638, "srv", "x", &a, 1},
      {"another port", STRM_PORT_TCPIP, 2639, "srv", "x", &a, 2},
      {"another link kind", STRM_PORT_SHARED_MEMORY, 2638, "srv", "x", &a, 2},
      {"another address", STRM_PORT_TCPIP, 2638, "srv", "x", &b, 2},
      {"another name", STRM_PORT_TCPIP, 2638, "Srv", "x", &a, 2},
      {"another text", STRM_PORT_TCPIP, 2638, "srv", "y", &a, 2},
      {"no address given", STRM_PORT_TCPIP, 2638, "srv", "x", nullptr, 1},
      {"no text given", STRM_PORT_TCPIP, 2638, "srv", nullptr, &a, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    a_server_list list;
    ASSERT_EQ(1u, list.addServer(STRM_PORT_TCPIP, 2638, "srv", "x", &a, "d1"));
    ASSERT_EQ(1u, list.addServer(c.type, c.port, c.name, c.text, c.address, "d2"));
    EXPECT_EQ(c.entries, Walk(list).size());
  }
}

TEST(ServerList, PositionAndDeletion) {
  a_server_list list;
  EXPECT_EQ(nullptr, list.getFirst());
  EXPECT_EQ(nullptr, list.getNext());
  EXPECT_EQ(0u, list.deleteCurrent());
  list.addServer(STRM_PORT_TCPIP, 1, "a", nullptr, nullptr, nullptr);
  list.addServer(STRM_PORT_TCPIP, 1, "b", nullptr, nullptr, nullptr);
  list.addServer(STRM_PORT_TCPIP, 1, "c", nullptr, nullptr, nullptr);
  ASSERT_STREQ("a", list.getFirst()->serverName);
  ASSERT_STREQ("b", list.getNext()->serverName);
  EXPECT_EQ(1u, list.deleteCurrent());  // b goes, the position returns to a
  EXPECT_STREQ("c", list.getNext()->serverName);
  EXPECT_EQ(nullptr, list.getNext());
  EXPECT_EQ(nullptr, list.getNext());  // and stays at the end
  EXPECT_EQ(0u, list.deleteCurrent());
  EXPECT_EQ((std::vector<std::string>{"a 1", "c 1"}), Walk(list));
  EXPECT_EQ(3u, list.count);  // deleting does not lower the count

  c_ip_server_address* e = list.getFirst();
  ASSERT_EQ(1u, e->replaceAddr("10.9.8.7:1"));
  EXPECT_STREQ("10.9.8.7:1", e->addressText);
  IPAddress held(0x0A000001u);
  ASSERT_EQ(1u, e->init(STRM_PORT_TCPIP, 5, "z", "t", &held));
  EXPECT_EQ(0, e->dbCount);
  ASSERT_NE(nullptr, e->address);
  EXPECT_TRUE(e->address->sameIPAddress(held));
  EXPECT_NE(&held, e->address);  // a copy
}

}  // namespace

// The server-name check as a whole session sees it: scripted bytes of a client's check
// packet (written here from the packet's rules, not by either side's packet code) on a
// fresh connection, the answer, and the app-connect that follows on the same stream.
#include <gtest/gtest.h>

#include "session_harness.h"

using namespace script;

namespace {

std::string be16(unsigned v) { return std::string{char((v >> 8) & 0xFF), char(v & 0xFF)}; }

// A check packet asking for `name`: the 32-byte connectionless header (type 27, number 1,
// request), the section block (version 5) with a token in section 4 and the name in
// section 8.
std::string check_packet(const std::string& name) {
  std::string sections = std::string{4, 8, 1, 2, 3, 4, 5, 6, 7, 8} +
                         std::string{8, char(name.size() + 1)} + name + '\0';
  std::string body = std::string(1, 18) + "CONNECTIONLESS_VQP" + std::string{0, 0, 0, 1} +
                     '\0' + be16(4) + be16(5) + be16(2) + sections;
  return packet(27, 0, body);
}

// The server name of a response: section 0 of the block after the 32-byte header.
std::string answered_name(const std::string& whole) {
  std::size_t at = 32 + 6;
  while (at + 2 <= whole.size()) {
    const std::uint8_t tag = static_cast<std::uint8_t>(whole[at]);
    const std::size_t len = static_cast<std::uint8_t>(whole[at + 1]);
    if (at + 2 + len > whole.size()) break;
    if (tag == 0) return whole.substr(at + 2, len).c_str();
    at += 2 + len;
  }
  return "<none>";
}

TEST(NameVerification, ACheckOnAFreshConnectionIsAnsweredAndTheConnectGoesOn) {
  SessionHarness h;
  h.config().server_name = "itsrv";
  h.config().tcp_port = 4321;
  // Cut in two, as a stream may deliver it.
  const std::string check = check_packet("ItSrv");
  ASSERT_TRUE(h.exchange(check.substr(0, 11)).empty());
  const auto reply = h.exchange(check.substr(11));
  ASSERT_EQ(1u, reply.size());
  EXPECT_EQ(27, reply[0].type);
  const std::string whole = packet(27, reply[0].status, reply[0].body);
  ASSERT_GE(whole.size(), 38u);
  EXPECT_EQ(std::string(1, 18) + "CONNECTIONLESS_VQP", whole.substr(8, 19));
  EXPECT_EQ(1, whole[31]);  // a response
  EXPECT_EQ("itsrv", answered_name(whole));
  EXPECT_TRUE(h.logged("name-check asked='ItSrv'"));
  EXPECT_EQ(312u, h.app_connect().size());
  EXPECT_FALSE(h.session().closed());
}

TEST(NameVerification, ACheckAfterTheAppConnectIsDropped) {
  SessionHarness h;
  ASSERT_EQ(312u, h.app_connect().size());
  EXPECT_TRUE(h.exchange(check_packet("vqeng12")).empty());
  EXPECT_FALSE(h.session().closed());
  EXPECT_TRUE(h.logged("connectionless packet dropped"));
}

TEST(NameVerification, AMalformedCheckEndsTheConnection) {
  SessionHarness h;
  std::string check = check_packet("x");
  check[9] = 'X';  // the form tag
  EXPECT_TRUE(h.exchange(check).empty());
  EXPECT_TRUE(h.session().closed());
}

}  // namespace

#include "name_check.h"

#include <gtest/gtest.h>

#include "session_harness.h"

using namespace vqeng;

namespace {
std::string be16(unsigned v) { return std::string{char((v >> 8) & 0xFF), char(v & 0xFF)}; }

// A request as a client writes it: header, block header, sections 0, 1, 3, 4, 7
// and, with a name, 8.
std::string request(const std::string& name, bool with_name = true) {
  std::string sec = std::string{0, 0} + std::string{1, 2, 0, 0} + std::string{3, 1, 1} +
                    std::string{4, 8, 1, 2, 3, 4, 5, 6, 7, 8} +
                    std::string{7, 2, 0x04, (char)0xB0};
  if (with_name) sec += std::string{8, char(name.size() + 1)} + name + '\0';
  std::string body = std::string(1, 18) + "CONNECTIONLESS_VQP" + std::string{0, 0, 0, 1} +
                     '\0' + be16(4) + be16(5) + be16(with_name ? 6 : 5) + sec;
  const std::size_t len = 8 + body.size();
  return std::string{27, 0, char(len >> 8), char(len & 0xFF), 0, 0, 0, 0} + body;
}
}  // namespace

TEST(NameCheck, RequestWithoutNameIs61BytesAndParses) {
  const std::string r = request("", false);
  EXPECT_EQ(r.size(), 61u);
  NameCheckRequest req;
  std::string why;
  ASSERT_TRUE(parse_name_check(r, req, why)) << why;
  EXPECT_EQ(req.number, 1u);
  EXPECT_EQ(req.token, 0x0102030405060708ull);
  EXPECT_TRUE(req.asked_name.empty());
}

TEST(NameCheck, ResponseNamesTheServer) {
  NameCheckRequest req;
  std::string why;
  ASSERT_TRUE(parse_name_check(request("itsrv"), req, why)) << why;
  EXPECT_EQ(req.asked_name, "itsrv");
  const std::string resp = build_name_check_response(req, "itsrv", 4321);
  EXPECT_EQ(resp[0], 27);
  EXPECT_EQ(static_cast<std::size_t>((static_cast<std::uint8_t>(resp[2]) << 8) |
                                     static_cast<std::uint8_t>(resp[3])),
            resp.size());
  EXPECT_EQ(resp.substr(8, 19), std::string(1, 18) + "CONNECTIONLESS_VQP");
  EXPECT_EQ(resp[1], 0);                                     // status byte
  EXPECT_EQ(resp.substr(27, 4), std::string({0, 0, 0, 1}));  // connectionless number
  EXPECT_EQ(resp[31], 1);                                    // response
  EXPECT_EQ(resp.substr(32, 6), be16(4) + be16(5) + be16(5));
  EXPECT_EQ(resp.substr(38, 8), (std::string{0, 6} + "itsrv" + '\0'));
  EXPECT_EQ(resp.substr(46, 4), (std::string{1, 2} + be16(4321)));
  EXPECT_EQ(resp.substr(53, 10), (std::string{4, 8, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(NameCheck, MalformedRequests) {
  const std::string good = request("x");
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string wrong_len = good;
  wrong_len[3] = static_cast<char>(wrong_len[3] + 1);
  std::string wrong_tag = good;
  wrong_tag[10] = 'X';
  std::string response = good;
  response[31] = 1;
  std::string section_past_end = good;
  section_past_end[section_past_end.size() - 3] = 100;  // the name section's length
  const Case cases[] = {
      {"short", good.substr(0, 20)},
      {"length field disagrees", wrong_len},
      {"wrong tag", wrong_tag},
      {"a response", response},
      {"section past the end", section_past_end},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NameCheckRequest req;
    std::string why;
    EXPECT_FALSE(parse_name_check(c.bytes, req, why));
    EXPECT_FALSE(why.empty());
  }
}

TEST(NameCheck, SessionAnswersBeforeTheAppConnect) {
  script::SessionHarness h;
  h.config().server_name = "itsrv";
  h.config().tcp_port = 2638;
  const auto pk = h.exchange(request("itsrv"));
  ASSERT_EQ(pk.size(), 1u);
  EXPECT_EQ(pk[0].type, 27);
  EXPECT_TRUE(h.logged("7 name-check asked='itsrv'"));
  EXPECT_EQ(h.app_connect().size(), 312u);  // the stream goes on as usual
  // A malformed check closes the connection.
  script::SessionHarness bad;
  std::string broken = request("x");
  broken[9] = 'Z';
  bad.exchange(broken);
  EXPECT_TRUE(bad.session().closed());
}

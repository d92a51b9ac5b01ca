#include "app_connect.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "script_client.h"

using namespace vqeng;

TEST(AppConnect, MalformedRequests) {
  const std::string good = std::string(1, '\0') + script::app_connect_record({});
  struct Case {
    const char* name;
    std::string body;
  };
  std::string wrong_size = good;
  wrong_size[1] = 100;
  std::string wrong_major = good;
  wrong_major[3] = 3;
  const Case cases[] = {
      {"empty", ""},
      {"too short", good.substr(0, 40)},
      {"size field disagrees", wrong_size},
      {"major version 3", wrong_major},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AppConnectRequest req;
    std::string why;
    EXPECT_FALSE(parse_app_connect(c.body, req, why));
    EXPECT_FALSE(why.empty());
  }
  AppConnectRequest req;
  std::string why;
  ASSERT_TRUE(parse_app_connect(good, req, why)) << why;
  EXPECT_EQ(req.minor, 15);
  EXPECT_EQ(req.build, 0x0A06);
  EXPECT_EQ(req.charset, "UTF-8");
  EXPECT_EQ(req.api_charset, "UTF-8");
}

TEST(AppConnect, TextsTheClientNames) {
  // Each text ends at its terminator or at its field's end; a language that fills its
  // 30 characters goes on at 106.
  struct Case {
    const char* name;
    std::string language;  // written at 75 (30 characters at most), the rest at 106
    std::string expected;
  };
  const std::string lang50(50, 'l');
  const Case cases[] = {
      {"short language", "fr", "fr"},
      {"30 characters", std::string(30, 'x'), std::string(30, 'x')},
      {"continued", lang50, lang50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string rec = script::app_connect_record({});
    rec.replace(75, 31, std::string(31, '\0'));
    rec.replace(75, std::min<std::size_t>(c.language.size(), 30), c.language.substr(0, 30));
    if (c.language.size() > 30) rec.replace(106, c.language.size() - 30, c.language.substr(30));
    rec.replace(127, 12, "windows-1252");
    rec.replace(210, 51, std::string(51, 'o'));  // no terminator: cut at the field's end
    AppConnectRequest req;
    std::string why;
    ASSERT_TRUE(parse_app_connect(std::string(1, '\0') + rec, req, why)) << why;
    EXPECT_EQ(req.language, c.expected);
    EXPECT_EQ(req.charset_label, "windows-1252");
    EXPECT_EQ(req.os_charset, std::string(51, 'o'));
  }
}

TEST(AppConnect, ReplyAtMinorFifteen) {
  AppConnectRequest req;
  std::string why;
  script::AppConnectFields f;
  f.options |= 0x004;
  f.threshold = 200;
  ASSERT_TRUE(
      parse_app_connect(std::string(1, '\0') + script::app_connect_record(f), req, why));
  std::uint8_t random[32];
  for (int i = 0; i < 32; ++i) random[i] = static_cast<std::uint8_t>(0xA0 + i);
  AppConnectAgreement agreed;
  const std::string r = build_app_connect_reply(req, random, agreed);
  ASSERT_EQ(r.size(), 312u);
  EXPECT_EQ(script::rd16(r, 0), 312u);
  EXPECT_EQ(r[2], 2);
  EXPECT_EQ(r[3], 0);
  EXPECT_GE(r[6], 6);
  EXPECT_LE(r[6], 21);
  EXPECT_EQ(script::rd16(r, 20), 15u);
  EXPECT_EQ(script::rd16(r, 22), 7300u);
  EXPECT_EQ(script::rd32(r, 24) & 0x04, 0x04u);  // compression granted
  EXPECT_EQ(script::rd16(r, 28), 200u);
  EXPECT_EQ(script::rd16(r, 35), 32u);
  EXPECT_EQ(r.substr(178, 32), std::string(reinterpret_cast<char*>(random), 32));
  EXPECT_TRUE(agreed.compression);
  // Every text field is terminated and zero after its first zero byte.
  const std::pair<std::size_t, std::size_t> fields[] = {{44, 31},  {75, 31},  {106, 21},
                                                        {127, 51}, {210, 51}, {261, 51}};
  for (const auto& fl : fields) {
    const std::string t = r.substr(fl.first, fl.second);
    const auto nul = t.find('\0');
    ASSERT_NE(nul, std::string::npos) << fl.first;
    EXPECT_EQ(t.find_first_not_of('\0', nul), std::string::npos) << fl.first;
  }
}

TEST(AppConnect, AgreedValues) {
  struct Case {
    unsigned minor, packet, encryption;
    std::uint32_t options;
    std::size_t size;
    unsigned agreed_packet, agreed_level;
    bool compression;
  };
  const Case cases[] = {
      {15, 0, 0, 0x302, 312, 7300, 0, false},       // CommBufferSize 0 means 7300
      {15, 100, 1, 0x306, 312, 500, 1, true},       // too small a size is raised to 500
      {15, 65535, 0, 0x300, 312, 16000, 0, false},  // and a large one lowered to 16000
      {10, 4000, 2, 0x300, 178, 4000, 0, false},    // no TLS here: level 0, reply at minor 10
      {13, 4000, 0, 0x300, 261, 4000, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.minor * 100000 + c.packet);
    script::AppConnectFields f;
    f.minor = c.minor;
    f.packet_size = c.packet;
    f.encryption = c.encryption;
    f.options = c.options;
    AppConnectRequest req;
    std::string why;
    ASSERT_TRUE(
        parse_app_connect(std::string(1, '\0') + script::app_connect_record(f), req, why));
    std::uint8_t random[32] = {};
    AppConnectAgreement a;
    const std::string r = build_app_connect_reply(req, random, a);
    EXPECT_EQ(r.size(), c.size);
    EXPECT_EQ(script::rd16(r, 0), c.size);
    EXPECT_EQ(script::rd16(r, 22), c.agreed_packet);
    EXPECT_EQ(script::rd16(r, 10), c.agreed_level);
    EXPECT_EQ(a.compression, c.compression);
  }
}

TEST(AppConnect, LivenessInTheReply) {
  struct Case {
    const char* name;
    unsigned asked;
    int policy;
    unsigned replied;
  };
  const Case cases[] = {
      {"echo the client's", 30, kLivenessEcho, 30},
      {"echo none", 0, kLivenessEcho, 0},
      {"off", 30, 0, 0},
      {"our own", 0, 3, 3},
      {"our own over the client's", 120, 45, 45},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script::AppConnectFields f;
    f.liveness = c.asked;
    AppConnectRequest req;
    std::string why;
    ASSERT_TRUE(
        parse_app_connect(std::string(1, '\0') + script::app_connect_record(f), req, why))
        << why;
    std::uint8_t random[32] = {};
    AppConnectAgreement agreed;
    const std::string r = build_app_connect_reply(req, random, agreed, c.policy);
    EXPECT_EQ(script::rd16(r, 8), c.replied);
    EXPECT_EQ(agreed.liveness, c.replied);
  }
}

TEST(AppConnect, TlsLevelsAgreedOnlyWhenTheTransportRunsTls) {
  struct Case {
    unsigned asked;
    bool tls;
    unsigned agreed;
  };
  const Case cases[] = {
      {2, true, 2},  {3, true, 3},   // ECC and RSA TLS
      {4, true, 0},  {9, true, 0},   // levels we do not serve
      {2, false, 0}, {3, false, 0},  // no certificate, or a link without TLS
      {0, true, 0},  {1, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.asked * 10 + c.tls);
    script::AppConnectFields f;
    f.encryption = c.asked;
    AppConnectRequest req;
    std::string why;
    ASSERT_TRUE(
        parse_app_connect(std::string(1, '\0') + script::app_connect_record(f), req, why));
    std::uint8_t random[32] = {};
    AppConnectAgreement a;
    const std::string r = build_app_connect_reply(req, random, a, kLivenessEcho, c.tls);
    EXPECT_EQ(script::rd16(r, 10), c.agreed);
    EXPECT_EQ(a.encryption, c.agreed);
  }
}

// The client's fields of the app-connect packet and its reading of the reply: every field
// at its offset, the forced levels, and replies whose statuses, texts or size are odd.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/connect.h"
#include "cmdseq_fixture.h"
#include "utils/locale/utlocale.h"

namespace {

using Packet = std::vector<unsigned char>;

unsigned U16(const Packet& p, std::size_t at) { return p[at] | p[at + 1] << 8; }
unsigned U32(const Packet& p, std::size_t at) { return U16(p, at) | U16(p, at + 2) << 16; }
std::string Text(const Packet& p, std::size_t at) {
  return std::string(reinterpret_cast<const char*>(p.data() + at));
}

Packet Fill(const a_cs_appconnect_in& in) {
  Packet p(kAppConnectBytes, 0xEE);
  EXPECT_TRUE(i_cs_FillAppConnect(in, p.data()));
  return p;
}

TEST(AppConnectPacket, EveryFieldAtItsOffset) {
  a_cs_appconnect_in in;
  in.app_type = 1;
  in.liveness_timeout = 120;
  in.comm_buffer_size = 16000;
  in.compression_threshold = 120;
  in.idle_timeout = 240;
  in.compress = 1;
  in.dump_flag = true;
  in.dump_number = 3;
  in.crypto_major = 1;
  in.crypto_minor = 5;
  in.env_byte = 7;
  in.charset_short = "utf8";
  in.language = "en";
  in.charset_label = "UTF-8";
  in.os_charset = "UTF-8";
  in.api_charset = "UTF-8";
  const Packet p = Fill(in);
  EXPECT_EQ(U16(p, 0), 312u);
  EXPECT_EQ(p[2], 2);
  EXPECT_EQ(p[3], 0);
  EXPECT_EQ(U16(p, 4), 2u);  // application type 1 is kind 2
  EXPECT_EQ(p[6], 12);
  EXPECT_EQ(U16(p, 8), 120u);
  EXPECT_EQ(U16(p, 20), 15u);
  EXPECT_EQ(U16(p, 22), 16000u);
  EXPECT_EQ(U32(p, 24), 0x300u | 0x002 | 0x004 | 0x010);
  EXPECT_EQ(U16(p, 28), 120u);
  EXPECT_EQ(U16(p, 30), 240u);
  EXPECT_EQ(U16(p, 32), 0x0A06u);
  EXPECT_EQ(p[37], 1);
  EXPECT_EQ(p[38], 5);
  EXPECT_EQ(p[39], 7);
  EXPECT_EQ(Text(p, 44), "utf8");
  EXPECT_EQ(Text(p, 75), "en");
  EXPECT_EQ(Text(p, 127), "UTF-8");
  EXPECT_EQ(Text(p, 210), "UTF-8");
  EXPECT_EQ(Text(p, 261), "UTF-8");
  // Everything else is zero.
  const std::vector<std::pair<std::size_t, std::size_t>> written = {
      {0, 10}, {20, 34}, {37, 40}, {44, 48}, {75, 77}, {127, 132}, {210, 215}, {261, 266}};
  for (std::size_t i = 0; i < p.size(); ++i) {
    bool in_field = false;
    for (const auto& w : written) in_field = in_field || (i >= w.first && i < w.second);
    if (!in_field) {
      EXPECT_EQ(p[i], 0) << "byte " << i;
    }
  }
}

TEST(AppConnectPacket, VariantsTable) {
  struct Case {
    const char* name;
    a_cs_appconnect_in in;
    std::size_t offset;
    unsigned width;
    unsigned expected;
  };
  auto with = [](auto change) {
    a_cs_appconnect_in in;
    change(in);
    return in;
  };
  const Case kCases[] = {
      {"liveness 10 is sent as 30", with([](auto& i) { i.liveness_timeout = 10; }), 8, 2, 30},
      {"liveness 0 stays 0", with([](auto& i) { i.liveness_timeout = 0; }), 8, 2, 0},
      {"buffer size 0 is 7300", with([](auto&) {}), 22, 2, 7300},
      {"buffer size 0 sets bit 0x001; compress not given 0x002", with([](auto&) {}), 24, 4,
       0x303},
      {"compress no", with([](auto& i) { i.compress = 0; i.comm_buffer_size = 1000; }), 24, 4,
       0x300},
      {"dump flag with number 0", with([](auto& i) { i.dump_flag = true; i.comm_buffer_size = 1; }),
       24, 4, 0x322},
      {"forced level 12", with([](auto& i) { i.forced_level = 12; i.forced_first_word = 300; }),
       20, 2, 12},
      {"forced level: first word replaced",
       with([](auto& i) { i.forced_level = 12; i.forced_first_word = 300; }), 0, 2, 300},
      {"forced level 11: version byte 10", with([](auto& i) { i.forced_level = 11; }), 6, 1, 10},
      {"forced level 9: version byte 8", with([](auto& i) { i.forced_level = 9; }), 6, 1, 8},
      {"forced level 5: no option bits", with([](auto& i) { i.forced_level = 5; }), 24, 4, 0},
      {"ODBC application: kind 0", with([](auto& i) { i.app_type = 2; }), 4, 2, 0},
      {"kind 3", with([](auto& i) { i.app_type = 3; }), 4, 2, 3},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    const Packet p = Fill(k.in);
    const unsigned v = k.width == 1 ? p[k.offset] : k.width == 2 ? U16(p, k.offset) : U32(p, k.offset);
    EXPECT_EQ(v, k.expected);
  }
  a_cs_appconnect_in bad;
  bad.app_type = 9;
  Packet p(kAppConnectBytes);
  EXPECT_FALSE(i_cs_FillAppConnect(bad, p.data()));
}

TEST(AppConnectPacket, LongTextsAreCutToTheirFields) {
  a_cs_appconnect_in in;
  const std::string lang = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::string label(80, 'c');
  in.language = lang.c_str();
  in.charset_short = label.c_str();
  in.charset_label = label.c_str();
  in.api_charset = label.c_str();
  const Packet p = Fill(in);
  EXPECT_EQ(Text(p, 44), label.substr(0, 30));
  EXPECT_EQ(Text(p, 75), lang.substr(0, 30));
  EXPECT_EQ(Text(p, 106), lang.substr(30, 20));
  EXPECT_EQ(Text(p, 127), label.substr(0, 50));
  EXPECT_EQ(p[311], 0);  // the last field ends inside the packet
}

// Charset and Language as given, or the system's when they are not given or say "local".
TEST(AppConnectPacket, CharsetAndLanguageDefaults) {
  struct Case {
    const char* name;
    const char* charset;     // the Charset parameter
    const char* language;    // the Language parameter
    const char* os_charset;  // the system's character set (any label of it)
    const char* os_language;
    const char* short_name;  // expected at 44
    const char* label;       // expected at 127
    const char* sent_language;
  };
  const Case kCases[] = {
      {"both given", "cp1252", "de", "UTF-8", "en", "cp1252", "cp1252", "de"},
      {"neither given", nullptr, nullptr, "UTF-8", "fr", "utf8", "UTF-8", "fr"},
      {"empty", "", "", "UTF-8", "french", "utf8", "UTF-8", "fr"},
      {"local", "local", "LOCAL", "iso_1", "german", "iso_1", "ISO_8859-1:1987", "de"},
      {"GB18030 has no server name", nullptr, nullptr, "GB18030", "zh", "cp936", "GB18030",
       "zh"},
      {"no server name: the label", nullptr, "ja", "US-ASCII", "en", "ANSI_X3.4-1968",
       "ANSI_X3.4-1968", "ja"},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    a_cmdseq_env env;
    env.os_charset = UTLocale::GetCharsetInfoFromLabel(k.os_charset, kSchemeAll);
    env.os_language = UTLocale::GetLanguageInfoFromLabel(k.os_language);
    ASSERT_NE(env.os_charset, nullptr);
    ASSERT_NE(env.os_language, nullptr);
    a_cs_appconnect_in in;
    i_cs_SetAppConnectTexts(in, &env, k.charset, k.language);
    const Packet p = Fill(in);
    EXPECT_EQ(Text(p, 44), k.short_name);
    EXPECT_EQ(Text(p, 127), k.label);
    EXPECT_EQ(Text(p, 75), k.sent_language);
    // The system's character set goes at 210 whatever Charset says.
    EXPECT_EQ(Text(p, 210), CharsetInfo::safe_label(env.os_charset, kSchemeDefault));
  }
}

// --- The reply -----------------------------------------------------------------------------

Packet Reply(unsigned status, unsigned level, const char* charset, const char* language,
             bool check) {
  Packet r(400, 0);
  r[3] = static_cast<unsigned char>(status);
  r[6] = 12;
  r[7] = 1;
  r[20] = static_cast<unsigned char>(level);
  r[24] = 0x04;
  std::memcpy(r.data() + (level <= 9 ? 44 : 127), charset, std::strlen(charset));
  std::memcpy(r.data() + 75, language, std::strlen(language));
  r[387] = check ? 1 : 0;
  return r;
}

TEST(AppConnectReply, StatusesAndLanguages) {
  struct Case {
    const char* name;
    Packet reply;
    bool charset_given;
    const char* language;
    a_cmdseq_return result;
    std::int32_t sqlcode;
  };
  const Case kCases[] = {
      {"accepted", Reply(0, 15, "UTF-8", "en", true), false, "en", CMDSEQ_OK, 0},
      {"refused", Reply(1, 15, "UTF-8", "en", false), false, "en", CMDSEQ_ERROR, -88},
      {"charset given but not available", Reply(2, 15, "cp1252", "en", false), true, "en",
       CMDSEQ_ERROR, -869},
      {"charset not available", Reply(2, 15, "cp1252", "en", false), false, "en", CMDSEQ_WARNING,
       115},
      {"charset and language", Reply(2, 15, "cp1252", "de", true), false, "en", CMDSEQ_WARNING,
       117},
      {"old server, charset", Reply(2, 1, "cp1252", "en", false), false, "en", CMDSEQ_WARNING, 114},
      {"language only", Reply(0, 15, "UTF-8", "de", true), false, "en", CMDSEQ_WARNING, 116},
      {"language not checked", Reply(0, 15, "UTF-8", "de", false), false, "en", CMDSEQ_OK, 0},
      {"one language by two labels", Reply(0, 15, "UTF-8", "us_english", true), false, "EN",
       CMDSEQ_OK, 0},
      {"languages nobody knows", Reply(0, 15, "UTF-8", "xx", true), false, "xx",
       CMDSEQ_WARNING, 116},
      {"status 3", Reply(3, 15, "", "", false), false, "en", CMDSEQ_ERROR, -832},
      {"status 4", Reply(4, 15, "", "", false), false, "en", CMDSEQ_ERROR, -1145},
      {"status 5", Reply(5, 15, "", "", false), false, "en", CMDSEQ_ERROR, -838},
      {"unknown status", Reply(77, 15, "", "", false), false, "en", CMDSEQ_ERROR, -832},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    CmdSeqConn c;
    a_cs_appconnect_out out;
    ASSERT_TRUE(i_cs_ReadAppConnectReply(k.reply.data(), k.reply.size(), &out));
    EXPECT_EQ(i_cs_ApplyAppConnectReply(c.conn, &c.err, out, k.charset_given, "cp1252",
                                        k.language),
              k.result);
    EXPECT_EQ(c.err.sqlcode, k.sqlcode);
    if (k.result != CMDSEQ_ERROR) {
      EXPECT_EQ(c.conn->server_strm_ver, out.level);
      EXPECT_EQ(c.conn->server_caps, 0x04u);
      EXPECT_EQ(c.conn->server_version_major, 12);
    }
  }
}

TEST(AppConnectReply, TextsStayInsideTheirFieldsAndTheReply) {
  Packet r(kAppConnectBytes, 'x');  // no terminator anywhere
  r[20] = 15;
  a_cs_appconnect_out out;
  ASSERT_TRUE(i_cs_ReadAppConnectReply(r.data(), r.size(), &out));
  EXPECT_EQ(std::strlen(out.charset), 50u);
  EXPECT_EQ(std::strlen(out.language), 50u);
  EXPECT_FALSE(out.check_language);  // offset 387 lies past this reply
  EXPECT_FALSE(i_cs_ReadAppConnectReply(r.data(), kAppConnectBytes - 1, &out));
}

}  // namespace

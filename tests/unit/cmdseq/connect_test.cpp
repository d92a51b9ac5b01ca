// The database-connect request over the scripted presentation layer: the connect string
// by server level, the enciphered password part against an independent AES computation,
// the reply (handle, refusals, redirection lists and their bad forms), Kerberos tokens
// through a scripted GSS-API library, disconnect and reference counts.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cmdseq/connect.h"
#include "cmdseq/wire_values.h"
#include "cmdseq_fixture.h"
#include "config/conn_parms.h"
#include "config/conn_string.h"
#include "strm_fake.h"
#include "scoped_environment.h"
#include "utils/base/memory.h"
#include "utils/locale/charset_converter.h"
#include "utils/locale/utlocale.h"

namespace {

Bytes Material() {
  Bytes m(32);
  for (int i = 0; i < 32; ++i) m[i] = static_cast<std::uint8_t>(0xA0 + 7 * i);
  return m;
}

// AES-256 with OpenSSL: the key is the material's two blocks enciphered under the
// material itself; then CBC, no padding, the initialisation vector the first material
// byte as a little-endian word four times.
Bytes OracleCipher(const Bytes& material, Bytes plain) {
  unsigned char key[32];
  int n = 0;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, material.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, key, &n, material.data(), 32);
  unsigned char iv[16] = {};
  for (int i = 0; i < 16; i += 4) iv[i] = material[0];
  Bytes out(plain.size());
  EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), static_cast<int>(plain.size()));
  EVP_CIPHER_CTX_free(ctx);
  return out;
}

Bytes Padded(const std::string& text) {
  Bytes b(text.begin(), text.end());
  b.push_back(0);
  while (b.size() % 16 != 0) b.push_back(0);
  return b;
}

std::string Quoted(const std::string& v) {
  std::string out = "'";
  for (char c : v) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

struct ConnectFixture : ::testing::Test {
  CmdSeqConn c;
  c_conn_parms parms;
  void SetUp() override {
    strm_fake_reset();
    strm_fake().random = Material();
    c.env.app_type = 2;
  }
  void TearDown() override { strm_fake_reset(); }
  void Parms(const char* text) { ASSERT_EQ(parms.init(text, false), 0) << text; }
  // The connect string with the application information cut out, which carries the
  // process's own host, program and thread.
  std::string WithoutApp(const std::string& s) {
    char* app = i_cs_BuildAppInfo(c.conn, parms.getString(kCsSlotAppInfo));
    std::string pair = "APP=" + Quoted(app);
    ut_free(app);
    std::string out = s;
    const std::size_t at = out.find(pair);
    if (at == std::string::npos) return "<no APP pair>" + out;
    out.erase(at, pair.size());
    if (at > 0 && out[at - 1] == ';') {
      out.erase(at - 1, 1);
    } else if (at < out.size() && out[at] == ';') {
      out.erase(at, 1);
    }
    return out;
  }
  void SuccessReply(std::uint32_t handle = 7) {
    c.sconn.item(CS_ITEM_HANDLE, le32(handle)).item(66);
    c.sconn.item(67, le32(1) + Bytes{19}).item(67, le32(30) + Bytes{24}).item(0).sync();
  }
};

// --- The connect string ----------------------------------------------------------------

TEST_F(ConnectFixture, ConnectStringByServerLevel) {
  struct Case {
    const char* name;
    unsigned level;
    const char* parms;
    const char* expected;
  };
  const Case kCases[] = {
      {"level 15: secrets leave the string", 15,
       "UID=dba;PWD=sql;DBN=demo;DBF=/d/demo.db;DBKEY=k;NEWPWD=n2;ENG=srv;NODE=primary",
       "DBN=demo;DBF=/d/demo.db;UID=dba;ENG=srv;NODETYPE=primary"},
      {"level 13: no NODETYPE", 13, "UID=dba;PWD=sql;NODE=primary", "UID=dba"},
      {"level 12: password and key in plain, never NEWPWD", 12,
       "UID=dba;PWD=sql;DBF=x.db;DBKEY=k;NEWPWD=n2", "DBF=x.db;UID=dba;PWD=sql;DBKEY=k"},
      {"level 12 without a file: no DBKEY", 12, "UID=dba;PWD=sql;DBKEY=k", "UID=dba;PWD=sql"},
      {"level 9: name and file in one DBN", 9, "UID=u;DBN=demo;DBF=a.db",
       "DBN=demo@a.db;UID=u"},
      {"level 10: DBF on its own", 10, "UID=u;DBN=demo;DBF=a.db", "DBN=demo;DBF=a.db;UID=u"},
      {"level 5: never DBKEY", 5, "UID=u;DBF=a.db;DBKEY=k", "DBN=@a.db;UID=u"},
      {"quoted values", 15, "UID='a b';CON=c1;DBS='-x x'", "UID='a b';CON=c1;DBS='-x x'"},
      {"verify=no keeps ENG off", 15, "UID=u;ENG=s;LINKS=tcpip(verify=no)",
       "UID=u"},
      {"verify=yes sends ENG", 15, "UID=u;ENG=s;LINKS=tcpip(verify=yes)", "UID=u;ENG=s"},
      {"Kerberos named by file", 15, "KRB=/lib/x.so", "KERBEROS=YES"},
      {"AutoStop text", 15, "UID=u;ASTOP=yes", "UID=u;AUTOSTOP=YES"},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    parms.clear();
    Parms(k.parms);
    c.conn->server_strm_ver = static_cast<std::uint16_t>(k.level);
    const bool secure = k.level >= 13;
    char* s = i_cs_BuildConnectString(c.conn, &parms, ShouldSendEngName(&parms, &c.env) != 0,
                                      !secure);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(WithoutApp(s), k.expected);
    FreeConnectString(s);
  }
}

TEST_F(ConnectFixture, NewPasswordStarIsNeverSent) {
  Parms("UID=u;PWD=p;NEWPWD=*");
  c.conn->server_strm_ver = 15;
  EXPECT_EQ(i_cs_GetServerNewPwdStr(c.conn, &parms), nullptr);
  EXPECT_EQ(get_secure_connect_string_len(c.conn, &parms), 16u);  // "PWD=p" only
}

// --- The request items -----------------------------------------------------------------

TEST_F(ConnectFixture, RequestItemsAtLevel15WithEncipheredPassword) {
  Parms("UID=dba;PWD=sql;DBN=demo");
  c.conn->server_strm_ver = 15;
  SuccessReply(0x01020304);
  std::uint32_t flag = 9;
  c_cmdseq_redirect_server_list redirect;
  ASSERT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, &flag, &redirect), CMDSEQ_OK);
  ASSERT_EQ(c.sconn.sent.size(), 4u);
  EXPECT_EQ(c.sconn.sent[0].code, CS_ITEM_CONNECT_STRING);
  EXPECT_EQ(WithoutApp(std::string(c.sconn.sent[0].bytes.begin(), c.sconn.sent[0].bytes.end())),
            "DBN=demo;UID=dba");
  EXPECT_EQ(c.sconn.sent[1].code, CS_ITEM_HANDLE);
  EXPECT_EQ(c.sconn.sent[1].bytes, le32(0));
  EXPECT_EQ(c.sconn.sent[2].code, CS_ITEM_SECURE_PART);
  // Seven characters, the terminator and eight bytes of zero padding: one block.
  EXPECT_EQ(c.sconn.sent[2].bytes, OracleCipher(Material(), Padded("PWD=sql")));
  EXPECT_EQ(c.sconn.sent[3].code, -1);
  EXPECT_EQ(c.conn->server_handle, 0x01020304u);
  EXPECT_EQ(flag, 1u);
  EXPECT_EQ(c.conn->max_cached, 30u);
  EXPECT_TRUE(c.sconn.script_done());
}

TEST_F(ConnectFixture, SecurePartBlocksAndKeys) {
  struct Case {
    const char* parms;
    std::string text;
  };
  const Case kCases[] = {
      {"UID=u;PWD=abcdefghijk", "PWD=abcdefghijk"},  // 15 characters and the zero: one block
      {"UID=u;PWD=abcdefghijkl", "PWD=abcdefghijkl"},  // 16: two blocks
      {"UID=u;PWD='a;b';DBKEY=k;NEWPWD=n", "PWD='a;b';DBKEY=k;NEWPWD=n"},
  };
  c.conn->server_strm_ver = 15;
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.parms);
    parms.clear();
    Parms(k.parms);
    std::size_t len = get_secure_connect_string_len(c.conn, &parms);
    EXPECT_EQ(len, Padded(k.text).size());
    std::vector<unsigned char> buf(len);
    ASSERT_EQ(build_secure_connect_string(c.conn, &parms, &c.err, buf.data(), &len), CMDSEQ_OK);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), OracleCipher(Material(), Padded(k.text)));
  }
}

TEST_F(ConnectFixture, KeyMaterialOfAnyOtherLengthIsRefusedBeforeSending) {
  Parms("UID=dba;PWD=sql");
  c.conn->server_strm_ver = 15;
  for (std::size_t n : {0u, 1u, 16u, 31u}) {
    SCOPED_TRACE(n);
    strm_fake().random = Bytes(n, 0x11);
    CmdSeqResetErrorParam(&c.err, nullptr);
    c.sconn.sent.clear();
    c_cmdseq_redirect_server_list redirect;
    EXPECT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, &redirect),
              CMDSEQ_COMM_FAILURE);
    EXPECT_EQ(c.err.sqlcode, -105);
    EXPECT_TRUE(c.sconn.sent.empty());
  }
}

TEST_F(ConnectFixture, PlainRequestBelowLevel13HasNoSecurePart) {
  Parms("UID=dba;PWD=sql");
  c.conn->server_strm_ver = 12;
  strm_fake().random.clear();  // not asked for
  SuccessReply();
  ASSERT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, nullptr), CMDSEQ_OK);
  ASSERT_EQ(c.sconn.sent.size(), 3u);
  EXPECT_EQ(WithoutApp(std::string(c.sconn.sent[0].bytes.begin(), c.sconn.sent[0].bytes.end())),
            "UID=dba;PWD=sql");
  EXPECT_EQ(c.sconn.sent[2].code, -1);
}

TEST_F(ConnectFixture, MissingUserIdFailsBeforeAnythingIsSent) {
  Parms("PWD=sql");
  c.conn->server_strm_ver = 15;
  EXPECT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, nullptr), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -103);
  EXPECT_TRUE(c.sconn.sent.empty());
}

TEST_F(ConnectFixture, RefusalsKeepTheServersCodesAndStates) {
  struct Case {
    const char* name;
    std::int32_t code;
    const char* states[3];
    const char* text;
  };
  const Case kCases[] = {
      {"wrong password", -103, {"28000", "28000", "28000"}, "Invalid user ID or password"},
      {"unknown database", -83, {"08W10", "08001", "08001"}, "Specified database not found"},
  };
  Parms("UID=dba;PWD=wrong;DBN=nope");
  c.conn->server_strm_ver = 15;
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    CmdSeqResetErrorParam(&c.err, nullptr);
    // The information items follow the error records too.
    c.sconn.item(CS_ITEM_HANDLE, le32(3))
        .item(65, error_record(k.code, k.states[0], k.states[1], k.states[2]))
        .item(135, k.text)
        .item(0)
        .item(0)
        .item(67, le32(0) + Bytes{19})
        .item(0)
        .sync();
    EXPECT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, nullptr), CMDSEQ_ERROR);
    EXPECT_EQ(c.err.sqlcode, k.code);
    EXPECT_STREQ(c.err.server_state, k.states[0]);
    EXPECT_STREQ(c.err.odbc3_state, k.states[1]);
    EXPECT_EQ(c.message(), k.text);
    EXPECT_TRUE(c.sconn.script_done());
    EXPECT_EQ(c.sconn.resyncs, 0);
  }
}

// --- Redirection lists in the reply ---------------------------------------------------

TEST_F(ConnectFixture, RedirectionListIsCollected) {
  Parms("UID=dba;PWD=sql");
  c.conn->server_strm_ver = 15;
  const std::string long_parms = "Host=127.0.0.1:5001;DBN=" + std::string(400, 'd');
  c.sconn.item(CS_ITEM_SERVER_NAME, "alpha")
      .item(CS_ITEM_REDIRECT_PARMS, "Host=127.0.0.1:5000;DBN=a")
      .item(CS_ITEM_SERVER_NAME, "beta")
      .long_item(CS_ITEM_REDIRECT_PARMS, text_bytes(long_parms), 100)
      .item(0)
      .item(66)
      .item(0)
      .sync();
  c_cmdseq_redirect_server_list redirect;
  ASSERT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, &redirect), CMDSEQ_OK);
  ASSERT_EQ(redirect.count, 2u);
  c_utils_iter<c_cmdseq_redirect_server> it(redirect);
  EXPECT_STREQ(it.element()->name, "alpha");
  EXPECT_STREQ(it.element()->parms, "Host=127.0.0.1:5000;DBN=a");
  it.next();
  EXPECT_STREQ(it.element()->name, "beta");
  EXPECT_EQ(std::string(it.element()->parms), long_parms);
}

TEST_F(ConnectFixture, BadRedirectionRepliesAreProtocolErrors) {
  struct Case {
    const char* name;
    unsigned level;
    std::function<void(a_strm_conn_rec&)> reply;
  };
  const Case kCases[] = {
      {"below level 15", 14,
       [](a_strm_conn_rec& s) { s.item(134, "a").item(107, "DBN=a").item(0).item(66).item(0); }},
      {"name without parameters", 15,
       [](a_strm_conn_rec& s) { s.item(134, "a").item(0).item(66).item(0); }},
      {"name with a zero byte", 15,
       [](a_strm_conn_rec& s) {
         s.item(134, Bytes{'a', 0, 'b'}).item(107, "DBN=a").item(0).item(66).item(0);
       }},
      {"empty name", 15, [](a_strm_conn_rec& s) { s.item(134).item(107, "x=1").item(0).item(66); }},
      {"long name", 15,
       [](a_strm_conn_rec& s) { s.long_item(134, Bytes(300, 'n')).item(107, "x").item(0); }},
      {"other item ends the list", 15,
       [](a_strm_conn_rec& s) { s.item(134, "a").item(107, "DBN=a").item(66).item(0); }},
      {"parameters longer than the client takes", 15,
       [](a_strm_conn_rec& s) {
         s.item(134, "a").long_item(107, Bytes(40000, 'p'), 250).item(0).item(66).item(0);
       }},
      {"parameters shorter than announced", 15,
       [](a_strm_conn_rec& s) {
         s.item(134, "a").long_item(107, Bytes(300, 'p'), 250, 400).item(0).item(66).item(0);
       }},
      {"handle of the wrong size", 15,
       [](a_strm_conn_rec& s) { s.item(133, Bytes{1, 2}).item(66).item(0); }},
      {"unknown first item", 15, [](a_strm_conn_rec& s) { s.item(99).item(66).item(0); }},
  };
  Parms("UID=dba;PWD=sql");
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    CmdSeqResetErrorParam(&c.err, nullptr);
    c.conn->server_strm_ver = static_cast<std::uint16_t>(k.level);
    k.reply(c.sconn);
    c.sconn.sync();
    const int resyncs = c.sconn.resyncs;
    c_cmdseq_redirect_server_list redirect;
    EXPECT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, &redirect),
              CMDSEQ_PROTOCOL_ERROR);
    EXPECT_EQ(c.sconn.resyncs, resyncs + 1);
    EXPECT_EQ(c.sconn.overruns, 0);
    EXPECT_TRUE(c.sconn.script_done());
  }
}

// --- Kerberos -----------------------------------------------------------------------------

#ifdef FAKE_GSS_LIB
a_cmdseq_return Principal(a_cmdseq_conn*, a_cmdseq_error_info*, std::uint16_t kind, char* buffer,
                          std::size_t size) {
  EXPECT_EQ(kind, 0u);
  std::snprintf(buffer, size, "%s", "vqeng/host@REALM");
  return CMDSEQ_OK;
}

TEST_F(ConnectFixture, KerberosTokensThenTheReply) {
  i_cs_SetServerInfoReader(Principal);
  Parms("KRB=" FAKE_GSS_LIB);
  c.conn->server_strm_ver = 15;
  // The scripted library's first token asks for one more round; its second call ends.
  c.sconn.item(CS_ITEM_KERBEROS_TOKEN, "server-token").item(CS_ITEM_HANDLE, le32(5)).item(66);
  c.sconn.item(0).sync();
  ASSERT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, nullptr), CMDSEQ_OK)
      << c.err.sqlcode;
  ASSERT_EQ(c.sconn.sent.size(), 5u);
  EXPECT_EQ(c.sconn.sent[0].code, CS_ITEM_CONNECT_STRING);
  EXPECT_EQ(WithoutApp(std::string(c.sconn.sent[0].bytes.begin(), c.sconn.sent[0].bytes.end())),
            "KERBEROS=YES");
  EXPECT_EQ(c.sconn.sent[2].code, CS_ITEM_SECURE_PART);
  EXPECT_EQ(c.sconn.sent[3].code, CS_ITEM_KERBEROS_TOKEN);
  EXPECT_EQ(c.sconn.sent[3].bytes, text_bytes("auto-token"));
  EXPECT_EQ(c.sconn.sent[4].code, -1);
  EXPECT_EQ(c.conn->server_handle, 5u);
  i_cs_SetServerInfoReader(nullptr);
}

// A server token the library refuses (the server is not the service it claims to be)
// ends the exchange unverified: the reply is still read to its end, and the success in
// it becomes -1069, a refusal rather than a protocol error.
TEST_F(ConnectFixture, KerberosServerTokenThatFailsTheCheckIsRefused) {
  // The scripted library, held open here so that its script outlives the connect's load.
  void* lib = dlopen(FAKE_GSS_LIB, RTLD_NOW);
  ASSERT_NE(lib, nullptr);
  using PushInit = void (*)(std::uint32_t, std::uint32_t, const char*);
  auto push_init = reinterpret_cast<PushInit>(dlsym(lib, "fake_gss_push_init"));
  auto reset = reinterpret_cast<void (*)()>(dlsym(lib, "fake_gss_reset"));
  ASSERT_NE(push_init, nullptr);
  ASSERT_NE(reset, nullptr);
  reset();
  push_init(1, 0, "auto-token");  // the first token, wanting the server's answer
  push_init(13u << 16, 0, "");    // the server's token fails the check
  i_cs_SetServerInfoReader(Principal);
  Parms("KRB=" FAKE_GSS_LIB);
  c.conn->server_strm_ver = 15;
  c.sconn.item(CS_ITEM_KERBEROS_TOKEN, "forged").item(CS_ITEM_HANDLE, le32(5)).item(66);
  c.sconn.item(0).sync();
  EXPECT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, nullptr), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -1069);
  EXPECT_EQ(c.sconn.resyncs, 0);
  EXPECT_TRUE(c.sconn.script_done());
  i_cs_SetServerInfoReader(nullptr);
  reset();
  dlclose(lib);
}

TEST_F(ConnectFixture, KerberosReplyWithoutServerTokenIsRefused) {
  i_cs_SetServerInfoReader(Principal);
  Parms("KRB=" FAKE_GSS_LIB);
  c.conn->server_strm_ver = 15;
  c.sconn.item(CS_ITEM_HANDLE, le32(5)).item(66).item(0).sync();
  EXPECT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, nullptr), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -1069);
  i_cs_SetServerInfoReader(nullptr);
}
#endif

TEST_F(ConnectFixture, KerberosNeedsLevel10) {
  Parms("KRB=yes");
  c.conn->server_strm_ver = 9;
  EXPECT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, nullptr), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -1070);
  EXPECT_TRUE(c.sconn.sent.empty());
}

// The connect asks the server for its principal (request 6, kind 0). A failure before the
// connect request goes out ends the connect there: nothing more is sent, and no reply is
// waited for, as none will come (a real stream would wait for ever).
TEST_F(ConnectFixture, KerberosFailuresBeforeTheRequestWaitForNoReply) {
  struct Case {
    const char* name;
    const char* krb;
    bool principal;  // the server names its principal, else it takes no Kerberos logins
  };
  const Case kCases[] = {
      {"server without Kerberos logins", "KRB=yes", false},
      {"library that cannot be loaded", "KRB=/nonexistent/libgssapi_krb5.so", true},
  };
  i_cs_SetServerInfoReader(nullptr);
  c.conn->server_strm_ver = 15;
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    parms.clear();
    Parms(k.krb);
    CmdSeqResetErrorParam(&c.err, nullptr);
    c.sconn.sent.clear();
    if (k.principal) {
      c.sconn.item(107, std::string("vqeng/host@REALM")).item(CS_ITEM_END).item(66).item(0);
    } else {
      c.sconn.item(CS_ITEM_NO_VALUE).item(CS_ITEM_END);
      c.sconn.item(65, error_record(-1070, "42WB1", "HY000", "S1000")).item(0).item(0).item(0);
    }
    c.sconn.sync();
    const int checks = c.sconn.sync_checks;
    EXPECT_EQ(i_cs_SendConnectRequest(c.conn, &c.err, &parms, nullptr, nullptr), CMDSEQ_ERROR);
    EXPECT_EQ(c.err.sqlcode, -1070);
    ASSERT_FALSE(c.sconn.sent.empty());
    EXPECT_EQ(c.sconn.sent[0].code, 6);
    EXPECT_EQ(c.sconn.sent[0].bytes, le16(0));
    EXPECT_EQ(c.sconn.sent.back().code, -1);  // the information request's own sync point
    for (const auto& item : c.sconn.sent) EXPECT_NE(item.code, CS_ITEM_CONNECT_STRING);
    // One look for the end of the information reply, none after the failure.
    EXPECT_EQ(c.sconn.sync_checks, checks + 1);
    EXPECT_TRUE(c.sconn.script_done());
  }
}

// --- Ends of a connection --------------------------------------------------------------

TEST(ConnectEnds, DisconnectSendsItem19AndDropsTheConnection) {
  a_cmdseq_env env;
  a_strm_conn_rec sconn;
  auto* conn = new a_cmdseq_conn(&env, &sconn);
  CmdSeqConnAddRef(conn);  // a second holder keeps the object readable
  a_cmdseq_error_info err;
  CmdSeqInitErrorParam(&env, &err, 0);
  sconn.item(66).item(0).sync();
  EXPECT_EQ(CmdSeqDisconnect(conn, &err), CMDSEQ_OK);
  ASSERT_EQ(sconn.sent.size(), 2u);
  EXPECT_EQ(sconn.sent[0].code, CS_ITEM_DISCONNECT);
  EXPECT_EQ(sconn.disconnects, 1);
  EXPECT_EQ(CmdSeqConnIsValid(conn), 0);
  // Not connected any more: a second disconnect only gives up a reference.
  EXPECT_EQ(CmdSeqDisconnect(conn, &err), CMDSEQ_NOT_CONNECTED);
  EXPECT_EQ(sconn.disconnects, 1);
  CmdSeqFiniErrorParam(&err);
}

// The server refuses the disconnect: the connection still goes, and the caller sees the
// server's error, not success.
TEST(ConnectEnds, DisconnectRefusedByTheServerIsReportedAndStillDrops) {
  a_cmdseq_env env;
  a_strm_conn_rec sconn;
  auto* conn = new a_cmdseq_conn(&env, &sconn);
  CmdSeqConnAddRef(conn);
  a_cmdseq_error_info err;
  CmdSeqInitErrorParam(&env, &err, 0);
  sconn.item(CS_ITEM_ERROR, error_record(-308, "08003", "08003", "08003"))
      .item(CS_ITEM_END)
      .item(CS_ITEM_END)
      .item(CS_ITEM_END)
      .item(66)
      .item(0)
      .sync();
  EXPECT_EQ(CmdSeqDisconnect(conn, &err), CMDSEQ_ERROR);
  EXPECT_EQ(err.sqlcode, -308);
  EXPECT_EQ(sconn.disconnects, 1);
  EXPECT_EQ(CmdSeqConnIsValid(conn), 0);
  EXPECT_EQ(CmdSeqConnRelease(conn), 0);
  CmdSeqFiniErrorParam(&err);
}

TEST(ConnectEnds, DisconnectOfALostConnectionWithNoOtherHolder) {
  a_cmdseq_env env;
  a_strm_conn_rec sconn;
  auto* conn = new a_cmdseq_conn(&env, &sconn);  // the caller's reference only
  a_cmdseq_error_info err;
  CmdSeqInitErrorParam(&env, &err, 0);
  sconn.fail(SQLPRES_FAILED);
  EXPECT_EQ(CmdSeqDisconnect(conn, &err), CMDSEQ_OK);
  EXPECT_EQ(sconn.disconnects, 1);
  CmdSeqFiniErrorParam(&err);
}

TEST(ConnectEnds, ReferenceCounts) {
  a_cmdseq_env env;
  a_strm_conn_rec sconn;
  auto* conn = new a_cmdseq_conn(&env, &sconn);
  CmdSeqConnAddRef(conn);
  EXPECT_EQ(CmdSeqConnRelease(conn), 1);
  EXPECT_EQ(CmdSeqConnIsValid(conn), 1);
  EXPECT_EQ(CmdSeqCharsetSpecifiedExplicitly(conn), 0);
  a_cmdseq_error_info err;
  CmdSeqInitErrorParam(&env, &err, 0);
  EXPECT_EQ(CmdSeqDropConnection(conn, &err), CMDSEQ_OK);  // the last reference: deleted
  EXPECT_EQ(sconn.disconnects, 1);
  CmdSeqFiniErrorParam(&err);
}

}  // namespace

// --- Character-set conversion of names and command lines -------------------------------

namespace {

std::string Owned(char* text, std::size_t n) {
  std::string s(text, n);
  ut_free(text);
  return s;
}

TEST(DoConvert, ConvertsOnlyTextsBeyondAscii) {
  UTLocale locale;
  const CharsetInfo* utf8 = UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll);
  const CharsetInfo* latin1 = UTLocale::GetCharsetInfoFromLabel("ISO-8859-1", kSchemeAll);
  ASSERT_NE(utf8, nullptr);
  ASSERT_NE(latin1, nullptr);
  CharsetConverter to_latin1(&locale, latin1, utf8);
  char* out = do_convert(to_latin1, "caf\xc3\xa9 \xc3\xbc");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(Owned(out, 7), std::string("caf\xe9 \xfc", 6) + '\0');
  for (const char* nothing : {static_cast<const char*>(nullptr), "", "plain ascii"}) {
    EXPECT_EQ(do_convert(to_latin1, nothing), nullptr);
  }
}

TEST(DoConvert, TwoByteUnitsCloseWithTwoZeros) {
  // The converted text fills its worst-case room, and the terminator still fits.
  UTLocale locale;
  const CharsetInfo* utf8 = UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll);
  const CharsetInfo* utf16 = UTLocale::GetCharsetInfoFromLabel("UTF-16LE", kSchemeAll);
  const CharsetInfo* latin1 = UTLocale::GetCharsetInfoFromLabel("ISO-8859-1", kSchemeAll);
  ASSERT_NE(utf16, nullptr);
  ASSERT_GT(utf16->unit_width, 1);
  CharsetConverter from_latin1(&locale, utf16, latin1);
  char* out = do_convert(from_latin1, "\xe9\xe9");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(Owned(out, 6), std::string("\xe9\0\xe9\0\0\0", 6));
  CharsetConverter from_utf8(&locale, utf16, utf8);
  out = do_convert(from_utf8, "\xc3\xa9");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(Owned(out, 4), std::string("\xe9\0\0\0", 4));
}

TEST(DoConvert, FromTheSystemSetToTheConnectionsCharset) {
  vq::testing::ScopedEnvironment vars;
  vars.Set("VCCHARSET", "UTF-8");
  UTLocale locale;
  a_cmdseq_env env;
  env.locale = &locale;
  struct Case {
    const char* charset;
    const char* text;
    const char* expected;  // null: nothing converted
  };
  const Case kCases[] = {
      {"ISO-8859-1", "-n caf\xc3\xa9", "-n caf\xe9"},
      {"ISO-8859-1", "-n cafe", nullptr},
      {"UTF-8", "-n caf\xc3\xa9", nullptr},  // the system's own set
      {"UTF-16LE", "-n caf\xc3\xa9", nullptr},  // not a zero-terminated text
      {"no-such-set", "-n caf\xc3\xa9", nullptr},
      {nullptr, "-n caf\xc3\xa9", nullptr},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.charset != nullptr ? k.charset : "<none>");
    char* out = i_cs_ConvertFromOSCharset(&env, k.charset, k.text);
    if (k.expected == nullptr) {
      EXPECT_EQ(out, nullptr);
      ut_free(out);
    } else {
      ASSERT_NE(out, nullptr);
      EXPECT_STREQ(out, k.expected);
      ut_free(out);
    }
  }
  env.locale = nullptr;
}

}  // namespace

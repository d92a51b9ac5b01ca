// The character set and language the client asks for in its app-connect packet, as
// vqeng12 receives them over shared memory and TCP/IP: Charset and Language as given, or
// the system's (here VCCHARSET and VCLANG) when they are not given or say "local". The
// system's character set goes with them whatever Charset says.
#include <gtest/gtest.h>

#include <string>

#include "e2e_session.h"
#include "scoped_environment.h"

namespace {

using vq_e2e::Link;
using vq_e2e::RequestLog;

class CmdSeqCharsetLanguageEndToEnd : public testing::TestWithParam<Link> {};

TEST_P(CmdSeqCharsetLanguageEndToEnd, ServerReceivesGivenOrSystemDefaults) {
  vq_e2e::TempVctmp vctmp;
  ASSERT_FALSE(vctmp.path().empty());
  // The system's choices are read when the client environment is made.
  vq::testing::ScopedEnvironment system{{"VCCHARSET", "VCLANG"}};
  system.Set("VCCHARSET", "cp1252");
  system.Set("VCLANG", "german");
  RequestLog log(vctmp.path() + "/requests.log");
  vq_e2e::Server server("cscharset");
  ASSERT_TRUE(server.Start({"-rl", log.path()}));
  vq_e2e::Client client;
  ASSERT_TRUE(client.ok());

  struct Case {
    const char* name;
    const char* parameters;
    const char* received;  // the texts of the server's app-connect line
  };
  const Case kCases[] = {
      {"neither given", "",
       "charset=cp1252 label=windows-1252 os-charset=windows-1252 language=de"},
      {"local", ";CS=local;LANG=Local",
       "charset=cp1252 label=windows-1252 os-charset=windows-1252 language=de"},
      {"both given", ";CS=utf8;LANG=fr",
       "charset=utf8 label=utf8 os-charset=windows-1252 language=fr"},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    a_cmdseq_conn* conn = nullptr;
    int sqlcode = 0;
    EXPECT_EQ(client.Connect("UID=dba;PWD=sql;CPOOL=NO;" + server.Links(GetParam()) +
                                 k.parameters,
                             &conn, &sqlcode),
              CMDSEQ_OK)
        << sqlcode;
    ASSERT_NE(conn, nullptr);
    std::string line;  // this connect's: the last one
    for (const auto& l : log.Lines()) {
      if (l.find(" app-connect ") != std::string::npos) line = l;
    }
    EXPECT_NE(line.find(std::string(" ") + k.received), std::string::npos) << line;
    EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
  }
}

INSTANTIATE_TEST_SUITE_P(Links, CmdSeqCharsetLanguageEndToEnd,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return vq_e2e::LinkName(info.param);
                         });

}  // namespace

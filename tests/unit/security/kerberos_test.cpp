// The Kerberos binding against scripted GSS-API libraries (fake_gss.cpp): loading and
// binding, name types, the client and server exchanges, status reports, and that every
// object the library hands out is given back exactly once, with calls never overlapping.
#include "kerberos_fixture.h"

namespace {

TEST(KerberosInit, LoadsAndBindsOrSaysWhyNot) {
  struct Case {
    std::string library;
    int expected;
    std::string message;  // with "%s" standing for the library
  };
  std::vector<Case> cases = {
      {FakePath("full"), 1, "[14992] GSS-API library %s loaded"},
      {"/nonexistent/libgss.so", 0, "[14991] The Kerberos library %s could not be loaded"},
      {FakePath("no_types"), 0,
       "[14993] The Kerberos library %s lacks a required function or name type"},
      {FakePath("lookup_partial"), 0,
       "[14993] The Kerberos library %s lacks a required function or name type"},
  };
  for (const char* fn :
       {"gss_accept_sec_context", "gss_acquire_cred", "gss_delete_sec_context",
        "gss_display_name", "gss_display_status", "gss_init_sec_context", "gss_import_name",
        "gss_release_buffer", "gss_release_cred", "gss_release_name"}) {
    cases.push_back({FakePath(std::string("no_") + fn), 0,
                     "[14993] The Kerberos library %s lacks a required function or name type"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    Messages messages;
    ASSERT_EQ(KerberosInit(c.library.c_str(), Messages::Collect, nullptr, &messages),
              c.expected);
    std::string expected = c.message;
    expected.replace(expected.find("%s"), 2, c.library);
    EXPECT_EQ(messages.texts, std::vector<std::string>{expected});
    if (c.expected == 1) {
      EXPECT_TRUE(IsLoaded(c.library));
      KerberosFini();
    } else {
      // Nothing initialised: the functions refuse to work.
      EXPECT_EQ(KerberosClientGetAuthBlock(nullptr, nullptr, "svc"), nullptr);
    }
    EXPECT_FALSE(IsLoaded(c.library)) << "the library must be unloaded again";
  }
}

// With a catalog the texts come from its message files (found under the build directory
// as the installation root); they carry no message number.
TEST(KerberosInit, CatalogTextsReplaceTheBuiltInOnes) {
  // Puts VCDIR back however the test ends.
  struct RootScope {
    explicit RootScope(const std::string& root) {
      if (const char* old = std::getenv("VCDIR")) saved = old, had = true;
      setenv("VCDIR", root.c_str(), 1);
    }
    ~RootScope() { had ? setenv("VCDIR", saved.c_str(), 1) : unsetenv("VCDIR"); }
    std::string saved;
    bool had = false;
  };
  const std::string res_dir = VQ_TEST_RES_DIR;
  RootScope root(res_dir.substr(0, res_dir.rfind('/')));
  UTLocale locale;
  UTLangString catalog(&locale);
  ASSERT_EQ(catalog.Init("en", nullptr, 0), LS_INIT_SUCCESS);
  const std::string full = FakePath("full");
  const std::string partial = FakePath("no_gss_release_cred");
  struct Case {
    std::string library;
    int expected;
    std::string message;
  };
  const Case cases[] = {
      {full, 1, "GSS-API library " + full + " loaded"},
      {"/nonexistent/libgss.so", 0,
       "The Kerberos library /nonexistent/libgss.so could not be loaded"},
      {partial, 0, "The Kerberos library " + partial + " lacks required functions"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    Messages messages;
    ASSERT_EQ(KerberosInit(c.library.c_str(), Messages::Collect, &catalog, &messages),
              c.expected);
    EXPECT_EQ(messages.texts, std::vector<std::string>{c.message});
    if (c.expected == 1) KerberosFini();
  }
}

TEST(KerberosInit, CountsReferencesAndIgnoresLaterNames) {
  const std::string path = FakePath("full");
  Messages messages;
  ASSERT_EQ(KerberosInit(path.c_str(), Messages::Collect, nullptr, &messages), 1);
  EXPECT_EQ(KerberosInit("/nonexistent/libgss.so", Messages::Collect, nullptr, &messages), 1);
  EXPECT_EQ(messages.texts.size(), 1u) << "a later call neither loads nor reports";

  KerberosFini();
  KerberosClientState* state = KerberosClientGetAuthBlock(nullptr, nullptr, "svc");
  ASSERT_NE(state, nullptr) << "one reference is still held";
  KerberosFiniClientState(state);

  KerberosFini();
  EXPECT_EQ(KerberosClientGetAuthBlock(nullptr, nullptr, "svc"), nullptr);
  EXPECT_FALSE(IsLoaded(path));
  KerberosFini();  // one too many: ignored

  ASSERT_EQ(KerberosInit(path.c_str(), Messages::Collect, nullptr, &messages), 1)
      << "loads again after the last reference went";
  KerberosFini();
  EXPECT_FALSE(IsLoaded(path));
}

TEST(KerberosInit, NameTypesComeFromTheLookupOrTheFirstVariable) {
  struct Case {
    const char* variant;
    const char* principal_type;  // client target, and names with a realm
    const char* user_type;       // the server's own name without a realm
  };
  const Case cases[] = {
      {"full", "c_user", "c_user"},
      {"lookup", "lookup_principal", "lookup_user"},
      {"user_krb5", "user", "user"},
      {"krb5", "krb5", "krb5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    FakeGss fake(c.variant);
    ASSERT_EQ(KerberosInit(fake.path().c_str(), nullptr, nullptr, nullptr), 1);
    KerberosClientState* state = KerberosClientGetAuthBlock(nullptr, nullptr, "svc/host");
    KerberosServerCred* plain = KerberosInitServerCred(nullptr, nullptr, "svc", nullptr);
    KerberosServerCred* realm = KerberosInitServerCred(nullptr, nullptr, "svc", "R.ORG");
    ASSERT_NE(state, nullptr);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(realm, nullptr);
    const std::string trace = fake.Trace();
    // The import buffer holds the name with its NUL, and its length counts the NUL.
    EXPECT_NE(trace.find(std::string("import:") + c.principal_type + ":svc/host\\0 "),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find(std::string("import:") + c.user_type + ":svc\\0 "), std::string::npos)
        << trace;
    EXPECT_NE(trace.find(std::string("import:") + c.principal_type + ":svc@R.ORG\\0 "),
              std::string::npos)
        << trace;
    KerberosFiniClientState(state);
    KerberosFiniServerCred(plain);
    KerberosFiniServerCred(realm);
    KerberosFini();
    EXPECT_EQ(fake.Live(), 0);
  }
}

TEST(KerberosInit, NothingWorksBeforeInit) {
  KerberosClientState client{};
  KerberosServerConnState server{};
  EXPECT_EQ(KerberosClientGetAuthBlock(nullptr, nullptr, "svc"), nullptr);
  EXPECT_EQ(KerberosClientVerifyServerAuthBlock(&client, "x", 1), 0);
  EXPECT_EQ(KerberosInitServerCred(nullptr, nullptr, "svc", nullptr), nullptr);
  EXPECT_EQ(
      KerberosServerAuthClient(reinterpret_cast<KerberosServerCred*>(&server), nullptr, "x", 1),
      nullptr);
  KerberosFiniClientState(nullptr);
  KerberosFiniServerCred(nullptr);
  KerberosFiniServerConnState(nullptr);
}

// ---- exchanges against the full fake --------------------------------------------------------

TEST_F(KerberosFake, TwoStepExchangeCompletes) {
  fake_.PushInit(1, 0, "T1");
  fake_.PushInit(0, 0, nullptr);
  KerberosClientState* state = KerberosClientGetAuthBlock(nullptr, &messages_, "svc/h@R");
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(Bytes(state->token, state->token_length), "T1");
  EXPECT_EQ(state->continue_needed, 0);

  ASSERT_EQ(KerberosClientVerifyServerAuthBlock(state, "R1", 2), 1);
  EXPECT_EQ(state->token, nullptr);
  EXPECT_EQ(state->token_length, 0u);
  EXPECT_EQ(state->continue_needed, 0);
  KerberosFiniClientState(state);

  // Flags 6 (mutual authentication, replay detection); an empty first input token.
  EXPECT_EQ(fake_.Trace(), "import:c_user:svc/h@R\\0 init:6: init:6:R1 delete release_name");
  EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(KerberosFake, ContinueNeededLoopsUntilComplete) {
  struct Round {
    OMUint32 major;
    const char* out;      // token the library makes
    int continue_needed;  // expected flag after feeding the previous reply
  };
  const Round rounds[] = {{1, "T2", 1}, {1, "T3", 1}, {0, "T-final", 0}};
  fake_.PushInit(1, 0, "T1");
  for (const Round& r : rounds) fake_.PushInit(r.major, 0, r.out);

  KerberosClientState* state = KerberosClientGetAuthBlock(nullptr, &messages_, "svc");
  ASSERT_NE(state, nullptr);
  int round = 0;
  for (const Round& r : rounds) {
    SCOPED_TRACE(round);
    const std::string reply = "R" + std::to_string(++round);
    ASSERT_EQ(KerberosClientVerifyServerAuthBlock(state, reply.data(), reply.size()), 1);
    EXPECT_EQ(Bytes(state->token, state->token_length), r.out);
    EXPECT_EQ(state->continue_needed, r.continue_needed);
  }
  KerberosFiniClientState(state);
  EXPECT_NE(fake_.Trace().find("init:6:R1 init:6:R2 init:6:R3 delete"), std::string::npos)
      << fake_.Trace();
}

TEST_F(KerberosFake, FirstStepFailuresReportAndLeaveNothing) {
  struct Case {
    const char* name;
    const char* fail_function;  // or null: the scripted init answer below
    OMUint32 major;
    OMUint32 minor;
    const char* where;
  };
  const Case cases[] = {
      // Mutual authentication needs the server's reply: completing at once is no use.
      {"complete at once", nullptr, 0, 0, "gss_init_sec_context (1)"},
      {"no credentials", nullptr, kNoCred, 0x96c73a, "gss_init_sec_context (1)"},
      {"generic failure", nullptr, kFailure, 5, "gss_init_sec_context (1)"},
      {"bad principal", "gss_import_name", kBadName, 17, "gss_import_name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages_.texts.clear();
    if (c.fail_function != nullptr) {
      fake_.FailNext(c.fail_function, c.major, c.minor);
    } else {
      fake_.PushInit(c.major, c.minor, "T1");
    }
    EXPECT_EQ(KerberosClientGetAuthBlock(nullptr, &messages_, "svc"), nullptr);
    EXPECT_EQ(messages_.texts, (std::vector<std::string>{Status(c.where, c.major, true),
                                                         Status(c.where, c.minor, false)}));
    EXPECT_EQ(fake_.Live(), 0) << "context, name and token of a failed start are given back";
  }
}

TEST_F(KerberosFake, BadServerTokenFailsVerification) {
  fake_.PushInit(1, 0, "T1");
  fake_.PushInit(kDefectiveToken, 42, "junk");
  KerberosClientState* state = KerberosClientGetAuthBlock(nullptr, &messages_, "svc");
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(KerberosClientVerifyServerAuthBlock(state, "garbage", 7), 0);
  EXPECT_EQ(state->token, nullptr);
  EXPECT_EQ(state->token_length, 0u);
  EXPECT_EQ(state->continue_needed, 0);
  EXPECT_EQ(messages_.texts,
            (std::vector<std::string>{Status("gss_init_sec_context (2)", kDefectiveToken, true),
                                      Status("gss_init_sec_context (2)", 42, false)}));
  KerberosFiniClientState(state);
}

TEST_F(KerberosFake, BadArgumentsAreRefusedWithoutCalls) {
  KerberosClientState* state = KerberosClientGetAuthBlock(nullptr, &messages_, "svc");
  ASSERT_NE(state, nullptr);
  fake_.ClearTrace();
  EXPECT_EQ(KerberosClientGetAuthBlock(nullptr, &messages_, nullptr), nullptr);
  EXPECT_EQ(KerberosClientVerifyServerAuthBlock(nullptr, "R", 1), 0);
  EXPECT_EQ(KerberosClientVerifyServerAuthBlock(state, nullptr, 5), 0);
  EXPECT_EQ(KerberosInitServerCred(nullptr, &messages_, nullptr, "R"), nullptr);
  EXPECT_EQ(KerberosServerAuthClient(nullptr, nullptr, "C", 1), nullptr);
  EXPECT_EQ(KerberosServerGetPrincipal(nullptr), nullptr);
  EXPECT_EQ(fake_.Trace(), "");
  KerberosFiniClientState(state);
}

TEST_F(KerberosFake, StatusTextIsReportedLineByLineAndTheLoopEnds) {
  struct Case {
    const char* name;
    int lines;
    int mode;  // 0 normal, 1 the library never ends its text, 2 display_status fails
    std::size_t min_messages;
    std::size_t max_messages;
  };
  const Case cases[] = {
      {"three lines each", 3, 0, 6, 6},
      {"endless text", 1, 1, 4, 200},
      {"display fails", 1, 2, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages_.texts.clear();
    fake_.SetStatus(c.lines, c.mode);
    fake_.PushInit(kFailure, 9, nullptr);
    EXPECT_EQ(KerberosClientGetAuthBlock(nullptr, &messages_, "svc"), nullptr);
    EXPECT_GE(messages_.texts.size(), c.min_messages);
    EXPECT_LE(messages_.texts.size(), c.max_messages);
  }
  // Major lines first, in order, then the minor lines.
  messages_.texts.clear();
  fake_.SetStatus(2, 0);
  fake_.PushInit(kFailure, 9, nullptr);
  EXPECT_EQ(KerberosClientGetAuthBlock(nullptr, &messages_, "svc"), nullptr);
  const char* where = "gss_init_sec_context (1)";
  EXPECT_EQ(messages_.texts,
            (std::vector<std::string>{Status(where, kFailure, true, 1),
                                      Status(where, kFailure, true, 2),
                                      Status(where, 9, false, 1), Status(where, 9, false, 2)}));
}

TEST_F(KerberosFake, ServerAcceptsInTwoStepsAndNamesTheClient) {
  KerberosServerCred* cred = KerberosInitServerCred(nullptr, &messages_, "svc", "R.ORG");
  ASSERT_NE(cred, nullptr);
  EXPECT_STREQ(KerberosServerGetPrincipal(cred), "svc@R.ORG");
  EXPECT_EQ(fake_.Trace(), "import:c_user:svc@R.ORG\\0 acquire:2 display_name release_name");

  fake_.PushAccept(1, 0, "A1");
  fake_.PushAccept(0, 0, "A2");
  KerberosServerConnState* state = KerberosServerAuthClient(cred, nullptr, "C1", 2);
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(Bytes(state->reply, state->reply_length), "A1");
  EXPECT_EQ(state->continue_needed, 1);
  EXPECT_EQ(state->principal, nullptr);

  EXPECT_EQ(KerberosServerAuthClient(cred, state, "C2", 2), state);
  EXPECT_EQ(Bytes(state->reply, state->reply_length), "A2");
  EXPECT_EQ(state->continue_needed, 0);
  EXPECT_STREQ(state->principal, "client@FAKE.REALM");
  KerberosFiniServerConnState(state);
  KerberosFiniServerCred(cred);
  EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(KerberosFake, ServerCredentialFailuresReportAndLeaveNothing) {
  struct Case {
    const char* fail_function;
    OMUint32 major;
    const char* where;
    OMUint32 reported_major;
  };
  const Case cases[] = {
      {"gss_import_name", kBadName, "gss_import_name", kBadName},
      {"gss_acquire_cred", kNoCred, "gss_acquire_cred", kNoCred},
      {"gss_display_name", kFailure, "gss_display_name", kFailure},
      // An empty display name is a failure, reported as a bad name.
      {nullptr, 0, "gss_display_name", kBadName},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    messages_.texts.clear();
    if (c.fail_function != nullptr) {
      fake_.FailNext(c.fail_function, c.major, 3);
    } else {
      fake_.SetNameDisplay("-");
    }
    EXPECT_EQ(KerberosInitServerCred(nullptr, &messages_, "svc", nullptr), nullptr);
    EXPECT_EQ(messages_.texts.front(), Status(c.where, c.reported_major, true));
    EXPECT_EQ(fake_.Live(), 0);
    fake_.SetNameDisplay("");
  }
}

TEST_F(KerberosFake, ServerAcceptFailuresFreeTheState) {
  KerberosServerCred* cred = KerberosInitServerCred(nullptr, &messages_, "svc", nullptr);
  ASSERT_NE(cred, nullptr);
  // A bad token on the first step, and on the second (the state given in is freed).
  fake_.PushAccept(kDefectiveToken, 3, "junk");
  EXPECT_EQ(KerberosServerAuthClient(cred, nullptr, "bad", 3), nullptr);
  EXPECT_EQ(messages_.texts.front(), Status("gss_accept_sec_context", kDefectiveToken, true));

  fake_.PushAccept(1, 0, "A1");
  fake_.PushAccept(kDefectiveToken, 3, nullptr);
  KerberosServerConnState* state = KerberosServerAuthClient(cred, nullptr, "C1", 2);
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(KerberosServerAuthClient(cred, state, "bad", 3), nullptr);

  // The client's name cannot be shown once the context completes.
  messages_.texts.clear();
  fake_.FailNext("gss_display_name", kFailure, 1);
  EXPECT_EQ(KerberosServerAuthClient(cred, nullptr, "C1", 2), nullptr);
  EXPECT_EQ(messages_.texts.front(), Status("gss_display_name", kFailure, true));
  KerberosFiniServerCred(cred);
}

TEST_F(KerberosFake, StatesFreedAfterTheLastFiniLeaveTheLibraryAlone) {
  KerberosClientState* client = KerberosClientGetAuthBlock(nullptr, &messages_, "svc");
  KerberosServerCred* cred = KerberosInitServerCred(nullptr, &messages_, "svc", nullptr);
  ASSERT_NE(client, nullptr);
  ASSERT_NE(cred, nullptr);
  KerberosServerConnState* server = KerberosServerAuthClient(cred, nullptr, "C", 1);
  ASSERT_NE(server, nullptr);
  KerberosFini();
  fake_.ClearTrace();
  EXPECT_EQ(KerberosServerGetPrincipal(cred), nullptr);
  EXPECT_EQ(KerberosClientVerifyServerAuthBlock(client, "R", 1), 0);
  EXPECT_EQ(KerberosServerAuthClient(cred, server, "C", 1), nullptr);
  EXPECT_EQ(KerberosInitServerCred(nullptr, &messages_, "svc", nullptr), nullptr);
  KerberosFiniClientState(client);
  KerberosFiniServerConnState(server);
  KerberosFiniServerCred(cred);
  EXPECT_EQ(fake_.Trace(), "") << "no call into a library that is no longer bound";
  fake_.Reset();  // the objects the library would have owned
  ASSERT_EQ(KerberosInit(fake_.path().c_str(), Messages::Collect, nullptr, &messages_), 1);
}

}  // namespace

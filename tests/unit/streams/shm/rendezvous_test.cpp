// The rendezvous without a peer: the name hash, paths the socket address cannot hold,
// and connects that find no server.
#include "streams/shm/rendezvous.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shm_link_support.h"

namespace {

using vq::shm::test::ClientStack;
using vq::shm::test::DirEntries;
using vq::shm::test::ScopedCatalog;
using vq::shm::test::ScopedShmRoot;

struct HashCase {
  std::string name;
  const char* digest;
};

TEST(EngineNameHash, AlwaysThirtyTwoLowerCaseHexDigits) {
  const HashCase cases[] = {
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {std::string(200, 'x'), "30a83621ce5422fbdfdd539777458c78"},
      {"abcdefghijklmnopqrstuvwxyz01234", "d51a934194d2ec472ef1d459037027fa"},
      {"abcdefghijklmnopqrstuvwxyz012345", "357e82db934fc45f4a25b4b83dc8bd19"},
  };
  for (const HashCase& c : cases) {
    SCOPED_TRACE(c.name.size());
    char out[40];
    std::memset(out, 0x7F, sizeof out);
    StrmGetEngineNameHash(c.name.c_str(), out, 33);
    EXPECT_STREQ(out, c.digest);
    EXPECT_EQ(out[33], 0x7F) << "nothing past the buffer given";
    // A buffer of exactly 32 gets the digits and no terminator.
    char exact[33];
    exact[32] = 0x7F;
    StrmGetEngineNameHash(c.name.c_str(), exact, 32);
    EXPECT_EQ(std::string(exact, 32), c.digest);
    EXPECT_EQ(exact[32], 0x7F);
  }
}

// The rendezvous waits as long as the initial connect time-out: 30 seconds, or a larger
// VC_INIT_CONN_TIMEOUT.
TEST(RendezvousTimeout, InitialConnectTimeOut) {
  struct Case {
    const char* value;  // null: unset
    long seconds;
  };
  const Case cases[] = {{nullptr, 30}, {"20", 30}, {"64", 64}, {"abc", 30}, {"", 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value != nullptr ? c.value : "(unset)");
    vq::testing::ScopedEnvironment env;
    if (c.value != nullptr) {
      env.Set("VC_INIT_CONN_TIMEOUT", c.value);
    } else {
      env.Unset("VC_INIT_CONN_TIMEOUT");
    }
    EXPECT_EQ(vq::shm::RendezvousTimeout(), std::chrono::seconds(c.seconds));
  }
}

class RendezvousNoPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(catalog_.ok());
    vq::shm::testing::SetRendezvousTimeout(std::chrono::milliseconds(2000));
  }
  void TearDown() override { vq::shm::testing::SetRendezvousTimeout({}); }
  static RdvClock::time_point Deadline() { return RdvClock::now() + std::chrono::seconds(2); }

  ScopedCatalog catalog_;
};

// The root can be 67 characters and a name 31: with "/rdv_socket" the path passes the
// 108 bytes of an AF_UNIX address. It is refused with a message, never cut.
TEST_F(RendezvousNoPeer, SocketPathTooLongForTheAddressIsRefused) {
  ScopedShmRoot base;
  std::string root = base.path() + "/";
  root += std::string(67 - root.size(), 'r');
  ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
  vq::testing::ScopedEnvironment env;
  env.Set("VCTMP", root);
  vq::shm::testing::ResetResourceRootCache();
  ASSERT_EQ(std::strlen(GetUnixResourceRoot()), 67u);

  const std::string name(31, 'n');
  char err[256] = {};
  const std::uint32_t data = 0;
  EXPECT_EQ(ExchangeRdvRequest(name.c_str(), 0, &data, 4, nullptr, 0, kRdvConnect32, err,
                               sizeof err, Deadline()),
            kRdvConnectRefused);
  EXPECT_NE(std::string(err).find("connect"), std::string::npos) << err;
  EXPECT_NE(std::string(err).find(std::to_string(ENAMETOOLONG)), std::string::npos) << err;

  // A name that fits goes as far as connecting (nobody listens: refused as well, quietly).
  err[0] = '\0';
  EXPECT_EQ(ExchangeRdvRequest("short", 0, &data, 4, nullptr, 0, kRdvConnect32, err, sizeof err,
                               Deadline()),
            kRdvConnectRefused);
  EXPECT_STREQ(err, "");
  vq::shm::testing::ResetResourceRootCache();
}

TEST_F(RendezvousNoPeer, ResultsWithoutAServer) {
  ScopedShmRoot root;
  char err[256] = {};
  a_ptshm_connect request{};
  a_ptshm_connect reply{};
  EXPECT_EQ(ExchangeRdvRequest(nullptr, 0, &request, sizeof request, &reply, sizeof reply,
                               kRdvConnect32, err, sizeof err, Deadline()),
            kRdvNoName);
  EXPECT_EQ(SendConnectRequest("nobody", request, &reply, 2, err, sizeof err, Deadline()),
            kRdvBadVersion);
  EXPECT_NE(std::string(err).find("connect request"), std::string::npos) << err;
  EXPECT_EQ(Ptshm_Connect("nobody", request, &reply, kShmStructV1, err, sizeof err, Deadline()),
            7);
  EXPECT_EQ(Ptshm_QueryConnect("nobody"), 0);
}

// No name and no default-server link: 7 with the message, before any comm block exists.
TEST_F(RendezvousNoPeer, NoNameAndNoDefaultServer) {
  ScopedShmRoot root;
  ClientStack stack;
  ASSERT_EQ(stack.init_result(), STRM_OK);
  const std::string shmem = root.dir(StrmCurSharedEngineAppName(), "shmem");
  const auto before = DirEntries(shmem);
  c_strm_pconn* conn = reinterpret_cast<c_strm_pconn*>(1);
  c_strm_conn_notifier* note = reinterpret_cast<c_strm_conn_notifier*>(1);
  char err[256] = {};
  EXPECT_EQ(stack.port().connect(nullptr, &conn, nullptr, nullptr, 0, &note, err, sizeof err,
                                 nullptr),
            STRM_NO_SERVER);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(note, nullptr);
  EXPECT_NE(std::string(err).find("default local server"), std::string::npos) << err;
  EXPECT_EQ(DirEntries(shmem), before);
  EXPECT_EQ(stack.env().made(), 0) << "no connection notifier was asked for";
}

// A named server that is not there: both structure versions are tried, and each try
// removes its comm block and gives back its notifier and slot.
TEST_F(RendezvousNoPeer, MissingServerLeavesNothingBehind) {
  ScopedShmRoot root;
  ClientStack stack;
  ASSERT_EQ(stack.init_result(), STRM_OK);
  const std::string shmem = root.dir(StrmCurSharedEngineAppName(), "shmem");
  const auto before = DirEntries(shmem);
  c_strm_pconn* conn = nullptr;
  c_strm_conn_notifier* note = nullptr;
  char err[256] = {};
  EXPECT_EQ(stack.port().connect("absent", &conn, nullptr, nullptr, 0, &note, err, sizeof err,
                                 nullptr),
            STRM_NO_SERVER);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(note, nullptr);
  EXPECT_EQ(stack.env().made(), 2) << "one notifier per structure version";
  EXPECT_EQ(DirEntries(shmem), before);
  EXPECT_EQ(stack.port().bitsignal_count(), 1u);
}

TEST_F(RendezvousNoPeer, NoConnectionNotifierIsAResourceFailure) {
  ScopedShmRoot root;
  ClientStack stack;
  ASSERT_EQ(stack.init_result(), STRM_OK);
  stack.env().set_refuse(true);
  const std::string shmem = root.dir(StrmCurSharedEngineAppName(), "shmem");
  const auto before = DirEntries(shmem);
  c_strm_pconn* conn = nullptr;
  c_strm_conn_notifier* note = nullptr;
  char err[256] = {};
  EXPECT_EQ(stack.port().connect("absent", &conn, nullptr, nullptr, 0, &note, err, sizeof err,
                                 nullptr),
            STRM_NO_MEMORY);
  EXPECT_EQ(DirEntries(shmem), before);
}

}  // namespace

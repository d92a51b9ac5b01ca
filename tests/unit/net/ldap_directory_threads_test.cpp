// The LDAP directory against a real directory server on loopback: searching one server,
// listing them all, stale entries, names that carry filter metacharacters, failed binds
// and refused writes, the registration side, and a directory of the Active Directory
// family. Each test starts its own slapd (a process) with the entries it needs.
//
// Entries in the directory name only loopback addresses or addresses that are never
// contacted, and never host names: nothing here resolves a name or leaves the machine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/ip_address.h"
#include "net/ldap_directory.h"
#include "net/ldap_interface.h"
#include "net/server_list.h"
#include "net/tcp_util.h"
#include "scoped_environment.h"
#include "slapd_server.h"

namespace {

using vq::testing::SlapdServer;

std::string GeneralizedTime(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &tm);
  return text;
}

// One server entry as LDIF; `modified` empty leaves the time stamps to the directory.
std::string Entry(const std::string& name, const std::vector<std::string>& addresses,
                  const std::string& modified = "", const char* addressAttribute = "l",
                  const std::vector<std::string>& moreNames = {}) {
  std::string ldif = "dn: cn=" + name +
                     ",ou=QuillonVSR,o=vqtest\n"
                     "objectClass: applicationProcess\ncn: " +
                     name + "\n";
  for (const std::string& n : moreNames) ldif += "cn: " + n + "\n";
  ldif += "description: Vellumcrest Server Database Engine Version 12.0.0.2566\n";
  for (const std::string& a : addresses)
    ldif += std::string(addressAttribute) + ": " + a + "\n";
  if (!modified.empty())
    ldif += "modifyTimestamp: " + modified + "\ncreateTimestamp: " + modified + "\n";
  return ldif + "\n";
}

std::vector<std::string> Texts(IPAddress_list& list) {
  std::vector<std::string> out;
  for (IPAddress_iter it(list); !it.at_end(); it.next()) {
    char text[80];
    it.element()->toString(text, sizeof text, 1, 0, 0);
    out.push_back(text);
  }
  return out;
}

std::vector<std::string> Listing(a_server_list& list) {
  std::vector<std::string> out;
  for (c_ip_server_address* e = list.getFirst(); e != nullptr; e = list.getNext()) {
    char text[80] = "";
    if (e->address != nullptr) e->address->toString(text, sizeof text, 0, 0, 0);
    out.push_back(std::string(e->serverName) + " " + std::to_string(e->port) + " " + text);
  }
  return out;
}

std::time_t g_fixedNow = 0;
std::time_t FixedClock() { return g_fixedNow; }

class LdapDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    TcpUtil::Init();
    // The client library reads no configuration of the machine or the user.
    env_.Set("LDAPNOINIT", "1");
    vq::net::SetLdapLibraryNames(nullptr);
    DynLDAPInterface::instance()._unloadRoutines();
    if (!DynLDAPInterface::instance().loadRoutines())
      GTEST_SKIP() << "no LDAP client library: " << DynLDAPInterface::instance().loadFailure();
  }
  void TearDown() override {
    vq::net::SetLdapClock(nullptr);
    server_.Stop();
    TcpUtil::Fini();
  }

  // Starts the server with the entries; false (and the test skips) when it cannot.
  bool StartServer(const std::string& entries, bool activeDirectory = false) {
    const std::string why = server_.Start(entries, activeDirectory);
    if (!why.empty()) {
      skipReason_ = why;
      return false;
    }
    return true;
  }

  // The settings file for this server, with extra lines.
  std::string Settings(const std::string& extra = "", bool withWriter = true) {
    std::string text = "[LDAP]\nserver=127.0.0.1\nport=" + std::to_string(server_.port()) +
                       "\nbasedn=o=vqtest\n";
    if (withWriter)
      text += std::string("authdn=") + SlapdServer::kRootDN +
              "\npassword=" + SlapdServer::kRootPassword + "\n";
    return server_.Write("vcldap.ini", text + extra);
  }

  vq::testing::ScopedEnvironment env_;
  SlapdServer server_;
  std::string skipReason_;
};

#define START_OR_SKIP(...)                                      \
  do {                                                          \
    if (!StartServer(__VA_ARGS__)) GTEST_SKIP() << skipReason_; \
  } while (0)

TEST_F(LdapDirectory, SearchGivesTheAddressesOfOneServer) {
  START_OR_SKIP(Entry("srv1", {"127.0.0.1:2638", "127.0.0.2"}) +
                Entry("srv2", {"127.0.0.3:2640"}));
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, Settings().c_str());
  unsigned supported = 9;
  ASSERT_EQ(DIRECTORY_OK, h.serverSupportsTimestamps(&supported));
  EXPECT_EQ(1u, supported);

  IPAddress_list out;
  ASSERT_EQ(DIRECTORY_OK, h.search("srv1", out));
  // A value with a port keeps it; one without has none.
  EXPECT_EQ((std::vector<std::string>{"127.0.0.1:2638", "127.0.0.2:0"}), Texts(out));
  EXPECT_EQ(0u, h.flags & c_ldap_handle::kFlagActiveDirectory);
  EXPECT_EQ(nullptr, h.ldap);  // no connection outlives an operation
}

TEST_F(LdapDirectory, SearchOutcomes) {
  const std::time_t now = std::time(nullptr);
  START_OR_SKIP(Entry("fresh", {"127.0.0.1:2638"}) +
                Entry("dup1", {"127.0.0.1:2641"}, "", "l", {"dup"}) +
                Entry("dup2", {"127.0.0.1:2642"}, "", "l", {"dup"}) +
                Entry("badport", {"127.0.0.1:70000"}) + Entry("noaddr", {}) +
                Entry("old", {"127.0.0.1:2643"}, GeneralizedTime(now - 700)) +
                Entry("recent", {"127.0.0.1:2644"}, GeneralizedTime(now - 500)));
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, Settings().c_str());
  const struct {
    const char* name;
    a_directory_error expected;
    unsigned addresses;
  } cases[] = {
      {"fresh", DIRECTORY_OK, 1},
      {"FRESH", DIRECTORY_OK, 1},  // names match as the directory compares them
      {"absent", DIRECTORY_NO_SUCH_SERVER, 0},
      {"dup", DIRECTORY_AMBIGUOUS, 0},
      {"badport", DIRECTORY_NO_SUCH_SERVER, 0},  // its only address does not resolve
      {"noaddr", DIRECTORY_NO_SUCH_SERVER, 0},
      {"old", DIRECTORY_STALE, 0},  // 700 s with the default of 600
      {"recent", DIRECTORY_OK, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    IPAddress_list out;
    EXPECT_EQ(c.expected, h.search(c.name, out));
    EXPECT_EQ(c.addresses, Texts(out).size());
  }
}

TEST_F(LdapDirectory, WithSearchTimeoutZeroNothingIsStale) {
  START_OR_SKIP(Entry("old", {"127.0.0.1:2643"}, "20200101000000Z"));
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, Settings("search_timeout=0\n").c_str());
  IPAddress_list out;
  EXPECT_EQ(DIRECTORY_OK, h.search("old", out));
  EXPECT_EQ(1u, Texts(out).size());
}

TEST_F(LdapDirectory, AnEntryRefreshedBeforeMidnightIsFreshAfterIt) {
  START_OR_SKIP(Entry("late", {"127.0.0.1:2650"}, "20260101235950Z"));
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, Settings().c_str());
  vq::net::SetLdapClock(FixedClock);
  g_fixedNow = 1767312001;  // 2026-01-02 00:00:01 UTC, eleven seconds later
  IPAddress_list out;
  EXPECT_EQ(DIRECTORY_OK, h.search("late", out));
  a_server_list list;
  EXPECT_EQ(DIRECTORY_OK, h.lookupServers(&list));
  EXPECT_EQ(std::vector<std::string>{"late 2650 127.0.0.1"}, Listing(list));

  g_fixedNow = 1767312001 + 600;  // now 611 seconds old
  EXPECT_EQ(DIRECTORY_STALE, h.search("late", out));
  a_server_list none;
  EXPECT_EQ(DIRECTORY_OK, h.lookupServers(&none));
  EXPECT_TRUE(Listing(none).empty());
}

TEST_F(LdapDirectory, FilterMetacharactersMatchOnlyTheirOwnName) {
  START_OR_SKIP(Entry("alpha", {"127.0.0.1:2661"}) + Entry("beta", {"127.0.0.1:2662"}) +
                Entry("a*b", {"127.0.0.1:2663"}) + Entry("axb", {"127.0.0.1:2664"}));
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, Settings().c_str());
  const struct {
    const char* name;
    a_directory_error expected;
    const char* address;
  } cases[] = {
      // Unescaped, each of these would match other servers' entries.
      {"*", DIRECTORY_NO_SUCH_SERVER, nullptr},
      {"al*", DIRECTORY_NO_SUCH_SERVER, nullptr},
      {"alpha)(cn=beta", DIRECTORY_NO_SUCH_SERVER, nullptr},
      {"x)(|(cn=alpha", DIRECTORY_NO_SUCH_SERVER, nullptr},
      {"alpha\\", DIRECTORY_NO_SUCH_SERVER, nullptr},
      {"a*b", DIRECTORY_OK, "127.0.0.1:2663"},  // unescaped: a*b and axb, so 4
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    IPAddress_list out;
    EXPECT_EQ(c.expected, h.search(c.name, out));
    if (c.address != nullptr) {
      EXPECT_EQ(std::vector<std::string>{c.address}, Texts(out));
    }
  }
}

TEST_F(LdapDirectory, LookupListsEveryFreshServerInNameOrder) {
  const std::time_t now = std::time(nullptr);
  START_OR_SKIP(Entry("beta", {"127.0.0.2:2640", "127.0.0.9:1"}) +
                Entry("alpha", {"127.0.0.1:2639"}) +
                Entry("old", {"127.0.0.1:2643"}, GeneralizedTime(now - 3600)) +
                Entry("gamma", {"127.0.0.3"}));
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, Settings().c_str());
  a_server_list list;
  ASSERT_EQ(DIRECTORY_OK, h.lookupServers(&list));
  // The first address of each, with its port; the stale one is left out.
  EXPECT_EQ((std::vector<std::string>{"alpha 2639 127.0.0.1", "beta 2640 127.0.0.2",
                                      "gamma 0 127.0.0.3"}),
            Listing(list));
}

TEST_F(LdapDirectory, LookupReportsEntriesWithoutAddressButListsTheRest) {
  START_OR_SKIP(Entry("alpha", {"127.0.0.1:2639"}) + Entry("noaddr", {}) +
                Entry("badport", {"127.0.0.1:70000"}));
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, Settings().c_str());
  a_server_list list;
  EXPECT_EQ(DIRECTORY_NO_SUCH_SERVER, h.lookupServers(&list));
  EXPECT_EQ(std::vector<std::string>{"alpha 2639 127.0.0.1"}, Listing(list));
}

TEST_F(LdapDirectory, AMissingProductUnit) {
  START_OR_SKIP("");
  const std::string path = server_.Write(
      "vcldap.ini", "[LDAP]\nserver=127.0.0.1\nport=" + std::to_string(server_.port()) +
                        "\nbasedn=ou=elsewhere,o=vqtest\n");
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  unsigned supported = 9;
  EXPECT_EQ(DIRECTORY_NO_PRODUCT_UNIT, h.serverSupportsTimestamps(&supported));
  IPAddress_list out;
  EXPECT_EQ(DIRECTORY_NO_SUCH_SERVER, h.search("srv", out));
  a_server_list list;
  EXPECT_EQ(DIRECTORY_OK, h.lookupServers(&list));
  IPAddress_list mine;
  mine.append(new IPAddress("127.0.0.1:2638"));
  EXPECT_EQ(DIRECTORY_NO_PRODUCT_UNIT, h.registerServer("srv", mine, 0, nullptr));
}

TEST_F(LdapDirectory, BindFailures) {
  START_OR_SKIP(Entry("srv1", {"127.0.0.1:2638"}));
  {
    const std::string path = Settings(std::string("read_authdn=") + SlapdServer::kRootDN +
                                      "\nread_password=wrong\n");
    c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
    IPAddress_list out;
    EXPECT_EQ(DIRECTORY_BIND_FAILED, h.search("srv1", out));
    EXPECT_STREQ("ldap_simple_bind", h.lastErrorCall);
    EXPECT_EQ(49, h.lastError);  // invalid credentials
    ASSERT_NE(nullptr, h.getLastLDAPErrorString());
    EXPECT_STREQ("Invalid credentials", h.getLastLDAPErrorString());
  }
  {
    // Nobody listens on the port any more.
    const int port = server_.port();
    server_.Stop(false);
    const std::string path = server_.Write(
        "vcldap.ini", "[LDAP]\nserver=127.0.0.1\nport=" + std::to_string(port) + "\n");
    c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
    IPAddress_list out;
    EXPECT_EQ(DIRECTORY_BIND_FAILED, h.search("srv1", out));
    EXPECT_STREQ("ldap_simple_bind", h.lastErrorCall);
    EXPECT_NE(0, h.lastError);
  }
}

TEST_F(LdapDirectory, WritesWithoutCredentialsAreRefused) {
  START_OR_SKIP("");
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, Settings("", false).c_str());
  IPAddress_list mine;
  mine.append(new IPAddress("127.0.0.1:2638"));
  EXPECT_EQ(DIRECTORY_REQUEST_FAILED, h.registerServer("srv", mine, 0, nullptr));
  EXPECT_STREQ("ldap_add", h.lastErrorCall);
  // Anonymous writes: stronger authentication required, or insufficient access.
  EXPECT_TRUE(h.lastError == 8 || h.lastError == 50) << h.lastError;
  EXPECT_NE(nullptr, h.getLastLDAPErrorString());
  EXPECT_EQ(0u, h.registered);
}

TEST_F(LdapDirectory, RegistrationRoad) {
  START_OR_SKIP("");
  const std::string path = Settings();
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  IPAddress_list mine;
  mine.append(new IPAddress("127.0.0.1:2700"));
  mine.append(new IPAddress("127.0.0.1:2700"));  // written once
  unsigned replaced = 9;
  ASSERT_EQ(DIRECTORY_OK, h.registerServer("reg-one", mine, 0, &replaced));
  EXPECT_EQ(0u, replaced);
  EXPECT_EQ(1u, h.registered);
  EXPECT_EQ(nullptr, h.ldap);

  c_ldap_handle reader(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  IPAddress_list found;
  ASSERT_EQ(DIRECTORY_OK, reader.search("reg-one", found));
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1:2700"}, Texts(found));
  char text[128];
  ASSERT_EQ(DIRECTORY_OK, reader.readAttribute("reg-one", "description", text, sizeof text));
  EXPECT_STREQ("Vellumcrest Server Database Engine Version 12.0.0.2566", text);
  char cut[8];
  ASSERT_EQ(DIRECTORY_OK, reader.readAttribute("reg-one", "description", cut, sizeof cut));
  EXPECT_STREQ("Vellumc", cut);
  EXPECT_EQ(DIRECTORY_NO_SUCH_SERVER,
            reader.readAttribute("reg-one", "seeAlso", text, sizeof text));

  // Another server under the same name, elsewhere, is refused while the entry is fresh.
  c_ldap_handle other(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  IPAddress_list theirs;
  theirs.append(new IPAddress("127.0.0.2:2700"));
  EXPECT_EQ(DIRECTORY_NAME_TAKEN, other.registerServer("reg-one", theirs, 0, &replaced));
  EXPECT_EQ(0u, other.registered);
  // So is a server at the same host on another port: an entry is ours only when
  // address and port both match.
  c_ldap_handle neighbour(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  IPAddress_list sameHost;
  sameHost.append(new IPAddress("127.0.0.1:2800"));
  EXPECT_EQ(DIRECTORY_NAME_TAKEN, neighbour.registerServer("reg-one", sameHost, 0, &replaced));
  EXPECT_EQ(0u, neighbour.registered);
  EXPECT_EQ(0u, replaced);
  found.delete_all();
  ASSERT_EQ(DIRECTORY_OK, reader.search("reg-one", found));
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1:2700"}, Texts(found));

  // The same addresses again replace the server's own entry.
  ASSERT_EQ(DIRECTORY_OK, h.registerServer("reg-one", mine, 0, &replaced));
  EXPECT_EQ(0u, replaced);

  // Addresses: one more host; the same host on another port changes nothing; removal
  // drops the host whatever its port.
  IPAddress third("127.0.0.3:2700");
  IPAddress thirdOtherPort("127.0.0.3:2800");
  IPAddress first("127.0.0.1:9");
  ASSERT_EQ(DIRECTORY_OK, h.addIPAddress(third));
  ASSERT_EQ(DIRECTORY_OK, h.addIPAddress(thirdOtherPort));
  found.delete_all();
  ASSERT_EQ(DIRECTORY_OK, reader.search("reg-one", found));
  EXPECT_EQ((std::vector<std::string>{"127.0.0.1:2700", "127.0.0.3:2700"}), Texts(found));
  ASSERT_EQ(DIRECTORY_OK, h.removeIPAddress(first));
  found.delete_all();
  ASSERT_EQ(DIRECTORY_OK, reader.search("reg-one", found));
  EXPECT_EQ(std::vector<std::string>{"127.0.0.3:2700"}, Texts(found));

  // A refresh renews the modification time (kept to the second).
  char before[32];
  ASSERT_EQ(DIRECTORY_OK,
            reader.readAttribute("reg-one", "modifyTimestamp", before, sizeof before));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(DIRECTORY_OK, h.updateTimestamp());
  char after[32];
  ASSERT_EQ(DIRECTORY_OK,
            reader.readAttribute("reg-one", "modifyTimestamp", after, sizeof after));
  EXPECT_LT(std::string(before), std::string(after));

  ASSERT_EQ(DIRECTORY_OK, h.unregisterServer());
  EXPECT_EQ(0u, h.registered);
  found.delete_all();
  EXPECT_EQ(DIRECTORY_NO_SUCH_SERVER, reader.search("reg-one", found));
  EXPECT_EQ(DIRECTORY_NOT_REGISTERED, h.unregisterServer());
  EXPECT_EQ(DIRECTORY_NOT_REGISTERED, h.updateTimestamp());
}

TEST_F(LdapDirectory, RegistrationTakesOverStaleOrForced) {
  const std::time_t now = std::time(nullptr);
  START_OR_SKIP(Entry("gone", {"127.0.0.9:2638"}, GeneralizedTime(now - 3600)) +
                Entry("busy", {"127.0.0.9:2638"}));
  const std::string path = Settings();
  IPAddress_list mine;
  mine.append(new IPAddress("127.0.0.1:2701"));
  // Separate handles: a handle's new registration removes its earlier one.
  c_ldap_handle h1(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  unsigned replaced = 9;
  ASSERT_EQ(DIRECTORY_OK, h1.registerServer("gone", mine, 0, &replaced));
  EXPECT_EQ(1u, replaced);
  {
    c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
    EXPECT_EQ(DIRECTORY_NAME_TAKEN, h.registerServer("busy", mine, 0, &replaced));
    EXPECT_EQ(0u, replaced);
    ASSERT_EQ(DIRECTORY_OK, h.registerServer("busy", mine, 1, &replaced));
  }
  {
    c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, Settings("force_register=on\n").c_str());
    IPAddress_list again;
    again.append(new IPAddress("127.0.0.1:2702"));
    ASSERT_EQ(DIRECTORY_OK, h.registerServer("busy", again, 0, nullptr));
  }
  c_ldap_handle reader(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  IPAddress_list found;
  ASSERT_EQ(DIRECTORY_OK, reader.search("gone", found));
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1:2701"}, Texts(found));
  found.delete_all();
  ASSERT_EQ(DIRECTORY_OK, reader.search("busy", found));
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1:2702"}, Texts(found));
}

TEST_F(LdapDirectory, ANameWithMetacharactersIsRegisteredAndFoundAsItself) {
  START_OR_SKIP(Entry("weird", {"127.0.0.1:2711"}));
  const std::string path = Settings();
  const char* name = "we(ir)d,name*+#";
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  IPAddress_list mine;
  mine.append(new IPAddress("127.0.0.1:2710"));
  ASSERT_EQ(DIRECTORY_OK, h.registerServer(name, mine, 0, nullptr));

  c_ldap_handle reader(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  IPAddress_list found;
  ASSERT_EQ(DIRECTORY_OK, reader.search(name, found));
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1:2710"}, Texts(found));
  char cn[64];
  ASSERT_EQ(DIRECTORY_OK, reader.readAttribute(name, "cn", cn, sizeof cn));
  EXPECT_STREQ(name, cn);
  a_server_list list;
  ASSERT_EQ(DIRECTORY_OK, reader.lookupServers(&list));
  EXPECT_EQ(
      (std::vector<std::string>{std::string(name) + " 2710 127.0.0.1", "weird 2711 127.0.0.1"}),
      Listing(list));
  ASSERT_EQ(DIRECTORY_OK, h.unregisterServer());
}

TEST_F(LdapDirectory, HandlesOnSeveralThreadsAtOnce) {
  START_OR_SKIP(Entry("srv1", {"127.0.0.1:2638"}));
  const std::string path = Settings();
  // Each thread loads the library through its own first handle; only that is shared.
  DynLDAPInterface::instance()._unloadRoutines();
  std::atomic<int> found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
        IPAddress_list out;
        if (h.search("srv1", out) == DIRECTORY_OK && Texts(out).size() == 1) ++found;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(20, found.load());
}

TEST_F(LdapDirectory, ActiveDirectoryKeepsAddressesInTheUnitAttribute) {
  START_OR_SKIP(Entry("adsrv", {"127.0.0.1:2720"}, "", "ou"), true);
  const std::string path = Settings();
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  IPAddress_list found;
  ASSERT_EQ(DIRECTORY_OK, h.search("adsrv", found));
  EXPECT_EQ(c_ldap_handle::kFlagActiveDirectory, h.flags & c_ldap_handle::kFlagActiveDirectory);
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1:2720"}, Texts(found));

  IPAddress_list mine;
  mine.append(new IPAddress("127.0.0.1:2721"));
  ASSERT_EQ(DIRECTORY_OK, h.registerServer("adreg", mine, 0, nullptr));
  char text[64];
  ASSERT_EQ(DIRECTORY_OK, h.readAttribute("adreg", "ou", text, sizeof text));
  EXPECT_STREQ("127.0.0.1:2721", text);
  ASSERT_EQ(DIRECTORY_OK, h.readAttribute("adreg", "objectClass", text, sizeof text));
  EXPECT_STREQ("applicationEntity", text);
  EXPECT_EQ(DIRECTORY_NO_SUCH_SERVER, h.readAttribute("adreg", "l", text, sizeof text));
  ASSERT_EQ(DIRECTORY_OK, h.updateTimestamp());
  ASSERT_EQ(DIRECTORY_OK, h.readAttribute("adreg", "description", text, sizeof text));
  EXPECT_STREQ("Vellumcrest Server Database Engine Version 12.0.0.2566", text);
}

}  // namespace

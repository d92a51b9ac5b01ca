// The LDAP directory without a directory server: the escaping of names into filters and
// entry names, names read back from entry names, the stale test on absolute times, the
// settings file, and the loading of the client library (missing, incomplete, found by a
// later name). Nothing here opens a connection: every operation tested ends before it.
#include "net/ldap_directory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "net/ip_address.h"
#include "net/ldap_interface.h"
#include "net/server_list.h"
#include "scoped_environment.h"
#include "utils/base/memory.h"

namespace {

std::string Owned(char* text) {
  std::string s = text;
  ut_free(text);
  return s;
}

// --- names into filters and entry names ---

struct EscapeCase {
  const char* name;
  const char* filterValue;
  const char* dnValue;
};

const EscapeCase kEscapes[] = {
    {"plain", "plain", "plain"},
    {"a*b", "a\\2ab", "a*b"},
    {"x)(cn=*", "x\\29\\28cn=\\2a", "x)(cn\\=*"},
    {"back\\slash", "back\\5cslash", "back\\\\slash"},
    {"a,b+c", "a,b+c", "a\\,b\\+c"},
    {"#first", "#first", "\\#first"},
    {" padded ", " padded ", "\\ padded\\ "},
    {"q\"<>;", "q\"<>;", "q\\\"\\<\\>\\;"},
    {"", "", ""},
};

TEST(LdapNames, FilterAndEntryNameEscapes) {
  for (const EscapeCase& c : kEscapes) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.filterValue, Owned(vq::net::EscapeLdapFilterValue(c.name)));
    EXPECT_EQ(c.dnValue, Owned(vq::net::EscapeDnValue(c.name)));
  }
}

TEST(LdapNames, AnEscapedEntryNameReadsBackAsTheName) {
  for (const EscapeCase& c : kEscapes) {
    if (c.name[0] == '\0') continue;
    SCOPED_TRACE(c.name);
    const std::string dn = "CN=" + Owned(vq::net::EscapeDnValue(c.name)) + ",OU=QuillonVSR,o=x";
    char name[64];
    ASSERT_EQ(1u, vq::net::ServerNameFromDN(dn.c_str(), name, sizeof name));
    EXPECT_STREQ(c.name, name);
  }
}

TEST(LdapNames, ServerNameFromEntryName) {
  struct Case {
    const char* dn;
    unsigned size;
    unsigned ok;
    const char* name;
  };
  const Case cases[] = {
      {"cn=srv1,ou=QuillonVSR,o=vqtest", 64, 1, "srv1"},
      {"CN=srv1", 64, 1, "srv1"},
      {"cn=a\\2cb,ou=x", 64, 1, "a,b"},  // hex escape
      {"cn=srv1,ou=x", 5, 1, "srv1"},    // exactly fits
      {"cn=srv1,ou=x", 4, 0, ""},        // one byte short: nothing, not a cut name
      {"ou=QuillonVSR,o=x", 64, 0, ""},  // not a server entry
      {"cn", 64, 0, ""},                 // shorter than its prefix
      {"", 64, 0, ""},
      {"cn=,ou=x", 64, 0, ""},  // empty value
      {"cn=abc\\", 64, 0, ""},  // escape without its character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dn);
    char out[64];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(c.ok, vq::net::ServerNameFromDN(c.dn, out, c.size));
    EXPECT_STREQ(c.name, out);
  }
  char out[4];
  EXPECT_EQ(0u, vq::net::ServerNameFromDN(nullptr, out, sizeof out));
}

// --- times ---

std::time_t Utc(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return timegm(&tm);
}

TEST(LdapTimes, GeneralizedTimes) {
  struct Case {
    const char* text;
    bool ok;
    std::time_t value;
  };
  const Case cases[] = {
      {"19700101000000Z", true, 0},
      {"20260102000001Z", true, Utc(2026, 1, 2, 0, 0, 1)},
      {"20240229235959Z", true, Utc(2024, 2, 29, 23, 59, 59)},
      {"20261231120000.123Z", true, Utc(2026, 12, 31, 12, 0, 0)},  // fraction ignored
      {"20260102000001", true, Utc(2026, 1, 2, 0, 0, 1)},
      {"2026010200000", false, 0},    // a digit short
      {"20261302000000Z", false, 0},  // month 13
      {"20260100000000Z", false, 0},  // day 0
      {"20260101240000Z", false, 0},  // hour 24
      {"2026-01-02T00:00Z", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::time_t t = -7;
    EXPECT_EQ(c.ok, vq::net::ParseGeneralizedTime(c.text, &t));
    if (c.ok) {
      EXPECT_EQ(c.value, t);
    }
  }
}

TEST(LdapTimes, StaleByAbsoluteAge) {
  const std::time_t midnight = Utc(2026, 1, 2, 0, 0, 0);
  struct Case {
    const char* what;
    std::time_t entry;
    std::time_t now;
    std::uint32_t timeout;
    bool stale;
  };
  const Case cases[] = {
      {"700 s old", midnight + 5000, midnight + 5700, 600, true},
      {"exactly the time-out", midnight + 5000, midnight + 5600, 600, true},
      {"599 s old", midnight + 5000, midnight + 5599, 600, false},
      {"time-out 0", midnight - 86400 * 30, midnight, 0, false},
      {"from the future", midnight + 100, midnight, 600, false},
      // A refresh ten seconds before midnight is fresh just after it; a calendar-day
      // comparison would drop the server until its next refresh.
      {"across midnight, fresh", midnight - 10, midnight + 1, 600, false},
      {"across midnight, old", midnight - 660, midnight + 1, 600, true},
      {"a year ago", midnight - 86400 * 365, midnight, 600, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.stale, vq::net::EntryTimeIsStale(c.entry, c.now, c.timeout));
  }
}

// --- the settings file and the library ---

class LdapHandle : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vq_ldap_unit_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    vq::net::SetLdapLibraryNames(nullptr);
    DynLDAPInterface::instance()._unloadRoutines();
  }
  void TearDown() override {
    vq::net::SetLdapLibraryNames(nullptr);
    DynLDAPInterface::instance()._unloadRoutines();
    std::filesystem::remove_all(dir_);
  }

  std::string Write(const char* name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  void RequireLibrary() {
    if (!DynLDAPInterface::instance().loadRoutines())
      GTEST_SKIP() << "no LDAP client library: " << DynLDAPInterface::instance().loadFailure();
  }

  std::string dir_;
};

TEST_F(LdapHandle, ReadsEverySetting) {
  RequireLibrary();
  const std::string path = Write("vq.ini",
                                 "[Other]\nserver=wrong\n"
                                 "[LDAP]\nserver=127.0.0.1\nport=3899\nbasedn=o=vqtest\n"
                                 "authdn=cn=admin,o=vqtest\npassword=secret\n"
                                 "read_authdn=cn=reader,o=vqtest\nread_password=rsecret\n"
                                 "search_timeout=900\nupdate_timeout=60\nforce_register=yes\n");
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  EXPECT_EQ(1, h.kind);
  EXPECT_TRUE(h.supported());
  EXPECT_EQ(DIRECTORY_OK, h.iniResult);
  EXPECT_EQ(1u, h.iniRead);
  EXPECT_STREQ("127.0.0.1", h.server);
  EXPECT_EQ(3899, h.port);
  EXPECT_STREQ("o=vqtest", h.baseDN);
  EXPECT_STREQ("cn=admin,o=vqtest", h.authDN);
  EXPECT_STREQ("secret", h.password);
  EXPECT_STREQ("cn=reader,o=vqtest", h.readAuthDN);
  EXPECT_STREQ("rsecret", h.readPassword);
  EXPECT_EQ(900u, h.searchTimeout);
  EXPECT_EQ(60u, h.updateTimeout);
  EXPECT_EQ(c_ldap_handle::kFlagForceRegister, h.flags & c_ldap_handle::kFlagForceRegister);
  EXPECT_STREQ("OU=QuillonVSR,o=vqtest", h.getVSRBaseDN());
}

TEST_F(LdapHandle, DefaultsAndValuesThatAreNotNumbers) {
  RequireLibrary();
  const std::string path =
      Write("vq.ini", "[LDAP]\nport=70000\nsearch_timeout=ten\nupdate_timeout=-1\n");
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  ASSERT_EQ(DIRECTORY_OK, h.iniResult);
  EXPECT_EQ(nullptr, h.server);
  EXPECT_EQ(0, h.port);  // used as 389
  EXPECT_EQ(600u, h.searchTimeout);
  EXPECT_EQ(120u, h.updateTimeout);
  EXPECT_EQ(0u, h.flags & c_ldap_handle::kFlagForceRegister);
  EXPECT_STREQ("OU=QuillonVSR", h.getVSRBaseDN());
}

TEST_F(LdapHandle, ForceRegisterWords) {
  RequireLibrary();
  const struct {
    const char* value;
    bool on;
  } cases[] = {{"ON", true},   {"on", true},  {"1", true},  {"Yes", true}, {"TRUE", true},
               {"off", false}, {"no", false}, {"2", false}, {"", false},   {"yess", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const std::string path =
        Write("vq.ini", std::string("[LDAP]\nforce_register=") + c.value + "\n");
    c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
    EXPECT_EQ(c.on, (h.flags & c_ldap_handle::kFlagForceRegister) != 0);
  }
}

TEST_F(LdapHandle, TheDefaultFileIsFoundUnderTheInstallationRoot) {
  RequireLibrary();
  Write("vcldap.ini", "[LDAP]\nserver=127.0.0.1\n");
  vq::testing::ScopedEnvironment env;
  env.Set("VCDIR", dir_.c_str());
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, nullptr);
  EXPECT_STREQ("vcldap.ini", h.getFileBaseName());
  EXPECT_EQ(DIRECTORY_OK, h.iniResult);
  EXPECT_STREQ("127.0.0.1", h.server);
}

TEST_F(LdapHandle, SettingsFailuresAreReturnedByEveryOperation) {
  RequireLibrary();
  const struct {
    const char* what;
    std::string path;
    a_directory_error expected;
  } cases[] = {
      {"no file", dir_ + "/absent.ini", DIRECTORY_NO_SETTINGS_FILE},
      {"no LDAP section", Write("other.ini", "[Server]\nserver=127.0.0.1\n"),
       DIRECTORY_NO_LDAP_SECTION},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, c.path.c_str());
    EXPECT_EQ(c.expected, h.iniResult);
    EXPECT_EQ(0u, h.iniRead);
    IPAddress_list out;
    EXPECT_EQ(c.expected, h.search("srv", out));
    EXPECT_TRUE(out.is_empty());
    a_server_list list;
    EXPECT_EQ(c.expected, h.lookupServers(&list));
    unsigned supported = 7;
    EXPECT_EQ(c.expected, h.serverSupportsTimestamps(&supported));
    EXPECT_EQ(0u, supported);
    char value[16] = "x";
    EXPECT_EQ(c.expected, h.readAttribute("srv", "l", value, sizeof value));
    EXPECT_STREQ("", value);
    IPAddress_list mine;
    mine.append(new IPAddress(0x7F000001u));
    EXPECT_EQ(c.expected, h.registerServer("srv", mine, 0, nullptr));
    EXPECT_EQ(nullptr, h.ldap);
  }
}

TEST_F(LdapHandle, WithoutTheLibraryEveryOperationSaysSoAndTheFileIsNotRead) {
  const char* const missing[] = {"libvq-no-such-ldap.so", "libvq-no-such-ldap.so.2", nullptr};
  vq::net::SetLdapLibraryNames(missing);
  const std::string path = Write("vq.ini", "[LDAP]\nserver=127.0.0.1\nport=3899\n");
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  EXPECT_FALSE(h.supported());
  EXPECT_EQ(nullptr, h.getLastLDAPErrorString());
  EXPECT_EQ(nullptr, h.server);  // not read
  EXPECT_EQ(0, h.port);
  EXPECT_EQ(0u, h.iniRead);
  EXPECT_STREQ(
      "no LDAP client library found (tried libvq-no-such-ldap.so, "
      "libvq-no-such-ldap.so.2)",
      DynLDAPInterface::instance().loadFailure());

  IPAddress_list out;
  EXPECT_EQ(DIRECTORY_NO_LIBRARY, h.search("srv", out));
  a_server_list list;
  EXPECT_EQ(DIRECTORY_NO_LIBRARY, h.lookupServers(&list));
  unsigned supported = 0;
  EXPECT_EQ(DIRECTORY_NO_LIBRARY, h.serverSupportsTimestamps(&supported));
  char value[8];
  EXPECT_EQ(DIRECTORY_NO_LIBRARY, h.readAttribute("srv", "l", value, sizeof value));
  IPAddress_list mine;
  mine.append(new IPAddress(0x7F000001u));
  EXPECT_EQ(DIRECTORY_NO_LIBRARY, h.registerServer("srv", mine, 0, nullptr));
}

TEST_F(LdapHandle, ALibraryWithoutTheRoutinesIsNotUsed) {
  // The encoding library beside the client library loads, but binds nothing.
  const char* const wrong[] = {"liblber-2.5.so.0", nullptr};
  vq::net::SetLdapLibraryNames(wrong);
  if (!std::filesystem::exists("/usr/lib/x86_64-linux-gnu/liblber-2.5.so.0"))
    GTEST_SKIP() << "liblber-2.5.so.0 is not installed";
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, nullptr);
  EXPECT_FALSE(h.supported());
  EXPECT_EQ(DIRECTORY_NO_LIBRARY, h.iniResult);
  EXPECT_STREQ("liblber-2.5.so.0 lacks the routine ldap_abandon",
               DynLDAPInterface::instance().loadFailure());
  EXPECT_EQ(nullptr, DynLDAPInterface::instance().libraryName());
  EXPECT_EQ(nullptr, DynLDAPInterface::instance().ldap_abandon);
}

TEST_F(LdapHandle, LaterNamesAreTriedInOrder) {
  const char* const names[] = {"libvq-no-such-ldap.so", "libldap-2.5.so.0", "libldap.so.2",
                               nullptr};
  vq::net::SetLdapLibraryNames(names);
  if (!DynLDAPInterface::instance().loadRoutines())
    GTEST_SKIP() << "no versioned LDAP client library: "
                 << DynLDAPInterface::instance().loadFailure();
  EXPECT_STREQ("libldap-2.5.so.0", DynLDAPInterface::instance().libraryName());
  EXPECT_STREQ("", DynLDAPInterface::instance().loadFailure());
  // Every routine is bound, the last one included.
  EXPECT_NE(nullptr, DynLDAPInterface::instance().ldap_perror);
}

TEST_F(LdapHandle, TheLibrarysOwnNameComesFirst) {
  RequireLibrary();
  const char* name = DynLDAPInterface::instance().libraryName();
  ASSERT_NE(nullptr, name);
  if (std::filesystem::exists("/usr/lib/x86_64-linux-gnu/libldap_r.so")) {
    EXPECT_STREQ("libldap_r.so", name);
  }
}

TEST_F(LdapHandle, RegistrationNeedsAddressesAndARegisteredEntry) {
  RequireLibrary();
  const std::string path = Write("vq.ini", "[LDAP]\nserver=127.0.0.1\n");
  c_ldap_handle h(LDAP_SERVER_TYPE_DATABASE, path.c_str());
  IPAddress_list none;
  unsigned replaced = 9;
  EXPECT_EQ(DIRECTORY_NO_ADDRESS, h.registerServer("srv", none, 0, &replaced));
  IPAddress a(0x7F000001u);
  EXPECT_EQ(DIRECTORY_NOT_REGISTERED, h.unregisterServer());
  EXPECT_EQ(DIRECTORY_NOT_REGISTERED, h.updateTimestamp());
  EXPECT_EQ(DIRECTORY_NOT_REGISTERED, h.addIPAddress(a));
  EXPECT_EQ(DIRECTORY_NOT_REGISTERED, h.removeIPAddress(a));
  EXPECT_EQ(nullptr, h.ldap);
}

}  // namespace

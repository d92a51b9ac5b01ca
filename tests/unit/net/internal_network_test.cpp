// Whether the host is on the product's internal network: the resolver file's first
// domain, and the mirror-host look-up that hosts with a private address try first. The
// look-up goes through a seam: no test sends a name query.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "net/tcp_util.h"

namespace {

class InternalNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vqinetXXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    resolv_ = dir_ + "/resolv.conf";
    vq::net::SetResolvConfPath(resolv_.c_str());
    vq::net::SetProcNetDirectory(dir_.c_str());
    vq::net::SetInternalHostResolver(&CountingResolver);
    lookups = 0;
    WriteFile("dev", "Inter-| Receive\n face |bytes\n  lo: 1 2 0 0 0 0 0 0 1 2\n");
    WriteFile("if_inet6", "");
  }
  // The interface list is read on first use, after a test has written its files.
  void Start() { TcpUtil::Init(); }
  void TearDown() override {
    TcpUtil::Fini();
    vq::net::SetInternalHostResolver(nullptr);
    vq::net::SetProcNetDirectory(nullptr);
    vq::net::SetResolvConfPath(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void WriteFile(const char* name, const std::string& content) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << content;
  }

  static bool CountingResolver(const char* name) {
    ++lookups;
    last_name = name;
    return resolves;
  }

  static inline int lookups = 0;
  static inline bool resolves = false;
  static inline std::string last_name;
  std::string dir_;
  std::string resolv_;
};

struct ResolvCase {
  const char* name;
  const char* content;
  bool inside;
};

TEST_F(InternalNetwork, TheFirstDomainOfTheResolverFileDecides) {
  const ResolvCase cases[] = {
      {"domain_line", "nameserver 127.0.0.1\ndomain vellumcrest.com\n", true},
      {"subdomain_in_search", "search dev.vellumcrest.com example.org\n", true},
      {"rooted_and_other_case", "domain VellumCrest.COM.\n", true},
      {"crlf_line_end", "domain vellumcrest.com\r\n", true},
      {"only_the_first_domain_counts", "search example.org vellumcrest.com\n", false},
      {"first_keyword_line_counts", "search example.org\ndomain vellumcrest.com\n", false},
      {"suffix_without_dot", "domain notvellumcrest.com\n", false},
      {"longer_name", "domain vellumcrest.com.example.org\n", false},
      {"comment", "# domain vellumcrest.com\nnameserver 127.0.0.1\n", false},
      {"keyword_without_value_then_one", "domain\nsearch vellumcrest.com\n", true},
      {"keyword_is_case_sensitive", "Domain vellumcrest.com\n", false},
      {"no_final_newline", "domain vellumcrest.com", true},
      {"empty_file", "", false},
  };
  for (const ResolvCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile("resolv.conf", c.content);
    EXPECT_EQ(c.inside, TcpUtil::IsOnInternalNetwork());
  }
  std::filesystem::remove(resolv_);
  EXPECT_FALSE(TcpUtil::IsOnInternalNetwork());
}

TEST_F(InternalNetwork, WithoutAPrivateAddressTheMirrorIsNeverLookedUp) {
  Start();
  resolves = true;
  WriteFile("resolv.conf", "domain example.org\n");
  EXPECT_FALSE(TcpUtil::IsOnInternalNetwork_Ex());
  WriteFile("resolv.conf", "domain vellumcrest.com\n");
  EXPECT_TRUE(TcpUtil::IsOnInternalNetwork_Ex());
  EXPECT_EQ(0, lookups);
}

TEST_F(InternalNetwork, APrivateAddressAsksForTheMirrorFirst) {
  // An IPv4-mapped 10.0.0.1 on an interface counts as a private address.
  WriteFile("if_inet6", "00000000000000000000ffff0a000001 02 60 00 80 eth0\n");
  Start();
  WriteFile("resolv.conf", "domain example.org\n");

  resolves = true;
  EXPECT_TRUE(TcpUtil::IsOnInternalNetwork_Ex());
  EXPECT_EQ(1, lookups);
  EXPECT_EQ("vcmirror.vellumcrest.com", last_name);

  resolves = false;
  EXPECT_FALSE(TcpUtil::IsOnInternalNetwork_Ex());
  WriteFile("resolv.conf", "search vellumcrest.com\n");
  EXPECT_TRUE(TcpUtil::IsOnInternalNetwork_Ex());
  EXPECT_EQ(3, lookups);
}

}  // namespace

// The Kerberos binding against the system's GSS-API library and a real KDC.
//
// The fixture makes a throwaway realm in a temporary directory (its own krb5.conf and
// kdc.conf, a database made with kdb5_util, a client and a service principal with
// keytabs made with kadmin.local), starts krb5kdc on a free loopback port, and gets the
// client's ticket with kinit into a private credential cache. Everything is stopped
// and removed at the end, and the KDC dies with this process if that ends early. The
// tests skip when the KDC programs are not installed.
//
// The server side is checked twice: by the binding's own acceptor functions, and by
// the GSS-API library called directly, as an independent judge of the client's tokens.
#include <fcntl.h>
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "security/kerberos.h"

// In the sanitizer build: the system's library keeps a copy of the principal when it
// fails to acquire an accepting credential, which nobody can give back. Its code has no
// frame pointers, so only the slow unwinder sees the call that the suppression names.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:gss_add_cred_from\n"; }

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kRealm = "VQTEST.LOCAL";
constexpr const char* kClient = "dbuser";
constexpr const char* kService = "vellum/localhost";

struct Messages {
  std::vector<std::string> texts;
  static void Collect(const char* text, void* context) {
    static_cast<Messages*>(context)->texts.emplace_back(text);
  }
  std::string All() const {
    std::string all;
    for (const auto& t : texts) all += t + "\n";
    return all;
  }
};

std::string FindProgram(const std::string& name) {
  std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find(':', start), path.size());
    const std::string candidate = path.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// Runs a program to its end (killed after `timeout`); its exit status, or -1. Standard
// output and error go to `output`.
int RunProgram(const std::vector<std::string>& argv, std::string* output,
               std::chrono::seconds timeout = std::chrono::seconds(20)) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  const auto deadline = Clock::now() + timeout;
  char buffer[4096];
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    output->append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A port free for both UDP and TCP on 127.0.0.1 (the KDC listens on both).
int FreePort() {
  for (int attempt = 0; attempt < 20; ++attempt) {
    int tcp = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(tcp, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(tcp, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      close(tcp);
      continue;
    }
    int udp = socket(AF_INET, SOCK_DGRAM, 0);
    const bool udp_free = bind(udp, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(udp);
    close(tcp);
    if (udp_free) return ntohs(addr.sin_port);
  }
  return -1;
}

bool TcpAccepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

class KdcRealm : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    const std::string kdc = FindProgram("krb5kdc");
    const std::string util = FindProgram("kdb5_util");
    const std::string kadmin = FindProgram("kadmin.local");
    const std::string kinit = FindProgram("kinit");
    if (kdc.empty() || util.empty() || kadmin.empty() || kinit.empty()) {
      skip_reason_ =
          "MIT Kerberos KDC programs not found (krb5kdc, kdb5_util, kadmin.local, kinit); "
          "install krb5-kdc, krb5-admin-server and krb5-user to run these tests";
      return;
    }
    setup_error_ = MakeRealm(kdc, util, kadmin, kinit);
  }

  static void TearDownTestSuite() {
    if (kdc_pid_ > 0) {
      kill(kdc_pid_, SIGTERM);
      int status = 0;
      const auto deadline = Clock::now() + std::chrono::seconds(3);
      while (waitpid(kdc_pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
          kill(kdc_pid_, SIGKILL);
          waitpid(kdc_pid_, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      kdc_pid_ = -1;
    }
    if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
      dir_.clear();
    }
  }

 protected:
  void SetUp() override {
    if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
    ASSERT_TRUE(setup_error_.empty()) << setup_error_;
    setenv("KRB5CCNAME", ccache_.c_str(), 1);
    ASSERT_EQ(KerberosInit(nullptr, Messages::Collect, nullptr, &messages_), 1)
        << messages_.All();
    messages_.texts.clear();
  }
  void TearDown() override {
    if (skip_reason_.empty() && setup_error_.empty()) KerberosFini();
  }

  static std::string Principal(const char* name) { return std::string(name) + "@" + kRealm; }

  Messages messages_;
  static std::string ccache_;

 private:
  static std::string MakeRealm(const std::string& kdc, const std::string& util,
                               const std::string& kadmin, const std::string& kinit) {
    char templ[] = "/tmp/vq-krb5-XXXXXX";
    if (mkdtemp(templ) == nullptr) return "cannot make a temporary directory";
    dir_ = templ;
    const int port = FreePort();
    if (port < 0) return "no free loopback port";
    const std::string d = dir_.string();
    const std::string p = std::to_string(port);
    WriteFile(dir_ / "krb5.conf",
              "[libdefaults]\n default_realm = " + std::string(kRealm) +
                  "\n dns_lookup_kdc = false\n dns_lookup_realm = false\n rdns = false\n"
                  " dns_canonicalize_hostname = false\n udp_preference_limit = 1\n"
                  "[realms]\n " +
                  kRealm + " = {\n  kdc = 127.0.0.1:" + p + "\n }\n");
    WriteFile(dir_ / "kdc.conf",
              "[kdcdefaults]\n kdc_ports = " + p + "\n kdc_tcp_ports = " + p + "\n[realms]\n " +
                  kRealm + " = {\n  database_name = " + d +
                  "/principal\n  key_stash_file = " + d + "/stash\n  acl_file = " + d +
                  "/kadm5.acl\n  kdc_listen = 127.0.0.1:" + p +
                  "\n  kdc_tcp_listen = 127.0.0.1:" + p +
                  "\n  master_key_type = aes256-cts-hmac-sha1-96\n"
                  "  supported_enctypes = aes256-cts-hmac-sha1-96:normal\n }\n"
                  "[logging]\n kdc = FILE:" +
                  d + "/kdc.log\n");
    // Every Kerberos program and the library in this process read these.
    setenv("KRB5_CONFIG", (d + "/krb5.conf").c_str(), 1);
    setenv("KRB5_KDC_PROFILE", (d + "/kdc.conf").c_str(), 1);
    setenv("KRB5_KTNAME", ("FILE:" + d + "/service.keytab").c_str(), 1);
    setenv("KRB5RCACHENAME", "none:", 1);
    ccache_ = "FILE:" + d + "/ccache";
    setenv("KRB5CCNAME", ccache_.c_str(), 1);

    std::string out;
    if (RunProgram({util, "create", "-s", "-r", kRealm, "-P", "master-pw", "-W"}, &out) != 0) {
      return "kdb5_util create failed: " + out;
    }
    const std::vector<std::string> queries = {
        "addprinc -randkey " + Principal(kClient),
        "addprinc -randkey " + Principal(kService),
        "ktadd -k " + d + "/service.keytab " + Principal(kService),
        "ktadd -k " + d + "/client.keytab " + Principal(kClient),
    };
    for (const auto& q : queries) {
      out.clear();
      if (RunProgram({kadmin, "-r", kRealm, "-q", q}, &out) != 0)
        return "kadmin.local failed: " + out;
    }

    kdc_pid_ = fork();
    if (kdc_pid_ < 0) return "fork failed";
    if (kdc_pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test
      const int log = open((d + "/krb5kdc.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (log >= 0) {
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
      }
      execl(kdc.c_str(), kdc.c_str(), "-n", "-r", kRealm, static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!TcpAccepts(port)) {
      int status = 0;
      if (waitpid(kdc_pid_, &status, WNOHANG) == kdc_pid_) {
        kdc_pid_ = -1;
        return "krb5kdc ended at start-up; see its log in " + d;
      }
      if (Clock::now() > deadline) return "krb5kdc did not start listening in time";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    out.clear();
    if (RunProgram({kinit, "-k", "-t", d + "/client.keytab", Principal(kClient)}, &out) != 0) {
      return "kinit failed: " + out;
    }
    return "";
  }

  static inline fs::path dir_;
  static inline pid_t kdc_pid_ = -1;
  static inline std::string skip_reason_;
  static inline std::string setup_error_;
};

std::string KdcRealm::ccache_;

std::string Bytes(const void* data, std::size_t length) {
  return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), length);
}

TEST(KerberosSystemLibrary, LoadsByTheDefaultAndTheVersionedName) {
  struct Case {
    const char* library;
    const char* loaded;  // start of the name the message reports
  };
  const Case cases[] = {{nullptr, "libgssapi_krb5.so"},
                        {"", "libgssapi_krb5.so"},
                        {"libgssapi_krb5.so.2", "libgssapi_krb5.so.2"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.loaded);
    Messages messages;
    ASSERT_EQ(KerberosInit(c.library, Messages::Collect, nullptr, &messages), 1)
        << messages.All();
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0].rfind(std::string("[14992] GSS-API library ") + c.loaded, 0),
              0u)
        << messages.texts[0];
    KerberosFini();
  }
}

TEST_F(KdcRealm, ClientTokenIsAcceptedAndTheServerIsVerified) {
  KerberosServerCred* cred = KerberosInitServerCred(nullptr, &messages_, kService, kRealm);
  ASSERT_NE(cred, nullptr) << messages_.All();
  EXPECT_STREQ(KerberosServerGetPrincipal(cred), Principal(kService).c_str());

  KerberosClientState* client =
      KerberosClientGetAuthBlock(nullptr, &messages_, Principal(kService).c_str());
  ASSERT_NE(client, nullptr) << messages_.All();
  ASSERT_GT(client->token_length, 0u);

  KerberosServerConnState* server =
      KerberosServerAuthClient(cred, nullptr, client->token, client->token_length);
  ASSERT_NE(server, nullptr) << messages_.All();
  EXPECT_EQ(server->continue_needed, 0);
  EXPECT_STREQ(server->principal, Principal(kClient).c_str());
  ASSERT_GT(server->reply_length, 0u) << "mutual authentication answers with a token";

  ASSERT_EQ(KerberosClientVerifyServerAuthBlock(client, server->reply, server->reply_length), 1)
      << messages_.All();
  EXPECT_EQ(client->token_length, 0u);
  EXPECT_EQ(client->continue_needed, 0);

  // A server reply that was tampered with does not verify.
  KerberosClientState* second =
      KerberosClientGetAuthBlock(nullptr, &messages_, Principal(kService).c_str());
  ASSERT_NE(second, nullptr);
  KerberosServerConnState* other =
      KerberosServerAuthClient(cred, nullptr, second->token, second->token_length);
  ASSERT_NE(other, nullptr) << messages_.All();
  std::string bad = Bytes(other->reply, other->reply_length);
  bad[bad.size() / 2] ^= 0x5a;
  EXPECT_EQ(KerberosClientVerifyServerAuthBlock(second, bad.data(), bad.size()), 0);
  EXPECT_NE(messages_.All().find("[14994] Kerberos error in gss_init_sec_context (2): "),
            std::string::npos)
      << messages_.All();

  KerberosFiniServerConnState(other);
  KerberosFiniClientState(second);
  KerberosFiniServerConnState(server);
  KerberosFiniClientState(client);
  KerberosFiniServerCred(cred);
}

// The library's own acceptor, called directly, takes the client's token and its reply
// completes the client's context.
TEST_F(KdcRealm, TheLibraryItselfAcceptsTheClientToken) {
  KerberosClientState* client =
      KerberosClientGetAuthBlock(nullptr, &messages_, Principal(kService).c_str());
  ASSERT_NE(client, nullptr) << messages_.All();

  OM_uint32 minor = 0;
  gss_ctx_id_t context = GSS_C_NO_CONTEXT;
  gss_buffer_desc input{client->token_length, client->token};
  gss_buffer_desc output{0, nullptr};
  gss_name_t source = GSS_C_NO_NAME;
  OM_uint32 flags = 0;
  const OM_uint32 major = gss_accept_sec_context(&minor, &context, GSS_C_NO_CREDENTIAL, &input,
                                                 GSS_C_NO_CHANNEL_BINDINGS, &source, nullptr,
                                                 &output, &flags, nullptr, nullptr);
  ASSERT_EQ(major, static_cast<OM_uint32>(GSS_S_COMPLETE)) << "minor " << minor;
  EXPECT_TRUE(flags & GSS_C_MUTUAL_FLAG);
  EXPECT_TRUE(flags & GSS_C_REPLAY_FLAG);
  gss_buffer_desc shown{0, nullptr};
  ASSERT_EQ(gss_display_name(&minor, source, &shown, nullptr),
            static_cast<OM_uint32>(GSS_S_COMPLETE));
  EXPECT_EQ(Bytes(shown.value, shown.length), Principal(kClient));

  EXPECT_EQ(KerberosClientVerifyServerAuthBlock(client, output.value, output.length), 1)
      << messages_.All();
  EXPECT_EQ(client->continue_needed, 0);

  gss_release_buffer(&minor, &shown);
  gss_release_buffer(&minor, &output);
  gss_release_name(&minor, &source);
  gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
  KerberosFiniClientState(client);
}

TEST_F(KdcRealm, FailuresAreReportedWithTheLibrarysText) {
  struct Case {
    const char* name;
    std::string principal;
    bool empty_cache;
    const char* where;
    const char* detail;  // part of the mechanism's own text, as the KDC or cache told it
  };
  const Case cases[] = {
      {"unknown service", Principal("nosuch/service"), false, "gss_init_sec_context (1)",
       "not found in Kerberos database"},
      {"no credentials", Principal(kService), true, "gss_init_sec_context (1)",
       "No Kerberos credentials available"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages_.texts.clear();
    if (c.empty_cache) setenv("KRB5CCNAME", (ccache_ + ".empty").c_str(), 1);
    EXPECT_EQ(KerberosClientGetAuthBlock(nullptr, &messages_, c.principal.c_str()), nullptr);
    setenv("KRB5CCNAME", ccache_.c_str(), 1);
    ASSERT_FALSE(messages_.texts.empty());
    EXPECT_NE(messages_.All().find(c.detail), std::string::npos) << messages_.All();
    for (const auto& text : messages_.texts) {
      EXPECT_EQ(text.rfind(std::string("[14994] Kerberos error in ") + c.where + ": ", 0), 0u)
          << text;
    }
  }

  // The acceptor refuses bytes that are no token.
  KerberosServerCred* cred = KerberosInitServerCred(nullptr, &messages_, kService, kRealm);
  ASSERT_NE(cred, nullptr) << messages_.All();
  messages_.texts.clear();
  const char junk[] = "\x60\x10 not a real token at all";
  EXPECT_EQ(KerberosServerAuthClient(cred, nullptr, junk, sizeof junk), nullptr);
  EXPECT_NE(messages_.All().find("[14994] Kerberos error in gss_accept_sec_context: "),
            std::string::npos)
      << messages_.All();
  KerberosFiniServerCred(cred);

  // A service the keytab has no key for gets no accepting credential.
  messages_.texts.clear();
  EXPECT_EQ(KerberosInitServerCred(nullptr, &messages_, "other/localhost", kRealm), nullptr);
  EXPECT_NE(messages_.All().find("[14994] Kerberos error in gss_acquire_cred: "),
            std::string::npos)
      << messages_.All();
}

}  // namespace

// The stream library end to end against the stand-in server vqeng12 over shared memory,
// driven as the client drives it: StrmInit, an environment with a control thread,
// StrmConnect, the app-connect exchange, a database connect and statements as items
// with sync points, an attention, StrmDisconnect, and then nothing left: no connection,
// no environment, no thread of the library. Each row is one combination of compression
// and encryption level; the TLS levels run over TCP/IP with the server given a
// throwaway certificate.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../shm/shm_test_support.h"
#include "../stream_test_host.h"
#include "config/conn_parms.h"
#include "config/encrypt_level.h"
#include "scoped_environment.h"
#include "vqeng_process.h"
#include "script_client.h"
#include "streams/stream_api.h"
#include "streams/shm/shm_port.h"
#include "streams/stream_env.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr char kServer[] = "strmsrv";

#ifdef VQ_TLS_CERT_DIR
std::string Cert(const std::string& file) { return std::string(VQ_TLS_CERT_DIR) + "/" + file; }
#endif

// vqeng12 serving shared memory under the test's VCTMP and TCP/IP on a loopback port.
class ServerProcess : public vq_test::VqengProcess {
 public:
  // identity: the base name of the server's certificate and key (".crt", ".key"), or
  // null for a server without TLS.
  bool Start(const char* identity = nullptr) {
    std::vector<std::string> extra;
#ifdef VQ_TLS_CERT_DIR
    if (identity != nullptr) {
      extra.push_back("--tls-cert=" + Cert(std::string(identity) + ".crt"));
      extra.push_back("--tls-key=" + Cert(std::string(identity) + ".key"));
    }
#else
    (void)identity;
#endif
    return VqengProcess::Start(VQENG12_PATH, kServer, extra);
  }
};

// The client's connection notifier: a shared-memory connection receives on the thread
// that waits, so a wake-up runs the link's work before the wait returns.
class ClientConnNotifier : public vq::testing::TestConnNotifier {
 public:
  bool block(std::uint32_t seconds) override {
    const bool woken = TestConnNotifier::block(seconds);
    if (woken && event_driven_ && sconn() != nullptr) StrmConnExecute(sconn());
    return woken;
  }
  void* get_event() override {
    void* event = TestConnNotifier::get_event();
    event_driven_ = event != nullptr;
    return event;
  }

 private:
  std::atomic<bool> event_driven_{false};
};

class ClientEnvNotifier : public vq::testing::TestEnvNotifier {
 public:
  c_strm_conn_notifier* create_conn_note(void*, char* error, unsigned int error_size,
                                         unsigned int) override {
    auto* note = new ClientConnNotifier;
    if (!note->usable()) {
      delete note;
      std::snprintf(error, error_size, "%s", "no semaphore");
      return nullptr;
    }
    return note;
  }
};

// The host's control thread: the library's periodic work about every 50 ms.
class ControlThread {
 public:
  explicit ControlThread(a_strm_env env)
      : thread_([this, env] {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!stop_) {
            lock.unlock();
            StrmExecute(env);
            lock.lock();
            wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stop_; });
          }
        }) {}
  ~ControlThread() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

struct Row {
  const char* name;
  bool compress;
  const char* level;
  bool tcp;  // over TCP/IP to the loopback port; shared memory otherwise
  // TLS levels: the client's parameters and trusted authority, the server's identity.
  const char* tls_parms = nullptr;
  const char* trust = nullptr;
  const char* identity = nullptr;
};

class StreamEndToEnd : public testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    ASSERT_NE(0, file_.Open(VQ_TEST_RES_DIR "/vqlgen12.res"));
    UTResFile* files[] = {&file_};
    catalog_.SetResFiles(files, 1);
    catalog_.set_client_charset(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
    catalog_.reset();
  }

  // One request of items closed by a sync point; the reply's items up to its end.
  std::vector<script::ReplyItem> Request(a_strm_conn conn, const std::vector<std::pair<std::uint8_t, std::string>>& items) {
    for (const auto& it : items) {
      EXPECT_EQ(SQLPresSendBytes(conn, it.first, it.second.data(),
                                 static_cast<std::uint32_t>(it.second.size()), 0),
                SQLPRES_OK);
    }
    EXPECT_EQ(SQLPresSyncPoint(conn, 0, 0), SQLPRES_OK);
    return Reply(conn);
  }
  std::vector<script::ReplyItem> Reply(a_strm_conn conn) {
    std::vector<script::ReplyItem> out;
    for (int guard = 0; guard < 1000; ++guard) {
      std::uint8_t item = 0, length = 0;
      const std::uint8_t* payload = nullptr;
      const a_sqlpres_code rc = SQLPresReceive(conn, &item, &length, &payload);
      if (rc != SQLPRES_OK) {
        ADD_FAILURE() << "receive " << rc;
        break;
      }
      script::ReplyItem r{item, length, {}};
      if (payload != nullptr) r.payload.assign(reinterpret_cast<const char*>(payload), length);
      out.push_back(r);
      a_sqlpres_code code = 0;
      if (SQLPresIsSyncPoint(conn, &code) != 0) break;
    }
    return out;
  }

  UTLocale locale_;
  UTVCResFile file_;
  UTLangStringBase catalog_{&locale_};
};

TEST_P(StreamEndToEnd, ConnectExchangeItemsAttentionAndDisconnect) {
  const Row& row = GetParam();
  // A sanitizer's runtime starts a thread of its own with the first thread: let it. A
  // joined thread can still be listed for a moment after join() returns: it is counted
  // once it has left the list.
  pid_t joined = 0;
  std::thread([&joined] { joined = gettid(); }).join();
  const std::string joined_entry = "/proc/self/task/" + std::to_string(joined);
  const auto listed_until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (access(joined_entry.c_str(), F_OK) == 0 && std::chrono::steady_clock::now() < listed_until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int threads_before = ThreadCount();
  vq::shm::test::ScopedShmRoot root;
  // The client's crypto modules are the build's.
  vq::testing::ScopedEnvironment env_vars{{"VCDIR"}};
#ifdef VQ_TEST_LIB_DIR
  if (row.identity != nullptr) env_vars.Set("VCDIR", VQ_TEST_LIB_DIR);
#endif
  ServerProcess server;
  ASSERT_TRUE(server.Start(row.identity));
  ASSERT_EQ(StrmInit(), 0);
  struct Stop {
    ~Stop() {
      while (StrmInitCount() > 0) StrmFini();
    }
  } stop_on_failure;
  {
    ClientEnvNotifier env_note;
    const a_strm_func_list table = vq::testing::RecordingFuncList();
    a_strm_env env = nullptr;
    ASSERT_EQ(StrmAllocEnv(&env, &env_note, 7300, &table, 0, &catalog_, &locale_), STRM_API_OK);
    {
      ControlThread control(env);
      Shmem_SetClientUniquePid(static_cast<std::uint32_t>(getpid()));
      c_conn_parms parms;
      const std::string text = row.tcp ? "Host=127.0.0.1:" + std::to_string(server.port())
                                       : std::string("ServerName=") + kServer;
      ASSERT_TRUE(!row.tcp || server.port() > 0);
      ASSERT_EQ(parms.init(text.c_str(), false), 0);
      vq::testing::TestHostCtx host;
      host.debug = false;
      a_strm_conn conn = nullptr;
      char err[256] = "";
      ASSERT_EQ(StrmConnect(&parms, env, 0, &conn, err, sizeof err, nullptr,
                            vq::testing::AsHostCtx(&host)),
                STRM_API_OK)
          << err;
      EXPECT_EQ(StrmGetPortType(conn), row.tcp ? STRM_PORT_TCPIP : STRM_PORT_SHARED_MEMORY);

      an_app_connect_pkt request;
      std::memset(&request, 0, sizeof request);
      set_app_connect_u16(request.size, kAppConnectPktBytes);
      request.major = kAppConnectMajor;
      request.db_version = 12;
      set_app_connect_u16(request.minor, kAppConnectMinor);
      set_app_connect_u16(request.max_packet, 7300);
      request.options[0] = static_cast<std::uint8_t>(0x02 | (row.compress ? kAppConnectCompression : 0));
      request.options[1] = 0x03;
      set_app_connect_u16(request.build, kAppConnectBuild);
      std::memcpy(request.charset, "UTF-8", 5);
      std::memcpy(request.language, "en", 2);
      std::memcpy(request.nchar_charset, "UTF-8", 5);
      std::string tls_parms;
#ifdef VQ_TLS_CERT_DIR
      if (row.tls_parms != nullptr)
        tls_parms = std::string(row.tls_parms) + ";trusted_certificates=" + Cert(row.trust);
#endif
      c_encrypt_level level(row.level, row.tls_parms != nullptr ? tls_parms.c_str() : nullptr);
      an_app_connect_pkt reply;
      ASSERT_EQ(ApplicationConnect(conn, &request, &level, &reply, err, sizeof err, 20), APPCONN_OK)
          << err;
      EXPECT_EQ(StrmGetEncryption(conn), level.level);
      if (row.identity != nullptr) {
        EXPECT_GE(level.level, 2u) << "a TLS level is agreed";
      }
      EXPECT_EQ((reply.options[0] & kAppConnectCompression) != 0, row.compress);
      std::uint8_t random[32];
      ASSERT_EQ(StrmGetEngineRandomData(conn, random, sizeof random), 32u);

      const auto connected =
          Request(conn, {{16, "UID=DBA;CON=strm"},
                         {133, script::u32le(0)},
                         {20, script::encipher("PWD=sql", random)}});
      ASSERT_FALSE(connected.empty());
      EXPECT_EQ(connected[0].code, 133);
      SQLPresSetConnectedToDB(conn);

      const auto created = Request(conn, {{25, "CREATE TABLE over_strm(v INTEGER)"}});
      ASSERT_GE(created.size(), 3u);
      EXPECT_EQ(created[2].code, 66);
      // A statement with a long text (pieces over several packets, compressed or not).
      std::string insert = "INSERT INTO over_strm VALUES (1)";
      insert += std::string(9000, ' ');
      const auto inserted = Request(conn, {{25, insert}});
      ASSERT_GE(inserted.size(), 3u);
      EXPECT_EQ(inserted[2].code, 66);

      // An attention after a request: the server acknowledges it and the reply goes.
      EXPECT_EQ(SQLPresSendBytes(conn, 25, "SELECT v FROM over_strm", 23, 0), SQLPRES_OK);
      EXPECT_EQ(SQLPresSyncPoint(conn, 0, 0), SQLPRES_OK);
      EXPECT_EQ(SQLPresCancel(conn), SQLPRES_OK);
      const a_sqlpres_code resync = SQLPresReSync(conn, 0);
      EXPECT_TRUE(resync == SQLPRES_CANCELLED || resync == SQLPRES_OK) << resync;
      // The connection carries requests after it.
      const auto again = Request(conn, {{25, "CREATE TABLE after_attention(v INTEGER)"}});
      ASSERT_GE(again.size(), 3u);
      EXPECT_EQ(again[2].code, 66);

      SQLPresSetNormalDisconnect(conn);
      EXPECT_EQ(StrmDisconnect(conn), 1);
    }
    EXPECT_EQ(StrmFreeEnv(env, 0), 0);
    EXPECT_EQ(vq::strm::LiveEnvironments(), 0);
  }
  EXPECT_EQ(StrmFini(), 0);
  EXPECT_EQ(StrmInitCount(), 0);
  EXPECT_EQ(ThreadCount(), threads_before) << "no thread of the library is left";
}

const Row kRows[] = {
    {"shm_plain", false, "none", false},
    {"shm_compressed", true, "none", false},
    {"shm_simple", false, "simple", false},
    {"shm_compressed_simple", true, "simple", false},
#if __has_include("net/tcp_port.h")
    // The TCP/IP link is built in: the same over loopback, and TLS at the RSA and ECC
    // levels (the server with a certificate under the authority the client trusts).
    {"tcp_plain", false, "none", true},
    {"tcp_compressed", true, "none", true},
    {"tcp_simple", false, "simple", true},
    {"tcp_compressed_simple", true, "simple", true},
#ifdef VQ_TLS_CERT_DIR
    {"tcp_tls_rsa", false, "tls", true, "tls_type=rsa", "rsa_ca.pem", "rsa_server"},
    {"tcp_tls_ecc", true, "tls", true, "tls_type=ecc", "ec_ca.pem", "ec_server"},
#endif
#endif
};

INSTANTIATE_TEST_SUITE_P(Links, StreamEndToEnd, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace

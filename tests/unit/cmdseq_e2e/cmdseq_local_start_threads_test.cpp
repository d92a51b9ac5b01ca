// The local server start and the database control operations end to end: a connect that
// finds no server starts vqeng12 (by its StartLine, or by the default program name on
// the search path or through the file search), connects to it over shared memory and
// runs statements; the started server holds none of the client's descriptors; a start
// that fails or a server that is still starting; the server a failed connect started
// is shut down again and an auto-stop server goes with its last connection; finding a
// server, starting and stopping its database and shutting it down.
//
// Servers a client starts listen where VQENG12_SWITCHES says (shared memory under the
// test's VCTMP, TCP/IP on a free loopback port) and are ended by process id when a test
// ends.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "config/option_tables.h"
#include "e2e_session.h"
#include "scoped_environment.h"

namespace {

using vq_e2e::Client;
using vq_e2e::StartedServers;

// A server name of this process, unique per call (shared-memory names are short).
std::string UniqueName(const char* tag) {
  static int next = 0;
  return std::string(tag) + std::to_string(getpid() % 100000) + "x" + std::to_string(++next);
}

std::string Directory(const std::string& path) { return path.substr(0, path.rfind('/')); }

// What a descriptor of a process refers to ("pipe:[123]", a path, ...).
std::string Target(const std::string& link) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

// A fresh VCTMP, and the switches every server a client starts here takes from the
// environment: shared memory under that VCTMP, TCP/IP on a free port, a request log.
class LocalStart : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(vctmp_.path().empty());
    vars_.Set("VQENG12_SWITCHES", "-shm -x tcpip(port=0) -rl " + log_.path());
  }
  // The request log of the servers started here (all of one test write to it).
  const vq_e2e::RequestLog& Log() const { return log_; }

  vq_e2e::TempVctmp vctmp_;
  vq::testing::ScopedEnvironment vars_;
  vq_e2e::RequestLog log_{vctmp_.path() + "/requests.log"};
};

// The StartLine names the server program; the started server serves the connect and its
// statements, is not our child, holds no descriptor of ours (not even those we left
// open across exec) and, started to stop by itself, goes with the last connection.
TEST_F(LocalStart, StartLineStartsAServerThatKeepsNoneOfOurDescriptors) {
  int leak[2];
  ASSERT_EQ(pipe(leak), 0);  // deliberately not close-on-exec
  const std::string leak_file = vctmp_.path() + "/leaked";
  const int leak_fd = open(leak_file.c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(leak_fd, 0);

  // Nor our signal state: this thread blocks SIGUSR2 and the process ignores SIGHUP
  // while the connect starts the server.
  sigset_t usr2, old_mask;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &usr2, &old_mask), 0);
  struct sigaction ignore {}, old_hup {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGHUP, &ignore, &old_hup), 0);

  const std::string name = UniqueName("ls");
  StartedServers servers(name);
  Client client;
  ASSERT_TRUE(client.ok());
  client.AllowStarts();
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  const a_cmdseq_return started = client.Connect(
      "UID=dba;PWD=sql;ServerName=" + name + ";StartLine='" + std::string(VQENG12_PATH) + "'",
      &conn, &sqlcode);
  sigaction(SIGHUP, &old_hup, nullptr);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  ASSERT_EQ(started, CMDSEQ_OK) << sqlcode;
  ASSERT_NE(conn, nullptr);
  EXPECT_TRUE(client.StartedServer());
  EXPECT_EQ(client.Exec(conn, "CREATE TABLE started(a INTEGER)", &sqlcode), CMDSEQ_OK) << sqlcode;
  EXPECT_EQ(client.Exec(conn, "INSERT INTO started VALUES (1)", &sqlcode), CMDSEQ_OK) << sqlcode;

  const std::vector<pid_t> pids = servers.Pids();
  ASSERT_EQ(pids.size(), 1u);
  const pid_t pid = pids[0];
  {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    ASSERT_NE(close, std::string::npos);
    int ppid = 0;
    std::sscanf(line.c_str() + close + 2, "%*c %d", &ppid);
    EXPECT_NE(ppid, getpid());  // the grandchild: not ours to wait for
  }
  // The server holds nothing of ours: its standard streams are /dev/null, and neither
  // our pipe nor our file reaches it.
  const std::string ours[] = {Target("/proc/self/fd/" + std::to_string(leak[0])),
                              Target("/proc/self/fd/" + std::to_string(leak[1])),
                              Target("/proc/self/fd/" + std::to_string(leak_fd))};
  const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code ec;
  int seen = 0;
  for (const auto& e : std::filesystem::directory_iterator(fd_dir, ec)) {
    const std::string fd = e.path().filename().string();
    const std::string target = Target(e.path().string());
    SCOPED_TRACE("descriptor " + fd + " -> " + target);
    ++seen;
    if (fd == "0" || fd == "1" || fd == "2") {
      EXPECT_EQ(target, "/dev/null");
    }
    for (const std::string& mine : ours) EXPECT_NE(target, mine);
  }
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_GE(seen, 3);
  {
    // Signal sets in /proc/<pid>/status are hexadecimal masks, bit n-1 for signal n.
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    unsigned long long blocked = ~0ull, ignored = ~0ull;
    while (std::getline(status, line)) {
      if (line.rfind("SigBlk:", 0) == 0) blocked = std::stoull(line.substr(7), nullptr, 16);
      if (line.rfind("SigIgn:", 0) == 0) ignored = std::stoull(line.substr(7), nullptr, 16);
    }
    EXPECT_EQ(blocked & (1ull << (SIGUSR2 - 1)), 0u) << std::hex << blocked;
    EXPECT_EQ(ignored & (1ull << (SIGHUP - 1)), 0u) << std::hex << ignored;
  }

  // AutoStop is on by default: the server was started with -ga and stops once the last
  // connection has gone.
  const std::vector<std::string> args = StartedServers::Args(pid);
  EXPECT_NE(std::find(args.begin(), args.end(), "-ga"), args.end());
  EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
  EXPECT_TRUE(servers.WaitGone(15000));
  close(leak[0]);
  close(leak[1]);
  close(leak_fd);
}

// Without AutoStop the server stays when its last connection goes.
TEST_F(LocalStart, WithoutAutoStopTheServerStays) {
  const std::string name = UniqueName("lk");
  StartedServers servers(name);
  Client client;
  ASSERT_TRUE(client.ok());
  client.AllowStarts();
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  ASSERT_EQ(client.Connect("UID=dba;PWD=sql;AutoStop=no;ServerName=" + name + ";StartLine='" +
                               std::string(VQENG12_PATH) + "'",
                           &conn, &sqlcode),
            CMDSEQ_OK)
      << sqlcode;
  ASSERT_EQ(servers.Pids().size(), 1u);
  const std::vector<std::string> args = StartedServers::Args(servers.Pids()[0]);
  EXPECT_EQ(std::find(args.begin(), args.end(), "-ga"), args.end());
  EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
  // The auto-stop check runs every second; a server started with -ga would be gone.
  EXPECT_FALSE(servers.WaitGone(3000));

  // A second connect finds the running server and starts none.
  ASSERT_EQ(client.Connect("UID=dba;PWD=sql;ServerName=" + name + ";StartLine='" +
                               std::string(VQENG12_PATH) + "'",
                           &conn, &sqlcode),
            CMDSEQ_OK)
      << sqlcode;
  EXPECT_FALSE(client.StartedServer());
  EXPECT_EQ(servers.Pids().size(), 1u);
  EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
}

// Without a StartLine the server program goes by its default name: found on the search
// path as it stands, else by the product's file search (with its full path). The
// command line carries the switches, the names and the database file in their order.
TEST_F(LocalStart, DefaultProgramFromThePathOrTheFileSearch) {
  struct Case {
    const char* name;
    std::string path;     // PATH for the start
    bool full_path_head;  // the server runs under its full path
  };
  const Case cases[] = {
      {"on the search path", Directory(VQENG12_PATH), false},
      {"by the file search", vctmp_.path() + "/no-programs-here", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vq::testing::ScopedEnvironment path;
    path.Set("PATH", c.path);
    path.Set("LD_LIBRARY_PATH", Directory(VQENG12_PATH));
    const std::string name = UniqueName("ld");
    const std::string dbf = vctmp_.path() + "/" + name + ".db";
    StartedServers servers(name);
    Client client;
    ASSERT_TRUE(client.ok());
    client.AllowStarts();
    a_cmdseq_conn* conn = nullptr;
    int sqlcode = 0;
    ASSERT_EQ(client.Connect("UID=dba;PWD=sql;ServerName=" + name + ";DBF=" + dbf, &conn,
                             &sqlcode),
              CMDSEQ_OK)
        << sqlcode;
    EXPECT_TRUE(client.StartedServer());
    EXPECT_EQ(client.Exec(conn, "CREATE TABLE t(a INTEGER)", &sqlcode), CMDSEQ_OK) << sqlcode;
    ASSERT_EQ(servers.Pids().size(), 1u);
    std::vector<std::string> args = StartedServers::Args(servers.Pids()[0]);
    ASSERT_GE(args.size(), 8u);
    if (c.full_path_head) {
      EXPECT_EQ(std::filesystem::weakly_canonical(args[0]),
                std::filesystem::weakly_canonical(VQENG12_PATH));
    } else {
      EXPECT_EQ(args[0], "vqeng12");
    }
    const std::string hn = args.back();
    args.erase(args.begin());
    EXPECT_EQ(args, (std::vector<std::string>{"-ha", "-ga", "-n", name, dbf, "-hn", hn}));
    EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
    EXPECT_TRUE(servers.WaitGone(15000));
    struct stat st {};
    EXPECT_EQ(stat(dbf.c_str(), &st), 0);  // the server made its database file
  }
}

// A start that fails ends the connect at once with the start's error: a program that
// exits before it reports, and a server that cannot open its database.
TEST_F(LocalStart, FailedStartsEndTheConnectPromptly) {
  const std::string script = vctmp_.path() + "/exits-at-once";
  {
    std::ofstream out(script);
    out << "#!/bin/sh\nexit 1\n";
  }
  ASSERT_EQ(chmod(script.c_str(), 0700), 0);
  struct Case {
    const char* name;
    std::string start_line;
    std::string extra;
    int sqlcode;
  };
  const Case cases[] = {
      {"exits before its status", script, "", -80},
      {"database cannot be opened", VQENG12_PATH, ";DBF=/nonexistent-dir/x.db", -83},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = UniqueName("lf");
    StartedServers servers(name);
    Client client;
    ASSERT_TRUE(client.ok());
    client.AllowStarts();
    a_cmdseq_conn* conn = nullptr;
    int sqlcode = 0;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Connect("UID=dba;PWD=sql;ServerName=" + name + ";StartLine='" +
                                 c.start_line + "'" + c.extra,
                             &conn, &sqlcode),
              CMDSEQ_COMM_FAILURE);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
    EXPECT_EQ(sqlcode, c.sqlcode);
    EXPECT_EQ(conn, nullptr);
    EXPECT_FALSE(client.StartedServer());
    EXPECT_TRUE(servers.WaitGone(5000));
  }
}

// A server that is still starting answers -77; the connect asks again after pauses that
// grow, and gets in once the server is ready. Back to back the ten tries would all land
// inside the start.
std::mutex g_pauses_mutex;
std::vector<unsigned> g_pauses;

void RecordedSleep(unsigned ms) {
  {
    std::lock_guard<std::mutex> hold(g_pauses_mutex);
    g_pauses.push_back(ms);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST_F(LocalStart, StillStartingIsAskedAgainAfterGrowingPauses) {
  // The server refuses for 1200 ms from its own start, so the time is counted from
  // before the start: on a busy machine the client may begin well into that window.
  const auto t0 = std::chrono::steady_clock::now();
  vq_e2e::Server server(UniqueName("lw"));
  ASSERT_TRUE(server.Start({"--starting=1200", "-rl", log_.path()}));
  Client client;
  ASSERT_TRUE(client.ok());
  g_pauses.clear();
  i_cs_SetConnectSleep(RecordedSleep);
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  const a_cmdseq_return r =
      client.Connect("UID=dba;PWD=sql;" + server.Links(vq_e2e::Link::kSharedMemory), &conn,
                     &sqlcode);
  const auto took = std::chrono::steady_clock::now() - t0;
  i_cs_SetConnectSleep(nullptr);
  ASSERT_EQ(r, CMDSEQ_OK) << sqlcode;
  EXPECT_GE(took, std::chrono::milliseconds(1100));
  const int refused = Log().Count("connect refused -77");
  EXPECT_GE(refused, 1);
  EXPECT_LT(refused, 10);
  std::vector<unsigned> pauses;
  {
    std::lock_guard<std::mutex> hold(g_pauses_mutex);
    pauses = g_pauses;
  }
  ASSERT_EQ(pauses.size(), static_cast<std::size_t>(refused));
  for (std::size_t i = 0; i < pauses.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_GE(pauses[i], 100u);
    if (i > 0) {
      EXPECT_GE(pauses[i], pauses[i - 1]);
    }
  }
  if (pauses.size() >= 2) {
    EXPECT_GT(pauses.back(), pauses.front());
  }
  EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
}

// A server this connect started that is still starting is asked again, not shut down
// and started once more: the connect gets in to the one server it started.
TEST_F(LocalStart, AServerStartedByTheConnectIsWaitedForWhileItStarts) {
  const std::string name = UniqueName("ly");
  StartedServers servers(name);
  Client client;
  ASSERT_TRUE(client.ok());
  client.AllowStarts();
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  ASSERT_EQ(client.Connect("UID=dba;PWD=sql;AutoStop=no;ServerName=" + name + ";StartLine='" +
                               std::string(VQENG12_PATH) + " --starting=600'",
                           &conn, &sqlcode),
            CMDSEQ_OK)
      << sqlcode;
  EXPECT_EQ(client.Exec(conn, "SELECT 1", &sqlcode), CMDSEQ_OK) << sqlcode;
  EXPECT_EQ(Log().Count("server " + name + " ready"), 1);  // one server was started
  EXPECT_EQ(Log().Count("shutdown"), 0);
  EXPECT_GE(Log().Count("connect refused -77"), 1);
  EXPECT_EQ(servers.Pids().size(), 1u);
  EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
}

// The server this connect started is shut down again when the database connect fails;
// AutoStop is off, so only that shutdown can stop it.
TEST_F(LocalStart, AServerStartedForARefusedConnectIsShutDown) {
  const std::string name = UniqueName("lr");
  StartedServers servers(name);
  Client client;
  ASSERT_TRUE(client.ok());
  client.AllowStarts();
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  EXPECT_EQ(client.Connect("UID=dba;PWD=wrong;AutoStop=no;ServerName=" + name + ";StartLine='" +
                               std::string(VQENG12_PATH) + "'",
                           &conn, &sqlcode),
            CMDSEQ_ERROR);
  EXPECT_EQ(sqlcode, -103);
  EXPECT_EQ(conn, nullptr);
  EXPECT_TRUE(client.StartedServer());
  EXPECT_TRUE(servers.WaitGone(15000));
  EXPECT_EQ(Log().Count("shutdown 0"), 1);
  EXPECT_EQ(Log().Count("shutdown refused"), 0);
  EXPECT_EQ(Log().Count("server stopped"), 1);
}

// --- Control operations ------------------------------------------------------------------

// A running server with a database file of its own, and a client with an error block.
class Control : public LocalStart {
 protected:
  void SetUp() override {
    LocalStart::SetUp();
    name_ = UniqueName("lc");
    dbf_ = vctmp_.path() + "/" + name_ + "db.db";
    server_ = std::make_unique<vq_e2e::Server>(name_);
    ASSERT_TRUE(server_->Start({dbf_, "-rl", log_.path()}));
    client_ = std::make_unique<Client>();
    ASSERT_TRUE(client_->ok());
    CmdSeqInitErrorParam(client_->env(), &err_, 0);
  }
  void TearDown() override {
    CmdSeqFiniErrorParam(&err_);
    client_.reset();
    server_.reset();
  }
  // A control record over parameters parsed from `text`.
  a_cmdseq_engine_ctl Record(c_conn_parms* parms, const std::string& text) {
    EXPECT_EQ(parms->init(text.c_str(), false), 0);
    a_cmdseq_engine_ctl rec{};
    rec.env = client_->env();
    rec.parms = parms;
    return rec;
  }
  int Code() const { return err_.sqlcode; }
  void Reset() { CmdSeqResetErrorParam(&err_, nullptr); }

  std::string name_, dbf_;
  std::string dbn_() const { return name_ + "db"; }
  std::unique_ptr<vq_e2e::Server> server_;
  std::unique_ptr<Client> client_;
  a_cmdseq_error_info err_;
};

TEST_F(Control, EngineConnectAndFindEngine) {
  // The engine connect alone: a server found, or no server and no error.
  struct Case {
    const char* name;
    std::string server;
    a_cmdseq_return engine;
    a_cmdseq_return find;
    int find_code;
  };
  const Case cases[] = {
      {"the running server", name_, CMDSEQ_OK, CMDSEQ_OK, 0},
      {"no such server", name_ + "no", CMDSEQ_NOT_CONNECTED, CMDSEQ_ERROR, -100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    c_conn_parms parms;
    ASSERT_EQ(parms.init(("ServerName=" + c.server).c_str(), false), 0);
    a_cmdseq_engine_block block{};
    block.env = client_->env();
    block.parms = &parms;
    a_cmdseq_conn* conn = nullptr;
    EXPECT_EQ(CmdSeqEngineConnect(&conn, &err_, &block), c.engine);
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(conn != nullptr, c.engine == CMDSEQ_OK);
    if (conn != nullptr) {
      EXPECT_EQ(CmdSeqConnIsValid(conn), 1);
      (void)CmdSeqDropConnection(conn, &err_);
    }

    Reset();
    a_cmdseq_engine_ctl rec{};
    rec.env = client_->env();
    rec.server_name = c.server.c_str();
    EXPECT_EQ(CmdSeqFindEngine(&err_, &rec), c.find);
    EXPECT_EQ(Code(), c.find_code);
  }
  EXPECT_EQ(Log().Count("find"), 1);
}

// Stopping the database makes connects fail until it is started again; the connect road
// starts it by itself when the connection names the database file and may start one.
TEST_F(Control, StopAndStartTheDatabase) {
  c_conn_parms stop_parms;
  a_cmdseq_engine_ctl stop = Record(&stop_parms, "ServerName=" + name_ + ";DBN=" + dbn_());
  EXPECT_EQ(CmdSeqStopDatabase(nullptr, &err_, &stop), CMDSEQ_OK) << Code();

  const std::string user = "UID=dba;PWD=sql;ServerName=" + name_;
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  EXPECT_EQ(client_->Connect(user + ";DBN=" + dbn_(), &conn, &sqlcode), CMDSEQ_ERROR);
  EXPECT_EQ(sqlcode, -83);  // not running, and this connect may not start it

  Reset();
  c_conn_parms start_parms;
  a_cmdseq_engine_ctl start = Record(&start_parms, "ServerName=" + name_ + ";DBF=" + dbf_);
  EXPECT_EQ(CmdSeqStartDatabase(nullptr, &err_, &start), CMDSEQ_OK) << Code();
  ASSERT_EQ(client_->Connect(user + ";DBN=" + dbn_(), &conn, &sqlcode), CMDSEQ_OK) << sqlcode;
  EXPECT_EQ(client_->Exec(conn, "CREATE TABLE kept(a INTEGER)", &sqlcode), CMDSEQ_OK) << sqlcode;
  const std::uint32_t conn_handle = conn->server_handle;

  // Stopping it on our own connection needs the unconditional flag while another uses it.
  a_cmdseq_conn* other = nullptr;
  ASSERT_EQ(client_->Connect(user, &other, &sqlcode), CMDSEQ_OK) << sqlcode;
  Reset();
  EXPECT_EQ(CmdSeqStopDatabase(conn, &err_, &stop), CMDSEQ_ERROR);
  EXPECT_EQ(Code(), -121);
  Reset();
  stop_parms.setBool(kSlotUnconditional, true);
  EXPECT_EQ(CmdSeqStopDatabase(conn, &err_, &stop), CMDSEQ_OK) << Code();
  EXPECT_EQ(client_->Disconnect(other, &sqlcode), CMDSEQ_OK) << sqlcode;

  // A connect that may start databases does so and gets in.
  client_->AllowStarts();
  a_cmdseq_conn* again = nullptr;
  ASSERT_EQ(client_->Connect(user + ";DBF=" + dbf_, &again, &sqlcode), CMDSEQ_OK) << sqlcode;
  EXPECT_FALSE(client_->StartedServer());
  EXPECT_EQ(client_->Exec(again, "SELECT 1", &sqlcode), CMDSEQ_OK) << sqlcode;
  EXPECT_EQ(client_->Disconnect(again, &sqlcode), CMDSEQ_OK) << sqlcode;
  EXPECT_EQ(client_->Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;

  EXPECT_EQ(Log().Count("stop-database " + dbn_()), 3);
  // Both stops named our connection's server, so they went over that connection.
  const std::string ours = std::to_string(conn_handle) + " stop-database";
  const std::vector<std::string> lines = Log().Lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) { return l.rfind(ours, 0) == 0; }),
            2);
  EXPECT_EQ(Log().Count("start-database"), 2);
  EXPECT_EQ(Log().Count("connect refused -76"), 2);
}

// A tool shuts the server down; afterwards it is not found. CmdSeqStartEngine starts a
// server (the process id comes back) and reports one that runs already.
TEST_F(Control, StopEngineAndStartEngine) {
  c_conn_parms parms;
  a_cmdseq_engine_ctl stop = Record(&parms, "ServerName=" + name_);
  EXPECT_EQ(CmdSeqStopEngine(nullptr, &err_, &stop), CMDSEQ_OK) << Code();
  EXPECT_TRUE(vq_e2e::RequestLog::WaitFor([&] { return Log().Count("server stopped") == 1; },
                                           std::chrono::seconds(15)));
  Reset();
  a_cmdseq_engine_ctl find{};
  find.env = client_->env();
  find.server_name = name_.c_str();
  EXPECT_EQ(CmdSeqFindEngine(&err_, &find), CMDSEQ_ERROR);
  EXPECT_EQ(Code(), -100);

  const std::string started = UniqueName("le");
  StartedServers servers(started);
  c_conn_parms start_parms;
  a_cmdseq_engine_ctl start =
      Record(&start_parms, "ServerName=" + started + ";StartLine='" + VQENG12_PATH + "'");
  Reset();
  ASSERT_EQ(CmdSeqStartEngine(&err_, &start), CMDSEQ_OK) << Code();
  EXPECT_EQ(start.was_running, 0u);
  ASSERT_GT(start.pid, 0);
  EXPECT_EQ(servers.Pids(), (std::vector<pid_t>{start.pid}));
  Reset();
  EXPECT_EQ(CmdSeqStartEngine(&err_, &start), CMDSEQ_ERROR);
  EXPECT_EQ(Code(), -96);
  EXPECT_EQ(start.was_running, 1u);
  EXPECT_EQ(start.pid, 0);
  EXPECT_EQ(servers.Pids().size(), 1u);
}

}  // namespace

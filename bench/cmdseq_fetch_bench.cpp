// Fetch speed end to end: the client reads a million rows of (integer, integer, double,
// short text) from a stored table of vqeng12 (fetch_bench_table.h; created and filled once
// before anything is timed, its fill time reported apart as fill_ms) in blocks through a
// forward-only cursor, with the prefetch in
// flight, over shared memory and over TCP/IP, with the server's default limits (it
// streams the query's rows as they are fetched). Reported per row, side by side: the
// client process's CPU time (all its threads), the server process's CPU time and the
// wall time of the fetch loop, next to the wall and CPU time of a plain loopback TCP
// socket copying the same number of bytes in the same run, the floor no link can beat.
// When client and server work at the same time, the wall time comes close to the larger
// of the two CPU times rather than to their sum. The open is timed apart.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cmdseq/fetch.h"
#include "cmdseq/statement.h"
#include "cmdseq/transaction.h"
#include "e2e_session.h"
#include "fetch_bench_table.h"

namespace {

using vq_e2e::Link;

constexpr std::uint32_t kRows = FETCH_BENCH_ROWS;
constexpr std::uint16_t kBlock = 100;  // rows per fetch call: a result bound for a block
constexpr std::uint32_t kTextBytes = 16;
// Open options of a forward-only, read-only cursor, as the ODBC layer sends them for
// its default cursor.
constexpr std::uint32_t kForwardOnlyReadOnly = CS_OPEN_FORWARD_ONLY | 0x02;

const std::string& Query() {
  static const std::string text = FETCH_BENCH_QUERY;
  return text;
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// The client process's user and system CPU seconds so far, and how often one of its
// threads gave up the processor to wait (voluntary context switches).
void UserSystemSeconds(double* user, double* system, double* waits) {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  *user = static_cast<double>(ru.ru_utime.tv_sec) + ru.ru_utime.tv_usec * 1e-6;
  *system = static_cast<double>(ru.ru_stime.tv_sec) + ru.ru_stime.tv_usec * 1e-6;
  *waits = static_cast<double>(ru.ru_nvcsw);
}

// The CPU seconds (user and system) process `pid` used so far, from /proc; -1 when
// they cannot be read.
double ProcessCpuSecondsOf(pid_t pid) {
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return -1;
  char line[1024];
  const bool got = std::fgets(line, sizeof line, f) != nullptr;
  std::fclose(f);
  if (!got) return -1;
  // Fields after the command name (which ends with the last ')'): state is field 3,
  // utime and stime are fields 14 and 15.
  const char* p = std::strrchr(line, ')');
  if (p == nullptr) return -1;
  unsigned long long utime = 0, stime = 0;
  if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                  &stime) != 2) {
    return -1;
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The peak resident memory of process `pid` so far (VmHWM), in MiB; -1 when unknown.
double PeakResidentMiBOf(pid_t pid) {
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (f == nullptr) return -1;
  char line[256];
  double kib = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::sscanf(line, "VmHWM: %lf kB", &kib) == 1) break;
  }
  std::fclose(f);
  return kib < 0 ? -1 : kib / 1024;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One server (shared memory and TCP/IP) and one started client for the whole run, and
// the table, filled once through a connection kept for the whole run (the server's
// database in memory lives as long as a connection uses it).
struct World {
  vq_e2e::TempVctmp vctmp;
  vq_e2e::Server server{"csbench"};
  vq_e2e::Client client;
  a_cmdseq_conn* keeper = nullptr;
  double fill_s = 0;
  bool ok = false;
  World() {
    ok = server.Start() && client.ok() &&
         client.Connect("UID=dba;PWD=sql;" + server.Links(Link::kSharedMemory), &keeper) ==
             CMDSEQ_OK;
    if (!ok) return;
    const double start = WallSeconds();
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(client.env(), &err, 0);
    std::uint32_t value = 0;
    ok = client.Exec(keeper, FETCH_BENCH_CREATE) == CMDSEQ_OK &&
         client.Exec(keeper, FETCH_BENCH_FILL) == CMDSEQ_OK &&
         CmdSeqCommit(keeper, &err, &value) == CMDSEQ_OK;
    CmdSeqFiniErrorParam(&err);
    fill_s = WallSeconds() - start;
  }
  ~World() {
    if (keeper != nullptr) (void)client.Disconnect(keeper);
  }
};

World& TheWorld() {
  static World world;
  return world;
}

// Bound columns for a block of rows.
struct Block {
  a_cmdseq_desc desc;
  std::int32_t first[kBlock], second[kBlock];
  double third[kBlock];
  char fourth[kBlock][kTextBytes];
  std::int32_t indicators[4][kBlock];
  std::uint32_t lengths[kBlock];

  Block() {
    CmdSeqInitDesc(&desc);
    if (CmdSeqAllocDescItems(&desc, 4, kBlock) != CMDSEQ_OK) return;
    const std::int16_t types[4] = {4, 4, 8, -21};
    const std::uint32_t sizes[4] = {4, 4, 8, kTextBytes};
    a_cmdseq_desc_item* item = desc.items;
    for (int k = 0; k < 4; ++k, item = item->next) {
      item->type = types[k];
      item->length = sizes[k];
      for (std::uint32_t r = 0; r < kBlock; ++r) {
        void* data = k == 0   ? static_cast<void*>(&first[r])
                     : k == 1 ? static_cast<void*>(&second[r])
                     : k == 2 ? static_cast<void*>(&third[r])
                              : static_cast<void*>(fourth[r]);
        item->values()[r] = {data, &indicators[k][r], k == 3 ? &lengths[r] : nullptr};
      }
    }
  }
  ~Block() { CmdSeqFreeDescItems(&desc); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
};

// Sends `bytes` bytes through a loopback TCP connection, 64 KiB at a time, and answers
// the wall seconds until the last one was read; a negative answer when it failed.
double LoopbackCopySeconds(std::size_t bytes) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (listener >= 0) close(listener);
    return -1;
  }
  const int sender = socket(AF_INET, SOCK_STREAM, 0);
  if (sender < 0 || connect(sender, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(listener);
    if (sender >= 0) close(sender);
    return -1;
  }
  const int receiver = accept(listener, nullptr, nullptr);
  close(listener);
  if (receiver < 0) {
    close(sender);
    return -1;
  }
  constexpr std::size_t kChunk = 64 * 1024;
  const double start = WallSeconds();
  std::thread writer([&] {
    std::vector<char> out(kChunk, 'x');
    std::size_t left = bytes;
    while (left > 0) {
      const ssize_t n = send(sender, out.data(), left < kChunk ? left : kChunk, 0);
      if (n <= 0) break;
      left -= static_cast<std::size_t>(n);
    }
  });
  std::vector<char> in(kChunk);
  std::size_t got = 0;
  while (got < bytes) {
    const ssize_t n = recv(receiver, in.data(), in.size(), 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  const double seconds = WallSeconds() - start;
  writer.join();
  close(sender);
  close(receiver);
  return got == bytes ? seconds : -1;
}

void BM_FetchMillionRows(benchmark::State& state) {
  const Link link = state.range(0) == 0 ? Link::kSharedMemory : Link::kTcpIp;
  World& world = TheWorld();
  if (!world.ok) {
    state.SkipWithError("vqeng12 or the client did not start");
    return;
  }
  a_cmdseq_conn* conn = nullptr;
  if (world.client.Connect("UID=dba;PWD=sql;" + world.server.Links(link), &conn) != CMDSEQ_OK) {
    state.SkipWithError("no connection");
    return;
  }
  a_cmdseq_error_info err;
  CmdSeqInitErrorParam(world.client.env(), &err, 0);
  Block block;
  double open_s = 0, cpu_s = 0, user_s = 0, system_s = 0, wall_s = 0, floor_s = 0;
  double bytes = 0, rows = 0, server_s = 0, waits = 0, floor_cpu_s = 0;
  std::int64_t sum = 0;
  bool failed = false;
  for (auto _ : state) {
    a_cmdseq_stmt_handle handle;
    a_cmdseq_cursor cursor{0};
    cursor.conn = conn;
    a_cmdseq_prep_param prep{Query().c_str(), static_cast<std::int32_t>(Query().size()), 0, 0};
    a_cmdseq_open_param open;
    open.handle = &handle;
    open.cursor = &cursor;
    open.cursor_name = "B";
    open.options = kForwardOnlyReadOnly;
    const double open_start = WallSeconds();
    CmdSeqResetErrorParam(&err, conn);
    if (CmdSeqPrepare(conn, &err, &handle, &prep) != CMDSEQ_OK ||
        CmdSeqOpenCursorPrefetch(conn, &err, &open, &block.desc, kBlock) != CMDSEQ_OK) {
      failed = true;
      break;
    }
    const std::uint32_t bytes_start = StrmGetBytesRecvUncomp(conn->strm_conn);
    double user_start = 0, system_start = 0, waits_start = 0;
    UserSystemSeconds(&user_start, &system_start, &waits_start);
    const double server_start = ProcessCpuSecondsOf(world.server.pid());
    const double cpu_start = ProcessCpuSeconds();
    const double wall_start = WallSeconds();
    open_s += wall_start - open_start;
    std::uint32_t got = 0;
    for (;;) {
      a_cmdseq_fetch_param f;
      f.cursor = &cursor;
      f.bound = &block.desc;
      f.offset = 1;
      f.row_count = kBlock;
      const a_cmdseq_return r = CmdSeqFetch(conn, &err, &f);
      if (r != CMDSEQ_OK && !(r == CMDSEQ_WARNING && err.sqlcode == 100)) {
        failed = true;
        break;
      }
      for (std::uint32_t i = 0; i < f.rows_fetched; ++i) sum += block.first[i];
      got += f.rows_fetched;
      if (f.rows_fetched == 0) break;
    }
    const double wall = WallSeconds() - wall_start;
    // The first column numbers the rows: a fetch that lost or repeated rows shows here.
    if (sum != static_cast<std::int64_t>(kRows) * (kRows + 1) / 2) failed = true;
    sum = 0;
    cpu_s += ProcessCpuSeconds() - cpu_start;
    server_s += ProcessCpuSecondsOf(world.server.pid()) - server_start;
    double user_end = 0, system_end = 0, waits_end = 0;
    UserSystemSeconds(&user_end, &system_end, &waits_end);
    waits += waits_end - waits_start;
    user_s += user_end - user_start;
    system_s += system_end - system_start;
    wall_s += wall;
    const std::uint32_t moved = StrmGetBytesRecvUncomp(conn->strm_conn) - bytes_start;
    bytes += moved;
    rows += got;
    state.SetIterationTime(wall);
    a_cmdseq_close_param close;
    close.cursor_name = "B";
    close.cursor = &cursor;
    CmdSeqResetErrorParam(&err, conn);
    (void)CmdSeqCloseCursor(conn, &err, &close);
    i_cs_FreeAllFetchData(&cursor);
    i_cs_DropStmt(conn, &handle, true);
    if (failed || got != kRows) {
      failed = true;
      break;
    }
    const double floor_cpu_start = ProcessCpuSeconds();
    const double floor = LoopbackCopySeconds(moved);
    if (floor < 0) {
      failed = true;
      break;
    }
    floor_cpu_s += ProcessCpuSeconds() - floor_cpu_start;
    floor_s += floor;
  }
  benchmark::DoNotOptimize(sum);
  CmdSeqFiniErrorParam(&err);
  (void)world.client.Disconnect(conn);
  if (failed) {
    state.SkipWithError("the fetch failed");
    return;
  }
  state.counters["client_cpu_ns_per_row"] = cpu_s * 1e9 / rows;
  state.counters["client_user_ns_per_row"] = user_s * 1e9 / rows;
  state.counters["client_system_ns_per_row"] = system_s * 1e9 / rows;
  state.counters["client_waits_per_1k_rows"] = waits * 1e3 / rows;
  state.counters["server_cpu_ns_per_row"] = server_s * 1e9 / rows;
  state.counters["wall_ns_per_row"] = wall_s * 1e9 / rows;
  state.counters["floor_ns_per_row"] = floor_s * 1e9 / rows;
  // Sender and receiver of the loopback copy together (both run in this process).
  state.counters["floor_cpu_ns_per_row"] = floor_cpu_s * 1e9 / rows;
  // 1 when the wall time is the larger CPU time alone; 2 when the two take turns.
  state.counters["wall_over_max_cpu"] = wall_s / (cpu_s > server_s ? cpu_s : server_s);
  state.counters["wall_over_floor"] = wall_s / floor_s;
  state.counters["bytes_per_row"] = bytes / rows;
  // The server's peak memory over the whole run so far (both links, every iteration).
  state.counters["server_peak_mib"] = PeakResidentMiBOf(world.server.pid());
  state.counters["open_ms"] = open_s * 1e3 / static_cast<double>(state.iterations());
  state.counters["fill_ms"] = world.fill_s * 1e3;
}

BENCHMARK(BM_FetchMillionRows)
    ->ArgName("tcpip")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

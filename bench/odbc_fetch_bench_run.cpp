// Fetch speed of the whole driver in one run: starts vqeng12 (shared memory and TCP/IP
// on a loopback port, under its own VCTMP and HOME, its database a file there with its
// default limits), has odbc_fetch_bench create and fill the stored table the benchmarks
// read (fetch_bench_table.h; timed apart and printed), runs the ODBC application over
// each link through the unixODBC driver manager, then runs the command-sequence fetch
// benchmark (same table, same rows, which also measures the raw loopback socket floor
// for the bytes moved), and prints them side by side with the server's CPU per row and
// the ratios the driver is held to: ODBC client CPU per row at most 1.5 times the
// command-sequence client's and at most 150 ns, wall at most 15 times the socket floor,
// shared memory faster than TCP/IP.
//
// With --jdbc (built when a Java VM and the driver's Java classes are there) it runs the
// Java program FetchBench over each link instead of the command-sequence benchmark, the
// same query against the same server, with the driver's default rowset and again with the
// C client's rowset of 1000, and prints the Java client's CPU and wall per row beside the
// ODBC C client's, held to Java CPU per row at most twice the C client's in the same rowsets.
//
//   odbc_fetch_bench_run [--jdbc] [runs]
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "vqeng_process.h"

namespace {

using Numbers = std::map<std::string, double>;

// "a=1 b=2.5" into {a: 1, b: 2.5}.
Numbers ParseKeyValues(const std::string& line) {
  Numbers out;
  std::istringstream in(line);
  for (std::string word; in >> word;) {
    const std::size_t eq = word.find('=');
    if (eq != std::string::npos) out[word.substr(0, eq)] = std::atof(word.c_str() + eq + 1);
  }
  return out;
}

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      cells.push_back(cell);
      cell.clear();
    } else {
      cell += c;
    }
  }
  cells.push_back(cell);
  return cells;
}

// The counters of each row of Google Benchmark's CSV output, by link ("shm", "tcpip").
std::map<std::string, Numbers> ParseBenchmarkCsv(const std::string& text) {
  std::map<std::string, Numbers> out;
  std::istringstream in(text);
  std::vector<std::string> header;
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> cells = SplitCsv(line);
    if (!cells.empty() && cells[0] == "name") {
      header = cells;
      continue;
    }
    if (header.empty() || cells.size() != header.size()) continue;
    const std::string link = cells[0].find("tcpip:1") != std::string::npos ? "tcpip" : "shm";
    for (std::size_t i = 1; i < cells.size(); ++i) {
      if (!cells[i].empty()) out[link][header[i]] = std::atof(cells[i].c_str());
    }
  }
  return out;
}

std::string MakeTemp() {
  char dir[] = "/tmp/vqfetchbenchXXXXXX";
  return mkdtemp(dir) != nullptr ? dir : "";
}

// The run's VCTMP and HOME, removed however the run ends.
struct TempDirs {
  std::string vctmp = MakeTemp(), home = MakeTemp();
  ~TempDirs() {
    std::error_code ec;
    if (!vctmp.empty()) std::filesystem::remove_all(vctmp, ec);
    if (!home.empty()) std::filesystem::remove_all(home, ec);
  }
};

const char* Verdict(bool ok) { return ok ? "met" : "MISSED"; }

// The rowset size of the C client (odbc_fetch_bench.c), as text for the Java program.
constexpr char kCRowset[] = "1000";

#ifdef JAVA_PATH
// The Java client beside the C one, by link: CPU per row both as the fetching thread's
// and as the whole VM's over the loop, with the driver's default rowset and with the C
// client's. The target is held on the VM's CPU with the C client's rowset (the same
// fetches on both sides); the default rowset's ratio is shown above it.
int ReportJdbc(std::map<std::string, Numbers>& odbc, std::map<std::string, Numbers>& jdbc,
               std::map<std::string, Numbers>& jdbc_c_rowset) {
  std::printf("fetch of 1,000,000 rows (int, int, double, varchar(10)), ns per row\n");
  std::printf("%-6s %10s %10s %10s %10s %10s %10s %10s %10s\n", "link", "c_cpu", "java_cpu",
              "java_thrd", "java_user", "cpu_ratio", "c_wall", "java_wall", "fetchsize");
  bool all = true;
  for (const std::string link : {"shm", "tcpip"}) {
    Numbers& o = odbc[link];
    for (Numbers* j : {&jdbc[link], &jdbc_c_rowset[link]}) {
      std::printf("%-6s %10.1f %10.1f %10.1f %10.1f %10.2f %10.1f %10.1f %10.0f\n", link.c_str(),
                  o["client_cpu_ns_per_row"], (*j)["process_cpu_ns_per_row"],
                  (*j)["thread_cpu_ns_per_row"], (*j)["thread_user_ns_per_row"],
                  (*j)["process_cpu_ns_per_row"] / o["client_cpu_ns_per_row"],
                  o["wall_ns_per_row"], (*j)["wall_ns_per_row"], (*j)["fetch_size"]);
    }
    Numbers& j = jdbc_c_rowset[link];
    const double ratio = j["process_cpu_ns_per_row"] / o["client_cpu_ns_per_row"];
    std::printf("  %s: Java CPU per row <= 2 x ODBC C client, both in rowsets of %s: %s "
                "(fetching thread alone: %.2f x)\n",
                link.c_str(), kCRowset, Verdict(ratio <= 2),
                j["thread_cpu_ns_per_row"] / o["client_cpu_ns_per_row"]);
    all = all && ratio <= 2;
  }
  return all ? 0 : 3;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const bool jdbc = argc > 1 && std::string(argv[1]) == "--jdbc";
  if (jdbc) {
    --argc;
    ++argv;
  }
#ifndef JAVA_PATH
  if (jdbc) {
    std::fprintf(stderr, "built without a Java VM: no --jdbc\n");
    return 2;
  }
#endif
  const std::string runs = argc > 1 ? argv[1] : "3";
  const TempDirs dirs;
  if (dirs.vctmp.empty() || dirs.home.empty()) return 1;
  setenv("VCTMP", dirs.vctmp.c_str(), 1);
  setenv("HOME", dirs.home.c_str(), 1);
  // The driver finds its message files beside itself.
  setenv("VCDIR", std::filesystem::path(VQ_DRIVER_PATH).parent_path().c_str(), 1);
  unsetenv("VCCONNECT");

  const std::string name = "odbcbench" + std::to_string(getpid());
  std::map<std::string, Numbers> odbc, java, java_c_rowset;
  {
    vq_test::VqengProcess server;
    if (!server.Start(VQENG12_PATH, name, {dirs.home + "/fetchbench.db"})) {
      std::fprintf(stderr, "vqeng12 did not start\n");
      return 1;
    }
    // The Java classes load the driver themselves: their connection string names none.
    const std::string driver = std::string("DRIVER=") + VQ_DRIVER_PATH + ";";
    const std::string base = "UID=dba;PWD=sql;ServerName=" + name;
    const std::map<std::string, std::string> links = {
        {"shm", base + ";CommLinks=ShMem"},
        {"tcpip", base + ";CommLinks=tcpip(host=127.0.0.1;port=" + std::to_string(server.port()) +
                      ";DoBroadcast=NONE)"}};
    // The table once, before anything is timed.
    const std::string fill_text = driver + links.at("shm");
    const vq::testing::ChildResult filled = vq::testing::RunInChild([&] {
      execl(ODBC_FETCH_BENCH_PATH, ODBC_FETCH_BENCH_PATH, fill_text.c_str(), "fill",
            static_cast<char*>(nullptr));
      _exit(127);
    });
    if (!filled.exited(0)) {
      std::fprintf(stderr, "filling the table failed:\n%s\n", filled.output.c_str());
      return 1;
    }
    std::printf("table of 1,000,000 rows created and filled in %.0f ms (not in the figures)\n",
                ParseKeyValues(filled.output)["fill_ms"]);
    const std::string server_pid = std::to_string(server.pid());
    for (const auto& [link, text] : links) {
      const std::string odbc_text = driver + text;
      const vq::testing::ChildResult r = vq::testing::RunInChild([&] {
        execl(ODBC_FETCH_BENCH_PATH, ODBC_FETCH_BENCH_PATH, odbc_text.c_str(), runs.c_str(),
              server_pid.c_str(), static_cast<char*>(nullptr));
        _exit(127);
      });
      if (!r.exited(0)) {
        std::fprintf(stderr, "odbc_fetch_bench over %s failed\n", link.c_str());
        return 1;
      }
      odbc[link] = ParseKeyValues(r.output);
#ifdef JAVA_PATH
      if (!jdbc) continue;
      const std::string library_path = "-Djava.library.path=" +
          std::filesystem::path(VQ_DRIVER_PATH).parent_path().string();
      // Twice: with the driver's default rowset (what a program that sets no fetch size
      // gets) and with the C client's rowset of 1000, row for row against it.
      for (const bool c_rowset : {false, true}) {
        const vq::testing::ChildResult j = vq::testing::RunInChild([&] {
          if (c_rowset) setenv("VQ_BENCH_FETCH_SIZE", kCRowset, 1);
          execl(JAVA_PATH, JAVA_PATH, library_path.c_str(), "-cp", JDBC_FETCH_BENCH_CLASSPATH,
                "FetchBench", text.c_str(), runs.c_str(), static_cast<char*>(nullptr));
          _exit(127);
        });
        if (!j.exited(0)) {
          std::fprintf(stderr, "FetchBench over %s failed:\n%s\n", link.c_str(),
                       j.output.c_str());
          return 1;
        }
        (c_rowset ? java_c_rowset : java)[link] = ParseKeyValues(j.output);
      }
#endif
    }
  }
#ifdef JAVA_PATH
  if (jdbc) return ReportJdbc(odbc, java, java_c_rowset);
#endif

  const vq::testing::ChildResult cs = vq::testing::RunInChild([&] {
    execl(CMDSEQ_FETCH_BENCH_PATH, CMDSEQ_FETCH_BENCH_PATH, "--benchmark_format=csv",
          static_cast<char*>(nullptr));
    _exit(127);
  });
  std::map<std::string, Numbers> cmdseq = ParseBenchmarkCsv(cs.output);
  if (!cs.exited(0) || cmdseq.size() != 2) {
    std::fprintf(stderr, "cmdseq_fetch_bench failed:\n%s\n", cs.output.c_str());
    return 1;
  }

  std::printf("fetch of 1,000,000 rows (int, int, double, varchar(10)), ns per row\n");
  std::printf("%-6s %10s %10s %10s %10s %10s %10s %10s %10s %10s %10s %10s\n", "link",
              "odbc_cpu", "odbc_user", "odbc_sys", "cs_cpu", "cpu_ratio", "odbc_srv", "cs_srv",
              "odbc_wall", "cs_wall", "floor", "wall/floor");
  bool all = true;
  for (const std::string link : {"shm", "tcpip"}) {
    Numbers& o = odbc[link];
    Numbers& c = cmdseq[link];
    const double ratio = o["client_cpu_ns_per_row"] / c["client_cpu_ns_per_row"];
    const double over_floor = o["wall_ns_per_row"] / c["floor_ns_per_row"];
    std::printf(
        "%-6s %10.1f %10.1f %10.1f %10.1f %10.2f %10.1f %10.1f %10.1f %10.1f %10.1f %10.2f\n",
        link.c_str(), o["client_cpu_ns_per_row"], o["client_user_ns_per_row"],
        o["client_system_ns_per_row"], c["client_cpu_ns_per_row"], ratio,
        o["server_cpu_ns_per_row"], c["server_cpu_ns_per_row"], o["wall_ns_per_row"],
        c["wall_ns_per_row"], c["floor_ns_per_row"], over_floor);
    const bool cpu_ratio = ratio <= 1.5, cpu_abs = o["client_cpu_ns_per_row"] <= 150,
               wall = over_floor <= 15;
    std::printf("  %s: cpu <= 1.5 x cmdseq %s, cpu <= 150 ns %s, wall <= 15 x floor %s\n",
                link.c_str(), Verdict(cpu_ratio), Verdict(cpu_abs), Verdict(wall));
    all = all && cpu_ratio && cpu_abs && wall;
  }
  const bool shm_faster = odbc["shm"]["wall_ns_per_row"] < odbc["tcpip"]["wall_ns_per_row"];
  std::printf("  shared memory faster than TCP/IP: %s\n", Verdict(shm_faster));
  return all && shm_faster ? 0 : 3;
}

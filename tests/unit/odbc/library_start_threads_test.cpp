// Library start-up and shut-down as a host program sees them: the driver library loaded
// with dlopen by a probe program in a process of its own, its trace lines, its version
// line, its behaviour across fork and its respect for the host's signal handlers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct ProbeRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the probe on the built library with `scenario`, the environment of this process
// plus `extra` (NAME=value) minus the trace variables unless `extra` sets them.
ProbeRun RunProbe(const char* scenario, const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("VELSR_", 0) == 0 || entry.rfind("VCDIR=", 0) == 0) continue;
    env.push_back(entry);
  }
  const std::string lib = VQJDBC12_PATH;
  env.push_back("VCDIR=" + lib.substr(0, lib.rfind('/')));
  for (const std::string& e : extra) env.push_back(e);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  char dir_template[] = "/tmp/odbc_probe_XXXXXX";
  const std::string dir = mkdtemp(dir_template);
  const std::string out_path = dir + "/out";
  const std::string err_path = dir + "/err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string probe = ODBC_LIB_PROBE;
  std::string lib_arg = lib;
  std::string scenario_arg = scenario;
  char* argv[] = {probe.data(), lib_arg.data(), scenario_arg.data(), nullptr};
  ProbeRun run;
  pid_t pid = 0;
  if (posix_spawn(&pid, probe.c_str(), &actions, nullptr, argv, envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  rmdir(dir.c_str());
  return run;
}

// Sanitizer reports also go to standard error; only the driver's own lines count.
std::string DriverLines(const std::string& err) {
  std::stringstream in(err);
  std::string line, kept;
  while (std::getline(in, line)) {
    if (line.rfind("[VSR]", 0) == 0) kept += line + "\n";
  }
  return kept;
}

const char kInitLines[] = "[VSR] odbc init ...\n[VSR] odbc init complete\n";
const char kFiniLines[] = "[VSR] odbc fini ...\n[VSR] odbc fini completed\n";

TEST(LibraryStartThreads, TraceLinesOfLoadAndUnload) {
  ProbeRun traced = RunProbe("load", {"VELSR_TRACK_LIBS=1"});
  EXPECT_EQ(traced.exit_code, 0) << traced.out << traced.err;
  EXPECT_EQ(DriverLines(traced.err), std::string(kInitLines) + kFiniLines);
  EXPECT_EQ(traced.out, "");

  ProbeRun quiet = RunProbe("load", {});
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(DriverLines(quiet.err), "");
  EXPECT_EQ(quiet.out, "");
}

TEST(LibraryStartThreads, VersionInfoPrintsTheUnameEntry) {
  ProbeRun run = RunProbe("load", {"VELSR_VERSION_INFO=1"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("UNAME=", 0), 0u) << run.out;
  EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
}

TEST(LibraryStartThreads, AForkedChildUnloadingLeavesTheParentAlone) {
  ProbeRun run = RunProbe("fork-unload", {"VELSR_TRACK_LIBS=1"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(DriverLines(run.err), std::string(kInitLines) + "[VSR] odbc fini (ignored)\n");
  EXPECT_EQ(run.out, "parent alloc 0\n");
}

TEST(LibraryStartThreads, AForkedChildGetsAnErrorFromEveryCall) {
  ProbeRun run = RunProbe("fork-calls", {});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out,
            "alloc-env -1\n"
            "alloc-dbc -1\n"
            "set-env-attr -1\n"
            "get-functions -1\n"
            "disconnect -1\n"
            "free-dbc -1\n"
            "free-env -1\n"
            "parent free-dbc 0\n"
            "parent free-env 0\n");
}

TEST(LibraryStartThreads, AChildThatInheritedNoEnvironmentMayStartOne) {
  ProbeRun run = RunProbe("fork-fresh", {});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "child alloc-env 0\nchild free-env 0\n");
}

TEST(LibraryStartThreads, TheHostsSignalHandlersAreNeverReplaced) {
  ProbeRun run = RunProbe("signals", {});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "SIGTERM kept\nSIGINT kept\nSIGTERM after unload kept\n");
}

}  // namespace

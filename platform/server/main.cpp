// vqeng12: the stand-in database server. Parses its command line, opens the
// database, listens on loopback TCP, prints "port=N" as the first line of
// standard output, reports ready on the hand-shake descriptor, and serves until
// SIGTERM or SIGINT.
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "discovery_responder.h"
#include "kerberos_login.h"
#include "server.h"
#include "shm_listener.h"
#include "tls_channel.h"

namespace {

vqeng::Server* g_server = nullptr;

void on_signal(int) {
  if (g_server) g_server->stop();
}

// Writes the 2-byte status (host byte order, read on the same machine) to the
// hand-shake descriptor and closes it: 0 ready, else a communication-stack code.
void report(int fd, std::uint16_t status) {
  if (fd < 0) return;
  ssize_t n;
  do {
    n = ::write(fd, &status, sizeof status);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
}

std::string base_name_no_ext(const std::string& path) {
  std::string b =
      path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  const auto dot = b.rfind('.');
  return dot == std::string::npos || dot == 0 ? b : b.substr(0, dot);
}

}  // namespace

int main(int argc, char** argv) {
  // Large blocks are mapped on their own and unmapped when freed, so what a connection
  // gives back to the server's budget leaves the process. (The allocator otherwise
  // raises this threshold as blocks are freed and keeps later large blocks in per-thread
  // arenas, where memory a connection let go stays resident.)
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  std::vector<std::string> args = vqeng::with_environment_switches(
      std::getenv("VQENG12_SWITCHES"), std::vector<std::string>(argv + 1, argv + argc));
  const bool serve_shm = vqeng::take_shm_option(args);
  vqeng::CommandLine cl;
  std::string why;
  if (!vqeng::parse_command_line(args, cl, why)) {
    std::fprintf(stderr, "vqeng12: %s\n", why.c_str());
    report(cl.handshake_fd, 255);
    return 2;
  }
  vqeng::DatabaseConfig cfg;
  if (!cl.server_name.empty()) cfg.server_name = cl.server_name;
  cfg.database_file = cl.database_file;
  cfg.database_name = !cl.database_name.empty()   ? cl.database_name
                      : !cl.database_file.empty() ? base_name_no_ext(cl.database_file)
                                                  : cfg.server_name;
  cfg.database_named = !cl.database_name.empty() || !cl.database_file.empty();
  cfg.limits = cl.limits;
  cfg.memory = std::make_shared<vqeng::MemoryBudget>(cl.limits.max_server_bytes);
  cfg.liveness = cl.liveness;
  cfg.statement_cache = static_cast<std::uint32_t>(cl.statement_cache);
  if (!cl.fault_script.empty()) {
    std::ifstream in(cl.fault_script);
    std::stringstream text;
    text << in.rdbuf();
    if (!in || !vqeng::parse_fault_script(text.str(), cfg.faults, why)) {
      std::fprintf(stderr, "vqeng12: fault script %s: %s\n", cl.fault_script.c_str(),
                   in ? why.c_str() : "cannot be read");
      report(cl.handshake_fd, 255);
      return 2;
    }
  }
  if (!cl.kerberos_keytab.empty()) {
    // The service's key must be there now, not at the first login.
    std::shared_ptr<vqeng::KerberosService> krb =
        vqeng::open_gss_service(cl.kerberos_keytab, cl.kerberos_service, why);
    if (!krb) {
      std::fprintf(stderr, "vqeng12: Kerberos service %s from %s: %s\n",
                   cl.kerberos_service.c_str(), cl.kerberos_keytab.c_str(), why.c_str());
      report(cl.handshake_fd, 255);
      return 2;
    }
    cfg.kerberos = std::move(krb);
  }
  if (!cl.tls_cert.empty()) {
    cfg.tls = vqeng::TlsContext::load(cl.tls_cert, cl.tls_key, why);
    if (!cfg.tls) {
      std::fprintf(stderr, "vqeng12: TLS: %s\n", why.c_str());
      report(cl.handshake_fd, 255);
      return 2;
    }
  }
  cfg.started_for_auto_stop = cl.auto_stop && cl.handshake_fd >= 0;
  for (const auto& s : cl.ignored) std::fprintf(stderr, "vqeng12: ignoring %s\n", s.c_str());

  vqeng::RequestLog log;
  if (!cl.request_log.empty() && !log.open(cl.request_log)) {
    std::fprintf(stderr, "vqeng12: cannot open the request log %s\n", cl.request_log.c_str());
    report(cl.handshake_fd, 255);
    return 2;
  }
  vqeng::Server server(cfg, &log);
  // Every start listens on TCP/IP; with -shm the shared-memory link is served too.
  if (!server.start(cl.port, why)) {
    std::fprintf(stderr, "vqeng12: %s\n", why.c_str());
    report(cl.handshake_fd, why.rfind("database", 0) == 0 ? 3 : 2);
    return 1;
  }
  cfg.tcp_port = static_cast<std::uint16_t>(server.port());
  server.set_auto_stop(cl.auto_stop);
  vqeng::ShmListener shm(cfg, &log);
  shm.set_server(&server);
  if (serve_shm && !shm.start(cfg.server_name, why)) {
    std::fprintf(stderr, "vqeng12: %s\n", why.c_str());
    report(cl.handshake_fd, 2);
    return 1;
  }
  g_server = &server;
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("port=%d\n", server.port());
  std::fflush(stdout);
  vqeng::DiscoveryResponder discovery;
  if (!discovery.start(cl.discovery, cfg.server_name, cfg.database_name, cfg.tcp_port, why)) {
    std::fprintf(stderr, "vqeng12: %s\n", why.c_str());
    report(cl.handshake_fd, 2);
    return 1;
  }
  {
    std::lock_guard<std::mutex> hold(cfg.state->mu);
    cfg.state->starting_until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(cl.starting_ms);
  }
  log.line("0 server " + cfg.server_name + " ready on port " + std::to_string(server.port()));
  report(cl.handshake_fd, 0);
  server.serve();
  log.line("0 server stopped");
  g_server = nullptr;
  return 0;
}

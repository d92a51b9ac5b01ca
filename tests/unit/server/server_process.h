// A built vqeng12 started on a free loopback port, as the client's local-server
// start would (with -hn), and a scripted client that talks to it over TCP.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scrambler.h"
#include "script_client.h"

using namespace script;

namespace {

// The code of reply item `i`, or -1 when the reply is shorter: a short reply fails the
// check instead of reading past the vector.
int code_at(const std::vector<ReplyItem>& reply, std::size_t i) {
  return i < reply.size() ? reply[i].code : -1;
}

class ServerProcess {
 public:
  bool start(const std::vector<std::string>& extra) {
    char tmpl[] = "/tmp/vqeng_it_XXXXXX";
    dir_ = mkdtemp(tmpl);
    log_path_ = dir_ + "/requests.log";
    int out[2], hs[2];
    if (pipe(out) != 0 || pipe(hs) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(hs[0]);
      std::vector<std::string> args{VQENG12_PATH, "-x", "tcpip(port=0)", "-rl", log_path_};
      args.insert(args.end(), extra.begin(), extra.end());
      args.push_back("-hn");
      args.push_back(std::to_string(hs[1]));
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(hs[1]);
    std::uint16_t status = 0xFFFF;
    if (read(hs[0], &status, 2) != 2) return false;
    close(hs[0]);
    status_ = status;
    FILE* f = fdopen(out[0], "r");
    char line[64] = {};
    if (!fgets(line, sizeof line, f)) return false;
    fclose(f);
    return std::sscanf(line, "port=%d", &port_) == 1 && port_ > 0;
  }
  int stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int st = 0;
    waitpid(pid_, &st, 0);
    pid_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
  // Waits up to `seconds` for the server to end by itself; -1 when it did not.
  int wait_exit(int seconds) {
    for (int i = 0; i < seconds * 20 && pid_ > 0; ++i) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      }
      usleep(50000);
    }
    return -1;
  }
  ~ServerProcess() {
    if (pid_ > 0) stop();
    if (!dir_.empty()) {
      std::remove(log_path_.c_str());
      rmdir(dir_.c_str());
    }
  }
  std::string log() const {
    std::ifstream in(log_path_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // The server's peak resident memory in KiB (VmHWM), or -1.
  long peak_kib() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
  }
  std::uint16_t status() const { return status_; }
  const std::string& dir() const { return dir_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::uint16_t status_ = 0xFFFF;
  std::string dir_, log_path_;
};

class Client {
 public:
  explicit Client(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ok_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { close(fd_); }
  bool ok() const { return ok_; }
  void send_raw(const std::string& s) {
    ASSERT_EQ(send(fd_, s.data(), s.size(), MSG_NOSIGNAL), (ssize_t)s.size());
  }
  // Reads packets up to the end of a message; empty when the server closed.
  std::vector<Packet> read_message() {
    std::vector<Packet> out;
    for (;;) {
      std::size_t used = 0;
      auto pks = split_packets(buf_, &used);
      buf_.erase(0, used);
      for (auto& p : pks) {
        out.push_back(p);
        if (p.status & 1) return out;
      }
      char tmp[8192];
      const ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
      if (n <= 0) return {};
      buf_.append(tmp, static_cast<std::size_t>(n));
    }
  }
  // Packets that arrive within `ms` milliseconds, or up to the end of a
  // message when `until_end` is set (bounded by the same time).
  std::vector<Packet> read_packets_for(int ms, bool until_end = false) {
    std::vector<Packet> out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      std::size_t used = 0;
      auto pks = split_packets(buf_, &used);
      buf_.erase(0, used);
      for (auto& p : pks) {
        out.push_back(p);
        if (until_end && (p.status & 1)) return out;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return out;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return out;
      char tmp[8192];
      const ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
      if (n <= 0) return out;
      buf_.append(tmp, static_cast<std::size_t>(n));
    }
  }
  std::string app_connect(const AppConnectFields& f) {
    std::string pk = packet(25, 0x21, std::string(1, '\0') + app_connect_record(f));
    vqeng::scramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]),
                           static_cast<std::uint32_t>(pk.size()));
    send_raw(pk);
    const auto r = read_message();
    if (r.size() != 1 || r[0].type != 25) return {};
    random_ = r[0].body.substr(1 + 178, 32);
    return r[0].body.substr(1);
  }
  bool closed_by_peer() {
    char c;
    return recv(fd_, &c, 1, 0) == 0;
  }
  std::string app_connect() {
    std::string pk = packet(25, 0x21, std::string(1, '\0') + app_connect_record({}));
    vqeng::scramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]),
                           static_cast<std::uint32_t>(pk.size()));
    send_raw(pk);
    const auto r = read_message();
    if (r.size() != 1 || r[0].type != 25) return {};
    random_ = r[0].body.substr(1 + 178, 32);
    return r[0].body.substr(1);
  }
  std::vector<ReplyItem> request(const std::string& body) {
    send_raw(packet(24, 1, body));
    std::string joined;
    for (const auto& p : read_message()) joined += p.body;
    std::vector<ReplyItem> items;
    parse_items(joined, items);
    return items;
  }
  std::vector<ReplyItem> connect_db(const std::string& pwd = "sql") {
    return request(item(16, "UID=DBA;CON=it") + item(133, u32le(0)) +
                   item(20, encipher("PWD=" + pwd,
                                     reinterpret_cast<const std::uint8_t*>(random_.data()))));
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
  std::string buf_;
  std::string random_;
};

}  // namespace

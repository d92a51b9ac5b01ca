// The shared-memory transport of the stand-in: the server's directory in the local
// resource tree (under VCTMP), its rendezvous socket "rdv_socket", and one thread per
// client link that moves packets between the link's rings and a Session, as the TCP
// transport moves bytes between a socket and a Session.
//
// The records and rings are the shared layouts of the project's shared-memory code;
// the rendezvous, the connect records and the serving loop are written here.
//
// What a client sends is checked before use: header lengths and codes, the record's
// slot and segment descriptors (names that would leave the resource tree are refused
// by the mapping), and every buffer reference (block inside the client's file, packet
// inside the block).
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine.h"

class c_strm_proctable;

namespace vqeng {

class RequestLog;
class Server;
struct ShmLink;

// Removes the option "-shm" from the arguments; true when it was there.
bool take_shm_option(std::vector<std::string>& args);

class ShmListener {
 public:
  ShmListener(const DatabaseConfig& cfg, RequestLog* log);
  ~ShmListener();  // stop()
  ShmListener(const ShmListener&) = delete;
  ShmListener& operator=(const ShmListener&) = delete;

  // Claims the server's resource directory (the name cut to 31 characters), points the
  // default-server link at it when there is none, listens on its rendezvous socket and
  // starts serving. False with `why`.
  bool start(const std::string& name, std::string& why);
  // The server that our links count for (its auto-stop) and that a shutdown request
  // stops; set before start().
  void set_server(Server* server) { server_ = server; }
  // Closes every link (the client sees the comm block closed), stops the threads and
  // removes the directory, the socket and a default-server link of ours.
  void stop();

 private:
  void accept_loop();
  void rendezvous(int fd);
  void serve_link(ShmLink* link);
  void reap(bool all);

  const DatabaseConfig& cfg_;
  RequestLog* log_;
  Server* server_ = nullptr;
  std::string name_;
  int lock_fd_ = -1;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  bool made_default_link_ = false;
  std::uint32_t ref_id_ = 0;
  std::unique_ptr<c_strm_proctable> clients_;
  std::thread acceptor_;
  std::mutex links_mu_;
  std::list<std::unique_ptr<ShmLink>> links_;
  std::uint32_t next_number_ = 1;
  std::atomic<bool> stopping_{false};
};

}  // namespace vqeng

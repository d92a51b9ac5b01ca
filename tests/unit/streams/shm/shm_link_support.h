// Helpers of the shared-memory link tests: the message catalog, a client stack (buffer
// pools over a shared heap, a port with a test host's notifiers), and a session
// connection stand-in that records what the transport connection hands up.
#ifndef VQ_TESTS_UNIT_STREAMS_SHM_SHM_LINK_SUPPORT_H
#define VQ_TESTS_UNIT_STREAMS_SHM_SHM_LINK_SUPPORT_H

#include <dirent.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "../stream_test_host.h"
#include "shm_test_support.h"
#include "streams/buffer_pool.h"
#include "streams/host_functions.h"
#include "streams/packet_buffer.h"
#include "streams/shm/shared_heap.h"
#include "streams/shm/shm_conn.h"
#include "streams/shm/shm_port.h"
#include "streams/transport.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"

namespace vq::shm::test {

// Numbered messages from the build's English message file, for the life of the object.
class ScopedCatalog {
 public:
  ScopedCatalog() {
    ok_ = file_.Open(VQ_TEST_RES_DIR "/vqlgen12.res") != 0;
    UTResFile* files[] = {&file_};
    catalog_.SetResFiles(files, 1);
    catalog_.set_client_charset(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
    catalog_.reset();
    vq::strm::SetLibraryCatalog(&catalog_);
  }
  ~ScopedCatalog() { vq::strm::SetLibraryCatalog(nullptr); }
  ScopedCatalog(const ScopedCatalog&) = delete;
  ScopedCatalog& operator=(const ScopedCatalog&) = delete;
  bool ok() const { return ok_; }

 private:
  UTLocale locale_;
  UTVCResFile file_;
  UTLangStringBase catalog_{&locale_};
  bool ok_ = false;
};

// Buffer pools over a shared heap and an initialised port. Declare it after the
// ScopedShmRoot so that it goes first.
class ClientStack {
 public:
  ClientStack() {
    vq::strm::SetBufferHeapFactory(vq::shm::NewSharedHeap);
    controller_ = std::make_unique<c_strm_frlist_controller>(2048);
    port_ = std::make_unique<c_strm_shm_port>(nullptr, &env_, nullptr);
    init_result_ = port_->init_port(controller_->default_pool, "", nullptr);
  }
  ~ClientStack() {
    port_.reset();
    controller_.reset();
    vq::strm::SetBufferHeapFactory(nullptr);
  }
  ClientStack(const ClientStack&) = delete;
  ClientStack& operator=(const ClientStack&) = delete;

  an_int_strm_error init_result() const { return init_result_; }
  c_strm_shm_port& port() { return *port_; }
  c_strm_frlist_controller& controller() { return *controller_; }
  c_strm_buff_frlist* pool() { return controller_->default_pool; }
  c_shared_heap* heap() { return dynamic_cast<c_shared_heap*>(pool()->src->heap); }
  vq::testing::TestEnvNotifier& env() { return env_; }

  // A shared buffer holding `packet` (header offset 0), or null.
  c_strm_buffer* Buffer(const std::string& packet) {
    c_strm_buffer* b = pool()->get_buffer(STRM_SHARED_MEM);
    if (b == nullptr) return nullptr;
    b->set_header_offset(0);
    b->set_used_length(static_cast<std::uint16_t>(packet.size()));
    std::memcpy(b->packet(), packet.data(), packet.size());
    return b;
  }

 private:
  vq::testing::TestEnvNotifier env_;
  std::unique_ptr<c_strm_frlist_controller> controller_;
  std::unique_ptr<c_strm_shm_port> port_;
  an_int_strm_error init_result_ = 0;
};

// The session connection as the transport connection sees it: keeps the packets and
// events it is handed, gives buffers back to the pool, answers accept_buff with
// `accept_result`.
class RecordingUpcalls : public c_strm_tconn_upcalls {
 public:
  explicit RecordingUpcalls(c_strm_buff_frlist* pool) : pool_(pool) {}
  int accept_buff(c_strm_buffer* buffer) override {
    std::lock_guard<std::mutex> hold(mutex_);
    packets_.emplace_back(reinterpret_cast<const char*>(buffer->packet()), buffer->used_length());
    pool_->done_buffer(buffer);
    return accept_result.load();
  }
  void accept_error(std::uint32_t code) override {
    std::lock_guard<std::mutex> hold(mutex_);
    errors_.push_back(code);
  }
  void drop_connection(int) override { ++drops; }
  void delayed_put_completed(c_strm_buffer* buffer) override {
    std::lock_guard<std::mutex> hold(mutex_);
    completed_.push_back(buffer);
  }
  c_strm_buff_frlist* buffer_pool() override { return pool_; }

  std::vector<std::string> packets() {
    std::lock_guard<std::mutex> hold(mutex_);
    return packets_;
  }
  std::vector<std::uint32_t> errors() {
    std::lock_guard<std::mutex> hold(mutex_);
    return errors_;
  }
  std::vector<c_strm_buffer*> completed() {
    std::lock_guard<std::mutex> hold(mutex_);
    return completed_;
  }

  std::atomic<int> accept_result{1};
  std::atomic<int> drops{0};

 private:
  c_strm_buff_frlist* pool_;
  std::mutex mutex_;
  std::vector<std::string> packets_;
  std::vector<std::uint32_t> errors_;
  std::vector<c_strm_buffer*> completed_;
};

// A short-header packet (type, status, big-endian length) with the body.
inline std::string Packet(std::uint8_t type, std::uint8_t status, const std::string& body) {
  const std::size_t len = 4 + body.size();
  return std::string{static_cast<char>(type), static_cast<char>(status),
                     static_cast<char>(len >> 8), static_cast<char>(len & 0xFF)} +
         body;
}

// The names in a directory (nothing for a missing one).
inline std::set<std::string> DirEntries(const std::string& path) {
  std::set<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.insert(n);
    }
    closedir(d);
  }
  return names;
}

}  // namespace vq::shm::test

#endif  // VQ_TESTS_UNIT_STREAMS_SHM_SHM_LINK_SUPPORT_H

// A session connection for transport tests: it keeps the bytes of every packet handed
// up, the errors and the packet dump calls, and gives each buffer back to its pool at
// once. The pool is a child of a controller of the given packet size.
#ifndef VQ_TESTS_UNIT_STREAMS_FAKE_SESSION_H
#define VQ_TESTS_UNIT_STREAMS_FAKE_SESSION_H

#include <cstdint>
#include <mutex>
#include <vector>

#include <algorithm>

#include "streams/buffer_pool.h"
#include "streams/packet_header.h"
#include "streams/transport.h"

namespace vq::testing {

class FakeSession : public c_strm_tconn_upcalls {
 public:
  explicit FakeSession(std::uint16_t packet_size = 7300)
      : controller_(packet_size), pool_(new c_strm_buff_frlist(controller_.default_pool, 4, 4)) {}
  ~FakeSession() override { delete pool_; }

  int accept_buff(c_strm_buffer* buffer) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      packets_.emplace_back(buffer->packet(), buffer->packet() + buffer->used_length());
    }
    pool_->done_buffer(buffer);
    return accept_result;
  }
  void accept_error(std::uint32_t code) override {
    std::lock_guard<std::mutex> hold(mutex_);
    errors_.push_back(code);
  }
  void drop_connection(int) override { ++drops; }
  void delayed_put_completed(c_strm_buffer* buffer) override { pool_->done_buffer(buffer); }
  c_strm_buff_frlist* buffer_pool() override { return pool_; }
  void dump_packet(const std::uint8_t*, std::uint16_t, int received) override {
    std::lock_guard<std::mutex> hold(mutex_);
    ++dumps_[received != 0 ? 1 : 0];
  }

  std::vector<std::vector<std::uint8_t>> packets() {
    std::lock_guard<std::mutex> hold(mutex_);
    return packets_;
  }
  std::vector<std::uint32_t> errors() {
    std::lock_guard<std::mutex> hold(mutex_);
    return errors_;
  }
  int dumps(int received) {
    std::lock_guard<std::mutex> hold(mutex_);
    return dumps_[received != 0 ? 1 : 0];
  }
  // A buffer of the pool with `bytes` as its packet (used length set).
  c_strm_buffer* packet_buffer(const std::vector<std::uint8_t>& bytes) {
    c_strm_buffer* b = pool_->get_buffer(STRM_PRIVATE_MEM);
    b->set_header_offset(0);
    std::copy(bytes.begin(), bytes.end(), b->packet());
    b->set_used_length(static_cast<std::uint16_t>(bytes.size()));
    return b;
  }
  // Free buffers of the environment's pool and the session's, so a test can see that
  // every buffer came back.
  std::uint32_t free_buffers() {
    return controller_.default_pool->free_count(STRM_SUBLIST_PRIVATE) +
           pool_->free_count(STRM_SUBLIST_PRIVATE);
  }
  c_strm_frlist_controller& controller() { return controller_; }

  int accept_result = 1;
  int drops = 0;

 private:
  c_strm_frlist_controller controller_;
  c_strm_buff_frlist* pool_;
  std::mutex mutex_;
  std::vector<std::vector<std::uint8_t>> packets_;
  std::vector<std::uint32_t> errors_;
  int dumps_[2] = {0, 0};
};

// A packet of the type: header (4 or 8 bytes), then `body` bytes counting up from `seed`.
inline std::vector<std::uint8_t> MakePacket(std::uint8_t type, std::uint8_t status,
                                            std::size_t body, std::uint8_t seed = 1) {
  const std::size_t hdr = PktHeaderSize(type);
  std::vector<std::uint8_t> p(hdr + body);
  StorePktHdr(p.data(), PktHdr{type, status, static_cast<std::uint16_t>(p.size())});
  for (std::size_t i = 0; i < body; ++i) p[hdr + i] = static_cast<std::uint8_t>(seed + i * 7);
  return p;
}

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_STREAMS_FAKE_SESSION_H

// A session connection with its presentation state over a fake link, for the
// presentation tests and the item reader's fuzz target: packets the connection sends
// are kept by the link, packets from the peer are handed straight to the connection,
// and the owner carries the host's callbacks.
#ifndef VQ_TESTS_UNIT_STREAMS_PRES_HARNESS_H
#define VQ_TESTS_UNIT_STREAMS_PRES_HARNESS_H

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stream_test_host.h"
#include "streams/packet_header.h"
#include "streams/pres_state.h"
#include "streams/presentation.h"
#include "streams/session_conn.h"
#include "strm_fakes.h"

namespace vq::testing {

// block() answers from a counter: true while `tries` lasts (something may have
// arrived), then false.
class ScriptedNotifier : public c_strm_conn_notifier {
 public:
  bool block(std::uint32_t) override {
    ++blocks;
    if (before_block) before_block();
    if (tries <= 0) return false;
    --tries;
    return true;
  }
  void post() override {}
  void handle_strm_indicator(std::uint8_t code) override { indicators.push_back(code); }
  void set_sconn(a_strm_conn) override {}
  int swap_streams(c_strm_conn_notifier*, std::uintptr_t) override { return 1; }

  int tries = 0;
  int blocks = 0;
  std::function<void()> before_block;  // e.g. the peer answers now
  std::vector<std::uint8_t> indicators;
};

// The owner side the presentation layer asks for callbacks and the locale.
class PresOwner : public c_strm_sconn_owner {
 public:
  void queue_callback_msg(c_strm_sconn*, std::uint8_t, std::uint32_t, const char*,
                          std::uint16_t) override {}
  void stop_conn_callback_msgs(c_strm_sconn*) override {}
  void request_liveness_pass() override {}
  void update_timeout_from_conn(std::uint16_t) override {}
  void add_receive_proxy(c_strm_sconn*) override {}
  void remove_receive_proxy(c_strm_sconn*) override {}
  void delayed_delete(c_strm_sconn*) override {}
  bool shutting_down() const override { return false; }
  c_strm_env_notifier* env_notifier() override { return nullptr; }
  a_strm_msg_callback message_callback() const override { return msg; }
  a_strm_validate_callback validate_callback() const override { return check; }
  void* callback_data() const override { return data; }
  UTLocale* locale() const override { return locale_ptr; }

  a_strm_msg_callback msg = nullptr;
  a_strm_validate_callback check = nullptr;
  void* data = nullptr;
  UTLocale* locale_ptr = nullptr;
};

class PresHarness {
 public:
  // `size` is the environment's buffer size; `new_form` the piece form of the peer.
  explicit PresHarness(std::uint16_t size = 7300, bool new_form = true)
      : controller_(size), tran_(nullptr, controller_.default_pool, nullptr),
        port_(STRM_PORT_TCPIP) {
    link_ = new FakePconn;
    link_->port = &port_;
    auto* tconn = new c_strm_tconn(&tran_, link_, nullptr);
    notifier_ = new ScriptedNotifier;
    conn_ = new c_strm_sconn(&owner_, tconn, controller_.default_pool, notifier_, nullptr);
    conn_->start_receive();
    pres_new_conn(conn_);
    i_sqlpres_set_strm_version(h(), new_form ? 15 : 9);
  }
  ~PresHarness() {
    pres_del_conn(conn_);
    delete conn_;
  }
  PresHarness(const PresHarness&) = delete;
  PresHarness& operator=(const PresHarness&) = delete;

  a_strm_conn h() { return conn_->handle(); }
  c_strm_sconn* conn() { return conn_; }
  a_pres_state* state() { return conn_->pres_state(); }
  ScriptedNotifier& notifier() { return *notifier_; }
  PresOwner& owner() { return owner_; }
  FakePconn& link() { return *link_; }

  // One packet from the peer, as it arrives whole; false when it is larger than a
  // buffer or the connection refused it.
  bool Deliver(const std::uint8_t* bytes, std::size_t n) {
    if (n > controller_.default_size) return false;
    c_strm_buffer* b = conn_->buffer_pool()->get_buffer(STRM_PRIVATE_MEM);
    if (b == nullptr) return false;
    b->set_header_offset(0);
    std::copy(bytes, bytes + n, b->packet());
    b->set_used_length(static_cast<std::uint16_t>(n));
    return conn_->accept_buff(b) == 1;
  }
  bool Deliver(const std::vector<std::uint8_t>& p) { return Deliver(p.data(), p.size()); }
  bool Deliver(const std::string& p) {
    return Deliver(reinterpret_cast<const std::uint8_t*>(p.data()), p.size());
  }
  // A data packet (type 24) around the item bytes; `last` sets the end of message.
  bool DeliverItems(const std::vector<std::uint8_t>& items, bool last = true) {
    std::vector<std::uint8_t> p(4 + items.size());
    StorePktHdr(p.data(), PktHdr{PKT_DATA, static_cast<std::uint8_t>(last ? PKT_STATUS_EOM : 0),
                                 static_cast<std::uint16_t>(p.size())});
    std::copy(items.begin(), items.end(), p.begin() + 4);
    return Deliver(p);
  }

  // The packets sent so far, and their item bytes (headers cut off) joined.
  std::vector<std::vector<std::uint8_t>> Sent() { return link_->packets(); }
  std::vector<std::uint8_t> SentItems() {
    std::vector<std::uint8_t> out;
    for (const auto& p : link_->packets()) out.insert(out.end(), p.begin() + 4, p.end());
    return out;
  }

 private:
  c_strm_frlist_controller controller_;
  c_strm_tran_layer tran_;
  MinimalPort port_;
  PresOwner owner_;
  FakePconn* link_;  // owned by the transport connection
  ScriptedNotifier* notifier_;  // released by the connection
  c_strm_sconn* conn_;
};

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_STREAMS_PRES_HARNESS_H

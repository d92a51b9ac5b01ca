// Drives one Session with scripted bytes: no sockets, no threads.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include "scrambler.h"
#include "script_client.h"
#include "session.h"

namespace script {

class SessionHarness {
 public:
  explicit SessionHarness(std::uint8_t random_first = 0x5A, std::uint32_t number = 7) {
    for (int i = 0; i < 32; ++i) random_[i] = static_cast<std::uint8_t>(random_first + 7 * i);
    session_ = std::make_unique<vqeng::Session>(
        cfg_, number, [this](const std::string& l) { log_.push_back(l); },
        [this](std::uint8_t* out, std::size_t n) {
          std::memcpy(out, random_, n);
          return true;
        });
  }
  ~SessionHarness() {
    if (inflate_on_) inflateEnd(&zs_);
  }

  vqeng::Session& session() { return *session_; }
  vqeng::DatabaseConfig& config() { return cfg_; }
  const std::vector<std::string>& log() const { return log_; }
  bool logged(const std::string& needle) const {
    for (const auto& l : log_)
      if (l.find(needle) != std::string::npos) return true;
    return false;
  }
  const std::uint8_t* random() const { return random_; }

  // Feeds bytes (optionally one byte at a time), runs, and returns the packets
  // sent back, descrambled.
  std::vector<Packet> exchange(const std::string& bytes, bool byte_by_byte = false) {
    if (byte_by_byte) {
      for (char c : bytes) session_->feed(reinterpret_cast<const std::uint8_t*>(&c), 1);
    } else {
      session_->feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    session_->run();
    pending_ += session_->take_output();
    std::size_t used = 0;
    std::vector<Packet> out;
    // Descramble in place before splitting bodies off.
    std::size_t at = 0;
    while (pending_.size() - at >= 4) {
      const std::size_t len = (static_cast<std::uint8_t>(pending_[at + 2]) << 8) |
                              static_cast<std::uint8_t>(pending_[at + 3]);
      if (len < 4 || pending_.size() - at < len) break;
      if (pending_[at + 1] & 0x20)
        vqeng::descramble_packet(reinterpret_cast<std::uint8_t*>(&pending_[at]),
                                 static_cast<std::uint32_t>(len));
      at += len;
    }
    out = split_packets(pending_.substr(0, at), &used);
    pending_.erase(0, used);
    return out;
  }

  // App-connect; returns the reply record (without the leading zero byte).
  std::string app_connect(const AppConnectFields& f = {}) {
    std::string pk = packet(25, 0x21, std::string(1, '\0') + app_connect_record(f));
    vqeng::scramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]),
                           static_cast<std::uint32_t>(pk.size()));
    const auto reply = exchange(pk);
    if (reply.size() != 1 || reply[0].type != 25 || reply[0].body.empty()) return {};
    encryption_ = f.encryption;
    return reply[0].body.substr(1);
  }

  // The database-connect request with the password enciphered.
  std::vector<ReplyItem> connect(const std::string& uid = "dba",
                                 const std::string& pwd = "sql") {
    std::string body = item(16, "UID=" + uid + ";DBN=demo;APP='IP=127.0.0.1;API=QuillonJDBC'");
    body += item(133, u32le(0));
    body += item(20, encipher("PWD=" + pwd, random_));
    return request(body);
  }

  // One request message (a single packet); returns the items of the reply.
  std::vector<ReplyItem> request(const std::string& items_body, std::uint8_t extra_status = 0) {
    std::string pk = packet(24, static_cast<std::uint8_t>(0x01 | extra_status), items_body);
    if (encryption_ == 1) {
      pk[1] = static_cast<char>(pk[1] | 0x20);
      vqeng::scramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]),
                             static_cast<std::uint32_t>(pk.size()));
    }
    return reply_items(exchange(pk));
  }

  // Joins the bodies of a reply message (inflating compressed ones) and parses them.
  std::vector<ReplyItem> reply_items(const std::vector<Packet>& pks) {
    std::string body;
    last_packets_ = pks;
    for (const auto& p : pks) {
      if (p.status & 0x40)
        body += inflate_body(p.body);
      else
        body += p.body;
    }
    std::vector<ReplyItem> items;
    parse_ok_ = parse_items(body, items);
    return items;
  }

  bool parse_ok() const { return parse_ok_; }
  const std::vector<Packet>& last_packets() const { return last_packets_; }

 private:
  std::string inflate_body(const std::string& in) {
    if (!inflate_on_) {
      inflateInit2(&zs_, 12);
      inflate_on_ = true;
    }
    std::string out;
    zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs_.avail_in = static_cast<uInt>(in.size());
    unsigned char buf[65536];
    do {
      zs_.next_out = buf;
      zs_.avail_out = sizeof buf;
      inflate(&zs_, Z_PARTIAL_FLUSH);
      out.append(reinterpret_cast<char*>(buf), sizeof buf - zs_.avail_out);
    } while (zs_.avail_out == 0);
    return out;
  }

  vqeng::DatabaseConfig cfg_;
  std::uint8_t random_[32];
  std::vector<std::string> log_;
  std::unique_ptr<vqeng::Session> session_;
  std::string pending_;
  unsigned encryption_ = 0;
  bool parse_ok_ = true;
  std::vector<Packet> last_packets_;
  z_stream zs_{};
  bool inflate_on_ = false;
};

// Codes of the reply items the tests look for.
inline std::vector<int> codes(const std::vector<ReplyItem>& items) {
  std::vector<int> c;
  for (const auto& i : items) c.push_back(i.code);
  return c;
}

}  // namespace script

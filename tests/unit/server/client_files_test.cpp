// Files on the client's machine: the server's transfer requests (item 140) in the
// middle of a statement, answered by a scripted client.
#include <gtest/gtest.h>

#include <map>

#include "session_harness.h"

using namespace script;

namespace {

std::uint64_t rd64(const std::string& s, std::size_t at) {
  return rd32(s, at) | (std::uint64_t{rd32(s, at + 4)} << 32);
}

// A long value as old-form pieces, each a whole item.
std::vector<std::string> long_value_items(std::uint8_t code, const std::string& v) {
  std::vector<std::string> items{std::string{char(252), char(code)},
                                 item(192, u32le(static_cast<std::uint32_t>(v.size())))};
  for (std::size_t at = 0; at < v.size(); at += 250)
    items.push_back(item(193, v.substr(at, 250)));
  items.push_back(item(194));
  return items;
}

// Items packed into data packets of at most 7300 bytes, never splitting one; the
// last packet ends the message.
std::string message_of(const std::vector<std::string>& items) {
  std::vector<std::string> bodies(1);
  for (const auto& it : items) {
    if (bodies.back().size() + it.size() + 4 > 7300) bodies.emplace_back();
    bodies.back() += it;
  }
  std::string out;
  for (std::size_t i = 0; i < bodies.size(); ++i)
    out += packet(24, i + 1 == bodies.size() ? 1 : 0, bodies[i]);
  return out;
}

// Answers the server's file requests from an in-memory set of files.
class FileClient {
 public:
  std::map<std::string, std::string> files;
  std::map<std::string, std::uint8_t> open_status;  // a name's open answer other than 1
  std::vector<int> ops;                             // the operations seen, in order

  // Reads the requests in the server's output and feeds the answers back.
  bool answer(SessionHarness& h) {
    std::string out = h.session().take_output();
    std::vector<ReplyItem> items;
    std::string body;
    for (const auto& p : split_packets(out)) body += p.body;
    if (!parse_items(body, items)) return false;
    bool answered = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].code != 140) continue;
      const std::string& rq = items[i].payload;
      const int op = rq[0];
      const std::uint32_t handle = rd32(rq, 1);
      const std::uint64_t offset = rd64(rq, 6);
      const std::uint32_t count = rd32(rq, 14);
      const bool write = rq[18] & 1;
      ops.push_back(op);
      if (op == 3) continue;  // a close has no answer
      std::vector<std::string> reply{item(133, u32le(handle))};
      std::uint8_t status = 1;
      if (op == 1) {
        name_[handle] = items[i + 1].payload;
        const auto st = open_status.find(name_[handle]);
        if (st != open_status.end())
          status = st->second;
        else if (write)
          files[name_[handle]].clear();
        else if (!files.count(name_[handle]))
          status = 3;
        if (status == 1 && !write)
          reply.push_back(item(
              104, u32le(static_cast<std::uint32_t>(files[name_[handle]].size())) + u32le(0)));
      } else if (write) {
        files[name_[handle]] += items[i + 1].payload;  // the 113 long value
      } else {
        const std::string& f = files[name_[handle]];
        const std::string part = f.substr(static_cast<std::size_t>(offset), count);
        for (const auto& it : long_value_items(113, part)) reply.push_back(it);
        if (offset + count > f.size()) status = 2;
      }
      reply.push_back(item(0));
      reply.push_back(item(141, std::string(1, static_cast<char>(status)) + u32le(2u << 20)));
      const std::string pk = message_of(reply);
      h.session().feed(reinterpret_cast<const std::uint8_t*>(pk.data()), pk.size());
      answered = true;
    }
    return answered;
  }

 private:
  std::map<std::uint32_t, std::string> name_;
};

class ClientFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(h_.app_connect().size(), 312u);
    ASSERT_EQ(h_.connect()[0].code, 133);
    h_.session().set_wait_hook([this] { return files_.answer(h_); });
  }
  // One value of a query, into a long binary column variable.
  std::vector<ReplyItem> query(const std::string& sql) {
    return h_.request(item(22, sql) + item(136, u16le(1)) +
                      item(24, u32le(0xFFFFFFFF) + u16le(0)) +
                      item(83, u32le(0x7FFFFFFF) + u16le(0)) + item(0));
  }
  void exec_blob_table() {
    ASSERT_EQ(h_.request(item(25, "CREATE TABLE blobs(b LONG BINARY)"))[2].code, 66);
    ASSERT_EQ(h_.request(item(
                  25, "INSERT INTO blobs VALUES(CAST(printf('%.*c', 300000, 'z') AS BLOB))"))[2]
                  .code,
              66);
  }
  SessionHarness h_;
  FileClient files_;
};

}  // namespace

TEST_F(ClientFiles, ReadAClientFile) {
  std::string content;
  for (int i = 0; i < 3000; ++i) content += "line " + std::to_string(i) + "\n";
  files_.files["data.txt"] = content;
  const auto r = query("SELECT vqeng_read_client_file('data.txt')");
  ASSERT_TRUE(h_.parse_ok());
  // The close leads the execute's reply (after the prepare's); then comes the
  // value, the file's bytes.
  std::size_t close = 0;
  while (close < r.size() && r[close].code != 140) ++close;
  ASSERT_LT(close + 2, r.size());
  EXPECT_EQ(r[close].payload[0], 3);
  EXPECT_EQ(r[close - 1].code, 0);  // the prepare's reply ended just before
  EXPECT_EQ(r[close + 1].code, 0);
  EXPECT_EQ(r[close + 2].code, 113);
  EXPECT_EQ(r[close + 2].payload, content);
  EXPECT_EQ(files_.ops, (std::vector<int>{1, 2}));  // the close came with the reply
  EXPECT_TRUE(h_.logged("7 client-file read data.txt"));
}

TEST_F(ClientFiles, WriteAClientFile) {
  const std::string data(300000, 'z');
  exec_blob_table();
  const auto r = query("SELECT vqeng_write_client_file('out.bin', b) FROM blobs");
  ASSERT_TRUE(h_.parse_ok());
  EXPECT_EQ(files_.files["out.bin"], data);
  bool count = false;
  for (const auto& it : r) count |= it.code == 113 && it.payload == "300000";
  EXPECT_TRUE(count);
  EXPECT_EQ(files_.ops, (std::vector<int>{1, 2}));
}

TEST_F(ClientFiles, RefusalsFailTheStatement) {
  struct Case {
    const char* name;
    std::uint8_t status;  // 0: the file is missing
    const char* text;
  };
  const Case cases[] = {
      {"missing.txt", 0, "does not exist"},
      {"refused.txt", 6, "refused the file"},
      {"nocallback.txt", 5, "allows no file transfers"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.status) files_.open_status[c.name] = c.status;
    const auto r = query(std::string("SELECT vqeng_read_client_file('") + c.name + "')");
    ASSERT_TRUE(h_.parse_ok());
    int rec = -1;
    for (std::size_t i = 0; i < r.size(); ++i)
      if (r[i].code == 65 && rec < 0) rec = static_cast<int>(i);
    ASSERT_GE(rec, 0);
    EXPECT_EQ(static_cast<std::int32_t>(rd32(r[rec].payload)), -1000);
    EXPECT_NE(r[rec + 1].payload.find(c.text), std::string::npos) << r[rec + 1].payload;
    EXPECT_FALSE(h_.session().closed());
  }
}

TEST_F(ClientFiles, NoAnswerFailsCleanly) {
  h_.session().set_wait_hook([] { return false; });
  files_.files["x"] = "y";
  const auto r = query("SELECT vqeng_read_client_file('x')");
  int rec = -1;
  for (std::size_t i = 0; i < r.size(); ++i)
    if (r[i].code == 65 && rec < 0) rec = static_cast<int>(i);
  ASSERT_GE(rec, 0);
  EXPECT_EQ(static_cast<std::int32_t>(rd32(r[rec].payload)), -308);
}

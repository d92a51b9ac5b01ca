// Files on the client's machine: the server asks with item 140 in its reply
// stream, the client answers each request with items and a sync point of its own.
//
// Request item 140 (20 bytes): operation (1 open, 2 transfer, 3 close), u32 file
// handle, open kind (1), u64 offset, u32 byte count, flags (0x01 the client file
// is written, 0x04 seeking allowed), one spare byte; then a name item (open
// only), data as a long item 113 (a transfer into the client file), and item 0.
// Answer: item 133 with the handle, [104 u64 length after an open for reading],
// [items 113 with the bytes read], item 0, item 141 (u8 status, u32 the most one
// transfer may carry). A close gets no answer.
#include <algorithm>
#include <chrono>

#include "request_items.h"
#include "session.h"
#include "sql_error.h"
#include "wire.h"

namespace vqeng {
namespace {

constexpr std::uint8_t kItemFileRequest = 140;
constexpr std::uint8_t kItemFileStatus = 141;
constexpr std::uint8_t kItemFileData = 113;
constexpr std::uint8_t kItemFileLength = 104;
constexpr std::uint8_t kOpOpen = 1, kOpTransfer = 2, kOpClose = 3;
constexpr std::uint8_t kFlagWrite = 0x01, kFlagSeek = 0x04;
// The most one transfer carries in either direction.
constexpr std::uint32_t kTransferBytes = 2u << 20;

std::string file_request(std::uint8_t op, std::uint32_t handle, std::uint64_t offset,
                         std::uint32_t count, std::uint8_t flags) {
  std::string p;
  put_u8(p, op);
  put_le32(p, handle);
  put_u8(p, 1);  // open kind
  put_le64(p, offset);
  put_le32(p, count);
  put_u8(p, flags);
  put_u8(p, 0);
  return p;
}

const char* status_text(unsigned status) {
  switch (status) {
    case 2:
      return "the file ended early";
    case 3:
      return "the file or a directory on its path does not exist";
    case 4:
      return "the client does not know the operation";
    case 5:
      return "the client's application allows no file transfers";
    case 6:
      return "the client's application refused the file";
    case 7:
      return "reading, writing or seeking failed on the client";
    case 8:
      return "the client refused the handle, offset or size";
    case 9:
      return "permission denied on the client";
    default:
      return "the client could not open the file";
  }
}

}  // namespace

bool Session::await_answer(Bodies& answer, SqlError& err) {
  // The request went out as a message of its own; the client answers with one.
  if (flush_hook_) flush_hook_();
  while (queue_.empty() && !closed_ && attentions_ == 0) {
    if (!wait_hook_ || !wait_hook_()) break;
  }
  if (attentions_ > 0) {
    err = sql_error(-299);
    return false;
  }
  if (closed_ || queue_.empty()) {
    err = sql_error(-308, "The client did not answer a file transfer request");
    return false;
  }
  answer = std::move(queue_.front());
  queue_.pop_front();
  for (const auto& b : answer) queued_bytes_ -= std::min(queued_bytes_, b.size());
  return true;
}

bool Session::file_exchange(const std::string& request_items, std::uint32_t handle,
                            std::uint8_t* status, std::uint64_t* length, std::string* data,
                            SqlError& err) {
  ItemWriter w(agreed_.packet_size, agreed_.minor > 9);
  // The request items are whole items already written; copy them item by item.
  const std::vector<std::string> bodies{request_items};
  ItemReader in(&bodies);
  Item it;
  while (in.next(it) == ItemReader::Result::Ok) {
    std::string v;
    in.read_value(it, v, kTransferBytes + 1024);
    if (it.special() && !it.is_long())
      w.put_special(it.code, it.length);
    else
      w.put_bytes(it.code, v);
  }
  send_packets(w.finish());
  Bodies answer;
  if (!await_answer(answer, err)) return false;
  ItemReader r(&answer);
  bool got_status = false;
  for (;;) {
    const auto rc = r.next(it);
    if (rc != ItemReader::Result::Ok) break;
    std::string v;
    if (r.read_value(it, v, cfg_.limits.max_message_bytes) != ItemReader::Result::Ok) break;
    if (it.code == kReqHandle && v.size() == 4 &&
        load_le32(reinterpret_cast<const std::uint8_t*>(v.data())) != handle) {
      err = sql_error(-1000, "The client answered a file transfer for another handle");
      return false;
    }
    if (it.code == kItemFileLength && v.size() == 8 && length)
      *length = load_le64(reinterpret_cast<const std::uint8_t*>(v.data()));
    if (it.code == kItemFileData && data) {
      if (data->size() + v.size() > cfg_.limits.max_connection_bytes) {
        err = sql_error(-1000, "The client file is larger than one connection may hold");
        return false;
      }
      *data += v;
    }
    if (it.code == kItemFileStatus && v.size() == 5) {
      *status = static_cast<std::uint8_t>(v[0]);
      got_status = true;
    }
  }
  if (!got_status) {
    err = sql_error(-1000, "The client's answer to a file transfer has no status item");
    return false;
  }
  return true;
}

bool Session::client_file(bool write, const std::string& name, std::string& data,
                          SqlError& err) {
  const std::uint32_t handle = next_file_handle_++;
  log(std::string(write ? "client-file write " : "client-file read ") + name);
  std::uint8_t status = 0;
  std::uint64_t length = 0;
  std::string request;
  auto item_bytes = [](std::uint8_t code, const std::string& payload) {
    // Short items only here; long data goes through the writer in file_exchange.
    return std::string{static_cast<char>(payload.size() + 1), static_cast<char>(code)} +
           payload;
  };
  const std::uint8_t flags = write ? kFlagWrite : kFlagSeek;
  request = item_bytes(kItemFileRequest, file_request(kOpOpen, handle, 0, 0, flags));
  if (name.size() > 250) {
    err = sql_error(-1000, "Client file names are at most 250 bytes here");
    return false;
  }
  request += item_bytes(kItemName, name) + item_bytes(kItemEnd, "");
  if (!file_exchange(request, handle, &status, &length, nullptr, err)) return false;
  if (status != 1) {
    err = sql_error(-1000, std::string("Client file '") + name + "': " + status_text(status),
                    {name});
    return false;
  }
  bool ok = true;
  if (write) {
    for (std::size_t done = 0; ok && (done < data.size() || done == 0);) {
      const std::size_t n = std::min<std::size_t>(data.size() - done, kTransferBytes);
      std::string req = item_bytes(
          kItemFileRequest,
          file_request(kOpTransfer, handle, done, static_cast<std::uint32_t>(n), flags));
      // The data travels as one long value of item 113, whatever its size.
      std::string total;
      put_le32(total, static_cast<std::uint32_t>(n));
      std::string long_item;
      for (std::size_t at = 0; at < n;) {
        const std::size_t piece = std::min<std::size_t>(n - at, kMaxShortPayload);
        long_item += item_bytes(kItemPieceOld, data.substr(done + at, piece));
        at += piece;
      }
      req += std::string{static_cast<char>(kLenLong + 1), static_cast<char>(kItemFileData)};
      req += item_bytes(kItemLongHeader, total) + long_item + item_bytes(kItemLongEnd, "") +
             item_bytes(kItemEnd, "");
      ok = file_exchange(req, handle, &status, nullptr, nullptr, err);
      if (ok && status != 1) {
        err = sql_error(
            -1000, std::string("Client file '") + name + "': " + status_text(status), {name});
        ok = false;
      }
      done += n;
      if (n == 0) break;
    }
  } else {
    data.clear();
    while (ok && data.size() < length) {
      const std::uint64_t left = length - data.size();
      const std::uint32_t n =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kTransferBytes));
      const std::string req =
          item_bytes(kItemFileRequest,
                     file_request(kOpTransfer, handle, data.size(), n, flags)) +
          item_bytes(kItemEnd, "");
      const std::size_t before = data.size();
      ok = file_exchange(req, handle, &status, nullptr, &data, err);
      if (ok && status != 1 && status != 2) {
        err = sql_error(
            -1000, std::string("Client file '") + name + "': " + status_text(status), {name});
        ok = false;
      }
      if (ok && (status == 2 || data.size() == before)) break;  // the file ended early
    }
  }
  // The close needs no answer: it rides at the head of the statement's reply.
  pending_file_close_ +=
      item_bytes(kItemFileRequest, file_request(kOpClose, handle, 0, 0, flags)) +
      item_bytes(kItemEnd, "");
  log(std::string("client-file ") + (ok ? "done " : "failed ") + std::to_string(data.size()) +
      " bytes");
  return ok;
}

}  // namespace vqeng

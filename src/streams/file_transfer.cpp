// Server messages and server-driven client file transfer: two items the reader
// handles itself, on the reading thread, before the next ordinary item.
//
// A file transfer never opens a client file the host has not approved: the host's
// check is asked for every open, whatever the request's "approved already" flag says
// and whether or not a name came, and it is shown the name that is then opened (after
// the character-set conversion). File errors become status codes for the server; only
// presentation errors end the read.
#include <errno.h>
#include <fcntl.h>

#include <cstring>

#include "streams/pres_state.h"
#include "streams/session_conn.h"
#include "utils/base/memory.h"
#include "utils/base/posix_file.h"
#include "utils/locale/charset_converter.h"
#include "utils/locale/utlocale.h"

namespace {

// The request of item 140:
//   0      operation (1 open, 2 transfer, 3 close)
//   1-4    file handle (u32)
//   5      open kind (an open proceeds only when 1)
//   6-13   offset (u64)
//   14-17  byte count to read (u32)
//   18     flags
//   19     not used
constexpr std::size_t kReqOpAt = 0, kReqHandleAt = 1, kReqKindAt = 5, kReqOffsetAt = 6,
                      kReqCountAt = 14, kReqFlagsAt = 18, kReqBytes = 20;
static_assert(kReqFlagsAt + 2 == kReqBytes, "the request ends with its flags and a spare byte");

constexpr std::uint8_t kOpOpen = 1, kOpTransfer = 2, kOpClose = 3;
constexpr std::uint8_t kFlagWrite = 0x01, kFlagSeek = 0x04, kFlagAppend = 0x08;

enum : std::uint8_t {
  kStatusDone = 1,
  kStatusEof = 2,
  kStatusNoFile = 3,
  kStatusBadOp = 4,
  kStatusHostRefused = 5,
  kStatusDenied = 6,
  kStatusIoError = 7,
  kStatusBadHandle = 8,
  kStatusPermission = 9,
  kStatusOpenFailed = 10,
};

// The message item: type, then the code (u32).
constexpr std::size_t kMsgHeaderBytes = 5;
constexpr std::uint32_t kMaxMessageText = 0xFFFF;  // the callback takes a u16 length
constexpr std::uint32_t kShortTextBytes = 251;
// The table's count is 16 bits wide: a server cannot open more than this at once.
constexpr std::uint16_t kMaxOpenFiles = 0x8000;

std::uint64_t load_le64(const std::uint8_t* p) {
  return std::uint64_t{vq::strm::load_le32(p)} | (std::uint64_t{vq::strm::load_le32(p + 4)} << 32);
}

a_pres_file* find_file(a_pres_state* st, std::uint32_t handle) {
  for (std::uint16_t i = 0; i < st->file_count; ++i) {
    if (st->files[i].handle == handle) return &st->files[i];
  }
  return nullptr;
}

void add_file(a_pres_state* st, const a_pres_file& f) {
  if (st->file_count == st->file_capacity) {
    const std::uint16_t cap = st->file_capacity == 0 ? 4 : static_cast<std::uint16_t>(st->file_capacity * 2);
    auto* grown = static_cast<a_pres_file*>(ut_alloc(sizeof(a_pres_file) * cap));
    if (st->file_count != 0) std::memcpy(grown, st->files, sizeof(a_pres_file) * st->file_count);
    ut_free(st->files);
    st->files = grown;
    st->file_capacity = cap;
  }
  st->files[st->file_count++] = f;
}

void remove_file(a_pres_state* st, a_pres_file* f) {
  _posix_close(f->fd);
  *f = st->files[--st->file_count];
}

// A long value of the current item: reads up to `room` bytes into `out` and skips the
// rest. *got is what was read, *total what was announced.
a_sqlpres_code read_long(a_strm_conn h, std::uint8_t* out, std::uint32_t room, std::uint32_t* got,
                         std::uint32_t* total) {
  a_sqlpres_code rc = SQLPresReceiveBegin(h, total);
  if (rc != SQLPRES_OK) return rc;
  std::uint8_t* at = out;
  std::uint32_t want = *total < room ? *total : room;
  while (want != 0) {
    const std::uint32_t n = SQLPresReceivePieceSafe(h, &at, want);
    if (n == 0) break;
    want -= n;
  }
  *got = static_cast<std::uint32_t>(at - out);
  return SQLPresReceiveEnd(h);
}

// The name converted from the environment's character set to the connection's client
// character set into `out` (kPresMaxName + 1 bytes); the name stays when no conversion
// is needed or the conversion fails.
void convert_name(c_strm_sconn* c, char* name) {
  const CharsetInfo* to = c->client_cs_info();
  UTLocale* locale = c->owner() != nullptr ? c->owner()->locale() : nullptr;
  if (to == nullptr || locale == nullptr) return;
  CharsetConverter conv(locale, to, locale->os_charset());
  if (conv.impl() == nullptr || conv.is_identity()) return;
  char out[kPresMaxName + 1];
  unsigned int written = 0;
  const int rc = conv.Convert(reinterpret_cast<unsigned char*>(out), kPresMaxName, &written,
                              reinterpret_cast<const unsigned char*>(name),
                              static_cast<unsigned int>(std::strlen(name)));
  if (rc != kConvDone || written > kPresMaxName) return;
  out[written] = '\0';
  std::memcpy(name, out, written + 1);
}

// The host's answer for an open of `name`.
std::uint8_t validate(c_strm_sconn* c, const char* name, std::uint8_t flags) {
  c_strm_sconn_owner* owner = c->owner();
  a_strm_validate_callback check = owner != nullptr ? owner->validate_callback() : nullptr;
  if (check == nullptr) return kStatusHostRefused;
  std::uint32_t allow = 0;
  if (check(owner->callback_data(), c->callback_data(), name, flags & kFlagWrite, &allow) == 0) {
    return kStatusHostRefused;
  }
  return allow != 0 ? kStatusDone : kStatusDenied;
}

std::uint8_t open_status(int err) {
  if (err == EACCES || err == EPERM) return kStatusPermission;
  if (err == ENOENT || err == ENOTDIR) return kStatusNoFile;
  return kStatusOpenFailed;
}

void ensure_buffer(a_pres_state* st) {
  if (st->transfer_buffer == nullptr) {
    st->transfer_buffer = static_cast<std::uint8_t*>(ut_alloc(kPresTransferBytes));
  }
}

// The data of a write transfer (item 113, long): written to the file when the entry
// takes it, skipped otherwise.
a_sqlpres_code receive_data(c_strm_sconn* c, a_pres_state* st, std::uint8_t op,
                            std::uint32_t handle, std::uint64_t offset, std::uint8_t* status) {
  a_strm_conn h = c->handle();
  a_pres_file* f = find_file(st, handle);
  bool take = false;
  if (f == nullptr || (f->flags & kFlagWrite) == 0 || op != kOpTransfer) {
    *status = kStatusBadHandle;
  } else if (f->position != offset) {
    *status = kStatusIoError;
  } else {
    take = true;
  }
  std::uint32_t total = 0;
  a_sqlpres_code rc = SQLPresReceiveBegin(h, &total);
  if (rc != SQLPRES_OK) return rc;
  std::uint64_t written = 0;
  if (take) {
    ensure_buffer(st);
    for (;;) {
      std::uint8_t* at = st->transfer_buffer;
      const std::uint32_t n = SQLPresReceivePieceSafe(h, &at, kPresTransferBytes);
      if (n == 0) break;
      const std::int64_t w = _posix_write(f->fd, st->transfer_buffer, n);
      if (w > 0) {
        f->position += static_cast<std::uint64_t>(w);
        written += static_cast<std::uint64_t>(w);
      }
      if (w != static_cast<std::int64_t>(n)) {
        *status = kStatusIoError;
        break;  // the rest is skipped
      }
    }
  }
  rc = SQLPresReceiveEnd(h);
  if (rc != SQLPRES_OK) return rc;
  if (written > kPresMaxTransfer) *status = kStatusBadHandle;
  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  rc = vq::strm::PresReceiveItem(c, &code, &length, &payload);
  if (rc != SQLPRES_OK) return rc;
  return code == kItemEnd ? SQLPRES_OK : SQLPRES_FAILED;
}

// Sends up to `count` bytes of a file open for reading, from `offset`.
a_sqlpres_code send_data(c_strm_sconn* c, a_pres_state* st, a_pres_file* f, std::uint64_t offset,
                         std::uint32_t count, std::uint8_t req_flags, std::uint8_t* status) {
  if (offset != f->position) {
    if (((req_flags | f->flags) & kFlagSeek) == 0 && offset != 0) {
      *status = kStatusBadHandle;
      return SQLPRES_OK;
    }
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        _posix_lseek(f->fd, static_cast<std::int64_t>(offset), SEEK_SET) < 0) {
      *status = kStatusIoError;
      return SQLPRES_OK;
    }
    f->position = offset;
  }
  ensure_buffer(st);
  while (count != 0) {
    const std::uint32_t want = count < kPresTransferBytes ? count : kPresTransferBytes;
    const std::int64_t n = _posix_read(f->fd, st->transfer_buffer, want);
    if (n < 0) {
      *status = kStatusIoError;
      return SQLPRES_OK;
    }
    if (n > 0) {
      const a_sqlpres_code rc =
          SQLPresSendBytes(c->handle(), kItemData, st->transfer_buffer, static_cast<std::uint32_t>(n), 0);
      if (rc != SQLPRES_OK) return rc;
      f->position += static_cast<std::uint64_t>(n);
      count -= static_cast<std::uint32_t>(n);
    }
    if (static_cast<std::uint32_t>(n) < want) {
      *status = kStatusEof;
      return SQLPRES_OK;
    }
  }
  return SQLPRES_OK;
}

}  // namespace

namespace vq::strm {

a_sqlpres_code PresServerMessage(c_strm_sconn* c, const std::uint8_t* header, std::uint8_t length) {
  if (length < kMsgHeaderBytes || length > SQLPRES_MAX_SHORT_PAYLOAD) {
    PresDiag(c, "do_recv", SQLPRES_FAILED);
    return SQLPRES_FAILED;
  }
  const std::uint8_t type = header[0];
  const std::uint32_t code = load_le32(header + 1);
  std::uint8_t text_code = 0, text_length = 0;
  const std::uint8_t* text = nullptr;
  a_sqlpres_code rc = PresReceiveItem(c, &text_code, &text_length, &text);
  if (rc != SQLPRES_OK) return rc;
  a_strm_conn h = c->handle();
  c_strm_sconn_owner* owner = c->owner();
  a_strm_msg_callback callback = owner != nullptr ? owner->message_callback() : nullptr;
  const bool is_long = text_length == SQLPRES_LONG_LENGTH;
  if (callback == nullptr) {
    if (!is_long) return SQLPRES_OK;
    std::uint32_t total = 0;
    rc = SQLPresReceiveBegin(h, &total);
    return rc != SQLPRES_OK ? rc : SQLPresReceiveEnd(h);
  }
  char short_text[kShortTextBytes];
  char* buffer = short_text;
  std::uint32_t n = 0;
  if (is_long) {
    // The callback takes a 16-bit length: a longer text is cut to 65,535 bytes.
    std::uint32_t total = 0;
    buffer = static_cast<char*>(ut_alloc(kMaxMessageText + 1));
    rc = read_long(h, reinterpret_cast<std::uint8_t*>(buffer), kMaxMessageText, &n, &total);
    if (rc != SQLPRES_OK) {
      ut_free(buffer);
      return rc;
    }
  } else if (text_length <= SQLPRES_MAX_SHORT_PAYLOAD) {
    n = text_length;
    std::memcpy(short_text, text, n);
  }
  buffer[n] = '\0';
  {
    LockHold hold(c->callback_lock());
    callback(owner->callback_data(), c->callback_data(), type, code, static_cast<std::uint16_t>(n),
             buffer, c->host_ctx());
  }
  if (buffer != short_text) ut_free(buffer);
  return SQLPRES_OK;
}

a_sqlpres_code PresFileTransfer(c_strm_sconn* c, const std::uint8_t* request, std::uint8_t length) {
  a_pres_state* st = c->pres_state();
  if (st == nullptr || length < kReqBytes || length > SQLPRES_MAX_SHORT_PAYLOAD) {
    PresDiag(c, "do_recv", SQLPRES_FAILED);
    return SQLPRES_FAILED;
  }
  a_strm_conn h = c->handle();
  std::uint8_t req[kReqBytes];
  std::memcpy(req, request, kReqBytes);
  const std::uint8_t op = req[kReqOpAt];
  const std::uint32_t handle = load_le32(req + kReqHandleAt);
  const std::uint8_t kind = req[kReqKindAt];
  const std::uint64_t offset = load_le64(req + kReqOffsetAt);
  const std::uint32_t count = load_le32(req + kReqCountAt);
  const std::uint8_t flags = req[kReqFlagsAt];

  std::uint8_t code = 0, item_length = 0;
  const std::uint8_t* payload = nullptr;
  a_sqlpres_code rc = PresReceiveItem(c, &code, &item_length, &payload);
  if (rc != SQLPRES_OK) return rc;
  char name[kPresMaxName + 1];
  name[0] = '\0';
  bool name_given = false, name_too_long = false;
  if (code == SQLPRES_ITEM_NAME) {
    name_given = true;
    std::uint32_t n = 0;
    if (item_length == SQLPRES_LONG_LENGTH) {
      std::uint32_t total = 0;
      rc = read_long(h, reinterpret_cast<std::uint8_t*>(name), kPresMaxName, &n, &total);
      if (rc != SQLPRES_OK) return rc;
      name_too_long = total > kPresMaxName;
    } else if (item_length <= SQLPRES_MAX_SHORT_PAYLOAD) {
      n = item_length;
      std::memcpy(name, payload, n);
    }
    name[n] = '\0';
    // A name with a zero byte inside would open something other than what was named.
    if (std::strlen(name) != n) name_too_long = true;
    rc = PresReceiveItem(c, &code, &item_length, &payload);
    if (rc != SQLPRES_OK) return rc;
  }

  std::uint8_t status = kStatusDone;
  if (code == kItemEnd) {
    if (op == kOpOpen) {
      if (kind != 1) {
        status = kStatusBadOp;
      } else if (name_too_long) {
        status = kStatusOpenFailed;
      } else {
        // The host is asked for every open, with the name that will be opened.
        if (name_given) convert_name(c, name);
        status = validate(c, name, flags);
      }
    }
  } else if (code == kItemData && item_length == SQLPRES_LONG_LENGTH) {
    rc = receive_data(c, st, op, handle, offset, &status);
    if (rc != SQLPRES_OK) return rc;
  } else {
    PresDiag(c, "do_recv", SQLPRES_FAILED);
    return SQLPRES_FAILED;
  }

  if (op != kOpClose) {
    rc = SQLPresSendHandle(h, kItemFileHandle, handle, 0);
    if (rc != SQLPRES_OK) return rc;
  }

  if (status == kStatusDone) {
    switch (op) {
      case kOpOpen: {
        if (find_file(st, handle) != nullptr) {
          status = kStatusBadHandle;
          break;
        }
        if (st->file_count >= kMaxOpenFiles) {
          status = kStatusOpenFailed;
          break;
        }
        const int oflags = (flags & kFlagWrite) != 0
                               ? O_WRONLY | O_CREAT | ((flags & kFlagAppend) != 0 ? O_APPEND : O_TRUNC)
                               : O_RDONLY;
        const int fd = _posix_open(name, oflags, 0660);
        if (fd < 0) {
          status = open_status(errno);
          break;
        }
        ensure_buffer(st);
        add_file(st, a_pres_file{handle, fd, 0, flags});
        if ((flags & kFlagWrite) == 0) {
          const std::int64_t size = _posix_filelength(fd);
          std::uint8_t* at = nullptr;
          rc = SQLPresSend(h, kItemFileLength, &at, 8, 0);
          if (rc != SQLPRES_OK) {
            remove_file(st, find_file(st, handle));
            return rc;
          }
          const std::uint64_t n = size > 0 ? static_cast<std::uint64_t>(size) : 0;
          store_le32(at, static_cast<std::uint32_t>(n));
          store_le32(at + 4, static_cast<std::uint32_t>(n >> 32));
        }
        break;
      }
      case kOpTransfer: {
        a_pres_file* f = find_file(st, handle);
        if (f == nullptr) {
          status = kStatusBadHandle;
        } else if ((f->flags & kFlagWrite) == 0) {
          rc = send_data(c, st, f, offset, count, flags, &status);
          if (rc != SQLPRES_OK) return rc;
        }
        break;
      }
      case kOpClose: {
        a_pres_file* f = find_file(st, handle);
        if (f == nullptr) {
          status = kStatusBadHandle;
        } else {
          remove_file(st, f);
        }
        break;
      }
      default:
        status = kStatusBadOp;
        break;
    }
  }

  // A close is not answered at all.
  if (op == kOpClose) return SQLPRES_OK;
  rc = SQLPresSendCommand(h, kItemEnd, 0);
  if (rc != SQLPRES_OK) return rc;
  std::uint8_t* at = nullptr;
  rc = SQLPresSend(h, kItemTransferStatus, &at, 5, 0);
  if (rc != SQLPRES_OK) return rc;
  at[0] = status;
  store_le32(at + 1, kPresMaxTransfer);
  a_sqlpres_code word = SQLPRES_OK;
  if (SQLPresIsSyncPoint(h, &word) != 0) return SQLPresSyncPoint(h, 0, 0);
  return SQLPRES_OK;
}

void PresCloseFiles(a_pres_state* st) {
  if (st == nullptr) return;
  for (std::uint16_t i = 0; i < st->file_count; ++i) _posix_close(st->files[i].fd);
  st->file_count = 0;
}

}  // namespace vq::strm

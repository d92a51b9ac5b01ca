#include "streams/packet_dump.h"

#include <fcntl.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "streams/byte_order.h"
#include "streams/host_functions.h"
#include "streams/packet_header.h"
#include "streams/port_layer.h"
#include "utils/base/os_info.h"
#include "utils/base/posix_file.h"
#include "utils/etc/jdate.h"
#include "utils/locale/lang_string.h"

namespace {

std::atomic<std::uint32_t> packet_sequence{0};

constexpr std::uint8_t kRecordMark = 6;
constexpr unsigned int kIdCommentBytes = 256;
constexpr std::size_t kConnInfoChars = 250;

std::uint8_t link_code(std::uint8_t port_type) {
  switch (port_type) {
    case 5: return 5;
    case STRM_PORT_TCPIP: return 3;
    case 4: return 2;
    default: return 0;
  }
}

}  // namespace

c_strm_pktdump::c_strm_pktdump(std::uint8_t port_type) : link_code_(link_code(port_type)) {}

c_strm_pktdump::~c_strm_pktdump() { close(); }

bool c_strm_pktdump::open(const char* name) {
  if (name == nullptr) return false;
  vq::strm::LockHold hold(lock_);
  close();
  std::snprintf(name_, sizeof name_, "%s", name);
  fd_ = _posix_open(name_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
  return fd_ >= 0;
}

void c_strm_pktdump::close() {
  vq::strm::LockHold hold(lock_);
  if (fd_ >= 0) _posix_close(fd_);
  fd_ = -1;
}

void c_strm_pktdump::write_record(a_pktdump_flag kind, const void* data, std::size_t length,
                                  bool counted) {
  if (length > 0xFFFF) length = 0xFFFF;
  std::uint8_t header[kDumpRecordHeaderBytes] = {};
  a_time now{};
  timenow(&now);
  vq::strm::store_le16(header + 0, static_cast<std::uint16_t>(length));
  header[2] = kRecordMark;
  header[3] = kind;
  vq::strm::store_le16(header + 4, now.year);
  header[6] = now.month;
  header[7] = now.day;
  vq::strm::store_le16(header + 8, now.yearday);
  header[10] = now.hour;
  header[11] = now.minute;
  header[12] = now.second;
  header[13] = now.weekday;
  vq::strm::store_le32(header + 14, now.microsecond);
  header[18] = link_code_;
  const std::uint32_t sequence = counted ? packet_sequence.fetch_add(1) : packet_sequence.load();
  vq::strm::store_le32(header + kDumpSequenceAt, sequence);

  vq::strm::LockHold hold(lock_);
  if (fd_ < 0) return;
  _posix_write(fd_, header, sizeof header);
  if (length != 0) _posix_write(fd_, data, length);
}

void c_strm_pktdump::dump(a_pktdump_flag kind, const void* data, std::size_t avail) {
  if (!is_open()) return;
  switch (kind) {
    case PKTDUMP_SENT:
    case PKTDUMP_RECEIVED: {
      if (data == nullptr || avail < kPktShortHdrBytes) return;
      std::size_t length = LoadPktHdr(static_cast<const std::uint8_t*>(data)).length;
      if (length > avail) length = avail;
      write_record(kind, data, length, true);
      break;
    }
    case PKTDUMP_COMMENT: {
      const char* text = data != nullptr ? static_cast<const char*>(data) : "";
      write_record(kind, text, std::strlen(text) + 1, false);
      break;
    }
    default:
      write_record(kind, nullptr, 0, false);
      break;
  }
}

void c_strm_pktdump::dumpFileHdr(a_dump_file_type type) {
  std::uint8_t record[kDumpFileHeaderBytes] = {};
  record[0] = 2;
  record[1] = type;
  record[2] = 0;
  write_record(PKTDUMP_FILE_HEADER, record, sizeof record, false);
}

void c_strm_pktdump::comment(const char* format, ...) {
  if (!is_open() || format == nullptr) return;
  char text[kDumpMaxComment + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  dump(PKTDUMP_COMMENT, text);
}

void c_strm_pktdump::comment_id(std::uint32_t msg_id, ...) {
  if (!is_open()) return;
  char text[kIdCommentBytes];
  text[0] = '\0';
  UTLangStringBase* catalog = vq::strm::LibraryCatalog();
  va_list args;
  va_start(args, msg_id);
  if (catalog != nullptr) catalog->VFormatMiscLangStr(msg_id, text, sizeof text, args);
  va_end(args);
  dump(PKTDUMP_COMMENT, text);
}

void c_strm_pktdump::dump_conn_info(c_strm_port* port, const a_machine_addr* peer) {
  if (!is_open()) return;
  dumpFileHdr(DUMP_FILE_CLIENT);
  char address[51] = "";
  if (port != nullptr && peer != nullptr) port->format_machine_addr(peer, address, sizeof address);
  char host[51] = "";
  char os[101] = "";
  GetMachineHostName(host, sizeof host);
  GetOSVersionString(os, sizeof os);
  const char* port_name = port != nullptr ? GetPortTypeString(static_cast<a_port_type>(port->get_type())) : nullptr;
  char text[kConnInfoChars + 1];
  // The comment is cut at its field's length when the names are long.
  int written = 0;
  if (address[0] != '\0') {
    written = std::snprintf(text, sizeof text,
                  "VC Version: %d.%d.%d.%d\n\tPort: %s, Connected to: %s\n\tThis Machine: %s, OS: %s",
                  12, 0, 0, 2566, port_name != nullptr ? port_name : "", address, host, os);
  } else {
    written = std::snprintf(text, sizeof text,
                  "VC Version: %d.%d.%d.%d\n\tPort: %s, Local Connection\n\tThis Machine: %s, OS: %s",
                  12, 0, 0, 2566, port_name != nullptr ? port_name : "", host, os);
  }
  if (written < 0) text[0] = '\0';
  dump(PKTDUMP_COMMENT, text);
}

// The packet dump of one connection: a binary file of records, each a 23-byte header
// and its data, holding every packet sent and received, the disconnect and diagnostic
// comments. Nothing in the system reads it back; it is for offline inspection.
//
// Record header (little-endian):
//   0   u16  data length
//   2   u8   6
//   3   u8   record kind (a_pktdump_flag)
//   4   u16  year of the local time
//   6   u8   month (0 to 11)      7  u8  day
//   8   u16  day of the year (from 0)
//   10  u8   hour   11 u8 minute   12 u8 second
//   13  u8   weekday (0 = Sunday)
//   14  u32  microseconds
//   18  u8   link code: 3 TCP/IP, 0 shared memory
//   19  u32  packet sequence number before this record
// Records are written under the dump's lock, so records of the link's thread and of the
// request thread never interleave; the sequence counter is process-wide and atomic.
#ifndef VQ_STREAMS_PACKET_DUMP_H
#define VQ_STREAMS_PACKET_DUMP_H

#include <cstddef>
#include <cstdint>

#include "streams/port.h"
#include "streams/recursive_lock.h"

enum a_pktdump_flag : std::uint8_t {
  PKTDUMP_SENT = 0,         // a packet sent: the whole packet
  PKTDUMP_RECEIVED = 1,     // a packet received: the whole packet
  PKTDUMP_DISCONNECT = 3,   // the connection dropped: no data
  PKTDUMP_COMMENT = 4,      // a comment: the text and its terminating zero
  PKTDUMP_FILE_HEADER = 5,  // the file header: 19 bytes
};

enum a_dump_file_type : std::uint8_t { DUMP_FILE_CLIENT = 0 };

constexpr std::size_t kDumpRecordHeaderBytes = 23;
constexpr std::size_t kDumpSequenceAt = 19;  // u32 LE, the last field of the header
static_assert(kDumpSequenceAt + 4 == kDumpRecordHeaderBytes, "the sequence ends the header");
constexpr std::size_t kDumpFileHeaderBytes = 19;
constexpr std::size_t kDumpMaxComment = 567;      // characters of a formatted comment
constexpr std::size_t kDumpMaxPath = 4096;

class c_strm_pktdump {
 public:
  // `port_type` gives the records' link code.
  explicit c_strm_pktdump(std::uint8_t port_type);
  ~c_strm_pktdump();
  c_strm_pktdump(const c_strm_pktdump&) = delete;
  c_strm_pktdump& operator=(const c_strm_pktdump&) = delete;

  // Creates the file read-write (mode 0666 before the umask). A name that already
  // exists, or is a symbolic link, is refused: the dump never truncates or follows a
  // file it did not make. False when it cannot be opened.
  bool open(const char* name);
  void close();
  bool is_open() const { return fd_ >= 0; }
  const char* filename() const { return name_; }

  // One record; nothing when the file is not open. For PKTDUMP_SENT and _RECEIVED,
  // `data` is a packet whose header gives its length, and `avail` the bytes there (the
  // record holds no more than those); for PKTDUMP_COMMENT a terminated text; others
  // take no data.
  void dump(a_pktdump_flag kind, const void* data = nullptr, std::size_t avail = 0);
  void dumpFileHdr(a_dump_file_type type);
  // printf-style; the text is cut at kDumpMaxComment characters.
  void comment(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A numbered message through the library catalog, into 256 bytes.
  void comment_id(std::uint32_t msg_id, ...);
  // The file header, then a comment with the version, the port and the peer address
  // (formatted by the port), and this machine's name and system.
  void dump_conn_info(c_strm_port* port, const a_machine_addr* peer);

 private:
  void write_record(a_pktdump_flag kind, const void* data, std::size_t length, bool counted);

  int fd_ = -1;
  std::uint8_t link_code_;
  vq::strm::RecursiveLock lock_;
  char name_[kDumpMaxPath + 1] = "";
};

#endif  // VQ_STREAMS_PACKET_DUMP_H

// The rendezvous of the shared-memory link: the connect record that describes one side
// of a new link, and the one-request, one-reply exchange over the local server's
// Unix-domain socket "rdv_socket" that carries it.
//
// Request: a 20-byte header of five native u32 values {0, sender pid, data length,
// reply length, request code}, then the data. Reply: 16 bytes {status, -, data length,
// -}, then the data. Request code 1 carries the 172-byte record with the 32-bit comm
// block, code 3 the 176-byte record (the 172 bytes, then client_bits = 32) with the
// 64-bit one.
//
// Every exchange of the process is serialised, and every exchange has a deadline: a
// server that accepts and never answers, or one whose socket backlog is full, ends the
// exchange when the deadline passes instead of holding the whole process.
#ifndef VQ_STREAMS_SHM_RENDEZVOUS_H
#define VQ_STREAMS_SHM_RENDEZVOUS_H

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "streams/shm/bit_signal.h"
#include "streams/shm/shm_mem.h"

// The connect record, native byte order. The client fills one; the server answers with
// one of the same layout.
struct a_ptshm_connect {
  std::uint16_t record_length;  // 172 in a request; not read in a reply
  std::uint16_t signal_index;   // the sender's slot (0..255) in its bit-signal page
  std::int32_t event_id;        // the sender's System V semaphore set; 0 for none
  std::uint32_t event_number;   // number within that set
  std::uint8_t reserved[8];     // zero
  c_strm_shm_mem signal_mem;    // the sender's bit-signal page
  std::uint32_t pid;            // the sender's (unique) pid
  std::uint32_t ref_id;         // the sender's port reference id
  c_strm_shm_mem commblk_mem;   // the comm block (request only)
};
static_assert(sizeof(a_ptshm_connect) == 172, "connect record: 172 bytes, no padding");
static_assert(offsetof(a_ptshm_connect, signal_index) == 2, "");
static_assert(offsetof(a_ptshm_connect, event_id) == 4, "");
static_assert(offsetof(a_ptshm_connect, event_number) == 8, "");
static_assert(offsetof(a_ptshm_connect, reserved) == 12, "");
static_assert(offsetof(a_ptshm_connect, signal_mem) == 20, "");
static_assert(offsetof(a_ptshm_connect, pid) == 92, "");
static_assert(offsetof(a_ptshm_connect, ref_id) == 96, "");
static_assert(offsetof(a_ptshm_connect, commblk_mem) == 100, "");

// The record as it travels with 64-bit structures.
struct a_ptshm_connect64 {
  a_ptshm_connect record;
  std::uint32_t client_bits;  // 32: the peer reads the record's fields at 32-bit widths
};
static_assert(sizeof(a_ptshm_connect64) == 176, "64-bit connect record: 172 + client_bits");
static_assert(offsetof(a_ptshm_connect64, client_bits) == 172, "");

constexpr std::size_t kRdvRequestHeaderBytes = 20;  // five u32
constexpr std::size_t kRdvReplyHeaderBytes = 16;    // four u32
constexpr std::uint32_t kRdvConnect32 = 1;          // request code: 32-bit structures
constexpr std::uint32_t kRdvConnect64 = 3;          // request code: 64-bit structures
constexpr std::uint32_t kClientBits = 32;

// Results of ExchangeRdvRequest (a non-zero status from the server passes through).
enum : int {
  kRdvOk = 0,
  kRdvNoName = 1,
  kRdvNoSocket = 2,
  kRdvConnectRefused = 3,  // also: the socket path does not fit an AF_UNIX address
  kRdvSendFailed = 4,
  kRdvRecvFailed = 5,      // also: the deadline passed
  kRdvReplyLength = 9,
  kRdvBadVersion = 11,
};

using RdvClock = std::chrono::steady_clock;

// One request and its reply with the server `name` (resource name). `reply` null: no
// reply is read. The error text gets message 25180 for a failed socket call. The whole
// exchange, the wait for another thread's exchange included, ends by `deadline`.
int ExchangeRdvRequest(const char* name, std::uint32_t word0, const void* data,
                       std::uint32_t data_length, void* reply, std::uint32_t reply_length,
                       std::uint32_t request_code, char* err, std::uint32_t err_len,
                       RdvClock::time_point deadline);

// Sends the record with structure version 0 (172 bytes, code 1) or 1 (176 bytes, code
// 3) and reads the server's 172-byte record into *reply. 11 with message 25179 for any
// other version or an exchange that gives 11; otherwise the exchange's result.
int SendConnectRequest(const char* name, const a_ptshm_connect& request, a_ptshm_connect* reply,
                       std::uint32_t version, char* err, std::uint32_t err_len,
                       RdvClock::time_point deadline);

// The exchange under the name, then (for a name of 32 characters or more) under the
// name's hash: 1 when one of them succeeded, else 7.
int Ptshm_Connect(const char* name, const a_ptshm_connect& request, a_ptshm_connect* reply,
                  std::uint32_t version, char* err, std::uint32_t err_len,
                  RdvClock::time_point deadline);

// 1 when the server of the name (or of its hash, for long names) is alive, else 0.
int Ptshm_QueryConnect(const char* name);

// The exchanges' process-wide lock is a static object; these only pair with the stream
// library's start and end.
void StrmInit_RDV();
void StrmFini_RDV();

extern "C" {
// The MD5 digest of the name (without terminator) as 32 lower-case hexadecimal digits
// in `out`, which is zeroed first; needs `out_size` of at least 33 for the terminator
// (32 writes the digits alone). Nothing is written for a null name or a smaller buffer.
void StrmGetEngineNameHash(const char* name, char* out, unsigned int out_size);
}

namespace vq::shm {
// The initial connect time-out: 30 seconds, or VC_INIT_CONN_TIMEOUT when that is a
// larger number. A test may set another value (in milliseconds; 0 restores the rule).
std::chrono::milliseconds RendezvousTimeout();
namespace testing {
void SetRendezvousTimeout(std::chrono::milliseconds limit);
}
}  // namespace vq::shm

#endif  // VQ_STREAMS_SHM_RENDEZVOUS_H

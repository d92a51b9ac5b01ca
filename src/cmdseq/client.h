// The client connection, as far as the request core, the value readers and the error
// blocks use it (the client environment is in cmdseq_env.h). The connection's cursors,
// log attributes and statement cache join the record with the Parts that build them.
#ifndef VQ_CMDSEQ_CLIENT_H
#define VQ_CMDSEQ_CLIENT_H

#include <atomic>
#include <cstdint>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/cmdseq_return.h"
#include "streams/presentation.h"
#include "utils/base/refobj.h"

class UTLangString;
class UTLangStringBase;
class UTLocale;
struct a_cmdseq_cursor;
struct a_cmdseq_error_info;

// Bits of a_cmdseq_conn::status.
constexpr std::uint8_t CS_STATUS_MULTIROW = 0x01;       // multi-row fetch allowed
constexpr std::uint8_t CS_STATUS_CHARSET_GIVEN = 0x02;  // client character set given explicitly
constexpr std::uint8_t CS_STATUS_CHARSET_CHANGED = 0x04;
constexpr std::uint8_t CS_STATUS_NCHARSET_CHANGED = 0x08;
constexpr std::uint8_t CS_STATUS_CONNECTED = 0x10;
constexpr std::uint8_t CS_STATUS_WATCH_111 = 0x20;  // watch for warning 111
constexpr std::uint8_t CS_STATUS_SAW_111 = 0x40;    // warning 111 arrived
constexpr std::uint8_t CS_STATUS_NO_WORK = 0x80;    // no uncommitted work since commit/rollback

// Bits of a_cmdseq_conn::cancel_bits.
constexpr std::uint32_t CS_CANCEL_TO_DRAIN = 0x02;  // an attention was sent; its ack is due
constexpr std::uint32_t CS_CANCEL_SENDING = 0x04;   // a thread is sending an attention now

// Bits of a_cmdseq_conn::flags2.
constexpr std::uint8_t CS_FLAGS2_RESENDING = 0x04;  // pending information requests are resent

// One connection of the protocol. Reference counted: it starts with one reference, and
// i_cs_RemoveConnection drops one. One thread at a time makes requests on it; only
// CmdSeqCancel (cancel_bits, in_request) and the reference count are touched by others.
class a_cmdseq_conn : public c_utils_refobj {
 public:
  a_cmdseq_conn(a_cmdseq_env* env, a_strm_conn strm_conn) noexcept
      : env(env), strm_conn(strm_conn) {}

  // Pending information requests: small requests carried inside the next request and
  // sent again after a cancel. The connection's bookkeeping of them comes with the
  // statement cache; until then there are none to clear or resend.
  void clear_pending_info_reqs(a_cmdseq_error_info* err);
  void resend_pending_info_reqs();

  a_cmdseq_env* env;
  a_strm_conn strm_conn;                       // every item of the connection goes here
  a_cmdseq_cursor* prefetch_cursor = nullptr;  // cursor whose prefetch is in flight
  std::atomic<std::uint32_t> cancel_bits{0};   // CS_CANCEL_*; changed atomically only
  std::atomic<std::uint32_t> in_request{0};    // 1 while a request is in flight
  std::uint16_t server_strm_ver = 0;           // the server's protocol version
  std::uint16_t char_width = 1;                // bytes per character of the client charset
  UTLangStringBase* lang = nullptr;            // the connection's own strings, or null
  // CS_STATUS_*; atomic because CmdSeqCancel reads the connected bit from another thread
  // while the request thread changes other bits.
  std::atomic<std::uint8_t> status{0x11};
  std::uint8_t flags2 = 0;  // CS_FLAGS2_*
  bool closing = false;     // the server closed the connection and its last status is read
};

// Takes the connection out of service: when connected, frees its cursor lists and clears
// CS_STATUS_CONNECTED; then drops one reference (which may delete it).
void i_cs_RemoveConnection(a_cmdseq_conn* conn);
// Resets the block's locale; when connected, disconnects the stream; removes the
// connection. Result 2 when the stream disconnect failed, else 0.
a_cmdseq_return CmdSeqDropConnection(a_cmdseq_conn* conn, a_cmdseq_error_info* err);

// The process's application type, copied from the environment at each connect (1 and 2
// pick variants of string completion).
void i_cs_SetAppType(std::uint32_t app_type);
std::uint32_t i_cs_GetAppType();

#endif  // VQ_CMDSEQ_CLIENT_H

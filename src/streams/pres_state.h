// The presentation layer's state of one session connection and what its files share:
// the long values being sent and received, the item reader and the client files a
// server-driven transfer opened. The session layer makes and frees the state through
// pres_new_conn and pres_del_conn.
#ifndef VQ_STREAMS_PRES_STATE_H
#define VQ_STREAMS_PRES_STATE_H

#include <cstdint>

#include "streams/presentation.h"

class c_strm_sconn;

// One client file opened by the server.
struct a_pres_file {
  std::uint32_t handle;    // chosen by the server
  int fd;
  std::uint64_t position;  // where the next read or write happens
  std::uint8_t flags;      // the open request's flags (0x01 written, 0x04 seek, 0x08 append)
};

struct a_pres_state {
  std::uint8_t sending;    // a long value is being sent
  std::uint8_t receiving;  // a long value is being received
  std::uint8_t new_form;   // the peer takes pieces 195 (stream version above 9)
  std::uint8_t inline_depth;  // >0 while a server message or transfer is handled

  std::uint8_t* send_ptr;        // next byte of the current piece
  std::uint32_t send_remaining;  // bytes of the value still to send
  std::uint16_t send_room;       // room left in the current piece

  const std::uint8_t* recv_ptr;  // next unread byte of the current piece
  std::uint32_t recv_remaining;  // bytes of the value still to receive
  std::uint16_t recv_left;       // bytes left in the current piece
  a_sqlpres_code last_recv_error;

  a_pres_file* files;            // ut_alloc array
  std::uint16_t file_count;
  std::uint16_t file_capacity;
  std::uint8_t* transfer_buffer;  // kPresTransferBytes, made on the first open
};

constexpr std::uint32_t kPresTransferBytes = 128 * 1024;
constexpr std::uint32_t kPresMaxTransfer = 2 * 1024 * 1024;  // most data in one transfer
constexpr std::uint32_t kPresMaxName = 4096;

// Item codes of server messages and transfers.
constexpr std::uint8_t kItemEnd = 0;
constexpr std::uint8_t kItemServerMessage = 2;
constexpr std::uint8_t kItemServerClosed = 64;
constexpr std::uint8_t kItemData = 113;
constexpr std::uint8_t kItemFileHandle = 133;
constexpr std::uint8_t kItemFileLength = 104;
constexpr std::uint8_t kItemTransfer = 140;
constexpr std::uint8_t kItemTransferStatus = 141;

// The session layer's new- and deleted-connection callbacks. pres_new_conn gives a
// connection a zeroed state (one that has a state keeps it) and answers 1.
int pres_new_conn(c_strm_sconn* conn);
// Closes the client files, frees the state and clears the connection's pointer.
void pres_del_conn(c_strm_sconn* conn);
// Pieces 195 when the stream version agreed in the app-connect exchange is above 9.
void i_sqlpres_set_strm_version(a_strm_conn sconn, std::uint32_t version);

namespace vq::strm {

// The next item of the reply: server messages and file transfers met at the outer
// level are handled on the way. 0, 7 for item 64, or a failure.
a_sqlpres_code PresReceiveItem(c_strm_sconn* conn, std::uint8_t* code, std::uint8_t* length,
                               const std::uint8_t** payload);
// Skips `n` raw bytes of the current packet (the bytes after an item 195); 2 when the
// packet holds fewer.
a_sqlpres_code PresSkipRaw(c_strm_sconn* conn, std::uint32_t n, const std::uint8_t** at);
// The diagnostic of a function that failed with `code`.
void PresDiag(c_strm_sconn* conn, const char* function, int code);

// === in file_transfer.cpp ===
// Item 2: the message header was read; reads the text and calls the host's callback.
a_sqlpres_code PresServerMessage(c_strm_sconn* conn, const std::uint8_t* header,
                                 std::uint8_t length);
// Item 140: the 20-byte request was read; reads the rest and answers the server.
a_sqlpres_code PresFileTransfer(c_strm_sconn* conn, const std::uint8_t* request,
                                std::uint8_t length);
// Closes every open client file of the state.
void PresCloseFiles(a_pres_state* state);

}  // namespace vq::strm

#endif  // VQ_STREAMS_PRES_STATE_H

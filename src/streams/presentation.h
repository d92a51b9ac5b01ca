// The presentation layer's C interface: typed items over one session connection.
//
// A request is a run of items closed by a sync point; the reply is read item by item up
// to the next sync point. An item is a length byte L (payload length + 1 for payloads of
// 0 to 250 bytes; 252..255 for the special lengths 251..254, which carry no payload), a
// code byte and the payload. Length 251 announces a long value: an item 192 with the
// u32 total (little-endian), pieces (193, or 195 followed by raw bytes) and an item 194.
// Multi-byte integers the layer writes into payloads are little-endian.
//
// Every function takes the session connection first. Results are presentation codes
// (a_sqlpres_code below). Sending functions end with an encryption flag that matters
// only when the item opens a new packet. One thread at a time works on a connection,
// except SQLPresCancel, which another thread may call while a request is in flight.
#ifndef VQ_STREAMS_PRESENTATION_H
#define VQ_STREAMS_PRESENTATION_H

#include <cstdint>

#include "streams/notifier.h"  // a_strm_conn, the communication connection handle

typedef unsigned int a_strm_encrypt_flag;  // 1: a packet this item opens is encrypted

// Results of the presentation functions.
typedef unsigned int a_sqlpres_code;
constexpr a_sqlpres_code SQLPRES_OK = 0;
constexpr a_sqlpres_code SQLPRES_FAILED = 2;          // protocol error or any other failure
constexpr a_sqlpres_code SQLPRES_NO_ROOM = 3;         // the link was out of room
constexpr a_sqlpres_code SQLPRES_DEAD = 4;            // the connection is dead; ask StrmGetInd
constexpr a_sqlpres_code SQLPRES_BLOCK_FAILED = 5;    // the notifier gave up waiting
constexpr a_sqlpres_code SQLPRES_CANCELLED = 6;       // the server acknowledged an attention
constexpr a_sqlpres_code SQLPRES_SERVER_CLOSED = 7;   // the reader met an item of code 64
constexpr a_sqlpres_code SQLPRES_ENCRYPT_FAILED = 8;  // the send failed in the encryption layer

// Item codes the layer gives a meaning to.
constexpr std::uint8_t SQLPRES_LONG_LENGTH = 251;  // length of an item that opens a long value
constexpr std::uint8_t SQLPRES_MAX_SHORT_PAYLOAD = 250;
constexpr std::uint8_t SQLPRES_ITEM_LONG_HEADER = 192;
constexpr std::uint8_t SQLPRES_ITEM_PIECE = 193;
constexpr std::uint8_t SQLPRES_ITEM_LONG_END = 194;
constexpr std::uint8_t SQLPRES_ITEM_PIECE_RAW = 195;
constexpr std::uint8_t SQLPRES_ITEM_NAME = 134;

// One received item as SQLPresReceiveStruct fills it. The payload is null when the
// length is 0 or above 250, and stays valid until the next read.
struct a_sqlpres_item {
  const std::uint8_t* payload;
  std::uint8_t length;  // payload length, or 251..254 for the special lengths
  std::uint8_t code;
};

// --- Sending ---------------------------------------------------------------------------

// Reserves one item of `length` payload bytes; *payload is where the caller writes them.
a_sqlpres_code SQLPresSend(a_strm_conn sconn, std::uint8_t code, std::uint8_t** payload,
                           std::uint8_t length, a_strm_encrypt_flag flag);
// One item without payload (code 0 is the end-of-list item).
a_sqlpres_code SQLPresSendCommand(a_strm_conn sconn, std::uint8_t code,
                                  a_strm_encrypt_flag flag);
// One item with a 4-byte payload holding `value` (little-endian).
a_sqlpres_code SQLPresSendHandle(a_strm_conn sconn, std::uint8_t code, std::uint32_t value,
                                 a_strm_encrypt_flag flag);
// One item whose payload is a copy of the bytes; more than 250 bytes go as a long value.
a_sqlpres_code SQLPresSendBytes(a_strm_conn sconn, std::uint8_t code, const void* data,
                                std::uint32_t length, a_strm_encrypt_flag flag);
// Item 134 with the text without its terminator; null gives the empty item 134.
a_sqlpres_code SQLPresSendName(a_strm_conn sconn, const char* text, a_strm_encrypt_flag flag);
// Opens a long value of `total` bytes: the item with special length 251, then item 192.
a_sqlpres_code SQLPresSendBegin(a_strm_conn sconn, std::uint8_t code, std::uint32_t total,
                                a_strm_encrypt_flag flag);
// Sends up to `length` bytes of the open long value from *data, advancing *data; bytes
// beyond the announced total are dropped. May be called repeatedly.
a_sqlpres_code SQLPresSendPieceSafe(a_strm_conn sconn, const std::uint8_t** data,
                                    std::uint32_t length, a_strm_encrypt_flag flag);
// Closes the long value with item 194.
a_sqlpres_code SQLPresSendEnd(a_strm_conn sconn, a_strm_encrypt_flag flag);
// Sends the current packet without ending the message.
a_sqlpres_code SQLPresFlush(a_strm_conn sconn);
// Closes the request with a sync point and sends it (both words are passed to the
// session layer; callers pass 0, 0).
a_sqlpres_code SQLPresSyncPoint(a_strm_conn sconn, std::uint32_t word1, std::uint32_t word2);

// --- Receiving -------------------------------------------------------------------------

// The next reply item: code, length and payload (null for length 0 or above 250).
a_sqlpres_code SQLPresReceive(a_strm_conn sconn, std::uint8_t* code, std::uint8_t* length,
                              const std::uint8_t** payload);
// The same, filling a record.
a_sqlpres_code SQLPresReceiveStruct(a_strm_conn sconn, a_sqlpres_item* item);
// Looks at the short items that lie whole in the current packet without reading them:
// up to `max` records, as SQLPresReceiveStruct would fill them, stopping at the end of
// the packet and before any item SQLPresReceive handles itself (a long value, a server
// message, a transfer, the server's closing item). Answers how many; 0 says read with
// SQLPresReceive. The payloads stay valid until the next read. ends[i] (when `ends` is
// not null) gets the bytes from the reader's position to the end of item i.
std::uint32_t SQLPresPeekShortItems(a_strm_conn sconn, a_sqlpres_item* items,
                                    std::uint32_t max, std::uint32_t* ends);
// Reads the shown items up to one of the ends SQLPresPeekShortItems gave, in one step;
// fails (2) and reads nothing when the current packet holds fewer bytes.
a_sqlpres_code SQLPresSkipShortItems(a_strm_conn sconn, std::uint32_t end);
// Reads the item 192 that follows an item of length 251; *total gets the value's length.
a_sqlpres_code SQLPresReceiveBegin(a_strm_conn sconn, std::uint32_t* total);
// Copies up to `capacity` bytes of the long value to *dest, advancing *dest; answers the
// number of bytes copied (0 at the value's end, on an error, or when not in a long value).
std::uint32_t SQLPresReceivePieceSafe(a_strm_conn sconn, std::uint8_t** dest,
                                      std::uint32_t capacity);
// Skips the rest of the long value up to its item 194; answers a presentation code (2
// for a value that ended before its announced total).
a_sqlpres_code SQLPresReceiveEnd(a_strm_conn sconn);
// Non-zero when the reader stands at the end of the reply; otherwise *code gets a
// presentation code (0 when unread items remain).
int SQLPresIsSyncPoint(a_strm_conn sconn, a_sqlpres_code* code);
// Non-zero when the reply to the last sync point has arrived completely; never blocks.
int SQLPresSyncPointArrived(a_strm_conn sconn, a_sqlpres_code* code);
// Discards input up to the end of the current reply (flag 1 after a protocol error, 0 to
// drop an unread reply). With an attention outstanding, waits for its acknowledgement
// first and answers 6.
a_sqlpres_code SQLPresReSync(a_strm_conn sconn, unsigned int flag);

// --- Connection ------------------------------------------------------------------------

// Sends an attention for the request in flight; 0 on success, 2 on failure.
a_sqlpres_code SQLPresCancel(a_strm_conn sconn);
// Ends a request: closes client files a server-driven transfer left open.
void SQLPresFiniRequest(a_strm_conn sconn);
// The name the link connection keeps, or null.
const char* SQLPresGetConnName(a_strm_conn sconn);
// Moves the connection to "connected to a database"; nothing for null.
void SQLPresSetConnectedToDB(a_strm_conn sconn);
// Marks the coming disconnect as a normal one; nothing for null.
void SQLPresSetNormalDisconnect(a_strm_conn sconn);
// Lowers the maximum packet size to `size` when that is smaller; answers the size in force.
// A size below 300, the smallest the peers agree on, is not taken.
std::uint16_t SQLPresSetMaxBufferSize(a_strm_conn sconn, std::uint16_t size);

#endif  // VQ_STREAMS_PRESENTATION_H

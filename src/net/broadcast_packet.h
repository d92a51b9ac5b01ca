// The server discovery packet: a client asks over UDP which server serves a name (or, on
// a fresh TCP connection, asks the server for its name) and servers answer with their
// name, address, port and further facts.
//
// One class builds a packet from its fields (getPacket) and reads a received one into
// its fields (readData). Four kinds in two wire forms: the old text form, a 9-byte tag
// ("STRMBROAD" request, "STRMBRESP" response) and the server name, and the
// CONNECTIONLESS_VQP form, a 32-byte header in the stream protocol's packet framing.
// Both forms may carry a block of tagged sections. All numbers on the wire are
// big-endian.
//
// Reading trusts nothing: every section must lie within the block and the datagram,
// every text must end with its zero byte inside its section, and a malformed datagram
// answers 0 (not a packet); fields read before the fault stay.
#ifndef VQ_NET_BROADCAST_PACKET_H
#define VQ_NET_BROADCAST_PACKET_H

#include <cstdint>

#include "utils/base/list.h"
#include "utils/base/uuid_text.h"

class IPAddress;

enum a_broadcast_pkt_type : std::uint32_t {
  BROADCAST_PKT_UNKNOWN = 0,      // a reader learns the kind from the bytes
  BROADCAST_PKT_STRMBROAD = 1,    // text-form request
  BROADCAST_PKT_STRMBRESP = 2,    // text-form response
  BROADCAST_PKT_VQP_REQUEST = 3,  // CONNECTIONLESS_VQP request
  BROADCAST_PKT_VQP_RESPONSE = 4  // CONNECTIONLESS_VQP response
};

// 0: the text form starts with its tag. Any other value: the text form is written
// without the tag, and such an object refuses to read text-form packets.
using a_broadcast_protocol = std::uint32_t;

enum a_broadcast_flag : std::uint32_t {
  BROADCAST_WITH_HEADER = 0,  // the bytes start with the 8-byte packet header
  BROADCAST_HEADER_TAKEN = 1  // the caller has taken the packet header off
};

// Layout of the CONNECTIONLESS_VQP header.
constexpr unsigned kVqpPacketType = 27;        // connectionless packet of the stream protocol
constexpr unsigned kVqpPacketHeaderBytes = 8;  // type, status, length (BE16), 4 zero bytes
constexpr unsigned kVqpTagBytes = 18;          // "CONNECTIONLESS_VQP"
constexpr unsigned kVqpHeaderBytes = kVqpPacketHeaderBytes + 1 + kVqpTagBytes + 4 + 1;
static_assert(kVqpHeaderBytes == 32, "tag length, tag, number and request/response byte");
constexpr unsigned kTextTagBytes = 9;      // "STRMBROAD" / "STRMBRESP"
constexpr unsigned kBlockHeaderBytes = 6;  // rest length 4, version, section count
constexpr unsigned kSectionCount = 10;     // tags 0 to 9
// A section's length byte holds at most 255: a text keeps at most 254 bytes and its zero.
constexpr unsigned kMaxSectionText = 254;

// The abstract built-packet holder.
class c_strm_pkt : public c_utils_link {
 public:
  c_strm_pkt() = default;
  ~c_strm_pkt() override;
  c_strm_pkt(const c_strm_pkt&) = delete;
  c_strm_pkt& operator=(const c_strm_pkt&) = delete;

  // Reads a received packet into the fields; 1 when it is a packet, else 0.
  virtual unsigned readData(const std::uint8_t* bytes, unsigned length, const IPAddress* sender,
                            a_broadcast_flag flag) = 0;

  // The packet length, computed once.
  unsigned getPacketLength();
  // The built packet, made on first request and kept until reset(); null when memory
  // runs out. Valid until reset() or destruction.
  const std::uint8_t* getPacket();
  // Drops the built bytes; the next getPacket builds again.
  void reset();

 protected:
  // Writes the packet into `out`, which holds getPacketLength() bytes.
  virtual void fillPacket(std::uint8_t* out) = 0;
  virtual unsigned _getPacketLength() = 0;

 private:
  std::uint8_t* packet_ = nullptr;  // owned (ut_malloc)
  unsigned packetLength_ = 0;       // 0 = not computed
};

class c_strm_broadcast_pkt : public c_strm_pkt {
 public:
  // All texts none, port 0, flag byte 1, token 0, size value 1200, no UUID; version 1 for
  // kind 1 and 5 otherwise; sections 0, 1, 3, 4 and 7 for any kind but 0.
  c_strm_broadcast_pkt(a_broadcast_pkt_type kind, const char* serverName,
                       a_broadcast_protocol protocol);
  // The response to `request`: its token, version, protocol and sections; kind 1 becomes
  // 2 and kind 3 becomes 4; a version-1 request carrying section 3 gets version 5.
  explicit c_strm_broadcast_pkt(const c_strm_broadcast_pkt* request);
  ~c_strm_broadcast_pkt() override;

  unsigned readData(const std::uint8_t* bytes, unsigned length, const IPAddress* sender,
                    a_broadcast_flag flag) override;

  // Texts: at most `length` bytes of `text` (all of it for 0xFFFFFFFF), and never more
  // than kMaxSectionText bytes. Each returns 0 when memory runs out.
  unsigned setEngName(const char* text, unsigned length);
  unsigned setAltSrvName(const char* text, unsigned length);  // section 8
  unsigned setDBName(const char* text, unsigned length);      // section 6, also when empty
  // The address text, cut at "%" (section 2).
  unsigned setIPAddress(const char* text);
  // The address's numeric text.
  unsigned setIPAddress(const IPAddress& address);
  // The IPv4 address (host order) and the port (sections 2 and 1).
  unsigned setIPAddress(std::uint32_t ipv4, std::uint16_t port);
  void setDBNSVersion(std::uint16_t version);  // section 5
  void setUUID(const a_uuid& value);           // section 9

  bool hasSection(unsigned tag) const {
    return tag < kSectionCount && (sectionMask >> tag) & 1u;
  }

  // The pieces of the wire form. The writers advance `pos` and lower `room` by what they
  // wrote, and answer false (writing nothing) when `room` is too small.
  unsigned getHeaderLength() const;
  bool getHeader(std::uint8_t*& pos, unsigned& room) const;
  // Payload bytes of a section (its tag and length byte not counted).
  unsigned getSectionLength(unsigned tag) const;
  bool getSection(unsigned tag, bool withTagAndLength, std::uint8_t*& pos,
                  unsigned& room) const;

  char* serverName = nullptr;      // owned; section 0 and the text-form header
  char* altServerName = nullptr;   // owned; section 8 and the text-form header
  char* addressText = nullptr;     // owned, without "%" scope suffix; section 2
  std::uint16_t port = 0;          // section 1
  std::uint8_t flagByte = 1;       // section 3
  std::uint64_t requestToken = 0;  // section 4
  a_broadcast_pkt_type kind;
  std::uint32_t connectionlessNumber = 0;  // after the CONNECTIONLESS_VQP tag
  std::uint16_t version;                   // of the section block; 0 = no block
  std::uint16_t dbnsVersion = 0;           // section 5
  std::uint16_t sizeValue = 1200;          // section 7
  char* dbName = nullptr;                  // owned; section 6
  a_uuid uuid{};                           // section 9
  bool uuidSet = false;
  a_broadcast_protocol protocol;
  std::uint8_t requestResponse = 0;  // CONNECTIONLESS_VQP: 0 request, 1 response
  std::uint16_t sectionMask = 0;     // bit n: section n present

 protected:
  void fillPacket(std::uint8_t* out) override;
  unsigned _getPacketLength() override;

 private:
  bool is_response() const {
    return kind == BROADCAST_PKT_STRMBRESP || kind == BROADCAST_PKT_VQP_RESPONSE;
  }
  bool is_vqp() const {
    return kind == BROADCAST_PKT_VQP_REQUEST || kind == BROADCAST_PKT_VQP_RESPONSE;
  }
  // Sections written: the mask, and section 3 for every response.
  std::uint16_t written_sections() const;
  unsigned read_sections(const std::uint8_t* p, unsigned left);
};

#endif  // VQ_NET_BROADCAST_PACKET_H

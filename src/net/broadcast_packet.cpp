// Building and reading server discovery packets.
#include "net/broadcast_packet.h"

#include <cstring>
#include <initializer_list>

#include "net/ip_address.h"
#include "utils/base/memory.h"

namespace {

const char kVqpTag[] = "CONNECTIONLESS_VQP";
const char kRequestTag[] = "STRMBROAD";
const char kResponseTag[] = "STRMBRESP";
static_assert(sizeof kVqpTag - 1 == kVqpTagBytes, "the tag length byte says 18");
static_assert(sizeof kRequestTag - 1 == kTextTagBytes &&
                  sizeof kResponseTag - 1 == kTextTagBytes,
              "text-form tags are 9 bytes");

// Section tags.
constexpr unsigned kSecName = 0;
constexpr unsigned kSecPort = 1;
constexpr unsigned kSecAddress = 2;
constexpr unsigned kSecFlag = 3;
constexpr unsigned kSecToken = 4;
constexpr unsigned kSecDbnsVersion = 5;
constexpr unsigned kSecDbName = 6;
constexpr unsigned kSecSize = 7;
constexpr unsigned kSecAltName = 8;
constexpr unsigned kSecUuid = 9;
constexpr std::uint16_t kDefaultSections = (1u << kSecName) | (1u << kSecPort) |
                                           (1u << kSecFlag) | (1u << kSecToken) |
                                           (1u << kSecSize);
static_assert(kDefaultSections == 155, "sections 0, 1, 3, 4 and 7");
constexpr unsigned kUuidBytes = 16;
constexpr std::uint16_t kBlockRestBytes = 4;  // version and count after the first field

void store_be16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
void store_be32(std::uint8_t* p, std::uint32_t v) {
  store_be16(p, static_cast<std::uint16_t>(v >> 16));
  store_be16(p + 2, static_cast<std::uint16_t>(v));
}
void store_be64(std::uint8_t* p, std::uint64_t v) {
  store_be32(p, static_cast<std::uint32_t>(v >> 32));
  store_be32(p + 4, static_cast<std::uint32_t>(v));
}
std::uint16_t load_be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t load_be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(load_be16(p)) << 16) | load_be16(p + 2);
}
std::uint64_t load_be64(const std::uint8_t* p) {
  return (static_cast<std::uint64_t>(load_be32(p)) << 32) | load_be32(p + 4);
}

unsigned text_length(const char* text) {
  return text != nullptr ? static_cast<unsigned>(std::strlen(text)) : 0;
}

// A soft copy of at most `length` bytes (0xFFFFFFFF: all) of `text`, never more than
// kMaxSectionText, cut at "%" when `cut_scope`. Replaces *slot; 0 when memory runs out.
unsigned replace_text(char** slot, const char* text, unsigned length, bool cut_scope) {
  ut_free(*slot);
  *slot = nullptr;
  if (text == nullptr) return 1;
  std::size_t n = 0;
  while (n < length && n < kMaxSectionText && text[n] != '\0') ++n;
  if (cut_scope) {
    const void* percent = std::memchr(text, '%', n);
    if (percent != nullptr)
      n = static_cast<std::size_t>(static_cast<const char*>(percent) - text);
  }
  auto* copy = static_cast<char*>(ut_malloc(n + 1));
  if (copy == nullptr) return 0;
  std::memcpy(copy, text, n);
  copy[n] = '\0';
  *slot = copy;
  return 1;
}

// Writes a text and its zero byte (`length` bytes); an absent text writes nothing.
void copy_text(std::uint8_t* out, const char* text, unsigned length) {
  if (text != nullptr && length != 0) std::memcpy(out, text, length);
}

// Reads the text of a section payload: it must end with a zero byte inside the payload.
bool read_text(char** slot, const std::uint8_t* payload, unsigned length, bool cut_scope) {
  ut_free(*slot);
  *slot = nullptr;
  if (length == 0) return true;
  const void* nul = std::memchr(payload, 0, length);
  if (nul == nullptr) return false;
  const auto n = static_cast<unsigned>(static_cast<const std::uint8_t*>(nul) - payload);
  return replace_text(slot, reinterpret_cast<const char*>(payload), n, cut_scope) != 0;
}

}  // namespace

// --- c_strm_pkt ---

c_strm_pkt::~c_strm_pkt() { ut_free(packet_); }

unsigned c_strm_pkt::getPacketLength() {
  if (packetLength_ == 0) packetLength_ = _getPacketLength();
  return packetLength_;
}

const std::uint8_t* c_strm_pkt::getPacket() {
  if (packet_ != nullptr) return packet_;
  const unsigned length = getPacketLength();
  packet_ = static_cast<std::uint8_t*>(ut_malloc(length != 0 ? length : 1));
  if (packet_ == nullptr) return nullptr;
  fillPacket(packet_);
  return packet_;
}

void c_strm_pkt::reset() {
  ut_free(packet_);
  packet_ = nullptr;
  packetLength_ = 0;
}

// --- c_strm_broadcast_pkt: construction and setters ---

c_strm_broadcast_pkt::c_strm_broadcast_pkt(a_broadcast_pkt_type k, const char* name,
                                           a_broadcast_protocol p)
    : kind(k),
      version(k == BROADCAST_PKT_STRMBROAD ? 1 : 5),
      protocol(p),
      sectionMask(k == BROADCAST_PKT_UNKNOWN ? 0 : kDefaultSections) {
  replace_text(&serverName, name, 0xFFFFFFFFu, false);
}

c_strm_broadcast_pkt::c_strm_broadcast_pkt(const c_strm_broadcast_pkt* request)
    : requestToken(request->requestToken),
      kind(request->kind),
      connectionlessNumber(1),
      version(request->version),
      protocol(request->protocol),
      requestResponse(request->requestResponse),
      sectionMask(request->sectionMask) {
  if (kind == BROADCAST_PKT_STRMBROAD) kind = BROADCAST_PKT_STRMBRESP;
  if (kind == BROADCAST_PKT_VQP_REQUEST) {
    kind = BROADCAST_PKT_VQP_RESPONSE;
    if (requestResponse == 0) requestResponse = 1;
  }
  if (request->version == 1 && request->hasSection(kSecFlag)) version = 5;
}

c_strm_broadcast_pkt::~c_strm_broadcast_pkt() {
  ut_free(serverName);
  ut_free(altServerName);
  ut_free(addressText);
  ut_free(dbName);
}

unsigned c_strm_broadcast_pkt::setEngName(const char* text, unsigned length) {
  return replace_text(&serverName, text, length, false);
}

unsigned c_strm_broadcast_pkt::setAltSrvName(const char* text, unsigned length) {
  sectionMask |= 1u << kSecAltName;
  return replace_text(&altServerName, text, length, false);
}

unsigned c_strm_broadcast_pkt::setDBName(const char* text, unsigned length) {
  sectionMask |= 1u << kSecDbName;
  return replace_text(&dbName, text, length, false);
}

unsigned c_strm_broadcast_pkt::setIPAddress(const char* text) {
  sectionMask |= 1u << kSecAddress;
  return replace_text(&addressText, text, 0xFFFFFFFFu, true);
}

unsigned c_strm_broadcast_pkt::setIPAddress(const IPAddress& address) {
  char text[64];
  if (address.toString(text, sizeof text, 0, 0, 0) == 0) text[0] = '\0';
  return setIPAddress(text);
}

unsigned c_strm_broadcast_pkt::setIPAddress(std::uint32_t ipv4, std::uint16_t p) {
  port = p;
  sectionMask |= 1u << kSecPort;
  return setIPAddress(IPAddress(ipv4));
}

void c_strm_broadcast_pkt::setDBNSVersion(std::uint16_t v) {
  dbnsVersion = v;
  sectionMask |= 1u << kSecDbnsVersion;
}

void c_strm_broadcast_pkt::setUUID(const a_uuid& value) {
  uuid = value;
  uuidSet = true;
  sectionMask |= 1u << kSecUuid;
}

// --- building ---

std::uint16_t c_strm_broadcast_pkt::written_sections() const {
  std::uint16_t mask = sectionMask & ((1u << kSectionCount) - 1);
  if (is_response()) mask |= 1u << kSecFlag;
  return mask;
}

unsigned c_strm_broadcast_pkt::getHeaderLength() const {
  if (is_vqp()) return kVqpHeaderBytes;
  unsigned n = protocol == 0 ? kTextTagBytes : 0;
  if (serverName != nullptr) n += text_length(serverName) + 1;
  if (altServerName != nullptr) n += text_length(altServerName) + 1;
  return n;
}

unsigned c_strm_broadcast_pkt::getSectionLength(unsigned tag) const {
  auto text = [](const char* t) { return t != nullptr ? text_length(t) + 1 : 0u; };
  switch (tag) {
    case kSecName:
      return text(serverName);
    case kSecPort:
      return 2;
    case kSecAddress:
      return text(addressText);
    case kSecFlag:
      return 1;
    case kSecToken:
      return 8;
    case kSecDbnsVersion:
      return 2;
    case kSecDbName:
      return text(dbName);
    case kSecSize:
      return 2;
    case kSecAltName:
      return text(altServerName);
    case kSecUuid:
      return uuidSet ? kUuidBytes : 0;
    default:
      return 0;
  }
}

unsigned c_strm_broadcast_pkt::_getPacketLength() {
  unsigned n = getHeaderLength();
  if (version == 0) return n;
  n += kBlockHeaderBytes;
  const std::uint16_t mask = written_sections();
  for (unsigned tag = 0; tag < kSectionCount; ++tag)
    if ((mask >> tag) & 1u) n += 2 + getSectionLength(tag);
  return n;
}

bool c_strm_broadcast_pkt::getHeader(std::uint8_t*& pos, unsigned& room) const {
  const unsigned need = getHeaderLength();
  if (room < need) return false;
  std::uint8_t* p = pos;
  if (is_vqp()) {
    const unsigned total = const_cast<c_strm_broadcast_pkt*>(this)->_getPacketLength();
    p[0] = kVqpPacketType;
    p[1] = 0;
    store_be16(p + 2, static_cast<std::uint16_t>(total));
    std::memset(p + 4, 0, 4);
    p[8] = kVqpTagBytes;
    std::memcpy(p + 9, kVqpTag, kVqpTagBytes);
    store_be32(p + 27, connectionlessNumber);
    p[31] = kind == BROADCAST_PKT_VQP_RESPONSE ? 1 : 0;
  } else {
    if (protocol == 0) {
      std::memcpy(p, kind == BROADCAST_PKT_STRMBRESP ? kResponseTag : kRequestTag,
                  kTextTagBytes);
      p += kTextTagBytes;
    }
    for (const char* text : {serverName, altServerName}) {
      if (text == nullptr) continue;
      const unsigned n = text_length(text) + 1;
      std::memcpy(p, text, n);
      p += n;
    }
  }
  pos += need;
  room -= need;
  return true;
}

bool c_strm_broadcast_pkt::getSection(unsigned tag, bool withTagAndLength, std::uint8_t*& pos,
                                      unsigned& room) const {
  const unsigned length = getSectionLength(tag);
  const unsigned need = length + (withTagAndLength ? 2 : 0);
  if (room < need) return false;
  std::uint8_t* p = pos;
  if (withTagAndLength) {
    *p++ = static_cast<std::uint8_t>(tag);
    *p++ = static_cast<std::uint8_t>(length);  // at most 255: texts are capped
  }
  const bool request = kind == BROADCAST_PKT_STRMBROAD || kind == BROADCAST_PKT_VQP_REQUEST;
  switch (tag) {
    case kSecName:
      copy_text(p, serverName, length);
      break;
    case kSecPort:
      store_be16(p, request ? 0 : port);
      break;
    case kSecAddress:
      copy_text(p, addressText, length);
      break;
    case kSecFlag:
      p[0] = flagByte;
      break;
    case kSecToken:
      store_be64(p, requestToken);
      break;
    case kSecDbnsVersion:
      store_be16(p, dbnsVersion);
      break;
    case kSecDbName:
      copy_text(p, dbName, length);
      break;
    case kSecSize:
      store_be16(p, sizeValue);
      break;
    case kSecAltName:
      copy_text(p, altServerName, length);
      break;
    case kSecUuid:
      if (length != 0) SerializeUUID(&uuid, p);
      break;
    default:
      break;
  }
  pos += need;
  room -= need;
  return true;
}

void c_strm_broadcast_pkt::fillPacket(std::uint8_t* out) {
  unsigned room = _getPacketLength();
  std::uint8_t* pos = out;
  getHeader(pos, room);
  if (version == 0) return;
  const std::uint16_t mask = written_sections();
  unsigned count = 0;
  for (unsigned tag = 0; tag < kSectionCount; ++tag) count += (mask >> tag) & 1u;
  store_be16(pos, kBlockRestBytes);
  store_be16(pos + 2, version);
  store_be16(pos + 4, static_cast<std::uint16_t>(count));
  pos += kBlockHeaderBytes;
  room -= kBlockHeaderBytes;
  for (unsigned tag = 0; tag < kSectionCount; ++tag)
    if ((mask >> tag) & 1u) getSection(tag, true, pos, room);
}

// --- reading ---

unsigned c_strm_broadcast_pkt::readData(const std::uint8_t* bytes, unsigned length,
                                        const IPAddress*, a_broadcast_flag flag) {
  sectionMask = 0;
  flagByte = 0;
  sizeValue = 0;
  if (bytes == nullptr) return 0;
  const std::uint8_t* p = bytes;
  unsigned left = length;

  if (kind == BROADCAST_PKT_UNKNOWN && left >= kTextTagBytes) {
    if (std::memcmp(p, kRequestTag, kTextTagBytes) == 0) {
      kind = BROADCAST_PKT_STRMBROAD;
      protocol = 0;
    } else if (std::memcmp(p, kResponseTag, kTextTagBytes) == 0) {
      kind = BROADCAST_PKT_STRMBRESP;
      protocol = 0;
    }
  }

  if (kind == BROADCAST_PKT_STRMBROAD || kind == BROADCAST_PKT_STRMBRESP) {
    const char* tag = kind == BROADCAST_PKT_STRMBROAD ? kRequestTag : kResponseTag;
    if (protocol != 0 || left < kTextTagBytes || std::memcmp(p, tag, kTextTagBytes) != 0)
      return 0;
    p += kTextTagBytes;
    left -= kTextTagBytes;
    const void* nul = std::memchr(p, 0, left);
    if (nul == nullptr) return 0;
    const auto n = static_cast<unsigned>(static_cast<const std::uint8_t*>(nul) - p);
    if (n == 0) {
      ut_free(serverName);
      serverName = nullptr;
    } else if (replace_text(&serverName, reinterpret_cast<const char*>(p), n, false) == 0) {
      return 0;
    }
    p += n + 1;
    left -= n + 1;
  } else {
    if (flag == BROADCAST_WITH_HEADER) {
      if (left < kVqpPacketHeaderBytes || load_be16(p + 2) != length) return 0;
      p += kVqpPacketHeaderBytes;
      left -= kVqpPacketHeaderBytes;
    }
    if (left < 1 || p[0] != kVqpTagBytes || left - 1 < kVqpTagBytes) return 0;
    if (std::memcmp(p + 1, kVqpTag, kVqpTagBytes) != 0) return 0;
    p += 1 + kVqpTagBytes;
    left -= 1 + kVqpTagBytes;
    if (left < 4) return 0;
    connectionlessNumber = load_be32(p);
    p += 4;
    left -= 4;
    if (left < 1 || p[0] > 1) return 0;
    kind = p[0] == 0 ? BROADCAST_PKT_VQP_REQUEST : BROADCAST_PKT_VQP_RESPONSE;
    requestResponse = p[0];
    p += 1;
    left -= 1;
  }
  return read_sections(p, left);
}

unsigned c_strm_broadcast_pkt::read_sections(const std::uint8_t* p, unsigned left) {
  if (left == 0) {
    version = 0;
    return 1;
  }
  if (left < kBlockHeaderBytes) return 0;
  const unsigned rest = load_be16(p);
  // The rest of the block header holds at least the version and the count.
  if (rest < kBlockRestBytes || rest > left - 2) return 0;
  version = load_be16(p + 2);
  const unsigned count = load_be16(p + 4);
  p += 2 + rest;
  left -= 2 + rest;
  if (count == 0) return left == 0 || version > 5 ? 1 : 0;

  for (unsigned i = 0; i < count; ++i) {
    if (left < 2) return 0;
    const unsigned tag = p[0];
    const unsigned n = p[1];
    if (n > left - 2) return 0;
    const std::uint8_t* payload = p + 2;
    p += 2 + n;
    left -= 2 + n;
    if (tag < kSectionCount) sectionMask |= static_cast<std::uint16_t>(1u << tag);
    // A non-empty payload shorter than its number is malformed: reading the number would
    // run past the section.
    switch (tag) {
      case kSecName:
        if (!read_text(&serverName, payload, n, false)) return 0;
        break;
      case kSecAddress:
        if (!read_text(&addressText, payload, n, true)) return 0;
        break;
      case kSecDbName:
        if (!read_text(&dbName, payload, n, false)) return 0;
        break;
      case kSecAltName:
        if (!read_text(&altServerName, payload, n, false)) return 0;
        break;
      case kSecPort:
        if (n != 0 && n < 2) return 0;
        if (version != 0) port = n == 0 ? 0 : load_be16(payload);
        break;
      case kSecFlag:
        if (n != 0) flagByte = payload[0];
        break;
      case kSecToken:
        if (n != 0 && n < 8) return 0;
        if (n != 0) requestToken = load_be64(payload);
        break;
      case kSecDbnsVersion:
        if (n != 0 && n < 2) return 0;
        if (n != 0) dbnsVersion = load_be16(payload);
        break;
      case kSecSize:
        if (n != 0 && n < 2) return 0;
        if (n != 0) sizeValue = load_be16(payload);
        break;
      case kSecUuid:
        if (n >= kUuidBytes) {
          DeserializeUUID(&uuid, payload);
          uuidSet = true;
        }
        break;
      default:
        break;  // later tags are skipped
    }
    if (kind == BROADCAST_PKT_STRMBRESP && version <= 1 && i == 1) return 1;
  }
  return left == 0 || version > 5 ? 1 : 0;
}

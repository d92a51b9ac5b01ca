// UUID text forms and serialisation.
#include "utils/base/uuid_text.h"

#include <cstring>

namespace {

constexpr char kHex[] = "0123456789abcdef";

char* PutByte(char* out, std::uint8_t b) {
  out[0] = kHex[b >> 4];
  out[1] = kHex[b & 0x0F];
  return out + 2;
}

}  // namespace

extern "C" {

int UUIDToString(const std::uint8_t* bytes, char* out) {
  char* p = out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    p = PutByte(p, bytes[i]);
  }
  *p = '\0';
  return 36;
}

int UUIDToStringCompact(const std::uint8_t* bytes, char* out) {
  char* p = out;
  for (int i = 0; i < 16; ++i) p = PutByte(p, bytes[i]);
  *p = '\0';
  return 32;
}

int SerializeUUID(const a_uuid* uuid, std::uint8_t* out) {
  std::memcpy(out, uuid, sizeof *uuid);
  return 16;
}

int DeserializeUUID(a_uuid* uuid, const std::uint8_t* in) {
  std::memcpy(uuid, in, sizeof *uuid);
  return 16;
}

}  // extern "C"

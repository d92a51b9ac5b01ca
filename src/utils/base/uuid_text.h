// Textual and serialised forms of UUIDs. The text forms print the 16 bytes in storage
// order with the digits "0123456789abcdef"; no field is byte-swapped.
#ifndef VQ_UTILS_BASE_UUID_TEXT_H
#define VQ_UTILS_BASE_UUID_TEXT_H

#include <cstdint>

struct a_uuid {
  std::uint32_t data1;  // processor byte order
  std::uint16_t data2;  // processor byte order
  std::uint16_t data3;  // processor byte order
  std::uint8_t data4[8];
};
static_assert(sizeof(a_uuid) == 16, "a UUID record is 16 bytes with no padding");

extern "C" {

// Groups of 8, 4, 4, 4 and 12 digits separated by "-", terminated; `out` holds 37 bytes.
// Returns 36.
int UUIDToString(const std::uint8_t* bytes, char* out);
// 32 digits, terminated; `out` holds 33 bytes. Returns 32.
int UUIDToStringCompact(const std::uint8_t* bytes, char* out);
// The 16 bytes of the record as it lies in memory, and back. Both return 16.
int SerializeUUID(const a_uuid* uuid, std::uint8_t* out);
int DeserializeUUID(a_uuid* uuid, const std::uint8_t* in);

}  // extern "C"

#endif  // VQ_UTILS_BASE_UUID_TEXT_H

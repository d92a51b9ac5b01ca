// A packed collation order: five 256-byte tables indexed by byte value that drive the
// table-driven collation. The system carries one for each of the first 54 character
// sets of the locale registry (generated at build time from res/collations/); a custom
// collation record brings its own. Weights are unsigned bytes, byte 0 weighs 0, and
// only the lead byte of a multi-byte character has a weight.
#ifndef VQ_UTILS_LOCALE_PACKED_COLLATION_H
#define VQ_UTILS_LOCALE_PACKED_COLLATION_H

#include <cstddef>
#include <cstdint>

// Bits of a character class byte (the fifth table).
enum : std::uint8_t {
  kClassTrailMask = 0x03,  // trail bytes after this lead byte (character length - 1)
  kClassAlpha = 0x20,
  kClassDigit = 0x40,
  kClassSpace = 0x80,
};

struct a_packed_collation_order {
  std::uint8_t case_sensitive[256];    // offset 0: weights when case is respected
  std::uint8_t case_insensitive[256];  // offset 256: weights when case is ignored
  std::uint8_t lower[256];             // offset 512: byte to its lower-case byte
  std::uint8_t upper[256];             // offset 768: byte to its upper-case byte
  std::uint8_t classes[256];           // offset 1024: class byte (bits above)
};
static_assert(sizeof(a_packed_collation_order) == 1280, "a packed order is 1,280 bytes");
static_assert(offsetof(a_packed_collation_order, classes) + 256 == 1280, "five tables");

constexpr int kNumPackedCollationOrders = 54;

// The built-in orders; order i belongs to UTLocale::_charset_info[i].
extern "C" {
extern const a_packed_collation_order _packed_collation_0, _packed_collation_1,
    _packed_collation_2, _packed_collation_3, _packed_collation_4, _packed_collation_5,
    _packed_collation_6, _packed_collation_7, _packed_collation_8, _packed_collation_9,
    _packed_collation_10, _packed_collation_11, _packed_collation_12, _packed_collation_13,
    _packed_collation_14, _packed_collation_15, _packed_collation_16, _packed_collation_17,
    _packed_collation_18, _packed_collation_19, _packed_collation_20, _packed_collation_21,
    _packed_collation_22, _packed_collation_23, _packed_collation_24, _packed_collation_25,
    _packed_collation_26, _packed_collation_27, _packed_collation_28, _packed_collation_29,
    _packed_collation_30, _packed_collation_31, _packed_collation_32, _packed_collation_33,
    _packed_collation_34, _packed_collation_35, _packed_collation_36, _packed_collation_37,
    _packed_collation_38, _packed_collation_39, _packed_collation_40, _packed_collation_41,
    _packed_collation_42, _packed_collation_43, _packed_collation_44, _packed_collation_45,
    _packed_collation_46, _packed_collation_47, _packed_collation_48, _packed_collation_49,
    _packed_collation_50, _packed_collation_51, _packed_collation_52, _packed_collation_53;
}

// The same orders by index.
extern const a_packed_collation_order* const kPackedCollationOrders[kNumPackedCollationOrders];

#endif  // VQ_UTILS_LOCALE_PACKED_COLLATION_H

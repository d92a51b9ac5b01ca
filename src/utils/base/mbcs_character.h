// One multibyte character as the byte streams read it: its bytes, its length, and the
// character-class table that tells a lead byte's number of trail bytes (bits 0 and 1).
//
// XXX: the collation code will own this type (its implementation pointer carries the
// class table and it adds case conversion); until it does, the table is held directly.
#ifndef VQ_UTILS_BASE_MBCS_CHARACTER_H
#define VQ_UTILS_BASE_MBCS_CHARACTER_H

struct an_mbcs_character {
  const unsigned char* classes = nullptr;  // 256 entries; null: every byte is a character
  unsigned char bytes[4] = {};             // the character's bytes
  unsigned char length = 0;                // bytes held, 0 to 4
  unsigned char flags[2] = {};             // cleared by case conversion
};

#endif  // VQ_UTILS_BASE_MBCS_CHARACTER_H

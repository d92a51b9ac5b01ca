// One multibyte character: the collation implementation that classifies and case-maps
// it, its bytes and their count. The byte streams read characters with the
// character-class table (bits 0 and 1 of a lead byte's entry give its trail bytes);
// case conversion goes through the implementation.
#ifndef VQ_UTILS_BASE_MBCS_CHARACTER_H
#define VQ_UTILS_BASE_MBCS_CHARACTER_H

class UTCollationImplementationBase;

struct an_mbcs_character {
  UTCollationImplementationBase* impl = nullptr;  // case mapping; may be null
  const unsigned char* classes = nullptr;  // 256 entries; null: every byte is a character
  unsigned char bytes[4] = {};             // the character's bytes
  unsigned char length = 0;                // bytes held, 0 to 4
  unsigned char flags[2] = {};             // cleared by case conversion

  // Replace the held character by its lower or upper case under `impl` (the first
  // character of the mapping, at most 4 bytes), clear both flags and return the new
  // length. Without an implementation the character stays as it is. Defined with the
  // collations (the text and locale library).
  unsigned tolower();
  unsigned toupper();
};

#endif  // VQ_UTILS_BASE_MBCS_CHARACTER_H

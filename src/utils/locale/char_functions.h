// Byte-by-byte character functions in the operating system's character set: for every
// byte its upper- and lower-case byte and the length of the character it starts. Only
// the double-byte lead bytes of Shift_JIS, Windows-31J, GBK and GB18030 are known;
// every other character set is treated as single-byte (GB18030's four-byte sequences
// are stepped as two two-byte characters, since only the lead byte is examined).
//
// The process keeps one table, LSCharFunctions. init() fills it from the environment
// once, during environment set-up before other threads use it; afterwards it is only
// read. Before init() every byte is a one-byte character without case. Filling the
// process's table also makes the base utilities' path and string functions step by its
// character lengths.
#ifndef VQ_UTILS_LOCALE_CHAR_FUNCTIONS_H
#define VQ_UTILS_LOCALE_CHAR_FUNCTIONS_H

#include <cstdint>

// One byte's entry.
struct a_ls_char_entry {
  std::uint8_t upper;   // upper-case byte, 0 when the byte is not a letter
  std::uint8_t lower;   // lower-case byte, 0 likewise
  std::uint8_t length;  // character length (1 or 2) in the low 3 bits
  std::uint8_t unused;
};
static_assert(sizeof(a_ls_char_entry) == 4, "four bytes per byte value");

class LS_CharFunctions {
 public:
  constexpr LS_CharFunctions() : table_{}, initialised_(0), multibyte_(0) {}

  // Fills the table from the OS character set (with the environment) and the C
  // library's letter classes; later calls do nothing.
  void init();
  // The table stays valid until the library unloads.
  void fini() {}

  // The start of the character that ends just before p; p itself when p is start.
  const unsigned char* prevChar(const unsigned char* start, const unsigned char* p) const;

  unsigned char upperChar(unsigned char c) const { return table_[c].upper; }
  unsigned char lowerChar(unsigned char c) const { return table_[c].lower; }
  // 1 or 2; a table that is not yet filled gives 1.
  unsigned int charLength(unsigned char c) const {
    const unsigned int n = table_[c].length & 7u;
    return n != 0 ? n : 1;
  }
  bool isMultibyte() const { return multibyte_ != 0; }
  bool isInitialised() const { return initialised_ != 0; }

 private:
  a_ls_char_entry table_[256];
  std::uint8_t initialised_;
  std::uint8_t multibyte_;  // at least one byte is a lead byte
};

extern LS_CharFunctions LSCharFunctions;

#endif  // VQ_UTILS_LOCALE_CHAR_FUNCTIONS_H

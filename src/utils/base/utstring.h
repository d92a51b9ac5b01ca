// UTString: the growable byte string used where texts are assembled step by step
// (connection-string lists, key=value parsing, option texts).
//
// An empty string holds no memory at all: its text is null, its length and capacity 0, and
// assigning or appending an empty or null text never allocates. So an empty UTString
// compares equal to a null pointer and unequal to "". Appends grow the text to exactly the
// size needed; build short texts only. Text memory comes from ut_alloc/ut_realloc, so an
// allocation failure ends the process as everywhere else in the library.
#ifndef VQ_UTILS_BASE_UTSTRING_H
#define VQ_UTILS_BASE_UTSTRING_H

#include <cstddef>

// A heap handle carried along by strings for callers that pass one; no memory is taken
// from it.
class UTHeap {};

class UTString {
 public:
  UTString();
  explicit UTString(const char* text);
  UTString(const UTString& other);
  explicit UTString(UTHeap* heap);
  UTString(UTHeap* heap, const char* text);
  UTString(UTHeap* heap, const UTString& other);
  virtual ~UTString();

  // Releases the old text; a null or empty text leaves the string empty, otherwise exactly
  // length + 1 bytes are allocated.
  UTString& operator=(const char* text);
  UTString& operator=(const UTString& other);
  void clear();

  // Appends a text, a character, a number in decimal, or another string's text.
  UTString& operator+=(const char* text);
  UTString& operator+=(char c);
  UTString& operator+=(int value) { return *this += static_cast<long>(value); }
  UTString& operator+=(unsigned value) { return *this += static_cast<unsigned long>(value); }
  UTString& operator+=(long value);
  UTString& operator+=(unsigned long value);
  UTString& operator+=(long long value);
  UTString& operator+=(unsigned long long value);
  UTString& operator+=(const UTString& other) { return *this += other.data_; }
  template <typename T>
  UTString& operator<<(const T& value) {
    return *this += value;
  }
  UTString& operator<<(const char* text) { return *this += text; }

  // A copy of this string with the argument appended.
  template <typename T>
  UTString operator+(const T& value) const {
    UTString result(*this);
    result += value;
    return result;
  }
  UTString operator+(const char* text) const {
    UTString result(*this);
    result += text;
    return result;
  }

  // Both null: equal; one null: unequal; else strcmp (eqi: strcasecmp).
  bool operator==(const char* text) const;
  bool operator!=(const char* text) const { return !(*this == text); }
  bool operator==(const UTString& other) const { return *this == other.data_; }
  bool operator!=(const UTString& other) const { return !(*this == other.data_); }
  bool eqi(const char* text) const;
  bool eqi(const UTString& other) const { return eqi(other.data_); }

  // The byte at `i`, or 0 when `i` (taken as unsigned) is not below the length.
  char operator[](int i) const;

  const char* data() const { return data_; }  // null while empty
  std::size_t length() const { return length_; }
  std::size_t capacity() const { return capacity_; }  // bytes held, terminator included
  UTHeap* heap() const { return heap_; }

 private:
  void Release();

  char* data_ = nullptr;
  std::size_t length_ = 0;
  std::size_t capacity_ = 0;
  UTHeap* heap_ = nullptr;
  bool owns_heap_ = false;
};

#endif  // VQ_UTILS_BASE_UTSTRING_H

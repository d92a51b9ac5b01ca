// UTString.
#include "utils/base/utstring.h"

#include <strings.h>

#include <cstring>
#include <new>

#include "utils/base/memory.h"
#include "utils/base/number_conversion.h"

namespace {

// A string's own heap handle. The handle is never used for memory, so a failed
// allocation of it leaves the string without one and changes nothing else.
UTHeap* NewHeap() { return new (std::nothrow) UTHeap(); }

}  // namespace

UTString::UTString() : heap_(NewHeap()), owns_heap_(true) {}

UTString::UTString(const char* text) : UTString() { *this = text; }

UTString::UTString(const UTString& other) : UTString() { *this = other; }

UTString::UTString(UTHeap* heap) : heap_(heap) {}

UTString::UTString(UTHeap* heap, const char* text) : heap_(heap) { *this = text; }

UTString::UTString(UTHeap* heap, const UTString& other) : heap_(heap) { *this = other; }

UTString::~UTString() {
  Release();
  if (owns_heap_) delete heap_;
}

void UTString::Release() {
  ut_free(data_);
  data_ = nullptr;
  length_ = 0;
  capacity_ = 0;
}

void UTString::clear() { Release(); }

UTString& UTString::operator=(const char* text) {
  // The text may lie inside our own buffer: copy it before the buffer goes.
  const std::size_t len = text == nullptr ? 0 : std::strlen(text);
  char* copy = nullptr;
  if (len > 0) {
    copy = static_cast<char*>(ut_alloc(len + 1));
    std::memcpy(copy, text, len + 1);
  }
  Release();
  data_ = copy;
  length_ = len;
  capacity_ = len > 0 ? len + 1 : 0;
  return *this;
}

UTString& UTString::operator=(const UTString& other) {
  if (this == &other) return *this;
  Release();
  if (other.data_ != nullptr) {
    data_ = static_cast<char*>(ut_alloc(other.capacity_));
    std::memcpy(data_, other.data_, other.capacity_);
    length_ = other.length_;
    capacity_ = other.capacity_;
  }
  return *this;
}

UTString& UTString::operator+=(const char* text) {
  if (text == nullptr || text[0] == '\0') return *this;
  if (data_ == nullptr) return *this = text;
  const std::size_t add = std::strlen(text);
  const std::size_t needed = length_ + add + 1;
  if (needed > capacity_) {
    // `text` may point into our buffer, which the resize can move.
    const bool inside = text >= data_ && text < data_ + capacity_;
    const std::size_t offset = inside ? static_cast<std::size_t>(text - data_) : 0;
    data_ = static_cast<char*>(ut_realloc(data_, needed));
    capacity_ = needed;
    if (inside) text = data_ + offset;
  }
  std::memmove(data_ + length_, text, add);
  length_ += add;
  data_[length_] = '\0';
  return *this;
}

UTString& UTString::operator+=(char c) {
  const char text[2] = {c, '\0'};
  return *this += text;
}

UTString& UTString::operator+=(long value) {
  char buf[kU64TextBytes + 1];
  return *this += i64toa(value, buf, 10);
}

UTString& UTString::operator+=(unsigned long value) {
  char buf[kU64TextBytes];
  return *this += u64toa(value, buf, 10);
}

UTString& UTString::operator+=(long long value) {
  char buf[kU64TextBytes + 1];
  return *this += i64toa(value, buf, 10);
}

UTString& UTString::operator+=(unsigned long long value) {
  char buf[kU64TextBytes];
  return *this += u64toa(value, buf, 10);
}

bool UTString::operator==(const char* text) const {
  if (data_ == nullptr || text == nullptr) return data_ == text;
  return std::strcmp(data_, text) == 0;
}

bool UTString::eqi(const char* text) const {
  if (data_ == nullptr || text == nullptr) return data_ == text;
  return ::strcasecmp(data_, text) == 0;
}

char UTString::operator[](int i) const {
  const auto index = static_cast<unsigned>(i);
  return index < length_ ? data_[index] : '\0';
}

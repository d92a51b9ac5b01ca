// UTF-16 text at the wide entry points: the application's text converted into the
// connection's character set for the narrow implementations, and the implementations'
// narrow text converted back into the application's UTF-16 buffers.
//
// Narrow copies live in buffers of the conversion pool (string_pool.h) and go back to it
// when the call ends. Every function runs under the lock the call framing holds for the
// handle and records its diagnostics there; nothing here throws.
#ifndef VQ_ODBC_WIDE_TEXT_H
#define VQ_ODBC_WIDE_TEXT_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

struct tagOBJECT;

// Code units before the first 0 (null: 0).
SQLINTEGER WCHARLEN(const SQLWCHAR* text);

// The most bytes one UTF-16 code unit of the handle's text can become: the connection's
// charset once it is connected, the environment's before (and for an environment).
std::uint8_t WideFactor(tagOBJECT* handle);

// Converts `length` code units of `text` (SQL_NTS: up to the first 0) into a pool buffer
// in the connection's character set, NUL-terminated; *out receives it (give it back with
// StringFree) and *out_length its length in bytes. A null text gives a null buffer and
// length 0. False, with *out null and the state posted on `handle`, when the length is
// negative other than SQL_NTS (HY090), memory runs out (HY001) or a character has no
// form in that character set or the text is not well-formed UTF-16 (22018): a character
// is never silently replaced.
bool convertFromUnicode(tagOBJECT* handle, const SQLWCHAR* text, SQLINTEGER length, char** out,
                        SQLINTEGER* out_length);

// A narrow buffer standing in for a wide output of `byte_length` bytes: (byte_length / 2)
// x factor bytes from the pool, *size receiving that size. A byte length of 0 (or less)
// gives null and size 0; null with HY001 posted when memory runs out.
char* AllocateBuffer(tagOBJECT* handle, std::uint8_t factor, SQLINTEGER byte_length,
                     SQLINTEGER* size);

// Converts `text_bytes` bytes of the handle's character set into UTF-16 at `out`
// (`out_bytes` bytes, used in whole code units; null or too small: nothing written).
// *characters receives the length of the whole conversion in code units, whether or not
// it fitted, *bytes_used the bytes written to `out`. 0, or -1 when the handle has no
// converter (nothing written).
int CharSetToUnicode(tagOBJECT* handle, SQLWCHAR* out, SQLINTEGER out_bytes, const char* text,
                     SQLINTEGER text_bytes, SQLINTEGER* characters, SQLINTEGER* bytes_used);

// Returns narrow text to an application's UTF-16 buffer of `out_bytes` bytes. A null text
// is empty; SQL_NTS measures it. `beyond` counts narrow bytes of the full text that the
// implementation could not hand over (each stands for at most one code unit).
// - out_bytes negative with a buffer: HY090 (when `warn`), result -1.
// - *length_out (when given) receives the full length in bytes; without a buffer that is
//   all (result 0).
// - when the text and its terminator do not fit: 01004 (when `warn`, the handle is not an
//   environment and holds no 01004 yet), the last whole code unit of the buffer becomes
//   the terminator (never a lone high surrogate before it), result 1.
// - otherwise a terminator follows the text, result 0.
int ReturnStringW(tagOBJECT* handle, SQLWCHAR* out, SQLINTEGER out_bytes,
                  SQLINTEGER* length_out, const char* text, SQLINTEGER text_length, bool warn,
                  SQLINTEGER beyond = 0);
// The caller's return code, unless the conversion returned non-zero.
SQLRETURN ReturnStringW(SQLRETURN rc, tagOBJECT* handle, SQLWCHAR* out, SQLINTEGER out_bytes,
                        SQLINTEGER* length_out, const char* text, SQLINTEGER text_length,
                        bool warn);

namespace vq::odbc {

// One text argument of a wide call in its narrow form; the buffer goes back to the pool
// when the argument ends, zero-filled first for a secret (passwords, connection strings).
class NarrowArg {
 public:
  explicit NarrowArg(bool secret = false) : secret_(secret) {}
  ~NarrowArg();
  NarrowArg(const NarrowArg&) = delete;
  NarrowArg& operator=(const NarrowArg&) = delete;

  // convertFromUnicode of the argument; false when it failed (state posted).
  bool Convert(tagOBJECT* handle, const SQLWCHAR* text, SQLINTEGER length);
  const SQLCHAR* text() const { return reinterpret_cast<const SQLCHAR*>(text_); }
  SQLINTEGER length() const { return length_; }
  // The same for an implementation whose length argument is 16-bit: a narrow form longer
  // than SHRT_MAX bytes is refused with HY090.
  bool ConvertShort(tagOBJECT* handle, const SQLWCHAR* text, SQLINTEGER length);
  SQLSMALLINT short_length() const { return static_cast<SQLSMALLINT>(length_); }

 private:
  char* text_ = nullptr;
  SQLINTEGER length_ = 0;
  bool secret_;
};

// The narrow buffer of one wide output: room for what the caller's `wide_bytes` can take
// and never less than 1 KB. `narrow_cap` bounds its size to what the implementation's
// length argument can express (SHRT_MAX for 16-bit lengths).
class NarrowOut {
 public:
  NarrowOut(tagOBJECT* handle, std::uint8_t factor, SQLINTEGER wide_bytes,
            SQLINTEGER narrow_cap, bool secret = false);
  ~NarrowOut();
  NarrowOut(const NarrowOut&) = delete;
  NarrowOut& operator=(const NarrowOut&) = delete;

  // True when the buffer could not be had (HY001 posted).
  bool failed() const { return failed_; }
  char* data() const { return data_; }
  SQLINTEGER size() const { return size_; }

  // Converts the implementation's text (it reported `reported` bytes, the full length)
  // into the caller's buffer by ReturnStringW; never reads past this buffer.
  int Return(tagOBJECT* handle, SQLWCHAR* out, SQLINTEGER out_bytes, SQLINTEGER* length_out,
             SQLINTEGER reported, bool warn) const;

 private:
  char* data_ = nullptr;
  SQLINTEGER size_ = 0;
  bool failed_ = false;
  bool secret_;
};

}  // namespace vq::odbc

#endif  // VQ_ODBC_WIDE_TEXT_H

// The host side of crypto errors and locks: DBVCCIError, the error argument of every
// crypto-environment operation and the last error of every provider object, which
// turns its code into a message in the client's language; and DBVCCIMutex, which
// adapts the host's mutex callbacks for the wrappers and the TLS adapter.
//
// An error's parameters are host copies (ut_strdup), whatever allocated the provider
// record they came from. Once createMutex has installed a host mutex, every operation
// takes it; no operation takes it twice, and CloneFrom never holds two error mutexes.
#ifndef VQ_SECURITY_VCCI_ERROR_H
#define VQ_SECURITY_VCCI_ERROR_H

#include <cstdint>

#include "security/vcci_interface.h"

class DBVCCIEnvironment;
class UTLangStringBase;

// Error codes. The numbers are shared with the providers and never change.
enum : std::uint32_t {
  kVCCIErrNone = 0,
  kVCCIErrNoMemory = 1,        // allocation failed; stream Init without a provider stream
  kVCCIErrKeySetup = 7,        // the cipher refused the key (sub-code: detail)
  kVCCIErrTlsTimeout = 8,      // TLS time limit after the handshake
  kVCCIErrTlsServerWrite = 9,  // write on a server side before its handshake
  kVCCIErrTlsNoData = 10,      // TLS: no data available
  kVCCIErrTlsClosed = 12,      // TLS connection shut down or closed
  kVCCIErrTlsHandshakeTimeout = 17,
  kVCCIErrUnknownCipher = 21,  // unknown stream or block-encrypter algorithm
  kVCCIErrUnknownHasher = 22,  // unknown hasher algorithm
  kVCCIErrOptionNotUsed = 23,
  kVCCIErrFipsModule = 25,  // FIPS module or its vendor library missing (parm: file)
  kVCCIErrModule = 26,      // module missing, not loadable or incomplete (parm: file)
  kVCCIErrVersion = 27,     // module version not accepted
  kVCCIErrNoKey = 29,       // block encrypter without a key
  kVCCIErrFipsDisabled = 31,
  kVCCIErrEccWithFips = 33,
  kVCCIErrInternal = 34,  // copy from no source, cipher or buffer-size failure
};

// Locks nothing: the mutex of an error that has no environment.
class DBVCCIBaseMutex {
 public:
  DBVCCIBaseMutex() = default;
  virtual ~DBVCCIBaseMutex();
  DBVCCIBaseMutex(const DBVCCIBaseMutex&) = delete;
  DBVCCIBaseMutex& operator=(const DBVCCIBaseMutex&) = delete;
  virtual void get() {}
  virtual void give() {}
};

// A mutex made through the host callbacks; without a create slot (or when it returns
// null) it locks nothing. Not recursive unless the host's mutex is.
class DBVCCIMutex : public DBVCCIBaseMutex {
 public:
  DBVCCIMutex(const a_vcci_callbacks* callbacks, void* context);
  ~DBVCCIMutex() override;
  void get() override;
  void give() override;

 private:
  void* handle_ = nullptr;                       // from the host's create slot
  const a_vcci_callbacks* callbacks_ = nullptr;  // not owned
  void* context_ = nullptr;                      // host context
};

class DBVCCIError {
 public:
  DBVCCIError();
  ~DBVCCIError();
  DBVCCIError(const DBVCCIError&) = delete;
  DBVCCIError& operator=(const DBVCCIError&) = delete;

  // Code and sub-code 0, no parameters.
  void Clear();
  // Sets code and sub-code, keeping the parameters.
  void Set(std::uint32_t code, std::uint32_t sub_code = 0);
  // Appends a copy of the text; null is ignored.
  void AddParm(const char* text);
  // The i-th parameter (from 0), or null when there are not that many.
  const char* GetParm(int i) const;
  std::uint32_t GetCode() const;
  std::uint32_t GetSubCode() const;

  // Writes the error's message into buffer (size bytes, terminator included): the
  // message of the code, with `parm` (or, when null, the first parameter) or the
  // sub-code as its argument. Code 0 and unknown messages leave an empty text. Does
  // nothing without a buffer, a size or a message catalog.
  void GetString(UTLangStringBase* messages, char* buffer, unsigned size,
                 const char* parm) const;

  // Makes this error a deep copy of another; null gives code 34, sub-code 0.
  void CloneFrom(const DBVCCIError* other);
  // Makes this error a deep copy of a provider record, under the mutex when `lock` is
  // non-zero; a null record gives code 34, sub-code 0, no parameters.
  void _CloneFrom(const a_vcci_error* source, unsigned lock);

  // Replaces the mutex by one made from the environment's host callbacks.
  void createMutex(DBVCCIEnvironment* env);

  // The message number of the code (0 for none); the flags say whether the message
  // takes the parameter or the sub-code as its argument.
  unsigned long _getTlsErrorId(unsigned* use_parameter, unsigned* use_subcode) const;

  // The record itself (read it under no other thread's changes).
  const a_vcci_error& record() const { return error_; }

 private:
  void free_parms();  // caller holds the mutex
  void copy_record(const a_vcci_error& source);

  a_vcci_error error_{};              // parameters: ut_strdup copies, array by ut_realloc
  DBVCCIBaseMutex* mutex_ = nullptr;  // owned
};

#endif  // VQ_SECURITY_VCCI_ERROR_H

// Host wrappers around provider objects: each holds the provider object, the slot whose
// tables drive it, and a DBVCCIError (locked through the host callbacks) that receives
// the provider's last error.
//
// Only DBVCCIEnvironment and DBVCCIStream::CreateConn make wrappers; their owners
// delete them, a stream's connections before the stream, all of them before the
// environment's Fini. Calls forward to the provider; algorithm numbers are cut to their
// low byte. An operation the provider left out (a null slot) is never called: it
// answers 1 (queries 0) and sets code 34 in the wrapper's error.
#ifndef VQ_SECURITY_VCCI_OBJECTS_H
#define VQ_SECURITY_VCCI_OBJECTS_H

#include <cstdint>

#include "security/vcci_environment.h"
#include "security/vcci_error.h"
#include "security/vcci_interface.h"

class DBVCCIStreamConn;

class DBVCCIStream {
 public:
  DBVCCIStream(void* stream, DBVCCIInterface* iface, DBVCCIEnvironment* env);
  ~DBVCCIStream();
  DBVCCIStream(const DBVCCIStream&) = delete;
  DBVCCIStream& operator=(const DBVCCIStream&) = delete;

  // Keeps the side, then the provider's Init: 0 on success. Without a provider stream:
  // code 1 and result 1.
  unsigned Init(a_vcci_side side, _a_vcci_user_option* options);
  unsigned Fini();
  unsigned char GetAlgorithmID() const;
  DBVCCIError* GetLastError();
  const a_vcci_version& GetVCCIVersion() const { return iface_->version; }
  a_vcci_side GetSide() const { return side_; }
  // A new connection wrapper, or null with `error` holding the provider's error.
  DBVCCIStreamConn* CreateConn(const a_vcci_conn_callbacks* callbacks,
                               _a_vcci_user_option* options, void* context, DBVCCIError* error);

 private:
  void* stream_;
  DBVCCIInterface* iface_;  // not owned
  DBVCCIError error_;
  DBVCCIEnvironment* env_;  // not owned; makes the connections' mutexes
  a_vcci_side side_ = VCCI_SIDE_CLIENT;
};

class DBVCCIStreamConn {
 public:
  DBVCCIStreamConn(void* conn, DBVCCIInterface* iface, DBVCCIEnvironment* env);
  ~DBVCCIStreamConn();
  DBVCCIStreamConn(const DBVCCIStreamConn&) = delete;
  DBVCCIStreamConn& operator=(const DBVCCIStreamConn&) = delete;

  // 0 done, 2 would block, 3 closed, anything else an error (see GetLastError).
  unsigned Read(unsigned char* buffer, unsigned length, unsigned* count_read);
  unsigned Write(const unsigned char* bytes, unsigned length);
  unsigned FlushWrites();
  DBVCCIError* GetLastError();

 private:
  void* conn_;
  DBVCCIInterface* iface_;  // not owned
  DBVCCIError error_;
};

class DBVCCIBlockEncrypter {
 public:
  DBVCCIBlockEncrypter(void* encrypter, DBVCCIInterface* iface, std::uint32_t slot,
                       DBVCCIEnvironment* env);
  ~DBVCCIBlockEncrypter();
  DBVCCIBlockEncrypter(const DBVCCIBlockEncrypter&) = delete;
  DBVCCIBlockEncrypter& operator=(const DBVCCIBlockEncrypter&) = delete;

  unsigned char GetAlgorithmID();
  // In place; 0 on success, else the error is in GetLastError().
  unsigned Encrypt(unsigned char* buffer, unsigned length, std::uint32_t iv_word);
  unsigned Decrypt(unsigned char* buffer, unsigned length, std::uint32_t iv_word);
  unsigned GetBlockSize();
  DBVCCIError* GetLastError();
  // The FIPS module's file name when the encrypter lives on slot 3, else null.
  const char* GetDLLName() const;
  const a_vcci_version& GetVCCIVersion() const { return iface_->version; }

 private:
  void* encrypter_;
  DBVCCIInterface* iface_;  // not owned
  std::uint32_t slot_;      // _iface_index
  DBVCCIError error_;
};

class DBVCCIBlockHasher {
 public:
  DBVCCIBlockHasher(void* hasher, DBVCCIInterface* iface, DBVCCIEnvironment* env);
  ~DBVCCIBlockHasher();
  DBVCCIBlockHasher(const DBVCCIBlockHasher&) = delete;
  DBVCCIBlockHasher& operator=(const DBVCCIBlockHasher&) = delete;

  unsigned char GetAlgorithmID();
  unsigned GetMaxHashSize();
  unsigned GetBlockSize();
  unsigned BeginHash();
  unsigned AddData(const unsigned char* data, unsigned length);
  unsigned EndHash(unsigned char* out, unsigned size);
  DBVCCIError* GetLastError();
  const a_vcci_version& GetVCCIVersion() const { return iface_->version; }

 private:
  void* hasher_;
  DBVCCIInterface* iface_;  // not owned
  DBVCCIError error_;
};

class DBVCCIPasswordHasher {
 public:
  DBVCCIPasswordHasher(void* hasher, DBVCCIInterface* iface, DBVCCIEnvironment* env);
  ~DBVCCIPasswordHasher();
  DBVCCIPasswordHasher(const DBVCCIPasswordHasher&) = delete;
  DBVCCIPasswordHasher& operator=(const DBVCCIPasswordHasher&) = delete;

  unsigned char GetAlgorithmID();
  unsigned GetMaxHashSize();
  unsigned Hash(const unsigned char* in, unsigned length, unsigned char* out, unsigned size);
  DBVCCIError* GetLastError();
  const a_vcci_version& GetVCCIVersion() const { return iface_->version; }

 private:
  void* hasher_;
  DBVCCIInterface* iface_;  // not owned
  DBVCCIError error_;
};

#endif  // VQ_SECURITY_VCCI_OBJECTS_H

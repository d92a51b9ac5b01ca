// How a client/server stream is protected: not at all, by the simple scrambling level, or
// by TLS with one of three provider types. Read from the Encryption connection parameter,
// whose value is a connection-string list: "none", "simple", "tls(tls_type=ecc;fips=yes)".
// Besides the number the level keeps its parameter text, which the TLS set-up parses
// again against MapTLSOptionTable.
#ifndef VQ_CONFIG_ENCRYPT_LEVEL_H
#define VQ_CONFIG_ENCRYPT_LEVEL_H

#include <cstdint>

#include "utils/base/list.h"

enum : std::uint32_t {
  kEncryptNone = 0,
  kEncryptSimple = 1,
  kEncryptEccTls = 2,
  kEncryptRsaTls = 3,
  kEncryptRsaTlsFips = 4,
};

class c_encrypt_level : public c_utils_link {
 public:
  // Level `number` (set), TLS for 2..4, parameter text a copy of `parms`. Write the number
  // unsigned (0u): a plain 0 would also convert to a null name.
  c_encrypt_level(std::uint32_t number, const char* parms);
  // All fields cleared, then set_level(name, parms).
  c_encrypt_level(const char* name, const char* parms);
  // Number, set and TLS flags, name and parameter texts; the error text starts null.
  c_encrypt_level(const c_encrypt_level& other);
  // Takes the other's number through set_level(number) (so the level is set whatever the
  // other's set flag) and a copy of its parameter text; name and error texts stay.
  c_encrypt_level& operator=(const c_encrypt_level& other);
  ~c_encrypt_level() override;

  void set_level(std::uint32_t number);
  // Replaces the parameter text by a copy (null clears it); false when memory runs out.
  bool set_parms(const char* text);
  // Sets the level from a name ("none", "simple", "tls", any case) and its parameters.
  // False for an unknown name (level none, the name kept as the error text), for TLS
  // parameters that do not parse or an unknown tls_type (level unset, the type kept as
  // the error text), or when memory runs out.
  bool set_level(const char* name, const char* parms);
  // Parses a whole Encryption value as a connection-string list and sets the level from
  // its first element. A list that does not parse or is empty gives false and changes
  // nothing; a null text is success with no change.
  bool set_level(const char* text);

  // "none", "simple", "ecc_tls", "rsa_tls", "rsa_tls_fips"; "Unknown" while unset; null
  // for any other number.
  const char* get_level_name() const;

  std::uint32_t level;   // 0 none, 1 simple, 2 ECC TLS, 3 RSA TLS, 4 RSA TLS with FIPS
  std::uint32_t is_set;  // the level number is valid
  std::uint32_t is_tls;  // level 2..4, or a "tls" name being parsed
  char* name_text;       // name last given to set_level(name, parms), or null
  char* parms_text;      // parameter text, or null
  char* error_text;      // the word that could not be understood, or null
};

#endif  // VQ_CONFIG_ENCRYPT_LEVEL_H

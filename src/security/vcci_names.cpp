// The algorithm names and numbers every provider and the host agree on, and the slot
// that serves each algorithm when neither the stub nor FIPS mode decides otherwise.
#include <strings.h>

#include "security/vcci_interface.h"

extern "C" {

const char* const RSA_TLS_names[] = {"rsa", "rsa_tls", nullptr};
const char* const ECC_TLS_names[] = {"ecc", "ecc_tls", nullptr};
const char* const RSA_TLS_FIPS_names[] = {"rsa_tls_fips", nullptr};
const char* const AES_128_names[] = {"AES", "AES128", "AES-128", "AES_128", nullptr};
const char* const AES_256_names[] = {"AES256", "AES-256", "AES_256", nullptr};
const char* const AES_128_FIPS_names[] = {"AES_FIPS", "AES128_FIPS", "AES-128_FIPS",
                                          "AES_128_FIPS", nullptr};
const char* const AES_256_FIPS_names[] = {"AES256_FIPS", "AES-256_FIPS", "AES_256_FIPS",
                                          nullptr};
const char* const SHA256_names[] = {"SHA256", "SHA-256", "SHA_256", nullptr};
const char* const SHA1_names[] = {"SHA1", "SHA-1", "SHA_1", nullptr};
const char* const MD5_names[] = {"MD5", nullptr};
const char* const CRC32_names[] = {"CRC32", "CRC", nullptr};
const char* const SHA256_FIPS_names[] = {"SHA256_FIPS", "SHA-256_FIPS", "SHA_256_FIPS",
                                         nullptr};
const char* const SHA1_FIPS_names[] = {"SHA1_FIPS", "SHA-1_FIPS", "SHA_1_FIPS", nullptr};

// Rows are searched in order; the first match wins.
const a_vcci_algorithm VCCIStreamAlgorithms[] = {
    {kVCCIStreamRsaTls, RSA_TLS_names, 1},
    {kVCCIStreamEccTls, ECC_TLS_names, 2},
    {kVCCIStreamRsaTlsFips, RSA_TLS_FIPS_names, 3},
    {kVCCIEndOfTable, nullptr, 0},
};

const a_vcci_algorithm VCCIBlockEncrypterAlgorithms[] = {
    {kVCCIAes128, AES_128_names, 0},
    {kVCCIAes256, AES_256_names, 0},
    {kVCCIAes128Fips, AES_128_FIPS_names, 3},
    {kVCCIAes256Fips, AES_256_FIPS_names, 3},
    {kVCCIEndOfTable, nullptr, 0},
};

const a_vcci_algorithm VCCIHasherAlgorithms[] = {
    {kVCCISha256, SHA256_names, 0},
    {kVCCISha1, SHA1_names, 0},
    {kVCCIMd5, MD5_names, 0},
    {kVCCICrc32, CRC32_names, 0},
    {kVCCISha256Fips, SHA256_FIPS_names, 3},
    {kVCCISha1Fips, SHA1_FIPS_names, 3},
    {kVCCIEndOfTable, nullptr, 0},
};

bool VCCINameInList(const char* name, const char* const* list) {
  if (name == nullptr || list == nullptr) return false;
  for (; *list != nullptr; ++list) {
    if (strcasecmp(name, *list) == 0) return true;
  }
  return false;
}

}  // extern "C"

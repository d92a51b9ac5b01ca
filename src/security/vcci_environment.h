// The host side of the crypto-provider interface: up to five provider slots, the rule
// that picks the slot serving an algorithm, lazy loading of provider modules with the
// version check, and the create and query operations that hand out wrapper objects.
//
// Slot 0 is the built-in provider (AES and hashing, no TLS); slots 1 to 4 are modules
// loaded on first use and found by the library location rules. While the environment
// variable VC_USE_VCCI_STUB was set at the construction of any environment, every
// lookup picks slot 4 (the stub module, or the module named by the option "dll_name").
// In FIPS mode everything goes to slot 3 except CRC-32 hashing.
//
// Every error is reported through the DBVCCIError argument. An environment has no lock
// of its own: one owner uses it at a time. Wrappers it made must be deleted before Fini.
#ifndef VQ_SECURITY_VCCI_ENVIRONMENT_H
#define VQ_SECURITY_VCCI_ENVIRONMENT_H

#include <cstdint>

#include "security/vcci_error.h"
#include "security/vcci_interface.h"

class c_encrypt_level;
class DBVCCIStream;
class DBVCCIBlockEncrypter;
class DBVCCIBlockHasher;
class DBVCCIPasswordHasher;

// Provider slots.
enum _iface_index : std::uint32_t {
  VCCI_IFACE_BUILTIN = 0,
  VCCI_IFACE_RSA = 1,
  VCCI_IFACE_ECC = 2,
  VCCI_IFACE_FIPS = 3,
  VCCI_IFACE_STUB = 4,
  VCCI_IFACE_COUNT = 5,
};

// The kind of module a slot loads.
enum a_vcci_dll_type : std::uint32_t {
  VCCI_DLL_BUILTIN = 0,
  VCCI_DLL_ECC = 1,
  VCCI_DLL_RSA = 2,
  VCCI_DLL_FIPS = 3,
  VCCI_DLL_STUB = 4,
};

// Module files.
constexpr const char* kVCCIRsaModule = "libvqrsa12_r.so";
constexpr const char* kVCCIEccModule = "libvqecc12_r.so";
constexpr const char* kVCCIFipsModule = "libvqfips12_r.so";
constexpr const char* kVCCIStubModule = "libvccistub_r.so";
constexpr const char* kVCCIFipsVendorLibrary = "libfipsvnd2.so";  // only its presence counts

// One provider slot: its function tables as the provider filled them.
class DBVCCIInterface {
 public:
  DBVCCIInterface();
  ~DBVCCIInterface();  // Unload
  DBVCCIInterface(const DBVCCIInterface&) = delete;
  DBVCCIInterface& operator=(const DBVCCIInterface&) = delete;

  // Fills the tables: from the built-in provider for kind 0, else from the module of
  // the kind ("name", or the stub module when null, for kinds above 3). 1 on success;
  // 0 with the error set (25 for kind 3, else 26, the module file as parameter; 27 for
  // a version other than 1.5.0.x), the slot then empty. Already loaded: 1.
  int Load(a_vcci_dll_type kind, const char* name, DBVCCIError* error);
  // Unloads the module and empties every table. Returns 1.
  int Unload();

  a_vcci_env_iface env_iface;
  a_vcci_error_iface error_iface;
  a_vcci_stream_iface stream_iface;
  a_vcci_stream_conn_iface stream_conn_iface;
  a_vcci_password_hasher_iface password_hasher_iface;
  a_vcci_block_hasher_iface block_hasher_iface;
  a_vcci_block_encrypter_iface block_encrypter_iface;
  void* env;               // provider environment handle, null until the slot is loaded
  std::uint32_t usable;    // tables filled and checked
  std::uint32_t loaded;    // module handle held (or built-in)
  void* module;            // from UTLoadLibrary; null for the built-in provider
  a_vcci_version version;  // as the provider reported it
};

class DBVCCIEnvironment {
 public:
  // An empty environment; notes the stub flag when VC_USE_VCCI_STUB is set.
  DBVCCIEnvironment(const a_vcci_callbacks* callbacks, void* context);
  // Frees what Init copied; does not call Fini (owners call it first).
  ~DBVCCIEnvironment();
  DBVCCIEnvironment(const DBVCCIEnvironment&) = delete;
  DBVCCIEnvironment& operator=(const DBVCCIEnvironment&) = delete;

  // Keeps the FIPS flag, a copy of the application name and the option list (not
  // copied: it must outlive the environment), then loads slot 3 in FIPS mode, else
  // slot 0. 0 on success; non-zero with the error set and no slots.
  int Init(unsigned fips, const char* app_name, _a_vcci_user_option* options,
           DBVCCIError* error);
  // Destroys every provider environment and unloads every slot.
  void Fini();

  // Slot 3 refuses to load from now on (code 31).
  void disableFIPS();

  // Whether the module files can be found (the FIPS one with its vendor library).
  static bool IsFIPSAvailable();
  static bool IsRSAAvailable();
  static bool IsECCAvailable();
  static const char* GetRSADLLName() { return kVCCIRsaModule; }
  static const char* GetECCDLLName() { return kVCCIEccModule; }
  static const char* GetFIPSDLLName() { return kVCCIFipsModule; }

  // Non-zero when a TLS level can be served; may set the level to its exact TLS number
  // (2 ecc_tls, 3 rsa_tls, 4 rsa_tls_fips).
  int ValidateStreamEncryption(c_encrypt_level& level, DBVCCIError* error);

  // Each create returns a new wrapper (owner deletes it) or null with the error set.
  DBVCCIStream* CreateStream(const a_vcci_stream_callbacks* callbacks, void* context,
                             const c_encrypt_level& level, DBVCCIError* error);
  DBVCCIStream* CreateStream(const a_vcci_stream_callbacks* callbacks, void* context,
                             const char* name, DBVCCIError* error);
  DBVCCIStream* CreateStreamWithID(const a_vcci_stream_callbacks* callbacks, void* context,
                                   unsigned char number, DBVCCIError* error);
  // A null name makes AES-128 on the built-in provider (unless the stub serves all).
  DBVCCIBlockEncrypter* CreateBlockEncrypter(const char* name, const unsigned char* key,
                                             unsigned key_length, _a_vcci_user_option* options,
                                             DBVCCIError* error);
  DBVCCIBlockEncrypter* CreateBlockEncrypterWithID(unsigned char number,
                                                   const unsigned char* key,
                                                   unsigned key_length,
                                                   _a_vcci_user_option* options,
                                                   DBVCCIError* error);
  DBVCCIBlockHasher* CreateBlockHasher(const char* name, DBVCCIError* error);
  DBVCCIBlockHasher* CreateBlockHasherWithID(unsigned char number, DBVCCIError* error);
  DBVCCIPasswordHasher* CreatePasswordHasher(DBVCCIError* error);
  DBVCCIPasswordHasher* CreatePasswordHasherWithID(unsigned char number, DBVCCIError* error);

  // Queries never report an error: a slot that cannot be loaded answers false.
  bool IsStreamAlgorithmSupported(const char* name);
  bool IsStreamAlgorithmSupported(unsigned char number);
  bool IsBlockEncrypterAlgorithmSupported(const char* name);
  bool IsBlockEncrypterAlgorithmSupported(unsigned char number);
  bool IsBlockHasherAlgorithmSupported(const char* name);
  bool IsBlockHasherAlgorithmSupported(unsigned char number);

  // A new mutex over the host callbacks (owner deletes it).
  DBVCCIMutex* createMutex();

  // The version this host implements (1, 5, 0, 1).
  const a_vcci_version& GetVersion() const { return version_; }
  // The slot, or null before Init or after a failed Init (for tests and diagnostics).
  const DBVCCIInterface* GetInterface(_iface_index slot) const;

  // Whether the stub flag is set for the process.
  static bool StubRequested();

 private:
  // Loads the slot if needed and creates its provider environment; false with the
  // error set.
  bool _loadInterface(std::uint32_t slot, DBVCCIError* error);
  // The slot for a named or numbered algorithm of a table; -1 when there is none.
  int slot_for(const a_vcci_algorithm* table, const char* name, unsigned char number,
               bool by_name, bool crc_stays_builtin) const;
  // Loads the slot with a scratch error for a query; the slot when usable, else null.
  DBVCCIInterface* query_slot(int slot);
  // The TLS type name (a new copy, caller frees) and FIPS wish of a level; the name is
  // null when the level has none.
  static char* level_stream_name(const c_encrypt_level& level, bool* fips_wish);
  // The options every provider sees: the FIPS option first in FIPS mode.
  _a_vcci_user_option* provider_options();

  std::uint32_t fips_ = 0;
  _a_vcci_user_option* fips_option_ = nullptr;  // owned; {"FIPS", "YES"} in FIPS mode
  std::uint32_t fips_disabled_ = 0;
  char* dll_name_ = nullptr;  // owned copy of option "dll_name"
  DBVCCIInterface* slots_[VCCI_IFACE_COUNT] = {};
  const a_vcci_callbacks* callbacks_ = nullptr;  // not owned
  void* context_ = nullptr;
  char* app_name_ = nullptr;                // owned copy
  _a_vcci_user_option* options_ = nullptr;  // not owned
  a_vcci_version version_ = kVCCIHostVersion;
};

#endif  // VQ_SECURITY_VCCI_ENVIRONMENT_H

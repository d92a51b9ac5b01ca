// Provider slots, slot choice, module loading and the create and query operations of
// the crypto environment.
#include "security/vcci_environment.h"

#include <strings.h>

#include <atomic>
#include <cstring>

#include "config/encrypt_level.h"
#include "config/key_value_parser.h"
#include "security/builtin_provider.h"
#include "security/vcci_objects.h"
#include "security/vcci_options.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/file_locations.h"
#include "utils/base/library_loader.h"
#include "utils/base/memory.h"

namespace {

// Set when any environment is constructed while VC_USE_VCCI_STUB is set; never cleared.
std::atomic<bool> g_stub_requested{false};

constexpr unsigned kPathBytes = 4096;

bool module_found(const char* file) {
  char path[kPathBytes];
  return LS_QualifyVellumFile(kLsKindLibrary, file, path, sizeof path, defaultQualifyCB) != 0;
}

const a_vcci_algorithm* find_row(const a_vcci_algorithm* table, const char* name,
                                 unsigned char number, bool by_name) {
  for (; table->number != kVCCIEndOfTable; ++table) {
    if (by_name ? VCCINameInList(name, table->names) : table->number == number) return table;
  }
  return nullptr;
}

a_vcci_dll_type kind_of_slot(std::uint32_t slot) {
  switch (slot) {
    case VCCI_IFACE_RSA:
      return VCCI_DLL_RSA;
    case VCCI_IFACE_ECC:
      return VCCI_DLL_ECC;
    case VCCI_IFACE_FIPS:
      return VCCI_DLL_FIPS;
    case VCCI_IFACE_STUB:
      return VCCI_DLL_STUB;
    default:
      return VCCI_DLL_BUILTIN;
  }
}

// The module error of a kind: 25 for the FIPS module, 26 for the others.
void module_error(a_vcci_dll_type kind, const char* file, DBVCCIError* error) {
  if (error == nullptr) return;
  error->Clear();
  error->Set(kind == VCCI_DLL_FIPS ? kVCCIErrFipsModule : kVCCIErrModule);
  error->AddParm(file);
}

void set_error(DBVCCIError* error, std::uint32_t code, const char* parm = nullptr) {
  if (error == nullptr) return;
  error->Clear();
  error->Set(code);
  error->AddParm(parm);
}

// Copies a provider's error into the caller's and releases the provider's copy.
void take_provider_error(DBVCCIInterface* iface, a_vcci_error* local, DBVCCIError* error) {
  if (error != nullptr) error->_CloneFrom(local, 1);
  if (iface->error_iface.Destroy != nullptr) iface->error_iface.Destroy(iface->env, local);
}

void release_with_host(const a_vcci_callbacks* callbacks, void* context, a_vcci_error* local) {
  if (local->parms == nullptr || callbacks == nullptr || callbacks->release == nullptr) return;
  for (char** p = local->parms; *p != nullptr; ++p) callbacks->release(context, *p);
  callbacks->release(context, local->parms);
  local->parms = nullptr;
}

template <typename T>
T lookup(void* module, const char* name) {
  return reinterpret_cast<T>(UTGetProcAddress(module, name));
}

}  // namespace

// ---- DBVCCIInterface ----

DBVCCIInterface::DBVCCIInterface()
    : env_iface{},
      error_iface{},
      stream_iface{},
      stream_conn_iface{},
      password_hasher_iface{},
      block_hasher_iface{},
      block_encrypter_iface{},
      env(nullptr),
      usable(0),
      loaded(0),
      module(nullptr),
      version{} {}

DBVCCIInterface::~DBVCCIInterface() { Unload(); }

int DBVCCIInterface::Unload() {
  if (loaded != 0 && module != nullptr) UTUnloadLibrary(module);
  loaded = 0;
  usable = 0;
  module = nullptr;
  env_iface = {};
  error_iface = {};
  stream_iface = {};
  stream_conn_iface = {};
  password_hasher_iface = {};
  block_hasher_iface = {};
  block_encrypter_iface = {};
  return 1;
}

int DBVCCIInterface::Load(a_vcci_dll_type kind, const char* name, DBVCCIError* error) {
  if (loaded != 0) return 1;
  if (kind == VCCI_DLL_BUILTIN) {
    namespace b = vq::vcci_builtin;
    const bool ok = b::VCCIGetEnvIface(&env_iface) == 0 &&
                    b::VCCIGetErrorIface(&error_iface) == 0 &&
                    b::VCCIGetPasswordHasherIface(&password_hasher_iface) == 0 &&
                    b::VCCIGetBlockHasherIface(&block_hasher_iface) == 0 &&
                    b::VCCIGetBlockEncrypterIface(&block_encrypter_iface) == 0;
    loaded = 1;
    usable = 1;
    version = kVCCIHostVersion;
    return ok ? 1 : 0;
  }

  const char* file;
  switch (kind) {
    case VCCI_DLL_ECC:
      file = kVCCIEccModule;
      break;
    case VCCI_DLL_RSA:
      file = kVCCIRsaModule;
      break;
    case VCCI_DLL_FIPS:
      file = kVCCIFipsModule;
      break;
    default:
      file = name != nullptr ? name : kVCCIStubModule;
      break;
  }
  char path[kPathBytes];
  void* handle = nullptr;
  if (LS_QualifyVellumFile(kLsKindLibrary, file, path, sizeof path, defaultQualifyCB) != 0) {
    handle = UTLoadLibrary(path);
  }
  if (handle == nullptr) {
    module_error(kind, file, error);
    return 0;
  }
  loaded = 1;
  module = handle;

  auto get_version = lookup<VCCIGetVersionFn>(handle, "VCCIGetVersion");
  auto get_env = lookup<VCCIGetEnvIfaceFn>(handle, "VCCIGetEnvIface");
  auto get_error = lookup<VCCIGetErrorIfaceFn>(handle, "VCCIGetErrorIface");
  auto get_stream = lookup<VCCIGetStreamIfaceFn>(handle, "VCCIGetStreamIface");
  auto get_conn = lookup<VCCIGetStreamConnIfaceFn>(handle, "VCCIGetStreamConnIface");
  if (get_version == nullptr || get_env == nullptr || get_error == nullptr ||
      get_stream == nullptr || get_conn == nullptr) {
    module_error(kind, file, error);
    Unload();
    return 0;
  }
  auto get_password =
      lookup<VCCIGetPasswordHasherIfaceFn>(handle, "VCCIGetPasswordHasherIface");
  auto get_hasher = lookup<VCCIGetBlockHasherIfaceFn>(handle, "VCCIGetBlockHasherIface");
  auto get_encrypter =
      lookup<VCCIGetBlockEncrypterIfaceFn>(handle, "VCCIGetBlockEncrypterIface");

  version = {};
  (void)get_version(&version);
  if (version.major != kVCCIHostVersion.major || version.minor != kVCCIHostVersion.minor ||
      version.release != 0) {
    set_error(error, kVCCIErrVersion);
    Unload();
    return 0;
  }

  bool ok = get_env(&env_iface) == 0 && get_error(&error_iface) == 0 &&
            get_stream(&stream_iface) == 0 && get_conn(&stream_conn_iface) == 0;
  if (ok && get_password != nullptr) ok = get_password(&password_hasher_iface) == 0;
  if (ok && get_hasher != nullptr) ok = get_hasher(&block_hasher_iface) == 0;
  if (ok && get_encrypter != nullptr) ok = get_encrypter(&block_encrypter_iface) == 0;
  // Without an environment Create the slot could never be used: the module is
  // incomplete.
  if (!ok || env_iface.Create == nullptr) {
    module_error(kind, file, error);
    Unload();
    return 0;
  }
  usable = 1;
  return 1;
}

// ---- DBVCCIEnvironment ----

DBVCCIEnvironment::DBVCCIEnvironment(const a_vcci_callbacks* callbacks, void* context)
    : callbacks_(callbacks), context_(context) {
  char value[150];
  if (ut_getenv("VC_USE_VCCI_STUB", value, sizeof value) != nullptr) g_stub_requested = true;
}

DBVCCIEnvironment::~DBVCCIEnvironment() {
  ut_free(app_name_);
  if (fips_option_ != nullptr) {
    ut_free(fips_option_->name);
    ut_free(fips_option_->value);
    ut_free(fips_option_);
  }
  ut_free(dll_name_);
  // Owners call Fini first; slots left behind (a skipped Fini) are still released, so
  // that no module stays mapped and no memory is lost.
  for (DBVCCIInterface*& slot : slots_) {
    delete slot;
    slot = nullptr;
  }
}

bool DBVCCIEnvironment::StubRequested() { return g_stub_requested.load(); }

const DBVCCIInterface* DBVCCIEnvironment::GetInterface(_iface_index slot) const {
  return slot < VCCI_IFACE_COUNT ? slots_[slot] : nullptr;
}

DBVCCIMutex* DBVCCIEnvironment::createMutex() { return new DBVCCIMutex(callbacks_, context_); }

void DBVCCIEnvironment::disableFIPS() { fips_disabled_ = 1; }

bool DBVCCIEnvironment::IsFIPSAvailable() {
  return module_found(kVCCIFipsModule) && module_found(kVCCIFipsVendorLibrary);
}

bool DBVCCIEnvironment::IsRSAAvailable() { return module_found(kVCCIRsaModule); }

bool DBVCCIEnvironment::IsECCAvailable() { return module_found(kVCCIEccModule); }

_a_vcci_user_option* DBVCCIEnvironment::provider_options() {
  if (fips_ != 0 && fips_option_ != nullptr) {
    fips_option_->next = options_;
    return fips_option_;
  }
  return options_;
}

int DBVCCIEnvironment::Init(unsigned fips, const char* app_name, _a_vcci_user_option* options,
                            DBVCCIError* error) {
  fips_ = fips != 0 ? 1 : 0;
  ut_free(app_name_);
  app_name_ = app_name != nullptr ? ut_strdup(app_name) : nullptr;
  options_ = options;
  if (fips_ != 0 && fips_option_ == nullptr) {
    fips_option_ = static_cast<_a_vcci_user_option*>(ut_alloc(sizeof(_a_vcci_user_option)));
    fips_option_->name = ut_strdup("FIPS");
    fips_option_->value = ut_strdup("YES");
    fips_option_->used = 1;
    fips_option_->next = nullptr;
  }
  ut_free(dll_name_);
  const char* dll = VCCIGetOption(options, "dll_name");
  dll_name_ = dll != nullptr ? ut_strdup(dll) : nullptr;
  for (DBVCCIInterface*& slot : slots_) {
    delete slot;
    slot = new DBVCCIInterface;
  }
  if (_loadInterface(fips_ != 0 ? VCCI_IFACE_FIPS : VCCI_IFACE_BUILTIN, error)) return 0;
  for (DBVCCIInterface*& slot : slots_) {
    delete slot;
    slot = nullptr;
  }
  return 1;
}

void DBVCCIEnvironment::Fini() {
  for (DBVCCIInterface*& slot : slots_) {
    if (slot == nullptr) continue;
    if (slot->env != nullptr && slot->env_iface.Destroy != nullptr) {
      slot->env_iface.Destroy(slot->env);
    }
    slot->env = nullptr;
    slot->Unload();
    delete slot;
    slot = nullptr;
  }
}

bool DBVCCIEnvironment::_loadInterface(std::uint32_t slot, DBVCCIError* error) {
  if (slot >= VCCI_IFACE_COUNT || slots_[slot] == nullptr) {
    // Init has not run or has failed: nothing can be loaded.
    set_error(error, kVCCIErrInternal);
    return false;
  }
  _a_vcci_user_option* options = provider_options();
  const a_vcci_dll_type kind = kind_of_slot(slot);
  if (slot == VCCI_IFACE_FIPS && fips_disabled_ != 0) {
    set_error(error, kVCCIErrFipsDisabled);
    return false;
  }
  DBVCCIInterface* iface = slots_[slot];
  if (iface->loaded != 0) return true;
  if (iface->Load(kind, dll_name_, error) == 0) {
    iface->Unload();
    return false;
  }
  a_vcci_error local{};
  iface->env = iface->env_iface.Create(callbacks_, context_, options, app_name_, &local);
  if (iface->env == nullptr) {
    // There is no provider environment to release the record through; the provider
    // allocated its parameters with the host's allocate slot, so they go back through
    // the host's release slot.
    if (error != nullptr) error->_CloneFrom(&local, 1);
    release_with_host(callbacks_, context_, &local);
    iface->Unload();
    return false;
  }
  return true;
}

int DBVCCIEnvironment::slot_for(const a_vcci_algorithm* table, const char* name,
                                unsigned char number, bool by_name,
                                bool crc_stays_builtin) const {
  if (g_stub_requested) return VCCI_IFACE_STUB;
  if (fips_ != 0) {
    if (crc_stays_builtin &&
        (by_name ? VCCINameInList(name, CRC32_names) : number == kVCCICrc32)) {
      return VCCI_IFACE_BUILTIN;
    }
    return VCCI_IFACE_FIPS;
  }
  const a_vcci_algorithm* row = find_row(table, name, number, by_name);
  return row != nullptr ? static_cast<int>(row->slot) : -1;
}

DBVCCIInterface* DBVCCIEnvironment::query_slot(int slot) {
  if (slot < 0) return nullptr;
  DBVCCIError scratch;
  if (!_loadInterface(static_cast<std::uint32_t>(slot), &scratch)) return nullptr;
  DBVCCIInterface* iface = slots_[slot];
  return iface->usable != 0 && iface->env != nullptr ? iface : nullptr;
}

char* DBVCCIEnvironment::level_stream_name(const c_encrypt_level& level, bool* fips_wish) {
  *fips_wish = false;
  if (level.name_text == nullptr) return nullptr;
  if (strcasecmp(level.name_text, "tls") != 0) return ut_strdup(level.name_text);
  _a_vcci_user_option* options = nullptr;
  char* bad_key = nullptr;
  char* type = nullptr;
  if (ParseVCCIOptionString(level.parms_text, &options, &bad_key) == kParseOk) {
    const char* t = VCCIGetOption(options, "tls_type");
    type = ut_strdup(t != nullptr ? t : "rsa");
    int yes = 0;
    const char* f = VCCIGetOption(options, "FIPS");
    *fips_wish = f != nullptr && ParseYesNo(f, &yes, true) && yes != 0;
  }
  // Parameters that do not parse name no TLS type.
  ut_free(bad_key);
  FreeVCCIOptions(options);
  return type;
}

int DBVCCIEnvironment::ValidateStreamEncryption(c_encrypt_level& level, DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  bool fips_wish = false;
  char* type = level_stream_name(level, &fips_wish);
  int answer = 0;
  const bool fips = fips_ != 0 || fips_wish;
  const a_vcci_algorithm* row = find_row(VCCIStreamAlgorithms, type, 0, true);
  int slot = row != nullptr ? static_cast<int>(row->slot) : -1;
  if (row == nullptr) {
    set_error(error, kVCCIErrUnknownCipher);
  } else if (fips && row->number == kVCCIStreamEccTls) {
    set_error(error, kVCCIErrEccWithFips);
    slot = -1;
  } else if (fips && fips_disabled_ != 0) {
    set_error(error, kVCCIErrFipsDisabled);
    slot = -1;
  } else if (fips && !IsFIPSAvailable()) {
    set_error(error, kVCCIErrFipsModule, kVCCIFipsModule);
    slot = -1;
  } else if (fips) {
    slot = VCCI_IFACE_FIPS;
  }
  if (slot >= 0 && g_stub_requested) slot = VCCI_IFACE_STUB;
  if (slot >= 0 && _loadInterface(static_cast<std::uint32_t>(slot), error)) {
    DBVCCIInterface* iface = slots_[slot];
    if (iface->env_iface.IsStreamAlgorithmSupported == nullptr) {
      answer = 1;
    } else {
      answer = (iface->env_iface.IsStreamAlgorithmSupported(iface->env, type) & 0xFF) != 0;
      // The level's number follows the slot that serves it: 2 ECC, 3 RSA, 4 FIPS.
      if (answer != 0)
        level.set_level(fips ? std::uint32_t{kEncryptRsaTlsFips} : std::uint32_t{row->number});
    }
  }
  ut_free(type);
  return answer;
}

DBVCCIStream* DBVCCIEnvironment::CreateStream(const a_vcci_stream_callbacks* callbacks,
                                              void* context, const c_encrypt_level& level,
                                              DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  bool fips_wish = false;
  char* type = level_stream_name(level, &fips_wish);
  DBVCCIStream* stream = nullptr;
  if (type == nullptr) {
    set_error(error, kVCCIErrUnknownCipher);
  } else {
    int slot = slot_for(VCCIStreamAlgorithms, type, 0, true, false);
    if (fips_wish && !g_stub_requested) slot = VCCI_IFACE_FIPS;
    if (slot < 0) {
      set_error(error, kVCCIErrUnknownCipher);
    } else if (_loadInterface(static_cast<std::uint32_t>(slot), error)) {
      DBVCCIInterface* iface = slots_[slot];
      if (iface->stream_iface.Create == nullptr) {
        set_error(error, kVCCIErrUnknownCipher);
      } else {
        a_vcci_error local{};
        void* s = iface->stream_iface.Create(iface->env, callbacks, context, type, &local);
        if (s != nullptr) {
          stream = new DBVCCIStream(s, iface, this);
        } else {
          take_provider_error(iface, &local, error);
        }
      }
    }
  }
  ut_free(type);
  return stream;
}

DBVCCIStream* DBVCCIEnvironment::CreateStream(const a_vcci_stream_callbacks* callbacks,
                                              void* context, const char* name,
                                              DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  if (name == nullptr) {
    set_error(error, kVCCIErrUnknownCipher);
    return nullptr;
  }
  const int slot = slot_for(VCCIStreamAlgorithms, name, 0, true, false);
  if (slot < 0) {
    set_error(error, kVCCIErrUnknownCipher);
    return nullptr;
  }
  if (!_loadInterface(static_cast<std::uint32_t>(slot), error)) return nullptr;
  DBVCCIInterface* iface = slots_[slot];
  if (iface->stream_iface.Create == nullptr) {
    set_error(error, kVCCIErrUnknownCipher);
    return nullptr;
  }
  a_vcci_error local{};
  void* s = iface->stream_iface.Create(iface->env, callbacks, context, name, &local);
  if (s == nullptr) {
    take_provider_error(iface, &local, error);
    return nullptr;
  }
  return new DBVCCIStream(s, iface, this);
}

DBVCCIStream* DBVCCIEnvironment::CreateStreamWithID(const a_vcci_stream_callbacks* callbacks,
                                                    void* context, unsigned char number,
                                                    DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  const int slot = slot_for(VCCIStreamAlgorithms, nullptr, number, false, false);
  if (slot < 0) {
    set_error(error, kVCCIErrUnknownCipher);
    return nullptr;
  }
  if (!_loadInterface(static_cast<std::uint32_t>(slot), error)) return nullptr;
  DBVCCIInterface* iface = slots_[slot];
  if (iface->stream_iface.CreateWithID == nullptr) {
    set_error(error, kVCCIErrUnknownCipher);
    return nullptr;
  }
  a_vcci_error local{};
  void* s = iface->stream_iface.CreateWithID(iface->env, callbacks, context, number, &local);
  if (s == nullptr) {
    take_provider_error(iface, &local, error);
    return nullptr;
  }
  return new DBVCCIStream(s, iface, this);
}

DBVCCIBlockEncrypter* DBVCCIEnvironment::CreateBlockEncrypter(const char* name,
                                                              const unsigned char* key,
                                                              unsigned key_length,
                                                              _a_vcci_user_option* options,
                                                              DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  int slot;
  if (name == nullptr) {
    slot = g_stub_requested ? VCCI_IFACE_STUB : VCCI_IFACE_BUILTIN;
  } else {
    slot = slot_for(VCCIBlockEncrypterAlgorithms, name, 0, true, false);
  }
  if (slot < 0) {
    set_error(error, kVCCIErrUnknownCipher);
    return nullptr;
  }
  if (!_loadInterface(static_cast<std::uint32_t>(slot), error)) return nullptr;
  DBVCCIInterface* iface = slots_[slot];
  if (iface->block_encrypter_iface.Create == nullptr) {
    set_error(error, kVCCIErrUnknownCipher);
    return nullptr;
  }
  a_vcci_error local{};
  void* e =
      iface->block_encrypter_iface.Create(iface->env, name, key, key_length, options, &local);
  if (e == nullptr) {
    take_provider_error(iface, &local, error);
    return nullptr;
  }
  return new DBVCCIBlockEncrypter(e, iface, static_cast<std::uint32_t>(slot), this);
}

DBVCCIBlockEncrypter* DBVCCIEnvironment::CreateBlockEncrypterWithID(
    unsigned char number, const unsigned char* key, unsigned key_length,
    _a_vcci_user_option* options, DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  const int slot = slot_for(VCCIBlockEncrypterAlgorithms, nullptr, number, false, false);
  if (slot < 0) {
    set_error(error, kVCCIErrUnknownCipher);
    return nullptr;
  }
  if (!_loadInterface(static_cast<std::uint32_t>(slot), error)) return nullptr;
  DBVCCIInterface* iface = slots_[slot];
  if (iface->block_encrypter_iface.CreateWithID == nullptr) {
    set_error(error, kVCCIErrUnknownCipher);
    return nullptr;
  }
  a_vcci_error local{};
  void* e = iface->block_encrypter_iface.CreateWithID(iface->env, number, key, key_length,
                                                      options, &local);
  if (e == nullptr) {
    take_provider_error(iface, &local, error);
    return nullptr;
  }
  return new DBVCCIBlockEncrypter(e, iface, static_cast<std::uint32_t>(slot), this);
}

DBVCCIBlockHasher* DBVCCIEnvironment::CreateBlockHasher(const char* name, DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  const int slot = name != nullptr ? slot_for(VCCIHasherAlgorithms, name, 0, true, true) : -1;
  if (slot < 0) {
    set_error(error, kVCCIErrUnknownHasher);
    return nullptr;
  }
  if (!_loadInterface(static_cast<std::uint32_t>(slot), error)) return nullptr;
  DBVCCIInterface* iface = slots_[slot];
  if (iface->block_hasher_iface.Create == nullptr) {
    set_error(error, kVCCIErrUnknownHasher);
    return nullptr;
  }
  a_vcci_error local{};
  void* h = iface->block_hasher_iface.Create(iface->env, name, &local);
  if (h == nullptr) {
    take_provider_error(iface, &local, error);
    return nullptr;
  }
  return new DBVCCIBlockHasher(h, iface, this);
}

DBVCCIBlockHasher* DBVCCIEnvironment::CreateBlockHasherWithID(unsigned char number,
                                                              DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  const int slot = slot_for(VCCIHasherAlgorithms, nullptr, number, false, true);
  if (slot < 0) {
    set_error(error, kVCCIErrUnknownHasher);
    return nullptr;
  }
  if (!_loadInterface(static_cast<std::uint32_t>(slot), error)) return nullptr;
  DBVCCIInterface* iface = slots_[slot];
  if (iface->block_hasher_iface.CreateWithID == nullptr) {
    set_error(error, kVCCIErrUnknownHasher);
    return nullptr;
  }
  a_vcci_error local{};
  void* h = iface->block_hasher_iface.CreateWithID(iface->env, number, &local);
  if (h == nullptr) {
    take_provider_error(iface, &local, error);
    return nullptr;
  }
  return new DBVCCIBlockHasher(h, iface, this);
}

DBVCCIPasswordHasher* DBVCCIEnvironment::CreatePasswordHasher(DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  const int slot = g_stub_requested ? VCCI_IFACE_STUB
                   : fips_ != 0     ? VCCI_IFACE_FIPS
                                    : VCCI_IFACE_BUILTIN;
  if (!_loadInterface(static_cast<std::uint32_t>(slot), error)) return nullptr;
  DBVCCIInterface* iface = slots_[slot];
  if (iface->password_hasher_iface.Create == nullptr) {
    set_error(error, kVCCIErrUnknownHasher);
    return nullptr;
  }
  a_vcci_error local{};
  void* h = iface->password_hasher_iface.Create(iface->env, &local);
  if (h == nullptr) {
    take_provider_error(iface, &local, error);
    return nullptr;
  }
  return new DBVCCIPasswordHasher(h, iface, this);
}

DBVCCIPasswordHasher* DBVCCIEnvironment::CreatePasswordHasherWithID(unsigned char number,
                                                                    DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  const int slot = slot_for(VCCIHasherAlgorithms, nullptr, number, false, false);
  if (slot < 0) {
    set_error(error, kVCCIErrUnknownHasher);
    return nullptr;
  }
  if (!_loadInterface(static_cast<std::uint32_t>(slot), error)) return nullptr;
  DBVCCIInterface* iface = slots_[slot];
  if (iface->password_hasher_iface.CreateWithID == nullptr) {
    set_error(error, kVCCIErrUnknownHasher);
    return nullptr;
  }
  a_vcci_error local{};
  void* h = iface->password_hasher_iface.CreateWithID(iface->env, number, &local);
  if (h == nullptr) {
    take_provider_error(iface, &local, error);
    return nullptr;
  }
  return new DBVCCIPasswordHasher(h, iface, this);
}

bool DBVCCIEnvironment::IsStreamAlgorithmSupported(const char* name) {
  DBVCCIInterface* iface = query_slot(slot_for(VCCIStreamAlgorithms, name, 0, true, false));
  return iface != nullptr && iface->env_iface.IsStreamAlgorithmSupported != nullptr &&
         (iface->env_iface.IsStreamAlgorithmSupported(iface->env, name) & 0xFF) != 0;
}

bool DBVCCIEnvironment::IsStreamAlgorithmSupported(unsigned char number) {
  DBVCCIInterface* iface =
      query_slot(slot_for(VCCIStreamAlgorithms, nullptr, number, false, false));
  return iface != nullptr && iface->env_iface.IsStreamAlgorithmIDSupported != nullptr &&
         (iface->env_iface.IsStreamAlgorithmIDSupported(iface->env, number) & 0xFF) != 0;
}

bool DBVCCIEnvironment::IsBlockEncrypterAlgorithmSupported(const char* name) {
  DBVCCIInterface* iface =
      query_slot(slot_for(VCCIBlockEncrypterAlgorithms, name, 0, true, false));
  return iface != nullptr && iface->env_iface.IsBlockEncrypterAlgorithmSupported != nullptr &&
         (iface->env_iface.IsBlockEncrypterAlgorithmSupported(iface->env, name) & 0xFF) != 0;
}

bool DBVCCIEnvironment::IsBlockEncrypterAlgorithmSupported(unsigned char number) {
  DBVCCIInterface* iface =
      query_slot(slot_for(VCCIBlockEncrypterAlgorithms, nullptr, number, false, false));
  return iface != nullptr && iface->env_iface.IsBlockEncrypterAlgorithmIDSupported != nullptr &&
         (iface->env_iface.IsBlockEncrypterAlgorithmIDSupported(iface->env, number) & 0xFF) !=
             0;
}

bool DBVCCIEnvironment::IsBlockHasherAlgorithmSupported(const char* name) {
  DBVCCIInterface* iface = query_slot(slot_for(VCCIHasherAlgorithms, name, 0, true, true));
  return iface != nullptr && iface->env_iface.IsBlockHasherAlgorithmSupported != nullptr &&
         (iface->env_iface.IsBlockHasherAlgorithmSupported(iface->env, name) & 0xFF) != 0;
}

bool DBVCCIEnvironment::IsBlockHasherAlgorithmSupported(unsigned char number) {
  DBVCCIInterface* iface =
      query_slot(slot_for(VCCIHasherAlgorithms, nullptr, number, false, true));
  return iface != nullptr && iface->env_iface.IsBlockHasherAlgorithmIDSupported != nullptr &&
         (iface->env_iface.IsBlockHasherAlgorithmIDSupported(iface->env, number) & 0xFF) != 0;
}

// The crypto side of the connect: the provider implementation's version for the
// app-connect packet, the algorithm number of a level named by cipher, and the secret part
// of the connect string (password, database key, new password) enciphered with AES-256
// in CBC mode under key material the server sent during the app-connect exchange.
//
// The key material and the initialisation word travel in clear in the app-connect reply,
// so without a TLS level this hides the password from nothing but a casual look at the
// packets; it is what the server expects.
#include <cstring>
#include <memory>

#include "cmdseq/connect.h"
#include "cmdseq/request_log.h"
#include "config/conn_parms.h"
#include "config/conn_string.h"
#include "config/encrypt_level.h"
#include "config/option_tables.h"
#include "security/vcci_environment.h"
#include "security/vcci_objects.h"
#include "streams/stream_api.h"
#include "utils/base/memory.h"
#include "utils/locale/charset_converter.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr const char* kVCCIAppName = "VC Client";
constexpr const char* kSecureCipher = "AES256";
constexpr std::size_t kCipherBlock = 16;
constexpr unsigned kCryptoTextBytes = 256;

void* host_alloc(void*, std::size_t size) { return ut_malloc(size); }
void* host_realloc(void*, void* block, std::size_t size) { return ut_realloc(block, size); }
void host_free(void*, void* block) { ut_free(block); }
int host_log(void*, std::uint32_t, const char*, const void*, unsigned) { return 0; }

const a_vcci_callbacks kHostCallbacks = {host_alloc, host_realloc, host_free, host_log,
                                         nullptr,    nullptr,      nullptr,   nullptr,
                                         nullptr,    nullptr};

// A crypto environment that is finished on every way out.
struct CryptoEnv {
  DBVCCIEnvironment env{&kHostCallbacks, nullptr};
  bool up = false;
  ~CryptoEnv() {
    if (up) env.Fini();
  }
  bool init(DBVCCIError* error) {
    up = env.Init(0, kVCCIAppName, nullptr, error) == 0;
    return up;
  }
};

void crypto_failure(a_cmdseq_conn* conn, a_cmdseq_error_info* err, const DBVCCIError& error) {
  char text[kCryptoTextBytes] = {};
  error.GetString(conn != nullptr ? conn->lang : err->lang, text, sizeof text, nullptr);
  if (conn != nullptr && conn->attrib != nullptr) CmdSeqPrtString(conn->attrib, text);
  if (i_cs_SetErrorInfo(err, -895)) i_cs_SetErrorParam(err, text);
}

}  // namespace

int _i_cs_GetVCCIImplVersion(a_cmdseq_conn* conn, std::uint8_t* major, std::uint8_t* minor) {
  DBVCCIError error;
  CryptoEnv crypto;
  if (!crypto.init(&error)) {
    char text[kCryptoTextBytes] = {};
    error.GetString(conn != nullptr ? conn->lang : nullptr, text, sizeof text, nullptr);
    if (conn != nullptr && conn->attrib != nullptr) CmdSeqPrtString(conn->attrib, text);
    return 0;
  }
  // The provider implementation's version; the host's own when the slot is not there.
  const DBVCCIInterface* slot = crypto.env.GetInterface(VCCI_IFACE_BUILTIN);
  const a_vcci_version& v = slot != nullptr ? slot->version : crypto.env.GetVersion();
  *major = static_cast<std::uint8_t>(v.major);
  *minor = static_cast<std::uint8_t>(v.minor);
  return 1;
}

int i_cs_GetEncryptionID(c_encrypt_level& level, a_cmdseq_error_info* err) {
  DBVCCIError error;
  CryptoEnv crypto;
  if (crypto.init(&error)) {
    const unsigned char dummy = 0;  // only the algorithm id of the encrypter is wanted
    std::unique_ptr<DBVCCIBlockEncrypter> enc(
        crypto.env.CreateBlockEncrypter(level.parms_text, &dummy, 1, nullptr, &error));
    if (enc) {
      level.set_level(enc->GetAlgorithmID() & 0xFF);
      return 1;
    }
  }
  crypto_failure(nullptr, err, error);
  return 0;
}

std::size_t get_secure_connect_string_len(a_cmdseq_conn* conn, c_conn_parms* parms) {
  std::size_t length = 0;
  BuildConnectStringCalcLen(&length, "PWD", parms->getString(kSlotPassword), ';');
  BuildConnectStringCalcLen(&length, "DBKEY", parms->getString(kSlotDatabaseKey), ';');
  BuildConnectStringCalcLen(&length, "NEWPWD", i_cs_GetServerNewPwdStr(conn, parms), ';');
  length += 1;  // the terminating zero
  return (length + kCipherBlock - 1) / kCipherBlock * kCipherBlock;
}

a_cmdseq_return build_secure_connect_string(a_cmdseq_conn* conn, c_conn_parms* parms,
                                            a_cmdseq_error_info* err, unsigned char* buffer,
                                            std::size_t* length) {
  const std::size_t needed = get_secure_connect_string_len(conn, parms);
  if (needed > *length) {
    i_cs_SetErrorInfo(err, -105);
    return CMDSEQ_COMM_FAILURE;
  }
  std::memset(buffer, 0, needed);
  char* text = reinterpret_cast<char*>(buffer);
  BuildConnectStringAppend(text, "PWD", parms->getString(kSlotPassword), ';');
  BuildConnectStringAppend(text, "DBKEY", parms->getString(kSlotDatabaseKey), ';');
  BuildConnectStringAppend(text, "NEWPWD", i_cs_GetServerNewPwdStr(conn, parms), ';');

  // The key material: exactly 32 bytes; anything else is refused rather than used short.
  unsigned char material[kEngineRandomBytes] = {};
  const unsigned got =
      StrmGetEngineRandomData(conn->strm_conn, material, kEngineRandomBytes) & 0xFFFFu;
  if (got != kEngineRandomBytes) {
    std::memset(material, 0, sizeof material);
    i_cs_SetErrorInfo(err, -105);
    return CMDSEQ_COMM_FAILURE;
  }
  const std::uint32_t iv_word = material[0];

  a_cmdseq_return result = CMDSEQ_OK;
  DBVCCIError error;
  {
    CryptoEnv crypto;
    if (!crypto.init(&error)) {
      crypto_failure(conn, err, error);
      result = CMDSEQ_COMM_FAILURE;
    } else {
      std::unique_ptr<DBVCCIBlockEncrypter> enc(crypto.env.CreateBlockEncrypter(
          kSecureCipher, material, kEngineRandomBytes, nullptr, &error));
      if (!enc) {
        crypto_failure(conn, err, error);
        result = error.GetCode() == 1 ? CMDSEQ_NO_MEMORY : CMDSEQ_COMM_FAILURE;
      } else if (enc->Encrypt(buffer, static_cast<unsigned>(needed), iv_word) != 0) {
        crypto_failure(conn, err, *enc->GetLastError());
        result = CMDSEQ_COMM_FAILURE;
      }
    }
  }
  volatile unsigned char* wipe = material;
  for (unsigned i = 0; i < sizeof material; ++i) wipe[i] = 0;
  if (result == CMDSEQ_OK) *length = needed;
  return result;
}

char* do_convert(CharsetConverter& converter, const char* text) {
  if (text == nullptr || *text == '\0' || !converter.valid()) return nullptr;
  const CharsetInfo* from = converter.from();
  const CharsetInfo* to = converter.to();
  if (from == nullptr || to == nullptr) return nullptr;
  const std::size_t len = std::strlen(text);
  bool ascii = true;
  for (std::size_t i = 0; i < len && ascii; ++i) {
    ascii = static_cast<unsigned char>(text[i]) < 0x80;
  }
  if (ascii) return nullptr;
  const std::size_t unit = from->unit_width != 0 ? from->unit_width : 1;
  const std::size_t room = (len + unit - 1) / unit * (to->max_bytes != 0 ? to->max_bytes : 4);
  // The terminator has room of its own: two zero bytes for a set of 2-byte units.
  const std::size_t terminator = to->unit_width > 1 ? 2 : 1;
  if (room > 0xFFFFFFFFu - terminator || len > 0xFFFFFFFFu) return nullptr;
  auto* out = static_cast<unsigned char*>(ut_malloc(room + terminator));
  if (out == nullptr) return nullptr;
  unsigned int written = 0;
  const int rc = converter.Convert(out, static_cast<unsigned int>(room), &written,
                                   reinterpret_cast<const unsigned char*>(text),
                                   static_cast<unsigned int>(len));
  if (rc >= kConvFailed || written > room) {
    ut_free(out);
    return nullptr;
  }
  for (std::size_t i = 0; i < terminator; ++i) out[written + i] = 0;
  return reinterpret_cast<char*>(out);
}

char* i_cs_ConvertFromOSCharset(a_cmdseq_env* env, const char* charset, const char* text) {
  if (env == nullptr || env->locale == nullptr || charset == nullptr || text == nullptr) {
    return nullptr;
  }
  const CharsetInfo* to = UTLocale::GetCharsetInfoFromLabel(charset, kSchemeAll);
  const CharsetInfo* from = env->locale->os_charset();
  // A set of 2-byte units cannot be carried in a zero-terminated text.
  if (to == nullptr || from == nullptr || to == from || to->unit_width > 1) return nullptr;
  CharsetConverter converter(env->locale, to, from);
  return do_convert(converter, text);
}

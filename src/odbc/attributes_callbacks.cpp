// The application's message and file-transfer callbacks (connection attributes 1904, 1910
// and 1912) and the two handlers the client environment calls for them.
//
// The client environment is one per process, so the handlers are registered once for
// every connection of every ODBC environment: the message handler while at least one
// connection has a message callback, the file-transfer handler from the first file-transfer
// callback on (registered again after the client environment was started anew). The
// handlers then pick each connection's own callback.
#include <cstring>
#include <mutex>

#include "cmdseq/cmdseq_env.h"
#include "odbc/attributes.h"
#include "odbc/engine.h"
#include "utils/base/memory.h"
#include "utils/locale/charset_converter.h"

namespace {

// Guards the count and the registrations below (attribute calls of different connections
// run under different connection mutexes).
std::mutex g_callback_mutex;
unsigned g_message_callbacks = 0;  // connections with a message callback

// Largest even byte count a 16-bit length can carry.
constexpr std::size_t kMaxWideMessageBytes = 0xFFFE;

void message_relay(std::uintptr_t cb_value, std::uint8_t type, std::int32_t code,
                   std::uint16_t length, const char* text) {
  ODBCMessageHandler(cb_value, type, code, length, text);
}

int file_tran_relay(std::uintptr_t cb_value, const char* file_name, int write, int* allow) {
  return ODBCValFileTranHandler(cb_value, file_name, write, allow);
}

tagDBC* AsConnection(std::uintptr_t cb_value) {
  auto* h = reinterpret_cast<tagOBJECT*>(cb_value);
  if (h == nullptr || h->kind != OBJ_DBC) return nullptr;
  return static_cast<tagDBC*>(h);
}

// The narrow text in UTF-16LE for a wide callback. The converter is the connection's
// (or, for an ANSI application, the one it keeps for its narrow calls).
void DeliverWide(tagDBC* dbc, a_odbc_wide_message_callback callback, std::uint8_t type,
                 std::int32_t code, std::uint16_t length, const char* text) {
  CharsetConverter* converter =
      dbc->conn_to_wide != nullptr ? dbc->conn_to_wide : dbc->ansi_to_wide;
  if (converter == nullptr) return;
  // Each narrow byte gives at most one UTF-16 code unit; the rest is the terminator.
  const std::size_t room = 2 * static_cast<std::size_t>(length) + 4;
  auto* buffer = static_cast<unsigned char*>(ut_malloc(room));
  if (buffer == nullptr) return;  // the message is dropped
  unsigned int written = 0;
  if (length > 0 && text != nullptr) {
    converter->Convert(buffer, static_cast<unsigned int>(room - 2), &written,
                       reinterpret_cast<const unsigned char*>(text), length);
  }
  written &= ~1u;
  if (written > kMaxWideMessageBytes) written = kMaxWideMessageBytes;
  buffer[written] = 0;
  buffer[written + 1] = 0;
  callback(dbc, type, code, static_cast<std::uint16_t>(written),
           reinterpret_cast<const SQLWCHAR*>(buffer));
  ut_free(buffer);
}

}  // namespace

void ODBCMessageHandler(std::uintptr_t cb_value, std::uint8_t type, std::int32_t code,
                        std::uint16_t length, const char* text) {
  tagDBC* dbc = AsConnection(cb_value);
  if (dbc == nullptr || dbc->message_callback == nullptr) return;
  if (dbc->wide != 0) {
    DeliverWide(dbc, reinterpret_cast<a_odbc_wide_message_callback>(dbc->message_callback),
                type, code, length, text);
    return;
  }
  dbc->message_callback(dbc, type, code, length, text);
}

int ODBCValFileTranHandler(std::uintptr_t cb_value, const char* file_name, int write,
                           int* allowed) {
  tagDBC* dbc = AsConnection(cb_value);
  if (dbc == nullptr || dbc->file_tran_callback == nullptr) return 0;
  const int answer = dbc->file_tran_callback(dbc, file_name, write);
  if (allowed != nullptr) *allowed = answer != 0 ? 1 : 0;
  return 1;
}

void SetMessageCallback(tagDBC* dbc, void* callback, bool wide) {
  const bool had = dbc->message_callback != nullptr;
  const bool has = callback != nullptr;
  {
    // Counted per connection that has one, so that replacing a callback or clearing it
    // twice keeps the count true.
    // The client environment forgets its callbacks when the last ODBC environment
    // goes, so registration is checked against the environment, not remembered here.
    std::lock_guard<std::mutex> lock(g_callback_mutex);
    if (has && !had) ++g_message_callbacks;
    if (has && CmdSeqEnv.message_callback.load() != message_relay) {
      CmdSeqRegisterMessageCallback(&CmdSeqEnv, message_relay);
    } else if (!has && had && g_message_callbacks > 0 && --g_message_callbacks == 0) {
      CmdSeqRegisterMessageCallback(&CmdSeqEnv, nullptr);
    }
  }
  dbc->message_callback = reinterpret_cast<a_odbc_message_callback>(callback);
  dbc->wide = has && wide ? 1 : 0;
}

void SetFileTranCallback(tagDBC* dbc, void* callback) {
  dbc->file_tran_callback = reinterpret_cast<a_odbc_file_tran_callback>(callback);
  if (callback == nullptr) return;
  std::lock_guard<std::mutex> lock(g_callback_mutex);
  if (CmdSeqEnv.validate_file_tran_callback.load() != file_tran_relay) {
    CmdSeqRegisterValidateFileTranCallback(&CmdSeqEnv, file_tran_relay);
  }
}

// The message text of a diagnostic record: the server error of a connection's error
// block, the driver's texts of its own states, and the assembly of prefix and body.
#include <cstdio>
#include <cstring>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/error_info.h"
#include "cmdseq/errors/error_table.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "utils/locale/lang_string.h"

namespace {

// Bytes of the buffer a state's text is read into.
constexpr std::size_t kStateTextBytes = 256;
// Most message parameters a server error's template uses.
constexpr int kMaxTemplateArgs = 8;
// "Server error %1: its message text is not available".
constexpr unsigned long kMsgNoServerText = 8250;

// The client environment's message strings: those of the environment the connection's
// error block belongs to, else the process's one environment.
UTLangStringBase* EnvironmentStrings(tagDBC* connection) {
  if (connection != nullptr && connection->err.env != nullptr) return connection->err.env->lang;
  return CmdSeqEnv.lang;
}

}  // namespace

void ODBCErrorMessage(tagDBC* connection, char* buffer, std::size_t size) {
  if (connection == nullptr || buffer == nullptr || size < 2) return;
  const a_cmdseq_error_info& err = connection->err;
  if (err.message != nullptr) {
    const std::size_t n = strnlen(err.message, size - 2);
    std::memcpy(buffer, err.message, n);
    buffer[n] = '\0';
    buffer[size - 1] = '\0';
    return;
  }
  const a_cmdseq_error_map* row = err.sqlcode != 0
                                      ? GetErrorMapForSQLCode(err.sqlcode)
                                      : GetErrorMapForSQLState(PackSQLState(err.server_state));
  if (row == nullptr) return;
  UTLangStringBase* strings = EnvironmentStrings(connection);
  if (strings == nullptr) return;

  const unsigned int bytes = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned int>(size);
  char pattern[UTLangStringBase::kShortPatternBytes];
  if (strings->GetString(static_cast<unsigned long>(row->message_id), pattern,
                         sizeof pattern) == 0) {
    char code[16];
    std::snprintf(code, sizeof code, "%d", static_cast<int>(err.sqlcode));
    const char* args[] = {code, nullptr};
    strings->ArrayFormatMiscLangStr(kMsgNoServerText, buffer, bytes, args);
    return;
  }
  const char* args[kMaxTemplateArgs + 1] = {};
  int n = 0;
  for (const a_cmdseq_str_node* p = err.params; p != nullptr && n < kMaxTemplateArgs;
       p = p->next) {
    args[n++] = p->text;
  }
  strings->ArrayFormatMiscLangStr(static_cast<unsigned long>(row->message_id), buffer, bytes,
                                  args);
}

void StateString(tagDBC* connection, a_packed_sqlstate state, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return;
  buffer[0] = '\0';
  const std::uint16_t id = StateMessageId(state);
  if (id == 0) return;
  UTLangStringBase* strings = connection != nullptr ? connection->lang : nullptr;
  if (strings == nullptr) strings = EnvironmentStrings(connection);
  if (strings == nullptr) return;
  const unsigned int bytes = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned int>(size);
  strings->GetString(id, buffer, bytes);
}

int FormatDiagMessage(tagDBC* connection, const tagDIAGREC* record, SQLCHAR* buffer,
                      SQLSMALLINT buffer_length, SQLSMALLINT* length_out) {
  char message[kDiagMessageChars + 1] = "";
  std::size_t length = 0;
  if (record != nullptr && record->odbc3 != kStateNone) {
    const char* body = record->text;
    char state_text[kStateTextBytes];
    if (body == nullptr) {
      StateString(connection, record->odbc3, state_text, sizeof state_text);
      if (state_text[0] != '\0') body = state_text;
    }
    const bool server_error = record->native != 0 && connection != nullptr;
    const bool brackwater = connection != nullptr && (connection->cap_a & kCapBrackwater) != 0;
    length = AssembleDiagMessage(OLEDB.load(std::memory_order_relaxed) != 0,
                                 IS_JDBC.load(std::memory_order_relaxed) != 0, server_error,
                                 brackwater, body, message);
  }
  return CopyDiagText(message, length, buffer, buffer_length, length_out);
}

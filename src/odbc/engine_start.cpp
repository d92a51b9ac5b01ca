// Start and stop of the engine interface: the task runtime, the client library and the
// process's one client environment, and the dropped-connection callback the environment
// carries. Start and stop run under EnvCritSect (the first environment starts the layer,
// the last one stops it), so the started flag needs no lock of its own.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "cmdseq/error_info.h"
#include "odbc/data_sources.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"
#include "vqtasks.h"

a_cmdseq_env CmdSeqEnv;

namespace {

std::atomic<bool> g_started{false};

// Message 8247: the client environment could not be set up.
constexpr unsigned long kMsgEnvFailed = 8247;

// The environment gives the callback the connection's callback value, which is the
// owner of the connection's error block: the tagDBC.
void dropped_relay(std::uintptr_t cb_value, const char* /*conn_name*/) {
  ConnDroppedCallback(reinterpret_cast<void*>(cb_value));
}

// The reason the environment could not be set up, told by a locale and message strings
// of our own: the message files opened, so the failure was elsewhere (8247); or the
// message files themselves are missing or damaged.
void explain_failure(char* error_text, int size) {
  if (error_text == nullptr || size <= 0) return;
  error_text[0] = '\0';
  auto* locale = new (std::nothrow) UTLocale();
  if (locale == nullptr) return;
  auto* strings = new (std::nothrow) UTLangString(locale);
  if (strings != nullptr) {
    const ls_init_return rc = strings->Init(nullptr, nullptr, 0);
    if (rc == LS_INIT_SUCCESS) {
      strings->FormatMiscLangStr(kMsgEnvFailed, error_text, static_cast<unsigned>(size));
    } else {
      UTLangStringBase::GetInitErrorStr(rc, error_text, static_cast<unsigned>(size), nullptr, 0);
    }
    delete strings;
  }
  delete locale;
  error_text[size - 1] = '\0';
}

}  // namespace

int DBInitialize(char* error_text, int size) {
  if (g_started.load()) return 1;
  OS_Init();
  CmdSeqInit();
  if (CmdSeqAllocEnv(&CmdSeqEnv) == CMDSEQ_OK) {
    CmdSeqEnv.app_type = 2;
    CmdSeqRegisterConnDroppedCallback(&CmdSeqEnv, dropped_relay);
    LoadInstallDLL();  // bound once for the process
    g_started.store(true);
    return 1;
  }
  explain_failure(error_text, size);
  // What the set-up made is torn down and the start counts given back, so that a failed
  // start leaks nothing and a later one begins afresh.
  (void)CmdSeqFreeEnv(&CmdSeqEnv);
  CmdSeqFini();
  OS_Fini();
  return 0;
}

int DBFinalize() {
  if (!g_started.load()) return 1;
  const a_cmdseq_return freed = CmdSeqFreeEnv(&CmdSeqEnv);
  CmdSeqFini();
  OS_Fini();
  g_started.store(false);
  return freed == CMDSEQ_OK ? 1 : 0;
}

bool DBIsStarted() { return g_started.load(); }

UTLocale* SQLGetUTLocale() { return CmdSeqEnv.locale; }

void DBInitErrorParam(tagDBC* dbc) {
  CmdSeqInitErrorParam(&CmdSeqEnv, &dbc->err, reinterpret_cast<std::uintptr_t>(dbc));
}

void ConnDroppedCallback(void* owner) {
  if (owner == nullptr) return;
  auto* h = static_cast<tagOBJECT*>(owner);
  if (h->kind != OBJ_DBC) return;
  static_cast<tagDBC*>(h)->dropped.store(1);
}

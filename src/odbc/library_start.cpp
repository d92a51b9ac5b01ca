// Library start and stop, the version record and the memory support of the ODBC layer.
#include "odbc/library_start.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "cmdseq/cmdseq_env.h"
#include "config/version_info.h"
#include "odbc/diagnostics.h"
#include "odbc/handles.h"
#include "odbc/string_pool.h"
#include "utils/base/version_block.h"
#include "vqtasks.h"

namespace {

std::atomic<int> g_start_count{0};
void* g_module = nullptr;

// The library's version record is the configuration's version block; its fifteenth
// entry (index 14) is UNAME.
constexpr int kUnameEntry = 14;

void Trace(const char* line) {
  if (std::getenv("VELSR_TRACK_LIBS") == nullptr) return;
  // Straight to the descriptor: this runs in constructors and destructors.
  ssize_t ignored = write(STDERR_FILENO, line, std::strlen(line));
  (void)ignored;
}

void PrintVersionInfo() {
  if (std::getenv("VELSR_VERSION_INFO") == nullptr) return;
  // The first entry begins right after the tag.
  const char* entry = vq_version_info_block + kVersionTagBytes;
  for (int i = 0; i < kUnameEntry; ++i) entry += std::strlen(entry) + 1;
  ssize_t ignored = write(STDOUT_FILENO, entry, std::strlen(entry));
  ignored = write(STDOUT_FILENO, "\n", 1);
  (void)ignored;
}

// The wrapper the static constructor and destructor call: (1, 65535) starts, (0, 65535)
// stops, any other pair does nothing.
void StaticInitFini(int initialize, int priority) {
  if (priority != 65535) return;
  if (initialize == 1) {
    LibInit_jdbc();
    PrintVersionInfo();
  } else if (initialize == 0) {
    LibFini_jdbc();
  }
}

struct LibraryLifetime {
  LibraryLifetime() { StaticInitFini(1, 65535); }
  ~LibraryLifetime() { StaticInitFini(0, 65535); }
};

LibraryLifetime g_lifetime;

}  // namespace

void LibInit_jdbc() {
  if (g_start_count.fetch_add(1) > 0) return;
  Trace("[VSR] odbc init ...\n");
  odbc_lib_unloaded.store(0);
  UnixForkProtection_Init();
  InitializeEnvironmentSemaphores();
  InitializeMemorySemaphores();
  InitializeEnvironments();
  ut_onsig_install_signal_handlers(1);
  Trace("[VSR] odbc init complete\n");
}

void LibFini_jdbc() {
  int count = g_start_count.load();
  do {
    if (count <= 0) return;  // a stop without a start
  } while (!g_start_count.compare_exchange_weak(count, count - 1));
  if (count - 1 > 0) return;
  if (UnixForkProtection_IsChild() != 0) {
    Trace("[VSR] odbc fini (ignored)\n");
    return;
  }
  Trace("[VSR] odbc fini ...\n");
  FiniEnvironments();
  FiniMemorySemaphores();
  FiniEnvironmentSemaphores();
  odbc_lib_unloaded.store(1);
  Trace("[VSR] odbc fini completed\n");
}

void JDBC_INIT() { IS_JDBC.store(1); }
void JDBC_FINI() {}

void InitHandle(void* module, int oledb) {
  g_module = module;
  OLEDB.store(oledb);
}

void* ModuleHandle() { return g_module; }

void InitializeMemorySemaphores() {
  CmdSeqInitMem();
  InitializeStringTable();
}

void FiniMemorySemaphores() {
  DoneStringTable(true);
  CmdSeqFiniMem();
}

const char* VersionRecord(std::size_t* size) {
  if (size != nullptr) *size = vq_version_info_block_size;
  return vq_version_info_block;
}

namespace vq::odbc {
int LibraryStartCount() { return g_start_count.load(); }
}  // namespace vq::odbc

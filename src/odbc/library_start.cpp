// Library start and stop, the version record and the memory support of the ODBC layer.
#include "odbc/library_start.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "cmdseq/cmdseq_env.h"
#include "odbc/diagnostics.h"
#include "odbc/handles.h"
#include "odbc/string_pool.h"
#include "vqtasks.h"

namespace {

std::atomic<int> g_start_count{0};
void* g_module = nullptr;

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
#define VQ_POINTER_BITS "64"
#else
#define VQ_POINTER_BITS "32"
#endif

// The version record, kept whole in the library file so that tools can read it there.
// Entry 15 (index 14) is UNAME. The EXTENSIONS entry names no extension fields.
__attribute__((used)) const char kVersionRecord[] =
    "@@==Version==@1@MODULE=libvqjdbc12.so.1\0"
    "VERSION_CLASS=jdbc\0"
    "VERSION_MAJOR=12\0"
    "VERSION_MINOR=0\0"
    "VERSION_PATCH=0\0"
    "BUILD_NUMBER=2566\0"
    "POINTERSIZE=" VQ_POINTER_BITS "\0"
    "PLATFORM=linux\0"
    "DATE=" __DATE__ "\0"
    "TIME=" __TIME__ "\0"
    "HOST=build\0"
    "THREADS=posix\0"
    "PRODUCTION=1\0"
    "COMPILER=gnu\0"
    "UNAME=Linux x86_64\0"
    "IDENT=libvqjdbc12 native driver\0"
    "NOTICE=Vellumcrest JDBC driver, native part\0"
    "EXTENSIONS=\0";  // the array's own NUL ends the list

constexpr int kUnameEntry = 14;

void Trace(const char* line) {
  if (std::getenv("VELSR_TRACK_LIBS") == nullptr) return;
  // Straight to the descriptor: this runs in constructors and destructors.
  ssize_t ignored = write(STDERR_FILENO, line, std::strlen(line));
  (void)ignored;
}

void PrintVersionInfo() {
  if (std::getenv("VELSR_VERSION_INFO") == nullptr) return;
  const char* entry = kVersionRecord;
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
  if (size != nullptr) *size = sizeof kVersionRecord;
  return kVersionRecord;
}

namespace vq::odbc {
int LibraryStartCount() { return g_start_count.load(); }
}  // namespace vq::odbc

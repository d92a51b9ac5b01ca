// The run-time library loader over dlopen, with the optional load trace.
#include "utils/base/library_loader.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "utils/base/file_locations.h"
#include "utils/base/os_info.h"

namespace {

constexpr unsigned kTraceChars = 4177;  // longest trace line, terminator not counted
constexpr unsigned kPathBytes = 4097;   // 4096 characters and the terminator

std::atomic<UTDllTraceFn> g_trace{nullptr};

void TraceLoad(UTDllTraceFn trace, const char* file) {
  char line[kTraceChars + 1];
  VCFileVersion version;
  const char* tail =
      version.set_from_file(file) ? version.as_string() : "(Version info not available)";
  // snprintf cuts at the buffer; a cut trace line is still a useful trace line.
  std::snprintf(line, sizeof line, "Loading DLL \"%s\", %s", file, tail);
  trace(line);
}

}  // namespace

extern "C" {

void* UTLoadLibrary(const char* file) {
  void* handle = dlopen(file, RTLD_NOW);
  if (handle == nullptr || file == nullptr) return handle;
  if (UTDllTraceFn trace = g_trace.load()) TraceLoad(trace, file);
  return handle;
}

void* UTLoadQualifiedLibrary(const char* name) {
  char path[kPathBytes];
  const unsigned n = LS_QualifyVellumFile(2, name, path, sizeof path, &defaultQualifyCB);
  if (n == 0 || n >= sizeof path) return nullptr;
  return UTLoadLibrary(path);
}

void* UTGetProcAddress(void* handle, const char* name) {
  if (name == nullptr) return nullptr;
  return dlsym(handle, name);
}

int UTUnloadLibrary(void* handle) {
  if (handle == nullptr) return 0;
  return dlclose(handle);
}

int UTGetLoadError(char* buf, unsigned size) {
  const char* text = dlerror();
  if (buf == nullptr || size == 0) return text != nullptr ? 1 : 0;
  if (text == nullptr) {
    buf[0] = '\0';
    return 0;
  }
  std::strncpy(buf, text, size - 1);
  buf[size - 1] = '\0';
  return 1;
}

void UTDumpDllNames(UTDllTraceFn fn) { g_trace.store(fn); }

}  // extern "C"

// The driver's process-wide start and stop, run by the library's static constructor and
// destructor without any call from the application; the JDBC switch; the memory support
// of the ODBC layer; and the library's version record.
//
// Start and stop are counted: only the first start and the matching last stop do any
// work. In a process forked from the one that started the driver, stop tears nothing
// down (the parent's state is not the child's to end). With VELSR_TRACK_LIBS set, start
// and stop write trace lines to standard error; with VELSR_VERSION_INFO set at load, the
// version record's UNAME entry is printed to standard output.
#ifndef VQ_ODBC_LIBRARY_START_H
#define VQ_ODBC_LIBRARY_START_H

#include <cstddef>

void LibInit_jdbc();
void LibFini_jdbc();

// Set by the JDBC bridge when it loads the library: messages then name the JDBC driver.
void JDBC_INIT();
void JDBC_FINI();
// Stores the module handle and the OLEDB switch.
void InitHandle(void* module, int oledb);
void* ModuleHandle();

// The client's memory support and the conversion-buffer pool.
void InitializeMemorySemaphores();
void FiniMemorySemaphores();

// The library's version record (the configuration's version block): the version tag,
// NUL-terminated KEY=VALUE entries, an empty entry and the extension area. `size`
// receives its bytes, tag included.
const char* VersionRecord(std::size_t* size);

namespace vq::odbc {

// The start count (for tests).
int LibraryStartCount();

// Allocation seam of the ODBC layer's memory helpers (VAllocLocked, VReallocLocked):
// while a hook is set, an allocation of `size` bytes fails when it answers true.
// Returns the previous hook.
using AllocFailureHook = bool (*)(std::size_t size);
AllocFailureHook SetAllocFailureHook(AllocFailureHook hook);

}  // namespace vq::odbc

#endif  // VQ_ODBC_LIBRARY_START_H

// Loading shared libraries at run time: every library the system opens by name (the
// Unicode library, crypto modules, GSS-API, LDAP, the installer and translation
// libraries) goes through these few calls, so that a load can be traced in one place.
//
// The trace function is a plain process-wide value: set it at start-up, before loads
// happen. The loader itself is thread-safe; UTGetLoadError reports the calling thread's
// last loader error.
#ifndef VQ_UTILS_BASE_LIBRARY_LOADER_H
#define VQ_UTILS_BASE_LIBRARY_LOADER_H

extern "C" {

// Receives one line per successful load while tracing is on.
using UTDllTraceFn = void (*)(const char* text);

// dlopen with RTLD_NOW (every symbol resolved at once, nothing made global). The
// loader's handle, or null on failure. With a trace function set, a successful load
// passes it "Loading DLL \"<file>\", " followed by the file's version (major.minor.
// release.build from its version block) or by "(Version info not available)", at most
// 4,177 characters. A null file opens the main program (and is not traced).
void* UTLoadLibrary(const char* file);

// Finds the library by the library-search rules of LS_QualifyVellumFile (kind 2, only
// files of this build's word size and processor) and loads the path found. Null when it
// is not found or does not load.
void* UTLoadQualifiedLibrary(const char* name);

// dlsym: the function's address, or null when the library does not export it.
void* UTGetProcAddress(void* handle, const char* name);

// dlclose and its result; a null handle returns 0 without a call.
int UTUnloadLibrary(void* handle);

// With a loader error text pending: copies at most size - 1 characters of it, ends the
// buffer with a terminator in its last byte, returns 1. Otherwise empties the buffer
// and returns 0. Reading the text clears it. A null buffer or size 0 writes nothing.
int UTGetLoadError(char* buf, unsigned size);

// Sets the trace function; null switches tracing off.
void UTDumpDllNames(UTDllTraceFn fn);

}  // extern "C"

#endif  // VQ_UTILS_BASE_LIBRARY_LOADER_H

// Where the system finds its own files (libraries it loads, message and conversion
// files, ini files, Java archives, the local server executable) and where it puts the
// files it writes (ini files, diagnostics, backup history, temporary files).
//
// Every function works on byte strings and caller-supplied buffers; `size` is the whole
// buffer, terminator included. Functions that return a length return the length of the
// path they produced (terminator not counted) and 0 when there is none, with an empty
// output buffer then, except where stated. A path that does not fit is never cut into a
// result: the function returns 0, or where stated the needed length without writing.
// Paths are walked one character at a time in the operating system's character set, so
// a "/" byte inside a multibyte character is never taken for a separator.
//
// Environment values are read whole; a value too long for a path (4,096 characters)
// names no usable place.
#ifndef VQ_UTILS_BASE_FILE_LOCATIONS_H
#define VQ_UTILS_BASE_FILE_LOCATIONS_H

class UTCollation;

// File kinds of LS_QualifyVellumFile and of its accept callback (bit flags).
enum : int {
  kLsKindServer = 1,         // the local database server executable "vqeng12"
  kLsKindLibrary = 2,        // shared libraries loaded at run time
  kLsKindJava = 4,           // Java class files and archives
  kLsKindResource = 8,       // message resource files and "vellum.cvf"
  kLsKindConfig = 64,        // ini files, the LDAP settings file, help files
  kLsFlagDirectory = 128,    // added to a kind: a directory is an acceptable match
  kLsFlagExecOnly = 512,     // search only beside the executable and the program
  kLsFlagNoPathVars = 1024,  // stop before the search-path variables
};

extern "C" {

// The program's argument vector, for the search beside the program named by its first
// argument. Null until the host program sets it; nothing in the library sets it.
extern char** _argv;

// Accept callback of LS_QualifyVellumFile: non-zero accepts the candidate path.
using LS_QualifyCB = int (*)(int kind, const char* path);

// Accepts every candidate, except that for a library (kind bit 2) it accepts only an
// ELF file of this build's word size, byte order and processor (64-bit x86-64 here):
// a library of another word size could never be loaded.
int defaultQualifyCB(int kind, const char* path);

// The running executable's path, read from the link "/proc/<pid>/exe". 0 when the
// link cannot be read or does not fit (also for a null out or size 0).
unsigned LS_GetExecFileName(char* out, unsigned size);
// The executable's directory, with its final "/". 0 when the executable is unknown.
unsigned LS_GetPathFromExecName(char* out, unsigned size);

// The user application-data directory: the home directory (HOME preferred over the
// password database) + "/.vellumcrest12". With create non-zero it must end up usable:
// an existing writable directory, or one created now (mode 0777 before the umask).
// Returns 1 on success; 0 (out empty) when the home directory is unknown, the path
// does not fit, or the directory is unusable.
unsigned LS_GetVellumUserAppDataPath(char* out, unsigned size, unsigned create);

// Application-data directory (created if needed) + "/" + name. The second argument is
// not used.
unsigned LS_PlaceIniFile(const char* name, unsigned, char* out, unsigned size);
// LS_PlaceIniFile, and the file must be readable and not a directory.
unsigned LS_QualifyIniFile(const char* name, unsigned, char* out, unsigned size);

// The directory for diagnostic files: VCDIAGDIR when it names a writable directory;
// else the application-data "diagnostics" directory (created if needed); else "." when
// writable, else the temporary directory or "/tmp". The chosen directory must be an
// existing writable directory, else 0. The path is copied only when it fits; its length
// is returned either way.
unsigned LS_GetDiagnosticDir(char* out, unsigned size);
// Diagnostic directory + "/" + name; copied only when it fits, the length returned
// either way; 0 without a usable diagnostic directory.
unsigned LS_PlaceDiagnosticFile(const char* name, char* out, unsigned size);
// The first existing writable directory of VCLOGDIR, the application-data directory
// (created if needed) and ".", + "/" + name. 0 when none is usable or it does not fit.
unsigned LS_PlaceBackupHistoryFile(const char* name, char* out, unsigned size);
// ".odbc.ini" (exactly): LS_PlaceOdbcIniFile. Otherwise the application-data
// directory (created if needed) + "/" + name, or the name alone (the current
// directory) when that directory is unusable.
unsigned LS_PlaceVellumFile(const char* name, char* out, unsigned size);

// Finds one of the system's files by kind and name, stopping at the first match:
//  1. beside the executable, 2. beside the program named by _argv[0],
//  (kind 512 stops here) 3. under the installation root (VCDIR, else VELLUM12),
//  4. the name as given (not for kinds 1, 2 and 1024),
//  5. the application-data directory (for kinds with a bit outside 0x287, not 2),
//  (kind 1024 stops here) 6. the search-path variables: LD_LIBRARY_PATH then PATH for
//  libraries, PATH then LD_LIBRARY_PATH otherwise, each with the name and then with
//  every subdirectory of the table that serves the kind,
//  7. (also for kind 1024) the directory of the loaded library that holds this code.
// Under each root of steps 1 to 3 the name is tried directly, under the root's
// resolved form, and (except for kind 512) under each subdirectory that serves the kind.
// A candidate matches when it is readable, not a directory (unless the kind has flag
// 128) and the callback accepts it (a null callback accepts everything).
// A library is never taken from the current directory merely because its plain name
// is there: only a directory named in a search rule (a root, or an element of a
// search-path variable, "." included) puts it there.
// When the path found does not fit in out, out is left alone and the length returned.
unsigned LS_QualifyVellumFile(int kind, const char* name, char* out, unsigned size,
                              LS_QualifyCB callback);

// The directory, resolved and with its final "/", of the loaded file (shared library or
// program) that holds address. 0 when the loader knows no such file.
unsigned LS_GetModuleDirectory(const void* address, char* out, unsigned size);

// A Java class file or archive (".class", ".cls", ".jar", ".zip", any letter case) on
// the ":"-separated class path: an element that contains the name is the candidate
// itself, else element + "/" + name; then the name as given. Without a class path,
// LS_QualifyVellumFile kind 4. 0 for another extension (the file system untouched), or
// when nothing is found or the path does not fit.
unsigned LS_QualifyFileWithClassPath(const char* name, const char* classpath, char* out,
                                     unsigned size);

// Write an empty string and return 0.
unsigned LS_GetLocationSpec(char* out, unsigned size);
unsigned LS_GetLocationCESpec(char* out, unsigned size);

// The installation root, into out (4,096 bytes): VCDIR, else VELLUM12, every trailing
// "/" removed ("/" becomes empty). A value of 4,096 characters or more sets errno to
// ENAMETOOLONG and gives an empty root.
void GetInstallationRoot(char* out);
// The same rules for the variable TOVRAK alone.
void GetTovrakInstallationRoot(char* out);

// The first of VCTMP, TMP, TMPDIR and TEMP that is set, with at most size - 1 of its
// characters; the copied length. 0 with an empty out when none is set; size 0 writes
// nothing and returns 0.
unsigned UTGetTempDir(char* out, unsigned size);

// Creates a new, empty file (mode 0600) named <temporary directory>/<prefix>XXXXXX
// (XXXXXX unique; the temporary directory of UTGetTempDir, else "/tmp"; prefix "_T"
// when null) and writes its name to out. The file exists when this returns, so no
// other process can take the name between choosing and opening it: open it without
// O_EXCL, and remove it when done. When the name would not fit or no file can be
// created, out is empty. Nothing happens when size is 0.
void GetTempFilename(char* out, unsigned size, const char* prefix);

// Copies the variable's value into buf (strncpy, a terminator forced into the last of
// the len bytes) and returns buf; null when the variable is not set.
char* ut_getenv(const char* name, char* buf, unsigned len);

// Finds the ODBC data-source file, in order: ODBCINI; ODBC_INI; ODBCHOME + "/" +
// fileName; HOME + "/" + fileName; the password database's home directory + "/" +
// fileName, else (with mustExist) the file searched on PATH. With mustExist each
// candidate must exist to be taken. The length of the path written, 0 when there is
// none or it does not fit.
unsigned LS_QualifyOdbcIniFile(const char* fileName, char* out, unsigned size, int mustExist);
// Where a data-source file is created: ODBCINI, else ODBC_INI, else ODBCHOME + "/" +
// fileName, else HOME + "/" + fileName, else the password database's home directory +
// "/" + fileName; 0 when none is known or the path does not fit.
unsigned LS_PlaceOdbcIniFile(const char* fileName, char* out, unsigned size);

}  // extern "C"

// The same as the plain forms; the executable's directory is found under the given
// collation (set to the operating system's collation by the caller).
unsigned LS_GetExecFileName(UTCollation& collation, char* out, unsigned size);
unsigned LS_GetPathFromExecName(UTCollation& collation, char* out, unsigned size);

#endif  // VQ_UTILS_BASE_FILE_LOCATIONS_H

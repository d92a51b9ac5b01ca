// SEAM: the Kerberos binding's loader and catalog texts, in one place.
//
// The base library's loader (UTLoadLibrary, UTGetProcAddress, UTUnloadLibrary) and the
// message catalog (UTLangStringBase::FormatMiscLangStr) are not in this tree yet. Until
// they are, these four functions call the dynamic loader directly, with the same flags
// (RTLD_NOW, not global), and answer "no catalog text", so that the binding writes its
// built-in English texts. Swapping in the real ones touches only this file.
#include <dlfcn.h>

#include "security/kerberos_int.h"

namespace vq::kerberos {

void* SeamLoadLibrary(const char* file) { return dlopen(file, RTLD_NOW | RTLD_LOCAL); }

void* SeamGetProcAddress(void* library, const char* name) {
  return library != nullptr ? dlsym(library, name) : nullptr;
}

void SeamUnloadLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

std::size_t SeamCatalogMessage(UTLangStringBase* /*catalog*/, unsigned /*id*/, char* buf,
                               std::size_t size, const char* /*arg1*/, const char* /*arg2*/) {
  if (size > 0) buf[0] = '\0';
  return 0;
}

}  // namespace vq::kerberos

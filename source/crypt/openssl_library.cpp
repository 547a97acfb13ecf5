#include "source/crypt/openssl_library.h"

#include <dlfcn.h>
#include <openssl/opensslv.h>

#define QUARLEX_TEXT(x) #x
#define QUARLEX_SONAME(major) "libcrypto.so." QUARLEX_TEXT(major)

namespace {

const OpenSslLibrary* load() {
  // The library the headers belong to; it stays loaded until the process ends.
  void* handle = dlopen(QUARLEX_SONAME(OPENSSL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  static OpenSslLibrary library;
  bool complete = true;
#define QUARLEX_OPENSSL_LOOKUP(name)                                       \
  library.name = reinterpret_cast<decltype(library.name)>(dlsym(handle, #name)); \
  complete = complete && library.name != nullptr;
  QUARLEX_OPENSSL_FUNCTIONS(QUARLEX_OPENSSL_LOOKUP)
#undef QUARLEX_OPENSSL_LOOKUP
  return complete ? &library : nullptr;
}

}  // namespace

const OpenSslLibrary* openSsl() {
  static const OpenSslLibrary* const library = load();
  return library;
}

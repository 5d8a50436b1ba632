// libpq loaded at run time (Linux): the first server a program uses loads it, once.
#include <dlfcn.h>

#include <type_traits>

#include "store/pq_api.h"

namespace lovar {
namespace {

// libpq's stable interface: Debian's package libpq5.
constexpr const char* kLibrary = "libpq.so.5";

struct Loaded {
  PqApi api;
  std::string why;  // empty when loaded
};

Loaded Load() {
  Loaded loaded;
  // Never closed: the library and OpenSSL keep state until the program ends.
  void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    loaded.why = std::string("нет библиотеки ") + kLibrary + ": установите пакет libpq5";
    return loaded;
  }
  const auto find = [&](auto& field, const char* name) {
    field = reinterpret_cast<std::remove_reference_t<decltype(field)>>(dlsym(library, name));
    if (field == nullptr && loaded.why.empty())
      loaded.why = std::string("библиотека ") + kLibrary + " слишком старая (нет функции " + name +
                   "): обновите пакет libpq5";
  };
#define LOVAR_PQ_FIND(name) find(loaded.api.name, #name);
  LOVAR_PQ_FUNCTIONS(LOVAR_PQ_FIND)
#undef LOVAR_PQ_FIND
  return loaded;
}

}  // namespace

const PqApi* LoadPq(std::string& why) {
  static const Loaded loaded = Load();
  why = loaded.why;
  return loaded.why.empty() ? &loaded.api : nullptr;
}

}  // namespace lovar

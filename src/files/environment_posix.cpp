#include <cstdlib>

#include "files/environment.h"

namespace lovar {

std::string EnvironmentUtf8(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace lovar

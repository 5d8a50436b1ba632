#include <cerrno>

#include "files/system_error_text.h"

namespace lovar {

// The system's codes are errno values; the one a user meets beyond the C library's set:
std::string SystemErrorText(int code) {
  if (code == EDQUOT) return "превышена квота на диске";
  return ErrnoText(code);
}

}  // namespace lovar

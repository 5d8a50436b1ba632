#include <unistd.h>

#include "cli/console.h"

namespace lovar {

void PrepareConsole() {}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace lovar

#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "cli/console.h"

namespace lovar {

// Our texts are UTF-8; the console shows them right only when told so.
void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

}  // namespace lovar

// lovar: the desktop configurator of the site communicators.
#include "app.h"

int main(int argc, char** argv) {
  return lovar::RunLovar(argc, argv);
}

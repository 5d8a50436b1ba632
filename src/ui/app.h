// The program lovar: options, the display check, the application and its two windows.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace lovar {

struct AppOptions {
  int demo_model = 0;  // --demo 250|251|252: that demo device is chosen in the port list
  bool help = false;
  bool version = false;
  // A configuration file given on the command line (an opened .dat file): offered for loading
  // once the first read from a device is complete, since the file's bytes need a device of its
  // model to be written to, and a model 251 file holds only part of the device's image.
  QString file;
  QString error;  // a refused command line, in Russian
};
AppOptions ParseAppOptions(const QStringList& arguments);  // arguments without the program

// False when nothing tells Qt where to draw: on X11/Wayland systems neither DISPLAY,
// WAYLAND_DISPLAY nor QT_QPA_PLATFORM is set. Always true where the desktop is built in.
bool DisplayAvailable();

// The program's entry: returns the exit code.
int RunLovar(int argc, char** argv);

}  // namespace lovar

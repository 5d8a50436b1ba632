// Enter presses the focused push button, as on Windows. Outside dialogs Qt presses a focused
// button with Space only; inside dialogs (message boxes, file dialogs) it already presses the
// focused button with Enter, so those are left to Qt.
//
// Threads: window thread.
#pragma once

class QCoreApplication;

namespace lovar {

// Installs the key handling on the application, once; later calls do nothing.
void InstallEnterPressesButtons(QCoreApplication& app);

}  // namespace lovar

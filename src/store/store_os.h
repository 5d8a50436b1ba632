// What the registry needs of the operating system, one source file per OS (store_os_posix.cpp,
// store_os_win.cpp): who records (station, operator), where the user's data lives, what a
// system error code means to the store, whose a registry's file is, waiting on a server's
// socket, and the end of a thread that used TLS.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>

#include "store/site_store.h"

namespace lovar {

// The host name ("" when unknown).
std::string StationName();
// The user the program runs as ("" when unknown).
std::string OperatorName();

// The folder of the user's own data, where the registry's file lives by default: on Linux
// $XDG_DATA_HOME/lovar (an absolute $XDG_DATA_HOME only), else ~/.local/share/lovar; on
// Windows %LOCALAPPDATA%\Ловар. Never the program's folder. Empty when none can be found.
std::filesystem::path DefaultDataFolder();

// A system error code (errno; GetLastError() on Windows) as the store's error: Full for no
// space, ReadOnly for a read-only file or file system, Failed for the rest.
StoreError StoreErrorOfSystem(int code);

// Keeps an existing file or folder of the registry readable by its owner only: one of the
// user's own with a looser mode (0644: its user codes readable by all) is made owner-only
// (POSIX 0600 or 0700; on Windows an access list of the user and the system alone); one that
// belongs to another user is refused (Foreign, naming the owner). Nothing there: ok. A program
// run as root (an administrator) leaves other users' files as they are.
StoreResult KeepOwnerOnly(const std::filesystem::path& path);

// Waits until the socket may be written (write) or read, at most timeout_ms (-1: no limit).
// 1 when it may, 0 when the time ran out, -1 on a failure (the next step then meets it).
int WaitForSocket(int socket, bool write, int timeout_ms);

// The local calendar time of seconds since 1970 UTC; thread-safe.
bool LocalCalendar(std::time_t seconds, std::tm& out);

// Called by a thread that used a TLS connection, before it ends: a statically linked OpenSSL
// (Windows) never hears of thread exits by itself and would keep that thread's state.
void ReleaseThreadTls();

}  // namespace lovar

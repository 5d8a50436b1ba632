#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/environment.h"
#include "store/store_os.h"

namespace lovar {

std::string StationName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string OperatorName() {
  const passwd* user = getpwuid(geteuid());
  if (user != nullptr && user->pw_name != nullptr) return user->pw_name;
  return EnvironmentUtf8("USER");
}

std::filesystem::path DefaultDataFolder() {
  const std::string data = EnvironmentUtf8("XDG_DATA_HOME");
  if (data.starts_with('/')) return std::filesystem::path(data) / "lovar";
  std::string home = EnvironmentUtf8("HOME");
  if (home.empty()) {
    const passwd* user = getpwuid(geteuid());
    if (user != nullptr && user->pw_dir != nullptr) home = user->pw_dir;
  }
  if (home.empty()) return {};
  return std::filesystem::path(home) / ".local" / "share" / "lovar";
}

StoreError StoreErrorOfSystem(int code) {
  switch (code) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return StoreError::Full;
    case EROFS:
    case EACCES:
    case EPERM:
      return StoreError::ReadOnly;
    default:
      return StoreError::Failed;
  }
}

StoreResult KeepOwnerOnly(const std::filesystem::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  const uid_t me = geteuid();
  if (st.st_uid != me) {
    if (me == 0) return {};
    const passwd* owner = getpwuid(st.st_uid);
    return StoreFailure(StoreError::Foreign,
                        "владелец — " + (owner != nullptr && owner->pw_name != nullptr
                                             ? std::string(owner->pw_name)
                                             : std::to_string(st.st_uid)));
  }
  // A file system that keeps no modes (or a read-only one) leaves it as it is.
  if ((st.st_mode & 077) != 0) (void)chmod(path.c_str(), st.st_mode & 07700);
  return {};
}

int WaitForSocket(int socket, bool write, int timeout_ms) {
  pollfd p{socket, static_cast<short>(write ? POLLOUT : POLLIN), 0};
  for (;;) {
    const int n = poll(&p, 1, timeout_ms);
    if (n >= 0) return n > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

bool LocalCalendar(std::time_t seconds, std::tm& out) {
  return localtime_r(&seconds, &out) != nullptr;
}

// libpq's OpenSSL is a shared library here, which frees a thread's state when it ends.
void ReleaseThreadTls() {}

}  // namespace lovar

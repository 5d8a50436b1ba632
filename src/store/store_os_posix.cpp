#include <pwd.h>
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

bool LocalCalendar(std::time_t seconds, std::tm& out) {
  return localtime_r(&seconds, &out) != nullptr;
}

// libpq's OpenSSL is a shared library here, which frees a thread's state when it ends.
void ReleaseThreadTls() {}

}  // namespace lovar

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
  const char* name = std::getenv("USER");
  return name != nullptr ? name : "";
}

std::filesystem::path DefaultDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::filesystem::path(data) / "lovar";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* user = getpwuid(geteuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] == '\0') return {};
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

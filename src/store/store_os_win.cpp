#include <openssl/crypto.h>
#include <shlobj.h>
#include <windows.h>

#include "files/utf8_path.h"
#include "store/store_os.h"

namespace lovar {
namespace {

std::string Utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

std::string StationName() {
  wchar_t name[256];
  DWORD size = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
  return Utf8(name, static_cast<int>(size));
}

std::string OperatorName() {
  wchar_t name[257];
  DWORD size = 257;
  if (!GetUserNameW(name, &size) || size == 0) return {};
  return Utf8(name, static_cast<int>(size - 1));  // size counts the terminator
}

std::filesystem::path DefaultDataFolder() {
  wchar_t* folder = nullptr;
  std::filesystem::path path;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder) == S_OK)
    path = std::filesystem::path(folder) / PathFromUtf8("Ловар");
  CoTaskMemFree(folder);
  return path;
}

StoreError StoreErrorOfSystem(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      return StoreError::Full;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return StoreError::ReadOnly;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return StoreError::Busy;
    default:
      return StoreError::Failed;
  }
}

bool LocalCalendar(std::time_t seconds, std::tm& out) {
  return localtime_s(&out, &seconds) == 0;
}

void ReleaseThreadTls() {
  OPENSSL_thread_stop();
}

}  // namespace lovar

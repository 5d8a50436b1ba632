#include <winsock2.h>

#include <aclapi.h>
#include <openssl/crypto.h>
#include <sddl.h>
#include <shlobj.h>
#include <windows.h>

#include <vector>

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

// The user the program runs as.
std::vector<BYTE> TokenUserSid() {
  std::vector<BYTE> buffer;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return buffer;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  buffer.resize(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
    buffer.clear();
  CloseHandle(token);
  return buffer;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

std::string AccountName(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD name_size = 256, domain_size = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) return "?";
  return Utf8(name, static_cast<int>(name_size));
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

StoreResult KeepOwnerOnly(const std::filesystem::path& path) {
  const std::vector<BYTE> token = TokenUserSid();
  if (token.empty()) return {};
  PSID user = reinterpret_cast<const TOKEN_USER*>(token.data())->User.Sid;
  PSID owner = nullptr;
  ACL* dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.wstring().c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return {};
  const auto trusted = [&](PSID sid) {
    return EqualSid(sid, user) || IsWellKnown(sid, WinLocalSystemSid) ||
           IsWellKnown(sid, WinBuiltinAdministratorsSid);
  };
  StoreResult result;
  if (owner != nullptr && !trusted(owner)) {
    result = StoreFailure(StoreError::Foreign, "владелец — " + AccountName(owner));
  } else {
    // Anyone else let in (the folder's inherited "Users", "Everyone") makes it loose.
    bool loose = dacl == nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && !loose; ++i) {
      ACE_HEADER* ace = nullptr;
      if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
          ace->AceType == ACCESS_ALLOWED_ACE_TYPE)
        loose = !trusted(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart);
    }
    if (loose) {
      BYTE system[SECURITY_MAX_SID_SIZE];
      DWORD system_size = sizeof system;
      std::error_code ec;
      const DWORD inherit =
          std::filesystem::is_directory(path, ec) ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
      std::vector<BYTE> acl_bytes(sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) +
                                  GetLengthSid(user) + SECURITY_MAX_SID_SIZE);
      auto* acl = reinterpret_cast<ACL*>(acl_bytes.data());
      if (CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &system_size) &&
          InitializeAcl(acl, static_cast<DWORD>(acl_bytes.size()), ACL_REVISION) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, GENERIC_ALL, user) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, GENERIC_ALL, system))
        SetNamedSecurityInfoW(const_cast<wchar_t*>(path.wstring().c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, acl, nullptr);
    }
  }
  LocalFree(descriptor);
  return result;
}

int WaitForSocket(int socket, bool write, int timeout_ms) {
  WSAPOLLFD p{static_cast<SOCKET>(socket), static_cast<SHORT>(write ? POLLWRNORM : POLLRDNORM), 0};
  const int n = WSAPoll(&p, 1, timeout_ms);
  return n > 0 ? 1 : n == 0 ? 0 : -1;
}

bool LocalCalendar(std::time_t seconds, std::tm& out) {
  return localtime_s(&out, &seconds) == 0;
}

void ReleaseThreadTls() {
  OPENSSL_thread_stop();
}

}  // namespace lovar

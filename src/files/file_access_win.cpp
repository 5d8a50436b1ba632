#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "files/file_access.h"
#include "files/system_error_text.h"

namespace lovar {
namespace {

FsResult Failed(DWORD error) {
  return {false, SystemErrorText(static_cast<int>(error))};
}

// Closes the handle; the first error of the sequence wins.
FsResult Close(HANDLE handle, FsResult result) {
  if (!CloseHandle(handle) && result.ok) return Failed(GetLastError());
  return result;
}

HANDLE OpenExisting(const std::filesystem::path& path, DWORD access) {
  return CreateFileW(path.wstring().c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

PathKind KindOfHandle(HANDLE handle) {
  switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
      return PathKind::Regular;
    case FILE_TYPE_CHAR:
      return PathKind::Device;
    case FILE_TYPE_PIPE:
      return PathKind::Fifo;
    default:
      return PathKind::Other;
  }
}

bool WriteAll(HANDLE handle, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                   nullptr) ||
        n == 0)
      return false;
    done += n;
  }
  return true;
}

// A security descriptor that lets the user who runs the program, and the system, in; nobody
// else: what mode 0600 is on POSIX. Inherited entries of the folder are cut off (protected).
class OwnerOnly {
 public:
  OwnerOnly() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    const bool got = size > 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
    CloseHandle(token);
    if (!got) return;
    PSID user = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    DWORD system_size = SECURITY_MAX_SID_SIZE;
    system_.resize(system_size);
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_.data(), &system_size)) return;
    const DWORD acl_size = sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user) +
                           GetLengthSid(system_.data());
    acl_.resize(acl_size);
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;  // a folder's files too
    if (!InitializeAcl(acl, acl_size, ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, GENERIC_ALL, user) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, GENERIC_ALL, system_.data()) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
      return;
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ready_ = true;
  }
  // Null where the descriptor could not be made: the file then gets the folder's defaults.
  SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

 private:
  std::vector<BYTE> user_, system_, acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

}  // namespace

PathKind KindOf(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.wstring().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Directory;
  // Devices ("NUL", "COM1") and pipes show only through an open handle; no access is asked.
  const HANDLE handle = OpenExisting(path, 0);
  if (handle == INVALID_HANDLE_VALUE) return PathKind::Regular;
  const PathKind kind = KindOfHandle(handle);
  CloseHandle(handle);
  return kind;
}

FsResult ReadRegularFile(const std::filesystem::path& path, size_t max, std::vector<uint8_t>& out,
                         PathKind& kind) {
  out.clear();
  kind = KindOf(path);
  if (kind != PathKind::Regular && kind != PathKind::Missing) return {false, {}};
  const HANDLE handle = OpenExisting(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) return Failed(GetLastError());
  kind = KindOfHandle(handle);
  if (kind != PathKind::Regular) return Close(handle, {false, {}});
  // Grown as the bytes come, not to max at once: a plan of 16 MB at most is mostly far less.
  size_t got = 0;
  while (got < max) {
    if (got == out.size()) out.resize(std::min(max, std::max<size_t>(2 * got, 1 << 16)));
    DWORD n = 0;
    if (!ReadFile(handle, out.data() + got, static_cast<DWORD>(out.size() - got), &n, nullptr))
      return Close(handle, Failed(GetLastError()));
    if (n == 0) break;
    got += n;
  }
  out.resize(got);
  return Close(handle, {});
}

FsResult CheckWritable(const std::filesystem::path& path) {
  const HANDLE handle = OpenExisting(path, GENERIC_WRITE);
  if (handle == INVALID_HANDLE_VALUE) return Failed(GetLastError());
  return Close(handle, {});
}

// The replaced file's attributes and security come with ReplaceFileW, so like needs nothing here.
CreateResult CreateFlushed(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                           const std::filesystem::path* /*like*/) {
  CreateResult r;
  OwnerOnly security;
  const HANDLE handle = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, security.attributes(),
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    r.result = Failed(GetLastError());
    return r;
  }
  r.created = true;
  if (!WriteAll(handle, bytes) || !FlushFileBuffers(handle)) {
    r.result = Close(handle, Failed(GetLastError()));
    return r;
  }
  r.result = Close(handle, {});
  return r;
}

FsResult CreateOwnerOnlyFolder(const std::filesystem::path& path) {
  OwnerOnly security;
  if (CreateDirectoryW(path.wstring().c_str(), security.attributes()) ||
      GetLastError() == ERROR_ALREADY_EXISTS)
    return {};
  return Failed(GetLastError());
}

FsResult ReplaceWith(const std::filesystem::path& from, const std::filesystem::path& target) {
  // ReplaceFileW wants whole names: Wine's fails for a file named without a folder.
  std::error_code ec_to, ec_from;
  const std::wstring to = std::filesystem::absolute(target, ec_to).wstring();
  const std::wstring replacement = std::filesystem::absolute(from, ec_from).wstring();
  if (ec_to || ec_from) return Failed(static_cast<DWORD>((ec_to ? ec_to : ec_from).value()));
  if (GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (ReplaceFileW(to.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr))
      return {};
    return Failed(GetLastError());
  }
  if (!MoveFileExW(replacement.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
    return Failed(GetLastError());
  return {};
}

std::string PathIdentity(const std::filesystem::path& /*path*/) {
  return {};  // a port is named by its name; opening it to look would take it
}

FsResult WriteInPlace(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  const HANDLE handle = OpenExisting(path, GENERIC_WRITE);
  if (handle == INVALID_HANDLE_VALUE) return Failed(GetLastError());
  if (!WriteAll(handle, bytes) || !SetEndOfFile(handle) || !FlushFileBuffers(handle))
    return Close(handle, Failed(GetLastError()));
  return Close(handle, {});
}

}  // namespace lovar

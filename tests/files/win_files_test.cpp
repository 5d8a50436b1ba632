// Windows: a new file is its user's only (an access list of the user and the system, not
// inherited from the folder).
#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "files/config_file.h"
#include "support/pattern_image.h"

namespace lovar {
namespace {
namespace fs = std::filesystem;

struct Acl {
  bool inherited = false;         // an entry came from the folder
  std::vector<std::string> sids;  // of the allowing entries, sorted
};

Acl AclOf(const fs::path& path) {
  Acl acl;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(path.wstring().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
    return acl;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
        ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    char* text = nullptr;
    if (ConvertSidToStringSidA(&ace->SidStart, &text)) {
      acl.sids.push_back(text);
      LocalFree(text);
    }
  }
  LocalFree(sd);
  std::sort(acl.sids.begin(), acl.sids.end());
  return acl;
}

std::string UserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  std::vector<BYTE> buffer(256);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
  CloseHandle(token);
  char* text = nullptr;
  ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text);
  std::string sid = text != nullptr ? text : "";
  LocalFree(text);
  return sid;
}

TEST(WindowsFiles, ANewFileIsTheUsersOnly) {
  std::random_device random;
  const fs::path dir = fs::temp_directory_path() / ("lovar-acl-" + std::to_string(random()));
  fs::create_directories(dir);
  const fs::path file = dir / "new.dat";
  ASSERT_TRUE(SaveConfigFile(file, 250, testing::PatternImage(1)).ok());
  const Acl acl = AclOf(file);
  EXPECT_FALSE(acl.inherited);
  std::vector<std::string> expected = {UserSid(), "S-1-5-18"};  // the user and the system
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(acl.sids, expected);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace lovar

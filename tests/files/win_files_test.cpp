// Windows: a new file and the archive's folder are their user's only (an access list of the user
// and the system, not inherited from the folder); a file named without a folder is replaced;
// environment variables arrive whole in any language.
#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "files/archive.h"
#include "files/config_file.h"
#include "files/environment.h"
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

fs::path NewFolder() {
  std::random_device random;
  const fs::path dir = fs::temp_directory_path() / ("lovar-acl-" + std::to_string(random()));
  fs::create_directories(dir);
  return dir;
}

TEST(WindowsFiles, ANewFileAndTheArchiveAreTheUsersOnly) {
  const fs::path dir = NewFolder();
  const fs::path file = dir / "new.dat";
  ASSERT_TRUE(SaveConfigFile(file, 250, testing::PatternImage(1)).ok());
  const ArchiveResult kept = SaveToArchive(ArchiveFolder(dir), 250, testing::PatternImage(1), {});
  ASSERT_TRUE(kept.ok) << kept.message;
  std::vector<std::string> expected = {UserSid(), "S-1-5-18"};  // the user and the system
  std::sort(expected.begin(), expected.end());
  for (const fs::path& made : {file, ArchiveFolder(dir), kept.path}) {
    const Acl acl = AclOf(made);
    EXPECT_FALSE(acl.inherited);
    EXPECT_EQ(acl.sids, expected) << made.string();
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

TEST(WindowsFiles, AFileNamedWithoutAFolderIsReplaced) {
  const fs::path dir = NewFolder();
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  const FileResult first = SaveConfigFile("bare.dat", 250, testing::PatternImage(1));
  const FileResult second = SaveConfigFile("bare.dat", 250, testing::PatternImage(2));
  fs::current_path(before);
  EXPECT_TRUE(first.ok());
  EXPECT_TRUE(second.ok()) << DescribeError(second);
  ConfigImage image;
  ASSERT_TRUE(LoadConfigFile(dir / "bare.dat", 250, image).ok());
  EXPECT_EQ(SerializeConfigFile(250, image), SerializeConfigFile(250, testing::PatternImage(2)));
  std::error_code ec;
  fs::remove_all(dir, ec);
}

TEST(WindowsEnvironment, AValueInAnyLanguageArrivesWhole) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"LOVAR_TEST_VALUE", L"C:\\users\\Иван\\реестр.sqlite"));
  EXPECT_EQ(EnvironmentUtf8("LOVAR_TEST_VALUE"), "C:\\users\\Иван\\реестр.sqlite");
  // Longer than the first buffer.
  const std::wstring long_value(300, L'ж');
  ASSERT_TRUE(SetEnvironmentVariableW(L"LOVAR_TEST_VALUE", long_value.c_str()));
  EXPECT_EQ(EnvironmentUtf8("LOVAR_TEST_VALUE").size(), 600u);
  SetEnvironmentVariableW(L"LOVAR_TEST_VALUE", nullptr);
  EXPECT_EQ(EnvironmentUtf8("LOVAR_TEST_VALUE"), "");
}

}  // namespace
}  // namespace lovar

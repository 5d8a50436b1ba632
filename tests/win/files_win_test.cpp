// The system's error codes of Windows in the program's language, and one met on a real file.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "files/config_file.h"
#include "files/system_error_text.h"
#include "files/utf8_path.h"

namespace lovar::wintest {
namespace {
namespace fs = std::filesystem;

TEST(WinSystemErrorText, TheErrorsAUserMeetsAreSaidInRussian) {
  const std::pair<DWORD, const char*> cases[] = {
      {ERROR_ACCESS_DENIED, "нет доступа"},
      {ERROR_SHARING_VIOLATION, "файл занят другой программой"},
      {ERROR_FILE_NOT_FOUND, "файл не найден"},
      {ERROR_PATH_NOT_FOUND, "путь не найден"},
      {ERROR_DISK_FULL, "нет места на диске"},
      {ERROR_WRITE_PROTECT, "диск защищён от записи"},
  };
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(SystemErrorText(static_cast<int>(code)), text);
    EXPECT_EQ(SystemErrorText(std::error_code(static_cast<int>(code), std::system_category())),
              text);
  }
}

// A file another program holds open without sharing (an editor, a backup) is refused with the
// reason, the file named with backslashes, and keeps its bytes.
TEST(WinSystemErrorText, AFileHeldByAnotherProgramIsSaidToBeBusy) {
  const fs::path folder = fs::temp_directory_path() / PathFromUtf8("lovar-занят");
  fs::create_directories(folder);
  const fs::path path = folder / PathFromUtf8("Т-250.dat");
  ASSERT_TRUE(SaveConfigFile(path, 250, ConfigImage()).ok());
  const HANDLE held = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ConfigImage image;
  image[13] = 42;
  const FileResult saved = SaveConfigFile(PathFromUtf8(Utf8Of(folder) + "/Т-250.dat"), 250, image);
  CloseHandle(held);
  EXPECT_EQ(saved.system_message, "файл занят другой программой");
  EXPECT_EQ(DescribeError(saved), "Не удалось записать файл «" + Utf8Of(folder) +
                                      "\\Т-250.dat»: файл занят другой программой");
  ConfigImage back;
  ASSERT_TRUE(LoadConfigFile(path, 250, back).ok());
  EXPECT_EQ(back[13], 0);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace lovar::wintest

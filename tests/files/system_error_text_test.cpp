#include "files/system_error_text.h"

#include <gtest/gtest.h>

namespace lovar {
namespace {

// The C library's codes, which both systems have; the system's own codes are tested per system
// (posix_files_test.cpp, tests/win).
TEST(SystemErrorText, TheErrorsAUserMeetsAreSaidInRussian) {
  const std::pair<std::errc, const char*> cases[] = {
      {std::errc::permission_denied, "нет доступа"},
      {std::errc::operation_not_permitted, "нет доступа"},
      {std::errc::device_or_resource_busy, "занято другой программой"},
      {std::errc::no_such_file_or_directory, "файл или папка не найдены"},
      {std::errc::no_space_on_device, "нет места на диске"},
      {std::errc::read_only_file_system, "диск только для чтения"},
      {std::errc::is_a_directory, "это папка, а не файл"},
  };
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(ErrnoText(static_cast<int>(code)), text);
    EXPECT_EQ(SystemErrorText(std::make_error_code(code)), text);
  }
}

TEST(SystemErrorText, ACodeWithoutATextOfItsOwnIsNamedByItsNumber) {
  EXPECT_EQ(ErrnoText(98765).rfind("системная ошибка 98765 (", 0), 0u) << ErrnoText(98765);
  EXPECT_EQ(SystemErrorText(98765).rfind("системная ошибка 98765", 0), 0u);
}

}  // namespace
}  // namespace lovar

// Every program these tests start (lovar-cli records each read and write) keeps its registry
// in a folder of the test program's own, never in the user's: HOME and XDG_DATA_HOME point
// there, and LOVAR_DB is unset, before the first test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace lovar::e2e {
namespace {

class OwnDataFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    std::random_device random;
    folder_ = std::filesystem::temp_directory_path() /
              ("lovar-e2e-home-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(folder_ / "data");
    setenv("HOME", folder_.c_str(), 1);
    setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
    unsetenv("LOVAR_DB");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

 private:
  std::filesystem::path folder_;
};

[[maybe_unused]] ::testing::Environment* const kOwnDataFolder =
    ::testing::AddGlobalTestEnvironment(new OwnDataFolder);

}  // namespace
}  // namespace lovar::e2e

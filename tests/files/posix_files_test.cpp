// Saving and loading where POSIX file types and permissions matter: devices and FIFOs are never
// written or waited on, and a save as a user who is not root meets the permissions an in-place
// write would (the test process may be root; those cases run in a child as "nobody").
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "files/archive.h"
#include "files/batch_plan.h"
#include "files/config_file.h"
#include "files/safe_replace.h"
#include "files/system_error_text.h"
#include "support/pattern_image.h"
#include "support/tiny_disk.h"

namespace lovar {
namespace {
namespace fs = std::filesystem;
using testing::PatternImage;

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

struct stat Stat(const fs::path& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st;
}

class PosixFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("lovar-posix-" + std::to_string(random()));
    fs::create_directories(dir_);
    const passwd* nobody = getpwnam("nobody");
    if (nobody != nullptr) {
      nobody_uid_ = nobody->pw_uid;
      nobody_gid_ = nobody->pw_gid;
    }
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs check as a user who is not root: in a child that became "nobody" when this process is
  // root, in this process otherwise. check returns "" when all is well, else what went wrong.
  // False (the test is then skipped) where no such user can be taken on.
  bool AsOtherUser(const std::function<std::string()>& check, std::string& failure) {
    if (geteuid() != 0) {
      failure = check();
      return true;
    }
    if (nobody_uid_ == 0) return false;
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
      close(pipe_fds[0]);
      if (setgroups(0, nullptr) != 0 || setgid(nobody_gid_) != 0 || setuid(nobody_uid_) != 0)
        _exit(77);
      const std::string text = check();
      if (!text.empty() && write(pipe_fds[1], text.data(), text.size()) < 0) _exit(1);
      _exit(0);
    }
    close(pipe_fds[1]);
    char buffer[1024];
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0)
      failure.append(buffer, static_cast<size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  // A folder the other user may write into (owned by them when we are root).
  fs::path TheirFolder() {
    const fs::path folder = dir_ / "theirs";
    fs::create_directory(folder);
    if (geteuid() == 0) (void)chown(folder.c_str(), nobody_uid_, nobody_gid_);
    return folder;
  }

  // An existing file with `old` in it, owned by root or by the other user, with the mode.
  fs::path File(const fs::path& folder, bool theirs, mode_t mode, const std::vector<uint8_t>& old) {
    const fs::path path = folder / "config.dat";
    WriteFile(path, old);
    if (theirs && geteuid() == 0) (void)chown(path.c_str(), nobody_uid_, nobody_gid_);
    chmod(path.c_str(), mode);
    return path;
  }

  fs::path dir_;
  uid_t nobody_uid_ = 0;
  gid_t nobody_gid_ = 0;
};

#define RUN_AS_OTHER_USER(check)                                                      \
  do {                                                                                \
    std::string failure;                                                              \
    if (!AsOtherUser(check, failure)) GTEST_SKIP() << "no user other than root here"; \
    EXPECT_EQ(failure, "");                                                           \
  } while (0)

// What an in-place write would say: the system error's text.
const std::string kDenied = "нет доступа";

TEST_F(PosixFiles, DevicesAndFifosAreNeitherWrittenNorWaitedOn) {
  struct Row {
    const char* name;
    PathKind kind;
    std::function<fs::path()> make;
  };
  const std::vector<Row> rows = {
      {"FIFO with no writer", PathKind::Fifo,
       [&] {
         mkfifo((dir_ / "fifo").c_str(), 0666);
         return dir_ / "fifo";
       }},
      {"character device", PathKind::Device,
       [&] {
         // A private node like /dev/null where we may make one; /dev/null itself otherwise,
         // which a user who is not root could not replace anyway.
         const fs::path node = dir_ / "null";
         return mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 ? node
                                                                        : fs::path("/dev/null");
       }},
      {"symbolic link to a FIFO", PathKind::Fifo,
       [&] {
         mkfifo((dir_ / "fifo2").c_str(), 0666);
         fs::create_symlink(dir_ / "fifo2", dir_ / "link");
         return dir_ / "link";
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path path = row.make();
    const struct stat before = Stat(path);
    const FileResult saved = SaveConfigFile(path, 250, PatternImage(1));
    EXPECT_EQ(saved.error, FileError::CannotWrite);
    EXPECT_EQ(saved.kind, row.kind);
    const struct stat after = Stat(path);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    ConfigImage image = PatternImage(2);
    const FileResult loaded = LoadConfigFile(path, 250, image);
    EXPECT_EQ(loaded.error, FileError::CannotOpen);
    EXPECT_EQ(loaded.kind, row.kind);
    EXPECT_EQ(image, PatternImage(2));
    EXPECT_EQ(PeekFileModel(path), 0);
    const PlanCheck plan = LoadBatchPlan(path);  // says what the path is
    EXPECT_TRUE(plan.unreadable);
    ASSERT_EQ(plan.faults.size(), 1u);
    EXPECT_EQ(plan.faults[0], "это " + std::string(PathKindText(row.kind)) + ", а не обычный файл");
  }
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().string().find(".lovar-"), std::string::npos) << entry.path();
}

TEST_F(PosixFiles, SavePlaceIsCheckedAsTheSaveWouldFindItAndLeavesNothingBehind) {
  EXPECT_TRUE(CheckSavePlace(dir_ / "new.dat").ok());
  const FileResult missing = CheckSavePlace(dir_ / "no-folder" / "new.dat");
  EXPECT_EQ(missing.error, FileError::CannotWrite);
  EXPECT_FALSE(missing.system_message.empty());
  EXPECT_EQ(CheckSavePlace(dir_).kind, PathKind::Directory);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0);
  const fs::path theirs = TheirFolder();
  chmod(theirs.c_str(), 0555);
  RUN_AS_OTHER_USER([&]() -> std::string {
    const FileResult r = CheckSavePlace(theirs / "new.dat");
    if (r.error != FileError::CannotWrite) return "a folder we may not write was taken";
    if (r.system_message != kDenied) return "message: " + r.system_message;
    return "";
  });
}

TEST_F(PosixFiles, ReadOnlyFileIsRefusedWithTheSystemsText) {
  const std::vector<uint8_t> old = SerializeConfigFile(251, PatternImage(5));
  const fs::path path = File(TheirFolder(), /*theirs=*/true, 0444, old);
  RUN_AS_OTHER_USER([&]() -> std::string {
    const FileResult r = SaveConfigFile(path, 251, PatternImage(6));
    if (r.error != FileError::CannotWrite) return "saved over a read-only file";
    if (r.system_message != kDenied) return "message: " + r.system_message;
    return "";
  });
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(Stat(path).st_mode & 07777, 0444u);
}

TEST_F(PosixFiles, AnotherUsersFileIsRefusedAndStaysTheirs) {
  const std::vector<uint8_t> old = SerializeConfigFile(250, PatternImage(5));
  const fs::path path = File(TheirFolder(), /*theirs=*/false, 0644, old);
  const uid_t owner = Stat(path).st_uid;
  RUN_AS_OTHER_USER([&]() -> std::string {
    const FileResult r = SaveConfigFile(path, 250, PatternImage(6));
    if (r.error != FileError::CannotWrite || r.system_message != kDenied)
      return "not refused: " + r.system_message;
    return "";
  });
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(Stat(path).st_uid, owner);
}

TEST_F(PosixFiles, AnotherUsersFileWeMayWriteIsWrittenInPlaceAndStaysTheirs) {
  const fs::path path = File(TheirFolder(), /*theirs=*/false, 0666, {1, 2, 3});
  const struct stat before = Stat(path);
  RUN_AS_OTHER_USER([&]() -> std::string {
    return SaveConfigFile(path, 252, PatternImage(7)).ok() ? "" : "not saved";
  });
  EXPECT_EQ(ReadFile(path), SerializeConfigFile(252, PatternImage(7)));
  const struct stat after = Stat(path);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0666u);
}

TEST_F(PosixFiles, FolderWithoutWriteAccessTakesTheFileInPlaceButNoNewFile) {
  const fs::path folder = dir_ / "locked";
  fs::create_directory(folder);
  chmod(folder.c_str(), 0755);
  const fs::path path =
      File(folder, /*theirs=*/true, 0644, SerializeConfigFile(251, PatternImage(1)));
  RUN_AS_OTHER_USER([&]() -> std::string {
    if (!SaveConfigFile(path, 251, PatternImage(2)).ok()) return "not written in place";
    const FileResult r = SaveConfigFile(folder / "new.dat", 251, PatternImage(2));
    if (r.error != FileError::CannotWrite || r.system_message != kDenied)
      return "new file: " + r.system_message;
    return "";
  });
  EXPECT_EQ(ReadFile(path), SerializeConfigFile(251, PatternImage(2)));
  EXPECT_FALSE(fs::exists(folder / "new.dat"));
}

// Written in place (no temporary file can be made in the folder), a file whose new content does
// not fit on the disk gets its old content back, and the message says so.
TEST_F(PosixFiles, AWriteInPlaceThatFailsHalfwayPutsTheOldContentBack) {
  if (geteuid() != 0 || nobody_uid_ == 0) GTEST_SKIP() << "needs root to be another user";
  const fs::path disk = dir_ / "tiny";
  fs::create_directory(disk);
  const std::vector<uint8_t> old(100, 0x41);
  std::string failure;
  const bool ran = testing::OnATinyDisk(
      disk, "64k",
      [&]() -> std::string {
        const fs::path folder = disk / "locked";
        fs::create_directory(folder);
        chmod(folder.c_str(), 0755);
        const fs::path path = folder / "config.dat";
        WriteFile(path, old);
        if (chown(path.c_str(), nobody_uid_, nobody_gid_) != 0) return "not chowned";
        // The disk full to the last page.
        std::ofstream filler(disk / "filler", std::ios::binary);
        const std::vector<char> page(4096, 0);
        while (filler.write(page.data(), page.size())) filler.flush();
        if (setgroups(0, nullptr) != 0 || setgid(nobody_gid_) != 0 || setuid(nobody_uid_) != 0)
          return "not nobody";
        const ReplaceResult r = ReplaceFileSafely(path, std::vector<uint8_t>(20000, 0x42));
        if (r.ok) return "said written";
        if (r.message.find("прежнее содержимое файла восстановлено") == std::string::npos)
          return "said: " + r.message;
        return ReadFile(path) == old ? "" : "old content lost";
      },
      failure);
  if (!ran) GTEST_SKIP() << "no tmpfs of our own here";
  EXPECT_EQ(failure, "");
}

TEST_F(PosixFiles, ReplacedFileKeepsItsBitsAndItsOwner) {
  const fs::path path = File(TheirFolder(), /*theirs=*/true, 0640, {1, 2, 3});
  const struct stat before = Stat(path);
  ASSERT_TRUE(SaveConfigFile(path, 250, PatternImage(3)).ok());
  const struct stat after = Stat(path);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file took its place
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(ReadFile(path), SerializeConfigFile(250, PatternImage(3)));
}

TEST_F(PosixFiles, NewFilesAreTheOwnersOnlyWhateverTheUmask) {
  const mode_t old_mask = umask(022);
  const fs::path file = dir_ / "new.dat";
  const bool saved = SaveConfigFile(file, 251, PatternImage(4)).ok();
  const ArchiveResult kept = SaveToArchive(dir_ / "archive", 251, PatternImage(4), {2024, 5, 1});
  umask(old_mask);
  ASSERT_TRUE(saved);
  ASSERT_TRUE(kept.ok) << kept.message;
  EXPECT_EQ(Stat(file).st_mode & 07777, 0600u);
  EXPECT_EQ(Stat(kept.path).st_mode & 07777, 0600u);
  EXPECT_EQ(Stat(dir_ / "archive").st_mode & 07777, 0700u);  // not listed by others either
  // Replaced, a file keeps the bits it had, also when wider.
  chmod(file.c_str(), 0644);
  ASSERT_TRUE(SaveConfigFile(file, 251, PatternImage(5)).ok());
  EXPECT_EQ(Stat(file).st_mode & 07777, 0644u);
}

// An installed program (/usr/bin): its folder is not the user's to write, so the per-model
// folders and the archive go to the user's own folder.
TEST_F(PosixFiles, AProgramFolderTheUserCannotWriteSendsTheFilesToTheUsersFolder) {
  const fs::path program = dir_ / "bin";
  fs::create_directory(program);
  chmod(program.c_str(), 0555);
  const fs::path user = TheirFolder() / "Ловар";
  RUN_AS_OTHER_USER([&]() -> std::string {
    const fs::path root = FilesRoot(program, user);
    if (root != user) return "the files went to " + root.string();
    const ArchiveResult kept = SaveToArchive(ArchiveFolder(root), 250, PatternImage(1), {});
    if (!kept.ok) return "not archived: " + kept.message;
    return {};
  });
  EXPECT_TRUE(fs::is_empty(program));
}

// The system's own codes are errno values; the quota's is not among the C library's.
TEST(PosixSystemErrorText, SystemCodesAreErrnoValues) {
  EXPECT_EQ(SystemErrorText(EACCES), "нет доступа");
  EXPECT_EQ(SystemErrorText(EROFS), "диск только для чтения");
  EXPECT_EQ(SystemErrorText(EDQUOT), "превышена квота на диске");
}

}  // namespace
}  // namespace lovar

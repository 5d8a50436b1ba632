// The SQLite registry where POSIX files, processes and limits matter: its modes, two programs
// writing at once, a read-only file, a full disk, a file locked by another program.
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

#include "records.h"
#include "support/tiny_disk.h"

namespace lovar {
namespace {
using namespace testing;

// The side files beside the registry's file.
std::vector<std::filesystem::path> SideFiles(const TempFolder& dir) {
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().filename().string().find(".kept-") != std::string::npos)
      found.push_back(entry.path());
  return found;
}

mode_t Mode(const std::filesystem::path& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Every record has its site, every image a record: nothing half kept.
void ExpectWhole(const std::filesystem::path& file) {
  EXPECT_EQ(SqlNumber(file,
                      "SELECT count(*) FROM images WHERE id NOT IN "
                      "(SELECT image FROM records WHERE image IS NOT NULL)"),
            0);
  EXPECT_EQ(
      SqlNumber(file, "SELECT count(*) FROM records WHERE site NOT IN (SELECT id FROM sites)"), 0);
  EXPECT_EQ(
      SqlNumber(file, "SELECT count(*) FROM sites WHERE id NOT IN (SELECT site FROM records)"), 0);
  EXPECT_EQ(
      SqlNumber(file, "SELECT count(*) FROM pragma_integrity_check WHERE integrity_check != 'ok'"),
      0);
}

TEST(SqliteFaults, TheFileAndItsFolderAreTheOwnersOnly) {
  TempFolder dir;
  const mode_t mask = umask(022);
  StoreResult opened;
  auto registry = OpenFile(dir / "lovar" / "registry.sqlite", opened);
  umask(mask);
  ASSERT_TRUE(registry) << opened.message;
  ASSERT_TRUE(registry->Record(ReadRecord(251, "1", 1)).ok());
  EXPECT_EQ(Mode(dir / "lovar"), 0700u);
  EXPECT_EQ(Mode(dir / "lovar" / "registry.sqlite"), 0600u);
  EXPECT_EQ(Mode(dir / "lovar" / "registry.sqlite-wal"), 0600u);
  registry.reset();

  // Loosened by hand (or by an older version): made the owner's only again at the next open.
  chmod((dir / "lovar").c_str(), 0755);
  chmod((dir / "lovar" / "registry.sqlite").c_str(), 0644);
  registry = OpenFile(dir / "lovar" / "registry.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  EXPECT_EQ(Mode(dir / "lovar"), 0700u);
  EXPECT_EQ(Mode(dir / "lovar" / "registry.sqlite"), 0600u);
  registry.reset();

  // Another user's registry is refused as such, not as a read-only one.
  if (geteuid() != 0) GTEST_SKIP() << "another user's file is made by root only";
  chmod(dir.path().c_str(), 0755);
  chmod((dir / "lovar").c_str(), 0755);
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    auto other = OpenFile(dir / "lovar" / "registry.sqlite", opened);
    _exit(!other && opened.error == StoreError::Foreign &&
                  opened.message.find("принадлежит другому пользователю") != std::string::npos
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SqliteFaults, TwoProgramsRecordAtOnce) {
  TempFolder dir;
  const auto file = dir / "r.sqlite";
  constexpr int kEach = 60;
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    const pid_t pid = fork();
    if (pid == 0) {
      StoreResult opened;
      auto registry = OpenFile(file, opened, std::chrono::seconds(30));
      int failures = registry ? 0 : 1;
      for (int i = 0; registry && i < kEach; ++i)
        if (!registry->Record(ReadRecord(251, std::to_string(i % 7), p * 1000 + i)).ok())
          ++failures;
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM records"), 2 * kEach);
  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM sites"), 7);
  ExpectWhole(file);
}

TEST(SqliteFaults, AReadOnlyFileIsReadButNeverWritten) {
  TempFolder dir;
  const auto file = dir / "r.sqlite";
  {
    StoreResult opened;
    auto registry = OpenFile(file, opened);
    ASSERT_TRUE(registry);
    ASSERT_TRUE(registry->Record(ReadRecord(251, "5", 1)).ok());
  }
  // Root writes whatever the mode says; an immutable file it may not.
  const int fd = open(file.c_str(), O_RDONLY);
  int flags = 0;
  if (geteuid() == 0) {
    ioctl(fd, FS_IOC_GETFLAGS, &flags);
    flags |= FS_IMMUTABLE_FL;
    if (ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
      close(fd);
      GTEST_SKIP() << "this file system has no immutable files";
    }
  } else {
    chmod(file.c_str(), 0400);
  }
  const std::vector<uint8_t> before = FileBytes(file);
  StoreResult opened;
  auto registry = OpenFile(file, opened);
  std::vector<SiteSummary> sites;
  RecordResult recorded;
  PendingResult kept;
  if (registry) {
    EXPECT_TRUE(registry->Sites("", sites).ok());
    recorded = registry->Record(ReadRecord(251, "6", 1));
    kept = registry->KeepPending();
    registry.reset();
  }
  EXPECT_EQ(FileBytes(file), before);
  if (geteuid() == 0) {
    flags &= ~FS_IMMUTABLE_FL;
    ioctl(fd, FS_IOC_SETFLAGS, &flags);
  }
  close(fd);
  ASSERT_TRUE(opened.ok()) << opened.message;
  EXPECT_EQ(sites.size(), 1u);
  // The record is held, then kept beside the file, and taken in once the file takes it.
  EXPECT_EQ(recorded.kept, RecordResult::Kept::Pending);
  EXPECT_NE(recorded.message.find("реестр только для чтения"), std::string::npos)
      << recorded.message;
  ASSERT_EQ(kept.side, 1) << (kept.notes.empty() ? "" : kept.notes[0]);
  ASSERT_EQ(SideFiles(dir).size(), 1u);
  chmod(file.c_str(), 0600);
  registry = OpenFile(file, opened);
  ASSERT_TRUE(registry) << opened.message;
  EXPECT_NE(registry->Notes().back().find("отложенных прежде: 1"), std::string::npos);
  EXPECT_TRUE(SideFiles(dir).empty());
  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM records"), 2);
  ExpectWhole(file);
}

TEST(SqliteFaults, OnAFullDiskARecordIsNeverHalfKeptNorLostUnsaid) {
  TempFolder dir;
  std::string failure;
  const bool ran = testing::OnATinyDisk(
      dir.path(), "400k",
      [&]() -> std::string {
        const auto file = dir / "r.sqlite";
        StoreResult opened;
        auto registry = OpenFile(file, opened);
        if (!registry) return "not opened: " + opened.message;
        int kept = 0;
        RecordResult r;
        for (; kept < 1000; ++kept) {
          // Images that do not pack: the disk fills within a few dozen records.
          SiteRecord record = ReadRecord(251, std::to_string(kept), kept);
          for (size_t i = 0; i < record.image.size(); ++i)
            record.image[i] = static_cast<uint8_t>(i * 7 + kept * 13 + (i >> 3));
          r = registry->Record(record);
          if (!r.ok()) break;
        }
        std::string failures;
        if (kept == 0 || kept == 1000) failures += "kept " + std::to_string(kept) + "; ";
        if (r.message.find("нет места на диске для реестра") == std::string::npos)
          failures += "said: " + r.message + "; ";
        // Held, then kept beside the file if anything fits there, else said lost.
        const PendingResult left = registry->KeepPending();
        if (left.side + left.lost != 1 || left.notes.empty()) failures += "not said; ";
        registry.reset();
        if (SqlNumber(file, "SELECT count(*) FROM records") != kept) failures += "records lost; ";
        if (SqlNumber(file,
                      "SELECT count(*) FROM images WHERE id NOT IN "
                      "(SELECT image FROM records WHERE image IS NOT NULL)") != 0 ||
            SqlNumber(
                file,
                "SELECT count(*) FROM pragma_integrity_check WHERE integrity_check != 'ok'") != 0)
          failures += "half kept; ";
        return failures;
      },
      failure);
  if (!ran) GTEST_SKIP() << "no tmpfs of our own here";
  EXPECT_EQ(failure, "");
}

TEST(SqliteFaults, OnAFullDiskQueriesGoOn) {
  TempFolder dir;
  std::string failure;
  const bool ran = testing::OnATinyDisk(
      dir.path(), "300k",
      [&]() -> std::string {
        const auto file = dir / "r.sqlite";
        StoreResult opened;
        if (auto registry = OpenFile(file, opened);
            !registry || !registry->Record(ReadRecord(251, "12", 1)).ok())
          return "not recorded: " + opened.message;
        // Filled by another file: the registry's journal files cannot be made anew.
        {
          std::ofstream filler(dir / "filler", std::ios::binary);
          const std::string block(4096, 'x');
          while (filler.write(block.data(), block.size())) {
          }
        }
        auto registry = OpenFile(file, opened);
        std::vector<SiteSummary> sites;
        std::vector<RecordInfo> history;
        if (!registry) return "not opened: " + opened.message;
        StoreResult r = registry->Sites("", sites);
        if (r.ok()) r = registry->History(251, "12", history);
        if (!r.ok() || sites.size() != 1 || history.size() != 1) return "no query: " + r.message;
        const RecordResult held = registry->Record(ReadRecord(251, "13", 1));
        if (held.kept != RecordResult::Kept::Pending ||
            held.message.find("нет места на диске") == std::string::npos)
          return "said: " + held.message;
        return "";
      },
      failure);
  if (!ran) GTEST_SKIP() << "no tmpfs of our own here";
  EXPECT_EQ(failure, "");
}

// The sqlite3 shell on the file, holding its write lock until its input ends.
class LockingShell {
 public:
  explicit LockingShell(const std::filesystem::path& file) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      execlp("sqlite3", "sqlite3", file.c_str(), nullptr);
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  // True once the shell says it holds the lock.
  bool Lock() {
    const std::string commands =
        "BEGIN EXCLUSIVE;\nINSERT INTO settings VALUES ('x', 'y');\nSELECT 'locked';\n";
    if (write(input_, commands.data(), commands.size()) < 0) return false;
    std::string said;
    char buffer[64];
    for (ssize_t n; said.find("locked") == std::string::npos &&
                    (n = read(output_, buffer, sizeof buffer)) > 0;)
      said.append(buffer, static_cast<size_t>(n));
    return said.find("locked") != std::string::npos;
  }
  // Ends the shell; its transaction is rolled back.
  ~LockingShell() {
    close(input_);
    close(output_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1, output_ = -1;
};

TEST(SqliteFaults, AFileLockedByAnotherProgramIsWaitedForAndItsRecordsKeptLater) {
  TempFolder dir;
  const auto file = dir / "r.sqlite";
  StoreResult opened;
  auto registry = OpenFile(file, opened, std::chrono::milliseconds(300));
  ASSERT_TRUE(registry);
  {
    LockingShell shell(file);
    ASSERT_TRUE(shell.Lock());
    const RecordResult busy = registry->Record(ReadRecord(251, "9", 1));
    EXPECT_EQ(busy.kept, RecordResult::Kept::Pending);
    EXPECT_NE(busy.message.find("реестр занят другой программой"), std::string::npos)
        << busy.message;
    // The next is held behind it, said once.
    const RecordResult behind = registry->Record(ReadRecord(251, "9", 2));
    EXPECT_EQ(behind.kept, RecordResult::Kept::Pending);
    EXPECT_EQ(behind.message, "");
  }
  const PendingResult kept = registry->KeepPending();
  EXPECT_EQ(kept.kept, 2);
  EXPECT_TRUE(kept.ok());
  EXPECT_TRUE(registry->Record(ReadRecord(251, "9", 3)).ok());
  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM records"), 3);
  EXPECT_TRUE(SideFiles(dir).empty());
}

}  // namespace
}  // namespace lovar

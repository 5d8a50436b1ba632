#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "files/file_access.h"
#include "files/system_error_text.h"

namespace lovar {
namespace {

FsResult Failed(int error) {
  return {false, SystemErrorText(error != 0 ? error : EIO)};
}

PathKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return PathKind::Regular;
  if (S_ISDIR(mode)) return PathKind::Directory;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return PathKind::Device;
  if (S_ISFIFO(mode)) return PathKind::Fifo;
  return PathKind::Other;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Closes fd; the first error of the sequence wins.
FsResult Close(int fd, FsResult result) {
  const int error = close(fd) == 0 ? 0 : errno;
  if (result.ok && error != 0) return Failed(error);
  return result;
}

}  // namespace

PathKind KindOf(const std::filesystem::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return PathKind::Missing;
  return KindOfMode(st.st_mode);
}

std::string PathIdentity(const std::filesystem::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
    return (S_ISCHR(st.st_mode) ? "c" : "b") + std::to_string(st.st_rdev);
  return "f" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

FsResult ReadRegularFile(const std::filesystem::path& path, size_t max, std::vector<uint8_t>& out,
                         PathKind& kind) {
  out.clear();
  kind = PathKind::Missing;
  // Non-blocking, so that opening a FIFO with no writer returns at once.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Failed(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0) return Close(fd, Failed(errno));
  kind = KindOfMode(st.st_mode);
  if (kind != PathKind::Regular) return Close(fd, {false, {}});
  // Grown as the bytes come, not to max at once: a plan of 16 MB at most is mostly far less.
  size_t got = 0;
  while (got < max) {
    if (got == out.size()) out.resize(std::min(max, std::max<size_t>(2 * got, 1 << 16)));
    const ssize_t n = read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Close(fd, Failed(errno));
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return Close(fd, {});
}

FsResult CheckWritable(const std::filesystem::path& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Failed(errno);
  return Close(fd, {});
}

CreateResult CreateFlushed(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                           const std::filesystem::path* like) {
  CreateResult r;
  // Owner-only: configurations hold user codes and key codes. One that replaces another gets
  // that file's bits below, so never wider than those.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) {
    r.result = Failed(errno);
    return r;
  }
  r.created = true;
  struct stat st {};
  if (like != nullptr && stat(like->c_str(), &st) == 0) {
    if ((st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(fd, st.st_uid, st.st_gid) != 0)
      r.kept_owner = false;
    if (fchmod(fd, st.st_mode & 07777) != 0) {
      r.result = Close(fd, Failed(errno));
      return r;
    }
  }
  if (!WriteAll(fd, bytes) || fsync(fd) != 0) {
    r.result = Close(fd, Failed(errno));
    return r;
  }
  r.result = Close(fd, {});
  return r;
}

FsResult CreateOwnerOnlyFolder(const std::filesystem::path& path) {
  if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return {};
  return Failed(errno);
}

FsResult ReplaceWith(const std::filesystem::path& from, const std::filesystem::path& target) {
  if (rename(from.c_str(), target.c_str()) != 0) return Failed(errno);
  // The rename itself reaches the disk with the folder.
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)fsync(dir);
    close(dir);
  }
  return {};
}

FsResult WriteInPlace(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Failed(errno);
  if (!WriteAll(fd, bytes)) return Close(fd, Failed(errno));
  if (ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return Close(fd, Failed(errno));
  if (fsync(fd) != 0) return Close(fd, Failed(errno));
  return Close(fd, {});
}

}  // namespace lovar

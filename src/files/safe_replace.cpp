#include "files/safe_replace.h"

#include <cstdio>
#include <random>
#include <system_error>
#include <vector>

#include "files/utf8_path.h"

namespace lovar {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kMark = ".lovar-";
constexpr std::string_view kSuffix = ".tmp";
constexpr size_t kDigits = 8;
// The largest file written in place, whose old content is kept in memory meanwhile.
constexpr size_t kInPlaceLimit = 64 * 1024 * 1024;

fs::path FolderOf(const fs::path& target) {
  return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// The file a chain of symbolic links ends at, also when it does not exist yet: the save
// writes there, and the links stay.
fs::path ThroughLinks(fs::path path) {
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
    const fs::path to = fs::read_symlink(path, ec);
    if (ec) break;
    path = to.is_absolute() ? to : FolderOf(path) / to;
  }
  return path;
}

fs::path TemporaryFor(const fs::path& target) {
  static std::mt19937 random{std::random_device{}()};
  char digits[kDigits + 1];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(random()));
  fs::path temporary = target;
  temporary += std::string(kMark) + digits + std::string(kSuffix);
  return temporary;
}

void RemoveLeftTemporaries(const fs::path& target) {
  std::error_code ec;
  // Compared in UTF-8: string() would throw on Windows for a name the ANSI code page cannot
  // spell, ending the program in a save.
  const std::string name = Utf8Of(target.filename());
  for (fs::directory_iterator it(FolderOf(target), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (IsTemporaryOf(Utf8Of(it->path().filename()), name) &&
        fs::is_regular_file(it->symlink_status(ignored)))
      fs::remove(it->path(), ignored);
  }
}

}  // namespace

std::string_view PathKindText(PathKind kind) {
  switch (kind) {
    case PathKind::Directory:
      return "каталог";
    case PathKind::Device:
      return "устройство";
    case PathKind::Fifo:
      return "канал (FIFO)";
    case PathKind::Other:
      return "особый файл";
    case PathKind::Missing:
    case PathKind::Regular:
      break;
  }
  return "файл";
}

bool IsTemporaryOf(const std::string& name, const std::string& target_name) {
  const size_t length = target_name.size() + kMark.size() + kDigits + kSuffix.size();
  if (name.size() != length || !name.starts_with(target_name)) return false;
  const std::string_view rest = std::string_view(name).substr(target_name.size());
  if (!rest.starts_with(kMark) || !rest.ends_with(kSuffix)) return false;
  for (const char c : rest.substr(kMark.size(), kDigits))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

ReplaceResult ReplaceFileSafely(const fs::path& path, std::span<const uint8_t> bytes) {
  std::error_code ec;
  const fs::path target = ThroughLinks(path);
  ReplaceResult result;
  result.kind = KindOf(target);
  if (result.kind != PathKind::Regular && result.kind != PathKind::Missing) {
    result.ok = false;
    return result;
  }
  const bool exists = result.kind == PathKind::Regular;
  auto failed = [&](std::string message) {
    result.ok = false;
    result.message = std::move(message);
    return result;
  };
  // Writing in place has no second copy to fall back on: the old content is read first, and a
  // write that fails halfway (a full disk, a pulled stick) puts it back.
  auto in_place = [&] {
    std::vector<uint8_t> before;
    PathKind kind = PathKind::Regular;
    const FsResult read = ReadRegularFile(target, kInPlaceLimit, before, kind);
    if (!read.ok) return failed(read.message);
    if (before.size() >= kInPlaceLimit)
      return failed("в папке нельзя создать временный файл, а файл слишком велик, чтобы "
                    "записать его на месте без копии");
    const FsResult written = WriteInPlace(target, bytes);
    if (written.ok) return result;
    const FsResult restored = WriteInPlace(target, before);
    return failed(written.message + (restored.ok ? "; прежнее содержимое файла восстановлено"
                                                 : "; файл мог остаться записанным не до "
                                                   "конца: " + restored.message));
  };
  if (exists) {
    const FsResult writable = CheckWritable(target);
    if (!writable.ok) return failed(writable.message);
  }
  RemoveLeftTemporaries(target);

  const fs::path temporary = TemporaryFor(target);
  const CreateResult made = CreateFlushed(temporary, bytes, exists ? &target : nullptr);
  if (made.created && (!made.result.ok || !made.kept_owner)) fs::remove(temporary, ec);
  if (!made.result.ok) {
    // No temporary file beside it (a folder we may not write), but the file itself may be.
    if (exists && !made.created) return in_place();
    return failed(made.result.message);
  }
  // A new file would take another user's file over; writing into it keeps it theirs.
  if (!made.kept_owner) return in_place();
  const FsResult replaced = ReplaceWith(temporary, target);
  if (!replaced.ok) {
    fs::remove(temporary, ec);
    return failed(replaced.message);
  }
  return result;
}

ReplaceResult CheckReplaceable(const fs::path& path) {
  const fs::path target = ThroughLinks(path);
  ReplaceResult result;
  result.kind = KindOf(target);
  if (result.kind != PathKind::Regular && result.kind != PathKind::Missing) {
    result.ok = false;
    return result;
  }
  if (result.kind == PathKind::Regular) {
    // Written in place when no temporary file can be made beside it.
    const FsResult writable = CheckWritable(target);
    result.ok = writable.ok;
    result.message = writable.message;
    return result;
  }
  const fs::path probe = TemporaryFor(target);
  const CreateResult made = CreateFlushed(probe, {}, nullptr);
  std::error_code ec;
  if (made.created) fs::remove(probe, ec);
  result.ok = made.result.ok;
  result.message = made.result.message;
  return result;
}

}  // namespace lovar

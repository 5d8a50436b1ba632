#include "files/archive.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>
#include <system_error>

#include "files/file_access.h"
#include "files/system_error_text.h"
#include "files/utf8_path.h"
#include "model/image_diff.h"

namespace lovar {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kSuffix = ".dat";
constexpr std::string_view kNoteMark = "\nlovar-note: ";
constexpr size_t kStampLength = 19;  // "2024-05-01_12-30-05"

// The model's part of a name: its folder's name.
std::string ModelToken(int model) {
  return DefaultsFor(model).load_folder;
}
int ModelOfToken(std::string_view token) {
  for (int model : {250, 251, 252})
    if (token == ModelToken(model)) return model;
  return 0;
}

// Letters and digits stay (any script), as does "-"; whatever a file system may refuse or read
// otherwise (separators, dots, blanks, controls, an escaped byte's backslash) becomes "_".
std::string SafeObject(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const bool keep = u >= 0x80 || (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') ||
                      (u >= 'a' && u <= 'z') || c == '-';
    out += keep ? c : '_';
  }
  return out;
}

bool Digits(std::string_view s, size_t at, size_t count, int& value) {
  if (at + count > s.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

// A name ArchiveFileName makes: the time, the sequence and the model (the object number is read
// from the file itself).
std::optional<ArchiveEntry> ParseName(std::string_view name) {
  if (name.size() < kStampLength + kSuffix.size() || !name.ends_with(kSuffix)) return {};
  ArchiveEntry e;
  ArchiveTime& t = e.time;
  const bool stamp = Digits(name, 0, 4, t.year) && name[4] == '-' && Digits(name, 5, 2, t.month) &&
                     name[7] == '-' && Digits(name, 8, 2, t.day) && name[10] == '_' &&
                     Digits(name, 11, 2, t.hour) && name[13] == '-' &&
                     Digits(name, 14, 2, t.minute) && name[16] == '-' &&
                     Digits(name, 17, 2, t.second);
  if (!stamp) return {};
  std::string_view rest = name.substr(kStampLength, name.size() - kStampLength - kSuffix.size());
  if (rest.starts_with('-')) {
    const size_t end = rest.find('_');
    if (end == std::string_view::npos || end < 2 || end > 6 ||
        !Digits(rest, 1, end - 1, e.sequence))
      return {};
    rest.remove_prefix(end);
  }
  if (!rest.starts_with('_')) return {};
  rest.remove_prefix(1);
  e.model = ModelOfToken(rest.substr(0, rest.find('_')));
  if (e.model == 0) return {};
  return e;
}

// The archive's files by their names only, newest first.
std::vector<ArchiveEntry> ListNames(const fs::path& folder) {
  std::vector<ArchiveEntry> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    if (!it->is_regular_file(kind)) continue;
    std::optional<ArchiveEntry> e = ParseName(Utf8Of(it->path().filename()));
    if (!e) continue;
    e->path = it->path();
    entries.push_back(std::move(*e));
  }
  std::sort(entries.begin(), entries.end(), [](const ArchiveEntry& a, const ArchiveEntry& b) {
    if (a.time != b.time) return a.time > b.time;
    if (a.sequence != b.sequence) return a.sequence > b.sequence;
    return a.path > b.path;
  });
  return entries;
}

}  // namespace

ArchiveTime LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  // The C library's shared buffer: the CLI and the windows call this on one thread only.
  const std::tm* local = std::localtime(&now);
  if (local == nullptr) return {};
  return {local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
          local->tm_hour,        local->tm_min,     local->tm_sec};
}

std::string ArchiveTimeText(const ArchiveTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return text;
}

fs::path FilesRoot(const fs::path& program_folder, const fs::path& user_folder, bool installed) {
  if (user_folder.empty()) return program_folder;
  std::error_code ec;
  if (!installed) {
    // Writable is what counts, not whether the folder exists: try to make a file in it.
    const fs::path probe = program_folder / ".lovar-write-test.tmp";
    fs::remove(probe, ec);
    const CreateResult made = CreateFlushed(probe, {}, nullptr);
    if (made.created) fs::remove(probe, ec);
    if (made.result.ok) return program_folder;
  }
  fs::create_directories(user_folder, ec);
  return user_folder;
}

fs::path ArchiveFolder(const fs::path& root) {
  return root / PathFromUtf8("Архив");
}

std::string MakeArchiveFolder(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return {};
  if (folder.has_parent_path()) fs::create_directories(folder.parent_path(), ec);
  const FsResult made = CreateOwnerOnlyFolder(folder);
  if (!made.ok) return made.message;
  return fs::is_directory(folder, ec) ? std::string() : "на этом месте файл, а не папка";
}

std::string ArchiveFileName(int model, const ConfigImage& image, const ArchiveTime& t, int n) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d_%02d-%02d-%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  std::string name = stamp;
  if (n > 1) name += "-" + std::to_string(n);
  name += "_" + ModelToken(model);
  const std::string object = SafeObject(ObjectNumber(model, image));
  if (!object.empty()) name += "_" + object;
  return name + std::string(kSuffix);
}

std::string ArchiveNote(std::span<const uint8_t> bytes, int model) {
  if (bytes.empty() || !IsKnownModel(model)) return {};
  const size_t at = bytes[0] + static_cast<size_t>(ImageLength(model));
  if (bytes.size() < at + kNoteMark.size() + 1 || bytes.back() != '\n') return {};
  const std::string_view rest(reinterpret_cast<const char*>(bytes.data() + at), bytes.size() - at);
  if (!rest.starts_with(kNoteMark)) return {};
  return std::string(rest.substr(kNoteMark.size(), rest.size() - kNoteMark.size() - 1));
}

std::vector<ArchiveEntry> ListArchive(const fs::path& folder) {
  std::vector<ArchiveEntry> entries = ListNames(folder);
  for (ArchiveEntry& e : entries) {
    std::vector<uint8_t> bytes;
    PathKind kind = PathKind::Regular;
    if (!ReadRegularFile(e.path, 1 << 16, bytes, kind).ok) continue;
    ConfigImage image;
    if (ParseConfigFile(bytes, e.model, image).ok()) e.object = ObjectNumber(e.model, image);
    e.note = ArchiveNote(bytes, e.model);
  }
  return entries;
}

ArchiveResult SaveToArchive(const fs::path& folder, int model, const ConfigImage& image,
                            const ArchiveTime& when, int keep, std::string_view note) {
  ArchiveResult result;
  if (!IsKnownModel(model)) {
    result.ok = false;
    result.message = "модель прибора не определена";
    return result;
  }
  if (const std::string why = MakeArchiveFolder(folder); !why.empty()) {
    result.ok = false;
    result.message = "не удалось создать папку «" + ShownPath(folder) + "»: " + why;
    return result;
  }
  std::error_code ec;
  // Reads of one second are told apart, and ordered, by their sequence number.
  int n = 1;
  for (const ArchiveEntry& e : ListNames(folder))
    if (e.time == when) n = std::max(n, e.sequence + 1);
  for (;; ++n) {
    result.path = folder / PathFromUtf8(ArchiveFileName(model, image, when, n));
    if (KindOf(result.path) == PathKind::Missing) break;
  }
  std::vector<uint8_t> bytes = SerializeWholeImage(model, image);
  if (!note.empty()) {
    // One line: a line break in the text would end the note early.
    std::string line(kNoteMark);
    for (char c : note) line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    bytes.insert(bytes.end(), line.begin(), line.end());
  }
  const FileResult saved = SaveFileReplacing(
      result.path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!saved.ok()) {
    result.ok = false;
    result.message = DescribeError(saved);
    return result;
  }
  // The file just written stays whatever the clock said; the others beyond the newest keep - 1
  // go.
  int kept = 1;
  for (const ArchiveEntry& e : ListNames(folder)) {
    if (e.path == result.path) continue;
    if (kept < keep) {
      ++kept;
      continue;
    }
    if (fs::remove(e.path, ec)) ++result.removed;
  }
  return result;
}

}  // namespace lovar

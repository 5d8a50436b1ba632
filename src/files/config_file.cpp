#include "files/config_file.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

#include "model/cp1251.h"

namespace lovar {
namespace fs = std::filesystem;
namespace {

constexpr int kWrittenHeaderLength = 100;
constexpr int kMinHeaderLength = 2;
constexpr int kMaxHeaderLength = 200;
// Everything a load can look at: the longest header and the longest image.
constexpr size_t kMaxUsefulBytes = kMaxHeaderLength + 2048;

// The text of the last C library error. Streams report failures through errno only; a failure
// that left no code still gets a text, so no message is ever empty.
std::string LastErrorText() {
  const int err = errno;
  const std::error_code ec = err != 0 ? std::error_code(err, std::generic_category())
                                      : std::make_error_code(std::errc::io_error);
  return ec.message();
}

std::string TextOf(const std::error_code& ec) {
  std::string text = ec.message();
  return text.empty() ? std::make_error_code(std::errc::io_error).message() : text;
}

// "Ловар-Т" alone says which file it is unless both sides are called so (250 and 252).
std::string WrongModelLine(int file_model, int current_model) {
  const std::string_view file_name = FileModelName(file_model);
  const std::string_view device_name = FileModelName(current_model);
  const bool with_codes = file_name.empty() || device_name.empty() || file_name == device_name;
  auto side = [&](int model, std::string_view name) {
    std::string text = name.empty() ? "модели" : std::string(name);
    if (with_codes) text += " (" + std::to_string(model) + ")";
    return text;
  };
  return "Неверный тип УО: файл для " + side(file_model, file_name) + ", прибор " +
         side(current_model, device_name);
}

fs::path TemporaryBeside(const fs::path& target) {
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    fs::path candidate = target;
    candidate += suffix;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
  fs::path candidate = target;
  candidate += ".tmp";
  return candidate;
}

}  // namespace

std::string_view FileModelName(int model) {
  switch (model) {
    case 250:
    case 252:
      return "Ловар-Т";
    case 251:
      return "Ловар-М";
    default:
      return {};
  }
}

int FileImageLength(int model) {
  switch (model) {
    case 250:
    case 252:
      return 256;
    case 251:
      return 2048;
    default:
      return 0;
  }
}

FileMessage MessageFor(const FileResult& result) {
  switch (result.error) {
    case FileError::None:
      return {};
    case FileError::CannotOpen:
    case FileError::BadHeader:
    case FileError::WrongModel:
    case FileError::UnknownModel:
      return {"Неверный тип УО", "Ошибка"};
    case FileError::Truncated:
      return {"Файл повреждён", "Файл короче заголовка и образа. Конфигурация не изменена."};
    case FileError::CannotWrite:
      return {"Предупреждение", result.system_message};
  }
  return {};
}

std::string DescribeError(const FileResult& result) {
  switch (result.error) {
    case FileError::None:
      return {};
    case FileError::CannotOpen:
      return "Не удалось открыть файл: " + result.system_message;
    case FileError::BadHeader:
      return "Неверный тип УО: неверный заголовок файла";
    case FileError::WrongModel:
      return WrongModelLine(result.file_model, result.current_model);
    case FileError::Truncated:
      return "Файл повреждён: он короче заголовка и образа";
    case FileError::CannotWrite:
      return "Не удалось записать файл: " + result.system_message;
    case FileError::UnknownModel:
      return "Не удалось записать файл: модель прибора не определена";
  }
  return {};
}

std::vector<uint8_t> SerializeConfigFile(int model, const ConfigImage& image) {
  std::vector<uint8_t> file(kWrittenHeaderLength, 0);
  if (!IsKnownModel(model)) return file;  // an all-zero header and no image
  file[0] = kWrittenHeaderLength;
  file[1] = static_cast<uint8_t>(model);
  file[2] = 1;
  const std::string name = Utf8ToCp1251(FileModelName(model));
  std::copy(name.begin(), name.end(), file.begin() + 3);
  const auto bytes = image.bytes().first(static_cast<size_t>(FileImageLength(model)));
  file.insert(file.end(), bytes.begin(), bytes.end());
  return file;
}

FileResult ParseConfigFile(std::span<const uint8_t> bytes, int current_model, ConfigImage& image) {
  FileResult result;
  result.current_model = current_model;
  if (bytes.empty()) {
    result.error = FileError::BadHeader;
    return result;
  }
  const int header = bytes[0];
  if (header < kMinHeaderLength || header > kMaxHeaderLength ||
      bytes.size() < static_cast<size_t>(header)) {
    result.error = FileError::BadHeader;
    return result;
  }
  result.file_model = bytes[1];
  if (result.file_model != current_model || !IsKnownModel(result.file_model)) {
    result.error = FileError::WrongModel;
    return result;
  }
  const auto length = static_cast<size_t>(FileImageLength(result.file_model));
  if (bytes.size() - static_cast<size_t>(header) < length) {
    result.error = FileError::Truncated;
    return result;
  }
  const auto source = bytes.subspan(static_cast<size_t>(header), length);
  std::copy(source.begin(), source.end(), image.bytes().begin());
  return result;
}

FileResult LoadConfigFile(const fs::path& path, int current_model, ConfigImage& image) {
  FileResult result;
  result.current_model = current_model;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    result.error = FileError::CannotOpen;
    result.system_message = TextOf(std::make_error_code(std::errc::is_a_directory));
    return result;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    result.error = FileError::CannotOpen;
    result.system_message = LastErrorText();
    return result;
  }
  std::vector<uint8_t> bytes(kMaxUsefulBytes);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) {
    result.error = FileError::CannotOpen;
    result.system_message = LastErrorText();
    return result;
  }
  bytes.resize(static_cast<size_t>(in.gcount()));
  return ParseConfigFile(bytes, current_model, image);
}

FileResult SaveConfigFile(const fs::path& path, int model, const ConfigImage& image) {
  if (!IsKnownModel(model)) {
    FileResult result;
    result.current_model = model;
    result.file_model = model;
    result.error = FileError::UnknownModel;
    return result;
  }
  const std::vector<uint8_t> file = SerializeConfigFile(model, image);
  FileResult result =
      SaveFileReplacing(path, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
  result.current_model = model;
  result.file_model = model;
  return result;
}

FileResult SaveFileReplacing(const fs::path& path, std::string_view file) {
  FileResult result;
  auto fail = [&](std::string text) {
    result.error = FileError::CannotWrite;
    result.system_message = std::move(text);
    return result;
  };

  std::error_code ec;
  fs::path target = path;
  if (fs::is_symlink(fs::symlink_status(path, ec))) {
    const fs::path resolved = fs::weakly_canonical(path, ec);
    if (!ec) target = resolved;
  }
  const fs::file_status existing = fs::status(target, ec);
  if (fs::is_directory(existing))
    return fail(TextOf(std::make_error_code(std::errc::is_a_directory)));

  const fs::path temporary = TemporaryBeside(target);
  {
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return fail(LastErrorText());
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    out.flush();
    if (!out) {
      std::string text = LastErrorText();
      out.close();
      fs::remove(temporary, ec);
      return fail(std::move(text));
    }
    out.close();
    if (out.fail()) {
      std::string text = LastErrorText();
      fs::remove(temporary, ec);
      return fail(std::move(text));
    }
  }
  // A replaced file keeps its permissions.
  if (fs::exists(existing)) fs::permissions(temporary, existing.permissions(), ec);
  fs::rename(temporary, target, ec);
  if (ec) {
    std::string text = TextOf(ec);
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return fail(std::move(text));
  }
  return result;
}

int PeekFileModel(const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  uint8_t header[kMaxHeaderLength] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  const auto got = static_cast<size_t>(in.gcount());
  if (got == 0 || header[0] < kMinHeaderLength || header[0] > kMaxHeaderLength || got < header[0]) {
    return 0;
  }
  return header[1];
}

FileDefaults DefaultsFor(int model) {
  switch (model) {
    case 250:
      return {"LovarT", "LovarT", false, "Lovart.dat"};
    case 251:
      return {"LovarM", "LovarM", true, "LovarM.dat"};
    case 252:
      return {"LovarT2", "LovarT-2", false, "Lovart.dat"};
    default:
      return {"", "", false, ""};
  }
}

fs::path PrepareDefaultFolder(const fs::path& program_folder, int model, bool for_save) {
  const FileDefaults defaults = DefaultsFor(model);
  const std::string& name = for_save ? defaults.save_folder : defaults.load_folder;
  if (name.empty()) return program_folder;
  const fs::path folder = program_folder / name;
  std::error_code ec;
  fs::create_directories(folder, ec);
  return folder;
}

}  // namespace lovar

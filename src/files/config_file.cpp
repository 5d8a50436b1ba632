#include "files/config_file.h"

#include <algorithm>

#include "files/safe_replace.h"
#include "files/utf8_path.h"
#include "model/cp1251.h"
#include "model/model_setup.h"

namespace lovar {
namespace fs = std::filesystem;
namespace {

constexpr int kWrittenHeaderLength = 100;
constexpr int kMinHeaderLength = 2;
constexpr int kMaxHeaderLength = 200;
// Everything a load can look at: the longest header and the longest image (a whole model 251
// image in an archive's file).
constexpr size_t kMaxUsefulBytes = kMaxHeaderLength + kImageCapacity;

// The reason of a refused file: the system's text, or what the path is instead of a file.
std::string Reason(const FileResult& result) {
  if (result.kind != PathKind::Regular && result.kind != PathKind::Missing)
    return "это " + std::string(PathKindText(result.kind)) + ", а не обычный файл";
  return result.system_message;
}

// " «C:\Папка\файл.dat»", or nothing for a result without a file.
std::string Named(const FileResult& result) {
  return result.path.empty() ? std::string() : " «" + ShownPath(result.path) + "»";
}

// Reads what a load may look at; refuses anything but a regular file.
FileResult ReadUseful(const fs::path& path, std::vector<uint8_t>& bytes) {
  FileResult result;
  result.path = path;
  const FsResult read = ReadRegularFile(path, kMaxUsefulBytes, bytes, result.kind);
  if (!read.ok) {
    result.error = FileError::CannotOpen;
    result.system_message = read.message;
  }
  return result;
}

// "Ловар-Т" alone says which file it is unless both sides are called so (250 and 252).
std::string WrongModelLine(int file_model, int current_model, const std::string& named) {
  const std::string_view file_name = FileModelName(file_model);
  const std::string_view device_name = FileModelName(current_model);
  const bool with_codes = file_name.empty() || device_name.empty() || file_name == device_name;
  auto side = [&](int model, std::string_view name) {
    std::string text = name.empty() ? "модели" : std::string(name);
    if (with_codes) text += " (" + std::to_string(model) + ")";
    return text;
  };
  return "Неверный тип УО: файл" + named + " для " + side(file_model, file_name) + ", прибор " +
         side(current_model, device_name);
}

}  // namespace

std::string_view FileModelName(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  return setup != nullptr ? setup->file_name : std::string_view();
}

int FileImageLength(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  return setup != nullptr ? setup->file_image_length : 0;
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
      return {"Предупреждение", DescribeError(result) + "."};
  }
  return {};
}

std::string DescribeError(const FileResult& result) {
  switch (result.error) {
    case FileError::None:
      return {};
    case FileError::CannotOpen:
      return "Не удалось открыть файл" + Named(result) + ": " + Reason(result);
    case FileError::BadHeader:
      return "Неверный тип УО: неверный заголовок файла" + Named(result);
    case FileError::WrongModel:
      return WrongModelLine(result.file_model, result.current_model, Named(result));
    case FileError::Truncated:
      return "Файл" + Named(result) + " повреждён: он короче заголовка и образа";
    case FileError::CannotWrite:
      return "Не удалось записать файл" + Named(result) + ": " + Reason(result);
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

std::vector<uint8_t> SerializeWholeImage(int model, const ConfigImage& image) {
  std::vector<uint8_t> file = SerializeConfigFile(model, image);
  if (!IsKnownModel(model)) return file;
  const auto bytes =
      image.bytes().subspan(static_cast<size_t>(FileImageLength(model)),
                            static_cast<size_t>(ImageLength(model) - FileImageLength(model)));
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
  std::vector<uint8_t> bytes;
  FileResult result = ReadUseful(path, bytes);
  result.current_model = current_model;
  if (!result.ok()) return result;
  result = ParseConfigFile(bytes, current_model, image);
  result.path = path;
  return result;
}

FileResult LoadWholeImage(const fs::path& path, int current_model, ConfigImage& image,
                          int& image_bytes) {
  image_bytes = 0;
  std::vector<uint8_t> bytes;
  FileResult result = ReadUseful(path, bytes);
  result.current_model = current_model;
  if (!result.ok()) return result;
  result = ParseConfigFile(bytes, current_model, image);
  result.path = path;
  if (!result.ok()) return result;
  image_bytes = FileImageLength(current_model);
  // What follows the image is the rest of it only when it is all there.
  const size_t rest_at = bytes[0] + static_cast<size_t>(image_bytes);
  const auto rest = static_cast<size_t>(ImageLength(current_model) - image_bytes);
  if (rest > 0 && bytes.size() >= rest_at + rest) {
    std::copy_n(bytes.begin() + static_cast<long>(rest_at), rest,
                image.bytes().begin() + image_bytes);
    image_bytes = ImageLength(current_model);
  }
  return result;
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
  FileResult result = SaveFileReplacing(
      path, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
  result.current_model = model;
  result.file_model = model;
  return result;
}

FileResult SaveFileReplacing(const fs::path& path, std::string_view file) {
  FileResult result;
  result.path = path;
  const ReplaceResult saved = ReplaceFileSafely(
      path, std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
  if (!saved.ok) {
    result.error = FileError::CannotWrite;
    result.kind = saved.kind;
    result.system_message = saved.message;
  }
  return result;
}

FileResult CheckSavePlace(const fs::path& path) {
  FileResult result;
  result.path = path;
  const ReplaceResult place = CheckReplaceable(path);
  if (!place.ok) {
    result.error = FileError::CannotWrite;
    result.kind = place.kind;
    result.system_message = place.message;
  }
  return result;
}

int PeekFileModel(const fs::path& path) {
  std::vector<uint8_t> bytes;
  if (!ReadUseful(path, bytes).ok()) return 0;
  const size_t got = bytes.size();
  if (got == 0 || bytes[0] < kMinHeaderLength || bytes[0] > kMaxHeaderLength || got < bytes[0])
    return 0;
  return bytes[1];
}

bool LoadAnyConfigFile(const fs::path& path, int& model, ConfigImage& image, std::string& why) {
  model = PeekFileModel(path);
  if (!IsKnownModel(model)) {
    ConfigImage scratch;
    FileResult result = LoadConfigFile(path, model, scratch);
    result.path.clear();  // the caller names the file
    why = result.error == FileError::CannotOpen || result.error == FileError::BadHeader
              ? DescribeError(result)
              : "это не файл конфигурации УО (модель " + std::to_string(model) + ")";
    return false;
  }
  FileResult loaded = LoadConfigFile(path, model, image);
  loaded.path.clear();
  if (!loaded.ok()) why = DescribeError(loaded);
  return loaded.ok();
}

FileDefaults DefaultsFor(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  if (setup == nullptr) return {"", "", false, ""};
  return {std::string(setup->load_folder), std::string(setup->save_folder), setup->save_in_folder,
          std::string(setup->default_file)};
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

// Configuration files: a header of H bytes (written as 100: H, model code, 1, the model's name
// in Windows-1251, zeros) followed by the image from offset 0, 256 bytes for models 250 and
// 252 and 2048 for model 251. Independent of any dialog.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "model/config_image.h"

namespace lovar {

enum class FileError {
  None,
  CannotOpen,  // the file cannot be read
  BadHeader,   // header length outside 2 to 200, or the file ends inside the header
  WrongModel,  // the file names another model than the device identified last
  Truncated,   // the file ends before its image does
  CannotWrite, // saving failed; system_message says why
  UnknownModel // saving without an identified model 250, 251 or 252
};

struct FileResult {
  FileError error = FileError::None;
  int file_model = 0;          // the model byte of the file, when it was read
  std::string system_message;  // the operating system's text, for CannotOpen and CannotWrite
  bool ok() const { return error == FileError::None; }
};

// The message box of a refused file: caption and text, in UTF-8. A file of another model, an
// unreadable file and a bad header all give "Неверный тип УО" / "Ошибка".
struct FileMessage {
  std::string caption;
  std::string text;
};
FileMessage MessageFor(const FileResult& result);
// One line for the CLI and the status bar.
std::string DescribeError(const FileResult& result);

// Bytes of the image a file holds for the model: 256 (250, 252), 2048 (251), 0 otherwise.
int FileImageLength(int model);

// The whole file for the model and image.
std::vector<uint8_t> SerializeConfigFile(int model, const ConfigImage& image);

// Checks bytes as a file for current_model and, only when every check passes, copies its image
// into image. Anything refused leaves image unchanged.
FileResult ParseConfigFile(std::span<const uint8_t> bytes, int current_model, ConfigImage& image);

FileResult LoadConfigFile(const std::filesystem::path& path, int current_model, ConfigImage& image);

// Writes a temporary file beside path and renames it over path, so an existing file is
// replaced whole or not at all.
FileResult SaveConfigFile(const std::filesystem::path& path, int model, const ConfigImage& image);

// The model byte of a file (0 when it cannot be read or has a bad header).
int PeekFileModel(const std::filesystem::path& path);

// Default folders (below the program's folder) and names of the file dialogs per model.
struct FileDefaults {
  std::string load_folder;        // "LovarT", "LovarM", "LovarT2"
  std::string save_folder;        // created by a save: "LovarT", "LovarM", "LovarT-2"
  bool save_dialog_in_model_folder;  // 251 starts in its folder, 250/252 in the current dir
  std::string file_name;          // "Lovart.dat" or "LovarM.dat"
};
FileDefaults DefaultsFor(int model);

}  // namespace lovar

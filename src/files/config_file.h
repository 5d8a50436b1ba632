// Configuration files: a header of H bytes (written as 100: H, model code, 1, the model's name
// in Windows-1251, zeros) followed by the image from offset 0, 256 bytes for models 250 and
// 252 and 2048 for model 251. Independent of any dialog.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_access.h"
#include "model/config_image.h"

namespace lovar {

enum class FileError {
  None,
  CannotOpen,   // the file cannot be read, or is no regular file (kind says what it is)
  BadHeader,    // header length outside 2 to 200, or the file ends inside the header
  WrongModel,   // the file names another model than the device identified last
  Truncated,    // the file ends before its image does
  CannotWrite,  // saving failed, or the target is no regular file (kind says what it is)
  UnknownModel  // saving without an identified model 250, 251 or 252
};

struct FileResult {
  FileError error = FileError::None;
  int file_model = 0;          // the model byte of the file, when it was read
  int current_model = 0;       // the model the file was checked against (or saved for)
  std::string system_message;  // the system error's text, for CannotOpen and CannotWrite
  // The file concerned, which the messages name; empty for bytes parsed without a file.
  std::filesystem::path path;
  // For CannotOpen and CannotWrite: a directory, device or FIFO, left alone (system_message
  // is then empty); Regular for a failure of the system.
  PathKind kind = PathKind::Regular;
  bool ok() const { return error == FileError::None; }
};

// The message box of a refused file: caption and text, in UTF-8. A file of another model, an
// unreadable file and a bad header all give "Неверный тип УО" / "Ошибка"; a failed save names
// the file and the system error.
struct FileMessage {
  std::string caption;
  std::string text;
};
FileMessage MessageFor(const FileResult& result);
// One line for the CLI and the status bar; it names the file (with the system's separators)
// when the result has one.
std::string DescribeError(const FileResult& result);

// The name a file header carries for the model (model_setup.h): "Ловар-Т" (250, 252), "Ловар-М"
// (251), "" else.
std::string_view FileModelName(int model);

// Bytes of the image a file holds for the model (model_setup.h): 256 (250, 252), 2048 (251), 0
// otherwise.
int FileImageLength(int model);

// The whole file for the model and image.
std::vector<uint8_t> SerializeConfigFile(int model, const ConfigImage& image);

// A file as above followed, for model 251, by the image's bytes 2048 to 4095 (the keys and their
// names): the archive keeps a device's whole image this way. Any reader of the format takes the
// first 2048 image bytes and ignores what follows.
std::vector<uint8_t> SerializeWholeImage(int model, const ConfigImage& image);

// Checks bytes as a file for current_model and, only when every check passes, copies its image
// into image. Anything refused leaves image unchanged: a header length outside 2 to 200 or a
// file ending inside its header (BadHeader), a model byte other than current_model or a model
// that is not 250, 251 or 252 (WrongModel), a file shorter than header and image (Truncated).
// Bytes after the image are ignored. Model 251 files never touch image bytes 2048 onward.
FileResult ParseConfigFile(std::span<const uint8_t> bytes, int current_model, ConfigImage& image);

// Reads the file and parses it as above; a file that cannot be read gives CannotOpen with the
// system's text. Only a regular file is read: anything else (a FIFO, a device, a directory) is
// refused at once, never waited on.
FileResult LoadConfigFile(const std::filesystem::path& path, int current_model, ConfigImage& image);

// Saves the file through ReplaceFileSafely (safe_replace.h): an existing file is replaced whole
// or not at all, keeps its permission bits and owner; a symbolic link is written through; no
// directory, device or FIFO is ever written. Any failure gives CannotWrite with the system's
// text (never empty) or the kind of the target; an unknown model gives UnknownModel and writes
// nothing.
FileResult SaveConfigFile(const std::filesystem::path& path, int model, const ConfigImage& image);
// As LoadConfigFile; a file that goes on with the rest of the model's image (SerializeWholeImage)
// gives that too. image_bytes: how many image bytes from offset 0 the file gave.
FileResult LoadWholeImage(const std::filesystem::path& path, int current_model, ConfigImage& image,
                          int& image_bytes);

// The same safe replacement for any other file the tool writes (an exported document, a
// report): `file` is written whole or the target keeps what it held.
FileResult SaveFileReplacing(const std::filesystem::path& path, std::string_view file);

// Whether SaveConfigFile (or SaveFileReplacing) could write path now, checked before long work
// whose result goes there (CheckReplaceable): CannotWrite as the save would give it, or ok.
FileResult CheckSavePlace(const std::filesystem::path& path);

// The model byte of a file (0 when it cannot be read, is no regular file or has a bad
// header).
int PeekFileModel(const std::filesystem::path& path);

// Loads a file of whichever model it is for (250, 251 or 252) into image, its model into model.
// Refused: false, and why says it in one line (without the path); image is then unchanged.
bool LoadAnyConfigFile(const std::filesystem::path& path, int& model, ConfigImage& image,
                       std::string& why);

// Default folders (below the program's folder) and names of the file dialogs per model, as the
// model's table gives them (model_setup.h).
struct FileDefaults {
  std::string load_folder;           // "LovarT", "LovarM", "LovarT2"
  std::string save_folder;           // created by a save: "LovarT", "LovarM", "LovarT-2"
  bool save_dialog_in_model_folder;  // 251 starts in its folder, 250/252 in the current dir
  std::string file_name;             // "Lovart.dat" or "LovarM.dat"
};
FileDefaults DefaultsFor(int model);
// The dialog's folder below program_folder (load_folder or save_folder; program_folder itself
// for an unknown model), created when missing. A failure to create it is not reported: the
// dialog then starts wherever the system puts it.
std::filesystem::path PrepareDefaultFolder(const std::filesystem::path& program_folder, int model,
                                           bool for_save);

}  // namespace lovar

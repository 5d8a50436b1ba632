// A configuration file as a readable JSON document (docs/json-format.md): the format and its
// version, the model, every named field the file holds as its text value, and the bits no
// value sets as runs of hexadecimal bytes. Importing an export gives the same file, byte for
// byte, whatever the image holds. A document is checked whole before anything is taken from it.
//
// Threads: pure functions, but for the file reading of ImportJsonFile.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "files/config_file.h"
#include "model/config_image.h"

namespace lovar {

inline constexpr std::string_view kJsonFormatName = "lovar-config";
inline constexpr int kJsonFormatVersion = 1;

// The document of a configuration file: the first FileImageLength(model) bytes of image.
std::string ExportJson(int model, const ConfigImage& image);

struct JsonImport {
  std::string error;         // empty when taken; else Russian, naming the field or member
  bool wrong_model = false;  // refused because the document is for another model
  FileResult file;           // ImportJsonFile: why the document could not be read
  int model = 0;
  ConfigImage image;  // the file's bytes from offset 0; the rest zero
  bool ok() const { return error.empty(); }
};

// Takes a document. Refused, with a message naming what is at fault: text that is not JSON or
// has a member twice, an unknown format or version, an unknown model or one other than
// expected_model (0 takes any), a wrong length, an unknown field or a field the file does not
// hold, a missing field, a value outside its field's range or list, a bad run of bytes.
JsonImport ImportJson(std::string_view text, int expected_model);
// Reads the document from a regular file first (at most 1 MB).
JsonImport ImportJsonFile(const std::filesystem::path& path, int expected_model);

// For machines (lovar-cli show --json): the source, the model, and every field the first
// `extent` bytes hold with its page, caption and value; the ids of the fields beyond them.
std::string FieldsJson(std::string_view source, int model, const ConfigImage& image, int extent);

}  // namespace lovar

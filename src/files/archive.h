// The archive: every configuration read whole from a device, kept as a configuration file in
// the folder "Архив" beside the per-model folders, the newest kArchiveKeep of them. A write
// never runs before the device's image is in it, so what a device held before the tool wrote it
// can always be loaded again. Shared by the windows and lovar-cli (--archive DIR).
//
// A file is named by the time of the read, the model and the object number:
//   2024-05-01_12-30-05_LovarM_1024.dat   (a second read in the same second: ..._12-30-05-2_...)
// The object number is the installer's text: characters a file name cannot hold become "_".
// Only files named so are listed and pruned; anything else in the folder is left alone.
//
// A model 251 configuration file holds only the first 2048 bytes of the image; the archive's
// files go on with bytes 2048 to 4095 (the keys and their names, SerializeWholeImage), which
// every reader of the format ignores, so a device's keys can be put back from its archive too.
//
// A write let past the check's errors (the installer's "Записать всё равно", lovar-cli's
// --allow-check) and proven on the device is kept as well: the image written, named as a read
// of that moment, followed after the whole image by a note, the bytes "\nlovar-note: ", the
// override's text in UTF-8 and "\n". A reader of the format ignores what follows the image, so
// the file loads as any other (the note is not part of the configuration); ArchiveNote reads it.
//
// Threads: call from one thread at a time (the windows' or the CLI's).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/config_file.h"
#include "model/config_image.h"

namespace lovar {

inline constexpr int kArchiveKeep = 100;

// A local date and time, to the second.
struct ArchiveTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  auto operator<=>(const ArchiveTime&) const = default;
};
ArchiveTime LocalTimeNow();
// "01.05.2024 12:30:05"
std::string ArchiveTimeText(const ArchiveTime& time);

// The folder the tool keeps its files in (the per-model folders and the archive): the
// program's folder where a file can be made in it, else user_folder (an installed program:
// Program Files, /usr/bin). user_folder always when `installed` (the program was put there by
// an installer: a run as root or administrator must not fill the system's folders). One rule
// for the file dialogs' folders and the archive.
std::filesystem::path FilesRoot(const std::filesystem::path& program_folder,
                                const std::filesystem::path& user_folder, bool installed = false);
// root / "Архив".
std::filesystem::path ArchiveFolder(const std::filesystem::path& root);
// Makes the archive folder when it is missing (its parents too): listed and read by its owner
// only, as its files are. An existing folder is left as it is. "" when it is there, else why
// not (the system's words).
std::string MakeArchiveFolder(const std::filesystem::path& folder);

// The file name for a read of `model` at `when` (n > 1: the n-th of the same second).
std::string ArchiveFileName(int model, const ConfigImage& image, const ArchiveTime& when,
                            int n = 1);

struct ArchiveEntry {
  std::filesystem::path path;
  ArchiveTime time;
  int sequence = 1;    // the n of ArchiveFileName
  int model = 0;       // from the name
  std::string object;  // the object number as the file holds it ("" when none or unreadable)
  std::string note;    // a kept write's note (ArchiveNote); "" for a read
};
// The archive's files, newest first. A missing folder is an empty archive.
std::vector<ArchiveEntry> ListArchive(const std::filesystem::path& folder);

struct ArchiveResult {
  bool ok = true;
  std::filesystem::path path;  // the file written
  std::string message;         // why not, in Russian, when not ok
  int removed = 0;             // older files pruned
};
// Saves the whole image (folder made when missing, MakeArchiveFolder) through the safe replacement
// of configuration files, then prunes the oldest files beyond `keep`.
// note: a write's note kept after the image (one line of UTF-8; "" for a read).
ArchiveResult SaveToArchive(const std::filesystem::path& folder, int model,
                            const ConfigImage& image, const ArchiveTime& when,
                            int keep = kArchiveKeep, std::string_view note = {});

// The note after the whole image of an archive's file of model; "" when it has none.
std::string ArchiveNote(std::span<const uint8_t> bytes, int model);

}  // namespace lovar

// Replacing a file so that what it replaces is never harmed: the new bytes go to a temporary
// file beside the target, flushed to the disk, which then takes the target's place in one step.
// Independent of the file format.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "files/file_access.h"

namespace lovar {

// The kind as a phrase for messages: "каталог", "устройство", "канал (FIFO)".
std::string_view PathKindText(PathKind kind);

struct ReplaceResult {
  bool ok = true;
  // Not Regular and not Missing: the target is no regular file and was left alone.
  PathKind kind = PathKind::Regular;
  std::string message;  // otherwise the system's text of the failure
};

// Writes bytes as the whole content of path.
// - A symbolic link is written through: the file it names is replaced, the link stays.
// - A new file is readable and writable by its owner only: configurations hold user codes and
//   key codes.
// - Only a regular file, or nothing yet, is written; a directory, device or FIFO is refused.
// - An existing file that could not be written in place (read-only, another user's) is refused
//   with the system's text, as writing it in place would be.
// - The replaced file keeps its permission bits, and its owner and group: where the system does
//   not let a new file take them, the file is written in place instead, as it also is when no
//   temporary file can be made beside it. Its old content is read first and written back if
//   the write in place fails halfway; the message says whether that worked.
// - Temporary files ("<name>.lovar-XXXXXXXX.tmp") left by a save that was killed are removed by
//   the next save of the same target.
ReplaceResult ReplaceFileSafely(const std::filesystem::path& path, std::span<const uint8_t> bytes);

// Whether ReplaceFileSafely could write path now, without writing it: a regular file that may be
// written, or a new one in a folder that exists and takes files (tried with a temporary file,
// removed at once). Fails as the save would, with the kind or the system's text.
ReplaceResult CheckReplaceable(const std::filesystem::path& path);

// Whether name is a temporary file of a save of target_name.
bool IsTemporaryOf(const std::string& name, const std::string& target_name);

}  // namespace lovar

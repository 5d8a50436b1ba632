// What the configuration files need of the operating system's files, one source file per OS
// (file_access_posix.cpp, file_access_win.cpp): reading only regular files, never waiting on a
// FIFO or a device; writing a file flushed to the disk; replacing a file in one step; writing
// one in place. Every failure carries the text of its system error (system_error_text.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace lovar {

// What a path names, symbolic links followed.
enum class PathKind {
  Missing,    // nothing (yet)
  Regular,    // a regular file
  Directory,  // a folder
  Device,     // a character or block device ("/dev/null", "NUL", "COM1")
  Fifo,       // a named pipe
  Other,      // a socket or anything else
};

struct FsResult {
  bool ok = true;
  std::string message;  // the system error's text (SystemErrorText) when not ok
};

// What path names, without opening it (so a FIFO does not block). A path that cannot be looked
// at counts as Missing; creating it then fails with the system's reason.
PathKind KindOf(const std::filesystem::path& path);

// What tells whether two paths name one file or device, without opening it: for a character
// or block device its device number (a link in /dev/serial/by-id and its target, or two nodes
// of one device, alike), for anything else the file system's identity of the file; "" when the
// path names nothing that can be looked at. Windows names its ports by name only: "" there.
std::string PathIdentity(const std::filesystem::path& path);

// Reads at most max bytes of a regular file into out. Anything else is refused at once, kind
// telling what it is (a FIFO with no writer, a device that never ends): never waits on it.
FsResult ReadRegularFile(const std::filesystem::path& path, size_t max, std::vector<uint8_t>& out,
                         PathKind& kind);

// Opens the existing file for writing, without truncating it, and closes it again: fails, with
// the system's text, wherever writing it in place would (read-only, another user's file).
FsResult CheckWritable(const std::filesystem::path& path);

// Creates the file (which must not exist yet) holding bytes, flushed to the disk, readable and
// writable by its owner only (POSIX mode 0600; on Windows an access list of the user and the
// system alone). With like, it gets the permission bits of that file instead and, where the
// system allows, its owner and group (on Windows the replacement keeps the replaced file's
// access list).
struct CreateResult {
  FsResult result;
  bool created = false;    // the file was made (it may hold part of the bytes if not ok)
  bool kept_owner = true;  // like's owner and group could be kept
};
CreateResult CreateFlushed(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                           const std::filesystem::path* like);

// Makes the folder (its parent must exist) readable by its owner only, as a new file is; an
// existing folder is left as it is.
FsResult CreateOwnerOnlyFolder(const std::filesystem::path& path);

// Puts the file from in place of target in one step (target may exist or not), flushed, so
// that target is either the old file or the new one whatever happens.
FsResult ReplaceWith(const std::filesystem::path& from, const std::filesystem::path& target);

// Writes bytes over the existing file from its start and cuts it to their length, flushed.
FsResult WriteInPlace(const std::filesystem::path& path, std::span<const uint8_t> bytes);

}  // namespace lovar

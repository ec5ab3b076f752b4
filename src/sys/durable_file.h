// Files that must survive a crash or a power cut: put in place whole or not at all, and a removal
// that lasts. Every file the program writes goes through here.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelmo::sys {

// Which step failed ("write", "fsync", "rename", ...) and the system's reason for it.
class DurableFileError : public std::runtime_error {
 public:
  DurableFileError(const std::string& step, const std::string& reason)
      : std::runtime_error(step + ": " + reason), step_(step), reason_(reason) {}
  const std::string& reason() const { return reason_; }
  // "... folder": the file itself is in place, only its name may not outlast a power cut.
  const std::string& step() const { return step_; }

 private:
  std::string step_;
  std::string reason_;
};

// Writes `bytes` as `path`, replacing what was there: a temporary beside it written whole and
// flushed, renamed over, then the folder flushed. A failure leaves the old file and no temporary.
void WriteFileDurably(const std::filesystem::path& path, std::string_view bytes);

// The same, the file getting exactly the POSIX permission bits `permissions` (a file that is
// rewritten keeps its own); Windows has no such bits and ignores them.
void WriteFileDurably(const std::filesystem::path& path, std::string_view bytes,
                      unsigned permissions);

// The same, but never replaces a file that is already there: returns false (and writes nothing)
// when `path` exists.
bool CreateFileDurably(const std::filesystem::path& path, std::string_view bytes);

// Removes `path` and flushes its folder, so the removal survives a power cut. Returns false when
// there was no such file.
bool RemoveFileDurably(const std::filesystem::path& path);

// Makes the folder `path` (its parent must be there) and flushes the parent, so the new folder
// survives a power cut with what is then written into it. Returns false when it was there.
bool CreateFolderDurably(const std::filesystem::path& path);

// The whole of a file, or nothing when there is no such file. Anything else that keeps it from
// being read (no permission, an I/O error, a folder or a device in its place) throws: a file
// that guards something must not read as missing because it could not be read.
std::optional<std::string> ReadFileIfThere(const std::filesystem::path& path);

}  // namespace zelmo::sys

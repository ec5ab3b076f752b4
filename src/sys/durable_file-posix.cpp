// Durable files on POSIX: a temporary beside the final name, written whole and fsynced, renamed
// into place, then the folder fsynced, so that the new name itself survives a power cut.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "sys/descriptor-posix.h"
#include "sys/durable_file.h"

namespace zelmo::sys {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const char* step, int error) {
  throw DurableFileError(step, std::strerror(error));
}

// The temporary is removed on every failure, so nothing is left beside the final name.
class Temporary {
 public:
  Temporary(const fs::path& path, std::optional<mode_t> permissions) {
    for (int n = 0;; ++n) {
      // "<name>.<pid>.<n>.tmp", created exclusively: never someone else's file.
      name_ = path;
      name_ += "." + std::to_string(getpid()) + "." + std::to_string(n) + ".tmp";
      fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) break;
      if (errno != EEXIST || n == 99) Fail("open", errno);
    }
    // The process's umask does not get to take bits away from a file that had them.
    if (permissions && ::fchmod(fd_, *permissions) != 0) Fail("fchmod", errno);
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(name_.c_str());
  }
  const fs::path& name() const { return name_; }

  void WriteWhole(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail("write", errno);
      if (n == 0) Fail("write", EIO);
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::fsync(fd_) != 0) Fail("fsync", errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail("close", errno);
  }

  // The temporary now carries the final name (or was linked to it): nothing to remove.
  void Keep() { kept_ = true; }

 private:
  fs::path name_;
  int fd_ = -1;
  bool kept_ = false;
};

fs::path FolderOf(const fs::path& path) {
  const fs::path folder = path.parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

// A rename or an unlink is a change of the folder: only the folder's fsync makes it last.
void SyncFolder(const fs::path& path) {
  Descriptor folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) Fail("open folder", errno);
  if (::fsync(folder.get()) != 0) Fail("fsync folder", errno);
  if (!folder.Close()) Fail("close folder", errno);
}

int RenameNoReplace(const fs::path& from, const fs::path& to) {
#ifdef RENAME_NOREPLACE
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
#else
  errno = ENOSYS;
  return -1;
#endif
}

// Puts the temporary in place only if nothing has the final name: false when something has.
// A file system that refuses RENAME_NOREPLACE gets link + unlink, which refuses the same way.
bool PlaceWithoutReplacing(Temporary& temp, const fs::path& path) {
  if (RenameNoReplace(temp.name(), path) == 0) {
    temp.Keep();
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) Fail("rename", errno);
  if (::link(temp.name().c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) return false;
    Fail("link", errno);
  }
  // The final name holds the bytes now; the temporary name goes before the folder is flushed.
  ::unlink(temp.name().c_str());
  temp.Keep();
  return true;
}

void WriteDurably(const fs::path& path, std::string_view bytes, std::optional<mode_t> permissions) {
  Temporary temp(path, permissions);
  temp.WriteWhole(bytes);
  if (::rename(temp.name().c_str(), path.c_str()) != 0) Fail("rename", errno);
  temp.Keep();
  SyncFolder(path);
}

}  // namespace

void WriteFileDurably(const fs::path& path, std::string_view bytes) {
  WriteDurably(path, bytes, std::nullopt);
}

void WriteFileDurably(const fs::path& path, std::string_view bytes, unsigned permissions) {
  WriteDurably(path, bytes, permissions);
}

bool CreateFileDurably(const fs::path& path, std::string_view bytes) {
  Temporary temp(path, std::nullopt);
  temp.WriteWhole(bytes);
  if (!PlaceWithoutReplacing(temp, path)) return false;
  SyncFolder(path);
  return true;
}

std::optional<std::string> ReadFileIfThere(const fs::path& path) {
  // Non-blocking, so that a pipe in the file's place cannot hold the program.
  Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    Fail("open", errno);
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) Fail("fstat", errno);
  if (S_ISDIR(info.st_mode)) Fail("read", EISDIR);
  if (!S_ISREG(info.st_mode)) Fail("read", EINVAL);
  std::string bytes;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
    if (n == 0) return bytes;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("read", errno);
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

bool RemoveFileDurably(const fs::path& path) {
  if (::unlink(path.c_str()) != 0) {
    if (errno == ENOENT) return false;
    Fail("unlink", errno);
  }
  SyncFolder(path);
  return true;
}

bool CreateFolderDurably(const fs::path& path) {
  if (::mkdir(path.c_str(), 0777) != 0) {
    if (errno == EEXIST) return false;
    Fail("mkdir", errno);
  }
  SyncFolder(path);
  return true;
}

}  // namespace zelmo::sys

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/new_file.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const char* step, int error, const fs::path& temp) {
  if (!temp.empty()) unlink(temp.c_str());
  throw NewFileError(step, std::strerror(error));
}

// "Zelmocfg.ini.<pid>.<n>.tmp", created exclusively: never someone else's file.
int CreateTemporary(const fs::path& path, fs::path& temp) {
  for (int n = 0;; ++n) {
    temp = path;
    temp += "." + std::to_string(getpid()) + "." + std::to_string(n) + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST || n == 99) Fail("open", errno, {});
  }
}

void WriteAll(int fd, std::string_view bytes, const fs::path& temp) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      close(fd);
      Fail("write", error, temp);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void WriteNewFile(const fs::path& path, std::string_view bytes) {
  fs::path temp;
  const int fd = CreateTemporary(path, temp);
  WriteAll(fd, bytes, temp);
  if (fsync(fd) != 0) {
    const int error = errno;
    close(fd);
    Fail("fsync", error, temp);
  }
  if (close(fd) != 0) Fail("close", errno, temp);
  if (rename(temp.c_str(), path.c_str()) != 0) Fail("rename", errno, temp);
}

}  // namespace zelmo

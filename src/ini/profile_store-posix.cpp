// The profile store on POSIX: our engine over the real file, in code page 1251 or in UTF-16 LE
// behind its byte order mark, as Windows reads them. Each call reads the whole file; a change is
// put in place whole and durably (sys/durable_file), so that a reader (or a crash) never meets a
// half-written settings file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "ini/profile_engine.h"
#include "ini/profile_file.h"
#include "ini/profile_store.h"
#include "sys/descriptor-posix.h"
#include "sys/durable_file.h"

namespace zelmo {
namespace {

using sys::Descriptor;

// Nothing stays open between FindFirst and CloseFind here: the search is done at once, so the
// handle only tells that something matched.
constexpr FindHandle kMatchFound = 1;

[[noreturn]] void ThrowErrno(int error, const std::string& path) {
  throw std::system_error(error, std::generic_category(), path);
}

// A settings file is a plain file. A folder, a pipe or a device (/dev/zero never ends) is not
// one, and must not be read as one.
void RequirePlainFile(const struct stat& info, const std::string& path) {
  if (S_ISDIR(info.st_mode)) ThrowErrno(EISDIR, path);
  if (!S_ISREG(info.st_mode)) ThrowErrno(EINVAL, path);
}

// The file's bytes, or nothing when it does not exist. Any other failure (a folder, no
// permission) throws: a settings file we cannot read must not look like empty settings.
std::optional<std::string> ReadProfile(const std::string& path) {
  // Looked at before it is opened: opening a device can itself do something (a serial port
  // raises its lines).
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowErrno(errno, path);
  }
  RequirePlainFile(info, path);
  // Non-blocking, so that a pipe put in place of the file meanwhile cannot hold the program.
  Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowErrno(errno, path);
  }
  if (::fstat(file.get(), &info) != 0) ThrowErrno(errno, path);
  RequirePlainFile(info, path);
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
    if (n == 0) return bytes;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowErrno(errno, path);
    bytes.append(chunk, static_cast<size_t>(n));
  }
}

// A link to the settings file is followed, so that the rename replaces the file, not the link.
std::string WriteTarget(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const auto target = std::filesystem::canonical(path, error);
  return error ? path : target.string();
}

// A file that may not be written stays as it is, although its folder would let a rename replace
// it: a file without any write bit is read-only, as Windows keeps its read-only flag even for an
// administrator.
bool MayWrite(const std::string& target, const struct stat& info) {
  return (info.st_mode & 0222) != 0 && ::access(target.c_str(), W_OK) == 0;
}

// Replaces the file's content as one step: the old bytes or the new, never a mix, and on the
// disk when this returns. An existing file keeps its permission bits; a new one gets the usual
// ones of the process.
bool ReplaceFile(const std::string& path, std::string_view bytes) {
  const std::string target = WriteTarget(path);
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed && !MayWrite(target, old)) return false;
  try {
    if (existed) {
      sys::WriteFileDurably(target, bytes, old.st_mode & 07777);
    } else {
      sys::WriteFileDurably(target, bytes);
    }
  } catch (const sys::DurableFileError&) {
    return false;
  }
  return true;
}

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?") != std::string::npos;
}

// Windows wildcards: * for any run of characters, ? for one character.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool FolderHasMatch(const std::string& folder, std::string_view pattern) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    if ((found = WildcardMatch(pattern, entry->d_name))) break;
  }
  ::closedir(dir);
  return found;
}

class PosixProfileStore final : public ProfileStore {
 public:
  uint32_t GetString(const char* section, const char* key, const char* defaultText,
                     std::span<char> buffer, const std::string& path) override {
    return Read(path).GetString(section, key, defaultText, buffer);
  }

  uint32_t GetInt(const char* section, const char* key, int32_t defaultNumber,
                  const std::string& path) override {
    return Read(path).GetInt(section, key, defaultNumber);
  }

  bool WriteString(const char* section, const char* key, const char* text,
                   const std::string& path) override {
    // Every change is on the disk when its call returns, so a flush has nothing left to do.
    if (!section && !key && !text) return false;
    try {
      const ProfileFile file(ReadProfile(path).value_or(""));
      ProfileText profile(file.text());
      const auto result = profile.Write(section, key, text);
      if (!result.done) return false;
      return !result.changed || ReplaceFile(path, file.Edited(result.edit));
    } catch (const std::system_error&) {
      return false;
    }
  }

  FindHandle FindFirst(const std::string& pattern) override {
    if (pattern.empty()) return kInvalidFindHandle;
    const size_t slash = pattern.rfind('/');
    const std::string_view leaf =
        std::string_view(pattern).substr(slash == std::string::npos ? 0 : slash + 1);
    if (!HasWildcard(leaf)) {
      struct stat info {};
      return ::lstat(pattern.c_str(), &info) == 0 ? kMatchFound : kInvalidFindHandle;
    }
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : pattern.substr(0, slash);
    return FolderHasMatch(folder, leaf) ? kMatchFound : kInvalidFindHandle;
  }

  bool CloseFind(FindHandle handle) override { return handle == kMatchFound; }

 private:
  static ProfileText Read(const std::string& path) {
    return ProfileText(ProfileFile(ReadProfile(path).value_or("")).text());
  }
};

}  // namespace

ProfileStore& PlatformProfileStore() {
  static PosixProfileStore store;
  return store;
}

}  // namespace zelmo

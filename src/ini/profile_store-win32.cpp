// The profile store on Windows: kernel32's own private-profile functions and file search, in
// their narrow forms. Paths come in as UTF-8 and go to the functions in the ANSI code page, and
// always as full paths: a bare name would send the functions to the Windows folder.
#include <windows.h>

#include <filesystem>
#include <optional>
#include <system_error>

#include "ini/profile_store.h"
#include "sys/wide-win32.h"

namespace zelmo {
namespace {

// The ANSI form of a path, or nothing when a character of it has none: a "?" put in its place
// would be a wildcard, or another file.
std::optional<std::string> ToAnsi(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                    nullptr, &lossy);
  if (n <= 0 || lossy) return std::nullopt;
  std::string ansi(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, ansi.data(), n, nullptr,
                      nullptr);
  return ansi;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (written == 0 || written >= n) return path;
  full.resize(written);
  return full;
}

// The short (8.3) name of an existing folder or file is plain ASCII.
std::optional<std::wstring> ShortPath(const std::wstring& path) {
  const DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring shortPath(n, L'\0');
  const DWORD written = GetShortPathNameW(path.c_str(), shortPath.data(), n);
  if (written == 0 || written >= n) return std::nullopt;
  shortPath.resize(written);
  return shortPath;
}

// The full path of the settings file in the ANSI code page. Where its folder's name has no ANSI
// form, the folder's short name stands in for it.
std::optional<std::string> AnsiFullPath(const std::string& utf8) {
  const std::wstring full = FullPath(Utf8ToWide(utf8));
  if (auto ansi = ToAnsi(full)) return ansi;
  const std::filesystem::path path(full);
  const auto folder = ShortPath(path.parent_path().wstring());
  if (!folder) return std::nullopt;
  return ToAnsi((std::filesystem::path(*folder) / path.filename()).wstring());
}

[[noreturn]] void ThrowSystemError(DWORD error, const std::string& path) {
  throw std::system_error(static_cast<int>(error), std::system_category(), path);
}

// kernel32 reads a folder or a file it may not open as if it were empty; we would rather say so.
void CheckReadable(const std::string& utf8) {
  const std::wstring path = FullPath(Utf8ToWide(utf8));
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    ThrowSystemError(error, utf8);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) ThrowSystemError(ERROR_ACCESS_DENIED, utf8);
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) ThrowSystemError(GetLastError(), utf8);
  CloseHandle(file);
}

// The path to hand to the A functions; a file whose path has no ANSI form cannot be reached by
// them at all.
std::string ReadablePath(const std::string& utf8) {
  CheckReadable(utf8);
  auto ansi = AnsiFullPath(utf8);
  if (!ansi) ThrowSystemError(ERROR_NO_UNICODE_TRANSLATION, utf8);
  return *ansi;
}

class Win32ProfileStore final : public ProfileStore {
 public:
  uint32_t GetString(const char* section, const char* key, const char* defaultText,
                     std::span<char> buffer, const std::string& path) override {
    const std::string ansi = ReadablePath(path);
    return GetPrivateProfileStringA(section, key, defaultText, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), ansi.c_str());
  }

  uint32_t GetInt(const char* section, const char* key, int32_t defaultNumber,
                  const std::string& path) override {
    const std::string ansi = ReadablePath(path);
    return GetPrivateProfileIntA(section, key, defaultNumber, ansi.c_str());
  }

  bool WriteString(const char* section, const char* key, const char* text,
                   const std::string& path) override {
    const auto ansi = AnsiFullPath(path);
    if (!ansi) return false;
    // kernel32 would make the file to delete from it; a delete never creates a file here.
    if (section && !text && GetFileAttributesA(ansi->c_str()) == INVALID_FILE_ATTRIBUTES) {
      return true;
    }
    return WritePrivateProfileStringA(section, key, text, ansi->c_str()) != FALSE;
  }

  FindHandle FindFirst(const std::string& pattern) override {
    if (pattern.empty()) return kInvalidFindHandle;
    const auto ansi = ToAnsi(Utf8ToWide(pattern));
    if (!ansi) return kInvalidFindHandle;
    WIN32_FIND_DATAA found;
    const HANDLE handle = FindFirstFileA(ansi->c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidFindHandle;
    return reinterpret_cast<FindHandle>(handle);
  }

  bool CloseFind(FindHandle handle) override {
    return FindClose(reinterpret_cast<HANDLE>(handle)) != FALSE;
  }
};

}  // namespace

ProfileStore& PlatformProfileStore() {
  static Win32ProfileStore store;
  return store;
}

}  // namespace zelmo

// The profile store on Windows: kernel32's own private-profile functions and file search, in
// their wide forms, so that a file is reached whatever its folder is called: paths come in as
// UTF-8 and go to the functions as UTF-16, always as full paths (a bare name would send the
// functions to the Windows folder).
//
// Sections, keys and values stay the bytes the narrow functions take and give: they go to the
// wide functions and come back through the system's ANSI code page, as the narrow functions
// themselves convert them. The wide functions read an ANSI file in that code page too, so a byte
// of a 1251 file comes back as the same byte even where the system's code page is another one;
// turning it into UTF-16 as 1251 would instead lose every byte the two code pages give different
// characters.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "ini/profile_store.h"
#include "sys/wide-win32.h"

namespace zelmo {
namespace {

std::wstring AnsiToWide(const char* ansi) {
  const int size = static_cast<int>(std::char_traits<char>::length(ansi));
  if (size == 0) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi, size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi, size, wide.data(), n);
  return wide;
}

std::string WideToAnsi(const wchar_t* wide, size_t units) {
  if (units == 0) return {};
  const int size = static_cast<int>(units);
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(std::max(n, 0)), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, size, ansi.data(), n, nullptr, nullptr);
  return ansi;
}

// A text argument of the narrow forms, in the wide form; absent stays absent (NULL).
class WideText {
 public:
  explicit WideText(const char* ansi) : present_(ansi != nullptr) {
    if (ansi) text_ = AnsiToWide(ansi);
  }
  const wchar_t* get() const { return present_ ? text_.c_str() : nullptr; }

 private:
  bool present_;
  std::wstring text_;
};

std::wstring FullPath(const std::string& utf8) {
  const std::wstring path = Utf8ToWide(utf8);
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (written == 0 || written >= n) return path;
  full.resize(written);
  return full;
}

[[noreturn]] void ThrowSystemError(DWORD error, const std::string& path) {
  throw std::system_error(static_cast<int>(error), std::system_category(), path);
}

// kernel32 reads a folder or a file it may not open as if it were empty; we would rather say so.
// The full path of a file that can be read, or that is not there.
std::wstring ReadablePath(const std::string& utf8) {
  const std::wstring path = FullPath(utf8);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return path;
    ThrowSystemError(error, utf8);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) ThrowSystemError(ERROR_ACCESS_DENIED, utf8);
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) ThrowSystemError(GetLastError(), utf8);
  CloseHandle(file);
  return path;
}

class Win32ProfileStore final : public ProfileStore {
 public:
  uint32_t GetString(const char* section, const char* key, const char* defaultText,
                     std::span<char> buffer, const std::string& path) override {
    if (buffer.empty()) return 0;
    const std::wstring file = ReadablePath(path);
    std::vector<wchar_t> wide(buffer.size(), L'\0');
    const DWORD units = GetPrivateProfileStringW(WideText(section).get(), WideText(key).get(),
                                                 WideText(defaultText).get(), wide.data(),
                                                 static_cast<DWORD>(wide.size()), file.c_str());
    // The list forms close their list with a second NUL; a value has one.
    const bool list = !section || !key;
    std::string ansi = WideToAnsi(wide.data(), std::min<size_t>(units, wide.size()));
    ansi.resize(std::min(ansi.size(), buffer.size() - (list && buffer.size() > 1 ? 2 : 1)));
    std::copy(ansi.begin(), ansi.end(), buffer.begin());
    buffer[ansi.size()] = '\0';
    if (list && ansi.size() + 1 < buffer.size()) buffer[ansi.size() + 1] = '\0';
    return static_cast<uint32_t>(ansi.size());
  }

  uint32_t GetInt(const char* section, const char* key, int32_t defaultNumber,
                  const std::string& path) override {
    const std::wstring file = ReadablePath(path);
    return GetPrivateProfileIntW(WideText(section).get(), WideText(key).get(), defaultNumber,
                                 file.c_str());
  }

  bool WriteString(const char* section, const char* key, const char* text,
                   const std::string& path) override {
    const std::wstring file = FullPath(path);
    // kernel32 would make the file to delete from it; a delete never creates a file here.
    if (section && !text && GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
      return true;
    }
    return WritePrivateProfileStringW(WideText(section).get(), WideText(key).get(),
                                      WideText(text).get(), file.c_str()) != FALSE;
  }

  FindHandle FindFirst(const std::string& pattern) override {
    if (pattern.empty()) return kInvalidFindHandle;
    WIN32_FIND_DATAW found;
    const HANDLE handle = FindFirstFileW(Utf8ToWide(pattern).c_str(), &found);
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

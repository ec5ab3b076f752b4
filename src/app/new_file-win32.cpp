#include <windows.h>

#include <string>

#include "app/new_file.h"
#include "sys/wide-win32.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const char* step, DWORD error, const fs::path& temp) {
  if (!temp.empty()) DeleteFileW(temp.c_str());
  throw NewFileError(step, SystemMessage(error));
}

// "Zelmocfg.ini.<pid>.<n>.tmp", created exclusively: never someone else's file.
HANDLE CreateTemporary(const fs::path& path, fs::path& temp) {
  for (int n = 0;; ++n) {
    temp = path;
    temp += L"." + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(n) + L".tmp";
    const HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS || n == 99) Fail("CreateFile", error, {});
  }
}

}  // namespace

void WriteNewFile(const fs::path& path, std::string_view bytes) {
  fs::path temp;
  const HANDLE file = CreateTemporary(path, temp);
  while (!bytes.empty()) {
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (!ok || written == 0) {
      const DWORD error = ok ? ERROR_WRITE_FAULT : GetLastError();
      CloseHandle(file);
      Fail("WriteFile", error, temp);
    }
    bytes.remove_prefix(written);
  }
  if (!FlushFileBuffers(file)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    Fail("FlushFileBuffers", error, temp);
  }
  if (!CloseHandle(file)) Fail("CloseHandle", GetLastError(), temp);
  if (!MoveFileExW(temp.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Fail("MoveFileEx", GetLastError(), temp);
  }
}

}  // namespace zelmo

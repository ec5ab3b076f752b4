// Durable files on Windows: a temporary beside the final name, written whole and flushed, then
// moved into place with MOVEFILE_WRITE_THROUGH, which returns only once the move is on the disk.
#include <windows.h>

#include <string>

#include "sys/durable_file.h"
#include "sys/wide-win32.h"

namespace zelmo::sys {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const char* step, DWORD error) {
  throw DurableFileError(step, SystemMessage(error));
}

// A virus scanner or an indexer opens a new file for a moment; meanwhile it cannot be moved or
// deleted. Those two errors are tried again, ten times in all with a growing pause (0.9 s at
// most), before they count.
bool HeldByAnother(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

template <typename Call>
bool TryWhileHeld(Call call) {
  constexpr int kTries = 10;
  constexpr DWORD kPauseStepMs = 20;
  for (int attempt = 1;; ++attempt) {
    if (call()) return true;
    const DWORD error = GetLastError();
    if (!HeldByAnother(error) || attempt == kTries) {
      SetLastError(error);
      return false;
    }
    Sleep(kPauseStepMs * attempt);
  }
}

// The temporary is removed on every failure, so nothing is left beside the final name.
class Temporary {
 public:
  explicit Temporary(const fs::path& path) {
    for (int n = 0;; ++n) {
      // "<name>.<pid>.<n>.tmp", created exclusively: never someone else's file.
      name_ = path;
      name_ += L"." + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(n) + L".tmp";
      file_ = CreateFileW(name_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file_ != INVALID_HANDLE_VALUE) return;
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS || n == 99) Fail("CreateFile", error);
    }
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    if (!kept_) TryWhileHeld([this] { return DeleteFileW(name_.c_str()) != 0; });
  }
  const fs::path& name() const { return name_; }

  void WriteWhole(std::string_view bytes) {
    while (!bytes.empty()) {
      DWORD written = 0;
      const bool ok =
          WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      if (!ok) Fail("WriteFile", GetLastError());
      if (written == 0) Fail("WriteFile", ERROR_WRITE_FAULT);
      bytes.remove_prefix(written);
    }
    if (!FlushFileBuffers(file_)) Fail("FlushFileBuffers", GetLastError());
    const HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) Fail("CloseHandle", GetLastError());
  }

  // Moves the temporary to `path`; false (with GetLastError) when the move failed.
  bool MoveTo(const fs::path& path, DWORD flags) {
    const bool moved = TryWhileHeld([&] {
      return MoveFileExW(name_.c_str(), path.c_str(), flags | MOVEFILE_WRITE_THROUGH) != 0;
    });
    if (moved) kept_ = true;
    return moved;
  }

 private:
  fs::path name_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  bool kept_ = false;
};

}  // namespace

void WriteFileDurably(const fs::path& path, std::string_view bytes) {
  Temporary temp(path);
  temp.WriteWhole(bytes);
  if (!temp.MoveTo(path, MOVEFILE_REPLACE_EXISTING)) Fail("MoveFileEx", GetLastError());
}

void WriteFileDurably(const fs::path& path, std::string_view bytes, unsigned) {
  WriteFileDurably(path, bytes);
}

bool CreateFileDurably(const fs::path& path, std::string_view bytes) {
  Temporary temp(path);
  temp.WriteWhole(bytes);
  if (temp.MoveTo(path, 0)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
  Fail("MoveFileEx", error);
}

std::optional<std::string> ReadFileIfThere(const fs::path& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    Fail("CreateFile", error);
  }
  std::string bytes;
  char chunk[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
      const DWORD error = GetLastError();
      CloseHandle(file);
      Fail("ReadFile", error);
    }
    if (got == 0) break;
    bytes.append(chunk, got);
  }
  CloseHandle(file);
  return bytes;
}

bool RemoveFileDurably(const fs::path& path) {
  if (TryWhileHeld([&] { return DeleteFileW(path.c_str()) != 0; })) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
  Fail("DeleteFile", error);
}

// Windows offers no flush of a folder to a program without administrator rights; the record
// written into it goes through with MOVEFILE_WRITE_THROUGH.
bool CreateFolderDurably(const fs::path& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return false;
  Fail("CreateDirectory", error);
}

}  // namespace zelmo::sys

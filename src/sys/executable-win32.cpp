#include <windows.h>

#include <string>

#include "sys/executable.h"
#include "sys/paths.h"

namespace zelmo {

std::filesystem::path ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    // A path that filled the buffer may have been cut: try again with room to spare.
    if (n < buffer.size()) return std::filesystem::path(buffer.substr(0, n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string ExecutableStem() {
  return PathToUtf8(ExecutablePath().stem());
}

}  // namespace zelmo

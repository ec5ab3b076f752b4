// Paths travel as UTF-8 text in the job state; these convert at the file-system calls.
#pragma once

#include <filesystem>
#include <string>

namespace zelmo {

inline std::string PathToUtf8(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

inline std::filesystem::path Utf8ToPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace zelmo

#include "ini/settings_file_check.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "sys/paths.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;

// Text as the engine reads it: printable bytes (code page 1251 above 7Fh), the blanks it skips
// (tab to carriage return, and the DOS end-of-file byte 1Ah) and line breaks.
bool IsTextByte(unsigned char b) {
  return b >= 0x20 || (b >= 0x09 && b <= 0x0D) || b == 0x1A;
}

std::string HexByte(unsigned char b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[b >> 4], kDigits[b & 0xF], 'h'};
}

// Walks the bytes of the file, remembering only where it stands.
class TextScan {
 public:
  std::optional<std::string> Take(const char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      if (b == '\n' || b == '\r') {
        if (b == '\n') ++line_;
        length_ = 0;
        continue;
      }
      if (!IsTextByte(b)) {
        return "line " + std::to_string(line_) + " holds the byte " + HexByte(b) +
               ", which is not text";
      }
      if (++length_ > kMaxSettingsLine) {
        return "line " + std::to_string(line_) + " is longer than " +
               std::to_string(kMaxSettingsLine) + " bytes";
      }
    }
    return std::nullopt;
  }

 private:
  std::size_t line_ = 1;
  std::size_t length_ = 0;
};

}  // namespace

std::optional<std::string> SettingsFileProblem(const std::string& path) {
  const fs::path file = Utf8ToPath(path);
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  if (error) return error.message();
  if (fs::is_directory(status)) return std::make_error_code(std::errc::is_a_directory).message();
  // Not opened at all: a pipe would hold the start-up, a device may never end.
  if (!fs::is_regular_file(status)) return "not a plain file";
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in) return errno != 0 ? std::generic_category().message(errno) : "cannot be opened";
  TextScan scan;
  std::vector<char> chunk(1 << 16);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    if (auto problem = scan.Take(chunk.data(), static_cast<std::size_t>(in.gcount()))) {
      return problem;
    }
  }
  if (in.bad()) return "cannot be read";
  return std::nullopt;
}

}  // namespace zelmo

#include "ini/settings_file_check.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "ini/profile_file.h"
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

// Walks the characters of the file, remembering only where it stands. A character is a byte, or
// a code unit of a UTF-16 file.
class TextScan {
 public:
  explicit TextScan(const char* what) : what_(what) {}

  std::optional<std::string> Take(char16_t c) {
    if (c == '\n' || c == '\r') {
      if (c == '\n') ++line_;
      length_ = 0;
      return std::nullopt;
    }
    if (c < 0x100 && !IsTextByte(static_cast<unsigned char>(c))) {
      return "line " + std::to_string(line_) + " holds the " + what_ + " " +
             HexByte(static_cast<unsigned char>(c)) + ", which is not text";
    }
    if (++length_ > kMaxSettingsLine) {
      return "line " + std::to_string(line_) + " is longer than " +
             std::to_string(kMaxSettingsLine) + " " + what_ + "s";
    }
    return std::nullopt;
  }

 private:
  const char* what_;
  std::size_t line_ = 1;
  std::size_t length_ = 0;
};

// The file's characters, a chunk of bytes at a time: bytes of code page 1251, or behind the byte
// order mark code units of UTF-16 LE, the two encodings the profile functions read.
class CharacterScan {
 public:
  std::optional<std::string> Take(std::string_view bytes) {
    if (first_) {
      first_ = false;
      utf16_ = bytes.starts_with(kUtf16Bom);
      if (utf16_) bytes.remove_prefix(kUtf16Bom.size());
    }
    for (const char b : bytes) {
      if (!utf16_) {
        if (auto problem = bytes_.Take(static_cast<unsigned char>(b))) return problem;
        continue;
      }
      if (!low_) {
        low_ = static_cast<unsigned char>(b);
        continue;
      }
      const auto unit = static_cast<char16_t>(*low_ | static_cast<unsigned char>(b) << 8);
      low_.reset();
      if (auto problem = units_.Take(unit)) return problem;
    }
    return std::nullopt;
  }

  std::optional<std::string> Finish() const {
    if (low_) return "it ends in half a UTF-16 character";
    return std::nullopt;
  }

 private:
  bool first_ = true;
  bool utf16_ = false;
  std::optional<unsigned char> low_;  // the first byte of a code unit not read whole yet
  TextScan bytes_{"byte"};
  TextScan units_{"character"};
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
  CharacterScan scan;
  std::vector<char> chunk(1 << 16);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    if (auto problem = scan.Take({chunk.data(), static_cast<std::size_t>(in.gcount())})) {
      return problem;
    }
  }
  if (in.bad()) return "cannot be read";
  return scan.Finish();
}

}  // namespace zelmo

// Settings files as Notepad saves them in "Unicode", for the tests: UTF-16 LE behind its byte
// order mark.
#pragma once

#include <string>
#include <string_view>

namespace zelmo {

inline std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

}  // namespace zelmo

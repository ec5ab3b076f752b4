// A settings file in either of the two encodings the Windows profile functions read: the ANSI
// code page, byte for byte, or UTF-16 LE behind its byte order mark (what Notepad saves as
// "Unicode"), whose characters the narrow functions hand over in the ANSI code page. The engine
// reads one byte a character either way; its edit goes back into the file in the file's own
// encoding, and every character it did not touch stays as it was, those that have no code in the
// code page included.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ini/profile_engine.h"

namespace zelmo {

inline constexpr std::string_view kUtf16Bom = "\xFF\xFE";

class ProfileFile {
 public:
  explicit ProfileFile(std::string bytes);

  bool utf16() const { return utf16_; }

  // The text for the engine: code page 1251, one byte a character; "?" stands for a character
  // that has no code in it, as the narrow functions give it.
  const std::string& text() const { return text_; }

  // The file's bytes with `edit` (of text()) made in them, in the file's encoding.
  std::string Edited(const TextEdit& edit) const;

 private:
  bool utf16_ = false;
  std::string bytes_;  // UTF-16 only: the file as it is
  std::string text_;
  // UTF-16 only: where each character of text_ starts in bytes_, and then where the last ends.
  // A byte left over at the end (half a code unit) stays behind them all.
  std::vector<std::size_t> starts_;
};

}  // namespace zelmo

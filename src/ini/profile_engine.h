// Our private-profile engine: the rules of the Windows private-profile functions applied to the
// text of one INI file (code page 1251 bytes), for platforms that have no such functions.
//
// The file's rules, as the Windows functions read it:
// - A line ends at CR LF, LF or a lone CR; the last line may have no line end.
// - "[name]" starts a section (text after the last "]" is ignored). Lines before the first
//   section header belong to a section without a name, reached with the empty section name.
// - Every other line that is not blank is a key. "name=value": the first "=" splits it. A line
//   without "=" is a key without a value: it reads as missing and hides any later key of its
//   name. A line starting with ";" is a key like any other (";k=1" is the key ";k"). Neither of
//   these two is ever listed, but both are found, written and deleted by name.
// - Blanks around section names, key names and values in the file do not count (space, tab, CR,
//   LF, VT, FF and the DOS end-of-file byte 1Ah). Names compare without regard to letter case,
//   Cyrillic included. A NUL byte ends a name or a value, as in a C string.
// - Names asked for: a lookup drops the blanks around them, a list read and a delete take them as
//   given, a set drops them and the blanks before the value (those after it are written).
// - Of two sections of one name, lookups, writes and section deletes use the first; a key delete
//   looks into each in turn; both are listed. Of two keys of one name the first counts.
// - One pair of quotes (" or ') around a value is removed when it is read.
// Writes change only the lines they concern, every other byte stays as it was; the lines we add
// end with CR LF, and a new section follows the last line without a blank line before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zelmo {

// One change of the text: `removed` bytes at `at` replaced by `inserted`. Every write is one
// such change, so that it can be made in a file of another encoding too.
struct TextEdit {
  size_t at = 0;
  size_t removed = 0;
  std::string inserted;
};

class ProfileText {
 public:
  explicit ProfileText(std::string bytes) : bytes_(std::move(bytes)) {}

  const std::string& bytes() const { return bytes_; }

  // GetPrivateProfileString: a value, the key names of a section (key null) or the section names
  // (section null), with the buffer, cut and result rules of ProfileStore::GetString.
  uint32_t GetString(const char* section, const char* key, const char* defaultText,
                     std::span<char> buffer) const;

  // GetPrivateProfileInt, with the number rules of ProfileStore::GetInt.
  uint32_t GetInt(const char* section, const char* key, int32_t defaultNumber) const;

  // WritePrivateProfileString without the flush form: sets a key (text given), deletes a key
  // (text null) or deletes a section (key null). `done` is the call's result; `changed` tells
  // whether bytes() differs and must be written back, and `edit` is that difference.
  struct WriteResult {
    bool done = false;
    bool changed = false;
    TextEdit edit;
  };
  WriteResult Write(const char* section, const char* key, const char* text);

 private:
  std::optional<TextEdit> SetValue(std::string_view section, std::string_view key,
                                   std::string_view value) const;
  std::optional<TextEdit> DeleteKey(std::string_view section, std::string_view key) const;
  std::optional<TextEdit> DeleteSection(std::string_view section) const;
  WriteResult Apply(std::optional<TextEdit> edit);

  std::string bytes_;
};

}  // namespace zelmo

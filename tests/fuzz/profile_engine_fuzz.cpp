// Any INI file bytes: reads, lists, a save and a delete run cleanly, and after each write every key
// it did not touch reads back the same. The same text saved as UTF-16 gets the same edit, in
// UTF-16.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ini/profile_engine.h"
#include "ini/profile_file.h"
#include "text/cp1251.h"

namespace {

using Names = std::vector<std::string>;

Names List(const zelmo::ProfileText& text, const char* section) {
  std::vector<char> buffer(8192);
  const uint32_t n = text.GetString(section, nullptr, "", buffer);
  if (n > buffer.size()) std::abort();
  Names names;
  std::string current;
  for (uint32_t i = 0; i < n; ++i) {
    if (buffer[i] == '\0') {
      names.push_back(std::exchange(current, std::string()));
    } else {
      current += buffer[i];
    }
  }
  return names;
}

std::string Value(const zelmo::ProfileText& text, const std::string& section,
                  const std::string& key) {
  std::vector<char> buffer(255);
  const uint32_t n = text.GetString(section.c_str(), key.c_str(), "", buffer);
  if (n > 254 || buffer[n] != '\0') std::abort();
  return std::string(buffer.data(), n);
}

using Snapshot = std::map<std::pair<std::string, std::string>, std::string>;

Snapshot Read(const zelmo::ProfileText& text) {
  Snapshot values;
  Names sections = List(text, nullptr);
  if (sections.size() > 40) sections.resize(40);
  for (const std::string& section : sections) {
    Names keys = List(text, section.c_str());
    if (keys.size() > 40) keys.resize(40);
    for (const std::string& key : keys) values[{section, key}] = Value(text, section, key);
  }
  return values;
}

// Names as lookups see them: blanks around them do not count, nor does letter case.
std::string Trimmed(const std::string& s) {
  const char* blanks = " \t\r\n\v\f\x1a";
  const std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

bool SameName(const std::string& rawA, const std::string& rawB) {
  const std::string a = Trimmed(rawA), b = Trimmed(rawB);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    // Latin and the Cyrillic block of code page 1251; the rarer letters above 7Fh are let pass.
    const auto lower = [](unsigned char c) {
      return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF) ? c + 32 : c;
    };
    const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (lower(ca) != lower(cb) && !(ca >= 0x80 && ca < 0xC0 && cb >= 0x80 && cb < 0xC0)) {
      return false;
    }
  }
  return true;
}

// Every key but `key` of `section` (every key of it, when `key` is null) reads as in `before`.
void CheckUntouched(const zelmo::ProfileText& text, const Snapshot& before,
                    const std::string& section, const std::string* key) {
  for (const auto& [name, value] : before) {
    if (SameName(name.first, section) && (!key || SameName(name.second, *key))) continue;
    if (Value(text, name.first, name.second) != value) std::abort();
  }
}

// The code page 1251 text as a UTF-16 LE file with its byte order mark.
std::string Utf16(const std::string& ansi) {
  std::string bytes(zelmo::kUtf16Bom);
  for (const char c : ansi) {
    const char32_t unit = zelmo::AnsiToCodePoint(static_cast<unsigned char>(c));
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// A write made in a UTF-16 file gives the UTF-16 form of what it gives in a 1251 file.
void CheckUtf16Write(const std::string& ansi, const char* section, const char* key,
                     const char* value) {
  if (std::string_view(ansi).starts_with(zelmo::kUtf16Bom)) return;  // UTF-16 itself
  const zelmo::ProfileFile file(Utf16(ansi));
  if (file.text() != ansi) std::abort();
  zelmo::ProfileText text(ansi);
  const auto result = text.Write(section, key, value);
  if (!result.changed) return;
  if (zelmo::ProfileFile(ansi).Edited(result.edit) != text.bytes()) std::abort();
  if (file.Edited(result.edit) != Utf16(text.bytes())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckUtf16Write(bytes, "Parametri", "Seriska", "1");
  CheckUtf16Write(bytes, "\xCD\xEE\xE2", "k", "v");  // "Нов"
  zelmo::ProfileText text(bytes);
  Snapshot before = Read(text);
  text.GetInt("Parametri", "Seriska", -1);

  // The one write start-up makes: putting the port number right.
  const std::string key = "Seriska";
  text.Write("Parametri", key.c_str(), "1");
  if (Value(text, "Parametri", key) != "1") std::abort();
  CheckUntouched(text, before, "Parametri", &key);

  // A section deleted: nothing outside it changes.
  before = Read(text);
  if (!before.empty()) {
    const std::string victim = before.rbegin()->first.first;
    text.Write(victim.c_str(), nullptr, nullptr);
    CheckUntouched(text, before, victim, nullptr);
  }
  return 0;
}

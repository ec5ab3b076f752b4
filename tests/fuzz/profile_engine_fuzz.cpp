// Any INI file bytes: reads, lists, a save and a delete run cleanly, and after each write every key
// it did not touch reads back the same.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ini/profile_engine.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zelmo::ProfileText text(std::string(reinterpret_cast<const char*>(data), size));
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

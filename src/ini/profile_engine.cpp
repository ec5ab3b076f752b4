#include "ini/profile_engine.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <utility>

namespace zelmo {
namespace {

bool IsBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0d) || u == 0x1a || u == ' ';
}

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view CutAtNul(std::string_view s) {
  return s.substr(0, s.find('\0'));
}

// Lower case of every byte of code page 1251: Latin, Russian and the letters of the other
// Cyrillic alphabets (Ѓ Ѕ Ј Љ Њ Ќ Џ for Macedonian among them).
constexpr std::array<unsigned char, 256> MakeLowerCase() {
  std::array<unsigned char, 256> lower{};
  for (int c = 0; c < 256; ++c) lower[c] = static_cast<unsigned char>(c);
  for (int c = 'A'; c <= 'Z'; ++c) lower[c] = static_cast<unsigned char>(c + 0x20);
  for (int c = 0xC0; c <= 0xDF; ++c) lower[c] = static_cast<unsigned char>(c + 0x20);
  constexpr std::pair<int, int> kPairs[] = {
      {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
      {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
      {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
  };
  for (const auto& [upper, small] : kPairs) lower[upper] = static_cast<unsigned char>(small);
  return lower;
}
constexpr auto kLowerCase = MakeLowerCase();

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return kLowerCase[static_cast<unsigned char>(x)] ==
                  kLowerCase[static_cast<unsigned char>(y)];
         });
}

enum class LineKind { kBlank, kSection, kKey };

// One line of the file, as offsets into its text plus what it means.
struct Line {
  size_t begin = 0;
  size_t contentEnd = 0;  // before the line break
  size_t end = 0;         // after the line break
  LineKind kind = LineKind::kBlank;
  std::string_view name;   // sections and keys
  std::string_view value;  // keys
  bool hasValue = false;   // keys: the line has an "="
  size_t nameEnd = 0;      // keys: just after the name
  size_t valueBegin = 0;   // keys with a value: the first byte after "=" and its blanks
};

size_t LineBreakLength(std::string_view text, size_t at) {
  if (at >= text.size()) return 0;
  return text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
}

size_t OffsetOf(std::string_view text, std::string_view part) {
  return static_cast<size_t>(part.data() - text.data());
}

// Any line that is neither blank nor a header is a key, comments included: "k" alone is a key
// without a value, ";k=1" a key named ";k". Lists leave both out, but they can be asked for,
// written and deleted by name.
void ParseContent(std::string_view text, Line& line) {
  const std::string_view content = Trim(text.substr(line.begin, line.contentEnd - line.begin));
  if (content.empty()) return;
  const size_t close = content.rfind(']');
  if (content.front() == '[' && close != std::string_view::npos) {
    line.kind = LineKind::kSection;
    line.name = CutAtNul(Trim(content.substr(1, close - 1)));
    return;
  }
  line.kind = LineKind::kKey;
  const size_t equals = content.find('=');
  line.name = CutAtNul(Trim(content.substr(0, equals)));
  line.nameEnd = OffsetOf(text, line.name) + line.name.size();
  if (equals == std::string_view::npos) return;
  const std::string_view value = TrimLeft(content.substr(equals + 1));
  line.hasValue = true;
  line.value = CutAtNul(value);
  line.valueBegin = OffsetOf(text, value);
}

// Where the line starting at `begin` ends, before its line break. A plain loop: find_first_of
// calls memchr over its set for every byte, and this runs over every line of the file on each
// lookup.
size_t ContentEnd(std::string_view text, size_t begin) {
  size_t end = begin;
  while (end < text.size() && !IsLineBreak(text[end])) ++end;
  return end;
}

// The line's extent only; its content is not looked at and its kind is left blank.
Line LineBounds(std::string_view text, size_t begin) {
  Line line;
  line.begin = begin;
  line.contentEnd = ContentEnd(text, begin);
  line.end = line.contentEnd + LineBreakLength(text, line.contentEnd);
  return line;
}

Line ParseLine(std::string_view text, size_t begin) {
  Line line = LineBounds(text, begin);
  ParseContent(text, line);
  return line;
}

// Only a line whose first byte after its blanks is "[" can be a section header.
bool MayStartSection(std::string_view text, size_t begin) {
  while (begin < text.size() && IsBlank(text[begin]) && !IsLineBreak(text[begin])) ++begin;
  return begin < text.size() && text[begin] == '[';
}

// A section from its header to the next header. The lines before the first header form one
// without a name and without a header.
struct SectionSpan {
  std::string_view name;
  size_t begin = 0;
  size_t bodyBegin = 0;
  size_t end = 0;
};

// Calls visit(span) for each section in file order until it returns false.
template <typename Visit>
void ForEachSection(std::string_view text, Visit&& visit) {
  SectionSpan current;
  for (size_t at = 0; at < text.size();) {
    // Looking for headers only: the other lines are stepped over unparsed.
    const Line line = MayStartSection(text, at) ? ParseLine(text, at) : LineBounds(text, at);
    if (line.kind == LineKind::kSection) {
      current.end = line.begin;
      if (!visit(current)) return;
      current = SectionSpan{line.name, line.begin, line.end, 0};
    }
    at = line.end;
  }
  current.end = text.size();
  visit(current);
}

// Calls visit(line) for each line of the section's body until it returns false.
template <typename Visit>
void ForEachBodyLine(std::string_view text, const SectionSpan& span, Visit&& visit) {
  for (size_t at = span.bodyBegin; at < span.end;) {
    const Line line = ParseLine(text, at);
    if (!visit(line)) return;
    at = line.end;
  }
}

std::optional<SectionSpan> FindSection(std::string_view text, std::string_view name) {
  std::optional<SectionSpan> found;
  ForEachSection(text, [&](const SectionSpan& span) {
    if (SameName(span.name, name)) found = span;
    return !found;
  });
  return found;
}

std::optional<Line> FindKey(std::string_view text, const SectionSpan& span, std::string_view key) {
  std::optional<Line> found;
  ForEachBodyLine(text, span, [&](const Line& line) {
    if (line.kind == LineKind::kKey && SameName(line.name, key)) found = line;
    return !found;
  });
  return found;
}

// Where a new key of the section goes: after its last line that is not blank, so that the blank
// lines before the next section stay where they are.
size_t EndOfEntries(std::string_view text, const SectionSpan& span) {
  size_t end = span.bodyBegin;
  ForEachBodyLine(text, span, [&](const Line& line) {
    if (line.kind != LineKind::kBlank) end = line.end;
    return true;
  });
  return end;
}

// Names into a caller's buffer as the Windows list forms place them: each with one NUL, the
// list closed by one more. A name that does not fit whole, with room for the closing NUL, is
// cut; the result is then size - 2 and the cut name has no NUL within it.
class NameList {
 public:
  explicit NameList(std::span<char> buffer) : buffer_(buffer) {}

  // False once the list is cut; no more names go in then.
  bool Add(std::string_view name) {
    const size_t room = buffer_.size() - 2 - used_;
    if (name.size() + 1 <= room) {
      Copy(name);
      buffer_[used_++] = '\0';
      return true;
    }
    Copy(name.substr(0, room));
    buffer_[buffer_.size() - 2] = '\0';
    buffer_[buffer_.size() - 1] = '\0';
    cut_ = true;
    return false;
  }

  uint32_t Finish() {
    if (cut_) return static_cast<uint32_t>(buffer_.size() - 2);
    buffer_[used_] = '\0';
    return static_cast<uint32_t>(used_);
  }

 private:
  void Copy(std::string_view part) {
    std::memcpy(buffer_.data() + used_, part.data(), part.size());
    used_ += part.size();
  }

  std::span<char> buffer_;
  size_t used_ = 0;
  bool cut_ = false;
};

uint32_t ListSectionNames(std::string_view text, std::span<char> buffer) {
  NameList list(buffer);
  ForEachSection(text,
                 [&](const SectionSpan& span) { return span.name.empty() || list.Add(span.name); });
  return list.Finish();
}

// Keys without a value and comments are keys that are never listed.
bool IsListed(const Line& line) {
  return line.kind == LineKind::kKey && line.hasValue && !line.name.starts_with(';');
}

uint32_t ListKeyNames(std::string_view text, std::string_view section, std::span<char> buffer) {
  NameList list(buffer);
  if (const auto span = FindSection(text, section)) {
    ForEachBodyLine(text, *span,
                    [&](const Line& line) { return !IsListed(line) || list.Add(line.name); });
  }
  return list.Finish();
}

std::string_view Unquoted(std::string_view value) {
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  return quoted ? value.substr(1, value.size() - 2) : value;
}

uint32_t CopyValue(std::string_view value, std::span<char> buffer) {
  value = Unquoted(value);
  const size_t n = std::min(value.size(), buffer.size() - 1);
  std::memcpy(buffer.data(), value.data(), n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

// Trailing spaces of a default text are dropped, all but its first character.
std::string_view WithoutTrailingSpaces(std::string_view text) {
  while (text.size() > 1 && text.back() == ' ') text.remove_suffix(1);
  return text;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return -1;
}

// Leading digits as a number: a sign, then "0x", "0o" or "0b" for another base; it stops at
// the first character that is not a digit and wraps at 32 bits, as Windows reads them.
uint32_t LeadingNumber(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  const bool minus = !s.empty() && s.front() == '-';
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
  int base = 10;
  if (s.size() >= 2 && s[0] == '0') {
    if (s[1] == 'x') base = 16;
    if (s[1] == 'o') base = 8;
    if (s[1] == 'b') base = 2;
    if (base != 10) s.remove_prefix(2);
  }
  uint32_t total = 0;
  for (const char c : s) {
    const int digit = DigitValue(c);
    if (digit < 0 || digit >= base) break;
    total = total * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  }
  return minus ? 0u - total : total;
}

std::string KeyLine(std::string_view key, std::string_view value) {
  std::string line(key);
  line += '=';
  line += value;
  return line;
}

// The key's line keeps its name as the file spells it; only what follows the name changes.
std::optional<TextEdit> SetInLine(std::string_view bytes, const Line& line,
                                  std::string_view value) {
  if (!line.hasValue) {
    return TextEdit{line.nameEnd, line.contentEnd - line.nameEnd, "=" + std::string(value)};
  }
  const size_t length = line.contentEnd - line.valueBegin;
  if (line.value == value || bytes.substr(line.valueBegin, length) == value) return std::nullopt;
  return TextEdit{line.valueBegin, length, std::string(value)};
}

}  // namespace

uint32_t ProfileText::GetString(const char* section, const char* key, const char* defaultText,
                                std::span<char> buffer) const {
  if (buffer.empty()) return 0;
  const std::string_view fallback = defaultText ? defaultText : "";
  if (buffer.size() == 1) return CopyValue("", buffer);
  if (!section) return ListSectionNames(bytes_, buffer);
  if (!key) {
    // The section of a list read is taken as given: blanks around it are part of the name.
    const uint32_t n = ListKeyNames(bytes_, section, buffer);
    return buffer[0] == '\0' ? CopyValue(fallback, buffer) : n;
  }
  std::optional<Line> found;
  if (const auto span = FindSection(bytes_, Trim(section)))
    found = FindKey(bytes_, *span, Trim(key));
  // A key without a value reads as a missing one, and hides any later key of its name.
  const bool hasValue = found && found->hasValue;
  return CopyValue(hasValue ? found->value : WithoutTrailingSpaces(fallback), buffer);
}

uint32_t ProfileText::GetInt(const char* section, const char* key, int32_t defaultNumber) const {
  std::array<char, 30> digits{};
  if (GetString(section, key, "", digits) == 0 || digits[0] == '\0') {
    return static_cast<uint32_t>(defaultNumber);
  }
  return LeadingNumber(digits.data());
}

ProfileText::WriteResult ProfileText::Write(const char* section, const char* key,
                                            const char* text) {
  if (!section) return {};
  // Deletes take the names as given; a set drops the blanks around the names and those before
  // the value, and keeps those after it.
  if (!key) return Apply(DeleteSection(section));
  if (!text) return Apply(DeleteKey(section, key));
  return Apply(SetValue(Trim(section), Trim(key), TrimLeft(text)));
}

ProfileText::WriteResult ProfileText::Apply(std::optional<TextEdit> edit) {
  if (!edit) return {true, false, {}};
  bytes_.replace(edit->at, edit->removed, edit->inserted);
  return {true, true, std::move(*edit)};
}

std::optional<TextEdit> ProfileText::SetValue(std::string_view section, std::string_view key,
                                              std::string_view value) const {
  const auto span = FindSection(bytes_, section);
  if (!span) {
    // A line end first only where the last line has none; no blank line before the header.
    std::string added = bytes_.empty() || IsLineBreak(bytes_.back()) ? "" : "\r\n";
    added += '[';
    added += section;
    added += "]\r\n" + KeyLine(key, value) + "\r\n";
    return TextEdit{bytes_.size(), 0, std::move(added)};
  }
  if (const auto line = FindKey(bytes_, *span, key)) return SetInLine(bytes_, *line, value);
  const size_t at = EndOfEntries(bytes_, *span);
  const bool lineOpen = at > 0 && !IsLineBreak(bytes_[at - 1]);
  return TextEdit{at, 0, (lineOpen ? "\r\n" : "") + KeyLine(key, value) + "\r\n"};
}

std::optional<TextEdit> ProfileText::DeleteKey(std::string_view section,
                                               std::string_view key) const {
  // Unlike a lookup, a delete looks into every section of that name.
  std::optional<Line> found;
  ForEachSection(bytes_, [&](const SectionSpan& span) {
    if (SameName(span.name, section)) found = FindKey(bytes_, span, key);
    return !found;
  });
  if (!found) return std::nullopt;
  return TextEdit{found->begin, found->end - found->begin, ""};
}

std::optional<TextEdit> ProfileText::DeleteSection(std::string_view section) const {
  const auto span = FindSection(bytes_, section);
  if (!span || span->end == span->begin) return std::nullopt;
  return TextEdit{span->begin, span->end - span->begin, ""};
}

}  // namespace zelmo

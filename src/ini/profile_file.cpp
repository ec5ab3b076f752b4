#include "ini/profile_file.h"

#include <utility>

#include "text/cp1251.h"

namespace zelmo {
namespace {

char16_t UnitAt(std::string_view bytes, std::size_t at) {
  return static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                               static_cast<unsigned char>(bytes[at + 1]) << 8);
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUnit(std::string& out, char16_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

// Code page 1251 text in UTF-16 LE; every character of 1251 is a single code unit.
std::string ToUtf16(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() * 2);
  for (const char c : ansi) {
    AppendUnit(out, static_cast<char16_t>(AnsiToCodePoint(static_cast<unsigned char>(c))));
  }
  return out;
}

}  // namespace

ProfileFile::ProfileFile(std::string bytes) {
  utf16_ = std::string_view(bytes).starts_with(kUtf16Bom);
  if (!utf16_) {
    text_ = std::move(bytes);
    return;
  }
  bytes_ = std::move(bytes);
  const std::size_t end = bytes_.size() - (bytes_.size() % 2);
  std::size_t at = kUtf16Bom.size();
  while (at < end) {
    starts_.push_back(at);
    const char16_t unit = UnitAt(bytes_, at);
    at += 2;
    // A pair of surrogates is one character; one standing alone has no code anywhere.
    if (IsHighSurrogate(unit) && at < end && IsLowSurrogate(UnitAt(bytes_, at))) {
      at += 2;
      text_ += '?';
      continue;
    }
    const int ansi = IsHighSurrogate(unit) || IsLowSurrogate(unit) ? -1 : CodePointToAnsi(unit);
    text_ += ansi < 0 ? '?' : static_cast<char>(ansi);
  }
  starts_.push_back(at);
}

std::string ProfileFile::Edited(const TextEdit& edit) const {
  if (!utf16_) {
    std::string text = text_;
    text.replace(edit.at, edit.removed, edit.inserted);
    return text;
  }
  const std::size_t from = starts_[edit.at];
  const std::size_t to = starts_[edit.at + edit.removed];
  std::string bytes = bytes_;
  bytes.replace(from, to - from, ToUtf16(edit.inserted));
  return bytes;
}

}  // namespace zelmo

#include "text/cp1251.h"

#include <array>
#include <cstdint>

namespace zelmo {
namespace {

// Code points of the bytes 80h to BFh; C0h to FFh are U+0410 to U+044F in order.
constexpr std::array<char16_t, 64> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char32_t ByteToCodePoint(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return 0x0410 + (b - 0xC0);
  return kHighHalf[b - 0x80];
}

int CodePointToByte(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(0xC0 + (cp - 0x0410));
  for (std::size_t i = 0; i < kHighHalf.size(); ++i) {
    if (kHighHalf[i] == cp) return static_cast<int>(0x80 + i);
  }
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at `pos`; returns its length, or 0 when it is malformed.
std::size_t DecodeOne(std::string_view s, std::size_t pos, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

char32_t AnsiToCodePoint(unsigned char byte) {
  return ByteToCodePoint(byte);
}

int CodePointToAnsi(char32_t codePoint) {
  return CodePointToByte(codePoint);
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeOne(utf8, pos, cp);
    if (len == 0) {
      out += '?';
      ++pos;
      continue;
    }
    const int b = CodePointToByte(cp);
    out += b < 0 ? '?' : static_cast<char>(b);
    pos += len;
  }
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() * 2);
  for (const char c : ansi) AppendUtf8(out, ByteToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeOne(bytes, pos, cp);
    if (len == 0) return false;
    pos += len;
  }
  return true;
}

std::size_t Utf8Length(std::string_view utf8) {
  std::size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string Utf8Prefix(std::string_view utf8, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t seen = 0; pos < utf8.size(); ++pos) {
    if ((static_cast<unsigned char>(utf8[pos]) & 0xC0) != 0x80 && seen++ == count) break;
  }
  return std::string(utf8.substr(0, pos));
}

std::string Utf8UpperChar(std::string_view oneChar) {
  char32_t cp = 0;
  if (oneChar.empty() || DecodeOne(oneChar, 0, cp) == 0) return std::string(oneChar);
  if (cp >= 'a' && cp <= 'z') {
    cp -= 0x20;
  } else if (cp >= 0x0430 && cp <= 0x044F) {
    cp -= 0x20;
  } else if (cp >= 0x0450 && cp <= 0x045F) {
    cp -= 0x50;
  } else if (cp == 0x0491) {
    cp = 0x0490;
  }
  std::string out;
  AppendUtf8(out, cp);
  return out;
}

}  // namespace zelmo

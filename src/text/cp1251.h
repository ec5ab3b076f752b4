// The one codec between text in memory (UTF-8) and the bytes the register, the receipt file and
// the configuration file carry (Windows code page 1251, Cyrillic).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelmo {

// UTF-8 to code page 1251. A character with no code in 1251 (or a malformed UTF-8 sequence)
// becomes "?", so that every character is still exactly one byte on the line.
std::string Utf8ToAnsi(std::string_view utf8);

// Code page 1251 to UTF-8. Every byte has a character; the one unassigned byte (98h) maps to
// U+0098 so that a round trip gives the same byte back.
std::string AnsiToUtf8(std::string_view ansi);

// One character at a time, for other encodings of the same text: the character of a byte, and
// the byte of a character, or -1 when code page 1251 has none for it.
char32_t AnsiToCodePoint(unsigned char byte);
int CodePointToAnsi(char32_t codePoint);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Number of characters (code points) in well-formed UTF-8.
std::size_t Utf8Length(std::string_view utf8);

// The first `count` characters of well-formed UTF-8 text.
std::string Utf8Prefix(std::string_view utf8, std::size_t count);

// Upper-case of one character for the letters the receipt's tax group may hold (Latin and
// Cyrillic); other characters come back unchanged.
std::string Utf8UpperChar(std::string_view oneChar);

}  // namespace zelmo

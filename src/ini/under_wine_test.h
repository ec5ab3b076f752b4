// Whether the tests run under Wine, whose kernel32 stands in for the Windows one in our Windows
// tests. Wine's private-profile functions differ from Windows' on a few points (letter case of
// Cyrillic names, a whole-file rewrite on every write); tests of those points skip under it.
#pragma once

namespace zelmo {

bool UnderWine();

// The system's ANSI code page, in which the narrow profile functions hand over the characters of
// a UTF-16 file: 1251 for our own engine.
unsigned AnsiCodePage();

}  // namespace zelmo

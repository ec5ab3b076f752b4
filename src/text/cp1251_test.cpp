#include "text/cp1251.h"

#include <gtest/gtest.h>

namespace zelmo {
namespace {

TEST(Cp1251, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = AnsiToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8ToAnsi(utf8), all);
}

TEST(Cp1251, CyrillicAndPunctuationMapToTheirCodes) {
  EXPECT_EQ(Utf8ToAnsi("Млеко"), "\xCC\xEB\xE5\xEA\xEE");
  EXPECT_EQ(Utf8ToAnsi("ЃѓЌќЅѕЉљЊњЏџЈј"), "\x81\x83\x8D\x9D\xBD\xBE\x8A\x9A\x8C\x9C\x8F\x9F\xA3\xBC");
  EXPECT_EQ(Utf8ToAnsi("€№"), "\x88\xB9");
  EXPECT_EQ(AnsiToUtf8("\xC0\xFF\xA8\xB8"), "АяЁё");
}

TEST(Cp1251, CharactersWithoutACodeBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToAnsi("a€b"), "a\x88" "b");
  EXPECT_EQ(Utf8ToAnsi("ü漢😀"), "???");
  EXPECT_EQ(Utf8ToAnsi("a\xFF" "b"), "a?b");     // malformed byte
  EXPECT_EQ(Utf8ToAnsi("\xD0"), "?");            // cut sequence
  EXPECT_EQ(Utf8ToAnsi("\xC0\x80"), "??");       // overlong NUL
}

TEST(Cp1251, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("Шеќер 1кг"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("abc\x80"));
}

TEST(Cp1251, PrefixAndLengthCountCharactersNotBytes) {
  EXPECT_EQ(Utf8Length("Млеко"), 5u);
  EXPECT_EQ(Utf8Prefix("Млеко", 3), "Мле");
  EXPECT_EQ(Utf8Prefix("Млеко", 5), "Млеко");
  EXPECT_EQ(Utf8Prefix("Млеко", 50), "Млеко");
  EXPECT_EQ(Utf8Prefix("Млеко", 0), "");
}

TEST(Cp1251, UpperCaseOfTaxGroupLetters) {
  EXPECT_EQ(Utf8UpperChar("a"), "A");
  EXPECT_EQ(Utf8UpperChar("б"), "Б");
  EXPECT_EQ(Utf8UpperChar("ѓ"), "Ѓ");
  EXPECT_EQ(Utf8UpperChar("B"), "B");
  EXPECT_EQ(Utf8UpperChar("1"), "1");
}

}  // namespace
}  // namespace zelmo

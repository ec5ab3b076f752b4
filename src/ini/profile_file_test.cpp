#include "ini/profile_file.h"

#include <gtest/gtest.h>

#include <string>

#include "ini/utf16_test.h"

namespace zelmo {
namespace {

using namespace std::string_literals;

TEST(ProfileFile, AnsiFilesAreTheirOwnText) {
  const ProfileFile file("[S]\r\nk=\xCC\x98\r\n");
  EXPECT_FALSE(file.utf16());
  EXPECT_EQ(file.text(), "[S]\r\nk=\xCC\x98\r\n");
  EXPECT_EQ(file.Edited({5, 3, "x=1"}), "[S]\r\nx=1\x98\r\n");
  EXPECT_EQ(ProfileFile("\xFF").text(), "\xFF");  // half a mark is 1251 text
}

// One byte of text a character: a pair of surrogates is one "?", and so is one standing alone;
// an edit next to them leaves them as they were, and a byte left over at the end stays last.
TEST(ProfileFile, UnicodeFilesAreEditedInTheirOwnUnits) {
  const std::u16string text = u"a=\U0001F600\xD800Ω\r\nb=Ж\r\n";
  const ProfileFile file(Utf16File(text) + "\x41");
  EXPECT_TRUE(file.utf16());
  EXPECT_EQ(file.text(), "a=???\r\nb=\xC6\r\n");
  // "b=Ж" becomes "b=Л" and a Latin "eb"; the line of a is not touched.
  EXPECT_EQ(file.Edited({9, 1,
                         "\xCB"
                         "eb"}),
            Utf16File(u"a=\U0001F600\xD800Ω\r\nb=Л"
                      u"eb\r\n") +
                "\x41");
  // The second "?" (the lone surrogate) is removed: the pair before it and the Ω after it stay.
  EXPECT_EQ(file.Edited({3, 1, ""}), Utf16File(u"a=\U0001F600Ω\r\nb=Ж\r\n") + "\x41");
  // Appended at the end of the text: before the byte left over.
  EXPECT_EQ(file.Edited({12, 0, "c=1\r\n"}), Utf16File(text + u"c=1\r\n") + "\x41");
  EXPECT_EQ(ProfileFile(Utf16File(u"")).Edited({0, 0, "[S]"}), Utf16File(u"[S]"));
}

}  // namespace
}  // namespace zelmo
